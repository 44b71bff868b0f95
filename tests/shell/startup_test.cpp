// Start-up's decisions and messages, and the stored window position, with
// the program run in-process on emulated machines.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "inventory/inventory.h"
#include "resource.h"
#include "shell/aspiload.h"
#include "shell/mainwindow.h"
#include "shell/splash.h"
#include "shell/startup.h"
#include "shell/strings.h"
#include "support/program.h"
#include "support/registry.h"
#include "support/testwindow.h"
#include "support/uiscript.h"
#include "views/devicetree.h"

namespace {

using namespace qvx::test;
using Longs = std::vector<LONG>;

const std::string kMachines = QVX_SHELL_MACHINES "/";

TEST(AdapterRecord, TakesTheInquiryCutToItsFields) {
    const struct {
        const char* identifier; // 16 bytes, not terminated when full
        const char* manager;
        BYTE targets;
        const char* record;
    } cases[] = {
        {"KESTRAIL-2\x01XYZ", "ASPI for WIN32", 0, "KESTRAIL-2|ASPI for WIN32|3|7|8"},
        {"ABCDEFGHIJKLMNOP", "MANAGER 16 CHARS", 16, "ABCDEFGHIJKLMNO|MANAGER 16 CHAR|3|7|16"},
        {"AHA 2940\tUW", "", 8, "AHA 2940||3|7|8"},
    };
    for (const auto& c : cases) {
        SRB_HAInquiry block = {};
        memcpy(block.HA_Identifier, c.identifier, strnlen(c.identifier, 16));
        memcpy(block.HA_ManagerId, c.manager, strnlen(c.manager, 16));
        block.SRB_HaId = 3;
        block.HA_SCSI_ID = 7;
        block.HA_Unique[3] = c.targets;
        HostAdapterRecord r = {};
        FillAdapterRecord(&r, &block);
        EXPECT_EQ(std::string(r.Identifier) + "|" + r.ManagerId + "|" +
                      std::to_string(r.AdapterNumber) + "|" + std::to_string(r.HostScsiId) + "|" +
                      std::to_string(r.MaxTargets),
                  c.record);
    }
}

// Adapter enumeration on its own: the emulated library loaded as start-up
// loads it, and a tree to take the adapters' items. Two adapters, numbers
// 1 and 3, must land in the first two records without a gap.
class AdapterEnumeration : public ::testing::Test {
  protected:
    void Enumerate(const char* machine, int platform, int atStartup, const char* second) {
        SelectMachine(kMachines + machine);
        InitializeInventory();
        ASSERT_TRUE(PreloadStrings(GetModuleHandleA(nullptr)));
        ASSERT_TRUE(LoadAspiLibrary());
        UseAspi = 1;
        PlatformKind = platform;
        AppInstance = GetModuleHandleA(nullptr);
        ASSERT_NE(CreateDeviceTree(parent_.hwnd()), nullptr);
        BeginAdapterEnumeration(LOBYTE(GetAspi32SupportInfo()), atStartup);
        EXPECT_EQ(AdapterCount, 2);
        EXPECT_EQ(std::string(HostAdapterTable[0].Identifier) + "|" +
                      HostAdapterTable[1].Identifier + "|" + HostAdapterTable[2].Identifier,
                  std::string("KESTRAIL|") + second + "|");
        EXPECT_EQ(HostAdapterTable[0].AdapterNumber + HostAdapterTable[1].AdapterNumber * 10, 31);
        EXPECT_EQ(TreeAdapterLabels(), (std::vector<std::string>{HostAdapterTable[0].Description,
                                                                 HostAdapterTable[1].Description}));
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

// Windows 95: the IDE pseudo adapter and an impossible SCSI ID (16; 15 is
// kept) are left out; the missing KVXHBA device is warned about at start-up
// only, and without an icon.
TEST_F(AdapterEnumeration, Windows95LeavesOutPseudoAdapters) {
    for (int atStartup : {1, 0}) {
        UiScript ui;
        if (atStartup)
            ui.expect(MsgBox()
                          .caption("Quorvex Diagnostics status:")
                          .text("Unable to access the KVXHBA.Vxd."))
                .press(IDOK);
        Enumerate("win95_pseudo_adapters.ini", PLATFORM_WIN95, atStartup, "KESTRAIL 2");
        ui.verify();
        for (const WindowRecord& shown : ui.seen())
            EXPECT_EQ(shown.icon, 0u);
        TearDown();
    }
}

// Windows NT: the ports at the IDE channels' addresses are left out.
TEST_F(AdapterEnumeration, NtLeavesOutIdeChannels) {
    RegistryKeys registry;
    registry.Own("Hardware\\DeviceMap\\SCSI");
    const DWORD addresses[] = {0x1F0, 0x6000, 0x170, 0xE800};
    for (int port = 0; port < 4; port++)
        registry.SetDword("Hardware\\DeviceMap\\SCSI\\SCSI PORT " + std::to_string(port),
                          "IOAddress", addresses[port]);
    Enumerate("nt_ide_channels.ini", PLATFORM_NT, 1, "LQ450");
}

// Adapters without an identifier (the first and the third) are scanned like
// the others and labelled with their ASPI number; the named one keeps its
// description, none in this registry.
TEST(Startup, AdaptersWithoutIdentifierAreScannedAndLabelled) {
    InstalledHelpPath help;
    RegistryKeys registry;
    registry.Own("Hardware\\DeviceMap\\SCSI");
    SelectMachine(kMachines + "unnamed_adapters.ini");
    std::vector<std::string> labels;
    RunProgram([&] { labels = TreeAdapterLabels(); });
    EXPECT_EQ(labels, (std::vector<std::string>{"(Unnamed host adapter 0)", "",
                                                "(Unnamed host adapter 2)"}));
    EXPECT_EQ(HostAdapterTable[0].DeviceCount * 10 + HostAdapterTable[2].DeviceCount, 11);
}

TEST(Startup, AspiNotAvailableWarnsTwiceAndStillComesUp) {
    InstalledHelpPath help;
    SelectMachine(kMachines + "aspi_not_available.ini");
    UiScript ui;
    ui.expect(
          MsgBox().caption("Quorvex Diagnostics status:").text("ASPI for WIN32 is not available !"))
        .press(IDOK);
    ui.expect(MsgBox().text("A Veltrane Kestrail series SCSI Host Adapter was not detected !"))
        .press(IDOK);
    UINT menuItem = 0;
    EXPECT_EQ(RunProgram([&] {
                  EXPECT_EQ(UseAspi, 0);
                  EXPECT_EQ(ListView_GetItemCount(ListView), 0);
                  menuItem = GetMenuState(MainMenu, IDM_DIAGNOSTIC_TESTS, MF_BYCOMMAND);
              }),
              0);
    ui.verify();
    EXPECT_TRUE(ProgramBodyRan()) << "the window came up";
    EXPECT_EQ(menuItem, 0xFFFFFFFFu) << "no diagnostic tests without ASPI";
    ASSERT_EQ(ui.seen().size(), 2u);
    EXPECT_EQ(ui.seen()[0].icon + ui.seen()[1].icon, 2u * MB_ICONHAND);
}

TEST(Startup, NoAdaptersReportedEndsTheProgram) {
    InstalledHelpPath help;
    SelectMachine(kMachines + "zero_adapters.ini");
    UiScript ui;
    HWND owner = reinterpret_cast<HWND>(1);
    ui.expect(MsgBox()
                  .caption("Quorvex Diagnostics status:")
                  .text("unable to detect any SCSI Host Adapters"))
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

// ---- Window position ----

Longs Fields(const WindowPosition& r) {
    return {r.Left, r.Top, r.Width, r.Height, r.ViewMode, r.ScreenWidth, r.ScreenHeight};
}

TEST(WindowPosition, DefaultsOrRescalesTheStoredRecord) {
    const struct {
        WindowPosition record;
        int cx, cy, useDefaults;
        Longs expected;
    } cases[] = {
        // Each fifth is rounded down before it is tripled.
        {{}, 1023, 767, 1, {204, 153, 612, 459, 0, 1023, 767}},
        // By tenths, rounded down: 800 x 10 / 640 = 12 across, 768 x 10 / 480 = 16 down.
        {{100, 50, 401, 301, 3, 640, 480}, 800, 768, 0, {120, 80, 481, 481, 3, 800, 768}},
        // No usable stored screen size: the defaults.
        {{10, 10, 10, 10, 2, 0, 480}, 800, 600, 0, {160, 120, 480, 360, 0, 800, 600}},
        {{10, 10, 10, 10, 2, 640, -480}, 800, 600, 0, {160, 120, 480, 360, 0, 800, 600}},
        // A garbled record is clamped, never wrapped.
        {{0x40000000, -0x40000000, 0x7FFFFFFF, 10, 0, 1, 1},
         800,
         600,
         0,
         {0x7FFFFFFF, -0x7FFFFFFF, 0x7FFFFFFF, 6000, 0, 800, 600}},
    };
    for (const auto& c : cases) {
        WindowPosition record = c.record;
        ComputeWindowPos(&record, c.cx, c.cy, c.useDefaults);
        EXPECT_EQ(Fields(record), c.expected) << c.record.Left;
    }
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

Longs StoredWindowPos() {
    WindowPosition record = {};
    EXPECT_TRUE(ReadWindowPos(&record)) << "no window position stored";
    return Fields(record);
}

class WindowPositionRun : public ::testing::Test {
  protected:
    void SetUp() override {
        SelectMachine(kMachines + "two_adapters.ini");
        ForgetWindowPosition();
    }
    void TearDown() override {
        ForgetWindowPosition();
    }
    InstalledHelpPath help_;
    LONG cx_ = GetSystemMetrics(SM_CXSCREEN), cy_ = GetSystemMetrics(SM_CYSCREEN);
};

// Each run: what is stored before, where the window opens (and what is
// stored then), in which view, what the user does, what closing leaves.
TEST_F(WindowPositionRun, OpensWhereStoredAndStoresWhereClosed) {
    const Longs defaults = {cx_ / 5, cy_ / 5, cx_ / 5 * 3, cy_ / 5 * 3, 0, cx_, cy_};
    const LONG fx = cx_ * 10 / 640, fy = cy_ * 10 / 480;
    const Longs rescaled = {64 * fx / 10, 48 * fy / 10, 320 * fx / 10, 240 * fy / 10, 1, cx_, cy_};
    const WindowPosition current = {11, 22, 333, 244, 2, cx_, cy_};
    struct Run {
        std::optional<WindowPosition> stored;
        Longs opened;
        LONG view;
        std::function<void()> user;
        Longs closed;
    };
    // A record that would leave the window out of reach or too small to use
    // gives way to the defaults, in the registry too; one that fits is kept.
    auto reset = [&](WindowPosition r) { return Run{r, defaults, LVS_ICON, [] {}, defaults}; };
    RECT w;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &w, 0);
    const LONG width = w.right - w.left, height = w.bottom - w.top,
               minX = GetSystemMetrics(SM_CXMINTRACK), minY = GetSystemMetrics(SM_CYMINTRACK),
               caption = GetSystemMetrics(SM_CYCAPTION) + GetSystemMetrics(SM_CYFRAME);
    const WindowPosition fits = {w.left, w.top, width, height, 2, cx_, cy_},
                         low = {w.left, w.bottom - caption, 300, 200, 2, cx_, cy_},
                         tiny = {w.left, w.top, minX, minY, 2, cx_, cy_};
    const Run runs[] = {
        {std::nullopt, defaults, LVS_ICON, [] {}, defaults},
        {WindowPosition{64, 48, 320, 240, 1, 640, 480},
         rescaled,
         LVS_REPORT,
         [] {
             MoveWindow(MainWindow, 30, 40, 500, 350, TRUE);
             Command(IDM_VIEW_LIST);
         },
         {30, 40, 500, 350, 3, cx_, cy_}},
        {current, Fields(current), LVS_SMALLICON, [] { ShowWindow(MainWindow, SW_MAXIMIZE); },
         Fields(current)},
        {current, Fields(current), LVS_SMALLICON, [] { ShowWindow(MainWindow, SW_MINIMIZE); },
         Fields(current)},
        {fits, Fields(fits), LVS_SMALLICON, [] {}, Fields(fits)},
        {low, Fields(low), LVS_SMALLICON, [] {}, Fields(low)},
        {tiny, Fields(tiny), LVS_SMALLICON, [] {}, Fields(tiny)},
        reset({100000, 100000, 500, 400, 1, 800, 600}),
        reset({0x10000000, 0x10000000, 300, 200, 2, 1, 1}),
        reset({w.left - 1, w.top, 300, 200, 2, cx_, cy_}),
        reset({w.left + 1, w.top, width, 200, 2, cx_, cy_}),
        reset({w.left, w.top - 1, 300, 200, 2, cx_, cy_}),
        reset({w.left, w.bottom - caption + 1, 300, 200, 2, cx_, cy_}),
        reset({w.left, w.top, 300, height + 1, 2, cx_, cy_}),
        reset({w.left, w.top, minX - 1, 200, 2, cx_, cy_}),
        reset({w.left, w.top, 300, minY - 1, 2, cx_, cy_}),
    };
    for (const auto& run : runs) {
        ForgetWindowPosition();
        if (run.stored)
            WriteWindowPos(*run.stored);
        RunProgram([&] {
            RECT r;
            GetWindowRect(MainWindow, &r);
            EXPECT_EQ((Longs{r.left, r.top, r.right - r.left, r.bottom - r.top}),
                      Longs(run.opened.begin(), run.opened.begin() + 4));
            EXPECT_EQ(StoredWindowPos(), run.opened);
            EXPECT_EQ(GetWindowLongA(ListView, GWL_STYLE) & LVS_TYPEMASK, run.view);
            run.user();
        });
        EXPECT_EQ(StoredWindowPos(), run.closed) << run.view;
    }
}

TEST_F(WindowPositionRun, ADisplayChangeRescalesTheNormalPosition) {
    RunProgram([&] {
        MoveWindow(MainWindow, 100, 100, 500, 400, TRUE);
        WriteWindowPos({100, 100, 500, 400, 2, cx_, cy_});
        SendMessageA(MainWindow, WM_DISPLAYCHANGE, 24, MAKELPARAM(640, 480));
        LONG fx = 640 * 10 / cx_, fy = 480 * 10 / cy_;
        Longs stored = StoredWindowPos();
        EXPECT_EQ(stored,
                  (Longs{100 * fx / 10, 100 * fy / 10, 500 * fx / 10, 400 * fy / 10, 2, 640, 480}));
        WINDOWPLACEMENT placement = {};
        placement.length = sizeof placement;
        GetWindowPlacement(MainWindow, &placement);
        const RECT& normal = placement.rcNormalPosition;
        EXPECT_EQ((Longs{normal.left, normal.top, normal.right - normal.left,
                         normal.bottom - normal.top}),
                  Longs(stored.begin(), stored.begin() + 4));
    });
}

} // namespace
