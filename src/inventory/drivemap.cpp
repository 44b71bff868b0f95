// Drive letters and class devices of SCSI addresses on Windows NT.
#include "drivemap.h"
#include "scsi/nt/ntdevice.h"
#include "scsi/nt/nttransport.h"
#include <stdio.h>
#include <string.h>

#define ADDRESS_BUFFER_SIZE 260
#define CLASS_DEVICE_LIMIT 64
#define CLASS_NAME_SIZE 16

DriveMapEntry DriveMap[DRIVE_MAP_SIZE];

static char ClassDeviceName[CLASS_NAME_SIZE];

// Class device names by kind.
static const char* const ClassPrefixes[] = {"Scanner", "Tape"};

// Opens "\\.\" + name, asks its SCSI address and closes it again; 1 when
// the address was read. The device has a handle of its own: the scan holds
// the port's device in DeviceHandle meanwhile.
static int ReadDeviceAddress(const char* name, DWORD access, DWORD share, SCSI_ADDRESS* address) {
    BYTE answer[ADDRESS_BUFFER_SIZE];
    DWORD returned = 0;
    HANDLE device = OpenNamedDevice(name, access, share);
    BOOL read;

    if (device == INVALID_HANDLE_VALUE)
        return 0;
    memset(answer, 0, sizeof answer);
    read =
        NtDeviceControl(device, IOCTL_SCSI_GET_ADDRESS, NULL, 0, answer, sizeof answer, &returned);
    NtDeviceClose(device);
    if (!read)
        return 0;
    memcpy(address, answer, sizeof *address);
    return 1;
}

void BuildDriveMap(void) {
    DWORD present = NtLogicalDrives();
    int next = 0;

    if (present == 0)
        return;
    memset(DriveMap, 0, sizeof DriveMap);
    // A, B and X to Z are never examined.
    for (char letter = 'C'; letter <= 'W'; letter++) {
        char root[4] = {letter, ':', '\\', '\0'};
        char name[DRIVE_NAME_SIZE] = {letter, ':', '\0'};
        DWORD access, share;
        SCSI_ADDRESS address;

        if (!(present & (1u << (letter - 'A'))))
            continue;
        switch (NtDriveType(root)) {
        case DRIVE_FIXED:
        case DRIVE_REMOVABLE:
            access = ACCESS_READ_WRITE;
            share = SHARE_READ_WRITE;
            break;
        case DRIVE_CDROM:
            access = ACCESS_READ;
            share = SHARE_READ;
            break;
        default:
            continue;
        }
        if (!ReadDeviceAddress(name, access, share, &address))
            continue;
        DriveMapEntry* entry = &DriveMap[next++];
        CopyText(entry->Name, sizeof entry->Name, name);
        entry->PortNumber = address.PortNumber;
        entry->PathId = address.PathId;
        entry->TargetId = address.TargetId;
        entry->Lun = address.Lun;
    }
}

const char* FindDriveForAddress(DWORD port, DWORD pathId, DWORD targetId) {
    for (int i = 0; i < DRIVE_MAP_SIZE; i++) {
        const DriveMapEntry* entry = &DriveMap[i];
        if (entry->Name[0] != '\0' && entry->PortNumber == port && entry->PathId == pathId &&
            entry->TargetId == targetId)
            return entry->Name;
    }
    return NULL;
}

const char* FindClassDevice(int kind, DWORD port, DWORD pathId, DWORD targetId) {
    for (int n = 0; n < CLASS_DEVICE_LIMIT; n++) {
        SCSI_ADDRESS address;

        // A missing number does not end the search.
        snprintf(ClassDeviceName, sizeof ClassDeviceName, "%s%d", ClassPrefixes[kind], n);
        if (!ReadDeviceAddress(ClassDeviceName, ACCESS_READ_WRITE, SHARE_READ_WRITE, &address))
            continue;
        if (address.PortNumber == port && address.PathId == pathId && address.TargetId == targetId)
            return ClassDeviceName;
    }
    return NULL;
}
