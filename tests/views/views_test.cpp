// The device tree and device list as real controls in a test window, wired
// to the window's notifications the way the main window wires them, and the
// pictures they and the dialogs take from the linked resources. What a scan
// puts in the views, each row's picture, columns and sorting are checked end
// to end.
#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "inventory/inventory.h"
#include "resource.h"
#include "shell/strings.h"
#include "support/program.h"
#include "support/testwindow.h"
#include "support/uiscript.h"
#include "views/devicelist.h"
#include "views/devicetree.h"

namespace {

using namespace qvx::test;

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
    void AddAdapter(const char* description, BYTE number, LONG maxTargets) {
        HostAdapterRecord& r = HostAdapterTable[AdapterCount];
        CopyText(r.Description, sizeof r.Description, description);
        r.AdapterNumber = number;
        r.MaxTargets = maxTargets;
        r.TreeItem = AddTreeItem(description, TreeView, AdapterCount++);
    }
    DeviceRecord& AddDevice(int a, BYTE target, const char* type, const char* product = "P") {
        DeviceRecord& d = DeviceTable[a * SLOTS_PER_ADAPTER + target];
        d.TargetId = target;
        d.AdapterNumber = HostAdapterTable[a].AdapterNumber;
        CopyText(d.TypeText, sizeof d.TypeText, type);
        CopyText(d.Product, sizeof d.Product, product);
        SetDeviceImage(&d);
        return d;
    }

