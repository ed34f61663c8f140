#pragma once
#include "DialogCommand.h"

#include <string>
#include <windows.h>

namespace zelvo::ui {

// A system message box with one button. With an owner it is modal to it; without
// one it comes to the front by itself. Returns once it is dismissed: false when
// it could not be shown.
bool showMessage(HWND owner, Icon icon, const std::string& caption, const std::string& text);

}  // namespace zelvo::ui
