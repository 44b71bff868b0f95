// The bus scan on Windows NT without ASPI: every SCSI port device is asked
// for the inquiry data its port driver gathered at system start; no SCSI
// command is sent to any device. Each port fills one HostAdapterRecord and
// one block of DeviceTable slots (adapter index x 16 + target id, x 8 when
// HighestTargetId is 7): the devices, the adapter's own row and "No Device"
// rows.
#ifndef NTSCAN_H
#define NTSCAN_H

#include <windows.h>
#include "inventory/inventory.h"

#define PORT_INQUIRY_BUFFER_SIZE 2048
#define PORT_DEVICE_LIST_SIZE 64
#define NT_PORT_COUNT 7

// The logical units of the port being scanned, before they are placed.
extern DeviceRecord PortDeviceList[PORT_DEVICE_LIST_SIZE];
// Entries of PortDeviceList the last ParsePortInquiryData filled.
extern int PortDeviceCount;
// The answer of IOCTL_SCSI_GET_INQUIRY_DATA for the port being scanned.
extern BYTE PortInquiryData[PORT_INQUIRY_BUFFER_SIZE];

// Scans ports 0 to 6, leaving out the IDE channels, and fills both tables,
// AdapterCount and TotalDeviceCount. 1 when every port number was handled,
// 0 when the scan stopped at a port it could not open or query.
int EnumerateScsiPorts(void);

// The bus summary of the answer into the adapter's record: BusCount, and
// bus 0's unit count (as DeviceCount) and initiator id (as HostScsiId).
void RecordBusInfo(const BYTE* buffer, int adapterIndex);

// Fills PortDeviceList from bus 0's units in the answer, with the device
// name each is reached by. Never reads outside the PORT_INQUIRY_BUFFER_SIZE
// bytes of the answer: the walk stops at the first entry that does not lie
// wholly inside it, and after PORT_DEVICE_LIST_SIZE entries.
void ParsePortInquiryData(const BYTE* buffer, int adapterIndex);

// Places the list's logical units 0 in the adapter's slots and fills the
// adapter's row and the "No Device" rows; DeviceCount becomes the number of
// devices placed. Writes only slots inside DeviceTable.
void PlaceAdapterDevices(int adapterIndex);

#endif
