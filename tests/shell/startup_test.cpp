// Start-up's decisions and messages, and the stored window position, with
// the program run in-process on emulated machines.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "inventory/inventory.h"
#include "resource.h"
#include "shell/aspiload.h"
#include "shell/mainwindow.h"
#include "shell/splash.h"
#include "shell/startup.h"
#include "shell/strings.h"
#include "inventory/registry.h"
#include "support/testwindow.h"
#include "support/uiscript.h"
#include "views/devicetree.h"
#include "program.h"

namespace {

using namespace qvx::test;

TEST(AdapterRecord, CutsTheIdentifierEvenWithoutATerminator) {
    SRB_HAInquiry block = {};
    memcpy(block.HA_Identifier, "KESTRAIL-2\x01XYZ", 14);
    HostAdapterRecord record = {};
    FillAdapterRecord(&record, &block);
    EXPECT_STREQ(record.Identifier, "KESTRAIL-2");
    EXPECT_EQ(record.MaxTargets, 8) << "0 in the unique parameters means narrow";

    memcpy(block.HA_Identifier, "ABCDEFGHIJKLMNOP", 16);
    block.HA_Unique[3] = 16;
    FillAdapterRecord(&record, &block);
    EXPECT_STREQ(record.Identifier, "ABCDEFGHIJKLMNO");
    EXPECT_EQ(record.MaxTargets, 16);
}

// Adapter enumeration on its own: the emulated library loaded as start-up
// loads it, and a tree to take the adapters' items.
class AdapterEnumeration : public ::testing::Test {
  protected:
    void Load(const char* machine, int platform) {
        SelectMachine(ShellMachine(machine));
        InitializeInventory();
        ASSERT_TRUE(PreloadStrings(GetModuleHandleA(nullptr)));
        ASSERT_TRUE(LoadAspiLibrary());
        UseAspi = 1;
        PlatformKind = platform;
        AppInstance = GetModuleHandleA(nullptr);
        ASSERT_NE(CreateDeviceTree(parent_.hwnd()), nullptr);
    }
    // Two adapters, numbers 1 and 3, in the first two records.
    void ExpectNoGap(const char* second) {
        EXPECT_EQ(AdapterCount, 2);
        EXPECT_STREQ(HostAdapterTable[0].Identifier, "KESTRAIL");
        EXPECT_EQ(HostAdapterTable[0].AdapterNumber, 1);
        EXPECT_STREQ(HostAdapterTable[1].Identifier, second);
        EXPECT_EQ(HostAdapterTable[1].AdapterNumber, 3);
        EXPECT_EQ(HostAdapterTable[2].Identifier[0], '\0');
        EXPECT_NE(HostAdapterTable[1].TreeItem, nullptr);
    }
    void TearDown() override {
        DestroyWindow(TreeView);
        TreeView = nullptr;
        ImageList_Destroy(TreeImageList);
        TreeImageList = nullptr;
        UseAspi = 0;
        PlatformKind = 0;
        UnloadAspiLibrary();
    }
    TestWindow parent_;
};

// Pseudo adapters leave no gap; the adapter's virtual device (absent here)
// is only warned about, and only on the first scan.
TEST_F(AdapterEnumeration, Windows95SkipsPseudoAdaptersWithoutGaps) {
    Load("win95_pseudo_adapters.ini", PLATFORM_WIN95);
    {
        UiScript ui;
        ui.expect(MsgBox().text("Unable to access the KVXHBA.Vxd.")).press(IDOK);
        BeginAdapterEnumeration(LOBYTE(GetAspi32SupportInfo()), 1);
        ui.verify();
        ASSERT_EQ(ui.seen().size(), 1u);
        EXPECT_EQ(ui.seen()[0].icon, 0u);
    }
    ExpectNoGap("KESTRAIL 2");
    EXPECT_EQ(KvxhbaHandle, nullptr);

    UiScript quiet;
    ClearInventoryTables();
    BeginAdapterEnumeration(LOBYTE(GetAspi32SupportInfo()), 0);
    quiet.verify();
    EXPECT_TRUE(quiet.seen().empty());
    EXPECT_EQ(AdapterCount, 2);
}

// The ports at the IDE channels' addresses are dropped.
TEST_F(AdapterEnumeration, NtSkipsIdeChannelsWithoutGaps) {
    RegistryKeys registry;
    registry.Own("Hardware\\DeviceMap\\SCSI");
    const DWORD addresses[] = {0x1F0, 0x6000, 0x170, 0xE800};
    for (int port = 0; port < 4; port++)
        registry.SetDword("Hardware\\DeviceMap\\SCSI\\SCSI PORT " + std::to_string(port),
                          "IOAddress", addresses[port]);
    Load("nt_ide_channels.ini", PLATFORM_NT);
    BeginAdapterEnumeration(LOBYTE(GetAspi32SupportInfo()), 1);
    ExpectNoGap("LQ450");
}

TEST(Startup, AspiNotAvailableWarnsTwiceAndStillComesUp) {
    InstalledHelpPath help;
    SelectMachine(ShellMachine("aspi_not_available.ini"));
    UiScript ui;
    ui.expect(
          MsgBox().caption("Quorvex Diagnostics status:").text("ASPI for WIN32 is not available !"))
        .press(IDOK);
    ui.expect(MsgBox().text("A Veltrane Kestrail series SCSI Host Adapter was not detected !"))
        .press(IDOK);
    bool sawMenuItem = true;
    int code = RunProgram([&] {
        EXPECT_EQ(UseAspi, 0);
        EXPECT_EQ(ListView_GetItemCount(ListView), 0);
        sawMenuItem = GetMenuState(MainMenu, IDM_DIAGNOSTIC_TESTS, MF_BYCOMMAND) != 0xFFFFFFFF;
    });
    ui.verify();
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(ProgramBodyRan()) << "the window came up";
    EXPECT_FALSE(sawMenuItem) << "no diagnostic tests without ASPI";
    ASSERT_EQ(ui.seen().size(), 2u);
    EXPECT_EQ(ui.seen()[0].icon, static_cast<UINT>(MB_ICONHAND));
    EXPECT_EQ(ui.seen()[1].icon, static_cast<UINT>(MB_ICONHAND));
}

TEST(Startup, NoAdaptersReportedEndsTheProgram) {
    InstalledHelpPath help;
    SelectMachine(ShellMachine("zero_adapters.ini"));
    UiScript ui;
    HWND owner = reinterpret_cast<HWND>(1);
    ui.expect(MsgBox().text("unable to detect any SCSI Host Adapters"))
        .then([&](HWND box, const auto&) { owner = GetWindow(box, GW_OWNER); })
        .press(IDOK);
    EXPECT_EQ(RunProgram([] {}), 0);
    ui.verify();
    EXPECT_FALSE(ProgramBodyRan());
    ASSERT_EQ(ui.seen().size(), 1u);
    EXPECT_EQ(ui.seen()[0].icon, static_cast<UINT>(MB_ICONASTERISK));
    EXPECT_EQ(owner, nullptr) << "shown without an owner window";
    EXPECT_FALSE(SplashIsUp());
    EXPECT_EQ(FindWindowA(nullptr, "Quorvex Diagnostics"), nullptr);
}

TEST(Startup, ASecondInstanceBringsTheFirstToTheFront) {
    TestWindow first;
    SetWindowTextA(first.hwnd(), "Quorvex Diagnostics");
    UiScript ui; // no message
    EXPECT_EQ(RunProgram([] {}), 0);
    ui.verify();
    EXPECT_TRUE(ui.seen().empty());
    EXPECT_FALSE(ProgramBodyRan());
    EXPECT_TRUE(IsWindowVisible(first.hwnd()));
}

// ---- Window position ----

// The record's seven numbers, for comparisons that print.
std::vector<LONG> Fields(const WindowPosition& r) {
    return {r.Left, r.Top, r.Width, r.Height, r.ViewMode, r.ScreenWidth, r.ScreenHeight};
}
using Longs = std::vector<LONG>;

TEST(WindowPosition, DefaultsOrRescalesTheStoredRecord) {
    WindowPosition fresh = {};
    ComputeWindowPos(&fresh, 800, 600, 1); // the middle three fifths
    EXPECT_EQ(Fields(fresh), (Longs{160, 120, 480, 360, 0, 800, 600}));

    WindowPosition small = {100, 50, 401, 301, 3, 640, 480};
    ComputeWindowPos(&small, 800, 600, 0); // by twelve tenths, remainder dropped
    EXPECT_EQ(Fields(small), (Longs{120, 60, 481, 361, 3, 800, 600}));

    for (LONG size : {0, -640}) { // no usable screen size: the defaults
        WindowPosition unknown = {10, 10, 10, 10, 2, size, 480};
        ComputeWindowPos(&unknown, 800, 600, 0);
        EXPECT_EQ(unknown.Left, 160);
        EXPECT_EQ(unknown.ViewMode, 0);
    }

    WindowPosition huge = {0x40000000, -0x40000000, 0x7FFFFFFF, 10, 0, 1, 1};
    ComputeWindowPos(&huge, 800, 600, 0); // a garbled value is clamped, never wrapped
    EXPECT_EQ(huge.Left, 0x7FFFFFFF);
    EXPECT_EQ(huge.Top, -0x7FFFFFFF);
    EXPECT_EQ(huge.Height, 6000);
}

void WriteWindowPos(const WindowPosition& record) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, WINDOW_POS_VALUE, 0, REG_BINARY, reinterpret_cast<const BYTE*>(&record),
                   sizeof record);
    RegCloseKey(key);
}

