#include "zelvo/shared_library.h"

#include <dlfcn.h>

namespace zelvo {
namespace {

LoadError lastError() {
    const char* text = dlerror();
    return LoadError{0, text ? text : "desconocido"};
}

}  // namespace

std::string LoadError::shown() const { return text; }

std::unique_ptr<SharedLibrary> SharedLibrary::open(const std::string& path, bool keepMapped, LoadError& error) {
    dlerror();
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | (keepMapped ? RTLD_NODELETE : 0));
    if (!handle) {
        error = lastError();
        return nullptr;
    }
    return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle));
}

SharedLibrary::~SharedLibrary() { dlclose(handle_); }

void* SharedLibrary::symbol(const char* name, LoadError& error) const {
    dlerror();
    void* address = dlsym(handle_, name);
    if (!address) error = lastError();
    return address;
}

}  // namespace zelvo
