#pragma once
// The one JSON text the plug-in answers with: compact, all values strings.
#include <string>

#include "base/AppException.h"
#include "app/VexaResponse.h"

class JsonResponse {
public:
    // {"status":"0","body":{key:value,...}}
    static std::string okResponse(const VexaResponse& response);
    // {"status":"1","body":{"message":text}}
    static std::string errorResponse(const AppException& exception);
};
