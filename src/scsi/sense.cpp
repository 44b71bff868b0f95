// Status judgement and sense data decoding for completed ASPI requests.
#include "sense.h"
#include <string.h>

SenseErrorRecord LastSenseError;
ErrorReportRecord LastErrorReport;

void ClearErrorRecords(void) {
    memset(&LastSenseError, 0, sizeof LastSenseError);
    memset(&LastErrorReport, 0, sizeof LastErrorReport);
}

int IsCommandSuccessful(const SRB_ExecSCSICmd* srb) {
    if (srb->SRB_HaStat != HASTAT_OK)
        return 0;
    switch (srb->SRB_Status) {
    case SS_COMP:
    case SS_ABORTED:
    case SS_ERR:
        break;
    default:
        return 0;
    }
    switch (srb->SRB_TargStat) {
    case STATUS_GOOD:
    case STATUS_CONDMET:
    case STATUS_INTCDMET:
        return 1;
    default:
        return 0;
    }
}

// Records key, ASC and ASCQ together with a message id; always 1.
static int RecordSense(DWORD key, DWORD asc, DWORD ascq, DWORD messageId) {
    LastSenseError.SenseKey = key;
    LastSenseError.AdditionalSenseCode = asc;
    LastSenseError.AdditionalSenseCodeQualifier = ascq;
    LastSenseError.MessageId = messageId;
    return 1;
}

static int DecodeNotReady(BYTE asc, BYTE ascq) {
    LastSenseError.SenseKey = SENSE_KEY_NOT_READY;
    if (asc == 0x3A)
        return RecordSense(SENSE_KEY_NOT_READY, asc, ascq, IDS_SENSE_NO_MEDIA);
    if (asc != 0x04)
        return 0;
    LastSenseError.AdditionalSenseCode = asc;
    switch (ascq) {
    case 0x00:
        return RecordSense(SENSE_KEY_NOT_READY, asc, ascq, IDS_SENSE_NOT_READY_CAUSE);
    case 0x01:
        return RecordSense(SENSE_KEY_NOT_READY, asc, ascq, IDS_SENSE_MEDIA_CHANGED);
    case 0x02:
        return RecordSense(SENSE_KEY_NOT_READY, asc, ascq, IDS_SENSE_START_UNIT_REQUIRED);
    case 0x03:
        return RecordSense(SENSE_KEY_NOT_READY, asc, ascq, IDS_SENSE_MEDIA_NOT_LOCKED);
    case 0x04:
        return RecordSense(SENSE_KEY_NOT_READY, asc, ascq, IDS_SENSE_FORMAT_IN_PROGRESS);
    default:
        return 0;
    }
}

int DecodeSenseData(const SRB_ExecSCSICmd* srb) {
    const BYTE* sense = srb->SenseArea;
    if (sense[0] & 0x80)
        return 0;
    // The filemark, end-of-medium and incorrect-length bits stay in the key,
    // so a key with any of them set is not recognised.
    BYTE key = sense[2];
    BYTE asc = sense[12];
    BYTE ascq = sense[13];
    switch (key) {
    case SENSE_KEY_NOT_READY:
        return DecodeNotReady(asc, ascq);
    case SENSE_KEY_HARDWARE_ERROR:
        return RecordSense(key, asc, ascq,
                           asc == 0x40 ? IDS_SENSE_SELF_TEST_FAILED : IDS_SENSE_HARDWARE_FAILURE);
    case SENSE_KEY_UNIT_ATTENTION:
        if (asc == 0x28)
            return RecordSense(key, asc, ascq, IDS_SENSE_MEDIA_CHANGED);
        if (asc == 0x29)
            return RecordSense(key, asc, ascq, IDS_SENSE_POWER_ON_RESET);
        LastSenseError.SenseKey = key;
        return 0;
    case SENSE_KEY_DATA_PROTECT:
        return RecordSense(key, asc, ascq, IDS_SENSE_WRITE_PROTECTED);
    default:
        return 0;
    }
}
