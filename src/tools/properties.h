// The device properties sheet: page "Device SCSI Information" (identity and
// SCSI capabilities) and page "Device Features" (the texts gathered after
// the scan). It shows what the device's DeviceRecord holds and sends no
// SCSI command.
#ifndef PROPERTIES_H
#define PROPERTIES_H

#include <windows.h>

// The page the sheet opens on (0: the first).
extern int PropertiesStartPage;

// The bitmap the first page paints in its picture control, or none.
extern HBITMAP DeviceBitmapToPaint;

// Context help: (control id, help context id) pairs ended by two zeros.
extern const DWORD InfoPageHelpIds[];
extern const DWORD FeaturesPageHelpIds[];

// Runs the sheet modally for the device of slot SelectedDevice; returns
// the property sheet's result (0 also when SelectedDevice names no slot).
INT_PTR ShowDeviceProperties(HWND owner);

INT_PTR CALLBACK DeviceInfoPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK DeviceFeaturesPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

#endif
