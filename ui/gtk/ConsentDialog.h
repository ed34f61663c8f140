#pragma once
#include <gtk/gtk.h>

#include <string>

namespace zelvo::ui {

// The window that asks whether a web site may use an application of this
// computer. "Rechazar" is the default; Esc and closing the window refuse too.
class ConsentDialog {
public:
    ConsentDialog(const std::string& origin, const std::string& application);
    ~ConsentDialog();
    ConsentDialog(const ConsentDialog&) = delete;
    ConsentDialog& operator=(const ConsentDialog&) = delete;

    // Runs until the user answers: exit code 0 allowed, 1 refused; standard
    // output "1\n" when "Recordar mi decisión para este sitio" is ticked, else "0\n".
    int run();

private:
    static void onAllow(GtkButton*, gpointer self);
    static void onRefuse(GtkButton*, gpointer self);
    static gboolean onKey(GtkWidget*, GdkEventKey* event, gpointer self);
    static gboolean onDelete(GtkWidget*, GdkEvent*, gpointer self);

    void finish(bool allowed);

    GtkWidget* window_ = nullptr;
    GtkWidget* site_ = nullptr;
    GtkWidget* remember_ = nullptr;
    GtkWidget* refuse_ = nullptr;
    int result_ = -1;
    bool remembered_ = false;
};

}  // namespace zelvo::ui
