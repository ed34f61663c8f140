#include "java/JvmLocator.h"

#include "zelvo/java_runtime.h"
#include "zelvo/log.h"
#include "zelvo/paths.h"
#include "zelvo/registry.h"

#include <cstring>

namespace {

bool endsWith(const std::string& text, const char* ending) {
    const size_t n = std::strlen(ending);
    return text.size() >= n && text.compare(text.size() - n, n, ending) == 0;
}

std::string withoutEnding(const std::string& text, const char* ending) {
    return text.substr(0, text.size() - std::strlen(ending));
}

const char* viewName(zelvo::RegistryView view) {
    return view == zelvo::RegistryView::own ? "" : " (vista del registro de la otra arquitectura)";
}

// The library that `key` registers for its current version, or empty. `named`
// tells whether the key names a version at all: then the registry has decided,
// even when its library is missing.
std::string registeredLibrary(const std::string& key, zelvo::RegistryView view, bool& named) {
    const char* fn = "JvmLocator::registeredLibrary";
    std::string version;
    named = zelvo::readRegistryString(key, "CurrentVersion", version, view) && !version.empty();
    if (!named) return "";
    std::string lib;
    if (!zelvo::readRegistryString(key + "\\" + version, "RuntimeLib", lib, view) || lib.empty()) {
        LOG_VERBOSE(fn) << "No se encontró RuntimeLib para la versión " << version << " en " << key << viewName(view);
        return "";
    }
    // Compared as written: a path that names the library in other capitals is refused.
    if (!endsWith(lib, zelvo::kJvmLibrary)) {
        LOG_VERBOSE(fn) << "La ruta registrada en " << key << viewName(view) << " no termina en "
                        << zelvo::kJvmLibrary << ": " << lib;
        return "";
    }
    if (zelvo::fileExists(lib)) return lib;
    if (endsWith(lib, zelvo::kClientJvm)) {
        std::string server = withoutEnding(lib, zelvo::kClientJvm) + zelvo::kServerJvm;
        if (zelvo::fileExists(server)) return server;
    }
    LOG_VERBOSE(fn) << "No existe la librería registrada en " << key << viewName(view) << ": " << lib;
    return "";
}

// The candidates seen so far: whether the registry named a runtime, and the
// machine of a JVM that exists but cannot be loaded into this process.
struct Search {
    bool registered = false;
    std::string otherMachine;

    bool usable(const std::string& path) {
        zelvo::LibraryMachine machine = zelvo::libraryMachine(path);
        if (machine.fit != zelvo::LibraryMachine::other) return true;  // the loader judges the rest
        LOG_VERBOSE("JvmLocator::findJvmLibrary") << "La JVM " << path << " es " << machine.name
                                                  << " y este proceso " << zelvo::processMachine()
                                                  << ": no se puede cargar";
        if (otherMachine.empty()) otherMachine = machine.name;
        return false;
    }
};

}  // namespace

std::string JvmLocator::findJvmLibrary(std::string& why) {
    why.clear();
    Search search;
    for (zelvo::RegistryView view : {zelvo::RegistryView::own, zelvo::RegistryView::other}) {
        for (const std::string& key : zelvo::javaRegistryKeys()) {
            bool named = false;
            std::string path = registeredLibrary(key, view, named);
            search.registered = search.registered || named;
            if (!path.empty() && search.usable(path)) return path;
        }
    }
    if (!search.registered) {
        LOG_VERBOSE("JvmLocator::findJvmLibrary") << "No hay un entorno de Java registrado";
        for (const std::string& path : zelvo::jvmFallbacks()) {
            if (search.usable(path)) return path;
        }
    }
    if (!search.otherMachine.empty()) {
        why = "El Java encontrado es " + search.otherMachine + " y esta aplicación necesita uno " +
              zelvo::processMachine() + ".";
    }
    return "";
}

std::string JvmLocator::runtimeDirectory(const std::string& path) {
    if (endsWith(path, zelvo::kClientJvm)) return withoutEnding(path, zelvo::kClientJvm);
    if (endsWith(path, zelvo::kServerJvm)) return withoutEnding(path, zelvo::kServerJvm);
    return "";
}
