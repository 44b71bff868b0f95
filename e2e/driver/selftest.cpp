// A small window with the controls the driver reads (tree, list, status bar,
// a message box, a dialog, a context menu), so that the driver can be
// proved on a program of known behaviour.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <prsht.h>

#include <cstdio>
#include <cstring>

#include "selftest.h"

namespace {

struct Row {
    int id;
    const char* type;
    const char* vendor;
    int image;
};
Row rows[] = {
    {4, "Tape", "ARCHIVE", 2}, {0, "Hard Disk", "QUANTUM", 1}, {7, "Host Adapter", "VELTRANE", 0}};

HWND mainWindow, tree, list, status;
int answers;

void SetStatus(int part, const char* text) {
    SendMessageA(status, SB_SETTEXTA, part, reinterpret_cast<LPARAM>(text));
}

int CALLBACK CompareRows(LPARAM a, LPARAM b, LPARAM column) {
    const Row* x = reinterpret_cast<const Row*>(a);
    const Row* y = reinterpret_cast<const Row*>(b);
    return column == 0 ? x->id - y->id : lstrcmpiA(x->type, y->type);
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        CheckDlgButton(dialog, kSelftestCheck, BST_INDETERMINATE);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == kSelftestGo) {
            char text[64];
            GetDlgItemTextA(dialog, kSelftestEdit, text, sizeof text);
            SetDlgItemTextA(dialog, kSelftestResult, text);
        } else if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 1);
        }
        return TRUE;
    }
    return FALSE;
}

void CreateChildren(HWND window) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    status = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, window,
                             reinterpret_cast<HMENU>(1000), instance, nullptr);
    int parts[] = {200, -1};
    SendMessageA(status, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
    SetStatus(0, "Selected: none");
    SetStatus(1, "Answers: 0");
    tree =
        CreateWindowExA(0, WC_TREEVIEWA, "",
                        WS_CHILD | WS_VISIBLE | TVS_HASLINES | TVS_LINESATROOT | TVS_HASBUTTONS, 0,
                        0, 150, 300, window, reinterpret_cast<HMENU>(1003), instance, nullptr);
    TVINSERTSTRUCTA ins = {};
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT | TVIF_PARAM;
    ins.item.pszText = const_cast<char*>("Root");
    ins.item.lParam = -1;
    HTREEITEM root = reinterpret_cast<HTREEITEM>(
        SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&ins)));
    ins.hParent = root;
    const char* names[] = {"Second adapter", "First adapter"};
    for (int i = 0; i < 2; ++i) {
        ins.item.pszText = const_cast<char*>(names[i]);
        ins.item.lParam = 1 - i; // listed in reverse order of their numbers
        SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&ins));
    }
    SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));

    list = CreateWindowExA(
        0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
        150, 0, 450, 300, window, reinterpret_cast<HMENU>(1002), instance, nullptr);
    HIMAGELIST images = ImageList_Create(16, 16, ILC_COLOR4, 3, 1);
    for (int i = 0; i < 3; ++i)
        ImageList_AddIcon(images, LoadIconA(nullptr, IDI_APPLICATION));
    SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
    const char* headings[] = {"ID:", "Type:", "Vendor:"};
    for (int c = 0; c < 3; ++c) {
        LVCOLUMNA col = {};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        col.pszText = const_cast<char*>(headings[c]);
        col.cx = 120;
        col.iSubItem = c;
        SendMessageA(list, LVM_INSERTCOLUMNA, c, reinterpret_cast<LPARAM>(&col));
    }
    for (int r = 0; r < 3; ++r) {
        LVITEMA item = {};
        item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
        item.iItem = r;
        item.pszText = LPSTR_TEXTCALLBACKA;
        item.iImage = rows[r].image;
        item.lParam = reinterpret_cast<LPARAM>(&rows[r]);
        SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }
}

LRESULT OnNotify(NMHDR* header) {
    if (header->hwndFrom == tree && header->code == TVN_SELCHANGEDA) {
        auto* tv = reinterpret_cast<NMTREEVIEWA*>(header);
        char text[80], line[100];
        TVITEMA item = {};
        item.mask = TVIF_TEXT;
        item.hItem = tv->itemNew.hItem;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        snprintf(line, sizeof line, "Selected: %s", text);
        SetStatus(0, line);
    } else if (header->hwndFrom == list && header->code == LVN_GETDISPINFOA) {
        auto* info = reinterpret_cast<NMLVDISPINFOA*>(header);
        const Row* row = reinterpret_cast<const Row*>(info->item.lParam);
        static char id[32];
        snprintf(id, sizeof id, "ID %d", row->id);
        if (info->item.mask & LVIF_TEXT)
            info->item.pszText = info->item.iSubItem == 0   ? id
                                 : info->item.iSubItem == 1 ? const_cast<char*>(row->type)
                                                            : const_cast<char*>(row->vendor);
    } else if (header->hwndFrom == list && header->code == LVN_COLUMNCLICK) {
        SendMessageA(list, LVM_SORTITEMS, reinterpret_cast<NMLISTVIEW*>(header)->iSubItem,
                     reinterpret_cast<LPARAM>(CompareRows));
    } else if (header->hwndFrom == list && header->code == NM_DBLCLK) {
        SetStatus(1, "Opened");
    }
    return 0;
}

