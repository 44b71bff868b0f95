// The device list: creation with its image lists and columns, the picture
// of each slot, filling for one adapter, view modes, texts and sorting.
#include "views/devicelist.h"
#include <stdio.h>
#include <string.h>
#include "resource.h"
#include "shell/message.h"
#include "shell/strings.h"

#define LIST_TOP 27
#define LIST_HEIGHT_MARGIN 45
#define COLUMN_TEXT_SIZE 64
#define NARROW_TARGETS 8
#define LABEL_SIZE 20

// Icons in image order; both image lists hold them alike.
static const int ListIcons[LIST_IMAGE_COUNT] = {
    IDI_APP,     IDI_HARD_DISK,    IDI_REMOVABLE, IDI_CDROM,     IDI_TAPE,    IDI_SCANNER, IDI_WORM,
    IDI_PRINTER, IDI_HOST_ADAPTER, IDI_UNKNOWN,   IDI_NO_DEVICE, IDI_OPTICAL, IDI_ZIP};

static const int ColumnTitles[LIST_COLUMN_COUNT] = {IDS_COLUMN_SCSI_ID, IDS_COLUMN_TYPE,
                                                    IDS_COLUMN_MANUFACTURER, IDS_COLUMN_MODEL,
                                                    IDS_COLUMN_VERSION};

static HINSTANCE ViewInstance(void) {
    return AppInstance != NULL ? AppInstance : GetModuleHandleA(NULL);
}

// Adds one icon, drawn at the list's size, to an image list; 1 or 0.
static int AddIconImage(HIMAGELIST images, HINSTANCE instance, int icon, int size) {
    HICON handle = (HICON)LoadImageA(instance, MAKEINTRESOURCEA(icon), IMAGE_ICON, size, size, 0);
    if (handle == NULL)
        return 0;
    int added = ImageList_AddIcon(images, handle) >= 0;
    DestroyIcon(handle);
    return added;
}

static void DestroyListImages(void) {
    if (SmallImageList != NULL)
        ImageList_Destroy(SmallImageList);
    if (LargeImageList != NULL)
        ImageList_Destroy(LargeImageList);
    SmallImageList = NULL;
    LargeImageList = NULL;
}

// Both image lists with the 13 icons; 1, or 0 after message 50064.
static int CreateListImages(HINSTANCE instance) {
    SmallImageList = ImageList_Create(16, 16, ILC_COLOR4 | ILC_MASK, 1, 12);
    LargeImageList = ImageList_Create(32, 32, ILC_COLOR4 | ILC_MASK, 1, 12);
    int ok = SmallImageList != NULL && LargeImageList != NULL;
    for (int i = 0; i < LIST_IMAGE_COUNT && ok; i++)
        ok = AddIconImage(SmallImageList, instance, ListIcons[i], 16) &&
             AddIconImage(LargeImageList, instance, ListIcons[i], 32);
    if (!ok) {
        ShowProgramMessage(NULL, IDS_MSG_IMAGELIST_ADD_FAILED, MB_ICONSTOP);
        DestroyListImages();
    }
    return ok;
}

static int InsertColumns(HWND list, HINSTANCE instance, int listWidth) {
    char title[COLUMN_TEXT_SIZE];
    LVCOLUMNA column;
    memset(&column, 0, sizeof column);
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = listWidth / LIST_COLUMN_COUNT + 1;
    column.pszText = title;
    for (int i = 0; i < LIST_COLUMN_COUNT; i++) {
        if (LoadStringA(instance, ColumnTitles[i], title, sizeof title) == 0)
            title[0] = '\0';
        column.iSubItem = i;
        if (SendMessageA(list, LVM_INSERTCOLUMNA, i, (LPARAM)&column) != i)
            return 0;
    }
    return 1;
}

