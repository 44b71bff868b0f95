// Every request the program sends, as the emulated bus journals it: CDB
// bytes, direction, transfer length and request flags, and how long the
// program waits before it aborts a command that never completes. The rows on
// the hung disk wait out each limit in real time: about 50 s for the table.
#include "aspi_fixture.h"
#include "inventory/aspiscan.h"
#include "scsi/aspi/aspitransport.h"
#include "scsi/facade/scsifacade.h"

namespace qvx::test {
namespace {

constexpr BYTE kHung = kHungAbortable;
BYTE data[1024];
char text[256];

struct Row {
    long (*call)();
    long result;
    DWORD limitMs;   // each command was aborted after waiting this long; 0: none was aborted
    const char* log; // the journal lines the call leaves
};

const Row kRows[] = {
    {[] { return long(ScsiTestUnitReady(0, kHung)); }, 1, 2000,
     "0:10:0 00 00 00 00 00 00 none 0 flags 00"},
    {[] { return long(ScsiTestUnitReady(0, kHungUnabortable)); }, 0, 2000,
     "0:11:0 00 00 00 00 00 00 none 0 flags 00"},
    {[] { return long(ScsiWriteBuffer(0, kHung)); }, 1, 8000,
     "0:10:0 3B 02 00 00 00 00 00 02 00 00 out 512 flags 10"},
    {[] { return long(ScsiReadBuffer(0, kHung)); }, 1, 8000,
     "0:10:0 3C 02 00 00 00 00 00 02 00 00 in 512 flags 08"},
    {[] { return long(ScsiReadBufferDescriptor(0, kHung)); }, 0, 1000,
     "0:10:0 3C 03 00 00 00 00 00 00 08 00 in 8 flags 08"},
    {[] { return long(ScsiInquirySerialNumber(0, kHung, text)); }, 0, 250,
     "0:10:0 12 01 80 00 FF 00 in 255 flags 08"},
    {[] { return long(ScsiReadCapacity(0, kHung, data)); }, 1, 4000,
     "0:10:0 25 00 00 00 00 00 00 00 00 00 in 8 flags 08"},
    {[] { return long(ScsiModeSenseCaching(0, kHung)); }, 0xFF, 250,
     "0:10:0 1A 08 08 00 FF 00 in 255 flags 08"},
    {[] { return long(ScsiModeSenseRigidDisk(0, kHung)); }, 0, 250,
     "0:10:0 1A 08 04 00 FF 00 in 255 flags 08"},
    {[] { return long(ScsiSeek(0, kHung, 0x0A0B0C)); }, 0, 10000,
     "0:10:0 0B 0A 0B 0C 00 00 none 0 flags 40"},
    {[] { return long(ScsiRead10(0, kHung, 0x01020304, 512, 2, data)); }, 0, 10000,
     "0:10:0 28 00 01 02 03 04 00 00 02 00 in 1024 flags 48"},
    {[] { return long(ScsiRead10(0, kGoodDisk, 7, 512, 0, data)); }, 1, 0,
     "0:0:0 28 00 00 00 00 07 00 00 00 00 none 0 flags 48"},
    {[] { return long(ScsiRead10(0, kGoodDisk, 7, 512, 0x10000, data)); }, 0, 0, ""},
    {[] {
         SRB_HAInquiry block = {};
         return long(ScsiHostAdapterInquiry(&block, 1));
     },
     SS_COMP, 0, "adapter 1 query 00"},
    // The bus scan's step; an aborted INQUIRY leaves an unknown device (0Ah).
    {[] {
         ScanAdapterNumber = 0;
         ScanTargetId = kHung;
         ScanNextTarget();
         return long(InquiryBuffer[0]);
     },
     0x0A, 2000,
     "0:10:0 00 00 00 00 00 00 none 0 flags 00\n0:10:0 12 00 00 00 60 00 in 96 flags 08"},
};

// The program never aborts before a limit; a loaded machine may make it
// late, though not by half the limit and a second more.
bool WaitedItsLimit(const JournalRecord& r, DWORD limit) {
    return r.waitedMs && *r.waitedMs >= limit && *r.waitedMs <= limit + limit / 2 + 1000;
}

using Journal = AspiTest;

TEST_F(Journal, EveryRequestWithItsBytesFlagsLengthsAndTimeLimit) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.log);
        ClearJournal();
        EXPECT_EQ(row.call(), row.result);
        std::vector<JournalRecord> records = ReadJournal();
        std::string lines;
        for (const JournalRecord& r : records) {
            lines += (lines.empty() ? "" : "\n") + r.line;
            if (row.limitMs == 0)
                EXPECT_FALSE(r.waitedMs) << r.line << " was aborted after " << *r.waitedMs;
            else
                EXPECT_TRUE(WaitedItsLimit(r, row.limitMs))
                    << r.line << " waited " << r.waitedMs.value_or(0) << " ms";
        }
        EXPECT_EQ(lines, row.log);
        EXPECT_EQ(CompletionEvent, nullptr) << "the event is closed after each wait";
    }
}

} // namespace
} // namespace qvx::test
