#include "QuilletInput.h"

#include "log/AsyncLog.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "zelvo/paths.h"
#include "zelvo/private_file.h"

#include <random>
#include <stdexcept>

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
    if (!zelvo::removeFile(path))
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
    std::string here = zelvo::canonicalPath(zelvo::folderOf(path)), work = zelvo::canonicalPath(folder);
    bool inFolder = !here.empty() && here == work;
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

std::string readWholeFile(const std::string& path, size_t maxBytes) {
    // Never waits on a FIFO or pipe in the way; a file that grows while it is
    // read is refused too.
    std::string bytes;
    if (!zelvo::readRegularFile(path, maxBytes, bytes)) throw std::runtime_error("file cannot be opened for reading");
    return bytes;
}

std::string writeNewFile(const std::string& folder, size_t count, const char* extension, const std::string& bytes) {
    // Created new, never opened: an existing file or a link of the same name
    // (put there by anyone) is never written through. A name that exists
    // already is drawn again.
    constexpr int kDraws = 1000;
    for (int draw = 0; draw < kDraws; ++draw) {
        std::string path = folder + randomChars(count, kNameChars) + extension;
        unsigned long error = 0;
        switch (zelvo::writeNewPrivateFile(path, bytes, error)) {
            case zelvo::NewFile::written:
                return path;
            case zelvo::NewFile::exists:
                continue;
            case zelvo::NewFile::notCreated:
                throw std::runtime_error("file cannot be opened for writing");
            case zelvo::NewFile::notWritten:
                throw std::runtime_error("el archivo no se puede escribir (error " + std::to_string(error) + ")");
        }
    }
    throw std::runtime_error("no se pudo crear un archivo nuevo en " + folder);
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
