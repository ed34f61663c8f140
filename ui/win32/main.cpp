// zelvo-dialog for Windows: shows one dialog and hands the answer back on
// standard output and in the exit code (see DialogCommand.h), as the GTK
// program does on Linux.
#include "BrowserDialog.h"
#include "ConsentDialog.h"
#include "DialogCommand.h"
#include "MessageBox.h"
#include "Output.h"
#include "PinDialog.h"
#include "Wide.h"

#include <windows.h>  // before the other Windows headers

#include <commctrl.h>
#include <memory>
#include <optional>
#include <shellapi.h>
#include <string>
#include <vector>

using namespace zelvo::ui;

namespace {

struct LocalDeleter {
    void operator()(wchar_t** block) const { LocalFree(block); }
};

// The program's arguments as UTF-8, without the program's own name; none when one
// of them is not well-formed UTF-16 (its number in `bad`).
std::optional<std::vector<std::string>> arguments(int& bad) {
    int count = 0;
    std::unique_ptr<wchar_t*, LocalDeleter> argv(CommandLineToArgvW(GetCommandLineW(), &count));
    std::vector<std::string> args;
    if (!argv) return args;
    for (int i = 1; i < count; ++i) {
        const wchar_t* arg = argv.get()[i];
        std::optional<std::string> text = narrow(arg, wcslen(arg));
        if (!text) {
            bad = i;
            return std::nullopt;
        }
        args.push_back(std::move(*text));
    }
    return args;
}

int show(const DialogCommand& command) {
    switch (command.kind) {
        case DialogCommand::Kind::message:
            if (showMessage(nullptr, command.icon, command.title, command.text)) return exitcode::done;
            writeError("zelvo-dialog: No se puede mostrar el mensaje: " + command.title + ": " + command.text + "\n");
            return exitcode::failed;
        case DialogCommand::Kind::browser: return BrowserDialog(command).run();
        case DialogCommand::Kind::pin: return PinDialog(command.pinType).run();
        case DialogCommand::Kind::consent: return ConsentDialog(command.origin, command.text).run();
    }
    return exitcode::failed;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int bad = 0;
    std::optional<std::vector<std::string>> args = arguments(bad);
    if (!args) {
        writeError("zelvo-dialog: El argumento " + std::to_string(bad) + " no es texto válido\n" +
                   DialogCommand::usage());
        return exitcode::failed;
    }
    DialogCommand::Parsed parsed = DialogCommand::parse(*args);
    if (!parsed.command) {
        writeError("zelvo-dialog: " + parsed.error + "\n" + DialogCommand::usage());
        return exitcode::failed;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    return show(*parsed.command);
}
