// Every request the program sends, through its real path (the facade, the
// ASPI command set and transport, the bus scan's step) to the emulated bus:
// the result, data and message on each kind of device, and the journal of
// what the bus received: CDB bytes, direction, transfer length, request
// flags and how long the program waited before it aborted a command that
// never completes. The rows on the hung disk wait out each limit in real
// time: about 50 s for the table.
#include "aspi_fixture.h"
#include <algorithm>
#include <cstdio>
#include <cstring>
#include "inventory/aspiscan.h"
#include "scsi/aspi/aspicommands.h"
#include "scsi/aspi/aspitransport.h"
#include "scsi/facade/scsifacade.h"

namespace qvx::test {
namespace {

BYTE data[1024];
char text[SERIAL_NUMBER_SIZE];
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

// Each block of the emulated medium starts with its own address.
long ReadBlocks(BYTE target, DWORD address, DWORD count) {
    std::memset(data, 0xEE, sizeof data);
    long result = ScsiRead10(kAdapter, target, address, 512, count, data);
    out = Hex(data, 4) + " " + Hex(data + 512, 4);
    return result;
}

using Call = long (*)(BYTE target);
const Call Tur = [](BYTE t) -> long { return ScsiTestUnitReady(kAdapter, t); };
const Call WriteBuffer = [](BYTE t) -> long { return ScsiWriteBuffer(kAdapter, t); };
const Call ReadBuffer = [](BYTE t) -> long { return ScsiReadBuffer(kAdapter, t); };
const Call Descriptor = [](BYTE t) -> long { return ScsiReadBufferDescriptor(kAdapter, t); };
const Call Caching = [](BYTE t) -> long { return ScsiModeSenseCaching(kAdapter, t); };
const Call Rpm = [](BYTE t) -> long { return ScsiModeSenseRigidDisk(kAdapter, t); };
const Call Seek = [](BYTE t) -> long { return ScsiSeek(kAdapter, t, 0x0A0B0C); };
const Call Read = [](BYTE t) { return ReadBlocks(t, t == kReadErrorDisk ? 1500 : 10, 2); };
const Call ReadFar = [](BYTE t) { return ReadBlocks(t, 0x01020304, 2); };
const Call ReadNone = [](BYTE t) { return ReadBlocks(t, 7, 0); };
const Call ReadTooMany = [](BYTE t) { return ReadBlocks(t, 7, 0x10000); };
const Call Serial = [](BYTE t) {
    std::strcpy(text, "?");
    long result = ScsiInquirySerialNumber(kAdapter, t, text);
    out = text;
    return result;
};
const Call Capacity = [](BYTE t) {
    long result = ScsiReadCapacity(kAdapter, t, data);
    out = Hex(data, 8);
    return result;
};
const Call AdapterInquiry = [](BYTE index) {
    SRB_HAInquiry block = {};
    long result = ScsiHostAdapterInquiry(&block, index);
    out = reinterpret_cast<char*>(block.HA_Identifier);
    return result;
};
// The bus scan's step for one target; returns the peripheral byte recorded,
// and the vendor, product and revision beside it.
const Call Scan = [](BYTE t) {
    ScanAdapterNumber = kAdapter;
    ScanTargetId = t;
    ScanNextTarget();
    out.assign(reinterpret_cast<const char*>(InquiryBuffer) + 8, 28);
    return long(InquiryBuffer[0]);
};

struct Row {
    Call call;
    BYTE target;
    long result;
    DWORD message;   // the sense message, else the error report's
    const char* out; // nullptr: not looked at
    DWORD limitMs;   // each command was aborted after waiting this long; 0: none was
    const char* log; // the journal lines; nullptr: not looked at
};

// In order: a device keeps its state (buffer memory, a unit attention) from row to row.
const Row kRows[] = {
    {Tur, kGoodDisk, 1, 0, nullptr, 0, "0:0:0 00 00 00 00 00 00 none 0 flags 00"},
    {Tur, kNotReadyCdrom, 0, 5800, nullptr, 0, nullptr},
    {Tur, kHardwareErrorDisk, 0, 5404, nullptr, 0, nullptr},
    {Tur, kValidSenseCdrom, 0, 0, nullptr, 0, nullptr},       // VALID set: not decoded
    {Serial, kUnitAttentionDisk, 1, 0, "UA0005", 0, nullptr}, // INQUIRY leaves the attention
    {Tur, kUnitAttentionDisk, 0, 5801, nullptr, 0, nullptr},
    {Tur, kUnitAttentionDisk, 1, 0, nullptr, 0, nullptr}, // ready after the attention
    {Tur, kEmptyTarget, 0, 0, nullptr, 0, nullptr},
    {Tur, kSlowDisk, 1, 0, nullptr, 0, "0:15:0 00 00 00 00 00 00 none 0 flags 00"}, // polled
    // BUSY and RESERVATION CONFLICT carry no sense: a failure without a message.
    {Tur, kBusyDisk, 0, 0, nullptr, 0, nullptr},
    {Read, kBusyDisk, 0, 0, nullptr, 0, nullptr},
    {Tur, kReservedDisk, 0, 0, nullptr, 0, nullptr},
    {Capacity, kReservedDisk, 0, 0, nullptr, 0, nullptr},
    {Serial, kReservedDisk, 1, 0, "RS0017", 0, nullptr},
    {WriteBuffer, kGoodDisk, 1, 0, nullptr, 0, nullptr},
    {ReadBuffer, kGoodDisk, 1, 0, nullptr, 0, nullptr},
    {WriteBuffer, kDescriptorFFDisk, 1, 0, nullptr, 0, nullptr},
    {ReadBuffer, kDescriptorFFDisk, 1, 0, nullptr, 0, nullptr}, // differs at byte 2: not compared
    {WriteBuffer, kNoSerialDisk, 1, 0, nullptr, 0, nullptr},
    {ReadBuffer, kNoSerialDisk, 0, 6200, nullptr, 0, nullptr},      // differs at byte 100
    {ReadBuffer, kHardwareErrorDisk, 0, 5404, nullptr, 0, nullptr}, // failed: not compared
    {Descriptor, kGoodDisk, 1048576, 0, nullptr, 0, nullptr},
    {Descriptor, kDescriptorFFDisk, 0, 0, nullptr, 0, nullptr},
    {Descriptor, kWriteProtected, 0, 5900, nullptr, 0, nullptr},
    {Caching, kGoodDisk, 0x04, 0, nullptr, 0, nullptr},
    {Caching, kCacheOffDisk, 0x01, 0, nullptr, 0, nullptr},
    {Caching, kUnderrunDisk, 0x05, 0, nullptr, 0, nullptr},
    {Caching, kNotReadyCdrom, 0xFF, 0, nullptr, 0, nullptr}, // no caching page
    {Rpm, kGoodDisk, 7200, 0, nullptr, 0, nullptr},
    {Rpm, kUnderrunDisk, 4500, 0, nullptr, 0, nullptr},
    {Rpm, kNoSerialDisk, 0, 0, nullptr, 0, nullptr}, // no geometry page
    {Serial, kGoodDisk, 1, 0, "PCB89701234", 0, nullptr},
    {Serial, kUnderrunDisk, 1, 0, "UR4455", 0, nullptr},
    {Serial, kCacheOffDisk, 0, 0, "?", 0, nullptr}, // a blank first
    {Serial, kNoSerialDisk, 0, 0, "?", 0, nullptr},
    {Serial, kLeftSerialDisk, 1, 0, "PAD18     ", 0, nullptr}, // the blanks belong to the page
    {Serial, kRightSerialDisk, 0, 0, "?", 0, nullptr},         // a blank first
    {Caching, kDefaultTape, 0xFF, 0, nullptr, 0, nullptr},
    {Rpm, kDefaultTape, 0, 0, nullptr, 0, nullptr},
    {Capacity, kGoodDisk, 1, 0, "00 87 A2 37 00 00 02 00", 0, nullptr}, // 8888887, 512
    {Capacity, kNotReadyCdrom, 0, 5800, nullptr, 0, nullptr},
    {Seek, kGoodDisk, 1, 0, nullptr, 0, nullptr},
    {Read, kGoodDisk, 1, 0, "00 00 00 0A 00 00 00 0B", 0, nullptr},
    {Read, kSlowDisk, 1, 0, "00 00 00 0A 00 00 00 0B", 0, nullptr}, // completed by the worker
    {Read, kReadErrorDisk, 0, 0, nullptr, 0, nullptr},              // medium error: no message
    {Read, kWriteProtected, 0, 5900, nullptr, 0, nullptr},
    {ReadNone, kGoodDisk, 1, 0, "EE EE EE EE EE EE EE EE", 0,
     "0:0:0 28 00 00 00 00 07 00 00 00 00 none 0 flags 48"},
    {ReadTooMany, kGoodDisk, 0, 0, nullptr, 0, ""}, // more than the CDB can carry
    {AdapterInquiry, 1, SS_COMP, 0, "AHA1542", 0, "adapter 1 query 00"},
    // Each command hangs once; the abort is accepted unless the disk refuses it.
    {Tur, kHung, 1, 0, nullptr, 2000, "0:10:0 00 00 00 00 00 00 none 0 flags 00"},
    {Tur, kHungUnabortable, 0, 0, nullptr, 2000, "0:11:0 00 00 00 00 00 00 none 0 flags 00"},
    {WriteBuffer, kHung, 1, 0, nullptr, 8000,
     "0:10:0 3B 02 00 00 00 00 00 02 00 00 out 512 flags 10"},
    {ReadBuffer, kHung, 1, 0, nullptr, 8000,
     "0:10:0 3C 02 00 00 00 00 00 02 00 00 in 512 flags 08"},
    {Descriptor, kHung, 0, 0, nullptr, 1000, "0:10:0 3C 03 00 00 00 00 00 00 08 00 in 8 flags 08"},
    {Serial, kHung, 0, 0, "?", 250, "0:10:0 12 01 80 00 FF 00 in 255 flags 08"},
    {Capacity, kHung, 1, 0, nullptr, 4000, "0:10:0 25 00 00 00 00 00 00 00 00 00 in 8 flags 08"},
    {Caching, kHung, 0xFF, 0, nullptr, 250, "0:10:0 1A 08 08 00 FF 00 in 255 flags 08"},
    {Rpm, kHung, 0, 0, nullptr, 250, "0:10:0 1A 08 04 00 FF 00 in 255 flags 08"},
    {Seek, kHung, 0, 0, nullptr, 10000, "0:10:0 0B 0A 0B 0C 00 00 none 0 flags 40"},
    {ReadFar, kHung, 0, 0, nullptr, 10000, "0:10:0 28 00 01 02 03 04 00 00 02 00 in 1024 flags 48"},
    // A target without unit 0 says so (qualifier 3, type 1Fh) and refuses the rest.
    {Scan, kNoLunZero, 0x7F, 0, nullptr, 0, nullptr},
    {Tur, kNoLunZero, 0, 0, nullptr, 0, nullptr},
    // 36 bytes of INQUIRY data fill the fields the scan reads; the rest stays 0.
    {Scan, kShortInquiryDisk, 0x00, 0, "QUANTUM FIREBALL1080S   1Q09", 0, nullptr},
    // An aborted INQUIRY leaves an unknown device (0Ah).
    {Scan, kHung, 0x0A, 0, nullptr, 2000,
     "0:10:0 00 00 00 00 00 00 none 0 flags 00\n0:10:0 12 00 00 00 60 00 in 96 flags 08"},
};

// The program never aborts before a limit; a loaded machine may make it
// late, though not by half the limit and a second more.
bool WaitedItsLimit(const JournalRecord& r, DWORD limit) {
    return r.waitedMs && *r.waitedMs >= limit && *r.waitedMs <= limit + limit / 2 + 1000;
}

using Commands = AspiTest;

TEST_F(Commands, EveryRequestItsResultAndWhatTheBusReceived) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(testing::Message() << "row " << &row - kRows);
        ClearErrorRecords();
        ClearJournal();
        out = "";
        const DWORD start = ExecutionDeadline = GetTickCount();
        EXPECT_EQ(row.call(row.target), row.result);
        EXPECT_EQ(LastSenseError.MessageId + LastErrorReport.ReportMessageId, row.message);
        if (row.out) {
            EXPECT_EQ(out, row.out);
        }
        EXPECT_EQ(CompletionEvent, nullptr) << "the event is closed after each wait";
        if (!row.log)
            continue;
        std::string lines;
        for (const JournalRecord& r : ReadJournal()) {
            lines += (lines.empty() ? "" : "\n") + r.line;
            EXPECT_TRUE(row.limitMs ? WaitedItsLimit(r, row.limitMs) : !r.waitedMs)
                << r.line << " waited " << r.waitedMs.value_or(0) << " ms";
        }
        EXPECT_EQ(lines, row.log);
        // A polled wait sets its deadline as it starts, after one limit per
        // earlier hung command of the row (event waits set none).
        if (row.limitMs && row.limitMs < 10000) {
            EXPECT_LE(ExecutionDeadline - start -
                          row.limitMs * DWORD(1 + std::count(lines.begin(), lines.end(), '\n')),
                      200u);
        }
    }
    EXPECT_EQ(Hex(BufferTestPattern, 2) + " " + Hex(BufferTestPattern + 510, 2), "AA 55 AA 55");
}

