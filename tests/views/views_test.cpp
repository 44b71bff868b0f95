// The device tree and device list as real controls in a test window, wired
// to the window's notifications the way the main window wires them. What a
// scan puts in them, and sorting, are checked end to end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "inventory/inventory.h"
#include "resource.h"
#include "shell/strings.h"
#include "support/testwindow.h"
#include "support/uiscript.h"
#include "views/devicelist.h"
#include "views/devicetree.h"

namespace {

using qvx::test::MsgBox;
using qvx::test::TestWindow;
using qvx::test::UiScript;
using Strings = std::vector<std::string>;

class Views : public testing::Test {
  protected:
    void SetUp() override {
        InitializeInventory();
        AppInstance = GetModuleHandleA(nullptr);
        ASSERT_TRUE(PreloadStrings(AppInstance));
        ASSERT_NE(CreateDeviceTree(window_.hwnd()), nullptr);
        ASSERT_NE(CreateDeviceListInMode(window_.hwnd(), 1), nullptr);
        HighestTargetId = 15;
    }
    void TearDown() override {
        DestroyWindow(window_.hwnd());
        ReleaseDeviceBitmaps();
        DestroyViewImageLists();
        InitializeInventory();
    }

    // Records an adapter and adds its tree item.
    int AddAdapter(const char* description, BYTE number, LONG maxTargets) {
        int a = AdapterCount++;
        HostAdapterRecord& r = HostAdapterTable[a];
        CopyText(r.Description, sizeof r.Description, description);
        r.AdapterNumber = number;
        r.MaxTargets = maxTargets;
        r.TreeItem = AddTreeItem(description, TreeView, a);
        return a;
    }
    DeviceRecord& AddDevice(int a, BYTE target, const char* type, const char* vendor = "VEND",
                            const char* product = "PROD") {
        DeviceRecord& d = DeviceTable[a * SLOTS_PER_ADAPTER + target];
        d.TargetId = target;
        d.AdapterNumber = HostAdapterTable[a].AdapterNumber;
        CopyText(d.TypeText, sizeof d.TypeText, type);
        CopyText(d.Vendor, sizeof d.Vendor, vendor);
        CopyText(d.Product, sizeof d.Product, product);
        SetDeviceImage(&d);
        return d;
    }
    void Select(int a) {
        TreeView_SelectItem(TreeView, HostAdapterTable[a].TreeItem);
    }

    // One column's texts, asked of the list as a user's view would.
    Strings Column(int c) const {
        Strings v;
        for (int row = 0; row < ListView_GetItemCount(ListView); ++row) {
            char text[64] = "";
            ListView_GetItemText(ListView, row, c, text, sizeof text);
            v.push_back(text);
        }
        return v;
    }
    // The slot FindSelectedDevice gives for a row (-1: no row) of the list.
    LONG SlotOfRow(int row) {
        ListView_SetItemState(ListView, -1, 0, LVIS_FOCUSED | LVIS_SELECTED);
        if (row >= 0)
            ListView_SetItemState(ListView, row, LVIS_FOCUSED | LVIS_SELECTED,
                                  LVIS_FOCUSED | LVIS_SELECTED);
        FindSelectedDevice();
        return SelectedDevice;
    }

