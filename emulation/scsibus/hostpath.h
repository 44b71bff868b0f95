// Paths handed to the emulation from the Unix side (a command line or the
// environment) are Unix paths; Windows file functions need the Windows form.
#pragma once

#include <windows.h>

#include <string>

namespace qvx::emu {

// Returns a Unix absolute path in the form Wine opens (through Wine's own
// conversion when it offers one, else the Z: drive that maps "/"); any
// other path is returned unchanged.
inline std::string ToWindowsPath(const std::string& path) {
    if (path.empty() || path[0] != '/')
        return path;
    using DosNameFn = WCHAR*(CDECL*)(const char*);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    FARPROC proc = kernel ? GetProcAddress(kernel, "wine_get_dos_file_name") : nullptr;
    if (proc) {
        auto toDos = reinterpret_cast<DosNameFn>(reinterpret_cast<void (*)()>(proc));
        if (WCHAR* wide = toDos(path.c_str())) {
            char buffer[MAX_PATH * 2];
            int n =
                WideCharToMultiByte(CP_ACP, 0, wide, -1, buffer, sizeof buffer, nullptr, nullptr);
            HeapFree(GetProcessHeap(), 0, wide);
            if (n > 0)
                return buffer;
        }
    }
    std::string result = "Z:" + path;
    for (char& c : result)
        if (c == '/')
            c = '\\';
    return result;
}

} // namespace qvx::emu
