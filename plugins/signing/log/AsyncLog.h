#pragma once
// The signing plug-in's own log: callers format a line and queue it; one writer
// thread owns the files and writes what is queued every 100 ms, one file per
// day ("<name>-YYYY-MM-DD.log"). Settings travel through the same queue, so they
// take effect in order with the lines around them.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillet::log {

enum Level : int { kTrace = 0, kDebug = 1, kInfo = 2, kWarn = 3, kError = 4, kAlarm = 5, kFatal = 6 };

// "TRACE" ... "FATAL"; nullptr outside 0..6.
const char* levelName(int level);

// The longest line, line ending included.
constexpr size_t kMaxLine = 2047;

class AsyncLog {
public:
    static constexpr int kLoggers = 1;
    // Milliseconds since 1970; the system clock unless a test sets another.
    using Clock = std::function<int64_t()>;

    AsyncLog();
    ~AsyncLog();
    AsyncLog(const AsyncLog&) = delete;
    AsyncLog& operator=(const AsyncLog&) = delete;

    // Settings are queued and applied by the writer thread (also when queued
    // before start: they wait for it).
    void setName(int logger, const std::string& name);
    void setPath(int logger, const std::string& path);
    void setLevel(int logger, int level);
    void setFileLine(int logger, bool on);
    void setDisplay(int logger, bool on);

    // Starts the writer thread and waits up to 3 s for it; false when already
    // running or when the thread cannot be created.
    bool start();
    // Ends the writer thread after it has written everything queued.
    void stop();
    bool running() const;

    bool levelCheck(int logger, int level) const;
    // Formats the record in the caller's thread and queues it; dropped unless
    // levelCheck holds.
    void push(int logger, int level, const std::string& text, const char* file, int line);

    // Only for tests; call while stopped.
    void setClock(Clock clock);

    // The line as it is written: "Y-MM-DD hh:mm:ss PID LEVEL text\r\n", cut to
    // kMaxLine characters.
    static std::string formatLine(const struct tm& local, const std::string& pid, int level,
                                  const std::string& text, const char* file, int line, bool suffix);

private:
    enum class Kind { line, name, path, level, fileLine, display };
    struct Record {
        Kind kind;
        int logger;
        int level;
        int day;  // local date as YYYYMMDD, for lines
        std::string text;
        bool flag;
    };
    // Owned by the writer thread alone.
    struct Logger {
        std::string key = "Main";
        std::string name;
        std::string path = "./log/";
        int level = kDebug;
        bool fileLine = true;
        bool display = true;
        bool fileOutput = true;
        bool monthFolders = false;
        uint64_t limitMb = 100;
        bool enabled = true;
        FILE* file = nullptr;
        int fileDay = 0;
        uint64_t fileSize = 0;
        bool wrote = false;
    };
    // What callers see at once (the writer's copy follows in queue order).
    struct CallerView {
        std::atomic<int> level{kDebug};
        std::atomic<bool> fileLine{true};
        std::atomic<bool> enabled{true};
    };

    void queueSetting(Kind kind, int logger, int level, const std::string& text, bool flag);
    void writerLoop();
    void apply(Record& record);
    void writeLine(Logger& logger, const Record& record);
    bool openFor(Logger& logger, int day);
    static void closeFile(Logger& logger);
    static void display(int level, const std::string& line);

    const std::string pid_;
    Clock clock_;

    std::mutex lifecycle_;  // start and stop may come from different threads
    std::thread writer_;

    mutable std::mutex queueMutex_;  // guards queue_ and running_
    std::condition_variable wake_;
    std::vector<Record> queue_;
    bool running_ = false;
    bool up_ = false;  // the writer thread has come up

    std::array<CallerView, kLoggers> view_;
    std::array<Logger, kLoggers> loggers_;
};

// The plug-in's one facility (each module that links this code has its own).
AsyncLog& pluginLog();
// Sets the plug-in's settings on logger 0 (name, folder, level INFO, no file
// and line suffix, console display) and starts the facility if it is not
// running yet.
void startPluginLog(const std::string& name, const std::string& folder);
void stopPluginLog();

// Collects one line and pushes it when the statement ends.
class Line {
public:
    Line(int level, const char* file, int line) : level_(level), file_(file), line_(line) {}
    ~Line();
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;
    Line& operator<<(const std::string& s) { text_ += s; return *this; }
    Line& operator<<(const char* s) { text_ += s ? s : "(null)"; return *this; }
    Line& operator<<(char c) { text_ += c; return *this; }
    template <typename T>
    Line& operator<<(T value) { text_ += std::to_string(value); return *this; }

private:
    int level_;
    const char* file_;
    int line_;
    std::string text_;
};

// Turns the streamed Line into void, so that QLOG is one expression (safe
// inside an unbraced if).
struct Voidify {
    void operator&(const Line&) {}
};

}  // namespace quillet::log

#define QLOG(level)                                                        \
    !::quillet::log::pluginLog().levelCheck(0, level)                      \
        ? (void)0                                                          \
        : ::quillet::log::Voidify() & ::quillet::log::Line(level, __FILE__, __LINE__)

#define QLOG_TRACE QLOG(::quillet::log::kTrace)
#define QLOG_DEBUG QLOG(::quillet::log::kDebug)
#define QLOG_INFO QLOG(::quillet::log::kInfo)
#define QLOG_WARN QLOG(::quillet::log::kWarn)
#define QLOG_ERROR QLOG(::quillet::log::kError)
#define QLOG_FATAL QLOG(::quillet::log::kFatal)
