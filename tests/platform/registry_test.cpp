#include "platform/registry.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>

using namespace testing_support;
using winreg::Hive;
using winreg::RegException;
using winreg::RegKey;

namespace {

const std::string kV5 = "SOFTWARE\\Lockheed Martin\\Prepar3D v5";
const std::string kV6 = "SOFTWARE\\Lockheed Martin\\Prepar3D v6";

class RegistryTest : public ::testing::Test {
protected:
    void writeMachine(const std::string& text) { writeWholeFile(m_dir / "machine.reg", text); }
    void writeUser(const std::string& text) { writeWholeFile(m_dir / "user.reg", text); }

    TempDir m_dir;
    ScopedEnv m_env{"ZNTV_REGISTRY_DIR", m_dir.path().string()};
};

// The exact code and text callers and logs see when a key is missing.
void expectOpenFails(Hive hive, const std::string& key) {
    try {
        RegKey::Open(hive, key);
        FAIL() << "opened " << key;
    } catch (const RegException& e) {
        EXPECT_EQ(e.code().value(), 2);
        EXPECT_EQ(std::string(e.what()).rfind("RegOpenKeyExW failed.", 0), 0u) << e.what();
    }
}

void expectValueFails(const RegKey& key, const std::string& name) {
    try {
        key.GetStringValue(name);
        FAIL() << "read " << name;
    } catch (const RegException& e) {
        EXPECT_EQ(e.code().value(), 2);
        EXPECT_EQ(std::string(e.what()).rfind("Cannot get size of string value: RegGetValueW failed.", 0), 0u)
            << e.what();
    }
}

}  // namespace

TEST_F(RegistryTest, FindsWhichSimulatorVersionsAreInstalled) {
    // No file at all: an empty hive, so neither version is there.
    expectOpenFails(Hive::LocalMachine, kV5);
    expectOpenFails(Hive::LocalMachine, kV6);

    writeMachine("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Lockheed Martin\\Prepar3D v6]\r\n"
                 "\"SetupPath\"=\"D:\\\\P3D v6\\\\\"\r\n");
    expectOpenFails(Hive::LocalMachine, kV5);
    EXPECT_EQ(RegKey::Open(Hive::LocalMachine, kV6).GetStringValue("SetupPath"), "D:\\P3D v6\\");

    writeMachine("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Lockheed Martin\\Prepar3D v5]\n"
                 "\"SetupPath\"=\"C:\\\\Program Files\\\\Lockheed Martin\\\\Prepar3D v5\\\\\"\n\n"
                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Lockheed Martin\\Prepar3D v6]\n"
                 "\"SetupPath\"=\"D:\\\\P3D v6\\\\\"\n");
    EXPECT_EQ(RegKey::Open(Hive::LocalMachine, kV5).GetStringValue("SetupPath"),
              "C:\\Program Files\\Lockheed Martin\\Prepar3D v5\\");
    EXPECT_EQ(RegKey::Open(Hive::LocalMachine, kV6).GetStringValue("SetupPath"), "D:\\P3D v6\\");
    // A key's parents exist as well, as they do in a real registry.
    EXPECT_NO_THROW(RegKey::Open(Hive::LocalMachine, "SOFTWARE\\Lockheed Martin"));
    expectOpenFails(Hive::LocalMachine, "SOFTWARE\\Lockheed Martin\\Prepar3D v7");
}

TEST_F(RegistryTest, ValuesOfEveryKindAndTheOnesThatAreNotStrings) {
    writeMachine(
        "Windows Registry Editor Version 5.00\n"
        "; exported by hand\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\n"
        "@=\"the default\"\n"
        "\"Quoted\"=\"say \\\"hi\\\" \\\\ bye\"\n"
        "\"Single\"=\"C:\\P3D\"\n"
        "\"Blob\"=hex:01,02,03,\\\n"
        "  04,05,\\\n"
        "  06\n"
        "\"Port\"=dword:0000c350\n"
        "\"Expand\"=hex(2):25,00,50,00,00,00\n"
        "\"Gone\"=\"x\"\n"
        "\"Gone\"=-\n"
        "\"After\"=\"still read\"\n");
    const RegKey key = RegKey::Open(Hive::LocalMachine, "SOFTWARE\\Test");
    EXPECT_EQ(key.GetStringValue(""), "the default");
    EXPECT_EQ(key.GetStringValue("Quoted"), "say \"hi\" \\ bye");
    EXPECT_EQ(key.GetStringValue("Single"), "C:\\P3D");  // a lone backslash is kept as typed
    EXPECT_EQ(key.GetStringValue("After"), "still read");
    EXPECT_EQ(key.GetDwordValue("Port"), 50000ul);
    EXPECT_EQ(key.GetDwordValue("After"), std::nullopt);
    expectValueFails(key, "Missing");
    expectValueFails(key, "Port");
    expectValueFails(key, "Blob");
    expectValueFails(key, "Expand");
    expectValueFails(key, "Gone");
}

TEST_F(RegistryTest, NamesCompareWithoutCase) {
    writeMachine("REGEDIT4\n[hkey_local_machine\\software\\lockheed martin\\prepar3d v5]\n"
                 "\"setuppath\"=\"x\"\n");
    const RegKey key = RegKey::Open(Hive::LocalMachine, "SOFTWARE\\LOCKHEED MARTIN\\Prepar3D V5\\");
    EXPECT_EQ(key.GetStringValue("SetupPath"), "x");
    EXPECT_EQ(key.GetStringValue("SETUPPATH"), "x");
}

