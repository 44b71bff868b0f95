// The diagnostic tests dialog on emulated devices: every outcome of a run,
// its labels, colours and messages, the devices it refuses, and its help.
#include <array>

#include "dialogtest.h"
#include "support/msgrecorder.h"
#include "support/uiscript.h"

namespace qvx::test {
namespace {

using Strings = std::vector<std::string>;

const char kComplete[] = "\n\nSCSI Diagnostic Testing Complete";
const char kTurFailed[] = "SCSI Test Unit Ready Command Failed";
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

struct Box {
    const char* caption;
    std::string text;
    int answer;
};

struct DiagRun {
    BYTE target;
    std::vector<Box> boxes; // after the warning
    Strings labels;         // 1026, 1028, 1029 at the end
    std::string line1, line2;
    std::vector<DWORD> pauses;
};

TEST_F(TestDialogs, DiagnosticRunsShowEachOutcome) {
    const std::string confirmation =
        "Device operating functionality has been checked       \r\nCable connections have been "
        "verified                   \r\nThis device is properly installed ";
    const std::string mismatch = "The SCSI Read Buffer command failed.\nPlease Check cables and "
                                 "SCSI termination.\n\nNote:  This command may not be implemented "
                                 "correctly by this SCSI device.";
    const Strings passed = {"PASSED!", "PASSED!", "PASSED!"};
    const DiagRun runs[] = {
        {0,
         {},
         passed,
         "Diagnostic tests completed successfully !",
         confirmation,
         {1000, 1000, 1000}},
        {1,
         {},
         passed,
         "Diagnostic tests completed successfully !",
         confirmation,
         {1000, 1000, 1000}},
        {2,
         {{kTurFailed,
           "SCSI device's self diagnostic test failed\n\nContinue with Diagnostics Test?", IDOK}},
         {"FAILED!", "Not Tested", "Not Tested"},
         kComplete,
         "Last Error Reported Sense Data:\nSense Key: 0x04\nSense Code: 0x40\nSense Code "
         "Qualifier: "
         "0x0",
         {}},
        {3,
         {{kTurFailed, "\n\nContinue with Diagnostics Test?", IDCANCEL}},
         {"FAILED!", "Not Tested", "Not Tested"},
         kComplete,
         " ",
         {}},
        {4,
         {{"SCSI Read Buffer Command Failed", mismatch, IDOK}},
         {"PASSED!", "PASSED!", "FAILED!"},
         kComplete,
         " ",
         {1000, 1000}},
        {5, {}, {"PASSED!", "Not Tested", "Not Tested"}, kComplete, " ", {1000}},
        // The unit attention of the first command is not this failure's reason.
        {6,
         {{"SCSI Write Buffer Command Failed", kComplete, IDOK}},
         {"PASSED!", "FAILED!", "Not Tested"},
         kComplete,
         " ",
         {1000}},
    };
    for (const DiagRun& run : runs) {
        SCOPED_TRACE(int(run.target));
        Strings labels;
        std::string line1, line2;
        UiScript ui;
        ui.expect(Dialog().caption("Device Diagnostic Tests"))
            .click(IDOK)
            .then([&](HWND dialog, const WindowRecord&) {
                PumpPending(); // the run
                for (int id : {1026, 1028, 1029})
                    labels.push_back(Text(dialog, id));
                line1 = Text(dialog, 1035);
                line2 = Text(dialog, 1036);
                EXPECT_EQ(Text(dialog, IDOK), "OK");
                EXPECT_EQ(IsDlgButtonChecked(dialog, 1022) == BST_CHECKED, labels[0] == "PASSED!");
                ExpectColours(dialog);
            })
            .press(IDOK);
        ui.expect(MsgBox().caption("Diagnostic Tests:").text("Proceed ?")).press(IDYES);
        for (const Box& box : run.boxes)
            ui.expect(MsgBox().caption(box.caption))
                .then([](HWND shown, const WindowRecord&) {
                    ExpectColours(GetWindow(shown, GW_OWNER));
                })
                .press(box.answer);
        EXPECT_EQ(OpenDiagnosticTestsDialog(owner_.hwnd(), Slot(run.target)), 1);
        ui.verify();
        EXPECT_EQ(labels, run.labels);
        EXPECT_EQ(line1, run.line1);
        EXPECT_EQ(line2, run.line2);
        EXPECT_EQ(pauses, run.pauses);
        pauses.clear();
        ASSERT_EQ(ui.seen().size(), 2 + run.boxes.size());
        EXPECT_EQ(ui.seen()[1].icon, static_cast<UINT>(MB_ICONEXCLAMATION));
        for (size_t i = 0; i < run.boxes.size(); i++) {
            EXPECT_EQ(ui.seen()[2 + i].text, run.boxes[i].text);
            EXPECT_EQ(ui.seen()[2 + i].icon, static_cast<UINT>(MB_ICONHAND));
        }
    }
}

TEST_F(TestDialogs, NoInTheWarningClosesWithNothingTested) {
    Strings labels;
    UiScript ui;
    ui.expect(Dialog().caption("Device Diagnostic Tests"))
        .click(IDOK)
        .then([&](HWND dialog, const WindowRecord&) {
            PumpPending();
            for (int id : {1026, 1028, 1029})
                labels.push_back(Text(dialog, id));
        });
    ui.expect(MsgBox().caption("Diagnostic Tests:")).press(IDNO);
    EXPECT_EQ(OpenDiagnosticTestsDialog(owner_.hwnd(), Slot(0)), 1);
    ui.verify();
    EXPECT_EQ(labels, (Strings{"Not Tested", "Not Tested", "Not Tested"}));
    EXPECT_TRUE(pauses.empty());
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
