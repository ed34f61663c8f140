#include "host/WindowsApplication.h"

#include "zelvo/log.h"
#include "zelvo/paths.h"
#include "zelvo/registry.h"

#include <chrono>
#include <thread>

namespace {

template <typename F>
bool bind(const RuntimeLibLoader& loader, const char* name, F& out) {
    void* address = loader.getFunction(name);
    if (!address) {
        LOG_ERROR("WindowsApplication::loadRuntimeEnvironment") << "No se encontró el método " << name;
        return false;
    }
    out = reinterpret_cast<F>(address);
    return true;
}

}  // namespace

WindowsApplication::WindowsApplication(const ServerRunnableParams& server, const AppWebParams& web)
    : server_(server), type_(web.type), name_(web.name), useSsl_(web.use_ssl), port_(web.port),
      idletimeout_(web.idletimeout) {}

WindowsApplication::~WindowsApplication() = default;

std::string WindowsApplication::getAppDllPath(const std::string& basekey, const std::string& name) {
    const std::string valueName = "RuntimeLib";
    const std::string keyPath = basekey + name;
    LOG_VERBOSE("WindowsApplication::getAppDllPath") << "leendo valor " << valueName << " de clave " << keyPath;
    std::string path;
    if (!zelvo::readRegistryString(keyPath, valueName, path)) {
        LOG_ERROR("WindowsApplication::getAppDllPath") << "No se obtuvo el valor de appDllPath";
        return "";
    }
    return path;
}

void WindowsApplication::setPathToDirectory(const std::string& path) {
    size_t slash = std::string::npos;
    for (size_t i = path.size(); i > 0 && slash == std::string::npos; --i)
        if (zelvo::isPathSeparator(path[i - 1])) slash = i - 1;
    if (slash == std::string::npos) {
        LOG_ERROR("WindowsApplication::setPathToDirectory") << "No se agregó el directorio actual a la variable path";
        return;
    }
    zelvo::appendToPath(path.substr(0, slash));
}

bool WindowsApplication::loadRuntimeEnvironment(const RuntimeLibLoader& loader) {
    return bind(loader, "onConnect", onConnect_) && bind(loader, "onTextMessage", onTextMessage_) &&
           bind(loader, "onBinaryMessage", onBinaryMessage_) && bind(loader, "onClose", onClose_) &&
           bind(loader, "registerSendMessageFunction", registerSendMessageFunction_);
}

namespace {
const char kNoPath[] = "No se pueden obtener la ruta de la aplicación.";
}

std::string WindowsApplication::unavailable() const {
    return getAppDllPath(server_.basekey, name_).empty() ? kNoPath : "";
}

void WindowsApplication::run() {
    running_ = true;
    std::string path = getAppDllPath(server_.basekey, name_);
    if (path.empty()) {
        errorCallback(kNoPath);
        finished_ = true;
        return;
    }
    setPathToDirectory(path);
    std::unique_ptr<RuntimeLibLoader> loader = RuntimeLibLoader::load(path);
    if (!loader) {
        errorCallback("No se cargó la aplicación del usuario.");
        finished_ = true;
        return;
    }
    if (!loadRuntimeEnvironment(*loader)) {
        errorCallback("No cargaron los componentes para ejecutar la aplicación del usuario.");
        std::lock_guard<std::mutex> lock(pluginMutex_);
        loader.reset();
        finished_ = true;
        return;
    }
    registerSendMessageFunction_(textCallback, binaryCallback);
    {
        std::lock_guard<std::mutex> lock(pluginMutex_);
        active_ = true;
    }
    startedCallback();
    onConnect_();
    {
        std::lock_guard<std::mutex> lock(pluginMutex_);
        active_ = false;
    }
    closeCallback();
    {
        std::lock_guard<std::mutex> lock(pluginMutex_);
        loader.reset();
    }
    finished_ = true;
}

void WindowsApplication::onTextMessage(const char* bytes, int length) {
    // The plug-in gets a NUL-terminated copy; an embedded NUL ends the text it sees.
    std::string text(bytes, length > 0 ? static_cast<size_t>(length) : 0);
    std::lock_guard<std::mutex> lock(pluginMutex_);
    if (active_) onTextMessage_(text.c_str());
}

void WindowsApplication::onBinaryMessage(const char* bytes, int length) {
    std::lock_guard<std::mutex> lock(pluginMutex_);
    if (active_) onBinaryMessage_(bytes, length);
}

void WindowsApplication::onClose() {
    std::lock_guard<std::mutex> lock(pluginMutex_);
    if (active_) onClose_();
}

std::string WindowsApplication::description() const {
    return "El plug-in de la aplicación \"" + name_ + "\"";
}

void WindowsApplication::waitForEnd() {
    if (!running_) return;
    while (!finished_) {
        {
            std::lock_guard<std::mutex> lock(pluginMutex_);
            if (active_) onClose_();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}
