// The device tree: the left pane, a root item "SCSI Controllers" with one
// child per host adapter, and the lookup of the selected device slot.
#ifndef DEVICETREE_H
#define DEVICETREE_H

#include <windows.h>
#include <commctrl.h>

// Item data of the root item.
#define TREE_ROOT_ITEM_DATA (-1)

// Images of TreeImageList.
#define TREE_IMAGE_ROOT 0
#define TREE_IMAGE_ADAPTER 1
#define TREE_IMAGE_ADAPTER_SELECTED 2
#define TREE_IMAGE_COUNT 3

// Longest list label FindSelectedDevice compares ("SCSI ID n").
#define LIST_LABEL_SIZE 20

// The root item, for expanding the tree after a scan; NULL when the tree
// is empty.
extern HTREEITEM TreeRootItem;

// Creates the tree (control 1003) in `parent` with its image list and root
// item, and keeps it in TreeView and TreeImageList. On failure shows
// 50065, 50066 or 50067 and returns NULL.
HWND CreateDeviceTree(HWND parent);

// Adds the root item; the items added after it go under the root with the
// adapter pictures.
void AddTreeRootItem(HINSTANCE instance, HWND tree);

// Adds an item as the last child of the current parent; its handle, or
// NULL after message 50068.
HTREEITEM AddTreeItem(const char* text, HWND tree, LPARAM itemData);

// Deletes every item, the root included, and forgets the adapters' items.
void ClearTree(HWND tree);

// Before a re-scan or a listing file: no adapters, devices or selection,
// both views emptied, the root item added again.
void ResetViews(void);

// For every WM_NOTIFY of the main window: 1 when the tree's selection
// changed (SelectedAdapter then holds the new adapter, -1 for the root or
// for no selection), else 0.
int HandleTreeNotify(int controlId, LPNMHDR notification);

// Sets SelectedDevice from the tree's selected adapter and the list's
// focused and selected row: the adapter's slot whose "SCSI ID n" equals the
// row's label, or the slot just past the adapter's targets when none does.
// -1 when no row is focused and selected, when no adapter is selected, or
// when the slot would lie outside DeviceTable.
void FindSelectedDevice(void);

#endif
