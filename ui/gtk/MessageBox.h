#pragma once
#include "DialogCommand.h"

#include <gtk/gtk.h>
#include <string>

namespace zelvo::ui {

// A message box: icon, caption, text and one "Aceptar" button.
class MessageBox {
public:
    // Shows the box and returns once it is dismissed (button, Return, Esc or the
    // window frame). With an owner the box is modal and kept over it.
    static void run(GtkWindow* owner, Icon icon, const std::string& caption, const std::string& text);
};

}  // namespace zelvo::ui
