// Stands in for the Java host while it is not built: a "java" application then
// fails to start with the same text as a missing Java runtime.
#include "java/JavaApplication.h"

struct JavaApplication::Impl {};

JavaApplication::JavaApplication(const ServerRunnableParams&, const AppWebParams&, const JavaAppWebParams&)
    : impl_(std::make_unique<Impl>()) {}

JavaApplication::~JavaApplication() = default;

void JavaApplication::run() { errorCallback("Java no está correctamente instalado."); }

void JavaApplication::onTextMessage(const char*, int) {}

void JavaApplication::onBinaryMessage(const char*, int) {}

void JavaApplication::onClose() {}
