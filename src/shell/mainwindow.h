// The main window: its class, creation, saved position and window procedure.
#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <windows.h>

#define MAIN_WINDOW_CLASS "APP_UI_WClass"
#define MAIN_WINDOW_TITLE "Quorvex Diagnostics"
#define MAIN_MENU_NAME "APP_UI_MENU"
#define SETTINGS_KEY "Software\\Veltrane\\Quorvex Diagnostics\\Settings"
#define WINDOW_POS_VALUE "WindowPos"

// The registry value "WindowPos": seven little-endian 32-bit numbers.
typedef struct {
    LONG Left;
    LONG Top;
    LONG Width;
    LONG Height;
    LONG ViewMode; // 0 large icons, 1 details, 2 small icons, 3 list
    LONG ScreenWidth;
    LONG ScreenHeight;
} WindowPosition;

extern WindowPosition WindowPosRecord;

// Show command the main window uses when the first scan has finished.
extern int MainWindowShowCommand;

BOOL RegisterMainWindowClass(HINSTANCE instance);
BOOL CreateMainWindow(HINSTANCE instance);

// Completes a position for the given screen: the defaults, or the record
// rescaled from the screen size it holds. A stored screen size of 0 counts
// as no record.
void ComputeWindowPos(WindowPosition* record, int screenWidth, int screenHeight, int useDefaults);

// Completes the record as above and writes it as "WindowPos" under `key`;
// the registry result.
LONG StoreWindowPos(HKEY key, int screenWidth, int screenHeight, WindowPosition* record, DWORD size,
                    int useDefaults);

// Reads "WindowPos" from the settings key; 1 when a whole record was read.
int ReadWindowPos(WindowPosition* record);

// After a scan: expand the tree, select adapter 0 and show it in the list
// and the status bar.
void ShowFirstAdapter(void);

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
