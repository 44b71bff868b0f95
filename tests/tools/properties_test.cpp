// The device properties sheet with real controls: what each page shows for
// a device record, the capability boxes, the picture and context help.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "resource.h"
#include "shell/helpabout.h"
#include "shell/toolentry.h"
#include "tools/properties.h"
#include "support/uiscript.h"
#include "tools_fixture.h"

namespace {

using namespace qvx::test;
using Texts = std::vector<std::string>;
using Ids = std::vector<int>;

struct HelpCall {
    HWND window;
    std::string file;
    UINT command;
    const DWORD* table;
};
std::vector<HelpCall> g_help;

BOOL WINAPI RecordHelp(HWND window, LPCSTR file, UINT command, ULONG_PTR data) {
    g_help.push_back({window, file, command, reinterpret_cast<const DWORD*>(data)});
    return TRUE;
}

// The help context a table gives a control, as the help viewer looks it up.
DWORD ContextOf(const DWORD* table, HWND control) {
    for (; table[0] != 0; table += 2)
        if (table[0] == static_cast<DWORD>(GetDlgCtrlID(control)))
            return table[1];
    return 0;
}

std::string Text(HWND page, int id) {
    char text[256] = "";
    GetDlgItemTextA(page, id, text, sizeof text);
    return text;
}

const Ids kCapabilityBoxes = {IDC_SYNC_TRANSFER, IDC_REMOVABLE_MEDIA, IDC_NARROW, IDC_WIDE16,
                              IDC_WIDE32,        IDC_SCSI1,           IDC_SCSI2,  IDC_SCSI3};

// The boxes shown enabled and checked; every other box must be greyed and
// unchecked, or it is reported as -id.
Ids CheckedBoxes(HWND page) {
    Ids on;
    for (int id : kCapabilityBoxes) {
        bool enabled = IsWindowEnabled(GetDlgItem(page, id));
        UINT state = IsDlgButtonChecked(page, id);
        if (enabled && state == BST_CHECKED)
            on.push_back(id);
        else if (enabled || state != BST_UNCHECKED)
            on.push_back(-id);
    }
    return on;
}

HWND CurrentPage(HWND sheet) {
    return PropSheet_GetCurrentPageHwnd(sheet);
}

class Properties : public ToolsTest {
  protected:
    void SetUp() override {
        ToolsTest::SetUp();
        saved_ = HelpViewer;
        HelpViewer = RecordHelp;
        g_help.clear();
        CopyText(ContextHelpFilePath, sizeof ContextHelpFilePath, "C:\\Quorvex\\KDXCH.hlp");
    }
    void TearDown() override {
        HelpViewer = saved_;
        ToolsTest::TearDown();
    }

    // Opens the sheet for a slot as the main window does, runs `inspect`
    // on it while it is up, and closes it with OK.
    static void WithSheet(int slot, const std::function<void(HWND)>& inspect) {
        UiScript ui;
        ui.expect(Dialog().caption("SCSI Device Properties"))
            .then([&](HWND sheet, const WindowRecord&) { inspect(sheet); })
            .press(IDOK);
        ToolEntries.DeviceProperties(nullptr, slot);
        ui.verify();
    }

