#pragma once
// Finds the JVM library: the Java runtime registered in the registry, else
// $JAVA_HOME, else the system's default Java.
#include <string>

class JvmLocator {
public:
    // Path of libjvm.so, or empty when no usable one was found.
    static std::string findJvmLibrary();
    // The registered runtime: "CurrentVersion", then that version's "RuntimeLib",
    // which must end with "libjvm.so"; a missing client/libjvm.so falls back to
    // server/libjvm.so beside it. False when the registry names no version.
    static bool fromRegistry(std::string& path);
    // The folder holding client/ and server/ for a path ending in one of them
    // (with its final '/'), else empty.
    static std::string runtimeDirectory(const std::string& path);
    // <home>/lib/server/libjvm.so when it exists, else empty.
    static std::string fromJavaHome(const std::string& home);
    // /usr/lib/jvm/default-java, else the installation of `java` on PATH.
    static std::string systemDefault();
};
