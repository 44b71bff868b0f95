// The bus scan under ASPI, one target per step, chained through
// WM_SCAN_RESULT. Every write goes to a DeviceTable slot below 63 and every
// read of device data stays inside InquiryBuffer, whatever a device returns.
#include "inventory/aspiscan.h"
#include <string.h>
#include "aspicommands.h"
#include "aspitransport.h"
#include "resource.h"
#include "scsi/sense.h"
#include "shell/mainwindow.h"
#include "shell/strings.h"
#include "views/devicelist.h"

#define MESSAGE_TEXT_SIZE 2048
#define NARROW_TARGETS 8

// INQUIRY data offsets and bits.
#define INQ_TYPE 0
#define INQ_REMOVABLE 1
#define INQ_VERSION 2
#define INQ_FLAGS 7
#define INQ_VENDOR 8
#define INQ_PRODUCT 16
#define INQ_REVISION 32
#define VENDOR_LENGTH 8
#define PRODUCT_LENGTH 16
#define REVISION_LENGTH 4
#define TYPE_MASK 0x1F
#define REMOVABLE_BIT 0x80
#define VERSION_MASK 0x07
#define SYNC_BIT 0x10
#define WIDE16_BIT 0x20
#define WIDE32_BIT 0x40

#define TYPE_UNKNOWN_DEVICE 0x0A
#define TYPE_NO_DEVICE 0x1F
#define ASC_NOT_READY 0x04
#define ASCQ_FORMAT_IN_PROGRESS 0x04

// Rewrites InquiryBuffer as a placeholder device: product text, no vendor or
// revision, the given type (the qualifier bits stay), removable, version and
// synchronous bits clear.
static void MarkInquiryPlaceholder(const char* product, BYTE type) {
    memset(&InquiryBuffer[INQ_PRODUCT], 0, PRODUCT_LENGTH);
    strncpy((char*)&InquiryBuffer[INQ_PRODUCT], product, PRODUCT_LENGTH - 1);
    InquiryBuffer[INQ_VENDOR] = 0;
    InquiryBuffer[INQ_REVISION] = 0;
    InquiryBuffer[INQ_TYPE] = (BYTE)((InquiryBuffer[INQ_TYPE] & ~TYPE_MASK) | type);
    InquiryBuffer[INQ_REMOVABLE] &= (BYTE)~REMOVABLE_BIT;
    InquiryBuffer[INQ_VERSION] &= (BYTE)~VERSION_MASK;
    InquiryBuffer[INQ_FLAGS] &= (BYTE)~SYNC_BIT;
}

// An empty target: the adapter reports no device there, or its selection
// timed out. ReportScanResult marks such a target "No Device".
static int IsEmptyTarget(const SRB_ExecSCSICmd* srb) {
    return ReadSrbStatus(srb) == SS_NO_DEVICE || srb->SRB_HaStat == HASTAT_SEL_TO;
}

// Index of the recorded adapter with this ASPI number, or -1. The records in
// use are the first AdapterCount; an adapter may have an empty identifier.
static int FindAdapterRecord(BYTE adapterNumber) {
    for (int i = 0; i < AdapterCount && i < MAX_ADAPTERS; i++)
        if (HostAdapterTable[i].AdapterNumber == adapterNumber)
            return i;
    return -1;
}

// A device that is formatting cannot be scanned safely: tell and end.
static void ExitForFormatInProgress(void) {
    char text[MESSAGE_TEXT_SIZE];
    if (LoadStringA(AppInstance, IDS_MSG_FORMAT_IN_PROGRESS, text, sizeof(text)) == 0)
        text[0] = '\0';
    MessageBoxA(NULL, text, MessageCaption, MB_OK);
    ExitProcess(0);
}

// Ends the scan: the final WM_SCAN_RESULT fills the views.
static void FinishScan(void) {
    ScanComplete = 1;
    SendMessageA(MainWindow, WM_SCAN_RESULT, 0, 0);
}

