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

// Writes the document (then releases its bytes) and, when there is one, the
// stamp image as new files in `folder` (which ends in a separator); sets their paths.
void writeFiles(QuilletInput& input, const std::string& folder);
// Removes the files written; a failure is only logged.
void cleanFiles(const QuilletInput& input);
// Removes the wrapper's signed file once it has been sent, when it lies in the
// run's work `folder`; a failure is only logged.
void cleanSignedFile(const std::string& path, const std::string& folder);
// The compact JSON job for the wrapper's standard input.
std::string jsonInput(const QuilletInput& input);
// {"inputFile":"N bytes","stampImage":"N bytes","inputFilePath":"..."...}, for the log.
std::string describe(const QuilletInput& input);

// The wrapper's answer on standard output: "::" followed by the signed file's
// path (up to a further "::"), or an error text before any "::".
struct SignerAnswer {
    std::string error;       // empty when the wrapper named its signed file
    std::string signedFile;  // the path named, when there is no error
};
SignerAnswer parseAnswer(const std::string& out);

// Whole-file helpers. Only regular files of at most `maxBytes` are read.
std::string readWholeFile(const std::string& path, size_t maxBytes);
// Writes `bytes` to a file created new, private to the user, in `folder`,
// named with `count` random characters and `extension`; its path.
std::string writeNewFile(const std::string& folder, size_t count, const char* extension, const std::string& bytes);
// `count` characters drawn uniformly from `alphabet`.
std::string randomChars(size_t count, const std::string& alphabet);

}  // namespace quillet
