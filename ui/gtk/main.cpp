// zelvo-dialog: shows one dialog and hands the answer back on standard output
// and in the exit code (see DialogCommand.h).
#include "BrowserDialog.h"
#include "ConsentDialog.h"
#include "DialogCommand.h"
#include "MessageBox.h"
#include "PinDialog.h"

#include <csignal>
#include <cstdio>
#include <gtk/gtk.h>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// GTK and fontconfig keep their one-time allocations until exit; reporting them
// would change the exit code the caller reads. A caller that asks for leak
// checks in its environment (and passes it on to us) still gets none of the
// toolkit's own.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() { return "detect_leaks=0"; }
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libglib-2.0.so\n"
           "leak:libgobject-2.0.so\n"
           "leak:libgio-2.0.so\n"
           "leak:libgtk-3.so\n"
           "leak:libgdk-3.so\n"
           "leak:libpango-1.0.so\n"
           "leak:libpangoft2-1.0.so\n"
           "leak:libpangocairo-1.0.so\n"
           "leak:libcairo.so\n"
           "leak:libharfbuzz.so\n"
           "leak:libX11.so\n"
           "leak:libatk-1.0.so\n"
           "leak:libatk-bridge-2.0.so\n"
           "leak:libgdk_pixbuf-2.0.so\n"
           "leak:librsvg-2.so\n";
}
#endif

using namespace zelvo::ui;

int main(int argc, char** argv) {
    // A caller that stops reading must not kill us before we report it.
    std::signal(SIGPIPE, SIG_IGN);

    // Ours are read first and GTK gets none of them: a browser's name must
    // never be taken for a toolkit option.
    std::vector<std::string> args(argv + 1, argv + argc);
    DialogCommand::Parsed parsed = DialogCommand::parse(args);
    if (!parsed.command) {
        std::fprintf(stderr, "zelvo-dialog: %s\n%s", parsed.error.c_str(), DialogCommand::usage());
        return exitcode::failed;
    }
    g_set_prgname("zelvo-dialog");
    if (!gtk_init_check(nullptr, nullptr)) {
        std::fprintf(stderr, "zelvo-dialog: No se puede abrir la pantalla gráfica\n");
        return exitcode::failed;
    }
    const DialogCommand& command = *parsed.command;
    switch (command.kind) {
        case DialogCommand::Kind::message:
            MessageBox::run(nullptr, command.icon, command.title, command.text);
            return exitcode::done;
        case DialogCommand::Kind::browser: {
            BrowserDialog dialog(command);
            return dialog.run();
        }
        case DialogCommand::Kind::pin: {
            PinDialog dialog(command.pinType);
            return dialog.run();
        }
        case DialogCommand::Kind::consent: {
            ConsentDialog dialog(command.origin, command.text);
            return dialog.run();
        }
    }
    return exitcode::failed;
}
