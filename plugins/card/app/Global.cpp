#include "app/Global.h"

#include <sys/stat.h>

#include <mutex>

#include "mscapiprovider/MSCAPIProvider.h"
#include "smartcardio/ReaderSettings.h"
#include "zelvo/log.h"
#include "zelvo/paths.h"

namespace {

bool isDirectory(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string withSlash(std::string dir) {
    if (!dir.empty() && dir.back() != '/') dir.push_back('/');
    return dir;
}

}  // namespace

std::string Global::logFilePath() {
    std::string folder = withSlash(zelvo::homeDir()) + ".vexatools/";
    // The log names what the page asked for: kept to its owner.
    if (!isDirectory(folder)) mkdir(folder.c_str(), 0700);
    if (!isDirectory(folder)) folder.clear();
    if (folder.empty() && isDirectory(zelvo::tempDir())) folder = withSlash(zelvo::tempDir());
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
