#pragma once
// Text between the bridge (UTF-8) and Java (UTF-16). The JVM's own "modified
// UTF-8" writes characters outside the basic plane as two 3-byte halves, which
// a browser refuses in a WebSocket text frame, so strings cross through UTF-16.
#include <jni.h>

#include <cstddef>
#include <string>

namespace jnitext {

// Malformed or truncated sequences, surrogates and overlong forms each become U+FFFD.
std::u16string utf8ToUtf16(const char* bytes, size_t length);
// Unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(const char16_t* units, size_t length);

// A new Java string (local reference) from UTF-8 text, or null with an
// exception pending.
jstring newString(JNIEnv* env, const std::string& utf8);
// The string's text as UTF-8; false with an exception pending.
bool toUtf8(JNIEnv* env, jstring string, std::string& out);

}  // namespace jnitext
