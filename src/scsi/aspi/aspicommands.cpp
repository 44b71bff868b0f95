// ASPI implementations of the facade's commands. The synchronous ones run
// in AspiSrb through ExecuteAndPoll; SEEK and READ(10) are event-notified.
#include "aspicommands.h"
#include "scsi/serialpage.h"
#include "aspitransport.h"
#include "inventory/inventory.h"
#include "scsi/sense.h"
#include <string.h>

BYTE BufferTestPattern[BUFFER_TEST_SIZE];

#define SMALL_BUFFER_SIZE 256
#define SMALL_TRANSFER 255
#define PAGE_CACHING 0x08
#define PAGE_RIGID_DISK 0x04

// Data buffers of the synchronous commands. A request the library still
// holds after its time limit may write its data late, so they are static.
static BYTE BufferData[BUFFER_TEST_SIZE];
static BYTE SmallData[SMALL_BUFFER_SIZE];
static BYTE CapacityData[READ_CAPACITY_SIZE];

// The event-notified request block of SEEK and READ(10), static for the
// same reason.
static SRB_ExecSCSICmd EventSrb;

static void FillTestPattern(void) {
    for (int i = 0; i < BUFFER_TEST_SIZE; i++)
        BufferTestPattern[i] = (i % 2 == 0) ? 0xAA : 0x55;
}

// Clears AspiSrb and fills the common fields of a synchronous command.
static void PrepareRequest(BYTE adapter, BYTE target, BYTE flags, BYTE* buffer, DWORD length,
                           const BYTE* cdb, BYTE cdbLength) {
    ClearSrb(&AspiSrb);
    AspiSrb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    AspiSrb.SRB_HaId = adapter;
    AspiSrb.SRB_Flags = flags;
    AspiSrb.SRB_Target = target;
    AspiSrb.SRB_Lun = 0;
    AspiSrb.SRB_BufLen = length;
    AspiSrb.SRB_BufPointer = buffer;
    AspiSrb.SRB_CDBLen = cdbLength;
    memcpy(AspiSrb.CDBByte, cdb, cdbLength);
}

// Result of a command judged by its request status: 1 for SS_COMP, else 0;
// after a time-out the abort's verdict (1 when the adapter accepted it).
static int StatusResult(int outcome) {
    if (outcome == EXECUTE_COMPLETED)
        return AspiSrb.SRB_Status == SS_COMP ? 1 : 0;
    return outcome == EXECUTE_ABORTED ? 1 : 0;
}

// The checks of the short-transfer commands: an underrun is accepted, any
// other failure with a sense key or a status other than SS_COMP is not.
static int ShortTransferCompleted(void) {
    if (AspiSrb.SRB_HaStat != HASTAT_DO_DU && AspiSrb.SenseArea[2] != 0)
        return 0;
    return AspiSrb.SRB_Status == SS_COMP ? 1 : 0;
}

// Finds a mode page after the 4-byte mode parameter header and any block
// descriptors; NULL when the data holds no such page with `needed` bytes.
static const BYTE* FindModePage(BYTE page, DWORD needed) {
    DWORD offset = 4 + SmallData[3];
    if (offset + needed > SMALL_TRANSFER)
        return NULL;
    if ((SmallData[offset] & 0x3F) != page)
        return NULL;
    return SmallData + offset;
}

int AspiTestUnitReady(BYTE adapter, BYTE target) {
    static const BYTE cdb[6] = {0x00, 0, 0, 0, 0, 0};
    PrepareRequest(adapter, target, 0, NULL, 0, cdb, sizeof cdb);
    return StatusResult(ExecuteAndPoll(TIMEOUT_TEST_UNIT_READY, 1));
}

