// The performance tests dialog on emulated devices: the capacity line, the
// six figures from a clock the test drives, every failure on the way, the
// wait for a medium; and the devices both test dialogs refuse.
#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <functional>
#include <tuple>

#include "dialogtest.h"
#include "support/emuaspi.h"
#include "support/msgrecorder.h"
#include "support/uiscript.h"

namespace qvx::test {
namespace {

using Six = std::array<std::string, 6>;
const int kFigureIds[6] = {1048, 1049, 1050, 1045, 1046, 1047};

std::string Capacity(int blockSize, int megabytes) {
    return "Device's sector size is " + std::to_string(blockSize) +
           " Bytes.  Total capacity for this device is " + std::to_string(megabytes) +
           " Megabytes.\n";
}

// Runs `act` once control `id` of `dialog` shows `text`: checked from a
// thread timer, so from inside whatever loop the dialog is in.
struct Watch {
    HWND dialog;
    int control;
    std::string wanted;
    std::function<void()> action;
};
Watch watch;

void CALLBACK CheckWatch(HWND, UINT, UINT_PTR timer, DWORD) {
    if (Text(watch.dialog, watch.control).find(watch.wanted) != 0)
        return;
    KillTimer(nullptr, timer);
    watch.action();
}

void WhenShown(HWND dialog, int id, std::string text, std::function<void()> act) {
    watch = {dialog, id, std::move(text), std::move(act)};
    SetTimer(nullptr, 0, 10, CheckWatch);
}

struct Measure {
    BYTE target;
    DWORD seconds, clockStep;
    DWORD blockSize, lastBlock, megabytes;
    DWORD reads;                // each figure's READ(10) commands
    std::array<DWORD, 3> sizes; // in blocks
    Six shown;
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
        {9, 5, 1, 512, 2000000, 976, 4, {1, 32, 127},
         {"   0.4 KB/s", "  12.8 KB/s", "  50.8 KB/s", "   0.4 KB/s", "  12.8 KB/s", "  50.8 KB/s"}},
        {10, 5, 1, 2048, 99999, 195, 4, {1, 8, 31},
         {"   1.6 KB/s", "  12.8 KB/s", "  49.6 KB/s", "   1.6 KB/s", "  12.8 KB/s", "  49.6 KB/s"}},
        {11, 5, 1, 16384, 9999, 156, 4, {1, 1, 3},
         {"  12.8 KB/s", "  12.8 KB/s", "  38.4 KB/s", "  12.8 KB/s", "  12.8 KB/s", "  38.4 KB/s"}},
        {12, 5, 1, 131072, 999, 124, 4, {1, 1, 1},
         {" 102.4 KB/s", " 102.4 KB/s", " 102.4 KB/s", " 102.4 KB/s", " 102.4 KB/s", " 102.4 KB/s"}},
        {0, 5, 3, 512, 99999, 48, 0, {1, 32, 127},
         {"   0.1 KB/s", "   3.2 KB/s", "  12.7 KB/s", "   0.1 KB/s", "   3.2 KB/s", "  12.7 KB/s"}},
        {13, 3, 1, 512, 134217729, 65536, 2, {1, 32, 127},
         {"   0.3 KB/s", "  10.6 KB/s", "  42.3 KB/s", "   0.3 KB/s", "  10.6 KB/s", "  42.3 KB/s"}},
    };
    // clang-format on
    for (const Measure& m : cases) {
        SCOPED_TRACE(int(m.target));
        PerformanceTiming.MeasureSeconds = m.seconds;
        clockStep = m.clockStep;
        std::string capacity, status;
        Six shown;
        UiScript ui;
        ui.expect(Dialog().caption("Device Performance Tests"))
            .then([&](HWND dialog, const WindowRecord&) {
                capacity = Text(dialog, 1054);
                EXPECT_EQ(Text(dialog, IDOK), "Begin Tests");
                SendDlgItemMessageA(dialog, IDOK, BM_CLICK, 0, 0);
                EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDOK)));
                PumpPending(); // the run
                for (int i = 0; i < 6; i++)
                    shown[i] = Text(dialog, kFigureIds[i]);
                status = Text(dialog, 1054);
                EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDOK)));
                EXPECT_EQ(Text(dialog, IDOK), "OK");
            })
            .press(IDOK);
        ClearJournal();
        EXPECT_EQ(OpenPerformanceTestsDialog(owner_.hwnd(), Slot(m.target)), 1);
        ui.verify();
        EXPECT_EQ(capacity, Capacity(m.blockSize, m.megabytes));
        EXPECT_EQ(shown, m.shown);
        EXPECT_EQ(status, "Performance testing completed.");
        ExpectCommands(m);
    }
}

