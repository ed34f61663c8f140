// common's Windows facilities on Windows itself (here under Wine): the registry,
// child processes' command lines, per-user files, text, the machine a DLL is built
// for. The named mutex, a killed child, the search path, the registry's two views
// and the system's numbers for a library that does not load are proved end to end
// by the Windows build's tests.
#include "zelvo/child_process.h"
#include "zelvo/java_runtime.h"
#include "zelvo/paths.h"
#include "zelvo/private_file.h"
#include "zelvo/registry.h"
#include "zelvo/system_error.h"
#include "zelvo/utf16.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

namespace {

std::string uniqueName(const char* stem) { return stem + std::to_string(std::random_device{}() % 1000000); }

// A key of the test's own under HKLM\SOFTWARE, removed afterwards.
class TestKey {
public:
    TestKey() : path_("SOFTWARE\\" + uniqueName("ZelvoPrueba")) {}
    ~TestKey() {
        HKEY software = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS, &software) == ERROR_SUCCESS) {
            RegDeleteTreeW(software, zelvo::toUtf16(path_.substr(9))->c_str());
            RegCloseKey(software);
        }
    }
    const std::string& path() const { return path_; }
    void set(const std::string& sub, const std::string& name, const std::wstring& data, DWORD type = REG_SZ) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, zelvo::toUtf16(path_ + sub)->c_str(), 0, nullptr, 0,
                                  KEY_WRITE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, name.empty() ? nullptr : zelvo::toUtf16(name)->c_str(), 0, type,
                       reinterpret_cast<const BYTE*>(data.c_str()), static_cast<DWORD>(data.size() * 2 + 2));
        RegCloseKey(key);
    }

private:
    std::string path_;
};

std::string run(const std::vector<std::string>& words, int& code) {
    std::string error;
    auto child = zelvo::ChildProcess::start(words, {}, error);
    EXPECT_TRUE(child) << error;
    if (!child) return "";
    std::string out;
    child->readOutput(out, 1 << 20);
    code = child->wait();
    return out;
}

}  // namespace

TEST(Registry, StringValuesByTheRulesAndKeysAsTheRegistrySpellsThem) {
    TestKey key;
    key.set("\\Vexa", "RuntimeLib", L"C:\\Program Files\\Zelvo\\plugins\\vexa-tools.dll");
    key.set("\\Vexa", "Vacío", L"");
    key.set("\\Vexa", "", L"por omisión");
    key.set("\\Vexa", "Justo", std::wstring(511, L'a'));   // 1024 bytes with the terminator
    key.set("\\Vexa", "Largo", std::wstring(512, L'a'));   // over the 1024-byte buffer
    key.set("\\Vexa", "Numero", L"1", REG_DWORD);
    key.set("\\Quillet", "x", L"y");
    const std::tuple<const char*, bool, std::string> rows[] = {
        {"RuntimeLib", true, "C:\\Program Files\\Zelvo\\plugins\\vexa-tools.dll"},
        {"runtimelib", true, "C:\\Program Files\\Zelvo\\plugins\\vexa-tools.dll"},
        {"Vacío", true, ""},
        {"", true, "por omisión"},
        {"@", true, "por omisión"},
        {"Justo", true, std::string(511, 'a')},
        {"Largo", false, ""},
        {"Numero", false, ""},
        {"Falta", false, ""},
    };
    for (const auto& [name, found, value] : rows) {
        std::string got = "untouched";
        EXPECT_EQ(zelvo::readRegistryString(key.path() + "\\VEXA\\", name, got), found) << name;
        if (found) {
            EXPECT_EQ(got, value) << name;
        }
    }
    // A reader that expects longer values gives a larger buffer.
    std::string longer;
    EXPECT_TRUE(zelvo::readRegistryString(key.path() + "\\Vexa", "Largo", longer, zelvo::RegistryView::own, 1026));
    EXPECT_EQ(longer, std::string(512, 'a'));
    EXPECT_FALSE(zelvo::readRegistryString(key.path() + "\\Vexa", "Justo", longer, zelvo::RegistryView::own, 1022));
    std::vector<std::string> subkeys = zelvo::listRegistrySubkeys("HKEY_LOCAL_MACHINE\\" + key.path());
    std::sort(subkeys.begin(), subkeys.end());
    EXPECT_EQ(subkeys, (std::vector<std::string>{"Quillet", "Vexa"}));
    EXPECT_EQ(zelvo::registryKeyName(key.path() + "\\vEXA\\\\"), "Vexa");
    EXPECT_FALSE(zelvo::registryKeyName(key.path() + "\\otra"));
    EXPECT_TRUE(zelvo::listRegistrySubkeys(key.path() + "\\otra").empty());
}

