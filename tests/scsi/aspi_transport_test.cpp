// How requests are waited for: completion during the call, completion from
// the library's worker thread, and aborts of requests that never complete.
// The time-out cases wait in real time (about 17 s in all).
#include "aspi_fixture.h"
#include <cstring>
#include "scsi/aspi/aspicommands.h"
#include "scsi/aspi/aspitransport.h"

namespace qvx::test {
namespace {

constexpr DWORD kUntouched = 0xDEADBEEF;

using AspiTransport = AspiTest;

TEST_F(AspiTransport, RequestCompletedDuringTheCallIsNeitherPolledNorAborted) {
    ExecutionDeadline = kUntouched;
    EXPECT_EQ(AspiTestUnitReady(kAdapter, kGoodDisk), 1);
    EXPECT_EQ(ExecutionDeadline, kUntouched);
    EXPECT_EQ(AspiSrb.SRB_Status, SS_COMP);
}

TEST_F(AspiTransport, RequestCompletedByTheWorkerThreadIsSeenByThePoll) {
    ExecutionDeadline = kUntouched;
    EXPECT_EQ(AspiTestUnitReady(kAdapter, kSlowDisk), 1);
    EXPECT_NE(ExecutionDeadline, kUntouched) << "the request was polled";
    EXPECT_EQ(AspiSrb.SRB_Status, SS_COMP) << "completed, not aborted";
    char text[SERIAL_NUMBER_SIZE];
    EXPECT_EQ(AspiModeSenseCaching(kAdapter, kSlowDisk), 0x01);
    EXPECT_EQ(AspiInquirySerialNumber(kAdapter, kSlowDisk, text), 0);
}

TEST_F(AspiTransport, PendingRequestWithAcceptedAbortCountsAsDone) {
    ExecutionDeadline = kUntouched;
    EXPECT_EQ(AspiTestUnitReady(kAdapter, kHungAbortable), 1);
    EXPECT_EQ(AspiSrb.SRB_Status, SS_ABORTED) << "the abort was accepted";
    EXPECT_NE(ExecutionDeadline, kUntouched) << "the request was polled";
}

TEST_F(AspiTransport, PendingRequestWithRefusedAbortFails) {
    EXPECT_EQ(AspiTestUnitReady(kAdapter, kHungUnabortable), 0);
    EXPECT_EQ(AspiSrb.SRB_Status, SS_PENDING);
}

TEST_F(AspiTransport, QueriesThatTimeOutGiveTheirFailureValueWhateverTheAbort) {
    char text[SERIAL_NUMBER_SIZE] = "unchanged";
    EXPECT_EQ(AspiModeSenseCaching(kAdapter, kHungAbortable), 0xFF);
    EXPECT_EQ(AspiModeSenseRigidDisk(kAdapter, kHungAbortable), 0);
    EXPECT_EQ(AspiInquirySerialNumber(kAdapter, kHungAbortable, text), 0);
    EXPECT_STREQ(text, "unchanged");
    EXPECT_EQ(AspiReadBufferDescriptor(kAdapter, kHungAbortable), 0u);
}

TEST_F(AspiTransport, EventNotifiedRequestThatNeverCompletesIsAbortedAndFails) {
    BYTE data[512];
    EXPECT_EQ(AspiRead10(kAdapter, kHungAbortable, 0, 512, 1, data), 0);
    EXPECT_EQ(CompletionEvent, nullptr);
    // The aborted request no longer holds the adapter: the next one runs.
    EXPECT_EQ(AspiSeek(kAdapter, kHungAbortable, 0), 1);
}

TEST_F(AspiTransport, CompletionEventIsAttachedOnceAndClosed) {
    SRB_ExecSCSICmd first, second;
    std::memset(&first, 0, sizeof first);
    std::memset(&second, 0, sizeof second);
    ArmCompletionEvent(&first);
    ASSERT_NE(CompletionEvent, nullptr);
    HANDLE event = CompletionEvent;
    EXPECT_EQ(first.SRB_PostProc, static_cast<void*>(event));
    EXPECT_EQ(first.SRB_Flags & SRB_EVENT_NOTIFY, SRB_EVENT_NOTIFY);
    // An event still open is reused, and the request still carries it.
    ArmCompletionEvent(&second);
    EXPECT_EQ(CompletionEvent, event);
    EXPECT_EQ(second.SRB_PostProc, static_cast<void*>(event));
    CloseCompletionEvent();
    EXPECT_EQ(CompletionEvent, nullptr);
    DWORD flags;
    EXPECT_FALSE(GetHandleInformation(event, &flags)) << "handle was closed";
}

TEST_F(AspiTransport, WithoutTheLibraryEveryRequestFailsAtOnce) {
    SendASPI32CommandFn saved = SendAspi32Command;
    SendAspi32Command = nullptr;
    SRB_HAInquiry block;
    std::memset(&block, 0, sizeof block);
    BYTE data[512];
    EXPECT_EQ(AspiHostAdapterInquiry(&block, 0), DWORD{SS_NO_ASPI});
    EXPECT_EQ(AspiTestUnitReady(kAdapter, kGoodDisk), 0);
    EXPECT_EQ(AspiSrb.SRB_Status, SS_NO_ASPI);
    EXPECT_EQ(AspiModeSenseCaching(kAdapter, kGoodDisk), 0xFF);
    EXPECT_EQ(AspiRead10(kAdapter, kGoodDisk, 0, 512, 1, data), 0);
    EXPECT_EQ(CompletionEvent, nullptr);
    SendAspi32Command = saved;
}

} // namespace
} // namespace qvx::test