const char* GetDeviceTypeText(BYTE peripheralType, LONG removable) {
    switch (peripheralType & TYPE_MASK) {
    case 0x00:
        return removable ? TextRemovable : TextHardDisk;
    case 0x01:
        return TextTape;
    case 0x02:
        return TextPrinter;
    case 0x03:
    case 0x06:
        return TextScanner;
    case 0x04:
        return TextWorm;
    case 0x05:
        return TextCdRom;
    case 0x07:
        return TextOptical;
    case 0x1F:
        return TextTypeNoDevice;
    default:
        // 08h-0Ah, 1Eh and the types without a name of their own.
        return TextUnknown;
    }
}

void StartScanStep(void) {
    if (BusyState == BUSY_RESCAN)
        SetCursor(LoadCursorA(NULL, (LPCSTR)IDC_WAIT));
    ScanNextTarget();
}

void ScanNextTarget(void) {
    static const BYTE inquiry[6] = {0x12, 0x00, 0x00, 0x00, INQUIRY_BUFFER_SIZE, 0x00};

    ClearErrorRecords();
    // Only a NOT READY for a format in progress ends the program; any other
    // TEST UNIT READY failure (a unit attention 29h/04h too) is ignored.
    if (!AspiTestUnitReady(ScanAdapterNumber, ScanTargetId) &&
        LastSenseError.SenseKey == SENSE_KEY_NOT_READY &&
        LastSenseError.AdditionalSenseCode == ASC_NOT_READY &&
        LastSenseError.AdditionalSenseCodeQualifier == ASCQ_FORMAT_IN_PROGRESS)
        ExitForFormatInProgress();

    ClearSrb(&AspiSrb);
    memset(InquiryBuffer, 0, sizeof(InquiryBuffer));
    AspiSrb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    AspiSrb.SRB_HaId = ScanAdapterNumber;
    AspiSrb.SRB_Flags = SRB_DIR_IN;
    AspiSrb.SRB_Target = ScanTargetId;
    AspiSrb.SRB_BufPointer = InquiryBuffer;
    AspiSrb.SRB_BufLen = sizeof(InquiryBuffer);
    AspiSrb.SRB_SenseLen = SENSE_LEN;
    AspiSrb.SRB_CDBLen = sizeof(inquiry);
    memcpy(AspiSrb.CDBByte, inquiry, sizeof(inquiry));

    // The outcome of a completed INQUIRY is judged by ReportScanResult.
    int outcome = ExecuteAndPoll(TIMEOUT_SCAN_INQUIRY, 0);
    if (outcome == EXECUTE_ABORTED)
        MarkInquiryPlaceholder("Unknown Device", TYPE_UNKNOWN_DEVICE);
    else if (outcome == EXECUTE_ABORT_FAILED)
        MessageBoxA(NULL, "Unable to Abort SRB!", NULL, MB_OK);

    ScanTargetId++;
    ReportScanResult(&AspiSrb);
}

void ReportScanResult(SRB_ExecSCSICmd* srb) {
    if (IsEmptyTarget(srb))
        MarkInquiryPlaceholder("No Device", TYPE_NO_DEVICE);
    if (ReadSrbStatus(srb) == SS_INVALID_HA)
        ScanComplete = 1;
    SendMessageA(MainWindow, WM_SCAN_RESULT, 0, (LPARAM)srb);
}

