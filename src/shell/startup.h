// Start-up: from the entry point to the message loop.
#ifndef STARTUP_H
#define STARTUP_H

#include <windows.h>
#include "wnaspi32.h"
#include "inventory/inventory.h"

// PlatformKind for a GetVersion value; 0 for Win32s.
LONG PlatformFromVersion(DWORD version);

// Brings a running instance to the front; 1 when there is one.
int ActivateRunningInstance(void);

// Inserts "Device Diagnostic &Tests..." in front of the performance tests
// item of the Options menu; 1, or 0 after a message (the program ends).
int InsertDiagnosticsMenuItem(void);

// Fills a HostAdapterRecord from a host adapter inquiry block.
void FillAdapterRecord(HostAdapterRecord* record, const SRB_HAInquiry* block);

// Records the adapters ASPI reports (`reported` of them), skipping the IDE
// channels and pseudo adapters, and adds their tree items. At start-up a
// failed open of the adapter's virtual device is reported (`atStartup`).
void BeginAdapterEnumeration(int reported, int atStartup);

// Adds the adapters' tree items from the last record down to record 0 (the
// order of the NT port scan).
void AddTreeItemsReversed(void);

// Runs the message loop with the accelerator table; the quit code.
int RunMessageLoop(HACCEL accelerators);

// The whole start-up; the program's exit code.
int QuorvexMain(HINSTANCE instance, int showCommand);

#endif
