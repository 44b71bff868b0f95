// Paints a device's bitmap centred in a dialog control.
#include "devicepicture.h"

void DrawBitmapInControl(HWND dialog, int controlId, HDC dc, HBITMAP bitmap) {
    HWND control = GetDlgItem(dialog, controlId);
    BITMAP info;
    if (bitmap == NULL || control == NULL || GetObjectA(bitmap, sizeof info, &info) == 0)
        return;
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(NULL, dialog, (POINT*)&rect, 2);
    int x = rect.left + ((rect.right - rect.left) - info.bmWidth) / 2;
    int y = rect.top + ((rect.bottom - rect.top) - info.bmHeight) / 2;
    HDC memory = CreateCompatibleDC(dc);
    if (memory == NULL)
        return;
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(dc, x, y, info.bmWidth, info.bmHeight, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
}
