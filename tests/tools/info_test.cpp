// The host adapter and system SCSI information dialogs with real controls,
// over the files that machines installed into this test's prefix lay in the
// system directory: which files each dialog looks for on which Windows
// family and transport, and the colours they paint.
#include <gtest/gtest.h>
#include <windows.h>
#include <process.h>

#include <functional>
#include <string>

#include "resource.h"
#include "shell/toolentry.h"
#include "support/uiscript.h"
#include "support/devicetools.h"

namespace {

using namespace qvx::test;

// Runs qvxmachine.exe (beside this program) with a machine file or /remove.
DWORD RunInstaller(const std::string& argument) {
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string path = exe;
    path = path.substr(0, path.find_last_of("\\/")) + "\\qvxmachine.exe";
    return static_cast<DWORD>(_spawnl(_P_WAIT, path.c_str(), ("\"" + path + "\"").c_str(),
                                      ("\"" + argument + "\"").c_str(), nullptr));
}

// The colour of a pattern bitmap at a point of the dialog it fills from its
// top-left corner; the 16 colours of a pattern never equal Wine's face.
COLORREF PatternAt(int bitmapId, int x, int y) {
    HBITMAP bitmap = LoadBitmapA(AppInstance, MAKEINTRESOURCEA(bitmapId));
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    COLORREF corner = GetPixel(dc, x % 8, y % 8);
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bitmap);
    return corner;
}

class InfoDialogs : public DeviceToolsTest {
  protected:
    // The prefix is shared with the other tests: leave no machine behind.
    void TearDown() override {
        EXPECT_EQ(RunInstaller("/remove"), 0u);
        DeviceToolsTest::TearDown();
    }
};

TEST_F(InfoDialogs, SystemInfoListsTheLayerFilesOfThePlatformAndTransport) {
    const std::string none = "Unable to retrieve version information for\n system SCSI layer.";
    const std::string aspi = " WNASPI32.DLL Version: 4.60 (1021)";
    const std::string win95 = "\n\n SCSI1HLP.VxD Version: 4.00.950\n\n SCSIPORT.PDR Version: "
                              "4.00.950\n\n APIX.VxD Version: 4.60 (1021)";
    const std::string nt =
        "\n\n Aspi32.sys Version: 4.60 (1021)\n\n AspiXNT.sys Version: 4.60 (1021)";
    struct Case {
        const char* machine; // installed first; none: the one before stays
        LONG platform, useAspi;
        std::string text;
    } cases[] = {
        {"win95-missing-files.ini", PLATFORM_WIN95, 1, aspi + win95},
        {nullptr, PLATFORM_WIN95, 0, win95},
        {nullptr, PLATFORM_NT, 1, aspi}, // NT never looks in IOSUBSYS
        {nullptr, PLATFORM_NT, 0, none},
        {"default.ini", PLATFORM_NT, 1, aspi + nt},
        {nullptr, PLATFORM_WIN95, 1, aspi}, // nor Windows 95 in DRIVERS
        {"win95-unversioned-aspi.ini", PLATFORM_WIN95, 1, none},
        {nullptr, PLATFORM_WIN95, 0, "\n\n KVXHBA.VxD Version: 2.10" + win95},
    };
    COLORREF pattern = PatternAt(IDB_PATTERN_SYSTEM_INFO, 0, 0);
    for (const Case& c : cases) {
        if (c.machine != nullptr) {
            ASSERT_EQ(RunInstaller(std::string(QVX_EMULATION_MACHINES) + "/" + c.machine), 0u);
        }
        PlatformKind = c.platform;
        UseAspi = c.useAspi;
        WhileOpen(
            "System SCSI Information:", [] { EXPECT_EQ(ToolEntries.SystemInfo(nullptr), 1); },
            [&](HWND dialog) {
                EXPECT_EQ(Texts(dialog, {IDC_SYSTEM_INFO_TEXT}), c.text) << c.platform << c.useAspi;
                EXPECT_EQ(PixelAt(dialog, 0, 0), pattern);
                RECT panel = ControlRect(dialog, IDC_SYSTEM_INFO_TEXT);
                EXPECT_EQ(PixelAt(dialog, panel.left + 4, panel.bottom - 8), RGB(255, 255, 255));
            });
    }
}

TEST_F(InfoDialogs, AdapterInfoShowsTheRecordAndTheDriverFilesVersion) {
    // IOSUBSYS holds kestrail.mpd 2.10.0.0 and lq450.mpd without a version.
    ASSERT_EQ(RunInstaller(QVX_EMULATION_MACHINES "/win95-missing-files.ini"), 0u);
    HostAdapterRecord& a = HostAdapterTable[3];
    CopyText(a.Description, sizeof a.Description, "Acme PCI SCSI Controller");
    CopyText(a.AdapterName, sizeof a.AdapterName, "ACME");
    CopyText(a.ManagerId, sizeof a.ManagerId, "ASPI for WIN32");
    a.AdapterNumber = 3;
    a.HostScsiId = 15;
    const std::string na = TextNotAvailable;
    struct Case {
        LONG platform;
        const char* driver;
        const char* date;
        LONG maxTargets;
        std::string shown; // version, date, devices
    } cases[] = {
        {PLATFORM_WIN95, "kestrail.mpd", "10-02-1997", 16, "2.10.0.0|10-02-1997|15 SCSI Devices"},
        {PLATFORM_NT, "kestrail.mpd", "", 8, na + "|" + na + "|7 SCSI Devices"}, // not in DRIVERS
        {PLATFORM_WIN95, "lq450.mpd", "", 32, na + "|" + na + "|31 SCSI Devices"},
        {PLATFORM_WIN95, "absent.mpd", "", 0, na + "|" + na + "|" + na},
    };
    for (const Case& c : cases) {
        PlatformKind = c.platform;
        CopyText(a.DriverFile, sizeof a.DriverFile, c.driver);
        CopyText(a.DriverDate, sizeof a.DriverDate, c.date);
        a.MaxTargets = c.maxTargets;
        WhileOpen(
            "SCSI Host Adapter Information:",
            [] { EXPECT_EQ(ToolEntries.AdapterInfo(nullptr, 3), 1); },
            [&](HWND dialog) {
                EXPECT_EQ(Texts(dialog, {1025, 1021, 1022, 1024, 1023, 1026}),
                          "Acme PCI SCSI Controller|ACME|3|15|ASPI for WIN32|" +
                              std::string(c.driver));
                EXPECT_EQ(Texts(dialog, {1027, 1029, 1028}), c.shown);
                EXPECT_EQ(PixelAt(dialog, 0, 0), PatternAt(IDB_PATTERN_ADAPTER_INFO, 0, 0));
                // The group box is a plain face but for its caption line,
                // which keeps the pattern left of the caption.
                RECT group = ControlRect(dialog, IDC_FIELD_1025);
                EXPECT_EQ(PixelAt(dialog, group.left + 4, group.bottom - 8),
                          GetSysColor(COLOR_3DFACE));
                EXPECT_EQ(PixelAt(dialog, group.left + 3, group.top + 2),
                          PatternAt(IDB_PATTERN_ADAPTER_INFO, group.left + 3, group.top + 2));
            });
    }
    EXPECT_EQ(ToolEntries.AdapterInfo(nullptr, MAX_ADAPTERS), 0) << "no record, no dialog";
}

} // namespace
