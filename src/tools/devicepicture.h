// The device picture of the tool dialogs: a device's type bitmap painted
// centred in a picture control.
#ifndef DEVICEPICTURE_H
#define DEVICEPICTURE_H

#include <windows.h>

// Copies `bitmap` into `dc` (the dialog's paint context) centred in the
// rectangle of control `controlId`; nothing when either is missing.
void DrawBitmapInControl(HWND dialog, int controlId, HDC dc, HBITMAP bitmap);

#endif