struct Failure {
    BYTE target;
    bool inRun;       // the failure comes after "Begin Tests"
    const char* text; // of the message, caption "Quorvex Diagnostics status:"
    bool staysOpen;
};

// Whether the dialog has a close waiting in its queue.
bool ClosePending(HWND dialog) {
    MSG m;
    return PeekMessageA(&m, dialog, WM_COMMAND, WM_COMMAND, PM_NOREMOVE) && m.wParam == IDCANCEL;
}

TEST_F(TestDialogs, PerformanceFailuresTellTheirMessage) {
    const char kNotReady[] = "SCSI Test Unit Ready Command Failed";
    const char kNoSize[] = "Could not determine media size.\nPerformance Testing cannot continue.";
    const Failure cases[] = {
        {3, false, kNotReady, false}, // no medium, but the sense cannot be read
        {14, false, kNoSize, false},  // block length 0
        {15, false, kNoSize, false},  // last block 0
        {17, false, kNoSize, true},   // no capacity at all
        {16, true, "Read error occured.\nPerformance Testing cannot continue.", true},
    };
    PerformanceTiming.MeasureSeconds = 2000; // time enough to reach block 1000
    for (const Failure& f : cases) {
        SCOPED_TRACE(int(f.target));
        std::string button, status;
        bool closing = false;
        auto inspect = [&](HWND d, const WindowRecord&) {
            if (f.inRun)
                PumpPending();
            closing = ClosePending(d);
            button = Text(d, IDOK);
            status = Text(d, 1054);
        };
        UiScript ui;
        if (f.inRun)
            ui.expect(Dialog().caption("Device Performance Tests"))
                .click(IDOK)
                .then(inspect)
                .press(IDOK);
        ui.expect(MsgBox().caption("Quorvex Diagnostics status:").text(f.text)).press(IDOK);
        if (!f.inRun) {
            // Brought forward after the message, whether it stays or closes.
            Expectation& dialog = ui.expect(Dialog().caption("Device Performance Tests"));
            dialog.then(inspect);
            if (f.staysOpen)
                dialog.press(IDOK);
        }
        EXPECT_EQ(OpenPerformanceTestsDialog(owner_.hwnd(), Slot(f.target)), 1);
        ui.verify();
        EXPECT_EQ(ui.seen()[f.inRun ? 1 : 0].text, f.text);
        EXPECT_EQ(closing, !f.staysOpen);
        EXPECT_EQ(button, "OK");
        if (f.staysOpen) {
            EXPECT_EQ(status, f.inRun ? "Testing..." : " ");
        }
    }
}

