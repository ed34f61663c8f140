#include "ConsentDialog.h"

#include "DialogCommand.h"
#include "Output.h"
#include "Utf8.h"

#include <unistd.h>

namespace zelvo::ui {

namespace {

GtkWidget* wrappedLabel(const std::string& text) {
    GtkWidget* label = gtk_label_new(validUtf8(text).c_str());
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    // A long address breaks anywhere rather than being cut short.
    gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 56);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    return label;
}

}  // namespace

ConsentDialog::ConsentDialog(const std::string& origin, const std::string& application) {
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* window = GTK_WINDOW(window_);
    gtk_window_set_title(window, "Permiso de acceso");
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_keep_above(window, TRUE);

    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 16);
    GtkWidget* image = gtk_image_new_from_icon_name("dialog-question", GTK_ICON_SIZE_DIALOG);
    gtk_widget_set_valign(image, GTK_ALIGN_START);
    GtkWidget* texts = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);

    // The site stands on a line of its own, whole and in bold, and can be
    // selected and copied to be checked.
    site_ = wrappedLabel(origin);
    GtkWidget* site = site_;
    PangoAttrList* bold = pango_attr_list_new();
    pango_attr_list_insert(bold, pango_attr_weight_new(PANGO_WEIGHT_BOLD));
    gtk_label_set_attributes(GTK_LABEL(site), bold);
    pango_attr_list_unref(bold);
    gtk_label_set_selectable(GTK_LABEL(site), TRUE);

    gtk_box_pack_start(GTK_BOX(texts), wrappedLabel("El sitio web"), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(texts), site, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(texts), wrappedLabel("quiere usar " + application + " en este equipo."), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(texts), wrappedLabel("Permita el acceso solo si conoce este sitio y confía en él."),
                       FALSE, FALSE, 0);
    remember_ = gtk_check_button_new_with_label("Recordar mi decisión para este sitio");
    gtk_widget_set_margin_top(remember_, 6);
    gtk_box_pack_start(GTK_BOX(texts), remember_, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(row), image, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(row), texts, TRUE, TRUE, 0);

    GtkWidget* buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
    gtk_box_set_spacing(GTK_BOX(buttons), 6);
    refuse_ = gtk_button_new_with_label("Rechazar");
    GtkWidget* allow = gtk_button_new_with_label("Permitir");
    gtk_container_add(GTK_CONTAINER(buttons), refuse_);
    gtk_container_add(GTK_CONTAINER(buttons), allow);

    GtkWidget* page = gtk_box_new(GTK_ORIENTATION_VERTICAL, 14);
    gtk_container_set_border_width(GTK_CONTAINER(page), 14);
    gtk_box_pack_start(GTK_BOX(page), row, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(page), buttons, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(window_), page);

    // Enter refuses unless the user went to "Permitir" on purpose.
    gtk_widget_set_can_default(refuse_, TRUE);
    gtk_window_set_default(window, refuse_);

    g_signal_connect(allow, "clicked", G_CALLBACK(onAllow), this);
    g_signal_connect(refuse_, "clicked", G_CALLBACK(onRefuse), this);
    g_signal_connect(window_, "key-press-event", G_CALLBACK(onKey), this);
    g_signal_connect(window_, "delete-event", G_CALLBACK(onDelete), this);
}

ConsentDialog::~ConsentDialog() { gtk_widget_destroy(window_); }

int ConsentDialog::run() {
    gtk_widget_show_all(window_);
    gtk_widget_grab_focus(refuse_);
    // The site's text, the first widget to take focus, had it for a moment: it
    // should not stay shown as selected.
    gtk_label_select_region(GTK_LABEL(site_), 0, 0);
    gtk_window_present(GTK_WINDOW(window_));
    gtk_main();
    gtk_widget_hide(window_);
    const char* answer = remembered_ ? "1\n" : "0\n";
    return writeAll(STDOUT_FILENO, answer, 2) ? result_ : exitcode::failed;
}

void ConsentDialog::finish(bool allowed) {
    if (result_ != -1) return;
    result_ = allowed ? exitcode::done : exitcode::cancelled;
    remembered_ = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(remember_));
    gtk_main_quit();
}

void ConsentDialog::onAllow(GtkButton*, gpointer self) { static_cast<ConsentDialog*>(self)->finish(true); }

void ConsentDialog::onRefuse(GtkButton*, gpointer self) { static_cast<ConsentDialog*>(self)->finish(false); }

gboolean ConsentDialog::onKey(GtkWidget*, GdkEventKey* event, gpointer self) {
    if (event->keyval != GDK_KEY_Escape) return FALSE;
    static_cast<ConsentDialog*>(self)->finish(false);
    return TRUE;
}

gboolean ConsentDialog::onDelete(GtkWidget*, GdkEvent*, gpointer self) {
    static_cast<ConsentDialog*>(self)->finish(false);
    return TRUE;
}

}  // namespace zelvo::ui
