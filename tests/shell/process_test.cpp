// quorvex.exe itself, started as a child process from a folder of its own:
// with only the native library allowed it finds no wnaspi32.dll there or in
// the system folder.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "program.h"

namespace {

// A copy of the program in a folder of its own, removed afterwards.
class LoneProgramCopy {
  public:
    LoneProgramCopy() {
        char path[MAX_PATH];
        GetModuleFileNameA(nullptr, path, sizeof path);
        std::string program(path);
        program = program.substr(0, program.find_last_of("\\/") + 1) + "quorvex.exe";
        GetTempPathA(sizeof path, path);
        dir_ = std::string(path) + "qvx-shell-lone";
        CreateDirectoryA(dir_.c_str(), nullptr);
        EXPECT_TRUE(CopyFileA(program.c_str(), (dir_ + "\\quorvex.exe").c_str(), FALSE)) << program;
    }
    ~LoneProgramCopy() {
        DeleteFileA((dir_ + "\\quorvex.exe").c_str());
        RemoveDirectoryA(dir_.c_str());
    }
    std::string path() const {
        return dir_ + "\\quorvex.exe";
    }

  private:
    std::string dir_;
};

// A started program, ended on destruction if it still runs.
class ChildProgram {
  public:
    explicit ChildProgram(const std::string& path) {
        std::string command = "\"" + path + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        EXPECT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &startup, &info_))
            << path << " error " << GetLastError();
    }
    ~ChildProgram() {
        if (WaitForExit(0) == STILL_ACTIVE)
            TerminateProcess(info_.hProcess, 99);
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }

    // Waits for a visible top-level window of the child of class `cls`.
    HWND WaitForWindow(const char* cls) const {
        for (DWORD end = GetTickCount() + 15000; GetTickCount() < end; Sleep(50))
            for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, cls, nullptr)) != nullptr;) {
                DWORD pid = 0;
                GetWindowThreadProcessId(w, &pid);
                if (pid == info_.dwProcessId && IsWindowVisible(w))
                    return w;
            }
        return nullptr;
    }

    // The exit code, or STILL_ACTIVE after the time-out.
    DWORD WaitForExit(DWORD timeoutMs = 15000) const {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(info_.hProcess, timeoutMs) == WAIT_OBJECT_0)
            GetExitCodeProcess(info_.hProcess, &code);
        return code;
    }

  private:
    PROCESS_INFORMATION info_ = {};
};

std::string Text(HWND w) {
    char text[1024] = "";
    SendMessageTimeoutA(w, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_BLOCK,
                        5000, nullptr);
    return text;
}

// Waits for the child's message box, checks it, answers OK; the box's owner.
HWND ExpectMessage(const ChildProgram& program, const char* text) {
    HWND box = program.WaitForWindow("#32770");
    EXPECT_NE(box, nullptr) << "no message from the program";
    if (box == nullptr)
        return nullptr;
    EXPECT_EQ(Text(GetDlgItem(box, 0xFFFF)), text);
    EXPECT_EQ(Text(box), "Quorvex Diagnostics status:");
    bool stopIcon = false; // the only visible icon static besides the text
    for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT))
        stopIcon |= (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(c);
    EXPECT_TRUE(stopIcon);
    HWND owner = GetWindow(box, GW_OWNER);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    return owner;
}

// A wnaspi32.dll of some other maker in the system folder (not Wine's own
// stand-in for its built-in library) would be found by the program.
bool SystemHasAspiLibrary() {
    char dir[MAX_PATH];
    GetSystemDirectoryA(dir, sizeof dir);
    HANDLE file = CreateFileA((std::string(dir) + "\\wnaspi32.dll").c_str(), GENERIC_READ,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    std::string head(4096, '\0');
    DWORD got = 0;
    ReadFile(file, head.data(), static_cast<DWORD>(head.size()), &got, nullptr);
    CloseHandle(file);
    return head.find("Wine builtin DLL") == std::string::npos &&
           head.find("Wine placeholder DLL") == std::string::npos;
}

TEST(Program, OnNtWithoutAspiWarnsAndRunsOnEmptyThenRefusesASecondStart) {
    if (SystemHasAspiLibrary())
        GTEST_SKIP() << "a wnaspi32.dll was installed in the system folder";
    qvx::test::InstalledHelpPath help;
    LoneProgramCopy lone;
    ChildProgram first(lone.path());
    HWND owner =
        ExpectMessage(first, "A Veltrane Kestrail series SCSI Host Adapter was not detected !");
    EXPECT_EQ(Text(owner), "Quorvex Diagnostics") << "owned by the hidden main window";
    HWND main = first.WaitForWindow("APP_UI_WClass");
    ASSERT_NE(main, nullptr) << "the main window never came up";
    EXPECT_EQ(Text(main), "Quorvex Diagnostics");
    EXPECT_EQ(Text(GetDlgItem(main, 1000)), "Currently selected:  None") << "no adapter to show";

    EXPECT_EQ(ChildProgram(lone.path()).WaitForExit(), 0u) << "the second start ends at once";
    EXPECT_TRUE(IsWindow(main));
    PostMessageA(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(first.WaitForExit(), 0u);
    qvx::test::ForgetWindowPosition();
}

// The Windows version Wine reports to quorvex.exe, restored afterwards.
class ReportedWindowsVersion {
  public:
    explicit ReportedWindowsVersion(const char* version) {
        RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\quorvex.exe", 0, nullptr,
                        0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
        had_ = RegQueryValueExA(key_, "Version", nullptr, nullptr, old_, &size_) == ERROR_SUCCESS;
        RegSetValueExA(key_, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                       static_cast<DWORD>(strlen(version) + 1));
    }
    ~ReportedWindowsVersion() {
        if (had_)
            RegSetValueExA(key_, "Version", 0, REG_SZ, old_, size_);
        else
            RegDeleteValueA(key_, "Version");
        RegCloseKey(key_);
    }

  private:
    HKEY key_ = nullptr;
    bool had_ = false;
    BYTE old_[32] = {};
    DWORD size_ = sizeof old_;
};

// Start-up refuses the system with one message and ends with exit code 0.
TEST(Program, Win32sAndWindows95WithoutAspiLibraryEnd) {
    qvx::test::InstalledHelpPath help;
    LoneProgramCopy lone;
    {
        ReportedWindowsVersion win31("win31");
        ChildProgram program(lone.path());
        EXPECT_EQ(ExpectMessage(program,
                                "This program requires Windows 95 or Windows NT 4.00.\t\n\nFound:  "
                                "WIN32s.\nQuorvex Diagnostics must exit."),
                  nullptr);
        EXPECT_EQ(program.WaitForExit(), 0u);
    }
    if (SystemHasAspiLibrary())
        GTEST_SKIP() << "a wnaspi32.dll was installed in the system folder";
    ReportedWindowsVersion win95("win95");
    ChildProgram program(lone.path());
    EXPECT_NE(ExpectMessage(
                  program,
                  "An unknown error occured during the initialization\n of the WNASPI32.DLL !\n "
                  "Quorvex Diagnostics must exit."),
              nullptr);
    EXPECT_EQ(program.WaitForExit(), 0u);
}

} // namespace
