// The performance tests dialog on emulated devices: the capacity line, the
// six figures from a clock the test drives, every failure on the way, the
// wait for a medium; and the devices both test dialogs refuse.
#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <tuple>

#include "shell/toolentry.h"
#include "support/devicetools.h"
#include "support/emuaspi.h"
#include "support/msgrecorder.h"
#include "support/uiscript.h"

namespace qvx::test {
namespace {

using TestDialogs = DeviceToolsTest;

std::string Capacity(int blockSize, int megabytes) {
    return "Device's sector size is " + std::to_string(blockSize) +
           " Bytes.  Total capacity for this device is " + std::to_string(megabytes) +
           " Megabytes.\n";
}

// Closes the waiting dialog once its status line shows the capacity:
// checked from a thread timer, so from inside whatever loop the dialog is in.
HWND g_waiting;
std::string g_capacity;
void CALLBACK CloseOnCapacity(HWND, UINT, UINT_PTR timer, DWORD) {
    g_capacity = Text(g_waiting, 1054);
    if (g_capacity.rfind("Device's", 0) != 0)
        return;
    KillTimer(nullptr, timer);
    PostMessageA(g_waiting, WM_COMMAND, IDCANCEL, 0);
}

struct Measure {
    BYTE target;
    DWORD seconds, clockStep;
    DWORD blockSize, lastBlock, megabytes;
    DWORD reads;                      // each figure's READ(10) commands
    std::array<DWORD, 3> sizes;       // in blocks
    std::array<const char*, 3> shown; // the same in both passes
};

// A READ(10) journal line, and the address of one.
std::string Read10(int target, DWORD lba, DWORD blocks, DWORD bytes) {
    char line[128];
    snprintf(line, sizeof line,
             "0:%d:0 28 00 %02lX %02lX %02lX %02lX 00 %02lX %02lX 00 in %lu flags 48", target,
             lba >> 24, (lba >> 16) & 0xFF, (lba >> 8) & 0xFF, lba & 0xFF, blocks >> 8,
             blocks & 0xFF, bytes);
    return line;
}
DWORD AddressOf(const std::string& line) {
    unsigned b[4] = {};
    sscanf(line.c_str(), "%*s 28 00 %x %x %x %x", &b[0], &b[1], &b[2], &b[3]);
    return b[0] << 24 | b[1] << 16 | b[2] << 8 | b[3];
}

// The commands of an opening and a run: TEST UNIT READY, READ CAPACITY,
// SEEK to 0, then each figure's reads, at consecutive addresses or at
// multiples of the stride that leave room for the transfer.
void ExpectCommands(const Measure& m) {
    std::vector<JournalRecord> journal = ReadJournal();
    std::string at = "0:" + std::to_string(m.target) + ":0 ";
    ASSERT_EQ(journal.size(), 3 + 6 * m.reads);
    EXPECT_EQ(journal[0].line, at + "00 00 00 00 00 00 none 0 flags 00");
    EXPECT_EQ(journal[1].line, at + "25 00 00 00 00 00 00 00 00 00 in 8 flags 08");
    EXPECT_EQ(journal[2].line, at + "0B 00 00 00 00 00 none 0 flags 40");
    DWORD stride = std::max<DWORD>((m.lastBlock - 65536 / m.blockSize) / 32767, 1);
    for (DWORD figure = 0, n = 3; figure < 6; figure++) {
        DWORD size = m.sizes[figure % 3];
        for (DWORD k = 0; k < m.reads; k++, n++) {
            const std::string& line = journal[n].line;
            DWORD lba = figure < 3 || k == 0 ? k * size : AddressOf(line);
            EXPECT_EQ(line, Read10(m.target, lba, size, size * m.blockSize)) << n;
            EXPECT_TRUE(figure < 3 || (lba % stride == 0 && lba <= m.lastBlock - size)) << line;
        }
    }
}

TEST_F(TestDialogs, FiguresFollowTheBlocksReadInTheMeasuringTime) {
    // With a clock that moves a second at every reading, each figure counts
    // seconds - 1 transfers (the first reading waits for the next second);
    // with one that leaps past the end, none, and the figure is that of one
    // transfer.
    // clang-format off
    const Measure cases[] = {
        {9, 5, 1, 512, 2000000, 976, 4, {1, 32, 127}, {"   0.4 KB/s", "  12.8 KB/s", "  50.8 KB/s"}},
        {10, 5, 1, 2048, 99999, 195, 4, {1, 8, 31}, {"   1.6 KB/s", "  12.8 KB/s", "  49.6 KB/s"}},
        {11, 5, 1, 16384, 9999, 156, 4, {1, 1, 3}, {"  12.8 KB/s", "  12.8 KB/s", "  38.4 KB/s"}},
        {12, 5, 1, 131072, 999, 124, 4, {1, 1, 1}, {" 102.4 KB/s", " 102.4 KB/s", " 102.4 KB/s"}},
        {0, 5, 3, 512, 99999, 48, 0, {1, 32, 127}, {"   0.1 KB/s", "   3.2 KB/s", "  12.7 KB/s"}},
        {13, 3, 1, 512, 134217729, 65536, 2, {1, 32, 127}, {"   0.3 KB/s", "  10.6 KB/s", "  42.3 KB/s"}},
    };
    // clang-format on
    for (const Measure& m : cases) {
        SCOPED_TRACE(int(m.target));
        PerformanceTiming.MeasureSeconds = m.seconds;
        clockStep = m.clockStep;
        std::string capacity, after;
        UiScript ui;
        ui.expect(Dialog().caption("Device Performance Tests"))
            .then([&](HWND dialog, const WindowRecord&) {
                capacity = Text(dialog, 1054);
                EXPECT_EQ(Text(dialog, IDOK), "Begin Tests");
                SendDlgItemMessageA(dialog, IDOK, BM_CLICK, 0, 0);
                EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDOK)));
                PumpPending(); // the run
                after = Texts(dialog, {1048, 1049, 1050, 1045, 1046, 1047, 1054, IDOK});
                EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDOK)));
            })
            .press(IDOK);
        ClearJournal();
        EXPECT_EQ(OpenPerformanceTestsDialog(owner_.hwnd(), Slot(m.target)), 1);
        ui.verify();
        EXPECT_EQ(capacity, Capacity(m.blockSize, m.megabytes));
        std::string figures = std::string(m.shown[0]) + "|" + m.shown[1] + "|" + m.shown[2];
        EXPECT_EQ(after, figures + "|" + figures + "|Performance testing completed.|OK");
        ExpectCommands(m);
    }
}

