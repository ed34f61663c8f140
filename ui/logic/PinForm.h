#pragma once
#include "SecretString.h"

#include <cstddef>
#include <optional>
#include <string>

namespace zelvo::ui {

// A message box to show: its caption and its text.
struct Notice {
    std::string caption;
    std::string text;
};

// Checks one PIN field: present, at most eight characters, only the digits 0 to 9.
// `label` names the field in the message ("El PIN actual"). No value when the PIN is fine.
std::optional<Notice> validatePin(const std::string& label, const std::string& text);

enum class PinType { auth, sign };

// What the PIN dialog decides when the user presses "Aceptar".
class PinForm {
public:
    static constexpr std::size_t maxLength = 8;
    enum Field { current = 0, fresh = 1, confirmation = 2 };

    struct Verdict {
        bool accepted = false;
        std::optional<Field> focus;  // the field to go back to, when one failed
        Notice notice;               // what to show when not accepted
    };

    static std::string title(PinType type);
    static std::string label(Field field);
    // The fields are checked in order and the first that fails stops the check;
    // then the new PIN must equal its confirmation.
    static Verdict check(const std::string& currentPin, const std::string& newPin,
                         const std::string& confirmationPin);
    // What the caller reads on the pipe: one PIN a line, current first.
    static SecretString answer(const std::string& currentPin, const std::string& newPin);
};

}  // namespace zelvo::ui