TEST_F(TestDialogs, MediumPromptWaitsResponsivelyAndGivesUpOnADeviceNeverReady) {
    const char kPrompt[] =
        "There is no media in the device.\nPlease insert media into the device\n "
        "and then press the OK button.";
    const char kTitle[] = "Device Performance Tests";
    {
        // Answered twice; the medium comes and the capacity is read.
        std::string capacity;
        UiScript ui;
        ui.expect(MsgBox().caption("Error").text(kPrompt)).press(IDOK);
        ui.expect(Dialog().caption(kTitle)).then([&](HWND d, const WindowRecord&) {
            EXPECT_TRUE(IsWindowVisible(d));
            EXPECT_FALSE(IsWindowEnabled(owner_.hwnd()));
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, IDOK))) << "no run while waiting";
            EXPECT_EQ(Text(d, 1054), "Testing...");
            WhenShown(d, 1054, "Device's", [&, d] {
                capacity = Text(d, 1054);
                PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
            });
        });
        ui.expect(MsgBox().caption("Error").text(kPrompt)).press(IDOK);
        EXPECT_EQ(OpenPerformanceTestsDialog(owner_.hwnd(), Slot(7)), 1);
        ui.verify();
        EXPECT_EQ(capacity, Capacity(512, 48));
        EXPECT_EQ(ui.seen()[0].buttons, (std::vector<int>{IDOK, IDCANCEL}));
    }
    {
        // Cancelled: the device counts as not ready.
        UiScript ui;
        ui.expect(MsgBox().caption("Error").text(kPrompt)).press(IDCANCEL);
        ui.expect(Dialog().caption(kTitle)); // brought forward, never shown
        ui.expect(MsgBox().text("SCSI Test Unit Ready Command Failed")).press(IDOK);
        EXPECT_EQ(OpenPerformanceTestsDialog(owner_.hwnd(), Slot(19)), 1);
        ui.verify();
    }
    {
        // A medium change reported without end: closed while it waits, no message.
        UiScript ui;
        ui.expect(MsgBox().caption("Error")).press(IDOK);
        ui.expect(Dialog().caption(kTitle)).press(IDCANCEL);
        EXPECT_EQ(OpenPerformanceTestsDialog(owner_.hwnd(), Slot(8)), 1);
        ui.verify();
        EXPECT_EQ(ui.seen().size(), 2u);
    }
    // ... and left to wait: after the limit, as if never ready.
    PerformanceTiming.ReadyLimitMs = 200;
    UiScript ui;
    ui.expect(MsgBox().caption("Error")).press(IDOK);
    ui.expect(Dialog().caption(kTitle));
    ui.expect(MsgBox().text("SCSI Test Unit Ready Command Failed")).press(IDOK);
    EXPECT_EQ(OpenPerformanceTestsDialog(owner_.hwnd(), Slot(18)), 1);
    ui.verify();
}

struct Refusal {
    int (*open)(HWND, int);
    const char* typeText;
    const char* message; // a hint, or none when the dialog stays open
    int line;            // else: the information line and its text
    const char* text;
};

TEST_F(TestDialogs, DevicesWithoutTestsAreRefused) {
    const char kController[] = "SCSI Controller testing is conducted during";
    const char kNoDevice[] = "There is no SCSI device connected at this SCSI ID.";
    const char kNoDiagnostics[] = "Diagnostic testing for this SCSI device type is not available";
    const char kNoPerformance[] = "Performance testing of this SCSI device type is not available.";
    const auto diagnostics = OpenDiagnosticTestsDialog, performance = OpenPerformanceTestsDialog;
    // clang-format off
    const Refusal cases[] = {
        {diagnostics, TextHostAdapter, kController, 0, ""},
        {diagnostics, TextNoDevice, kNoDevice, 0, ""},
        {performance, TextHostAdapter, kController, 0, ""},
        {performance, TextNoDevice, kNoDevice, 0, ""},
        {diagnostics, TextScanner, nullptr, 1036, kNoDiagnostics},
        {diagnostics, TextWorm, nullptr, 1036, kNoDiagnostics},
        {diagnostics, TextUnknown, nullptr, 1036, kNoDiagnostics},
        {performance, TextScanner, nullptr, 1054, kNoPerformance},
        {performance, TextTape, nullptr, 1054, kNoPerformance},
        {performance, TextWorm, nullptr, 1054, kNoPerformance},
    };
    // clang-format on
    for (const Refusal& r : cases) {
        SCOPED_TRACE(r.typeText);
        std::string text, button;
        UiScript ui;
        if (r.message != nullptr) {
            ui.expect(MsgBox().caption("Quorvex Diagnostics status:").text(r.message)).press(IDOK);
            ui.expect(Dialog()).then([](HWND d, const WindowRecord&) {
                EXPECT_TRUE(ClosePending(d));
                EXPECT_FALSE(IsWindowVisible(d));
            });
        } else
            ui.expect(Dialog())
                .then([&](HWND d, const WindowRecord&) {
                    text = Text(d, r.line);
                    button = Text(d, IDOK);
                })
                .press(IDOK);
        ClearJournal();
        EXPECT_EQ(r.open(owner_.hwnd(), Slot(0, r.typeText)), 1);
        ui.verify();
        EXPECT_EQ(JournalText(), "") << "no command";
        ASSERT_EQ(ui.seen().size(), r.message != nullptr ? 2u : 1u);
        if (r.message != nullptr) {
            EXPECT_EQ(ui.seen()[0].icon, static_cast<UINT>(MB_ICONASTERISK));
        } else {
            EXPECT_EQ(text, r.text);
            EXPECT_EQ(button, "OK");
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
