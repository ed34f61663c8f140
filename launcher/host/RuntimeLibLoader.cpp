#include "host/RuntimeLibLoader.h"

#include "zelvo/log.h"

#include <cstdio>
#include <dlfcn.h>

std::unique_ptr<RuntimeLibLoader> RuntimeLibLoader::load(const std::string& path) {
    dlerror();
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        std::string reason = why ? why : "desconocido";
        std::printf("No se puede cargar la libreria %s, error %s\n", path.c_str(), reason.c_str());
        std::fflush(stdout);
        LOG_ERROR("RuntimeLibLoader::load") << "No se puede cargar la libreria " << path << ", error " << reason;
        return nullptr;
    }
    return std::unique_ptr<RuntimeLibLoader>(new RuntimeLibLoader(handle));
}

RuntimeLibLoader::~RuntimeLibLoader() { dlclose(handle_); }

void* RuntimeLibLoader::getFunction(const std::string& name) const {
    LOG_VERBOSE("RuntimeLibLoader::getFunction") << "Obteniendo referencia a función " << name;
    dlerror();
    void* address = dlsym(handle_, name.c_str());
    if (!address) {
        LOG_ERROR("RuntimeLibLoader::getFunction") << "No se pudo cargar la función " << name;
    }
    return address;
}
