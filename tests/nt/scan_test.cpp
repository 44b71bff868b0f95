// The NT bus scan through its real path: the port devices of the NT port
// stand-in, their inquiry answers (the machine's, or raw bytes put in their
// place), drive letters and class devices, and the registry's port keys.
// Each case shows the adapter records, every slot filled and the drive map.
#include "nt_fixture.h"

#include <cstdio>
#include <string>
#include <vector>

#include "answers.h"
#include "inventory/drivemap.h"
#include "scsi/nt/nttransport.h"
#include "support/registry.h"

namespace qvx::test {
namespace {

constexpr char kPorts[] = "Hardware\\DeviceMap\\SCSI";

// The ports' keys as NT lays them: I/O address and miniport driver; the
// Kestrail's legacy key gives its maker and description.
class NtScan : public NtTest {
  protected:
    void SetUp() override {
        NtTest::SetUp();
        registry_.Own(kPorts);
        registry_.Own("System\\CurrentControlSet\\Enum\\Root\\LEGACY_kestrail");
        const std::string legacy = "System\\CurrentControlSet\\Enum\\Root\\LEGACY_kestrail\\0000";
        registry_.SetString(legacy, "Mfg", "Veltrane");
        registry_.SetString(legacy, "DeviceDesc", "Veltrane Kestrail Wide SCSI Host Adapter");
        registry_.SetString(legacy, "Service", "kestrail");
    }
    void Port(int n, DWORD ioAddress, const char* driver) {
        const std::string key = std::string(kPorts) + "\\SCSI PORT " + std::to_string(n);
        registry_.SetDword(key, "IOAddress", ioAddress);
        registry_.SetString(key, "Driver", driver);
    }
    RegistryKeys registry_;
};

// "index: port manager identifier description host/max devices buses"
std::string Adapters() {
    std::string s;
    for (int i = 0; i < AdapterCount; i++) {
        const HostAdapterRecord& r = HostAdapterTable[i];
        char line[200];
        snprintf(line, sizeof line, "%s%d: %u %s|%s|%s|%s %lu/%ld %ld %ld", i ? "\n" : "", i,
                 r.AdapterNumber, r.ManagerId, r.Identifier, r.Manufacturer, r.Description,
                 static_cast<unsigned long>(r.HostScsiId), static_cast<long>(r.MaxTargets),
                 static_cast<long>(r.DeviceCount), static_cast<long>(r.BusCount));
        s += line;
    }
    return s;
}

// One line per filled slot but "No Device" rows (counted at the end):
// "slot port:bus:target:lun type|vendor|product|path access/share picture".
std::string Slots() {
    std::string s;
    int empty = 0;
    for (int i = 0; i < MAX_DEVICE_SLOTS; i++) {
        const DeviceRecord& d = DeviceTable[i];
        if (!d.TypeText[0])
            continue;
        if (!strcmp(d.TypeText, "No Device") && !strcmp(d.Product, "No Device") &&
            !strcmp(d.Vendor, " ") && !d.DevicePath[0] && d.OpenAccess == 0xC0000000 &&
            d.OpenShare == 3 && d.ImageIndex == 10) {
            empty++;
            continue;
        }
        char line[200];
        snprintf(line, sizeof line, "%d %u:%ld:%u:%ld %s|%s|%s|%s %lX/%lX %ld\n", i,
                 d.AdapterNumber, static_cast<long>(d.PathId), d.TargetId, static_cast<long>(d.Lun),
                 d.TypeText, d.Vendor, d.Product, d.DevicePath,
                 static_cast<unsigned long>(d.OpenAccess), static_cast<unsigned long>(d.OpenShare),
                 static_cast<long>(d.ImageIndex));
        s += line;
    }
    return s + std::to_string(empty) + " empty, total " + std::to_string(TotalDeviceCount);
}

std::string DriveNames() {
    std::string s;
    for (const DriveMapEntry& e : DriveMap)
        if (e.Name[0])
            s += std::string(s.empty() ? "" : " ") + e.Name + "=" + std::to_string(e.PortNumber) +
                 ":" + std::to_string(e.PathId) + ":" + std::to_string(e.TargetId) + ":" +
                 std::to_string(e.Lun);
    return s;
}

std::string Journal() {
    std::string s;
    for (const std::string& line : ntport::JournalLines())
        s += (s.empty() ? "" : "\n") + line;
    return s;
}

// The IDE channels on ports 0 and 1 are never opened; the Kestrail on port
// 2 becomes record 0. Its disk is D: (C: is the IDE disk; X:, its second
// partition, is never examined), the CD-ROM E: is opened for reading only
// while its address is asked, the tape is Tape0 and the scanner Scanner3
// although Scanner0-2 do not exist; the processor, claimed by none, is
// reached through SCSI2:, and the changer at logical unit 1 of the CD-ROM's
// target gets no slot. The adapter's row shows its identifier.
TEST_F(NtScan, LeavesOutTheIdeChannelsAndNamesEachClaimedDevice) {
    Port(0, 0x1F0, "atapi");
    Port(1, 0x170, "atapi");
    Port(2, 0x6000, "kestrail");
    std::string error;
    ASSERT_TRUE(ntport::LoadMachineFile(
        std::string("Z:") + QVX_EMULATION_MACHINES + "/nt-no-aspi.ini", &error))
        << error;
    ntport::ClearJournal();
    EXPECT_EQ(EnumerateScsiPorts(), 0) << "port 3 does not exist";
    EXPECT_EQ(Adapters(), "0: 2 Scsi Port 2|kestrail|Veltran|Veltrane Kestrail Wide SCSI Host "
                          "Adapter 7/16 5 1");
    EXPECT_EQ(Slots(), "0 2:0:0:0 Hard Disk|QUANTUM |ATLAS II 4.5WLS |D: C0000000/3 1\n"
                       "3 2:0:3:0 CD-ROM|TOSHIBA |CD-ROM XM-5701TA|E: 80000000/1 3\n"
                       "4 2:0:4:0 Tape|ARCHIVE |Python 04106-XXX|Tape0 C0000000/3 4\n"
                       "5 2:0:5:0 Scanner|UMAX    |Astra 1200S     |Scanner3 C0000000/3 5\n"
                       "6 2:0:6:0 Scanner|VELTRANE|KX ENCLOSURE    |SCSI2: C0000000/3 5\n"
                       "7 2:0:7:0 Host Adapter|Veltran|kestrail| 0/0 8\n"
                       "10 empty, total 16");
    EXPECT_EQ(DriveNames(), "C:=0:0:0:0 D:=2:0:0:0 E:=2:0:3:0");
    EXPECT_EQ(Journal(), "query 4100C via SCSI2:\n"
                         "query 41018 via C:\n"
                         "query 41018 via D:\n"
                         "query 41018 via E:\n"
                         "query 41018 via Tape0\n"
                         "query 41018 via Scanner3");
}

// Two buses on port 0: only bus 0's units are placed (the second bus's disk
// at target 0 and tape at 4 are not); a unit at logical unit 1 alone leaves
// its target "No Device"; scanners at the same bus and target on two ports
// are told apart by the port number. With HighestTargetId 7 the second
// adapter's block is slots 8-15.
TEST_F(NtScan, PlacesBusZeroLogicalUnitsZeroInEachAdaptersBlock) {
    Port(0, 0x6000, "kestrail");
    Port(1, 0x300, "lq450");
    const std::pair<LONG, const char*> layouts[] = {
        {15, "0 0:0:0:0 Hard Disk|QUANTUM |ATLAS II 4.5WLS |C: C0000000/3 1\n"
             "2 0:0:2:0 Scanner|UMAX    |Astra 1200S     |Scanner0 C0000000/3 5\n"
             "7 0:0:7:0 Host Adapter|Veltran|kestrail| 0/0 8\n"
             "18 1:0:2:0 Scanner|UMAX    |Astra 1220S     |Scanner1 C0000000/3 5\n"
             "23 1:0:7:0 Host Adapter||lq450| 0/0 8\n"
             "27 empty, total 32"},
        {7, "0 0:0:0:0 Hard Disk|QUANTUM |ATLAS II 4.5WLS |C: C0000000/3 1\n"
            "2 0:0:2:0 Scanner|UMAX    |Astra 1200S     |Scanner0 C0000000/3 5\n"
            "7 0:0:7:0 Host Adapter|Veltran|kestrail| 0/0 8\n"
            "10 1:0:2:0 Scanner|UMAX    |Astra 1220S     |Scanner1 C0000000/3 5\n"
            "15 1:0:7:0 Host Adapter||lq450| 0/0 8\n"
            "11 empty, total 16"},
    };
    for (const auto& [highest, slots] : layouts) {
        std::string error;
        ASSERT_TRUE(ntport::LoadMachineFile(
            std::string("Z:") + QVX_EMULATION_MACHINES + "/nt-buses.ini", &error))
            << error;
        InitializeInventory();
        PlatformKind = PLATFORM_NT;
        HighestTargetId = highest;
        EXPECT_EQ(EnumerateScsiPorts(), 0);
        const int per = highest == 15 ? 16 : 8;
        EXPECT_EQ(Adapters(), "0: 0 Scsi Port 0|kestrail|Veltran|Veltrane Kestrail Wide SCSI Host "
                              "Adapter 7/" +
                                  std::to_string(per) +
                                  " 2 2\n"
                                  "1: 1 Scsi Port 1|lq450|| 7/" +
                                  std::to_string(per) + " 1 1");
        EXPECT_EQ(Slots(), slots);
        ReleaseDeviceBitmaps();
    }
}

// Drives and class devices: the disk's first letter in letter order (C:,
// not K:), W: examined and X: not, no remote drive or RAM disk opened (the
// floppy drive H: is opened, has no SCSI address and is left out); a
// processor is looked for as a scanner only when its vendor says HP; a
// claimed CD-ROM or tape without a device of its own keeps an empty name,
// the CD-ROM with read access.
TEST_F(NtScan, FindsDriveLettersAndClassDevicesOnlyWhereTheyMayBe) {
    Port(0, 0x6000, "kestrail");
    std::string error;
    ASSERT_TRUE(ntport::LoadMachineFile(NtMachine("scan.ini"), &error)) << error;
    ntport::ClearJournal();
    EXPECT_EQ(EnumerateScsiPorts(), 0);
    EXPECT_EQ(Slots(), "0 0:0:0:0 Hard Disk|QUANTUM |                |C: C0000000/3 1\n"
                       "1 0:0:1:0 Scanner|HP      |C2520A          |Scanner1 C0000000/3 5\n"
                       "2 0:0:2:0 Scanner|Hewlett |C2520B          | 0/0 5\n"
                       "3 0:0:3:0 CD-ROM|NEC     |                | 80000000/1 3\n"
                       "4 0:0:4:0 Tape|ARCHIVE |                | 0/0 4\n"
                       "7 0:0:7:0 Host Adapter|Veltran|kestrail| 0/0 8\n"
                       "8 0:0:8:0 WORM|YAMAHA  |                |W: C0000000/3 6\n"
                       "9 0:0:9:0 Optical|FUJITSU |                |L: C0000000/3 11\n"
                       "10 0:0:10:0 Hard Disk|IBM     |                | C0000000/3 1\n"
                       "7 empty, total 16");
    EXPECT_EQ(DriveNames(), "C:=0:0:0:0 K:=0:0:0:0 L:=0:0:9:0 W:=0:0:8:0");
    std::string asked = Journal();
    for (const char* never : {"via A:", "via F:", "via G:", "via X:", "via Tape"})
        EXPECT_EQ(asked.find(never), std::string::npos) << never;
    EXPECT_NE(asked.find("query 41018 via H:"), std::string::npos);
}

// A port that cannot be opened ends the scan: nothing recorded for it or
// for later ports; a port whose inquiry data cannot be read is counted and
// identified but has no rows.
TEST_F(NtScan, StopsAtAPortItCannotOpenOrQuery) {
    const std::tuple<const char*, int, const char*, const char*> cases[] = {
        {"[adapter.0]\nnt_port=0\nnt_open_error=2\n[adapter.1]\nnt_port=1\n", 0, "",
         "0 empty, total 0"},
        {"[adapter.0]\nnt_port=0\n[adapter.1]\nnt_port=1\nnt_open_error=5\n", 0,
         "0: 0 Scsi Port 0||| 7/16 0 1", "15 empty, total 16"},
        {"[adapter.0]\nnt_port=0\nnt_inquiry_error=1117\n[adapter.1]\nnt_port=1\n", 0,
         "0: 0 Scsi Port 0||| 0/0 0 0", "0 empty, total 0"},
        {"[machine]\nfamily=nt40\n", 0, "", "0 empty, total 0"}, // no port at all
    };
    for (const auto& [machine, result, adapters, slots] : cases) {
        std::string error;
        ASSERT_TRUE(ntport::LoadMachineText(machine, &error)) << error;
        InitializeInventory();
        PlatformKind = PLATFORM_NT;
        HighestTargetId = 15;
        EXPECT_EQ(EnumerateScsiPorts(), result) << machine;
        EXPECT_EQ(Adapters(), adapters) << machine;
        std::string shown = Slots();
        EXPECT_EQ(shown.substr(shown.rfind('\n') + 1), slots) << machine;
        ReleaseDeviceBitmaps();
    }
}

// Five SCSI ports and two IDE channels on ports 5 and 6: every port number
// is handled, so the result is 1; the fifth adapter is recorded but its
// block would lie past slot 63, so its disk gets no slot.
TEST_F(NtScan, KeepsAFifthAdaptersDevicesOutOfTheTable) {
    Port(5, 0x1F0, "atapi");
    Port(6, 0x170, "atapi");
    std::string error;
    ASSERT_TRUE(ntport::LoadMachineFile(NtMachine("five_ports.ini"), &error)) << error;
    EXPECT_EQ(EnumerateScsiPorts(), 1);
    EXPECT_EQ(AdapterCount, 5);
    EXPECT_EQ(HostAdapterTable[4].AdapterNumber, 4);
    EXPECT_EQ(HostAdapterTable[4].DeviceCount, 0);
    EXPECT_EQ(Slots(), "2 0:0:2:0 Hard Disk|ZERO    |                |SCSI0: C0000000/3 1\n"
                       "7 0:0:7:0 Host Adapter||| 0/0 8\n"
                       "18 1:0:2:0 Hard Disk|ONE     |                |SCSI1: C0000000/3 1\n"
                       "23 1:0:7:0 Host Adapter||| 0/0 8\n"
                       "34 2:0:2:0 Hard Disk|TWO     |                |SCSI2: C0000000/3 1\n"
                       "39 2:0:7:0 Host Adapter||| 0/0 8\n"
                       "50 3:0:2:0 Hard Disk|THREE   |                |SCSI3: C0000000/3 1\n"
                       "55 3:0:7:0 Host Adapter||| 0/0 8\n"
                       "56 empty, total 64");
}

// The targets placed in the adapter's block (not its own row, not "No
// Device"), and how many units the walk listed.
std::string Placed() {
    std::string s;
    for (int i = 0; i < MAX_DEVICE_SLOTS; i++) {
        const DeviceRecord& d = DeviceTable[i];
        if (d.TypeText[0] && strcmp(d.TypeText, "No Device") && strcmp(d.TypeText, "Host Adapter"))
            s += std::to_string(i) + "=" + d.Vendor + " ";
    }
    return s + "listed " + std::to_string(PortDeviceCount);
}

std::vector<BYTE> Units(std::vector<Unit> units, BYTE count = 0xFF) {
    std::vector<BYTE> a = BuildAnswer({Bus{7, units}});
    if (count != 0xFF)
        a[4] = count;
    return a;
}

std::vector<Unit> Numbered(int n, BYTE lun = 0) {
    std::vector<Unit> units;
    for (int i = 0; i < n; i++) {
        Unit u;
        u.target = static_cast<BYTE>(i % 16 == 7 ? 8 : i % 16);
        u.lun = lun;
        u.identity = i < 16 ? "FIRST   " : "LATER   ";
        u.length = 16;
        units.push_back(u);
    }
    return units;
}

// Answers no port driver should give, put in place of port 0's: the walk
// never leaves the 2048 bytes, never loops for ever, never writes outside
// the adapter's block, and places only units of logical unit 0.
TEST_F(NtScan, WalksOnlyWhatLiesInsideTheAnswer) {
    Unit beyond;
    beyond.target = 20;
    Unit nine;
    nine.target = 9;
    Unit three;
    three.target = 3;
    three.identity = "THREE   ";
    Unit lun1 = three;
    lun1.lun = 1;
    lun1.identity = "LUN1    ";
    // The answer, HighestTargetId, what is placed.
    std::vector<std::tuple<std::vector<BYTE>, LONG, std::string>> cases = {
        {Units({beyond, three, nine}), 15, "3=THREE    9=VENDOR   listed 3"},
        {Units({beyond, three, nine}), 7, "3=THREE    listed 3"},
        {Units({lun1}), 15, "listed 1"},
        {Units(Numbered(70), 70), 15,
         "0=LATER    1=LATER    2=LATER    3=LATER    4=LATER    "
         "5=LATER    6=LATER    8=LATER    9=LATER    10=LATER    "
         "11=LATER    12=LATER    13=LATER    14=LATER    15=LATER    "
         "listed 64"},
        {Units(Numbered(3), 1), 15, "0=FIRST    listed 3"}, // bus 0 counts 1 unit
    };
    // A chain that comes back to its first unit.
    std::vector<BYTE> loop = Units({three}, 200);
    Put32(loop, Get32(loop, 8) + 8, Get32(loop, 8));
    cases.push_back({loop, 15, "3=THREE    listed 64"});
    // A first unit whose header would cross the end of the answer.
    std::vector<BYTE> atEnd = Units({three});
    Put32(atEnd, 8, kAnswerSize - 11);
    cases.push_back({atEnd, 15, "listed 0"});
    // A second unit whose INQUIRY data would run past the end.
    std::vector<BYTE> tooLong = Units({three, nine});
    Put32(tooLong, Get32(tooLong, Get32(tooLong, 8) + 8) + 4, 2000);
    cases.push_back({tooLong, 15, "3=THREE    listed 1"});
    // A unit that ends exactly at the end of the answer is read.
    std::vector<BYTE> last = Units({}, 1);
    Put32(last, 8, kAnswerSize - 12 - 36);
    std::vector<BYTE> q = InquiryOf(three);
    last[kAnswerSize - 48 + 1] = 3;
    Put32(last, kAnswerSize - 48 + 4, 36);
    std::memcpy(last.data() + kAnswerSize - 36, q.data(), 36);
    cases.push_back({last, 15, "3=THREE    listed 1"});
    // Offsets beyond past the answer.
    std::vector<BYTE> wild = Units({three, nine});
    Put32(wild, Get32(wild, 8) + 8, 0xFFFFFFF0);
    cases.push_back({wild, 15, "3=THREE    listed 1"});
    for (const auto& [answer, highest, placed] : cases) {
        SCOPED_TRACE(placed);
        ASSERT_TRUE(ntport::LoadMachineText("[adapter.0]\nnt_port=0\n"));
        ntport::SetInquiryAnswer(0, answer.data(), answer.size());
        InitializeInventory();
        PlatformKind = PLATFORM_NT;
        HighestTargetId = highest;
        EnumerateScsiPorts();
        EXPECT_EQ(Placed(), placed);
        EXPECT_EQ(TotalDeviceCount, highest + 1);
        ReleaseDeviceBitmaps();
    }
    ntport::ClearInquiryAnswer(0);
}

// A port whose bus 0 counts more units than its chain holds places only the
// units it listed, none left in the list by the port before it.
TEST_F(NtScan, PlacesNoUnitAnEarlierPortListed) {
    Unit three;
    three.target = 3;
    ASSERT_TRUE(ntport::LoadMachineText("[adapter.0]\nnt_port=0\n[adapter.1]\nnt_port=1\n"));
    const std::vector<BYTE> many = Units(Numbered(6)), few = Units({three}, 6);
    ntport::SetInquiryAnswer(0, many.data(), many.size());
    ntport::SetInquiryAnswer(1, few.data(), few.size());
    EnumerateScsiPorts();
    EXPECT_EQ(Placed(), "0=FIRST    1=FIRST    2=FIRST    3=FIRST    4=FIRST    5=FIRST    "
                        "19=VENDOR   listed 1");
    EXPECT_EQ(HostAdapterTable[1].DeviceCount, 1);
    ntport::ClearInquiryAnswer(0);
    ntport::ClearInquiryAnswer(1);
}

} // namespace
} // namespace qvx::test
