#include "DocumentRoot.h"

#include "zelvo/paths.h"

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Percent-escapes every byte of a decoded path but the unreserved ones and '/'.
std::string encodePath(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~' || c == '/') {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

bool resolve(const std::string& path, std::string& resolved) {
    resolved = zelvo::canonicalPath(path);
    return !resolved.empty();
}

bool endsWith(std::string_view text, std::string_view tail) {
    if (text.size() < tail.size()) return false;
    for (std::size_t i = 0; i < tail.size(); ++i) {
        char c = text[text.size() - tail.size() + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != tail[i]) return false;
    }
    return true;
}

}  // namespace

DocumentRoot::DocumentRoot(const std::string& folder) {
    if (!resolve(folder, real_)) real_.clear();
    while (real_.size() > 1 && zelvo::isPathSeparator(real_.back())) real_.pop_back();
}

bool DocumentRoot::mapTarget(std::string_view target, RequestPath& out) {
    out = RequestPath{};
    // Origin form only: "http://host/..." and "*" are not files.
    if (target.empty() || target.front() != '/') return false;
    std::size_t end = target.find_first_of("?#");
    if (end != std::string_view::npos) target = target.substr(0, end);

    std::string decoded;
    decoded.reserve(target.size());
    for (std::size_t i = 0; i < target.size(); ++i) {
        char c = target[i];
        if (c == '%') {
            if (i + 2 >= target.size()) return false;
            int high = hexValue(target[i + 1]);
            int low = hexValue(target[i + 2]);
            if (high < 0 || low < 0) return false;
            c = static_cast<char>(high * 16 + low);
            i += 2;
        }
        // NUL would cut the name short in the system calls; a backslash is a
        // separator to some clients and file systems.
        if (c == '\0' || c == '\\') return false;
        decoded.push_back(c);
    }

    std::size_t pos = 0;
    while (pos <= decoded.size()) {
        std::size_t slash = decoded.find('/', pos);
        if (slash == std::string::npos) slash = decoded.size();
        std::string_view segment(decoded.data() + pos, slash - pos);
        if (segment == "..") return false;
        if (!segment.empty() && segment != ".") {
            if (!out.relative.empty()) out.relative.push_back('/');
            out.relative.append(segment);
        }
        pos = slash + 1;
    }
    out.directory = out.relative.empty() || decoded.back() == '/';
    return true;
}

const char* DocumentRoot::mimeType(std::string_view path) {
    struct Entry {
        const char* extension;
        const char* type;
    };
    static const Entry types[] = {
        {".html", "text/html; charset=utf-8"},
        {".htm", "text/html; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"},
        {".json", "application/json"},
        {".map", "application/json"},
        {".txt", "text/plain; charset=utf-8"},
        {".xml", "application/xml"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".jpg", "image/jpeg"},
        {".jpeg", "image/jpeg"},
        {".gif", "image/gif"},
        {".webp", "image/webp"},
        {".ico", "image/x-icon"},
        {".bmp", "image/bmp"},
        {".woff", "font/woff"},
        {".woff2", "font/woff2"},
        {".ttf", "font/ttf"},
        {".otf", "font/otf"},
        {".wasm", "application/wasm"},
        {".pdf", "application/pdf"},
        {".zip", "application/zip"},
        {".jar", "application/java-archive"},
    };
    for (const Entry& entry : types)
        if (endsWith(path, entry.extension)) return entry.type;
    return "application/octet-stream";
}

bool DocumentRoot::inside(const std::string& resolved) const {
    if (real_.empty()) return false;
    if (resolved == real_) return true;
    if (real_.size() == 1 && zelvo::isPathSeparator(real_[0])) return true;
    return resolved.size() > real_.size() && resolved.compare(0, real_.size(), real_) == 0 &&
           zelvo::isPathSeparator(resolved[real_.size()]);
}

DocumentRoot::Lookup DocumentRoot::find(std::string_view target, std::string& path, std::uint64_t& size) const {
    RequestPath request;
    if (!mapTarget(target, request)) return Lookup::badRequest;
    if (real_.empty()) return Lookup::notFound;

    std::string resolved;
    if (!resolve(real_ + zelvo::kPathSeparator + request.relative, resolved) || !inside(resolved))
        return Lookup::notFound;
    zelvo::FileInfo info = zelvo::fileInfo(resolved);
    if (!info.exists) return Lookup::notFound;
    if (info.directory) {
        if (!request.directory) {
            // Relative links in the folder's page only work below "name/". The
            // Location is rebuilt from the clean path: "//sub" must not become
            // "//sub/", which a browser reads as the host "sub".
            path = "/" + encodePath(request.relative) + "/";
            std::size_t query = target.find('?');
            if (query != std::string_view::npos) {
                std::string_view rest = target.substr(query);
                path.append(rest.substr(0, rest.find('#')));
            }
            return Lookup::redirect;
        }
        std::string index;
        if (!resolve(resolved + zelvo::kPathSeparator + "index.html", index) || !inside(index))
            return Lookup::notFound;
        resolved = index;
        info = zelvo::fileInfo(resolved);
    }
    if (!info.regular) return Lookup::notFound;
    path = resolved;
    size = info.size;
    return Lookup::file;
}