    TestWindow window_{[](HWND, UINT msg, WPARAM wp, LPARAM lp) -> std::optional<LRESULT> {
        if (msg != WM_NOTIFY)
            return std::nullopt;
        auto* nm = reinterpret_cast<LPNMHDR>(lp);
        if (HandleTreeNotify(static_cast<int>(wp), nm))
            FillDeviceList(ListView, SelectedAdapter);
        return HandleListNotify(static_cast<int>(wp), nm);
    }};
};

// The pixels of one image of an image list, drawn on white.
std::vector<DWORD> Pixels(HIMAGELIST list, int index) {
    int cx = 0, cy = 0;
    ImageList_GetIconSize(list, &cx, &cy);
    BITMAPINFO bi = {{sizeof(BITMAPINFOHEADER), cx, -cy, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP dib = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, dib);
    PatBlt(dc, 0, 0, cx, cy, WHITENESS);
    ImageList_Draw(list, index, dc, 0, 0, ILD_NORMAL);
    GdiFlush();
    std::vector<DWORD> pixels(static_cast<DWORD*>(bits), static_cast<DWORD*>(bits) + cx * cy);
    SelectObject(dc, old);
    DeleteObject(dib);
    DeleteDC(dc);
    return pixels;
}

// The image lists hold the pictures in the order their indexes stand for.
TEST_F(Views, ImageListsHoldTheirPicturesInOrder) {
    const int icons[] = {134, 111, 113, 112, 114, 116, 115, 117, 110, 401, 118, 152, 154};
    const struct {
        HIMAGELIST list;
        int size;
    } lists[] = {{SmallImageList, 16}, {LargeImageList, 32}, {TreeImageList, 16}};
    for (const auto& l : lists) {
        bool tree = l.list == TreeImageList;
        HIMAGELIST expected =
            ImageList_Create(l.size, l.size, ILC_COLOR4 | (tree ? 0 : ILC_MASK), 1, 1);
        for (int i = 0; i < (tree ? 3 : 13); i++) {
            HANDLE image = LoadImageA(AppInstance, MAKEINTRESOURCEA(tree ? 404 + i : icons[i]),
                                      tree ? IMAGE_BITMAP : IMAGE_ICON, tree ? 0 : l.size,
                                      tree ? 0 : l.size, 0);
            if (tree) {
                ImageList_Add(expected, static_cast<HBITMAP>(image), nullptr);
                DeleteObject(image);
            } else {
                ImageList_AddIcon(expected, static_cast<HICON>(image));
                DestroyIcon(static_cast<HICON>(image));
            }
        }
        ASSERT_EQ(ImageList_GetImageCount(l.list), ImageList_GetImageCount(expected));
        for (int i = 0; i < ImageList_GetImageCount(expected); i++)
            EXPECT_TRUE(Pixels(l.list, i) == Pixels(expected, i)) << l.size << " image " << i;
        ImageList_Destroy(expected);
    }
    // The columns: a fifth of the list's first width plus one, left-aligned.
    RECT client;
    GetClientRect(window_.hwnd(), &client);
    for (int c = 0; c < LIST_COLUMN_COUNT; c++) {
        LVCOLUMNA column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH;
        ASSERT_TRUE(ListView_GetColumn(ListView, c, &column));
        EXPECT_EQ(column.cx, (client.right - client.right / 4) / 5 + 1) << c;
        EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT) << c;
    }
}

// An item's text, item data, image and selected image.
std::string Item(HTREEITEM item) {
    char text[64] = "";
    TVITEMA it = {};
    it.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    it.hItem = item;
    it.pszText = text;
    it.cchTextMax = sizeof text;
    SendMessageA(TreeView, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&it));
    return std::string(text) + "|" + std::to_string(it.lParam) + "|" + std::to_string(it.iImage) +
           "|" + std::to_string(it.iSelectedImage);
}

