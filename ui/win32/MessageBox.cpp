#include "MessageBox.h"

#include "Wide.h"

namespace zelvo::ui {

namespace {
UINT iconStyle(Icon icon) {
    switch (icon) {
        case Icon::error: return MB_ICONERROR;
        case Icon::warning: return MB_ICONWARNING;
        case Icon::information: return MB_ICONINFORMATION;
    }
    return MB_ICONINFORMATION;
}
}  // namespace

bool showMessage(HWND owner, Icon icon, const std::string& caption, const std::string& text) {
    UINT style = MB_OK | iconStyle(icon) | (owner ? 0u : static_cast<UINT>(MB_SETFOREGROUND));
    return MessageBoxW(owner, widen(text).c_str(), widen(caption).c_str(), style) != 0;
}

}  // namespace zelvo::ui
