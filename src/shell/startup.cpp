// Start-up: single instance, texts, platform, main window, splash, help
// files, the SCSI transport and the adapters, then the message loop.
#include "startup.h"
#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include "resource.h"
#include "inventory/adapterid.h"
#include "inventory/inventory.h"
#include "inventory/ntscan.h"
#include "inventory/scanmessages.h"
#include "scsi/facade/scsifacade.h"
#include "shell/aspiload.h"
#include "shell/helpabout.h"
#include "shell/mainwindow.h"
#include "shell/message.h"
#include "shell/splash.h"
#include "shell/strings.h"
#include "views/devicetree.h"

// Longest text of the inserted menu item.
#define MENU_ITEM_LENGTH 29
#define IDENTIFIER_LENGTH 15

LONG PlatformFromVersion(DWORD version) {
    if ((version & 0x80000000u) == 0)
        return PLATFORM_NT;
    if (LOBYTE(LOWORD(version)) >= 4)
        return PLATFORM_WIN95;
    return 0;
}

int ActivateRunningInstance(void) {
    HWND running = FindWindowA(NULL, MAIN_WINDOW_TITLE);

    if (running == NULL)
        return 0;
    SetForegroundWindow(running);
    ShowWindow(running, SW_SHOWNORMAL);
    return 1;
}

int InsertDiagnosticsMenuItem(void) {
    char text[MESSAGE_TEXT_SIZE];

    if (LoadStringA(AppInstance, IDS_MENU_DIAGNOSTIC_TESTS, text, sizeof text) == 0) {
        ShowProgramMessage(MainWindow, IDS_LOAD_STRING_FAILED, MB_OK | MB_ICONHAND);
        return 0;
    }
    text[MENU_ITEM_LENGTH] = '\0';
    if (!InsertMenuA(DeviceMenu, IDM_PERFORMANCE_TESTS, MF_BYCOMMAND | MF_STRING,
                     IDM_DIAGNOSTIC_TESTS, text)) {
        ShowProgramMessage(MainWindow, IDS_MSG_NO_MENU, MB_OK | MB_ICONHAND);
        return 0;
    }
    DrawMenuBar(MainWindow);
    return 1;
}

// The identifier up to its first character that is not a letter, digit,
// punctuation mark or blank.
static void CopyAdapterIdentifier(char* dest, const BYTE* source) {
    int length = 0;

    while (length < IDENTIFIER_LENGTH &&
           (isalnum(source[length]) || ispunct(source[length]) || source[length] == ' ')) {
        dest[length] = (char)source[length];
        length++;
    }
    dest[length] = '\0';
}

void FillAdapterRecord(HostAdapterRecord* record, const SRB_HAInquiry* block) {
    CopyAdapterIdentifier(record->Identifier, block->HA_Identifier);
    CopyTextField(record->ManagerId, sizeof record->ManagerId, block->HA_ManagerId,
                  sizeof block->HA_ManagerId);
    record->AdapterNumber = block->SRB_HaId;
    record->HostScsiId = block->HA_SCSI_ID;
    record->MaxTargets = block->HA_Unique[3] != 0 ? block->HA_Unique[3] : 8;
    record->DeviceCount = 0;
}

// An adapter left without an identifier would show an empty label, or one
// borrowed from another adapter's registry entries: it is named by its ASPI
// number instead, in parentheses so that it reads as no adapter's
// description.
static void LabelUnnamedAdapter(HostAdapterRecord* record) {
    char format[sizeof record->Description];

    if (LoadStringA(AppInstance, IDS_TREE_UNNAMED_ADAPTER, format, sizeof format) > 0)
        snprintf(record->Description, sizeof record->Description, format,
                 (unsigned)record->AdapterNumber);
}

