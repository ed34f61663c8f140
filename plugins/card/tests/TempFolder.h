#pragma once
// A folder of the test's own below the system's temporary folder, removed with
// all it holds when the object goes. Its name holds letters only, so that no
// path built from it can look like a PIN.
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#include "zelvo/paths.h"

class TempFolder {
public:
    explicit TempFolder(const std::string& prefix) {
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            std::string name = prefix;
            for (int i = 0; i < 10; ++i) name += static_cast<char>('a' + random() % 26);
            const std::string candidate = zelvo::withSeparator(zelvo::tempDir()) + name;
            std::error_code error;
            if (std::filesystem::create_directory(std::filesystem::u8path(candidate), error)) path_ = candidate;
        }
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(std::filesystem::u8path(path_), ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Empty when no folder could be made.
    const std::string& path() const { return path_; }
    // `name` inside the folder.
    std::string operator/(const std::string& name) const { return zelvo::withSeparator(path_) + name; }

private:
    std::string path_;
};
