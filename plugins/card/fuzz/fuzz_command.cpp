// Any text frame from the page as a command: parsed, dispatched and answered in
// JSON without touching a card (commands that would need one are skipped).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/AppException.h"
#include "app/JsonResponse.h"
#include "app/VexaApplication.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        // Never the machine's own pcscd, never a dialog on the screen.
        setenv("PCSCLITE_CSOCK_NAME", "/nonexistent/pcscd.comm", 1);
        setenv("ZELVO_DIALOG", "/nonexistent/zelvo-dialog", 1);
        VexaApplication::init();
        return true;
    }();
    (void)ready;
    // The host hands over a NUL-terminated copy that ends at the first NUL.
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.c_str();
    std::vector<std::string> tokens = VexaApplication::parseCommand(text.c_str());
    for (const std::string& t : tokens)
        if (t.empty() || t.find_first_of(" \t\n\r\v\f") != std::string::npos) std::abort();
    try {
        std::string reply = JsonResponse::okResponse(VexaApplication::doAction(text.c_str()));
        for (char c : reply)
            if (static_cast<unsigned char>(c) < 0x20) std::abort();
    } catch (const AppException& e) {
        std::string reply = JsonResponse::errorResponse(e);
        for (char c : reply)
            if (static_cast<unsigned char>(c) < 0x20) std::abort();
    }
    return 0;
}
