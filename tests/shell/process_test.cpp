// quorvex.exe itself, started as a child process: Windows NT without the
// ASPI library, and a second start while the first runs.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "program.h"

namespace {

std::string ProgramPath() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string dir(path);
    return dir.substr(0, dir.find_last_of("\\/") + 1) + "quorvex.exe";
}

class ChildProgram {
  public:
    explicit ChildProgram(const std::string& program) {
        std::string command = "\"" + program + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        started_ = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &startup, &info_) != 0;
    }
    ~ChildProgram() {
        if (!started_)
            return;
        if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(info_.hProcess, 99);
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    bool started() const {
        return started_;
    }
    DWORD id() const {
        return info_.dwProcessId;
    }

    // Waits for a top-level window of the child that `match` accepts.
    template <typename Match> HWND WaitForWindow(Match match, DWORD timeoutMs = 15000) {
        DWORD end = GetTickCount() + timeoutMs;
        while (GetTickCount() < end) {
            struct Search {
                DWORD pid;
                Match* match;
                HWND found;
            } search{info_.dwProcessId, &match, nullptr};
            EnumWindows(
                [](HWND w, LPARAM p) -> BOOL {
                    auto* s = reinterpret_cast<Search*>(p);
                    DWORD pid = 0;
                    GetWindowThreadProcessId(w, &pid);
                    if (pid == s->pid && (*s->match)(w)) {
                        s->found = w;
                        return FALSE;
                    }
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&search));
            if (search.found != nullptr)
                return search.found;
            Sleep(50);
        }
        return nullptr;
    }

    // The exit code, or 259 (still running) after the time-out.
    DWORD WaitForExit(DWORD timeoutMs = 15000) {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(info_.hProcess, timeoutMs) == WAIT_OBJECT_0)
            GetExitCodeProcess(info_.hProcess, &code);
        return code;
    }

  private:
    PROCESS_INFORMATION info_ = {};
    bool started_ = false;
};

std::string Text(HWND w) {
    char text[1024] = "";
    SendMessageTimeoutA(w, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_BLOCK,
                        5000, nullptr);
    return text;
}

bool IsMessageBox(HWND w) {
    char cls[32] = "";
    GetClassNameA(w, cls, sizeof cls);
    return strcmp(cls, "#32770") == 0 && IsWindowVisible(w) && GetDlgItem(w, 0xFFFF) != nullptr;
}

bool IsShownMainWindow(HWND w) {
    char cls[32] = "";
    GetClassNameA(w, cls, sizeof cls);
    return strcmp(cls, "APP_UI_WClass") == 0 && IsWindowVisible(w);
}

// A copy of the program in a folder of its own: with only the native
// library allowed, it finds no wnaspi32.dll there or in the system folder.
class LoneProgramCopy {
  public:
    LoneProgramCopy() {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        dir_ = std::string(temp) + "qvx-shell-lone";
        CreateDirectoryA(dir_.c_str(), nullptr);
        path_ = dir_ + "\\quorvex.exe";
        copied_ = CopyFileA(ProgramPath().c_str(), path_.c_str(), FALSE) != 0;
    }
    ~LoneProgramCopy() {
        DeleteFileA(path_.c_str());
        RemoveDirectoryA(dir_.c_str());
    }
    LoneProgramCopy(const LoneProgramCopy&) = delete;
    LoneProgramCopy& operator=(const LoneProgramCopy&) = delete;
    bool copied() const {
        return copied_;
    }
    const std::string& path() const {
        return path_;
    }

  private:
    std::string dir_, path_;
    bool copied_ = false;
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
    head.resize(got);
    return head.find("Wine builtin DLL") == std::string::npos &&
           head.find("Wine placeholder DLL") == std::string::npos;
}

