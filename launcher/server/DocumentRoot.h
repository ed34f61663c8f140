#pragma once
// The folder of static files and the one way into it: an HTTP request target is
// mapped to a file only when the file really lies inside the folder.
#include <cstdint>
#include <string>
#include <string_view>

// A request target reduced to a path below the document root.
struct RequestPath {
    std::string relative;    // "sub/page.html", "" for the root; no "." or ".." segments
    bool directory = false;  // the target ended in '/'
};

class DocumentRoot {
public:
    enum class Lookup { file, redirect, badRequest, notFound };

    DocumentRoot() = default;  // no folder: nothing is found
    explicit DocumentRoot(const std::string& folder);

    // Pure text rules, no file system: the target must start with '/'; query and
    // fragment are cut; percent-escapes are decoded once (a malformed one is
    // refused); the decoded path may hold no NUL and no backslash, and no ".."
    // segment; empty and "." segments are dropped.
    static bool mapTarget(std::string_view target, RequestPath& out);
    // MIME type from the file name's extension.
    static const char* mimeType(std::string_view path);

    // The file that answers `target`: `path` is its resolved name (file) or the
    // Location to send (redirect: a folder named without its trailing '/').
    // Symbolic links are followed only while they stay inside the folder.
    Lookup find(std::string_view target, std::string& path, std::uint64_t& size) const;

private:
    bool inside(const std::string& resolved) const;

    std::string real_;  // the folder's resolved name, no trailing '/'; empty if missing
};
