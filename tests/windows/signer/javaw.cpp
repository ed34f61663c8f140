// javaw.exe, the tests' stand-in for the Java runtime running the signing
// application's wrapper on Windows. IT SIGNS NOTHING. It keeps the wrapper's
// contract with the signing plug-in, as the Linux stand-in does:
//   command line  [options] -Dlog4jpath=<folder> -cp "<jars>" tavrel.quillet.wrapper.StandaloneMain
//   input         the JSON job on standard input (an object of strings)
//   output        "::" + the signed file's full path, or an error text; exit code 0
// The signed file is <document name>-firmado.pdf beside the document: the same
// bytes with a plain marker appended (the reason, the stamp image's size, the
// log4jpath property). The job's "reason" chooses the other answers:
//   "salir:N"      ends with exit code N and answers nothing
//   "error:TEXTO"  answers TEXTO
//   "desaparecer"  deletes its output before answering its path
//   "silencio"     answers nothing
//   "stderr:TEXTO" writes TEXTO on standard error, then signs as usual
//   "colgar"       writes "pid N" on standard error, starts a copy of itself
//                  that also never ends (and holds the same streams), writes
//                  "nieto pid M", and never ends: a signer that hangs, with a
//                  child of its own, until it is ended from outside
#include "TestProgram.h"

#include <windows.h>

#include <rapidjson/document.h>

#include <cwchar>
#include <map>
#include <string>
#include <vector>

namespace {

using test_program::utf8;
using test_program::wide;
using test_program::write;

const char kMainClass[] = "tavrel.quillet.wrapper.StandaloneMain";
const char kMarker[] = "% ZELVO STAND-IN SIGNER: NOT A SIGNATURE";

std::string readAll(HANDLE handle) {
    std::string out;
    char buffer[8192];
    DWORD n = 0;
    while (ReadFile(handle, buffer, sizeof buffer, &n, nullptr) && n > 0) out.append(buffer, n);
    return out;
}

bool readFile(const std::string& path, std::string& out) {
    HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    out = readAll(file);
    CloseHandle(file);
    return true;
}

bool writeFile(const std::string& path, const std::string& bytes) {
    HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    CloseHandle(file);
    return ok;
}

bool isFile(const std::string& path) {
    DWORD a = GetFileAttributesW(wide(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string oneLine(std::string s) {
    for (char& c : s)
        if (c == '\r' || c == '\n') c = ' ';
    return s;
}

// The answer to `job`, or none (`answered` false).
std::string sign(const std::map<std::string, std::string>& job, const std::string& log4jpath, bool& answered) {
    auto get = [&job](const char* key) {
        auto it = job.find(key);
        return it == job.end() ? std::string() : it->second;
    };
    answered = true;
    std::string reason = get("reason");
    if (reason.rfind("salir:", 0) == 0) ExitProcess(static_cast<UINT>(std::stoi(reason.substr(6))));
    if (reason.rfind("error:", 0) == 0) return reason.substr(6);
    if (reason == "silencio") {
        answered = false;
        return "";
    }
    if (reason == "colgar") {
        write(STD_ERROR_HANDLE, "pid " + std::to_string(GetCurrentProcessId()) + "\r\n");
        // A copy that never ends either, holding the same streams.
        if (DWORD grandchild = test_program::startCopy(L"--nieto"))
            write(STD_ERROR_HANDLE, "nieto pid " + std::to_string(grandchild) + "\r\n");
        Sleep(INFINITE);
    }
    if (reason.rfind("stderr:", 0) == 0) write(STD_ERROR_HANDLE, reason.substr(7));

    std::string input = get("inputFilePath");
    if (input.empty()) return "El trabajo no indica el documento";
    std::string document;
    if (!isFile(input) || !readFile(input, document)) return "No se encuentra el documento " + input;
    if (document.rfind("%PDF-", 0) != 0) return "El documento no es un PDF";
    std::string stamp = get("stampImagePath"), stampBytes;
    if (!stamp.empty() && (!isFile(stamp) || !readFile(stamp, stampBytes)))
        return "No se encuentra la imagen del sello " + stamp;

    wchar_t full[32768];
    DWORD n = GetFullPathNameW(wide(input).c_str(), 32768, full, nullptr);
    std::string path = utf8(std::wstring(full, n));
    std::string base = path.size() > 4 && path.compare(path.size() - 4, 4, ".pdf") == 0 ? path.substr(0, path.size() - 4)
                                                                                        : path;
    std::string signedPath = base + "-firmado.pdf";
    std::string marker = std::string("\n") + kMarker + "\n% reason=" + oneLine(reason) + "\n% stampImageBytes=" +
                         std::to_string(stampBytes.size()) + "\n% log4jpath=" + oneLine(log4jpath) + "\n% %%EOF\n";
    if (!writeFile(signedPath, document + marker)) return "No se puede escribir " + signedPath;
    if (reason == "desaparecer") DeleteFileW(wide(signedPath).c_str());
    return "::" + signedPath;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(utf8(argv[i]));
    if (!args.empty() && args[0] == "--nieto") Sleep(INFINITE);

    // The JVM's reading: options, the class path after -cp, then the main class.
    std::string log4jpath, mainClass;
    for (size_t i = 0; i < args.size() && mainClass.empty(); ++i) {
        if (args[i] == "-cp" || args[i] == "-classpath") ++i;
        else if (args[i].rfind("-Dlog4jpath=", 0) == 0) log4jpath = args[i].substr(12);
        else if (args[i].empty() || args[i][0] != '-') mainClass = args[i];
    }
    if (mainClass != kMainClass) {
        write(STD_ERROR_HANDLE, "Error: Could not find or load main class " + mainClass + "\r\n");
        return 1;
    }

    std::string jobText = readAll(GetStdHandle(STD_INPUT_HANDLE));
    rapidjson::Document doc;
    doc.Parse(jobText.c_str(), jobText.size());
    std::map<std::string, std::string> job;
    std::string answer;
    bool answered = true;
    if (doc.HasParseError() || !doc.IsObject()) {
        answer = "Trabajo de firma no válido: no es un objeto JSON";
    } else {
        for (auto& member : doc.GetObject())
            if (member.value.IsString())
                job[member.name.GetString()] = std::string(member.value.GetString(), member.value.GetStringLength());
        answer = sign(job, log4jpath, answered);
    }
    if (answered) write(STD_OUTPUT_HANDLE, answer);
    return 0;
}
