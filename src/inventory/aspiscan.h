// The bus scan under ASPI: each target id of each recorded host adapter gets
// TEST UNIT READY and a 96-byte INQUIRY and is recorded in its DeviceTable
// slot (adapter position x 16 + target id). The steps are chained through
// WM_SCAN_RESULT sent to MainWindow, one nested send per target; at the end
// the views are filled and WM_SCAN_COMPLETE is posted once.
#ifndef ASPISCAN_H
#define ASPISCAN_H

#include <windows.h>
#include "inventory/inventory.h"
#include "inventory/scanmessages.h"

// The scan never fills this slot or any after it.
#define SCAN_SLOT_LIMIT 63

// Scans the next target; during a re-scan shows the wait cursor first.
void StartScanStep(void);

// TEST UNIT READY and INQUIRY of target ScanTargetId on adapter
// ScanAdapterNumber, then ReportScanResult. A target whose TEST UNIT READY
// reports a low-level format in progress ends the program after a message.
void ScanNextTarget(void);

// Marks an absent target and the end of the adapter list in InquiryBuffer
// and the scan state, then sends WM_SCAN_RESULT for the request to MainWindow.
void ReportScanResult(SRB_ExecSCSICmd* srb);

// The type text (one of the preloaded type strings) of an INQUIRY peripheral
// device type (bits 0-4) and removable-medium flag.
const char* GetDeviceTypeText(BYTE peripheralType, LONG removable);

// The main window's handlers of WM_SCAN_START and WM_SCAN_RESULT.
LRESULT OnScanStart(HWND window);
LRESULT OnScanResult(HWND window, WPARAM wParam, LPARAM lParam);

#endif
