// The NT SCSI port stand-in through the program's device-access functions:
// the byte layout of the port's inquiry answer, the error codes of opens and
// I/O controls, handle counting, and what a pass-through returns.
#include "ntdevice.h"
#include "ntport/ntport.h"

#include <winioctl.h>
#include <ntddscsi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Port 2 has two buses; the CD-ROM has a changer at logical unit 1; the
// processor is claimed by no class driver.
const char kMachine[] = R"(
[machine]
family=nt40
aspi=absent
other_drives=A:removable, Y:remote
[adapter.0]
nt_port=0
nt_open_error=21
[adapter.1]
nt_port=2
host_id=7
buses=2
[device.1.0]
vendor=QUANTUM
blocks=1000
drive_letter=D,X
not_ready=3A/00
[device.1.3]
type=cdrom
vendor=TOSHIBA
blocks=1000
block_size=2048
drive_letter=E
[device.1.3.1]
type=changer
vendor=TOSHCHG
[device.1.4]
type=tape
vendor=ARCHIVE
buffer=4096
class_device=Tape0
nt_zero_bytes=1
[device.1.5]
type=scanner
vendor=UMAX
class_device=Scanner3
nt_rejects_pass_through=1
[device.1.6]
type=processor
vendor=VELTRANE
hang=00
[device.1.2]
bus=1
type=disk
vendor=SEAGATE
blocks=1000
)";

class NtPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(qvx::ntport::LoadMachineText(kMachine, &error)) << error;
        qvx::ntport::SetWaiter([this](uint32_t us) { waits.push_back(us); });
        handlesBefore = qvx::ntport::OpenHandleCount();
    }
    void TearDown() override {
        qvx::ntport::SetWaiter(nullptr);
        EXPECT_EQ(handlesBefore, qvx::ntport::OpenHandleCount());
    }

    // Opens, sends one control, closes; the control's result and last error.
    BOOL Control(const char* name, DWORD access, DWORD code, void* in, DWORD inSize, void* out,
                 DWORD outSize, DWORD* error, DWORD* returned = nullptr) {
        HANDLE h = NtDeviceOpen(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE);
        EXPECT_NE(INVALID_HANDLE_VALUE, h) << name;
        DWORD got = 0;
        SetLastError(0);
        BOOL ok = NtDeviceControl(h, code, in, inSize, out, outSize, &got);
        *error = GetLastError();
        if (returned)
            *returned = got;
        EXPECT_TRUE(NtDeviceClose(h));
        return ok;
    }

    std::vector<uint32_t> waits;
    int handlesBefore = 0;
};