// Whether the dialog has a close waiting in its queue.
bool ClosePending(HWND dialog) {
    MSG m;
    return PeekMessageA(&m, dialog, WM_COMMAND, WM_COMMAND, PM_NOREMOVE) && m.wParam == IDCANCEL;
}

TEST_F(TestDialogs, PerformanceFailuresTellTheirMessage) {
    const char kNotReady[] = "SCSI Test Unit Ready Command Failed";
    const char kNoSize[] = "Could not determine media size.\nPerformance Testing cannot continue.";
    struct {
        BYTE target;
        bool inRun;        // the failure comes after "Begin Tests"
        const char* text;  // of the message, caption "Quorvex Diagnostics status:"
        const char* after; // the button, the status line and whether the dialog closes
    } const cases[] = {
        {3, false, kNotReady, "OK| |closing"}, // no medium, but the sense cannot be read
        {14, false, kNoSize, "OK| |closing"},  // block length 0
        {15, false, kNoSize, "OK| |closing"},  // last block 0
        {17, false, kNoSize, "OK| "},          // no capacity at all
        {16, true, "Read error occured.\nPerformance Testing cannot continue.", "OK|Testing..."},
    };
    PerformanceTiming.MeasureSeconds = 2000; // time enough to reach block 1000
    for (const auto& f : cases) {
        SCOPED_TRACE(int(f.target));
        std::string after;
        auto inspect = [&](HWND d, const WindowRecord&) {
            if (f.inRun)
                PumpPending();
            after = Text(d, IDOK) + "|" + Text(d, 1054) + (ClosePending(d) ? "|closing" : "");
            if (!ClosePending(d))
                PostMessageA(d, WM_COMMAND, IDOK, 0);
        };
        UiScript ui;
        if (f.inRun)
            ui.expect(Dialog().caption("Device Performance Tests")).click(IDOK).then(inspect);
        ui.expect(MsgBox().caption("Quorvex Diagnostics status:")).press(IDOK);
        if (!f.inRun) // brought forward after the message, whether it stays or closes
            ui.expect(Dialog().caption("Device Performance Tests")).then(inspect);
        EXPECT_EQ(OpenPerformanceTestsDialog(owner_.hwnd(), Slot(f.target)), 1);
        ui.verify();
        EXPECT_EQ(ui.seen()[f.inRun ? 1 : 0].text, f.text);
        EXPECT_EQ(after, f.after);
    }
}

