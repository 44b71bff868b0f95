// Geometry of the frame: where the two panes go, and centring a dialog over
// its owner inside the desktop work area.
#include "shell/frame.h"

PaneLayout ComputePaneLayout(int clientWidth, int clientHeight) {
    PaneLayout layout;
    int height = clientHeight - PANES_HEIGHT_MARGIN;

    // A window shrunk below the bars leaves the panes empty, never negative.
    if (height < 0)
        height = 0;
    layout.TreeX = 0;
    layout.TreeY = TOOLBAR_HEIGHT;
    layout.TreeWidth = clientWidth / 4;
    layout.TreeHeight = height;
    layout.ListX = clientWidth / 4;
    layout.ListY = TOOLBAR_HEIGHT;
    layout.ListWidth = clientWidth - clientWidth / 4;
    layout.ListHeight = height;
    return layout;
}

POINT ComputeCenteredPosition(const RECT* window, const RECT* reference, const RECT* workArea) {
    POINT at;
    int width = window->right - window->left;
    int height = window->bottom - window->top;

    at.x = reference->left + ((reference->right - reference->left - width) >> 1);
    at.y = reference->top + ((reference->bottom - reference->top - height) >> 1);
    if (workArea->left > at.x)
        at.x = workArea->left;
    else if (at.x + width > workArea->right)
        at.x = workArea->right - width;
    if (workArea->top > at.y)
        at.y = workArea->top;
    else if (at.y + height > workArea->bottom)
        at.y = workArea->bottom - height;
    return at;
}

void CenterWindow(HWND window, HWND reference) {
    RECT own, over, work;
    POINT at;

    GetWindowRect(window, &own);
    if (reference == NULL || !GetWindowRect(reference, &over))
        GetWindowRect(GetDesktopWindow(), &over);
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0))
        SetRect(&work, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    at = ComputeCenteredPosition(&own, &over, &work);
    SetWindowPos(window, NULL, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
