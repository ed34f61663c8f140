#pragma once
// "read": the parts of the card the page asks for (abi, dg1, dg2, dg7).
#include <string>
#include <vector>

#include "app/VexaAction.h"

class ReadVexaAction : public VexaAction {
public:
    VexaResponse execute(const std::vector<std::string>& params) override;
    VexaResponse read(const std::vector<std::string>& params);

    static std::string toBase64(const uint8_t* bytes, long count);
    // YYMMDD -> DD/MM/YY; any other length unchanged.
    static std::string convertDate(const std::string& yymmdd);
};
