#include "TestUtil.h"
#include "core/JsonReader.h"
#include "core/ServerRunnable.h"
#include "zelvo/base64.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <tuple>

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

const char kConfig[] = R"({"port":"9000","idletimeout":"5000","basekey":"SOFTWARE\\Zelvo\\",
  "ssl":{"enabled":"1","certpath":"/c.pem","certpass":"pw"},
  "java":{"classpath":"base.jar","loaderclass":"a.Loader","vmoptions":["-Xmx64m","-Da=1"]}})";
const char kEcho[] = R"({"type":"windows","name":"echo"})";
const std::string kConfigured = "port=9000 idle=5000 basekey=SOFTWARE\\Zelvo\\ ssl=1 cert=/c.pem pass=pw cp=base.jar "
                                "loader=a.Loader vm=-Xmx64m,-Da=1 bind=127.0.0.1 max=134217728";

}  // namespace

// Each type's application, the request's overrides, TLS, the bind address and the
// message size limit are proved end to end; here what a page cannot reach.
TEST(ServerRunnable, UnreadableNetworkKeysKeepTheirDefaults) {
    LogCapture log;
    EXPECT_EQ(describe(create(kConfig, runRequest(kEcho))->serverParams()), kConfigured);
    EXPECT_FALSE(create(kConfig, runRequest(kEcho), {"extra"})) << "a run request comes alone";
    EXPECT_FALSE(log.contains("El campo bindaddress")) << "absent keys keep their defaults quietly";
    auto bad = create(R"({"bindaddress":5,"maxmessagesize":"-3"})", runRequest(kEcho));
    EXPECT_EQ(describe(bad->serverParams()),
              "port=0 idle=0 basekey= ssl=0 cert= pass= cp= loader= vm= bind=127.0.0.1 max=134217728");
    EXPECT_TRUE(log.contains("El campo bindaddress no es de tipo string, es de tipo 5"));
    EXPECT_TRUE(log.contains("El campo maxmessagesize debe ser mayor que cero"));

    Argv args({"launcher", runRequest(kEcho)});
    auto unconfigured = ServerRunnable::create(args.argc(), args.argv(), nullptr);
    ASSERT_TRUE(unconfigured);
    EXPECT_EQ(unconfigured->serverParams().port, 0);
    EXPECT_TRUE(log.contains("Paramétros de la aplicación vacios"));
}

// The additional file named in the registry.
TEST(ServerRunnable, AdditionalConfigurationFile) {
    TempDir dir;
    LogCapture log;
    setenv("ZELVO_REGISTRY", (dir / "test.reg").c_str(), 1);
    writeFile(dir / "test.reg", "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zelvo\\echo]\n"
                                "\"application.config\"=\"" + (dir / "local.json").string() + "\"\n");
    writeFile(dir / "local.json", R"({"idletimeout":"700","java":{"classpath":"extra.jar","vmoptions":["-Dz=1"]}})");
    EXPECT_EQ(describe(create(kConfig, runRequest(kEcho))->serverParams()),
              "port=9000 idle=700 basekey=SOFTWARE\\Zelvo\\ ssl=1 cert=/c.pem pass=pw cp=base.jar:extra.jar loader=a.Loader "
              "vm=-Dz=1 bind=127.0.0.1 max=134217728");
    // The request still wins over the additional file.
    auto over = create(kConfig, runRequest(R"({"type":"windows","name":"echo","idletimeout":"300"})"));
    EXPECT_EQ(over->serverParams().idletimeout, 300);

    writeFile(dir / "local.json", R"({"java":{"classpath":5}})");
    EXPECT_EQ(describe(create(kConfig, runRequest(kEcho))->serverParams()), kConfigured)
        << "an unreadable key leaves the value";
    writeFile(dir / "local.json", "[1]");
    create(kConfig, runRequest(kEcho));
    EXPECT_TRUE(log.contains("El archivo de configuración adicional no tiene el formato correcto"));
    fs::remove(dir / "local.json");
    ASSERT_EQ(mkfifo((dir / "local.json").c_str(), 0600), 0);  // nobody writes to it: not waited on
    create(kConfig, runRequest(kEcho));
    EXPECT_TRUE(log.contains("No se puede leer la información del archivo de configuración adicional"));
    create(kConfig, runRequest(R"({"type":"windows","name":"other"})"));
    EXPECT_TRUE(log.contains("No se encontró un valor válido para el archivo de configuración adicional"));
    create(R"({})", runRequest(kEcho));
    EXPECT_TRUE(log.contains("No se leerá información de configuracion adicional"));
    unsetenv("ZELVO_REGISTRY");
}