uint32_t U32(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

TEST_F(NtPortTest, InquiryAnswerHasThePublishedLayoutAtEveryWidth) {
    uint8_t buffer[2048];
    memset(buffer, 0xCC, sizeof buffer);
    DWORD error = 0, returned = 0;
    ASSERT_TRUE(Control("\\\\.\\SCSI2:", GENERIC_READ | GENERIC_WRITE, IOCTL_SCSI_GET_INQUIRY_DATA,
                        nullptr, 0, buffer, sizeof buffer, &error, &returned));
    // Header: NumberOfBuses, then per bus 8 bytes from offset 4.
    ASSERT_EQ(2, buffer[0]);
    EXPECT_EQ(6, buffer[4]); // bus 0: units
    EXPECT_EQ(7, buffer[5]); // initiator id
    EXPECT_EQ(1, buffer[12]);
    EXPECT_EQ(7, buffer[13]);
    EXPECT_EQ(20u + 7 * 48, returned);
    // Each entry: PathId, TargetId, Lun, DeviceClaimed, InquiryDataLength (4),
    // NextInquiryDataOffset (4), then the 36 bytes of INQUIRY data.
    const struct {
        uint8_t path, target, lun, claimed, type;
        const char* vendor;
    } expected[] = {{0, 0, 0, 1, 0x00, "QUANTUM "}, {0, 3, 0, 1, 0x05, "TOSHIBA "},
                    {0, 3, 1, 0, 0x08, "TOSHCHG "}, {0, 4, 0, 1, 0x01, "ARCHIVE "},
                    {0, 5, 0, 1, 0x06, "UMAX    "}, {0, 6, 0, 0, 0x03, "VELTRANE"},
                    {1, 2, 0, 0, 0x00, "SEAGATE "}};
    size_t k = 0;
    for (uint32_t bus = 0; bus < 2; ++bus)
        for (uint32_t at = U32(buffer + 8 + 8 * bus); at != 0; at = U32(buffer + at + 8), ++k) {
            ASSERT_LT(k, std::size(expected));
            ASSERT_LE(at + 48, returned);
            const auto& e = expected[k];
            EXPECT_EQ(e.path, buffer[at]) << k;
            EXPECT_EQ(e.target, buffer[at + 1]) << k;
            EXPECT_EQ(e.lun, buffer[at + 2]) << k;
            EXPECT_EQ(e.claimed, buffer[at + 3]) << k;
            EXPECT_EQ(36u, U32(buffer + at + 4)) << k;
            EXPECT_EQ(e.type, buffer[at + 12]) << k;
            EXPECT_EQ(std::string(e.vendor), std::string(buffer + at + 20, buffer + at + 28)) << k;
        }
    EXPECT_EQ(std::size(expected), k);
}

TEST_F(NtPortTest, InquiryAnswerInATooSmallBuffer) {
    const struct {
        DWORD size;
        BOOL ok;
        DWORD error, returned;
        uint8_t bus0Units;
    } cases[] = {
        {19, FALSE, ERROR_INSUFFICIENT_BUFFER, 0, 0xCC}, // not even the bus summaries
        {20, FALSE, ERROR_MORE_DATA, 20, 0},             // summaries, no unit
        {20 + 48 * 2 + 47, FALSE, ERROR_MORE_DATA, 20 + 48 * 2 + 47, 2},
        {20 + 48 * 7, TRUE, 0, 20 + 48 * 7, 6},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> buffer(c.size, 0xCC);
        DWORD error = 0, returned = 0;
        EXPECT_EQ(c.ok, Control("\\\\.\\SCSI2:", GENERIC_READ, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr,
                                0, buffer.data(), c.size, &error, &returned))
            << c.size;
        EXPECT_EQ(c.error, error) << c.size;
        EXPECT_EQ(c.returned, returned) << c.size;
        EXPECT_EQ(c.bus0Units, buffer[4]) << c.size;
    }
}

TEST_F(NtPortTest, ReplacedInquiryAnswerIsReturnedAsGiven) {
    const uint8_t raw[] = {1, 3, 9, 0, 77, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 5};
    qvx::ntport::SetInquiryAnswer(2, raw, sizeof raw);
    uint8_t buffer[64] = {};
    DWORD error = 0, returned = 0;
    EXPECT_TRUE(Control("\\\\.\\SCSI2:", GENERIC_READ, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0,
                        buffer, sizeof buffer, &error, &returned));
    EXPECT_EQ(sizeof raw, returned);
    EXPECT_EQ(0, memcmp(raw, buffer, sizeof raw));
    qvx::ntport::ClearInquiryAnswer(2);
    uint8_t full[512] = {};
    EXPECT_TRUE(Control("\\\\.\\SCSI2:", GENERIC_READ, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0,
                        full, sizeof full, &error, &returned));
    EXPECT_EQ(2, full[0]);
}

TEST_F(NtPortTest, OpenErrorsAreThoseOfCreateFile) {
    const DWORD rw = GENERIC_READ | GENERIC_WRITE;
    const struct {
        const char* name;
        DWORD access, error; // 0: opens
    } cases[] = {
        {"\\\\.\\SCSI2:", rw, 0},       {"\\\\.\\scsi2:", rw, 0},
        {"\\\\.\\SCSI2", rw, 2},        {"\\\\.\\SCSI02:", rw, 2},
        {"\\\\.\\SCSI3:", rw, 2},       {"\\\\.\\SCSI0:", rw, 21},
        {"\\\\.\\D:", rw, 0},           {"\\\\.\\x:", rw, 0},
        {"\\\\.\\E:", GENERIC_READ, 0}, {"\\\\.\\E:", rw, 5},
        {"\\\\.\\F:", GENERIC_READ, 2}, {"\\\\.\\Scanner3", rw, 0},
        {"\\\\.\\SCANNER3", rw, 0},     {"\\\\.\\Scanner0", rw, 2},
        {"\\\\.\\Tape0", rw, 0},        {"D:", rw, 2},
        {"\\\\.\\A:", GENERIC_READ, 0},
    };
    for (const auto& c : cases) {
        SetLastError(0);
        HANDLE h = NtDeviceOpen(c.name, c.access, FILE_SHARE_READ);
        if (c.error == 0) {
            EXPECT_NE(INVALID_HANDLE_VALUE, h) << c.name;
            EXPECT_EQ(handlesBefore + 1, qvx::ntport::OpenHandleCount()) << c.name;
            EXPECT_TRUE(NtDeviceClose(h)) << c.name;
        } else {
            EXPECT_EQ(INVALID_HANDLE_VALUE, h) << c.name;
            EXPECT_EQ(c.error, GetLastError()) << c.name;
        }
        EXPECT_EQ(handlesBefore, qvx::ntport::OpenHandleCount()) << c.name;
    }
    HANDLE h = NtDeviceOpen("\\\\.\\Tape0", GENERIC_READ, 0);
    EXPECT_TRUE(NtDeviceClose(h));
    EXPECT_FALSE(NtDeviceClose(h));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(NtPortTest, DrivesAndTheirTypes) {
    EXPECT_EQ((1u << 0) | (1u << 3) | (1u << 4) | (1u << 23) | (1u << 24), NtLogicalDrives());
    const struct {
        const char* root;
        UINT type;
    } cases[] = {{"A:\\", DRIVE_REMOVABLE},   {"D:\\", DRIVE_FIXED},       {"x:\\", DRIVE_FIXED},
                 {"E:\\", DRIVE_CDROM},       {"E:", DRIVE_CDROM},         {"Y:\\", DRIVE_REMOTE},
                 {"C:\\", DRIVE_NO_ROOT_DIR}, {"E:\\x", DRIVE_NO_ROOT_DIR}};
    for (const auto& c : cases)
        EXPECT_EQ(c.type, NtDriveType(c.root)) << c.root;
}

TEST_F(NtPortTest, AddressOfDrivesAndClassDevices) {
    const struct {
        const char* name;
        DWORD size;
        BOOL ok;
        DWORD error;
        uint8_t port, path, target, lun;
    } cases[] = {{"\\\\.\\X:", 260, TRUE, 0, 2, 0, 0, 0},
                 {"\\\\.\\E:", 260, TRUE, 0, 2, 0, 3, 0},
                 {"\\\\.\\Tape0", 8, TRUE, 0, 2, 0, 4, 0},
                 {"\\\\.\\Tape0", 7, FALSE, ERROR_INSUFFICIENT_BUFFER, 0, 0, 0, 0},
                 {"\\\\.\\SCSI2:", 260, FALSE, ERROR_INVALID_FUNCTION, 0, 0, 0, 0},
                 {"\\\\.\\A:", 260, FALSE, ERROR_INVALID_FUNCTION, 0, 0, 0, 0}};
    for (const auto& c : cases) {
        uint8_t out[260] = {};
        DWORD error = 0, returned = 0;
        EXPECT_EQ(c.ok, Control(c.name, GENERIC_READ, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, out,
                                c.size, &error, &returned))
            << c.name;
        EXPECT_EQ(c.error, error) << c.name;
        if (!c.ok)
            continue;
        const uint8_t want[8] = {8, 0, 0, 0, c.port, c.path, c.target, c.lun};
        EXPECT_EQ(8u, returned);
        EXPECT_EQ(0, memcmp(want, out, 8)) << c.name;
    }
}

// A TEST UNIT READY block of the buffered pass-through, with a sense area.
struct PlainBlock {
    SCSI_PASS_THROUGH spt;
    ULONG filler;
    UCHAR sense[32];
};

PlainBlock TestUnitReady(uint8_t target) {
    PlainBlock b = {};
    b.spt.Length = sizeof b.spt;
    b.spt.TargetId = target;
    b.spt.CdbLength = 6;
    b.spt.SenseInfoLength = 24;
    b.spt.DataIn = SCSI_IOCTL_DATA_IN;
    b.spt.TimeOutValue = 2;
    b.spt.DataBufferOffset = sizeof b;
    b.spt.SenseInfoOffset = offsetof(PlainBlock, sense);
    return b;
}

TEST_F(NtPortTest, PassThroughBlocksAreCheckedAsThePortChecksThem) {
    const struct {
        const char* what;
        void (*spoil)(PlainBlock&);
        DWORD inSize;
    } cases[] = {
        {"valid", [](PlainBlock&) {}, sizeof(SCSI_PASS_THROUGH)},
        {"Length", [](PlainBlock& b) { b.spt.Length = sizeof b.spt + 4; },
         sizeof(SCSI_PASS_THROUGH)},
        {"input short", [](PlainBlock&) {}, sizeof(SCSI_PASS_THROUGH) - 1},
        {"CdbLength", [](PlainBlock& b) { b.spt.CdbLength = 17; }, sizeof(SCSI_PASS_THROUGH)},
        {"DataIn", [](PlainBlock& b) { b.spt.DataIn = 3; }, sizeof(SCSI_PASS_THROUGH)},
        {"TimeOutValue", [](PlainBlock& b) { b.spt.TimeOutValue = 0; }, sizeof(SCSI_PASS_THROUGH)},
        {"TimeOutValue over 30 hours", [](PlainBlock& b) { b.spt.TimeOutValue = 108001; },
         sizeof(SCSI_PASS_THROUGH)},
        {"sense outside",
         [](PlainBlock& b) { b.spt.SenseInfoLength = sizeof b - offsetof(PlainBlock, sense) + 1; },
         sizeof(SCSI_PASS_THROUGH)},
        {"data outside",
         [](PlainBlock& b) {
             b.spt.DataTransferLength = 8;
             b.spt.DataBufferOffset = sizeof b - 4;
         },
         sizeof(SCSI_PASS_THROUGH)},
    };
    for (const auto& c : cases) {
        PlainBlock b = TestUnitReady(0);
        c.spoil(b);
        DWORD error = 0;
        BOOL ok = Control("\\\\.\\D:", GENERIC_READ | GENERIC_WRITE, IOCTL_SCSI_PASS_THROUGH, &b,
                          c.inSize, &b, sizeof b, &error);
        EXPECT_EQ(c.inSize == sizeof(SCSI_PASS_THROUGH) && !strcmp(c.what, "valid"), ok) << c.what;
        if (!ok) {
            EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), error) << c.what;
        }
    }
}

