// The program in-process on an emulated machine with a narrow and a wide
// adapter: the main window's frame, its commands, the wide-bus setting and
// the re-scan.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "inventory/inventory.h"
#include "inventory/scanmessages.h"
#include "resource.h"
#include "shell/helpabout.h"
#include "shell/mainwindow.h"
#include "shell/splash.h"
#include "shell/toolentry.h"
#include "support/msgrecorder.h"
#include "support/program.h"
#include "support/uiscript.h"

namespace {

using namespace qvx::test;
using Strings = std::vector<std::string>;
using Longs = std::vector<LONG>;

// A pane's rectangle in the main window's client area.
Longs PaneRect(HWND pane) {
    RECT r;
    GetWindowRect(pane, &r);
    MapWindowPoints(nullptr, MainWindow, reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right, r.bottom};
}

bool Grayed(int id) {
    return (GetMenuState(MainMenu, id, MF_BYCOMMAND) & MF_GRAYED) != 0;
}

std::string ToolTip(int command) {
    NMTTDISPINFOA tip = {};
    tip.hdr = {ToolBar, static_cast<UINT_PTR>(command), static_cast<UINT>(TTN_NEEDTEXTA)};
    SendMessageA(MainWindow, WM_NOTIFY, command, reinterpret_cast<LPARAM>(&tip));
    return tip.lpszText != nullptr ? tip.lpszText : "";
}

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SelectMachine(QVX_SHELL_MACHINES "/two_adapters.ini");
    }
    InstalledHelpPath help_;
};

// What a scan shows in the tree, list and status bar is checked end to end.
TEST_F(MainWindowTest, ComesUpWithItsMenuBarsAndPanes) {
    int code = RunProgram([] {
        EXPECT_FALSE(SplashIsUp());
        RECT client;
        GetClientRect(MainWindow, &client);
        int parts[3] = {};
        EXPECT_EQ(SendMessageA(StatusBar, SB_GETPARTS, 3, reinterpret_cast<LPARAM>(parts)), 2);
        EXPECT_EQ(parts[0], client.right / 2) << "the first part ends half way";

        // With ASPI the diagnostic tests item comes in front of the performance tests.
        char text[64] = "";
        GetMenuStringA(DeviceMenu, 2, text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ(text, "Device Diagnostic &Tests...");
        EXPECT_EQ(GetMenuItemID(DeviceMenu, 2), static_cast<UINT>(IDM_DIAGNOSTIC_TESTS));
        EXPECT_EQ(GetMenuItemID(DeviceMenu, 3), static_cast<UINT>(IDM_PERFORMANCE_TESTS));
        EXPECT_TRUE(Grayed(IDM_FILE_SAVE)) << "until a listing exists";

        // The toolbar button by button: command, picture (the four view
        // pictures counted from where the toolbar put them, after the 11
        // standard ones), state (4 enabled, 16 greyed) and tip.
        const char* const buttons[] = {"0 0 0 ",
                                       "40003 12 4 Re-scan the SCSI Bus",
                                       "101 7 4 Opens an existing listing",
                                       "102 8 16 Saves the current listings",
                                       "0 0 0 ",
                                       "120 0 4 Large icon view",
                                       "121 1 4 Small icon view",
                                       "122 2 4 List view",
                                       "123 3 4 Details view"};
        ASSERT_EQ(SendMessageA(ToolBar, TB_BUTTONCOUNT, 0, 0), LRESULT(std::size(buttons)));
        TBBUTTON first = {};
        SendMessageA(ToolBar, TB_GETBUTTON, 5, reinterpret_cast<LPARAM>(&first));
        EXPECT_GE(first.iBitmap, 11);
        for (int i = 0; i < int(std::size(buttons)); i++) {
            TBBUTTON b = {};
            SendMessageA(ToolBar, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&b));
            bool separator = b.fsStyle & TBSTYLE_SEP;
            EXPECT_EQ(std::to_string(b.idCommand) + " " +
                          std::to_string(separator ? 0 : b.iBitmap - (i < 5 ? 0 : first.iBitmap)) +
                          " " +
                          std::to_string(b.fsState & (TBSTATE_ENABLED | TBSTATE_INDETERMINATE)) +
                          " " + (separator ? "" : ToolTip(b.idCommand)),
                      buttons[i]);
        }

        // The tree takes a quarter of the width between the bars, the list the rest.
        MoveWindow(MainWindow, 10, 10, 613, 421, TRUE);
        GetClientRect(MainWindow, &client);
        LONG split = client.right / 4, bottom = client.bottom - 20;
        EXPECT_EQ(PaneRect(TreeView), (Longs{0, 30, split, bottom}));
        EXPECT_EQ(PaneRect(ListView), (Longs{split, 30, client.right, bottom}));
    });
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(ProgramBodyRan());
    EXPECT_EQ(FindWindowA(nullptr, "Quorvex Diagnostics"), nullptr) << "closed and gone";
    EXPECT_TRUE(LargeImageList == nullptr && SmallImageList == nullptr && TreeImageList == nullptr);
    for (const DeviceRecord& slot : DeviceTable)
        EXPECT_EQ(slot.TypeBitmap, nullptr) << "every picture released";
}

