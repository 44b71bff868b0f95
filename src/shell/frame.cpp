// Frame layout: status bar, toolbar, the two panes and dialog centring.
#include "frame.h"
#include <commctrl.h>
#include <stdio.h>
#include "resource.h"
#include "inventory/inventory.h"
#include "shell/mainwindow.h"
#include "shell/message.h"
#include "shell/strings.h"
#include "views/devicelist.h"
#include "views/devicetree.h"

// Longest adapter name the status bar shows.
#define STATUS_NAME_LENGTH 30

static char StatusSelectedLabel[SHORT_TEXT_SIZE];
static char StatusCountLabel[SHORT_TEXT_SIZE];

static HWND CreateMainStatusBar(HWND mainWindow, int clientWidth) {
    int parts[2];
    HWND bar =
        CreateStatusWindowA(WS_CHILD | WS_VISIBLE | WS_BORDER, "", mainWindow, IDC_STATUS_BAR);
    if (bar == NULL)
        return NULL;
    parts[0] = clientWidth / 2;
    parts[1] = -1;
    SendMessageA(bar, SB_SETPARTS, 2, (LPARAM)parts);
    return bar;
}

int CreateChildWindows(HWND mainWindow) {
    RECT client;

    // The common controls 4.00 of Windows 95 and NT 4.0 have no
    // InitCommonControlsEx; this registers every class they offer.
    InitCommonControls();
    GetClientRect(mainWindow, &client);

    StatusBar = CreateMainStatusBar(mainWindow, client.right - client.left);
    if (StatusBar == NULL) {
        ShowProgramMessage(NULL, IDS_MSG_NO_STATUS_BAR, MB_OK);
        return 0;
    }
    ShowAdapterInStatusBar(AppInstance, StatusBar, -1);

    ToolBar = CreateMainToolbar(mainWindow);
    if (ToolBar == NULL) {
        ShowProgramMessage(NULL, IDS_MSG_NO_TOOL_BAR, MB_OK);
        return 0;
    }
    TreeView = CreateDeviceTree(mainWindow);
    if (TreeView == NULL) {
        ShowProgramMessage(NULL, IDS_MSG_NO_TREE_VIEW, MB_OK);
        return 0;
    }
    ListView = CreateDeviceList(mainWindow);
    if (ListView == NULL) {
        ShowProgramMessage(NULL, IDS_MSG_NO_LIST_VIEW, MB_OK);
        return 0;
    }
    SetFocus(TreeView);
    UpdateWindow(TreeView);
    return 1;
}

static void SetToolButton(TBBUTTON* button, int image, int command, BYTE state, BYTE style) {
    ZeroMemory(button, sizeof *button);
    button->iBitmap = image;
    button->idCommand = command;
    button->fsState = state;
    button->fsStyle = style;
}

