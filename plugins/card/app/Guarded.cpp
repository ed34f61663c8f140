#include "app/Guarded.h"

#include "zelvo/log.h"

AppException unexpectedFailure(const char* function, const char* what) {
    static const char* const kMessage = "Error interno del componente vexa-tools";
    LOG_ERROR(function) << "[" << what << "] " << kMessage;
    return AppException(what, kMessage, "", 0, function, 0);
}
