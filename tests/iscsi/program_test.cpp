// The whole program on the machine whose adapter is the iSCSI target of
// scripts/tgt: the bridge killed in the middle of a performance run, the
// run's read error, a re-scan that brings the units back, and the figures
// of a run on the target's disk.
#include <algorithm>
#include <string>
#include <vector>

#include "inventory/inventory.h"
#include "resource.h"
#include "support/emuaspi.h"
#include "support/msgrecorder.h"
#include "support/program.h"
#include "support/uiscript.h"
#include "tools/performance.h"

namespace qvx::test {
namespace {

const char kMachine[] = QVX_ROOT "/emulation/machines/iscsi-tgt.ini";
const char kTitle[] = "Device Performance Tests";

std::string Texts(HWND dialog, std::initializer_list<int> ids) {
    std::string texts;
    for (int id : ids) {
        char text[256] = "";
        GetDlgItemTextA(dialog, id, text, sizeof text);
        texts += (texts.empty() ? "" : "|") + std::string(text);
    }
    return texts;
}

// The type texts of the adapter's eight slots, joined by "|".
std::string SlotTypes() {
    std::string types;
    for (int slot = 0; slot < 8; ++slot)
        types += (slot ? "|" : "") + std::string(DeviceTable[slot].TypeText);
    return types;
}
const char kUnits[] = "UnKnown|Hard Disk|CD-ROM|Tape|No Device|No Device|No Device|Host Adapter";

size_t Reads() {
    std::vector<JournalRecord> journal = ReadJournal();
    return std::count_if(journal.begin(), journal.end(), [](const JournalRecord& r) {
        return r.line.compare(0, 9, "0:1:0 28 ") == 0;
    });
}

// A seconds clock that moves on a second at every reading and, once the
// journal shows three READ(10) commands, kills the bridge (once).
DWORD g_now;
bool g_killed;
DWORD KillingClock() {
    if (!g_killed && Reads() >= 3) {
        g_killed = true;
        EXPECT_TRUE(KillBridge());
    }
    return ++g_now;
}
DWORD SteadyClock() {
    return ++g_now;
}

// Opens the performance tests on the list's row "SCSI ID 1" and begins
// them; returns the status line before the run and, after it, the button
// and the status line, or the six figures, the status line and the button.
struct Outcome {
    std::string capacity, after;
    bool okEnabled = false;
};
Outcome PerformOnDisk(bool readError) {
    Outcome run;
    ChooseRow(ListRowOf("SCSI ID 1"));
    UiScript ui;
    ui.expect(Dialog().caption(kTitle)).then([&](HWND dialog, const WindowRecord&) {
        run.capacity = Texts(dialog, {1054});
        SendDlgItemMessageA(dialog, IDOK, BM_CLICK, 0, 0);
        PumpPending(); // the run
        run.after = readError ? Texts(dialog, {IDOK, 1054})
                              : Texts(dialog, {1048, 1049, 1050, 1045, 1046, 1047, 1054, IDOK});
        run.okEnabled = IsWindowEnabled(GetDlgItem(dialog, IDOK));
        PostMessageA(dialog, WM_COMMAND, IDOK, 0); // the user closes it
    });
    if (readError)
        ui.expect(MsgBox()
                      .caption("Quorvex Diagnostics status:")
                      .text("Read error occured.\nPerformance Testing cannot continue."))
            .press(IDOK);
    Command(IDM_PERFORMANCE_TESTS);
    ui.verify();
    return run;
}

TEST(IscsiProgram, AKilledBridgeEndsTheRunWithAReadErrorAndARescanBringsTheUnitsBack) {
    ASSERT_NE(GetEnvironmentVariableA("QVX_TGT_PORT", nullptr, 0), 0u)
        << "run under scripts/tgt run";
    InstalledHelpPath help; // else start-up asks for the help files
    SelectMachine(kMachine);
    const PerformanceTimingRecord saved = PerformanceTiming;
    g_now = 0;
    g_killed = false;
    PerformanceTiming = {2000, 10, 10, 60000, KillingClock}; // a run far longer than the test
    RunProgram([] {
        EXPECT_EQ(SlotTypes(), kUnits);
        ClearJournal();
        Outcome broken = PerformOnDisk(true);
        EXPECT_TRUE(g_killed);
        EXPECT_EQ(broken.after, "OK|Testing...");
        EXPECT_TRUE(broken.okEnabled) << "the dialog takes its closing";
        // Three reads before the kill, and the one that met the loss.
        EXPECT_EQ(Reads(), 4u);
        EXPECT_TRUE(IsWindowEnabled(MainWindow)) << "the dialog has ended";

        {
            UiScript ui;
            ui.expect(MsgBox().text("Re-scan the SCSI bus ?")).press(IDOK);
            Command(IDM_RESCAN);
            PumpPending();
        }
        EXPECT_EQ(SlotTypes(), kUnits) << "every unit found again";

        // Each figure counts the transfers of seconds - 1 readings of the
        // clock: 4 of 1, 32 and 127 blocks of the disk's 512 bytes.
        PerformanceTiming = {5, 10, 10, 60000, SteadyClock};
        ClearJournal();
        Outcome good = PerformOnDisk(false);
        EXPECT_EQ(good.capacity, "Device's sector size is 512 Bytes.  Total capacity for this "
                                 "device is 4095 Megabytes.\n");
        const std::string figures = "   0.4 KB/s|  12.8 KB/s|  50.8 KB/s";
        EXPECT_EQ(good.after, figures + "|" + figures + "|Performance testing completed.|OK");
        std::vector<JournalRecord> journal = ReadJournal();
        ASSERT_EQ(journal.size(), 3u + 6 * 4);
        EXPECT_EQ(journal[0].line, "0:1:0 00 00 00 00 00 00 none 0 flags 00");
        EXPECT_EQ(journal[1].line, "0:1:0 25 00 00 00 00 00 00 00 00 00 in 8 flags 08");
        EXPECT_EQ(journal[2].line, "0:1:0 0B 00 00 00 00 00 none 0 flags 40");
        EXPECT_EQ(journal[3 + 4 * 2 + 3].line,
                  "0:1:0 28 00 00 00 01 7D 00 00 7F 00 in 65024 flags 48")
            << "the fourth read of 127 blocks starts at block 381";
    });
    PerformanceTiming = saved;
}

} // namespace
} // namespace qvx::test
