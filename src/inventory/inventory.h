// The inventory: the host adapter table, the device table and the program's
// global state. All of it is static storage that lives for the whole run.
#ifndef INVENTORY_H
#define INVENTORY_H

#include <windows.h>
#include <commctrl.h>
#include "wnaspi32.h"

#define MAX_ADAPTERS 8
#define MAX_DEVICE_SLOTS 64
#define SLOTS_PER_ADAPTER 16
#define INQUIRY_BUFFER_SIZE 96

// Marks a slot that belongs to no adapter (preset before an NT re-scan).
#define NO_ADAPTER_NUMBER 8

// Values of PlatformKind.
#define PLATFORM_WIN95 1
#define PLATFORM_NT 2

// Values of BusyState.
#define BUSY_NONE 0
#define BUSY_STARTUP 1
#define BUSY_RESCAN 2

// Values of WideBusSetting.
#define WIDE_BUS_NEVER_SET (-1)
#define WIDE_BUS_UNCHECKED 0
#define WIDE_BUS_CHECKED 8

typedef struct {
    char Identifier[16];
    char ManagerId[16];
    char Manufacturer[10];
    char AdapterName[18];
    char Description[64];
    char Version[6];
    char DriverFile[24];
    char DriverDate[18];
    BYTE AdapterNumber;
    DWORD HostScsiId;
    LONG MaxTargets;
    LONG DeviceCount;
    LONG BusCount;
    HTREEITEM TreeItem;
} HostAdapterRecord;

typedef struct {
    char AdapterIdentifier[16];
    char Vendor[10];
    char Product[18];
    char Revision[26];
    char TypeText[18];
    char BufferSizeText[20];
    char CapacityText[20];
    char BlockSizeText[20];
    char ReadCacheText[20];
    char WriteCacheText[20];
    char MediaSpeedText[20];
    char SerialNumber[256];
    char DevicePath[24];
    DWORD OpenAccess;
    DWORD OpenShare;
    BYTE TargetId;
    BYTE AdapterNumber;
    LONG Lun;
    LONG PathId;
    LONG SyncTransfer;
    LONG RemovableMedia;
    LONG Wide16;
    LONG Wide32;
    LONG AnsiVersion;
    LONG ImageIndex;
    HBITMAP TypeBitmap;
} DeviceRecord;

extern HostAdapterRecord HostAdapterTable[MAX_ADAPTERS];
extern DeviceRecord DeviceTable[MAX_DEVICE_SLOTS];

extern HINSTANCE AppInstance;
extern HWND MainWindow;
extern HWND StatusBar;
extern HWND ToolBar;
extern HWND ListView;
extern HWND TreeView;
extern HMENU MainMenu;
extern HMENU DeviceMenu;
extern HIMAGELIST LargeImageList;
extern HIMAGELIST SmallImageList;
extern HIMAGELIST TreeImageList;
extern LONG HighestTargetId;
extern LONG PlatformKind;
extern LONG UseAspi;
extern LONG AdapterCount;
extern LONG TotalDeviceCount;
extern LONG SelectedAdapter;
extern LONG SelectedDevice;
extern LONG BusyState;
extern LONG ScanComplete;
extern LONG WideBusSetting;
extern LONG ScanSlot;
extern BYTE ScanTargetId;
extern BYTE ScanAdapterNumber;
extern BYTE InquiryBuffer[INQUIRY_BUFFER_SIZE];
extern HMODULE AspiLibrary;
extern GetASPI32SupportInfoFn GetAspi32SupportInfo;
extern SendASPI32CommandFn SendAspi32Command;
extern HANDLE KvxhbaHandle;

// Copies a NUL-terminated text into a buffer of `size` bytes, cutting it to
// size - 1 characters; the result is always NUL-terminated.
void CopyText(char* dest, size_t size, const char* src);

// Copies exactly `count` bytes of a fixed-width field (such as the INQUIRY
// vendor identification, not NUL-terminated) into a text buffer, stopping
// early at a NUL and cutting to size - 1 characters.
void CopyTextField(char* dest, size_t size, const void* src, size_t count);

// Releases every slot's TypeBitmap and sets it to none.
void ReleaseDeviceBitmaps(void);

// Sets every HostAdapterRecord and DeviceRecord to all zero bytes (bitmaps
// must have been released first).
void ClearInventoryTables(void);

// Puts every global of the inventory into its start-up state: all zero,
// WideBusSetting -1; clears both tables.
void InitializeInventory(void);

// The re-scan reset: releases the bitmaps, clears both tables, zeroes the
// counts and scan state and sets both selections to -1.
void ResetInventoryForRescan(void);

#endif
