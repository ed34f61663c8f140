#pragma once
// The child-process library reports through whatever log its host hands in,
// so it depends on no particular logging facility. Without a sink its records
// go nowhere.
#include <string>

namespace process {

enum class LogLevel { trace, info, warning, error };

// `file` and `line` say where in this library the record was made.
using LogSink = void (*)(LogLevel level, const std::string& text, const char* file, int line);

// Set once by the host before it starts children; later calls replace it.
void setLogSink(LogSink sink);

// Hands one record to the sink, if there is one.
void log(LogLevel level, const std::string& text, const char* file, int line);

}  // namespace process

#define PROCESS_LOG(level, text) ::process::log(::process::LogLevel::level, (text), __FILE__, __LINE__)
