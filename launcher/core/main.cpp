// The launcher's entry: one request per process. The console build (conlaunch)
// also logs to the console and waits for a key before it ends.
#include "core/RunnableFactory.h"
#include "core/Startup.h"
#include "zelvo/child_process.h"

#include <cstdio>

namespace {

#ifdef ZELVO_CONSOLE_BUILD
constexpr bool kConsole = true;
#else
constexpr bool kConsole = false;
#endif

void closingPrompt() {
    if (!kConsole) return;
    std::printf("Presione una tecla para terminar ...");
    std::fflush(stdout);
    std::getchar();
}

}  // namespace

int main(int argc, char** argv) {
    zelvo::keepStandardStreamsFromChildren();
    std::unique_ptr<JsonReader> config = Startup::loadConfiguration();
    if (!config) return 1;
    Startup::startLogging(*config, kConsole);
    std::unique_ptr<Runnable> runnable = RunnableFactory::create(argc, argv, config.get());
    config.reset();
    if (!runnable) {
        closingPrompt();
        return 1;
    }
    int result = runnable->run();
    runnable.reset();
    closingPrompt();
    return result;
}
