// Start-up's decisions and messages with the program run in-process on
// emulated machines, quorvex.exe started alone under the Windows versions
// that decide what it does without ASPI, and the stored window position.
#include <gtest/gtest.h>

#include <tuple>

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
#include "views/devicelist.h"
#include "views/devicetree.h"

namespace {

using namespace qvx::test;
using Longs = std::vector<LONG>;

const std::string kMachines = QVX_SHELL_MACHINES "/";

// Identifier and manager (16 bytes, not terminated when full) and target
// count: the record as "identifier|manager|number|SCSI ID|targets".
TEST(AdapterRecord, TakesTheInquiryCutToItsFields) {
    const std::tuple<const char*, const char*, BYTE, const char*> cases[] = {
        {"KESTRAIL-2\x01XYZ", "ASPI for WIN32", 0, "KESTRAIL-2|ASPI for WIN32|3|7|8"},
        {"ABCDEFGHIJKLMNOP", "MANAGER 16 CHARS", 16, "ABCDEFGHIJKLMNO|MANAGER 16 CHAR|3|7|16"},
        {"AHA 2940\tUW", "", 8, "AHA 2940||3|7|8"},
    };
    for (const auto& [identifier, manager, targets, expected] : cases) {
        SRB_HAInquiry block = {};
        memcpy(block.HA_Identifier, identifier, strnlen(identifier, 16));
        memcpy(block.HA_ManagerId, manager, strnlen(manager, 16));
        block.SRB_HaId = 3;
        block.HA_SCSI_ID = 7;
        block.HA_Unique[3] = targets;
        HostAdapterRecord r = {};
        FillAdapterRecord(&r, &block);
        EXPECT_EQ(std::string(r.Identifier) + "|" + r.ManagerId + "|" +
                      std::to_string(r.AdapterNumber) + "|" + std::to_string(r.HostScsiId) + "|" +
                      std::to_string(r.MaxTargets),
                  expected);
    }
}

// Adapter enumeration on its own, into a tree of its own. Two adapters, ASPI
// numbers 1 and 3, land in the first two records without a gap: on Windows
// 95 the IDE pseudo adapter and an impossible SCSI ID (16; 15 is kept) are
// left out, and the missing KVXHBA device is warned about, without an icon,
// at start-up only; on NT the ports at the IDE channels' addresses.
TEST(AdapterEnumeration, LeavesOutAdaptersThatAreNoScsiHostAdapters) {
    RegistryKeys registry;
    registry.Own("Hardware\\DeviceMap\\SCSI");
    const DWORD addresses[] = {0x1F0, 0x6000, 0x170, 0xE800};
    for (int port = 0; port < 4; port++)
        registry.SetDword("Hardware\\DeviceMap\\SCSI\\SCSI PORT " + std::to_string(port),
                          "IOAddress", addresses[port]);
    const std::tuple<const char*, int, int, const char*> runs[] = {
        {"win95_pseudo_adapters.ini", PLATFORM_WIN95, 1, "KESTRAIL|KESTRAIL 2|"},
        {"win95_pseudo_adapters.ini", PLATFORM_WIN95, 0, "KESTRAIL|KESTRAIL 2|"},
        {"nt_ide_channels.ini", PLATFORM_NT, 1, "KESTRAIL|LQ450|"}};
    for (const auto& [machine, platform, atStartup, identifiers] : runs) {
        SelectMachine(kMachines + machine);
        InitializeInventory();
        ASSERT_TRUE(PreloadStrings(GetModuleHandleA(nullptr)));
        ASSERT_TRUE(LoadAspiLibrary());
        UseAspi = 1;
        PlatformKind = platform;
        AppInstance = GetModuleHandleA(nullptr);
        TestWindow parent;
        ASSERT_NE(CreateDeviceTree(parent.hwnd()), nullptr);
        UiScript ui;
        if (platform == PLATFORM_WIN95 && atStartup)
            ui.expect(MsgBox().text("Unable to access the KVXHBA.Vxd.")).press(IDOK);
        BeginAdapterEnumeration(LOBYTE(GetAspi32SupportInfo()), atStartup);
        ui.verify();
        for (const WindowRecord& shown : ui.seen())
            EXPECT_EQ(shown.icon, 0u);
        EXPECT_EQ(std::string(HostAdapterTable[0].Identifier) + "|" +
                      HostAdapterTable[1].Identifier + "|" + HostAdapterTable[2].Identifier,
                  identifiers);
        EXPECT_EQ(AdapterCount * 100 + HostAdapterTable[0].AdapterNumber +
                      HostAdapterTable[1].AdapterNumber * 10,
                  231);
        DestroyViewImageLists();
        UnloadAspiLibrary();
    }
    UseAspi = PlatformKind = 0;
}

// Start-up on machines whose ASPI is not ready or whose adapters have no
// identifier: each message with its icon, owned by the hidden main window
// unless the program ends before that is of use; then what the window shows
// (tree labels, devices on the first and third adapters as first * 10 +
// third, whether the diagnostic tests item is there), or the end with
// nothing left behind. Unnamed adapters are scanned like the others and
// labelled with their ASPI number; the named one has no description in this
// registry.
TEST(Startup, ReportsAspiTroubleOrLabelsUnnamedAdapters) {
    InstalledHelpPath help;
    RegistryKeys registry;
    registry.Own("Hardware\\DeviceMap\\SCSI");
    // The machine, each message (a part of its text, its icon), what is shown.
    const std::tuple<const char*, std::vector<std::pair<const char*, UINT>>, const char*> starts[] =
        {
            {"aspi_not_available.ini",
             {{"ASPI for WIN32 is not available !", MB_ICONHAND},
              {"A Veltrane Kestrail series SCSI Host Adapter was not detected !", MB_ICONHAND}},
             "0"},
            {"zero_adapters.ini",
             {{"unable to detect any SCSI Host Adapters", MB_ICONASTERISK}},
             ""},
            {"unnamed_adapters.ini", {}, "(Unnamed host adapter 0)||(Unnamed host adapter 2)|11"},
        };
    for (const auto& [machine, messages, expected] : starts) {
        SelectMachine(kMachines + machine);
        const bool comesUp = expected[0] != '\0';
        UiScript ui;
        for (const auto& m : messages)
            ui.expect(MsgBox().caption("Quorvex Diagnostics status:").text(m.first))
                .then([comesUp, m](HWND box, const WindowRecord& shown) {
                    EXPECT_EQ(shown.icon, m.second) << m.first;
                    EXPECT_EQ(GetWindow(box, GW_OWNER) != nullptr, comesUp) << m.first;
                })
                .press(IDOK);
        std::string shown;
        EXPECT_EQ(RunProgram([&] {
                      for (const std::string& label : TreeAdapterLabels())
                          shown += label + "|";
                      shown += std::to_string(HostAdapterTable[0].DeviceCount * 10 +
                                              HostAdapterTable[2].DeviceCount);
                  }),
                  0);
        ui.verify();
        EXPECT_EQ(shown, expected);
        EXPECT_EQ(ProgramBodyRan(), comesUp) << machine;
        EXPECT_FALSE(SplashIsUp());
        EXPECT_EQ(FindWindowA(nullptr, "Quorvex Diagnostics"), nullptr);
    }
}

// ---- quorvex.exe itself ----

// quorvex.exe without a wnaspi32.dll, under the Windows versions that decide
// what it does then: a message each, owned by the hidden main window once
// there is one; the NT pass-through runs on with empty views, the others
// end; every start ends with exit code 0.
TEST(Program, StartsWithoutAspiLibrary) {
    if (LoneProgram::SystemHasAspiLibrary())
        GTEST_SKIP() << "a wnaspi32.dll was installed in the system folder";
    InstalledHelpPath help;
    // The version, the message, whether it is owned, whether the program runs on.
    const std::tuple<const char*, const char*, bool, bool> starts[] = {
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
    for (const auto& [version, text, owned, runs] : starts) {
        LoneProgram program(version);
        HWND box = program.WaitForWindow("#32770"), owner = GetWindow(box, GW_OWNER);
        EXPECT_EQ(WindowText(box) + "|" + WindowText(GetDlgItem(box, 0xFFFF)) + "|" +
                      (owner != nullptr ? WindowText(owner) : ""),
                  std::string("Quorvex Diagnostics status:|") + text + "|" +
                      (owned ? "Quorvex Diagnostics" : ""));
        EXPECT_NE(SendDlgItemMessageA(box, 1088, STM_GETICON, 0, 0), 0) << "a stop icon";
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        HWND main = runs ? program.WaitForWindow("APP_UI_WClass") : nullptr;
        EXPECT_EQ(WindowText(GetDlgItem(main, 1000)), runs ? "Currently selected:  None" : "");
        if (main != nullptr)
            PostMessageA(main, WM_CLOSE, 0, 0);
        EXPECT_EQ(program.WaitForExit(), 0u) << version;
    }
    ForgetWindowPosition();
}

// ---- Window position ----

Longs Fields(const WindowPosition& r) {
    return {r.Left, r.Top, r.Width, r.Height, r.ViewMode, r.ScreenWidth, r.ScreenHeight};
}

Longs StoredWindowPos() {
    WindowPosition record = {};
    EXPECT_TRUE(ReadWindowPos(&record)) << "no window position stored";
    return Fields(record);
}

TEST(WindowPosition, DefaultsOrRescalesTheStoredRecord) {
    const LONG kMax = 0x7FFFFFFF, kHalf = 1 << 30;
    // The stored record, the screen, whether to use the defaults, the result.
    const std::tuple<WindowPosition, int, int, int, Longs> cases[] = {
        // By tenths, rounded down: 800 x 10 / 640 = 12 across, 768 x 10 / 480 = 16 down.
        {{100, 50, 401, 301, 3, 640, 480}, 800, 768, 0, {120, 80, 481, 481, 3, 800, 768}},
        // No usable stored screen size: the defaults.
        {{10, 10, 10, 10, 2, 0, 480}, 800, 600, 0, {160, 120, 480, 360, 0, 800, 600}},
        {{10, 10, 10, 10, 2, 640, -480}, 800, 600, 0, {160, 120, 480, 360, 0, 800, 600}},
        // A garbled record is clamped, never wrapped, even when twice the
        // largest value would still fit in 32 bits without a sign.
        {{kHalf, -kHalf, kMax, 10, 0, 1, 1}, 800, 600, 0, {kMax, -kMax, kMax, 6000, 0, 800, 600}},
        {{kHalf, 0, 400, 300, 0, 400, 300}, 800, 600, 0, {kMax, 0, 800, 600, 0, 800, 600}},
    };
    for (const auto& [stored, cx, cy, useDefaults, expected] : cases) {
        WindowPosition record = stored;
        ComputeWindowPos(&record, cx, cy, useDefaults);
        EXPECT_EQ(Fields(record), expected) << stored.Left;
    }
}

// Each run: what is stored before, where the window opens (and what is
// stored then), in which view, what the user does, what closing leaves. A
// record that would leave the window out of reach or too small to use gives
// way to the defaults, in the registry too; one that fits is kept. A display
// change rescales the stored record and the window's normal position.
TEST(WindowPosition, OpensWhereStoredAndStoresWhereClosed) {
    InstalledHelpPath help;
    SelectMachine(kMachines + "two_adapters.ini");
    const LONG cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    const Longs defaults = {cx / 5, cy / 5, cx / 5 * 3, cy / 5 * 3, 0, cx, cy};
    const LONG fx = cx * 10 / 640, fy = cy * 10 / 480, gx = 640 * 10 / cx, gy = 480 * 10 / cy;
    struct Run {
        std::optional<WindowPosition> stored;
        Longs opened;
        LONG view;
        std::function<void()> user;
        Longs closed;
    };
    auto reset = [&](WindowPosition r) { return Run{r, defaults, LVS_ICON, [] {}, defaults}; };
    auto kept = [&](
                    WindowPosition r, std::function<void()> user = [] {}) {
        return Run{r, Fields(r), LVS_SMALLICON, user, Fields(r)};
    };
    RECT w;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &w, 0);
    const LONG width = w.right - w.left, height = w.bottom - w.top,
               minX = GetSystemMetrics(SM_CXMINTRACK), minY = GetSystemMetrics(SM_CYMINTRACK),
               caption = GetSystemMetrics(SM_CYCAPTION) + GetSystemMetrics(SM_CYFRAME);
    const WindowPosition current = {100, 100, 500, 400, 2, cx, cy};
    Run display =
        kept(current, [] { SendMessageA(MainWindow, WM_DISPLAYCHANGE, 24, MAKELPARAM(640, 480)); });
    display.closed = {100 * gx / 10, 100 * gy / 10, 500 * gx / 10, 400 * gy / 10, 2, cx, cy};
    const Run runs[] = {
        {std::nullopt, defaults, LVS_ICON, [] {}, defaults},
        {WindowPosition{64, 48, 320, 240, 1, 640, 480},
         {64 * fx / 10, 48 * fy / 10, 320 * fx / 10, 240 * fy / 10, 1, cx, cy},
         LVS_REPORT,
         [] {
             MoveWindow(MainWindow, 30, 40, 500, 350, TRUE);
             Command(IDM_VIEW_LIST);
         },
         {30, 40, 500, 350, 3, cx, cy}},
        kept(current, [] { ShowWindow(MainWindow, SW_MAXIMIZE); }),
        kept(current, [] { ShowWindow(MainWindow, SW_MINIMIZE); }),
        display,
        kept({w.left, w.top, width, height, 2, cx, cy}),
        kept({w.left, w.bottom - caption, 300, 200, 2, cx, cy}),
        kept({w.left, w.top, minX, minY, 2, cx, cy}),
        reset({0x10000000, 0x10000000, 300, 200, 2, 1, 1}),
        reset({w.left - 1, w.top, 300, 200, 2, cx, cy}),
        reset({w.left + 1, w.top, width, 200, 2, cx, cy}),
        reset({w.left, w.top - 1, 300, 200, 2, cx, cy}),
        reset({w.left, w.bottom - caption + 1, 300, 200, 2, cx, cy}),
        reset({w.left, w.top, 300, height + 1, 2, cx, cy}),
        reset({w.left, w.top, minX - 1, 200, 2, cx, cy}),
        reset({w.left, w.top, 300, minY - 1, 2, cx, cy}),
    };
    for (const auto& run : runs) {
        ForgetWindowPosition();
        HKEY key;
        RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr);
        if (run.stored)
            RegSetValueExA(key, WINDOW_POS_VALUE, 0, REG_BINARY,
                           reinterpret_cast<const BYTE*>(&*run.stored), sizeof *run.stored);
        RegCloseKey(key);
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
    ForgetWindowPosition();
}

} // namespace
