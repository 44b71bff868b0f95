// The NT pass-through transport: the device of a SCSI address, the two
// request blocks, the success test and the recording of failures.
#include "nttransport.h"
#include "ntdevice.h"
#include "scsi/sense.h"
#include <stdio.h>
#include <string.h>

static_assert(IOCTL_SCSI_PASS_THROUGH == 0x4D004, "pass-through control");
static_assert(IOCTL_SCSI_PASS_THROUGH_DIRECT == 0x4D014, "direct pass-through control");
static_assert(IOCTL_SCSI_GET_INQUIRY_DATA == 0x4100C, "inquiry data control");
static_assert(IOCTL_SCSI_GET_ADDRESS == 0x41018, "address control");

// Every NT device is opened under the Win32 device namespace.
#define DEVICE_NAMESPACE_PREFIX "\\\\.\\"
#define DEVICE_NAMESPACE_PREFIX_LENGTH 4

// FormatMessageA writes the system text here first.
#define SYSTEM_TEXT_BUFFER_SIZE 80

HANDLE DeviceHandle = INVALID_HANDLE_VALUE;
PassThroughBlock PassThroughRequest;
PassThroughDirectBlock PassThroughDirectRequest;
char DevicePathBuffer[DEVICE_PATH_BUFFER_SIZE];

// The slot whose device OpenDeviceForAddress opened: it supplies the
// request's bus, target and logical unit.
static const DeviceRecord* OpenedDevice;

HANDLE OpenNamedDevice(const char* name, DWORD access, DWORD share) {
    // Copied, not formatted: this runs for every NT command.
    CopyText(DevicePathBuffer, sizeof DevicePathBuffer, DEVICE_NAMESPACE_PREFIX);
    CopyText(DevicePathBuffer + DEVICE_NAMESPACE_PREFIX_LENGTH,
             sizeof DevicePathBuffer - DEVICE_NAMESPACE_PREFIX_LENGTH, name);
    return NtDeviceOpen(DevicePathBuffer, access, share);
}

void CloseDeviceHandle(void) {
    if (DeviceHandle != INVALID_HANDLE_VALUE)
        NtDeviceClose(DeviceHandle);
    DeviceHandle = INVALID_HANDLE_VALUE;
}

int OpenDeviceForAddress(BYTE adapterNumber, BYTE targetId) {
    LONG count = TotalDeviceCount < MAX_DEVICE_SLOTS ? TotalDeviceCount : MAX_DEVICE_SLOTS;

    for (LONG slot = 0; slot < count; slot++) {
        const DeviceRecord* device = &DeviceTable[slot];
        if (device->AdapterNumber != adapterNumber || device->TargetId != targetId)
            continue;
        if (device->DevicePath[0] == '\0')
            return 0;
        DeviceHandle = OpenNamedDevice(device->DevicePath, device->OpenAccess, device->OpenShare);
        if (DeviceHandle == INVALID_HANDLE_VALUE)
            return 0;
        OpenedDevice = device;
        return 1;
    }
    return 0;
}

int RecordSystemError(DWORD code) {
    char text[SYSTEM_TEXT_BUFFER_SIZE];
    // Inserts are left as they stand: there are no arguments to put in them.
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                  code, 0, text, sizeof text, NULL);

    LastErrorReport.ReportMessageId = REPORT_SYSTEM_TEXT;
    if (length == 0)
        return 0;
    if (length > sizeof LastErrorReport.SystemText)
        length = sizeof LastErrorReport.SystemText;
    // The last character, normally the line feed ending the text, is dropped.
    memcpy(LastErrorReport.SystemText, text, length - 1);
    LastErrorReport.SystemText[length - 1] = '\0';
    return 1;
}

// ---- Sense decoding ----

#define ANY_CODE 0xFFFF    // a row matching any ASC or ASCQ
#define AS_RECEIVED 0xFFFF // the ASC recorded is the one received
#define MAX_ROW_CODES 3

