// The system SCSI information dialog. It looks for a fixed list of the SCSI
// layer's files below the system directory, chosen by Windows family and
// transport, and lists each one that carries a version string, with that
// version, on a white panel over a patterned background.
#include "tools/systeminfo.h"
#include <stdio.h>
#include <string.h>
#include "resource.h"
#include "inventory/adapterid.h"
#include "inventory/inventory.h"
#include "shell/frame.h"

#define LAYER_FILE_PATH_SIZE (MAX_PATH + 32)
#define VERSION_LABEL_SIZE 64

// Which files are looked for, in this order, and the text that introduces
// each one's version in the panel.
typedef struct {
    LONG Platform;    // the PlatformKind it belongs to; 0: either family
    int NeedsAspi;    // 1: only when ASPI is the transport
    int Required;     // 1: without its version the layer's cannot be told
    const char* Path; // below the system directory
    const char* Introduction;
} LayerFile;

static const LayerFile LayerFiles[] = {
    {0, 1, 1, "\\WNASPI32.DLL", " WNASPI32.DLL "},
    {PLATFORM_WIN95, 0, 0, "\\IOSUBSYS\\KVXHBA.VxD", "\n\n KVXHBA.VxD "},
    {PLATFORM_WIN95, 0, 0, "\\IOSUBSYS\\SCSI1HLP.VxD", "\n\n SCSI1HLP.VxD "},
    {PLATFORM_WIN95, 0, 0, "\\IOSUBSYS\\SCSIPORT.PDR", "\n\n SCSIPORT.PDR "},
    {PLATFORM_WIN95, 0, 0, "\\IOSUBSYS\\APIX.VxD", "\n\n APIX.VxD "},
    {PLATFORM_NT, 1, 0, "\\DRIVERS\\Aspi32.sys", "\n\n Aspi32.sys "},
    {PLATFORM_NT, 1, 0, "\\DRIVERS\\Aspixnt.sys", "\n\n AspiXNT.sys "},
};

char SystemInfoText[SYSTEM_INFO_TEXT_SIZE];
HBRUSH SystemInfoPatternBrush;
HBRUSH SystemInfoTextBrush;
HBITMAP SystemInfoBitmap;

// Appends to SystemInfoText, cutting what does not fit.
static void AppendSystemInfo(const char* text) {
    size_t used = strlen(SystemInfoText);

    CopyText(SystemInfoText + used, sizeof SystemInfoText - used, text);
}

static int IsLookedFor(const LayerFile* file) {
    if (file->Platform != 0 && file->Platform != PlatformKind)
        return 0;
    return !file->NeedsAspi || UseAspi == 1;
}

// Appends the file's entry when it has a version string (and the label
// could be loaded); returns 1 when it has one.
static int AppendLayerFile(const char* directory, const char* label, const LayerFile* file) {
    char path[LAYER_FILE_PATH_SIZE];

    snprintf(path, sizeof path, "%s%s", directory, file->Path);
    GetFileVersionText(path);
    if (FileVersionText[0] == '\0')
        return 0;
    if (label[0] != '\0') {
        AppendSystemInfo(file->Introduction);
        AppendSystemInfo(label);
        AppendSystemInfo(" ");
        AppendSystemInfo(FileVersionText);
    }
    return 1;
}

// Fills SystemInfoText with the entries of the files found; returns 0 when
// the version of the SCSI layer cannot be told: no version on the ASPI
// library, or the NT port driver as the transport.
static int CollectLayerFiles(void) {
    char directory[MAX_PATH];
    char label[VERSION_LABEL_SIZE];
    UINT length = GetSystemDirectoryA(directory, sizeof directory);
    size_t i;

    SystemInfoText[0] = '\0';
    if (UseAspi != 1 && PlatformKind == PLATFORM_NT)
        return 0;
    if (length == 0 || length >= sizeof directory)
        directory[0] = '\0';
    if (LoadStringA(AppInstance, IDS_VERSION_LABEL, label, sizeof label) == 0)
        label[0] = '\0';
    for (i = 0; i < sizeof LayerFiles / sizeof LayerFiles[0]; i++) {
        if (!IsLookedFor(&LayerFiles[i]))
            continue;
        if (!AppendLayerFile(directory, label, &LayerFiles[i]) && LayerFiles[i].Required)
            return 0;
    }
    return 1;
}

static void ReleaseSystemInfoBrushes(void) {
    if (SystemInfoPatternBrush != NULL)
        DeleteObject(SystemInfoPatternBrush);
    if (SystemInfoTextBrush != NULL)
        DeleteObject(SystemInfoTextBrush);
    if (SystemInfoBitmap != NULL)
        DeleteObject(SystemInfoBitmap);
    SystemInfoPatternBrush = NULL;
    SystemInfoTextBrush = NULL;
    SystemInfoBitmap = NULL;
}

static INT_PTR OnSystemInfoInit(HWND dialog) {
    // Without the message the template's text stays.
    if (!CollectLayerFiles() &&
        LoadStringA(AppInstance, IDS_NO_SYSTEM_VERSION, SystemInfoText, sizeof SystemInfoText) == 0)
        return TRUE;
    SetDlgItemTextA(dialog, IDC_SYSTEM_INFO_TEXT, SystemInfoText);
    InvalidateRect(dialog, NULL, TRUE);
    CenterWindow(dialog, GetWindow(dialog, GW_OWNER));
    SystemInfoBitmap = LoadBitmapA(AppInstance, MAKEINTRESOURCEA(IDB_PATTERN_SYSTEM_INFO));
    if (SystemInfoBitmap != NULL)
        SystemInfoPatternBrush = CreatePatternBrush(SystemInfoBitmap);
    SystemInfoTextBrush = CreateSolidBrush(RGB(255, 255, 255));
    ShowWindow(dialog, SW_SHOW);
    return TRUE;
}

static INT_PTR OnSystemInfoDialogColor(HDC dc) {
    SetBkMode(dc, TRANSPARENT);
    return (INT_PTR)SystemInfoPatternBrush;
}

// Black text on a white panel.
static INT_PTR OnSystemInfoStaticColor(HDC dc, HWND control) {
    if (GetDlgCtrlID(control) != IDC_SYSTEM_INFO_TEXT)
        return FALSE;
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkColor(dc, RGB(255, 255, 255));
    return (INT_PTR)SystemInfoTextBrush;
}

static void OnSystemInfoClose(HWND dialog) {
    ReleaseSystemInfoBrushes();
    EndDialog(dialog, 1);
    SetFocus(ListView);
    UpdateWindow(ListView);
}

INT_PTR CALLBACK SystemInfoDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnSystemInfoInit(dialog);
    case WM_CTLCOLORDLG:
        return OnSystemInfoDialogColor((HDC)wParam);
    case WM_CTLCOLORSTATIC:
        return OnSystemInfoStaticColor((HDC)wParam, (HWND)lParam);
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            OnSystemInfoClose(dialog);
            return TRUE;
        }
        break;
    case WM_DESTROY:
        // Closed some other way than OK or Cancel: the brushes go all the same.
        ReleaseSystemInfoBrushes();
        break;
    }
    return FALSE;
}
