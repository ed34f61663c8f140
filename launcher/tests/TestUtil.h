#pragma once
// Helpers shared by the launcher's unit tests.
#include "zelvo/log.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// A fresh folder under the temporary directory, removed with its content.
class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "zelvo-test-XXXXXX").string();
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

inline void writeFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string readFile(const fs::path& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// Sends the log of one test to a file of its own and reads it back.
class LogCapture {
public:
    LogCapture() { zelvo::log::init((dir_ / "test.log").string(), 6, false); }
    ~LogCapture() { zelvo::log::shutdown(); }
    bool contains(const std::string& needle) const { return readFile(dir_ / "test.log").find(needle) != std::string::npos; }
    size_t count(const std::string& needle) const {
        std::string t = readFile(dir_ / "test.log");
        size_t n = 0;
        for (size_t pos = t.find(needle); pos != std::string::npos; pos = t.find(needle, pos + 1)) ++n;
        return n;
    }

private:
    TempDir dir_;
};

// A command line for the factories under test.
class Argv {
public:
    explicit Argv(std::vector<std::string> words) : words_(std::move(words)) {
        for (auto& w : words_) pointers_.push_back(w.data());
        pointers_.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(words_.size()); }
    char** argv() { return pointers_.data(); }

private:
    std::vector<std::string> words_;
    std::vector<char*> pointers_;
};

#include "core/Params.h"

// The server parameters in one line, to compare whole.
inline std::string describe(const ServerRunnableParams& s) {
    std::string vm;
    for (const auto& o : s.vmoptions) vm += (vm.empty() ? "" : ",") + o;
    return "port=" + std::to_string(s.port) + " idle=" + std::to_string(s.idletimeout) + " basekey=" + s.basekey +
           " ssl=" + std::to_string(s.ssl_enabled) + " cert=" + s.ssl_certpath + " pass=" + s.ssl_certpass +
           " cp=" + s.classpath + " loader=" + s.loaderclass + " vm=" + vm + " bind=" + s.bindaddress +
           " max=" + std::to_string(s.maxmessagesize);
}
