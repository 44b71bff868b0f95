// qvxmachine.exe run in this test's own Wine prefix; the registry keys, files
// and version records it lays are read back as the program reads them.
#include "aspitest.h"

#include <cstdio>
#include <vector>

using namespace aspitest;

namespace {

std::string Here() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s = path;
    return s.substr(0, s.find_last_of("\\/"));
}

std::string SystemDir() {
    char path[MAX_PATH];
    GetSystemDirectoryA(path, MAX_PATH);
    return path;
}

std::string WindowsDir() {
    char path[MAX_PATH];
    GetWindowsDirectoryA(path, MAX_PATH);
    return path;
}

DWORD RunInstaller(const std::string& argument) {
    std::string command = "\"" + Here() + "\\qvxmachine.exe\" \"" + argument + "\"";
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return GetLastError() | 0x80000000u;
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

// A string value, or "<missing>".
std::string Value(HKEY root, const std::string& key, const char* name) {
    char data[512] = {};
    DWORD size = sizeof data - 1, type = 0;
    HKEY h;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return "<missing>";
    LONG rc = RegQueryValueExA(h, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(h);
    if (rc != ERROR_SUCCESS)
        return "<missing>";
    if (type == REG_DWORD)
        return std::to_string(*reinterpret_cast<DWORD*>(data));
    return data;
}

bool KeyExists(HKEY root, const std::string& key) {
    HKEY h;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
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
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (!size)
        return "<none>";
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data()))
        return "<none>";
    WORD* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &length) ||
        length < 4)
        return "<none>";
    char query[64];
    snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\FileVersion", translation[0],
             translation[1]);
    char* text = nullptr;
    if (!VerQueryValueA(block.data(), query, reinterpret_cast<void**>(&text), &length) || !text)
        return "<none>";
    return text;
}

const char kPort0[] = "Hardware\\DeviceMap\\Scsi\\Scsi Port 0";
const char kLegacy[] = "System\\CurrentControlSet\\Enum\\Root\\LEGACY_KESTRAIL\\0000";
const char kClass0[] = "System\\CurrentControlSet\\Services\\Class\\SCSIAdapter\\0000";
const char kAppDefaults[] = "Software\\Wine\\AppDefaults\\quorvex.exe";

class InstallerTest : public ::testing::Test {
  protected:
    // The prefix is shared with the other tests: leave no machine behind.
    void TearDown() override {
        EXPECT_EQ(RunInstaller("/remove"), 0u);
    }
};

TEST_F(InstallerTest, LaysAnNtMachine) {
    ASSERT_EQ(RunInstaller(Machine("default.ini")), 0u);
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kPort0, "Driver"), "kestrail");
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kPort0, "IOAddress"), std::to_string(0x6000));
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, "Hardware\\DeviceMap\\Scsi\\Scsi Port 2", "IOAddress"),
              std::to_string(0x1F0));
    std::string lu = std::string(kPort0) + "\\Scsi Bus 0\\Target Id 4\\Logical Unit Id 0";
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, lu, "DeviceName"), "Tape0");
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, lu, "Identifier"), "ARCHIVE Python 04106-XXX7350");
    // Keys under Hardware are volatile: a lasting key cannot go below them.
    HKEY child;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (std::string(kPort0) + "\\Lasting").c_str(), 0,
                              nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &child,
                              nullptr),
              ERROR_CHILD_MUST_BE_VOLATILE);

    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kLegacy, "Mfg"), "Veltrane");
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kLegacy, "DeviceDesc"),
              "Veltrane Kestrail Wide SCSI Host Adapter");
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kLegacy, "Service"), "kestrail");
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE,
                    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Quorvex "
                    "Diagnostics.EXE",
                    "HelpPath"),
              "C:\\Program Files\\Quorvex");
    EXPECT_EQ(Value(HKEY_CURRENT_USER, kAppDefaults, "Version"), "nt40");
    EXPECT_EQ(Value(HKEY_CURRENT_USER, "Software\\Wine\\DllOverrides", "wnaspi32"), "native");
    std::string desktop = Value(HKEY_CURRENT_USER, "Software\\Wine\\Explorer", "Desktop");
    EXPECT_EQ(Value(HKEY_CURRENT_USER, "Software\\Wine\\Explorer\\Desktops", desktop.c_str()),
              "800x600");

    EXPECT_EQ(FileVersion(SystemDir() + "\\wnaspi32.dll"), "4.60 (1021)");
    // The installed copy can be installed again (it is read before removal).
    EXPECT_EQ(RunInstaller(WindowsDir() + "\\qvxmachine.ini"), 0u);
    EXPECT_TRUE(FileExists(WindowsDir() + "\\qvxmachine.ini"));
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kPort0, "Driver"), "kestrail");
    EXPECT_EQ(FileVersion(SystemDir() + "\\drivers\\kestrail.sys"), "2.10.0.0");
    EXPECT_EQ(FileVersion(SystemDir() + "\\drivers\\lq450.sys"), "1.2.0.4");
    EXPECT_EQ(FileVersion(SystemDir() + "\\drivers\\Aspi32.sys"), "4.60 (1021)");
    EXPECT_EQ(FileVersion(SystemDir() + "\\drivers\\AspiXNT.sys"), "4.60 (1021)");
}