int AspiWriteBuffer(BYTE adapter, BYTE target) {
    static const BYTE cdb[10] = {0x3B, 0x02, 0, 0, 0, 0, 0x00, 0x02, 0x00, 0};
    FillTestPattern();
    memcpy(BufferData, BufferTestPattern, sizeof BufferData);
    PrepareRequest(adapter, target, SRB_DIR_OUT, BufferData, sizeof BufferData, cdb, sizeof cdb);
    return StatusResult(ExecuteAndPoll(TIMEOUT_WRITE_BUFFER, 1));
}

int AspiReadBuffer(BYTE adapter, BYTE target) {
    static const BYTE cdb[10] = {0x3C, 0x02, 0, 0, 0, 0, 0x00, 0x02, 0x00, 0};
    FillTestPattern();
    memset(BufferData, 0, sizeof BufferData);
    PrepareRequest(adapter, target, SRB_DIR_IN, BufferData, sizeof BufferData, cdb, sizeof cdb);
    int outcome = ExecuteAndPoll(TIMEOUT_READ_BUFFER, 1);
    if (outcome != EXECUTE_COMPLETED)
        return StatusResult(outcome);
    if (AspiSrb.SRB_Status != SS_COMP)
        return 0;
    // The first four bytes are not compared.
    for (int i = 4; i < BUFFER_TEST_SIZE; i++) {
        if (BufferData[i] != BufferTestPattern[i]) {
            LastErrorReport.ReportMessageId = IDS_READ_BUFFER_FAILED;
            return 0;
        }
    }
    return 1;
}

DWORD AspiReadBufferDescriptor(BYTE adapter, BYTE target) {
    static const BYTE cdb[10] = {0x3C, 0x03, 0, 0, 0, 0, 0x00, 0x00, 0x08, 0};
    memset(&AspiSrb, 0, sizeof AspiSrb);
    memset(SmallData, 0, sizeof SmallData);
    PrepareRequest(adapter, target, SRB_DIR_IN, SmallData, 8, cdb, sizeof cdb);
    if (ExecuteAndPoll(TIMEOUT_READ_BUFFER_DESCRIPTOR, 1) != EXECUTE_COMPLETED)
        return 0;
    if (AspiSrb.SRB_Status != SS_COMP || SmallData[1] == 0xFF)
        return 0;
    return ((DWORD)SmallData[1] << 16) | ((DWORD)SmallData[2] << 8) | SmallData[3];
}

int AspiInquirySerialNumber(BYTE adapter, BYTE target, char* text) {
    static const BYTE cdb[6] = {0x12, 0x01, 0x80, 0x00, 0xFF, 0x00};
    memset(SmallData, 0, sizeof SmallData);
    PrepareRequest(adapter, target, SRB_DIR_IN, SmallData, SMALL_TRANSFER, cdb, sizeof cdb);
    if (ExecuteAndPoll(TIMEOUT_SERIAL_NUMBER, 1) != EXECUTE_COMPLETED)
        return 0;
    if (!ShortTransferCompleted())
        return 0;
    return CopySerialNumber(SmallData, SMALL_TRANSFER, text);
}

