// Entry point of every test executable.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

// Under Xvfb there is no window manager, and Wine then waits 2 s for every
// managed top-level window it hides, so each message box or dialog in a test
// would cost that much. Unmanaged windows hide at once. Wine reads the
// setting for this program when its display driver first loads, which is
// after main() starts; elsewhere the key is simply unused.
static void UseUnmanagedWindows() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    const char* name = strrchr(path, '\\');
    name = name != nullptr ? name + 1 : path;
    char key[MAX_PATH + 64];
    snprintf(key, sizeof key, "Software\\Wine\\AppDefaults\\%s\\X11 Driver", name);
    HKEY k;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k,
                        nullptr) == ERROR_SUCCESS) {
        RegSetValueExA(k, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
        RegCloseKey(k);
    }
}

int main(int argc, char** argv) {
    UseUnmanagedWindows();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
