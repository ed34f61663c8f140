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

}  // namespace zelvo
