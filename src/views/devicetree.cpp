// The device tree: creation with its image list, adapter items, clearing,
// selection changes and the lookup of the selected device slot.
#include "views/devicetree.h"
#include <stdio.h>
#include <string.h>
#include "inventory/inventory.h"
#include "resource.h"
#include "shell/message.h"
#include "views/devicelist.h"

#define TREE_TOP 28
#define TREE_HEIGHT_MARGIN 45
#define TREE_TEXT_SIZE 64

HTREEITEM TreeRootItem = NULL;

// Where AddTreeItem puts the next item, and with which pictures.
static HTREEITEM TreeParent = TVI_ROOT;
static int TreeImage = TREE_IMAGE_ROOT;
static int TreeSelectedImage = TREE_IMAGE_ROOT;

static HINSTANCE ViewInstance(void) {
    return AppInstance != NULL ? AppInstance : GetModuleHandleA(NULL);
}

// Loads bitmaps 404-406 into a new image list; NULL after a message.
static HIMAGELIST CreateTreeImageList(HINSTANCE instance) {
    static const int bitmaps[TREE_IMAGE_COUNT] = {IDB_TREE_ROOT, IDB_TREE_ADAPTER,
                                                  IDB_TREE_ADAPTER_SELECTED};
    HIMAGELIST images = ImageList_Create(16, 16, ILC_COLOR4, 2, 10);
    if (images == NULL) {
        ShowProgramMessage(NULL, IDS_MSG_TREE_IMAGELIST_FAILED, MB_ICONSTOP);
        return NULL;
    }
    for (int i = 0; i < TREE_IMAGE_COUNT; i++) {
        HBITMAP bitmap = LoadBitmapA(instance, MAKEINTRESOURCEA(bitmaps[i]));
        if (bitmap != NULL) {
            ImageList_Add(images, bitmap, NULL);
            DeleteObject(bitmap);
        }
    }
    if (ImageList_GetImageCount(images) != TREE_IMAGE_COUNT) {
        ShowProgramMessage(NULL, IDS_MSG_TREE_IMAGES_MISSING, MB_ICONSTOP);
        ImageList_Destroy(images);
        return NULL;
    }
    return images;
}

HWND CreateDeviceTree(HWND parent) {
    HINSTANCE instance = ViewInstance();
    RECT client = {0, 0, 0, 0};
    GetClientRect(parent, &client);
    HWND tree = CreateWindowExA(0, WC_TREEVIEWA, "",
                                WS_CHILD | WS_VISIBLE | WS_DLGFRAME | TVS_HASBUTTONS |
                                    TVS_HASLINES | TVS_LINESATROOT | TVS_TRACKSELECT,
                                0, TREE_TOP, client.right / 4, client.bottom - TREE_HEIGHT_MARGIN,
                                parent, (HMENU)(INT_PTR)IDC_DEVICE_TREE, instance, NULL);
    if (tree == NULL) {
        ShowProgramMessage(NULL, IDS_MSG_TREE_CREATE_FAILED, MB_ICONSTOP);
        return NULL;
    }
    HIMAGELIST images = CreateTreeImageList(instance);
    if (images == NULL) {
        DestroyWindow(tree);
        return NULL;
    }
    TreeView_SetImageList(tree, images, TVSIL_NORMAL);
    TreeImageList = images;
    TreeView = tree;
    AddTreeRootItem(instance, tree);
    return tree;
}

void AddTreeRootItem(HINSTANCE instance, HWND tree) {
    char text[TREE_TEXT_SIZE];
    if (LoadStringA(instance, IDS_TREE_ROOT, text, sizeof text) == 0)
        text[0] = '\0';
    TreeParent = TVI_ROOT;
    TreeImage = TREE_IMAGE_ROOT;
    TreeSelectedImage = TREE_IMAGE_ROOT;
    TreeRootItem = AddTreeItem(text, tree, TREE_ROOT_ITEM_DATA);
    if (TreeRootItem != NULL)
        TreeParent = TreeRootItem;
    TreeImage = TREE_IMAGE_ADAPTER;
    TreeSelectedImage = TREE_IMAGE_ADAPTER_SELECTED;
}

