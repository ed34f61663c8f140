#include "core/Startup.h"

#include "zelvo/console.h"
#include "zelvo/dialog.h"
#include "zelvo/log.h"
#include "zelvo/paths.h"

#include <cstdio>
#include <vector>

#include <libpsl.h>
#include <openssl/crypto.h>

namespace Startup {

namespace {
const char kConfigFile[] = "application.config";
const char kCaption[] = "Error en aplicación";
}  // namespace

std::string configurationFile() {
    const std::vector<std::string> candidates = zelvo::configFileCandidates(kConfigFile);
    for (const std::string& candidate : candidates) {
        if (zelvo::fileInfo(candidate).exists) return candidate;
    }
    return candidates.front();
}

std::unique_ptr<JsonReader> loadConfiguration() {
    std::string text;
    if (!zelvo::readRegularFile(configurationFile(), kLargestConfigFile, text)) {
        zelvo::showMessageBox(kCaption, "No se puede obtener la información de configuración del aplicativo.",
                              zelvo::MessageIcon::error);
        return nullptr;
    }
    auto reader = JsonReader::getInstance(text);
    if (!reader) {
        zelvo::showMessageBox(kCaption, "La información de configuración del aplicativo tiene errores.",
                              zelvo::MessageIcon::error);
    }
    return reader;
}

int logLevel(const JsonReader& config) {
    int level = 0;
    if (!config.readLogLevel(level)) return 4;
    if (level < 0 || level > 6) return 0;
    return level;
}

std::string logDirectory(const JsonReader& config) {
    std::string dir;
    config.read("log", "directory", dir);
    if (dir.empty()) {
        // An installed program's folder belongs to root: then the user's own folder.
        dir = zelvo::writableDirOr(zelvo::programDir());
    }
    if (!dir.empty() && dir.back() != '/' && dir.back() != '\\') dir.push_back(zelvo::kPathSeparator);
    return dir;
}

void startLogging(const JsonReader& config, bool console) {
    int level = logLevel(config);
    std::string path = logDirectory(config) + zelvo::log::dayFileName();
    std::printf("Iniciando aplicativo con nivel %i en archivo %s\n", level, path.c_str());
    std::fflush(stdout);
    // The console shows the Spanish texts in the user's own locale.
    if (console) zelvo::prepareConsoleForText();
    zelvo::log::init(path, level, console);
    logVersions();
    LOG_INFO("Startup::startLogging") << "Archivo de configuración: " << configurationFile();
}

void logVersions() {
    // Libraries linked into the program are updated only by a new release of it:
    // the log says which ones it carries.
    LOG_INFO("Startup::logVersions") << "Zelvo " << ZELVO_VERSION << " (proceso " << zelvo::currentProcessId() << "); " << OpenSSL_version(OPENSSL_VERSION)
                                     << "; libpsl " << psl_get_version() << "; " << ZELVO_BUILT_WITH;
}

}  // namespace Startup
