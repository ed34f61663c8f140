#pragma once
// "changepin auth|sign": asks the user for the PINs in the PIN dialog and changes
// the authentication or the signature PIN on the card.
#include <string>
#include <vector>

#include "app/VexaAction.h"

class ChangePinVexaAction : public VexaAction {
public:
    VexaResponse execute(const std::vector<std::string>& params) override;
    VexaResponse changepin(const std::vector<std::string>& params);
};
