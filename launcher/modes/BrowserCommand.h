#pragma once
// A browser's command line (a registry "shell\open\command" value or a desktop
// entry's Exec) turned into the argument vector that opens one URL. No shell
// reads it: the URL is always exactly one argument, whatever it holds.
#include <string>
#include <vector>

namespace BrowserCommand {

// Splits `command` into words: blanks separate them, double quotes group them,
// and inside quotes a backslash takes the next of \ " ` $ literally. False (with
// no words) when a quote is left open.
bool split(const std::string& command, std::vector<std::string>& words);
// The program and its arguments for opening `url`: each %u, %U, %f or %F word
// becomes the URL, "%%" becomes "%", other field codes are dropped; without a
// URL field code the URL is appended. Empty when the command has no program.
std::vector<std::string> argumentsFor(const std::string& command, const std::string& url);

}  // namespace BrowserCommand
