// The bus scan on Windows NT without ASPI, over the SCSI port drivers.
#ifndef NTSCAN_H
#define NTSCAN_H

// Scans every SCSI port and fills the adapter and device tables; returns the
// number of adapters recorded (AdapterCount).
int RunNtBusScan(void);

#endif
