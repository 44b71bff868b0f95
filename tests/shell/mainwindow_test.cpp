// The program in-process on an emulated machine with a narrow and a wide
// adapter: its menus, commands, re-scan, context menus and help; then the
// frame's arithmetic, the splash screen, the help files and the About box
// through real windows, the real screen and the real registry. The laid-out
// panes, toolbar and status bar, the wide-bus item and the views as the user
// sees them are checked end to end.
#include <gtest/gtest.h>

#include <optional>
#include <tuple>
#include <utility>

#include "inventory/inventory.h"
#include "resource.h"
#include "shell/frame.h"
#include "shell/helpabout.h"
#include "shell/splash.h"
#include "shell/toolentry.h"
#include "support/gdicount.h"
#include "support/msgrecorder.h"
#include "support/program.h"
#include "support/uiscript.h"

namespace {

using namespace qvx::test;
using Longs = std::vector<LONG>;

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SelectMachine(QVX_SHELL_MACHINES "/two_adapters.ini");
    }
    InstalledHelpPath help_;
};

// The menu bar as the running program shows it, "id text" per item ("0 "
// a separator): with ASPI the diagnostic tests item comes in front of the
// performance tests. Closing the window gives back every picture and image
// list.
TEST_F(MainWindowTest, MenusAndWhatClosingGivesBack) {
    std::string items;
    RunProgram([&] {
        for (int m = 0; m < GetMenuItemCount(MainMenu); m++) {
            HMENU menu = GetSubMenu(MainMenu, m);
            for (int i = 0; i < GetMenuItemCount(menu); i++) {
                char text[64] = "";
                GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
                items += std::to_string(GetMenuItemID(menu, i)) + " " + text + "|";
            }
            items += "/";
        }
    });
    EXPECT_EQ(items, "101 Open...|102 &Save...|103 Save &As...|0 |104 E&xit|/"
                     "40003 &Re-scan SCSI Bus|40004 &Device Properties...|40007 Device Diagnostic "
                     "&Tests...|40009 Device &Performance Tests...|40012 System &SCSI "
                     "Information...|0 |40008 Scan SCSI Wide Bus:  SCSI ID 0 To 15|/"
                     "120 &Large Icon View|121 &Small Icon View|122 List &View|123 &Details View|/"
                     "40005 &Help...|0 |130 &About...|/");
    EXPECT_TRUE(LargeImageList == nullptr && SmallImageList == nullptr && TreeImageList == nullptr);
    for (const DeviceRecord& slot : DeviceTable)
        EXPECT_EQ(slot.TypeBitmap, nullptr) << "every picture released";
}

// The question and the scan are seen end to end; here: its icon, the title
// a listing had given the window, the busy state until the posted
// completion, and a failed query that offers to try again.
TEST_F(MainWindowTest, RescanResetsTheTitleAndOffersRetryWhenItFails) {
    RunProgram([] {
        UiScript ui;
        ui.expect(MsgBox().text("Re-scan the SCSI bus ?")).press(IDOK);
        ui.expect(MsgBox().text("Re-scan the SCSI bus ?")).press(IDOK);
        ui.expect(MsgBox().text("Error:  Re-scanning the SCSI bus failed !")).press(IDRETRY);
        ui.expect(MsgBox().text("Re-scan the SCSI bus ?")).press(IDCANCEL);
        SetWindowTextA(MainWindow, "Quorvex Diagnostics - [old.txt]");
        Command(IDM_RESCAN);
        EXPECT_EQ(BusyState, BUSY_RESCAN) << "busy until the completion message";
        PumpPending();
        EXPECT_EQ(WindowText(MainWindow), "Quorvex Diagnostics");

        SelectMachine(QVX_SHELL_MACHINES "/aspi_not_available.ini");
        Command(IDM_RESCAN);
        PumpPending(); // Retry posted the command again
        ui.verify();
        EXPECT_EQ(ui.seen().at(0).icon, static_cast<UINT>(MB_ICONQUESTION));
        EXPECT_EQ(ui.seen().at(2).icon, static_cast<UINT>(MB_ICONHAND));
        EXPECT_TRUE(ui.seen()[2].hasButton(IDRETRY) && ui.seen()[2].hasButton(IDCANCEL));
        EXPECT_EQ(AdapterCount + ListView_GetItemCount(ListView), 0)
            << "the tables were cleared before the query";
    });
}

// What the program asked of the tool entries, the help viewer and the
// context menus, as "what number;".
std::string g_calls;
WNDPROC g_mainProc = nullptr;

int Log(const char* what, int number) {
    g_calls += what + (" " + std::to_string(number)) + ";";
    return 0;
}

