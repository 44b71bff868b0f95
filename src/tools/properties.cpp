// The device properties sheet and its two pages. Everything they show was
// stored in the device's DeviceRecord by the scan and by the feature
// gathering; the sheet is read-only and sends no SCSI command.
#include "tools/properties.h"
#include <commctrl.h>
#include <prsht.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include "resource.h"
#include "inventory/inventory.h"
#include "shell/helpabout.h"
#include "shell/strings.h"
#include "tools/devicepicture.h"

#define PROPERTY_PAGE_COUNT 2
#define ADDRESS_TEXT_SIZE 16

// The capability boxes of the first page lie in this id range.
#define FIRST_CAPABILITY_ID IDC_SCSI1
#define LAST_CAPABILITY_ID IDC_SCSI3

// Pages in the layout of the first property sheet release: the sheet steps
// through the array by each page's dwSize, so every element must be exactly
// that size, which Windows 95 and NT 4.0 accept.
static_assert(sizeof(PROPSHEETPAGEA_V1) ==
                  offsetof(PROPSHEETPAGEA, pcRefParent) + sizeof(PROPSHEETPAGEA::pcRefParent),
              "page array stride");

int PropertiesStartPage;
HBITMAP DeviceBitmapToPaint;

// clang-format off
const DWORD InfoPageHelpIds[] = {
    IDC_SCSI_ADDRESS,    20000,
    IDC_MANUFACTURER,    20001,
    IDC_VERSION,         20002,
    IDC_DEVICE_TYPE,     20003,
    IDC_PRODUCT_NAME,    20004,
    IDC_SYNC_TRANSFER,   20005,
    IDC_REMOVABLE_MEDIA, 20006,
    IDC_NARROW,          20007,
    IDC_WIDE16,          20008,
    IDC_WIDE32,          20009,
    IDC_SCSI1,           20010,
    IDC_SCSI2,           20011,
    IDC_SCSI3,           20012,
    0,                   0};

const DWORD FeaturesPageHelpIds[] = {
    IDC_FIELD_1021, 20020, // data buffer size
    IDC_FIELD_1023, 20021, // media speed
    IDC_FIELD_1025, 20022, // write cache
    IDC_FIELD_1024, 20023, // read cache
    IDC_FIELD_1026, 20024, // block size
    IDC_FIELD_1022, 20025, // media capacity
    IDC_FIELD_1027, 20026, // serial number
    0,              0};
// clang-format on

// The value fields of the second page.
static const int FeatureFields[] = {IDC_FIELD_1021, IDC_FIELD_1022, IDC_FIELD_1023, IDC_FIELD_1024,
                                    IDC_FIELD_1025, IDC_FIELD_1026, IDC_FIELD_1027};

// The identity fields of the first page.
static const int IdentityFields[] = {IDC_SCSI_ADDRESS, IDC_MANUFACTURER, IDC_VERSION,
                                     IDC_DEVICE_TYPE, IDC_PRODUCT_NAME};

static DeviceRecord* ShownDevice(void) {
    if (SelectedDevice < 0 || SelectedDevice >= MAX_DEVICE_SLOTS)
        return NULL;
    return &DeviceTable[SelectedDevice];
}

static int IsType(const DeviceRecord* device, const char* typeText) {
    return strcmp(device->TypeText, typeText) == 0;
}

// ---- Capability boxes ----

typedef int (*DeviceCondition)(const DeviceRecord* device);

static int HasSyncTransfer(const DeviceRecord* device) {
    return device->SyncTransfer == 1;
}

static int HasRemovableMedia(const DeviceRecord* device) {
    return device->RemovableMedia == 1;
}

// Neither wide form, and a device at all.
static int IsNarrow(const DeviceRecord* device) {
    return device->Wide16 != 1 && device->Wide32 != 1 && !IsType(device, TextNoDevice) &&
           !IsType(device, TextHostAdapter);
}

// A device that claims both widths gets neither box.
static int IsWide16(const DeviceRecord* device) {
    return device->Wide16 == 1 && device->Wide32 != 1;
}

static int IsWide32(const DeviceRecord* device) {
    return device->Wide32 == 1 && device->Wide16 != 1;
}

static int IsScsi1(const DeviceRecord* device) {
    return device->AnsiVersion == 1;
}

static int IsScsi2(const DeviceRecord* device) {
    return device->AnsiVersion == 2;
}

static int IsScsi3(const DeviceRecord* device) {
    return device->AnsiVersion == 3;
}

typedef struct {
    int ControlId;
    DeviceCondition Holds;
} CapabilityBox;

