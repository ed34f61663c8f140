#include "Argv.h"
#include "LogCapture.h"
#include "core/JsonReader.h"
#include "core/ServerRunnable.h"
#include "host/WindowsApplication.h"
#include "java/JavaApplication.h"
#include "zelvo/base64.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

std::string runRequest(const std::string& json, const std::string& tail = "") {
    return "zelvo://run/" + zelvo::base64Encode(json) + tail;
}

std::unique_ptr<ServerRunnable> create(const std::string& configJson, const std::string& argument,
                                       const std::vector<std::string>& extra = {}) {
    auto config = JsonReader::getInstance(configJson);
    std::vector<std::string> words{"launcher", argument};
    words.insert(words.end(), extra.begin(), extra.end());
    Argv args(words);
    return ServerRunnable::create(args.argc(), args.argv(), config.get());
}

// A registry file and the additional configuration file it names.
class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("zelvo-sr-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        setenv("ZELVO_REGISTRY", (dir_ / "test.reg").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("ZELVO_REGISTRY");
        std::filesystem::remove_all(dir_);
    }
    void writeLocalConfig(const std::string& json, const std::string& description = "") {
        std::ofstream(dir_ / "local.json") << json;
        std::ofstream(dir_ / "test.reg") << "Windows Registry Editor Version 5.00\n\n"
                                         << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zelvo\\echo]\n"
                                         << "\"Description\"=\"" << description << "\"\n"
                                         << "\"application.config\"=\"" << (dir_ / "local.json").string() << "\"\n";
    }
    std::filesystem::path dir_;
};

const char kConfig[] = R"({"port":"9000","idletimeout":"5000","basekey":"SOFTWARE\\Zelvo\\",
  "ssl":{"enabled":"1","certpath":"/c.pem","certpass":"pw"},
  "java":{"classpath":"base.jar","loaderclass":"a.Loader","vmoptions":["-Xmx64m","-Da=1"]}})";

}  // namespace

TEST_F(Registry, RequestRulesAndApplicationTypes) {
    LogCapture log;
    std::string windows = R"({"type":"windows","name":"echo"})";
    EXPECT_TRUE(create(kConfig, runRequest(windows, "/")));
    EXPECT_TRUE(create(kConfig, runRequest(windows)));
    auto runnable = create(kConfig, runRequest(windows));
    EXPECT_TRUE(dynamic_cast<const WindowsApplication*>(runnable->application()));
    EXPECT_FALSE(create(kConfig, runRequest(windows), {"extra"})) << "argc must be 2";
    EXPECT_FALSE(create(kConfig, "zelvo://test/" + zelvo::base64Encode(windows)));
    EXPECT_TRUE(log.contains("No es una petición de ejecución de servidor"));
    EXPECT_FALSE(create(kConfig, runRequest(R"({"type":"Windows","name":"echo"})")));
    EXPECT_FALSE(create(kConfig, runRequest(R"({"type":"","name":"echo"})")));
    EXPECT_FALSE(create(kConfig, "zelvo://run/notjson"));
    EXPECT_TRUE(log.contains("No se pudo obtener la información de los parámetros web"));

    auto java = create(kConfig, runRequest(R"({"type":"java","name":"j","code":"a.B","archive":["x.jar","y.jar"]})"));
    ASSERT_TRUE(java);
    EXPECT_TRUE(dynamic_cast<const JavaApplication*>(java->application()));
    EXPECT_TRUE(log.contains("javaAppWebParams.code a.B"));
    EXPECT_TRUE(log.contains("javaAppWebParams.archive.size 2"));
}

TEST_F(Registry, ConfigurationRecordsAndRequestOverrides) {
    LogCapture log;
    auto kept = create(kConfig, runRequest(R"({"type":"windows","name":"echo","port":"0","use_ssl":"1"})"));
    ASSERT_TRUE(kept);
    const auto& s = kept->serverParams();
    EXPECT_EQ(s.port, 9000);
    EXPECT_EQ(s.idletimeout, 5000);
    EXPECT_EQ(s.basekey, "SOFTWARE\\Zelvo\\");
    EXPECT_TRUE(s.ssl_enabled);
    EXPECT_EQ(s.ssl_certpath, "/c.pem");
    EXPECT_EQ(s.ssl_certpass, "pw");
    EXPECT_EQ(s.classpath, "base.jar");
    EXPECT_EQ(s.loaderclass, "a.Loader");
    EXPECT_EQ(s.vmoptions.size(), 2u);
    EXPECT_EQ(s.bindaddress, "127.0.0.1");
    EXPECT_EQ(s.maxmessagesize, 134217728u);
    EXPECT_TRUE(kept->webParams().use_ssl);
    EXPECT_TRUE(log.contains("server.port 9000"));
    EXPECT_TRUE(log.contains("server.idletimeout 5000"));
    EXPECT_TRUE(log.contains("server.ssl_enabled 1"));
    EXPECT_TRUE(log.contains("server.ssl_certpass *********"));
    EXPECT_FALSE(log.contains("pw\n")) << "the password is never logged";
    EXPECT_TRUE(log.contains("server.java.vmoptions.size 2"));
    EXPECT_TRUE(log.contains("appWebParams.use_ssl 1"));

    auto over = create(kConfig, runRequest(R"({"type":"windows","name":"echo","port":"9001","idletimeout":"250"})"));
    ASSERT_TRUE(over);
    EXPECT_EQ(over->serverParams().port, 9001);
    EXPECT_EQ(over->serverParams().idletimeout, 250);
    EXPECT_TRUE(log.contains("server.port (overridden by webapp) 9001"));
    EXPECT_TRUE(log.contains("server.idletimeout (overridden by webapp) 250"));
}

