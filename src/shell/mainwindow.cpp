// The main window procedure: commands, notifications, the scan messages,
// the wide-bus setting, the re-scan and the saved window position.
#include "mainwindow.h"
#include <windowsx.h>
#include <commctrl.h>
#include <stdio.h>
#include <string.h>
#include "resource.h"
#include "inventory/aspiscan.h"
#include "inventory/inventory.h"
#include "inventory/ntscan.h"
#include "inventory/scanmessages.h"
#include "shell/aspiload.h"
#include "shell/frame.h"
#include "shell/helpabout.h"
#include "shell/message.h"
#include "shell/splash.h"
#include "shell/startup.h"
#include "shell/strings.h"
#include "shell/toolentry.h"
#include "views/devicelist.h"
#include "views/devicetree.h"

#define TOOL_TIP_SIZE 260

WindowPosition WindowPosRecord;
int MainWindowShowCommand = SW_SHOWNORMAL;

static char ToolTipText[TOOL_TIP_SIZE];
static WCHAR ToolTipTextWide[TOOL_TIP_SIZE];

BOOL RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSA windowClass;

    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(134));
    windowClass.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    windowClass.lpszMenuName = MAIN_MENU_NAME;
    windowClass.lpszClassName = MAIN_WINDOW_CLASS;
    return RegisterClassA(&windowClass) != 0;
}

// Scales a stored coordinate by factor / 10; the registry may hold anything,
// so the product is formed in 64 bits and kept within 32.
static LONG ScaleCoordinate(LONG value, LONGLONG factor) {
    LONGLONG scaled = (LONGLONG)value * factor / 10;

    if (scaled > 0x7FFFFFFF)
        return 0x7FFFFFFF;
    if (scaled < -0x7FFFFFFF)
        return -0x7FFFFFFF;
    return (LONG)scaled;
}

void ComputeWindowPos(WindowPosition* record, int screenWidth, int screenHeight, int useDefaults) {
    LONGLONG fx, fy;

    // A stored screen size of 0 (or less) is no size at all: use the defaults.
    if (useDefaults || record->ScreenWidth <= 0 || record->ScreenHeight <= 0) {
        record->Left = screenWidth / 5;
        record->Top = screenHeight / 5;
        record->Width = (screenWidth / 5) * 3;
        record->Height = (screenHeight / 5) * 3;
        record->ViewMode = 0;
    } else {
        fx = ((LONGLONG)screenWidth * 10) / record->ScreenWidth;
        fy = ((LONGLONG)screenHeight * 10) / record->ScreenHeight;
        record->Left = ScaleCoordinate(record->Left, fx);
        record->Width = ScaleCoordinate(record->Width, fx);
        record->Top = ScaleCoordinate(record->Top, fy);
        record->Height = ScaleCoordinate(record->Height, fy);
    }
    record->ScreenWidth = screenWidth;
    record->ScreenHeight = screenHeight;
}

LONG StoreWindowPos(HKEY key, int screenWidth, int screenHeight, WindowPosition* record, DWORD size,
                    int useDefaults) {
    ComputeWindowPos(record, screenWidth, screenHeight, useDefaults);
    return RegSetValueExA(key, WINDOW_POS_VALUE, 0, REG_BINARY, (const BYTE*)record, size);
}

// 1 when a window placed by the record is usable in the work area: at least
// the smallest size a user can drag it to, no taller than the work area, and
// its caption bar wholly inside the work area.
static int WindowPosIsUsable(const WindowPosition* record, const RECT* workArea) {
    LONGLONG right = (LONGLONG)record->Left + record->Width;
    LONGLONG captionBottom =
        (LONGLONG)record->Top + GetSystemMetrics(SM_CYFRAME) + GetSystemMetrics(SM_CYCAPTION);

    if (record->Width < GetSystemMetrics(SM_CXMINTRACK) ||
        record->Height < GetSystemMetrics(SM_CYMINTRACK) ||
        record->Height > workArea->bottom - workArea->top)
        return 0;
    // The caption is where the user takes hold of the window to move it.
    return record->Left >= workArea->left && right <= workArea->right &&
           record->Top >= workArea->top && captionBottom <= workArea->bottom;
}