TEST_F(TestDialogs, MediumPromptWaitsResponsivelyAndGivesUpOnADeviceNeverReady) {
    const char kPrompt[] =
        "There is no media in the device.\nPlease insert media into the device\n "
        "and then press the OK button.";
    const char kTitle[] = "Device Performance Tests";
    {
        // Answered twice; the medium comes and the capacity is read.
        UiScript ui;
        ui.expect(MsgBox().caption("Error").text(kPrompt)).press(IDOK);
        ui.expect(Dialog().caption(kTitle)).then([&](HWND d, const WindowRecord&) {
            EXPECT_TRUE(IsWindowVisible(d));
            EXPECT_FALSE(IsWindowEnabled(owner_.hwnd()));
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, IDOK))) << "no run while waiting";
            EXPECT_EQ(Text(d, 1054), "Testing...");
            g_waiting = d;
            SetTimer(nullptr, 0, 10, CloseOnCapacity);
        });
        ui.expect(MsgBox().caption("Error").text(kPrompt)).press(IDOK);
        EXPECT_EQ(OpenPerformanceTestsDialog(owner_.hwnd(), Slot(7)), 1);
        ui.verify();
        EXPECT_EQ(g_capacity, Capacity(512, 48));
        EXPECT_EQ(ui.seen()[0].buttons, (std::vector<int>{IDOK, IDCANCEL}));
    }
    // Cancelled: the device counts as not ready. A medium change reported
    // without end: closed while it waits, no message; left to wait, after
    // the limit as if never ready.
    struct {
        BYTE target;
        int answer;
        bool closes;
        DWORD limit;
    } const waits[] = {
        {19, IDCANCEL, false, 60000}, {8, IDOK, true, 60000}, {18, IDOK, false, 200}};
    for (const auto& w : waits) {
        PerformanceTiming.ReadyLimitMs = w.limit;
        UiScript ui;
        ui.expect(MsgBox().caption("Error").text(kPrompt)).press(w.answer);
        Expectation& dialog = ui.expect(Dialog().caption(kTitle)); // brought forward
        if (w.closes)
            dialog.press(IDCANCEL);
        else
            ui.expect(MsgBox().text("SCSI Test Unit Ready Command Failed")).press(IDOK);
        EXPECT_EQ(OpenPerformanceTestsDialog(owner_.hwnd(), Slot(w.target)), 1);
        ui.verify();
        EXPECT_EQ(ui.seen().size(), w.closes ? 2u : 3u);
    }
}

TEST_F(TestDialogs, PerformanceAsksAgainOnceAfterAUnitAttention) {
    for (int target : {22, 23}) { // 29h power on, 28h medium changed
        SCOPED_TRACE(target);
        std::string capacity;
        UiScript ui;
        ui.expect(Dialog().caption("Device Performance Tests"))
            .then([&](HWND d, const WindowRecord&) { capacity = Text(d, 1054); })
            .press(IDCANCEL);
        ClearJournal();
        EXPECT_EQ(OpenPerformanceTestsDialog(owner_.hwnd(), Slot(target)), 1);
        ui.verify();
        EXPECT_EQ(capacity, Capacity(512, 48));
        std::string at = "0:" + std::to_string(target) + ":0 ";
        EXPECT_EQ(JournalText(), at + "00 00 00 00 00 00 none 0 flags 00\n" + at +
                                     "00 00 00 00 00 00 none 0 flags 00\n" + at +
                                     "25 00 00 00 00 00 00 00 00 00 in 8 flags 08\n");
    }
}

