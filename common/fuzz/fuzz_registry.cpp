// libFuzzer: any text as a registry file. The sub-keys listed below a key are
// single names, and looking them and their values up never fails badly.
#include "zelvo/registry_files.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zelvo::Registry registry;
    registry.parse(std::string(reinterpret_cast<const char*>(data), size));
    for (const std::string& top : {std::string("SOFTWARE"), std::string("software\\Zelvo")}) {
        for (const std::string& child : registry.subKeys(top)) {
            std::string value;
            registry.get(top + "\\" + child, "@", value);
            if (child.empty() || child.find('\\') != std::string::npos) std::abort();
        }
    }
    std::string value;
    registry.get("SOFTWARE\\Zelvo\\vexa", "RuntimeLib", value);
    return 0;
}
