#pragma once
#include "BrowserList.h"
#include "Dialog.h"
#include "DialogCommand.h"

namespace zelvo::ui {

// The window in which the user picks the browser that opens a page and, when
// offered, asks for a secure connection.
class BrowserDialog : private Dialog {
public:
    explicit BrowserDialog(const DialogCommand& command);

    // Runs until the dialog ends. "Ejecutar" writes the answer to standard
    // output and gives 0; "Cerrar", Esc and closing the window give 1.
    int run();

private:
    void initialise() override;
    bool command(int id) override;
    void execute();

    BrowserList list_;
    std::string title_;
    bool secureOffered_;
    bool secureAsked_;
    std::string answer_;
};

}  // namespace zelvo::ui
