#pragma once
// One text line per record, the same format in the launcher and the card plug-in:
//   2026-12-07 10:15:30.123 INFO  [4242] [EmbeddedServer::run@87] message
// Each module that links this library gets a logger of its own (hidden symbols).
#include <sstream>
#include <string>

namespace zelvo::log {

enum class Severity { none = 0, fatal = 1, error = 2, warning = 3, info = 4, debug = 5, verbose = 6 };

// Level 0..6; anything else switches logging off. Opens `path` for appending
// (a new, empty file first gets the UTF-8 byte-order mark). With `console`,
// records also go to standard output. A missing folder is not created: then, as
// when the file cannot be opened, the records are lost and the program runs on.
void init(const std::string& path, int level, bool console);
// Closes the file and switches logging off (tests and module unload).
void shutdown();
bool enabled(Severity severity);
// The message is written through escapeForLog (zelvo/log_escape.h): always one line.
void write(Severity severity, const char* function, int line, const std::string& message);
// The date file name of today: YYYYMMDD.log
std::string dayFileName();

class Record {
public:
    Record(Severity severity, const char* function, int line)
        : severity_(severity), function_(function), line_(line) {}
    ~Record() { write(severity_, function_, line_, stream_.str()); }
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;
    template <typename T>
    Record& operator<<(const T& value) {
        stream_ << value;
        return *this;
    }

private:
    Severity severity_;
    const char* function_;
    int line_;
    std::ostringstream stream_;
};

}  // namespace zelvo::log

#define ZLOG(severity, function)                       \
    if (!::zelvo::log::enabled(severity)) {            \
    } else                                             \
        ::zelvo::log::Record(severity, function, __LINE__)

#define LOG_FATAL(function) ZLOG(::zelvo::log::Severity::fatal, function)
#define LOG_ERROR(function) ZLOG(::zelvo::log::Severity::error, function)
#define LOG_WARN(function) ZLOG(::zelvo::log::Severity::warning, function)
#define LOG_INFO(function) ZLOG(::zelvo::log::Severity::info, function)
#define LOG_DEBUG(function) ZLOG(::zelvo::log::Severity::debug, function)
#define LOG_VERBOSE(function) ZLOG(::zelvo::log::Severity::verbose, function)
