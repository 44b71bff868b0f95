// The device properties sheet with real controls: what each page shows for
// each kind of record, its picture, and the help tables each page gives.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <functional>
#include <string>
#include <vector>

#include "resource.h"
#include "shell/toolentry.h"
#include "tools/properties.h"
#include "support/devicetools.h"
#include "support/uiscript.h"

namespace {

using namespace qvx::test;
using Texts = std::vector<std::string>;
using Ids = std::vector<int>;

const Ids kIdentity = {IDC_SCSI_ADDRESS, IDC_MANUFACTURER, IDC_VERSION, IDC_DEVICE_TYPE,
                       IDC_PRODUCT_NAME};
const Ids kBoxes = {IDC_SYNC_TRANSFER, IDC_REMOVABLE_MEDIA, IDC_NARROW, IDC_WIDE16,
                    IDC_WIDE32,        IDC_SCSI1,           IDC_SCSI2,  IDC_SCSI3};
const Ids kFeatures = {IDC_FIELD_1021, IDC_FIELD_1023, IDC_FIELD_1024, IDC_FIELD_1025,
                       IDC_FIELD_1026, IDC_FIELD_1022, IDC_FIELD_1027};

Texts TextsOf(HWND page, const Ids& ids) {
    Texts texts;
    for (int id : ids)
        texts.push_back(Text(page, id));
    return texts;
}

// The boxes shown checked; a box that is neither checked and enabled nor
// clear and greyed is listed as -id.
Ids CheckedBoxes(HWND page) {
    Ids on;
    for (int id : kBoxes) {
        bool enabled = IsWindowEnabled(GetDlgItem(page, id));
        UINT state = IsDlgButtonChecked(page, id);
        if (enabled != (state == BST_CHECKED) || state == BST_INDETERMINATE)
            on.push_back(-id);
        else if (enabled)
            on.push_back(id);
    }
    return on;
}

HWND CurrentPage(HWND sheet) {
    return PropSheet_GetCurrentPageHwnd(sheet);
}

using Properties = DeviceToolsTest;

// Opens the sheet for a slot through the main window's entry, runs `inspect`
// while it is up and closes it with OK.
void WithSheet(int slot, const std::function<void(HWND)>& inspect) {
    WhileOpen(
        "SCSI Device Properties", [&] { ToolEntries.DeviceProperties(nullptr, slot); }, inspect);
}

TEST_F(Properties, PagesShowTheRecord) {
    const std::string na = TextNotAvailable;
    // Stored: buffer, speed, read cache, write cache, block size, capacity, serial.
    const Texts all = {"512 KB", "5400 RPM", "Enabled", "Disabled", "512 Bytes", "542 MB", "QX1"};
    struct Case {
        const char* type;
        LONG sync, wide16, wide32, ansi;
        Texts stored;
        const char* product; // shown on the first page after the address, vendor and revision
        Ids boxes;
        Texts features;
    };
    // clang-format off
    const Case cases[] = {
        {TextHostAdapter, 1, 0, 0, 2, all, nullptr, {IDC_SYNC_TRANSFER, IDC_SCSI2}, all},
        {TextTape, 0, 0, 1, 4, all, "TEST DEVICE", {IDC_WIDE32},
         {"512 KB", na, "Enabled", "Disabled", na, na, "QX1"}},
        {TextNoDevice, 0, 0, 0, 0, all, "", {}, Texts(7, na)},
        {TextHardDisk, 0, 0, 0, 2, Texts(7), "TEST DEVICE", {IDC_NARROW, IDC_SCSI2},
         {na, "", na, na, na, na, na}},
        {TextCdRom, 0, 1, 1, 3, {"", na, "", "", "2048 Bytes", "", ""}, "TEST DEVICE", {IDC_SCSI3},
         Texts(7, na)},
    };
    // clang-format on
    // Every row but the adapter's paints its picture on the first page.
    const std::vector<DWORD> red(32 * 32, 0x00FF0000);
    HBITMAP picture = CreateBitmap(32, 32, 1, 32, red.data());
    for (size_t i = 0; i < std::size(cases); i++) {
        const Case& c = cases[i];
        DeviceRecord& d = Fill(static_cast<int>(i), 4, c.type, c.ansi);
        d.TypeBitmap = picture;
        d.SyncTransfer = c.sync;
        d.Wide16 = c.wide16;
        d.Wide32 = c.wide32;
        char* fields[] = {d.BufferSizeText, d.MediaSpeedText, d.ReadCacheText, d.WriteCacheText,
                          d.BlockSizeText,  d.CapacityText,   d.SerialNumber};
        for (size_t f = 0; f < c.stored.size(); f++)
            CopyText(fields[f], 20, c.stored[f].c_str());
    }
    for (size_t i = 0; i < std::size(cases); i++) {
        const Case& c = cases[i];
        PropertiesStartPage = 1; // the main window's entry opens the first page all the same
        WithSheet(static_cast<int>(i), [&](HWND sheet) {
            HWND info = CurrentPage(sheet);
            Texts identity(5);
            if (c.product != nullptr)
                identity = {"4", "QVX", "1.0", c.type, c.product};
            EXPECT_EQ(TextsOf(info, kIdentity), identity) << c.type;
            // The boxes show the record; clicks do not change them.
            for (int id : kBoxes)
                SendDlgItemMessageA(info, id, BM_CLICK, 0, 0);
            EXPECT_EQ(CheckedBoxes(info), c.boxes) << c.type;
            RECT r = ControlRect(info, IDC_DEVICE_PICTURE);
            EXPECT_EQ(PixelAt(info, (r.left + r.right) / 2, (r.top + r.bottom) / 2) ==
                          RGB(255, 0, 0),
                      c.type != std::string(TextHostAdapter))
                << c.type;
            PropSheet_SetCurSel(sheet, nullptr, 1);
            EXPECT_EQ(TextsOf(CurrentPage(sheet), kFeatures), c.features) << c.type;
        });
    }
    EXPECT_TRUE(helpCalls.empty()) << "no help without a request";
}

TEST_F(Properties, HelpGivesEachPagesTable) {
    // clang-format off
    const std::vector<DWORD> info = {1006, 20000, 1017, 20001, 1018, 20002, 1019, 20003,
        1020, 20004, 1010, 20005, 1011, 20006, 1014, 20007, 1012, 20008, 1015, 20009,
        1008, 20010, 1009, 20011, 1016, 20012};
    const std::vector<DWORD> features = {1021, 20020, 1023, 20021, 1025, 20022, 1024, 20023,
        1026, 20024, 1022, 20025, 1027, 20026};
    // F1 on a control, or a right click over it: an enabled box gets the
    // click itself; over a label or a greyed box the page gets it and finds
    // the control.
    struct { int page, id; UINT command; bool byPage; } const requests[] = {
        {0, IDC_MANUFACTURER, HELP_WM_HELP, false}, {0, IDC_SYNC_TRANSFER, HELP_CONTEXTMENU, false},
        {0, IDC_DEVICE_TYPE, HELP_CONTEXTMENU, true}, {0, IDC_WIDE32, HELP_CONTEXTMENU, true},
        {1, IDC_FIELD_1023, HELP_WM_HELP, false}, {1, IDC_FIELD_1027, HELP_CONTEXTMENU, true}};
    // clang-format on
    Fill(0, 0, TextHardDisk).SyncTransfer = 1;
    WithSheet(0, [&](HWND sheet) {
        for (const auto& r : requests) {
            PropSheet_SetCurSel(sheet, nullptr, r.page);
            HWND page = CurrentPage(sheet), control = GetDlgItem(page, r.id);
            RECT c;
            GetWindowRect(control, &c);
            HELPINFO help = {sizeof help, HELPINFO_WINDOW, r.id, control, 0, {}};
            helpCalls.clear();
            if (r.command == HELP_WM_HELP)
                SendMessageA(page, WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
            else
                SendMessageA(page, WM_CONTEXTMENU, (WPARAM)(r.byPage ? page : control),
                             MAKELPARAM((c.left + c.right) / 2, (c.top + c.bottom) / 2));
            ASSERT_EQ(helpCalls.size(), 1u) << r.id;
            EXPECT_EQ(GetDlgCtrlID(helpCalls[0].window), r.id);
            EXPECT_EQ(helpCalls[0].command, r.command) << r.id;
            EXPECT_EQ(helpCalls[0].file, kHelpFile);
            EXPECT_EQ(helpCalls[0].ids, r.page == 0 ? info : features) << r.id;
        }
    });
}

} // namespace
