// The bus scan under ASPI, run through real request blocks on the emulated
// wnaspi32.dll, with a window of its own that routes the scan messages to
// the scan's handlers as the main window does.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "aspitransport.h"
#include "inventory/aspiscan.h"
#include "shell/startup.h"
#include "shell/strings.h"
#include "support/emuaspi.h"
#include "support/msgrecorder.h"
#include "support/testwindow.h"
#include "support/uiscript.h"
#include "views/devicetree.h"

namespace {

using qvx::test::Delivery;
using qvx::test::MsgBox;
using qvx::test::UiScript;

class AspiScan : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(PreloadStrings(GetModuleHandleA(nullptr)), 1);
        Reset();
    }

    // Clears the tables and the program's state; the library stays loaded
    // for the whole process, as in the program.
    void Reset() {
        InitializeInventory();
        AppInstance = GetModuleHandleA(nullptr);
        static HMODULE library = LoadLibraryA("wnaspi32.dll");
        AspiLibrary = library;
        SendAspi32Command = reinterpret_cast<SendASPI32CommandFn>(
            reinterpret_cast<void*>(GetProcAddress(library, "SendASPI32Command")));
    }

    void TearDown() override {
        ReleaseDeviceBitmaps();
        MainWindow = nullptr;
    }

    // Puts the machine on the bus and records its adapters as start-up does,
    // each with a maker, a name and a version for its own row.
    void LoadMachine(const char* file) {
        // The source tree as Wine sees it: drive Z: is the Unix root.
        ASSERT_TRUE(qvx::test::LoadEmulatedMachine(std::string("Z:") + QVX_INVENTORY_MACHINES +
                                                   "/" + file));
        for (BYTE n = 0; n < MAX_ADAPTERS; n++, AdapterCount++) {
            SRB_HAInquiry block = {};
            AspiHostAdapterInquiry(&block, n);
            if (block.SRB_Status == SS_INVALID_HA)
                break;
            HostAdapterRecord& r = HostAdapterTable[n];
            FillAdapterRecord(&r, &block);
            strcpy(r.Manufacturer, "Veltran");
            snprintf(r.AdapterName, sizeof r.AdapterName, "NAME%d", n);
            strcpy(r.Version, "N/A");
        }
        UseAspi = 1;
        HighestTargetId = HostAdapterTable[0].MaxTargets - 1;
    }

    // Posts WM_SCAN_START to a window that routes the scan messages to the
    // scan, with the real tree holding an item per adapter as start-up
    // leaves it, and delivers everything that follows.
    void RunScan() {
        qvx::test::TestWindow window(
            [](HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) -> std::optional<LRESULT> {
                if (msg == WM_SCAN_START)
                    return OnScanStart(hwnd);
                if (msg == WM_SCAN_RESULT)
                    return OnScanResult(hwnd, wp, lp);
                return msg == WM_SCAN_COMPLETE ? std::optional<LRESULT>(0) : std::nullopt;
            });
        MainWindow = window.hwnd();
        ASSERT_NE(CreateDeviceTree(window.hwnd()), nullptr);
        for (int i = 0; i < AdapterCount; i++)
            HostAdapterTable[i].TreeItem = AddTreeItem(HostAdapterTable[i].Identifier, TreeView, i);
        qvx::test::MessageRecorder recorder(
            window.hwnd(),
            qvx::test::MessageFilter::Only({WM_SCAN_START, WM_SCAN_RESULT, WM_SCAN_COMPLETE}));
        PostMessageA(window.hwnd(), WM_SCAN_START, 0, 0);
        qvx::test::PumpPending();
        qvx::test::PumpPending();
        messages_ = recorder.messages();
        selectedTreeItem_ = TreeView_GetSelection(TreeView);
        TreeView = nullptr;
    }

    size_t CountOf(UINT msg) const {
        size_t n = 0;
        for (const auto& m : messages_)
            n += m.msg == msg;
        return n;
    }

    // A slot as text: type, vendor, product, revision and adapter; then
    // adapter number/target; the synchronous, wide 16, wide 32 and removable
    // flags and the ANSI version; the picture.
    static std::string Slot(int i) {
        const DeviceRecord& d = DeviceTable[i];
        char numbers[64];
        snprintf(numbers, sizeof numbers, "%d/%d|%ld%ld%ld%ld%ld|%ld", d.AdapterNumber, d.TargetId,
                 long(d.SyncTransfer), long(d.Wide16), long(d.Wide32), long(d.RemovableMedia),
                 long(d.AnsiVersion), long(d.ImageIndex));
        return std::string(d.TypeText) + "|" + d.Vendor + "|" + d.Product + "|" + d.Revision + "|" +
               d.AdapterIdentifier + "|" + numbers;
    }

    std::vector<qvx::test::RecordedMessage> messages_;
    HTREEITEM selectedTreeItem_ = nullptr;
};