HWND CreateDeviceListInMode(HWND parent, int viewMode) {
    HINSTANCE instance = ViewInstance();
    RECT client = {0, 0, 0, 0};
    GetClientRect(parent, &client);
    int x = client.right / 4;
    int width = client.right - x;
    DWORD view = (viewMode >= 0 && viewMode <= (int)LVS_TYPEMASK) ? (DWORD)viewMode : LVS_ICON;
    // The image lists belong to the program, which destroys them at exit,
    // so the list must not destroy them as well.
    HWND list = CreateWindowExA(0, WC_LISTVIEWA, "",
                                WS_CHILD | WS_VISIBLE | WS_DLGFRAME | LVS_SINGLESEL |
                                    LVS_SHOWSELALWAYS | LVS_EDITLABELS | LVS_SHAREIMAGELISTS | view,
                                x, LIST_TOP, width, client.bottom - LIST_HEIGHT_MARGIN, parent,
                                (HMENU)(INT_PTR)IDC_DEVICE_LIST, instance, NULL);
    if (list == NULL)
        return NULL;
    if (!CreateListImages(instance)) {
        DestroyWindow(list);
        return NULL;
    }
    ListView_SetImageList(list, SmallImageList, LVSIL_SMALL);
    ListView_SetImageList(list, LargeImageList, LVSIL_NORMAL);
    if (!InsertColumns(list, instance, width)) {
        DestroyWindow(list);
        DestroyListImages();
        return NULL;
    }
    ListView = list;
    return list;
}

// Loads a device picture; the record releases it when the tables are cleared.
static void SetPicture(DeviceRecord* record, int bitmap, int image) {
    record->TypeBitmap = LoadBitmapA(ViewInstance(), MAKEINTRESOURCEA(bitmap));
    record->ImageIndex = image;
}

void SetDeviceImage(DeviceRecord* record) {
    static const struct {
        const char* type;
        int bitmap;
        int image;
    } pictures[] = {
        {TextHardDisk, IDB_HARD_DISK, LIST_IMAGE_HARD_DISK},
        {TextCdRom, IDB_CDROM, LIST_IMAGE_CDROM},
        {TextTape, IDB_TAPE, LIST_IMAGE_TAPE},
        {TextRemovable, IDB_REMOVABLE, LIST_IMAGE_REMOVABLE},
        {TextTypeHostAdapter, IDB_HOST_ADAPTER, LIST_IMAGE_HOST_ADAPTER},
        {TextWorm, IDB_WORM, LIST_IMAGE_WORM},
        {TextScanner, IDB_SCANNER, LIST_IMAGE_SCANNER},
        {TextOptical, IDB_OPTICAL, LIST_IMAGE_OPTICAL},
        {TextTypeNoDevice, IDB_NO_DEVICE, LIST_IMAGE_NO_DEVICE},
        {TextUnknown, IDB_UNKNOWN, LIST_IMAGE_UNKNOWN},
    };
    // A slot filled again (a listing file over a scan) gives up its old
    // picture first, so it neither leaks nor outlives its type.
    if (record->TypeBitmap != NULL) {
        DeleteObject(record->TypeBitmap);
        record->TypeBitmap = NULL;
    }
    if (record->TypeText[0] == '\0')
        return;
    for (size_t i = 0; i < sizeof pictures / sizeof pictures[0]; i++) {
        if (strcmp(record->TypeText, pictures[i].type) != 0)
            continue;
        if (pictures[i].bitmap == IDB_REMOVABLE && strstr(record->Product, "ZIP") != NULL)
            SetPicture(record, IDB_ZIP, LIST_IMAGE_ZIP);
        else
            SetPicture(record, pictures[i].bitmap, pictures[i].image);
        return;
    }
}

int AddListItem(HWND list, int index, DeviceRecord* record) {
    LVITEMA item;
    memset(&item, 0, sizeof item);
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_STATE | LVIF_PARAM;
    item.iItem = index;
    item.pszText = LPSTR_TEXTCALLBACKA;
    item.iImage = record->ImageIndex;
    item.lParam = (LPARAM)record;
    int row = (int)SendMessageA(list, LVM_INSERTITEMA, 0, (LPARAM)&item);
    if (row < 0)
        return 0;
    for (int column = 1; column < LIST_COLUMN_COUNT; column++) {
        item.mask = LVIF_TEXT;
        item.iSubItem = column;
        item.pszText = LPSTR_TEXTCALLBACKA;
        SendMessageA(list, LVM_SETITEMTEXTA, row, (LPARAM)&item);
    }
    return 1;
}

void DeleteListItem(HWND list, int index) {
    ListView_DeleteItem(list, index);
}

void ClearList(HWND list) {
    ListView_DeleteAllItems(list);
}

