// libFuzzer: any standard output of the wrapper. The answer is either an error
// text (what came before the first "::", or the text for no answer) or the
// path after "::", never both, and the path holds no "::".
#include "QuilletInput.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string out(reinterpret_cast<const char*>(data), size);
    quillet::SignerAnswer answer = quillet::parseAnswer(out);
    if (answer.error.empty() == (out.rfind("::", 0) != 0)) std::abort();
    if (!answer.error.empty() && !answer.signedFile.empty()) std::abort();
    if (answer.signedFile.find("::") != std::string::npos) std::abort();
    if (answer.error.empty() && out.compare(2, answer.signedFile.size(), answer.signedFile) != 0) std::abort();
    return 0;
}
