#pragma once
// Windows only: owning types for the Win32 handles the platform files use, each
// with its own closer. Platform code only; the rest of the program never sees them.
#include <windows.h>

#include <utility>

namespace zelvo::win32 {

// Traits: `Type`, `none()` (the value that owns nothing) and `close(h)`.
template <typename Traits>
class Owned {
    using Handle = typename Traits::Type;
    static Handle kNone() { return Traits::none(); }

public:
    Owned() = default;
    explicit Owned(Handle handle) : handle_(handle) {}
    ~Owned() { reset(); }
    Owned(Owned&& other) noexcept : handle_(std::exchange(other.handle_, kNone())) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, kNone());
        }
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != kNone(); }
    Handle release() { return std::exchange(handle_, kNone()); }
    void reset(Handle handle = kNone()) {
        if (handle_ != kNone()) Traits::close(handle_);
        handle_ = handle;
    }
    // For APIs that return the handle through a pointer.
    Handle* out() {
        reset();
        return &handle_;
    }

private:
    Handle handle_ = kNone();
};

struct HandleTraits {
    using Type = HANDLE;
    static HANDLE none() { return nullptr; }
    static void close(HANDLE h) { CloseHandle(h); }
};
// CreateFileW's failure value is INVALID_HANDLE_VALUE, not null.
struct FileHandleTraits {
    using Type = HANDLE;
    static HANDLE none() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { CloseHandle(h); }
};
struct KeyTraits {
    using Type = HKEY;
    static HKEY none() { return nullptr; }
    static void close(HKEY h) { RegCloseKey(h); }
};
struct ModuleTraits {
    using Type = HMODULE;
    static HMODULE none() { return nullptr; }
    static void close(HMODULE h) { FreeLibrary(h); }
};
struct LocalMemoryTraits {
    using Type = HLOCAL;
    static HLOCAL none() { return nullptr; }
    static void close(HLOCAL h) { LocalFree(h); }
};

// Process, thread, event, mutex, job and pipe handles (null when none).
using Handle = Owned<HandleTraits>;
using FileHandle = Owned<FileHandleTraits>;
using Key = Owned<KeyTraits>;
using Module = Owned<ModuleTraits>;
using LocalMemory = Owned<LocalMemoryTraits>;

}  // namespace zelvo::win32
