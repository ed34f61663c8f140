#pragma once
// Sends the log of one test to a file of its own and reads it back.
#include "zelvo/log.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

class LogCapture {
public:
    LogCapture() {
        static int serial = 0;
        path_ = (std::filesystem::temp_directory_path() /
                 ("zelvo-launcher-test-" + std::to_string(::getpid()) + "-" + std::to_string(++serial) + ".log"))
                    .string();
        std::filesystem::remove(path_);
        zelvo::log::init(path_, 6, false);
    }
    ~LogCapture() {
        zelvo::log::shutdown();
        std::filesystem::remove(path_);
    }
    std::string text() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    bool contains(const std::string& needle) const { return text().find(needle) != std::string::npos; }
    size_t count(const std::string& needle) const {
        std::string t = text();
        size_t n = 0;
        for (size_t pos = t.find(needle); pos != std::string::npos; pos = t.find(needle, pos + 1)) ++n;
        return n;
    }

private:
    std::string path_;
};
