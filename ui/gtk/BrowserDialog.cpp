#include "BrowserDialog.h"

#include "Output.h"
#include "Utf8.h"

#include <cstdio>
#include <unistd.h>

namespace zelvo::ui {

BrowserDialog::BrowserDialog(const DialogCommand& command)
    : list_(command.names), secureOffered_(!command.hideSecure) {
    for (const auto& name : list_.refused())
        std::fprintf(stderr, "zelvo-dialog: navegador no ofrecido, su nombre ocupa varias líneas: %s\n",
                     validUtf8(name).c_str());

    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* window = GTK_WINDOW(window_);
    gtk_window_set_title(window, validUtf8(command.title).c_str());
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);

    GtkWidget* grid = gtk_grid_new();
    gtk_container_set_border_width(GTK_CONTAINER(grid), 14);
    gtk_grid_set_row_spacing(GTK_GRID(grid), 12);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 12);

    GtkWidget* label = gtk_label_new("Navegador Web");
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    combo_ = gtk_combo_box_text_new();
    for (const auto& entry : list_.entries())
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo_), entry.display.c_str());
    // Long names are cut short instead of widening the dialog.
    GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(combo_));
    for (GList* cell = cells; cell; cell = cell->next)
        if (GTK_IS_CELL_RENDERER_TEXT(cell->data))
            g_object_set(cell->data, "ellipsize", PANGO_ELLIPSIZE_END, "width-chars", 44, "max-width-chars", 44,
                         nullptr);
    g_list_free(cells);
    gtk_combo_box_set_active(GTK_COMBO_BOX(combo_), 0);
    gtk_widget_set_hexpand(combo_, TRUE);
    gtk_label_set_mnemonic_widget(GTK_LABEL(label), combo_);

    secure_ = gtk_check_button_new_with_label("Conexión segura");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(secure_), command.secure && secureOffered_);
    gtk_widget_set_no_show_all(secure_, !secureOffered_);

    GtkWidget* buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
    gtk_box_set_spacing(GTK_BOX(buttons), 6);
    gtk_widget_set_hexpand(buttons, TRUE);
    GtkWidget* executeButton = gtk_button_new_with_label("Ejecutar");
    GtkWidget* closeButton = gtk_button_new_with_label("Cerrar");
    gtk_container_add(GTK_CONTAINER(buttons), executeButton);
    gtk_container_add(GTK_CONTAINER(buttons), closeButton);

    gtk_grid_attach(GTK_GRID(grid), label, 0, 0, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), combo_, 1, 0, 2, 1);
    gtk_grid_attach(GTK_GRID(grid), secure_, 1, 1, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), buttons, 2, 1, 1, 1);
    gtk_container_add(GTK_CONTAINER(window_), grid);

    g_signal_connect(executeButton, "clicked", G_CALLBACK(onExecute), this);
    g_signal_connect(closeButton, "clicked", G_CALLBACK(onClose), this);
    g_signal_connect(window_, "key-press-event", G_CALLBACK(onKey), this);
    g_signal_connect(window_, "delete-event", G_CALLBACK(onDelete), this);
}

BrowserDialog::~BrowserDialog() { gtk_widget_destroy(window_); }

int BrowserDialog::run() {
    gtk_widget_show_all(window_);
    gtk_window_present(GTK_WINDOW(window_));
    gtk_main();
    gtk_widget_hide(window_);
    if (result_ != exitcode::done) return result_;
    return writeAll(STDOUT_FILENO, answer_.data(), answer_.size()) ? exitcode::done : exitcode::failed;
}

void BrowserDialog::execute() {
    int index = gtk_combo_box_get_active(GTK_COMBO_BOX(combo_));
    std::string name;
    if (index >= 0 && static_cast<std::size_t>(index) < list_.entries().size()) name = list_.entries()[index].name;
    // A hidden box never asks for a secure connection.
    bool secure = secureOffered_ && gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(secure_));
    answer_ = BrowserList::answer(name, secure);
    finish(exitcode::done);
}

void BrowserDialog::finish(int result) {
    if (result_ != -1) return;
    result_ = result;
    gtk_main_quit();
}

void BrowserDialog::onExecute(GtkButton*, gpointer self) { static_cast<BrowserDialog*>(self)->execute(); }

void BrowserDialog::onClose(GtkButton*, gpointer self) { static_cast<BrowserDialog*>(self)->finish(exitcode::cancelled); }

gboolean BrowserDialog::onKey(GtkWidget*, GdkEventKey* event, gpointer self) {
    if (event->keyval != GDK_KEY_Escape) return FALSE;
    static_cast<BrowserDialog*>(self)->finish(exitcode::cancelled);
    return TRUE;
}

gboolean BrowserDialog::onDelete(GtkWidget*, GdkEvent*, gpointer self) {
    static_cast<BrowserDialog*>(self)->finish(exitcode::cancelled);
    return TRUE;
}

}  // namespace zelvo::ui