TEST_F(AspiScan, FillsTheSlotsOfNarrowAndWideAdaptersInOneNestedChain) {
    LoadMachine("workstation.ini");
    ASSERT_EQ(AdapterCount, 3);
    RunScan();

    // Adapter 0 is wide (slots 0-15), adapter 1 narrow with empty ids that
    // time out (16-23), adapter 2 reports 0 targets and so is narrow (32-39).
    // Identification fields keep their padding; qualifier bits do not change
    // the type; at its own id an adapter is the adapter, whatever answered.
    std::vector<std::string> expected(MAX_DEVICE_SLOTS, "|||||0/0|00000|0");
    const char* const adapters[] = {"KESTRAIL", "AHA1542", "BT958"};
    for (int slot = 0; slot < 40; slot++)
        if (slot < 24 || slot >= 32)
            expected[slot] = std::string("No Device||No Device||") + adapters[slot / 16] + "|" +
                             std::to_string(slot / 16) + "/" + std::to_string(slot % 16) +
                             "|00000|10";
    const std::pair<int, const char*> devices[] = {
        {0, "Hard Disk|QUANTUM |ATLAS II 4.5WLS |0A0A|KESTRAIL|0/0|11002|1"},
        {3, "CD-ROM|TOSHIBA |CD-ROM XM-5701TA|3136|KESTRAIL|0/3|00012|3"},
        {7, "Host Adapter|Veltran|NAME0|N/A|KESTRAIL|0/7|00000|8"},
        {9, "Removable|VERYLONG|PRODUCTSIXTEEN16|ABCD|KESTRAIL|0/9|11113|2"},
        {12, "UnKnown|ODD     |STORAGE ARRAY   |    |KESTRAIL|0/12|00002|9"},
        {14, "No Device|ARRAY   |ABSENT LUN      |    |KESTRAIL|0/14|00002|10"},
        {18, "Tape|ARCHIVE |Python 28388-XXX|5.45|AHA1542|1/2|00002|4"},
        {23, "Host Adapter|Veltran|NAME1|N/A|AHA1542|1/7|00002|8"},
        {37, "Scanner|HP      |C1750A          |3644|BT958|2/5|00002|5"},
        {39, "Host Adapter|Veltran|NAME2|N/A|BT958|2/7|00000|8"},
    };
    for (const auto& [slot, row] : devices)
        expected[slot] = row;
    for (int slot = 0; slot < MAX_DEVICE_SLOTS; slot++)
        EXPECT_EQ(Slot(slot), expected[slot]) << "slot " << slot;

    // Empty targets count in the total but not for their adapter; every
    // target that answered counts, the adapter's own id and type 1Fh too.
    EXPECT_EQ((std::vector<LONG>{HostAdapterTable[0].DeviceCount, HostAdapterTable[1].DeviceCount,
                                 HostAdapterTable[2].DeviceCount, TotalDeviceCount, ScanComplete,
                                 SelectedAdapter}),
              (std::vector<LONG>{5, 2, 1, 32, 1, 0}));
    EXPECT_EQ(selectedTreeItem_, HostAdapterTable[0].TreeItem);

    // One sent WM_SCAN_RESULT per target, each inside the one before, inside
    // the posted start; then the final one without a request, and the
    // completion, posted once.
    ASSERT_EQ(messages_.size(), 35u);
    for (size_t i = 0; i < messages_.size(); i++) {
        const auto& m = messages_[i];
        bool first = i == 0, last = i == 34, chained = !first && i < 33;
        EXPECT_EQ(m.msg, UINT(first ? WM_SCAN_START : last ? WM_SCAN_COMPLETE : WM_SCAN_RESULT));
        EXPECT_EQ(m.delivery, first || last ? Delivery::Posted : Delivery::Sent) << i;
        EXPECT_EQ(m.depth, chained ? int(i) : i == 33 ? 33 : 0) << i;
        EXPECT_EQ(m.lParam, chained ? LPARAM(&AspiSrb) : 0) << i;
    }

    RunScan();
    EXPECT_TRUE(messages_.size() == 1 && CountOf(WM_SCAN_START) == 1) << "a second start is idle";
}