HWND CreateMainToolbar(HWND mainWindow) {
    TBBUTTON first[5];
    TBBUTTON views[4];
    TBADDBITMAP viewImages;
    HWND bar;
    int offset;

    SetToolButton(&first[0], 0, 0, 0, TBSTYLE_SEP);
    SetToolButton(&first[1], STD_FIND, IDM_RESCAN, TBSTATE_ENABLED, TBSTYLE_BUTTON);
    SetToolButton(&first[2], STD_FILEOPEN, IDM_FILE_OPEN, TBSTATE_ENABLED, TBSTYLE_BUTTON);
    SetToolButton(&first[3], STD_FILESAVE, IDM_FILE_SAVE, TBSTATE_INDETERMINATE, TBSTYLE_BUTTON);
    SetToolButton(&first[4], 0, 0, 0, TBSTYLE_SEP);
    bar = CreateToolbarEx(mainWindow, WS_CHILD | WS_VISIBLE | WS_BORDER | TBSTYLE_TOOLTIPS,
                          IDC_TOOL_BAR, 11, HINST_COMMCTRL, IDB_STD_SMALL_COLOR, first, 5, 0, 0, 0,
                          0, sizeof(TBBUTTON));
    if (bar == NULL)
        return NULL;

    // The view images follow the 11 standard ones; the toolbar tells where.
    viewImages.hInst = HINST_COMMCTRL;
    viewImages.nID = IDB_VIEW_SMALL_COLOR;
    offset = (int)SendMessageA(bar, TB_ADDBITMAP, 0, (LPARAM)&viewImages);
    if (offset < 0)
        offset = 11;
    SetToolButton(&views[0], offset + VIEW_LARGEICONS, IDM_VIEW_LARGE_ICONS, TBSTATE_ENABLED,
                  TBSTYLE_BUTTON);
    SetToolButton(&views[1], offset + VIEW_SMALLICONS, IDM_VIEW_SMALL_ICONS, TBSTATE_ENABLED,
                  TBSTYLE_BUTTON);
    SetToolButton(&views[2], offset + VIEW_LIST, IDM_VIEW_LIST, TBSTATE_ENABLED, TBSTYLE_BUTTON);
    SetToolButton(&views[3], offset + VIEW_DETAILS, IDM_VIEW_DETAILS, TBSTATE_ENABLED,
                  TBSTYLE_BUTTON);
    SendMessageA(bar, TB_ADDBUTTONSA, 4, (LPARAM)views);
    return bar;
}

BOOL LayoutMainWindow(HWND mainWindow) {
    RECT client;
    HDWP batch;
    PaneLayout layout;
    int width;

    GetClientRect(mainWindow, &client);
    width = client.right - client.left;
    layout = ComputePaneLayout(width, client.bottom - client.top);
    batch = BeginDeferWindowPos(4);
    if (batch == NULL)
        return FALSE;
    batch = DeferWindowPos(batch, StatusBar, NULL, 0, 0, width, STATUS_BAR_HEIGHT,
                           SWP_NOMOVE | SWP_NOZORDER);
    if (batch != NULL)
        batch = DeferWindowPos(batch, ToolBar, NULL, 0, 0, width, TOOLBAR_HEIGHT,
                               SWP_NOMOVE | SWP_NOZORDER);
    if (batch != NULL)
        batch = DeferWindowPos(batch, TreeView, NULL, layout.TreeX, layout.TreeY, layout.TreeWidth,
                               layout.TreeHeight, SWP_NOZORDER);
    if (batch != NULL)
        batch = DeferWindowPos(batch, ListView, NULL, layout.ListX, layout.ListY, layout.ListWidth,
                               layout.ListHeight, SWP_NOZORDER);
    if (batch == NULL)
        return FALSE;
    return EndDeferWindowPos(batch);
}

void ShowAdapterInStatusBar(HINSTANCE instance, HWND statusBar, int adapterIndex) {
    char name[STATUS_NAME_LENGTH + 1];
    char text[SHORT_TEXT_SIZE * 2];
    int count;

    if (StatusSelectedLabel[0] == '\0')
        LoadStringA(instance, IDS_STATUS_SELECTED, StatusSelectedLabel, sizeof StatusSelectedLabel);
    if (StatusCountLabel[0] == '\0')
        LoadStringA(instance, IDS_STATUS_DEVICE_COUNT, StatusCountLabel, sizeof StatusCountLabel);

    if (adapterIndex >= 0 && adapterIndex < MAX_ADAPTERS) {
        CopyText(name, sizeof name, HostAdapterTable[adapterIndex].Description);
        count = HostAdapterTable[adapterIndex].DeviceCount;
    } else {
        CopyText(name, sizeof name, TextNone);
        count = 0;
    }
    snprintf(text, sizeof text, "%s %s", StatusSelectedLabel, name);
    SendMessageA(statusBar, SB_SETTEXTA, 0, (LPARAM)text);
    snprintf(text, sizeof text, "%s %d", StatusCountLabel, count);
    SendMessageA(statusBar, SB_SETTEXTA, 1, (LPARAM)text);
}
