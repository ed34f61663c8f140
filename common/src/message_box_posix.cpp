#include "zelvo/message_box.h"

#include "zelvo/dialog.h"

#include <cstdio>
#include <cstdlib>

namespace zelvo {

bool hasGraphicalSession() {
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

void showMessageBox(const std::string& caption, const std::string& text, MessageIcon icon, MessageOwner) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    if (!hasGraphicalSession() && !std::getenv("ZELVO_DIALOG")) return;
    const char* iconName = icon == MessageIcon::error ? "error" : icon == MessageIcon::warning ? "warning" : "info";
    runDialog({"message", "--icon", iconName, "--title", caption, "--text", text});
}

}  // namespace zelvo
