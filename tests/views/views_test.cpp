// The device tree and device list as real controls in a test window, wired
// to the window's notifications the way the main window wires them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

using Row = std::vector<std::string>;

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
                            const char* product = "PROD", const char* revision = "1.0") {
        DeviceRecord& d = DeviceTable[a * SLOTS_PER_ADAPTER + target];
        d.TargetId = target;
        d.AdapterNumber = HostAdapterTable[a].AdapterNumber;
        CopyText(d.TypeText, sizeof d.TypeText, type);
        CopyText(d.Vendor, sizeof d.Vendor, vendor);
        CopyText(d.Product, sizeof d.Product, product);
        CopyText(d.Revision, sizeof d.Revision, revision);
        SetDeviceImage(&d);
        return d;
    }
    void Select(int a) {
        TreeView_SelectItem(TreeView, HostAdapterTable[a].TreeItem);
    }

    // Every row's five texts, asked of the list as a user's view would.
    std::vector<Row> Rows() const {
        std::vector<Row> rows(ListView_GetItemCount(ListView), Row(LIST_COLUMN_COUNT));
        for (size_t i = 0; i < rows.size(); ++i)
            for (int c = 0; c < LIST_COLUMN_COUNT; ++c) {
                char text[64] = "";
                ListView_GetItemText(ListView, int(i), c, text, sizeof text);
                rows[i][c] = text;
            }
        return rows;
    }
    std::vector<std::string> Column(int c) const {
        std::vector<std::string> v;
        for (const Row& r : Rows())
            v.push_back(r[c]);
        return v;
    }
    std::vector<std::string> Labels() const {
        return Column(0);
    }
    void ClickColumn(int column) {
        HWND header = ListView_GetHeader(ListView);
        RECT r;
        Header_GetItemRect(header, column, &r);
        LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        SendMessageA(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageA(header, WM_LBUTTONUP, 0, at);
    }
    // The slot FindSelectedDevice gives for a row (-1: no row) of the list.
    LONG SlotOfRow(int row) {
        if (row >= 0)
            ListView_SetItemState(ListView, row, LVIS_FOCUSED | LVIS_SELECTED,
                                  LVIS_FOCUSED | LVIS_SELECTED);
        FindSelectedDevice();
        return SelectedDevice;
    }

    int treeChanges_ = 0;
    TestWindow window_{[this](HWND, UINT msg, WPARAM wp, LPARAM lp) -> std::optional<LRESULT> {
        if (msg != WM_NOTIFY)
            return std::nullopt;
        auto* nm = reinterpret_cast<LPNMHDR>(lp);
        if (HandleTreeNotify(static_cast<int>(wp), nm)) {
            ++treeChanges_;
            FillDeviceList(ListView, SelectedAdapter);
        }
        return HandleListNotify(static_cast<int>(wp), nm);
    }};
};

// An item's text, item data, image and selected image, joined for comparison.
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

TEST_F(Views, TreeHoldsRootAndAdapterItems) {
    EXPECT_EQ(Item(TreeRootItem), "SCSI Controllers|-1|0|0");
    // Two adapters with one description are two items, told apart by data.
    AddAdapter("Adaptec AHA-2940", 0, 8);
    AddAdapter("Adaptec AHA-2940", 1, 16);
    HTREEITEM first = TreeView_GetChild(TreeView, TreeRootItem);
    EXPECT_EQ(first, HostAdapterTable[0].TreeItem);
    EXPECT_EQ(Item(first), "Adaptec AHA-2940|0|1|2");
    EXPECT_EQ(Item(TreeView_GetNextSibling(TreeView, first)), "Adaptec AHA-2940|1|1|2");

    ClearTree(TreeView);
    EXPECT_EQ(TreeView_GetCount(TreeView), 0u);
    EXPECT_EQ(HostAdapterTable[0].TreeItem, nullptr);

    // A re-scan starts from the root alone and an empty list.
    AddTreeRootItem(AppInstance, TreeView);
    AdapterCount = 0;
    AddAdapter("Again", 0, 8);
    AddDevice(0, 1, "Hard Disk");
    Select(0);
    ASSERT_EQ(Rows().size(), 1u);
    ResetViews();
    EXPECT_EQ(AdapterCount, 0);
    EXPECT_EQ(SelectedAdapter, -1);
    EXPECT_EQ(TreeView_GetCount(TreeView), 1u);
    EXPECT_EQ(Item(TreeView_GetRoot(TreeView)), "SCSI Controllers|-1|0|0");
    EXPECT_EQ(ListView_GetItemCount(ListView), 0);
}

