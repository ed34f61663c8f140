#pragma once
#include <cstddef>
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
// The user's own folder `dir` (its parent must exist): created with mode 0700 when
// missing. True only when it is a folder, not a link, owned by this user and with
// none of the permission bits `closed` (by default: writable by anyone else), so
// that nobody else can have put a file in it first.
bool ensurePrivateDir(const std::string& dir, unsigned closed = 022);
// The whole content of `path` when it is a regular file of at most `maxBytes`;
// false for a missing or unreadable file, a folder, FIFO or device (never waited
// on) and a larger file.
bool readRegularFile(const std::string& path, size_t maxBytes, std::string& out);
// What readOwnFile found.
enum class OwnFile { read, missing, unreadable, notRegular, notPrivate };
// As readRegularFile, for a file of the user's own that decides something in
// their name: a symbolic link in its place is not followed (notRegular, as a
// folder, FIFO, device or larger file), and a file another user owns or may
// write to is not read (notPrivate).
OwnFile readOwnFile(const std::string& path, size_t maxBytes, std::string& out);
// When PATH is set, appends ':' and `dir` to it; otherwise does nothing.
void appendToPath(const std::string& dir);

}  // namespace zelvo
