#pragma once
// The console build writes its records to the console: Spanish text must show
// as it is (Linux: the user's locale; Windows: the console set to UTF-8, and
// to the terminal sequences that colour text, as on Linux).
namespace zelvo {

void prepareConsoleForText();
// For diagnostics from a library: a console of the process's own on Windows
// (its standard streams reopened on it); on Linux the process's standard output
// as it is.
void openOwnConsole();
// True when the process's standard output is a terminal or console.
bool stdoutIsConsole();

}  // namespace zelvo
