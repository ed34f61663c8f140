#pragma once
#include "core/Runnable.h"

#include <memory>

class JsonReader;

class RunnableFactory {
public:
    // The runnable that serves the command line, or null when no request kind
    // accepts it. The request kinds are tried in a fixed order; the first wins.
    static std::unique_ptr<Runnable> create(int argc, char** argv, const JsonReader* config);
};
