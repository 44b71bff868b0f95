// The device diagnostic tests: TEST UNIT READY, a descriptor READ BUFFER to
// see that the device has buffer memory, WRITE BUFFER of the test pattern and
// READ BUFFER compared with it. Each test's state is a coloured label beside
// its check box; a failure is explained from the recorded sense data.
#include "diagnostics.h"
#include <stdio.h>
#include <string.h>
#include "resource.h"
#include "inventory/inventory.h"
#include "inventory/scanmessages.h"
#include "scsi/facade/scsifacade.h"
#include "scsi/sense.h"
#include "shell/helpabout.h"
#include "shell/frame.h"
#include "shell/strings.h"
#include "shell/toolentry.h"
#include "tools/devicedialog.h"

#define BUTTON_TEXT_SIZE 21
#define FAILURE_TEXT_SIZE 256
#define PASS_PAUSE_MS 1000

#define ASC_MEDIA_CHANGED 0x28
#define ASC_POWER_ON_RESET 0x29

// The three tests: the check box named after the command and its label.
enum { TEST_UNIT_READY, TEST_WRITE_BUFFER, TEST_READ_BUFFER, TEST_COUNT };

typedef struct {
    int CheckBox;
    int Label;
} TestControls;

static const TestControls TestControlTable[TEST_COUNT] = {
    {IDC_FIELD_1022, IDC_FIELD_1026},
    {IDC_FIELD_1024, IDC_FIELD_1028},
    {IDC_FIELD_1025, IDC_FIELD_1029},
};

typedef struct {
    BOOL Running;
    BOOL Passed;
    BOOL Failed;
} TestFlags;

// Control ids and their context help ids, ended by a 0, 0 pair.
// clang-format off
const DWORD DiagnosticHelpIds[] = {
    IDC_SCSI_ADDRESS, 20000,
    IDC_MANUFACTURER, 20001,
    IDC_VERSION,      20002,
    IDC_DEVICE_TYPE,  20003,
    IDC_PRODUCT_NAME, 20004,
    IDC_FIELD_1022,   20110,
    IDC_FIELD_1023,   20111,
    IDC_FIELD_1024,   20112,
    IDC_FIELD_1025,   20113,
    IDC_FIELD_1026,   20114,
    IDC_FIELD_1027,   20115,
    IDC_FIELD_1028,   20116,
    IDC_FIELD_1029,   20117,
    IDOK,             (DWORD)-1,
    0,                0};
// clang-format on

static void PauseWithSleep(DWORD milliseconds) {
    SleepEx(milliseconds, FALSE);
}

DiagnosticPauseProc DiagnosticPause = PauseWithSleep;

// State of the open dialog, reset when it opens.
static TestFlags TestState[TEST_COUNT];
static BOOL StopTests;
static BOOL UnsupportedByDriver;
static BOOL TestNotAvailable;
static BOOL RunStarted;
static HBRUSH GreenBrush, RedBrush, BlackBrush, WhiteBrush;
static HBITMAP DiagnosticBitmap;
static const DeviceRecord* DiagnosticDevice;

int OpenDiagnosticTestsDialog(HWND owner, int slot) {
    return (int)DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_DIAGNOSTIC_TESTS), owner,
                                DiagnosticsDialog, (LPARAM)slot);
}

static void DeleteBrushes(void) {
    HBRUSH* brushes[] = {&GreenBrush, &RedBrush, &BlackBrush, &WhiteBrush};

    for (int i = 0; i < 4; i++) {
        if (*brushes[i] != NULL)
            DeleteObject(*brushes[i]);
        *brushes[i] = NULL;
    }
}

// Appends `tail` to the text in `text` (of `size` bytes), cutting it to fit.
static void AppendText(char* text, size_t size, const char* tail) {
    size_t used = strlen(text);

    if (used + 1 < size)
        CopyText(text + used, size - used, tail);
}

static void LoadText(UINT id, char* text, size_t size) {
    if (LoadStringA(AppInstance, id, text, (int)size) == 0)
        text[0] = '\0';
}