// Fills slot ScanSlot from InquiryBuffer and the request block.
static void RecordTarget(DeviceRecord* device, const SRB_ExecSCSICmd* srb) {
    int adapter = FindAdapterRecord(srb->SRB_HaId);

    CopyTextField(device->Vendor, sizeof(device->Vendor), &InquiryBuffer[INQ_VENDOR],
                  VENDOR_LENGTH);
    CopyTextField(device->Product, sizeof(device->Product), &InquiryBuffer[INQ_PRODUCT],
                  PRODUCT_LENGTH);
    CopyTextField(device->Revision, sizeof(device->Revision), &InquiryBuffer[INQ_REVISION],
                  REVISION_LENGTH);
    BYTE type = InquiryBuffer[INQ_TYPE] & TYPE_MASK;
    if (adapter >= 0) {
        HostAdapterRecord* record = &HostAdapterTable[adapter];
        device->AdapterNumber = record->AdapterNumber;
        CopyText(device->AdapterIdentifier, sizeof(device->AdapterIdentifier), record->Identifier);
        // Every target that answered counts, whatever type it reports.
        if (!IsEmptyTarget(srb))
            record->DeviceCount++;
    }
    device->TargetId = srb->SRB_Target;
    device->SyncTransfer = (InquiryBuffer[INQ_FLAGS] & SYNC_BIT) != 0;
    device->RemovableMedia = (InquiryBuffer[INQ_REMOVABLE] & REMOVABLE_BIT) != 0;
    device->Wide16 = (InquiryBuffer[INQ_FLAGS] & WIDE16_BIT) != 0;
    device->Wide32 = (InquiryBuffer[INQ_FLAGS] & WIDE32_BIT) != 0;
    device->AnsiVersion = InquiryBuffer[INQ_VERSION] & VERSION_MASK;
    CopyText(device->TypeText, 16, GetDeviceTypeText(type, device->RemovableMedia));

    // The adapter's own SCSI ID is the adapter itself, whatever answered.
    if (adapter >= 0 && device->TargetId == HostAdapterTable[adapter].HostScsiId) {
        HostAdapterRecord* record = &HostAdapterTable[adapter];
        CopyText(device->TypeText, 16, TextHostAdapter);
        CopyText(device->Vendor, sizeof(device->Vendor), record->Manufacturer);
        CopyText(device->Product, sizeof(device->Product), record->AdapterName);
        CopyText(device->Revision, sizeof(device->Revision), record->Version);
    }
    SetDeviceImage(device);
    TotalDeviceCount++;
}

// After the last target of an adapter: moves on to the next recorded
// adapter. Returns 0 when there is none.
static int NextAdapter(void) {
    int current = FindAdapterRecord(ScanAdapterNumber);
    // The next adapter's devices start at its own block of 16 slots; for a
    // narrow adapter this skips the 8 slots it does not use.
    ScanSlot |= SLOTS_PER_ADAPTER - 1;
    ScanTargetId = 0;
    int next = current + 1;
    if (current < 0 || next >= AdapterCount || next >= MAX_ADAPTERS)
        return 0;
    ScanAdapterNumber = HostAdapterTable[next].AdapterNumber;
    HighestTargetId = HostAdapterTable[next].MaxTargets == NARROW_TARGETS ? 7 : 15;
    return 1;
}

LRESULT OnScanStart(HWND window) {
    (void)window;
    if (ScanComplete == 1)
        return 0;
    // Without a recorded adapter there is nothing to scan: finish at once so
    // the views are completed and the main window comes up.
    if (UseAspi != 1 || AdapterCount < 1) {
        FinishScan();
        return 0;
    }
    // Target ids above 15 have no slots of their own.
    if (HighestTargetId > 15)
        HighestTargetId = 15;
    ScanAdapterNumber = HostAdapterTable[0].AdapterNumber;
    StartScanStep();
    return 0;
}

LRESULT OnScanResult(HWND window, WPARAM wParam, LPARAM lParam) {
    (void)window;
    if (ScanComplete == 1) {
        ShowFirstAdapter();
        PostMessageA(MainWindow, WM_SCAN_COMPLETE, wParam, lParam);
        return 0;
    }
    const SRB_ExecSCSICmd* srb = (const SRB_ExecSCSICmd*)lParam;
    if (srb == NULL || ScanSlot < 0 || ScanSlot >= SCAN_SLOT_LIMIT)
        return 0;
    RecordTarget(&DeviceTable[ScanSlot], srb);

    if ((LONG)ScanTargetId > HighestTargetId && !NextAdapter()) {
        FinishScan();
        return 0;
    }
    ScanSlot++;
    if (ScanSlot >= SCAN_SLOT_LIMIT) {
        // Only four adapters have slot blocks: the scan ends here, and the
        // devices of a fifth or later adapter are not recorded.
        FinishScan();
        return 0;
    }
    StartScanStep();
    return 0;
}
