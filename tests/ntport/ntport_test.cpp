// The NT SCSI port stand-in through the program's device-access functions,
// where the program's own tests cannot see it: the byte layout of the port's
// inquiry answer, handle counting, and the error codes of opens and I/O
// controls.
#include "ntdevice.h"
#include "ntport/ntport.h"

#include <winioctl.h>
#include <ntddscsi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Port 2 has two buses; the CD-ROM has a changer at logical unit 1; the
// processor is claimed by no class driver and never completes a command.
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
[device.1.3]
type=cdrom
vendor=TOSHIBA
drive_letter=E
[device.1.3.1]
type=changer
vendor=TOSHCHG
[device.1.4]
type=tape
vendor=ARCHIVE
class_device=Tape0
not_ready=3A/00
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

const DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;

class NtPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(qvx::ntport::LoadMachineText(kMachine, &error)) << error;
        qvx::ntport::SetWaiter([this](uint32_t us) { waited += us; });
        handlesBefore = qvx::ntport::OpenHandleCount();
    }
    void TearDown() override {
        qvx::ntport::SetWaiter(nullptr);
        EXPECT_EQ(handlesBefore, qvx::ntport::OpenHandleCount());
    }

    // Opens, sends one control, closes: "ok N" or "error E [N]", N the
    // bytes returned.
    std::string Control(const char* name, DWORD code, void* in, DWORD inSize, void* out,
                        DWORD outSize) {
        HANDLE h = NtDeviceOpen(name, kReadWrite, FILE_SHARE_READ | FILE_SHARE_WRITE);
        EXPECT_NE(INVALID_HANDLE_VALUE, h) << name;
        DWORD got = 0;
        SetLastError(0);
        const BOOL ok = NtDeviceControl(h, code, in, inSize, out, outSize, &got);
        const DWORD error = GetLastError();
        EXPECT_TRUE(NtDeviceClose(h));
        return ok ? "ok " + std::to_string(got)
                  : "error " + std::to_string(error) + (got ? " " + std::to_string(got) : "");
    }
    std::string Inquiry(std::vector<uint8_t>& buffer) {
        return Control("\\\\.\\SCSI2:", IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, buffer.data(),
                       static_cast<DWORD>(buffer.size()));
    }

    uint64_t waited = 0;
    int handlesBefore = 0;
};

