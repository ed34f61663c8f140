#include "process/StreamWorkers.h"

#include "process/Log.h"

#include <exception>

namespace process {

std::string writeStdinWorker(Child& child, const std::string& bytes) {
    try {
        child.writeStdin(bytes, true);
        return "";
    } catch (const std::exception& e) {
        PROCESS_LOG(error, std::string("ERROR: ") + e.what());
        return e.what();
    }
}

std::string collectStdoutWorker(Child& child, std::string& out) {
    try {
        std::string chunk;
        while (child.readStdout(chunk, true)) out += chunk;
        return "";
    } catch (const std::exception& e) {
        PROCESS_LOG(error, std::string("ERROR: ") + e.what());
        return e.what();
    }
}

std::string logStderrWorker(Child& child) {
    LineSplitter lines;
    try {
        std::string chunk;
        while (child.readStderr(chunk, true))
            for (const std::string& line : lines.feed(chunk)) PROCESS_LOG(info, "[stderr] " + line);
        std::string rest = lines.finish();
        if (!rest.empty()) PROCESS_LOG(info, "[stderr] " + rest);
        return "";
    } catch (const std::exception& e) {
        PROCESS_LOG(error, std::string("ERROR: ") + e.what());
        return e.what();
    }
}

std::vector<std::string> LineSplitter::feed(const std::string& chunk) {
    std::vector<std::string> lines;
    pending_ += chunk;
    size_t start = 0, nl;
    while ((nl = pending_.find('\n', start)) != std::string::npos) {
        size_t end = nl;
        if (end > start && pending_[end - 1] == '\r') --end;
        lines.push_back(pending_.substr(start, end - start));
        start = nl + 1;
    }
    pending_.erase(0, start);
    // A child that never ends its line must not grow this without bound.
    if (pending_.size() > kLongestKept) {
        lines.push_back(pending_);
        pending_.clear();
    }
    return lines;
}

std::string LineSplitter::finish() {
    std::string rest;
    rest.swap(pending_);
    if (!rest.empty() && rest.back() == '\r') rest.pop_back();
    return rest;
}

}  // namespace process
