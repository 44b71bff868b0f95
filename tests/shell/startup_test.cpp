// Start-up's decisions and messages, and the stored window position, with
// the program run in-process on emulated machines.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "inventory/inventory.h"
#include "resource.h"
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

using qvx::test::InstalledHelpPath;
using qvx::test::MsgBox;
using qvx::test::RunProgram;
using qvx::test::SelectMachine;
using qvx::test::ShellMachine;
using qvx::test::UiScript;

TEST(Platform, FollowsTheVersionsTopBitAndMajorVersion) {
    EXPECT_EQ(PlatformFromVersion(0x05650004), PLATFORM_NT); // NT 4.0 build 1381
    EXPECT_EQ(PlatformFromVersion(0x4A640A05), PLATFORM_NT); // any NT
    EXPECT_EQ(PlatformFromVersion(0xC0000004), PLATFORM_WIN95);
    EXPECT_EQ(PlatformFromVersion(0xC0000A04), PLATFORM_WIN95); // Windows 98
    EXPECT_EQ(PlatformFromVersion(0x80000003), 0);              // Win32s
}

TEST(AdapterRecord, TakesTheInquiryFieldsAndCutsTheIdentifier) {
    SRB_HAInquiry block = {};
    block.SRB_HaId = 3;
    block.HA_SCSI_ID = 7;
    memcpy(block.HA_Identifier, "KESTRAIL-2\x01XYZ", 14);
    memcpy(block.HA_ManagerId, "ASPI for WIN32 MANAGER", 16);
    HostAdapterRecord record = {};
    FillAdapterRecord(&record, &block);
    EXPECT_STREQ(record.Identifier, "KESTRAIL-2");
    EXPECT_STREQ(record.ManagerId, "ASPI for WIN32 ");
    EXPECT_EQ(record.AdapterNumber, 3);
    EXPECT_EQ(record.HostScsiId, 7u);
    EXPECT_EQ(record.MaxTargets, 8) << "0 in the unique parameters means narrow";

    memcpy(block.HA_Identifier, "ABCDEFGHIJKLMNOP", 16); // no terminator at all
    block.HA_Unique[3] = 16;
    FillAdapterRecord(&record, &block);
    EXPECT_STREQ(record.Identifier, "ABCDEFGHIJKLMNO");
    EXPECT_EQ(record.MaxTargets, 16);
}

// The Windows 95 enumeration against a real tree: pseudo adapters leave no
// gap, and the adapter's virtual device (absent here) is only warned about.
// Adapter enumeration on its own: the emulated library loaded as start-up
// loads it, and a tree to take the adapters' items.
class AdapterEnumeration : public ::testing::Test {
  protected:
    void Load(const char* machine, int platform) {
        SelectMachine(ShellMachine(machine));
        InitializeInventory();
        ASSERT_TRUE(PreloadStrings(GetModuleHandleA(nullptr)));
        aspi_ = LoadLibraryA("wnaspi32.dll");
        GetAspi32SupportInfo = reinterpret_cast<GetASPI32SupportInfoFn>(
            reinterpret_cast<void*>(GetProcAddress(aspi_, "GetASPI32SupportInfo")));
        SendAspi32Command = reinterpret_cast<SendASPI32CommandFn>(
            reinterpret_cast<void*>(GetProcAddress(aspi_, "SendASPI32Command")));
        UseAspi = 1;
        PlatformKind = platform;
        AppInstance = GetModuleHandleA(nullptr);
        ASSERT_NE(CreateDeviceTree(parent_.hwnd()), nullptr);
    }

    void TearDown() override {
        DestroyWindow(TreeView);
        TreeView = nullptr;
        ImageList_Destroy(TreeImageList);
        TreeImageList = nullptr;
        UseAspi = 0;
        PlatformKind = 0;
        if (aspi_ != nullptr)
            FreeLibrary(aspi_);
    }

    qvx::test::TestWindow parent_;
    HMODULE aspi_ = nullptr;
};

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
    EXPECT_EQ(AdapterCount, 2);
    EXPECT_STREQ(HostAdapterTable[0].Identifier, "KESTRAIL");
    EXPECT_EQ(HostAdapterTable[0].AdapterNumber, 1);
    EXPECT_STREQ(HostAdapterTable[1].Identifier, "KESTRAIL 2");
    EXPECT_EQ(HostAdapterTable[1].AdapterNumber, 3);
    EXPECT_EQ(HostAdapterTable[2].Identifier[0], '\0');
    EXPECT_NE(HostAdapterTable[0].TreeItem, nullptr);
    EXPECT_NE(HostAdapterTable[1].TreeItem, nullptr);
    EXPECT_EQ(KvxhbaHandle, nullptr);

    UiScript quiet; // a re-scan does not repeat the warning
    ClearInventoryTables();
    BeginAdapterEnumeration(LOBYTE(GetAspi32SupportInfo()), 0);
    quiet.verify();
    EXPECT_TRUE(quiet.seen().empty());
    EXPECT_EQ(AdapterCount, 2);
}

