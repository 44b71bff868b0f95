// Every NT pass-through command through its real path (the facade, the NT
// command set and transport, the device-access functions) to the NT port
// stand-in of tests/nt/machines/commands.ini, after the program's own scan
// named each device: the result, what the error records hold, the data,
// and the journal of what the port received: the device it came through,
// CDB bytes, direction, transfer length, time-out and I/O control. No
// device stays open after any command.
#include "nt_fixture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>

#include "scsi/facade/scsifacade.h"
#include "scsi/nt/ntcommands.h"
#include "scsi/nt/nttransport.h"

extern BYTE* TransferBuffer;

namespace qvx::test {
namespace {

constexpr BYTE kPort = 0;

BYTE data[1024];
char text[256];
std::string out; // what a call returned besides its result

std::string Hex(const BYTE* bytes, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        char h[4];
        snprintf(h, sizeof h, "%s%02X", i ? " " : "", bytes[i]);
        s += h;
    }
    return s;
}

// What the error records hold: "sense K/ASC/ASCQ message", "report N",
// "system \"text\"", separated by blanks; empty when nothing is recorded.
std::string Records() {
    std::string s;
    char h[64];
    if (LastSenseError.SenseKey || LastSenseError.MessageId) {
        snprintf(h, sizeof h, "sense %X/%02X/%02X %u", unsigned(LastSenseError.SenseKey),
                 unsigned(LastSenseError.AdditionalSenseCode),
                 unsigned(LastSenseError.AdditionalSenseCodeQualifier),
                 unsigned(LastSenseError.MessageId));
        s = h;
    }
    if (LastErrorReport.ReportMessageId == REPORT_SYSTEM_TEXT)
        s += (s.empty() ? "" : " ") + std::string("system \"") + LastErrorReport.SystemText + "\"";
    else if (LastErrorReport.ReportMessageId)
        s += (s.empty() ? "report " : " report ") + std::to_string(LastErrorReport.ReportMessageId);
    return s;
}

long ReadBlocks(BYTE target, DWORD address, DWORD count) {
    std::memset(data, 0xEE, sizeof data);
    long result = ScsiRead10(kPort, target, address, 512, count, data);
    out = Hex(data, 4) + " " + Hex(data + 512, 4);
    return result;
}

using Call = long (*)(BYTE target);
const Call Tur = [](BYTE t) -> long { return ScsiTestUnitReady(kPort, t); };
const Call WriteBuffer = [](BYTE t) -> long { return ScsiWriteBuffer(kPort, t); };
const Call ReadBuffer = [](BYTE t) -> long { return ScsiReadBuffer(kPort, t); };
const Call Descriptor = [](BYTE t) -> long { return ScsiReadBufferDescriptor(kPort, t); };
const Call Caching = [](BYTE t) -> long { return ScsiModeSenseCaching(kPort, t); };
const Call Rpm = [](BYTE t) -> long { return ScsiModeSenseRigidDisk(kPort, t); };
const Call Seek = [](BYTE t) -> long { return ScsiSeek(kPort, t, 0x0A0B0C); };
const Call Read = [](BYTE t) { return ReadBlocks(t, 10, 2); };
const Call ReadFar = [](BYTE t) { return ReadBlocks(t, 0x01020304, 2); };
const Call ReadTooMany = [](BYTE t) { return ReadBlocks(t, 7, 0x10000); };
// 258 blocks: the count's high byte is 1.
BYTE many[258 * 512];
const Call ReadMany = [](BYTE t) -> long { return ScsiRead10(kPort, t, 0x20, 512, 258, many); };
// The serial number text, and how many bytes of the caller's buffer the
// routine wrote ("untouched" when none).
const Call Serial = [](BYTE t) {
    std::memset(text, 0xEE, sizeof text - 1);
    text[sizeof text - 1] = '\0';
    long result = ScsiInquirySerialNumber(kPort, t, text);
    const long written = static_cast<long>(
        std::count_if(text, text + sizeof text - 1, [](char c) { return c != '\xEE'; }));
    out = written ? std::string(text) + "|" + std::to_string(written) : "untouched";
    return result;
};
const Call Capacity = [](BYTE t) {
    std::memset(data, 0xEE, 8);
    long result = ScsiReadCapacity(kPort, t, data);
    out = Hex(data, 8);
    return result;
};

// Devices of commands.ini (target ids) and how each is reached.
constexpr BYTE kDisk = 0, kUnclaimed = 1, kNoDisc = 2, kNoLetter = 3, kValidSense = 4,
               kHardwareError = 5, kUnitAttention = 6, kEmpty = 7, kProtected = 8, kTape = 9,
               kScanner = 10, kLongSerial = 11, kNoSerial = 12, kAt3 = 13, kAt512 = 14, kAt511 = 15,
               kAbsent = 40;

struct Row {
    Call call;
    BYTE target;
    long result;
    const char* records;
    const char* out; // nullptr: not looked at
    const char* log; // the journal; nullptr: not looked at
};

#define VIA(device) " timeout 2 ioctl 4D004 via " device
#define VIA_DIRECT(device) " timeout 2 ioctl 4D014 via " device

const std::string k251 = std::string(251, 'S') + "|252";

// In order: a device keeps its state (buffer memory, a unit attention).
const Row kRows[] = {
    {Tur, kDisk, 1, "", nullptr, "0:0:0:0 00 00 00 00 00 00 none 0" VIA("D:")},
    {Seek, kDisk, 1, "", nullptr, "0:0:0:0 0B 0A 0B 0C 00 00 none 0" VIA("D:")},
    {WriteBuffer, kDisk, 1, "", nullptr,
     "0:0:0:0 3B 02 00 00 00 00 00 08 00 00 out 2048" VIA_DIRECT("D:")},
    {ReadBuffer, kDisk, 1, "", nullptr,
     "0:0:0:0 3C 02 00 00 00 00 00 08 00 00 in 2048" VIA_DIRECT("D:")},
    {Descriptor, kDisk, 1048576, "", nullptr,
     "0:0:0:0 3C 03 00 00 00 00 00 00 05 00 in 5" VIA_DIRECT("D:")},
    {Serial, kDisk, 1, "", "PCB89701234|12", "0:0:0:0 12 01 80 00 FF 00 in 255" VIA_DIRECT("D:")},
    {Capacity, kDisk, 1, "", "00 87 A2 37 00 00 02 00",
     "0:0:0:0 25 00 00 00 00 00 00 00 00 00 in 8" VIA_DIRECT("D:")},
    {Read, kDisk, 1, "", "00 00 00 0A 00 00 00 0B",
     "0:0:0:0 28 00 00 00 00 0A 00 00 02 00 in 1024" VIA_DIRECT("D:")},
    {ReadFar, kDisk, 0, "sense 5/00/00 0", nullptr, // key 5 ASC 21h: no message, no ASC
     "0:0:0:0 28 00 01 02 03 04 00 00 02 00 in 1024" VIA_DIRECT("D:")},
    {ReadTooMany, kDisk, 0, "", nullptr, ""}, // more than the CDB can carry: nothing sent
    {ReadMany, kDisk, 1, "", nullptr,
     "0:0:0:0 28 00 00 00 00 20 00 01 02 00 in 132096" VIA_DIRECT("D:")},
    {Caching, kDisk, 0x04, "", nullptr, "0:0:0:0 1A 08 08 00 FF 00 in 255" VIA_DIRECT("D:")},
    {Rpm, kDisk, 7200, "", nullptr, "0:0:0:0 1A 08 04 00 FF 00 in 255" VIA_DIRECT("D:")},
    // Unclaimed: the port device, addressed by the request's bus, target and unit.
    {Tur, kUnclaimed, 1, "", nullptr, "0:0:1:0 00 00 00 00 00 00 none 0" VIA("SCSI0:")},
    {Caching, kUnclaimed, 0x01, "", nullptr,
     "0:0:1:0 1A 08 08 00 FF 00 in 255" VIA_DIRECT("SCSI0:")},
    {Rpm, kUnclaimed, 4500, "", nullptr, nullptr},
    {WriteBuffer, kUnclaimed, 1, "", nullptr, nullptr},
    {ReadBuffer, kUnclaimed, 0, "report 6200", nullptr, nullptr}, // byte 4 is compared
    {WriteBuffer, kAt3, 1, "", nullptr, nullptr},
    {ReadBuffer, kAt3, 1, "", nullptr, nullptr}, // bytes 0-3 are not
    {WriteBuffer, kAt511, 1, "", nullptr, nullptr},
    {ReadBuffer, kAt511, 0, "report 6200", nullptr, nullptr}, // byte 511 is
    {WriteBuffer, kAt512, 1, "", nullptr, nullptr},
    {ReadBuffer, kAt512, 1, "", nullptr, nullptr}, // bytes from 512 on are not
    {Descriptor, kAt511, 0, "", nullptr, nullptr}, // 00 FF 00 00 00
    // A CD-ROM without a disc, opened read-only through its drive letter.
    {Tur, kNoDisc, 0, "sense 2/3A/00 5406", nullptr, "0:0:2:0 00 00 00 00 00 00 none 0" VIA("E:")},
    {Capacity, kNoDisc, 0, "sense 2/3A/00 5406", nullptr, nullptr},
    {Caching, kNoDisc, 0xFF, "sense 5/24/00 6000", nullptr, nullptr}, // no caching page
    // Claimed without a drive letter, an empty target, no slot at all: nothing is sent.
    {Tur, kNoLetter, 0, "", nullptr, ""},
    {Serial, kNoLetter, 0, "", "untouched", ""},
    {Tur, kEmpty, 0, "", nullptr, ""},
    {Caching, kAbsent, 0xFF, "", nullptr, ""},
    {Tur, kValidSense, 0, "", nullptr, nullptr}, // VALID set: not decoded
    {Tur, kHardwareError, 0, "sense 4/44/00 5405", nullptr, nullptr},
    {Tur, kUnitAttention, 0, "sense 6/29/00 5801", nullptr, nullptr},
    {Tur, kUnitAttention, 1, "", nullptr, nullptr}, // the attention is gone
    {Capacity, kProtected, 0, "sense 7/27/00 5900", nullptr, nullptr},
    {ReadBuffer, kNoSerial, 0, "sense 5/20/00 6000", nullptr, nullptr}, // no buffer memory
    // The tape class driver moves nothing: 6100, and the serial number reads "????".
    {WriteBuffer, kTape, 0, "report 6100", nullptr,
     "0:0:9:0 3B 02 00 00 00 00 00 08 00 00 out 2048" VIA_DIRECT("Tape0")},
    {ReadBuffer, kTape, 0, "report 6100", nullptr, nullptr},
    {Serial, kTape, 0, "report 6100", "????|5", nullptr},
    {Tur, kTape, 1, "", nullptr, nullptr},
    // The scanner class driver refuses: the system's text without its line feed.
    {Tur, kScanner, 0, "system \"Invalid function.\r\"", nullptr,
     "0:0:10:0 00 00 00 00 00 00 none 0" VIA("Scanner3")},
    {Serial, kScanner, 0, "system \"Invalid function.\r\"", "untouched", nullptr},
    {Serial, kLongSerial, 1, "", k251.c_str(), nullptr}, // length 255: the 251 bytes received
    {Serial, kNoSerial, 0, "", "????|5", nullptr},       // length 0
    // A SEEK that never completes: the port gives up after the time-out.
    {Seek, kAt511, 0, "system \"Semaphore timeout.\r\"", nullptr,
     "0:0:15:0 0B 0A 0B 0C 00 00 none 0" VIA("SCSI0:")},
};

using NtCommands = NtTest;

TEST_F(NtCommands, EveryRequestItsResultAndWhatThePortReceived) {
    Scan("commands.ini");
    for (const Row& row : kRows) {
        SCOPED_TRACE(testing::Message() << "row " << &row - kRows);
        ClearErrorRecords();
        ntport::ClearJournal();
        out = "";
        EXPECT_EQ(row.call(row.target), row.result);
        EXPECT_EQ(Records(), row.records);
        if (row.out) {
            EXPECT_EQ(out, row.out);
        }
        if (row.log) {
            std::string lines;
            for (const std::string& line : ntport::JournalLines())
                lines += (lines.empty() ? "" : "\n") + line;
            EXPECT_EQ(lines, row.log);
        }
        EXPECT_EQ(ntport::OpenHandleCount(), 0) << "the device is closed again";
        EXPECT_EQ(DeviceHandle, INVALID_HANDLE_VALUE);
        EXPECT_EQ(TransferBuffer, nullptr);
    }
}

// Fixed-format sense data as the pass-through's sense area holds it, decoded
// into LastSenseError: "key/ASC/ASCQ message" and the result, from records
// cleared first. Rows: response code, sense key, ASC, ASCQ.
TEST_F(NtCommands, DecodesTheSenseTable) {
    const std::tuple<BYTE, BYTE, BYTE, BYTE, const char*> rows[] = {
        {0x70, 0x02, 0x04, 0x00, "2/04/00 5400 1"},
        {0x70, 0x02, 0x04, 0x01, "2/04/01 5800 1"},
        {0x70, 0x02, 0x04, 0x02, "2/04/02 5401 1"},
        {0x70, 0x02, 0x04, 0x03, "2/04/03 5402 1"},
        {0x70, 0x02, 0x04, 0x04, "2/04/04 5403 1"},
        {0x70, 0x02, 0x04, 0x07, "2/04/00 0 0"}, // ASC 04h kept, no message
        {0x70, 0x02, 0x3A, 0x01, "2/3A/01 5406 1"},
        {0x70, 0x02, 0x05, 0x00, "2/00/00 0 0"},
        {0x70, 0x04, 0x40, 0x80, "4/40/80 5404 1"},
        {0x70, 0x04, 0x41, 0x00, "4/41/00 5404 1"},
        {0x70, 0x04, 0x42, 0x00, "4/42/00 5404 1"},
        {0x70, 0x04, 0x43, 0x00, "4/43/00 5405 1"},
        {0x70, 0x04, 0x3F, 0x00, "4/3F/00 5405 1"},
        {0x70, 0x05, 0x20, 0x00, "5/20/00 6000 1"},
        {0x70, 0x05, 0x22, 0x05, "5/20/05 6000 1"},
        {0x70, 0x05, 0x24, 0x00, "5/24/00 6000 1"},
        {0x70, 0x05, 0x26, 0x02, "5/24/02 6000 1"},
        {0x70, 0x05, 0x21, 0x00, "5/00/00 0 0"},
        {0x70, 0x05, 0x25, 0x00, "5/00/00 0 0"},
        {0x70, 0x06, 0x28, 0x00, "6/28/00 5800 1"},
        {0x70, 0x06, 0x29, 0x02, "6/29/02 5801 1"},
        {0x70, 0x06, 0x2A, 0x00, "6/00/00 0 0"},
        {0x70, 0x07, 0x27, 0x01, "7/27/01 5900 1"},
        {0x70, 0x01, 0x18, 0x00, "0/00/00 0 0"},
        {0x70, 0x03, 0x11, 0x00, "0/00/00 0 0"},
        {0x70, 0x22, 0x04, 0x00, "0/00/00 0 0"}, // key 2 with the incorrect-length bit
        {0xF0, 0x02, 0x3A, 0x00, "0/00/00 0 0"}, // VALID set
        {0x71, 0x07, 0x27, 0x00, "7/27/00 5900 1"},
    };
    for (const auto& [code, key, asc, ascq, expected] : rows) {
        BYTE sense[PASS_THROUGH_SENSE_SIZE] = {code, 0, key};
        sense[12] = asc;
        sense[13] = ascq;
        ClearErrorRecords();
        const int result = DecodePassThroughSense(sense);
        char shown[64];
        snprintf(shown, sizeof shown, "%X/%02X/%02X %u %d", unsigned(LastSenseError.SenseKey),
                 unsigned(LastSenseError.AdditionalSenseCode),
                 unsigned(LastSenseError.AdditionalSenseCodeQualifier),
                 unsigned(LastSenseError.MessageId), result);
        EXPECT_EQ(std::string(shown), expected);
    }
}

// The system's text for a code: Wine's texts end in CR LF, and only the line
// feed is dropped; an insert stays as it stands (there are no arguments for
// it); a code without a text leaves the last text in place.
TEST_F(NtCommands, RecordsTheSystemTextOfACode) {
    const std::tuple<DWORD, int, const char*> codes[] = {
        {ERROR_INVALID_FUNCTION, 1, "Invalid function.\r"},
        {201, 1, "Relocation chain exceeds segment limit in %1.\r"},
        {0x2000ABCD, 0, "Relocation chain exceeds segment limit in %1.\r"},
    };
    for (const auto& [code, result, text] : codes) {
        LastErrorReport.ReportMessageId = 6200;
        EXPECT_EQ(RecordSystemError(code), result) << code;
        EXPECT_EQ(LastErrorReport.ReportMessageId, REPORT_SYSTEM_TEXT);
        EXPECT_STREQ(LastErrorReport.SystemText, text);
    }
}

// The request blocks as the port driver receives them: lengths, sense
// length and offset, direction, time-out, the slot's bus, target and unit
// (through the port device, where they address the unit), and the sizes
// of the buffers handed over.
#if defined(_WIN64)
// The 64-bit structures are wider by their pointer-sized field.
constexpr unsigned kPlainIn = sizeof(SCSI_PASS_THROUGH), kPlainOut = 92, kDirectSize = 96,
                   kLength = 56, kPlainSense = 60, kDirectSense = 60, kPlainData = 92;
#else
constexpr unsigned kPlainIn = 44, kPlainOut = 80, kDirectSize = 80, kLength = 44, kPlainSense = 48,
                   kDirectSense = 48, kPlainData = 80;
#endif

std::string Fields(const ntport::ControlCall& call) {
    const BYTE* b = call.input.data();
    const bool direct = call.code == IOCTL_SCSI_PASS_THROUGH_DIRECT;
    DWORD length, timeOut, sense;
    ULONG_PTR data = 0;
    std::memcpy(&length, b + 12, 4);
    std::memcpy(&timeOut, b + 16, 4);
    std::memcpy(&sense,
                b + (direct ? offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset)
                            : offsetof(SCSI_PASS_THROUGH, SenseInfoOffset)),
                4);
    if (!direct)
        std::memcpy(&data, b + offsetof(SCSI_PASS_THROUGH, DataBufferOffset), sizeof data);
    char text[160];
    snprintf(text, sizeof text,
             "%lX %lu/%lu | %u %u %u %u %u %u %u len %lu time %lu sense %lu data %lu",
             (unsigned long)call.code, (unsigned long)call.inSize, (unsigned long)call.outSize,
             b[0] | b[1] << 8, b[3], b[4], b[5], b[6], b[7], b[8], (unsigned long)length,
             (unsigned long)timeOut, (unsigned long)sense, (unsigned long)data);
    return text;
}

TEST_F(NtCommands, SendsTheRequestBlocksTheDriverExpects) {
    Scan("commands.ini");
    char plain[120], write[120], read[120];
    snprintf(plain, sizeof plain, "4D004 %u/%u | %u 0 1 0 6 24 1 len 0 time 2 sense %u data %u",
             kPlainIn, kPlainOut, kLength, kPlainSense, kPlainData);
    snprintf(write, sizeof write, "4D014 %u/%u | %u 0 1 0 10 24 0 len 2048 time 2 sense %u data 0",
             kDirectSize, kDirectSize, kLength, kDirectSense);
    snprintf(read, sizeof read, "4D014 %u/%u | %u 0 1 0 10 24 1 len 8 time 2 sense %u data 0",
             kDirectSize, kDirectSize, kLength, kDirectSense);
    const std::pair<Call, const char*> cases[] = {
        {Tur, plain}, {WriteBuffer, write}, {Capacity, read}};
    for (const auto& [call, expected] : cases) {
        call(kUnclaimed);
        ASSERT_GE(ntport::LastControl().input.size(), offsetof(SCSI_PASS_THROUGH, Cdb));
        EXPECT_EQ(Fields(ntport::LastControl()), expected);
    }
}

} // namespace
} // namespace qvx::test
