// The help file lookup against the real registry, and the About box as the
// user sees it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "inventory/inventory.h"
#include "shell/helpabout.h"
#include "support/uiscript.h"
#include "program.h"

namespace {

using namespace qvx::test;

bool AppKeyExists() {
    HKEY key;
    std::string path = std::string(APP_PATHS_KEY) + APP_PATH_ENTRY;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

TEST(LocateHelpFiles, UsesSetupsDirectoryOrWarnsOrEndsWithoutHelpPath) {
    {
        InstalledHelpPath entry("C:\\Program Files\\Quorvex");
        UiScript ui; // no message at all
        EXPECT_EQ(LocateHelpFiles(), 1);
        ui.verify();
        EXPECT_TRUE(ui.seen().empty());
        EXPECT_STREQ(HelpFilePath, "C:\\Program Files\\Quorvex\\KDX.hlp");
        EXPECT_STREQ(ContextHelpFilePath, "C:\\Program Files\\Quorvex\\KDXCH.hlp");
    }
    {
        UiScript ui; // no entry: one warning, no key left, bare names
        ui.expect(MsgBox()
                      .caption("Quorvex Diagnostics status:")
                      .text("The registry enteries for the Quorvex Diagnostics\nutility do not "
                            "exist.  Please run the Quorvex Setup\nprogram to properly install "
                            "Quorvex Diagnostics."))
            .press(IDOK);
        EXPECT_EQ(LocateHelpFiles(), 1);
        ui.verify();
        ASSERT_EQ(ui.seen().size(), 1u);
        EXPECT_EQ(ui.seen()[0].icon, static_cast<UINT>(MB_ICONHAND));
        EXPECT_FALSE(AppKeyExists());
        EXPECT_STREQ(HelpFilePath, "KDX.hlp");
        EXPECT_STREQ(ContextHelpFilePath, "KDXCH.hlp");
    }
    InstalledHelpPath entry(nullptr);
    UiScript ui;
    ui.expect(MsgBox().text("Could not access the registry entry for the 'HelpPath' value !\n"
                            "Quorvex Diagnostics must exit."))
        .press(IDOK);
    EXPECT_EQ(LocateHelpFiles(), 0);
    ui.verify();
    EXPECT_TRUE(AppKeyExists()) << "setup's entry is left alone";
}

TEST(OsVersionLine, NamesBothFamilies) {
    const struct {
        DWORD version;
        const char* line;
    } cases[] = {{0x05650004, "Microsoft Windows NT 4.0 Build: 1381"},
                 {0xC0000004, "Microsoft Windows 95  Version: 4.0"},
                 {0xC0000A04, "Microsoft Windows 95  Version: 4.10"}};
    for (const auto& c : cases) {
        char line[128];
        FormatOsVersionLine(c.version, line, sizeof line);
        EXPECT_STREQ(line, c.line);
    }
}

TEST(AboutBox, ShowsTheVersionRecordAndTheRunningSystem) {
    AppInstance = nullptr; // this executable carries the program's version record
    char osLine[128];
    FormatOsVersionLine(GetVersion(), osLine, sizeof osLine);
    const std::pair<int, const char*> texts[] = {
        {500, "Veltrane Corporation"},
        {501, "Performs diagnostic tests on SCSI peripherals."},
        {502, "1.00"},
        {503, "Copyright (C) 1997 Veltrane Corporation"},
        {504, osLine},
        {505, "Quorvex and Kestrail are trademarks of Veltrane Corporation."},
        {506, "Running On:"}};
    UiScript ui;
    ui.expect(Dialog().caption("About Quorvex Diagnostics").control(505))
        .then([&](HWND dialog, const auto&) {
            for (const auto& [id, text] : texts) {
                char shown[256] = "";
                GetDlgItemTextA(dialog, id, shown, sizeof shown);
                EXPECT_STREQ(shown, text) << id;
                LOGFONTA font = {};
                GetObjectA(
                    reinterpret_cast<HFONT>(SendDlgItemMessageA(dialog, id, WM_GETFONT, 0, 0)),
                    sizeof font, &font);
                EXPECT_EQ(font.lfHeight, id == 505 ? 11 : 14) << id;
            }
        })
        .press(IDOK);
    EXPECT_EQ(DialogBoxParamA(GetModuleHandleA(nullptr), "ABOUTBOX", nullptr, AboutDialog, 0), 1);
    ui.verify();
}

} // namespace
