#pragma once
// One loaded plug-in library; unloaded when the loader is destroyed.
#include "zelvo/shared_library.h"

#include <memory>
#include <string>

class RuntimeLibLoader {
public:
    // Loads `path` with every symbol resolved now; null (and a console line with
    // the loader's reason) when it cannot be loaded.
    static std::unique_ptr<RuntimeLibLoader> load(const std::string& path);

    // Address of the exported `name`, or null (logged).
    void* getFunction(const std::string& name) const;

private:
    explicit RuntimeLibLoader(std::unique_ptr<zelvo::SharedLibrary> library) : library_(std::move(library)) {}
    std::unique_ptr<zelvo::SharedLibrary> library_;
};
