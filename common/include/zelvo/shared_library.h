#pragma once
// A library loaded at run time (dlopen, LoadLibraryW), every symbol resolved at
// load; unloaded when the object goes unless it must stay mapped.
#include <memory>
#include <string>

namespace zelvo {

// Why a load or a look-up failed: the system's number (GetLastError; 0 on Linux,
// where the loader gives only text) and its words.
struct LoadError {
    unsigned long code = 0;
    std::string text;
    // What a message shows: the number on Windows, the loader's words on Linux.
    std::string shown() const;
};

class SharedLibrary {
public:
    // `keepMapped`: closing only drops the handle (a destroyed JVM leaves parked
    // threads inside its code).
    static std::unique_ptr<SharedLibrary> open(const std::string& path, bool keepMapped, LoadError& error);
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Address of the exported `name`, or null with the reason in `error`.
    void* symbol(const char* name, LoadError& error) const;

private:
    explicit SharedLibrary(void* handle) : handle_(handle) {}
    void* handle_;
};

}  // namespace zelvo
