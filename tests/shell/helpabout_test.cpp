// The help file lookup against the real registry, and the About box as the
// user sees it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <map>
#include <string>

#include "inventory/inventory.h"
#include "shell/helpabout.h"
#include "support/uiscript.h"

namespace {

using qvx::test::Dialog;
using qvx::test::MsgBox;
using qvx::test::UiScript;
using qvx::test::WindowRecord;

const std::string kAppKey = std::string(APP_PATHS_KEY) + APP_PATH_ENTRY;

bool AppKeyExists() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAppKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// Lays the application path entry, with or without "HelpPath"; removes it after.
class AppPathEntry {
  public:
    explicit AppPathEntry(const char* helpPath) {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kAppKey.c_str());
        HKEY key;
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kAppKey.c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        if (helpPath != nullptr)
            RegSetValueExA(key, "HelpPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(helpPath),
                           static_cast<DWORD>(strlen(helpPath) + 1));
        RegCloseKey(key);
    }
    ~AppPathEntry() {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kAppKey.c_str());
    }
};

TEST(LocateHelpFiles, UsesTheDirectorySetupRecorded) {
    AppPathEntry entry("C:\\Program Files\\Quorvex");
    UiScript ui; // no message at all
    EXPECT_EQ(LocateHelpFiles(), 1);
    ui.verify();
    EXPECT_TRUE(ui.seen().empty());
    EXPECT_STREQ(HelpFilePath, "C:\\Program Files\\Quorvex\\KDX.hlp");
    EXPECT_STREQ(ContextHelpFilePath, "C:\\Program Files\\Quorvex\\KDXCH.hlp");
}

TEST(LocateHelpFiles, WithoutSetupWarnsOnceLeavesNoKeyAndUsesBareNames) {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kAppKey.c_str());
    UiScript ui;
    ui.expect(MsgBox().caption("Quorvex Diagnostics status:").text("do not exist")).press(IDOK);
    EXPECT_EQ(LocateHelpFiles(), 1);
    ui.verify();
    ASSERT_EQ(ui.seen().size(), 1u);
    EXPECT_EQ(ui.seen()[0].icon, static_cast<UINT>(MB_ICONHAND));
    EXPECT_EQ(ui.seen()[0].text,
              "The registry enteries for the Quorvex Diagnostics\nutility do not exist.  Please "
              "run the Quorvex Setup\nprogram to properly install Quorvex Diagnostics.");
    EXPECT_FALSE(AppKeyExists());
    EXPECT_STREQ(HelpFilePath, "KDX.hlp");
    EXPECT_STREQ(ContextHelpFilePath, "KDXCH.hlp");
}

TEST(LocateHelpFiles, AnEntryWithoutHelpPathEndsTheProgram) {
    AppPathEntry entry(nullptr);
    UiScript ui;
    ui.expect(MsgBox().text("Could not access the registry entry for the 'HelpPath' value !\n"
                            "Quorvex Diagnostics must exit."))
        .press(IDOK);
    EXPECT_EQ(LocateHelpFiles(), 0);
    ui.verify();
    EXPECT_TRUE(AppKeyExists()) << "setup's entry is left alone";
}

TEST(OsVersionLine, NamesBothFamiliesAndWin32s) {
    char line[128];
    FormatOsVersionLine(0x05650004, line, sizeof line);
    EXPECT_STREQ(line, "Microsoft Windows NT 4.0 Build: 1381");
    FormatOsVersionLine(0xC0000004, line, sizeof line);
    EXPECT_STREQ(line, "Microsoft Windows 95  Version: 4.0");
    FormatOsVersionLine(0xC0000A04, line, sizeof line);
    EXPECT_STREQ(line, "Microsoft Windows 95  Version: 4.10");
    FormatOsVersionLine(0x80C80B03, line, sizeof line);
    EXPECT_STREQ(line, "Microsoft Win32s 3.11 Build: 200");
}

LONG FontHeight(HWND dialog, int control) {
    HFONT font = reinterpret_cast<HFONT>(SendDlgItemMessageA(dialog, control, WM_GETFONT, 0, 0));
    LOGFONTA info = {};
    if (font == nullptr || GetObjectA(font, sizeof info, &info) == 0)
        return 0;
    return info.lfHeight;
}

TEST(AboutBox, ShowsTheVersionRecordAndTheRunningSystem) {
    AppInstance = nullptr; // this executable carries the program's version record
    char osLine[128];
    FormatOsVersionLine(GetVersion(), osLine, sizeof osLine);
    std::map<int, LONG> heights;

    UiScript ui;
    ui.expect(Dialog().caption("About Quorvex Diagnostics").control(505))
        .then([&](HWND dialog, const WindowRecord&) {
            for (int id : {500, 501, 502, 503, 504, 505, 506})
                heights[id] = FontHeight(dialog, id);
            RECT box;
            GetWindowRect(dialog, &box);
            EXPECT_TRUE(IsWindowVisible(dialog));
        })
        .press(IDOK);
    INT_PTR result =
        DialogBoxParamA(GetModuleHandleA(nullptr), "ABOUTBOX", nullptr, AboutDialog, 0);
    ui.verify();
    EXPECT_EQ(result, 1);
    ASSERT_FALSE(ui.seen().empty());
    const WindowRecord& box = ui.seen()[0];
    auto text = [&](int id) {
        const qvx::test::ControlInfo* c = box.control(id);
        return c != nullptr ? c->text : std::string("<missing>");
    };
    EXPECT_EQ(text(500), "Veltrane Corporation");
    EXPECT_EQ(text(501), "Performs diagnostic tests on SCSI peripherals.");
    EXPECT_EQ(text(502), "1.00");
    EXPECT_EQ(text(503), "Copyright (C) 1997 Veltrane Corporation");
    EXPECT_EQ(text(504), osLine);
    EXPECT_EQ(text(505), "Quorvex and Kestrail are trademarks of Veltrane Corporation.");
    EXPECT_EQ(text(506), "Running On:");
    for (int id : {500, 501, 502, 503, 504, 506})
        EXPECT_EQ(heights[id], 14) << id;
    EXPECT_EQ(heights[505], 11);
}

} // namespace
