#include "app/Global.h"

#include <mutex>

#include <openjpeg.h>
#include <png.h>

#include "mscapiprovider/MSCAPIProvider.h"
#include "smartcardio/ReaderSettings.h"
#include "zelvo/log.h"
#include "zelvo/paths.h"

std::string Global::logFilePath() {
    // The log names what the page asked for: kept to its owner, in a folder no
    // other user can have made first or may write to.
    std::string folder = zelvo::withSeparator(zelvo::homeDir()) + ".vexatools";
    if (zelvo::ensurePrivateDir(folder, 0)) return zelvo::withSeparator(folder) + zelvo::log::dayFileName();
    for (const std::string& own : zelvo::privateTempDirs("vexatools"))
        if (zelvo::ensurePrivateDir(own, 077)) return zelvo::withSeparator(own) + zelvo::log::dayFileName();
    return zelvo::programDir() + zelvo::log::dayFileName();
}

void Global::init() {
    static std::once_flag once;
    std::call_once(once, [] {
        zelvo::log::init(logFilePath(), static_cast<int>(zelvo::log::Severity::verbose), false);

        LOG_INFO("Global::init") << "vexa-tools " << ZELVO_VERSION << "; OpenJPEG " << opj_version() << "; libpng "
                                 << png_get_libpng_ver(nullptr) << "; " << ZELVO_BUILT_WITH;
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
