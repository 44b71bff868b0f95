// The NT bus scan over the SCSI port drivers' inquiry data.
#include "ntscan.h"
#include "inventory/adapterid.h"
#include "inventory/aspiscan.h"
#include "inventory/drivemap.h"
#include "scsi/nt/ntdevice.h"
#include "scsi/nt/nttransport.h"
#include "shell/strings.h"
#include "views/devicelist.h"
#include <stddef.h>
#include <stdio.h>
#include <string.h>

// The INQUIRY bytes a unit's record is made from.
#define UNIT_INQUIRY_SIZE 36
#define UNIT_HEADER_SIZE offsetof(SCSI_INQUIRY_DATA, InquiryData)
#define BUS_DATA_OFFSET offsetof(SCSI_ADAPTER_BUS_INFO, BusData)

// The I/O addresses of the primary and secondary IDE channels.
#define IDE_PRIMARY_ADDRESS 0x1F0
#define IDE_SECONDARY_ADDRESS 0x170

DeviceRecord PortDeviceList[PORT_DEVICE_LIST_SIZE];
int PortDeviceCount;
BYTE PortInquiryData[PORT_INQUIRY_BUFFER_SIZE];

// How a claimed unit's device is found, by peripheral device type.
#define FIND_DRIVE 0
#define FIND_SCANNER 1
#define FIND_HP_SCANNER 2 // a processor device whose vendor contains "HP"
#define FIND_TAPE 3

typedef struct {
    BYTE PeripheralType;
    int Search;
    DWORD Access;
    DWORD Share;
    BOOL ModeAlways; // access and share are set even when no device is found
} ClaimedDeviceRow;

static const ClaimedDeviceRow ClaimedDeviceTable[] = {
    {0x00, FIND_DRIVE, ACCESS_READ_WRITE, SHARE_READ_WRITE, TRUE},       // direct access
    {0x04, FIND_DRIVE, ACCESS_READ_WRITE, SHARE_READ_WRITE, TRUE},       // write-once
    {0x07, FIND_DRIVE, ACCESS_READ_WRITE, SHARE_READ_WRITE, TRUE},       // optical memory
    {0x05, FIND_DRIVE, ACCESS_READ, SHARE_READ, TRUE},                   // CD-ROM
    {0x08, FIND_DRIVE, ACCESS_READ, SHARE_READ, TRUE},                   // medium changer
    {0x06, FIND_SCANNER, ACCESS_READ_WRITE, SHARE_READ_WRITE, FALSE},    // scanner
    {0x03, FIND_HP_SCANNER, ACCESS_READ_WRITE, SHARE_READ_WRITE, FALSE}, // processor
    {0x01, FIND_TAPE, ACCESS_READ_WRITE, SHARE_READ_WRITE, FALSE},       // sequential access
};

// Each SCSI port record has per slots: 16, or 8 when HighestTargetId is 7.
static int SlotsPerAdapter(void) {
    return HighestTargetId == 15 ? 16 : 8;
}

void RecordBusInfo(const BYTE* buffer, int adapterIndex) {
    HostAdapterRecord* record = &HostAdapterTable[adapterIndex];
    SCSI_BUS_DATA bus0;

    memcpy(&bus0, buffer + BUS_DATA_OFFSET, sizeof bus0);
    record->BusCount = buffer[0];
    // Bus 0's unit count is the list length PlaceAdapterDevices reads first.
    record->DeviceCount = bus0.NumberOfLogicalUnits;
    record->HostScsiId = bus0.InitiatorBusId;
}

// The device that reaches a claimed unit, from its type: a drive letter or
// a class device; none for types no class driver here offers.
static void NameClaimedDevice(DeviceRecord* unit, BYTE type) {
    const char* found = NULL;

    for (size_t i = 0; i < sizeof ClaimedDeviceTable / sizeof ClaimedDeviceTable[0]; i++) {
        const ClaimedDeviceRow* row = &ClaimedDeviceTable[i];
        DWORD port = unit->AdapterNumber, bus = (DWORD)unit->PathId, target = unit->TargetId;

        if (row->PeripheralType != type)
            continue;
        if (row->Search == FIND_DRIVE)
            found = FindDriveForAddress(port, bus, target);
        else if (row->Search == FIND_SCANNER ||
                 (row->Search == FIND_HP_SCANNER && strstr(unit->Vendor, "HP") != NULL))
            found = FindClassDevice(CLASS_SCANNER, port, bus, target);
        else if (row->Search == FIND_TAPE)
            found = FindClassDevice(CLASS_TAPE, port, bus, target);
        if (found != NULL)
            CopyText(unit->DevicePath, sizeof unit->DevicePath, found);
        if (found != NULL || row->ModeAlways) {
            unit->OpenAccess = row->Access;
            unit->OpenShare = row->Share;
        }
        return;
    }
}