// The explanation of a failed test: the message of the recorded sense data
// (whose key, code and qualifier then go to the second information line),
// else the message of the error report, else nothing.
static void BuildFailureText(HWND dialog, char* text, size_t size) {
    char report[FAILURE_TEXT_SIZE];

    text[0] = '\0';
    if (LastSenseError.MessageId != 0) {
        snprintf(report, sizeof report, "%s%s 0x0%lx%s 0x%lx%s 0x%lx", TextLastSenseData,
                 TextSenseKey, (unsigned long)LastSenseError.SenseKey, TextSenseCode,
                 (unsigned long)LastSenseError.AdditionalSenseCode, TextSenseQualifier,
                 (unsigned long)LastSenseError.AdditionalSenseCodeQualifier);
        SetDlgItemTextA(dialog, IDC_DIAG_INFO_LINE2, report);
        LoadText(LastSenseError.MessageId, text, size);
    } else if (LastErrorReport.ReportMessageId == REPORT_SYSTEM_TEXT) {
        CopyText(text, size, LastErrorReport.SystemText);
    } else if (LastErrorReport.ReportMessageId != 0) {
        LoadText(LastErrorReport.ReportMessageId, text, size);
    }
}

// A test begins: its check box is enabled and its label reads "Testing...".
static void StartTest(HWND dialog, int test) {
    TestState[test].Running = TRUE;
    EnableWindow(GetDlgItem(dialog, TestControlTable[test].CheckBox), TRUE);
    SetDlgItemTextA(dialog, TestControlTable[test].Label, TextTesting);
    RepaintNow(dialog);
}

static void PassTest(HWND dialog, int test) {
    CheckDlgButton(dialog, TestControlTable[test].CheckBox, BST_CHECKED);
    TestState[test].Passed = TRUE;
    SetDlgItemTextA(dialog, TestControlTable[test].Label, TextPassed);
}

static void FailTest(HWND dialog, int test) {
    TestState[test].Failed = TRUE;
    SetDlgItemTextA(dialog, TestControlTable[test].Label, TextFailed);
}

// The pause after a passed buffer test, which only Windows NT takes.
static void PauseOnNt(void) {
    if (PlatformKind == PLATFORM_NT)
        DiagnosticPause(PASS_PAUSE_MS);
}

static int IsUnitAttention(DWORD asc) {
    return asc == ASC_MEDIA_CHANGED || asc == ASC_POWER_ON_RESET;
}

// TEST UNIT READY, repeated once after a unit attention. On a failure the
// user chooses whether the buffer tests still run.
static void RunTestUnitReady(HWND dialog, BYTE adapter, BYTE target) {
    char text[FAILURE_TEXT_SIZE];
    char caption[SHORT_TEXT_SIZE];
    int ready;

    StartTest(dialog, TEST_UNIT_READY);
    ready = ScsiTestUnitReady(adapter, target);
    if (!ready && IsUnitAttention(LastSenseError.AdditionalSenseCode)) {
        // The repeated command reports only its own outcome.
        ClearErrorRecords();
        ready = ScsiTestUnitReady(adapter, target);
    }
    if (ready) {
        DiagnosticPause(PASS_PAUSE_MS);
        PassTest(dialog, TEST_UNIT_READY);
        return;
    }
    FailTest(dialog, TEST_UNIT_READY);
    BuildFailureText(dialog, text, sizeof text);
    AppendText(text, sizeof text, TextContinueQuery);
    if (LoadStringA(AppInstance, IDS_TUR_FAILED, caption, sizeof caption) == 0 ||
        MessageBoxA(dialog, text, caption, MB_OKCANCEL | MB_ICONSTOP) != IDOK)
        StopTests = TRUE;
    else
        ClearErrorRecords();
}

static void RunWriteBuffer(HWND dialog, BYTE adapter, BYTE target) {
    char text[FAILURE_TEXT_SIZE];
    char caption[SHORT_TEXT_SIZE];

    StartTest(dialog, TEST_WRITE_BUFFER);
    ClearErrorRecords();
    if (ScsiWriteBuffer(adapter, target)) {
        PauseOnNt();
        PassTest(dialog, TEST_WRITE_BUFFER);
        return;
    }
    BuildFailureText(dialog, text, sizeof text);
    if (LastErrorReport.ReportMessageId == IDS_NT_DRIVER_UNSUPPORTED) {
        // The NT class driver refuses the command: both buffer tests stay
        // untested and the run ends normally.
        MessageBoxA(dialog, text, MessageCaption, MB_OK | MB_ICONSTOP);
        UnsupportedByDriver = TRUE;
        TestState[TEST_WRITE_BUFFER].Running = FALSE;
        SetDlgItemTextA(dialog, TestControlTable[TEST_WRITE_BUFFER].Label, TextNotTested);
        return;
    }
    AppendText(text, sizeof text, TextDiagComplete);
    LoadText(IDS_WRITE_BUFFER_FAILED, caption, sizeof caption);
    MessageBoxA(dialog, text, caption, MB_OK | MB_ICONSTOP);
    StopTests = TRUE;
    FailTest(dialog, TEST_WRITE_BUFFER);
}

