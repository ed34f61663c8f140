#include "zelvo/java_runtime.h"

#include "zelvo/paths.h"

namespace zelvo {

const char kJvmLibrary[] = "libjvm.so";
const char kClientJvm[] = "client/libjvm.so";
const char kServerJvm[] = "server/libjvm.so";

namespace {

const char kDefaultJava[] = "/usr/lib/jvm/default-java";

// <home>/lib/server/libjvm.so when it exists, else empty.
std::string inJavaHome(const std::string& home) {
    if (home.empty()) return "";
    std::string lib = withSeparator(home) + "lib/" + kServerJvm;
    return fileExists(lib) ? lib : "";
}

// The installation of `java` on PATH (<home>/bin/java, links followed).
std::string javaOnPath() {
    std::string java = findOnPath("java");
    if (java.empty()) return "";
    std::string home = canonicalPath(java);
    for (int up = 0; up < 2; ++up) {
        size_t slash = home.rfind('/');
        if (slash == std::string::npos) return "";
        home.erase(slash);
    }
    return inJavaHome(home.empty() ? "/" : home);
}

}  // namespace

std::vector<std::string> javaRegistryKeys() { return {"SOFTWARE\\JavaSoft\\Java Runtime Environment"}; }

std::vector<std::string> jvmFallbacks() {
    std::vector<std::string> found;
    for (const std::string& lib :
         {inJavaHome(getEnv("JAVA_HOME").value_or(std::string())), inJavaHome(kDefaultJava), javaOnPath()}) {
        if (!lib.empty()) found.push_back(lib);
    }
    return found;
}

LibraryMachine libraryMachine(const std::string&) { return LibraryMachine{LibraryMachine::same, processMachine()}; }

std::string processMachine() { return sizeof(void*) == 8 ? "de 64 bits" : "de 32 bits"; }

bool jvmOptionText(const std::string& utf8, std::string& out) {
    out = utf8;
    return true;
}

}  // namespace zelvo