TEST_F(Views, TreeHoldsTheRootAndAnItemPerAdapter) {
    EXPECT_EQ(Item(TreeRootItem), "SCSI Controllers|-1|0|0");
    // Two adapters with one description are two items, told apart by data.
    AddAdapter("Adaptec AHA-2940", 0, 8);
    AddAdapter("Adaptec AHA-2940", 1, 16);
    HTREEITEM first = TreeView_GetChild(TreeView, TreeRootItem);
    EXPECT_EQ(first, HostAdapterTable[0].TreeItem);
    EXPECT_EQ(Item(first), "Adaptec AHA-2940|0|1|2");
    EXPECT_EQ(Item(TreeView_GetNextSibling(TreeView, first)), "Adaptec AHA-2940|1|1|2");
    NMHDR other = {nullptr, IDC_DEVICE_LIST, TVN_SELCHANGEDA}; // not the tree's
    EXPECT_EQ(HandleTreeNotify(IDC_DEVICE_LIST, &other), 0);

    // A re-scan starts from the root alone, an empty list and no adapter.
    AddDevice(0, 1, "Hard Disk");
    Select(0);
    ASSERT_EQ(Column(0).size(), 1u);
    ResetViews();
    EXPECT_EQ(AdapterCount + SelectedAdapter, -1);
    EXPECT_EQ(HostAdapterTable[0].TreeItem, nullptr) << "no handle outlives its item";
    EXPECT_EQ(TreeView_GetCount(TreeView), 1u);
    EXPECT_EQ(Item(TreeView_GetRoot(TreeView)), "SCSI Controllers|-1|0|0");
    EXPECT_EQ(ListView_GetItemCount(ListView), 0);
}

// Only slots of the adapter's own number with a picture are listed, and
// no adapter outside the four slot blocks lists anything.
TEST_F(Views, ListShowsOnlyTheAdaptersOwnSlots) {
    AddAdapter("Narrow", 0, 8);
    AddAdapter("Wide", 3, 16);
    AddDevice(0, 2, "Printer");
    for (BYTE t : {0, 6, 9, 15})
        AddDevice(1, t, "Tape");
    DeviceTable[1 * SLOTS_PER_ADAPTER + 9].AdapterNumber = 0; // another adapter's slot
    Select(1);
    EXPECT_EQ(Column(0), (Strings{"SCSI ID 0", "SCSI ID 6", "SCSI ID 15"}));
    Select(0);
    EXPECT_TRUE(Column(0).empty()) << "a printer has no picture";
    for (BYTE a = 2; a < 6; ++a)
        AddAdapter("Beyond", a, 16);
    for (int beyond : {5, 8}) {
        FillDeviceList(ListView, beyond);
        EXPECT_TRUE(Column(0).empty()) << beyond;
    }
}

// The raw bits of a device-dependent bitmap.
std::vector<BYTE> Bits(HBITMAP bitmap) {
    BITMAP bm = {};
    GetObjectA(bitmap, sizeof bm, &bm);
    std::vector<BYTE> bits(size_t(bm.bmWidthBytes) * bm.bmHeight);
    GetBitmapBits(bitmap, LONG(bits.size()), bits.data());
    return bits;
}

TEST_F(Views, PicturesFollowTheTypeText) {
    AddAdapter("A", 0, 16);
    const struct {
        const char *type, *product;
        int bitmap, image;
    } pictures[] = {
        {"Hard Disk", "X", 120, 1},
        {"CD-ROM", "X", 121, 3},
        {"Tape", "X", 122, 4},
        {"Removable", "ZIP 100", 155, 12},
        {"Removable", "Zip 100", 124, 2},
        {"Host Adapter", "X", 119, 8},
        {"WORM", "X", 127, 6},
        {"Scanner", "X", 123, 5},
        {"Optical", "X", 153, 11},
        {"No Device", "X", 126, 10},
        {"UnKnown", "X", 128, 9},
    };
    for (const auto& p : pictures) {
        DeviceRecord& d = AddDevice(0, 1, p.type, "V", p.product);
        HBITMAP expected = LoadBitmapA(AppInstance, MAKEINTRESOURCEA(p.bitmap));
        EXPECT_EQ(d.ImageIndex, p.image) << p.type;
        EXPECT_TRUE(d.TypeBitmap != nullptr && Bits(d.TypeBitmap) == Bits(expected)) << p.type;
        DeleteObject(expected);
    }
    for (const char* none : {"Printer", "", "hard disk", "Hard Disk "})
        EXPECT_EQ(AddDevice(0, 2, none).TypeBitmap, nullptr) << '"' << none << '"';
    // Filling a slot again releases the picture it had.
    DeviceRecord& d = AddDevice(0, 3, "Tape");
    HBITMAP old = d.TypeBitmap;
    ASSERT_NE(GetObjectType(old), 0u);
    AddDevice(0, 3, "Printer");
    EXPECT_EQ(d.TypeBitmap, nullptr);
    EXPECT_EQ(GetObjectType(old), 0u);
}