static const CapabilityBox CapabilityBoxes[] = {
    {IDC_SYNC_TRANSFER, HasSyncTransfer},
    {IDC_REMOVABLE_MEDIA, HasRemovableMedia},
    {IDC_NARROW, IsNarrow},
    {IDC_WIDE16, IsWide16},
    {IDC_WIDE32, IsWide32},
    {IDC_SCSI1, IsScsi1},
    {IDC_SCSI2, IsScsi2},
    {IDC_SCSI3, IsScsi3},
};

// ---- Context help ----

static void ShowControlHelp(const HELPINFO* info, const DWORD* helpIds) {
    HelpViewer((HWND)info->hItemHandle, ContextHelpFilePath, HELP_WM_HELP, (ULONG_PTR)helpIds);
}

// The control with help under a screen point: labels and disabled boxes
// pass the click to the page, so the page finds the control itself.
static HWND ControlAtPoint(HWND page, HWND clicked, LPARAM position, const DWORD* helpIds) {
    POINT point = {(short)LOWORD(position), (short)HIWORD(position)};
    RECT area;
    int i;

    if (clicked != page || position == (LPARAM)-1)
        return clicked;
    for (i = 0; helpIds[i] != 0; i += 2) {
        HWND control = GetDlgItem(page, (int)helpIds[i]);
        if (control != NULL && GetWindowRect(control, &area) && PtInRect(&area, point))
            return control;
    }
    return page;
}

static void ShowHelpMenu(HWND page, HWND clicked, LPARAM position, const DWORD* helpIds) {
    HelpViewer(ControlAtPoint(page, clicked, position, helpIds), ContextHelpFilePath,
               HELP_CONTEXTMENU, (ULONG_PTR)helpIds);
}

// ---- Page 1: Device SCSI Information ----

// All capability boxes start greyed; the page enables those that hold.
static void DisableCapabilityBoxes(HWND page) {
    int id;

    for (id = FIRST_CAPABILITY_ID; id <= LAST_CAPABILITY_ID; id++) {
        HWND control = GetDlgItem(page, id);
        if (control != NULL && IsWindowEnabled(control))
            EnableWindow(control, FALSE);
    }
}

static void ShowIdentity(HWND page, const DeviceRecord* device) {
    char address[ADDRESS_TEXT_SIZE];
    size_t i;

    if (IsType(device, TextHostAdapter)) {
        for (i = 0; i < sizeof IdentityFields / sizeof IdentityFields[0]; i++)
            SetDlgItemTextA(page, IdentityFields[i], "");
        return;
    }
    snprintf(address, sizeof address, "%u", (unsigned)device->TargetId);
    SetDlgItemTextA(page, IDC_SCSI_ADDRESS, address);
    SetDlgItemTextA(page, IDC_MANUFACTURER, device->Vendor);
    SetDlgItemTextA(page, IDC_VERSION, device->Revision);
    SetDlgItemTextA(page, IDC_DEVICE_TYPE, device->TypeText);
    SetDlgItemTextA(page, IDC_PRODUCT_NAME, IsType(device, TextNoDevice) ? "" : device->Product);
}

static void ShowCapabilities(HWND page, const DeviceRecord* device) {
    size_t i;

    for (i = 0; i < sizeof CapabilityBoxes / sizeof CapabilityBoxes[0]; i++)
        CheckDlgButton(page, CapabilityBoxes[i].ControlId, BST_UNCHECKED);
    for (i = 0; i < sizeof CapabilityBoxes / sizeof CapabilityBoxes[0]; i++) {
        if (CapabilityBoxes[i].Holds(device)) {
            EnableWindow(GetDlgItem(page, CapabilityBoxes[i].ControlId), TRUE);
            CheckDlgButton(page, CapabilityBoxes[i].ControlId, BST_CHECKED);
        }
    }
}

static void OnInfoPageActive(HWND page) {
    DeviceRecord* device = ShownDevice();

    DeviceBitmapToPaint = NULL;
    if (device == NULL)
        return;
    ShowIdentity(page, device);
    ShowCapabilities(page, device);
    if (!IsType(device, TextHostAdapter))
        DeviceBitmapToPaint = device->TypeBitmap;
}

static INT_PTR OnInfoNotify(HWND page, const NMHDR* header) {
    if (header->code != PSN_SETACTIVE)
        return FALSE;
    OnInfoPageActive(page);
    SetWindowLongPtrA(page, DWLP_MSGRESULT, 0);
    return TRUE;
}

static void OnInfoPaint(HWND page) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(page, &paint);

    DrawBitmapInControl(page, IDC_DEVICE_PICTURE, dc, DeviceBitmapToPaint);
    EndPaint(page, &paint);
}

