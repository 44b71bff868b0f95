// The device properties sheet with real controls, for records the machines
// of the end-to-end scenarios do not have: what each page shows, the
// picture, and which help topic each control gets.
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

const Ids kIdentity = {IDC_SCSI_ADDRESS, IDC_MANUFACTURER, IDC_VERSION, IDC_DEVICE_TYPE,
                       IDC_PRODUCT_NAME};
const Ids kBoxes = {IDC_SYNC_TRANSFER, IDC_REMOVABLE_MEDIA, IDC_NARROW, IDC_WIDE16,
                    IDC_WIDE32,        IDC_SCSI1,           IDC_SCSI2,  IDC_SCSI3};
const Ids kFeatures = {IDC_FIELD_1021, IDC_FIELD_1023, IDC_FIELD_1024, IDC_FIELD_1025,
                       IDC_FIELD_1026, IDC_FIELD_1022, IDC_FIELD_1027};

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

Texts TextsOf(HWND page, const Ids& ids) {
    Texts texts;
    for (int id : ids) {
        char text[256] = "";
        GetDlgItemTextA(page, id, text, sizeof text);
        texts.push_back(text);
    }
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

    // Opens the sheet for a slot through the main window's entry, runs
    // `inspect` while it is up and closes it with OK.
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

TEST_F(Properties, PagesShowTheRecord) {
    const std::string na = TextNotAvailable;
    // Stored: buffer, speed, read cache, write cache, block size, capacity, serial.
    const Texts all = {"512 KB", "5400 RPM", "Enabled", "Disabled", "512 Bytes", "542 MB", "QX1"};
    struct Case {
        const char* type;
        LONG sync, wide16, wide32, ansi;
        Texts stored;
        Texts identity;
        Ids boxes;
        Texts features;
    };
    const Case cases[] = {
        {TextHostAdapter, 1, 0, 0, 2, all, Texts(5), {IDC_SYNC_TRANSFER, IDC_SCSI2}, all},
        {TextTape,
         0,
         0,
         1,
         4,
         all,
         {"4", "VENDOR", "0001", "Tape", "PRODUCT"},
         {IDC_WIDE32},
         {"512 KB", na, "Enabled", "Disabled", na, na, "QX1"}},
        {TextNoDevice, 0, 1, 1, 0, all, {"4", "VENDOR", "0001", "No Device", ""}, {}, Texts(7, na)},
        {TextHardDisk,
         0,
         0,
         0,
         2,
         Texts(7),
         {"4", "VENDOR", "0001", "Hard Disk", "PRODUCT"},
         {IDC_NARROW, IDC_SCSI2},
         {na, "", na, na, na, na, na}},
        {TextCdRom,
         0,
         1,
         1,
         3,
         {"", na, "", "", "2048 Bytes", "", ""},
         {"4", "VENDOR", "0001", "CD-ROM", "PRODUCT"},
         {IDC_SCSI3},
         Texts(7, na)},
    };
    for (size_t i = 0; i < std::size(cases); i++) {
        const Case& c = cases[i];
        DeviceRecord& d = Fill(static_cast<int>(i), 4, c.type, c.ansi);
        CopyText(d.Vendor, sizeof d.Vendor, "VENDOR");
        CopyText(d.Product, sizeof d.Product, "PRODUCT");
        CopyText(d.Revision, sizeof d.Revision, "0001");
        d.SyncTransfer = c.sync;
        d.Wide16 = c.wide16;
        d.Wide32 = c.wide32;
        char* fields[] = {d.BufferSizeText, d.MediaSpeedText, d.ReadCacheText, d.WriteCacheText,
                          d.BlockSizeText,  d.CapacityText,   d.SerialNumber};
        for (size_t f = 0; f < c.stored.size(); f++)
            CopyText(fields[f], 20, c.stored[f].c_str());
    }
    for (size_t i = 0; i < std::size(cases); i++) {
        PropertiesStartPage = 1; // the main window's entry opens the first page all the same
        WithSheet(static_cast<int>(i), [&](HWND sheet) {
            HWND info = CurrentPage(sheet);
            EXPECT_EQ(TextsOf(info, kIdentity), cases[i].identity) << cases[i].type;
            // The boxes show the record; clicks do not change them.
            for (int id : kBoxes)
                SendDlgItemMessageA(info, id, BM_CLICK, 0, 0);
            EXPECT_EQ(CheckedBoxes(info), cases[i].boxes) << cases[i].type;
            PropSheet_SetCurSel(sheet, nullptr, 1);
            EXPECT_EQ(TextsOf(CurrentPage(sheet), kFeatures), cases[i].features) << cases[i].type;
        });
    }
    EXPECT_TRUE(g_help.empty()) << "no help without a request";
}

TEST_F(Properties, FirstPagePaintsTheDevicePicture) {
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
    WithSheet(0, [&](HWND sheet) { EXPECT_EQ(centrePixel(sheet), red); });
    WithSheet(7, [&](HWND sheet) { EXPECT_NE(centrePixel(sheet), red) << "the adapter's row"; });
}

// The topic the help viewer was asked for, as it looks the control up in
// the table it was given; 0 for a call that is not as expected.
DWORD AskedTopic(UINT command) {
    if (g_help.size() != 1 || g_help[0].command != command || g_help[0].file != ContextHelpFilePath)
        return 0;
    for (const DWORD* t = g_help[0].table; t[0] != 0; t += 2)
        if (t[0] == static_cast<DWORD>(GetDlgCtrlID(g_help[0].window)))
            return t[1];
    return 0;
}

// F1 or the question mark on each control of a page: the topics asked for.
std::vector<DWORD> HelpTopics(HWND page, const Ids& controls) {
    std::vector<DWORD> topics;
    for (int id : controls) {
        HELPINFO info = {sizeof info, HELPINFO_WINDOW, id, GetDlgItem(page, id), 0, {0, 0}};
        g_help.clear();
        SendMessageA(page, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
        topics.push_back(AskedTopic(HELP_WM_HELP));
    }
    return topics;
}

// A right click over a control: an enabled box gets it itself; over a
// label or a greyed box the page gets it and finds the control.
std::pair<int, DWORD> RightClick(HWND page, int id, bool byPage) {
    HWND control = GetDlgItem(page, id);
    RECT r;
    GetWindowRect(control, &r);
    g_help.clear();
    SendMessageA(page, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(byPage ? page : control),
                 MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2));
    return {g_help.empty() ? 0 : GetDlgCtrlID(g_help[0].window), AskedTopic(HELP_CONTEXTMENU)};
}

TEST_F(Properties, HelpNamesEachControlsTopic) {
    Fill(0, 0, TextHardDisk).SyncTransfer = 1;
    WithSheet(0, [](HWND sheet) {
        HWND info = CurrentPage(sheet);
        const Ids infoIds = {1006, 1017, 1018, 1019, 1020, 1010, 1011,
                             1014, 1012, 1015, 1008, 1009, 1016};
        std::vector<DWORD> infoTopics;
        for (DWORD topic = 20000; topic <= 20012; topic++)
            infoTopics.push_back(topic);
        EXPECT_EQ(HelpTopics(info, infoIds), infoTopics);
        EXPECT_EQ(RightClick(info, IDC_SYNC_TRANSFER, false), std::make_pair(1010, DWORD{20005}));
        EXPECT_EQ(RightClick(info, IDC_DEVICE_TYPE, true), std::make_pair(1019, DWORD{20003}));
        EXPECT_EQ(RightClick(info, IDC_WIDE32, true), std::make_pair(1015, DWORD{20009}));
        PropSheet_SetCurSel(sheet, nullptr, 1);
        HWND features = CurrentPage(sheet);
        EXPECT_EQ(HelpTopics(features, {1021, 1023, 1025, 1024, 1026, 1022, 1027}),
                  (std::vector<DWORD>{20020, 20021, 20022, 20023, 20024, 20025, 20026}));
        EXPECT_EQ(RightClick(features, IDC_FIELD_1023, true), std::make_pair(1023, DWORD{20021}));
    });
}

} // namespace