HTREEITEM AddTreeItem(const char* text, HWND tree, LPARAM itemData) {
    TVINSERTSTRUCTA insert;
    memset(&insert, 0, sizeof insert);
    insert.hParent = TreeParent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
    insert.item.pszText = (LPSTR)text;
    insert.item.iImage = TreeImage;
    insert.item.iSelectedImage = TreeSelectedImage;
    insert.item.lParam = itemData;
    HTREEITEM item = (HTREEITEM)SendMessageA(tree, TVM_INSERTITEMA, 0, (LPARAM)&insert);
    if (item == NULL)
        ShowProgramMessage(NULL, IDS_MSG_TREE_INSERT_FAILED, MB_ICONSTOP);
    return item;
}

void ClearTree(HWND tree) {
    TreeView_DeleteAllItems(tree);
    TreeRootItem = NULL;
    TreeParent = TVI_ROOT;
    TreeImage = TREE_IMAGE_ROOT;
    TreeSelectedImage = TREE_IMAGE_ROOT;
    // The adapters' items are gone; a later item may reuse a handle.
    for (int i = 0; i < MAX_ADAPTERS; i++)
        HostAdapterTable[i].TreeItem = NULL;
}

void ResetViews(void) {
    AdapterCount = 0;
    TotalDeviceCount = 0;
    SelectedAdapter = -1;
    SelectedDevice = -1;
    ClearTree(TreeView);
    ClearList(ListView);
    AddTreeRootItem(ViewInstance(), TreeView);
}

int HandleTreeNotify(int controlId, LPNMHDR notification) {
    if (controlId != IDC_DEVICE_TREE || notification == NULL)
        return 0;
    if (notification->code != TVN_SELCHANGEDA && notification->code != TVN_SELCHANGEDW)
        return 0;
    // The item part is laid out alike in both character sets.
    const NMTREEVIEWA* change = (const NMTREEVIEWA*)notification;
    if (change->itemNew.hItem == NULL)
        SelectedAdapter = -1; // the selected item was deleted
    else
        SelectedAdapter = (LONG)change->itemNew.lParam;
    return 1;
}

// Index of the adapter whose item is selected in the tree, or AdapterCount.
static int FindSelectedAdapter(void) {
    HTREEITEM selected = TreeView_GetSelection(TreeView);
    int a = 0;
    while (a < AdapterCount && a < MAX_ADAPTERS &&
           (selected == NULL || HostAdapterTable[a].TreeItem != selected))
        a++;
    return a;
}

void FindSelectedDevice(void) {
    int row = ListView_GetNextItem(ListView, -1, LVNI_FOCUSED | LVNI_SELECTED);
    if (row < 0) {
        SelectedDevice = -1;
        return;
    }
    char label[LIST_LABEL_SIZE];
    label[0] = '\0';
    ListView_GetItemText(ListView, row, 0, label, sizeof label);

    int a = FindSelectedAdapter();
    if (a >= AdapterCount || a >= MAX_ADAPTERS) {
        SelectedDevice = -1;
        return;
    }
    LONG targets = HostAdapterTable[a].MaxTargets;
    LONG t = 0;
    int matched = 0;
    char text[LIST_LABEL_SIZE];
    // Only the adapter's own block of slots is searched.
    for (; t < targets && t < SLOTS_PER_ADAPTER && !matched; t++) {
        snprintf(text, sizeof text, "SCSI ID %u",
                 (unsigned)DeviceTable[a * SLOTS_PER_ADAPTER + t].TargetId);
        matched = strcmp(text, label) == 0;
    }
    if (matched)
        t--;
    else
        t = targets; // no label matched: just past the adapter's targets
    LONG slot = a * SLOTS_PER_ADAPTER + t;
    SelectedDevice = (t >= 0 && t <= SLOTS_PER_ADAPTER && slot < MAX_DEVICE_SLOTS) ? slot : -1;
}
