#pragma once
// Where the plug-in meets its host (the exports) and where it runs a thread of its
// own (the PIN dialog), no exception may get out: one would end the launcher.
#include <exception>

#include "base/AppException.h"

// Stands for an exception that is not the plug-in's own, logged in the name of `function`.
AppException unexpectedFailure(const char* function, const char* what);

// Runs `body`. An exception of any type becomes a call of `onFailure` with an
// AppException (the one thrown, or unexpectedFailure's); should that fail as
// well, nothing more is done.
template <typename Body, typename OnFailure>
void guarded(const char* function, Body&& body, OnFailure&& onFailure) noexcept {
    try {
        try {
            body();
        } catch (const AppException& e) {
            onFailure(e);
        } catch (const std::exception& e) {
            onFailure(unexpectedFailure(function, e.what()));
        } catch (...) {
            onFailure(unexpectedFailure(function, "excepción desconocida"));
        }
    } catch (...) {
    }
}
