// The program's one way to Windows NT devices: open a device by name, send it
// an I/O control, close it, and list the logical drives with their types.
// The shipped program links ntdevice.cpp, which hands each call to KERNEL32
// unchanged. A build that runs on an emulated NT machine links a stand-in
// with the same functions. Each function leaves the thread's last-error code
// as the KERNEL32 function it stands for does, so GetLastError and
// FormatMessageA work the same behind either.
#ifndef NTDEVICE_H
#define NTDEVICE_H

#include <windows.h>

// CreateFileA(path, access, share, no security, OPEN_EXISTING, 0, no template).
HANDLE NtDeviceOpen(const char* path, DWORD access, DWORD share);
// DeviceIoControl without an OVERLAPPED block.
BOOL NtDeviceControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                     DWORD* returned);
BOOL NtDeviceClose(HANDLE device);
// GetLogicalDrives and GetDriveTypeA.
DWORD NtLogicalDrives(void);
UINT NtDriveType(const char* root);

#endif
