// The host adapter information dialog. Every value but the driver version
// comes from the adapter's HostAdapterRecord, filled by the enumeration and
// the registry identification; the version is read from the driver file in
// the system directory's driver folder of the running Windows family.
#include "tools/adapterinfo.h"
#include <stdio.h>
#include "resource.h"
#include "inventory/adapterid.h"
#include "inventory/inventory.h"
#include "shell/frame.h"
#include "shell/strings.h"

#define NUMBER_TEXT_SIZE 32
#define DRIVER_PATH_SIZE (MAX_PATH + 40)

// The group box's face starts this far below its top edge, under the
// caption line, so the frame's top stays on the pattern.
#define GROUP_FACE_OFFSET 8

int AdapterInfoIndex;
HBRUSH AdapterInfoBrush;
HBITMAP AdapterInfoBitmap;

static const HostAdapterRecord* ShownAdapter(void) {
    if (AdapterInfoIndex < 0 || AdapterInfoIndex >= MAX_ADAPTERS)
        return NULL;
    return &HostAdapterTable[AdapterInfoIndex];
}

// A text, or "Not Available" when it is empty.
static void SetTextOrNotAvailable(HWND dialog, int id, const char* text) {
    SetDlgItemTextA(dialog, id, text[0] != '\0' ? text : TextNotAvailable);
}

static void SetUnsignedText(HWND dialog, int id, unsigned long value) {
    char text[NUMBER_TEXT_SIZE];

    snprintf(text, sizeof text, "%lu", value);
    SetDlgItemTextA(dialog, id, text);
}

// Windows 95 keeps its port drivers in IOSUBSYS, Windows NT its miniports
// in DRIVERS, both below the system directory.
static void ShowDriverVersion(HWND dialog, const HostAdapterRecord* adapter) {
    char path[DRIVER_PATH_SIZE];
    char directory[MAX_PATH];
    UINT length = GetSystemDirectoryA(directory, sizeof directory);

    if (length == 0 || length >= sizeof directory)
        directory[0] = '\0';
    snprintf(path, sizeof path, "%s%s%s", directory,
             PlatformKind == PLATFORM_WIN95 ? "\\IOSUBSYS\\" : "\\DRIVERS\\", adapter->DriverFile);
    GetFileVersionText(path);
    SetTextOrNotAvailable(dialog, IDC_FIELD_1027, FileVersionText);
}

// The adapter's own ID is not counted among the devices it addresses.
static void ShowSupportedDevices(HWND dialog, const HostAdapterRecord* adapter) {
    char text[NUMBER_TEXT_SIZE];

    if (adapter->MaxTargets == 0) {
        SetDlgItemTextA(dialog, IDC_FIELD_1028, TextNotAvailable);
        return;
    }
    snprintf(text, sizeof text, "%ld SCSI Devices", (long)(adapter->MaxTargets - 1));
    SetDlgItemTextA(dialog, IDC_FIELD_1028, text);
}

static void ShowAdapter(HWND dialog, const HostAdapterRecord* adapter) {
    SetDlgItemTextA(dialog, IDC_FIELD_1025, adapter->Description);
    SetDlgItemTextA(dialog, IDC_FIELD_1021, adapter->AdapterName);
    SetUnsignedText(dialog, IDC_FIELD_1022, adapter->AdapterNumber);
    SetUnsignedText(dialog, IDC_FIELD_1024, adapter->HostScsiId);
    SetDlgItemTextA(dialog, IDC_FIELD_1023, adapter->ManagerId);
    SetDlgItemTextA(dialog, IDC_FIELD_1026, adapter->DriverFile);
    ShowDriverVersion(dialog, adapter);
    SetTextOrNotAvailable(dialog, IDC_FIELD_1029, adapter->DriverDate);
    ShowSupportedDevices(dialog, adapter);
}

static void ReleaseAdapterInfoBrush(void) {
    if (AdapterInfoBrush != NULL)
        DeleteObject(AdapterInfoBrush);
    if (AdapterInfoBitmap != NULL)
        DeleteObject(AdapterInfoBitmap);
    AdapterInfoBrush = NULL;
    AdapterInfoBitmap = NULL;
}

static INT_PTR OnAdapterInfoInit(HWND dialog, LPARAM startParameter) {
    const HostAdapterRecord* adapter;

    AdapterInfoIndex = (int)startParameter;
    adapter = ShownAdapter();
    if (adapter != NULL)
        ShowAdapter(dialog, adapter);
    // Without the bitmap the background stays the default one.
    AdapterInfoBitmap = LoadBitmapA(AppInstance, MAKEINTRESOURCEA(IDB_PATTERN_ADAPTER_INFO));
    if (AdapterInfoBitmap != NULL)
        AdapterInfoBrush = CreatePatternBrush(AdapterInfoBitmap);
    InvalidateRect(dialog, NULL, TRUE);
    CenterWindow(dialog, GetWindow(dialog, GW_OWNER));
    ShowWindow(dialog, SW_SHOW);
    return TRUE;
}

// The values inside the group box stand on a plain face within the
// patterned frame; the caption keeps the default colours.
static INT_PTR OnAdapterInfoStaticColor(HDC dc, HWND control) {
    RECT face;

    if (GetDlgCtrlID(control) != IDC_FIELD_1025)
        return FALSE;
    SetBkMode(dc, OPAQUE);
    GetClientRect(control, &face);
    face.top += GROUP_FACE_OFFSET;
    FillRect(dc, &face, (HBRUSH)(COLOR_3DFACE + 1));
    return FALSE;
}

static void OnAdapterInfoClose(HWND dialog) {
    ReleaseAdapterInfoBrush();
    EndDialog(dialog, 1);
    SetFocus(ListView);
    UpdateWindow(ListView);
}

INT_PTR CALLBACK AdapterInfoDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnAdapterInfoInit(dialog, lParam);
    case WM_CTLCOLORDLG:
        return (INT_PTR)AdapterInfoBrush;
    case WM_CTLCOLORSTATIC:
        return OnAdapterInfoStaticColor((HDC)wParam, (HWND)lParam);
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            OnAdapterInfoClose(dialog);
            return TRUE;
        }
        break;
    case WM_DESTROY:
        // Closed some other way than OK or Cancel: the brush goes all the same.
        ReleaseAdapterInfoBrush();
        break;
    }
    return FALSE;
}
