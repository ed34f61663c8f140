#pragma once
// "changepin": changes the authentication or the signature PIN.
#include <string>
#include <vector>

#include "app/VexaAction.h"

class ChangePinVexaAction : public VexaAction {
public:
    VexaResponse execute(const std::vector<std::string>& params) override;
};