TEST(ChildProcess, ItsWordsArriveAsTheyWereAndItInheritsOnlyItsStandardStreams) {
    const std::vector<std::string> words = {
        ZELVO_ARGV_ECHO, "", "con espacio", "C:\\Program Files (x86)\\Zelvo\\", "di \"hola\"", "a\\\"b", "tab\there",
        "Ñandú café", "-Dlog4jpath=C:\\Users\\Ana María\\AppData\\Local\\Zelvo\\signing\\"};
    int code = -1;
    std::string out = run(words, code);
    std::string expected;
    for (size_t i = 1; i < words.size(); ++i) expected += "[" + words[i] + "]\n";
    EXPECT_EQ(out, expected);
    EXPECT_EQ(code, static_cast<int>(words.size() - 1));
}

TEST(Paths, PerUserFoldersAndFilesAreTheUsersOwn) {
    const std::string state = zelvo::userStateDir("prueba");
    ASSERT_FALSE(state.empty());
    EXPECT_NE(state.find("\\Zelvo\\prueba\\"), std::string::npos) << state;
    EXPECT_TRUE(zelvo::isDirectory(state));
    EXPECT_TRUE(zelvo::ensurePrivateDir(state.substr(0, state.size() - 1)));
    EXPECT_EQ(zelvo::writableDirOr(zelvo::programDir(), "prueba"), state);
    EXPECT_NE(zelvo::userConfigDir().find("\\Zelvo\\"), std::string::npos);

    const std::string file = state + uniqueName("decisiones Ñandú ") + ".json";
    std::string text = "untouched";
    EXPECT_EQ(zelvo::readPrivateFile(file, 64, text), zelvo::PrivateRead::missing);
    ASSERT_TRUE(zelvo::replacePrivateFile(file, "{}"));
    ASSERT_TRUE(zelvo::replacePrivateFile(file, "{\"a\": 1}"));  // replaced whole
    EXPECT_EQ(zelvo::readPrivateFile(file, 64, text), zelvo::PrivateRead::ok);
    EXPECT_EQ(text, "{\"a\": 1}");
    EXPECT_EQ(zelvo::readPrivateFile(file, 4, text), zelvo::PrivateRead::notRegular);  // too big
    EXPECT_EQ(zelvo::readPrivateFile(state, 64, text), zelvo::PrivateRead::notRegular);  // a folder
    EXPECT_TRUE(zelvo::readRegularFile(file, 64, text));
    EXPECT_FALSE(zelvo::readRegularFile(state, 64, text));
    EXPECT_FALSE(zelvo::readRegularFile("NUL", 64, text));  // a device

    EXPECT_EQ(zelvo::moveAside(file, file + ".aparte"), zelvo::MoveAside::moved);
    ASSERT_TRUE(zelvo::replacePrivateFile(file, "{}"));
    EXPECT_EQ(zelvo::moveAside(file, file + ".aparte"), zelvo::MoveAside::targetExists);
    EXPECT_EQ(zelvo::moveAside(file + ".no", file + ".otro"), zelvo::MoveAside::sourceMissing);
    zelvo::FileInfo info = zelvo::fileInfo(file);
    EXPECT_TRUE(info.exists && info.regular && !info.directory && info.size == 2);
    EXPECT_EQ(zelvo::canonicalPath(state + "..\\prueba\\." ), state.substr(0, state.size() - 1));
    std::filesystem::remove(*zelvo::toUtf16(file));
    std::filesystem::remove(*zelvo::toUtf16(file + ".aparte"));
}

