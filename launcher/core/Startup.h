#pragma once
// The first steps of every start: application.config from the current directory
// and the log it configures.
#include "core/JsonReader.h"

#include <memory>
#include <string>

namespace Startup {

// application.config of the current directory, or null after the error box.
std::unique_ptr<JsonReader> loadConfiguration();
// "log" -> "level": 4 when unreadable, 0 (off) outside 0..6.
int logLevel(const JsonReader& config);
// "log" -> "directory" with a trailing '/'; when empty, the program's folder if
// the process may write there, else the per-user state folder.
std::string logDirectory(const JsonReader& config);
// Prints the start-up line and starts the log (also on the console with `console`).
void startLogging(const JsonReader& config, bool console);

}  // namespace Startup
