// NT pass-through implementations of the facade's commands. Each opens the
// device of its address, sends one command through the transport (which
// closes the device again) and turns the outcome into the facade's result.
#include "ntcommands.h"
#include "scsi/serialpage.h"
#include "nttransport.h"
#include "scsi/sense.h"
#include "shell/message.h"
#include <stdlib.h>
#include <string.h>

#define TRANSFER_BUFFER_SIZE 2048
#define SMALL_BUFFER_SIZE 256
#define SMALL_TRANSFER 255
#define DESCRIPTOR_BUFFER_SIZE 512
#define DESCRIPTOR_LENGTH 5
#define CAPACITY_LENGTH 8
#define PAGE_CACHING 0x08
#define PAGE_RIGID_DISK 0x04
#define CACHING_BITS 0x05 // RCD and WCE
#define CACHING_FAILED 0xFF
// Only these bytes of the READ BUFFER data are compared with the pattern.
#define COMPARE_FIRST 4
#define COMPARE_END 512

// Allocated by WRITE BUFFER and READ BUFFER for one call; NULL between calls.
BYTE* TransferBuffer;

// Own buffers of the serial number INQUIRY, both MODE SENSE commands and the
// descriptor READ BUFFER.
static BYTE SmallData[SMALL_BUFFER_SIZE];
static BYTE DescriptorData[DESCRIPTOR_BUFFER_SIZE];

static BYTE PatternByte(int offset) {
    return (offset % 2 == 0) ? 0xAA : 0x55;
}

// Allocates TransferBuffer; says so and closes the device when there is no
// memory for it.
static int AllocateTransferBuffer(void) {
    TransferBuffer = (BYTE*)malloc(TRANSFER_BUFFER_SIZE);
    if (TransferBuffer != NULL)
        return 1;
    ShowProgramMessage(NULL, IDS_MSG_NO_GLOBAL_MEMORY, MB_OK);
    CloseDeviceHandle();
    return 0;
}

static void ReleaseTransferBuffer(void) {
    free(TransferBuffer);
    TransferBuffer = NULL;
}

// Opens the device and sends a command that moves no data; 1 or 0.
static int RunPlainCommand(BYTE adapter, BYTE target, const BYTE* cdb, BYTE cdbLength) {
    if (!OpenDeviceForAddress(adapter, target))
        return 0;
    return SendPassThrough(cdb, cdbLength);
}

// Opens the device and reads `length` bytes into `buffer`; a REQUEST_ value.
static int RunReadCommand(BYTE adapter, BYTE target, const BYTE* cdb, BYTE cdbLength, BYTE* buffer,
                          DWORD length) {
    if (!OpenDeviceForAddress(adapter, target))
        return REQUEST_FAILED;
    return SendPassThroughDirect(cdb, cdbLength, SCSI_IOCTL_DATA_IN, buffer, length);
}

int PassThroughTestUnitReady(BYTE adapter, BYTE target) {
    static const BYTE cdb[6] = {0x00, 0, 0, 0, 0, 0};
    return RunPlainCommand(adapter, target, cdb, sizeof cdb);
}

int PassThroughSeek(BYTE adapter, BYTE target, DWORD address) {
    BYTE cdb[6] = {0x0B, 0, 0, 0, 0, 0};

    // Bits 16-23 of the address go whole into byte 1.
    cdb[1] = (BYTE)(address >> 16);
    cdb[2] = (BYTE)(address >> 8);
    cdb[3] = (BYTE)address;
    return RunPlainCommand(adapter, target, cdb, sizeof cdb);
}

int PassThroughWriteBuffer(BYTE adapter, BYTE target) {
    static const BYTE cdb[10] = {0x3B, 0x02, 0, 0, 0, 0, 0x00, 0x08, 0x00, 0};
    int outcome;

    if (!OpenDeviceForAddress(adapter, target))
        return 0;
    if (!AllocateTransferBuffer())
        return 0;
    for (int i = 0; i < TRANSFER_BUFFER_SIZE; i++)
        TransferBuffer[i] = PatternByte(i);
    outcome = SendPassThroughDirect(cdb, sizeof cdb, SCSI_IOCTL_DATA_OUT, TransferBuffer,
                                    TRANSFER_BUFFER_SIZE);
    ReleaseTransferBuffer();
    return outcome == REQUEST_DONE;
}

