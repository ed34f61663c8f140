#pragma once
#include "Dialog.h"

#include <memory>
#include <string>
#include <type_traits>

namespace zelvo::ui {

// The window that asks whether a web site may use an application of this
// computer. "Rechazar" is the default; Esc and closing the window refuse too.
class ConsentDialog : private Dialog {
public:
    ConsentDialog(const std::string& origin, const std::string& application);

    // Runs until the user answers: exit code 0 allowed, 1 refused; standard
    // output "1\n" when "Recordar mi decisión para este sitio" is ticked, else "0\n".
    int run();

private:
    void initialise() override;
    bool command(int id) override;
    void close() override;
    void finish(bool allowed);
    // Makes a read-only text field as tall as its lines (at most `maxLines`),
    // moving what lies below it and the window's bottom edge down as far.
    void fitLines(int id, int maxLines);

    std::string origin_;
    std::string application_;
    struct FontDeleter {
        void operator()(HFONT font) const { DeleteObject(font); }
    };
    // Outlives the window that uses it.
    std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter> bold_;
    bool remembered_ = false;
};

}  // namespace zelvo::ui
