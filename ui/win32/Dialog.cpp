#include "Dialog.h"

#include "DialogCommand.h"
#include "MessageBox.h"
#include "Output.h"
#include "Wide.h"

namespace zelvo::ui {

namespace {
// Posted once the dialog is shown: the window can take the foreground only then.
constexpr UINT opened = WM_APP + 1;
}  // namespace

int Dialog::show() {
    INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resource_), nullptr, procedure,
                                     reinterpret_cast<LPARAM>(this));
    if (result != -1) return static_cast<int>(result);
    std::string text = creationFailure(GetLastError());
    writeError("Error: " + text + "\n");
    showMessage(nullptr, Icon::warning, "Error", text);
    return exitcode::failed;
}

std::string Dialog::creationFailure(unsigned long) const { return "No se puede iniciar la aplicación"; }

INT_PTR CALLBACK Dialog::procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    Dialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lparam);
        self->window_ = window;
        SetWindowLongPtrW(window, DWLP_USER, lparam);
    } else {
        self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(window, DWLP_USER));
    }
    if (self == nullptr) return FALSE;  // messages sent before WM_INITDIALOG
    switch (message) {
        case WM_INITDIALOG:
            self->initialise();
            return FALSE;  // the focus is set
        case opened:
            SetForegroundWindow(window);
            if (self->openFocus_) self->focus(self->openFocus_);
            return TRUE;
        case WM_COMMAND:
            return self->command(LOWORD(wparam)) ? TRUE : FALSE;
        case WM_CLOSE:
            self->close();
            return TRUE;
        case WM_DESTROY:
            self->destroyed();
            return FALSE;
    }
    return FALSE;
}

void Dialog::close() { end(exitcode::cancelled); }

void Dialog::openWith(HWND control) {
    openFocus_ = control;
    focus(control);
    PostMessageW(window_, opened, 0, 0);
}

void Dialog::focus(HWND control) const {
    // Through the dialog manager, so that the default button follows and an
    // edit field's text comes selected.
    SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

void Dialog::setText(int id, const std::string& text) const { SetDlgItemTextW(window_, id, widen(text).c_str()); }

void Dialog::centre() const {
    RECT rect;
    if (!GetWindowRect(window_, &rect)) return;
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    SetWindowPos(window_, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace zelvo::ui