// Notes the first item of each context menu and closes it at once.
LRESULT CALLBACK WatchPopup(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITMENUPOPUP) {
        Log("menu", GetMenuItemID(reinterpret_cast<HMENU>(wp), 0));
        PostMessageA(w, WM_CANCELMODE, 0, 0);
    }
    return CallWindowProcA(g_mainProc, w, msg, wp, lp);
}

BOOL WINAPI RecordHelp(HWND window, LPCSTR file, UINT command, ULONG_PTR) {
    Log((std::string(window == MainWindow ? "main " : "other ") + file).c_str(), command);
    return TRUE;
}

std::string TakeCalls() {
    return std::exchange(g_calls, "");
}

TEST_F(MainWindowTest, CommandsOpenTheToolForTheChosenRowOrAdapter) {
    RunProgram([] {
        EXPECT_EQ(HighestTargetId, 7) << "the first adapter is narrow";
        ToolEntryTable saved = ToolEntries;
        ToolEntries.DeviceProperties = [](HWND, int slot) { return Log("properties", slot); };
        ToolEntries.DiagnosticTests = [](HWND, int slot) { return Log("diagnostics", slot); };
        ToolEntries.PerformanceTests = [](HWND, int slot) { return Log("performance", slot); };
        ToolEntries.AdapterInfo = [](HWND, int index) { return Log("adapter", index); };
        ToolEntries.SystemInfo = [](HWND) { return Log("system", 0); };
        ToolEntries.OpenListing = [](HWND) { return 0; }; // cancelled
        ToolEntries.SaveListingAs = [](HWND) { return 1; };
        ToolEntries.ListingTitle = [] { return "adapters.txt"; };
        for (int row : {-1, ListRowOf("SCSI ID 3")}) { // no row chosen: nothing opens
            ChooseRow(row);
            for (int id : {IDM_DEVICE_PROPERTIES, IDM_DIAGNOSTIC_TESTS, IDM_PERFORMANCE_TESTS})
                Command(id);
        }
        EXPECT_EQ(TakeCalls(), "properties 3;diagnostics 3;performance 3;");
        SelectAdapter(1);
        ChooseRow(ListRowOf("SCSI ID 2"));
        NMHDR dbl = {ListView, IDC_DEVICE_LIST, static_cast<UINT>(NM_DBLCLK)};
        SendMessageA(MainWindow, WM_NOTIFY, IDC_DEVICE_LIST, reinterpret_cast<LPARAM>(&dbl));
        Command(IDM_ADAPTER_PROPERTIES);
        EXPECT_EQ(TakeCalls(), "properties 18;adapter 1;");
        SelectAdapter(-1);
        Command(IDM_ADAPTER_PROPERTIES);
        Command(IDM_SYSTEM_INFO);
        EXPECT_EQ(TakeCalls(), "system 0;") << "the root is no adapter";

        // Context menus over the panes only, and the help contents.
        g_mainProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(MainWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatchPopup)));
        for (HWND pane : {ListView, TreeView, StatusBar}) {
            RECT r;
            GetWindowRect(pane, &r);
            SendMessageA(MainWindow, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(pane),
                         MAKELPARAM(r.left + 10, r.top + 10));
        }
        SetWindowLongPtrA(MainWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_mainProc));
        HelpViewerProc viewer = std::exchange(HelpViewer, RecordHelp);
        Command(IDM_HELP_CONTENTS);
        HelpViewer = viewer;
        EXPECT_EQ(TakeCalls(), "menu 40004;menu 40010;main C:\\Quorvex\\KDX.hlp " +
                                   std::to_string(HELP_CONTENTS) + ";");

        // A listing opened or saved names the window and enables saving.
        Command(IDM_FILE_OPEN);
        EXPECT_TRUE(GetMenuState(MainMenu, IDM_FILE_SAVE, MF_BYCOMMAND) & MF_GRAYED);
        Command(IDM_FILE_SAVE_AS);
        EXPECT_EQ(WindowText(MainWindow), "Quorvex Diagnostics - [adapters.txt]");
        EXPECT_FALSE(GetMenuState(MainMenu, IDM_FILE_SAVE, MF_BYCOMMAND) & MF_GRAYED);
        EXPECT_TRUE(SendMessageA(ToolBar, TB_ISBUTTONENABLED, IDM_FILE_SAVE, 0));
        EXPECT_FALSE(SendMessageA(ToolBar, TB_ISBUTTONINDETERMINATE, IDM_FILE_SAVE, 0));
        ToolEntries = saved;
    });
}

