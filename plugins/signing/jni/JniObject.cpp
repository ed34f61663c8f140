#include "jni/JniObject.h"

#include <stdexcept>

namespace jni {
namespace {

// A failed look-up leaves a Java exception pending; ours replaces it.
[[noreturn]] void missing(JNIEnv* env, const std::string& name) {
    if (env->ExceptionCheck()) env->ExceptionClear();
    throw std::runtime_error("jni method '" + name + "' doesn't exists in object");
}

}  // namespace

void JniObject::setString(JNIEnv* env, jobject target, const std::string& method, const std::string& text) {
    if (!env || !target || method.empty()) throw std::runtime_error("invalid arguments for JniObject.setString");

    LocalRef<jbyteArray> bytes(env, env->NewByteArray(static_cast<jsize>(text.size())));
    if (!bytes) {
        if (env->ExceptionCheck()) env->ExceptionClear();
        throw std::runtime_error("jni: no se pudo crear el arreglo de bytes");
    }
    env->SetByteArrayRegion(bytes.get(), 0, static_cast<jsize>(text.size()),
                            reinterpret_cast<const jbyte*>(text.data()));

    LocalRef<jclass> charsetClass(env, env->FindClass("java/nio/charset/Charset"));
    if (!charsetClass) missing(env, "forName");
    jmethodID forName =
        env->GetStaticMethodID(charsetClass.get(), "forName", "(Ljava/lang/String;)Ljava/nio/charset/Charset;");
    if (!forName) missing(env, "forName");
    LocalRef<jstring> utf8Name(env, env->NewStringUTF("UTF-8"));
    LocalRef<jobject> charset(env, env->CallStaticObjectMethod(charsetClass.get(), forName, utf8Name.get()));
    if (!charset || env->ExceptionCheck()) missing(env, "forName");

    LocalRef<jclass> stringClass(env, env->FindClass("java/lang/String"));
    if (!stringClass) missing(env, "<init>");
    jmethodID init = env->GetMethodID(stringClass.get(), "<init>", "([BLjava/nio/charset/Charset;)V");
    if (!init) missing(env, "<init>");
    LocalRef<jobject> string(env, env->NewObject(stringClass.get(), init, bytes.get(), charset.get()));
    if (!string || env->ExceptionCheck()) missing(env, "<init>");

    LocalRef<jclass> targetClass(env, env->GetObjectClass(target));
    jmethodID setter = targetClass ? env->GetMethodID(targetClass.get(), method.c_str(), "(Ljava/lang/String;)V")
                                   : nullptr;
    if (!setter) missing(env, method);
    // An exception thrown by the setter itself stays pending for the caller.
    env->CallVoidMethod(target, setter, string.get());
}

}  // namespace jni
