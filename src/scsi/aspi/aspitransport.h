// Carrying SCSI commands to devices through ASPI for Win32: the request
// block, polling against a deadline, event notification and abort.
#ifndef ASPITRANSPORT_H
#define ASPITRANSPORT_H

#include <windows.h>
#include "wnaspi32.h"

// Time limits in milliseconds of GetTickCount().
#define TIMEOUT_TEST_UNIT_READY 2000
#define TIMEOUT_SCAN_INQUIRY 2000
#define TIMEOUT_WRITE_BUFFER 8000
#define TIMEOUT_READ_BUFFER 8000
#define TIMEOUT_READ_BUFFER_DESCRIPTOR 1000
#define TIMEOUT_READ_CAPACITY 4000
#define TIMEOUT_SERIAL_NUMBER 250
#define TIMEOUT_MODE_SENSE 250
#define TIMEOUT_ABORT 1000
#define TIMEOUT_EVENT_WAIT 10000

// Outcome of ExecuteAndPoll.
#define EXECUTE_COMPLETED 1 // the request left the pending state
#define EXECUTE_ABORTED 2   // it timed out; the abort was accepted
#define EXECUTE_ABORT_FAILED 0

extern SRB_ExecSCSICmd AspiSrb;
extern DWORD ExecutionDeadline;
extern HANDLE CompletionEvent;

// Reads a request block's SRB_Status as the library last wrote it; the
// library may complete a request from another thread.
BYTE ReadSrbStatus(const void* srb);

// Prepares a request block for a new command (reserved fields untouched).
void ClearSrb(SRB_ExecSCSICmd* srb);

// SC_HA_INQUIRY for one adapter index into the caller's zeroed block;
// returns what SendASPI32Command returned (SS_COMP = 1).
DWORD AspiHostAdapterInquiry(SRB_HAInquiry* block, BYTE index);

// Sends the filled AspiSrb and waits for it, spinning on its status until
// `limit` milliseconds have passed; a request still pending then is aborted.
// A completed request is judged and, when rejected, its sense data decoded,
// unless `judge` is 0 (the bus scan judges its INQUIRY itself).
// Returns EXECUTE_COMPLETED, EXECUTE_ABORTED or EXECUTE_ABORT_FAILED.
int ExecuteAndPoll(DWORD limit, int judge);

// Aborts a request; 1 when the abort request completed with SS_COMP.
int AbortSrb(void* request, BYTE adapterNumber);

// Event notification: attaches CompletionEvent to the request, waits for it
// and closes it again. WaitForCompletionEvent returns 1 when the request
// completed, 0 when it was still pending after 10 s and had to be aborted.
void ArmCompletionEvent(SRB_ExecSCSICmd* srb);
int WaitForCompletionEvent(SRB_ExecSCSICmd* srb, BYTE adapterNumber);
void CloseCompletionEvent(void);

#endif