// ---- Frame, splash screen, help files and About box ----

// The panes of a window shorter than the bars; a dialog centred over its
// reference (halved by a shift, so an odd difference rounds down) or pushed
// back into the work area; the splash in the middle of the screen, each half
// rounded down on its own.
TEST(Frame, LaysOutCentresAndPlacesTheSplash) {
    PaneLayout p = ComputePaneLayout(3, 10);
    EXPECT_EQ((Longs{p.TreeHeight, p.ListHeight, p.TreeWidth, p.ListWidth}), (Longs{0, 0, 0, 3}));
    const RECT dialog = {0, 0, 300, 200}, work = {0, 0, 1024, 738};
    const std::pair<RECT, Longs> centred[] = {{{100, 100, 601, 401}, {200, 150}},
                                              {{500, 300, 799, 499}, {499, 299}},
                                              {{-400, -300, -100, -100}, {0, 0}},
                                              {{900, 700, 1200, 900}, {724, 538}}};
    for (const auto& [reference, expected] : centred) {
        POINT at = ComputeCenteredPosition(&dialog, &reference, &work);
        EXPECT_EQ((Longs{at.x, at.y}), expected) << reference.left;
    }
    const std::pair<Longs, Longs> splash[] = {{{640, 480, 422, 188}, {109, 146}},
                                              {{800, 600, 422, 188}, {189, 206}},
                                              {{640, 480, 33, 31}, {304, 225}}};
    for (const auto& [screen, expected] : splash) {
        POINT at = SplashOrigin(screen[0], screen[1], screen[2], screen[3]);
        EXPECT_EQ((Longs{at.x, at.y}), expected) << screen[2];
    }
}

// Samples the screen's pixels in a rectangle.
std::vector<COLORREF> ScreenPixels(const RECT& r) {
    std::vector<COLORREF> pixels;
    HDC screen = GetDC(nullptr);
    for (int y = r.top; y < r.bottom; y += 17)
        for (int x = r.left; x < r.right; x += 23)
            pixels.push_back(GetPixel(screen, x, y));
    ReleaseDC(nullptr, screen);
    return pixels;
}

TEST(Splash, PaintsThePictureAndPutsBackWhatItCovered) {
    EXPECT_EQ(SplashHide(), 0); // nothing up: nothing happens
    EXPECT_EQ(SplashShow(GetModuleHandleA(nullptr), "NoSuchBitmap"), 0);
    POINT at = SplashOrigin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), 422, 188);
    RECT area = {at.x, at.y, at.x + 422, at.y + 188};
    HDC screen = GetDC(nullptr);
    HBRUSH brush = CreateSolidBrush(RGB(0, 128, 255));
    FillRect(screen, &area, brush);
    DeleteObject(brush);
    ReleaseDC(nullptr, screen);
    GdiFlush();
    std::vector<COLORREF> before = ScreenPixels(area);

    ASSERT_NE(SplashShow(GetModuleHandleA(nullptr), "Splash"), 0);
    RECT covered = SplashRect();
    EXPECT_TRUE(EqualRect(&covered, &area));
    EXPECT_NE(ScreenPixels(area), before) << "the picture is on the screen";
    EXPECT_EQ(SplashShow(GetModuleHandleA(nullptr), "Splash"), 0) << "only one splash";
    EXPECT_EQ(SplashHide(), 1);
    EXPECT_EQ(ScreenPixels(area), before) << "the covered pixels are back";
}

// ---- Help files and the About box ----

// Setup's entry with its folder; no entry: a warning, the bare names and no
// entry left behind; an entry without "HelpPath": the end.
// Each row: whether there is an entry, its "HelpPath" value if any, the
// message shown with a stop icon if any, the result and the paths.
TEST(LocateHelpFiles, UsesSetupsFolderOrWarnsOrEnds) {
    const std::tuple<bool, const char*, const char*, int, const char*> cases[] = {
        {true, "C:\\Program Files\\Quorvex", nullptr, 1,
         "C:\\Program Files\\Quorvex\\KDX.hlp|C:\\Program Files\\Quorvex\\KDXCH.hlp"},
        {false, nullptr,
         "The registry enteries for the Quorvex Diagnostics\nutility do not exist.  Please run "
         "the Quorvex Setup\nprogram to properly install Quorvex Diagnostics.",
         1, "KDX.hlp|KDXCH.hlp"},
        {true, nullptr,
         "Could not access the registry entry for the 'HelpPath' value !\nQuorvex Diagnostics "
         "must exit.",
         0, "|"},
    };
    for (const auto& [entry, helpPath, message, result, paths] : cases) {
        std::optional<InstalledHelpPath> installed;
        if (entry)
            installed.emplace(helpPath);
        HelpFilePath[0] = ContextHelpFilePath[0] = '\0';
        UiScript ui;
        if (message != nullptr)
            ui.expect(MsgBox().caption("Quorvex Diagnostics status:").text(message)).press(IDOK);
        EXPECT_EQ(LocateHelpFiles(), result);
        ui.verify();
        for (const WindowRecord& shown : ui.seen())
            EXPECT_EQ(shown.icon, static_cast<UINT>(MB_ICONHAND));
        EXPECT_EQ(std::string(HelpFilePath) + "|" + ContextHelpFilePath, paths);
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, APP_PATHS_KEY APP_PATH_ENTRY, 0, KEY_READ,
                                &key) == ERROR_SUCCESS,
                  entry);
        RegCloseKey(key);
    }
}

