#pragma once
// One command the page can send. Actions hold no state.
#include <string>
#include <vector>

#include "app/VexaResponse.h"

class VexaAction {
public:
    virtual ~VexaAction() = default;
    // params: the command's tokens, its name first.
    virtual VexaResponse execute(const std::vector<std::string>& params);
};
