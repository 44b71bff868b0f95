// qvxmachine.exe run in this test's own Wine prefix; the registry keys, files
// and version records it lays are read back as the program reads them.
#include "aspitest.h"

#include <process.h>

#include <cstdio>
#include <vector>

using namespace aspitest;
using Strings = std::vector<std::string>;

namespace {

std::string Dir(UINT(WINAPI* get)(LPSTR, UINT)) {
    char path[MAX_PATH] = {};
    get(path, MAX_PATH);
    return path;
}
const std::string kSystem = Dir(GetSystemDirectoryA), kWindows = Dir(GetWindowsDirectoryA);

// Runs qvxmachine.exe (beside this program) and returns its exit code.
DWORD RunInstaller(const std::string& argument) {
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string path = exe;
    path = path.substr(0, path.find_last_of("\\/")) + "\\qvxmachine.exe";
    return static_cast<DWORD>(_spawnl(_P_WAIT, path.c_str(), ("\"" + path + "\"").c_str(),
                                      ("\"" + argument + "\"").c_str(), nullptr));
}

// A string or DWORD value, or "<missing>".
std::string Value(HKEY root, const std::string& key, const char* name) {
    char data[512] = {};
    DWORD size = sizeof data - 1, type = 0;
    if (RegGetValueA(root, key.c_str(), name, RRF_RT_REG_SZ | RRF_RT_REG_DWORD, &type, data,
                     &size) != ERROR_SUCCESS)
        return "<missing>";
    return type == REG_DWORD ? std::to_string(*reinterpret_cast<DWORD*>(data)) : data;
}
std::string Lm(const std::string& key, const char* name) {
    return Value(HKEY_LOCAL_MACHINE, key, name);
}
std::string Cu(const std::string& key, const char* name) {
    return Value(HKEY_CURRENT_USER, key, name);
}

// The names of the subkeys of an HKEY_LOCAL_MACHINE key.
Strings SubKeys(const std::string& key) {
    Strings names;
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return names;
    char name[256];
    for (DWORD i = 0, size = sizeof name;
         RegEnumKeyExA(h, i, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, size = sizeof name)
        names.push_back(name);
    RegCloseKey(h);
    return names;
}

bool KeyExists(const std::string& key) {
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return false;
    RegCloseKey(h);
    return true;
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The file version text, looked up as the program does: the first
// translation, then "\StringFileInfo\%04x%04x\FileVersion".
std::string FileVersion(const std::string& path) {
    DWORD handle = 0, size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    std::vector<char> block(size + 1);
    WORD* lang = nullptr;
    char* text = nullptr;
    UINT length = 0;
    if (!size || !GetFileVersionInfoA(path.c_str(), 0, size, block.data()) ||
        !VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&lang),
                        &length) ||
        length < 4)
        return "<none>";
    char query[64];
    snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\FileVersion", lang[0], lang[1]);
    if (!VerQueryValueA(block.data(), query, reinterpret_cast<void**>(&text), &length) || !text)
        return "<none>";
    return text;
}

const char kScsi[] = "Hardware\\DeviceMap\\Scsi\\Scsi Port ";
const std::string kPort0 = std::string(kScsi) + "0";
const char kLegacy[] = "System\\CurrentControlSet\\Enum\\Root\\LEGACY_KESTRAIL\\0000";
const char kClass[] = "System\\CurrentControlSet\\Services\\Class\\SCSIAdapter\\000";
const char kAppDefaults[] = "Software\\Wine\\AppDefaults\\quorvex.exe";
const char kOverrides[] = "Software\\Wine\\DllOverrides";

std::string DesktopSize() {
    std::string desktop = Cu("Software\\Wine\\Explorer", "Desktop");
    return Cu("Software\\Wine\\Explorer\\Desktops", desktop.c_str());
}

class InstallerTest : public ::testing::Test {
  protected:
    // The prefix is shared with the other tests: leave no machine behind.
    void TearDown() override {
        EXPECT_EQ(RunInstaller("/remove"), 0u);
    }
};

TEST_F(InstallerTest, LaysAnNtMachine) {
    ASSERT_EQ(RunInstaller(Machine("default.ini")), 0u);
    EXPECT_EQ((Strings{Lm(kPort0, "Driver"), Lm(kPort0, "IOAddress"),
                       Lm(std::string(kScsi) + "2", "IOAddress")}),
              (Strings{"kestrail", std::to_string(0x6000), std::to_string(0x1F0)}));
    std::string lu = kPort0 + "\\Scsi Bus 0\\Target Id 4\\Logical Unit Id 0";
    EXPECT_EQ((Strings{Lm(lu, "DeviceName"), Lm(lu, "Identifier")}),
              (Strings{"Tape0", "ARCHIVE Python 04106-XXX7350"}));

    EXPECT_EQ((Strings{Lm(kLegacy, "Mfg"), Lm(kLegacy, "DeviceDesc"), Lm(kLegacy, "Service")}),
              (Strings{"Veltrane", "Veltrane Kestrail Wide SCSI Host Adapter", "kestrail"}));
    EXPECT_EQ(Lm("Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Quorvex "
                 "Diagnostics.EXE",
                 "HelpPath"),
              "C:\\Program Files\\Quorvex");
    EXPECT_EQ((Strings{Cu(kAppDefaults, "Version"), Cu(kOverrides, "wnaspi32"), DesktopSize()}),
              (Strings{"nt40", "native", "800x600"}));
    EXPECT_EQ(FileVersion(kSystem + "\\wnaspi32.dll"), "4.60 (1021)");

    // The installed copy can be installed again (it is read before removal).
    EXPECT_EQ(RunInstaller(kWindows + "\\qvxmachine.ini"), 0u);
    EXPECT_TRUE(FileExists(kWindows + "\\qvxmachine.ini"));
    EXPECT_EQ(Lm(kPort0, "Driver"), "kestrail");
    std::string drivers = kSystem + "\\drivers\\";
    EXPECT_EQ((Strings{FileVersion(drivers + "kestrail.sys"), FileVersion(drivers + "lq450.sys"),
                       FileVersion(drivers + "Aspi32.sys"), FileVersion(drivers + "AspiXNT.sys")}),
              (Strings{"2.10.0.0", "1.2.0.4", "4.60 (1021)", "4.60 (1021)"}));
}

TEST_F(InstallerTest, AnotherMachineReplacesTheFirstAndRemovalCleansUp) {
    ASSERT_EQ(RunInstaller(Machine("default.ini")), 0u);
    ASSERT_EQ(RunInstaller(Machine("win95.ini")), 0u);
    EXPECT_FALSE(KeyExists(kPort0) || KeyExists(kLegacy));
    EXPECT_FALSE(FileExists(kSystem + "\\drivers\\kestrail.sys"));
    EXPECT_FALSE(FileExists(kSystem + "\\drivers\\Aspi32.sys"));

    std::string class0 = std::string(kClass) + "0";
    EXPECT_EQ((Strings{Lm(class0, "PortDriver"), Lm(class0, "DriverDate"),
                       Lm(std::string(kClass) + "1", "PortDriver")}),
              (Strings{"kestrail.mpd", "10-02-1997", "lq450.mpd"}));
    // The PCI device key that names class entry 0000, found as the program finds it.
    std::string kestrail;
    for (const std::string& device : SubKeys("Enum\\PCI"))
        for (const std::string& instance : SubKeys("Enum\\PCI\\" + device))
            if (Lm("Enum\\PCI\\" + device + "\\" + instance, "Driver") == "SCSIAdapter\\0000")
                kestrail = "Enum\\PCI\\" + device + "\\" + instance;
    ASSERT_FALSE(kestrail.empty());
    EXPECT_EQ((Strings{Lm(kestrail, "Class"), Lm(kestrail, "Mfg"), Lm(kestrail, "HWRevision")}),
              (Strings{"SCSIAdapter", "Veltrane", "003"}));

    std::string iosubsys = kSystem + "\\IOSUBSYS\\";
    EXPECT_EQ(FileVersion(iosubsys + "kestrail.mpd"), "2.10.0.0");
    for (const char* file : {"KVXHBA.VxD", "SCSI1HLP.VxD", "SCSIPORT.PDR", "APIX.VxD"})
        EXPECT_NE(FileVersion(iosubsys + file), "<none>") << file;
    EXPECT_EQ((Strings{Cu(kAppDefaults, "Version"), DesktopSize()}), (Strings{"win95", "640x480"}));

    // A machine without ASPI disables the library; removal cleans up.
    ASSERT_EQ(RunInstaller(Machine("nt-no-aspi.ini")), 0u);
    EXPECT_EQ(Cu(kOverrides, "wnaspi32"), "");
    // Our library is gone from the system directory (Wine's own is back).
    EXPECT_NE(FileVersion(kSystem + "\\wnaspi32.dll"), "4.60 (1021)");
    EXPECT_EQ(Lm(std::string(kScsi) + "1", "Driver"), "kestrail");
    EXPECT_EQ(Lm(kPort0, "IOAddress"), std::to_string(0x1F0));

    EXPECT_EQ(RunInstaller("/remove"), 0u);
    EXPECT_FALSE(KeyExists(std::string(kScsi) + "1"));
    EXPECT_EQ((Strings{Cu(kAppDefaults, "Version"), Cu(kOverrides, "wnaspi32")}),
              (Strings{"<missing>", "<missing>"}));
    EXPECT_FALSE(FileExists(kWindows + "\\qvxmachine.ini"));
    EXPECT_FALSE(FileExists(kWindows + "\\qvxmachine.laid"));

    // A machine file with a mistake lays nothing.
    EXPECT_EQ(RunInstaller(Machine("test-bad.ini")), 1u);
    EXPECT_FALSE(FileExists(kWindows + "\\qvxmachine.ini"));
}

} // namespace