TEST_F(Views, FindSelectedDeviceTurnsTheFocusedRowIntoASlotInsideTheTable) {
    AddAdapter("Narrow", 0, 8);
    for (BYTE a = 1; a < 4; ++a)
        AddAdapter("Wide", a, 16);
    AddDevice(0, 6, "Tape");
    AddDevice(0, 9, "Tape"); // beyond a narrow adapter's targets
    AddDevice(1, 3, "Hard Disk");
    AddDevice(1, 5, "CD-ROM");
    AddDevice(3, 15, "Hard Disk");
    AddDevice(2, 2, "Tape").TargetId = 99;
    // The slot a row gives: a label that matches no "SCSI ID n" of the
    // selected adapter's targets gives the slot just past them, unless that
    // is past the table.
    const struct {
        int selected, listed;
        LONG maxTargets;
        int row;
        LONG slot;
    } cases[] = {
        {1, 1, 16, -1, -1}, {1, 1, 16, 1, 16 + 5}, {1, 1, 4, 1, 16 + 4},
        {0, 0, 8, 0, 6},    {0, 0, 8, 1, 8},       {3, 3, 16, 0, 63},
        {3, 3, 200, 0, 63}, {3, 2, 16, 0, -1}, // "SCSI ID 99": slot 64
    };
    for (const auto& c : cases) {
        Select(c.selected);
        HostAdapterTable[c.selected].MaxTargets = c.maxTargets;
        FillDeviceList(ListView, c.listed);
        EXPECT_EQ(SlotOfRow(c.row), c.slot) << c.selected << " row " << c.row;
    }
    FillDeviceList(ListView, 3);
    ASSERT_EQ(SlotOfRow(0), 63);
    HostAdapterTable[3].TreeItem = nullptr; // the selection is no adapter's item
    EXPECT_EQ(SlotOfRow(0), -1);
}

TEST_F(Views, UnknownViewModesChangeNothing) {
    SetListViewMode(ListView, IDM_VIEW_LIST);
    SetListViewMode(ListView, 119); // not a view command: unchanged
    EXPECT_EQ(GetWindowLongA(ListView, GWL_STYLE) & LVS_TYPEMASK, LVS_LIST);
    TestWindow other;
    HWND second = CreateDeviceListInMode(other.hwnd(), 9); // not a view mode: large icons
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetWindowLongA(second, GWL_STYLE) & LVS_TYPEMASK, LVS_ICON);
}

TEST_F(Views, FailuresAreReported) {
    AddAdapter("A", 0, 16);
    AddDevice(0, 1, "Hard Disk");
    AddDevice(0, 2, "Tape");
    UiScript ui;
    ui.expect(MsgBox().caption("Quorvex Diagnostics status:").text("TVM_INSERTITEM")).press(IDOK);
    for (int row = 0; row < 2; ++row)
        ui.expect(MsgBox().text("ListView AddItem function failed")).press(IDOK);
    ui.expect(MsgBox().text("CreateWindow function for TreeView failed")).press(IDOK);
    EXPECT_EQ(AddTreeItem("x", nullptr, 0), nullptr);
    // A list that refuses every row: each failure is reported, the walk goes on.
    TestWindow refusing([](HWND, UINT msg, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (msg == LVM_INSERTITEMA)
            return -1;
        return std::nullopt;
    });
    FillDeviceList(refusing.hwnd(), 0);
    EXPECT_EQ(CreateDeviceTree(reinterpret_cast<HWND>(0x1234)), nullptr);
    ui.verify();
    ASSERT_EQ(ui.seen().size(), 4u);
    EXPECT_EQ(ui.seen()[0].icon, static_cast<UINT>(MB_ICONHAND));
}

} // namespace
