#include "app/ABI.h"

#include "zelvo/log.h"

void ABI::parse(const Bytes& bytes) {
    LOG_INFO("ABI::parse") << "Parseando abi";
    if (bytes.size() < 4) return;
    const size_t tagListLength = bytes[3];
    const size_t objects = tagListLength / 2;
    size_t pos = 4 + tagListLength;
    for (size_t i = 0; i < objects; ++i) {
        if (pos + 3 > bytes.size()) break;
        const unsigned tag = static_cast<unsigned>(bytes[pos] << 8 | bytes[pos + 1]);
        const size_t length = bytes[pos + 2];
        // The file's own lengths are not trusted: a value cut by the end of the
        // file would show the page half a name.
        if (pos + 3 + length > bytes.size()) {
            LOG_WARN("ABI::parse") << "Objeto " << std::hex << tag << " fuera del fichero";
            break;
        }
        std::string value(bytes.begin() + static_cast<long>(pos + 3),
                          bytes.begin() + static_cast<long>(pos + 3 + length));
        std::string* field = nullptr;
        switch (tag) {
            case 0x5F60: field = &cui; break;
            case 0x5F61: field = &digito; break;
            case 0x5F62: field = &primerAp; break;
            case 0x5F63: field = &segundoAp; break;
            case 0x5F64: field = &preNombres; break;
            case 0x5F6A: field = &genero; break;
            case 0x5F21: field = &ubigeo; break;
            case 0x5F22: field = &grupoVotacion; break;
            default: break;
        }
        if (field != nullptr) *field = std::move(value);
        pos += length + 3;
    }
}
