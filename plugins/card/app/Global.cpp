#include "app/Global.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "mscapiprovider/MSCAPIProvider.h"
#include "smartcardio/ReaderSettings.h"
#include "zelvo/log.h"
#include "zelvo/paths.h"

namespace {

// A folder of this user's: with no home, the home's log folder would be a name
// in /tmp that someone else could have made first.
bool isOwnDirectory(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
}

std::string withSlash(std::string dir) {
    if (!dir.empty() && dir.back() != '/') dir.push_back('/');
    return dir;
}

}  // namespace

std::string Global::logFilePath() {
    std::string folder = withSlash(zelvo::homeDir()) + ".vexatools/";
    // The log names what the page asked for: kept to its owner.
    if (!isOwnDirectory(folder)) mkdir(folder.c_str(), 0700);
    if (!isOwnDirectory(folder)) folder.clear();
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    for (const std::string& own : {runtime && *runtime ? withSlash(runtime) + "vexatools" : std::string(),
                                   withSlash(zelvo::tempDir()) + "vexatools-" + std::to_string(geteuid())})
        // In a shared place (/tmp) another user may have made it first, to read or
        // redirect the log: only a folder closed to everyone else will do.
        if (folder.empty() && !own.empty() && zelvo::ensurePrivateDir(own, 077)) folder = own + "/";
    if (folder.empty()) folder = zelvo::programDir();
    return folder + zelvo::log::dayFileName();
}

void Global::init() {
    static std::once_flag once;
    std::call_once(once, [] {
        zelvo::log::init(logFilePath(), static_cast<int>(zelvo::log::Severity::verbose), false);

        LOG_INFO("Global::init") << "Iniciando valores de smartcard reader";
        smartcardio::ReaderSettings& reader = smartcardio::readerSettings();
        reader.scope = 2;      // system
        reader.shareMode = 2;  // shared
        reader.protocols = 3;  // T=0 or T=1

        LOG_INFO("Global::init") << "Iniciando valores de mscapi";
        using mscapiprovider::MSCAPIProvider;
        MSCAPIProvider::setProperty("container", std::string());
        MSCAPIProvider::setProperty("provider", std::string("Microsoft Enhanced Cryptographic Provider v1.0"));
        MSCAPIProvider::setProperty("providerType", 1u);
        MSCAPIProvider::setProperty("flags", 0xF0000000u);
    });
}
