// Linked into the unit tests only while the embedded server is not in the tree:
// the runnables under test reference it but the tests never start a server.
#include "server/EmbeddedServer.h"

void EmbeddedServer::configure(const ServerRunnableParams&, const AppWebParams&, VirtualApplication*) {}
bool EmbeddedServer::run(std::string& error) {
    error = "servidor no disponible";
    return false;
}
void EmbeddedServer::requestStop(int) {}
void EmbeddedServer::installStopSignals() {}
void EmbeddedServer::onApplicationStarted() {}
void EmbeddedServer::onApplicationError(const char*) {}
void EmbeddedServer::onTextMessage(const char*) {}
void EmbeddedServer::onByteArrayMessage(const char*, int) {}
void EmbeddedServer::onApplicationClose() {}
bool EmbeddedServerHelper::isValidPort(int port) { return port == 80 || port == 443 || (port >= 1024 && port < 65535); }
bool EmbeddedServerHelper::isAvailablePort(int) { return true; }
