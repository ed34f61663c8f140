#include "DialogCommand.h"

#include <map>

namespace zelvo::ui {

namespace {

using Parsed = DialogCommand::Parsed;

Parsed failure(std::string error) {
    Parsed parsed;
    parsed.error = std::move(error);
    return parsed;
}

Parsed success(DialogCommand command) {
    Parsed parsed;
    parsed.command = std::move(command);
    return parsed;
}

// Reads "--name value" pairs and the switches a dialog knows; anything else is
// handed to `word` (false: not accepted).
template <class Word>
std::optional<std::string> readOptions(const std::vector<std::string>& args, const std::vector<std::string>& valued,
                                       const std::vector<std::string>& switches, bool allowEnd,
                                       std::map<std::string, std::string>& values, Word word) {
    auto contains = [](const std::vector<std::string>& list, const std::string& s) {
        for (const auto& item : list)
            if (item == s) return true;
        return false;
    };
    bool ended = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!ended && allowEnd && arg == "--") {
            ended = true;
        } else if (!ended && contains(valued, arg)) {
            if (i + 1 >= args.size()) return "Falta el valor de la opción " + arg;
            values[arg] = args[++i];
        } else if (!ended && contains(switches, arg)) {
            values[arg] = "1";
        } else if (!ended && arg.size() > 1 && arg[0] == '-') {
            return "Opción desconocida: " + arg;
        } else if (!word(arg)) {
            return "Argumento no esperado: " + arg;
        }
    }
    return std::nullopt;
}

Parsed parseMessage(const std::vector<std::string>& args) {
    std::map<std::string, std::string> values;
    if (auto error = readOptions(args, {"--icon", "--title", "--text"}, {}, false, values,
                                 [](const std::string&) { return false; }))
        return failure(*error);
    for (const char* required : {"--icon", "--title", "--text"})
        if (!values.count(required)) return failure(std::string("Falta la opción ") + required);
    DialogCommand command;
    command.kind = DialogCommand::Kind::message;
    const std::string& icon = values["--icon"];
    if (icon == "error") {
        command.icon = Icon::error;
    } else if (icon == "warning") {
        command.icon = Icon::warning;
    } else if (icon == "info") {
        command.icon = Icon::information;
    } else {
        return failure("Icono no válido: " + icon);
    }
    command.title = values["--title"];
    command.text = values["--text"];
    return success(std::move(command));
}

Parsed parseBrowser(const std::vector<std::string>& args) {
    std::map<std::string, std::string> values;
    DialogCommand command;
    command.kind = DialogCommand::Kind::browser;
    if (auto error = readOptions(args, {"--title"}, {"--secure", "--hide-secure"}, true, values,
                                 [&](const std::string& name) {
                                     command.names.push_back(name);
                                     return true;
                                 }))
        return failure(*error);
    if (!values.count("--title")) return failure("Falta la opción --title");
    command.title = values["--title"];
    command.secure = values.count("--secure") > 0;
    command.hideSecure = values.count("--hide-secure") > 0;
    return success(std::move(command));
}

Parsed parsePin(const std::vector<std::string>& args) {
    std::map<std::string, std::string> values;
    if (auto error = readOptions(args, {"--type"}, {}, false, values, [](const std::string&) { return false; }))
        return failure(*error);
    if (!values.count("--type")) return failure("Falta la opción --type");
    DialogCommand command;
    command.kind = DialogCommand::Kind::pin;
    const std::string& type = values["--type"];
    if (type == "auth") {
        command.pinType = PinType::auth;
    } else if (type == "sign") {
        command.pinType = PinType::sign;
    } else {
        return failure("Tipo de PIN no válido: " + type);
    }
    return success(std::move(command));
}

Parsed parseConsent(const std::vector<std::string>& args) {
    std::map<std::string, std::string> values;
    if (auto error = readOptions(args, {"--origin", "--application"}, {}, false, values,
                                 [](const std::string&) { return false; }))
        return failure(*error);
    for (const char* required : {"--origin", "--application"})
        if (!values.count(required)) return failure(std::string("Falta la opción ") + required);
    DialogCommand command;
    command.kind = DialogCommand::Kind::consent;
    command.origin = values["--origin"];
    command.text = values["--application"];
    return success(std::move(command));
}

}  // namespace

DialogCommand::Parsed DialogCommand::parse(const std::vector<std::string>& args) {
    if (args.empty()) return failure("Falta el diálogo a mostrar");
    if (args[0] == "message") return parseMessage(args);
    if (args[0] == "browser") return parseBrowser(args);
    if (args[0] == "pin") return parsePin(args);
    if (args[0] == "consent") return parseConsent(args);
    return failure("Diálogo desconocido: " + args[0]);
}

const char* DialogCommand::usage() {
    return "Uso:\n"
           "  zelvo-dialog message --icon error|warning|info --title TÍTULO --text TEXTO\n"
           "  zelvo-dialog browser --title TÍTULO [--secure] [--hide-secure] [--] NOMBRE...\n"
           "  zelvo-dialog pin --type auth|sign\n"
           "  zelvo-dialog consent --origin SITIO --application TEXTO\n";
}

}  // namespace zelvo::ui
