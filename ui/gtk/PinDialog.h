#pragma once
#include "PinForm.h"

#include <gtk/gtk.h>

namespace zelvo::ui {

// The window that asks for the current PIN and the new one (twice). It stays
// above other windows and out of the task bar; what to accept is PinForm's call.
class PinDialog {
public:
    explicit PinDialog(PinType type);
    ~PinDialog();
    PinDialog(const PinDialog&) = delete;
    PinDialog& operator=(const PinDialog&) = delete;

    // Runs until the dialog ends; on acceptance writes the two PINs to standard
    // output. Returns the exit code (0 accepted, 1 cancelled, 2 closed).
    int run();

private:
    static void onAccept(GtkButton*, gpointer self);
    static void onCancel(GtkButton*, gpointer self);
    static gboolean onKey(GtkWidget*, GdkEventKey* event, gpointer self);
    static gboolean onDelete(GtkWidget*, GdkEvent*, gpointer self);

    void accept();
    void finish(int result);
    SecretString fieldText(int field) const;
    void wipeFields();

    GtkWidget* window_ = nullptr;
    GtkWidget* fields_[3] = {};
    int result_ = -1;  // -1 while open
    SecretString answer_;
};

}  // namespace zelvo::ui
