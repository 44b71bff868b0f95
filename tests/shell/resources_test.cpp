// The menus, accelerators, dialog templates and version record as the
// platform's resource loader hands them out.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "resource.h"
#include "support/testwindow.h"

namespace {

HINSTANCE Module() {
    return GetModuleHandleA(nullptr);
}

std::vector<std::string> Items(HMENU menu) {
    std::vector<std::string> items;
    for (int i = 0; i < GetMenuItemCount(menu); i++) {
        char text[128] = "";
        GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
        UINT id = GetMenuItemID(menu, i);
        items.push_back(id == 0 ? "-" : std::to_string(id) + " " + text);
    }
    return items;
}

using Strings = std::vector<std::string>;

TEST(Resources, MainMenuHasItsFourMenusAndCommands) {
    HMENU menu = LoadMenuA(Module(), "APP_UI_MENU");
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 4);
    EXPECT_EQ(Items(GetSubMenu(menu, 0)),
              (Strings{"101 Open...", "102 &Save...", "103 Save &As...", "-", "104 E&xit"}));
    EXPECT_EQ(Items(GetSubMenu(menu, 1)),
              (Strings{"40003 &Re-scan SCSI Bus", "40004 &Device Properties...",
                       "40009 Device &Performance Tests...", "40012 System &SCSI Information...",
                       "-", "40008 Scan SCSI Wide Bus:  SCSI ID 0 To 15"}));
    EXPECT_EQ(Items(GetSubMenu(menu, 2)), (Strings{"120 &Large Icon View", "121 &Small Icon View",
                                                   "122 List &View", "123 &Details View"}));
    EXPECT_EQ(Items(GetSubMenu(menu, 3)), (Strings{"40005 &Help...", "-", "130 &About..."}));
    EXPECT_TRUE(GetMenuState(menu, IDM_FILE_SAVE, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_FALSE(GetMenuState(menu, IDM_WIDE_BUS, MF_BYCOMMAND) & MF_CHECKED);
    DestroyMenu(menu);

    HMENU device = LoadMenuA(Module(), "DEVICEPOPUPMENU");
    HMENU host = LoadMenuA(Module(), "HOSTPOPUPMENU");
    ASSERT_NE(device, nullptr);
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(Items(GetSubMenu(device, 0)), Strings{"40004 &Device Properties..."});
    EXPECT_EQ(Items(GetSubMenu(host, 0)), Strings{"40010 &SCSI Controller Properties..."});
    DestroyMenu(device);
    DestroyMenu(host);
}

INT_PTR CALLBACK PlainDialog(HWND, UINT msg, WPARAM, LPARAM) {
    return msg == WM_INITDIALOG;
}

TEST(Resources, EveryDialogTemplateCarriesItsTitleAndControls) {
    struct Template {
        LPCSTR name;
        const char* title;
        std::vector<int> controls;
    };
    const std::vector<Template> templates = {
        {MAKEINTRESOURCEA(IDD_DEVICE_INFO_PAGE),
         "Device SCSI Information",
         {1013, 1006, 1017, 1018, 1019, 1020, 1010, 1011, 1014, 1012, 1015, 1008, 1009, 1016}},
        {MAKEINTRESOURCEA(IDD_DEVICE_FEATURES_PAGE),
         "Device Features",
         {1021, 1023, 1024, 1025, 1026, 1022, 1027}},
        {MAKEINTRESOURCEA(IDD_DIAGNOSTIC_TESTS),
         "Device Diagnostic Tests",
         {1013, 1006, 1017, 1020, 1022, 1024, 1025, 1026, 1028, 1029, 1035, 1036, IDOK}},
        {MAKEINTRESOURCEA(IDD_PERFORMANCE_TESTS),
         "Device Performance Tests",
         {1013, 1006, 1045, 1046, 1047, 1048, 1049, 1050, 1054, 1055, 1056, IDOK}},
        {MAKEINTRESOURCEA(IDD_ADAPTER_INFO),
         "SCSI Host Adapter Information:",
         {1021, 1022, 1023, 1024, 1025, 1026, 1027, 1028, 1029, IDOK}},
        {MAKEINTRESOURCEA(IDD_SYSTEM_INFO), "System SCSI Information:", {1058, IDOK}},
        {"ABOUTBOX", "About VARI Doverezuvuz", {1013, 500, 501, 502, 503, 504, 505, 506, IDOK}},
    };
    qvx::test::TestWindow owner;
    for (const Template& t : templates) {
        HWND dialog = CreateDialogParamA(Module(), t.name, owner.hwnd(), PlainDialog, 0);
        ASSERT_NE(dialog, nullptr) << t.title;
        char title[128] = "";
        GetWindowTextA(dialog, title, sizeof title);
        EXPECT_STREQ(title, t.title);
        for (int id : t.controls)
            EXPECT_NE(GetDlgItem(dialog, id), nullptr) << t.title << " control " << id;
        DestroyWindow(dialog);
    }
}

TEST(Resources, TriStateBoxesAndResultFieldsStartAsTheTestsExpect) {
    qvx::test::TestWindow owner;
    HWND dialog = CreateDialogParamA(Module(), MAKEINTRESOURCEA(IDD_DIAGNOSTIC_TESTS), owner.hwnd(),
                                     PlainDialog, 0);
    ASSERT_NE(dialog, nullptr);
    for (int id : {1022, 1024, 1025})
        EXPECT_EQ(GetWindowLongA(GetDlgItem(dialog, id), GWL_STYLE) & BS_TYPEMASK, BS_AUTO3STATE);
    char text[32] = "";
    GetDlgItemTextA(dialog, 1026, text, sizeof text);
    EXPECT_STREQ(text, "Not Tested");
    DestroyWindow(dialog);
}

TEST(Resources, F6AndTabAreTheOnlyAccelerators) {
    HACCEL table = LoadAcceleratorsA(Module(), MAKEINTRESOURCEA(IDA_MAIN_ACCELERATORS));
    ASSERT_NE(table, nullptr);
    ACCEL keys[4] = {};
    ASSERT_EQ(CopyAcceleratorTableA(table, keys, 4), 2);
    for (const ACCEL& key : keys) {
        if (key.key == 0)
            continue;
        EXPECT_EQ(key.cmd, IDM_SWITCH_FOCUS);
        EXPECT_EQ(key.fVirt & (FCONTROL | FALT | FSHIFT), 0);
        EXPECT_TRUE(key.key == VK_F6 || key.key == VK_TAB) << key.key;
    }
}

TEST(Resources, VersionRecordHasEveryEntryInTheUsEnglishBlock) {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    DWORD handle = 0, size = GetFileVersionInfoSizeA(path, &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> record(size);
    ASSERT_TRUE(GetFileVersionInfoA(path, handle, size, record.data()));
    auto entry = [&](const char* name) {
        char* value = nullptr;
        UINT length = 0;
        std::string query = std::string("\\StringFileInfo\\040904E4\\") + name;
        if (!VerQueryValueA(record.data(), query.c_str(), reinterpret_cast<void**>(&value),
                            &length) ||
            value == nullptr)
            return std::string("<missing>");
        return std::string(value);
    };
    EXPECT_EQ(entry("FileDescription"), "Performs diagnostic tests on SCSI peripherals.");
    EXPECT_EQ(entry("InternalName"), "KDX");
    EXPECT_EQ(entry("ProductName"), "Quorvex Diagnostics");
    EXPECT_EQ(entry("FileVersion"), entry("ProductVersion"));
    for (const char* name : {"CompanyName", "FileVersion", "LegalCopyright", "LegalTrademarks",
                             "OriginalFilename", "Comments"})
        EXPECT_NE(entry(name), "<missing>") << name;
}

} // namespace