// Where the slots run out (slot 63 is never filled), and without any
// adapter.
TEST_F(AspiScan, EndsWhereTheSlotsOrAdaptersRunOut) {
    const struct {
        const char* machine;
        int slot; // a slot holding `vendor`
        const char* vendor;
        int total;
    } cases[] = {
        {"four-wide.ini", 62, "LAST    ", 63},   // target 15 of the fourth: slot 63
        {"five-narrow.ini", 54, "FOURTH  ", 32}, // the fifth adapter has no slots
        {"workstation.ini", 0, "", 0},           // with the adapters left out
    };
    for (const auto& c : cases) {
        Reset();
        LoadMachine(c.machine);
        if (c.total == 0) {
            ClearInventoryTables();
            AdapterCount = 0;
        }
        RunScan();
        EXPECT_STREQ(DeviceTable[c.slot].Vendor, c.vendor);
        EXPECT_STREQ(DeviceTable[63].TypeText, "") << c.machine;
        EXPECT_EQ(TotalDeviceCount, c.total);
        EXPECT_EQ(CountOf(WM_SCAN_COMPLETE), 1u);
        ReleaseDeviceBitmaps();
    }
}

TEST_F(AspiScan, InquiryThatNeverCompletes) {
    LoadMachine("hung.ini");
    UiScript ui(15);
    ui.expect(MsgBox().text("Unable to Abort SRB!")).press(IDOK);
    RunScan();
    ui.verify();
    EXPECT_EQ(ui.seen().at(0).caption, "Error") << "the system's caption";
    EXPECT_EQ(Slot(1), "UnKnown||Unknown Device||KESTRAIL|0/1|00000|9") << "abort accepted";
    // Abort refused: recorded from whatever the buffer holds; the scan goes on.
    EXPECT_EQ(DeviceTable[2].TargetId, 2);
    EXPECT_STRNE(DeviceTable[2].Product, "Unknown Device");
    EXPECT_STREQ(DeviceTable[3].TypeText, "No Device");
    EXPECT_EQ(TotalDeviceCount, 8);
    EXPECT_EQ(CountOf(WM_SCAN_COMPLETE), 1u);
}

TEST(DeviceTypeText, NamesEveryPeripheralType) {
    ASSERT_EQ(PreloadStrings(GetModuleHandleA(nullptr)), 1);
    const struct {
        BYTE type;
        LONG removable;
        const char* text;
    } cases[] = {
        {0x00, 0, "Hard Disk"}, {0x00, 1, "Removable"}, {0x01, 1, "Tape"},    {0x02, 0, "Printer"},
        {0x03, 0, "Scanner"},   {0x04, 0, "WORM"},      {0x05, 1, "CD-ROM"},  {0x06, 0, "Scanner"},
        {0x07, 1, "Optical"},   {0x08, 0, "UnKnown"},   {0x0A, 0, "UnKnown"}, {0x1E, 0, "UnKnown"},
        {0x1F, 0, "No Device"}, {0xE5, 0, "CD-ROM"}, // the qualifier bits do not count
    };
    for (const auto& c : cases)
        EXPECT_STREQ(GetDeviceTypeText(c.type, c.removable), c.text) << int(c.type);
}

// The scan of a disk that is being formatted ends the program after its
// message (a disk not ready for another reason does not); it runs in a
// child process.
TEST_F(AspiScan, FormatInProgressEndsTheProgram) {
    LoadMachine("formatting.ini");
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            UiScript ui;
            ui.expect(MsgBox().text("Low-level format"))
                .then([](HWND, const qvx::test::WindowRecord& r) {
                    fprintf(stderr, "shown [%s] [%s] at %d\n", r.caption.c_str(), r.text.c_str(),
                            ScanTargetId);
                    fflush(stderr);
                })
                .press(IDOK);
            RunScan();
            exit(3);
        },
        testing::ExitedWithCode(0),
        "shown \\[Quorvex Diagnostics status:\\] \\[Low-level format is in progress, "
        "Quorvex Diagnostics must exit\\.\\] at 4");
}

} // namespace
