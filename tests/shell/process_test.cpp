// quorvex.exe itself, started as a child process from a folder of its own
// (so, with only the native library allowed, it finds no wnaspi32.dll) under
// the Windows versions that decide what it does without one.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "support/program.h"

namespace {

// A started copy of quorvex.exe, alone in its folder, under the Windows
// version Wine reports to it; ended on destruction if it still runs.
class ChildProgram {
  public:
    explicit ChildProgram(const char* version) {
        RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\quorvex.exe", 0, nullptr,
                        0, KEY_ALL_ACCESS, nullptr, &versionKey_, nullptr);
        had_ = RegQueryValueExA(versionKey_, "Version", nullptr, nullptr, old_, &oldSize_) == 0;
        RegSetValueExA(versionKey_, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                       DWORD(strlen(version) + 1));
        char path[MAX_PATH];
        GetModuleFileNameA(nullptr, path, sizeof path);
        std::string program(path);
        program = program.substr(0, program.find_last_of("\\/") + 1) + "quorvex.exe";
        GetTempPathA(sizeof path, path);
        dir_ = std::string(path) + "qvx-shell-lone";
        CreateDirectoryA(dir_.c_str(), nullptr);
        EXPECT_TRUE(CopyFileA(program.c_str(), (dir_ + "\\quorvex.exe").c_str(), FALSE)) << program;
        std::string command = "\"" + dir_ + "\\quorvex.exe\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        EXPECT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &startup, &info_))
            << command << " error " << GetLastError();
    }
    ~ChildProgram() {
        TerminateProcess(info_.hProcess, 99); // when it still runs
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
        if (had_)
            RegSetValueExA(versionKey_, "Version", 0, REG_SZ, old_, oldSize_);
        else
            RegDeleteValueA(versionKey_, "Version");
        RegCloseKey(versionKey_);
        DeleteFileA((dir_ + "\\quorvex.exe").c_str());
        RemoveDirectoryA(dir_.c_str());
    }

    // Waits until the child shows a top-level window of class `cls`; null
    // when the child ends first or shows none for 30 s. Another process's
    // windows can only be looked for (Wine reports no window events across
    // processes), so this looks again each time 50 ms pass without the
    // child ending.
    HWND WaitForWindow(const char* cls) const {
        for (int looks = 0; looks < 600; looks++) {
            for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, cls, nullptr)) != nullptr;) {
                DWORD pid = 0;
                GetWindowThreadProcessId(w, &pid);
                if (pid == info_.dwProcessId && IsWindowVisible(w))
                    return w;
            }
            if (WaitForSingleObject(info_.hProcess, 50) == WAIT_OBJECT_0)
                break;
        }
        return nullptr;
    }

    // The exit code, or STILL_ACTIVE when the child still runs after 30 s.
    DWORD WaitForExit() const {
        DWORD code = STILL_ACTIVE;
        WaitForSingleObject(info_.hProcess, 30000);
        GetExitCodeProcess(info_.hProcess, &code);
        return code;
    }

  private:
    std::string dir_;
    HKEY versionKey_ = nullptr;
    bool had_ = false; // the version reported before, put back at the end
    BYTE old_[32] = {};
    DWORD oldSize_ = sizeof old_;
    PROCESS_INFORMATION info_ = {};
};

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

// Each start shows one message with a stop icon; the NT pass-through runs
// on with empty views, the others end. Every start ends with exit code 0.
TEST(Program, StartsWithoutAspiLibrary) {
    if (SystemHasAspiLibrary())
        GTEST_SKIP() << "a wnaspi32.dll was installed in the system folder";
    qvx::test::InstalledHelpPath help;
    const struct {
        const char* version;
        const char* text;
        bool owned, runs;
    } starts[] = {
        {"nt40", "A Veltrane Kestrail series SCSI Host Adapter was not detected !", true, true},
        {"win31",
         "This program requires Windows 95 or Windows NT 4.00.\t\n\nFound:  WIN32s.\n"
         "Quorvex Diagnostics must exit.",
         false, false},
        {"win95",
         "An unknown error occured during the initialization\n of the WNASPI32.DLL !\n "
         "Quorvex Diagnostics must exit.",
         true, false},
    };
    for (const auto& s : starts) {
        ChildProgram program(s.version);
        HWND box = program.WaitForWindow("#32770");
        ASSERT_NE(box, nullptr) << s.version << ": no message from the program";
        EXPECT_EQ(qvx::test::WindowText(GetDlgItem(box, 0xFFFF)), s.text);
        EXPECT_EQ(qvx::test::WindowText(box), "Quorvex Diagnostics status:");
        bool stopIcon = false; // the only visible icon static besides the text
        for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT))
            stopIcon |=
                (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(c);
        EXPECT_TRUE(stopIcon) << s.version;
        HWND owner = GetWindow(box, GW_OWNER);
        EXPECT_EQ(owner != nullptr ? qvx::test::WindowText(owner) : "",
                  s.owned ? "Quorvex Diagnostics" : "")
            << s.version << ": owned by the hidden main window";
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        if (s.runs) {
            HWND main = program.WaitForWindow("APP_UI_WClass");
            ASSERT_NE(main, nullptr) << "the main window never came up";
            EXPECT_EQ(qvx::test::WindowText(GetDlgItem(main, 1000)), "Currently selected:  None");
            PostMessageA(main, WM_CLOSE, 0, 0);
        }
        EXPECT_EQ(program.WaitForExit(), 0u) << s.version;
    }
    qvx::test::ForgetWindowPosition();
}

} // namespace
