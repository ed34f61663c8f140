#pragma once
// The plug-in's one-time set-up: its log file, the reader settings and the crypto
// provider settings.
#include <string>

class Global {
public:
    // Once per loaded library; later calls do nothing.
    static void init();
    // ~/.vexatools/YYYYMMDD.log, else the temporary folder, else the program's
    // folder; the bare file name when none of them is usable.
    static std::string logFilePath();
};
