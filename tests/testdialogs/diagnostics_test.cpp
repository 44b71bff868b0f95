// The diagnostic tests dialog on emulated devices: every outcome of a run,
// its labels, colours and messages, the devices it refuses, and its help.
#include <map>

#include "dialogtest.h"
#include "support/emuaspi.h"
#include "support/msgrecorder.h"
#include "support/uiscript.h"

namespace qvx::test {
namespace {

using Strings = std::vector<std::string>;

const COLORREF kGreen = RGB(0, 255, 0), kRed = RGB(255, 0, 0), kBlack = RGB(0, 0, 0),
               kWhite = RGB(255, 255, 255);

// The background and text colours the dialog gives one of its statics.
std::pair<COLORREF, COLORREF> Colours(HWND dialog, int id) {
    HDC dc = CreateCompatibleDC(nullptr);
    SetTextColor(dc, RGB(1, 2, 3));
    auto brush = reinterpret_cast<HBRUSH>(SendMessageA(
        dialog, WM_CTLCOLORSTATIC, (WPARAM)dc, reinterpret_cast<LPARAM>(GetDlgItem(dialog, id))));
    LOGBRUSH info = {};
    GetObjectA(brush, sizeof info, &info);
    std::pair<COLORREF, COLORREF> colours{info.lbColor, GetTextColor(dc)};
    DeleteDC(dc);
    return colours;
}

// Every label coloured for the state its text shows, the information lines
// black on white.
void ExpectColours(HWND dialog) {
    for (int id : {1026, 1028, 1029}) {
        std::string state = Text(dialog, id);
        std::pair<COLORREF, COLORREF> expected{GetSysColor(COLOR_BTNFACE),
                                               GetSysColor(COLOR_WINDOWTEXT)};
        if (state == "PASSED!")
            expected = {kGreen, kBlack};
        else if (state == "FAILED!")
            expected = {kRed, kBlack};
        else if (state == "Testing...")
            expected = {kBlack, kWhite};
        EXPECT_EQ(Colours(dialog, id), expected) << id << " " << state;
    }
    for (int id : {1035, 1036})
        EXPECT_EQ(Colours(dialog, id), std::make_pair(kWhite, kBlack)) << id;
}

// The journal lines of the commands a run sends to `target`, one letter
// each: TEST UNIT READY, the buffer Descriptor, Write and Read buffer.
std::string Commands(int target, const std::string& letters) {
    static const std::map<char, std::string> commands = {
        {'T', "00 00 00 00 00 00 none 0 flags 00"},
        {'D', "3C 03 00 00 00 00 00 00 08 00 in 8 flags 08"},
        {'W', "3B 02 00 00 00 00 00 02 00 00 out 512 flags 10"},
        {'R', "3C 02 00 00 00 00 00 02 00 00 in 512 flags 08"}};
    std::string lines;
    for (char c : letters)
        lines += "0:" + std::to_string(target) + ":0 " + commands.at(c) + "\n";
    return lines;
}

// The scenarios show each run's messages and texts; here, the commands sent,
// and what a user sees but the scenarios cannot read: the labels' colours
// during and after a run, the check marks, the pauses after passed tests.
struct DiagRun {
    BYTE target;
    int warning;     // the answer to the warning
    int tur;         // the answer to a failed TEST UNIT READY, else 0
    bool writeFails; // WRITE BUFFER fails (its message is answered)
    Strings labels;  // 1026, 1028, 1029 at the end
    const char* commands;
    std::vector<DWORD> pauses;
    LONG platform = PLATFORM_NT;
};

TEST_F(TestDialogs, DiagnosticRunsSendTheirCommandsColourTheirLabelsAndPause) {
    const Strings passed = {"PASSED!", "PASSED!", "PASSED!"};
    const DiagRun runs[] = {
        {0, IDYES, 0, false, passed, "TDWR", {1000, 1000, 1000}},
        {2, IDYES, IDOK, false, {"FAILED!", "Not Tested", "Not Tested"}, "TD", {}},
        // A unit attention is asked again once.
        {6, IDYES, 0, true, {"PASSED!", "FAILED!", "Not Tested"}, "TTDW", {1000}},
        // Windows 95 pauses only after TEST UNIT READY.
        {0, IDYES, 0, false, passed, "TDWR", {1000}, PLATFORM_WIN95},
        {0, IDNO, 0, false, {"Not Tested", "Not Tested", "Not Tested"}, "", {}},
    };
    for (const DiagRun& run : runs) {
        SCOPED_TRACE(int(run.target));
        PlatformKind = run.platform;
        Strings labels;
        std::vector<int> checks;
        UiScript ui;
        ui.expect(Dialog().caption("Device Diagnostic Tests"))
            .click(IDOK)
            .then([&](HWND dialog, const WindowRecord&) {
                PumpPending(); // the run
                for (int id : {1026, 1028, 1029})
                    labels.push_back(Text(dialog, id));
                for (int id : {1022, 1024, 1025})
                    checks.push_back(IsDlgButtonChecked(dialog, id));
                if (run.warning == IDYES) // "No" has closed the dialog
                    ExpectColours(dialog);
            })
            .press(IDOK);
        ui.expect(MsgBox().caption("Diagnostic Tests:")).press(run.warning);
        auto during = [](HWND box, const WindowRecord&) {
            ExpectColours(GetWindow(box, GW_OWNER));
        };
        if (run.tur != 0)
            ui.expect(MsgBox().caption("SCSI Test Unit Ready Command Failed"))
                .then(during)
                .press(run.tur);
        if (run.writeFails)
            ui.expect(MsgBox().caption("SCSI Write Buffer Command Failed"))
                .then(during)
                .press(IDOK);
        ClearJournal();
        EXPECT_EQ(OpenDiagnosticTestsDialog(owner_.hwnd(), Slot(run.target)), 1);
        ui.verify();
        EXPECT_EQ(JournalText(), Commands(run.target, run.commands));
        EXPECT_EQ(labels, run.labels);
        for (int i = 0; i < 3; i++)
            EXPECT_EQ(checks[i] == BST_CHECKED, run.labels[i] == "PASSED!") << i;
        EXPECT_EQ(pauses, run.pauses);
        pauses.clear();
    }
}

TEST_F(TestDialogs, ContextHelpUsesTheControlTable) {
    CopyText(ContextHelpFilePath, sizeof ContextHelpFilePath, "C:\\Quorvex\\KDXCH.hlp");
    HWND item = nullptr, clicked = nullptr;
    UiScript ui;
    ui.expect(Dialog().caption("Device Diagnostic Tests"))
        .then([&](HWND dialog, const WindowRecord&) {
            item = GetDlgItem(dialog, 1024);
            clicked = GetDlgItem(dialog, 1026);
            HELPINFO help = {sizeof help, HELPINFO_WINDOW, 1024, item, 1024, {0, 0}};
            SendMessageA(dialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
            SendMessageA(dialog, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(clicked), 0);
        })
        .press(IDCANCEL);
    OpenDiagnosticTestsDialog(owner_.hwnd(), Slot(0));
    ui.verify();
    const std::vector<DWORD> table = {1006,  20000, 1017,  20001, 1018,  20002, 1019,
                                      20003, 1020,  20004, 1022,  20110, 1023,  20111,
                                      1024,  20112, 1025,  20113, 1026,  20114, 1027,
                                      20115, 1028,  20116, 1029,  20117, 1,     0xFFFFFFFF};
    ASSERT_EQ(helpCalls.size(), 2u);
    EXPECT_EQ(helpCalls[0].window, item);
    EXPECT_EQ(helpCalls[0].command, static_cast<UINT>(HELP_WM_HELP));
    EXPECT_EQ(helpCalls[1].window, clicked);
    EXPECT_EQ(helpCalls[1].command, static_cast<UINT>(HELP_CONTEXTMENU));
    for (const HelpCall& call : helpCalls) {
        EXPECT_EQ(call.file, "C:\\Quorvex\\KDXCH.hlp");
        EXPECT_EQ(call.ids, table);
    }
}

} // namespace
} // namespace qvx::test
