#pragma once
#include <string>
#include <windows.h>

namespace zelvo::ui {

// One modal dialog built from a dialog resource of this program. A subclass fills
// it in and answers its commands; this class runs the window's life and what every
// dialog of ours does: centring, coming to the front with the keyboard when it opens.
class Dialog {
public:
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

protected:
    explicit Dialog(int resource) : resource_(resource) {}
    virtual ~Dialog() = default;

    // Shows the dialog and returns once it has ended: the value given to end().
    // A window that cannot be created is reported in a message box and on
    // standard error, and gives exitcode::failed.
    int show();
    // What that message box says; `error` is the system's error code.
    virtual std::string creationFailure(unsigned long error) const;
    // The window exists, not yet shown: fill it in and choose the focus (openWith).
    virtual void initialise() = 0;
    // A button, or the keyboard's Return (IDOK or the default button) and Esc
    // (IDCANCEL); false when the command means nothing here.
    virtual bool command(int id) = 0;
    // The window's close command (its frame, Alt+F4): a cancel unless said otherwise.
    virtual void close();
    // The window is going; its controls are still there.
    virtual void destroyed() {}
    // Once the window is on the screen: it is brought to the front with the
    // keyboard in `control`.
    void openWith(HWND control);
    void end(int result) { EndDialog(window_, result); }
    // Moves the keyboard to a control of the dialog.
    void focus(HWND control) const;

    HWND item(int id) const { return GetDlgItem(window_, id); }
    void setText(int id, const std::string& text) const;
    // Centres the window on the screen, without changing its size or z-order.
    void centre() const;

    HWND window_ = nullptr;

private:
    static INT_PTR CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

    int resource_;
    HWND openFocus_ = nullptr;
};

}  // namespace zelvo::ui