  private:
    HelpViewerProc saved_ = nullptr;
};

DeviceRecord& Identity(DeviceRecord& d, const char* vendor, const char* product,
                       const char* revision) {
    CopyText(d.Vendor, sizeof d.Vendor, vendor);
    CopyText(d.Product, sizeof d.Product, product);
    CopyText(d.Revision, sizeof d.Revision, revision);
    return d;
}

TEST_F(Properties, InformationPageShowsIdentityAndCapabilities) {
    struct Case {
        const char* type;
        BYTE target;
        LONG sync, removable, wide16, wide32, ansi;
        Texts identity; // 1006, 1017, 1018, 1019, 1020
        Ids boxes;
    };
    const Case cases[] = {
        {TextHardDisk,
         0,
         1,
         0,
         1,
         0,
         2,
         {"0", "QUANTUM ", "0A0A", "Hard Disk", "ATLAS II"},
         {IDC_SYNC_TRANSFER, IDC_WIDE16, IDC_SCSI2}},
        {TextRemovable,
         12,
         0,
         1,
         0,
         0,
         1,
         {"12", "IOMEGA  ", "D.13", "Removable", "ZIP 100"},
         {IDC_REMOVABLE_MEDIA, IDC_NARROW, IDC_SCSI1}},
        {TextUnknown, 3, 0, 0, 1, 1, 3, {"3", "CMD", "1.30", "UnKnown", "CRD-5500"}, {IDC_SCSI3}},
        {TextTape, 4, 0, 0, 0, 1, 4, {"4", "ARCHIVE ", "7350", "Tape", "Python"}, {IDC_WIDE32}},
        {TextNoDevice, 6, 0, 0, 0, 0, 0, {"6", "", "", "No Device", ""}, {}},
        {TextHostAdapter, 7, 1, 0, 0, 0, 2, {"", "", "", "", ""}, {IDC_SYNC_TRANSFER, IDC_SCSI2}},
    };
    const char* products[] = {"ATLAS II", "ZIP 100", "CRD-5500", "Python", "No Device", "KESTRAIL"};
    for (size_t i = 0; i < std::size(cases); i++) {
        const Case& c = cases[i];
        DeviceRecord& d = Fill(static_cast<int>(i), c.target, c.type, c.ansi);
        Identity(d, c.identity[1].c_str(), products[i], c.identity[2].c_str());
        if (c.type == TextHostAdapter)
            Identity(d, "Veltran", "KESTRAIL", "N/A");
        d.SyncTransfer = c.sync;
        d.RemovableMedia = c.removable;
        d.Wide16 = c.wide16;
        d.Wide32 = c.wide32;
    }
    for (size_t i = 0; i < std::size(cases); i++) {
        PropertiesStartPage = 1; // the entry always opens the first page
        WithSheet(static_cast<int>(i), [&](HWND sheet) {
            HWND page = CurrentPage(sheet);
            ASSERT_NE(GetDlgItem(page, IDC_SCSI_ADDRESS), nullptr) << "not the first page";
            Texts shown;
            for (int id : {IDC_SCSI_ADDRESS, IDC_MANUFACTURER, IDC_VERSION, IDC_DEVICE_TYPE,
                           IDC_PRODUCT_NAME})
                shown.push_back(Text(page, id));
            EXPECT_EQ(shown, cases[i].identity) << cases[i].type;
            EXPECT_EQ(CheckedBoxes(page), cases[i].boxes) << cases[i].type;
            // Shown after a visit to the other page, it is filled afresh.
            PropSheet_SetCurSel(sheet, nullptr, 1);
            PropSheet_SetCurSel(sheet, nullptr, 0);
            EXPECT_EQ(CheckedBoxes(CurrentPage(sheet)), cases[i].boxes) << cases[i].type;
        });
    }
    EXPECT_TRUE(g_help.empty()) << "no help without a request";
}

TEST_F(Properties, BoxesShowTheDeviceAndIgnoreClicks) {
    DeviceRecord& d = Fill(0, 0, TextHardDisk);
    d.SyncTransfer = 1;
    WithSheet(0, [](HWND sheet) {
        HWND page = CurrentPage(sheet);
        SendDlgItemMessageA(page, IDC_SYNC_TRANSFER, BM_CLICK, 0, 0);
        SendDlgItemMessageA(page, IDC_SCSI2, BM_CLICK, 0, 0);
        EXPECT_EQ(CheckedBoxes(page), (Ids{IDC_SYNC_TRANSFER, IDC_NARROW, IDC_SCSI2}));
    });
}

TEST_F(Properties, InformationPagePaintsTheDevicePicture) {
    const COLORREF red = RGB(255, 0, 0);
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 32, 32);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(memory, bitmap);
    RECT all = {0, 0, 32, 32};
    HBRUSH brush = CreateSolidBrush(red);
    FillRect(memory, &all, brush);
    DeleteObject(brush);
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    Fill(0, 0, TextHardDisk).TypeBitmap = bitmap;
    Fill(7, 7, TextHostAdapter).TypeBitmap = bitmap;

    auto centrePixel = [](HWND sheet) {
        HWND page = CurrentPage(sheet);
        RedrawWindow(page, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        RECT r;
        GetWindowRect(GetDlgItem(page, IDC_DEVICE_PICTURE), &r);
        MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&r), 2);
        HDC dc = GetDC(page);
        COLORREF pixel = GetPixel(dc, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
        ReleaseDC(page, dc);
        return pixel;
    };
    WithSheet(0, [&](HWND sheet) {
        EXPECT_EQ(DeviceBitmapToPaint, bitmap);
        EXPECT_EQ(centrePixel(sheet), red);
    });
    WithSheet(7, [&](HWND sheet) {
        EXPECT_EQ(DeviceBitmapToPaint, nullptr) << "the adapter's row has no picture";
        EXPECT_NE(centrePixel(sheet), red);
    });
}

