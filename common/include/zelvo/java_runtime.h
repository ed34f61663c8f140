#pragma once
// How a Java runtime is laid out and registered on this system, and whether its
// JVM library can be loaded into this process. The search itself reads the same
// on every system (the launcher's JvmLocator).
#include <string>
#include <vector>

namespace zelvo {

// The JVM library's file name: "libjvm.so" here, "jvm.dll" on Windows.
extern const char kJvmLibrary[];
// How a registered JVM path ends for the runtime's two JVMs: "client/libjvm.so"
// and "server/libjvm.so" ("client\jvm.dll", "server\jvm.dll" on Windows).
extern const char kClientJvm[];
extern const char kServerJvm[];

// Keys under HKEY_LOCAL_MACHINE in which a Java installation names its
// "CurrentVersion", and under <key>\<version> the "RuntimeLib", in the order
// they are looked at. Linux: "SOFTWARE\JavaSoft\Java Runtime Environment";
// Windows: that key, then "SOFTWARE\JavaSoft\JRE" and "SOFTWARE\JavaSoft\JDK",
// which current runtimes write instead.
std::vector<std::string> javaRegistryKeys();

// The JVM libraries that exist among the places to try when the registry names
// no runtime, in order. Linux: $JAVA_HOME/lib/server/libjvm.so, the system's
// default Java (/usr/lib/jvm/default-java), the Java of `java` on PATH.
// Windows: none (a runtime that does not register itself is not used).
std::vector<std::string> jvmFallbacks();

// Whether the library file at `path` is built for the machine this process runs
// as. Windows reads the Machine field of its PE header (a 32-bit process cannot
// load a 64-bit DLL, nor the reverse); Linux always answers `same` and lets the
// loader judge.
struct LibraryMachine {
    enum Fit { same, other, unknown } fit = unknown;  // unknown: not a library the check can read
    std::string name;  // the file's machine in words, for `other` ("de 64 bits (x64)")
};
LibraryMachine libraryMachine(const std::string& path);
// This process's machine in the same words ("de 32 bits (x86)").
std::string processMachine();

// An option for JNI_CreateJavaVM, which reads its options in the platform's
// encoding: UTF-8 here, the ANSI code page on Windows. False when `utf8` is not
// UTF-8 or holds a character that encoding cannot write.
bool jvmOptionText(const std::string& utf8, std::string& out);

}  // namespace zelvo
