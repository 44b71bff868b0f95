// The bus scan under ASPI, run through real request blocks on the emulated
// wnaspi32.dll, with a window of its own that routes the scan messages to
// the scan's handlers as the main window does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "aspitransport.h"
#include "inventory/aspiscan.h"
#include "shell/strings.h"
#include "views/devicelist.h"
#include "views/devicetree.h"
#include "support/msgrecorder.h"
#include "support/testwindow.h"
#include "support/uiscript.h"

namespace {

using qvx::test::Delivery;
using qvx::test::MessageFilter;
using qvx::test::MessageRecorder;
using qvx::test::MsgBox;
using qvx::test::TestWindow;
using qvx::test::UiScript;

using LoadMachineFn = BOOL(__cdecl*)(const char*);

class AspiScan : public testing::Test {
  protected:
    void SetUp() override {
        AppInstance = GetModuleHandleA(nullptr);
        ASSERT_EQ(PreloadStrings(AppInstance), 1);
        InitializeInventory();
        // The library stays loaded for the whole process, as in the program;
        // its entry points are set again after each reset of the globals.
        static HMODULE library = LoadLibraryA("wnaspi32.dll");
        auto entry = [](const char* name) {
            return reinterpret_cast<void*>(GetProcAddress(library, name));
        };
        AspiLibrary = library;
        GetAspi32SupportInfo =
            reinterpret_cast<GetASPI32SupportInfoFn>(entry("GetASPI32SupportInfo"));
        SendAspi32Command = reinterpret_cast<SendASPI32CommandFn>(entry("SendASPI32Command"));
        loadMachine_ = reinterpret_cast<LoadMachineFn>(entry("QvxEmuLoadMachine"));
        ASSERT_TRUE(library != nullptr && loadMachine_ != nullptr)
            << "wnaspi32.dll with QvxEmuLoadMachine";
    }

    void TearDown() override {
        ReleaseDeviceBitmaps();
        MainWindow = nullptr;
    }

    // Puts the machine on the bus and records its adapters as start-up does:
    // identifier, number, own id, maximum targets (8 when reported as 0).
    void LoadMachine(const char* file) {
        // The source tree as Wine sees it: drive Z: is the Unix root.
        std::string path = std::string("Z:") + QVX_INVENTORY_MACHINES + "/" + file;
        ASSERT_TRUE(loadMachine_(path.c_str())) << file;
        int k = 0;
        for (BYTE n = 0; n < MAX_ADAPTERS; n++) {
            SRB_HAInquiry block = {};
            AspiHostAdapterInquiry(&block, n);
            if (block.SRB_Status == SS_INVALID_HA)
                break;
            HostAdapterRecord& r = HostAdapterTable[k++];
            CopyTextField(r.Identifier, sizeof r.Identifier, block.HA_Identifier, 15);
            CopyTextField(r.ManagerId, sizeof r.ManagerId, block.HA_ManagerId, 15);
            r.AdapterNumber = block.SRB_HaId;
            r.HostScsiId = block.HA_SCSI_ID;
            r.MaxTargets = block.HA_Unique[3] == 0 ? 8 : block.HA_Unique[3];
            strcpy(r.Manufacturer, "Veltran");
            snprintf(r.AdapterName, sizeof r.AdapterName, "NAME%d", k - 1);
            strcpy(r.Version, "N/A");
        }
        AdapterCount = k;
        UseAspi = 1;
        HighestTargetId = HostAdapterTable[0].MaxTargets - 1;
    }

    // Posts WM_SCAN_START to a window that routes the scan messages to the
    // scan, and delivers everything that follows.
    void RunScan() {
        TestWindow window([](HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) -> std::optional<LRESULT> {
            if (msg == WM_SCAN_START)
                return OnScanStart(hwnd);
            if (msg == WM_SCAN_RESULT)
                return OnScanResult(hwnd, wp, lp);
            if (msg == WM_SCAN_COMPLETE)
                return 0;
            return std::nullopt;
        });
        MainWindow = window.hwnd();
        // The real tree with an item per adapter, as start-up leaves it.
        ASSERT_NE(CreateDeviceTree(window.hwnd()), nullptr);
        for (int i = 0; i < AdapterCount; i++)
            HostAdapterTable[i].TreeItem = AddTreeItem(HostAdapterTable[i].Identifier, TreeView, i);
        MessageRecorder recorder(
            window.hwnd(), MessageFilter::Only({WM_SCAN_START, WM_SCAN_RESULT, WM_SCAN_COMPLETE}));
        PostMessageA(window.hwnd(), WM_SCAN_START, 0, 0);
        qvx::test::PumpPending();
        qvx::test::PumpPending();
        messages_ = recorder.messages();
        selectedTreeItem_ = TreeView_GetSelection(TreeView);
        TreeView = nullptr;
    }

    long CountOf(UINT msg) const {
        return std::count_if(messages_.begin(), messages_.end(),
                             [msg](const auto& m) { return m.msg == msg; });
    }

    static const DeviceRecord& Slot(int i) {
        return DeviceTable[i];
    }

