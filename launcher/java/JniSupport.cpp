#include "java/JniSupport.h"

#include "java/JniText.h"

AttachedThread::AttachedThread(JavaVM* vm) : vm_(vm) {
    status_ = vm_->GetEnv(reinterpret_cast<void**>(&env_), JNI_VERSION_1_6);
    if (status_ == JNI_EDETACHED) {
        status_ = vm_->AttachCurrentThread(reinterpret_cast<void**>(&env_), nullptr);
        attached_ = status_ == JNI_OK;
    }
    if (status_ != JNI_OK) env_ = nullptr;
}

AttachedThread::~AttachedThread() {
    if (attached_) vm_->DetachCurrentThread();
}

namespace jni {

std::string takeException(JNIEnv* env) {
    LocalRef<jthrowable> error(env, env->ExceptionOccurred());
    if (!error) return "";
    env->ExceptionClear();
    LocalRef<jclass> cls(env, env->GetObjectClass(error.get()));
    jmethodID toString = env->GetMethodID(cls.get(), "toString", "()Ljava/lang/String;");
    if (!toString) {
        env->ExceptionClear();
        return "";
    }
    LocalRef<jstring> text(env, static_cast<jstring>(env->CallObjectMethod(error.get(), toString)));
    std::string out;
    if (env->ExceptionCheck() || !text || !jnitext::toUtf8(env, text.get(), out)) {
        env->ExceptionClear();
        return "";
    }
    return out;
}

void throwNew(JNIEnv* env, const char* className, const char* message) {
    LocalRef<jclass> cls(env, env->FindClass(className));
    if (cls) env->ThrowNew(cls.get(), message);
}

}  // namespace jni

bool JavaThreadCensus::init(JNIEnv* env) {
    env_ = env;
    LocalRef<jclass> thread(env, env->FindClass("java/lang/Thread"));
    LocalRef<jclass> group(env, env->FindClass("java/lang/ThreadGroup"));
    if (!thread || !group) {
        env->ExceptionClear();
        return false;
    }
    currentThread_ = env->GetStaticMethodID(thread.get(), "currentThread", "()Ljava/lang/Thread;");
    jmethodID getThreadGroup = env->GetMethodID(thread.get(), "getThreadGroup", "()Ljava/lang/ThreadGroup;");
    isDaemon_ = env->GetMethodID(thread.get(), "isDaemon", "()Z");
    isAlive_ = env->GetMethodID(thread.get(), "isAlive", "()Z");
    jmethodID getParent = env->GetMethodID(group.get(), "getParent", "()Ljava/lang/ThreadGroup;");
    activeCount_ = env->GetMethodID(group.get(), "activeCount", "()I");
    enumerate_ = env->GetMethodID(group.get(), "enumerate", "([Ljava/lang/Thread;Z)I");
    if (!currentThread_ || !getThreadGroup || !isDaemon_ || !isAlive_ || !getParent || !activeCount_ || !enumerate_) {
        env->ExceptionClear();
        return false;
    }
    LocalRef<jobject> self(env, env->CallStaticObjectMethod(thread.get(), currentThread_));
    jobject top = self ? env->CallObjectMethod(self.get(), getThreadGroup) : nullptr;
    while (top && !env->ExceptionCheck()) {
        jobject parent = env->CallObjectMethod(top, getParent);
        if (!parent) break;
        env->DeleteLocalRef(top);
        top = parent;
    }
    if (env->ExceptionCheck() || !top) {
        env->ExceptionClear();
        return false;
    }
    LocalRef<jobject> root(env, top);
    threadClass_ = static_cast<jclass>(env->NewGlobalRef(thread.get()));
    rootGroup_ = env->NewGlobalRef(root.get());
    return threadClass_ && rootGroup_;
}

int JavaThreadCensus::otherUserThreads() const {
    if (!rootGroup_) return -1;
    JNIEnv* env = env_;
    LocalRef<jobject> self(env, env->CallStaticObjectMethod(threadClass_, currentThread_));
    jint estimate = env->CallIntMethod(rootGroup_, activeCount_);
    if (env->ExceptionCheck() || !self) {
        env->ExceptionClear();
        return -1;
    }
    for (jint room = estimate + 16;; room *= 2) {
        LocalRef<jobjectArray> threads(env, env->NewObjectArray(room, threadClass_, nullptr));
        if (!threads) break;
        jint found = env->CallIntMethod(rootGroup_, enumerate_, threads.get(), JNI_TRUE);
        if (env->ExceptionCheck()) break;
        if (found >= room) continue;  // the snapshot may have been cut short
        int users = 0;
        for (jint i = 0; i < found; ++i) {
            LocalRef<jobject> t(env, env->GetObjectArrayElement(threads.get(), i));
            if (!t || env->IsSameObject(t.get(), self.get())) continue;
            if (!env->CallBooleanMethod(t.get(), isDaemon_) && env->CallBooleanMethod(t.get(), isAlive_)) ++users;
        }
        if (env->ExceptionCheck()) break;
        return users;
    }
    env->ExceptionClear();
    return -1;
}
