#pragma once
// One signing request (its text part and its file part), the files written for
// it, the JSON job handed to the wrapper and the one-line description for the log.
#include <string>
#include <utility>
#include <vector>

namespace quillet {

struct QuilletInput {
    static constexpr unsigned kTextPart = 1;
    static constexpr unsigned kFilePart = 2;

    unsigned parts = 0;
    std::string document;    // bytes of the binary part
    std::string stampImage;  // decoded "stampImageBase64", grows with each text part
    std::string inputFilePath;
    std::string stampImagePath;
    std::string reason, isSignatureVisible, stampAppearanceId, pageNumber, posx, posy, dcFilter, timestamp, overwrite;

    bool complete() const { return (parts & (kTextPart | kFilePart)) == (kTextPart | kFilePart); }
};

// The option fields with their JSON names, in the order the job lists them.
const std::vector<std::pair<const char*, std::string QuilletInput::*>>& optionFields();

// Takes the members of a text part that are JSON strings and marks the part.
// Throws "message is not a valid JSON string" or "message is not a JSON object".
void takeTextPart(QuilletInput& input, const std::string& text);
// Decodes standard-alphabet base64, skipping every other character (padding and
// line breaks included) and dropping trailing bits that fill no byte.
void appendBase64(std::string& out, const std::string& text);

// Names of the run's files in `folder` (which ends in '/').
void chooseFileNames(QuilletInput& input, const std::string& folder);
// The document always; the stamp image when there is one. Files are 0600.
void writeFiles(const QuilletInput& input);
// Removes the files written; a failure is only logged.
void cleanFiles(const QuilletInput& input);
// The compact JSON job for the wrapper's standard input.
std::string jsonInput(const QuilletInput& input);
// {"inputFile":"N bytes","stampImage":"N bytes","inputFilePath":"..."...}, for the log.
std::string describe(const QuilletInput& input);

// Whole-file helpers. Only regular files are read.
std::string readWholeFile(const std::string& path);
void writeWholeFile(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);
// `count` characters drawn uniformly from `alphabet`.
std::string randomChars(size_t count, const std::string& alphabet);

}  // namespace quillet
