#include "Config.h"

#include "Profile.h"
#include "QuilletInput.h"
#include "log/AsyncLog.h"
#include "process/Child.h"
#include "process/StreamWorkers.h"

#include "zelvo/paths.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <stdexcept>
#include <unistd.h>

namespace quillet {
namespace {

const char* const kNoProperties =
    "Verifique la instalación del software Quillet. No se encuentra archivo de propiedades";
const char* const kCorruptProperties =
    "Verifique la instalación del software Quillet. El archivo de propiedades está corrupto";
const char* const kBadJarPath = "Verifique la instalación del software Quillet. Path no válido para QUILLET_JAR";

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

// The user's home folder: $HOME, else the password database; empty without either.
std::string userHome() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && *pw->pw_dir) return pw->pw_dir;
    return "";
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

CommandLine Config::commandLine(const std::string& quilletJar) const {
    CommandLine cl;
    std::string classPath = quilletJar + ":" + wrapperJarPath();
    // A folder with blanks stays one argument: quoted in the text, one word for the child.
    bool blanks = workDir_.find_first_of(" \t") != std::string::npos;
    cl.text = "\"java\" " + javaModifiers_ + " " + (blanks ? "\"-Dlog4jpath=" + workDir_ + "\"" : "-Dlog4jpath=" + workDir_) +
              " -cp \"" + classPath + "\" " + wrapperClass_;
    cl.args.push_back("java");
    for (std::string& word : process::splitCommandLine(javaModifiers_)) cl.args.push_back(std::move(word));
    cl.args.push_back("-Dlog4jpath=" + workDir_);
    cl.args.push_back("-cp");
    cl.args.push_back(classPath);
    cl.args.push_back(wrapperClass_);
    return cl;
}

std::string libraryDirectory() {
    std::string path = zelvo::modulePath(reinterpret_cast<const void*>(&libraryDirectory));
    QLOG_INFO << path;
    size_t slash = path.rfind('/');
    if (path.empty() || slash == std::string::npos) throw std::runtime_error("invalid file path: " + std::to_string(EINVAL));
    return path.substr(0, slash + 1);
}

std::string workDirectory(const std::string& libraryDir) {
    std::string dir = zelvo::writableDirOr(libraryDir, "signing");
    if (dir.empty()) {
        const char* state = std::getenv("XDG_STATE_HOME");
        std::string base = state && *state ? std::string(state) : zelvo::homeDir() + "/.local/state";
        throw std::runtime_error("No se puede crear la carpeta de trabajo del usuario (" + base + "/zelvo/signing)");
    }
    return dir;
}

std::string javaCheck() {
    process::Child child("which java");
    try {
        child.start(0, 1, false, true, false);
    } catch (const std::exception& e) {
        // Without `which` on the path nothing can tell where Java is either.
        QLOG_ERROR << e.what();
        throw std::runtime_error("Verifique la instalación de Java");
    }
    std::string out;
    std::string failure = process::collectStdoutWorker(child, out);
    child.wait();
    if (!failure.empty()) throw std::runtime_error(failure);
    if (child.exitCode() != 0) throw std::runtime_error("Verifique la instalación de Java");
    return out;
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
        std::string home = userHome();
        if (home.empty()) throw std::runtime_error("No se puede resolver la variable de sistema $HOME");
        properties = readWholeFile(home + "/.quillet/quillet.properties");
    } catch (const std::exception& e) {
        QLOG_ERROR << e.what();
        throw std::runtime_error(kNoProperties);
    }
    std::string path = findQuilletJar(properties);
    if (path.empty()) throw std::runtime_error(kCorruptProperties);
    if (!fileExists(path)) {
        QLOG_ERROR << "invalid path:" << path;
        throw std::runtime_error(kBadJarPath);
    }
    return path;
}

}  // namespace quillet
