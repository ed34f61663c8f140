#include "zelvo/paths.h"

namespace zelvo {

std::string folderOf(const std::string& path) {
    for (size_t i = path.size(); i > 0; --i) {
        if (isPathSeparator(path[i - 1])) return path.substr(0, i);
    }
    return std::string(".") + kPathSeparator;
}

std::string withSeparator(std::string dir) {
    if (dir.empty() || !isPathSeparator(dir.back())) dir.push_back(kPathSeparator);
    return dir;
}

std::string programDir() { return folderOf(programPath()); }

std::string moduleDir(const void* address) { return folderOf(modulePath(address)); }

void appendToPath(const std::string& dir) {
    std::optional<std::string> path = getEnv("PATH");
    if (!path) return;
    setEnv("PATH", *path + kSearchPathSeparator + dir);
}

std::string findOnPath(const std::string& name) {
    const std::string folders = getEnv("PATH").value_or(std::string());
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(kSearchPathSeparator, start);
        if (end == std::string::npos) end = folders.size();
        std::string folder = folders.substr(start, end - start);
        if (!folder.empty()) {
            std::string candidate = withSeparator(folder) + name;
            if (isExecutable(candidate)) return candidate;
        }
        start = end + 1;
    }
    return "";
}

}  // namespace zelvo