typedef struct {
    BYTE Key;
    BYTE AscCount; // 0: any ASC
    BYTE Asc[MAX_ROW_CODES];
    WORD Ascq;
    WORD RecordedAsc;
    DWORD MessageId;
} SenseRow;

// Tried in order; the first row that matches is recorded.
static const SenseRow SenseTable[] = {
    {SENSE_KEY_NOT_READY, 1, {0x04}, 0x00, 0x04, IDS_SENSE_NOT_READY_CAUSE},
    {SENSE_KEY_NOT_READY, 1, {0x04}, 0x01, 0x04, IDS_SENSE_MEDIA_CHANGED},
    {SENSE_KEY_NOT_READY, 1, {0x04}, 0x02, 0x04, IDS_SENSE_START_UNIT_REQUIRED},
    {SENSE_KEY_NOT_READY, 1, {0x04}, 0x03, 0x04, IDS_SENSE_MEDIA_NOT_LOCKED},
    {SENSE_KEY_NOT_READY, 1, {0x04}, 0x04, 0x04, IDS_SENSE_FORMAT_IN_PROGRESS},
    {SENSE_KEY_NOT_READY, 1, {0x3A}, ANY_CODE, 0x3A, IDS_SENSE_NO_MEDIA},
    {SENSE_KEY_HARDWARE_ERROR,
     3,
     {0x40, 0x41, 0x42},
     ANY_CODE,
     AS_RECEIVED,
     IDS_SENSE_SELF_TEST_FAILED},
    {SENSE_KEY_HARDWARE_ERROR, 0, {0}, ANY_CODE, AS_RECEIVED, IDS_SENSE_HARDWARE_FAILURE},
    {SENSE_KEY_ILLEGAL_REQUEST, 2, {0x20, 0x22}, ANY_CODE, 0x20, IDS_SENSE_NOT_SUPPORTED},
    {SENSE_KEY_ILLEGAL_REQUEST, 2, {0x24, 0x26}, ANY_CODE, 0x24, IDS_SENSE_NOT_SUPPORTED},
    {SENSE_KEY_UNIT_ATTENTION, 1, {0x28}, ANY_CODE, 0x28, IDS_SENSE_MEDIA_CHANGED},
    {SENSE_KEY_UNIT_ATTENTION, 1, {0x29}, ANY_CODE, 0x29, IDS_SENSE_POWER_ON_RESET},
    {SENSE_KEY_DATA_PROTECT, 0, {0}, ANY_CODE, AS_RECEIVED, IDS_SENSE_WRITE_PROTECTED},
};

static int RowMatches(const SenseRow* row, BYTE key, BYTE asc, BYTE ascq) {
    int ascMatches = row->AscCount == 0;

    if (row->Key != key)
        return 0;
    for (int i = 0; i < row->AscCount; i++)
        ascMatches = ascMatches || row->Asc[i] == asc;
    return ascMatches && (row->Ascq == ANY_CODE || row->Ascq == ascq);
}

int DecodePassThroughSense(const BYTE* senseArea) {
    // The key is the whole byte: with a filemark, end-of-medium or
    // incorrect-length bit set it is not recognised.
    BYTE key = senseArea[2];
    BYTE asc = senseArea[12];
    BYTE ascq = senseArea[13];

    if (senseArea[0] & 0x80)
        return 0;
    switch (key) {
    case SENSE_KEY_NOT_READY:
    case SENSE_KEY_HARDWARE_ERROR:
    case SENSE_KEY_ILLEGAL_REQUEST:
    case SENSE_KEY_UNIT_ATTENTION:
    case SENSE_KEY_DATA_PROTECT:
        break;
    default:
        return 0;
    }
    LastSenseError.SenseKey = key;
    if (key == SENSE_KEY_NOT_READY && asc == 0x04)
        LastSenseError.AdditionalSenseCode = asc;
    for (size_t i = 0; i < sizeof SenseTable / sizeof SenseTable[0]; i++) {
        const SenseRow* row = &SenseTable[i];
        if (!RowMatches(row, key, asc, ascq))
            continue;
        LastSenseError.AdditionalSenseCode =
            row->RecordedAsc == AS_RECEIVED ? asc : row->RecordedAsc;
        LastSenseError.AdditionalSenseCodeQualifier = ascq;
        LastSenseError.MessageId = row->MessageId;
        return 1;
    }
    return 0;
}

