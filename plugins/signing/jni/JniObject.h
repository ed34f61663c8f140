#pragma once
// Objects whose content is written into a Java object through JNI calls.
#include <jni.h>

#include <string>

namespace jni {

class JniObject {
public:
    virtual ~JniObject() = default;
    virtual std::string toString() const = 0;
    // Writes the whole object into `target`; objects that write field by field
    // leave it empty.
    virtual void writeTo(JNIEnv* env, jobject target) = 0;

    // Calls target.<method>(String) with `text` decoded from UTF-8 bytes.
    static void setString(JNIEnv* env, jobject target, const std::string& method, const std::string& text);
};

// A JNI local reference, deleted when it goes out of scope.
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

}  // namespace jni

namespace quillet {

// The answer to the wrapper's question: where the Quillet jar is.
class QuilletJarObject : public jni::JniObject {
public:
    explicit QuilletJarObject(std::string path) : path_(std::move(path)) {}
    std::string toString() const override { return "{path=" + path_ + "}"; }
    void writeTo(JNIEnv*, jobject) override {}
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace quillet
