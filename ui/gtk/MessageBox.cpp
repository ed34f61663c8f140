#include "MessageBox.h"

#include "Utf8.h"

namespace zelvo::ui {

namespace {
const char* iconName(Icon icon) {
    switch (icon) {
        case Icon::error: return "dialog-error";
        case Icon::warning: return "dialog-warning";
        case Icon::information: return "dialog-information";
    }
    return "dialog-information";
}
}  // namespace

void MessageBox::run(GtkWindow* owner, Icon icon, const std::string& caption, const std::string& text) {
    GtkWidget* box = gtk_dialog_new();
    GtkWindow* window = GTK_WINDOW(box);
    gtk_container_set_border_width(GTK_CONTAINER(box), 6);
    gtk_window_set_title(window, validUtf8(caption).c_str());
    gtk_window_set_resizable(window, FALSE);
    if (owner) {
        gtk_window_set_transient_for(window, owner);
        gtk_window_set_modal(window, TRUE);
        gtk_window_set_position(window, GTK_WIN_POS_CENTER_ON_PARENT);
        gtk_window_set_skip_taskbar_hint(window, TRUE);
    } else {
        gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    }

    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 16);
    gtk_container_set_border_width(GTK_CONTAINER(row), 12);
    GtkWidget* image = gtk_image_new_from_icon_name(iconName(icon), GTK_ICON_SIZE_DIALOG);
    gtk_widget_set_valign(image, GTK_ALIGN_START);
    GtkWidget* label = gtk_label_new(validUtf8(text).c_str());
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_widget_set_valign(label, GTK_ALIGN_CENTER);
    gtk_box_pack_start(GTK_BOX(row), image, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(row), label, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(box))), row, TRUE, TRUE, 0);

    GtkWidget* button = gtk_dialog_add_button(GTK_DIALOG(box), "Aceptar", GTK_RESPONSE_OK);
    gtk_dialog_set_default_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
    gtk_widget_show_all(row);
    // Shown and presented before the loop, so that it takes the keyboard even
    // where no window manager hands it over.
    gtk_widget_show(box);
    gtk_widget_grab_focus(button);
    gtk_window_present(window);

    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
}

}  // namespace zelvo::ui
