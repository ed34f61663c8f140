#include "app/Plugin.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "app/Global.h"
#include "app/JsonResponse.h"
#include "app/VexaApplication.h"
#include "zelvo/log.h"

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
    LOG_INFO("returnError") << "Enviando mensaje de error";
    send(JsonResponse::errorResponse(exception));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    onClose();
}

}  // namespace plugin

void registerSendMessageFunction(ZelvoTextSender textSender, ZelvoBinarySender binarySender) {
    LOG_INFO("registerSendMessageFunction") << "Registrando funciones de envio de mensajes";
    plugin::senders().text.store(textSender);
    plugin::senders().binary.store(binarySender);
    plugin::connection().begin();
}

void onConnect() {
    try {
        Global::init();
        LOG_INFO("onConnect") << "Aplicación vexa-tools conectada";
        VexaApplication::init();
    } catch (const std::exception& e) {
        LOG_ERROR("onConnect") << e.what();
    }
    // A command answered before this point has closed the connection already.
    if (!plugin::connection().markOpen()) return;
    while (plugin::connection().isOpen()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

void onTextMessage(const char* message) {
    try {
        plugin::ensureInitialised();
        LOG_INFO("onTextMessage") << "Mensaje de texto recibido: " << (message ? message : "");
        VexaResponse response = VexaApplication::doAction(message);
        LOG_INFO("onTextMessage") << "Enviando mensaje de respuesta";
        plugin::send(JsonResponse::okResponse(response));
        onClose();
    } catch (const AppException& e) {
        plugin::returnError(e);
    } catch (const std::exception& e) {
        // Not ours (memory, a library): the page still gets an answer.
        LOG_ERROR("onTextMessage") << "[std::exception] " << e.what();
        plugin::returnError(AppException("std::exception", "Error interno del componente vexa-tools", e.what(), 0,
                                         "onTextMessage", __LINE__));
    }
}

void onBinaryMessage(const char*, int) { LOG_INFO("onBinaryMessage") << "Mensaje binario recibido"; }

void onClose() {
    LOG_INFO("onClose") << "Cerrando aplicación";
    plugin::connection().close();
}

int test() {
    int written = std::printf("vexa-tools\n");
    std::fflush(stdout);
    return written;
}
