// The "Device Diagnostic Tests" dialog: TEST UNIT READY, then WRITE BUFFER
// and READ BUFFER of a known pattern on one device.
#ifndef DIAGNOSTICS_H
#define DIAGNOSTICS_H

#include <windows.h>

// The pause after a passed test (SleepEx, not alertable); tests replace it
// to see the pauses without waiting them out.
typedef void (*DiagnosticPauseProc)(DWORD milliseconds);
extern DiagnosticPauseProc DiagnosticPause;

// Context help: (control id, help context id) pairs ended by two zeros.
extern const DWORD DiagnosticHelpIds[];

// Dialog procedure of template 138; the start parameter is the device slot.
INT_PTR CALLBACK DiagnosticsDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
