// What the device test dialogs share: refusing the adapter's own row and
// empty targets, the device's identity and picture, and closing back to the
// device list.
#ifndef DEVICEDIALOG_H
#define DEVICEDIALOG_H

#include <windows.h>
#include "inventory/inventory.h"

// 1 when the device can be tested. For the adapter's own row or an empty
// target it shows the matching hint, sets button 1 to "OK", posts the
// dialog a close and returns 0.
int AcceptTestableDevice(HWND dialog, const DeviceRecord* device);

// 1 when `typeText` is one of the `count` texts.
int TypeTextIsOneOf(const char* typeText, const char* const* texts, int count);

// The SCSI ID, manufacturer, version, type and product fields.
void ShowDeviceIdentity(HWND dialog, const DeviceRecord* device);

// Loads string `stringId` into control `controlId`.
void ShowStringInControl(HWND dialog, int controlId, UINT stringId);

// WM_PAINT: the device's bitmap centred in the picture frame.
void PaintDevicePicture(HWND dialog, HBITMAP bitmap);

// Redraws the dialog and its controls at once (the tests run without
// returning to the message loop).
void RepaintNow(HWND dialog);

// Ends the dialog with 1 and gives the keyboard focus back to the list.
void EndDeviceDialog(HWND dialog);

#endif
