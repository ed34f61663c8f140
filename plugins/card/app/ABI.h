#pragma once
// The holder's data file of the PKI application: three bytes not interpreted, a
// list of L bytes of tags (skipped), then L/2 objects of a two-byte tag, a
// one-byte length and the value.
#include <string>

#include "base/Bytes.h"

class ABI {
public:
    // Fills the fields from the file; objects of unknown tags are skipped, and an
    // object that runs past the end of the file ends the parse without being kept.
    void parse(const Bytes& bytes);

    // Values as stored on the card (raw bytes).
    std::string cui;            // 5F 60
    std::string digito;         // 5F 61
    std::string primerAp;       // 5F 62
    std::string segundoAp;      // 5F 63
    std::string preNombres;     // 5F 64
    std::string genero;         // 5F 6A
    std::string ubigeo;         // 5F 21
    std::string grupoVotacion;  // 5F 22
};
