#pragma once
// Requests to stop from outside the program, all given to one handler with the
// number of the signal they stand for (SIGINT or SIGTERM):
//   Linux:   SIGINT and SIGTERM
//   Windows: WM_CLOSE and the end of the session (WM_QUERYENDSESSION,
//            WM_ENDSESSION) to a hidden top-level window of the process, which
//            is what "taskkill /pid N" and the system send; and, when the
//            process has a console, Ctrl+C, Ctrl+Break and the console's close.
// The handler must only store a number (it may run in a signal handler).
namespace zelvo {

using StopHandler = void (*)(int signalNumber);

void installStopHandler(StopHandler handler);

// A runtime loaded into the process (the JVM) takes these requests for a
// shutdown of its own that would end the process from one of its threads:
// while this object lives, the handlers in place at its creation are put back
// in front when it goes.
class StopHandlerKept {
public:
    StopHandlerKept();
    ~StopHandlerKept();
    StopHandlerKept(const StopHandlerKept&) = delete;
    StopHandlerKept& operator=(const StopHandlerKept&) = delete;

private:
    struct Saved;
    Saved* saved_;
};

}  // namespace zelvo
