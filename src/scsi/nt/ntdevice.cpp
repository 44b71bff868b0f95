// The device access of the shipped program: KERNEL32 itself.
#include "ntdevice.h"

HANDLE NtDeviceOpen(const char* path, DWORD access, DWORD share) {
    return CreateFileA(path, access, share, NULL, OPEN_EXISTING, 0, NULL);
}

BOOL NtDeviceControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                     DWORD* returned) {
    return DeviceIoControl(device, code, in, inSize, out, outSize, returned, NULL);
}

BOOL NtDeviceClose(HANDLE device) {
    return CloseHandle(device);
}

DWORD NtLogicalDrives(void) {
    return GetLogicalDrives();
}

UINT NtDriveType(const char* root) {
    return GetDriveTypeA(root);
}
