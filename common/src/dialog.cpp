#include "zelvo/dialog.h"

#include "zelvo/paths.h"

#include <cstring>

namespace zelvo {

std::string dialogProgram(const void* anchor) {
    if (std::optional<std::string> env = getEnv("ZELVO_DIALOG"); env && !env->empty()) return *env;
    const std::string name = std::string("zelvo-dialog") + kExecutableSuffix;
    const std::string here = anchor ? moduleDir(anchor) : programDir();
    if (isExecutable(here + name)) return here + name;
    // An installed plug-in lies in plugins/, one level below the dialog.
    if (anchor) {
        std::string up = here + ".." + kPathSeparator + name;
        if (isExecutable(up)) return up;
    }
    return "zelvo-dialog";
}

std::unique_ptr<ChildProcess> startDialog(const std::vector<std::string>& args, const void* anchor) {
    std::vector<std::string> words{dialogProgram(anchor)};
    words.insert(words.end(), args.begin(), args.end());
    ChildProcess::Options options;
    options.mayTakeForeground = true;
    std::string error;
    return ChildProcess::start(words, options, error);
}

DialogResult runDialog(const std::vector<std::string>& args, const void* anchor) {
    DialogResult result;
    std::unique_ptr<ChildProcess> child = startDialog(args, anchor);
    if (!child) return result;
    // The answer may hold PINs: readOutput leaves no copy behind in freed memory.
    result.output.reserve(256);
    const bool whole = child->readOutput(result.output, kLargestDialogAnswer);
    result.exitCode = child->wait();
    if (!whole) {
        wipe(result.output);
        result.exitCode = -1;
    }
    return result;
}

void wipe(std::string& secret) {
    volatile char* p = secret.empty() ? nullptr : &secret[0];
    for (size_t i = 0; i < secret.size(); ++i) p[i] = 0;
    secret.clear();
}

}  // namespace zelvo
