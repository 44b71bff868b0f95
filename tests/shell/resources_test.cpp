// The menus, accelerators, dialog templates and version record as the
// platform's resource loader hands them out.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "resource.h"
#include "support/testwindow.h"

namespace {

// "id text" per item joined by "|", "-" for a separator.
std::string Items(HMENU menu) {
    std::string items;
    for (int i = 0; i < GetMenuItemCount(menu); i++) {
        char text[128] = "";
        GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
        UINT id = GetMenuItemID(menu, i);
        items += (i > 0 ? "|" : "") + (id == 0 ? "-" : std::to_string(id) + " " + text);
    }
    return items;
}

TEST(Resources, MenusAndAcceleratorsCarryTheirCommands) {
    const struct {
        const char* menu;
        int position;
        const char* items;
    } menus[] = {
        {"APP_UI_MENU", 0, "101 Open...|102 &Save...|103 Save &As...|-|104 E&xit"},
        {"APP_UI_MENU", 1,
         "40003 &Re-scan SCSI Bus|40004 &Device Properties...|40009 Device &Performance Tests..."
         "|40012 System &SCSI Information...|-|40008 Scan SCSI Wide Bus:  SCSI ID 0 To 15"},
        {"APP_UI_MENU", 2,
         "120 &Large Icon View|121 &Small Icon View|122 List &View|123 &Details View"},
        {"APP_UI_MENU", 3, "40005 &Help...|-|130 &About..."},
        {"DEVICEPOPUPMENU", 0, "40004 &Device Properties..."},
        {"HOSTPOPUPMENU", 0, "40010 &SCSI Controller Properties..."},
    };
    for (const auto& m : menus) {
        HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), m.menu);
        ASSERT_NE(menu, nullptr) << m.menu;
        EXPECT_EQ(Items(GetSubMenu(menu, m.position)), m.items) << m.menu;
        DestroyMenu(menu);
    }
    HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), "APP_UI_MENU");
    EXPECT_EQ(GetMenuItemCount(menu), 4);
    EXPECT_TRUE(GetMenuState(menu, IDM_FILE_SAVE, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_FALSE(GetMenuState(menu, IDM_WIDE_BUS, MF_BYCOMMAND) & MF_CHECKED);
    DestroyMenu(menu);
    HACCEL keys =
        LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDA_MAIN_ACCELERATORS));
    EXPECT_EQ(CopyAcceleratorTableA(keys, nullptr, 0), 2) << "F6 and Tab only";
}

INT_PTR CALLBACK PlainDialog(HWND, UINT msg, WPARAM, LPARAM) {
    return msg == WM_INITDIALOG;
}

TEST(Resources, EveryDialogTemplateCarriesItsTitleAndControls) {
    const struct {
        LPCSTR name;
        const char* title;
        std::vector<int> ids;
    } templates[] = {
        {MAKEINTRESOURCEA(IDD_DEVICE_INFO_PAGE),
         "Device SCSI Information",
         {1013, 1006, 1017, 1018, 1019, 1020, 1010, 1011, 1014, 1012, 1015, 1008, 1009, 1016}},
        {MAKEINTRESOURCEA(IDD_DEVICE_FEATURES_PAGE),
         "Device Features",
         {1021, 1023, 1024, 1025, 1026, 1022, 1027}},
        {MAKEINTRESOURCEA(IDD_PERFORMANCE_TESTS),
         "Device Performance Tests",
         {1013, 1006, 1045, 1046, 1047, 1048, 1049, 1050, 1054, 1055, 1056, IDOK}},
        {MAKEINTRESOURCEA(IDD_ADAPTER_INFO),
         "SCSI Host Adapter Information:",
         {1021, 1022, 1023, 1024, 1025, 1026, 1027, 1028, 1029, IDOK}},
        {MAKEINTRESOURCEA(IDD_SYSTEM_INFO), "System SCSI Information:", {1058, IDOK}},
        {"ABOUTBOX", "About VARI Doverezuvuz", {1013, 500, 501, 502, 503, 504, 505, 506, IDOK}},
        {MAKEINTRESOURCEA(IDD_DIAGNOSTIC_TESTS),
         "Device Diagnostic Tests",
         {1013, 1006, 1017, 1020, 1022, 1024, 1025, 1026, 1028, 1029, 1035, 1036, IDOK}},
    };
    qvx::test::TestWindow owner;
    for (const auto& t : templates) {
        HWND dialog =
            CreateDialogParamA(GetModuleHandleA(nullptr), t.name, owner.hwnd(), PlainDialog, 0);
        ASSERT_NE(dialog, nullptr) << t.title;
        char text[128] = "";
        GetWindowTextA(dialog, text, sizeof text);
        EXPECT_STREQ(text, t.title);
        for (int id : t.ids)
            EXPECT_NE(GetDlgItem(dialog, id), nullptr) << t.title << " control " << id;
        DestroyWindow(dialog);
    }
}

// The entries the About box does not show.
TEST(Resources, VersionRecordHasEveryEntryInTheUsEnglishBlock) {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    DWORD handle = 0, size = GetFileVersionInfoSizeA(path, &handle);
    std::vector<char> record(size + 1);
    ASSERT_TRUE(GetFileVersionInfoA(path, handle, size, record.data()));
    auto entry = [&](const char* name) {
        char* value = nullptr;
        UINT length = 0;
        std::string query = std::string("\\StringFileInfo\\040904E4\\") + name;
        return VerQueryValueA(record.data(), query.c_str(), reinterpret_cast<void**>(&value),
                              &length) &&
                       value != nullptr
                   ? std::string(value)
                   : "<missing>";
    };
    EXPECT_EQ(entry("InternalName"), "KDX");
    EXPECT_EQ(entry("FileVersion"), entry("ProductVersion"));
    for (const char* name : {"OriginalFilename", "Comments"})
        EXPECT_NE(entry(name), "<missing>") << name;
}

} // namespace