int AspiReadCapacity(BYTE adapter, BYTE target, BYTE* data) {
    static const BYTE cdb[10] = {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    memset(CapacityData, 0, sizeof CapacityData);
    PrepareRequest(adapter, target, SRB_DIR_IN, CapacityData, sizeof CapacityData, cdb, sizeof cdb);
    int result = StatusResult(ExecuteAndPoll(TIMEOUT_READ_CAPACITY, 1));
    memcpy(data, CapacityData, sizeof CapacityData);
    return result;
}

BYTE AspiModeSenseCaching(BYTE adapter, BYTE target) {
    static const BYTE cdb[6] = {0x1A, 0x08, PAGE_CACHING, 0x00, 0xFF, 0x00};
    memset(SmallData, 0, sizeof SmallData);
    PrepareRequest(adapter, target, SRB_DIR_IN, SmallData, SMALL_TRANSFER, cdb, sizeof cdb);
    if (ExecuteAndPoll(TIMEOUT_MODE_SENSE, 1) != EXECUTE_COMPLETED)
        return CACHING_UNKNOWN;
    if (!ShortTransferCompleted())
        return CACHING_UNKNOWN;
    const BYTE* page = FindModePage(PAGE_CACHING, 3);
    if (page == NULL)
        return CACHING_UNKNOWN;
    return page[2] & (CACHING_RCD | CACHING_WCE);
}

WORD AspiModeSenseRigidDisk(BYTE adapter, BYTE target) {
    static const BYTE cdb[6] = {0x1A, 0x08, PAGE_RIGID_DISK, 0x00, 0xFF, 0x00};
    memset(SmallData, 0, sizeof SmallData);
    PrepareRequest(adapter, target, SRB_DIR_IN, SmallData, SMALL_TRANSFER, cdb, sizeof cdb);
    if (ExecuteAndPoll(TIMEOUT_MODE_SENSE, 1) != EXECUTE_COMPLETED)
        return 0;
    if (!ShortTransferCompleted())
        return 0;
    const BYTE* page = FindModePage(PAGE_RIGID_DISK, 22);
    if (page == NULL)
        return 0;
    return (WORD)((page[20] << 8) | page[21]);
}

// Sends EventSrb, waits for its event and judges it. A request that had to
// be aborted read or sought nothing, so it fails whatever its status says.
static int ExecuteWithEvent(BYTE adapter) {
    if (SendAspi32Command == NULL) {
        EventSrb.SRB_Status = SS_NO_ASPI;
        return 0;
    }
    ArmCompletionEvent(&EventSrb);
    SendAspi32Command(&EventSrb);
    if (!WaitForCompletionEvent(&EventSrb, adapter))
        return 0;
    int result = IsCommandSuccessful(&EventSrb);
    if (!result)
        DecodeSenseData(&EventSrb);
    return result;
}

// Clears EventSrb and fills it for one event-notified command.
static void PrepareEventRequest(BYTE adapter, BYTE target, BYTE flags, BYTE* buffer, DWORD length,
                                const BYTE* cdb, BYTE cdbLength) {
    memset(&EventSrb, 0, sizeof EventSrb);
    EventSrb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    EventSrb.SRB_HaId = adapter;
    EventSrb.SRB_Flags = flags;
    EventSrb.SRB_Target = target;
    EventSrb.SRB_BufLen = length;
    EventSrb.SRB_BufPointer = buffer;
    EventSrb.SRB_SenseLen = SENSE_LEN;
    EventSrb.SRB_CDBLen = cdbLength;
    memcpy(EventSrb.CDBByte, cdb, cdbLength);
}

int AspiSeek(BYTE adapter, BYTE target, DWORD address) {
    BYTE cdb[6] = {0x0B, (BYTE)(address >> 16), (BYTE)(address >> 8), (BYTE)address, 0, 0};
    PrepareEventRequest(adapter, target, SRB_EVENT_NOTIFY, NULL, 0, cdb, sizeof cdb);
    return ExecuteWithEvent(adapter);
}

int AspiRead10(BYTE adapter, BYTE target, DWORD address, DWORD blockLength, DWORD blockCount,
               BYTE* buffer) {
    // The CDB carries a 16-bit block count and the request a 32-bit length:
    // refuse what would not fit rather than send a mismatched request.
    if (blockCount > 0xFFFF || (blockLength != 0 && blockCount > 0xFFFFFFFFu / blockLength))
        return 0;
    BYTE cdb[10] = {
        0x28,          0, (BYTE)(address >> 24),   (BYTE)(address >> 16), (BYTE)(address >> 8),
        (BYTE)address, 0, (BYTE)(blockCount >> 8), (BYTE)blockCount,      0};
    PrepareEventRequest(adapter, target, SRB_DIR_IN | SRB_EVENT_NOTIFY, buffer,
                        blockLength * blockCount, cdb, sizeof cdb);
    return ExecuteWithEvent(adapter);
}
