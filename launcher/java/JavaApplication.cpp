#include "java/JavaApplication.h"

#include "java/JniSupport.h"
#include "java/JniText.h"
#include "java/JvmLocator.h"
#include "zelvo/java_runtime.h"
#include "zelvo/log.h"
#include "zelvo/shared_library.h"
#include "zelvo/stop_signals.h"
#include "zelvo/paths.h"

#include <jni.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

const char kMessageClass[] = "tavrel/zelvo/NativeDesktopApplicationMessage";
const char kRunSignature[] =
    "([Ljava/lang/String;Ljava/lang/String;)Ltavrel/zelvo/idesktopapplication/DesktopApplication;";

// The one Java application of the process; the native methods reach the
// server's callbacks through it. Written by the constructor, before run().
std::atomic<JavaApplication*> g_current{nullptr};

void JNICALL nativeTextMessage(JNIEnv* env, jobject, jstring message) {
    if (!message) {
        jni::throwNew(env, "java/lang/NullPointerException", "El mensaje no puede ser nulo");
        return;
    }
    std::string text;
    if (!jnitext::toUtf8(env, message, text)) return;
    JavaApplication* application = g_current.load();
    if (application && application->textCallback) application->textCallback(text.c_str());
}

void JNICALL nativeBinaryMessage(JNIEnv* env, jobject, jbyteArray message) {
    if (!message) {
        jni::throwNew(env, "java/lang/NullPointerException", "El mensaje no puede ser nulo");
        return;
    }
    jsize length = env->GetArrayLength(message);
    jbyte* bytes = env->GetByteArrayElements(message, nullptr);
    if (!bytes) return;
    JavaApplication* application = g_current.load();
    if (application && application->binaryCallback) {
        application->binaryCallback(reinterpret_cast<const char*>(bytes), length);
    }
    env->ReleaseByteArrayElements(message, bytes, JNI_ABORT);
}

}  // namespace

struct JavaApplication::Impl {
    ServerRunnableParams server;
    AppWebParams web;  // kept, not used here
    std::string code;
    std::vector<std::string> archive;

    // Written by the application thread before the start is reported; read by
    // the server thread only while `open`.
    std::unique_ptr<zelvo::SharedLibrary> library;
    JavaVM* vm = nullptr;
    jobject application = nullptr;    // global reference
    jclass applicationClass = nullptr;  // global reference
    jmethodID textMethod = nullptr;
    jmethodID binaryMethod = nullptr;
    jmethodID closeMethod = nullptr;

    // `open` is true from just before the start is reported until the Java
    // application has ended. A delivery holds the mutex for its whole call, and the
    // application thread closes the gate under it, so no delivery reaches a JVM
    // that is being taken down.
    std::mutex deliveryMutex;
    bool open = false;

    bool loadJvm(void* createFunction, JNIEnv*& env);
    bool runApplication(JNIEnv* env, std::string& error);
    void lookUpMethods(JNIEnv* env);
    void endJvm(JNIEnv* env, bool started);
    template <typename Call>
    void deliver(const char* function, jmethodID method, const char* name, const char* dropped, Call&& call);
};

JavaApplication::JavaApplication(const ServerRunnableParams& server, const AppWebParams& web,
                                 const JavaAppWebParams& java)
    : impl_(std::make_unique<Impl>()) {
    impl_->server = server;
    impl_->web = web;
    impl_->code = java.code;
    impl_->archive = java.archive;
    g_current.store(this);
}

JavaApplication::~JavaApplication() {
    JavaApplication* self = this;
    g_current.compare_exchange_strong(self, nullptr);
}

bool JavaApplication::Impl::loadJvm(void* createFunction, JNIEnv*& env) {
    std::vector<std::string> texts;
    texts.push_back("-Djava.class.path=" + server.classpath);
    texts.insert(texts.end(), server.vmoptions.begin(), server.vmoptions.end());
    std::vector<std::string> encoded(texts.size());
    std::vector<JavaVMOption> options(texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        LOG_VERBOSE("JavaApplication::loadJvm") << "Opción " << i << " de la JVM: " << texts[i];
        if (!zelvo::jvmOptionText(texts[i], encoded[i])) {
            LOG_ERROR("JavaApplication::loadJvm")
                << "La opción " << i << " de la JVM tiene caracteres que Java no puede recibir en este sistema";
            return false;
        }
        options[i].optionString = &encoded[i][0];
        options[i].extraInfo = nullptr;
    }
    JavaVMInitArgs args{};
    args.version = JNI_VERSION_1_6;
    args.nOptions = static_cast<jint>(options.size());
    args.options = options.data();
    args.ignoreUnrecognized = JNI_FALSE;

    // JNICALL: on 32-bit Windows the JVM's exports use the stdcall convention.
    using CreateJavaVM = jint(JNICALL*)(JavaVM**, void**, void*);
    auto create = reinterpret_cast<CreateJavaVM>(createFunction);
    jint result;
    {
        zelvo::StopHandlerKept keep;
        result = create(&vm, reinterpret_cast<void**>(&env), &args);
    }
    if (result != JNI_OK) {
        LOG_ERROR("JavaApplication::loadJvm") << "Error llamando a JNI_CreateJavaVM " << result;
        vm = nullptr;
        return false;
    }
    return true;
}