// The line naming each family of systems; the box's texts, fonts and
// picture as the user sees them, with the running system's line; each
// opening gives back every GDI object it made.
TEST(AboutBox, ShowsTheVersionRecordAndLeavesNoGdiObjectBehind) {
    const std::pair<DWORD, const char*> lines[] = {
        {0x05650004, "Microsoft Windows NT 4.0 Build: 1381"},
        {0xC0000004, "Microsoft Windows 95  Version: 4.0"},
        {0xC0000A04, "Microsoft Windows 95  Version: 4.10"},
        {0x80350A03, "Microsoft Win32s 3.10 Build: 53"}};
    char osLine[128];
    for (const auto& [version, expected] : lines) {
        FormatOsVersionLine(version, osLine, sizeof osLine);
        EXPECT_STREQ(osLine, expected);
    }
    FormatOsVersionLine(GetVersion(), osLine, sizeof osLine);
    AppInstance = nullptr; // this executable carries the program's version record
    const std::pair<int, const char*> texts[] = {
        {500, "Veltrane Corporation"},
        {501, "Performs diagnostic tests on SCSI peripherals."},
        {502, "1.00"},
        {503, "Copyright (C) 1997 Veltrane Corporation"},
        {504, osLine},
        {505, "Quorvex and Kestrail are trademarks of Veltrane Corporation."},
        {506, "Running On:"}};
    auto open = [&] {
        UiScript ui;
        ui.expect(Dialog().caption("About Quorvex Diagnostics"))
            .then([&](HWND dialog, const auto&) {
                for (const auto& [id, text] : texts) {
                    char shown[256] = "";
                    GetDlgItemTextA(dialog, id, shown, sizeof shown);
                    LOGFONTA font = {};
                    GetObjectA(
                        reinterpret_cast<HFONT>(SendDlgItemMessageA(dialog, id, WM_GETFONT, 0, 0)),
                        sizeof font, &font);
                    EXPECT_EQ(shown + std::to_string(font.lfHeight),
                              text + std::string(id == 505 ? "11" : "14"));
                }
                BITMAP picture = {};
                GetObjectA(reinterpret_cast<HBITMAP>(
                               SendDlgItemMessageA(dialog, 1013, STM_GETIMAGE, IMAGE_BITMAP, 0)),
                           sizeof picture, &picture);
                EXPECT_EQ(picture.bmWidth * 100 + picture.bmHeight, 4848) << "bitmap 142";
            })
            .press(IDOK);
        DialogBoxParamA(GetModuleHandleA(nullptr), "ABOUTBOX", nullptr, AboutDialog, 0);
    };
    open(); // the first opening may make what the process keeps for good
    int before = GdiObjectCount();
    for (int i = 0; i < 10; i++)
        open();
    EXPECT_GT(before, 0);
    EXPECT_EQ(GdiObjectCount(), before);

    // The version record's entries that the box does not show.
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    DWORD handle = 0, size = GetFileVersionInfoSizeA(path, &handle);
    std::vector<char> record(size + 1);
    ASSERT_TRUE(GetFileVersionInfoA(path, handle, size, record.data()));
    std::string entries;
    for (const char* name : {"InternalName", "OriginalFilename", "FileVersion", "Comments"}) {
        char* value = nullptr;
        UINT length = 0;
        VerQueryValueA(record.data(), (std::string("\\StringFileInfo\\040904E4\\") + name).c_str(),
                       reinterpret_cast<void**>(&value), &length);
        entries += std::string(value != nullptr ? value : "<missing>") + "|";
    }
    EXPECT_EQ(entries, "KDX|QUORVEX.EXE|1.00|SCSI host adapter and device diagnostics for "
                       "Windows 95 and Windows NT 4.0.|");
}

} // namespace
