#pragma once
// The native dialogs run in a program of their own, zelvo-dialog, started as a
// child: its arguments say which dialog to show, its answer comes back on its
// standard output and exit code. ZELVO_DIALOG names another program to use.
//
//   zelvo-dialog message --icon error|warning|info --title CAPTION --text TEXT
//       exit 0 when dismissed
//   zelvo-dialog browser --title TITLE [--secure] [--hide-secure] NAME...
//       "Ejecutar": exit 0, stdout "<chosen name>\n<0|1>\n"; "Cerrar"/Esc/close: exit 1
//   zelvo-dialog pin --type auth|sign
//       accept: exit 0, stdout "<current PIN>\n<new PIN>\n"; Esc/"Cancelar": 1; close: 2
//   zelvo-dialog consent --origin ORIGIN --application TEXT
//       "Permitir": exit 0; "Rechazar" (the default), Esc, close: exit 1; stdout
//       "1\n" when "Recordar mi decisión para este sitio" was ticked, else "0\n"
#include "zelvo/child_process.h"
#include "zelvo/message_box.h"

#include <memory>
#include <string>
#include <vector>

namespace zelvo {

struct DialogResult {
    int exitCode = -1;   // -1: the program could not be started or did not end normally
    std::string output;  // everything it wrote on standard output
};

// The most a dialog answers; more is no answer.
constexpr std::size_t kLargestDialogAnswer = 64 * 1024;

// The dialog program: $ZELVO_DIALOG, else zelvo-dialog beside the module holding
// `anchor` (or beside the program), else one level up (a plug-in lies in
// plugins/), else "zelvo-dialog" on PATH.
std::string dialogProgram(const void* anchor = nullptr);
// A dialog started without waiting for it (it may come to the front); null when
// it could not be started. The caller reads the answer and waits for its end.
std::unique_ptr<ChildProcess> startDialog(const std::vector<std::string>& args, const void* anchor = nullptr);
// Runs the dialog program with `args`, waits for it and collects its output.
DialogResult runDialog(const std::vector<std::string>& args, const void* anchor = nullptr);
// True when there is a desktop to show a window on (Linux: DISPLAY or
// WAYLAND_DISPLAY; Windows: always).
bool hasGraphicalSession();
// Overwrites a string's bytes before it is released (PINs).
void wipe(std::string& secret);

}  // namespace zelvo
