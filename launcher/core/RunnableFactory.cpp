#include "core/RunnableFactory.h"

#include "core/JsonReader.h"
#include "core/ServerRunnable.h"
#include "modes/SelfCheckRunnable.h"
#include "modes/SetCookiesRunnable.h"
#include "modes/TestApplicationRunnable.h"
#include "zelvo/log.h"

std::unique_ptr<Runnable> RunnableFactory::create(int argc, char** argv, const JsonReader* config) {
    if (auto runnable = ServerRunnable::create(argc, argv, config)) {
        LOG_INFO("RunnableFactory::create") << "Petición para ejecutar el aplicativo";
        return runnable;
    }
    if (auto runnable = SetCookiesRunnable::create(argc, argv, config)) {
        LOG_INFO("RunnableFactory::create") << "Petición para publicar la información del aplicativo utilizando cookies";
        return runnable;
    }
    if (argc >= 2) {
        if (auto runnable = TestApplicationRunnable::create(argv, config)) {
            LOG_INFO("RunnableFactory::create") << "Petición para realizar un test del aplicativo";
            return runnable;
        }
    }
    if (auto runnable = SelfCheckRunnable::create(argc, argv, nullptr)) {
        LOG_INFO("RunnableFactory::create") << "Petición para realizar verificación de componentes";
        return runnable;
    }
    LOG_INFO("RunnableFactory::create") << "Petición no encontrada para los parámetros dados";
    LOG_VERBOSE("RunnableFactory::create") << "Parámetros recibidos";
    LOG_VERBOSE("RunnableFactory::create") << "argc=" << argc;
    for (int i = 0; i < argc; ++i) LOG_VERBOSE("RunnableFactory::create") << "argv[" << i << "]=" << argv[i];
    LOG_VERBOSE("RunnableFactory::create") << "reader=" << (config ? config->serialize() : std::string("null"));
    return nullptr;
}
