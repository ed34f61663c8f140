// common's Windows facilities on Windows itself (here under Wine): the registry,
// the named mutex, child processes and their command lines, per-user files, text.
#include "zelvo/child_process.h"
#include "zelvo/instance_lock.h"
#include "zelvo/paths.h"
#include "zelvo/private_file.h"
#include "zelvo/registry.h"
#include "zelvo/shared_library.h"
#include "zelvo/system_error.h"
#include "zelvo/utf16.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace {

std::string uniqueName(const char* stem) { return stem + std::to_string(std::random_device{}() % 1000000); }

// A key of the test's own under HKLM\SOFTWARE, removed afterwards.
class TestKey {
public:
    TestKey() : path_("SOFTWARE\\" + uniqueName("ZelvoPrueba")) {}
    ~TestKey() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, zelvo::toUtf16(path_)->c_str()); }
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
    EXPECT_TRUE(zelvo::readRegistryString(key.path() + "\\Vexa", "Largo", longer, 1026));
    EXPECT_EQ(longer, std::string(512, 'a'));
    EXPECT_FALSE(zelvo::readRegistryString(key.path() + "\\Vexa", "Justo", longer, 1022));
    std::vector<std::string> subkeys = zelvo::listRegistrySubkeys("HKEY_LOCAL_MACHINE\\" + key.path());
    std::sort(subkeys.begin(), subkeys.end());
    EXPECT_EQ(subkeys, (std::vector<std::string>{"Quillet", "Vexa"}));
    EXPECT_EQ(zelvo::registryKeyName(key.path() + "\\vEXA\\\\"), "Vexa");
    EXPECT_FALSE(zelvo::registryKeyName(key.path() + "\\otra"));
    EXPECT_TRUE(zelvo::listRegistrySubkeys(key.path() + "\\otra").empty());
}

TEST(InstanceLock, OneServerPerSession) {
    zelvo::InstanceLock::Outcome first, second, third;
    std::string error;
    auto held = zelvo::InstanceLock::acquire(first, error);
    EXPECT_EQ(first, zelvo::InstanceLock::Outcome::acquired) << error;
    EXPECT_FALSE(zelvo::InstanceLock::acquire(second, error));
    EXPECT_EQ(second, zelvo::InstanceLock::Outcome::heldByOther);
    held.reset();
    auto again = zelvo::InstanceLock::acquire(third, error);
    EXPECT_EQ(third, zelvo::InstanceLock::Outcome::acquired);
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

    // An inheritable handle of ours does not reach the child.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE event = CreateEventW(&inherit, TRUE, FALSE, nullptr);
    EXPECT_EQ(run({ZELVO_ARGV_ECHO, "--handles"}, code), "handles 0\n");
    CloseHandle(event);

    std::string error;
    EXPECT_FALSE(zelvo::ChildProcess::start({"no-existe-este-programa"}, {}, error));
    EXPECT_FALSE(error.empty());
}

TEST(ChildProcess, AKilledChildEndsAndReadsAsNotEndedNormally) {
    std::string error;
    zelvo::ChildProcess::Options options;
    options.captureOutput = false;
    auto child = zelvo::ChildProcess::start({"cmd.exe", "/c", "ping", "-n", "30", "127.0.0.1"}, options, error);
    ASSERT_TRUE(child) << error;
    EXPECT_FALSE(child->waitFor(std::chrono::milliseconds(0)));
    child->kill();
    EXPECT_EQ(child->waitFor(std::chrono::seconds(20)), -1);
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

// A browser starts a protocol's program in its own folder: the configuration is
// looked for there first, then beside the program.
TEST(Paths, TheConfigurationIsLookedForHereThenBesideTheProgram) {
    EXPECT_EQ(zelvo::configFileCandidates("application.config"),
              (std::vector<std::string>{"application.config", zelvo::programDir() + "application.config"}));
}

TEST(Environment, TextAndThePathSeparator) {
    ASSERT_TRUE(zelvo::setEnv("ZELVO_PRUEBA", "Ñandú"));
    EXPECT_EQ(zelvo::getEnv("ZELVO_PRUEBA"), "Ñandú");
    const std::string path = zelvo::getEnv("PATH").value_or("");
    zelvo::appendToPath("C:\\Zelvo Ñandú");
    EXPECT_EQ(zelvo::getEnv("PATH"), path + ";C:\\Zelvo Ñandú");
    zelvo::setEnv("PATH", path);
    EXPECT_FALSE(zelvo::toUtf16(std::string("\xff\xfe", 2)));  // not UTF-8: no file name at all
    EXPECT_EQ(zelvo::toUtf8(*zelvo::toUtf16("señal €")), "señal €");
    EXPECT_FALSE(zelvo::systemErrorText(ERROR_FILE_NOT_FOUND).empty());
    EXPECT_EQ(zelvo::systemErrorText(0), "");
}

TEST(SharedLibrary, TheSystemsNumberForALibraryThatDoesNotLoad) {
    zelvo::LoadError error;
    EXPECT_FALSE(zelvo::SharedLibrary::open("C:\\no-existe\\biblioteca.dll", false, error));
    EXPECT_EQ(error.shown(), std::to_string(ERROR_MOD_NOT_FOUND));
    auto kernel = zelvo::SharedLibrary::open("kernel32.dll", false, error);
    ASSERT_TRUE(kernel);
    EXPECT_TRUE(kernel->symbol("GetCurrentProcessId", error));
    EXPECT_FALSE(kernel->symbol("NoExisteEstaFuncion", error));
    EXPECT_EQ(error.code, static_cast<unsigned long>(ERROR_PROC_NOT_FOUND));
}
