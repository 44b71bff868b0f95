// The commands through the facade, the real request blocks and the emulated
// library: each command's result on each kind of device, what it returned
// and the message it left; how requests are waited for; the choice of side.
#include "aspi_fixture.h"
#include <cstdio>
#include <cstring>
#include <thread>
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

long Tur(BYTE t) {
    return ScsiTestUnitReady(kAdapter, t);
}
long WriteBuffer(BYTE t) {
    return ScsiWriteBuffer(kAdapter, t);
}
long ReadBuffer(BYTE t) {
    return ScsiReadBuffer(kAdapter, t);
}
long Descriptor(BYTE t) {
    return long(ScsiReadBufferDescriptor(kAdapter, t));
}
long Serial(BYTE t) {
    std::strcpy(text, "?");
    long result = ScsiInquirySerialNumber(kAdapter, t, text);
    out = text;
    return result;
}
long Capacity(BYTE t) {
    long result = ScsiReadCapacity(kAdapter, t, data);
    out = Hex(data, 8);
    return result;
}
long Caching(BYTE t) {
    return ScsiModeSenseCaching(kAdapter, t);
}
long Rpm(BYTE t) {
    return ScsiModeSenseRigidDisk(kAdapter, t);
}
long Seek(BYTE t) {
    return ScsiSeek(kAdapter, t, 0);
}
// Blocks 10-11, or 1500-1501 of the disk with read errors; each block of
// the emulated medium starts with its own address.
long Read10(BYTE t) {
    std::memset(data, 0xEE, sizeof data);
    long result = ScsiRead10(kAdapter, t, t == kReadErrorDisk ? 1500 : 10, 512, 2, data);
    out = Hex(data, 4) + " " + Hex(data + 512, 4);
    return result;
}

struct Case {
    long (*call)(BYTE target);
    BYTE target;
    long result;
    DWORD senseKey;
    DWORD message;   // the sense message, else the error report's
    const char* out; // nullptr: not looked at
};

// In order: a device keeps its state (buffer memory, a unit attention) from row to row.
const Case kCases[] = {
    {Tur, kGoodDisk, 1, 0, 0, nullptr},
    {Tur, kNotReadyCdrom, 0, 2, 5800, nullptr},
    {Tur, kHardwareErrorDisk, 0, 4, 5404, nullptr},
    {Tur, kWriteProtected, 0, 7, 5900, nullptr},
    {Tur, kValidSenseCdrom, 0, 0, 0, nullptr}, // VALID set: not decoded
    {Tur, kUnitAttentionDisk, 0, 6, 5801, nullptr},
    {Tur, kUnitAttentionDisk, 1, 0, 0, nullptr}, // ready after the attention
    {Tur, kEmptyTarget, 0, 0, 0, nullptr},
    {WriteBuffer, kGoodDisk, 1, 0, 0, nullptr},
    {ReadBuffer, kGoodDisk, 1, 0, 0, nullptr},
    {WriteBuffer, kDescriptorFFDisk, 1, 0, 0, nullptr},
    {ReadBuffer, kDescriptorFFDisk, 1, 0, 0, nullptr}, // differs at byte 2: not compared
    {WriteBuffer, kNoSerialDisk, 1, 0, 0, nullptr},
    {ReadBuffer, kNoSerialDisk, 0, 0, 6200, nullptr}, // differs at byte 100
    {WriteBuffer, kHardwareErrorDisk, 0, 4, 5404, nullptr},
    {ReadBuffer, kHardwareErrorDisk, 0, 4, 5404, nullptr}, // failed, so not compared
    {Descriptor, kGoodDisk, 1048576, 0, 0, nullptr},
    {Descriptor, kCacheOffDisk, 524288, 0, 0, nullptr},
    {Descriptor, kDescriptorFFDisk, 0, 0, 0, nullptr},
    {Descriptor, kWriteProtected, 0, 7, 5900, nullptr},
    {Caching, kGoodDisk, 0x04, 0, 0, nullptr},
    {Caching, kCacheOffDisk, 0x01, 0, 0, nullptr},
    {Caching, kNoSerialDisk, 0x05, 0, 0, nullptr},
    {Caching, kDescriptorFFDisk, 0x00, 0, 0, nullptr},
    {Caching, kUnderrunDisk, 0x05, 0, 0, nullptr},
    {Caching, kNotReadyCdrom, 0xFF, 0, 0, nullptr}, // no caching page
    {Caching, kEmptyTarget, 0xFF, 0, 0, nullptr},
    {Rpm, kGoodDisk, 7200, 0, 0, nullptr},
    {Rpm, kUnderrunDisk, 4500, 0, 0, nullptr},
    {Rpm, kNoSerialDisk, 0, 0, 0, nullptr}, // no geometry page
    {Rpm, kEmptyTarget, 0, 0, 0, nullptr},
    {Serial, kGoodDisk, 1, 0, 0, "PCB89701234"},
    {Serial, kUnderrunDisk, 1, 0, 0, "UR4455"},
    {Serial, kCacheOffDisk, 0, 0, 0, "?"}, // a blank first
    {Serial, kNoSerialDisk, 0, 0, 0, "?"},
    {Capacity, kGoodDisk, 1, 0, 0, "00 87 A2 37 00 00 02 00"}, // 8888887, 512
    {Capacity, kNotReadyCdrom, 0, 2, 5800, nullptr},
    {Seek, kReadErrorDisk, 1, 0, 0, nullptr},
    {Read10, kGoodDisk, 1, 0, 0, "00 00 00 0A 00 00 00 0B"},
    {Read10, kSlowDisk, 1, 0, 0, "00 00 00 0A 00 00 00 0B"}, // completed by the worker
    {Read10, kReadErrorDisk, 0, 0, 0, nullptr},              // medium error: no message
    {Read10, kWriteProtected, 0, 7, 5900, nullptr},
};

