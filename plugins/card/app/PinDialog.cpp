#include "app/PinDialog.h"

#include <thread>

#include "app/Guarded.h"
#include "base/AppException.h"
#include "zelvo/dialog.h"
#include "zelvo/log.h"

PinDialog::State& PinDialog::state() {
    static State s;
    return s;
}

void PinDialog::wipe() {
    zelvo::wipe(state().currentPin);
    zelvo::wipe(state().newPin);
}

bool PinDialog::parseAnswer(const std::string& output, std::string& currentPin, std::string& newPin) {
    auto isPin = [](const std::string& s) {
        if (s.empty() || s.size() > 8) return false;
        for (char c : s)
            if (c < '0' || c > '9') return false;
        return true;
    };
    const size_t first = output.find('\n');
    if (first == std::string::npos) return false;
    const size_t second = output.find('\n', first + 1);
    if (second == std::string::npos || second + 1 != output.size()) return false;
    std::string current = output.substr(0, first);
    std::string replacement = output.substr(first + 1, second - first - 1);
    const bool ok = isPin(current) && isPin(replacement);
    if (ok) {
        currentPin.swap(current);
        newPin.swap(replacement);
    }
    zelvo::wipe(current);
    zelvo::wipe(replacement);
    return ok;
}

void PinDialog::runDialog(int type) {
    State& s = state();
    s.type = type;
    s.result = -1;
    s.malformed = false;
    wipe();
    zelvo::DialogResult answer;
    // An exception must not end the thread (and the launcher with it): a cancel.
    guarded("PinDialog::runDialog", [&] {
        // The plug-in's own address: the dialog program is looked for beside it.
        answer = zelvo::runDialog({"pin", "--type", type == SIGN ? "sign" : "auth"},
                                  reinterpret_cast<const void*>(&PinDialog::runDialog));
        if (answer.exitCode < 0 || answer.exitCode == kCannotShow) {
            // No program, or no graphical session: the dialog was never there.
            LOG_ERROR("PinDialog::runDialog") << "No se ha podido crear el diálogo";
            zelvo::showMessageBox("Error", "Error creando dialogo " + std::to_string(answer.exitCode),
                                  zelvo::MessageIcon::warning);
        } else if (answer.exitCode == 0) {
            if (parseAnswer(answer.output, s.currentPin, s.newPin)) s.result = 0;
            else s.malformed = true;
        } else if (answer.exitCode == 1 || answer.exitCode == 2) {
            s.result = answer.exitCode;
        } else {
            s.malformed = true;
        }
    }, [&](const AppException&) {
        s.result = -1;
        s.malformed = false;
        wipe();
    });
    zelvo::wipe(answer.output);
}

int PinDialog::backgroundRun(int type) {
    LOG_INFO("PinDialog::backgroundRun") << "Mostrando diálogo de ingreso de pin";
    std::thread dialog(&PinDialog::runDialog, type);
    dialog.join();
    if (state().malformed)
        APP_THROW("PinDialog::backgroundRun", "dialog output", "Respuesta no válida del diálogo de ingreso de PIN");
    return state().result;
}
