#include "program.h"

#include <gtest/gtest.h>
#include <commctrl.h>

#include <cstring>
#include <fstream>

#include "inventory/inventory.h"
#include "shell/helpabout.h"
#include "shell/mainwindow.h"
#include "shell/startup.h"
#include "shell/toolentry.h"

namespace qvx::test {
namespace {

std::function<void()> g_body;
bool g_bodyRan = false;
bool g_gaveUp = false; // the deadline passed before the window came up
bool g_closeWhenUp = true;
DWORD g_deadline = 0;

void CALLBACK Tick(HWND, UINT, UINT_PTR timer, DWORD) {
    if (g_bodyRan || g_gaveUp)
        return;
    if (GetTickCount() > g_deadline) {
        ADD_FAILURE() << "the main window never came up";
        g_gaveUp = true;
        KillTimer(nullptr, timer);
        if (MainWindow != nullptr)
            PostMessageA(MainWindow, WM_CLOSE, 0, 0);
        else
            PostQuitMessage(0);
        return;
    }
    if (MainWindow == nullptr || !IsWindowVisible(MainWindow) || BusyState != 0)
        return;
    g_bodyRan = true;
    KillTimer(nullptr, timer);
    g_body();
    if (g_closeWhenUp && MainWindow != nullptr)
        PostMessageA(MainWindow, WM_CLOSE, 0, 0);
}

} // namespace

void SelectMachine(const std::string& path) {
    static HMODULE library = LoadLibraryA("wnaspi32.dll");
    ASSERT_NE(library, nullptr);
    using LoadMachineFn = BOOL(__cdecl*)(const char*);
    auto load = reinterpret_cast<LoadMachineFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "QvxEmuLoadMachine")));
    ASSERT_NE(load, nullptr) << "the emulated library is not the one loaded";
    ASSERT_TRUE(load(path.c_str())) << path;
}

int RunProgram(const std::function<void()>& body, ProgramOptions options) {
    g_body = body;
    g_bodyRan = false;
    g_gaveUp = false;
    g_closeWhenUp = options.closeWhenUp;
    g_deadline = GetTickCount() + options.timeoutMs;
    UINT_PTR timer = SetTimer(nullptr, 0, 20, Tick);
    void (*gather)(void) = ToolEntries.CollectFeatures;
    if (!options.gatherFeatures)
        ToolEntries.CollectFeatures = [] {};
    int code = QuorvexMain(GetModuleHandleA(nullptr), SW_SHOWNORMAL);
    ToolEntries.CollectFeatures = gather;
    KillTimer(nullptr, timer);
    UnregisterClassA(MAIN_WINDOW_CLASS, GetModuleHandleA(nullptr));
    g_body = nullptr;
    return code;
}

bool ProgramBodyRan() {
    return g_bodyRan;
}

InstalledHelpPath::InstalledHelpPath(const char* helpPath) {
    std::string path = std::string(APP_PATHS_KEY) + APP_PATH_ENTRY;
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
    HKEY key;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (helpPath != nullptr)
        RegSetValueExA(key, "HelpPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(helpPath),
                       static_cast<DWORD>(strlen(helpPath) + 1));
    RegCloseKey(key);
}

InstalledHelpPath::~InstalledHelpPath() {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(APP_PATHS_KEY) + APP_PATH_ENTRY).c_str());
}

LoneProgram::LoneProgram(const char* version) {
    RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\quorvex.exe", 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, &versionKey_, nullptr);
    RegSetValueExA(versionKey_, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                   DWORD(strlen(version) + 1));
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string program(path);
    program = program.substr(0, program.find_last_of("\\/") + 1) + "quorvex.exe";
    GetTempPathA(sizeof path, path);
    copy_ = std::string(path) + "quorvex.exe";
    EXPECT_TRUE(CopyFileA(program.c_str(), copy_.c_str(), FALSE)) << program;
    std::string command = "\"" + copy_ + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    EXPECT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &info_))
        << command << " error " << GetLastError();
}

LoneProgram::~LoneProgram() {
    TerminateProcess(info_.hProcess, 99); // when it still runs
    WaitForSingleObject(info_.hProcess, 5000);
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
    RegDeleteValueA(versionKey_, "Version");
    RegCloseKey(versionKey_);
    DeleteFileA(copy_.c_str());
}

HWND LoneProgram::WaitForWindow(const char* cls) const {
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

DWORD LoneProgram::WaitForExit() const {
    DWORD code = STILL_ACTIVE;
    WaitForSingleObject(info_.hProcess, 30000);
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

bool LoneProgram::SystemHasAspiLibrary() {
    char dir[MAX_PATH];
    GetSystemDirectoryA(dir, sizeof dir);
    std::ifstream file(std::string(dir) + "\\wnaspi32.dll", std::ios::binary);
    std::string head(4096, '\0');
    file.read(head.data(), std::streamsize(head.size()));
    return file.gcount() > 0 && head.find("Wine builtin DLL") == std::string::npos &&
           head.find("Wine placeholder DLL") == std::string::npos;
}

void ForgetWindowPosition() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, WINDOW_POS_VALUE);
        RegCloseKey(key);
    }
}

void Command(int id) {
    SendMessageA(MainWindow, WM_COMMAND, id, 0);
}

void SelectAdapter(int index) {
    TreeView_SelectItem(TreeView,
                        index < 0 ? TreeView_GetRoot(TreeView) : HostAdapterTable[index].TreeItem);
}

int ListRowOf(const std::string& label) {
    for (int row = 0; row < ListView_GetItemCount(ListView); row++) {
        char text[64] = "";
        ListView_GetItemText(ListView, row, 0, text, sizeof text);
        if (label == text)
            return row;
    }
    return -1;
}

void ChooseRow(int row) {
    const UINT state = LVIS_SELECTED | LVIS_FOCUSED;
    ListView_SetItemState(ListView, -1, 0, state);
    if (row >= 0)
        ListView_SetItemState(ListView, row, state, state);
}

std::string WindowText(HWND window) {
    char text[1024] = "";
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_BLOCK,
                        5000, nullptr);
    return text;
}

std::vector<std::string> TreeAdapterLabels() {
    std::vector<std::string> labels;
    for (HTREEITEM item = TreeView_GetChild(TreeView, TreeView_GetRoot(TreeView)); item != nullptr;
         item = TreeView_GetNextSibling(TreeView, item)) {
        char text[128] = "";
        TVITEMA tv = {};
        tv.mask = TVIF_TEXT;
        tv.hItem = item;
        tv.pszText = text;
        tv.cchTextMax = sizeof text;
        TreeView_GetItem(TreeView, &tv);
        labels.push_back(text);
    }
    return labels;
}

} // namespace qvx::test
