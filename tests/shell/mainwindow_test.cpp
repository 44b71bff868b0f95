// The program in-process on emulated machines: start-up, the main window's
// commands, the wide-bus setting, the re-scan and the stored position.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include "inventory/inventory.h"
#include "inventory/scanmessages.h"
#include "resource.h"
#include "shell/helpabout.h"
#include "shell/mainwindow.h"
#include "shell/splash.h"
#include "shell/toolentry.h"
#include "support/msgrecorder.h"
#include "support/uiscript.h"
#include "program.h"

namespace {

using qvx::test::InstalledHelpPath;
using qvx::test::MsgBox;
using qvx::test::RunProgram;
using qvx::test::SelectMachine;
using qvx::test::ShellMachine;
using qvx::test::UiScript;

std::string StatusText(int part) {
    char text[256] = "";
    SendMessageA(StatusBar, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(text));
    return text;
}

std::string WindowTitle() {
    char text[256] = "";
    GetWindowTextA(MainWindow, text, sizeof text);
    return text;
}

std::vector<std::string> TreeAdapterLabels() {
    std::vector<std::string> labels;
    HTREEITEM root = TreeView_GetRoot(TreeView);
    for (HTREEITEM item = TreeView_GetChild(TreeView, root); item != nullptr;
         item = TreeView_GetNextSibling(TreeView, item)) {
        char text[128] = "";
        TVITEMA tv = {};
        tv.mask = TVIF_TEXT;
        tv.hItem = item;
        tv.pszText = text;
        tv.cchTextMax = sizeof text;
        SendMessageA(TreeView, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
        labels.push_back(text);
    }
    return labels;
}

int ListRowOf(const std::string& label) {
    int count = ListView_GetItemCount(ListView);
    for (int row = 0; row < count; row++) {
        char text[64] = "";
        ListView_GetItemText(ListView, row, 0, text, sizeof text);
        if (label == text)
            return row;
    }
    return -1;
}

void ChooseRow(int row) {
    ListView_SetItemState(ListView, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    if (row >= 0)
        ListView_SetItemState(ListView, row, LVIS_SELECTED | LVIS_FOCUSED,
                              LVIS_SELECTED | LVIS_FOCUSED);
}

void SelectAdapter(int index) {
    TreeView_SelectItem(TreeView,
                        index < 0 ? TreeView_GetRoot(TreeView) : HostAdapterTable[index].TreeItem);
}

void Command(int id) {
    SendMessageA(MainWindow, WM_COMMAND, id, 0);
}

bool WideBusItemChecked() {
    return (GetMenuState(MainMenu, IDM_WIDE_BUS, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

// Records what the tool entries were asked to open.
struct ToolCalls {
    std::vector<std::string> calls;
    ToolEntryTable saved = ToolEntries;
    static ToolCalls* current;

    ToolCalls() {
        current = this;
        ToolEntries.DeviceProperties = [](HWND, int slot) { return Log("properties", slot), 0; };
        ToolEntries.DiagnosticTests = [](HWND, int slot) { return Log("diagnostics", slot), 0; };
        ToolEntries.PerformanceTests = [](HWND, int slot) { return Log("performance", slot), 0; };
        ToolEntries.AdapterInfo = [](HWND, int index) { return Log("adapter", index), 0; };
        ToolEntries.SystemInfo = [](HWND) { return Log("system", 0), 0; };
    }
    ~ToolCalls() {
        ToolEntries = saved;
        current = nullptr;
    }
    static void Log(const char* what, int value) {
        current->calls.push_back(std::string(what) + " " + std::to_string(value));
    }
    std::vector<std::string> Take() {
        std::vector<std::string> taken;
        taken.swap(calls);
        return taken;
    }
};
ToolCalls* ToolCalls::current = nullptr;

using Calls = std::vector<std::string>;

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SelectMachine(ShellMachine("two_adapters.ini"));
    }
    InstalledHelpPath help_;
};

TEST_F(MainWindowTest, ComesUpWithTheFirstAdapterSelectedAndListed) {
    int code = RunProgram([] {
        EXPECT_FALSE(SplashIsUp());
        EXPECT_EQ(UseAspi, 1);
        EXPECT_EQ(AdapterCount, 2);
        EXPECT_EQ(SelectedAdapter, 0);
        EXPECT_EQ(HighestTargetId, 7);
        EXPECT_EQ(WindowTitle(), "Quorvex Diagnostics");
        EXPECT_EQ(TreeAdapterLabels(), (std::vector<std::string>{HostAdapterTable[0].Description,
                                                                 HostAdapterTable[1].Description}));
        EXPECT_EQ(TreeView_GetSelection(TreeView), HostAdapterTable[0].TreeItem);
        EXPECT_EQ(ListView_GetItemCount(ListView), 8) << "IDs 0-7 of the narrow adapter";
        EXPECT_GE(ListRowOf("SCSI ID 3"), 0);
        EXPECT_GE(HostAdapterTable[0].DeviceCount, 2); // disk and CD-ROM at least
        EXPECT_EQ(StatusText(0),
                  std::string("Currently selected:  ") + HostAdapterTable[0].Description);
        EXPECT_EQ(StatusText(1), "Number of devices connected:  " +
                                     std::to_string(HostAdapterTable[0].DeviceCount));

        // The diagnostic tests item sits in front of the performance tests.
        char text[64] = "";
        int count = GetMenuItemCount(DeviceMenu), diagnostics = -1, performance = -1;
        for (int i = 0; i < count; i++) {
            if (GetMenuItemID(DeviceMenu, i) == IDM_DIAGNOSTIC_TESTS)
                diagnostics = i;
            if (GetMenuItemID(DeviceMenu, i) == IDM_PERFORMANCE_TESTS)
                performance = i;
        }
        EXPECT_EQ(diagnostics + 1, performance);
        GetMenuStringA(DeviceMenu, IDM_DIAGNOSTIC_TESTS, text, sizeof text, MF_BYCOMMAND);
        EXPECT_STREQ(text, "Device Diagnostic &Tests...");

        // Toolbar: 7 buttons and 2 separators; save stays greyed until a listing exists.
        EXPECT_EQ(SendMessageA(ToolBar, TB_BUTTONCOUNT, 0, 0), 9);
        EXPECT_TRUE(SendMessageA(ToolBar, TB_ISBUTTONINDETERMINATE, IDM_FILE_SAVE, 0));
        EXPECT_FALSE(SendMessageA(ToolBar, TB_ISBUTTONINDETERMINATE, IDM_FILE_OPEN, 0));
        EXPECT_TRUE(GetMenuState(MainMenu, IDM_FILE_SAVE, MF_BYCOMMAND) & MF_GRAYED);
        NMTTDISPINFOA tip = {};
        tip.hdr.hwndFrom = ToolBar;
        tip.hdr.idFrom = IDM_RESCAN;
        tip.hdr.code = TTN_NEEDTEXTA;
        SendMessageA(MainWindow, WM_NOTIFY, IDM_RESCAN, reinterpret_cast<LPARAM>(&tip));
        ASSERT_NE(tip.lpszText, nullptr);
        EXPECT_STREQ(tip.lpszText, "Re-scan the SCSI Bus");
    });
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(qvx::test::ProgramBodyRan());
    EXPECT_EQ(FindWindowA(nullptr, "Quorvex Diagnostics"), nullptr) << "closed and gone";
    EXPECT_EQ(LargeImageList, nullptr);
    EXPECT_EQ(SmallImageList, nullptr);
    EXPECT_EQ(TreeImageList, nullptr);
    for (const DeviceRecord& slot : DeviceTable)
        EXPECT_EQ(slot.TypeBitmap, nullptr) << "every picture released";
}

RECT ChildRect(HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, MainWindow, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

TEST_F(MainWindowTest, ResizingLaysTheTwoPanesSideBySide) {
    RunProgram([] {
        MoveWindow(MainWindow, 10, 10, 613, 421, TRUE);
        RECT client;
        GetClientRect(MainWindow, &client);
        RECT tree = ChildRect(TreeView), list = ChildRect(ListView);
        EXPECT_EQ(tree.left, 0);
        EXPECT_EQ(tree.top, 30);
        EXPECT_EQ(tree.right, client.right / 4);
        EXPECT_EQ(tree.bottom, 30 + client.bottom - 50);
        EXPECT_EQ(list.left, client.right / 4);
        EXPECT_EQ(list.right, client.right);
        EXPECT_EQ(list.bottom, tree.bottom);
    });
}

TEST_F(MainWindowTest, RescanOverTheNtPortsLeavesTheCursorAlone) {
    RunProgram([] {
        UseAspi = 0; // as on NT without the ASPI library
        UiScript ui;
        ui.expect(MsgBox().text("Re-scan the SCSI bus ?")).press(IDOK);
        Command(IDM_RESCAN);
        ui.verify();
        EXPECT_EQ(BusyState, 0);
        EXPECT_EQ(ScanComplete, 1);
        EXPECT_EQ(AdapterCount, 0) << "no port scan in this build finds an adapter";
        EXPECT_TRUE(TreeAdapterLabels().empty());
        qvx::test::PumpPending();
        EXPECT_EQ(BusyState, 0);
        for (int slot : {0, 17, 63})
            EXPECT_EQ(DeviceTable[slot].AdapterNumber, NO_ADAPTER_NUMBER);
    });
}

TEST_F(MainWindowTest, WideBusItemFollowsSelectionsAndToggles) {
    RunProgram([] {
        EXPECT_FALSE(WideBusItemChecked());
        EXPECT_EQ(WideBusSetting, WIDE_BUS_NEVER_SET);

        SelectAdapter(1); // first wide adapter after a scan checks the item
        EXPECT_TRUE(WideBusItemChecked());
        EXPECT_EQ(WideBusSetting, WIDE_BUS_CHECKED);
        EXPECT_EQ(HighestTargetId, 15);
        EXPECT_EQ(ListView_GetItemCount(ListView), 16);
        EXPECT_GE(ListRowOf("SCSI ID 10"), 0);

        Command(IDM_WIDE_BUS); // the user unchecks it
        EXPECT_FALSE(WideBusItemChecked());
        EXPECT_EQ(WideBusSetting, WIDE_BUS_UNCHECKED);
        EXPECT_EQ(HighestTargetId, 7);
        EXPECT_EQ(ListView_GetItemCount(ListView), 8);

        SelectAdapter(0);
        SelectAdapter(1); // stays unchecked: the user's choice
        EXPECT_FALSE(WideBusItemChecked());
        EXPECT_EQ(HighestTargetId, 7);

        Command(IDM_WIDE_BUS);
        EXPECT_TRUE(WideBusItemChecked());
        EXPECT_EQ(HighestTargetId, 15);
        SelectAdapter(0); // a narrow adapter unchecks, keeping the setting
        EXPECT_FALSE(WideBusItemChecked());
        EXPECT_EQ(WideBusSetting, WIDE_BUS_CHECKED);
        EXPECT_EQ(HighestTargetId, 7);
        Command(IDM_WIDE_BUS); // no toggling on a narrow adapter
        EXPECT_FALSE(WideBusItemChecked());
        EXPECT_EQ(HighestTargetId, 7);
        SelectAdapter(1); // checked again, as the user had it
        EXPECT_TRUE(WideBusItemChecked());
        EXPECT_EQ(HighestTargetId, 15);

        SelectAdapter(-1); // the root counts as not narrow and lists nothing
        EXPECT_EQ(SelectedAdapter, -1);
        EXPECT_TRUE(WideBusItemChecked());
        EXPECT_EQ(HighestTargetId, 15);
        EXPECT_EQ(ListView_GetItemCount(ListView), 0);
        EXPECT_EQ(StatusText(0), "Currently selected:  None");
        EXPECT_EQ(StatusText(1), "Number of devices connected:  0");
    });
}

// The tables without the handles a re-scan makes anew.
struct Snapshot {
    std::vector<HostAdapterRecord> adapters;
    std::vector<DeviceRecord> devices;
    static Snapshot Take() {
        Snapshot s{{HostAdapterTable, HostAdapterTable + MAX_ADAPTERS},
                   {DeviceTable, DeviceTable + MAX_DEVICE_SLOTS}};
        for (auto& a : s.adapters)
            a.TreeItem = nullptr;
        for (auto& d : s.devices)
            d.TypeBitmap = d.TypeBitmap != nullptr ? reinterpret_cast<HBITMAP>(1) : nullptr;
        return s;
    }
    bool operator==(const Snapshot& o) const {
        return memcmp(adapters.data(), o.adapters.data(),
                      sizeof(HostAdapterRecord) * MAX_ADAPTERS) == 0 &&
               memcmp(devices.data(), o.devices.data(), sizeof(DeviceRecord) * MAX_DEVICE_SLOTS) ==
                   0;
    }
};

TEST_F(MainWindowTest, CancellingTheRescanChangesNothing) {
    RunProgram([] {
        SelectAdapter(1);
        std::vector<HostAdapterRecord> before(HostAdapterTable, HostAdapterTable + MAX_ADAPTERS);
        std::vector<DeviceRecord> devices(DeviceTable, DeviceTable + MAX_DEVICE_SLOTS);
        int rows = ListView_GetItemCount(ListView);
        UiScript ui;
        ui.expect(MsgBox().caption("Quorvex Diagnostics status:").text("Re-scan the SCSI bus ?"))
            .press(IDCANCEL);
        Command(IDM_RESCAN);
        ui.verify();
        ASSERT_EQ(ui.seen().size(), 1u);
        EXPECT_EQ(ui.seen()[0].icon, static_cast<UINT>(MB_ICONQUESTION));
        EXPECT_TRUE(ui.seen()[0].hasButton(IDOK) && ui.seen()[0].hasButton(IDCANCEL));
        EXPECT_EQ(memcmp(before.data(), HostAdapterTable, sizeof HostAdapterTable), 0);
        EXPECT_EQ(memcmp(devices.data(), DeviceTable, sizeof DeviceTable), 0);
        EXPECT_EQ(SelectedAdapter, 1);
        EXPECT_EQ(ListView_GetItemCount(ListView), rows);
    });
}

TEST_F(MainWindowTest, RescanRebuildsBothTablesAndViews) {
    RunProgram([] {
        Snapshot before = Snapshot::Take();
        SelectAdapter(1);
        SetWindowTextA(MainWindow, "Quorvex Diagnostics - [old.txt]");
        UiScript ui;
        ui.expect(MsgBox().text("Re-scan the SCSI bus ?")).press(IDOK);
        qvx::test::MessageRecorder rec(
            MainWindow, qvx::test::MessageFilter::Only({WM_SCAN_START, WM_SCAN_COMPLETE}));
        Command(IDM_RESCAN);
        ui.verify();
        EXPECT_EQ(BusyState, BUSY_RESCAN) << "busy until the completion message";
        qvx::test::PumpPending();
        EXPECT_TRUE(rec.Matches({{WM_SCAN_START, qvx::test::Delivery::Sent},
                                 {WM_SCAN_COMPLETE, qvx::test::Delivery::Posted}}));
        EXPECT_EQ(BusyState, 0);
        EXPECT_EQ(ScanComplete, 1);
        EXPECT_TRUE(Snapshot::Take() == before) << "the same machine gives the same tables";
        EXPECT_EQ(AdapterCount, 2);
        EXPECT_EQ(TreeAdapterLabels().size(), 2u);
        EXPECT_EQ(SelectedAdapter, 0);
        EXPECT_EQ(ListView_GetItemCount(ListView), 8);
        EXPECT_EQ(WindowTitle(), "Quorvex Diagnostics");
    });
}

TEST_F(MainWindowTest, AFailedRescanQueryOffersRetry) {
    RunProgram([] {
        SelectMachine(ShellMachine("aspi_not_available.ini"));
        UiScript ui;
        ui.expect(MsgBox().text("Re-scan the SCSI bus ?")).press(IDOK);
        ui.expect(MsgBox().text("Error:  Re-scanning the SCSI bus failed !")).press(IDRETRY);
        ui.expect(MsgBox().text("Re-scan the SCSI bus ?")).press(IDCANCEL);
        Command(IDM_RESCAN);
        qvx::test::PumpPending(); // Retry posted the command again
        ui.verify();
        ASSERT_EQ(ui.seen().size(), 3u);
        EXPECT_EQ(ui.seen()[1].icon, static_cast<UINT>(MB_ICONHAND));
        EXPECT_TRUE(ui.seen()[1].hasButton(IDRETRY) && ui.seen()[1].hasButton(IDCANCEL));
        EXPECT_EQ(AdapterCount, 0) << "the tables were cleared before the query";
        EXPECT_EQ(ListView_GetItemCount(ListView), 0);
    });
}

TEST_F(MainWindowTest, DeviceCommandsOpenTheirToolForTheChosenRow) {
    RunProgram([] {
        ToolCalls tools;
        ChooseRow(-1);
        Command(IDM_DEVICE_PROPERTIES);
        Command(IDM_DIAGNOSTIC_TESTS);
        Command(IDM_PERFORMANCE_TESTS);
        EXPECT_EQ(tools.Take(), Calls{}) << "no row chosen: nothing opens";

        ChooseRow(ListRowOf("SCSI ID 3"));
        Command(IDM_DEVICE_PROPERTIES);
        Command(IDM_DIAGNOSTIC_TESTS);
        Command(IDM_PERFORMANCE_TESTS);
        EXPECT_EQ(tools.Take(), (Calls{"properties 3", "diagnostics 3", "performance 3"}));

        ChooseRow(ListRowOf("SCSI ID 7")); // the adapter's own row
        Command(IDM_DEVICE_PROPERTIES);
        EXPECT_EQ(tools.Take(), Calls{"adapter 0"});

        SelectAdapter(1);
        ChooseRow(ListRowOf("SCSI ID 2"));
        NMHDR dbl = {ListView, IDC_DEVICE_LIST, static_cast<UINT>(NM_DBLCLK)};
        SendMessageA(MainWindow, WM_NOTIFY, IDC_DEVICE_LIST, reinterpret_cast<LPARAM>(&dbl));
        EXPECT_EQ(tools.Take(), Calls{"properties 18"});
        Command(IDM_ADAPTER_PROPERTIES);
        EXPECT_EQ(tools.Take(), Calls{"adapter 1"});

        SelectAdapter(-1);
        Command(IDM_ADAPTER_PROPERTIES);
        Command(IDM_SYSTEM_INFO);
        EXPECT_EQ(tools.Take(), Calls{"system 0"}) << "the root is no adapter";
    });
}

TEST_F(MainWindowTest, AListingOpenedOrSavedEnablesSaveAndNamesTheWindow) {
    RunProgram([] {
        ToolEntryTable saved = ToolEntries;
        static int result = 0;
        ToolEntries.OpenListing = [](HWND) { return result; };
        ToolEntries.SaveListingAs = [](HWND) { return result; };
        ToolEntries.ListingTitle = [] { return "adapters.txt"; };

        result = 0; // cancelled: nothing changes
        Command(IDM_FILE_OPEN);
        EXPECT_EQ(WindowTitle(), "Quorvex Diagnostics");
        EXPECT_TRUE(GetMenuState(MainMenu, IDM_FILE_SAVE, MF_BYCOMMAND) & MF_GRAYED);
        EXPECT_TRUE(SendMessageA(ToolBar, TB_ISBUTTONINDETERMINATE, IDM_FILE_SAVE, 0));

        result = 1;
        Command(IDM_FILE_SAVE_AS);
        EXPECT_EQ(WindowTitle(), "Quorvex Diagnostics - [adapters.txt]");
        EXPECT_FALSE(GetMenuState(MainMenu, IDM_FILE_SAVE, MF_BYCOMMAND) & MF_GRAYED);
        EXPECT_FALSE(SendMessageA(ToolBar, TB_ISBUTTONINDETERMINATE, IDM_FILE_SAVE, 0));
        EXPECT_TRUE(SendMessageA(ToolBar, TB_ISBUTTONENABLED, IDM_FILE_SAVE, 0));
        ToolEntries = saved;
    });
}

TEST_F(MainWindowTest, ViewCommandsChangeTheListKeepingTheChosenRow) {
    RunProgram([] {
        auto mode = [] { return GetWindowLongA(ListView, GWL_STYLE) & LVS_TYPEMASK; };
        int row = ListRowOf("SCSI ID 3");
        ChooseRow(row);
        Command(IDM_VIEW_SMALL_ICONS);
        EXPECT_EQ(mode(), LVS_SMALLICON);
        EXPECT_EQ(ListView_GetNextItem(ListView, -1, LVNI_SELECTED | LVNI_FOCUSED), row);
        Command(IDM_VIEW_DETAILS);
        EXPECT_EQ(mode(), LVS_REPORT);
        Command(IDM_VIEW_LIST);
        EXPECT_EQ(mode(), LVS_LIST);
        Command(IDM_VIEW_LARGE_ICONS);
        EXPECT_EQ(mode(), LVS_ICON);
        EXPECT_EQ(ListView_GetNextItem(ListView, -1, LVNI_SELECTED | LVNI_FOCUSED), row);
    });
}

// The context menus: which one opens over which pane.
UINT g_popupFirstItem = 0;
WNDPROC g_mainProc = nullptr;

LRESULT CALLBACK WatchPopup(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITMENUPOPUP) {
        g_popupFirstItem = GetMenuItemID(reinterpret_cast<HMENU>(wp), 0);
        PostMessageA(w, WM_CANCELMODE, 0, 0);
    }
    return CallWindowProcA(g_mainProc, w, msg, wp, lp);
}

UINT ContextMenuOver(HWND pane) {
    g_popupFirstItem = 0;
    RECT r;
    GetWindowRect(pane, &r);
    SendMessageA(MainWindow, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(pane),
                 MAKELPARAM(r.left + 10, r.top + 10));
    return g_popupFirstItem;
}

TEST_F(MainWindowTest, ContextMenusOpenOverTheirPanesOnly) {
    RunProgram([] {
        g_mainProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(MainWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatchPopup)));
        EXPECT_EQ(ContextMenuOver(ListView), static_cast<UINT>(IDM_DEVICE_PROPERTIES));
        EXPECT_EQ(ContextMenuOver(TreeView), static_cast<UINT>(IDM_ADAPTER_PROPERTIES));
        EXPECT_EQ(ContextMenuOver(StatusBar), 0u);
        SetWindowLongPtrA(MainWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_mainProc));
    });
}

struct HelpCall {
    HWND window;
    std::string file;
    UINT command;
};
std::vector<HelpCall> g_helpCalls;

BOOL WINAPI RecordHelp(HWND window, LPCSTR file, UINT command, ULONG_PTR) {
    g_helpCalls.push_back({window, file, command});
    return TRUE;
}

TEST_F(MainWindowTest, HelpOpensTheContentsOfTheInstalledGuide) {
    g_helpCalls.clear();
    HelpViewerProc saved = HelpViewer;
    HelpViewer = RecordHelp;
    HWND window = nullptr;
    RunProgram([&] {
        window = MainWindow;
        Command(IDM_HELP_CONTENTS);
    });
    HelpViewer = saved;
    ASSERT_EQ(g_helpCalls.size(), 1u);
    EXPECT_EQ(g_helpCalls[0].window, window);
    EXPECT_EQ(g_helpCalls[0].file, "C:\\Quorvex\\KDX.hlp");
    EXPECT_EQ(g_helpCalls[0].command, static_cast<UINT>(HELP_CONTENTS));
}

TEST_F(MainWindowTest, F6AndTabMoveTheFocusBetweenTreeAndList) {
    RunProgram([] {
        HACCEL keys =
            LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDA_MAIN_ACCELERATORS));
        ASSERT_NE(keys, nullptr);
        ChooseRow(-1);
        SetFocus(TreeView);
        MSG f6 = {TreeView, WM_KEYDOWN, VK_F6, 0, 0, {0, 0}};
        EXPECT_TRUE(TranslateAcceleratorA(MainWindow, keys, &f6));
        EXPECT_EQ(GetFocus(), ListView);
        EXPECT_EQ(ListView_GetNextItem(ListView, -1, LVNI_SELECTED | LVNI_FOCUSED), 0)
            << "row 0 is chosen when none was";
        MSG tab = {ListView, WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
        EXPECT_TRUE(TranslateAcceleratorA(MainWindow, keys, &tab));
        EXPECT_EQ(GetFocus(), TreeView);
    });
}

} // namespace
