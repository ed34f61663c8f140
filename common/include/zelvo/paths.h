#pragma once
// Files, folders and the environment, as UTF-8 text on both systems. Folder
// results end in the system's separator ('/' here, '\' on Windows).
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace zelvo {

// The system's path separator, and the one of search paths (PATH, class paths).
extern const char kPathSeparator;
extern const char kSearchPathSeparator;
// What a program file's name ends in: "" here, ".exe" on Windows.
extern const char kExecutableSuffix[];
// True for a character that separates folders ('/'; on Windows also '\').
bool isPathSeparator(char c);
// The folder part of `path` up to and including its last separator; "./" or
// ".\" when it has none.
std::string folderOf(const std::string& path);
// `dir` with a trailing separator.
std::string withSeparator(std::string dir);

// Full path of the running program.
std::string programPath();
// Folder of the running program, with a trailing separator.
std::string programDir();
// Where a program looks for its configuration file `name`, in this order. POSIX:
// the current folder only (the desktop entry starts an installed program in its
// configuration folder). Windows: the current folder, then the program's own
// folder (a browser starts a protocol's program in whatever folder it is in).
std::vector<std::string> configFileCandidates(const std::string& name);

// Full path of the module (program or shared library) that holds `address`.
std::string modulePath(const void* address);
// Folder of that module, with a trailing separator.
std::string moduleDir(const void* address);
// The user's home folder: $HOME, else the password database (Windows: the profile).
std::string homeDir();
// The user's profile folder as the environment gives it, where programs keep
// their dot-folders: POSIX $HOME, else the password database; Windows
// %USERPROFILE%. Empty when there is none.
std::string profileDir();
// How messages name that variable: "$HOME", "%USERPROFILE%".
extern const char kProfileVariable[];
// The temporary folder, without a trailing separator.
std::string tempDir();

// This process's id as the system numbers it.
unsigned long currentProcessId();

// The environment, in UTF-8; none when the variable is not set.
std::optional<std::string> getEnv(const std::string& name);
bool setEnv(const std::string& name, const std::string& value);
void unsetEnv(const std::string& name);
// When PATH is set, appends the search-path separator and `dir` to it; otherwise
// does nothing.
void appendToPath(const std::string& dir);
// The first file `name` in PATH's folders that the process may start, or empty.
std::string findOnPath(const std::string& name);

struct FileInfo {
    bool exists = false;
    bool directory = false;
    bool regular = false;  // a plain file: not a folder, FIFO, device or socket
    unsigned long long size = 0;
};
// What `path` is, following links.
FileInfo fileInfo(const std::string& path);
bool fileExists(const std::string& path);
bool isDirectory(const std::string& path);
// A file the process may start as a program.
bool isExecutable(const std::string& path);
// True when the process may create files in `dir`.
bool isWritableDir(const std::string& dir);
// The absolute path with links and "." and ".." resolved; empty when it does not exist.
std::string canonicalPath(const std::string& path);
// Creates `dir` and its parents (`mode` on POSIX); true when it exists afterwards.
bool makeDirs(const std::string& dir, unsigned mode);
// Removes the file `path` (a link itself, never what it points to); true when done.
bool removeFile(const std::string& path);
// True when `path` is a regular file that opens for reading; opening it never waits.
bool isReadableFile(const std::string& path);

// The per-user folder for logs and work files, [sub] below it, created private
// to the user; trailing separator. Empty when it cannot be created.
//   POSIX:   $XDG_STATE_HOME/zelvo (default ~/.local/state/zelvo), mode 0700
//   Windows: %LOCALAPPDATA%\Zelvo
std::string userStateDir(const std::string& sub = "");
// The folder userStateDir(sub) names, without creating it and without a trailing
// separator, for messages.
std::string userStateDirPath(const std::string& sub = "");
// The per-user folder for settings the user made (remembered decisions); not
// created. POSIX: $XDG_CONFIG_HOME/zelvo (default ~/.config/zelvo, also for a
// relative XDG_CONFIG_HOME); Windows: %APPDATA%\Zelvo. Trailing separator.
std::string userConfigDir();
// Where a program keeps its logs and work files by default. POSIX: `preferred`
// when the process may write there and it is not under /usr (read-only by the
// FHS, even for root), else userStateDir(sub). Windows: always userStateDir(sub):
// an installed program's folder is not the user's to write.
std::string writableDirOr(const std::string& preferred, const std::string& sub = "");
// The user's own folder `dir` (its parent must exist): created private when
// missing. True only when it is a real folder (not a link or reparse point)
// owned by this user that nobody else may write to (POSIX: none of the
// permission bits `closed`, by default 022), so that nobody else can have put
// a file in it first.
bool ensurePrivateDir(const std::string& dir, unsigned closed = 022);
// Candidate folders named `name` for a library's files when the home has none,
// each to be made the user's own with ensurePrivateDir: Linux
// $XDG_RUNTIME_DIR/name, then <temporary folder>/name-<uid>; Windows
// <the user's temporary folder>\name.
std::vector<std::string> privateTempDirs(const std::string& name);
// The whole content of `path` when it is a regular file of at most `maxBytes`;
// false for a missing or unreadable file, a folder, FIFO or device (never waited
// on) and a larger file. With `noFollow`, a link in the last component is not
// followed either (and so not read).
bool readRegularFile(const std::string& path, size_t maxBytes, std::string& out, bool noFollow = false);

}  // namespace zelvo
