#pragma once
#include "BrowserList.h"
#include "DialogCommand.h"

#include <gtk/gtk.h>

namespace zelvo::ui {

// The window in which the user picks the browser that opens a page and, when
// offered, asks for a secure connection.
class BrowserDialog {
public:
    explicit BrowserDialog(const DialogCommand& command);
    ~BrowserDialog();
    BrowserDialog(const BrowserDialog&) = delete;
    BrowserDialog& operator=(const BrowserDialog&) = delete;

    // Runs until the dialog ends. "Ejecutar" writes the answer to standard
    // output and gives 0; any other way out gives 1.
    int run();

private:
    static void onExecute(GtkButton*, gpointer self);
    static void onClose(GtkButton*, gpointer self);
    static gboolean onKey(GtkWidget*, GdkEventKey* event, gpointer self);
    static gboolean onDelete(GtkWidget*, GdkEvent*, gpointer self);

    void execute();
    void finish(int result);

    BrowserList list_;
    bool secureOffered_;
    GtkWidget* window_ = nullptr;
    GtkWidget* combo_ = nullptr;
    GtkWidget* secure_ = nullptr;
    int result_ = -1;
    std::string answer_;
};

}  // namespace zelvo::ui