// ---- Requests ----

// Fills the fields both blocks share (the published structures agree on
// them) from the opened slot and the command.
#define FILL_COMMON_FIELDS(spt, cdb, cdbLength, dataIn)                                            \
    do {                                                                                           \
        (spt).PathId = (UCHAR)OpenedDevice->PathId;                                                \
        (spt).TargetId = OpenedDevice->TargetId;                                                   \
        (spt).Lun = (UCHAR)OpenedDevice->Lun;                                                      \
        (spt).CdbLength = (cdbLength);                                                             \
        (spt).SenseInfoLength = PASS_THROUGH_SENSE_LENGTH;                                         \
        (spt).DataIn = (dataIn);                                                                   \
        (spt).TimeOutValue = PASS_THROUGH_TIMEOUT;                                                 \
        memcpy((spt).Cdb, (cdb), (cdbLength));                                                     \
    } while (0)

// Sends the filled block and judges it; on failure records the system text
// and the sense data. Closes the device either way; 1 on success.
static int Dispatch(DWORD code, void* block, DWORD inSize, DWORD outSize, const UCHAR* scsiStatus,
                    const BYTE* senseArea) {
    DWORD returned = 0;
    DWORD error;
    BOOL done;

    // The code read after a failure then belongs to this request, not to
    // whatever failed before it.
    SetLastError(0);
    done = NtDeviceControl(DeviceHandle, code, block, inSize, block, outSize, &returned);
    if (done && *scsiStatus == 0) {
        CloseDeviceHandle();
        return 1;
    }
    error = GetLastError();
    if (error != 0)
        RecordSystemError(error);
    if (*scsiStatus != 0)
        DecodePassThroughSense(senseArea);
    CloseDeviceHandle();
    return 0;
}

int SendPassThrough(const BYTE* cdb, BYTE cdbLength) {
    PassThroughBlock* request = &PassThroughRequest;

    memset(request, 0, sizeof *request);
    request->Spt.Length = sizeof request->Spt;
    FILL_COMMON_FIELDS(request->Spt, cdb, cdbLength, SCSI_IOCTL_DATA_IN);
    request->Spt.DataTransferLength = 0;
    request->Spt.DataBufferOffset = offsetof(PassThroughBlock, DataArea);
    request->Spt.SenseInfoOffset = offsetof(PassThroughBlock, SenseArea);
    // In: the header alone; out: header, filler and sense area.
    return Dispatch(IOCTL_SCSI_PASS_THROUGH, request, sizeof request->Spt,
                    offsetof(PassThroughBlock, DataArea), &request->Spt.ScsiStatus,
                    request->SenseArea);
}

int SendPassThroughDirect(const BYTE* cdb, BYTE cdbLength, BYTE dataIn, void* buffer,
                          DWORD length) {
    PassThroughDirectBlock* request = &PassThroughDirectRequest;

    memset(request, 0, sizeof *request);
    request->Sptd.Length = sizeof request->Sptd;
    FILL_COMMON_FIELDS(request->Sptd, cdb, cdbLength, dataIn);
    request->Sptd.DataTransferLength = length;
    request->Sptd.DataBuffer = buffer;
    request->Sptd.SenseInfoOffset = offsetof(PassThroughDirectBlock, SenseArea);
    if (!Dispatch(IOCTL_SCSI_PASS_THROUGH_DIRECT, request, sizeof *request, sizeof *request,
                  &request->Sptd.ScsiStatus, request->SenseArea))
        return REQUEST_FAILED;
    // The class driver completed the request without carrying it out.
    if (request->Sptd.DataTransferLength == 0) {
        LastErrorReport.ReportMessageId = IDS_NT_DRIVER_UNSUPPORTED;
        return REQUEST_NOTHING_MOVED;
    }
    return REQUEST_DONE;
}