TEST_F(Views, ListShowsAnAdaptersTargetsWithTheirTexts) {
    AddAdapter("Narrow", 0, 8);
    AddAdapter("Wide", 3, 16);
    AddDevice(0, 0, "Hard Disk", "QUANTUM", "FIREBALL1080S", "1Q09");
    AddDevice(0, 2, "Printer");
    AddDevice(0, 5, "No Device", "", "No Device", "");
    AddDevice(0, 7, "Host Adapter", "Adaptec", "AHA-2940", "N/A");
    for (BYTE t : {0, 6, 7, 9, 15})
        AddDevice(1, t, t == 7 ? "Host Adapter" : "Tape", "HP", "C1533A", "9503");
    DeviceTable[1 * SLOTS_PER_ADAPTER + 9].AdapterNumber = 0; // another adapter's slot

    Select(0); // through the tree's notification
    EXPECT_EQ(SelectedAdapter, 0);
    EXPECT_THAT(Rows(), testing::ElementsAre(
                            Row{"SCSI ID 0", "Hard Disk", "QUANTUM", "FIREBALL1080S", "1Q09"},
                            Row{"SCSI ID 5", "No Device", "", "No Device", ""},
                            Row{"SCSI ID 7", "Host Adapter", "Adaptec", "AHA-2940", "N/A"}));

    Select(1);
    EXPECT_EQ(SelectedAdapter, 1);
    EXPECT_THAT(Labels(),
                testing::ElementsAre("SCSI ID 0", "SCSI ID 6", "SCSI ID 7", "SCSI ID 15"));
    HighestTargetId = 7; // narrow scanning shows IDs 0-7 even on a wide adapter
    FillDeviceList(ListView, 1);
    EXPECT_THAT(Labels(), testing::ElementsAre("SCSI ID 0", "SCSI ID 6", "SCSI ID 7"));
    FillDeviceList(ListView, 0);
    EXPECT_THAT(Labels(), testing::ElementsAre("SCSI ID 0", "SCSI ID 5", "SCSI ID 7"));
    // Adapters past the four slot blocks, or past the table, list nothing.
    for (BYTE a = 2; a < 6; ++a)
        AddAdapter("Beyond", a, 16);
    for (int beyond : {5, 8}) {
        FillDeviceList(ListView, beyond);
        EXPECT_TRUE(Rows().empty()) << beyond;
    }
    TreeView_SelectItem(TreeView, TreeRootItem);
    EXPECT_EQ(SelectedAdapter, -1);
    EXPECT_TRUE(Rows().empty());
    EXPECT_EQ(treeChanges_, 3);
    NMHDR other = {nullptr, IDC_DEVICE_LIST, TVN_SELCHANGEDA}; // not the tree's
    EXPECT_EQ(HandleTreeNotify(IDC_DEVICE_LIST, &other), 0);
}

