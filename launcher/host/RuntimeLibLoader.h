#pragma once
// One loaded shared library; unloaded when the loader is destroyed.
#include <memory>
#include <string>

class RuntimeLibLoader {
public:
    // Loads `path` with every symbol resolved now; null (and a console line with
    // the loader's error text) when it cannot be loaded.
    static std::unique_ptr<RuntimeLibLoader> load(const std::string& path);
    ~RuntimeLibLoader();
    RuntimeLibLoader(const RuntimeLibLoader&) = delete;
    RuntimeLibLoader& operator=(const RuntimeLibLoader&) = delete;

    // Address of the exported `name`, or null (logged).
    void* getFunction(const std::string& name) const;

private:
    explicit RuntimeLibLoader(void* handle) : handle_(handle) {}
    void* handle_;
};