TEST_F(NtPortTest, PassThroughOutcomes) {
    const struct {
        const char* name;
        uint8_t target; // on the port device
        BOOL ok;
        DWORD error;
        uint8_t status;
        const char* line;
    } cases[] = {
        // Not ready, no medium: CHECK CONDITION with the sense copied.
        {"\\\\.\\D:", 9, TRUE, 0, 2,
         "2:0:0:0 00 00 00 00 00 00 none 0 timeout 2 ioctl 4D004 via D:"},
        {"\\\\.\\SCSI2:", 6, FALSE, ERROR_SEM_TIMEOUT, 0,
         "2:0:6:0 00 00 00 00 00 00 none 0 timeout 2 ioctl 4D004 via SCSI2:"},
        {"\\\\.\\SCSI2:", 9, FALSE, ERROR_DEVICE_NOT_CONNECTED, 0,
         "2:0:9:0 00 00 00 00 00 00 none 0 timeout 2 ioctl 4D004 via SCSI2:"},
        {"\\\\.\\SCSI2:", 3, FALSE, ERROR_INVALID_FUNCTION, 0,
         "2:0:3:0 00 00 00 00 00 00 none 0 timeout 2 ioctl 4D004 via SCSI2:"},
        {"\\\\.\\Scanner3", 0, FALSE, ERROR_INVALID_FUNCTION, 0,
         "2:0:5:0 00 00 00 00 00 00 none 0 timeout 2 ioctl 4D004 via Scanner3"},
        {"\\\\.\\Tape0", 0, TRUE, 0, 0,
         "2:0:4:0 00 00 00 00 00 00 none 0 timeout 2 ioctl 4D004 via Tape0"},
    };
    for (const auto& c : cases) {
        qvx::ntport::ClearJournal();
        waits.clear();
        PlainBlock b = TestUnitReady(c.target);
        DWORD error = 0, returned = 0;
        EXPECT_EQ(c.ok, Control(c.name, GENERIC_READ | GENERIC_WRITE, IOCTL_SCSI_PASS_THROUGH, &b,
                                sizeof b.spt, &b, sizeof b, &error, &returned))
            << c.name;
        EXPECT_EQ(c.error, error) << c.name;
        EXPECT_EQ(std::vector<std::string>{c.line}, qvx::ntport::JournalLines()) << c.name;
        if (c.error == ERROR_SEM_TIMEOUT) {
            EXPECT_EQ(std::vector<uint32_t>{2000000}, waits);
            EXPECT_EQ(2000u, qvx::ntport::Journal()[0].waitedMs.value_or(0));
        }
        if (!c.ok)
            continue;
        EXPECT_EQ(c.status, b.spt.ScsiStatus) << c.name;
        if (c.status == 2) {
            EXPECT_EQ(18, b.spt.SenseInfoLength);
            EXPECT_EQ(0x70, b.sense[0]);
            EXPECT_EQ(0x02, b.sense[2]);
            EXPECT_EQ(0x3A, b.sense[12]);
            EXPECT_EQ(offsetof(PlainBlock, sense) + 18, returned);
        } else {
            EXPECT_EQ(0, b.spt.SenseInfoLength);
            EXPECT_EQ(sizeof(SCSI_PASS_THROUGH), returned);
        }
    }
}

