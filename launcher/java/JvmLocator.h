#pragma once
// Finds the JVM library: the Java runtime registered in the registry (the keys
// of zelvo/java_runtime.h, first in the program's own registry view, then in
// the other one), else the system's fallbacks (Linux: $JAVA_HOME, the system's
// default Java). A library built for another machine is never chosen.
#include <string>

class JvmLocator {
public:
    // Path of the JVM library to load, or empty when no usable one was found.
    // Then `why` says, for the user, what was wrong when more is known than that
    // Java is missing (only a JVM of another machine was found); else it is empty.
    static std::string findJvmLibrary(std::string& why);
    // The folder holding client/ and server/ for a path ending in one of them
    // (with its final separator), else empty.
    static std::string runtimeDirectory(const std::string& path);
};
