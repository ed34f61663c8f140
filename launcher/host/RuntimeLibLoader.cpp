#include "host/RuntimeLibLoader.h"

#include "zelvo/log.h"

#include <cstdio>

std::unique_ptr<RuntimeLibLoader> RuntimeLibLoader::load(const std::string& path) {
    zelvo::LoadError error;
    std::unique_ptr<zelvo::SharedLibrary> library = zelvo::SharedLibrary::open(path, false, error);
    if (!library) {
        std::printf("No se puede cargar la libreria %s, error %s\n", path.c_str(), error.shown().c_str());
        std::fflush(stdout);
        LOG_ERROR("RuntimeLibLoader::load") << "No se puede cargar la libreria " << path << ", error " << error.shown()
                                            << (error.code ? " (" + error.text + ")" : std::string());
        return nullptr;
    }
    return std::unique_ptr<RuntimeLibLoader>(new RuntimeLibLoader(std::move(library)));
}

void* RuntimeLibLoader::getFunction(const std::string& name) const {
    LOG_VERBOSE("RuntimeLibLoader::getFunction") << "Obteniendo referencia a función " << name;
    zelvo::LoadError error;
    void* address = library_->symbol(name.c_str(), error);
    if (!address) {
        LOG_ERROR("RuntimeLibLoader::getFunction") << "No se pudo cargar la función " << name;
    }
    return address;
}
