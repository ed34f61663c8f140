// The plug-in's exports: the five of the launcher contract and the Java native
// method tavrel.quillet.QuilletWrapper.getQuilletJar. Nothing escapes them.
#include "Config.h"
#include "QuilletPlugin.h"
#include "jni/JniObject.h"
#include "log/AsyncLog.h"

#include "zelvo/plugin_api.h"

#include <jni.h>

#include <exception>
#include <string>

using quillet::plugin;

namespace {

// A failure that reaches an export (memory, threads) still gets its reply and
// ends the request.
template <typename F>
void guarded(F&& f) {
    std::string failure;
    try {
        f();
        return;
    } catch (const std::exception& e) {
        failure = e.what();
    } catch (...) {
        failure = "error desconocido";
    }
    try {
        QLOG_ERROR << failure;
        plugin().failRequest(failure);
    } catch (...) {
    }
}

// Raises java.lang.Exception(message); when even that cannot be done the
// failure is only logged.
void throwJavaException(JNIEnv* env, const std::string& message) {
    if (env->ExceptionCheck()) env->ExceptionClear();
    const char* className = "java/lang/Exception";
    std::string text = message;
    jclass cls = env->FindClass(className);
    if (!cls) {
        env->ExceptionClear();
        text = className;
        className = "java/lang/NoClassDefFoundError";
        cls = env->FindClass(className);
        if (!cls) {
            env->ExceptionClear();
            QLOG_ERROR << "FindClass didn't found '" << className << "'";
            return;
        }
    }
    jint rc = env->ThrowNew(cls, text.c_str());
    env->DeleteLocalRef(cls);
    if (rc != 0) QLOG_ERROR << "ThrowNew failed with code " << rc;
}

}  // namespace

ZELVO_EXPORT void registerSendMessageFunction(ZelvoTextSender text, ZelvoBinarySender binary) {
    try {
        plugin().registerSendMessageFunction(text, binary);
    } catch (...) {
    }
}

ZELVO_EXPORT void onConnect() {
    try {
        plugin().onConnect();
    } catch (...) {
        quillet::log::stopPluginLog();
    }
}

ZELVO_EXPORT void onTextMessage(const char* message) {
    guarded([&] { plugin().onTextMessage(message); });
}

ZELVO_EXPORT void onBinaryMessage(const char* data, int length) {
    guarded([&] { plugin().onBinaryMessage(data, length); });
}

ZELVO_EXPORT void onClose() {
    try {
        plugin().onClose();
    } catch (...) {
    }
}

extern "C" JNIEXPORT void JNICALL Java_tavrel_quillet_QuilletWrapper_getQuilletJar(JNIEnv* env, jclass,
                                                                                    jobject target) {
    if (!env) return;
    try {
        // Without a folder to write in there is no log, but the answer still comes.
        if (std::string folder = quillet::pluginLogFolder(); !folder.empty())
            quillet::log::startPluginLog("quillet.jni", folder);
        QLOG_DEBUG << "dllDirectory:" << quillet::libraryDirectory();
        std::string path = quillet::quilletJarPath();
        QLOG_INFO << "quilletJarPath:" << path;
        quillet::QuilletJarObject object(path);
        jni::JniObject::setString(env, target, "setPath", path);
        if (env->ExceptionCheck())
            QLOG_ERROR << "setPath raised a Java exception";
        else
            QLOG_INFO << object.toString() << " jni object written";
    } catch (const std::exception& e) {
        QLOG_ERROR << e.what();
        throwJavaException(env, e.what());
    } catch (...) {
        throwJavaException(env, "error desconocido");
    }
    quillet::log::stopPluginLog();
}
