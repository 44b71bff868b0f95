// The device performance tests: after making sure the device is ready and
// reading its capacity, READ(10) at consecutive and at random addresses for
// one block, about 16 KB and about 64 KB, each counted over whole seconds of
// the clock and shown in KB/s. The measurement runs without returning to the
// message loop; only the waits for a device to become ready keep the dialog
// responsive.
#include "performance.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include "resource.h"
#include "inventory/inventory.h"
#include "inventory/scanmessages.h"
#include "scsi/aspi/aspitransport.h"
#include "scsi/facade/scsifacade.h"
#include "scsi/sense.h"
#include "shell/frame.h"
#include "shell/message.h"
#include "shell/strings.h"
#include "shell/toolentry.h"
#include "tools/capacity.h"
#include "tools/devicedialog.h"

#define BUTTON_TEXT_SIZE 21
#define MEDIUM_TEXT_SIZE 256
#define READ_BUFFER_SIZE 65536
#define RESULT_TEXT_SIZE 32
#define CAPACITY_LINE_SIZE 160

#define ASC_MEDIA_CHANGED 0x28
#define ASC_POWER_ON_RESET 0x29
#define ASC_NO_MEDIUM 0x3A

static DWORD ClockSeconds(void) {
    return (DWORD)time(NULL);
}

PerformanceTimingRecord PerformanceTiming = {5, 5000, 1000, 60000, ClockSeconds};

// The result fields: sequential pass first, then random; one block, about
// 16 KB, about 64 KB.
static const int ResultFields[2][3] = {
    {IDC_SEQUENTIAL_1_SECTOR, IDC_SEQUENTIAL_16K, IDC_SEQUENTIAL_64K},
    {IDC_RANDOM_1_SECTOR, IDC_RANDOM_16K, IDC_RANDOM_64K},
};

// State of the open dialog, reset when it opens.
static DWORD BlockLength;
static DWORD LastBlock;
static HBRUSH StatusBrush;
static HBITMAP PerformanceBitmap;
static const DeviceRecord* PerformanceDevice;
static BOOL Waiting;
static BOOL CloseRequested;
static BOOL RunStarted;

int OpenPerformanceTestsDialog(HWND owner, int slot) {
    return (int)DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_PERFORMANCE_TESTS), owner,
                                PerformanceDialog, (LPARAM)slot);
}

DWORD RandomBelow(DWORD n) {
    static BOOL seeded = FALSE;

    if (!seeded) {
        srand((unsigned)time(NULL));
        seeded = TRUE;
    }
    return (DWORD)(((ULONGLONG)rand() * n) / 32767);
}

void ShowMessageAndEnableOk(HWND dialog, UINT stringId) {
    char text[MESSAGE_TEXT_SIZE];

    if (LoadStringA(AppInstance, stringId, text, sizeof text) == 0)
        text[0] = '\0';
    MessageBoxA(dialog, text, MessageCaption, MB_OK);
    EnableWindow(GetDlgItem(dialog, IDOK), TRUE);
    SetDlgItemTextA(dialog, IDOK, TextOk);
}

// Waits while the dialog is shown, repaints and may be closed: messages are
// handled as in a modal loop. The button cannot begin a run meanwhile.
// Returns 0 when a close ended the wait.
static int WaitResponsively(HWND dialog, DWORD milliseconds) {
    DWORD start = GetTickCount();
    MSG message;

    if (!IsWindowVisible(dialog)) {
        SetDlgItemTextA(dialog, IDC_PERF_STATUS_LINE1, TextTesting);
        ShowWindow(dialog, SW_SHOW);
    }
    EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
    Waiting = TRUE;
    while (!CloseRequested) {
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                // Leave the quit to the loop that ends the program.
                PostQuitMessage((int)message.wParam);
                CloseRequested = TRUE;
                break;
            }
            if (!IsDialogMessageA(dialog, &message)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
        DWORD elapsed = GetTickCount() - start;
        if (CloseRequested || elapsed >= milliseconds)
            break;
        MsgWaitForMultipleObjects(0, NULL, FALSE, milliseconds - elapsed, QS_ALLINPUT);
    }
    Waiting = FALSE;
    EnableWindow(GetDlgItem(dialog, IDOK), TRUE);
    return !CloseRequested;
}