// On NT the ports at the IDE channels' addresses are dropped, and the SCSI
// adapters after them move up without leaving an empty record.
TEST_F(AdapterEnumeration, NtSkipsIdeChannelsWithoutGaps) {
    qvx::test::RegistryKeys registry;
    registry.Own("Hardware\\DeviceMap\\SCSI");
    const char* port = "Hardware\\DeviceMap\\SCSI\\SCSI PORT ";
    registry.SetDword(std::string(port) + "0", "IOAddress", 0x1F0);
    registry.SetDword(std::string(port) + "1", "IOAddress", 0x6000);
    registry.SetDword(std::string(port) + "2", "IOAddress", 0x170);
    registry.SetDword(std::string(port) + "3", "IOAddress", 0xE800);
    Load("nt_ide_channels.ini", PLATFORM_NT);

    BeginAdapterEnumeration(LOBYTE(GetAspi32SupportInfo()), 1);
    EXPECT_EQ(AdapterCount, 2);
    EXPECT_STREQ(HostAdapterTable[0].Identifier, "KESTRAIL");
    EXPECT_EQ(HostAdapterTable[0].AdapterNumber, 1);
    EXPECT_STREQ(HostAdapterTable[1].Identifier, "LQ450");
    EXPECT_EQ(HostAdapterTable[1].AdapterNumber, 3);
    EXPECT_EQ(HostAdapterTable[2].Identifier[0], '\0');
    EXPECT_NE(HostAdapterTable[1].TreeItem, nullptr);
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
        EXPECT_EQ(AdapterCount, 0);
        EXPECT_TRUE(IsWindowVisible(MainWindow));
        EXPECT_EQ(ListView_GetItemCount(ListView), 0);
        sawMenuItem = GetMenuState(MainMenu, IDM_DIAGNOSTIC_TESTS, MF_BYCOMMAND) != 0xFFFFFFFF;
    });
    ui.verify();
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(qvx::test::ProgramBodyRan());
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
    int code = RunProgram([] {});
    ui.verify();
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(qvx::test::ProgramBodyRan());
    ASSERT_EQ(ui.seen().size(), 1u);
    EXPECT_EQ(ui.seen()[0].icon, static_cast<UINT>(MB_ICONASTERISK));
    EXPECT_EQ(owner, nullptr) << "shown without an owner window";
    EXPECT_FALSE(SplashIsUp());
    EXPECT_EQ(FindWindowA(nullptr, "Quorvex Diagnostics"), nullptr);
}

TEST(Startup, ASecondInstanceBringsTheFirstToTheFront) {
    qvx::test::TestWindow first;
    SetWindowTextA(first.hwnd(), "Quorvex Diagnostics");
    ASSERT_FALSE(IsWindowVisible(first.hwnd()));
    UiScript ui; // no message
    int code = RunProgram([] {});
    ui.verify();
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(qvx::test::ProgramBodyRan());
    EXPECT_TRUE(IsWindowVisible(first.hwnd()));
    EXPECT_TRUE(ui.seen().empty());
}

// ---- Window position ----

TEST(WindowPosition, DefaultsAreTheMiddleThreeFifths) {
    WindowPosition record = {};
    ComputeWindowPos(&record, 800, 600, 1);
    EXPECT_EQ(record.Left, 160);
    EXPECT_EQ(record.Top, 120);
    EXPECT_EQ(record.Width, 480);
    EXPECT_EQ(record.Height, 360);
    EXPECT_EQ(record.ViewMode, 0);
    EXPECT_EQ(record.ScreenWidth, 800);
    EXPECT_EQ(record.ScreenHeight, 600);
}

