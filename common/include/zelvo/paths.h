#pragma once
#include <string>

namespace zelvo {

// Full path of the running program (/proc/self/exe).
std::string programPath();
// Folder of the running program, with a trailing '/'.
std::string programDir();
// Full path of the module (program or shared library) that holds `address`.
std::string modulePath(const void* address);
// Folder of that module, with a trailing '/'.
std::string moduleDir(const void* address);
// The user's home folder: $HOME, else the password database.
std::string homeDir();
// $TMPDIR or /tmp, without a trailing '/'.
std::string tempDir();
// True when the process may create files in `dir`.
bool isWritableDir(const std::string& dir);
// $XDG_STATE_HOME/zelvo[/sub] (default ~/.local/state/zelvo[/sub]), created with
// mode 0700; trailing '/'. Empty when it cannot be created.
std::string userStateDir(const std::string& sub = "");
// `preferred` when the process may write there and it is not under /usr (read-only by
// the FHS, even for root), else userStateDir(sub).
std::string writableDirOr(const std::string& preferred, const std::string& sub = "");
// Creates `dir` and its parents with `mode`; true when it exists afterwards.
bool makeDirs(const std::string& dir, unsigned mode);
// When PATH is set, appends ':' and `dir` to it; otherwise does nothing.
void appendToPath(const std::string& dir);

}  // namespace zelvo