int PassThroughReadBuffer(BYTE adapter, BYTE target) {
    static const BYTE cdb[10] = {0x3C, 0x02, 0, 0, 0, 0, 0x00, 0x08, 0x00, 0};

    if (!OpenDeviceForAddress(adapter, target))
        return 0;
    if (!AllocateTransferBuffer())
        return 0;
    memset(TransferBuffer, 0, TRANSFER_BUFFER_SIZE);
    if (SendPassThroughDirect(cdb, sizeof cdb, SCSI_IOCTL_DATA_IN, TransferBuffer,
                              TRANSFER_BUFFER_SIZE) != REQUEST_DONE) {
        ReleaseTransferBuffer();
        return 0;
    }
    for (int i = COMPARE_FIRST; i < COMPARE_END; i++) {
        if (TransferBuffer[i] != PatternByte(i)) {
            LastErrorReport.ReportMessageId = IDS_READ_BUFFER_FAILED;
            ReleaseTransferBuffer();
            return 0;
        }
    }
    ReleaseTransferBuffer();
    return 1;
}

DWORD PassThroughReadBufferDescriptor(BYTE adapter, BYTE target) {
    static const BYTE cdb[10] = {0x3C, 0x03, 0, 0, 0, 0, 0x00, 0x00, DESCRIPTOR_LENGTH, 0};

    memset(DescriptorData, 0, sizeof DescriptorData);
    if (RunReadCommand(adapter, target, cdb, sizeof cdb, DescriptorData, DESCRIPTOR_LENGTH) !=
        REQUEST_DONE)
        return 0;
    if (DescriptorData[1] == 0xFF)
        return 0;
    return ((DWORD)DescriptorData[1] << 16) | ((DWORD)DescriptorData[2] << 8) | DescriptorData[3];
}

int PassThroughInquirySerialNumber(BYTE adapter, BYTE target, char* text) {
    static const BYTE cdb[6] = {0x12, 0x01, 0x80, 0x00, 0xFF, 0x00};
    memset(SmallData, 0, sizeof SmallData);
    switch (RunReadCommand(adapter, target, cdb, sizeof cdb, SmallData, SMALL_TRANSFER)) {
    case REQUEST_FAILED:
        return 0;
    case REQUEST_NOTHING_MOVED:
        strcpy(text, "????");
        return 0;
    }
    if (!CopySerialNumber(SmallData, SMALL_TRANSFER, text)) {
        strcpy(text, "????");
        return 0;
    }
    return 1;
}

int PassThroughReadCapacity(BYTE adapter, BYTE target, BYTE* data) {
    static const BYTE cdb[10] = {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    return RunReadCommand(adapter, target, cdb, sizeof cdb, data, CAPACITY_LENGTH) == REQUEST_DONE;
}

int PassThroughRead10(BYTE adapter, BYTE target, DWORD address, DWORD blockLength, DWORD blockCount,
                      BYTE* buffer) {
    BYTE cdb[10] = {0x28, 0, 0, 0, 0, 0, 0, 0, 0, 0};

    // The CDB carries a 16-bit block count and the request a 32-bit length:
    // refuse what would not fit rather than send a mismatched request.
    if (blockCount > 0xFFFF || (blockLength != 0 && blockCount > 0xFFFFFFFFu / blockLength))
        return 0;
    cdb[2] = (BYTE)(address >> 24);
    cdb[3] = (BYTE)(address >> 16);
    cdb[4] = (BYTE)(address >> 8);
    cdb[5] = (BYTE)address;
    cdb[7] = (BYTE)(blockCount >> 8);
    cdb[8] = (BYTE)blockCount;
    return RunReadCommand(adapter, target, cdb, sizeof cdb, buffer, blockLength * blockCount) ==
           REQUEST_DONE;
}

BYTE PassThroughModeSenseCaching(BYTE adapter, BYTE target) {
    static const BYTE cdb[6] = {0x1A, 0x08, PAGE_CACHING, 0x00, 0xFF, 0x00};

    memset(SmallData, 0, sizeof SmallData);
    if (RunReadCommand(adapter, target, cdb, sizeof cdb, SmallData, SMALL_TRANSFER) != REQUEST_DONE)
        return CACHING_FAILED;
    // The page is taken to follow the 4-byte header directly (no block
    // descriptor is asked for); its byte 2 holds RCD and WCE.
    return SmallData[6] & CACHING_BITS;
}

WORD PassThroughModeSenseRigidDisk(BYTE adapter, BYTE target) {
    static const BYTE cdb[6] = {0x1A, 0x08, PAGE_RIGID_DISK, 0x00, 0xFF, 0x00};

    memset(SmallData, 0, sizeof SmallData);
    if (RunReadCommand(adapter, target, cdb, sizeof cdb, SmallData, SMALL_TRANSFER) != REQUEST_DONE)
        return 0;
    // Page bytes 20-21: the medium rotation rate.
    return (WORD)((SmallData[24] << 8) | SmallData[25]);
}
