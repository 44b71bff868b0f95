// The UI script helper against real message boxes and real modal dialogs.
#include <gtest/gtest-spi.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "support/dlgtemplate.h"
#include "support/uiscript.h"

namespace {

using qvx::test::Dialog;
using qvx::test::DialogTemplate;
using qvx::test::MsgBox;
using qvx::test::UiScript;
using qvx::test::WindowRecord;

struct BoxCase {
    UINT style;
    int press;
    UINT icon;
    std::vector<int> buttons;
};

class MessageBoxAnswers : public testing::TestWithParam<BoxCase> {};

TEST_P(MessageBoxAnswers, PressesTheButtonAndRecordsTheBox) {
    const BoxCase& c = GetParam();
    UiScript ui;
    ui.expect(MsgBox().caption("Quorvex test:").text("second line")).press(c.press);
    int result = MessageBoxA(nullptr, "First line\nsecond line", "Quorvex test:", c.style);
    ui.verify();
    EXPECT_EQ(result, c.press);
    ASSERT_EQ(ui.seen().size(), 1u);
    const WindowRecord& w = ui.seen()[0];
    EXPECT_TRUE(w.expected);
    EXPECT_EQ(w.className, "#32770");
    EXPECT_EQ(w.caption, "Quorvex test:");
    EXPECT_EQ(w.text, "First line\nsecond line");
    EXPECT_EQ(w.icon, c.icon);
    std::vector<int> buttons = w.buttons;
    std::sort(buttons.begin(), buttons.end());
    EXPECT_EQ(buttons, c.buttons);
}

INSTANTIATE_TEST_SUITE_P(
    EachButton, MessageBoxAnswers,
    testing::Values(
        BoxCase{MB_OK | MB_ICONHAND, IDOK, MB_ICONHAND, {IDOK}},
        BoxCase{MB_OKCANCEL | MB_ICONQUESTION, IDCANCEL, MB_ICONQUESTION, {IDOK, IDCANCEL}},
        BoxCase{MB_YESNO | MB_ICONEXCLAMATION, IDYES, MB_ICONEXCLAMATION, {IDYES, IDNO}},
        BoxCase{MB_YESNOCANCEL | MB_ICONASTERISK, IDNO, MB_ICONASTERISK, {IDCANCEL, IDYES, IDNO}},
        BoxCase{MB_RETRYCANCEL, IDRETRY, 0, {IDCANCEL, IDRETRY}}));

// A small settings dialog: an edit, a check box, OK and Cancel. On OK it
// asks for confirmation when the box is checked, then hands back its values.
constexpr int kEdit = 101, kCheck = 102, kLabel = 103;
struct Settings {
    char name[64] = "";
    bool wide = false;
    bool confirmWide = false;
};

INT_PTR CALLBACK SettingsProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dlg, DWLP_USER, lp);
        return TRUE;
    case WM_COMMAND: {
        auto* s = reinterpret_cast<Settings*>(GetWindowLongPtrA(dlg, DWLP_USER));
        if (LOWORD(wp) == IDOK) {
            GetDlgItemTextA(dlg, kEdit, s->name, sizeof s->name);
            s->wide = IsDlgButtonChecked(dlg, kCheck) == BST_CHECKED;
            if (s->wide && s->confirmWide &&
                MessageBoxA(dlg, "Scan the wide bus?", "Confirm", MB_YESNO) != IDYES)
                return TRUE;
            EndDialog(dlg, IDOK);
        } else if (LOWORD(wp) == IDCANCEL) {
            EndDialog(dlg, IDCANCEL);
        }
        return TRUE;
    }
    }
    return FALSE;
}

DialogTemplate SettingsTemplate() {
    DialogTemplate t("Settings", 180, 90);
    t.Label(kLabel, "Adapter name:", 8, 8, 60, 10)
        .Edit(kEdit, 70, 6, 100, 14)
        .CheckBox(kCheck, "Wide bus", 8, 28, 80, 12)
        .Button(IDOK, "OK", 40, 68, 50, 14, BS_DEFPUSHBUTTON)
        .Button(IDCANCEL, "Cancel", 100, 68, 50, 14);
    return t;
}

INT_PTR RunSettings(Settings& s) {
    DialogTemplate t = SettingsTemplate();
    return DialogBoxIndirectParamA(GetModuleHandleA(nullptr), t.get(), nullptr, SettingsProc,
                                   reinterpret_cast<LPARAM>(&s));
}

