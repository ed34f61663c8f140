#pragma once
// The plug-in's one-time set-up: its log file, the reader settings and the crypto
// provider settings.
#include <string>

class Global {
public:
    // Once per loaded library; later calls do nothing.
    static void init();
    // ~/.vexatools/YYYYMMDD.log, else a folder of the user's alone
    // ($XDG_RUNTIME_DIR/vexatools, else $TMPDIR/vexatools-<uid>), else the
    // program's folder; the bare file name when none of them is usable.
    static std::string logFilePath();
};
