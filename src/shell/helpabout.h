// The help files and the About box.
#ifndef HELPABOUT_H
#define HELPABOUT_H

#include <windows.h>

#define HELP_PATH_SIZE 272

// Full paths of "KDX.hlp" (user's guide) and "KDXCH.hlp" (context help).
extern char HelpFilePath[HELP_PATH_SIZE];
extern char ContextHelpFilePath[HELP_PATH_SIZE];

// The program's application path key under HKEY_LOCAL_MACHINE.
#define APP_PATHS_KEY "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\"
#define APP_PATH_ENTRY "Quorvex Diagnostics.EXE"

// Finds the help directory that setup recorded and sets both paths.
// Returns 0 when the program must end (its message has been shown and the
// splash taken down), 1 when start-up goes on.
int LocateHelpFiles(void);

// The help viewer; WinHelpA, replaceable so a caller can watch the calls.
typedef BOOL(WINAPI* HelpViewerProc)(HWND, LPCSTR, UINT, ULONG_PTR);
extern HelpViewerProc HelpViewer;

// Opens the contents of the user's guide for a window.
BOOL ShowHelpContents(HWND window);

// The operating system line of the About box for a GetVersion value.
void FormatOsVersionLine(DWORD version, char* text, size_t size);

// Dialog procedure of "ABOUTBOX".
INT_PTR CALLBACK AboutDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
