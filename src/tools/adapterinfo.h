// The host adapter information dialog: one adapter's identity and driver as
// its HostAdapterRecord holds them, and the driver file's version read from
// the file itself when the dialog opens. No SCSI command is sent.
#ifndef ADAPTERINFO_H
#define ADAPTERINFO_H

#include <windows.h>

// The HostAdapterTable index the dialog shows (its start parameter).
extern int AdapterInfoIndex;

// The pattern brush of the dialog's background, and its bitmap; they live
// while the dialog is up.
extern HBRUSH AdapterInfoBrush;
extern HBITMAP AdapterInfoBitmap;

// The dialog procedure of the host adapter information template; the start
// parameter is the adapter's index in HostAdapterTable.
INT_PTR CALLBACK AdapterInfoDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