TEST_F(Registry, NetworkKeys) {
    LogCapture log;
    auto custom = create(R"({"bindaddress":"0.0.0.0","maxmessagesize":"1024"})",
                         runRequest(R"({"type":"windows","name":"echo"})"));
    EXPECT_EQ(custom->serverParams().bindaddress, "0.0.0.0");
    EXPECT_EQ(custom->serverParams().maxmessagesize, 1024u);
    EXPECT_FALSE(log.contains("El campo bindaddress")) << "absent keys keep their defaults quietly";
    auto bad = create(R"({"bindaddress":5,"maxmessagesize":"-3"})", runRequest(R"({"type":"windows","name":"e"})"));
    EXPECT_EQ(bad->serverParams().bindaddress, "127.0.0.1");
    EXPECT_EQ(bad->serverParams().maxmessagesize, 134217728u);
    EXPECT_TRUE(log.contains("El campo bindaddress no es de tipo string, es de tipo 5"));
    EXPECT_TRUE(log.contains("El campo maxmessagesize debe ser mayor que cero"));
}

TEST_F(Registry, AdditionalConfigurationFile) {
    LogCapture log;
    writeLocalConfig(R"({"idletimeout":"700","java":{"classpath":"extra.jar","vmoptions":["-Dz=1"]}})");
    auto merged = create(kConfig, runRequest(R"({"type":"windows","name":"echo"})"));
    ASSERT_TRUE(merged);
    EXPECT_EQ(merged->serverParams().idletimeout, 700);
    EXPECT_EQ(merged->serverParams().classpath, "base.jar:extra.jar");
    EXPECT_EQ(merged->serverParams().vmoptions, (std::vector<std::string>{"-Dz=1"}));

    auto empty = create(R"({"basekey":"SOFTWARE\\Zelvo\\"})", runRequest(R"({"type":"windows","name":"echo"})"));
    EXPECT_EQ(empty->serverParams().classpath, ":extra.jar");
    // The request still wins over the additional file.
    auto over = create(kConfig, runRequest(R"({"type":"windows","name":"echo","idletimeout":"300"})"));
    EXPECT_EQ(over->serverParams().idletimeout, 300);

    writeLocalConfig(R"({"java":{"classpath":5}})");
    auto partial = create(kConfig, runRequest(R"({"type":"windows","name":"echo"})"));
    EXPECT_EQ(partial->serverParams().idletimeout, 5000) << "an unreadable key leaves the value";
    EXPECT_EQ(partial->serverParams().classpath, "base.jar");
    EXPECT_EQ(partial->serverParams().vmoptions.size(), 2u);

    writeLocalConfig("[1]");
    create(kConfig, runRequest(R"({"type":"windows","name":"echo"})"));
    EXPECT_TRUE(log.contains("El archivo de configuración adicional no tiene el formato correcto"));
    std::filesystem::remove(dir_ / "local.json");
    create(kConfig, runRequest(R"({"type":"windows","name":"echo"})"));
    EXPECT_TRUE(log.contains("No se puede leer la información del archivo de configuración adicional"));
    create(kConfig, runRequest(R"({"type":"windows","name":"other"})"));
    EXPECT_TRUE(log.contains("No se encontró un valor válido para el archivo de configuración adicional"));
    create(R"({})", runRequest(R"({"type":"windows","name":"echo"})"));
    EXPECT_TRUE(log.contains("No se leerá información de configuracion adicional"));
}

TEST_F(Registry, AllowedSitesAddUpAndTheDescriptionNamesTheApplication) {
    writeLocalConfig(R"({"allowedorigins":["https://b.gob"]})", "el lector de DNI");
    const char config[] = R"({"basekey":"SOFTWARE\\Zelvo\\","allowedorigins":["https://a.gob"]})";
    auto merged = create(config, runRequest(R"({"type":"windows","name":"echo"})"));
    EXPECT_EQ(merged->serverParams().allowedorigins, (std::vector<std::string>{"https://a.gob", "https://b.gob"}));
    EXPECT_EQ(merged->serverParams().description, "el lector de DNI");
}

TEST_F(Registry, NoConfigurationReaderKeepsDefaults) {
    LogCapture log;
    Argv args({"launcher", runRequest(R"({"type":"windows","name":"echo"})")});
    auto runnable = ServerRunnable::create(args.argc(), args.argv(), nullptr);
    ASSERT_TRUE(runnable);
    EXPECT_EQ(runnable->serverParams().port, 0);
    EXPECT_TRUE(log.contains("Paramétros de la aplicación vacios"));
}
