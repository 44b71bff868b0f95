// A small window with the controls the driver reads most (tree, list with
// texts supplied on request, status bar, a message box), so that the driver
// can be tried on a program of known behaviour.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>

namespace {

constexpr int kAsk = 200; // the command that asks a question

struct Row {
    int id;
    const char* type;
    int image;
};
Row rows[] = {{4, "Tape", 2}, {0, "Hard Disk", 1}};

HWND tree, list, status;
int answers;

void SetStatus(int part, const char* text) {
    SendMessageA(status, SB_SETTEXTA, part, reinterpret_cast<LPARAM>(text));
}

void CreateTree(HWND window) {
    tree =
        CreateWindowExA(0, WC_TREEVIEWA, "", WS_CHILD | WS_VISIBLE | TVS_HASLINES | TVS_LINESATROOT,
                        0, 0, 150, 300, window, reinterpret_cast<HMENU>(1003), nullptr, nullptr);
    TVINSERTSTRUCTA ins = {};
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT | TVIF_PARAM;
    ins.item.pszText = const_cast<char*>("Root");
    ins.item.lParam = -1;
    auto root = reinterpret_cast<HTREEITEM>(
        SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&ins)));
    ins.hParent = root;
    const char* names[] = {"Second adapter", "First adapter"};
    for (int i = 0; i < 2; ++i) {
        ins.item.pszText = const_cast<char*>(names[i]);
        ins.item.lParam = 1 - i; // listed in reverse order of their numbers
        SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&ins));
    }
    SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
}

void CreateList(HWND window) {
    list = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_REPORT, 150, 0, 450,
                           300, window, reinterpret_cast<HMENU>(1002), nullptr, nullptr);
    const char* headings[] = {"ID:", "Type:"};
    for (int c = 0; c < 2; ++c) {
        LVCOLUMNA col = {};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        col.pszText = const_cast<char*>(headings[c]);
        col.cx = 120;
        col.iSubItem = c;
        SendMessageA(list, LVM_INSERTCOLUMNA, c, reinterpret_cast<LPARAM>(&col));
    }
    for (int r = 0; r < 2; ++r) {
        LVITEMA item = {};
        item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
        item.iItem = r;
        item.pszText = LPSTR_TEXTCALLBACKA;
        item.iImage = rows[r].image;
        item.lParam = reinterpret_cast<LPARAM>(&rows[r]);
        SendMessageA(list, LVM_INSERTITEMA, r, reinterpret_cast<LPARAM>(&item));
    }
}

void CreateChildren(HWND window) {
    status = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, window,
                             reinterpret_cast<HMENU>(1000), nullptr, nullptr);
    int parts[] = {200, -1};
    SendMessageA(status, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
    SetStatus(0, "Selected: none");
    SetStatus(1, "Answers: 0");
    CreateTree(window);
    CreateList(window);
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
            info->item.pszText = info->item.iSubItem == 0 ? id : const_cast<char*>(row->type);
    }
    return 0;
}

void Ask(HWND window) {
    int answer = MessageBoxA(window, "Proceed?\nSecond line", "Selftest question",
                             MB_OKCANCEL | MB_ICONQUESTION);
    char text[40];
    snprintf(text, sizeof text, "Answers: %d %s", ++answers, answer == IDOK ? "OK" : "Cancel");
    SetStatus(1, text);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        CreateChildren(window);
        return 0;
    case WM_NOTIFY:
        return OnNotify(reinterpret_cast<NMHDR*>(lParam));
    case WM_COMMAND:
        if (LOWORD(wParam) == kAsk) {
            Ask(window);
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
    HWND main = CreateWindowA("E2E_Selftest", "E2E Selftest", WS_OVERLAPPEDWINDOW, 20, 20, 620, 380,
                              nullptr, nullptr, instance, nullptr);
    ShowWindow(main, SW_SHOWNORMAL);
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    return static_cast<int>(m.wParam);
}
