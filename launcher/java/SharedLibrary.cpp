#include "java/SharedLibrary.h"

#include <dlfcn.h>

namespace {

std::string lastError() {
    const char* text = dlerror();
    return text ? text : "desconocido";
}

}  // namespace

std::unique_ptr<SharedLibrary> SharedLibrary::open(const std::string& path, std::string& error) {
    dlerror();
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NODELETE);
    if (!handle) {
        error = lastError();
        return nullptr;
    }
    return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle));
}

SharedLibrary::~SharedLibrary() {
    dlclose(handle_);
}

void* SharedLibrary::symbol(const char* name, std::string& error) const {
    dlerror();
    void* address = dlsym(handle_, name);
    if (!address) error = lastError();
    return address;
}