WindowPosition StoredWindowPos() {
    WindowPosition record = {};
    EXPECT_TRUE(ReadWindowPos(&record));
    return record;
}

class WindowPositionRun : public ::testing::Test {
  protected:
    void SetUp() override {
        SelectMachine(ShellMachine("two_adapters.ini"));
    }
    void TearDown() override {
        ForgetWindowPosition();
    }
    InstalledHelpPath help_;
    int cx_ = GetSystemMetrics(SM_CXSCREEN), cy_ = GetSystemMetrics(SM_CYSCREEN);
};

TEST_F(WindowPositionRun, OpensRescaledFollowsADisplayChangeAndStoresTheClosingPosition) {
    WriteWindowPos({64, 48, 320, 240, 1, 640, 480});
    RunProgram(
        [&] {
            long fx = cx_ * 10L / 640, fy = cy_ * 10L / 480;
            RECT r;
            GetWindowRect(MainWindow, &r);
            EXPECT_EQ((Longs{r.left, r.top, r.right - r.left, r.bottom - r.top}),
                      (Longs{64 * fx / 10, 48 * fy / 10, 320 * fx / 10, 240 * fy / 10}));
            EXPECT_EQ(GetWindowLongA(ListView, GWL_STYLE) & LVS_TYPEMASK, LVS_REPORT)
                << "view mode 1 is details";

            // A display change rescales the normal position, keeping the stored view mode.
            MoveWindow(MainWindow, 100, 100, 500, 400, TRUE);
            WriteWindowPos({100, 100, 500, 400, 2, cx_, cy_});
            SendMessageA(MainWindow, WM_DISPLAYCHANGE, 24, MAKELPARAM(640, 480));
            fx = 640 * 10L / cx_, fy = 480 * 10L / cy_;
            WindowPosition stored = StoredWindowPos();
            EXPECT_EQ(Fields(stored), (Longs{100 * fx / 10, 100 * fy / 10, 500 * fx / 10,
                                             400 * fy / 10, 2, 640, 480}));
            WINDOWPLACEMENT placement = {};
            placement.length = sizeof placement;
            GetWindowPlacement(MainWindow, &placement);
            RECT& normal = placement.rcNormalPosition;
            EXPECT_EQ((Longs{normal.left, normal.right - normal.left}),
                      (Longs{stored.Left, stored.Width}));

            MoveWindow(MainWindow, 30, 40, 500, 350, TRUE);
            SendMessageA(MainWindow, WM_COMMAND, IDM_VIEW_LIST, 0);
            SendMessageA(MainWindow, WM_COMMAND, IDM_FILE_EXIT, 0);
        },
        {false});
    EXPECT_EQ(Fields(StoredWindowPos()), (Longs{30, 40, 500, 350, 3, cx_, cy_})) << "3: list view";
}

TEST_F(WindowPositionRun, AMaximizedOrMinimizedWindowKeepsTheStoredPosition) {
    for (int show : {SW_MAXIMIZE, SW_MINIMIZE}) {
        WindowPosition stored = {11, 22, 333, 244, 0, cx_, cy_};
        WriteWindowPos(stored);
        RunProgram([&] { ShowWindow(MainWindow, show); });
        EXPECT_EQ(Fields(StoredWindowPos()), Fields(stored)) << show;
    }
}

} // namespace
