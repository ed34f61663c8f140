#pragma once
// The plug-in's commands: their registry, the parsing of the command text and the
// dispatch to an action; and the card objects, held for the life of the library.
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/VexaAction.h"
#include "app/VexaResponse.h"

namespace smartcardio {
class CardTerminal;
class CardChannel;
}  // namespace smartcardio
namespace vexapkicore {
class VexaPki;
}
namespace vexaldscore {
class VexaLds;
}
class Vexa;

class VexaApplication {
public:
    // Once per loaded library: registers "read" and "changepin".
    static void init();
    // Runs the command `text` (NUL-terminated, may be null); throws AppException.
    static VexaResponse doAction(const char* text);
    // The words of a command: split at blanks, tabs, line and page breaks; empty
    // words dropped.
    static std::vector<std::string> parseCommand(const char* text);
    // Longer commands are refused whole, before they are split.
    static constexpr size_t kMaxCommand = 64 * 1024;
    // A message or word as log records quote it: as it stands up to 1,024 bytes;
    // a longer one cut there, with "..." and its length.
    static std::string quote(const char* text);
    static std::string quote(const std::string& text) { return quote(text.c_str()); }

    // The card facade over the first reader's card, built with the objects
    // behind it by the first request that needs the card and reused afterwards.
    // A failure leaves nothing open, so the next request starts again.
    static Vexa& getVexaInstance();

private:
    // Held for the life of the library; released users first.
    struct CardObjects {
        std::unique_ptr<smartcardio::CardTerminal> terminal;
        std::unique_ptr<smartcardio::CardChannel> channel;
        std::unique_ptr<vexapkicore::VexaPki> pki;
        std::unique_ptr<vexaldscore::VexaLds> lds;
        std::unique_ptr<Vexa> vexa;
        CardObjects();
        ~CardObjects();
        void reset();
    };
    static std::map<std::string, std::unique_ptr<VexaAction>>& actions();
    static CardObjects& cardObjects();
};