static void RunReadBuffer(HWND dialog, BYTE adapter, BYTE target) {
    char text[FAILURE_TEXT_SIZE];
    char caption[SHORT_TEXT_SIZE];

    StartTest(dialog, TEST_READ_BUFFER);
    ClearErrorRecords();
    if (ScsiReadBuffer(adapter, target)) {
        PauseOnNt();
        PassTest(dialog, TEST_READ_BUFFER);
        return;
    }
    FailTest(dialog, TEST_READ_BUFFER);
    BuildFailureText(dialog, text, sizeof text);
    LoadText(IDS_READ_BUFFER_CMD_FAILED, caption, sizeof caption);
    MessageBoxA(dialog, text, caption, MB_OK | MB_ICONSTOP);
}

static void ShowClosingText(HWND dialog) {
    BOOL failed = FALSE;

    for (int test = 0; test < TEST_COUNT; test++)
        failed = failed || TestState[test].Failed;
    if (failed || StopTests) {
        SetDlgItemTextA(dialog, IDC_DIAG_INFO_LINE1, TextDiagComplete);
        return;
    }
    SetDlgItemTextA(dialog, IDC_DIAG_INFO_LINE1, TextDiagSuccess);
    ShowStringInControl(dialog, IDC_DIAG_INFO_LINE2, IDS_DIAG_CONFIRMATION);
}

// Asks before anything is sent; 1 when the user goes on.
static int ConfirmWarning(HWND dialog) {
    char warning[6 * LONG_TEXT_SIZE];
    const char* pieces[] = {TextWarning1, TextWarning2, TextWarning3,
                            TextWarning4, TextWarning5, TextWarning6};

    warning[0] = '\0';
    for (int i = 0; i < 6; i++)
        AppendText(warning, sizeof warning, pieces[i]);
    return MessageBoxA(dialog, warning, TextDiagnosticTests, MB_YESNO | MB_ICONEXCLAMATION) ==
           IDYES;
}

static void OnRunDiagnostics(HWND dialog) {
    BYTE adapter = DiagnosticDevice->AdapterNumber;
    BYTE target = DiagnosticDevice->TargetId;

    // One run for each opening, however often the button was pressed.
    if (RunStarted)
        return;
    RunStarted = TRUE;
    if (!ConfirmWarning(dialog)) {
        SetDlgItemTextA(dialog, IDOK, TextOk);
        SendMessageA(dialog, WM_COMMAND, IDOK, 0);
        return;
    }
    SetDlgItemTextA(dialog, IDC_DIAG_INFO_LINE1, TextDiagInProgress);
    ClearErrorRecords();
    RunTestUnitReady(dialog, adapter, target);
    ClearErrorRecords();
    if (ScsiReadBufferDescriptor(adapter, target) == 0)
        StopTests = TRUE;
    if (!StopTests)
        RunWriteBuffer(dialog, adapter, target);
    if (!StopTests && !UnsupportedByDriver)
        RunReadBuffer(dialog, adapter, target);
    ShowClosingText(dialog);
    SetDlgItemTextA(dialog, IDOK, TextOk);
}

