#include "PinForm.h"

#include "Utf8.h"

namespace zelvo::ui {

namespace {
// The first caption ends with a full stop and the others do not; callers tell the
// messages apart by them.
const char* const requiredCaption = "Información incorrecta.";
const char* const invalidCaption = "Información incorrecta";
}  // namespace

std::optional<Notice> validatePin(const std::string& label, const std::string& text) {
    if (text.empty()) return Notice{requiredCaption, label + " es requerido"};
    if (utf8Length(text) > PinForm::maxLength)
        return Notice{invalidCaption, label + " no puede tener mas de 8 caracteres."};
    // Whole characters are checked, so no letter of another script can pass for a digit.
    for (char c : text)
        if (c < '0' || c > '9') return Notice{invalidCaption, label + " solo debe tener dígitos (0-9)."};
    return std::nullopt;
}

std::string PinForm::title(PinType type) {
    return type == PinType::auth ? "Cambiar PIN de autenticación" : "Cambiar PIN de firma";
}

std::string PinForm::label(Field field) {
    switch (field) {
        case current: return "El PIN actual";
        case fresh: return "El PIN nuevo";
        case confirmation: return "La confirmación del PIN nuevo";
    }
    return {};
}

PinForm::Verdict PinForm::check(const std::string& currentPin, const std::string& newPin,
                                const std::string& confirmationPin) {
    const std::string* texts[] = {&currentPin, &newPin, &confirmationPin};
    for (Field field : {current, fresh, confirmation}) {
        if (auto notice = validatePin(label(field), *texts[field])) {
            Verdict verdict;
            verdict.focus = field;
            verdict.notice = *notice;
            return verdict;
        }
    }
    if (newPin != confirmationPin) {
        Verdict verdict;
        verdict.notice = {invalidCaption, "El PIN nuevo no es igual a la confirmación del PIN nuevo."};
        return verdict;
    }
    Verdict verdict;
    verdict.accepted = true;
    return verdict;
}

SecretString PinForm::answer(const std::string& currentPin, const std::string& newPin) {
    SecretString out;
    out.append(currentPin);
    out.append('\n');
    out.append(newPin);
    out.append('\n');
    return out;
}

}  // namespace zelvo::ui
