#pragma once
// Server mode ("run/"): merges application.config, the request's payload and the
// additional configuration file named in the registry, then serves one web page
// through the hosted application chosen by the request's "type".
#include "core/Params.h"
#include "core/Runnable.h"
#include "host/VirtualApplication.h"

#include <memory>
#include <string>

class JsonReader;

class ServerRunnable : public Runnable {
public:
    // A runnable for a "run/" request naming a known application type, or null.
    static std::unique_ptr<ServerRunnable> create(int argc, char** argv, const JsonReader* config);
    ServerRunnable(const ServerRunnableParams& server, const AppWebParams& web,
                   std::unique_ptr<VirtualApplication> application);
    ~ServerRunnable() override;

    int run() override;
    // One server per user; the server loop on the calling thread; 0 or 1.
    int runServer();

    // The server parameter set from application.config, in the order the keys are
    // documented; test mode leaves out the class path.
    static void readServerParams(const JsonReader& config, ServerRunnableParams& params, bool withClasspath);
    // The sites an administrator allowed for the whole machine: the registry value
    // "AllowedOrigins" under the base key (what the installer's ZELVO_SITES gave),
    // origins separated by blanks, added to "allowedorigins".
    static void readRegisteredOrigins(const std::string& basekey, std::vector<std::string>& origins);

    const ServerRunnableParams& serverParams() const { return server_; }
    const AppWebParams& webParams() const { return web_; }
    const VirtualApplication* application() const { return application_.get(); }

private:
    static void loadServerRunnableParams(const JsonReader* config, ServerRunnableParams& params);
    static std::unique_ptr<JsonReader> getWebReaderParams(const std::string& argument);
    static void loadWebParams(const JsonReader* web, AppWebParams& params);
    // The application as the registry names it, and what the consent window says of it.
    static void nameApplication(const std::string& basekey, const AppWebParams& web, ServerRunnableParams& params);
    static void loadLocalParameters(const std::string& basekey, const std::string& name, ServerRunnableParams& params);

    ServerRunnableParams server_;
    AppWebParams web_;
    std::unique_ptr<VirtualApplication> application_;  // owned; the server only borrows it
};