    // The slot FindSelectedDevice gives for a row (-1: no row) of the list.
    LONG SlotOfRow(int row) {
        ChooseRow(row);
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
    SelectObject(dc, dib);
    PatBlt(dc, 0, 0, cx, cy, WHITENESS);
    ImageList_Draw(list, index, dc, 0, 0, ILD_NORMAL);
    GdiFlush();
    std::vector<DWORD> pixels(static_cast<DWORD*>(bits), static_cast<DWORD*>(bits) + cx * cy);
    DeleteDC(dc);
    DeleteObject(dib);
    return pixels;
}

// The image lists hold the pictures in the order their indexes stand for.
TEST_F(Views, ImageListsHoldTheirPicturesInOrder) {
    const int icons[] = {134, 111, 113, 112, 114, 116, 115, 117, 110, 401, 118, 152, 154};
    for (HIMAGELIST list : {SmallImageList, LargeImageList, TreeImageList}) {
        bool tree = list == TreeImageList;
        int size = list == LargeImageList ? 32 : 16, count = tree ? 3 : 13;
        HIMAGELIST expected =
            ImageList_Create(size, size, ILC_COLOR4 | (tree ? 0 : ILC_MASK), 1, 1);
        for (int i = 0; i < count; i++) {
            HANDLE image =
                LoadImageA(AppInstance, MAKEINTRESOURCEA(tree ? 404 + i : icons[i]),
                           tree ? IMAGE_BITMAP : IMAGE_ICON, tree ? 0 : size, tree ? 0 : size, 0);
            if (tree)
                ImageList_Add(expected, static_cast<HBITMAP>(image), nullptr);
            else
                ImageList_AddIcon(expected, static_cast<HICON>(image));
            tree ? DeleteObject(image) : DestroyIcon(static_cast<HICON>(image));
        }
        ASSERT_EQ(ImageList_GetImageCount(list), count);
        std::set<std::vector<DWORD>> distinct;
        for (int i = 0; i < count; i++) {
            EXPECT_TRUE(Pixels(list, i) == Pixels(expected, i)) << size << " image " << i;
            distinct.insert(Pixels(list, i));
        }
        EXPECT_EQ(distinct.size(), size_t(count)) << "each picture drawn apart";
        ImageList_Destroy(expected);
    }
}

// An item as "text|item data|image|selected image".
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

// Two adapters with one description are two items, told apart by data; a
// re-scan starts from the root alone, an empty list and no adapter.
TEST_F(Views, TreeHoldsTheRootAndAnItemPerAdapter) {
    AddAdapter("Adaptec AHA-2940", 0, 8);
    AddAdapter("Adaptec AHA-2940", 1, 16);
    HTREEITEM first = TreeView_GetChild(TreeView, TreeRootItem);
    EXPECT_EQ(Item(TreeRootItem) + " " + Item(first) + " " +
                  Item(TreeView_GetNextSibling(TreeView, first)),
              "SCSI Controllers|-1|0|0 Adaptec AHA-2940|0|1|2 Adaptec AHA-2940|1|1|2");
    AddDevice(0, 1, "Hard Disk");
    SelectAdapter(0);
    ASSERT_EQ(ListView_GetItemCount(ListView), 1);
    ResetViews();
    EXPECT_EQ(HostAdapterTable[0].TreeItem, nullptr) << "no handle outlives its item";
    EXPECT_EQ((std::vector<int>{AdapterCount, SelectedAdapter, int(TreeView_GetCount(TreeView)),
                                ListView_GetItemCount(ListView)}),
              (std::vector<int>{0, -1, 1, 0}));
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
    SelectAdapter(1);
    EXPECT_EQ((std::vector<int>{ListRowOf("SCSI ID 0"), ListRowOf("SCSI ID 6"),
                                ListRowOf("SCSI ID 15"), ListView_GetItemCount(ListView)}),
              (std::vector<int>{0, 1, 2, 3}));
    SelectAdapter(0);
    EXPECT_EQ(ListView_GetItemCount(ListView), 0) << "a printer has no picture";
    for (BYTE a = 2; a < 6; ++a)
        AddAdapter("Beyond", a, 16);
    for (int beyond : {4, 5, 8}) {
        FillDeviceList(ListView, beyond);
        EXPECT_EQ(ListView_GetItemCount(ListView), 0) << beyond;
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
    // The type and product, the bitmap and the image the slot gets.
    const std::tuple<const char*, const char*, int, int> pictures[] = {
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
    for (const auto& [type, product, bitmap, image] : pictures) {
        DeviceRecord& d = AddDevice(0, 1, type, product);
        HBITMAP expected = LoadBitmapA(AppInstance, MAKEINTRESOURCEA(bitmap));
        EXPECT_EQ(d.ImageIndex, image) << type;
        EXPECT_TRUE(d.TypeBitmap != nullptr && Bits(d.TypeBitmap) == Bits(expected)) << type;
        DeleteObject(expected);
    }
    for (const char* none : {"Printer", "", "hard disk", "Hard Disk "})
        EXPECT_EQ(AddDevice(0, 2, none).TypeBitmap, nullptr) << '"' << none << '"';
    // Filling a slot again releases the picture it had.
    HBITMAP old = AddDevice(0, 3, "Tape").TypeBitmap;
    ASSERT_NE(GetObjectType(old), 0u);
    EXPECT_EQ(AddDevice(0, 3, "Printer").TypeBitmap, nullptr);
    EXPECT_EQ(GetObjectType(old), 0u);
    // Types sort without regard to case.
    DeviceRecord& upper = AddDevice(0, 4, "TAPE");
    EXPECT_EQ(CompareListItems(LPARAM(&upper), LPARAM(&AddDevice(0, 5, "tape")), 1), 0);
}

// The slot a row gives: a label that matches no "SCSI ID n" of the selected
// adapter's targets gives the slot just past them, unless that is past the
// table; a selection that is no adapter's item gives none.
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
    // The adapter selected, the one listed, its targets, the row, the slot.
    const int cases[][5] = {
        {1, 1, 16, -1, -1}, {1, 1, 16, 1, 16 + 5}, {1, 1, 4, 1, 16 + 4},
        {0, 0, 8, 0, 6},    {0, 0, 8, 1, 8},       {3, 3, 16, 0, 63},
        {3, 3, 200, 0, 63}, {3, 2, 16, 0, -1}, // "SCSI ID 99": slot 64
    };
    for (const auto& [selected, listed, targets, row, slot] : cases) {
        SelectAdapter(selected);
        HostAdapterTable[selected].MaxTargets = targets;
        FillDeviceList(ListView, listed);
        EXPECT_EQ(SlotOfRow(row), slot) << selected << " row " << row;
    }
    FillDeviceList(ListView, 3);
    HostAdapterTable[3].TreeItem = nullptr;
    EXPECT_EQ(SlotOfRow(0), -1);
}

TEST_F(Views, UnknownViewModesChangeNothing) {
    SetListViewMode(ListView, IDM_VIEW_LIST);
    SetListViewMode(ListView, 119); // not a view command: unchanged
    EXPECT_EQ(GetWindowLongA(ListView, GWL_STYLE) & LVS_TYPEMASK, LVS_LIST);
    // A mode is a list-view style; past the last one, large icons.
    TestWindow other;
    for (auto [mode, style] : {std::pair{3, LVS_LIST}, {9, LVS_ICON}}) {
        HWND list = CreateDeviceListInMode(other.hwnd(), mode);
        EXPECT_EQ(GetWindowLongA(list, GWL_STYLE) & LVS_TYPEMASK, style) << mode;
    }
}

// Each failure is reported with a stop icon; a list that refuses every row
// has each refusal reported, the walk going on.
TEST_F(Views, FailuresAreReported) {
    AddAdapter("A", 0, 16);
    AddDevice(0, 1, "Hard Disk");
    AddDevice(0, 2, "Tape");
    UiScript ui;
    for (const char* text :
         {"TVM_INSERTITEM", "ListView AddItem function failed", "ListView AddItem function failed",
          "CreateWindow function for TreeView failed"})
        ui.expect(MsgBox().caption("Quorvex Diagnostics status:").text(text)).press(IDOK);
    EXPECT_EQ(AddTreeItem("x", nullptr, 0), nullptr);
    TestWindow refusing([](HWND, UINT msg, WPARAM, LPARAM) -> std::optional<LRESULT> {
        return msg == LVM_INSERTITEMA ? std::optional<LRESULT>(-1) : std::nullopt;
    });
    FillDeviceList(refusing.hwnd(), 0);
    EXPECT_EQ(CreateDeviceTree(reinterpret_cast<HWND>(0x1234)), nullptr);
    ui.verify();
    EXPECT_EQ(ui.seen().at(0).icon, static_cast<UINT>(MB_ICONHAND));
}

// Each bitmap's size and colour depth as "id width height bits", as the
// views and dialogs rely on them; the scanner has more colours than 16 can
// give. The splash screen's size is checked with the splash.
TEST(Art, EveryBitmapHasItsSizeAndDepth) {
    for (std::string expected :
         {"119 32 32 4", "120 32 32 4", "121 32 32 4", "122 32 32 4", "123 32 32 8", "124 33 32 4",
          "125 32 32 4", "126 32 32 4", "127 32 32 4", "128 32 32 4", "142 48 48 4", "153 32 32 4",
          "155 32 32 4", "173 8 8 4", "174 8 8 4", "404 16 16 4", "405 16 16 4", "406 16 16 4"}) {
        int id = std::stoi(expected);
        HANDLE bitmap = LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0,
                                   0, LR_CREATEDIBSECTION);
        DIBSECTION ds = {};
        GetObjectA(bitmap, sizeof ds, &ds);
        DeleteObject(bitmap);
        EXPECT_EQ(std::to_string(id) + " " + std::to_string(ds.dsBm.bmWidth) + " " +
                      std::to_string(ds.dsBm.bmHeight) + " " + std::to_string(ds.dsBm.bmBitsPixel),
                  expected);
    }
}

} // namespace