TEST_F(InstallerTest, AnotherMachineReplacesTheFirst) {
    ASSERT_EQ(RunInstaller(Machine("default.ini")), 0u);
    ASSERT_EQ(RunInstaller(Machine("win95.ini")), 0u);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPort0));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kLegacy));
    EXPECT_FALSE(FileExists(SystemDir() + "\\drivers\\kestrail.sys"));
    EXPECT_FALSE(FileExists(SystemDir() + "\\drivers\\Aspi32.sys"));

    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kClass0, "PortDriver"), "kestrail.mpd");
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kClass0, "DriverDate"), "10-02-1997");
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE,
                    "System\\CurrentControlSet\\Services\\Class\\SCSIAdapter\\0001", "PortDriver"),
              "lq450.mpd");
    // The PCI device key that names class entry 0000.
    HKEY pci;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\PCI", 0, KEY_READ, &pci), ERROR_SUCCESS);
    std::string kestrail;
    char name[256];
    for (DWORD i = 0; kestrail.empty(); ++i) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(pci, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY device;
        char instance[256];
        DWORD isize = sizeof instance;
        if (RegOpenKeyExA(pci, name, 0, KEY_READ, &device) == ERROR_SUCCESS) {
            if (RegEnumKeyExA(device, 0, instance, &isize, nullptr, nullptr, nullptr, nullptr) ==
                    ERROR_SUCCESS &&
                Value(HKEY_LOCAL_MACHINE, std::string("Enum\\PCI\\") + name + "\\" + instance,
                      "Driver") == "SCSIAdapter\\0000")
                kestrail = std::string("Enum\\PCI\\") + name + "\\" + instance;
            RegCloseKey(device);
        }
    }
    RegCloseKey(pci);
    ASSERT_FALSE(kestrail.empty());
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kestrail, "Class"), "SCSIAdapter");
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kestrail, "Mfg"), "Veltrane");
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kestrail, "HWRevision"), "003");

    std::string iosubsys = SystemDir() + "\\IOSUBSYS\\";
    EXPECT_EQ(FileVersion(iosubsys + "kestrail.mpd"), "2.10.0.0");
    for (const char* file : {"KVXHBA.VxD", "SCSI1HLP.VxD", "SCSIPORT.PDR", "APIX.VxD"})
        EXPECT_NE(FileVersion(iosubsys + file), "<none>") << file;
    EXPECT_EQ(Value(HKEY_CURRENT_USER, kAppDefaults, "Version"), "win95");
    std::string desktop = Value(HKEY_CURRENT_USER, "Software\\Wine\\Explorer", "Desktop");
    EXPECT_EQ(Value(HKEY_CURRENT_USER, "Software\\Wine\\Explorer\\Desktops", desktop.c_str()),
              "640x480");
}

TEST_F(InstallerTest, MachineWithoutAspiDisablesTheLibraryAndRemovalCleansUp) {
    ASSERT_EQ(RunInstaller(Machine("default.ini")), 0u);
    ASSERT_EQ(RunInstaller(Machine("nt-no-aspi.ini")), 0u);
    EXPECT_EQ(Value(HKEY_CURRENT_USER, "Software\\Wine\\DllOverrides", "wnaspi32"), "");
    // Our library is gone from the system directory (Wine's own is back).
    EXPECT_NE(FileVersion(SystemDir() + "\\wnaspi32.dll"), "4.60 (1021)");
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, "Hardware\\DeviceMap\\Scsi\\Scsi Port 1", "Driver"),
              "kestrail");
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, "Hardware\\DeviceMap\\Scsi\\Scsi Port 0", "IOAddress"),
              std::to_string(0x1F0));

    EXPECT_EQ(RunInstaller("/remove"), 0u);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Hardware\\DeviceMap\\Scsi\\Scsi Port 1"));
    EXPECT_EQ(Value(HKEY_CURRENT_USER, kAppDefaults, "Version"), "<missing>");
    EXPECT_EQ(Value(HKEY_CURRENT_USER, "Software\\Wine\\DllOverrides", "wnaspi32"), "<missing>");
    EXPECT_FALSE(FileExists(WindowsDir() + "\\qvxmachine.ini"));
    EXPECT_FALSE(FileExists(WindowsDir() + "\\qvxmachine.laid"));

    // A machine file with a mistake lays nothing.
    EXPECT_EQ(RunInstaller(Machine("test-bad.ini")), 1u);
    EXPECT_FALSE(FileExists(WindowsDir() + "\\qvxmachine.ini"));
}

} // namespace