static int IsUnitAttention(DWORD asc) {
    return asc == ASC_MEDIA_CHANGED || asc == ASC_POWER_ON_RESET;
}

// TEST UNIT READY with the recorded sense of this command alone.
static int TestUnitReadyAfresh(BYTE adapter, BYTE target) {
    ClearErrorRecords();
    return ScsiTestUnitReady(adapter, target);
}

int TestUnitReadyWithRetry(HWND dialog, BYTE adapter, BYTE target) {
    char text[MEDIUM_TEXT_SIZE];
    int ready = TestUnitReadyAfresh(adapter, target);

    if (!ready && IsUnitAttention(LastSenseError.AdditionalSenseCode))
        ready = TestUnitReadyAfresh(adapter, target);
    if (LastSenseError.AdditionalSenseCode != ASC_NO_MEDIUM)
        return ready;
    if (LoadStringA(AppInstance, LastSenseError.MessageId, text, sizeof text) == 0)
        return 0;
    do {
        if (MessageBoxA(dialog, text, NULL, MB_OKCANCEL) != IDOK)
            return 0;
        if (!WaitResponsively(dialog, PerformanceTiming.MediumWaitMs))
            return 0;
        ready = TestUnitReadyAfresh(adapter, target);
    } while (LastSenseError.AdditionalSenseCode == ASC_NO_MEDIUM);
    // A medium that was just put in reports its change for a while. A device
    // that keeps doing so counts as never ready.
    DWORD start = GetTickCount();
    while (LastSenseError.AdditionalSenseCode == ASC_MEDIA_CHANGED ||
           LastSenseError.AdditionalSenseCode == ASC_NO_MEDIUM) {
        if (GetTickCount() - start >= PerformanceTiming.ReadyLimitMs)
            return 0;
        if (!WaitResponsively(dialog, PerformanceTiming.ReadyRetryMs))
            return 0;
        ready = TestUnitReadyAfresh(adapter, target);
    }
    return ready;
}

// The three transfer sizes in blocks: one block, about 16 KB and about
// 64 KB, each at least one block however long the blocks are.
static void ComputeTransferSizes(DWORD sizes[3]) {
    sizes[0] = 1;
    sizes[1] = 16384 / BlockLength;
    sizes[2] = 65535 / BlockLength;
    for (int i = 1; i < 3; i++) {
        if (sizes[i] == 0)
            sizes[i] = 1;
    }
}

// Ends a run: the buffer and the completion event are given back, the
// button reads "OK" and the arrow cursor returns.
static void EndRun(HWND dialog, BYTE* buffer, UINT messageId) {
    if (buffer != NULL)
        GlobalFree(buffer);
    if (UseAspi == 1)
        CloseCompletionEvent();
    if (messageId != 0) {
        ShowMessageAndEnableOk(dialog, messageId);
    } else {
        EnableWindow(GetDlgItem(dialog, IDOK), TRUE);
        SetDlgItemTextA(dialog, IDOK, TextOk);
    }
    SetCursor(LoadCursorA(NULL, IDC_ARROW));
}

// A random address for a transfer of `size` blocks: a multiple of the
// stride that leaves room for the transfer. On a medium smaller than the
// transfer the limit wraps round, so any address is taken and the read past
// the end fails.
static DWORD RandomAddress(DWORD size, DWORD stride) {
    DWORD limit = LastBlock - size;
    ULONGLONG address;

    do
        address = (ULONGLONG)RandomBelow(32768) * stride;
    while (address > limit);
    return (DWORD)address;
}

// Reads transfers of `size` blocks for the measuring time, which begins at a
// second boundary of the clock; *total receives the blocks read. 0 when a
// read failed.
static int MeasureReads(BYTE* buffer, DWORD size, int random, DWORD stride, DWORD* total) {
    BYTE adapter = PerformanceDevice->AdapterNumber;
    BYTE target = PerformanceDevice->TargetId;
    DWORD address = 0;
    DWORD start = PerformanceTiming.SecondsClock();

    *total = 0;
    while (PerformanceTiming.SecondsClock() == start)
        Sleep(1);
    while (PerformanceTiming.SecondsClock() - start < PerformanceTiming.MeasureSeconds + 1) {
        if (!ScsiRead10(adapter, target, address, BlockLength, size, buffer))
            return 0;
        address = random ? RandomAddress(size, stride) : address + size;
        *total += size;
    }
    return 1;
}