static LONG OpenSettingsKey(HKEY* key) {
    return RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, NULL, REG_OPTION_NON_VOLATILE,
                           KEY_ALL_ACCESS, NULL, key, NULL);
}

// Reads the whole record; anything shorter or of another type is no record.
static int QueryWindowPos(HKEY key, WindowPosition* record) {
    WindowPosition stored;
    DWORD size = sizeof stored, type = 0;

    if (RegQueryValueExA(key, WINDOW_POS_VALUE, NULL, &type, (BYTE*)&stored, &size) !=
            ERROR_SUCCESS ||
        size != sizeof stored)
        return 0;
    *record = stored;
    return 1;
}

int ReadWindowPos(WindowPosition* record) {
    HKEY key;
    int found;

    if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    found = QueryWindowPos(key, record);
    RegCloseKey(key);
    return found;
}

static void GetWorkArea(RECT* workArea, int screenWidth, int screenHeight) {
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, workArea, 0))
        SetRect(workArea, 0, 0, screenWidth, screenHeight);
}

// The position the window opens at: stored, rescaled, or the defaults. A
// record that would leave the window out of reach or too small to use is
// replaced by the defaults, in the registry too, so the window recovers.
static void LoadWindowPos(int screenWidth, int screenHeight) {
    HKEY key;
    RECT workArea;

    ZeroMemory(&WindowPosRecord, sizeof WindowPosRecord);
    if (OpenSettingsKey(&key) != ERROR_SUCCESS) {
        ComputeWindowPos(&WindowPosRecord, screenWidth, screenHeight, 1);
        return;
    }
    if (!QueryWindowPos(key, &WindowPosRecord))
        StoreWindowPos(key, screenWidth, screenHeight, &WindowPosRecord, sizeof WindowPosRecord, 1);
    else if (WindowPosRecord.ScreenWidth != screenWidth ||
             WindowPosRecord.ScreenHeight != screenHeight)
        StoreWindowPos(key, screenWidth, screenHeight, &WindowPosRecord, sizeof WindowPosRecord, 0);
    GetWorkArea(&workArea, screenWidth, screenHeight);
    if (!WindowPosIsUsable(&WindowPosRecord, &workArea))
        StoreWindowPos(key, screenWidth, screenHeight, &WindowPosRecord, sizeof WindowPosRecord, 1);
    RegCloseKey(key);
}

