// The whole program in-process on Windows NT without ASPI (this test
// executable cannot load wnaspi32.dll): start-up scans the SCSI ports at
// once, the Options menu has no diagnostic tests item, the tree lists the
// adapters from the last record up, and a re-scan posts its completion
// without making the program busy.
#include "nt_fixture.h"

#include "resource.h"
#include "support/msgrecorder.h"
#include "support/program.h"
#include "support/registry.h"
#include "support/uiscript.h"

namespace qvx::test {
namespace {

using NtStartup = NtTest;

std::string OptionsMenu() {
    std::string items;
    HMENU menu = GetSubMenu(MainMenu, 1);
    for (int i = 0; i < GetMenuItemCount(menu); i++)
        items += std::to_string(GetMenuItemID(menu, i)) + " ";
    return items;
}

TEST_F(NtStartup, ScansThePortsAndRescansWithoutBecomingBusy) {
    RegistryKeys registry;
    registry.Own("Hardware\\DeviceMap\\SCSI");
    for (const char* driver : {"kestrail", "lq450"}) {
        const std::string legacy =
            std::string("System\\CurrentControlSet\\Enum\\Root\\LEGACY_") + driver;
        registry.Own(legacy);
        registry.SetString(legacy + "\\0000", "DeviceDesc", std::string(driver) + " adapter");
        const int port = driver[0] == 'k' ? 0 : 1;
        registry.SetString("Hardware\\DeviceMap\\SCSI\\SCSI PORT " + std::to_string(port), "Driver",
                           driver);
    }
    std::string error;
    ASSERT_TRUE(ntport::LoadMachineFile(
        std::string("Z:") + QVX_EMULATION_MACHINES + "/nt-buses.ini", &error))
        << error;
    InstalledHelpPath help;
    RunProgram([] {
        EXPECT_EQ(UseAspi, 0);
        EXPECT_EQ(OptionsMenu(), "40003 40004 40009 40012 0 40008 ");
        EXPECT_EQ(TreeAdapterLabels(),
                  (std::vector<std::string>{"lq450 adapter", "kestrail adapter"}));
        EXPECT_EQ(SelectedAdapter, 0);
        EXPECT_EQ(TreeView_GetSelection(TreeView), HostAdapterTable[0].TreeItem);
        EXPECT_EQ(ListView_GetItemCount(ListView), 16);
        EXPECT_EQ(ScanComplete, 1);

        MessageRecorder recorder(MainWindow, MessageFilter::Only({1034, 1037, 1038}));
        UiScript ui;
        ui.expect(MsgBox().text("Re-scan the SCSI bus ?")).press(IDOK);
        Command(IDM_RESCAN);
        ui.verify();
        EXPECT_EQ(BusyState, BUSY_NONE);
        EXPECT_EQ(AdapterCount, 2);
        EXPECT_EQ(TotalDeviceCount, 32);
        EXPECT_EQ(TreeAdapterLabels(),
                  (std::vector<std::string>{"lq450 adapter", "kestrail adapter"}));
        PumpPending();
        EXPECT_TRUE(recorder.Matches({{1037, Delivery::Posted}}));
        EXPECT_EQ(BusyState, BUSY_NONE);
    });
    EXPECT_TRUE(ProgramBodyRan());
}

} // namespace
} // namespace qvx::test
