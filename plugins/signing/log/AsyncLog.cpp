#include "log/AsyncLog.h"

#include "zelvo/console.h"
#include "zelvo/local_time.h"
#include "zelvo/log_escape.h"
#include "zelvo/paths.h"
#include "zelvo/private_file.h"

#include <chrono>
#include <cstring>
#include <ctime>

namespace quillet::log {
namespace {

constexpr const char* kNames[] = {"TRACE", "DEBUG", "INFO", "WARN", "ERROR", "ALARM", "FATAL"};
// Console colours of levels 2..6 (cyan, yellow, red, green, magenta).
constexpr const char* kColours[] = {"\033[36m", "\033[33m", "\033[31m", "\033[32m", "\033[35m"};

std::mutex& consoleMutex() {
    static std::mutex m;
    return m;
}

int64_t systemMillis() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string programBaseName() {
    std::string path = zelvo::programPath();
    size_t start = path.size();
    while (start > 0 && !zelvo::isPathSeparator(path[start - 1])) --start;
    std::string base = path.substr(start);
    size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0) base.erase(dot);
    return base.empty() ? std::string("MainLog") : base;
}

std::string sixDigitPid() {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%06lu", zelvo::currentProcessId());
    return buf;
}


}  // namespace

const char* levelName(int level) { return level >= 0 && level <= kFatal ? kNames[level] : nullptr; }

AsyncLog::AsyncLog() : pid_(sixDigitPid()), clock_(systemMillis) {
    std::string name = programBaseName();
    for (auto& l : loggers_) l.name = name;
}

AsyncLog::~AsyncLog() {
    stop();
    for (auto& l : loggers_) closeFile(l);
}

void AsyncLog::setClock(Clock clock) { clock_ = clock ? std::move(clock) : Clock(systemMillis); }

void AsyncLog::queueSetting(Kind kind, int logger, int level, const std::string& text, bool flag) {
    if (logger < 0 || logger >= kLoggers) return;
    std::lock_guard<std::mutex> lock(queueMutex_);
    queue_.push_back(Record{kind, logger, level, 0, text, flag});
}

void AsyncLog::setName(int logger, const std::string& name) { queueSetting(Kind::name, logger, 0, name, false); }
void AsyncLog::setPath(int logger, const std::string& path) { queueSetting(Kind::path, logger, 0, path, false); }

void AsyncLog::setLevel(int logger, int level) {
    if (logger < 0 || logger >= kLoggers) return;
    view_[logger].level = level;
    queueSetting(Kind::level, logger, level, "", false);
}

void AsyncLog::setFileLine(int logger, bool on) {
    if (logger < 0 || logger >= kLoggers) return;
    view_[logger].fileLine = on;
    queueSetting(Kind::fileLine, logger, 0, "", on);
}

void AsyncLog::setDisplay(int logger, bool on) { queueSetting(Kind::display, logger, 0, "", on); }

bool AsyncLog::start() {
    std::lock_guard<std::mutex> life(lifecycle_);
    if (writer_.joinable()) return false;
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        running_ = true;
        up_ = false;
    }
    try {
        writer_ = std::thread([this] {
            {
                std::lock_guard<std::mutex> lock(queueMutex_);
                up_ = true;
            }
            wake_.notify_all();
            writerLoop();
        });
    } catch (const std::exception&) {
        std::printf("log4z: create log4z thread error! \r\n");
        std::fflush(stdout);
        std::lock_guard<std::mutex> lock(queueMutex_);
        running_ = false;
        return false;
    }
    std::unique_lock<std::mutex> lock(queueMutex_);
    return wake_.wait_for(lock, std::chrono::milliseconds(3000), [this] { return up_; });
}

void AsyncLog::stop() {
    std::lock_guard<std::mutex> life(lifecycle_);
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        running_ = false;
    }
    wake_.notify_all();
    if (writer_.joinable()) writer_.join();
}

bool AsyncLog::running() const {
    std::lock_guard<std::mutex> lock(queueMutex_);
    return running_;
}

bool AsyncLog::levelCheck(int logger, int level) const {
    if (logger < 0 || logger >= kLoggers) return false;
    const CallerView& v = view_[logger];
    return running() && v.enabled && level >= v.level;
}

