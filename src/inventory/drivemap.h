// Which NT device reaches a SCSI address that a class driver has claimed: a
// drive letter for disks, write-once, optical, CD-ROM and changer devices,
// the class device \\.\ScannerN or \\.\TapeN for scanners and tapes. Each
// candidate is asked for its SCSI address with IOCTL_SCSI_GET_ADDRESS.
#ifndef DRIVEMAP_H
#define DRIVEMAP_H

#include <windows.h>

#define DRIVE_MAP_SIZE 24
#define DRIVE_NAME_SIZE 4

typedef struct {
    char Name[DRIVE_NAME_SIZE]; // "C:"; empty: no drive
    DWORD PortNumber;
    DWORD PathId;
    DWORD TargetId;
    DWORD Lun;
} DriveMapEntry;

// The drives the last BuildDriveMap resolved, in drive-letter order.
extern DriveMapEntry DriveMap[DRIVE_MAP_SIZE];

// Kinds of class device FindClassDevice looks for.
#define CLASS_SCANNER 0
#define CLASS_TAPE 1

// Rebuilds DriveMap from the drives C: to W: present now (fixed, removable
// and CD-ROM drives whose SCSI address can be read).
void BuildDriveMap(void);

// The name of the first drive at this port, bus and target id; NULL when
// none. The logical unit is not compared.
const char* FindDriveForAddress(DWORD port, DWORD pathId, DWORD targetId);

// The name (without "\\.\") of the scanner or tape class device at this
// port, bus and target id, searched from number 0 to 63; NULL when none.
const char* FindClassDevice(int kind, DWORD port, DWORD pathId, DWORD targetId);

#endif
