#pragma once
// A small file that holds what one user decided (remembered site decisions):
// read only when nobody else could have written it, and replaced whole, so
// that no crash leaves half a file.
//   Linux:   owner and permission bits; O_NOFOLLOW; a temporary file renamed over it
//   Windows: owner and DACL; no reparse points; MoveFileExW over it
#include <cstddef>
#include <cstdio>
#include <string>

namespace zelvo {

enum class PrivateRead {
    ok,
    missing,     // there is no such file
    unreadable,  // it cannot be opened or read
    notRegular,  // not a regular file (a folder, FIFO, device, link), or too big
    notPrivate,  // another user owns it or may change it
};

// Opened without blocking (a FIFO cannot hold the caller) and without following
// a link in its last component.
PrivateRead readPrivateFile(const std::string& path, std::size_t maxBytes, std::string& text);
// Writes `text` into a new file only this user may read, in the same folder
// (created private when missing), then puts it in place of `path` at once.
bool replacePrivateFile(const std::string& path, const std::string& text);

enum class NewFile {
    written,
    exists,      // the name is taken (a file, a folder, a link): nothing was opened
    notCreated,  // it could not be created (no such folder, no right to)
    notWritten,  // created, but not every byte could be written: removed again
};
// Creates `path` as a new file only this user may read, never opening what is
// already there nor following a link in its place, and writes `bytes` to it.
// `error` gets the system's error number of a failure.
NewFile writeNewPrivateFile(const std::string& path, const std::string& bytes, unsigned long& error);
// Opens `path` for appending in binary mode, created private to this user when
// missing; no child process inherits it. Null when it cannot be opened.
std::FILE* openPrivateAppend(const std::string& path);

enum class MoveAside { moved, sourceMissing, targetExists, failed };
// Renames `path` to `target`, never over an existing file.
MoveAside moveAside(const std::string& path, const std::string& target);

}  // namespace zelvo
