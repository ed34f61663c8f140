#include "QuilletInput.h"

#include "log/AsyncLog.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
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

void writeFiles(QuilletInput& input, const std::string& folder) {
    input.inputFilePath = writeNewFile(folder, 9, ".pdf", input.document);
    QLOG_DEBUG << "writing:" << input.inputFilePath;
    // The document is on disk now: its bytes need not stay in memory while the wrapper runs.
    std::string().swap(input.document);
    if (!input.stampImage.empty()) {
        input.stampImagePath = writeNewFile(folder, 8, ".jpg", input.stampImage);
        QLOG_DEBUG << "writing:" << input.stampImagePath;
    } else {
        QLOG_WARN << "empty stamp image: writing ignored";
    }
}

void cleanFiles(const QuilletInput& input) {
    cleanOne(input.inputFilePath);
    if (!input.stampImagePath.empty()) cleanOne(input.stampImagePath);
}

void cleanSignedFile(const std::string& path, const std::string& folder) {
    // Only what the wrapper wrote beside the run's own files: a path elsewhere
    // may name a document of the user's.
    size_t slash = path.rfind('/');
    char here[PATH_MAX], work[PATH_MAX];
    bool inFolder = slash != std::string::npos && realpath(path.substr(0, slash + 1).c_str(), here) &&
                    realpath(folder.c_str(), work) && std::strcmp(here, work) == 0;
    if (inFolder)
        cleanOne(path);
    else
        QLOG_WARN << "el archivo firmado no está en la carpeta de trabajo; no se elimina:" << path;
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

SignerAnswer parseAnswer(const std::string& out) {
    size_t sep = out.find("::");
    std::string first = out.substr(0, sep);
    if (!first.empty()) return {first, ""};
    if (sep == std::string::npos) return {"Quillet terminó sin indicar el archivo firmado", ""};
    size_t next = out.find("::", sep + 2);
    return {"", out.substr(sep + 2, next == std::string::npos ? std::string::npos : next - sep - 2)};
}

std::string readWholeFile(const std::string& path) {
    // Non-blocking open, so that a FIFO in the way cannot hold the caller.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) ::close(fd);
        throw std::runtime_error("file cannot be opened for reading");
    }
    // The known size in one allocation: a large signed document is never copied
    // to grow its buffer. Only a file that grows meanwhile is read on in chunks.
    std::string bytes(static_cast<size_t>(st.st_size), '\0');
    size_t done = 0;
    char more[4096];
    for (;;) {
        bool inPlace = done < bytes.size();
        ssize_t n = inPlace ? ::read(fd, &bytes[done], bytes.size() - done) : ::read(fd, more, sizeof more);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int err = n < 0 ? errno : 0;
            ::close(fd);
            if (err) throw std::runtime_error("el archivo no se puede leer (errno " + std::to_string(err) + ")");
            break;
        }
        if (inPlace) {
            done += static_cast<size_t>(n);
        } else {
            bytes.append(more, static_cast<size_t>(n));
            done = bytes.size();
        }
    }
    bytes.resize(done);
    return bytes;
}

std::string writeNewFile(const std::string& folder, size_t count, const char* extension, const std::string& bytes) {
    // Created new, never opened: an existing file or a symbolic link of the same
    // name (put there by anyone) is never written through. A name that exists
    // already is drawn again.
    constexpr int kDraws = 1000;
    std::string path;
    int fd = -1;
    for (int draw = 0; draw < kDraws && fd < 0; ++draw) {
        path = folder + randomChars(count, kNameChars) + extension;
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0 && errno != EEXIST) throw std::runtime_error("file cannot be opened for writing");
    }
    if (fd < 0) throw std::runtime_error("no se pudo crear un archivo nuevo en " + folder);
    size_t done = 0;
    int err = 0;
    while (done < bytes.size() && err == 0) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) err = n < 0 ? errno : ENOSPC;
        else done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err != 0) {
        ::unlink(path.c_str());  // a half-written document is of no use to anyone
        throw std::runtime_error("el archivo no se puede escribir (errno " + std::to_string(err) + ")");
    }
    return path;
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
