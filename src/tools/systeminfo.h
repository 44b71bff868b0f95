// The system SCSI information dialog: which files of the system's SCSI layer
// are installed, each with its version string, chosen by Windows family and
// transport. Nothing is sent to the SCSI bus.
#ifndef SYSTEMINFO_H
#define SYSTEMINFO_H

#include <windows.h>

#define SYSTEM_INFO_TEXT_SIZE 256

// The text of the dialog's panel (at most 255 characters, a longer one is cut).
extern char SystemInfoText[SYSTEM_INFO_TEXT_SIZE];

// The dialog's patterned background and the white panel behind the text,
// with the pattern's bitmap; they live while the dialog is up.
extern HBRUSH SystemInfoPatternBrush;
extern HBRUSH SystemInfoTextBrush;
extern HBITMAP SystemInfoBitmap;

// The dialog procedure of the system SCSI information template.
INT_PTR CALLBACK SystemInfoDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
