#include "zelvo/message_box.h"

#include "zelvo/dialog.h"
#include "zelvo/utf16.h"

#include <windows.h>

#include <cstdio>

namespace zelvo {

bool hasGraphicalSession() { return true; }

void showMessageBox(const std::string& caption, const std::string& text, MessageIcon icon, MessageOwner owner) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    const UINT type = icon == MessageIcon::error     ? MB_ICONERROR
                      : icon == MessageIcon::warning ? MB_ICONWARNING
                                                     : MB_ICONINFORMATION;
    HWND parent = owner == MessageOwner::console ? GetConsoleWindow() : nullptr;
    // Our own texts are UTF-8; anything that is not is shown as best it can be.
    const std::wstring wideText = toUtf16(text).value_or(L"");
    const std::wstring wideCaption = toUtf16(caption).value_or(L"");
    MessageBoxW(parent, wideText.c_str(), wideCaption.c_str(), MB_OK | type | MB_SETFOREGROUND);
}

}  // namespace zelvo
