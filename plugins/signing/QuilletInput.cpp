#include "QuilletInput.h"

#include "log/AsyncLog.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cerrno>
#include <fcntl.h>
#include <random>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace quillet {
namespace {

const char* const kNameChars = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

int base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

void cleanOne(const std::string& path) {
    if (::unlink(path.c_str()) != 0)
        QLOG_WARN << "there was a problem deleting:" << path;
    else
        QLOG_DEBUG << "cleaning:" << path;
}

}  // namespace

const std::vector<std::pair<const char*, std::string QuilletInput::*>>& optionFields() {
    static const std::vector<std::pair<const char*, std::string QuilletInput::*>> fields = {
        {"reason", &QuilletInput::reason},
        {"isSignatureVisible", &QuilletInput::isSignatureVisible},
        {"stampAppearanceId", &QuilletInput::stampAppearanceId},
        {"pageNumber", &QuilletInput::pageNumber},
        {"posx", &QuilletInput::posx},
        {"posy", &QuilletInput::posy},
        {"dcFilter", &QuilletInput::dcFilter},
        {"timestamp", &QuilletInput::timestamp},
        {"overwrite", &QuilletInput::overwrite},
    };
    return fields;
}

void takeTextPart(QuilletInput& input, const std::string& text) {
    rapidjson::Document doc;
    // Iterative: a deeply nested text cannot exhaust the stack. UTF-8 is checked,
    // since the values travel on to the wrapper as JSON.
    doc.Parse<rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag>(text.c_str(), text.size());
    if (doc.HasParseError()) throw std::runtime_error("message is not a valid JSON string");
    if (!doc.IsObject()) throw std::runtime_error("message is not a JSON object");
    auto stamp = doc.FindMember("stampImageBase64");
    if (stamp != doc.MemberEnd() && stamp->value.IsString())
        appendBase64(input.stampImage, std::string(stamp->value.GetString(), stamp->value.GetStringLength()));
    for (const auto& [name, field] : optionFields()) {
        auto m = doc.FindMember(name);
        if (m != doc.MemberEnd() && m->value.IsString())
            input.*field = std::string(m->value.GetString(), m->value.GetStringLength());
    }
    input.parts |= QuilletInput::kTextPart;
}

void appendBase64(std::string& out, const std::string& text) {
    unsigned bits = 0;
    int count = 0;
    for (unsigned char c : text) {
        int v = base64Value(c);
        if (v < 0) continue;
        bits = (bits << 6) | static_cast<unsigned>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
}

void chooseFileNames(QuilletInput& input, const std::string& folder) {
    input.inputFilePath = folder + randomChars(9, kNameChars) + ".pdf";
    input.stampImagePath = input.stampImage.empty() ? std::string() : folder + randomChars(8, kNameChars) + ".jpg";
}

void writeFiles(const QuilletInput& input) {
    writeWholeFile(input.inputFilePath, input.document);
    QLOG_DEBUG << "writing:" << input.inputFilePath;
    if (!input.stampImage.empty()) {
        writeWholeFile(input.stampImagePath, input.stampImage);
        QLOG_DEBUG << "writing:" << input.stampImagePath;
    } else {
        QLOG_WARN << "empty stamp image: writing ignored";
    }
}

void cleanFiles(const QuilletInput& input) {
    cleanOne(input.inputFilePath);
    if (!input.stampImagePath.empty()) cleanOne(input.stampImagePath);
}

std::string jsonInput(const QuilletInput& input) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    auto member = [&writer](const char* name, const std::string& value) {
        writer.Key(name);
        writer.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
    };
    writer.StartObject();
    member("inputFilePath", input.inputFilePath);
    if (!input.stampImagePath.empty()) member("stampImagePath", input.stampImagePath);
    for (const auto& [name, field] : optionFields()) member(name, input.*field);
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

std::string describe(const QuilletInput& input) {
    auto pair = [](const char* key, const std::string& value) {
        return std::string("\"") + key + "\":\"" + value + "\"";
    };
    std::string d = "{";
    d += pair("inputFile", std::to_string(input.document.size()) + " bytes");
    d += "," + pair("stampImage", std::to_string(input.stampImage.size()) + " bytes");
    d += "," + pair("inputFilePath", input.inputFilePath);
    d += "," + pair("stampImagePath", input.stampImagePath);
    for (const auto& [name, field] : optionFields()) d += "," + pair(name, input.*field);
    return d + "}";
}

std::string readWholeFile(const std::string& path) {
    // Non-blocking open, so that a FIFO in the way cannot hold the caller.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) ::close(fd);
        throw std::runtime_error("file cannot be opened for reading");
    }
    std::string bytes;
    bytes.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    for (;;) {
        if (done == bytes.size()) bytes.resize(bytes.size() + 65536);
        ssize_t n = ::read(fd, &bytes[done], bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int err = n < 0 ? errno : 0;
            ::close(fd);
            if (err) throw std::runtime_error("el archivo no se puede leer (errno " + std::to_string(err) + ")");
            break;
        }
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

void writeWholeFile(const std::string& path, const std::string& bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) throw std::runtime_error("file cannot be opened for writing");
    fchmod(fd, 0600);
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int err = n < 0 ? errno : ENOSPC;
            ::close(fd);
            throw std::runtime_error("el archivo no se puede escribir (errno " + std::to_string(err) + ")");
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) throw std::runtime_error("el archivo no se puede escribir (errno " + std::to_string(errno) + ")");
}

bool fileExists(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return regular;
}

std::string randomChars(size_t count, const std::string& alphabet) {
    if (alphabet.empty()) throw std::runtime_error("invalid argument for chars: must not be empty");
    std::random_device device;
    std::mt19937 generator(device());
    std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
    std::string out;
    for (size_t i = 0; i < count; ++i) out += alphabet[pick(generator)];
    return out;
}

}  // namespace quillet