struct Refusal {
    int (*open)(HWND, int);
    const char* typeText;
    int line;         // the information line that tells why; 0: a message box tells
    const char* text; // what it tells
};

TEST_F(TestDialogs, DevicesWithoutTestsAreRefused) {
    const char kController[] = "SCSI Controller testing is conducted during\n the SCSI device "
                               "diagnostic tests.\n\n         Please select a SCSI device.";
    const char kNoDevice[] = "There is no SCSI device connected at this SCSI ID.\n\n           "
                             "Please select a SCSI device.";
    const char kNoDiagnostics[] = "Diagnostic testing for this SCSI device type is not available";
    const char kNoPerformance[] = "Performance testing of this SCSI device type is not available.";
    const auto diagnostics = OpenDiagnosticTestsDialog, performance = OpenPerformanceTestsDialog;
    // clang-format off
    const Refusal cases[] = {
        {diagnostics, TextHostAdapter, 0, kController}, {diagnostics, TextNoDevice, 0, kNoDevice},
        {performance, TextHostAdapter, 0, kController}, {performance, TextNoDevice, 0, kNoDevice},
        {diagnostics, TextScanner, 1036, kNoDiagnostics}, {diagnostics, TextWorm, 1036, kNoDiagnostics},
        {diagnostics, TextUnknown, 1036, kNoDiagnostics}, {performance, TextScanner, 1054, kNoPerformance},
        {performance, TextTape, 1054, kNoPerformance}, {performance, TextWorm, 1054, kNoPerformance},
    };
    // clang-format on
    for (const Refusal& r : cases) {
        SCOPED_TRACE(r.typeText);
        std::string shown;
        UiScript ui;
        if (r.line == 0)
            ui.expect(MsgBox().caption("Quorvex Diagnostics status:")).press(IDOK);
        // Refused with a message, the dialog closes at once; else it shows why.
        ui.expect(Dialog()).then([&](HWND d, const WindowRecord&) {
            shown = Text(d, IDOK) + (ClosePending(d) ? " closing" : "") +
                    (r.line != 0 ? " " + Text(d, r.line) : "");
            if (r.line != 0)
                PostMessageA(d, WM_COMMAND, IDOK, 0);
        });
        ClearJournal();
        EXPECT_EQ(r.open(owner_.hwnd(), Slot(0, r.typeText)), 1);
        ui.verify();
        EXPECT_EQ(JournalText(), "") << "no command";
        EXPECT_EQ(shown, r.line != 0 ? "OK " + std::string(r.text) : "OK closing");
        if (r.line == 0) {
            EXPECT_EQ(ui.seen()[0].text, r.text);
            EXPECT_EQ(ui.seen()[0].icon, static_cast<UINT>(MB_ICONASTERISK));
        }
    }
}

TEST_F(TestDialogs, ProgramTimesAndRandomAddresses) {
    const PerformanceTimingRecord& t = programTiming;
    EXPECT_EQ(std::make_tuple(t.MeasureSeconds, t.MediumWaitMs, t.ReadyRetryMs, t.ReadyLimitMs),
              std::make_tuple(5ul, 5000ul, 1000ul, 60000ul));
    EXPECT_LE(t.SecondsClock() - static_cast<DWORD>(time(nullptr)) + 1, 2ul);

    RandomBelow(1); // seeds once
    for (DWORD n : {0u, 1u, 1000u, 32768u}) {
        srand(n + 7);
        DWORD r = static_cast<DWORD>(rand());
        srand(n + 7);
        EXPECT_EQ(RandomBelow(n), r * n / 32767) << n;
    }
}

} // namespace
} // namespace qvx::test
