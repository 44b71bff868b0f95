// Runs the whole program in-process, from the entry point's start-up to the
// end of its message loop, on an emulated machine. Once the main window is
// up after the first scan, a test body runs inside the program's own
// message loop; then the window is closed as a user would close it. The
// small drivers below work the running program's window as a user would.
// Link with quorvex_core; machines are chosen through the emulated
// library's QvxEmuLoadMachine.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace qvx::test {

// Loads the emulated wnaspi32.dll once for the whole test run (so the
// program's own load and unload never drop it) and selects a machine file.
void SelectMachine(const std::string& path);

struct ProgramOptions {
    bool closeWhenUp = true; // close the window after the body
    unsigned timeoutMs = 20000;
    // Gather every device's features after each scan, as the program does;
    // off by default, since it waits a second for every ready disk.
    bool gatherFeatures = false;
};

// Starts the program; `body` runs once the main window is shown and idle.
// Returns the entry point's exit code; the window class is unregistered
// afterwards so the next run starts like a fresh process.
int RunProgram(const std::function<void()>& body, ProgramOptions options = {});

// Whether the body ran in the last RunProgram.
bool ProgramBodyRan();

// Lays the application path entry the program's setup writes, with
// "HelpPath" (when not null) naming the help files' folder; removed on
// destruction.
class InstalledHelpPath {
  public:
    explicit InstalledHelpPath(const char* helpPath = "C:\\Quorvex");
    ~InstalledHelpPath();
    InstalledHelpPath(const InstalledHelpPath&) = delete;
    InstalledHelpPath& operator=(const InstalledHelpPath&) = delete;
};

// Removes the stored window position.
void ForgetWindowPosition();

// A copy of quorvex.exe (from beside the test executable) started as a child
// process, alone in the temporary folder so that, with only the native
// library allowed, it finds no wnaspi32.dll, under the Windows version Wine
// reports to it ("nt40", "win95", "win31", ...). Ended on destruction if it
// still runs; the version setting and the copy are removed then.
class LoneProgram {
  public:
    explicit LoneProgram(const char* version);
    ~LoneProgram();
    LoneProgram(const LoneProgram&) = delete;
    LoneProgram& operator=(const LoneProgram&) = delete;

    // The child's visible top-level window of class `cls`; null when the
    // child ends first or shows none for 30 s. Another process's windows can
    // only be looked for: Wine reports no window events across processes.
    HWND WaitForWindow(const char* cls) const;
    // The exit code, or STILL_ACTIVE when the child still runs after 30 s.
    DWORD WaitForExit() const;

    // Whether a wnaspi32.dll other than Wine's own stand-in is installed in
    // the system folder, where a lone copy would find it.
    static bool SystemHasAspiLibrary();

  private:
    std::string copy_;
    HKEY versionKey_ = nullptr;
    PROCESS_INFORMATION info_ = {};
};

// ---- Working the running program's main window ----

void Command(int id);                         // WM_COMMAND to the main window
void SelectAdapter(int index);                // selects its tree item; -1: the root
int ListRowOf(const std::string& label);      // the list row labelled so, or -1
void ChooseRow(int row);                      // focuses and selects it; -1: none
std::string WindowText(HWND window);          // a window's title or text
std::vector<std::string> TreeAdapterLabels(); // the root's children, in order

} // namespace qvx::test
