#include "child_output.h"

#include "zelvo/dialog.h"

#include <algorithm>

namespace zelvo::detail {

bool appendOutput(std::string& out, const char* bytes, std::size_t count, std::size_t maxBytes) {
    bool fits = true;
    if (out.size() + count > maxBytes) {
        fits = false;
        count = maxBytes > out.size() ? maxBytes - out.size() : 0;
    }
    if (out.size() + count > out.capacity()) {
        std::string bigger;
        bigger.reserve(std::min(maxBytes, 2 * (out.size() + count)));
        bigger = out;
        wipe(out);
        out.swap(bigger);
    }
    out.append(bytes, count);
    return fits;
}

}  // namespace zelvo::detail
