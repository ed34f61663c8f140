#include "mrtdutils/ResponseAPDU.h"

#include <cstdio>

#include "base/AppException.h"

namespace mrtdutils {

ResponseAPDU::ResponseAPDU(const uint8_t* answer, size_t count) {
    if (answer == nullptr || count < 2) return;
    valid_ = true;
    bytes_.assign(answer, answer + count);
    sw1_ = answer[count - 2];
    sw2_ = answer[count - 1];
    sw_ = static_cast<uint16_t>(sw1_ << 8 | sw2_);
    data_.assign(answer, answer + count - 2);
}

void checkSw(const ResponseAPDU& response, const std::string& operationName, const char* function) {
    if (response.getSW() == 0x9000) return;
    char sw[8];
    std::snprintf(sw, sizeof sw, "%x", response.getSW());
    raiseAppException(function, __LINE__, "checkSw",
                      "Respuesta de comando de " + operationName + " no esperada (" + sw + ")");
}

}  // namespace mrtdutils
