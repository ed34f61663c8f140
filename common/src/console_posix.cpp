#include "zelvo/console.h"

#include <clocale>

namespace zelvo {

void prepareConsoleForText() { std::setlocale(LC_ALL, ""); }

void openOwnConsole() {}

}  // namespace zelvo
