#include "scsibus/busfiles.h"

#include "scsibus/hostpath.h"

#include <exception>

namespace qvx::emu {
namespace {

// An environment variable's value; empty when it is not set or too long.
std::string Environment(const char* name) {
    char value[MAX_PATH * 2] = "";
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n == 0 || n >= sizeof value ? std::string() : std::string(value);
}

} // namespace

std::string MachineFilePath() {
    std::string path = Environment("QVX_MACHINE");
    if (!path.empty())
        return ToWindowsPath(path);
    char windows[MAX_PATH] = "";
    UINT w = GetWindowsDirectoryA(windows, MAX_PATH);
    if (w == 0 || w >= MAX_PATH)
        return "";
    return std::string(windows) + "\\qvxmachine.ini";
}

void AttachJournalFile(ScsiBus& bus) {
    std::string path = Environment("QVX_JOURNAL");
    if (path.empty())
        return;
    HANDLE file = CreateFileA(ToWindowsPath(path).c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::shared_ptr<void> owner(file, CloseHandle);
    bus.SetJournalSink([owner](const std::string& line) {
        std::string text = line + "\n";
        DWORD written = 0;
        WriteFile(owner.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    });
}

std::unique_ptr<ScsiBus> OpenBus(const std::string& path, bool attachJournal) {
    try {
        auto bus = std::make_unique<ScsiBus>(LoadMachine(ToWindowsPath(path)));
        if (attachJournal)
            AttachJournalFile(*bus);
        return bus;
    } catch (const std::exception& e) {
        OutputDebugStringA(e.what());
        return nullptr;
    }
}

} // namespace qvx::emu
