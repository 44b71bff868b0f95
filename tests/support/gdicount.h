// Counts the GDI objects of the calling process, for tests that check that
// code gives back every bitmap, brush and font it makes.
#pragma once

#include <windows.h>
#include <winternl.h>

namespace qvx::test {

// The system's count (GetGuiResources) where it keeps one. Wine does not,
// but holds the process's GDI handles in the table its process environment
// block points at: 65536 entries of 24 bytes, the object type in the byte
// at offset 14 (0 for a free entry). -1 when neither can be read.
inline int GdiObjectCount() {
    using Count = DWORD(WINAPI*)(HANDLE, DWORD);
    auto count = reinterpret_cast<Count>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetGuiResources")));
    if (DWORD n = count != nullptr ? count(GetCurrentProcess(), 0 /* GR_GDIOBJECTS */) : 0)
        return int(n);
    using Query = LONG(WINAPI*)(HANDLE, PROCESSINFOCLASS, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION info = {};
    if (query == nullptr ||
        query(GetCurrentProcess(), ProcessBasicInformation, &info, sizeof info, nullptr) != 0)
        return -1;
    auto peb = reinterpret_cast<const BYTE*>(info.PebBaseAddress);
    auto table = *reinterpret_cast<const BYTE* const*>(peb + (sizeof(void*) == 8 ? 0xF8 : 0x94));
    if (table == nullptr)
        return -1;
    int n = 0;
    for (int i = 0; i < 0x10000; i++)
        n += table[i * 24 + 14] != 0;
    return n;
}

} // namespace qvx::test