TEST(Environment, TextAndThePathSeparator) {
    ASSERT_TRUE(zelvo::setEnv("ZELVO_PRUEBA", "Ñandú"));
    EXPECT_EQ(zelvo::getEnv("ZELVO_PRUEBA"), "Ñandú");
    EXPECT_FALSE(zelvo::toUtf16(std::string("\xff\xfe", 2)));  // not UTF-8: no file name at all
    EXPECT_EQ(zelvo::toUtf8(*zelvo::toUtf16("señal €")), "señal €");
    EXPECT_FALSE(zelvo::systemErrorText(ERROR_FILE_NOT_FOUND).empty());
    EXPECT_EQ(zelvo::systemErrorText(0), "");
}

namespace {

// A DOS header whose e_lfanew is `at`.
std::string dosHeader(LONG at) {
    std::string bytes(64, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    std::memcpy(&bytes[0x3C], &at, sizeof at);
    return bytes;
}

// The first bytes of a PE file: the DOS header, the signature at 0x80 and the
// Machine field after it.
std::string peHead(WORD machine, const char* signature = "PE") {
    std::string bytes = dosHeader(0x80) + std::string(0x80 - 64 + 24, '\0');
    std::memcpy(&bytes[0x80], signature, std::strlen(signature));
    std::memcpy(&bytes[0x84], &machine, sizeof machine);
    return bytes;
}

}  // namespace

TEST(JavaRuntime, TheMachineOfALibraryComesFromItsPeHeader) {
    using Fit = zelvo::LibraryMachine::Fit;
    const std::string folder = zelvo::tempDir() + "\\" + uniqueName("zelvo-pe-");
    std::filesystem::create_directory(*zelvo::toUtf16(folder));
    const std::tuple<const char*, std::string, Fit, std::string> rows[] = {
        {"x86.dll", peHead(IMAGE_FILE_MACHINE_I386), Fit::other, "de 32 bits (x86)"},
        {"arm64.dll", peHead(IMAGE_FILE_MACHINE_ARM64), Fit::other, "de 64 bits (ARM64)"},
        {"rara.dll", peHead(0x1234), Fit::other, "para otra arquitectura (0x1234)"},
        {"x64.dll", peHead(IMAGE_FILE_MACHINE_AMD64), Fit::same, "de 64 bits (x64)"},
        {"corto.dll", "MZ", Fit::unknown, ""},
        {"texto.dll", std::string(200, 'a'), Fit::unknown, ""},
        {"lejos.dll", dosHeader(0x7FFFFFF0) + std::string(64, 'P'), Fit::unknown, ""},  // header past the end
        {"negativo.dll", dosHeader(-16) + std::string(64, 'P'), Fit::unknown, ""},
        {"firma.dll", peHead(IMAGE_FILE_MACHINE_I386, "PX"), Fit::unknown, ""},
    };
    for (const auto& [name, bytes, fit, machine] : rows) {
        const std::string path = folder + "\\" + name;
        std::ofstream(std::filesystem::path(*zelvo::toUtf16(path)), std::ios::binary) << bytes;
        zelvo::LibraryMachine got = zelvo::libraryMachine(path);
        EXPECT_EQ(got.fit, fit) << name;
        if (fit != Fit::unknown) {
            EXPECT_EQ(got.name, machine) << name;
        }
    }
    EXPECT_EQ(zelvo::processMachine(), "de 64 bits (x64)");
    EXPECT_EQ(zelvo::libraryMachine(zelvo::programPath()).fit, Fit::same);
    EXPECT_EQ(zelvo::libraryMachine(folder).fit, Fit::unknown);
    EXPECT_EQ(zelvo::libraryMachine(folder + "\\falta.dll").fit, Fit::unknown);

    // A pipe whose server never writes: read, it would wait for ever.
    const std::string pipe = "\\\\.\\pipe\\" + uniqueName("zelvo-jvm-");
    HANDLE server = CreateNamedPipeW(zelvo::toUtf16(pipe)->c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 512, 512,
                                     0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    EXPECT_EQ(zelvo::libraryMachine(pipe).fit, Fit::unknown);
    CloseHandle(server);
    std::filesystem::remove_all(*zelvo::toUtf16(folder));
}
