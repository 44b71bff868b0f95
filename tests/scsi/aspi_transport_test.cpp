// How requests are waited for: completion during the call, completion from
// the library's worker thread, and aborts of requests that never complete.
// The time-out cases wait in real time.
#include "aspi_fixture.h"
#include <cstring>
#include "scsi/aspi/aspicommands.h"
#include "scsi/aspi/aspitransport.h"

namespace qvx::test {
namespace {

constexpr DWORD kUntouched = 0xDEADBEEF;

using AspiTransport = AspiTest;

TEST_F(AspiTransport, OnlyRequestsStillPendingAfterTheCallArePolled) {
    ExecutionDeadline = kUntouched;
    EXPECT_EQ(AspiTestUnitReady(kAdapter, kGoodDisk), 1);
    EXPECT_EQ(ExecutionDeadline, kUntouched) << "completed during the call: not polled";
    EXPECT_EQ(AspiSrb.SRB_Status, SS_COMP);

    EXPECT_EQ(AspiTestUnitReady(kAdapter, kSlowDisk), 1);
    EXPECT_NE(ExecutionDeadline, kUntouched) << "the request was polled";
    EXPECT_EQ(AspiSrb.SRB_Status, SS_COMP) << "completed, not aborted";
}

TEST_F(AspiTransport, RequestsPendingAtTheirDeadlineAreAborted) {
    ExecutionDeadline = kUntouched;
    EXPECT_EQ(AspiTestUnitReady(kAdapter, kHungAbortable), 1) << "abort accepted: done";
    EXPECT_EQ(AspiSrb.SRB_Status, SS_ABORTED);
    EXPECT_NE(ExecutionDeadline, kUntouched) << "the request was polled";
    EXPECT_EQ(AspiTestUnitReady(kAdapter, kHungUnabortable), 0) << "abort refused: failed";
    EXPECT_EQ(AspiSrb.SRB_Status, SS_PENDING);
    // A query that times out gives its failure value whatever the abort.
    EXPECT_EQ(AspiModeSenseCaching(kAdapter, kHungAbortable), 0xFF);
}

TEST_F(AspiTransport, EventNotifiedRequestThatNeverCompletesIsAbortedAndFails) {
    BYTE data[512];
    EXPECT_EQ(AspiRead10(kAdapter, kHungAbortable, 0, 512, 1, data), 0);
    EXPECT_EQ(CompletionEvent, nullptr);
    // The aborted request no longer holds the adapter: the next one runs.
    EXPECT_EQ(AspiSeek(kAdapter, kHungAbortable, 0), 1);
}

TEST_F(AspiTransport, WithoutTheLibraryEveryRequestFailsAtOnce) {
    SendASPI32CommandFn saved = SendAspi32Command;
    SendAspi32Command = nullptr;
    SRB_HAInquiry block = {};
    BYTE data[512];
    EXPECT_EQ(AspiHostAdapterInquiry(&block, 0), DWORD{SS_NO_ASPI});
    EXPECT_EQ(AspiTestUnitReady(kAdapter, kGoodDisk), 0);
    EXPECT_EQ(AspiSrb.SRB_Status, SS_NO_ASPI);
    EXPECT_EQ(AspiRead10(kAdapter, kGoodDisk, 0, 512, 1, data), 0);
    EXPECT_EQ(CompletionEvent, nullptr);
    SendAspi32Command = saved;
}

} // namespace
} // namespace qvx::test
