#pragma once
// Where everything is, worked out afresh for each run: the plug-in's folder and
// the folder it writes to, "config.ini", the Java runtime, the user's Quillet
// installation and the command line that starts the wrapper.
#include "process/Child.h"

#include <string>

namespace quillet {

class Config {
public:
    static constexpr const char* kDefaultWrapperJar = "quillet-wrapper-1.0.dist.jar";
    static constexpr const char* kDefaultWrapperClass = "tavrel.quillet.wrapper.StandaloneMain";
    static constexpr int kDefaultSigningTimeout = 900;

    // Reads libraryDir + "config.ini" (section "config", Profile); a missing file
    // or key keeps the default. `workDir` (ending in a separator) is where
    // documents and logs go.
    Config(std::string libraryDir, std::string workDir);

    const std::string& libraryDir() const { return libraryDir_; }
    const std::string& workDir() const { return workDir_; }
    std::string logDir() const;
    std::string wrapperJarPath() const { return libraryDir_ + wrapperJar_; }
    const std::string& wrapperClass() const { return wrapperClass_; }
    int deleteFilesAfterSigning() const { return deleteFilesAfterSigning_; }
    const std::string& javaModifiers() const { return javaModifiers_; }
    // How long the wrapper may take, in seconds; 0 means no limit.
    int signingTimeoutSeconds() const { return signingTimeoutSeconds_; }

    // "<java>" <modifiers> -Dlog4jpath=<work folder> -cp "<quillet jar>:<wrapper jar>" <class>
    // (";" between the jars on Windows).
    process::CommandLine commandLine(const std::string& javaProgram, const std::string& quilletJar) const;

private:
    std::string libraryDir_;
    std::string workDir_;
    std::string wrapperJar_ = kDefaultWrapperJar;
    std::string wrapperClass_ = kDefaultWrapperClass;
    int deleteFilesAfterSigning_ = 1;
    std::string javaModifiers_;
    int signingTimeoutSeconds_ = kDefaultSigningTimeout;
};

// The folder of this plug-in's own file, ending in a separator.
std::string libraryDirectory();
// Where documents and logs go: POSIX the library folder when the process may
// write there, else the per-user folder $XDG_STATE_HOME/zelvo/signing/ (mode
// 0700); Windows always %LOCALAPPDATA%\Zelvo\signing\, private to the user.
std::string workDirectory(const std::string& libraryDir);
// Asks the system where Java is (`which java`, `where.exe javaw.exe`); what it
// printed, or "Verifique la instalación de Java".
std::string javaCheck();
// The Java program to start, given what javaCheck printed; else "Verifique la
// instalación de Java".
std::string javaProgram(const std::string& located);
// The jar named by "QUILLET_JAR" in <profile>/.quillet/quillet.properties
// (the profile: $HOME, %USERPROFILE%).
std::string quilletJarPath();
// The "QUILLET_JAR" value of a properties text, or "" when there is none.
std::string findQuilletJar(const std::string& properties);

}  // namespace quillet