// The rate in tenths of KB/s (1 KB = 1024 bytes), shown as "%4ld.%1ld KB/s"
// (printed from 32 bits, which any rate a device reaches fits).
static void ShowRate(HWND dialog, int field, DWORD total) {
    char text[RESULT_TEXT_SIZE];
    ULONGLONG rate =
        (((ULONGLONG)BlockLength * 10 / 16) * total / PerformanceTiming.MeasureSeconds) >> 6;

    if (rate > 0xFFFFFFFFu)
        rate = 0xFFFFFFFFu;
    snprintf(text, sizeof text, "%4lu.%1lu KB/s", (unsigned long)(rate / 10),
             (unsigned long)(rate % 10));
    SetDlgItemTextA(dialog, field, text);
}

static void OnRunPerformance(HWND dialog) {
    DWORD sizes[3], stride, total;
    BYTE* buffer;

    // One run for each opening, and only on a medium whose size is known.
    if (RunStarted || BlockLength == 0 || LastBlock == 0)
        return;
    RunStarted = TRUE;
    SetDlgItemTextA(dialog, IDC_PERF_STATUS_LINE1, TextTesting);
    RepaintNow(dialog);
    ScsiSeek(PerformanceDevice->AdapterNumber, PerformanceDevice->TargetId, 0);
    // Room for the largest transfer, and for one block however long it is.
    buffer = (BYTE*)GlobalAlloc(GMEM_FIXED,
                                BlockLength > READ_BUFFER_SIZE ? BlockLength : READ_BUFFER_SIZE);
    if (buffer == NULL) {
        EndRun(dialog, NULL, IDS_MSG_NO_GLOBAL_MEMORY);
        return;
    }
    ComputeTransferSizes(sizes);
    stride = (LastBlock - 65536 / BlockLength) / 32767;
    if (stride < 1)
        stride = 1;
    for (int pass = 0; pass < 2; pass++) {
        for (int size = 0; size < 3; size++) {
            if (!MeasureReads(buffer, sizes[size], pass, stride, &total)) {
                EndRun(dialog, buffer, IDS_PERF_READ_ERROR);
                return;
            }
            ShowRate(dialog, ResultFields[pass][size], total != 0 ? total : sizes[size]);
            RepaintNow(dialog);
        }
    }
    ShowStringInControl(dialog, IDC_PERF_STATUS_LINE1, IDS_PERF_COMPLETE);
    EndRun(dialog, buffer, 0);
}

// TEST UNIT READY and READ CAPACITY; the capacity line when both succeed.
static void PrepareDevice(HWND dialog) {
    BYTE adapter = PerformanceDevice->AdapterNumber;
    BYTE target = PerformanceDevice->TargetId;
    BYTE data[CAPACITY_DATA_SIZE];
    char line[CAPACITY_LINE_SIZE];
    ULONGLONG megabytes;

    if (!TestUnitReadyWithRetry(dialog, adapter, target)) {
        // A user who closed the dialog while it waited needs no message.
        if (!CloseRequested)
            ShowMessageAndEnableOk(dialog, IDS_TUR_FAILED);
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return;
    }
    SetDlgItemTextA(dialog, IDC_PERF_STATUS_LINE1, " ");
    ZeroMemory(data, sizeof data);
    if (!ScsiReadCapacity(adapter, target, data)) {
        ShowMessageAndEnableOk(dialog, IDS_PERF_NO_MEDIA_SIZE);
        return;
    }
    DecodeReadCapacity(data, &LastBlock, &BlockLength);
    if (BlockLength == 0 || LastBlock == 0) {
        ShowMessageAndEnableOk(dialog, IDS_PERF_NO_MEDIA_SIZE);
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return;
    }
    megabytes = CapacityMegabytes(LastBlock, BlockLength);
    if (megabytes > 0xFFFFFFFFu)
        megabytes = 0xFFFFFFFFu;
    snprintf(line, sizeof line,
             "Device's sector size is %lu Bytes.  Total capacity for this device is %lu "
             "Megabytes.\n",
             (unsigned long)BlockLength, (unsigned long)megabytes);
    SetDlgItemTextA(dialog, IDC_PERF_STATUS_LINE1, line);
}

