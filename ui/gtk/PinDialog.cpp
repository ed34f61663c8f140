#include "PinDialog.h"

#include "DialogCommand.h"
#include "MessageBox.h"
#include "Output.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace zelvo::ui {

namespace {
const char* const fieldLabels[3] = {"PIN Actual", "Nuevo PIN", "Reingrese nuevo PIN"};
}

PinDialog::PinDialog(PinType type) {
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* window = GTK_WINDOW(window_);
    gtk_window_set_title(window, PinForm::title(type).c_str());
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_keep_above(window, TRUE);
    gtk_window_set_skip_taskbar_hint(window, TRUE);
    gtk_window_set_skip_pager_hint(window, TRUE);

    GtkWidget* layout = gtk_box_new(GTK_ORIENTATION_VERTICAL, 14);
    gtk_container_set_border_width(GTK_CONTAINER(layout), 14);
    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 8);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
    for (int i = 0; i < 3; ++i) {
        GtkWidget* label = gtk_label_new(fieldLabels[i]);
        gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
        GtkWidget* field = gtk_entry_new();
        GtkEntry* entry = GTK_ENTRY(field);
        gtk_entry_set_visibility(entry, FALSE);
        gtk_entry_set_max_length(entry, static_cast<gint>(PinForm::maxLength));
        gtk_entry_set_width_chars(entry, 18);  // wide enough for the whole title
        gtk_entry_set_input_purpose(entry, GTK_INPUT_PURPOSE_PIN);
        gtk_entry_set_activates_default(entry, TRUE);
        gtk_label_set_mnemonic_widget(GTK_LABEL(label), field);
        gtk_grid_attach(GTK_GRID(grid), label, 0, i, 1, 1);
        gtk_grid_attach(GTK_GRID(grid), field, 1, i, 1, 1);
        fields_[i] = field;
    }

    GtkWidget* buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
    gtk_box_set_spacing(GTK_BOX(buttons), 6);
    GtkWidget* acceptButton = gtk_button_new_with_label("Aceptar");
    GtkWidget* cancelButton = gtk_button_new_with_label("Cancelar");
    gtk_container_add(GTK_CONTAINER(buttons), acceptButton);
    gtk_container_add(GTK_CONTAINER(buttons), cancelButton);
    gtk_widget_set_can_default(acceptButton, TRUE);

    gtk_box_pack_start(GTK_BOX(layout), grid, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(layout), buttons, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(window_), layout);
    gtk_window_set_default(window, acceptButton);

    g_signal_connect(acceptButton, "clicked", G_CALLBACK(onAccept), this);
    g_signal_connect(cancelButton, "clicked", G_CALLBACK(onCancel), this);
    g_signal_connect(window_, "key-press-event", G_CALLBACK(onKey), this);
    g_signal_connect(window_, "delete-event", G_CALLBACK(onDelete), this);
}

PinDialog::~PinDialog() {
    wipeFields();
    gtk_widget_destroy(window_);
}

int PinDialog::run() {
    gtk_widget_show_all(window_);
    gtk_window_present(GTK_WINDOW(window_));
    gtk_main();
    wipeFields();
    gtk_widget_hide(window_);
    if (result_ != exitcode::done) return result_;
    bool delivered = writeAll(STDOUT_FILENO, answer_.data(), answer_.size());
    answer_.clear();
    return delivered ? exitcode::done : exitcode::failed;
}

SecretString PinDialog::fieldText(int field) const {
    GtkEntryBuffer* buffer = gtk_entry_get_buffer(GTK_ENTRY(fields_[field]));
    return SecretString(gtk_entry_buffer_get_text(buffer), gtk_entry_buffer_get_bytes(buffer));
}

void PinDialog::wipeFields() {
    for (GtkWidget* field : fields_) {
        GtkEntryBuffer* buffer = gtk_entry_get_buffer(GTK_ENTRY(field));
        gsize bytes = gtk_entry_buffer_get_bytes(buffer);
        if (bytes == 0) continue;
        // Writing the same number of bytes again lands on the PIN's own bytes.
        std::string filler(bytes, '0');
        gtk_entry_buffer_set_text(buffer, filler.c_str(), -1);
        gtk_entry_buffer_delete_text(buffer, 0, -1);
    }
}

void PinDialog::accept() {
    SecretString currentPin = fieldText(PinForm::current);
    SecretString newPin = fieldText(PinForm::fresh);
    SecretString confirmation = fieldText(PinForm::confirmation);
    PinForm::Verdict verdict = PinForm::check(currentPin.str(), newPin.str(), confirmation.str());
    if (verdict.accepted) {
        answer_ = PinForm::answer(currentPin.str(), newPin.str());
        finish(exitcode::done);
        return;
    }
    // As every message box of this program: the same words on standard error.
    std::fprintf(stderr, "%s: %s\n", verdict.notice.caption.c_str(), verdict.notice.text.c_str());
    std::fflush(stderr);
    MessageBox::run(GTK_WINDOW(window_), Icon::warning, verdict.notice.caption, verdict.notice.text);
    if (verdict.focus) gtk_widget_grab_focus(fields_[*verdict.focus]);
    gtk_window_present(GTK_WINDOW(window_));
}

void PinDialog::finish(int result) {
    if (result_ != -1) return;
    result_ = result;
    gtk_main_quit();
}

void PinDialog::onAccept(GtkButton*, gpointer self) { static_cast<PinDialog*>(self)->accept(); }

void PinDialog::onCancel(GtkButton*, gpointer self) { static_cast<PinDialog*>(self)->finish(exitcode::cancelled); }

gboolean PinDialog::onKey(GtkWidget*, GdkEventKey* event, gpointer self) {
    if (event->keyval != GDK_KEY_Escape) return FALSE;
    static_cast<PinDialog*>(self)->finish(exitcode::cancelled);
    return TRUE;
}

gboolean PinDialog::onDelete(GtkWidget*, GdkEvent*, gpointer self) {
    static_cast<PinDialog*>(self)->finish(exitcode::closed);
    return TRUE;  // the window goes when the dialog object does
}

}  // namespace zelvo::ui
