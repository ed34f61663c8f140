#include "Config.h"

#include "Profile.h"
#include "QuilletInput.h"
#include "log/AsyncLog.h"
#include "process/Child.h"
#include "process/StreamWorkers.h"

#include "zelvo/paths.h"

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace quillet {
namespace {

const char* const kNoProperties =
    "Verifique la instalación del software Quillet. No se encuentra archivo de propiedades";
const char* const kCorruptProperties =
    "Verifique la instalación del software Quillet. El archivo de propiedades está corrupto";
const char* const kBadJarPath = "Verifique la instalación del software Quillet. Path no válido para QUILLET_JAR";
const char* const kNoJava = "Verifique la instalación de Java";
// The properties file holds a line and a path: anything larger is not it.
constexpr size_t kLargestProperties = 1 << 20;

std::string trim(const std::string& s, bool left, bool right) {
    const char* blanks = " \t\r\n\f\v";
    size_t b = left ? s.find_first_not_of(blanks) : 0;
    if (b == std::string::npos) return "";
    size_t e = right ? s.find_last_not_of(blanks) : s.size() - 1;
    return s.substr(b, e - b + 1);
}

std::vector<std::string> split(const std::string& s, const std::string& sep) {
    std::vector<std::string> pieces;
    size_t start = 0, at;
    while ((at = s.find(sep, start)) != std::string::npos) {
        pieces.push_back(s.substr(start, at - start));
        start = at + sep.size();
    }
    pieces.push_back(s.substr(start));
    return pieces;
}

}  // namespace

Config::Config(std::string libraryDir, std::string workDir)
    : libraryDir_(std::move(libraryDir)), workDir_(std::move(workDir)) {
    Profile profile = Profile::fromFile(libraryDir_ + "config.ini");
    wrapperJar_ = profile.text("config", "wrapperJar", kDefaultWrapperJar);
    wrapperClass_ = profile.text("config", "wrapperClass", kDefaultWrapperClass);
    deleteFilesAfterSigning_ = profile.number("config", "deleteFilesAfterSigning", 1);
    javaModifiers_ = profile.text("config", "javaModifiers", "");
    signingTimeoutSeconds_ = profile.number("config", "signingTimeoutSeconds", kDefaultSigningTimeout);
    if (signingTimeoutSeconds_ < 0) {
        QLOG_WARN << "config.ini: signingTimeoutSeconds no puede ser negativo; se usa " << kDefaultSigningTimeout;
        signingTimeoutSeconds_ = kDefaultSigningTimeout;
    }
}

std::string Config::logDir() const { return zelvo::withSeparator(workDir_ + "logs"); }

process::CommandLine Config::commandLine(const std::string& javaProgram, const std::string& quilletJar) const {
    process::CommandLine cl(javaProgram);
    cl.addAsWritten(javaModifiers_);
    // A folder with blanks stays one argument.
    cl.add("-Dlog4jpath=" + workDir_);
    cl.add("-cp").add(quilletJar + zelvo::kSearchPathSeparator + wrapperJarPath(), true);
    cl.add(wrapperClass_);
    return cl;
}

std::string libraryDirectory() {
    std::string path = zelvo::modulePath(reinterpret_cast<const void*>(&libraryDirectory));
    QLOG_INFO << path;
    if (std::none_of(path.begin(), path.end(), zelvo::isPathSeparator))
        throw std::runtime_error("invalid file path: " + std::to_string(EINVAL));
    return zelvo::folderOf(path);
}

std::string workDirectory(const std::string& libraryDir) {
    std::string dir = zelvo::writableDirOr(libraryDir, "signing");
    if (dir.empty())
        throw std::runtime_error("No se puede crear la carpeta de trabajo del usuario (" +
                                 zelvo::userStateDirPath("signing") + ")");
    return dir;
}

std::string javaCheck() {
    process::Child child(process::locatorOf(process::kJavaProgram));
    try {
        child.start(0, 1, false, true, false);
    } catch (const std::exception& e) {
        // Without the locator nothing can tell where Java is either.
        QLOG_ERROR << e.what();
        throw std::runtime_error(kNoJava);
    }
    std::string out;
    std::string failure = process::collectStdoutWorker(child, out);
    child.wait();
    if (!failure.empty()) throw std::runtime_error(failure);
    if (child.exitCode() != 0) throw std::runtime_error(kNoJava);
    return out;
}

std::string javaProgram(const std::string& located) {
    std::string program = process::locatedProgram(process::kJavaProgram, located);
    if (program.empty()) throw std::runtime_error(kNoJava);
    return program;
}

std::string findQuilletJar(const std::string& properties) {
    std::string text = properties;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    std::vector<std::string> lines = split(text, "\r\n");
    if (lines.size() == 1) lines = split(text, "\n");
    for (const std::string& raw : lines) {
        std::string line = trim(raw, true, false);
        if (line.compare(0, 11, "QUILLET_JAR") != 0) continue;
        std::vector<std::string> pieces = split(line, "=");
        if (pieces.size() == 2) return trim(pieces[1], true, true);
    }
    return "";
}

std::string quilletJarPath() {
    std::string properties;
    try {
        std::string home = zelvo::profileDir();
        if (home.empty())
            throw std::runtime_error(std::string("No se puede resolver la variable de sistema ") + zelvo::kProfileVariable);
        properties = readWholeFile(zelvo::withSeparator(home) + ".quillet" + zelvo::kPathSeparator + "quillet.properties",
                                   kLargestProperties);
    } catch (const std::exception& e) {
        QLOG_ERROR << e.what();
        throw std::runtime_error(kNoProperties);
    }
    std::string path = findQuilletJar(properties);
    if (path.empty()) throw std::runtime_error(kCorruptProperties);
    if (!zelvo::isReadableFile(path)) {
        QLOG_ERROR << "invalid path:" << path;
        throw std::runtime_error(kBadJarPath);
    }
    return path;
}

}  // namespace quillet
