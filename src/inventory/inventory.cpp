// The inventory tables and global state, and the rules for clearing them.
#include "inventory.h"
#include <string.h>

HostAdapterRecord HostAdapterTable[MAX_ADAPTERS];
DeviceRecord DeviceTable[MAX_DEVICE_SLOTS];

HINSTANCE AppInstance;
HWND MainWindow;
HWND StatusBar;
HWND ToolBar;
HWND ListView;
HWND TreeView;
HMENU MainMenu;
HMENU DeviceMenu;
HIMAGELIST LargeImageList;
HIMAGELIST SmallImageList;
HIMAGELIST TreeImageList;
LONG HighestTargetId;
LONG PlatformKind;
LONG UseAspi;
LONG AdapterCount;
LONG TotalDeviceCount;
LONG SelectedAdapter;
LONG SelectedDevice;
LONG BusyState;
LONG ScanComplete;
LONG WideBusSetting = WIDE_BUS_NEVER_SET;
LONG ScanSlot;
BYTE ScanTargetId;
BYTE ScanAdapterNumber;
BYTE InquiryBuffer[INQUIRY_BUFFER_SIZE];
HMODULE AspiLibrary;
GetASPI32SupportInfoFn GetAspi32SupportInfo;
SendASPI32CommandFn SendAspi32Command;
HANDLE KvxhbaHandle;

void CopyText(char* dest, size_t size, const char* src) {
    if (dest == NULL || size == 0)
        return;
    if (src == NULL) {
        dest[0] = '\0';
        return;
    }
    size_t length = strlen(src);
    if (length > size - 1)
        length = size - 1;
    memcpy(dest, src, length);
    dest[length] = '\0';
}

void CopyTextField(char* dest, size_t size, const void* src, size_t count) {
    if (dest == NULL || size == 0)
        return;
    const char* text = (const char*)src;
    size_t length = 0;
    if (text != NULL)
        while (length < count && length < size - 1 && text[length] != '\0')
            length++;
    if (length > 0)
        memcpy(dest, text, length);
    dest[length] = '\0';
}

void ReleaseDeviceBitmaps(void) {
    for (int slot = 0; slot < MAX_DEVICE_SLOTS; slot++) {
        if (DeviceTable[slot].TypeBitmap != NULL) {
            DeleteObject(DeviceTable[slot].TypeBitmap);
            DeviceTable[slot].TypeBitmap = NULL;
        }
    }
}

void ClearInventoryTables(void) {
    memset(HostAdapterTable, 0, sizeof HostAdapterTable);
    memset(DeviceTable, 0, sizeof DeviceTable);
}

void InitializeInventory(void) {
    ClearInventoryTables();
    AppInstance = NULL;
    MainWindow = NULL;
    StatusBar = NULL;
    ToolBar = NULL;
    ListView = NULL;
    TreeView = NULL;
    MainMenu = NULL;
    DeviceMenu = NULL;
    LargeImageList = NULL;
    SmallImageList = NULL;
    TreeImageList = NULL;
    HighestTargetId = 0;
    PlatformKind = 0;
    UseAspi = 0;
    AdapterCount = 0;
    TotalDeviceCount = 0;
    SelectedAdapter = 0;
    SelectedDevice = 0;
    BusyState = BUSY_NONE;
    ScanComplete = 0;
    WideBusSetting = WIDE_BUS_NEVER_SET;
    ScanSlot = 0;
    ScanTargetId = 0;
    ScanAdapterNumber = 0;
    memset(InquiryBuffer, 0, sizeof InquiryBuffer);
    AspiLibrary = NULL;
    GetAspi32SupportInfo = NULL;
    SendAspi32Command = NULL;
    KvxhbaHandle = NULL;
}

void ResetInventoryForRescan(void) {
    ReleaseDeviceBitmaps();
    ClearInventoryTables();
    AdapterCount = 0;
    TotalDeviceCount = 0;
    ScanSlot = 0;
    ScanTargetId = 0;
    ScanAdapterNumber = 0;
    ScanComplete = 0;
    SelectedAdapter = -1;
    SelectedDevice = -1;
}