TEST_F(MainWindowTest, WideBusItemFollowsSelectionsAndToggles) {
    RunProgram([] {
        EXPECT_EQ(WideBusSetting, WIDE_BUS_NEVER_SET);
        constexpr int kToggle = 100, kRoot = -1;
        const struct {
            int action; // an adapter to select, or kToggle
            int checked, setting, highest, rows;
        } steps[] = {
            {1, 1, WIDE_BUS_CHECKED, 15, 16},       // the first wide adapter checks it
            {kToggle, 0, WIDE_BUS_UNCHECKED, 7, 8}, // the user unchecks it
            {0, 0, WIDE_BUS_UNCHECKED, 7, 8},
            {1, 0, WIDE_BUS_UNCHECKED, 7, 8}, // stays unchecked: the user's choice
            {kToggle, 1, WIDE_BUS_CHECKED, 15, 16},
            {0, 0, WIDE_BUS_CHECKED, 7, 8},       // a narrow adapter unchecks, keeping it
            {kToggle, 0, WIDE_BUS_CHECKED, 7, 8}, // no toggling on a narrow adapter
            {1, 1, WIDE_BUS_CHECKED, 15, 16},     // checked again, as the user had it
            {kRoot, 1, WIDE_BUS_CHECKED, 15, 0},  // the root counts as not narrow
        };
        for (size_t i = 0; i < std::size(steps); i++) {
            const auto& s = steps[i];
            if (s.action == kToggle)
                Command(IDM_WIDE_BUS);
            else
                SelectAdapter(s.action);
            int checked = (GetMenuState(MainMenu, IDM_WIDE_BUS, MF_BYCOMMAND) & MF_CHECKED) != 0;
            EXPECT_EQ((std::vector<int>{checked, WideBusSetting, HighestTargetId,
                                        ListView_GetItemCount(ListView)}),
                      (std::vector<int>{s.checked, s.setting, s.highest, s.rows}))
                << "step " << i;
        }
    });
}

// Both tables as bytes; the handles a re-scan makes anew are blanked.
std::string Tables() {
    std::string bytes;
    for (HostAdapterRecord a : HostAdapterTable) {
        a.TreeItem = nullptr;
        bytes.append(reinterpret_cast<const char*>(&a), sizeof a);
    }
    for (DeviceRecord d : DeviceTable) {
        d.TypeBitmap = d.TypeBitmap != nullptr ? reinterpret_cast<HBITMAP>(1) : nullptr;
        bytes.append(reinterpret_cast<const char*>(&d), sizeof d);
    }
    return bytes;
}