TEST(Program, OnNtWithoutAspiWarnsAndRunsOnEmptyThenRefusesASecondStart) {
    if (SystemHasAspiLibrary())
        GTEST_SKIP() << "a wnaspi32.dll was installed in the system folder";
    qvx::test::InstalledHelpPath help;
    LoneProgramCopy lone;
    ASSERT_TRUE(lone.copied());
    ChildProgram first(lone.path());
    ASSERT_TRUE(first.started()) << ProgramPath();

    HWND box = first.WaitForWindow(IsMessageBox);
    ASSERT_NE(box, nullptr) << "no message from the program";
    EXPECT_EQ(Text(GetDlgItem(box, 0xFFFF)),
              "A Veltrane Kestrail series SCSI Host Adapter was not detected !");
    EXPECT_EQ(Text(box), "Quorvex Diagnostics status:");
    HWND owner = GetWindow(box, GW_OWNER);
    EXPECT_EQ(Text(owner), "Quorvex Diagnostics") << "owned by the hidden main window";
    PostMessageA(box, WM_COMMAND, IDOK, 0);

    HWND main = first.WaitForWindow(IsShownMainWindow);
    ASSERT_NE(main, nullptr) << "the main window never came up";
    EXPECT_EQ(Text(main), "Quorvex Diagnostics");
    HWND status = GetDlgItem(main, 1000);
    EXPECT_EQ(Text(status), "Currently selected:  None") << "no adapter to show";

    {
        ChildProgram second(lone.path());
        ASSERT_TRUE(second.started());
        EXPECT_EQ(second.WaitForExit(), 0u) << "the second start ends at once";
    }
    EXPECT_TRUE(IsWindow(main));

    PostMessageA(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(first.WaitForExit(), 0u);
    qvx::test::ForgetWindowPosition();
}

// The Windows version Wine reports to quorvex.exe, restored afterwards.
class ReportedWindowsVersion {
  public:
    explicit ReportedWindowsVersion(const char* version) {
        RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                        nullptr);
        char old[32] = "";
        DWORD size = sizeof old - 1;
        had_ = RegQueryValueExA(key_, "Version", nullptr, nullptr, reinterpret_cast<BYTE*>(old),
                                &size) == ERROR_SUCCESS;
        old_ = old;
        RegSetValueExA(key_, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                       static_cast<DWORD>(strlen(version) + 1));
    }
    ~ReportedWindowsVersion() {
        if (had_)
            RegSetValueExA(key_, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(old_.c_str()),
                           static_cast<DWORD>(old_.size() + 1));
        else
            RegDeleteValueA(key_, "Version");
        RegCloseKey(key_);
    }
    ReportedWindowsVersion(const ReportedWindowsVersion&) = delete;
    ReportedWindowsVersion& operator=(const ReportedWindowsVersion&) = delete;

  private:
    static constexpr const char* kKey = "Software\\Wine\\AppDefaults\\quorvex.exe";
    HKEY key_ = nullptr;
    bool had_ = false;
    std::string old_;
};

// Starts the lone copy, expects one message box with `text` and `icon`,
// answers it and expects the program to end with exit code 0.
void ExpectEndsWithMessage(const char* text, UINT icon, bool owned) {
    LoneProgramCopy lone;
    ASSERT_TRUE(lone.copied());
    ChildProgram program(lone.path());
    ASSERT_TRUE(program.started());
    HWND box = program.WaitForWindow(IsMessageBox);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(Text(GetDlgItem(box, 0xFFFF)), text);
    EXPECT_EQ(Text(box), "Quorvex Diagnostics status:");
    EXPECT_EQ(GetWindow(box, GW_OWNER) != nullptr, owned);
    // A stop icon is the only static with an icon besides the text.
    bool hasIcon = false;
    for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT))
        if ((GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(c))
            hasIcon = true;
    EXPECT_EQ(hasIcon, icon != 0);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(program.WaitForExit(), 0u);
}

TEST(Program, Win32sIsRefused) {
    qvx::test::InstalledHelpPath help;
    ReportedWindowsVersion win31("win31");
    ExpectEndsWithMessage("This program requires Windows 95 or Windows NT 4.00.\t\n\nFound:  "
                          "WIN32s.\nQuorvex Diagnostics must exit.",
                          MB_ICONHAND, false);
}

TEST(Program, Windows95WithoutAspiLibraryEnds) {
    if (SystemHasAspiLibrary())
        GTEST_SKIP() << "a wnaspi32.dll was installed in the system folder";
    qvx::test::InstalledHelpPath help;
    ReportedWindowsVersion win95("win95");
    ExpectEndsWithMessage("An unknown error occured during the initialization\n of the "
                          "WNASPI32.DLL !\n Quorvex Diagnostics must exit.",
                          MB_ICONHAND, true);
}

} // namespace