TEST_F(Commands, OnlyUseAspiOneReachesAspiButTheAdapterInquiryAlwaysDoes) {
    for (LONG value : {0L, 2L, -1L}) {
        UseAspi = value;
        ClearJournal();
        for (Call call : {Tur, WriteBuffer, ReadBuffer, Descriptor, Serial, Capacity, Caching, Rpm,
                          Seek, Read, AdapterInquiry})
            call(1);
        EXPECT_EQ(JournalText(), "adapter 1 query 00\n") << value;
    }
}

TEST_F(Commands, ARequestCompletedDuringTheCallIsNotPolled) {
    ExecutionDeadline = 0xDEADBEEF;
    EXPECT_EQ(Tur(kGoodDisk), 1);
    EXPECT_EQ(ExecutionDeadline, 0xDEADBEEFu);
}

TEST_F(Commands, WithoutTheLibraryEveryRequestFailsAtOnce) {
    SendASPI32CommandFn saved = SendAspi32Command;
    SendAspi32Command = nullptr;
    EXPECT_EQ(AdapterInquiry(0), long{SS_NO_ASPI});
    EXPECT_EQ(Tur(kGoodDisk), 0);
    EXPECT_EQ(AspiSrb.SRB_Status, SS_NO_ASPI);
    EXPECT_EQ(Read(kGoodDisk), 0);
    EXPECT_EQ(CompletionEvent, nullptr);
    SendAspi32Command = saved;
}

} // namespace
} // namespace qvx::test
