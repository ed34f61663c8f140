#include "Config.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

using namespace quillet;
using namespace testing_support;

namespace {

// Sets an environment variable for the test's duration.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old, had_ = true;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() { had_ ? setenv(name_, old_.c_str(), 1) : unsetenv(name_); }

private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

TEST(Properties, FindsTheQuilletJarLineWhateverTheLineEnds) {
    EXPECT_EQ(findQuilletJar("A=1\r\nQUILLET_JAR=/opt/q.jar\r\nB=2"), "/opt/q.jar");
    EXPECT_EQ(findQuilletJar("A=1\nQUILLET_JAR=/opt/q.jar\nB=2\n"), "/opt/q.jar");
    EXPECT_EQ(findQuilletJar("  \tQUILLET_JAR = /opt/q q.jar \n"), "/opt/q q.jar");
    EXPECT_EQ(findQuilletJar("QUILLET_JAR=/a=b.jar\nQUILLET_JAR=/ok.jar\n"), "/ok.jar");
    EXPECT_EQ(findQuilletJar("# nothing here\nOTHER=1\n"), "");
    EXPECT_EQ(findQuilletJar(""), "");
}

TEST(Settings, DefaultsWithoutFileOrSectionAndValuesWhenGiven) {
    TempDir dir;
    Config none(dir.path(), dir.path());
    EXPECT_EQ(none.wrapperJarPath(), dir.path() + "quillet-wrapper-1.0.dist.jar");
    EXPECT_EQ(none.wrapperClass(), "tavrel.quillet.wrapper.StandaloneMain");
    EXPECT_EQ(none.deleteFilesAfterSigning(), 1);
    EXPECT_EQ(none.javaModifiers(), "");

    writeFile(dir.path() + "config.ini", "[otra]\nwrapperJar=x.jar\ndeleteFilesAfterSigning=0\n");
    Config otherSection(dir.path(), dir.path());
    EXPECT_EQ(otherSection.wrapperJarPath(), dir.path() + "quillet-wrapper-1.0.dist.jar");
    EXPECT_EQ(otherSection.deleteFilesAfterSigning(), 1);

    writeFile(dir.path() + "config.ini",
              "; comentario\n[config]\nwrapperJar = w.jar\nwrapperClass=a.B\ndeleteFilesAfterSigning=0\n"
              "javaModifiers=-Xmx64m -Dx=\"1 2\"\nthis line is not valid\n");
    Config given(dir.path(), dir.path());
    EXPECT_EQ(given.wrapperJarPath(), dir.path() + "w.jar");
    EXPECT_EQ(given.wrapperClass(), "a.B");
    EXPECT_EQ(given.deleteFilesAfterSigning(), 0);
    EXPECT_EQ(given.javaModifiers(), "-Xmx64m -Dx=\"1 2\"");
    EXPECT_EQ(profileInt(" 12abc"), 12);
    EXPECT_EQ(profileInt("no"), 0);
}

TEST(Settings, TheCommandLineKeepsItsWordsAndItsOrder) {
    Config plain("/opt/zelvo/plugins/", "/opt/zelvo/plugins/");
    CommandLine cl = plain.commandLine("/home/u/q.jar");
    EXPECT_EQ(cl.text,
              "\"java\"  -Dlog4jpath=/opt/zelvo/plugins/ -cp \"/home/u/q.jar:/opt/zelvo/plugins/"
              "quillet-wrapper-1.0.dist.jar\" tavrel.quillet.wrapper.StandaloneMain");
    EXPECT_EQ(cl.args, (std::vector<std::string>{"java", "-Dlog4jpath=/opt/zelvo/plugins/", "-cp",
                                                 "/home/u/q.jar:/opt/zelvo/plugins/quillet-wrapper-1.0.dist.jar",
                                                 "tavrel.quillet.wrapper.StandaloneMain"}));

    TempDir dir;
    writeFile(dir.path() + "config.ini", "[config]\njavaModifiers=-Xmx64m -Dx=\"1 2\"\n");
    Config blanks(dir.path(), "/home/u/.local/state/mi carpeta/");
    CommandLine b = blanks.commandLine("/q.jar");
    EXPECT_EQ(b.args, (std::vector<std::string>{"java", "-Xmx64m", "-Dx=1 2",
                                                "-Dlog4jpath=/home/u/.local/state/mi carpeta/", "-cp",
                                                "/q.jar:" + dir.path() + "quillet-wrapper-1.0.dist.jar",
                                                "tavrel.quillet.wrapper.StandaloneMain"}));
    EXPECT_NE(b.text.find(" \"-Dlog4jpath=/home/u/.local/state/mi carpeta/\" -cp "), std::string::npos);
}

TEST(Discovery, TheQuilletJarFromTheUsersPropertiesFile) {
    TempDir home;
    ScopedEnv env("HOME", home.path());
    const std::string props = home.path() + ".quillet/quillet.properties";
    EXPECT_EQ(failureOf([] { quilletJarPath(); }),
              "Verifique la instalación del software Quillet. No se encuentra archivo de propiedades");
    mkdir((home.path() + ".quillet").c_str(), 0700);
    writeFile(props, "QUILLET_JAR\n");
    EXPECT_EQ(failureOf([] { quilletJarPath(); }),
              "Verifique la instalación del software Quillet. El archivo de propiedades está corrupto");
    writeFile(props, "QUILLET_JAR=" + home.path() + "falta.jar\n");
    EXPECT_EQ(failureOf([] { quilletJarPath(); }),
              "Verifique la instalación del software Quillet. Path no válido para QUILLET_JAR");
    const std::string jar = home.path() + "Año Señal.jar";
    writeFile(jar, "PK");
    writeFile(props, "x=1\r\nQUILLET_JAR = " + jar + " \r\n");
    EXPECT_EQ(quilletJarPath(), jar);
}

TEST(Discovery, TheJavaCheckNeedsJavaOnThePath) {
    TempDir bin;
    ASSERT_EQ(symlink("/usr/bin/which", (bin.path() + "which").c_str()), 0);
    {
        ScopedEnv path("PATH", bin.path());
        EXPECT_EQ(failureOf([] { javaCheck(); }), "Verifique la instalación de Java");
    }
    {
        ScopedEnv path("PATH", bin.path() + "nada");
        EXPECT_EQ(failureOf([] { javaCheck(); }), "Verifique la instalación de Java") << "without which either";
    }
    EXPECT_NE(javaCheck().find("java"), std::string::npos);
}

}  // namespace
