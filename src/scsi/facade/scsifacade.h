// The SCSI command facade: every SCSI command of the program goes through
// these operations, which carry it over ASPI when UseAspi is 1 and over the
// NT pass-through otherwise. The device is named by adapter number and
// target id; the logical unit is always 0.
#ifndef SCSIFACADE_H
#define SCSIFACADE_H

#include <windows.h>
#include "wnaspi32.h"

// ASPI only: SC_HA_INQUIRY into the caller's zeroed block; the ASPI status.
DWORD ScsiHostAdapterInquiry(SRB_HAInquiry* block, BYTE index);

int ScsiTestUnitReady(BYTE adapter, BYTE target);
int ScsiWriteBuffer(BYTE adapter, BYTE target);
// 1 when the data read back matches the test pattern.
int ScsiReadBuffer(BYTE adapter, BYTE target);
// The device's buffer capacity in bytes; 0 on failure.
DWORD ScsiReadBufferDescriptor(BYTE adapter, BYTE target);
int ScsiSeek(BYTE adapter, BYTE target, DWORD address);
// The buffer receives blockLength * blockCount bytes.
int ScsiRead10(BYTE adapter, BYTE target, DWORD address, DWORD blockLength, DWORD blockCount,
               BYTE* buffer);
// 1 when a serial number was stored in `text` (256 bytes).
int ScsiInquirySerialNumber(BYTE adapter, BYTE target, char* text);
// `data` (8 bytes) receives the raw READ CAPACITY data.
int ScsiReadCapacity(BYTE adapter, BYTE target, BYTE* data);
// Bit 0 RCD, bit 2 WCE; FFh when the page could not be read.
BYTE ScsiModeSenseCaching(BYTE adapter, BYTE target);
// Medium rotation rate in rpm; 0 on failure.
WORD ScsiModeSenseRigidDisk(BYTE adapter, BYTE target);

#endif
