// The help file lookup against the real registry, and the About box as the
// user sees it.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>

#include "inventory/inventory.h"
#include "shell/helpabout.h"
#include "support/gdicount.h"
#include "support/program.h"
#include "support/uiscript.h"

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

// Setup's entry with its folder; no entry: a warning, the bare names and no
// entry left behind; an entry without "HelpPath": the end.
TEST(LocateHelpFiles, UsesSetupsFolderOrWarnsOrEnds) {
    const struct {
        bool entry;
        const char* helpPath; // the entry's value, if any
        const char* message;  // shown with a stop icon, if any
        int result;
        const char* paths;
    } cases[] = {
        {true, "C:\\Program Files\\Quorvex", nullptr, 1,
         "C:\\Program Files\\Quorvex\\KDX.hlp|C:\\Program Files\\Quorvex\\KDXCH.hlp"},
        {false, nullptr,
         "The registry enteries for the Quorvex Diagnostics\nutility do not exist.  Please run "
         "the Quorvex Setup\nprogram to properly install Quorvex Diagnostics.",
         1, "KDX.hlp|KDXCH.hlp"},
        {true, nullptr,
         "Could not access the registry entry for the 'HelpPath' value !\nQuorvex Diagnostics "
         "must exit.",
         0, "|"},
    };
    for (const auto& c : cases) {
        std::optional<InstalledHelpPath> installed;
        if (c.entry)
            installed.emplace(c.helpPath);
        HelpFilePath[0] = ContextHelpFilePath[0] = '\0';
        UiScript ui;
        if (c.message != nullptr)
            ui.expect(MsgBox().caption("Quorvex Diagnostics status:").text(c.message)).press(IDOK);
        EXPECT_EQ(LocateHelpFiles(), c.result);
        ui.verify();
        for (const WindowRecord& shown : ui.seen())
            EXPECT_EQ(shown.icon, static_cast<UINT>(MB_ICONHAND));
        EXPECT_EQ(std::string(HelpFilePath) + "|" + ContextHelpFilePath, c.paths);
        EXPECT_EQ(AppKeyExists(), c.entry);
    }
}

TEST(OsVersionLine, NamesEachFamily) {
    const struct {
        DWORD version;
        const char* line;
    } cases[] = {{0x05650004, "Microsoft Windows NT 4.0 Build: 1381"},
                 {0xC0000004, "Microsoft Windows 95  Version: 4.0"},
                 {0xC0000A04, "Microsoft Windows 95  Version: 4.10"},
                 {0x80350A03, "Microsoft Win32s 3.10 Build: 53"}};
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
        .then([](HWND dialog, const auto&) {
            BITMAP picture = {};
            GetObjectA(reinterpret_cast<HBITMAP>(
                           SendDlgItemMessageA(dialog, 1013, STM_GETIMAGE, IMAGE_BITMAP, 0)),
                       sizeof picture, &picture);
            EXPECT_EQ(picture.bmWidth * 100 + picture.bmHeight, 4848) << "bitmap 142";
        })
        .press(IDOK);
    EXPECT_EQ(DialogBoxParamA(GetModuleHandleA(nullptr), "ABOUTBOX", nullptr, AboutDialog, 0), 1);
    ui.verify();
}

// Each opening gives back every GDI object it made: fonts and picture.
TEST(AboutBox, LeavesNoGdiObjectBehind) {
    AppInstance = nullptr;
    auto open = [] {
        UiScript ui;
        ui.expect(Dialog().caption("About Quorvex Diagnostics")).press(IDOK);
        DialogBoxParamA(GetModuleHandleA(nullptr), "ABOUTBOX", nullptr, AboutDialog, 0);
    };
    open(); // the first opening may make what the process keeps for good
    int before = GdiObjectCount();
    for (int i = 0; i < 10; i++)
        open();
    EXPECT_GT(before, 0);
    EXPECT_EQ(GdiObjectCount(), before);
}

} // namespace