TEST_F(RegistryTest, EachHiveReadsItsOwnFile) {
    writeMachine("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Lockheed Martin\\Prepar3D v5]\n\"SetupPath\"=\"m\"\n");
    writeUser("REGEDIT4\n[HKEY_CURRENT_USER\\SOFTWARE\\Lockheed Martin\\Prepar3D v5]\n"
              "\"SimConnect_Port_IPv4\"=\"500\"\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Elsewhere]\n");
    EXPECT_EQ(RegKey::Open(Hive::CurrentUser, kV5).GetStringValue("SimConnect_Port_IPv4"), "500");
    expectValueFails(RegKey::Open(Hive::CurrentUser, kV5), "SetupPath");
    expectOpenFails(Hive::CurrentUser, "SOFTWARE\\Elsewhere");
    expectOpenFails(Hive::LocalMachine, "SOFTWARE\\Elsewhere");
}

TEST_F(RegistryTest, ReadsTheUtf16FileThatRegeditWrites) {
    // UTF-16 LE with its BOM; one character inside and one outside the basic plane (a surrogate pair).
    std::u16string u16 = u"Windows Registry Editor Version 5.00\r\n\r\n"
                         u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Lockheed Martin\\Prepar3D v5]\r\n"
                         u"\"SetupPath\"=\"C:\\\\Sim\u00fc\U0001F600\"\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t c : u16) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    writeMachine(bytes);
    EXPECT_EQ(RegKey::Open(Hive::LocalMachine, kV5).GetStringValue("SetupPath"), "C:\\Sim\xC3\xBC\xF0\x9F\x98\x80");
}

TEST_F(RegistryTest, ARewrittenFileIsReadAgain) {
    writeMachine("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\"v\"=\"1\"\n");
    EXPECT_EQ(RegKey::Open(Hive::LocalMachine, "SOFTWARE\\A").GetStringValue("v"), "1");
    writeMachine("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\B]\n\"v\"=\"22\"\n");
    expectOpenFails(Hive::LocalMachine, "SOFTWARE\\A");
    EXPECT_EQ(RegKey::Open(Hive::LocalMachine, "SOFTWARE\\B").GetStringValue("v"), "22");
}

TEST_F(RegistryTest, DeletedKeysAndMalformedLinesAreSkipped) {
    writeMachine("REGEDIT4\n"
                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Keep]\n"
                 "\"Broken=\"no closing quote\n"
                 "\"Odd\"=strange\n"
                 "\"Good\"=\"yes\"\n"
                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Drop\\Child]\n"
                 "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Drop]\n"
                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Lone\\Leaf]\n"
                 "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Lone\\Leaf]\n");
    const RegKey key = RegKey::Open(Hive::LocalMachine, "SOFTWARE\\Keep");
    EXPECT_EQ(key.GetStringValue("Good"), "yes");
    expectValueFails(key, "Odd");
    expectOpenFails(Hive::LocalMachine, "SOFTWARE\\Drop\\Child");
    expectOpenFails(Hive::LocalMachine, "SOFTWARE\\Drop");
    // A deleted key's parent stays, even one that came into being only as that key's parent.
    EXPECT_NO_THROW(RegKey::Open(Hive::LocalMachine, "SOFTWARE\\Lone"));
}

// regedit never writes a key beyond Windows' own limits; a file that does is refused as a whole, with its
// line named. The first two keys are a few hundred KB: the deep one used to cost memory by the square of
// its depth and ended in bad_alloc.
TEST_F(RegistryTest, AFileBeyondTheRegistrysLimitsIsRefusedWithItsLine) {
    const auto repeat = [](const std::string& part, int times) {
        std::string s;
        for (int i = 0; i < times; ++i) s += part;
        return s;
    };
    const struct {
        std::string key;
        const char* problem;
    } cases[] = {
        {repeat("a\\", 150000), "a key more than 512 levels deep"},
        {std::string(300000, 'n'), "a key name longer than 255 characters"},
        {repeat(std::string(200, 'n') + "\\", 200), "a key path longer than 32767 characters"},
    };
    const std::string head = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\" + kV5 + "]\n\"SetupPath\"=\"x\"\n";
    for (const auto& c : cases) {
        writeMachine(head + "[HKEY_LOCAL_MACHINE\\" + c.key + "]\n");
        try {
            RegKey::Open(Hive::LocalMachine, kV5);
            ADD_FAILURE() << c.problem << ": the file was read";
        } catch (const RegException& e) {
            EXPECT_EQ(e.code().value(), winreg::kErrorBadDb);
            EXPECT_NE(std::string(e.what()).find("machine.reg line 4: " + std::string(c.problem)), std::string::npos)
                << e.what();
        }
    }
    // At the limits the file is read, and the deepest key's parents are there as well.
    const std::string deepest = repeat(std::string(63, 'k') + "\\", 511) + "k";
    writeMachine(head + "[HKEY_LOCAL_MACHINE\\" + deepest + "]\n\"v\"=\"deep\"\n");
    EXPECT_EQ(RegKey::Open(Hive::LocalMachine, deepest).GetStringValue("v"), "deep");
    EXPECT_NO_THROW(RegKey::Open(Hive::LocalMachine, deepest.substr(0, 64 * 300)));
    EXPECT_EQ(RegKey::Open(Hive::LocalMachine, kV5).GetStringValue("SetupPath"), "x");
}

TEST(RegistryDefaultFolder, IsTheRegistryFolderInTheWorkingFolder) {
    TempDir dir;
    ScopedEnv env("ZNTV_REGISTRY_DIR", std::nullopt);
    std::filesystem::create_directory(dir / "registry");
    writeWholeFile(dir / "registry" / "machine.reg",
                   "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Here]\n\"v\"=\"found\"\n");
    ScopedCwd cwd(dir.path());
    EXPECT_EQ(RegKey::Open(Hive::LocalMachine, "SOFTWARE\\Here").GetStringValue("v"), "found");
}
