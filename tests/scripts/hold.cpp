// Stands in for a slow step (a test program, the end-to-end driver) in the
// tests of the scripts. When NAME.arm exists in the folder QVX_HOLD_DIR names,
// it writes NAME.held there and waits until NAME.arm is gone; otherwise it
// ends at once. NAME is the file name of its last argument without extension.
#include <windows.h>

#include <string>

namespace {

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string HoldName(std::string arg) {
    const size_t slash = arg.find_last_of("/\\");
    if (slash != std::string::npos)
        arg.erase(0, slash + 1);
    const size_t dot = arg.find('.');
    if (dot != std::string::npos)
        arg.erase(dot);
    return arg;
}

} // namespace

int main(int argc, char** argv) {
    char dir[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("QVX_HOLD_DIR", dir, sizeof dir);
    if (argc < 2 || length == 0 || length >= sizeof dir)
        return 2;
    const std::string base = std::string(dir) + "\\" + HoldName(argv[argc - 1]);
    const std::string arm = base + ".arm";
    if (!Exists(arm))
        return 0;
    const HANDLE held = CreateFileA((base + ".held").c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE)
        return 3;
    CloseHandle(held);
    while (Exists(arm))
        Sleep(50);
    return 0;
}