INT_PTR CALLBACK PageProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

void ShowSheet(HWND owner) {
    PROPSHEETPAGEA pages[2] = {};
    for (int i = 0; i < 2; ++i) {
        pages[i].dwSize = sizeof pages[i];
        pages[i].hInstance = GetModuleHandleA(nullptr);
        pages[i].pszTemplate = MAKEINTRESOURCEA(i == 0 ? kSelftestPage1 : kSelftestPage2);
        pages[i].pfnDlgProc = PageProc;
    }
    PROPSHEETHEADERA header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW;
    header.hwndParent = owner;
    header.pszCaption = "Selftest sheet";
    header.nPages = 2;
    header.ppsp = pages;
    PropertySheetA(&header);
}

// Writes two lines to the file the user names.
void SaveFile(HWND owner) {
    char path[MAX_PATH] = "";
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFile = path;
    ofn.nMaxFile = sizeof path;
    ofn.lpstrTitle = "Selftest save";
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY;
    if (!GetSaveFileNameA(&ofn))
        return;
    if (FILE* f = fopen(path, "wb")) {
        fputs("line one\r\nline two\r\n", f);
        fclose(f);
        SetStatus(1, "Saved");
    }
}

void SetView(DWORD view) {
    DWORD style = GetWindowLongA(list, GWL_STYLE);
    SetWindowLongA(list, GWL_STYLE, (style & ~LVS_TYPEMASK) | view);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        CreateChildren(window);
        return 0;
    case WM_NOTIFY:
        return OnNotify(reinterpret_cast<NMHDR*>(lParam));
    case WM_CONTEXTMENU: {
        HMENU menu = CreatePopupMenu();
        AppendMenuA(menu, MF_STRING, kSelftestPopupCommand, "&Popup command");
        TrackPopupMenu(menu, TPM_RIGHTBUTTON, LOWORD(lParam), HIWORD(lParam), 0, window, nullptr);
        DestroyMenu(menu);
        return 0;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case kSelftestAsk: {
            int answer = MessageBoxA(window, "Proceed?\nSecond line", "Selftest question",
                                     MB_OKCANCEL | MB_ICONQUESTION);
            char text[40];
            snprintf(text, sizeof text, "Answers: %d %s", ++answers,
                     answer == IDOK ? "OK" : "Cancel");
            SetStatus(1, text);
            return 0;
        }
        case kSelftestDialog:
            DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kSelftestDialogId), window,
                            DialogProc, 0);
            return 0;
        case kSelftestSheet:
            ShowSheet(window);
            return 0;
        case kSelftestSave:
            SaveFile(window);
            return 0;
        case kSelftestPopupCommand:
            SetStatus(1, "Popup chosen");
            return 0;
        case kSelftestFocus:
            SetFocus(GetFocus() == tree ? list : tree);
            return 0;
        case 120:
            SetView(LVS_ICON);
            return 0;
        case 121:
            SetView(LVS_SMALLICON);
            return 0;
        case 122:
            SetView(LVS_LIST);
            return 0;
        case 123:
            SetView(LVS_REPORT);
            return 0;
        }
        break;
    case WM_SIZE:
        SendMessageA(status, WM_SIZE, 0, 0);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(7);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    if (HWND first = FindWindowA(nullptr, "E2E Selftest")) {
        ShowWindow(first, SW_SHOWNORMAL);
        SetForegroundWindow(first);
        return 3;
    }
    INITCOMMONCONTROLSEX icc = {sizeof icc,
                                ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = "E2E_Selftest";
    RegisterClassA(&wc);
    mainWindow = CreateWindowA("E2E_Selftest", "E2E Selftest", WS_OVERLAPPEDWINDOW, 20, 20, 620,
                               380, nullptr, nullptr, instance, nullptr);
    ShowWindow(mainWindow, SW_SHOWNORMAL);
    UpdateWindow(mainWindow);
    ACCEL keys[] = {{FVIRTKEY, VK_F6, kSelftestFocus}, {FVIRTKEY, VK_TAB, kSelftestFocus}};
    HACCEL accelerators = CreateAcceleratorTableA(keys, 2);
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) {
        if (TranslateAcceleratorA(mainWindow, accelerators, &m))
            continue;
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    return static_cast<int>(m.wParam);
}
