#pragma once
// A library opened with dlopen. The JVM's library stays mapped after close: a
// destroyed JVM leaves parked threads inside its code, so it is opened with
// RTLD_NODELETE and closing only drops the handle.
#include <memory>
#include <string>

class SharedLibrary {
public:
    // Null with the loader's error text in `error` when it cannot be opened.
    static std::unique_ptr<SharedLibrary> open(const std::string& path, std::string& error);
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Address of `name`, or null with the loader's error text in `error`.
    void* symbol(const char* name, std::string& error) const;

private:
    explicit SharedLibrary(void* handle) : handle_(handle) {}
    void* handle_;
};