TEST(UiScriptDialog, TypesChecksAndPressesOk) {
    Settings s;
    UiScript ui;
    ui.expect(Dialog().caption("Settings").control(kEdit))
        .setText(kEdit, "AHA-2940UW")
        .check(kCheck)
        .press(IDOK);
    EXPECT_EQ(RunSettings(s), IDOK);
    ui.verify();
    EXPECT_STREQ(s.name, "AHA-2940UW");
    EXPECT_TRUE(s.wide);
    // The record shows the dialog as it opened, before the script touched it.
    ASSERT_EQ(ui.seen().size(), 1u);
    const WindowRecord& w = ui.seen()[0];
    ASSERT_NE(w.control(kCheck), nullptr);
    EXPECT_EQ(w.control(kCheck)->check, BST_UNCHECKED);
    EXPECT_EQ(w.control(kCheck)->text, "Wide bus");
    EXPECT_EQ(w.control(kEdit)->text, "");
    EXPECT_EQ(w.control(kEdit)->className, "Edit");
    EXPECT_TRUE(w.control(kLabel)->visible);
    EXPECT_EQ(w.control(kLabel)->check, -1);
    EXPECT_TRUE(w.hasButton(IDOK) && w.hasButton(IDCANCEL));
}

TEST(UiScriptDialog, AnswersANestedMessageBoxInTurn) {
    Settings s;
    s.confirmWide = true;
    UiScript ui;
    // click() runs the dialog's OK handler at once, so the confirmation box
    // is answered inside it and the callback runs after it was declined.
    ui.expect(Dialog().caption("Settings"))
        .check(kCheck)
        .click(IDOK)
        .then([](HWND dlg, const WindowRecord&) {
            EXPECT_EQ(IsDlgButtonChecked(dlg, kCheck), BST_CHECKED);
            EndDialog(dlg, 42);
        });
    ui.expect(MsgBox().caption("Confirm").text("wide bus")).press(IDNO);
    EXPECT_EQ(RunSettings(s), 42);
    ui.verify();
    ASSERT_EQ(ui.seen().size(), 2u);
    EXPECT_EQ(ui.seen()[1].text, "Scan the wide bus?");
}

TEST(UiScriptDialog, CallbackSeesTheLiveWindow) {
    Settings s;
    UiScript ui;
    ui.expect(Dialog().caption("Settings"))
        .setText(kEdit, "typed")
        .then([](HWND dlg, const WindowRecord& shown) {
            char buf[32];
            GetDlgItemTextA(dlg, kEdit, buf, sizeof buf);
            EXPECT_STREQ(buf, "typed");
            EXPECT_EQ(shown.control(kEdit)->text, ""); // recorded before the actions
            EndDialog(dlg, 7);
        });
    EXPECT_EQ(RunSettings(s), 7);
}

TEST(UiScriptFailures, UnexpectedMessageBoxFailsAndIsClosed) {
    int result = 0;
    EXPECT_NONFATAL_FAILURE(
        {
            UiScript ui;
            result = MessageBoxA(nullptr, "Nobody asked", "Surprise", MB_YESNO);
        },
        "unexpected window class \"#32770\" caption \"Surprise\" text \"Nobody asked\"");
    EXPECT_EQ(result, IDNO); // closed with the safest button it had
}

TEST(UiScriptFailures, WindowNotMatchingTheNextExpectation) {
    testing::TestPartResultArray failures;
    int result = 0;
    {
        testing::ScopedFakeTestPartResultReporter spy(
            testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
        UiScript ui;
        ui.expect(MsgBox().text("Re-scan")).press(IDOK);
        result = MessageBoxA(nullptr, "Something else", "Quorvex test:", MB_OKCANCEL);
    }
    EXPECT_EQ(result, IDCANCEL);
    ASSERT_EQ(failures.size(), 2);
    EXPECT_THAT(
        failures.GetTestPartResult(0).message(),
        testing::HasSubstr("expected next: window class \"#32770\" containing \"Re-scan\""));
    EXPECT_THAT(failures.GetTestPartResult(1).message(), testing::HasSubstr("never came"));
}

TEST(UiScriptFailures, ExpectedWindowThatNeverCame) {
    EXPECT_NONFATAL_FAILURE(
        {
            UiScript ui;
            ui.expect(MsgBox().caption("Missing")).press(IDOK);
        },
        "expected window never came: window class \"#32770\" caption \"Missing\"");
}

TEST(UiScriptFailures, WatchdogEndsAWindowLeftOpen) {
    int result = 0;
    EXPECT_NONFATAL_FAILURE(
        {
            UiScript ui(1);
            ui.expect(MsgBox()).then([](HWND, const WindowRecord&) {});
            result = MessageBoxA(nullptr, "Left open", "Quorvex test:", MB_OK);
        },
        "still open after 1 s");
    EXPECT_EQ(result, IDCANCEL);
}

TEST(UiScriptFailures, WindowsOfOtherClassesAreIgnored) {
    UiScript ui;
    HWND w = CreateWindowExA(0, "STATIC", "plain", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr,
                             nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(w, nullptr);
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&m);
    DestroyWindow(w);
    EXPECT_TRUE(ui.seen().empty());
}

} // namespace
