// The NT SCSI port transport: opens the device that reaches a SCSI address,
// hands it one command through the port driver's pass-through controls,
// judges the outcome and records a failure in LastErrorReport and
// LastSenseError. The device is open only inside one operation.
#ifndef NTTRANSPORT_H
#define NTTRANSPORT_H

#include <windows.h>
#include "inventory/inventory.h"
#include "ntblocks.h"

#define PASS_THROUGH_TIMEOUT 2
#define PASS_THROUGH_SENSE_LENGTH 24

// Access and share modes of the NT devices.
#define ACCESS_READ_WRITE (GENERIC_READ | GENERIC_WRITE)
#define ACCESS_READ GENERIC_READ
#define SHARE_READ_WRITE (FILE_SHARE_READ | FILE_SHARE_WRITE)
#define SHARE_READ FILE_SHARE_READ

// "\\.\" and a DevicePath, or a class device or port name of the scan.
#define DEVICE_PATH_BUFFER_SIZE 64

// What a direct request came to.
#define REQUEST_FAILED 0
#define REQUEST_DONE 1
#define REQUEST_NOTHING_MOVED 2 // succeeded, but the class driver moved no data (6100 recorded)

// The one device an NT operation has open; INVALID_HANDLE_VALUE otherwise.
extern HANDLE DeviceHandle;
extern PassThroughBlock PassThroughRequest;
extern PassThroughDirectBlock PassThroughDirectRequest;
extern char DevicePathBuffer[DEVICE_PATH_BUFFER_SIZE];

// Opens "\\.\" + name (built in DevicePathBuffer) for an existing device;
// INVALID_HANDLE_VALUE when it cannot be opened.
HANDLE OpenNamedDevice(const char* name, DWORD access, DWORD share);

// Closes DeviceHandle if it is open.
void CloseDeviceHandle(void);

// Opens the device of the first slot (below TotalDeviceCount) with this
// adapter number and target id. 0, with nothing recorded, when there is no
// such slot, its DevicePath is empty or the open fails.
int OpenDeviceForAddress(BYTE adapterNumber, BYTE targetId);

// Puts the system's text for `code` (at most 63 characters, its last
// character dropped) into LastErrorReport.SystemText and marks the report
// as a system text; 1 when the system had a text.
int RecordSystemError(DWORD code);

// Records recognised fixed-format sense data in LastSenseError; 1 when a
// message was found for it.
int DecodePassThroughSense(const BYTE* senseArea);

// Sends a command that moves no data to the device opened by
// OpenDeviceForAddress, records a failure and closes the device; 1 on success.
int SendPassThrough(const BYTE* cdb, BYTE cdbLength);

// Sends a command that moves `length` bytes (dataIn 1: from the device) to
// the device opened by OpenDeviceForAddress, records a failure and closes
// the device; one of the REQUEST_ values.
int SendPassThroughDirect(const BYTE* cdb, BYTE cdbLength, BYTE dataIn, void* buffer, DWORD length);

#endif
