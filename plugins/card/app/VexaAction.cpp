#include "app/VexaAction.h"

VexaResponse VexaAction::execute(const std::vector<std::string>&) { return VexaResponse(); }