TEST(WindowPosition, RescalesFrom640x480To800x600ByTwelveTenths) {
    WindowPosition record = {100, 50, 401, 301, 3, 640, 480};
    ComputeWindowPos(&record, 800, 600, 0);
    EXPECT_EQ(record.Left, 120);
    EXPECT_EQ(record.Top, 60);
    EXPECT_EQ(record.Width, 481); // 401 * 12 / 10, remainder dropped
    EXPECT_EQ(record.Height, 361);
    EXPECT_EQ(record.ViewMode, 3) << "the view mode is kept";
    EXPECT_EQ(record.ScreenWidth, 800);

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
        qvx::test::ForgetWindowPosition();
    }
    InstalledHelpPath help_;
    int screenWidth_ = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight_ = GetSystemMetrics(SM_CYSCREEN);
};

TEST_F(WindowPositionRun, OpensAtTheStoredPositionRescaledAndStoresTheClosingOne) {
    WriteWindowPos({64, 48, 320, 240, 1, 640, 480});
    long fx = screenWidth_ * 10L / 640, fy = screenHeight_ * 10L / 480;
    RECT opened = {};
    DWORD openedStyle = 0;
    RunProgram(
        [&] {
            GetWindowRect(MainWindow, &opened);
            openedStyle = GetWindowLongA(ListView, GWL_STYLE) & LVS_TYPEMASK;
            WindowPosition rewritten = StoredWindowPos();
            EXPECT_EQ(rewritten.ScreenWidth, screenWidth_);
            EXPECT_EQ(rewritten.Left, 64 * fx / 10);
            MoveWindow(MainWindow, 30, 40, 500, 350, TRUE);
            SendMessageA(MainWindow, WM_COMMAND, IDM_VIEW_LIST, 0);
            SendMessageA(MainWindow, WM_COMMAND, IDM_FILE_EXIT, 0);
        },
        {false});
    EXPECT_EQ(opened.left, 64 * fx / 10);
    EXPECT_EQ(opened.top, 48 * fy / 10);
    EXPECT_EQ(opened.right - opened.left, 320 * fx / 10);
    EXPECT_EQ(opened.bottom - opened.top, 240 * fy / 10);
    EXPECT_EQ(openedStyle, static_cast<DWORD>(LVS_REPORT)) << "view mode 1 is details";
    WindowPosition closed = StoredWindowPos();
    EXPECT_EQ(closed.Left, 30);
    EXPECT_EQ(closed.Top, 40);
    EXPECT_EQ(closed.Width, 500);
    EXPECT_EQ(closed.Height, 350);
    EXPECT_EQ(closed.ViewMode, 3) << "list view";
    EXPECT_EQ(closed.ScreenWidth, screenWidth_);
    EXPECT_EQ(closed.ScreenHeight, screenHeight_);
}

TEST_F(WindowPositionRun, AMaximizedOrMinimizedWindowKeepsTheStoredPosition) {
    for (int show : {SW_MAXIMIZE, SW_MINIMIZE}) {
        WindowPosition stored = {11, 22, 333, 244, 0, screenWidth_, screenHeight_};
        WriteWindowPos(stored);
        RunProgram([&] { ShowWindow(MainWindow, show); });
        WindowPosition after = StoredWindowPos();
        EXPECT_EQ(memcmp(&after, &stored, sizeof stored), 0) << show;
    }
}

TEST_F(WindowPositionRun, ADisplayChangeRescalesTheNormalPosition) {
    qvx::test::ForgetWindowPosition();
    RunProgram([&] {
        MoveWindow(MainWindow, 100, 100, 500, 400, TRUE);
        WriteWindowPos({100, 100, 500, 400, 2, screenWidth_, screenHeight_});
        SendMessageA(MainWindow, WM_DISPLAYCHANGE, 24, MAKELPARAM(640, 480));
        long fx = 640 * 10L / screenWidth_, fy = 480 * 10L / screenHeight_;
        WindowPosition stored = StoredWindowPos();
        EXPECT_EQ(stored.ScreenWidth, 640);
        EXPECT_EQ(stored.ScreenHeight, 480);
        EXPECT_EQ(stored.Left, 100 * fx / 10);
        EXPECT_EQ(stored.Width, 500 * fx / 10);
        EXPECT_EQ(stored.Height, 400 * fy / 10);
        EXPECT_EQ(stored.ViewMode, 2) << "the stored view mode is kept";
        WINDOWPLACEMENT placement = {};
        placement.length = sizeof placement;
        GetWindowPlacement(MainWindow, &placement);
        EXPECT_EQ(placement.rcNormalPosition.left, stored.Left);
        EXPECT_EQ(placement.rcNormalPosition.right - placement.rcNormalPosition.left, stored.Width);
    });
}

} // namespace
