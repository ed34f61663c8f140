#include "zelvo/log.h"

#include "zelvo/log_escape.h"

#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <memory>

#include "zelvo/local_time.h"
#include "zelvo/paths.h"
#ifdef SPDLOG_WCHAR_FILENAMES
#include "zelvo/utf16.h"
#endif

namespace zelvo::log {
namespace {

std::atomic<int> g_level{0};
std::shared_ptr<spdlog::logger> g_logger;  // written by init/shutdown on one thread before use

spdlog::level::level_enum toSpd(Severity s) {
    switch (s) {
        case Severity::fatal: return spdlog::level::critical;
        case Severity::error: return spdlog::level::err;
        case Severity::warning: return spdlog::level::warn;
        case Severity::info: return spdlog::level::info;
        case Severity::debug: return spdlog::level::debug;
        case Severity::verbose: return spdlog::level::trace;
        default: return spdlog::level::off;
    }
}

// Severity names padded to five columns, as the log readers expect.
class SeverityFlag : public spdlog::custom_flag_formatter {
public:
    void format(const spdlog::details::log_msg& msg, const std::tm&, spdlog::memory_buf_t& dest) override {
        const char* name = "NONE ";
        switch (msg.level) {
            case spdlog::level::critical: name = "FATAL"; break;
            case spdlog::level::err: name = "ERROR"; break;
            case spdlog::level::warn: name = "WARN "; break;
            case spdlog::level::info: name = "INFO "; break;
            case spdlog::level::debug: name = "DEBUG"; break;
            case spdlog::level::trace: name = "VERB "; break;
            default: break;
        }
        dest.append(name, name + 5);
    }
    std::unique_ptr<custom_flag_formatter> clone() const override { return std::make_unique<SeverityFlag>(); }
};

std::unique_ptr<spdlog::formatter> makeFormatter() {
    auto f = std::make_unique<spdlog::pattern_formatter>();
    f->add_flag<SeverityFlag>('*').set_pattern("%Y-%m-%d %H:%M:%S.%e %* [%t] [%!@%#] %v");
    return f;
}

}  // namespace

std::string dayFileName() {
    const std::tm tm = localTime(std::time(nullptr));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d.log", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    return buf;
}

void init(const std::string& path, int level, bool console) {
    if (level < 0 || level > 6) level = 0;
    std::vector<spdlog::sink_ptr> sinks;
    spdlog::file_event_handlers handlers;
    handlers.after_open = [](const spdlog::filename_t&, std::FILE* file) {
        std::fseek(file, 0, SEEK_END);
        if (std::ftell(file) == 0) std::fputs("\xEF\xBB\xBF", file);
    };
    // A log folder that is missing or not writable loses the records; the program
    // runs on. The folder is not created here (the file sink would create it).
    const std::string folder = folderOf(path);
    const bool folderExists = isDirectory(folder);
#ifdef SPDLOG_WCHAR_FILENAMES
    // Windows: the file is opened through its wide name, so that folders such as
    // "C:\Zelvo Ñandú" work; a name that is not UTF-8 names no file.
    const std::optional<std::wstring> wide = toUtf16(path);
    const spdlog::filename_t fileName = wide.value_or(std::wstring());
    const bool nameUsable = wide.has_value();
#else
    const spdlog::filename_t& fileName = path;
    const bool nameUsable = true;
#endif
    try {
        if (folderExists && nameUsable)
            sinks.push_back(std::make_shared<spdlog::sinks::basic_file_sink_mt>(fileName, false, handlers));
    } catch (const spdlog::spdlog_ex&) {
    }
    if (console) sinks.push_back(std::make_shared<spdlog::sinks::stdout_sink_mt>());
    auto logger = std::make_shared<spdlog::logger>("zelvo", sinks.begin(), sinks.end());
    logger->set_formatter(makeFormatter());
    logger->set_level(level == 0 ? spdlog::level::off : toSpd(static_cast<Severity>(level)));
    logger->flush_on(spdlog::level::trace);
    g_logger = logger;
    g_level = level;
}

void shutdown() {
    g_level = 0;
    g_logger.reset();
}

bool enabled(Severity severity) {
    int s = static_cast<int>(severity);
    return s > 0 && s <= g_level.load(std::memory_order_relaxed);
}

void write(Severity severity, const char* function, int line, const std::string& message) {
    auto logger = g_logger;
    if (!logger || !enabled(severity)) return;
    // One record, one line, whatever text from outside the message quotes.
    logger->log(spdlog::source_loc{"", line, function}, toSpd(severity), "{}", escapeForLog(message));
}

}  // namespace zelvo::log
