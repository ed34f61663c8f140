#include "zelvo/shared_library.h"

#include "zelvo/system_error.h"
#include "zelvo/utf16.h"

#include <windows.h>

namespace zelvo {
namespace {

LoadError lastError() {
    const DWORD code = GetLastError();
    return LoadError{code, systemErrorText(code)};
}

}  // namespace

std::string LoadError::shown() const { return std::to_string(code); }

std::unique_ptr<SharedLibrary> SharedLibrary::open(const std::string& path, bool keepMapped, LoadError& error) {
    std::optional<std::wstring> wide = toUtf16(path);
    if (!wide) {
        error = LoadError{ERROR_INVALID_NAME, systemErrorText(ERROR_INVALID_NAME)};
        return nullptr;
    }
    HMODULE module = LoadLibraryW(wide->c_str());
    if (!module) {
        error = lastError();
        return nullptr;
    }
    if (keepMapped) {
        // Pinned: FreeLibrary can no longer unmap it.
        HMODULE pinned = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCWSTR>(module), &pinned);
    }
    return std::unique_ptr<SharedLibrary>(new SharedLibrary(module));
}

SharedLibrary::~SharedLibrary() { FreeLibrary(static_cast<HMODULE>(handle_)); }

void* SharedLibrary::symbol(const char* name, LoadError& error) const {
    FARPROC address = GetProcAddress(static_cast<HMODULE>(handle_), name);
    if (!address) error = lastError();
    return reinterpret_cast<void*>(address);
}

}  // namespace zelvo
