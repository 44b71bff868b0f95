// The device list: the right pane, one row per target of the selected
// adapter, its two image lists, and the picture of each device slot.
#ifndef DEVICELIST_H
#define DEVICELIST_H

#include <windows.h>
#include <commctrl.h>
#include "inventory/inventory.h"

// Images of SmallImageList and LargeImageList (the same in both).
#define LIST_IMAGE_APP 0
#define LIST_IMAGE_HARD_DISK 1
#define LIST_IMAGE_REMOVABLE 2
#define LIST_IMAGE_CDROM 3
#define LIST_IMAGE_TAPE 4
#define LIST_IMAGE_SCANNER 5
#define LIST_IMAGE_WORM 6
#define LIST_IMAGE_PRINTER 7
#define LIST_IMAGE_HOST_ADAPTER 8
#define LIST_IMAGE_UNKNOWN 9
#define LIST_IMAGE_NO_DEVICE 10
#define LIST_IMAGE_OPTICAL 11
#define LIST_IMAGE_ZIP 12
#define LIST_IMAGE_COUNT 13

#define LIST_COLUMN_COUNT 5

// Creates the list (control 1002) in `parent` in the view mode saved with
// the window position (WindowPosRecord). NULL on failure; only a failed
// icon shows a message (50064), the caller reports the rest.
HWND CreateDeviceList(HWND parent);

// The same in a given view mode: 0 large icons, 1 details, 2 small icons,
// 3 list (any other value: large icons). Keeps the list in ListView and the
// image lists in SmallImageList and LargeImageList.
HWND CreateDeviceListInMode(HWND parent, int viewMode);

// Chooses a slot's bitmap (TypeBitmap) and image (ImageIndex) from its
// TypeText; a type without a picture ("Printer", empty) leaves the slot
// without a bitmap, so it is not listed.
void SetDeviceImage(DeviceRecord* record);

// Inserts a row for `record` at `index`, texts supplied on request; 1 or 0.
int AddListItem(HWND list, int index, DeviceRecord* record);

void DeleteListItem(HWND list, int index);
void ClearList(HWND list);

// Empties the list and, for an adapter index other than -1, lists the
// adapter's slots that have a picture (IDs 0-7 only when HighestTargetId
// is 7).
void FillDeviceList(HWND list, int adapterIndex);

// View commands 120-123: large icons, small icons, list, details.
void SetListViewMode(HWND list, int command);

// For every WM_NOTIFY of the main window: supplies the rows' texts and
// sorts on a column click. Always 0.
int HandleListNotify(int controlId, LPNMHDR notification);

// Sort order of two rows (their DeviceRecord pointers) by a column.
int CALLBACK CompareListItems(LPARAM first, LPARAM second, LPARAM column);

// Destroys the tree's and the list's image lists (at exit).
void DestroyViewImageLists(void);

#endif
