#pragma once
#include "PinForm.h"

#include <optional>
#include <string>
#include <vector>

namespace zelvo::ui {

// Exit codes of zelvo-dialog.
namespace exitcode {
constexpr int done = 0;       // dismissed, "Ejecutar", or PINs accepted
constexpr int cancelled = 1;  // "Cerrar", "Cancelar", Esc (browser: any close)
constexpr int closed = 2;     // PIN dialog closed from the window frame
constexpr int failed = 3;     // bad arguments, no display, answer not delivered
}  // namespace exitcode

enum class Icon { error, warning, information };

// Which dialog to show and with what, from the program's arguments:
//   message --icon error|warning|info --title CAPTION --text TEXT
//   browser --title TITLE [--secure] [--hide-secure] [--] NAME...
//   pin --type auth|sign
//   consent --origin ORIGIN --application TEXT
// Options may come in any order; "--" ends the options of the browser dialog,
// so that any word after it is taken as a browser's name.
struct DialogCommand {
    enum class Kind { message, browser, pin, consent };
    Kind kind = Kind::message;
    Icon icon = Icon::information;
    std::string title;  // caption of the message box, title of the browser dialog
    std::string text;   // message; for consent, what the site wants to use
    std::string origin;  // consent: the site that asks
    bool secure = false;      // the check box starts ticked
    bool hideSecure = false;  // the check box is not shown (the answer is then always 0)
    std::vector<std::string> names;
    PinType pinType = PinType::auth;

    struct Parsed;
    static Parsed parse(const std::vector<std::string>& args);
    static const char* usage();
};

struct DialogCommand::Parsed {
    std::optional<DialogCommand> command;
    std::string error;  // why there is none, in the user's words
};

}  // namespace zelvo::ui
