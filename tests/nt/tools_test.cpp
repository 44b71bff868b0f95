// The diagnostic tests dialog on the NT pass-through, over the port
// stand-in: the commands each run sends and through which device, what the
// user is told, and how the run ends. The dialog's every other outcome is
// the same on both transports and is checked over ASPI.
#include "nt_fixture.h"

#include "support/msgrecorder.h"
#include "support/testwindow.h"
#include "support/uiscript.h"
#include "shell/toolentry.h"
#include "tools/diagnostics.h"

namespace qvx::test {
namespace {

std::string Text(HWND dialog, int id) {
    char text[512] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

// The CDBs' first bytes and transfer lengths the port received, with the
// device they came through.
std::string Sent() {
    std::string s;
    for (const emu::JournalEntry& e : ntport::Journal()) {
        char line[64];
        snprintf(line, sizeof line, "%02X %u %s|", e.cdb[0], static_cast<unsigned>(e.dataLength),
                 e.host.via.c_str());
        s += line;
    }
    return s;
}

struct DiagRun {
    BYTE target;
    std::string sent;
    std::string message; // caption|text of the message shown, "" for none
    std::string labels;  // the three test labels and the first information line
};

using NtDiagnostics = NtTest;

TEST_F(NtDiagnostics, RunThroughTheClassDriversDevices) {
    Scan("tools.ini");
    DiagnosticPause = [](DWORD) {};
    const std::string unsupported =
        "This command is not supported by the Windows NT class driver for this SCSI device type";
    const DiagRun runs[] = {
        {0, "00 0 C:|3C 5 C:|3B 2048 C:|3C 2048 C:|", "",
         "PASSED!|PASSED!|PASSED!|Diagnostic tests completed successfully !"},
        // WRITE BUFFER moves nothing: said so, and READ BUFFER is not sent.
        {1, "00 0 D:|3C 5 D:|3B 2048 D:|", "Quorvex Diagnostics status:|" + unsupported,
         "PASSED!|Not Tested|Not Tested|Diagnostic tests completed successfully !"},
        // The class driver refuses: the system's text explains it.
        {2, "00 0 Tape0|3C 5 Tape0|",
         "SCSI Test Unit Ready Command Failed|Invalid function.\r\n\n"
         "Continue with Diagnostics Test?",
         "FAILED!|Not Tested|Not Tested|\n\nSCSI Diagnostic Testing Complete"},
    };
    TestWindow owner;
    for (const DiagRun& run : runs) {
        SCOPED_TRACE(int(run.target));
        std::string labels;
        UiScript ui;
        ui.expect(Dialog().caption("Device Diagnostic Tests"))
            .click(IDOK)
            .then([&](HWND dialog, const WindowRecord&) {
                PumpPending(); // the run
                labels = Text(dialog, 1026) + "|" + Text(dialog, 1028) + "|" + Text(dialog, 1029) +
                         "|" + Text(dialog, 1035);
            })
            .press(IDOK);
        ui.expect(MsgBox().caption("Diagnostic Tests:").text("Proceed ?")).press(IDYES);
        if (!run.message.empty())
            ui.expect(MsgBox()).press(IDCANCEL);
        ntport::ClearJournal();
        const int slot = run.target; // adapter index 0
        EXPECT_EQ(OpenDiagnosticTestsDialog(owner.hwnd(), slot), 1);
        ui.verify();
        EXPECT_EQ(Sent(), run.sent);
        const std::string shown =
            ui.seen().size() > 2 ? ui.seen()[2].caption + "|" + ui.seen()[2].text : std::string();
        EXPECT_EQ(shown, run.message);
        EXPECT_EQ(labels, run.labels);
    }
}

} // namespace
} // namespace qvx::test
