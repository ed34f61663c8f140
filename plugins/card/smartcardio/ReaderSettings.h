#pragma once
// How the plug-in opens the card: fixed once by Global::init, read when a
// terminal or channel is created. The numbers are those of the PC/SC interface.
namespace smartcardio {

struct ReaderSettings {
    unsigned long scope = 2;       // system scope
    unsigned long shareMode = 2;   // shared with other programs
    unsigned long protocols = 3;   // T=0 or T=1
};

// The process-wide settings (one per loaded library).
ReaderSettings& readerSettings();

}  // namespace smartcardio
