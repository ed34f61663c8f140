#pragma once
// Windows only: owning types for the Win32 handles the platform files use, each
// with its own closer. Platform code only; the rest of the program never sees them.
#include <windows.h>

#include <utility>

namespace zelvo::win32 {

template <typename Handle, typename Closer, Handle kNone>
class Owned {
public:
    Owned() = default;
    explicit Owned(Handle handle) : handle_(handle) {}
    ~Owned() { reset(); }
    Owned(Owned&& other) noexcept : handle_(std::exchange(other.handle_, kNone)) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, kNone);
        }
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != kNone; }
    Handle release() { return std::exchange(handle_, kNone); }
    void reset(Handle handle = kNone) {
        if (handle_ != kNone) Closer()(handle_);
        handle_ = handle;
    }
    // For APIs that return the handle through a pointer.
    Handle* out() {
        reset();
        return &handle_;
    }

private:
    Handle handle_ = kNone;
};

struct CloseHandleCloser {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
struct RegCloseKeyCloser {
    void operator()(HKEY h) const { RegCloseKey(h); }
};
struct FreeLibraryCloser {
    void operator()(HMODULE h) const { FreeLibrary(h); }
};
struct LocalFreeCloser {
    void operator()(HLOCAL h) const { LocalFree(h); }
};

// Process, thread, event, mutex, job, pipe and file handles (null when none).
using Handle = Owned<HANDLE, CloseHandleCloser, nullptr>;
// CreateFileW's failure value is INVALID_HANDLE_VALUE, not null.
using FileHandle = Owned<HANDLE, CloseHandleCloser, INVALID_HANDLE_VALUE>;
using Key = Owned<HKEY, RegCloseKeyCloser, nullptr>;
using Module = Owned<HMODULE, FreeLibraryCloser, nullptr>;
using LocalMemory = Owned<HLOCAL, LocalFreeCloser, nullptr>;

}  // namespace zelvo::win32
