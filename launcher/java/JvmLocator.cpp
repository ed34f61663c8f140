#include "java/JvmLocator.h"

#include "zelvo/log.h"
#include "zelvo/paths.h"
#include "zelvo/registry.h"


namespace {

const char kJreKey[] = "SOFTWARE\\JavaSoft\\Java Runtime Environment";
const char kLibrary[] = "libjvm.so";
const char kClient[] = "client/libjvm.so";
const char kServer[] = "server/libjvm.so";
const char kDefaultJava[] = "/usr/lib/jvm/default-java";

bool endsWith(const std::string& text, const std::string& ending) {
    return text.size() >= ending.size() && text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

bool exists(const std::string& path) { return zelvo::fileExists(path); }

// The first executable `name` in PATH's folders, or empty.
std::string onPath(const std::string& name) {
    const std::string folders = zelvo::getEnv("PATH").value_or(std::string());
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(zelvo::kSearchPathSeparator, start);
        if (end == std::string::npos) end = folders.size();
        std::string folder = folders.substr(start, end - start);
        if (!folder.empty()) {
            std::string candidate = zelvo::withSeparator(folder) + name;
            if (zelvo::isExecutable(candidate)) return candidate;
        }
        start = end + 1;
    }
    return "";
}

}  // namespace

bool JvmLocator::fromRegistry(std::string& path) {
    path.clear();
    std::string version;
    if (!zelvo::readRegistryString(kJreKey, "CurrentVersion", version) || version.empty()) return false;
    std::string lib;
    if (!zelvo::readRegistryString(std::string(kJreKey) + "\\" + version, "RuntimeLib", lib) || lib.empty()) {
        LOG_VERBOSE("JvmLocator::fromRegistry") << "No se encontró RuntimeLib para la versión " << version;
        return true;
    }
    if (!endsWith(lib, kLibrary)) {
        LOG_VERBOSE("JvmLocator::fromRegistry") << "La ruta registrada no termina en " << kLibrary << ": " << lib;
        return true;
    }
    if (exists(lib)) {
        path = lib;
    } else if (endsWith(lib, kClient)) {
        std::string server = lib.substr(0, lib.size() - sizeof(kClient) + 1) + kServer;
        if (exists(server)) path = server;
    }
    if (path.empty()) {
        LOG_VERBOSE("JvmLocator::fromRegistry") << "No existe la librería registrada " << lib;
    }
    return true;
}

std::string JvmLocator::runtimeDirectory(const std::string& path) {
    if (endsWith(path, kClient)) return path.substr(0, path.size() - sizeof(kClient) + 1);
    if (endsWith(path, kServer)) return path.substr(0, path.size() - sizeof(kServer) + 1);
    return "";
}

std::string JvmLocator::fromJavaHome(const std::string& home) {
    if (home.empty()) return "";
    std::string lib = home + (endsWith(home, "/") ? "" : "/") + "lib/" + kServer;
    return exists(lib) ? lib : "";
}

std::string JvmLocator::systemDefault() {
    std::string lib = fromJavaHome(kDefaultJava);
    if (!lib.empty()) return lib;
    std::string java = onPath("java");
    if (java.empty()) return "";
    // <home>/bin/java
    std::string home = zelvo::canonicalPath(java);
    if (home.empty()) return "";
    for (int up = 0; up < 2; ++up) {
        size_t slash = home.rfind('/');
        if (slash == std::string::npos) return "";
        home.erase(slash);
    }
    return fromJavaHome(home.empty() ? "/" : home);
}

std::string JvmLocator::findJvmLibrary() {
    std::string path;
    if (fromRegistry(path)) return path;
    LOG_VERBOSE("JvmLocator::findJvmLibrary") << "No hay un entorno de Java registrado; se usará JAVA_HOME o el Java del sistema";
    path = fromJavaHome(zelvo::getEnv("JAVA_HOME").value_or(std::string()));
    if (path.empty()) path = systemDefault();
    return path;
}
