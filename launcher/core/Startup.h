#pragma once
// The first steps of every start: application.config from the current directory
// (on Windows, when it has none, the one beside the program) and the log it
// configures.
#include "core/JsonReader.h"

#include <cstddef>
#include <memory>
#include <string>

namespace Startup {

// application.config and the additional configuration file are small texts: a
// larger file, like a folder, FIFO or device, cannot be read.
inline constexpr size_t kLargestConfigFile = 1 << 20;

// The first of the system's places for application.config that holds one (a
// file or not), else the first place.
std::string configurationFile();
// That application.config, or null after the error box.
std::unique_ptr<JsonReader> loadConfiguration();
// "log" -> "level": 4 when unreadable, 0 (off) outside 0..6.
int logLevel(const JsonReader& config);
// "log" -> "directory" with a trailing '/'; when empty, the program's folder if
// the process may write there, else the per-user state folder.
std::string logDirectory(const JsonReader& config);
// Prints the start-up line and starts the log (also on the console with `console`).
void startLogging(const JsonReader& config, bool console);
// One record naming the program's version and the libraries it was built with.
void logVersions();

}  // namespace Startup