INT_PTR CALLBACK DeviceInfoPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        DisableCapabilityBoxes(page);
        return TRUE;
    case WM_NOTIFY:
        return OnInfoNotify(page, (const NMHDR*)lParam);
    case WM_PAINT:
        OnInfoPaint(page);
        return TRUE;
    case WM_HELP:
        ShowControlHelp((const HELPINFO*)lParam, InfoPageHelpIds);
        return TRUE;
    case WM_CONTEXTMENU:
        ShowHelpMenu(page, (HWND)wParam, lParam, InfoPageHelpIds);
        return TRUE;
    }
    return FALSE;
}

// ---- Page 2: Device Features ----

// A stored text replaces "Not Available" only when there is one.
static void ShowStoredText(HWND page, int id, const char* text) {
    if (text[0] != '\0')
        SetDlgItemTextA(page, id, text);
}

// Returns what WM_INITDIALOG returns.
static INT_PTR OnFeaturesInit(HWND page) {
    DeviceRecord* device = ShownDevice();
    size_t i;

    for (i = 0; i < sizeof FeatureFields / sizeof FeatureFields[0]; i++)
        SetDlgItemTextA(page, FeatureFields[i], TextNotAvailable);
    if (device == NULL || IsType(device, TextNoDevice))
        return TRUE;
    ShowStoredText(page, IDC_FIELD_1021, device->BufferSizeText);
    ShowStoredText(page, IDC_FIELD_1027, device->SerialNumber);
    ShowStoredText(page, IDC_FIELD_1025, device->WriteCacheText);
    ShowStoredText(page, IDC_FIELD_1024, device->ReadCacheText);
    // Scanners and tapes have no medium to measure.
    if (IsType(device, TextScanner) || IsType(device, TextTape))
        return FALSE;
    if (device->CapacityText[0] != '\0') {
        SetDlgItemTextA(page, IDC_FIELD_1022, device->CapacityText);
        SetDlgItemTextA(page, IDC_FIELD_1026, device->BlockSizeText);
    }
    if (strcmp(device->MediaSpeedText, TextNotAvailable) != 0)
        SetDlgItemTextA(page, IDC_FIELD_1023, device->MediaSpeedText);
    return TRUE;
}

INT_PTR CALLBACK DeviceFeaturesPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnFeaturesInit(page);
    case WM_HELP:
        ShowControlHelp((const HELPINFO*)lParam, FeaturesPageHelpIds);
        return TRUE;
    case WM_CONTEXTMENU:
        ShowHelpMenu(page, (HWND)wParam, lParam, FeaturesPageHelpIds);
        return TRUE;
    }
    return FALSE;
}

// ---- The sheet ----

static void SetUpPage(PROPSHEETPAGEA_V1* page, int templateId, int titleId, DLGPROC procedure) {
    ZeroMemory(page, sizeof *page);
    page->dwSize = sizeof *page;
    page->dwFlags = PSP_USETITLE;
    page->hInstance = AppInstance;
    page->pszTemplate = MAKEINTRESOURCEA(templateId);
    page->pszTitle = MAKEINTRESOURCEA(titleId);
    page->pfnDlgProc = procedure;
}

INT_PTR ShowDeviceProperties(HWND owner) {
    PROPSHEETPAGEA_V1 pages[PROPERTY_PAGE_COUNT];
    PROPSHEETHEADERA header;

    if (ShownDevice() == NULL)
        return 0;
    SetUpPage(&pages[0], IDD_DEVICE_INFO_PAGE, IDS_PAGE_DEVICE_INFO, DeviceInfoPage);
    SetUpPage(&pages[1], IDD_DEVICE_FEATURES_PAGE, IDS_PAGE_DEVICE_FEATURES, DeviceFeaturesPage);
    ZeroMemory(&header, sizeof header);
    // The header as the first property sheet release knows it.
    header.dwSize = PROPSHEETHEADERA_V1_SIZE;
    header.dwFlags = PSH_NOAPPLYNOW | PSH_PROPSHEETPAGE | PSH_USEICONID;
    header.hwndParent = owner;
    header.hInstance = AppInstance;
    header.pszIcon = MAKEINTRESOURCEA(IDI_APP);
    header.pszCaption = TextPropertiesCaption;
    header.nPages = PROPERTY_PAGE_COUNT;
    header.nStartPage = (UINT)PropertiesStartPage;
    header.ppsp = (LPCPROPSHEETPAGEA)pages;
    return PropertySheetA(&header);
}
