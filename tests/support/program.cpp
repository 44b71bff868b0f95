#include "program.h"

#include <gtest/gtest.h>
#include <commctrl.h>

#include <cstring>

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