bool JavaApplication::Impl::runApplication(JNIEnv* env, std::string& error) {
    const char* fn = "JavaApplication::runApplication";
    LOG_VERBOSE(fn) << "Buscando clase " << kMessageClass;
    LocalRef<jclass> messageClass(env, env->FindClass(kMessageClass));
    if (!messageClass) {
        LOG_ERROR(fn) << "No se encontró la clase " << kMessageClass << " " << jni::takeException(env);
        error = std::string("No se encontró la clase para el intercambio de mensajes (") + kMessageClass + ").";
        return false;
    }

    LOG_VERBOSE(fn) << "Registrando métodos nativos para intercambio de mensajes";
    JNINativeMethod natives[] = {
        {const_cast<char*>("onMessage"), const_cast<char*>("(Ljava/lang/String;)V"),
         reinterpret_cast<void*>(&nativeTextMessage)},
        {const_cast<char*>("onMessage"), const_cast<char*>("([B)V"), reinterpret_cast<void*>(&nativeBinaryMessage)},
    };
    jint registered = env->RegisterNatives(messageClass.get(), natives, 2);
    if (env->ExceptionCheck()) {
        LOG_ERROR(fn) << "Excepción registrando los métodos nativos para el intercambio de mensajes "
                      << jni::takeException(env);
        error = "Ocurrió una excepción registrando los métodos nativos para el intercambio de mensajes.";
        return false;
    }
    if (registered < 0) {
        LOG_ERROR(fn) << "No se registron los métodos nativos para el intercambio de mensajes";
        error = "No se registraron los métodos nativos para el intercambio de mensajes.";
        return false;
    }

    const std::string& loaderName = server.loaderclass;
    LOG_VERBOSE(fn) << "Buscando clase " << loaderName;
    LocalRef<jclass> loader(env, env->FindClass(loaderName.c_str()));
    if (!loader) {
        LOG_ERROR(fn) << "No se puede cargar la clase " << loaderName << " " << jni::takeException(env);
        error = "No se encontró la clase para cargar la aplicación (" + loaderName + ").";
        return false;
    }

    LOG_VERBOSE(fn) << "Buscando método run";
    jmethodID run = env->GetStaticMethodID(loader.get(), "run", kRunSignature);
    if (!run) {
        LOG_ERROR(fn) << "No se encontró el método run de la clase " << loaderName << " " << jni::takeException(env);
        error = "No se encontró el método para cargar la aplicación (" + loaderName + ".run())";
        return false;
    }

    LocalRef<jclass> stringClass(env, env->FindClass("java/lang/String"));
    LocalRef<jobjectArray> archives(
        env, stringClass ? env->NewObjectArray(static_cast<jsize>(archive.size()), stringClass.get(), nullptr)
                         : nullptr);
    for (size_t i = 0; archives && i < archive.size(); ++i) {
        LocalRef<jstring> entry(env, jnitext::newString(env, archive[i]));
        if (!entry) break;
        env->SetObjectArrayElement(archives.get(), static_cast<jsize>(i), entry.get());
    }
    LocalRef<jstring> codeString(env, archives ? jnitext::newString(env, code) : nullptr);
    if (!archives || !codeString || env->ExceptionCheck()) {
        LOG_ERROR(fn) << "No se pudieron preparar los argumentos del método run " << jni::takeException(env);
        error = "No se ejecutó la aplicación. Ha ocurrido un error desconocido.";
        return false;
    }

    LOG_VERBOSE(fn) << "Ejecutando método run";
    LocalRef<jobject> result(env, env->CallStaticObjectMethod(loader.get(), run, archives.get(), codeString.get()));
    if (env->ExceptionCheck()) {
        LOG_ERROR(fn) << "Excepción ejecutando método run";
        LocalRef<jthrowable> thrown(env, env->ExceptionOccurred());
        if (!thrown) {
            error = "Excepción ejecutando la aplicación. No se puede obtener el detalle de la excepción.";
            return false;
        }
        env->ExceptionClear();
        LocalRef<jclass> thrownClass(env, env->GetObjectClass(thrown.get()));
        jmethodID getMessage = env->GetMethodID(thrownClass.get(), "getMessage", "()Ljava/lang/String;");
        if (getMessage) {
            LOG_INFO(fn) << "Método getMessage exists";
            LocalRef<jstring> message(env, static_cast<jstring>(env->CallObjectMethod(thrown.get(), getMessage)));
            std::string text;
            if (!env->ExceptionCheck() && message && jnitext::toUtf8(env, message.get(), text)) {
                LOG_INFO(fn) << "Obtenido mensaje de la excepción";
                error = "No se ejecutó la aplicación. " + text;
                return false;
            }
        }
        env->ExceptionClear();
        error = "Excepción ejecutando la aplicación. No se puede obtener el mensaje de la excepción.";
        return false;
    }
    if (!result) {
        LOG_ERROR(fn) << "La llamada al método run de la clase " << loaderName << " devolvió un objeto nulo";
        error = "No se ejecutó la aplicación. Ha ocurrido un error desconocido.";
        return false;
    }

    LocalRef<jclass> resultClass(env, env->GetObjectClass(result.get()));
    if (!resultClass) {
        LOG_ERROR(fn) << "No se pudo obtener la clase del objeto desktopApplication";
        env->ExceptionClear();
        error = "No se ejecutó la aplicación. Ha ocurrido un error desconocido.";
        return false;
    }
    application = env->NewGlobalRef(result.get());
    applicationClass = static_cast<jclass>(env->NewGlobalRef(resultClass.get()));
    if (!application || !applicationClass) {
        LOG_ERROR(fn) << "No se pudo conservar el objeto desktopApplication " << jni::takeException(env);
        error = "No se ejecutó la aplicación. Ha ocurrido un error desconocido.";
        return false;
    }
    lookUpMethods(env);
    return true;
}