static BOOL OnDiagnosticsInit(HWND dialog, LPARAM slot) {
    const char* untestable[] = {TextScanner, TextWorm, TextUnknown};

    ZeroMemory(TestState, sizeof TestState);
    StopTests = UnsupportedByDriver = TestNotAvailable = RunStarted = FALSE;
    DeleteBrushes();
    GreenBrush = CreateSolidBrush(RGB(0, 255, 0));
    RedBrush = CreateSolidBrush(RGB(255, 0, 0));
    BlackBrush = CreateSolidBrush(RGB(0, 0, 0));
    WhiteBrush = CreateSolidBrush(RGB(255, 255, 255));
    DiagnosticDevice = &DeviceTable[slot];
    DiagnosticBitmap = NULL;
    if (!AcceptTestableDevice(dialog, DiagnosticDevice))
        return TRUE;
    TestNotAvailable = TypeTextIsOneOf(DiagnosticDevice->TypeText, untestable, 3);
    ShowDeviceIdentity(dialog, DiagnosticDevice);
    for (int test = 0; test < TEST_COUNT; test++) {
        CheckDlgButton(dialog, TestControlTable[test].CheckBox, BST_UNCHECKED);
        EnableWindow(GetDlgItem(dialog, TestControlTable[test].CheckBox), FALSE);
    }
    SetDlgItemTextA(dialog, IDC_DIAG_INFO_LINE1, " ");
    SetDlgItemTextA(dialog, IDC_DIAG_INFO_LINE2, " ");
    DiagnosticBitmap = DiagnosticDevice->TypeBitmap;
    CenterWindow(dialog, GetWindow(dialog, GW_OWNER));
    SetDlgItemTextA(dialog, IDOK, TextBeginTests);
    if (TestNotAvailable) {
        SetDlgItemTextA(dialog, IDC_DIAG_INFO_LINE1, MessageCaption);
        ShowStringInControl(dialog, IDC_DIAG_INFO_LINE2, IDS_DIAG_NOT_AVAILABLE);
        SetDlgItemTextA(dialog, IDOK, TextOk);
    }
    return TRUE;
}

static void OnDiagnosticsCommand(HWND dialog, int command) {
    char button[BUTTON_TEXT_SIZE];

    GetDlgItemTextA(dialog, IDOK, button, sizeof button);
    if (command == IDOK && strcmp(button, TextBeginTests) == 0) {
        StopTests = FALSE;
        PostMessageA(dialog, WM_RUN_DIAGNOSTICS, 0, 0);
    } else if ((command == IDOK && strcmp(button, TextOk) == 0) || command == IDCANCEL) {
        DeleteBrushes();
        EndDeviceDialog(dialog);
    }
}

// Passed: black on green; failed: black on red; running: white on black.
// The information lines are black on white.
static HBRUSH OnDiagnosticsColor(HDC dc, HWND control) {
    int id = GetDlgCtrlID(control);

    for (int test = 0; test < TEST_COUNT; test++) {
        if (TestControlTable[test].Label != id)
            continue;
        if (TestState[test].Passed || TestState[test].Failed) {
            SetTextColor(dc, RGB(0, 0, 0));
            SetBkColor(dc, TestState[test].Passed ? RGB(0, 255, 0) : RGB(255, 0, 0));
            return TestState[test].Passed ? GreenBrush : RedBrush;
        }
        if (TestState[test].Running) {
            SetTextColor(dc, RGB(255, 255, 255));
            SetBkColor(dc, RGB(0, 0, 0));
            return BlackBrush;
        }
        return NULL;
    }
    if (id == IDC_DIAG_INFO_LINE1 || id == IDC_DIAG_INFO_LINE2) {
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkColor(dc, RGB(255, 255, 255));
        return WhiteBrush;
    }
    return NULL;
}

INT_PTR CALLBACK DiagnosticsDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnDiagnosticsInit(dialog, lParam);
    case WM_COMMAND:
        OnDiagnosticsCommand(dialog, LOWORD(wParam));
        return TRUE;
    case WM_CTLCOLORSTATIC:
        return (INT_PTR)OnDiagnosticsColor((HDC)wParam, (HWND)lParam);
    case WM_RUN_DIAGNOSTICS:
        OnRunDiagnostics(dialog);
        return TRUE;
    case WM_HELP:
        HelpViewer((HWND)((LPHELPINFO)lParam)->hItemHandle, ContextHelpFilePath, HELP_WM_HELP,
                   (ULONG_PTR)DiagnosticHelpIds);
        return TRUE;
    case WM_CONTEXTMENU:
        HelpViewer((HWND)wParam, ContextHelpFilePath, HELP_CONTEXTMENU,
                   (ULONG_PTR)DiagnosticHelpIds);
        return TRUE;
    case WM_PAINT:
        PaintDevicePicture(dialog, DiagnosticBitmap);
        return TRUE;
    }
    return FALSE;
}