TEST_F(MainWindowTest, RescanAsksThenRebuildsBothTablesOrOffersRetry) {
    RunProgram([] {
        SelectAdapter(1);
        std::string before = Tables();
        {
            UiScript ui;
            ui.expect(
                  MsgBox().caption("Quorvex Diagnostics status:").text("Re-scan the SCSI bus ?"))
                .press(IDCANCEL);
            Command(IDM_RESCAN);
            ui.verify();
            ASSERT_EQ(ui.seen().size(), 1u);
            EXPECT_EQ(ui.seen()[0].icon, static_cast<UINT>(MB_ICONQUESTION));
            EXPECT_TRUE(Tables() == before) << "cancelled: nothing changes";
        }
        SetWindowTextA(MainWindow, "Quorvex Diagnostics - [old.txt]");
        {
            UiScript rescan;
            rescan.expect(MsgBox().text("Re-scan the SCSI bus ?")).press(IDOK);
            MessageRecorder rec(MainWindow, MessageFilter::Only({WM_SCAN_START, WM_SCAN_COMPLETE}));
            Command(IDM_RESCAN);
            rescan.verify();
            EXPECT_EQ(BusyState, BUSY_RESCAN) << "busy until the completion message";
            PumpPending();
            EXPECT_TRUE(rec.Matches(
                {{WM_SCAN_START, Delivery::Sent}, {WM_SCAN_COMPLETE, Delivery::Posted}}));
            EXPECT_EQ(BusyState, 0);
            EXPECT_TRUE(Tables() == before) << "the same machine gives the same tables";
            EXPECT_EQ(WindowText(MainWindow), "Quorvex Diagnostics");
        }
        SelectMachine(QVX_SHELL_MACHINES "/aspi_not_available.ini");
        UiScript failed;
        failed.expect(MsgBox().text("Re-scan the SCSI bus ?")).press(IDOK);
        failed.expect(MsgBox().text("Error:  Re-scanning the SCSI bus failed !")).press(IDRETRY);
        failed.expect(MsgBox().text("Re-scan the SCSI bus ?")).press(IDCANCEL);
        Command(IDM_RESCAN);
        PumpPending(); // Retry posted the command again
        failed.verify();
        ASSERT_EQ(failed.seen().size(), 3u);
        EXPECT_EQ(failed.seen()[1].icon, static_cast<UINT>(MB_ICONHAND));
        EXPECT_TRUE(failed.seen()[1].hasButton(IDRETRY) && failed.seen()[1].hasButton(IDCANCEL));
        EXPECT_EQ(AdapterCount, 0) << "the tables were cleared before the query";
        EXPECT_EQ(ListView_GetItemCount(ListView), 0);
    });
}

// What the tool entries were asked to open, as "tool number".
Strings g_calls;

int Log(const char* tool, int number) {
    g_calls.push_back(tool + (" " + std::to_string(number)));
    return 0;
}

Strings TakeCalls() {
    return std::exchange(g_calls, {});
}