uint32_t U32(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

// Header: the bus count, then 8 bytes per bus from offset 4 (units,
// initiator id, first offset). Each unit: PathId, TargetId, Lun,
// DeviceClaimed, InquiryDataLength, NextInquiryDataOffset, then its 36
// bytes of INQUIRY data. The same bytes at both widths.
TEST_F(NtPortTest, InquiryAnswerHasThePublishedLayout) {
    std::vector<uint8_t> buffer(2048, 0xCC);
    ASSERT_EQ(Inquiry(buffer), "ok " + std::to_string(20 + 7 * 48));
    std::string shown = std::to_string(buffer[0]);
    for (int bus = 0; bus < 2; ++bus) {
        shown += " | bus " + std::to_string(buffer[4 + 8 * bus]) + "/" +
                 std::to_string(buffer[5 + 8 * bus]);
        for (uint32_t at = U32(&buffer[8 + 8 * bus]); at != 0 && at + 48 <= 2048;
             at = U32(&buffer[at + 8])) {
            char unit[64];
            snprintf(unit, sizeof unit, " %u:%u:%u:%u %u %02X %.8s", buffer[at], buffer[at + 1],
                     buffer[at + 2], buffer[at + 3], U32(&buffer[at + 4]), buffer[at + 12],
                     reinterpret_cast<const char*>(&buffer[at + 20]));
            shown += unit;
        }
    }
    EXPECT_EQ(shown, "2 | bus 6/7 0:0:0:1 36 00 QUANTUM  0:3:0:1 36 05 TOSHIBA  0:3:1:0 36 08 "
                     "TOSHCHG  0:4:0:1 36 01 ARCHIVE  0:5:0:1 36 06 UMAX     0:6:0:0 36 03 "
                     "VELTRANE | bus 1/7 1:2:0:0 36 00 SEAGATE ");
}

TEST_F(NtPortTest, InquiryAnswerInATooSmallBuffer) {
    const struct {
        DWORD size;
        const char* result;
        uint8_t bus0Units;
    } cases[] = {
        {19, "error 122", 0xCC},                // not even the bus summaries
        {20, "error 234 20", 0},                // summaries, no unit
        {20 + 48 * 2 + 47, "error 234 163", 2}, // two whole units
        {20 + 48 * 7, "ok 356", 6},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> buffer(c.size, 0xCC);
        EXPECT_EQ(Inquiry(buffer), c.result) << c.size;
        EXPECT_EQ(c.bus0Units, buffer[4]) << c.size;
    }
}

TEST_F(NtPortTest, OpenErrorsAreThoseOfCreateFile) {
    const struct {
        const char* name;
        DWORD access, error; // 0: opens
    } cases[] = {
        {"\\\\.\\SCSI2:", kReadWrite, 0},   {"\\\\.\\scsi2:", kReadWrite, 0},
        {"\\\\.\\SCSI2", kReadWrite, 2},    {"\\\\.\\SCSI02:", kReadWrite, 2},
        {"\\\\.\\SCSI3:", kReadWrite, 2},   {"\\\\.\\SCSI0:", kReadWrite, 21},
        {"\\\\.\\D:", kReadWrite, 0},       {"\\\\.\\x:", kReadWrite, 0},
        {"\\\\.\\E:", GENERIC_READ, 0},     {"\\\\.\\E:", kReadWrite, 5},
        {"\\\\.\\F:", GENERIC_READ, 2},     {"\\\\.\\Scanner3", kReadWrite, 0},
        {"\\\\.\\SCANNER3", kReadWrite, 0}, {"\\\\.\\Scanner0", kReadWrite, 2},
        {"\\\\.\\Tape0", kReadWrite, 0},    {"D:", kReadWrite, 2},
        {"\\\\.\\A:", GENERIC_READ, 0},
    };
    for (const auto& c : cases) {
        SetLastError(0);
        HANDLE h = NtDeviceOpen(c.name, c.access, FILE_SHARE_READ);
        if (c.error == 0) {
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

// A TEST UNIT READY block of the buffered pass-through, with a sense area.
struct PlainBlock {
    SCSI_PASS_THROUGH spt;
    ULONG filler;
    UCHAR sense[32];
};

// The port driver's checks of a request block, the address control on
// devices without one or with too little room, and the failures of a
// pass-through: each control's outcome (with the status and sense of a
// CHECK CONDITION), and the modelled time waited.
TEST_F(NtPortTest, ControlsFailWithThePortDriversCodes) {
    const DWORD kPlain = sizeof(SCSI_PASS_THROUGH);
    const std::string ok = "ok " + std::to_string(kPlain);
    const auto keep = [](PlainBlock&) {};
    const struct {
        const char* what;
        const char* name;
        DWORD code;
        void (*spoil)(PlainBlock&);
        DWORD inSize, outSize; // 0: the whole block
        std::string result;
        uint64_t waited = 0;
    } cases[] = {
        {"valid", "D:", IOCTL_SCSI_PASS_THROUGH, keep, kPlain, 0, ok},
        {"Length", "D:", IOCTL_SCSI_PASS_THROUGH,
         [](PlainBlock& b) { b.spt.Length = sizeof b.spt + 4; }, kPlain, 0, "error 87"},
        {"input short", "D:", IOCTL_SCSI_PASS_THROUGH, keep, kPlain - 1, 0, "error 87"},
        {"CdbLength", "D:", IOCTL_SCSI_PASS_THROUGH, [](PlainBlock& b) { b.spt.CdbLength = 17; },
         kPlain, 0, "error 87"},
        {"DataIn", "D:", IOCTL_SCSI_PASS_THROUGH, [](PlainBlock& b) { b.spt.DataIn = 3; }, kPlain,
         0, "error 87"},
        {"no time-out", "D:", IOCTL_SCSI_PASS_THROUGH,
         [](PlainBlock& b) { b.spt.TimeOutValue = 0; }, kPlain, 0, "error 87"},
        {"30 hours", "D:", IOCTL_SCSI_PASS_THROUGH,
         [](PlainBlock& b) { b.spt.TimeOutValue = 108000; }, kPlain, 0, ok},
        {"over 30 hours", "D:", IOCTL_SCSI_PASS_THROUGH,
         [](PlainBlock& b) { b.spt.TimeOutValue = 108001; }, kPlain, 0, "error 87"},
        {"sense outside", "D:", IOCTL_SCSI_PASS_THROUGH,
         [](PlainBlock& b) { b.spt.SenseInfoLength = sizeof b - offsetof(PlainBlock, sense) + 1; },
         kPlain, 0, "error 87"},
        {"data outside", "D:", IOCTL_SCSI_PASS_THROUGH,
         [](PlainBlock& b) {
             b.spt.DataTransferLength = 8;
             b.spt.DataBufferOffset = sizeof b - 4;
         },
         kPlain, 0, "error 87"},
        {"hangs", "SCSI2:", IOCTL_SCSI_PASS_THROUGH, [](PlainBlock& b) { b.spt.TargetId = 6; },
         kPlain, 0, "error 121", 2000000},
        {"absent", "SCSI2:", IOCTL_SCSI_PASS_THROUGH, [](PlainBlock& b) { b.spt.TargetId = 9; },
         kPlain, 0, "error 1167"},
        {"claimed", "SCSI2:", IOCTL_SCSI_PASS_THROUGH, [](PlainBlock& b) { b.spt.TargetId = 3; },
         kPlain, 0, "error 1"},
        {"not ready", "Tape0", IOCTL_SCSI_PASS_THROUGH, keep, kPlain, 0,
         "ok " + std::to_string(offsetof(PlainBlock, sense) + 18) + " status 2 sense 18 70/02/3A"},
        {"refused", "Scanner3", IOCTL_SCSI_PASS_THROUGH, keep, kPlain, 0, "error 1"},
        {"address", "Tape0", IOCTL_SCSI_GET_ADDRESS, keep, 0, 8, "ok 8"},
        {"address short", "Tape0", IOCTL_SCSI_GET_ADDRESS, keep, 0, 7, "error 122"},
        {"port address", "SCSI2:", IOCTL_SCSI_GET_ADDRESS, keep, 0, 0, "error 1"},
        {"floppy address", "A:", IOCTL_SCSI_GET_ADDRESS, keep, 0, 0, "error 1"},
    };
    for (const auto& c : cases) {
        PlainBlock b = {};
        b.spt.Length = sizeof b.spt;
        b.spt.CdbLength = 6;
        b.spt.SenseInfoLength = 24;
        b.spt.DataIn = SCSI_IOCTL_DATA_IN;
        b.spt.TimeOutValue = 2;
        b.spt.DataBufferOffset = sizeof b;
        b.spt.SenseInfoOffset = offsetof(PlainBlock, sense);
        c.spoil(b);
        waited = 0;
        const std::string name = std::string("\\\\.\\") + c.name;
        std::string result =
            Control(name.c_str(), c.code, &b, c.inSize, &b, c.outSize ? c.outSize : sizeof b);
        if (b.spt.ScsiStatus) {
            char sense[64];
            snprintf(sense, sizeof sense, " status %u sense %u %02X/%02X/%02X", b.spt.ScsiStatus,
                     b.spt.SenseInfoLength, b.sense[0], b.sense[2], b.sense[12]);
            result += sense;
        }
        EXPECT_EQ(result, c.result) << c.what;
        EXPECT_EQ(waited, c.waited) << c.what;
    }
}

} // namespace
