// Entry points of the tool dialogs and listing file commands the main window
// runs. They go through one table so a caller (and the tests) can replace an
// entry; each is given the main window as owner.
#ifndef TOOLENTRY_H
#define TOOLENTRY_H

#include <windows.h>

typedef struct {
    // Device properties sheet on its first page for a device slot; 1 when
    // the list should be repainted.
    int (*DeviceProperties)(HWND owner, int slot);
    int (*DiagnosticTests)(HWND owner, int slot);
    int (*PerformanceTests)(HWND owner, int slot);
    // Host adapter information for an index of the adapter table.
    int (*AdapterInfo)(HWND owner, int adapterIndex);
    int (*SystemInfo)(HWND owner);
    // Listing files: 1 when a listing was read or written.
    int (*OpenListing)(HWND owner);
    int (*SaveListing)(HWND owner);
    int (*SaveListingAs)(HWND owner);
    // File name (without directory) of the listing last opened or saved.
    const char* (*ListingTitle)(void);
    // Gathers every device's features after a scan.
    void (*CollectFeatures)(void);
} ToolEntryTable;

extern ToolEntryTable ToolEntries;

// The table's initial entries (the listing entries are in listing/listing.h).
int OpenDevicePropertiesDialog(HWND owner, int slot);
int OpenDiagnosticTestsDialog(HWND owner, int slot);
int OpenPerformanceTestsDialog(HWND owner, int slot);
int OpenAdapterInfoDialog(HWND owner, int adapterIndex);
int OpenSystemInfoDialog(HWND owner);
void RunCollectDeviceFeatures(void);

#endif