void FillDeviceList(HWND list, int adapterIndex) {
    ClearList(list);
    if (adapterIndex < 0 || adapterIndex >= MAX_ADAPTERS)
        return;
    int last = HighestTargetId == NARROW_TARGETS - 1 ? NARROW_TARGETS : SLOTS_PER_ADAPTER;
    BYTE number = HostAdapterTable[adapterIndex].AdapterNumber;
    int row = 0;
    for (int t = 0; t < last; t++) {
        int slot = adapterIndex * SLOTS_PER_ADAPTER + t;
        if (slot >= MAX_DEVICE_SLOTS)
            break; // the fifth and later adapters have no slots
        DeviceRecord* record = &DeviceTable[slot];
        if (record->AdapterNumber != number)
            continue;
        if (record->TypeBitmap != NULL && !AddListItem(list, row, record))
            ShowProgramMessage(NULL, IDS_MSG_LIST_ADD_FAILED, MB_OK);
        row++;
    }
}

void SetListViewMode(HWND list, int command) {
    DWORD view;
    switch (command) {
    case IDM_VIEW_LARGE_ICONS:
        view = LVS_ICON;
        break;
    case IDM_VIEW_SMALL_ICONS:
        view = LVS_SMALLICON;
        break;
    case IDM_VIEW_LIST:
        view = LVS_LIST;
        break;
    case IDM_VIEW_DETAILS:
        view = LVS_REPORT;
        break;
    default:
        return;
    }
    DWORD style = (DWORD)GetWindowLongA(list, GWL_STYLE);
    if ((style & LVS_TYPEMASK) != view)
        SetWindowLongA(list, GWL_STYLE, (LONG)((style & ~LVS_TYPEMASK) | view));
}

// The text of one cell of a row.
static const char* CellText(const DeviceRecord* record, int column) {
    static char label[LABEL_SIZE];
    switch (column) {
    case 0:
        snprintf(label, sizeof label, "SCSI ID %u", (unsigned)record->TargetId);
        return label;
    case 1:
        return record->TypeText;
    case 2:
        return record->Vendor;
    case 3:
        return record->Product;
    case 4:
        return record->Revision;
    }
    return "";
}

static void SupplyText(LPNMHDR notification) {
    if (notification->code == LVN_GETDISPINFOA) {
        LVITEMA* item = &((NMLVDISPINFOA*)notification)->item;
        if ((item->mask & LVIF_TEXT) && item->lParam != 0)
            item->pszText = (LPSTR)CellText((const DeviceRecord*)item->lParam, item->iSubItem);
    } else {
        // A list that asks in Unicode gets a copy in its own buffer.
        LVITEMW* item = &((NMLVDISPINFOW*)notification)->item;
        if ((item->mask & LVIF_TEXT) && item->lParam != 0 && item->pszText != NULL &&
            item->cchTextMax > 0) {
            const char* text = CellText((const DeviceRecord*)item->lParam, item->iSubItem);
            if (MultiByteToWideChar(CP_ACP, 0, text, -1, item->pszText, item->cchTextMax) == 0)
                item->pszText[item->cchTextMax - 1] = L'\0';
        }
    }
}

int HandleListNotify(int controlId, LPNMHDR notification) {
    if (controlId != IDC_DEVICE_LIST || notification == NULL)
        return 0;
    switch (notification->code) {
    case LVN_GETDISPINFOA:
    case LVN_GETDISPINFOW:
        SupplyText(notification);
        break;
    case LVN_COLUMNCLICK:
        ListView_SortItems(notification->hwndFrom, CompareListItems,
                           ((NMLISTVIEW*)notification)->iSubItem);
        break;
    }
    return 0;
}

int CALLBACK CompareListItems(LPARAM first, LPARAM second, LPARAM column) {
    const DeviceRecord* a = (const DeviceRecord*)first;
    const DeviceRecord* b = (const DeviceRecord*)second;
    if (a == NULL || b == NULL)
        return 0;
    switch (column) {
    case 0:
        return (int)a->TargetId - (int)b->TargetId;
    case 1:
        return lstrcmpiA(a->TypeText, b->TypeText);
    case 2:
        return lstrcmpiA(a->Vendor, b->Vendor);
    }
    return 0;
}

void DestroyViewImageLists(void) {
    DestroyListImages();
    if (TreeImageList != NULL)
        ImageList_Destroy(TreeImageList);
    TreeImageList = NULL;
}
