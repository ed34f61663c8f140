#include "ConsentDialog.h"

#include "DialogCommand.h"
#include "Output.h"
#include "Wide.h"
#include "resource.h"

namespace zelvo::ui {

namespace {

// A window's device context for as long as it is in scope.
class WindowDC {
public:
    explicit WindowDC(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDC() {
        if (dc_) ReleaseDC(window_, dc_);
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// The height of a line of text in a control's font, in pixels.
int lineHeight(HWND control) {
    WindowDC dc(control);
    if (!dc.get()) return 0;
    HGDIOBJ old = SelectObject(dc.get(), reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
    TEXTMETRICW metrics{};
    int height = GetTextMetricsW(dc.get(), &metrics) ? metrics.tmHeight : 0;
    SelectObject(dc.get(), old);
    return height;
}

// The dialog's font in bold, for the site's name; null when it cannot be made.
HFONT boldFont(HWND dialog) {
    LOGFONTW font{};
    auto normal = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    if (!normal || !GetObjectW(normal, sizeof font, &font)) return nullptr;
    font.lfWeight = FW_BOLD;
    return CreateFontIndirectW(&font);
}

}  // namespace

ConsentDialog::ConsentDialog(const std::string& origin, const std::string& application)
    : Dialog(IDD_CONSENT), origin_(origin), application_(application) {}

int ConsentDialog::run() {
    int result = show();
    if (result == exitcode::failed) return result;
    const char* answer = remembered_ ? "1\n" : "0\n";
    return writeOutput(answer, 2) ? result : exitcode::failed;
}

bool ConsentDialog::command(int id) {
    switch (id) {
        case IDC_CONSENT_ALLOW: finish(true); return true;
        case IDCANCEL: finish(false); return true;  // "Rechazar", Return (the default), Esc
    }
    return false;
}

void ConsentDialog::close() { finish(false); }

void ConsentDialog::initialise() {
    SendDlgItemMessageW(window_, IDC_CONSENT_ICON, STM_SETICON,
                        reinterpret_cast<WPARAM>(LoadIconW(nullptr, IDI_QUESTION)), 0);
    // The site stands on a line of its own, whole and in bold, and can be
    // selected and copied to be checked.
    bold_.reset(boldFont(window_));
    if (bold_)
        SendDlgItemMessageW(window_, IDC_CONSENT_SITE, WM_SETFONT, reinterpret_cast<WPARAM>(bold_.get()), FALSE);
    // Flush with the labels above and below them.
    for (int id : {IDC_CONSENT_SITE, IDC_CONSENT_APPLICATION})
        SendDlgItemMessageW(window_, id, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, 0);
    setText(IDC_CONSENT_SITE, origin_);
    setText(IDC_CONSENT_APPLICATION, "quiere usar " + application_ + " en este equipo.");
    fitLines(IDC_CONSENT_SITE, 10);
    fitLines(IDC_CONSENT_APPLICATION, 6);
    centre();
    // Return refuses unless the user went to "Permitir" on purpose.
    openWith(item(IDCANCEL));
}

void ConsentDialog::fitLines(int id, int maxLines) {
    HWND control = item(id);
    auto lines = static_cast<int>(SendMessageW(control, EM_GETLINECOUNT, 0, 0));
    int height = lineHeight(control);
    if (lines <= 0 || height <= 0) return;
    RECT box;
    GetWindowRect(control, &box);
    MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&box), 2);
    int grow = (lines < maxLines ? lines : maxLines) * height - (box.bottom - box.top);
    if (grow <= 0) return;
    for (HWND child = GetWindow(window_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT other;
        GetWindowRect(child, &other);
        MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&other), 2);
        if (other.top >= box.bottom)
            SetWindowPos(child, nullptr, other.left, other.top + grow, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    SetWindowPos(control, nullptr, 0, 0, box.right - box.left, box.bottom - box.top + grow,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT frame;
    GetWindowRect(window_, &frame);
    SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top + grow,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void ConsentDialog::finish(bool allowed) {
    remembered_ = SendDlgItemMessageW(window_, IDC_CONSENT_REMEMBER, BM_GETCHECK, 0, 0) == BST_CHECKED;
    end(allowed ? exitcode::done : exitcode::cancelled);
}

}  // namespace zelvo::ui
