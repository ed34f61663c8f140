#include "zelvo/console.h"

#include <windows.h>

namespace zelvo {

// The records are UTF-8 bytes; the console shows them as such only in code page 65001.
void prepareConsoleForText() { SetConsoleOutputCP(CP_UTF8); }

}  // namespace zelvo
