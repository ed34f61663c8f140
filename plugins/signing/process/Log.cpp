#include "process/Log.h"

#include <atomic>

namespace process {
namespace {
// Set by the host thread before any child starts; read by the stream workers.
std::atomic<LogSink> sink{nullptr};
}  // namespace

void setLogSink(LogSink s) { sink.store(s); }

void log(LogLevel level, const std::string& text, const char* file, int line) {
    if (LogSink s = sink.load()) s(level, text, file, line);
}

}  // namespace process