TEST_F(Properties, FeaturesPageShowsStoredTextsOrNotAvailable) {
    const std::string na = TextNotAvailable;
    // Stored: buffer, capacity, block size, read cache, write cache, speed, serial.
    const Texts stored = {"512 KB",   "542 MB",   "512 Bytes", "Enabled",
                          "Disabled", "5400 RPM", "QX0542"};
    struct Case {
        const char* type;
        Texts texts;
        Texts shown; // 1021, 1022, 1026, 1024, 1025, 1023, 1027
        const char* what;
    };
    const Case cases[] = {
        {TextHardDisk, stored, stored, "everything gathered"},
        {TextHardDisk, Texts(7), {na, na, na, na, na, "", na}, "nothing gathered"},
        {TextCdRom,
         {"", "", "2048 Bytes", "", "", na, ""},
         {na, na, na, na, na, na, na},
         "no capacity: no block size either"},
        {TextTape, stored, {"512 KB", na, na, "Enabled", "Disabled", na, "QX0542"}, "tape"},
        {TextScanner, stored, {"512 KB", na, na, "Enabled", "Disabled", na, "QX0542"}, "scanner"},
        {TextNoDevice, stored, Texts(7, na), "no device"},
    };
    for (size_t i = 0; i < std::size(cases); i++) {
        DeviceRecord& d = Fill(static_cast<int>(i), 0, cases[i].type);
        const Texts& t = cases[i].texts;
        char* fields[] = {d.BufferSizeText, d.CapacityText,   d.BlockSizeText, d.ReadCacheText,
                          d.WriteCacheText, d.MediaSpeedText, d.SerialNumber};
        for (size_t f = 0; f < t.size(); f++)
            CopyText(fields[f], 20, t[f].c_str());
    }
    for (size_t i = 0; i < std::size(cases); i++) {
        WithSheet(static_cast<int>(i), [&](HWND sheet) {
            PropSheet_SetCurSel(sheet, nullptr, 1);
            HWND page = CurrentPage(sheet);
            Texts shown;
            for (int id : {IDC_FIELD_1021, IDC_FIELD_1022, IDC_FIELD_1026, IDC_FIELD_1024,
                           IDC_FIELD_1025, IDC_FIELD_1023, IDC_FIELD_1027})
                shown.push_back(Text(page, id));
            EXPECT_EQ(shown, cases[i].shown) << cases[i].what;
        });
    }
}

// Every control of a page with the help context a help request on it gets.
std::vector<std::pair<int, DWORD>> HelpTopics(HWND page, const Ids& controls) {
    std::vector<std::pair<int, DWORD>> topics;
    for (int id : controls) {
        HELPINFO info = {sizeof info, HELPINFO_WINDOW, id, GetDlgItem(page, id), 0, {0, 0}};
        g_help.clear();
        SendMessageA(page, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
        if (g_help.size() != 1 || g_help[0].window != info.hItemHandle ||
            g_help[0].command != HELP_WM_HELP || g_help[0].file != ContextHelpFilePath)
            topics.push_back({id, 0xFFFFFFFF});
        else
            topics.push_back({id, ContextOf(g_help[0].table, g_help[0].window)});
    }
    return topics;
}

TEST_F(Properties, HelpRequestsNameTheControlsTopic) {
    Fill(0, 0, TextHardDisk).SyncTransfer = 1;
    WithSheet(0, [](HWND sheet) {
        HWND info = CurrentPage(sheet);
        EXPECT_EQ(HelpTopics(info, {1006, 1017, 1018, 1019, 1020, 1010, 1011, 1014, 1012, 1015,
                                    1008, 1009, 1016}),
                  (std::vector<std::pair<int, DWORD>>{{1006, 20000},
                                                      {1017, 20001},
                                                      {1018, 20002},
                                                      {1019, 20003},
                                                      {1020, 20004},
                                                      {1010, 20005},
                                                      {1011, 20006},
                                                      {1014, 20007},
                                                      {1012, 20008},
                                                      {1015, 20009},
                                                      {1008, 20010},
                                                      {1009, 20011},
                                                      {1016, 20012}}));

        // A right click: an enabled box names itself; over a label or a
        // greyed box the page gets the click and finds the control.
        auto rightClick = [&](HWND page, HWND clicked, HWND over) {
            RECT r;
            GetWindowRect(over, &r);
            g_help.clear();
            SendMessageA(page, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(clicked),
                         MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2));
            EXPECT_EQ(g_help.size(), 1u);
            if (g_help.empty())
                return std::make_pair(HWND{}, DWORD{});
            EXPECT_EQ(g_help[0].command, static_cast<UINT>(HELP_CONTEXTMENU));
            EXPECT_EQ(g_help[0].file, ContextHelpFilePath);
            return std::make_pair(g_help[0].window, ContextOf(g_help[0].table, g_help[0].window));
        };
        HWND sync = GetDlgItem(info, IDC_SYNC_TRANSFER), type = GetDlgItem(info, IDC_DEVICE_TYPE),
             wide32 = GetDlgItem(info, IDC_WIDE32);
        EXPECT_EQ(rightClick(info, sync, sync), std::make_pair(sync, DWORD{20005}));
        EXPECT_EQ(rightClick(info, info, type), std::make_pair(type, DWORD{20003}));
        EXPECT_EQ(rightClick(info, info, wide32), std::make_pair(wide32, DWORD{20009}));

        PropSheet_SetCurSel(sheet, nullptr, 1);
        HWND features = CurrentPage(sheet);
        EXPECT_EQ(HelpTopics(features, {1021, 1023, 1025, 1024, 1026, 1022, 1027}),
                  (std::vector<std::pair<int, DWORD>>{{1021, 20020},
                                                      {1023, 20021},
                                                      {1025, 20022},
                                                      {1024, 20023},
                                                      {1026, 20024},
                                                      {1022, 20025},
                                                      {1027, 20026}}));
        HWND speed = GetDlgItem(features, IDC_FIELD_1023);
        EXPECT_EQ(rightClick(features, features, speed), std::make_pair(speed, DWORD{20021}));
    });
}

} // namespace