using Commands = AspiTest;

TEST_F(Commands, ResultsDataAndMessagesOfEachKindOfDevice) {
    for (const Case& c : kCases) {
        ClearErrorRecords();
        out = "";
        long result = c.call(c.target);
        SCOPED_TRACE(testing::Message() << "target " << int(c.target) << " row " << &c - kCases);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(LastSenseError.SenseKey, c.senseKey);
        EXPECT_EQ(LastSenseError.MessageId + LastErrorReport.ReportMessageId, c.message);
        if (c.out) {
            EXPECT_EQ(out, c.out);
        }
    }
    EXPECT_EQ(Hex(BufferTestPattern, 2) + " " + Hex(BufferTestPattern + 510, 2), "AA 55 AA 55");
}

TEST_F(Commands, OnlyRequestsStillPendingAfterTheCallArePolled) {
    constexpr DWORD kUntouched = 0xDEADBEEF;
    ExecutionDeadline = kUntouched;
    EXPECT_EQ(Tur(kGoodDisk), 1);
    EXPECT_EQ(ExecutionDeadline, kUntouched) << "completed during the call: not polled";
    // The slow disk's answer is held back until the program polls for it.
    HoldWorker(true);
    std::thread release([] {
        for (int i = 0; i < 5000 && *static_cast<volatile DWORD*>(&ExecutionDeadline) == kUntouched;
             ++i)
            Sleep(1);
        HoldWorker(false);
    });
    EXPECT_EQ(Tur(kSlowDisk), 1);
    release.join();
    EXPECT_EQ(AspiSrb.SRB_Status, SS_COMP) << "completed, not aborted";
}

TEST_F(Commands, WithoutTheLibraryEveryRequestFailsAtOnce) {
    SendASPI32CommandFn saved = SendAspi32Command;
    SendAspi32Command = nullptr;
    SRB_HAInquiry block = {};
    EXPECT_EQ(ScsiHostAdapterInquiry(&block, 0), DWORD{SS_NO_ASPI});
    EXPECT_EQ(Tur(kGoodDisk), 0);
    EXPECT_EQ(AspiSrb.SRB_Status, SS_NO_ASPI);
    EXPECT_EQ(Read10(kGoodDisk), 0);
    EXPECT_EQ(CompletionEvent, nullptr);
    SendAspi32Command = saved;
}

TEST_F(Commands, OnlyUseAspiOneReachesAspiButTheAdapterInquiryAlwaysDoes) {
    for (LONG value : {0L, 2L, -1L}) {
        UseAspi = value;
        ClearJournal();
        for (long (*call)(BYTE) : {Tur, WriteBuffer, ReadBuffer, Descriptor, Serial, Capacity,
                                   Caching, Rpm, Seek, Read10})
            call(kGoodDisk);
        SRB_HAInquiry block = {};
        EXPECT_EQ(ScsiHostAdapterInquiry(&block, 1), DWORD{SS_COMP});
        EXPECT_EQ(std::string(reinterpret_cast<char*>(block.HA_Identifier)), "AHA1542");
        EXPECT_EQ(JournalText(), "adapter 1 query 00\n") << value;
    }
    UseAspi = 1;
    ClearJournal();
    Tur(kGoodDisk);
    EXPECT_EQ(JournalText(), "0:0:0 00 00 00 00 00 00 none 0 flags 00\n")
        << "decided afresh on every call";
}

} // namespace
} // namespace qvx::test