TEST_F(MainWindowTest, CommandsOpenTheirToolForTheChosenRowOrChangeTheView) {
    RunProgram([] {
        ToolEntryTable saved = ToolEntries;
        ToolEntries.DeviceProperties = [](HWND, int slot) { return Log("properties", slot); };
        ToolEntries.DiagnosticTests = [](HWND, int slot) { return Log("diagnostics", slot); };
        ToolEntries.PerformanceTests = [](HWND, int slot) { return Log("performance", slot); };
        ToolEntries.AdapterInfo = [](HWND, int index) { return Log("adapter", index); };
        ToolEntries.SystemInfo = [](HWND) { return Log("system", 0); };
        ToolEntries.OpenListing = [](HWND) { return 0; }; // cancelled
        ToolEntries.SaveListingAs = [](HWND) { return 1; };
        ToolEntries.ListingTitle = [] { return "adapters.txt"; };
        auto deviceCommands = [] {
            for (int id : {IDM_DEVICE_PROPERTIES, IDM_DIAGNOSTIC_TESTS, IDM_PERFORMANCE_TESTS})
                Command(id);
            return TakeCalls();
        };
        ChooseRow(-1);
        EXPECT_EQ(deviceCommands(), Strings{}) << "no row chosen: nothing opens";
        int row = ListRowOf("SCSI ID 3");
        ChooseRow(row);
        EXPECT_EQ(deviceCommands(), (Strings{"properties 3", "diagnostics 3", "performance 3"}));
        for (auto [command, style] : {std::pair{IDM_VIEW_SMALL_ICONS, LVS_SMALLICON},
                                      {IDM_VIEW_DETAILS, LVS_REPORT},
                                      {IDM_VIEW_LIST, LVS_LIST},
                                      {IDM_VIEW_LARGE_ICONS, LVS_ICON}}) {
            Command(command);
            EXPECT_EQ(GetWindowLongA(ListView, GWL_STYLE) & LVS_TYPEMASK, style) << command;
            EXPECT_EQ(ListView_GetNextItem(ListView, -1, LVNI_SELECTED | LVNI_FOCUSED), row)
                << "the chosen row is kept";
        }
        ChooseRow(ListRowOf("SCSI ID 7")); // the adapter's own row
        Command(IDM_DEVICE_PROPERTIES);
        EXPECT_EQ(TakeCalls(), Strings{"adapter 0"});

        SelectAdapter(1);
        ChooseRow(ListRowOf("SCSI ID 2"));
        NMHDR dbl = {ListView, IDC_DEVICE_LIST, static_cast<UINT>(NM_DBLCLK)};
        SendMessageA(MainWindow, WM_NOTIFY, IDC_DEVICE_LIST, reinterpret_cast<LPARAM>(&dbl));
        Command(IDM_ADAPTER_PROPERTIES);
        EXPECT_EQ(TakeCalls(), (Strings{"properties 18", "adapter 1"}));
        SelectAdapter(-1);
        Command(IDM_ADAPTER_PROPERTIES);
        Command(IDM_SYSTEM_INFO);
        EXPECT_EQ(TakeCalls(), Strings{"system 0"}) << "the root is no adapter";

        Command(IDM_FILE_OPEN); // a listing opened or saved names the window and enables save
        EXPECT_EQ(WindowText(MainWindow), "Quorvex Diagnostics");
        EXPECT_TRUE(Grayed(IDM_FILE_SAVE));
        Command(IDM_FILE_SAVE_AS);
        EXPECT_EQ(WindowText(MainWindow), "Quorvex Diagnostics - [adapters.txt]");
        EXPECT_FALSE(Grayed(IDM_FILE_SAVE));
        EXPECT_TRUE(SendMessageA(ToolBar, TB_ISBUTTONENABLED, IDM_FILE_SAVE, 0));
        EXPECT_FALSE(SendMessageA(ToolBar, TB_ISBUTTONINDETERMINATE, IDM_FILE_SAVE, 0));
        ToolEntries = saved;
    });
}

// Which context menu opens over which pane: its first item.
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

// The help calls, as "window file command;".
std::string g_helpCalls;

BOOL WINAPI RecordHelp(HWND window, LPCSTR file, UINT command, ULONG_PTR) {
    g_helpCalls += std::string(window == MainWindow ? "main " : "other ") + file + " " +
                   std::to_string(command) + ";";
    return TRUE;
}

TEST_F(MainWindowTest, ContextMenusAndHelp) {
    RunProgram([] {
        g_mainProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(MainWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatchPopup)));
        EXPECT_EQ(ContextMenuOver(ListView), static_cast<UINT>(IDM_DEVICE_PROPERTIES));
        EXPECT_EQ(ContextMenuOver(TreeView), static_cast<UINT>(IDM_ADAPTER_PROPERTIES));
        EXPECT_EQ(ContextMenuOver(StatusBar), 0u) << "no menu over other parts";
        SetWindowLongPtrA(MainWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_mainProc));

        HelpViewerProc saved = std::exchange(HelpViewer, RecordHelp);
        g_helpCalls.clear();
        Command(IDM_HELP_CONTENTS);
        HelpViewer = saved;
        EXPECT_EQ(g_helpCalls, "main C:\\Quorvex\\KDX.hlp " + std::to_string(HELP_CONTENTS) + ";");
    });
}

} // namespace
