#pragma once
// The launcher's message boxes. Windows: MessageBoxW in the process itself.
// Linux: a line "caption: text" on standard error and, in a graphical session,
// the same box shown by zelvo-dialog, waiting until it is dismissed. On Windows
// the line goes to standard error too (the console build shows it).
#include <string>

namespace zelvo {

enum class MessageIcon { error, warning, information };
// Whose box it is: nobody's, or the console window of the process (none when it
// has no console).
enum class MessageOwner { none, console };

void showMessageBox(const std::string& caption, const std::string& text, MessageIcon icon,
                    MessageOwner owner = MessageOwner::none);

}  // namespace zelvo
