// The inside of the main window: status bar, toolbar, device tree and list,
// their layout, the status bar texts, and centring of dialogs.
#ifndef FRAME_H
#define FRAME_H

#include <windows.h>

#define TOOLBAR_HEIGHT 30
#define STATUS_BAR_HEIGHT 20
// Rows of the client area that are not the two panes.
#define PANES_HEIGHT_MARGIN 50

// Creates the status bar, toolbar, tree and list; 1, or 0 after a message.
int CreateChildWindows(HWND mainWindow);

// Creates the toolbar with its buttons; the toolbar or NULL.
HWND CreateMainToolbar(HWND mainWindow);

// Where the four children go for a client area of width x height.
typedef struct {
    int TreeX, TreeY, TreeWidth, TreeHeight;
    int ListX, ListY, ListWidth, ListHeight;
} PaneLayout;
PaneLayout ComputePaneLayout(int clientWidth, int clientHeight);

// Moves the children for the current client size in one deferred batch.
BOOL LayoutMainWindow(HWND mainWindow);

// Writes "Currently selected:" and "Number of devices connected:" for an
// adapter index, or for no adapter (-1).
void ShowAdapterInStatusBar(HINSTANCE instance, HWND statusBar, int adapterIndex);

// Position that centres `window` over `reference`, kept inside `workArea`.
POINT ComputeCenteredPosition(const RECT* window, const RECT* reference, const RECT* workArea);

// Centres a window over another within the desktop work area.
void CenterWindow(HWND window, HWND reference);

#endif