void JavaApplication::Impl::lookUpMethods(JNIEnv* env) {
    const char* fn = "JavaApplication::runApplication";
    textMethod = env->GetMethodID(applicationClass, "onMessage", "(Ljava/lang/String;)V");
    if (!textMethod) {
        env->ExceptionClear();
        LOG_ERROR(fn) << "Método onMessage(String) no encontrado en objeto desktopApplication";
    }
    binaryMethod = env->GetMethodID(applicationClass, "onMessage", "([B)V");
    if (!binaryMethod) {
        env->ExceptionClear();
        LOG_ERROR(fn) << "Método onMessage(byte[]) no encontrado en objeto desktopApplication";
    }
    closeMethod = env->GetMethodID(applicationClass, "onClose", "()V");
    if (!closeMethod) {
        env->ExceptionClear();
        LOG_ERROR(fn) << "Método onClose() no encontrado en objeto desktopApplication";
    }
}

void JavaApplication::Impl::endJvm(JNIEnv* env, bool started) {
    const char* fn = "JavaApplication::run";
    // The application has ended when no non-daemon Java thread is left besides
    // this one. Waiting here rather than inside DestroyJavaVM lets the gate close
    // first; deliveries attach as non-daemon threads, so the last check runs under
    // the gate's mutex, while none is in flight.
    JavaThreadCensus census;
    bool counted = census.init(env);
    if (!started) {
        if (counted && census.otherUserThreads() > 0) {
            // DestroyJavaVM would wait for them for ever; the process ends anyway.
            LOG_WARN(fn) << "La aplicación java dejó hilos en ejecución, no se descargará la JVM";
            return;
        }
    } else if (counted) {
        for (;;) {
            int others = census.otherUserThreads();
            if (others < 0) break;  // DestroyJavaVM waits for them itself
            if (others == 0) {
                std::lock_guard<std::mutex> lock(deliveryMutex);
                if (census.otherUserThreads() <= 0) {
                    open = false;
                    break;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    jint result = vm->DestroyJavaVM();
    if (result != JNI_OK) {
        LOG_WARN(fn) << "DestroyJavaVM devolvió " << result;
    }
    std::lock_guard<std::mutex> lock(deliveryMutex);
    open = false;
    application = nullptr;
    applicationClass = nullptr;
    vm = nullptr;
}

void JavaApplication::run() {
    const char* fn = "JavaApplication::run";
    Impl& d = *impl_;
    LOG_VERBOSE(fn) << "Obteniendo ruta de jvm.dll";
    std::string why;
    std::string path = JvmLocator::findJvmLibrary(why);
    if (path.empty()) {
        LOG_ERROR(fn) << "No se obtuvo un valor válido para jvm.dll";
        errorCallback(("Java no está correctamente instalado." + (why.empty() ? "" : " " + why)).c_str());
        return;
    }
    LOG_VERBOSE(fn) << "Se usará la JVM " << path;
    std::string runtimeDir = JvmLocator::runtimeDirectory(path);
    if (!runtimeDir.empty()) zelvo::appendToPath(runtimeDir);

    LOG_VERBOSE(fn) << "Cargando jvm.dll";
    zelvo::LoadError loadError;
    d.library = zelvo::SharedLibrary::open(path, true, loadError);
    if (!d.library) {
        LOG_ERROR(fn) << "No se puede cargar la libreria " << path << ", error " << loadError.shown();
        errorCallback("No se pueden cargar los componentes para ejecutar Java.");
        return;
    }

    LOG_VERBOSE(fn) << "Obteniendo puntero a JNI_CreateJavaVM";
    void* create = d.library->symbol("JNI_CreateJavaVM", loadError);
    if (!create) {
        LOG_ERROR(fn) << "No se puede cargar la función para iniciar la JVM, error " << loadError.shown();
        d.library.reset();
        errorCallback("No se encontró el procedimiento para ejecutar Java");
        return;
    }

    LOG_VERBOSE(fn) << "Creando nueva instancia de la JVM";
    JNIEnv* env = nullptr;
    if (!d.loadJvm(create, env)) {
        LOG_ERROR(fn) << "No se puede crear una instancia de la JVM";
        d.library.reset();
        errorCallback("No se puede cargar una instancia de Java.");
        return;
    }

    LOG_VERBOSE(fn) << "Ejecutando aplicación java";
    std::string error;
    bool started = d.runApplication(env, error);
    if (started) {
        {
            std::lock_guard<std::mutex> lock(d.deliveryMutex);
            d.open = true;
        }
        startedCallback();
    } else {
        errorCallback(error.c_str());
    }

    LOG_VERBOSE(fn) << "Descargando la JVM";
    d.endJvm(env, started);
    LOG_VERBOSE(fn) << "Se terminó de descargar la JVM";
    d.library.reset();
    closeCallback();
}

template <typename Call>
void JavaApplication::Impl::deliver(const char* function, jmethodID method, const char* name, const char* dropped,
                                    Call&& call) {
    std::lock_guard<std::mutex> lock(deliveryMutex);
    if (!open) {
        LOG_WARN(function) << "La aplicación java no está en ejecución, " << dropped;
        return;
    }
    if (!method) {
        LOG_WARN(function) << "Método " << name << " no encontrado en objeto desktopApplication, " << dropped;
        return;
    }
    AttachedThread thread(vm);
    JNIEnv* env = thread.env();
    if (!env) {
        LOG_ERROR(function) << "No se pudo asociar el hilo a la JVM, error " << thread.status() << ", " << dropped;
        return;
    }
    call(env);
    if (env->ExceptionCheck()) {
        LOG_ERROR(function) << "Excepción en el método " << name << " del objeto desktopApplication: "
                            << jni::takeException(env);
    }
}

void JavaApplication::onTextMessage(const char* bytes, int length) {
    // Java gets the text up to its first NUL, as a NUL-terminated copy would give.
    size_t size = length > 0 ? static_cast<size_t>(length) : 0;
    if (size > 0) {
        const void* nul = std::memchr(bytes, '\0', size);
        if (nul) size = static_cast<size_t>(static_cast<const char*>(nul) - bytes);
    }
    std::string text(bytes, size);
    Impl& d = *impl_;
    d.deliver("JavaApplication::onTextMessage", d.textMethod, "onMessage(String)", "se descarta el mensaje",
              [&](JNIEnv* env) {
                  LocalRef<jstring> message(env, jnitext::newString(env, text));
                  if (message) env->CallVoidMethod(d.application, d.textMethod, message.get());
              });
}

void JavaApplication::onBinaryMessage(const char* bytes, int length) {
    Impl& d = *impl_;
    jsize size = length > 0 ? length : 0;
    d.deliver("JavaApplication::onBinaryMessage", d.binaryMethod, "onMessage(byte[])", "se descarta el mensaje",
              [&](JNIEnv* env) {
                  LocalRef<jbyteArray> message(env, env->NewByteArray(size));
                  if (!message) return;
                  if (size > 0) env->SetByteArrayRegion(message.get(), 0, size, reinterpret_cast<const jbyte*>(bytes));
                  env->CallVoidMethod(d.application, d.binaryMethod, message.get());
              });
}

std::string JavaApplication::unavailable() const {
    const std::string& loaderName = impl_->server.loaderclass;
    if (!loaderName.empty()) return "";
    LOG_ERROR("JavaApplication::unavailable") << "No se configuró la clase que carga la aplicación Java";
    return "No se encontró la clase para cargar la aplicación (" + loaderName + ").";
}

std::string JavaApplication::description() const {
    return "La aplicación Java (clase " + impl_->server.loaderclass + ")";
}

void JavaApplication::onClose() {
    Impl& d = *impl_;
    d.deliver("JavaApplication::onClose", d.closeMethod, "onClose()", "no se le avisará del cierre",
              [&](JNIEnv* env) { env->CallVoidMethod(d.application, d.closeMethod); });
}