BOOL CreateMainWindow(HINSTANCE instance) {
    LoadWindowPos(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    AppInstance = instance;
    MainWindow = CreateWindowA(MAIN_WINDOW_CLASS, MAIN_WINDOW_TITLE, WS_OVERLAPPEDWINDOW,
                               WindowPosRecord.Left, WindowPosRecord.Top, WindowPosRecord.Width,
                               WindowPosRecord.Height, NULL, NULL, instance, NULL);
    return MainWindow != NULL;
}

// The root item stands for no adapter and does not count as narrow.
static int SelectedAdapterIsNarrow(void) {
    return SelectedAdapter >= 0 && SelectedAdapter < MAX_ADAPTERS &&
           HostAdapterTable[SelectedAdapter].MaxTargets == 8;
}

static int WideBusChecked(void) {
    return (GetMenuState(MainMenu, IDM_WIDE_BUS, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

static void SetWideBusCheck(int checked) {
    CheckMenuItem(MainMenu, IDM_WIDE_BUS, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

void ShowFirstAdapter(void) {
    HTREEITEM root = TreeView_GetRoot(TreeView);

    if (root != NULL)
        TreeView_Expand(TreeView, root, TVE_EXPAND);
    SelectedAdapter = 0;
    FillDeviceList(ListView, 0);
    ShowAdapterInStatusBar(AppInstance, StatusBar, 0);
    TreeView_SelectItem(TreeView, HostAdapterTable[0].TreeItem);
}

// ---- Notifications ----

static void OnToolTipText(NMHDR* header) {
    LoadStringA(AppInstance, (UINT)header->idFrom, ToolTipText, sizeof ToolTipText);
    if (header->code == TTN_NEEDTEXTA) {
        ((NMTTDISPINFOA*)header)->lpszText = ToolTipText;
    } else {
        MultiByteToWideChar(CP_ACP, 0, ToolTipText, -1, ToolTipTextWide, TOOL_TIP_SIZE);
        ((NMTTDISPINFOW*)header)->lpszText = ToolTipTextWide;
    }
}

// A new adapter was selected in the tree: wide-bus state, list, status bar.
static void OnAdapterSelected(void) {
    int checked = WideBusChecked();

    if (SelectedAdapterIsNarrow()) {
        if (ScanComplete == 1 && checked)
            SetWideBusCheck(0);
        HighestTargetId = 7;
    } else {
        if (ScanComplete != 1)
            return;
        if (WideBusSetting == WIDE_BUS_NEVER_SET) {
            if (!checked)
                SetWideBusCheck(1);
            WideBusSetting = WIDE_BUS_CHECKED;
            HighestTargetId = 15;
        } else if (WideBusSetting == WIDE_BUS_CHECKED) {
            if (!checked)
                SetWideBusCheck(1);
            HighestTargetId = 15;
        } else if (!checked && WideBusSetting == WIDE_BUS_UNCHECKED) {
            HighestTargetId = 7;
        }
    }
    FillDeviceList(ListView, SelectedAdapter);
    ShowAdapterInStatusBar(AppInstance, StatusBar, SelectedAdapter);
    DrawMenuBar(MainWindow);
}

static int ListRowChosen(void) {
    return ListView_GetNextItem(ListView, -1, LVNI_FOCUSED | LVNI_SELECTED) != -1;
}

static LRESULT OnNotify(HWND window, NMHDR* header) {
    if (header->code == TTN_NEEDTEXTA || header->code == TTN_NEEDTEXTW) {
        OnToolTipText(header);
        return 0;
    }
    if (HandleTreeNotify((int)header->idFrom, header)) {
        OnAdapterSelected();
        return 0;
    }
    HandleListNotify((int)header->idFrom, header);
    if (header->hwndFrom == ListView && (header->code == NM_DBLCLK || header->code == NM_RETURN)) {
        if (ListRowChosen())
            SendMessageA(window, WM_COMMAND, IDM_DEVICE_PROPERTIES, 0);
    }
    return 0;
}

// ---- Commands ----

static void OnListingLoadedOrSaved(HWND window) {
    char title[MAX_PATH + 64];

    EnableMenuItem(MainMenu, IDM_FILE_SAVE, MF_BYCOMMAND | MF_ENABLED);
    SendMessageA(ToolBar, TB_INDETERMINATE, IDM_FILE_SAVE, MAKELPARAM(FALSE, 0));
    SendMessageA(ToolBar, TB_ENABLEBUTTON, IDM_FILE_SAVE, MAKELPARAM(TRUE, 0));
    snprintf(title, sizeof title, "%s - [%s]", MAIN_WINDOW_TITLE, ToolEntries.ListingTitle());
    SetWindowTextA(window, title);
    InvalidateRect(window, NULL, TRUE);
    UpdateWindow(window);
}

static void OnViewCommand(int command) {
    int row;

    if (command == IDM_VIEW_LARGE_ICONS || command == IDM_VIEW_SMALL_ICONS) {
        row = ListView_GetNextItem(ListView, -1, LVNI_SELECTED);
        SetListViewMode(ListView, command);
        FillDeviceList(ListView, SelectedAdapter);
        if (row >= 0) {
            ListView_SetItemState(ListView, row, LVIS_SELECTED | LVIS_FOCUSED,
                                  LVIS_SELECTED | LVIS_FOCUSED);
        }
    } else {
        SetListViewMode(ListView, command);
    }
}

// The slot of the chosen list row, or -1; never a slot outside the table.
static int ChosenDeviceSlot(void) {
    FindSelectedDevice();
    if (SelectedDevice < 0 || SelectedDevice >= MAX_DEVICE_SLOTS)
        return -1;
    return SelectedDevice;
}

static void OnDeviceProperties(HWND window) {
    int slot = ChosenDeviceSlot();

    if (slot < 0)
        return;
    if (strcmp(DeviceTable[slot].TypeText, TextHostAdapter) == 0) {
        SendMessageA(window, WM_COMMAND, IDM_ADAPTER_PROPERTIES, 0);
        return;
    }
    if (ToolEntries.DeviceProperties(window, slot) == 1)
        InvalidateRect(ListView, NULL, TRUE);
}

static void OnDeviceTool(HWND window, int command) {
    int slot = ChosenDeviceSlot();

    if (slot < 0)
        return;
    if (command == IDM_DIAGNOSTIC_TESTS)
        ToolEntries.DiagnosticTests(window, slot);
    else
        ToolEntries.PerformanceTests(window, slot);
}

static void OnAdapterProperties(HWND window) {
    HTREEITEM selected = TreeView_GetSelection(TreeView);
    int index;

    if (selected == NULL)
        return;
    for (index = 0; index < AdapterCount && index < MAX_ADAPTERS; index++) {
        if (HostAdapterTable[index].TreeItem == selected) {
            ToolEntries.AdapterInfo(window, index);
            return;
        }
    }
}

static void OnWideBusToggle(HWND window) {
    int checked = WideBusChecked();

    if (SelectedAdapterIsNarrow()) {
        HighestTargetId = 7;
        return;
    }
    HighestTargetId = checked ? 7 : 15;
    SetWideBusCheck(!checked);
    WideBusSetting = checked ? WIDE_BUS_UNCHECKED : WIDE_BUS_CHECKED;
    DrawMenuBar(window);
    ClearList(ListView);
    FillDeviceList(ListView, SelectedAdapter);
}

static void OnSwitchFocus(void) {
    if (GetFocus() == TreeView) {
        SetFocus(ListView);
        if (ListView_GetNextItem(ListView, -1, LVNI_SELECTED) == -1)
            ListView_SetItemState(ListView, 0, LVIS_SELECTED | LVIS_FOCUSED,
                                  LVIS_SELECTED | LVIS_FOCUSED);
    } else {
        SetFocus(TreeView);
    }
}

static void RescanNtPorts(void) {
    int slot;

    for (slot = 0; slot < MAX_DEVICE_SLOTS; slot++) {
        DeviceTable[slot].AdapterNumber = NO_ADAPTER_NUMBER;
        DeviceTable[slot].TypeText[0] = '\0';
    }
    EnumerateScsiPorts();
    AddTreeItemsReversed();
    ShowFirstAdapter();
    ScanComplete = 1;
    PostMessageA(MainWindow, WM_SCAN_COMPLETE, 0, 0);
}

static void OnRescan(HWND window) {
    DWORD support;

    if (MessageBoxA(NULL, TextRescanQuery, MessageCaption, MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
        return;
    HighestTargetId = UseAspi == 1 ? HostAdapterTable[0].MaxTargets - 1 : 15;
    SetWindowTextA(window, MAIN_WINDOW_TITLE);
    InvalidateRect(window, NULL, TRUE);
    UpdateWindow(window);
    ScanComplete = 0;
    ScanSlot = 0;
    ScanTargetId = 0;
    ScanAdapterNumber = 0;
    ResetViews();
    ReleaseDeviceBitmaps();
    ClearInventoryTables();

    if (UseAspi == 0 && PlatformKind == PLATFORM_NT) {
        RescanNtPorts();
        return;
    }
    support = GetAspi32SupportInfo != NULL ? GetAspi32SupportInfo() : 0;
    if (HIBYTE(LOWORD(support)) == SS_COMP) {
        UseAspi = 1;
        BeginAdapterEnumeration(LOBYTE(LOWORD(support)), 0);
    } else if (ShowProgramMessage(NULL, IDS_MSG_RESCAN_FAILED, MB_RETRYCANCEL | MB_ICONHAND) ==
               IDRETRY) {
        PostMessageA(window, WM_COMMAND, IDM_RESCAN, 0);
    }
    BusyState = BUSY_RESCAN;
    SendMessageA(window, WM_SCAN_START, 0, 0);
}

static void OnContextMenu(HWND window, HWND over, LPARAM position) {
    LPCSTR name;
    HMENU menu;
    RECT area;
    int x = GET_X_LPARAM(position), y = GET_Y_LPARAM(position);

    if (over == ListView)
        name = "DEVICEPOPUPMENU";
    else if (over == TreeView)
        name = "HOSTPOPUPMENU";
    else
        return;
    if (position == (LPARAM)-1) { // from the keyboard: open at the pane's centre
        GetWindowRect(over, &area);
        x = (area.left + area.right) / 2;
        y = (area.top + area.bottom) / 2;
    }
    menu = LoadMenuA(AppInstance, name);
    if (menu == NULL)
        return;
    TrackPopupMenu(GetSubMenu(menu, 0), TPM_RIGHTBUTTON, x, y, 0, window, NULL);
    DestroyMenu(menu);
}

static LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam) {
    int command = LOWORD(wParam);

    switch (command) {
    case IDM_FILE_OPEN:
        if (ToolEntries.OpenListing(window) == 1)
            OnListingLoadedOrSaved(window);
        return 0;
    case IDM_FILE_SAVE:
        ToolEntries.SaveListing(window);
        return 0;
    case IDM_FILE_SAVE_AS:
        if (ToolEntries.SaveListingAs(window) == 1)
            OnListingLoadedOrSaved(window);
        return 0;
    case IDM_FILE_EXIT:
        PostMessageA(window, WM_CLOSE, 0, 0);
        return 0;
    case IDM_VIEW_LARGE_ICONS:
    case IDM_VIEW_SMALL_ICONS:
    case IDM_VIEW_LIST:
    case IDM_VIEW_DETAILS:
        OnViewCommand(command);
        return 0;
    case IDM_HELP_ABOUT:
        DialogBoxParamA(AppInstance, "ABOUTBOX", window, AboutDialog, 0);
        return 0;
    case IDM_RESCAN:
        OnRescan(window);
        return 0;
    case IDM_DEVICE_PROPERTIES:
        OnDeviceProperties(window);
        return 0;
    case IDM_HELP_CONTENTS:
        ShowHelpContents(window);
        return 0;
    case IDM_DIAGNOSTIC_TESTS:
    case IDM_PERFORMANCE_TESTS:
        OnDeviceTool(window, command);
        return 0;
    case IDM_WIDE_BUS:
        OnWideBusToggle(window);
        return 0;
    case IDM_ADAPTER_PROPERTIES:
        OnAdapterProperties(window);
        return 0;
    case IDM_SWITCH_FOCUS:
        OnSwitchFocus();
        return 0;
    case IDM_SYSTEM_INFO:
        ToolEntries.SystemInfo(window);
        return 0;
    }
    return DefWindowProcA(window, WM_COMMAND, wParam, lParam);
}

// ---- Window life ----

static LRESULT OnCreate(HWND window) {
    MainWindow = window;
    AdapterCount = 0;
    TotalDeviceCount = 0;
    SelectedAdapter = -1;
    SelectedDevice = -1;
    return CreateChildWindows(window) ? 0 : -1;
}

static void OnSize(HWND window) {
    if (!LayoutMainWindow(window))
        ShowProgramMessage(window, IDS_MSG_RESIZE_FAILED, MB_OK | MB_ICONHAND);
}

static void OnClose(HWND window) {
    WINDOWPLACEMENT placement;
    RECT frame;
    HKEY key;

    placement.length = sizeof placement;
    GetWindowPlacement(window, &placement);
    if (placement.showCmd != SW_SHOWMAXIMIZED && placement.showCmd != SW_SHOWMINIMIZED &&
        !IsZoomed(window) && !IsIconic(window) && GetWindowRect(window, &frame)) {
        WindowPosRecord.Left = frame.left;
        WindowPosRecord.Top = frame.top;
        WindowPosRecord.Width = frame.right - frame.left;
        WindowPosRecord.Height = frame.bottom - frame.top;
        WindowPosRecord.ViewMode = GetWindowLongA(ListView, GWL_STYLE) & LVS_TYPEMASK;
        WindowPosRecord.ScreenWidth = GetSystemMetrics(SM_CXSCREEN);
        WindowPosRecord.ScreenHeight = GetSystemMetrics(SM_CYSCREEN);
        if (OpenSettingsKey(&key) == ERROR_SUCCESS) {
            RegSetValueExA(key, WINDOW_POS_VALUE, 0, REG_BINARY, (const BYTE*)&WindowPosRecord,
                           sizeof WindowPosRecord);
            RegCloseKey(key);
        }
    }
    DestroyWindow(window);
}

static void DestroyImageList(HIMAGELIST* list) {
    if (*list != NULL)
        ImageList_Destroy(*list);
    *list = NULL;
}

static void OnDestroy(void) {
    ReleaseDeviceBitmaps();
    DestroyImageList(&LargeImageList);
    DestroyImageList(&SmallImageList);
    DestroyImageList(&TreeImageList);
    if (UseAspi == 1)
        UnloadAspiLibrary();
    MainWindow = NULL;
    PostQuitMessage(0);
}

static void OnDisplayChange(HWND window, int width, int height) {
    WINDOWPLACEMENT placement;
    WindowPosition record;
    HKEY key;

    ZeroMemory(&record, sizeof record);
    placement.length = sizeof placement;
    if (!GetWindowPlacement(window, &placement))
        return;
    if (OpenSettingsKey(&key) != ERROR_SUCCESS)
        return;
    QueryWindowPos(key, &record);
    record.Left = placement.rcNormalPosition.left;
    record.Top = placement.rcNormalPosition.top;
    record.Width = placement.rcNormalPosition.right - placement.rcNormalPosition.left;
    record.Height = placement.rcNormalPosition.bottom - placement.rcNormalPosition.top;
    StoreWindowPos(key, width, height, &record, sizeof record, 0);
    RegCloseKey(key);
    WindowPosRecord = record;
    SetRect(&placement.rcNormalPosition, record.Left, record.Top, record.Left + record.Width,
            record.Top + record.Height);
    SetWindowPlacement(window, &placement);
}

static void OnScanComplete(HWND window) {
    ToolEntries.CollectFeatures();
    if (BusyState == BUSY_STARTUP) {
        SplashHide();
        ShowWindow(window, MainWindowShowCommand);
        UpdateWindow(window);
    } else if (BusyState == BUSY_RESCAN) {
        SetCursor(LoadCursorA(NULL, (LPCSTR)IDC_ARROW));
    }
    BusyState = BUSY_NONE;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return OnCreate(window);
    case WM_SIZE:
        OnSize(window);
        return 0;
    case WM_NOTIFY:
        return OnNotify(window, (NMHDR*)lParam);
    case WM_CONTEXTMENU:
        OnContextMenu(window, (HWND)wParam, lParam);
        return 0;
    case WM_COMMAND:
        return OnCommand(window, wParam, lParam);
    case WM_DISPLAYCHANGE:
        OnDisplayChange(window, LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_SCAN_START:
        OnScanStart(window);
        return 0;
    case WM_SCAN_RESULT:
        OnScanResult(window, wParam, lParam);
        return 0;
    case WM_SCAN_COMPLETE:
        OnScanComplete(window);
        return 0;
    case WM_CLOSE:
        OnClose(window);
        return 0;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
