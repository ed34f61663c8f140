// libFuzzer: any text as config.ini. Names match whatever their case, a value
// never spans lines, and a number is always what profileInt makes of its text.
#include "Profile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quillet::Profile profile(std::string(reinterpret_cast<const char*>(data), size));
    for (const char* key : {"wrapperJar", "wrapperClass", "deleteFilesAfterSigning", "javaModifiers",
                            "signingTimeoutSeconds"}) {
        std::string value = profile.text("config", key, "\x01");
        if (value == "\x01") {
            if (profile.number("CONFIG", key, -7) != -7) std::abort();
            continue;
        }
        if (profile.number("Config", key, -7) != quillet::profileInt(value)) std::abort();
        if (value.find('\n') != std::string::npos) std::abort();
    }
    return 0;
}
