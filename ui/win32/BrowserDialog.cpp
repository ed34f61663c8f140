#include "BrowserDialog.h"

#include "Output.h"
#include "Wide.h"
#include "resource.h"

namespace zelvo::ui {

BrowserDialog::BrowserDialog(const DialogCommand& command)
    : Dialog(IDD_BROWSER),
      list_(command.names),
      title_(command.title),
      secureOffered_(!command.hideSecure),
      secureAsked_(command.secure) {
    for (const auto& name : list_.refused())
        writeError("zelvo-dialog: navegador no ofrecido, su nombre ocupa varias líneas: " + name + "\n");
}

int BrowserDialog::run() {
    int result = show();
    if (result != exitcode::done) return result;
    return writeOutput(answer_.data(), answer_.size()) ? exitcode::done : exitcode::failed;
}

bool BrowserDialog::command(int id) {
    switch (id) {
        case IDCANCEL: end(exitcode::cancelled); return true;  // "Cerrar" and Esc
        case IDC_BROWSER_EXECUTE: execute(); return true;
    }
    return false;  // Return: no default button
}

void BrowserDialog::initialise() {
    SetWindowTextW(window_, widen(title_).c_str());
    HWND combo = item(IDC_BROWSER_LIST);
    // The list box sorts what it is given; each item remembers which entry it
    // shows, so the answer is the caller's own name whatever the order.
    const auto& entries = list_.entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        LRESULT index = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(entries[i].display).c_str()));
        if (index >= 0) SendMessageW(combo, CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(i));
    }
    SendMessageW(combo, CB_SETCURSEL, 0, 0);
    HWND secure = item(IDC_BROWSER_SECURE);
    if (secureOffered_) {
        SendMessageW(secure, BM_SETCHECK, secureAsked_ ? BST_CHECKED : BST_UNCHECKED, 0);
    } else {
        ShowWindow(secure, SW_HIDE);
        EnableWindow(secure, FALSE);  // out of the tab order too
    }
    centre();
    openWith(combo);
}

void BrowserDialog::execute() {
    HWND combo = item(IDC_BROWSER_LIST);
    std::string name;
    LRESULT index = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    if (index != CB_ERR) {
        LRESULT entry = SendMessageW(combo, CB_GETITEMDATA, static_cast<WPARAM>(index), 0);
        if (entry >= 0 && static_cast<std::size_t>(entry) < list_.entries().size())
            name = list_.entries()[static_cast<std::size_t>(entry)].name;
    }
    // A hidden box never asks for a secure connection.
    bool secure = secureOffered_ && SendMessageW(item(IDC_BROWSER_SECURE), BM_GETCHECK, 0, 0) == BST_CHECKED;
    answer_ = BrowserList::answer(name, secure);
    ShowWindow(window_, SW_HIDE);
    end(exitcode::done);
}

}  // namespace zelvo::ui