static BOOL OnPerformanceInit(HWND dialog, LPARAM slot) {
    const char* untestable[] = {TextScanner, TextTape, TextWorm};
    const int blankFields[] = {
        IDC_SEQUENTIAL_1_SECTOR, IDC_SEQUENTIAL_16K,    IDC_SEQUENTIAL_64K,
        IDC_RANDOM_1_SECTOR,     IDC_RANDOM_16K,        IDC_RANDOM_64K,
        IDC_PERF_STATUS_LINE1,   IDC_PERF_STATUS_LINE2, IDC_PERF_STATUS_LINE3};

    Waiting = CloseRequested = RunStarted = FALSE;
    BlockLength = LastBlock = 0;
    if (StatusBrush != NULL)
        DeleteObject(StatusBrush);
    StatusBrush = CreateSolidBrush(RGB(255, 255, 255));
    PerformanceDevice = &DeviceTable[slot];
    PerformanceBitmap = NULL;
    if (!AcceptTestableDevice(dialog, PerformanceDevice))
        return TRUE;
    ShowDeviceIdentity(dialog, PerformanceDevice);
    for (int i = 0; i < (int)(sizeof blankFields / sizeof blankFields[0]); i++)
        SetDlgItemTextA(dialog, blankFields[i], " ");
    PerformanceBitmap = PerformanceDevice->TypeBitmap;
    CenterWindow(dialog, GetWindow(dialog, GW_OWNER));
    SetDlgItemTextA(dialog, IDOK, TextBeginTests);
    if (TypeTextIsOneOf(PerformanceDevice->TypeText, untestable, 3)) {
        ShowStringInControl(dialog, IDC_PERF_STATUS_LINE1, IDS_PERF_NOT_AVAILABLE);
        SetDlgItemTextA(dialog, IDOK, TextOk);
        return TRUE;
    }
    PrepareDevice(dialog);
    return TRUE;
}

static void OnPerformanceCommand(HWND dialog, int command) {
    char button[BUTTON_TEXT_SIZE];

    // While the dialog waits for the device only a close is taken.
    if (Waiting) {
        if (command == IDCANCEL)
            CloseRequested = TRUE;
        return;
    }
    GetDlgItemTextA(dialog, IDOK, button, sizeof button);
    if (command == IDOK && strcmp(button, TextBeginTests) == 0) {
        EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
        SetCursor(LoadCursorA(AppInstance, MAKEINTRESOURCEA(IDCUR_BUSY)));
        PostMessageA(dialog, WM_RUN_PERFORMANCE, 0, 0);
    } else if ((command == IDOK && strcmp(button, TextOk) == 0) || command == IDCANCEL) {
        DeleteObject(StatusBrush);
        StatusBrush = NULL;
        EndDeviceDialog(dialog);
    }
}

// The status lines are black on white.
static HBRUSH OnPerformanceColor(HDC dc, HWND control) {
    int id = GetDlgCtrlID(control);

    if (id < IDC_PERF_STATUS_LINE1 || id > IDC_PERF_STATUS_LINE3)
        return NULL;
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkColor(dc, RGB(255, 255, 255));
    return StatusBrush;
}

INT_PTR CALLBACK PerformanceDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnPerformanceInit(dialog, lParam);
    case WM_COMMAND:
        OnPerformanceCommand(dialog, LOWORD(wParam));
        return TRUE;
    case WM_CTLCOLORSTATIC:
        return (INT_PTR)OnPerformanceColor((HDC)wParam, (HWND)lParam);
    case WM_RUN_PERFORMANCE:
        OnRunPerformance(dialog);
        return TRUE;
    case WM_PAINT:
        PaintDevicePicture(dialog, PerformanceBitmap);
        return TRUE;
    }
    return FALSE;
}
