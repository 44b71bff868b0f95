// Runs the whole program in-process, from the entry point's start-up to the
// end of its message loop, on an emulated machine. Once the main window is
// up after the first scan, a test body runs inside the program's own
// message loop; then the window is closed as a user would close it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace qvx::test {

// Path of a machine file of the shell tests.
std::string ShellMachine(const char* name);

// Loads the emulated wnaspi32.dll once for the whole test run (so the
// program's own load and unload never drop it) and selects a machine.
void SelectMachine(const std::string& path);

struct ProgramOptions {
    bool closeWhenUp = true; // close the window after the body
    unsigned timeoutMs = 20000;
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

} // namespace qvx::test
