// ASPI transport: one global request block for the synchronous commands,
// polled against a tick-count deadline; event-notified requests for SEEK and
// READ(10); aborts of requests that never complete.
#include "aspitransport.h"
#include "inventory/inventory.h"
#include "scsi/sense.h"
#include <string.h>

SRB_ExecSCSICmd AspiSrb;
DWORD ExecutionDeadline;
HANDLE CompletionEvent;

// The abort request block. The library may still hold it after the abort's
// own time limit, so it lives in static storage rather than on the stack.
static SRB_Abort AbortRequest;

BYTE ReadSrbStatus(const void* srb) {
    BYTE status = *(volatile const BYTE*)&((const SRB_Header*)srb)->SRB_Status;
    // The rest of the block is read only after its status; keep it that way.
    MemoryBarrier();
    return status;
}

void ClearSrb(SRB_ExecSCSICmd* srb) {
    srb->SRB_Cmd = 0;
    srb->SRB_Status = 0;
    srb->SRB_HaId = 0;
    srb->SRB_Flags = 0;
    srb->SRB_Target = 0;
    srb->SRB_Lun = 0;
    srb->SRB_BufLen = 0;
    srb->SRB_BufPointer = NULL;
    srb->SRB_SenseLen = SENSE_LEN;
    srb->SRB_CDBLen = 0;
    srb->SRB_HaStat = 0;
    srb->SRB_TargStat = 0;
    srb->SRB_PostProc = NULL;
    memset(srb->CDBByte, 0, sizeof srb->CDBByte);
    memset(srb->SenseArea, 0, sizeof srb->SenseArea);
}

DWORD AspiHostAdapterInquiry(SRB_HAInquiry* block, BYTE index) {
    block->SRB_Cmd = SC_HA_INQUIRY;
    block->SRB_HaId = index;
    if (SendAspi32Command == NULL) {
        block->SRB_Status = SS_NO_ASPI;
        return SS_NO_ASPI;
    }
    return SendAspi32Command(block);
}

// Spins until the request leaves the pending state or `limit` ms have
// passed since now; sets ExecutionDeadline. Returns the last status read.
// Elapsed time is compared rather than absolute ticks, so the wrap of
// GetTickCount() after 49.7 days does not cut a wait short.
static BYTE PollStatus(const void* srb, DWORD limit) {
    DWORD start = GetTickCount();
    ExecutionDeadline = start + limit;
    BYTE status = ReadSrbStatus(srb);
    while (status == SS_PENDING && GetTickCount() - start < limit)
        status = ReadSrbStatus(srb);
    return status;
}

int AbortSrb(void* request, BYTE adapterNumber) {
    if (SendAspi32Command == NULL)
        return 0;
    memset(&AbortRequest, 0, sizeof AbortRequest);
    AbortRequest.SRB_Cmd = SC_ABORT_SRB;
    AbortRequest.SRB_HaId = adapterNumber;
    AbortRequest.SRB_ToAbort = request;
    SendAspi32Command(&AbortRequest);
    BYTE status = ReadSrbStatus(&AbortRequest);
    if (status == SS_PENDING)
        status = PollStatus(&AbortRequest, TIMEOUT_ABORT);
    return status == SS_COMP ? 1 : 0;
}

int ExecuteAndPoll(DWORD limit, int judge) {
    if (SendAspi32Command == NULL) {
        // No library: the request can never be carried.
        AspiSrb.SRB_Status = SS_NO_ASPI;
    } else {
        SendAspi32Command(&AspiSrb);
    }
    BYTE status = ReadSrbStatus(&AspiSrb);
    if (status == SS_PENDING)
        status = PollStatus(&AspiSrb, limit);
    if (status == SS_PENDING)
        return AbortSrb(&AspiSrb, AspiSrb.SRB_HaId) ? EXECUTE_ABORTED : EXECUTE_ABORT_FAILED;
    if (judge && !IsCommandSuccessful(&AspiSrb))
        DecodeSenseData(&AspiSrb);
    return EXECUTE_COMPLETED;
}

void ArmCompletionEvent(SRB_ExecSCSICmd* srb) {
    if (CompletionEvent == NULL)
        CompletionEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    else
        ResetEvent(CompletionEvent); // left open by an earlier request
    if (CompletionEvent == NULL)
        return;
    srb->SRB_Flags |= SRB_EVENT_NOTIFY;
    srb->SRB_PostProc = (void*)CompletionEvent;
}

int WaitForCompletionEvent(SRB_ExecSCSICmd* srb, BYTE adapterNumber) {
    if (CompletionEvent != NULL) {
        DWORD wait = WaitForSingleObject(CompletionEvent, TIMEOUT_EVENT_WAIT);
        CloseCompletionEvent();
        if (wait == WAIT_OBJECT_0)
            return 1;
    } else {
        // No event could be made: wait for the status instead.
        PollStatus(srb, TIMEOUT_EVENT_WAIT);
    }
    if (ReadSrbStatus(srb) != SS_PENDING)
        return 1;
    AbortSrb(srb, adapterNumber);
    return 0;
}

void CloseCompletionEvent(void) {
    if (CompletionEvent != NULL) {
        CloseHandle(CompletionEvent);
        CompletionEvent = NULL;
    }
}
