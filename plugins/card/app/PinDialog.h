#pragma once
// Asks the user for the current and the new PIN in the dialog program
// (zelvo-dialog pin), run from a thread of its own. The PINs come back only
// through the program's standard output pipe.
#include <string>

class PinDialog {
public:
    enum Type { AUTH = 1, SIGN = 2 };
    // -1: the dialog could not be shown (no program, no graphical session: a
    // message box says so) or failed; 0: accepted; 1: cancelled (button or
    // Escape); 2: the window was closed. Throws AppException when the program
    // answers something other than two PINs of 1 to 8 digits.
    static int backgroundRun(int type);

    // The accepted PINs, until the next dialog starts or wipe() is called.
    static const std::string& currentPin() { return state().currentPin; }
    static const std::string& newPin() { return state().newPin; }
    static void wipe();

    // Reads "<current PIN>\n<new PIN>\n"; false when it is not that.
    static bool parseAnswer(const std::string& output, std::string& currentPin, std::string& newPin);

private:
    // Written by the dialog thread, read by the action's thread only after the
    // join; one dialog at a time (the host delivers one request at a time).
    struct State {
        int type = AUTH;
        int result = -1;
        bool malformed = false;
        std::string currentPin;
        std::string newPin;
    };
    static State& state();
    static void runDialog(int type);
    // zelvo-dialog's exit code when it cannot show a window (no graphical session).
    static constexpr int kCannotShow = 3;
};
