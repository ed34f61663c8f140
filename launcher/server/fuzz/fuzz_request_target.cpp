// libFuzzer: any request target is either refused or reduced to a clean path
// below the document root (no "..", no empty or "." segment, no NUL, no backslash).
#include "server/DocumentRoot.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view target(reinterpret_cast<const char*>(data), size);
    RequestPath out;
    if (!DocumentRoot::mapTarget(target, out)) return 0;
    const std::string& p = out.relative;
    if (p.find('\0') != std::string::npos || p.find('\\') != std::string::npos) std::abort();
    if (!p.empty() && (p.front() == '/' || p.back() == '/')) std::abort();
    std::size_t start = 0;
    while (start <= p.size() && !p.empty()) {
        std::size_t slash = p.find('/', start);
        if (slash == std::string::npos) slash = p.size();
        std::string_view segment(p.data() + start, slash - start);
        if (segment.empty() || segment == "." || segment == "..") std::abort();
        start = slash + 1;
    }
    DocumentRoot::mimeType(p);
    return 0;
}