// Fills one list entry from a unit's header and INQUIRY data.
static void RecordUnit(DeviceRecord* unit, const HostAdapterRecord* record,
                       const SCSI_INQUIRY_DATA* header, const BYTE* inquiry) {
    BYTE type = inquiry[0] & 0x1F;

    memset(unit, 0, sizeof *unit);
    CopyText(unit->AdapterIdentifier, sizeof unit->AdapterIdentifier, record->Identifier);
    unit->AdapterNumber = record->AdapterNumber;
    unit->PathId = 0;
    unit->TargetId = header->TargetId;
    unit->Lun = header->Lun;
    CopyTextField(unit->Vendor, sizeof unit->Vendor, inquiry + 8, 8);
    CopyTextField(unit->Product, sizeof unit->Product, inquiry + 16, 16);
    CopyTextField(unit->Revision, sizeof unit->Revision, inquiry + 32, 4);
    unit->RemovableMedia = (inquiry[1] >> 7) & 1;
    CopyText(unit->TypeText, 16, GetDeviceTypeText(type, unit->RemovableMedia));
    unit->SyncTransfer = (inquiry[7] >> 4) & 1;
    unit->Wide16 = (inquiry[7] >> 5) & 1;
    unit->Wide32 = (inquiry[7] >> 6) & 1;
    unit->AnsiVersion = inquiry[2] & 0x07;
    if (header->DeviceClaimed == 1) {
        NameClaimedDevice(unit, type);
        return;
    }
    // No class driver owns the unit: the port device reaches it by its
    // bus, target and logical unit.
    snprintf(unit->DevicePath, sizeof unit->DevicePath, "SCSI%u:", (unsigned)record->AdapterNumber);
    unit->OpenAccess = ACCESS_READ_WRITE;
    unit->OpenShare = SHARE_READ_WRITE;
}

void ParsePortInquiryData(const BYTE* buffer, int adapterIndex) {
    const HostAdapterRecord* record = &HostAdapterTable[adapterIndex];
    SCSI_BUS_DATA bus0;
    DWORD offset;

    BuildDriveMap();
    PortDeviceCount = 0;
    // Only bus 0 is read: the slots of an adapter are chosen by target id
    // alone, so the units of a second bus would take the places of bus 0's.
    if (buffer[0] == 0)
        return;
    memcpy(&bus0, buffer + BUS_DATA_OFFSET, sizeof bus0);
    // 0 ends the chain; so does an entry that does not lie wholly inside
    // the answer, and a full list (which also ends a chain that loops).
    for (offset = bus0.InquiryDataOffset; offset != 0 && PortDeviceCount < PORT_DEVICE_LIST_SIZE;) {
        SCSI_INQUIRY_DATA header;
        BYTE inquiry[UNIT_INQUIRY_SIZE];
        DWORD length;

        if (offset > PORT_INQUIRY_BUFFER_SIZE - UNIT_HEADER_SIZE)
            return;
        memcpy(&header, buffer + offset, UNIT_HEADER_SIZE);
        if (header.InquiryDataLength > PORT_INQUIRY_BUFFER_SIZE - UNIT_HEADER_SIZE - offset)
            return;
        // Bytes the port driver did not keep read as 0.
        length = header.InquiryDataLength < sizeof inquiry ? header.InquiryDataLength
                                                           : (DWORD)sizeof inquiry;
        memset(inquiry, 0, sizeof inquiry);
        memcpy(inquiry, buffer + offset + UNIT_HEADER_SIZE, length);
        RecordUnit(&PortDeviceList[PortDeviceCount++], record, &header, inquiry);
        offset = header.NextInquiryDataOffset;
    }
}

// Copies a placed unit into its slot; the feature texts, the serial number
// and the picture stay as they are.
static void PlaceUnit(DeviceRecord* slot, const DeviceRecord* unit) {
    CopyText(slot->AdapterIdentifier, sizeof slot->AdapterIdentifier, unit->AdapterIdentifier);
    CopyText(slot->Vendor, sizeof slot->Vendor, unit->Vendor);
    CopyText(slot->Product, sizeof slot->Product, unit->Product);
    CopyText(slot->Revision, sizeof slot->Revision, unit->Revision);
    CopyText(slot->TypeText, sizeof slot->TypeText, unit->TypeText);
    CopyText(slot->DevicePath, sizeof slot->DevicePath, unit->DevicePath);
    slot->OpenAccess = unit->OpenAccess;
    slot->OpenShare = unit->OpenShare;
    slot->TargetId = unit->TargetId;
    slot->Lun = unit->Lun;
    slot->AdapterNumber = unit->AdapterNumber;
    slot->PathId = unit->PathId;
    slot->SyncTransfer = unit->SyncTransfer;
    slot->RemovableMedia = unit->RemovableMedia;
    slot->Wide16 = unit->Wide16;
    slot->Wide32 = unit->Wide32;
    slot->AnsiVersion = unit->AnsiVersion;
}