// Adapters that are not SCSI host adapters of their own: on Windows 95 the
// ESDI_506 (IDE) pseudo adapter and any with an impossible SCSI ID, on NT
// the ports at the primary and secondary IDE channels' addresses.
static int IsSkippedAdapter(const SRB_HAInquiry* block, int adapterNumber) {
    char identifier[sizeof block->HA_Identifier + 1];
    int address;

    if (PlatformKind == PLATFORM_WIN95) {
        CopyTextField(identifier, sizeof identifier, block->HA_Identifier,
                      sizeof block->HA_Identifier);
        return block->HA_SCSI_ID > 15 || strstr(identifier, "ESDI_506") != NULL;
    }
    address = GetPortIoAddress(adapterNumber);
    return address == 0x1F0 || address == 0x170;
}

void BeginAdapterEnumeration(int reported, int atStartup) {
    SRB_HAInquiry block;
    HostAdapterRecord* record;
    int adapterNumber, filled = 0, index;

    // ASPI counts at most 8 adapters; the table has no room for more.
    if (reported > MAX_ADAPTERS)
        reported = MAX_ADAPTERS;
    AdapterCount = reported;
    for (index = 0; index < reported; index++)
        HostAdapterTable[index].DeviceCount = 0;

    KvxhbaHandle = NULL;
    if (PlatformKind == PLATFORM_WIN95) {
        KvxhbaHandle = CreateFileA("\\\\.\\KVXHBA", 0, 0, NULL, OPEN_EXISTING, 1, NULL);
        if (KvxhbaHandle == INVALID_HANDLE_VALUE) {
            KvxhbaHandle = NULL;
            if (atStartup)
                ShowProgramMessage(MainWindow, IDS_MSG_NO_KVXHBA, MB_OK);
        }
    }

    for (adapterNumber = 0; adapterNumber < MAX_ADAPTERS; adapterNumber++) {
        ZeroMemory(&block, sizeof block);
        ScsiHostAdapterInquiry(&block, (BYTE)adapterNumber);
        if (block.SRB_Status == SS_INVALID_HA)
            break;
        if (IsSkippedAdapter(&block, adapterNumber)) {
            AdapterCount--;
            continue;
        }
        record = &HostAdapterTable[filled];
        FillAdapterRecord(record, &block);
        IdentifyHostAdapter(adapterNumber, filled);
        if (PlatformKind == PLATFORM_WIN95)
            DescribeAdapter(record);
        if (record->Identifier[0] == '\0')
            LabelUnnamedAdapter(record);
        record->TreeItem = AddTreeItem(record->Description, TreeView, filled);
        filled++;
    }

    if (KvxhbaHandle != NULL)
        CloseHandle(KvxhbaHandle);
    KvxhbaHandle = NULL;
    // The count is what was recorded, even when ASPI reported more (or fewer)
    // adapters than answered the inquiry.
    AdapterCount = filled;
}

void AddTreeItemsReversed(void) {
    int index;

    for (index = AdapterCount - 1; index >= 0; index--)
        HostAdapterTable[index].TreeItem =
            AddTreeItem(HostAdapterTable[index].Description, TreeView, index);
}

