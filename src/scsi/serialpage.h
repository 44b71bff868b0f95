// The unit serial number page (INQUIRY page 80h) as both transports read it.
#ifndef SERIALPAGE_H
#define SERIALPAGE_H

#include <windows.h>

// Copies the serial number of a page read into a buffer of `received` bytes
// into `text` and returns 1, when its first character is an ASCII letter or
// digit; returns 0 and leaves `text` alone otherwise. The copy never goes
// beyond the bytes received, whatever page length the device gives.
int CopySerialNumber(const BYTE* page, DWORD received, char* text);

#endif
