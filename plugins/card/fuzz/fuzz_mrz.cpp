// Any text as data group 1's MRZ: every field is cut within the text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/AppException.h"
#include "mrtdutils/MRZInfo.h"
#include "mrtdutils/Util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    mrtdutils::MRZInfo m = mrtdutils::MRZInfo::readObject(text);
    try {
        // What Basic Access Control does with the fields next.
        mrtdutils::Util::computeKeySeed(m.getMrzDocumentNumber(), m.getDateOfBirth(), m.getDateOfExpiry());
    } catch (const AppException&) {
    }
    mrtdutils::MRZInfo::mrzFormat(text, 14);
    return 0;
}
