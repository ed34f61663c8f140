#include "zelvo/console.h"

#include <clocale>
#include <unistd.h>

namespace zelvo {

void prepareConsoleForText() { std::setlocale(LC_ALL, ""); }

void openOwnConsole() {}

bool stdoutIsConsole() { return isatty(STDOUT_FILENO) == 1; }

}  // namespace zelvo
