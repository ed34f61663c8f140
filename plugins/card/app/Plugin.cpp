#include "app/Plugin.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "app/Global.h"
#include "app/Guarded.h"
#include "app/JsonResponse.h"
#include "app/VexaApplication.h"
#include "zelvo/console.h"
#include "zelvo/log.h"

// Every export runs guarded: no exception reaches the launcher. Failures that
// need no answer are already in the log.
namespace {
void nothingMore(const AppException&) {}
}  // namespace

namespace plugin {

Senders& senders() {
    static Senders s;
    return s;
}

ConnectionState& connection() {
    static ConnectionState c;
    return c;
}

void ensureInitialised() {
    Global::init();
    VexaApplication::init();
}

void send(const std::string& text) {
    if (ZelvoTextSender sender = senders().text.load()) sender(text.c_str());
}

void returnError(const AppException& exception) {
    guarded("returnError", [&] {
        LOG_INFO("returnError") << "Enviando mensaje de error";
        send(JsonResponse::errorResponse(exception));
    }, nothingMore);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    onClose();
}

}  // namespace plugin

void registerSendMessageFunction(ZelvoTextSender textSender, ZelvoBinarySender binarySender) {
    guarded("registerSendMessageFunction", [] {
        LOG_INFO("registerSendMessageFunction") << "Registrando funciones de envio de mensajes";
    }, nothingMore);
    plugin::senders().text.store(textSender);
    plugin::senders().binary.store(binarySender);
    plugin::connection().begin();
}

void onConnect() {
    guarded("onConnect", [] {
        Global::init();
        LOG_INFO("onConnect") << "Aplicación vexa-tools conectada";
        VexaApplication::init();
    }, nothingMore);
    // A command answered before this point has closed the connection already.
    if (!plugin::connection().markOpen()) return;
    while (plugin::connection().isOpen()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

void onTextMessage(const char* message) {
    guarded("onTextMessage", [&] {
        plugin::ensureInitialised();
        LOG_INFO("onTextMessage") << "Mensaje de texto recibido: " << VexaApplication::quote(message);
        VexaResponse response = VexaApplication::doAction(message);
        LOG_INFO("onTextMessage") << "Enviando mensaje de respuesta";
        plugin::send(JsonResponse::okResponse(response));
        onClose();
    }, plugin::returnError);
}

void onBinaryMessage(const char*, int) {
    guarded("onBinaryMessage", [] { LOG_INFO("onBinaryMessage") << "Mensaje binario recibido"; }, nothingMore);
}

void onClose() {
    guarded("onClose", [] { LOG_INFO("onClose") << "Cerrando aplicación"; }, nothingMore);
    plugin::connection().close();
}

int test() {
    zelvo::openOwnConsole();
    int written = std::printf("vexa-tools\n");
    std::fflush(stdout);
    return written;
}
