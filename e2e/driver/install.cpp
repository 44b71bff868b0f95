// The program's own Setup as a user meets it: install silently, start the
// installed program the way Windows finds it (its App Paths entry), look at
// the help viewer it opens, remove it through its Add/Remove Programs entry,
// and list what of it is left on the machine.
#include "session.h"

#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

namespace e2e {
namespace {

const char* const kProduct = "Quorvex Diagnostics";
const char* const kAppPathKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Quorvex Diagnostics.EXE";
const char* const kUninstallKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvex Diagnostics";
const char* const kMakerKey = "Software\\Veltrane";
const char* const kHelpClass = "MS_WINHELP"; // the help viewer's main window

std::string Join(const std::vector<std::string>& parts, const std::string& glue) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i)
        out += (i ? glue : "") + parts[i];
    return out;
}

bool Until(const std::function<bool()>& condition, int seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// A closed registry key on destruction.
class RegKey {
  public:
    RegKey(HKEY root, const char* path) {
        if (RegOpenKeyExA(root, path, 0, KEY_READ, &key_) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~RegKey() {
        if (key_)
            RegCloseKey(key_);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    explicit operator bool() const {
        return key_ != nullptr;
    }
    // Every string value, by name in the registry's order.
    std::vector<std::pair<std::string, std::string>> Strings() const {
        std::vector<std::pair<std::string, std::string>> values;
        for (DWORD i = 0;; ++i) {
            char name[256], data[1024];
            DWORD nameSize = sizeof name, dataSize = sizeof data - 1, type = 0;
            if (RegEnumValueA(key_, i, name, &nameSize, nullptr, &type,
                              reinterpret_cast<BYTE*>(data), &dataSize) != ERROR_SUCCESS)
                break;
            data[dataSize] = '\0';
            if (type == REG_SZ)
                values.emplace_back(name, data);
        }
        std::sort(values.begin(), values.end());
        return values;
    }
    std::string String(const char* name) const {
        for (const auto& [n, v] : Strings())
            if (n == name)
                return v;
        return "";
    }

  private:
    HKEY key_ = nullptr;
};

bool KeyExists(HKEY root, const char* path) {
    return static_cast<bool>(RegKey(root, path));
}

std::string Folder(int csidl) {
    char path[MAX_PATH] = "";
    if (FAILED(SHGetFolderPathA(nullptr, csidl, nullptr, 0, path)))
        throw Unmet("the system does not name folder " + std::to_string(csidl));
    return path;
}

// The names in a folder, sorted; false when the folder does not exist.
bool FolderNames(const std::string& folder, std::vector<std::string>& names) {
    DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name != "." && name != "..")
                names.push_back(name);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    std::sort(names.begin(), names.end());
    return true;
}

// Runs a command line and waits for it; its exit code.
DWORD RunAndWait(const std::string& commandLine, int seconds) {
    std::string command = commandLine;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        throw Unmet("cannot run " + commandLine);
    Process process(pi);
    if (WaitForSingleObject(process.Handle(), seconds * 1000) != WAIT_OBJECT_0)
        throw Unmet(commandLine + " has not ended");
    DWORD code = 0;
    GetExitCodeProcess(process.Handle(), &code);
    return code;
}

HWND HelpViewer() {
    HWND w = FindWindowA(kHelpClass, nullptr);
    return w != nullptr && IsWindowVisible(w) ? w : nullptr;
}

BOOL CALLBACK FindTextView(HWND window, LPARAM found) {
    if (ClassName(window).rfind("RichEdit", 0) == 0) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

void Session::RunSetup(const std::string& installer) {
    std::string path = installer;
    if (path.find_first_of("\\/:") == std::string::npos)
        path = options_.program.substr(0, options_.program.find_last_of("\\/") + 1) + path;
    DWORD code = RunAndWait("\"" + path + "\" /S", options_.waitSeconds);
    Say("setup: exit code " + std::to_string(code));
}

void Session::Installed() {
    std::vector<std::string> names;
    std::string folder = Folder(CSIDL_PROGRAM_FILES) + "\\" + kProduct;
    if (FolderNames(folder, names))
        Say("installed: folder " + Quote(folder) + ": " + Join(names, " "));
    else
        Say("installed: no program folder");

    std::vector<std::string> shown;
    if (RegKey appPath{HKEY_LOCAL_MACHINE, kAppPathKey}) {
        for (const auto& [name, value] : appPath.Strings())
            shown.push_back((name.empty() ? "(default)" : name) + " " + Quote(value));
        Say("installed: App Paths entry: " + Join(shown, ", "));
    } else {
        Say("installed: no App Paths entry");
    }
    if (RegKey uninstall{HKEY_LOCAL_MACHINE, kUninstallKey})
        Say("installed: Add/Remove Programs: " + Quote(uninstall.String("DisplayName")) + " " +
            Quote(uninstall.String("UninstallString")));
    else
        Say("installed: no Add/Remove Programs entry");

    names.clear();
    if (FolderNames(Folder(CSIDL_COMMON_PROGRAMS) + "\\" + kProduct, names))
        Say("installed: Start menu: " + Join(names, ", "));
    else
        Say("installed: no Start menu folder");
    Say(std::string("installed: ") +
        (KeyExists(HKEY_CURRENT_USER, kMakerKey) ? "settings key" : "no settings key"));
}

void Session::StartInstalled() {
    std::string program = RegKey(HKEY_LOCAL_MACHINE, kAppPathKey).String("");
    if (program.empty())
        throw Unmet("no App Paths entry names the program");
    Say("start-installed: " + Quote(program));
    Start(program);
}

// The uninstaller copies itself to the temporary folder and the copy does
// the work, so the entry's disappearance, which it removes last, tells that
// it has finished.
void Session::Uninstall() {
    std::string command = RegKey(HKEY_LOCAL_MACHINE, kUninstallKey).String("UninstallString");
    if (command.empty())
        throw Unmet("no Add/Remove Programs entry");
    DWORD code = RunAndWait(command + " /S", options_.waitSeconds);
    if (!Until([] { return !KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey); }, options_.waitSeconds))
        throw Unmet("the Add/Remove Programs entry is still there");
    Say("uninstall: exit code " + std::to_string(code));
}

void Session::HelpWindow() {
    HWND viewer = nullptr, text = nullptr;
    std::string shown;
    bool up = Until(
        [&] {
            if ((viewer = HelpViewer()) == nullptr)
                return false;
            text = nullptr;
            EnumChildWindows(viewer, FindTextView, reinterpret_cast<LPARAM>(&text));
            return text != nullptr && !(shown = WindowText(text)).empty();
        },
        options_.waitSeconds);
    if (!up)
        throw Unmet("no help viewer shows a topic; visible: " + VisibleWindowsText());
    // The topic's first line; the viewer's title is its own, not the file's.
    Say("help topic: " + Quote(shown.substr(0, shown.find_first_of("\r\n"))));
}

void Session::CloseHelp() {
    HWND viewer = HelpViewer();
    if (viewer == nullptr)
        throw Unmet("no help viewer is open");
    PostMessageA(viewer, WM_CLOSE, 0, 0);
    if (!Until([] { return FindWindowA(kHelpClass, nullptr) == nullptr; }, options_.waitSeconds))
        throw Unmet("the help viewer did not close");
    Say("close-help");
}

} // namespace e2e
