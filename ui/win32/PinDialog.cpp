#include "PinDialog.h"

#include "DialogCommand.h"
#include "MessageBox.h"
#include "Output.h"
#include "Wide.h"
#include "resource.h"

#include <string>

namespace zelvo::ui {

namespace {
const int fieldIds[3] = {IDC_PIN_CURRENT, IDC_PIN_NEW, IDC_PIN_CONFIRMATION};
// Longer text (put there other than by typing) is cut when read; it is still too
// long to be accepted.
constexpr int readLimit = 32;
}  // namespace

PinDialog::PinDialog(PinType type) : Dialog(IDD_PIN), type_(type) {}

int PinDialog::run() {
    int result = show();
    if (result != exitcode::done) return result;
    bool delivered = writeOutput(answer_.data(), answer_.size());
    answer_.clear();
    return delivered ? exitcode::done : exitcode::failed;
}

std::string PinDialog::creationFailure(unsigned long error) const {
    return "Error creando dialogo " + std::to_string(error);
}

bool PinDialog::command(int id) {
    switch (id) {
        case IDOK: accept(); return true;                      // "Aceptar" and Return
        case IDCANCEL: end(exitcode::cancelled); return true;  // "Cancelar" and Esc
    }
    return false;
}

void PinDialog::close() { end(exitcode::closed); }

void PinDialog::initialise() {
    SetWindowTextW(window_, widen(PinForm::title(type_)).c_str());
    for (int i = 0; i < 3; ++i) {
        fields_[i] = item(fieldIds[i]);
        SendMessageW(fields_[i], EM_LIMITTEXT, PinForm::maxLength, 0);
    }
    centre();
    SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    openWith(fields_[PinForm::current]);
}

SecretString PinDialog::fieldText(int field) const {
    wchar_t wide[readLimit];
    char utf8[readLimit * 3];
    int units = GetWindowTextW(fields_[field], wide, readLimit);
    // An unpaired surrogate becomes U+FFFD, which is no digit: the check refuses it.
    int bytes = units > 0 ? WideCharToMultiByte(CP_UTF8, 0, wide, units, utf8, sizeof utf8, nullptr, nullptr) : 0;
    SecretString text(utf8, bytes > 0 ? static_cast<std::size_t>(bytes) : 0);
    SecureZeroMemory(wide, sizeof wide);
    SecureZeroMemory(utf8, sizeof utf8);
    return text;
}

void PinDialog::wipeFields() {
    for (HWND field : fields_) {
        int length = field ? GetWindowTextLengthW(field) : 0;
        if (length <= 0) continue;
        // The same number of characters again lands on the PIN's own buffer.
        std::wstring filler(static_cast<std::size_t>(length), L'0');
        SetWindowTextW(field, filler.c_str());
        SetWindowTextW(field, L"");
    }
}

void PinDialog::accept() {
    SecretString currentPin = fieldText(PinForm::current);
    SecretString newPin = fieldText(PinForm::fresh);
    SecretString confirmation = fieldText(PinForm::confirmation);
    PinForm::Verdict verdict = PinForm::check(currentPin.str(), newPin.str(), confirmation.str());
    if (verdict.accepted) {
        answer_ = PinForm::answer(currentPin.str(), newPin.str());
        end(exitcode::done);
        return;
    }
    // As every message box of this program: the same words on standard error.
    writeError(verdict.notice.caption + ": " + verdict.notice.text + "\n");
    showMessage(window_, Icon::warning, verdict.notice.caption, verdict.notice.text);
    if (verdict.focus) focus(fields_[*verdict.focus]);
}

}  // namespace zelvo::ui