// Sites allowed by the additional file add to the configured ones; "Description" names the application.
TEST(ServerRunnable, AllowedSitesAddUpAndTheDescriptionNamesTheApplication) {
    TempDir dir;
    setenv("ZELVO_REGISTRY", (dir / "test.reg").c_str(), 1);
    writeFile(dir / "test.reg", "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zelvo\\echo]\n"
                                "\"Description\"=\"el lector de DNI\"\n"
                                "\"application.config\"=\"" + (dir / "local.json").string() + "\"\n");
    writeFile(dir / "local.json", R"({"allowedorigins":["https://b.gob"]})");
    auto merged = create(R"({"basekey":"SOFTWARE\\Zelvo\\","allowedorigins":["https://a.gob"]})", runRequest(kEcho));
    EXPECT_EQ(merged->serverParams().allowedorigins, (std::vector<std::string>{"https://a.gob", "https://b.gob"}));
    EXPECT_EQ(merged->serverParams().description, "el lector de DNI");
    unsetenv("ZELVO_REGISTRY");
}

// The consent window names the application as the installer wrote it; the page's
// spelling of the name never reaches it nor the remembered answers.
TEST(ServerRunnable, TheApplicationIsNamedAsTheRegistryNamesIt) {
    TempDir dir;
    setenv("ZELVO_REGISTRY", (dir / "test.reg").c_str(), 1);
    writeFile(dir / "test.reg", "Windows Registry Editor Version 5.00\n\n"
                                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zelvo\\vexa]\n\"Description\"=\"la tarjeta\"\n"
                                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zelvo\\Quillet]\n\"RuntimeLib\"=\"/q.so\"\n");
    const char* config = R"({"basekey":"SOFTWARE\\Zelvo\\","java":{"loaderclass":"a.b.Loader"}})";
    // Request, application, description.
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {R"({"type":"windows","name":"vexa"})", "vexa", "la tarjeta"},
        {R"({"type":"windows","name":"VEXA"})", "vexa", "la tarjeta"},
        {R"({"type":"windows","name":"vexa\\"})", "vexa", "la tarjeta"},
        {R"({"type":"windows","name":"QUILLET"})", "Quillet", "Quillet"},
        {R"j({"type":"windows","name":"Actualización de seguridad (verificada)"})j", "", ""},
        {R"({"type":"java","name":"cualquiera"})", "a.b.Loader", "la aplicación Java a.b.Loader"},
    };
    for (const auto& [request, application, description] : rows) {
        auto runnable = create(config, runRequest(request));
        ASSERT_TRUE(runnable) << request;
        EXPECT_EQ(runnable->serverParams().application, application) << request;
        EXPECT_EQ(runnable->serverParams().description, description) << request;
    }
    unsetenv("ZELVO_REGISTRY");
}

// The sites an administrator allowed for the machine: a registry value under the
// base key, blank-separated, added to the configured ones as they are written
// (the site permission judges each entry).
TEST(ServerRunnable, TheAdministratorsSitesInTheRegistryAddToTheConfiguredOnes) {
    TempDir dir;
    LogCapture log;
    setenv("ZELVO_REGISTRY", (dir / "test.reg").c_str(), 1);
    const std::string config = R"({"basekey":"SOFTWARE\\Zelvo\\","allowedorigins":["https://a.gob"]})";
    const std::string tooLong = "https://b.gob " + std::string(32768, 'x');
    const std::pair<std::string, std::vector<std::string>> rows[] = {
        {"https://b.gob https://*.c.gob", {"https://a.gob", "https://b.gob", "https://*.c.gob"}},
        {" \t https://b.gob\t\tno es un sitio  ", {"https://a.gob", "https://b.gob", "no", "es", "un", "sitio"}},
        {"", {"https://a.gob"}},
        {"   ", {"https://a.gob"}},
        {tooLong, {"https://a.gob"}},
    };
    for (const auto& [value, expected] : rows) {
        writeFile(dir / "test.reg", "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zelvo]\n"
                                    "\"AllowedOrigins\"=\"" + value + "\"\n");
        EXPECT_EQ(create(config, runRequest(kEcho))->serverParams().allowedorigins, expected) << value;
    }
    EXPECT_TRUE(log.contains("Sitios autorizados por el administrador en el registro (AllowedOrigins): 2"));
    EXPECT_TRUE(log.contains("no tiene un valor AllowedOrigins de texto de menos de 32768 bytes"));
    // Without a base key there is no registry to read.
    EXPECT_EQ(create(R"({"allowedorigins":["https://a.gob"]})", runRequest(kEcho))->serverParams().allowedorigins,
              (std::vector<std::string>{"https://a.gob"}));
    unsetenv("ZELVO_REGISTRY");
}
