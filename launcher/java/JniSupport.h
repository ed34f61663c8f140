#pragma once
// Small owners for JNI resources.
#include <jni.h>

#include <string>

// A local reference, deleted when it goes out of scope.
template <typename T>
class LocalRef {
public:
    LocalRef(JNIEnv* env, T ref) : env_(env), ref_(ref) {}
    ~LocalRef() {
        if (ref_) env_->DeleteLocalRef(ref_);
    }
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;
    T get() const { return ref_; }
    explicit operator bool() const { return ref_ != nullptr; }

private:
    JNIEnv* env_;
    T ref_;
};

// The calling thread's JNI environment: attached for the object's lifetime when
// it was not attached already, and detached again only then.
class AttachedThread {
public:
    explicit AttachedThread(JavaVM* vm);
    ~AttachedThread();
    AttachedThread(const AttachedThread&) = delete;
    AttachedThread& operator=(const AttachedThread&) = delete;
    JNIEnv* env() const { return env_; }
    jint status() const { return status_; }

private:
    JavaVM* vm_;
    JNIEnv* env_ = nullptr;
    jint status_;
    bool attached_ = false;
};

namespace jni {

// Takes and clears the pending exception; returns its toString() text (empty
// when there was none or it cannot be described).
std::string takeException(JNIEnv* env);
// Throws a new exception of `className` with `message` in the calling Java code.
void throwNew(JNIEnv* env, const char* className, const char* message);

}  // namespace jni

// Counts the live non-daemon Java threads, so that the host can tell when the
// application has ended before it takes the JVM down. Used only on the thread
// that created the JVM; a snapshot of the thread groups, each thread asked on
// its own, so that threads starting or ending meanwhile cannot skew the count.
class JavaThreadCensus {
public:
    // False when the classes or methods it needs are missing.
    bool init(JNIEnv* env);
    // Live non-daemon threads besides the caller, or -1 when they cannot be counted.
    int otherUserThreads() const;

private:
    JNIEnv* env_ = nullptr;
    jclass threadClass_ = nullptr;  // global reference
    jobject rootGroup_ = nullptr;   // global reference
    jmethodID currentThread_ = nullptr;
    jmethodID activeCount_ = nullptr;
    jmethodID enumerate_ = nullptr;
    jmethodID isDaemon_ = nullptr;
    jmethodID isAlive_ = nullptr;
};
