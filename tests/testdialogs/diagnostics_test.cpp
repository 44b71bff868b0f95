// The diagnostic tests dialog on emulated devices: every kind of run with the
// commands it sends, the failure message it shows, its labels, colours and
// information lines, the pauses after passed tests; and its help.
#include <map>

#include "shell/toolentry.h"
#include "support/devicetools.h"
#include "support/emuaspi.h"
#include "support/msgrecorder.h"
#include "support/uiscript.h"

namespace qvx::test {
namespace {

using TestDialogs = DeviceToolsTest;

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
    const std::map<std::string, std::pair<COLORREF, COLORREF>> byState = {
        {"PASSED!", {kGreen, kBlack}},
        {"FAILED!", {kRed, kBlack}},
        {"Testing...", {kBlack, kWhite}}};
    for (int id : {1026, 1028, 1029}) {
        auto state = byState.find(Text(dialog, id));
        EXPECT_EQ(Colours(dialog, id),
                  state != byState.end()
                      ? state->second
                      : std::make_pair(GetSysColor(COLOR_BTNFACE), GetSysColor(COLOR_WINDOWTEXT)))
            << id;
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

const std::string kTur = "SCSI Test Unit Ready Command Failed|",
                  kContinue = "\n\nContinue with Diagnostics Test?|2",
                  kComplete = "\n\nSCSI Diagnostic Testing Complete";

// Control ids and their help topics, which every help request gets with the
// control.
const std::vector<DWORD> kHelpTable = {
    1006, 20000, 1017, 20001, 1018, 20002, 1019, 20003, 1020, 20004, 1022, 20110, 1023, 20111,
    1024, 20112, 1025, 20113, 1026, 20114, 1027, 20115, 1028, 20116, 1029, 20117, 1,    0xFFFFFFFF};

struct DiagRun {
    BYTE target;
    int warning;         // the answer to the warning
    std::string failure; // the failure message shown, "" for none
    int answer;          // and the answer to it
    const char* commands;
    Strings shown; // labels 1026, 1028, 1029, information lines 1035, 1036
    std::vector<DWORD> pauses;
    LONG platform = PLATFORM_NT;
};

TEST_F(TestDialogs, DiagnosticRunsAndTheirHelp) {
    const std::string na = "Not Tested", ok = "PASSED!", bad = "FAILED!";
    const std::string success = "Diagnostic tests completed successfully !";
    const std::string confirmation = "Device operating functionality has been checked       \r\n"
                                     "Cable connections have been verified                   \r\n"
                                     "This device is properly installed ";
    const std::string sense = "Last Error Reported Sense Data:\nSense Key: 0x04\nSense Code: "
                              "0x40\nSense Code Qualifier: 0x0";
    // clang-format off
    const DiagRun runs[] = {
        {0, IDYES, "", 0, "TDWR", {ok, ok, ok, success, confirmation}, {1000, 1000, 1000}},
        // Windows 95 pauses only after TEST UNIT READY.
        {0, IDYES, "", 0, "TDWR", {ok, ok, ok, success, confirmation}, {1000}, PLATFORM_WIN95},
        {0, IDNO, "", 0, "", {na, na, na, " ", " "}, {}},
        // A unit attention (29h power on, 28h medium changed) is asked again once.
        {1, IDYES, "", 0, "TTDWR", {ok, ok, ok, success, confirmation}, {1000, 1000, 1000}},
        // Hardware error 40h to everything: the sense explains the failure.
        {2, IDYES, kTur + "SCSI device's self diagnostic test failed" + kContinue, IDOK, "TD",
         {bad, na, na, kComplete, sense}, {}},
        // Sense data the program does not decode: no explanation.
        {3, IDYES, kTur + kContinue, IDCANCEL, "TD", {bad, na, na, kComplete, " "}, {}},
        // The repeated TEST UNIT READY fails on its own account, unexplained.
        {21, IDYES, kTur + kContinue, IDOK, "TTDWR", {bad, ok, ok, kComplete, " "}, {1000, 1000}},
        // BUSY to TEST UNIT READY alone: the run goes on when asked to.
        {20, IDYES, kTur + kContinue, IDOK, "TDWR", {bad, ok, ok, kComplete, " "}, {1000, 1000}},
        // No buffer memory: the buffer tests are not run.
        {4, IDYES, "", 0, "TD", {ok, na, na, kComplete, " "}, {1000}},
        {6, IDYES, "SCSI Write Buffer Command Failed|" + kComplete + "|1", IDOK, "TTDW",
         {ok, bad, na, kComplete, " "}, {1000}},
        {5, IDYES, "SCSI Read Buffer Command Failed|The SCSI Read Buffer command failed.\n"
         "Please Check cables and SCSI termination.\n\nNote:  This command may not be implemented "
         "correctly by this SCSI device.|1", IDOK, "TDWR", {ok, ok, bad, kComplete, " "},
         {1000, 1000}},
    };
    // clang-format on
    for (const DiagRun& run : runs) {
        SCOPED_TRACE(int(run.target));
        PlatformKind = run.platform;
        Strings shown;
        std::string asked;
        helpCalls.clear();
        UiScript ui;
        ui.expect(Dialog().caption("Device Diagnostic Tests"))
            .then([&](HWND dialog, const WindowRecord&) {
                EXPECT_EQ(Texts(dialog, {1006, 1017, 1018, 1019, 1020}),
                          std::to_string(run.target) + "|QVX|1.0|Hard Disk|TEST DEVICE");
                // F1 on a check box, a right click on a label.
                HELPINFO help = {sizeof help, HELPINFO_WINDOW, 1024, GetDlgItem(dialog, 1024), 0,
                                 {}};
                SendMessageA(dialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
                SendMessageA(dialog, WM_CONTEXTMENU, (WPARAM)GetDlgItem(dialog, 1026), 0);
                for (const HelpCall& call : helpCalls)
                    asked += std::to_string(GetDlgCtrlID(call.window)) + " " +
                             std::to_string(call.command) +
                             (call.ids == kHelpTable && call.file == kHelpFile ? " " : " ?");
            })
            .click(IDOK)
            .then([&](HWND dialog, const WindowRecord&) {
                PumpPending(); // the run
                for (int id : {1026, 1028, 1029, 1035, 1036})
                    shown.push_back(Text(dialog, id));
                for (auto [box, label] : {std::pair{1022, 1026}, {1024, 1028}, {1025, 1029}})
                    EXPECT_EQ(IsDlgButtonChecked(dialog, box) == BST_CHECKED,
                              Text(dialog, label) == "PASSED!");
                if (run.warning == IDYES) // "No" has closed the dialog
                    ExpectColours(dialog);
            })
            .press(IDOK);
        ui.expect(MsgBox().caption("Diagnostic Tests:").text("Proceed ?")).press(run.warning);
        if (!run.failure.empty())
            ui.expect(MsgBox())
                .then(
                    [](HWND box, const WindowRecord&) { ExpectColours(GetWindow(box, GW_OWNER)); })
                .press(run.answer);
        ClearJournal();
        EXPECT_EQ(OpenDiagnosticTestsDialog(owner_.hwnd(), Slot(run.target)), 1);
        ui.verify();
        EXPECT_EQ(JournalText(), Commands(run.target, run.commands));
        EXPECT_EQ(shown, run.shown);
        EXPECT_EQ(ui.seen()[1].icon, static_cast<UINT>(MB_ICONEXCLAMATION));
        std::string failure;
        for (size_t i = 2; i < ui.seen().size(); i++) {
            failure = ui.seen()[i].caption + "|" + ui.seen()[i].text + "|" +
                      std::to_string(ui.seen()[i].buttons.size());
            EXPECT_EQ(ui.seen()[i].icon, static_cast<UINT>(MB_ICONSTOP));
        }
        EXPECT_EQ(failure, run.failure);
        EXPECT_EQ(pauses, run.pauses);
        pauses.clear();
        EXPECT_EQ(asked, "1024 12 1026 10 ");
    }
}

} // namespace
} // namespace qvx::test
