// Smoke test of the UI script helper: a real modal dialog, typed into and
// pressed, whose OK handler opens a real message box that is answered in turn.
#include <gtest/gtest.h>

#include "support/dlgtemplate.h"
#include "support/uiscript.h"

namespace {

using qvx::test::Dialog;
using qvx::test::MsgBox;
using qvx::test::UiScript;

constexpr int kEdit = 101, kWide = 102;

// On OK: asks before a wide scan, then ends with the typed length.
INT_PTR CALLBACK SettingsProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
    if (msg != WM_COMMAND || LOWORD(wp) != IDOK)
        return msg == WM_INITDIALOG;
    if (IsDlgButtonChecked(dlg, kWide) == BST_CHECKED &&
        MessageBoxA(dlg, "Scan the wide bus?", "Confirm", MB_YESNO | MB_ICONQUESTION) != IDYES)
        return TRUE;
    EndDialog(dlg, GetWindowTextLengthA(GetDlgItem(dlg, kEdit)));
    return TRUE;
}

TEST(UiScript, AnswersADialogAndTheMessageBoxItOpens) {
    qvx::test::DialogTemplate t("Settings", 180, 90);
    t.Edit(kEdit, 70, 6, 100, 14)
        .CheckBox(kWide, "Wide bus", 8, 28, 80, 12)
        .Button(IDOK, "OK", 40, 68, 50, 14, BS_DEFPUSHBUTTON);
    UiScript ui;
    ui.expect(Dialog().caption("Settings").control(kEdit))
        .setText(kEdit, "AHA-2940UW")
        .check(kWide)
        .click(IDOK) // declined below, so the dialog stays open
        .press(IDOK);
    ui.expect(MsgBox().caption("Confirm").text("wide bus")).press(IDNO);
    ui.expect(MsgBox().caption("Confirm")).press(IDYES);
    EXPECT_EQ(DialogBoxIndirectParamA(GetModuleHandleA(nullptr), t.get(), nullptr, SettingsProc, 0),
              10);
    ui.verify();
    ASSERT_EQ(ui.seen().size(), 3u);
    EXPECT_EQ(ui.seen()[0].control(kWide)->check, BST_UNCHECKED) << "recorded as it opened";
    EXPECT_EQ(ui.seen()[1].text, "Scan the wide bus?");
    EXPECT_EQ(ui.seen()[1].icon, static_cast<UINT>(MB_ICONQUESTION));
    EXPECT_TRUE(ui.seen()[1].hasButton(IDYES) && ui.seen()[1].hasButton(IDNO));
}

} // namespace