std::string AsyncLog::formatLine(const struct tm& t, const std::string& pid, int level, const std::string& text,
                                 const char* file, int line, bool suffix) {
    const char* name = levelName(level);
    if (!name) name = "";
    std::string out;
    char head[64];
    std::snprintf(head, sizeof head, "%d-%02d-%02d %02d:%02d:%02d ", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    out.reserve(text.size() + 64);
    out += head;
    out += pid;
    out += ' ';
    out += name;
    out += ' ';
    // One line per record, whatever outside text (a file name, the signer's
    // answer) the message quotes.
    out += zelvo::escapeForLog(text);
    if (suffix) {
        const char* base = file ? file : "";
        for (const char* p = base; *p; ++p)
            if (*p == '/' || *p == '\\') base = p + 1;
        out += " (";
        out += base;
        out += "):";
        out += std::to_string(line);
    }
    out += "\r\n";
    if (out.size() > kMaxLine) {
        out.resize(kMaxLine);
        out[kMaxLine - 2] = '\r';
        out[kMaxLine - 1] = '\n';
    }
    return out;
}

void AsyncLog::push(int logger, int level, const std::string& text, const char* file, int line) {
    if (!levelCheck(logger, level)) return;
    int64_t ms = clock_();
    time_t secs = static_cast<time_t>(ms / 1000);
    struct tm local = zelvo::localTime(secs);
    Record r{Kind::line, logger, level, (local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday,
             formatLine(local, pid_, level, text, file, line, view_[logger].fileLine), false};
    std::lock_guard<std::mutex> lock(queueMutex_);
    if (!running_) return;
    queue_.push_back(std::move(r));
}

void AsyncLog::writerLoop() {
    std::vector<Record> batch;
    for (;;) {
        batch.clear();
        {
            std::lock_guard<std::mutex> lock(queueMutex_);
            batch.swap(queue_);
        }
        for (Record& r : batch) apply(r);
        for (Logger& l : loggers_) {
            if (l.file && l.wrote) std::fflush(l.file);
            l.wrote = false;
            if (!l.enabled) closeFile(l);
        }
        std::unique_lock<std::mutex> lock(queueMutex_);
        if (!running_ && queue_.empty()) break;
        if (running_) wake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return !running_; });
    }
    for (Logger& l : loggers_) closeFile(l);
}

void AsyncLog::apply(Record& r) {
    Logger& l = loggers_[r.logger];
    switch (r.kind) {
    case Kind::line:
        if (!l.enabled || r.level < l.level) return;
        if (l.display) display(r.level, r.text);
        if (l.fileOutput) writeLine(l, r);
        return;
    case Kind::name:
        l.name = r.text;
        l.fileOutput = true;  // a new name may well open where the old one did not
        break;
    case Kind::path:
        l.path = r.text.empty() ? r.text : zelvo::withSeparator(r.text);
        l.fileOutput = true;
        break;
    case Kind::level:
        l.level = r.level;
        break;
    case Kind::fileLine:
        l.fileLine = r.flag;
        break;
    case Kind::display:
        l.display = r.flag;
        break;
    }
    closeFile(l);
}

bool AsyncLog::openFor(Logger& l, int day) {
    if (l.file && (l.fileDay != day || l.fileSize > l.limitMb * 1048576ull)) closeFile(l);
    if (l.file) return true;
    std::string folder = l.path;
    int year = day / 10000, month = day / 100 % 100, mday = day % 100;
    if (l.monthFolders) {
        char sub[16];
        std::snprintf(sub, sizeof sub, "%04d_%02d/", year, month);
        folder += sub;
    }
    if (!folder.empty()) zelvo::makeDirs(folder, 0700);
    char name[32];
    std::snprintf(name, sizeof name, "-%04d-%02d-%02d.log", year, month, mday);
    std::string file = folder + l.name + name;
    FILE* f = zelvo::openPrivateAppend(file);
    if (!f) {
        l.fileOutput = false;
        return false;
    }
    l.fileSize = zelvo::fileInfo(file).size;
    l.file = f;
    l.fileDay = day;
    return true;
}

void AsyncLog::writeLine(Logger& l, const Record& r) {
    if (!openFor(l, r.day)) return;
    if (std::fwrite(r.text.data(), 1, r.text.size(), l.file) == r.text.size()) l.fileSize += r.text.size();
    l.wrote = true;
}

void AsyncLog::closeFile(Logger& l) {
    if (l.file) std::fclose(l.file);
    l.file = nullptr;
    l.fileSize = 0;
    l.wrote = false;
}

void AsyncLog::display(int level, const std::string& line) {
    if (!zelvo::stdoutIsConsole()) return;
    std::lock_guard<std::mutex> lock(consoleMutex());
    if (level >= kInfo && level <= kFatal) {
        std::fputs(kColours[level - kInfo], stdout);
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputs("\033[0m", stdout);
    } else {
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    std::fflush(stdout);
}

Line::~Line() { pluginLog().push(0, level_, text_, file_, line_); }

AsyncLog& pluginLog() {
    static AsyncLog facility;
    return facility;
}

void startPluginLog(const std::string& name, const std::string& folder) {
    AsyncLog& log = pluginLog();
    if (log.running()) return;
    log.setName(0, name);
    log.setPath(0, folder);
    log.setLevel(0, kInfo);
    log.setFileLine(0, false);
    log.setDisplay(0, true);
    log.start();
}

void stopPluginLog() { pluginLog().stop(); }

}  // namespace quillet::log
