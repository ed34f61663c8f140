// Any bytes as the holder's data file: ABI::parse keeps only objects that lie
// wholly inside it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "app/ABI.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes file(data, data + size);
    ABI abi;
    abi.parse(file);
    for (const std::string* v : {&abi.cui, &abi.digito, &abi.primerAp, &abi.segundoAp, &abi.preNombres, &abi.genero,
                                 &abi.ubigeo, &abi.grupoVotacion})
        if (v->size() > size) std::abort();
    return 0;
}