    // A slot's type, vendor and product, joined for comparison.
    static std::string Row(int slot) {
        const DeviceRecord& d = DeviceTable[slot];
        return std::string(d.TypeText) + "|" + d.Vendor + "|" + d.Product;
    }

    static void ExpectNoDevice(int slot, BYTE adapterNumber, int target) {
        EXPECT_EQ(Row(slot), "No Device||No Device") << slot;
        EXPECT_EQ(Slot(slot).AdapterNumber, adapterNumber) << slot;
        EXPECT_EQ(Slot(slot).TargetId, target) << slot;
    }

    static void ExpectUnused(int first, int last) {
        for (int slot = first; slot <= last; slot++)
            EXPECT_EQ(Row(slot), "||") << slot;
    }

    LoadMachineFn loadMachine_ = nullptr;
    std::vector<qvx::test::RecordedMessage> messages_;
    HTREEITEM selectedTreeItem_ = nullptr;
};

TEST_F(AspiScan, FillsTheSlotsOfNarrowAndWideAdaptersInOneNestedChain) {
    LoadMachine("workstation.ini");
    ASSERT_EQ(AdapterCount, 3);
    RunScan();

    // Adapter 0, wide: slots 0-15. The identification fields keep their padding.
    EXPECT_EQ(Row(0), "Hard Disk|QUANTUM |ATLAS II 4.5WLS ");
    EXPECT_STREQ(Slot(0).Revision, "0A0A");
    EXPECT_STREQ(Slot(0).AdapterIdentifier, "KESTRAIL");
    EXPECT_EQ(Slot(0).SyncTransfer + Slot(0).Wide16 * 2 + Slot(0).Wide32 * 4, 3) << "sync, wide16";
    EXPECT_STREQ(Slot(3).TypeText, "CD-ROM"); // qualifier bits do not change the type
    EXPECT_EQ(Slot(3).RemovableMedia, 1);
    EXPECT_EQ(Row(9), "Removable|VERYLONG|PRODUCTSIXTEEN16");
    EXPECT_EQ(Slot(9).AnsiVersion, 3);
    EXPECT_EQ(Slot(9).Wide32, 1);
    EXPECT_STREQ(Slot(12).TypeText, "UnKnown");
    // The adapter's own id is the adapter, with its maker, name and version.
    EXPECT_EQ(Row(7), "Host Adapter|Veltran|NAME0");
    EXPECT_STREQ(Slot(7).Revision, "N/A");
    for (int t : {1, 2, 4, 5, 6, 8, 10, 11, 13, 15})
        ExpectNoDevice(t, 0, t);
    // A device that answers with type 1Fh shows that type but is no empty target.
    EXPECT_EQ(Row(14), "No Device|ARRAY   |ABSENT LUN      ");

    // Adapter 1, narrow, empty ids time out: slots 16-23, 24-31 unused.
    EXPECT_EQ(Row(18), "Tape|ARCHIVE |Python 28388-XXX");
    EXPECT_EQ(Slot(18).AdapterNumber, 1);
    EXPECT_STREQ(Slot(18).AdapterIdentifier, "AHA1542");
    EXPECT_EQ(Row(23), "Host Adapter|Veltran|NAME1"); // a processor answered there
    for (int t : {0, 1, 3, 4, 5, 6})
        ExpectNoDevice(16 + t, 1, t);
    ExpectUnused(24, 31);

    // Adapter 2 reports 0 targets and so counts as narrow: slots 32-39.
    EXPECT_EQ(Row(37), "Scanner|HP      |C1750A          ");
    EXPECT_STREQ(Slot(37).AdapterIdentifier, "BT958");
    EXPECT_EQ(Row(39), "Host Adapter|Veltran|NAME2");
    ExpectUnused(40, 63);

    // Empty targets count in the total but not for their adapter; the
    // adapter's own id counts when something answered there, and so does a
    // device of type 1Fh.
    EXPECT_EQ(HostAdapterTable[0].DeviceCount, 5);
    EXPECT_EQ(HostAdapterTable[1].DeviceCount, 2);
    EXPECT_EQ(HostAdapterTable[2].DeviceCount, 1);
    EXPECT_EQ(TotalDeviceCount, 32);
    EXPECT_EQ(ScanComplete, 1);

    // Every filled slot has its picture; the first adapter is shown.
    EXPECT_EQ(Slot(0).ImageIndex, LIST_IMAGE_HARD_DISK);
    EXPECT_EQ(Slot(7).ImageIndex, LIST_IMAGE_HOST_ADAPTER);
    EXPECT_EQ(SelectedAdapter, 0);
    EXPECT_EQ(selectedTreeItem_, HostAdapterTable[0].TreeItem);

    // One sent WM_SCAN_RESULT per target, each inside the one before, inside
    // the posted start; then the final one without a request, and the
    // completion, posted once.
    ASSERT_EQ(messages_.size(), 35u);
    EXPECT_EQ(messages_.front().msg, UINT(WM_SCAN_START));
    EXPECT_EQ(messages_.front().delivery, Delivery::Posted);
    for (int i = 1; i <= 32; i++) {
        const auto& m = messages_[i];
        EXPECT_EQ(m.msg, UINT(WM_SCAN_RESULT)) << i;
        EXPECT_EQ(m.delivery, Delivery::Sent) << i;
        EXPECT_EQ(m.depth, i) << i;
        EXPECT_EQ(m.lParam, LPARAM(&AspiSrb)) << i;
    }
    EXPECT_EQ(messages_[33].msg, UINT(WM_SCAN_RESULT));
    EXPECT_EQ(messages_[33].lParam, 0);
    EXPECT_EQ(messages_[34].msg, UINT(WM_SCAN_COMPLETE));
    EXPECT_EQ(messages_[34].delivery, Delivery::Posted);

    // A second start after the scan has ended does nothing.
    RunScan();
    EXPECT_EQ(CountOf(WM_SCAN_RESULT) + CountOf(WM_SCAN_COMPLETE), 0);
}

TEST_F(AspiScan, FourWideAdaptersLeaveSlot63Unscanned) {
    LoadMachine("four-wide.ini");
    RunScan();
    EXPECT_STREQ(Slot(62).Vendor, "LAST    ");
    ExpectUnused(63, 63);
    EXPECT_EQ(TotalDeviceCount, 63);
    EXPECT_EQ(HostAdapterTable[3].DeviceCount, 1);
    EXPECT_EQ(CountOf(WM_SCAN_COMPLETE), 1);
}

TEST_F(AspiScan, FifthAdapterIsNotRecorded) {
    LoadMachine("five-narrow.ini");
    ASSERT_EQ(AdapterCount, 5);
    RunScan();
    EXPECT_STREQ(Slot(54).Vendor, "FOURTH  ");
    for (int slot = 0; slot < MAX_DEVICE_SLOTS; slot++)
        EXPECT_STRNE(Slot(slot).Vendor, "FIFTH   ") << slot;
    ExpectUnused(56, 63);
    EXPECT_EQ(HostAdapterTable[4].DeviceCount, 0);
    EXPECT_EQ(TotalDeviceCount, 32);
    EXPECT_EQ(CountOf(WM_SCAN_COMPLETE), 1);
}

TEST_F(AspiScan, WithoutAnAdapterTheScanEndsAtOnce) {
    LoadMachine("workstation.ini");
    ClearInventoryTables();
    AdapterCount = 0;
    RunScan();
    EXPECT_EQ(TotalDeviceCount, 0);
    EXPECT_EQ(CountOf(WM_SCAN_RESULT), 1);
    EXPECT_EQ(CountOf(WM_SCAN_COMPLETE), 1);
}

TEST_F(AspiScan, InquiryThatNeverCompletes) {
    LoadMachine("hung.ini");
    UiScript ui(15);
    ui.expect(MsgBox().text("Unable to Abort SRB!")).press(IDOK);
    RunScan();
    ui.verify();
    ASSERT_EQ(ui.seen().size(), 1u);
    EXPECT_NE(ui.seen()[0].caption, "Quorvex Diagnostics status:"); // the system's caption
    // Abort accepted: an unknown device.
    EXPECT_EQ(Row(1), "UnKnown||Unknown Device");
    // Abort refused: recorded from whatever the buffer holds; the scan goes on.
    EXPECT_EQ(Slot(2).TargetId, 2);
    EXPECT_STRNE(Slot(2).Product, "Unknown Device");
    EXPECT_STREQ(Slot(3).TypeText, "No Device");
    EXPECT_EQ(TotalDeviceCount, 8);
    EXPECT_EQ(CountOf(WM_SCAN_COMPLETE), 1);
}

TEST(DeviceTypeText, NamesEveryPeripheralType) {
    ASSERT_EQ(PreloadStrings(GetModuleHandleA(nullptr)), 1);
    // Types the workstation scan does not show.
    EXPECT_STREQ(GetDeviceTypeText(0x02, 0), "Printer");
    EXPECT_STREQ(GetDeviceTypeText(0x04, 0), "WORM");
    EXPECT_STREQ(GetDeviceTypeText(0x06, 0), "Scanner");
    EXPECT_STREQ(GetDeviceTypeText(0x07, 0), "Optical");
    for (BYTE type : {0x08, 0x0B, 0x10, 0x1E})
        EXPECT_STREQ(GetDeviceTypeText(type, 0), "UnKnown") << int(type);
}

// The scan of a disk that is being formatted ends the program after its
// message; it runs in a child process.
TEST_F(AspiScan, FormatInProgressEndsTheProgram) {
    LoadMachine("formatting.ini");
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            UiScript ui;
            ui.expect(MsgBox().text("Low-level format"))
                .then([](HWND, const qvx::test::WindowRecord& r) {
                    fprintf(stderr, "shown [%s] [%s]\n", r.caption.c_str(), r.text.c_str());
                    fflush(stderr);
                })
                .press(IDOK);
            RunScan();
            exit(3);
        },
        testing::ExitedWithCode(0),
        "shown \\[Quorvex Diagnostics status:\\] \\[Low-level format is in progress, "
        "Quorvex Diagnostics must exit\\.\\]");
}

} // namespace
