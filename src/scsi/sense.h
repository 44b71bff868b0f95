// Judging a completed ASPI request and decoding its sense data into the
// global error records that the tools read after a failed command.
#ifndef SENSE_H
#define SENSE_H

#include <windows.h>
#include "wnaspi32.h"
#include "resource.h"

// ReportMessageId value that means: show SystemText instead.
#define REPORT_SYSTEM_TEXT 0xFFFFFFFFu

// Sense keys the program acts on.
#define SENSE_KEY_NO_SENSE 0x00
#define SENSE_KEY_NOT_READY 0x02
#define SENSE_KEY_MEDIUM_ERROR 0x03
#define SENSE_KEY_HARDWARE_ERROR 0x04
#define SENSE_KEY_ILLEGAL_REQUEST 0x05
#define SENSE_KEY_UNIT_ATTENTION 0x06
#define SENSE_KEY_DATA_PROTECT 0x07

typedef struct {
    DWORD SenseKey;
    DWORD AdditionalSenseCode;
    DWORD AdditionalSenseCodeQualifier;
    DWORD MessageId;
} SenseErrorRecord;

typedef struct {
    DWORD ReportMessageId;
    char SystemText[64];
} ErrorReportRecord;

extern SenseErrorRecord LastSenseError;
extern ErrorReportRecord LastErrorReport;

// Sets both error records to all zero; callers do this before a command
// whose own outcome they want to see.
void ClearErrorRecords(void);

// 1 when the host adapter status is OK, the request completed (or was
// aborted, or completed with error) and the target status is good.
int IsCommandSuccessful(const SRB_ExecSCSICmd* srb);

// Records the sense key, ASC, ASCQ and message id of recognised fixed-format
// sense data in LastSenseError; 1 when a message id was recorded.
int DecodeSenseData(const SRB_ExecSCSICmd* srb);

#endif