TEST_F(Views, PicturesFollowTheTypeText) {
    AddAdapter("A", 0, 16);
    auto picture = [this](const char* type, const char* product = "X") {
        DeviceRecord& d = AddDevice(0, 1, type, "V", product);
        EXPECT_NE(d.TypeBitmap, nullptr) << type;
        return d.ImageIndex;
    };
    EXPECT_EQ(picture("Hard Disk"), 1);
    EXPECT_EQ(picture("Removable", "ZIP 100"), 12);
    EXPECT_EQ(picture("Removable", "Zip 100"), 2);
    EXPECT_EQ(picture("Removable", "JAZ"), 2);
    EXPECT_EQ(picture("CD-ROM"), 3);
    EXPECT_EQ(picture("Tape"), 4);
    EXPECT_EQ(picture("Scanner"), 5);
    EXPECT_EQ(picture("WORM"), 6);
    EXPECT_EQ(picture("Host Adapter"), 8);
    EXPECT_EQ(picture("UnKnown"), 9);
    EXPECT_EQ(picture("No Device"), 10);
    EXPECT_EQ(picture("Optical"), 11);
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

TEST_F(Views, ClickingAColumnSortsByIt) {
    AddAdapter("A", 0, 16);
    AddDevice(0, 9, "Tape", "Seagate");
    AddDevice(0, 2, "Hard Disk", "quantum");
    AddDevice(0, 12, "CD-ROM", "TOSHIBA");
    AddDevice(0, 4, "Hard Disk", "IBM");
    Select(0); // rows come in SCSI ID order
    ClickColumn(2);
    EXPECT_THAT(Column(2), testing::ElementsAre("IBM", "quantum", "Seagate", "TOSHIBA"));
    ClickColumn(0);
    EXPECT_THAT(Labels(),
                testing::ElementsAre("SCSI ID 2", "SCSI ID 4", "SCSI ID 9", "SCSI ID 12"));
    ClickColumn(1);
    EXPECT_THAT(Column(1), testing::ElementsAre("CD-ROM", "Hard Disk", "Hard Disk", "Tape"));
    std::vector<std::string> before = Labels();
    ClickColumn(3);
    EXPECT_EQ(Labels(), before);
    ClickColumn(4);
    EXPECT_EQ(Labels(), before);
}

TEST_F(Views, FindSelectedDeviceTurnsTheFocusedRowIntoASlotInsideTheTable) {
    AddAdapter("Narrow", 0, 8);
    for (BYTE a = 1; a < 4; ++a)
        AddAdapter("Wide", a, 16);
    AddDevice(1, 3, "Hard Disk");
    AddDevice(1, 5, "CD-ROM");
    Select(1);
    EXPECT_EQ(SlotOfRow(-1), -1) << "no focused and selected row";
    EXPECT_EQ(SlotOfRow(1), 16 + 5);
    // A label that matches no "SCSI ID n" among the adapter's targets gives
    // the slot just past them.
    HostAdapterTable[1].MaxTargets = 4;
    EXPECT_EQ(SlotOfRow(1), 16 + 4);

    AddDevice(0, 6, "Tape");
    AddDevice(0, 9, "Tape"); // beyond a narrow adapter's targets
    Select(0);
    ASSERT_THAT(Labels(), testing::ElementsAre("SCSI ID 6", "SCSI ID 9"));
    EXPECT_EQ(SlotOfRow(0), 6);
    EXPECT_EQ(SlotOfRow(1), 8);

    AddDevice(3, 15, "Hard Disk");
    Select(3);
    EXPECT_EQ(SlotOfRow(0), 63);
    HostAdapterTable[3].MaxTargets = 200; // only the adapter's own slots are searched
    EXPECT_EQ(SlotOfRow(0), 63);
    // None of the last adapter's targets: just past them would be slot 64.
    HostAdapterTable[3].MaxTargets = 16;
    AddDevice(2, 2, "Tape").TargetId = 99;
    FillDeviceList(ListView, 2);
    ASSERT_EQ(Labels(), std::vector<std::string>{"SCSI ID 99"});
    EXPECT_EQ(SlotOfRow(0), -1);
    HostAdapterTable[3].TreeItem = nullptr; // the selection is no adapter's item
    FillDeviceList(ListView, 1);
    EXPECT_EQ(SlotOfRow(0), -1);
}

TEST_F(Views, UnknownViewModesFallBack) {
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