TEST_F(NtPortTest, DirectPassThroughMovesDataOrLetsTheClassDriverKeepIt) {
    const struct {
        const char* name;
        uint8_t cdb0;
        uint32_t length, moved;
    } cases[] = {
        {"\\\\.\\E:", 0x25, 8, 8},        // READ CAPACITY through the CD-ROM's drive letter
        {"\\\\.\\Tape0", 0x3C, 64, 0},    // READ BUFFER: the tape class driver moves nothing
        {"\\\\.\\SCSI2:", 0x12, 255, 96}, // INQUIRY of the unclaimed processor
    };
    for (const auto& c : cases) {
        struct {
            SCSI_PASS_THROUGH_DIRECT sptd;
            ULONG filler;
            UCHAR sense[32];
        } b = {};
        uint8_t data[256] = {};
        b.sptd.Length = sizeof b.sptd;
        b.sptd.TargetId = 6; // used on the port device only
        b.sptd.CdbLength = 10;
        b.sptd.SenseInfoLength = 24;
        b.sptd.DataIn = SCSI_IOCTL_DATA_IN;
        b.sptd.DataTransferLength = c.length;
        b.sptd.TimeOutValue = 2;
        b.sptd.DataBuffer = data;
        b.sptd.SenseInfoOffset = offsetof(decltype(b), sense);
        b.sptd.Cdb[0] = c.cdb0;
        b.sptd.Cdb[1] = c.cdb0 == 0x3C ? 2 : 0;
        b.sptd.Cdb[4] = c.cdb0 == 0x12 ? 255 : 0;
        b.sptd.Cdb[8] = c.cdb0 == 0x3C ? 64 : 0;
        DWORD error = 0;
        EXPECT_TRUE(Control(c.name, GENERIC_READ, IOCTL_SCSI_PASS_THROUGH_DIRECT, &b, sizeof b, &b,
                            sizeof b, &error))
            << c.name;
        EXPECT_EQ(0, b.sptd.ScsiStatus) << c.name;
        EXPECT_EQ(c.moved, b.sptd.DataTransferLength) << c.name;
        EXPECT_EQ(c.moved ? 1 : 0, data[0] != 0 || data[1] != 0 || data[3] != 0) << c.name;
    }
}

} // namespace
