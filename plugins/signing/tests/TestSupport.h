#pragma once
// Small helpers of the signing plug-in's unit tests. Paths are UTF-8 text, as
// everywhere in the plug-in (u8path, so that Windows does not read them in the
// ANSI code page).
#include "zelvo/paths.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace testing_support {

inline std::filesystem::path fsPath(const std::string& utf8) { return std::filesystem::u8path(utf8); }

// A fresh folder under the temporary directory, removed with its content; its
// path ends in the system's separator.
class TempDir {
public:
    TempDir() {
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            std::filesystem::path candidate =
                std::filesystem::temp_directory_path() / ("signing-" + std::to_string(random()));
            std::error_code ec;
            if (std::filesystem::create_directory(candidate, ec))
                path_ = zelvo::withSeparator(candidate.u8string());
        }
        if (path_.empty()) throw std::runtime_error("no temporary folder");
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(fsPath(path_), ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

inline std::string readFile(const std::string& path) {
    std::ostringstream s;
    s << std::ifstream(fsPath(path), std::ios::binary).rdbuf();
    return s.str();
}

inline void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(fsPath(path), std::ios::binary) << text;
}

// The text of the runtime error `f` throws, or "" when it throws none.
template <typename F>
std::string failureOf(F f) {
    try {
        f();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

}  // namespace testing_support