// The type texts of the adapter's row and of empty targets are the loaded
// strings the pictures are chosen by, as on the ASPI path, so that the rows
// are listed in every language ("Host Adapter" and "No Device" in English).
static void FillAdapterRow(DeviceRecord* slot, const HostAdapterRecord* record) {
    CopyText(slot->AdapterIdentifier, sizeof slot->AdapterIdentifier, record->Identifier);
    CopyText(slot->TypeText, sizeof slot->TypeText, TextHostAdapter);
    CopyText(slot->Product, sizeof slot->Product, record->Identifier);
    CopyText(slot->Vendor, sizeof slot->Vendor, record->Manufacturer);
    CopyText(slot->Revision, sizeof slot->Revision, record->Version);
    slot->TargetId = (BYTE)record->HostScsiId;
    slot->AdapterNumber = record->AdapterNumber;
    slot->PathId = 0;
}

static void FillNoDeviceRow(DeviceRecord* slot, const HostAdapterRecord* record, int target) {
    CopyText(slot->AdapterIdentifier, sizeof slot->AdapterIdentifier, record->Identifier);
    CopyText(slot->Vendor, sizeof slot->Vendor, " ");
    CopyText(slot->Product, sizeof slot->Product, "No Device");
    CopyText(slot->Revision, sizeof slot->Revision, " ");
    CopyText(slot->TypeText, sizeof slot->TypeText, TextTypeNoDevice);
    slot->OpenAccess = ACCESS_READ_WRITE;
    slot->OpenShare = SHARE_READ_WRITE;
    slot->TargetId = (BYTE)target;
    slot->Lun = 0;
    slot->AdapterNumber = record->AdapterNumber;
    slot->PathId = 0;
    slot->SyncTransfer = slot->RemovableMedia = slot->Wide16 = slot->Wide32 = 0;
    slot->AnsiVersion = 0;
}

void PlaceAdapterDevices(int adapterIndex) {
    HostAdapterRecord* record = &HostAdapterTable[adapterIndex];
    int per = SlotsPerAdapter();
    int base = adapterIndex * per;
    int count = record->DeviceCount < PortDeviceCount ? record->DeviceCount : PortDeviceCount;
    int found = 0;

    // An adapter whose block lies beyond the 64 slots (a fifth one of 16)
    // keeps its record but gets no rows.
    if (base + per > MAX_DEVICE_SLOTS) {
        record->DeviceCount = 0;
        return;
    }
    // Only logical unit 0 is recorded, and only a target id inside the
    // adapter's block.
    for (int k = 0; k < count; k++) {
        const DeviceRecord* unit = &PortDeviceList[k];
        if (unit->Lun == 0 && unit->TargetId < per)
            PlaceUnit(&DeviceTable[base + unit->TargetId], unit);
    }
    for (int t = 0; t < per; t++) {
        DeviceRecord* slot = &DeviceTable[base + t];
        if ((DWORD)t == record->HostScsiId)
            FillAdapterRow(slot, record);
        else if (slot->TypeText[0] != '\0')
            found++;
        else
            FillNoDeviceRow(slot, record, t);
        TotalDeviceCount++;
    }
    record->DeviceCount = found;
}

// Asks the open port device for its inquiry data; 1 when it answered.
static int ReadPortInquiryData(void) {
    DWORD returned = 0;

    memset(PortInquiryData, 0, sizeof PortInquiryData);
    return NtDeviceControl(DeviceHandle, IOCTL_SCSI_GET_INQUIRY_DATA, NULL, 0, PortInquiryData,
                           sizeof PortInquiryData, &returned);
}

static int IsIdeChannel(int port) {
    int address = GetPortIoAddress(port);
    return address == IDE_PRIMARY_ADDRESS || address == IDE_SECONDARY_ADDRESS;
}

int EnumerateScsiPorts(void) {
    int index = 0;

    TotalDeviceCount = 0;
    for (int port = 0; port < NT_PORT_COUNT; port++) {
        char name[16];
        HostAdapterRecord* record = &HostAdapterTable[index];
        int per = SlotsPerAdapter();

        if (IsIdeChannel(port))
            continue;
        snprintf(name, sizeof name, "SCSI%d:", port);
        DeviceHandle = OpenNamedDevice(name, ACCESS_READ_WRITE, SHARE_READ_WRITE);
        if (DeviceHandle == INVALID_HANDLE_VALUE)
            return 0;
        AdapterCount++;
        record->AdapterNumber = (BYTE)port;
        snprintf(record->ManagerId, sizeof record->ManagerId, "Scsi Port %d", port);
        IdentifyHostAdapter(port, index);
        if (!ReadPortInquiryData()) {
            CloseDeviceHandle();
            return 0;
        }
        RecordBusInfo(PortInquiryData, index);
        ParsePortInquiryData(PortInquiryData, index);
        PlaceAdapterDevices(index);
        record->MaxTargets = per;
        for (int slot = index * per; slot < (index + 1) * per && slot < MAX_DEVICE_SLOTS; slot++)
            SetDeviceImage(&DeviceTable[slot]);
        CloseDeviceHandle();
        index++;
    }
    return 1;
}