int RunMessageLoop(HACCEL accelerators) {
    MSG message;
    BOOL got;

    while ((got = GetMessageA(&message, NULL, 0, 0)) != 0) {
        if (got == -1)
            return 0;
        if (accelerators != NULL && MainWindow != NULL &&
            TranslateAcceleratorA(MainWindow, accelerators, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return (int)message.wParam;
}

// Start-up gives up after the main window exists: take the splash down and
// leave no window, class or library behind.
static int AbandonStartup(HINSTANCE instance) {
    MSG quit;

    SplashHide();
    UseAspi = 0;
    if (MainWindow != NULL)
        DestroyWindow(MainWindow);
    PeekMessageA(&quit, NULL, WM_QUIT, WM_QUIT, PM_REMOVE);
    UnregisterClassA(MAIN_WINDOW_CLASS, instance);
    UnloadAspiLibrary();
    return 0;
}

// NT without ASPI: scan the SCSI ports at once and show the result.
static void StartNtPassThrough(void) {
    HighestTargetId = 15;
    AdapterCount = 0;
    EnumerateScsiPorts();
    AddTreeItemsReversed();
    ScanComplete = 1;
    ShowFirstAdapter();
}

// ASPI reported `count` adapters and is ready: record them.
static int StartAspi(int count) {
    UseAspi = 1;
    DeviceMenu = GetSubMenu(MainMenu, 1);
    if (DeviceMenu == NULL) {
        ShowProgramMessage(MainWindow, IDS_MSG_NO_MENU, MB_OK | MB_ICONHAND);
        return 0;
    }
    if (!InsertDiagnosticsMenuItem())
        return 0;
    BeginAdapterEnumeration(count, 1);
    return 1;
}

// Loads ASPI for Win32 and chooses the transport. 1 when start-up goes on,
// with *ntPath set when the NT pass-through took over; 0 to end.
static int ChooseTransport(int* ntPath) {
    DWORD support;
    int count, status;

    *ntPath = 0;
    if (!LoadAspiLibrary()) {
        if (AspiLibrary == NULL && PlatformKind == PLATFORM_NT) {
            *ntPath = 1;
            StartNtPassThrough();
            return 1;
        }
        // Windows 95 without the library, or a library without its entry points.
        ShowProgramMessage(MainWindow, IDS_MSG_ASPI_INIT_FAILED, MB_OK | MB_ICONHAND);
        return 0;
    }
    support = GetAspi32SupportInfo();
    count = LOBYTE(LOWORD(support));
    status = HIBYTE(LOWORD(support));
    if (count == 0) {
        ShowProgramMessage(NULL, IDS_MSG_NO_ADAPTERS, MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    if (status == SS_COMP)
        return StartAspi(count);
    if (status == SS_FAILED_INIT) {
        ShowProgramMessage(MainWindow, IDS_MSG_ASPI_NOT_AVAILABLE, MB_OK | MB_ICONHAND);
        return 1;
    }
    ShowProgramMessage(MainWindow, IDS_MSG_ASPI_INIT_FAILED, MB_OK | MB_ICONHAND);
    return 0;
}

int QuorvexMain(HINSTANCE instance, int showCommand) {
    HACCEL accelerators;
    int ntPath;

    InitializeInventory();
    if (ActivateRunningInstance())
        return 0;
    if (!PreloadStrings(instance))
        return 0;
    AppInstance = instance;
    PlatformKind = PlatformFromVersion(GetVersion());
    if (PlatformKind == 0) {
        ShowProgramMessage(NULL, IDS_MSG_WIN32S, MB_OK | MB_ICONHAND);
        return 0;
    }
    MainWindowShowCommand = showCommand;
    if (!RegisterMainWindowClass(instance))
        return 0;
    if (!CreateMainWindow(instance)) {
        UnregisterClassA(MAIN_WINDOW_CLASS, instance);
        return 0;
    }
    MainMenu = GetMenu(MainWindow);
    if (MainMenu == NULL) {
        ShowProgramMessage(MainWindow, IDS_MSG_NO_MENU, MB_OK | MB_ICONHAND);
        return AbandonStartup(instance);
    }

    BusyState = BUSY_STARTUP;
    SplashShow(instance, "Splash");
    if (!LocateHelpFiles())
        return AbandonStartup(instance);
    if (!ChooseTransport(&ntPath))
        return AbandonStartup(instance);

    if (AdapterCount < 1)
        ShowProgramMessage(MainWindow, IDS_MSG_NO_KESTRAIL, MB_OK | MB_ICONHAND);
    accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDA_MAIN_ACCELERATORS));
    if (UseAspi == 1)
        HighestTargetId = HostAdapterTable[0].MaxTargets - 1;
    PostMessageA(MainWindow, ntPath ? WM_SCAN_COMPLETE : WM_SCAN_START, 0, 0);
    return RunMessageLoop(accelerators);
}
