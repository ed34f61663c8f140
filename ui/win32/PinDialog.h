#pragma once
#include "Dialog.h"
#include "PinForm.h"

namespace zelvo::ui {

// The window that asks for the current PIN and the new one (twice). It stays
// above other windows and out of the task bar; what to accept is PinForm's call.
class PinDialog : private Dialog {
public:
    explicit PinDialog(PinType type);

    // Runs until the dialog ends; on acceptance writes the two PINs to standard
    // output. Returns the exit code (0 accepted, 1 cancelled, 2 closed).
    int run();

private:
    std::string creationFailure(unsigned long error) const override;
    void initialise() override;
    bool command(int id) override;
    void close() override;
    void destroyed() override { wipeFields(); }
    void accept();
    SecretString fieldText(int field) const;
    void wipeFields();

    PinType type_;
    HWND fields_[3] = {};
    SecretString answer_;
};

}  // namespace zelvo::ui
