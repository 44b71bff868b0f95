// Runs scenario statements against the program's processes and writes one
// transcript line per observation.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "scenario.h"

namespace e2e {

// An expectation the program did not meet; the text says what was seen.
class Unmet : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A started process, closed on destruction (the process keeps running).
class Process {
  public:
    explicit Process(const PROCESS_INFORMATION& info) : info_(info) {}
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    DWORD Id() const {
        return info_.dwProcessId;
    }
    HANDLE Handle() const {
        return info_.hProcess;
    }
    bool Running() const {
        return WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
    }
    bool reported = false; // its exit code has been printed

  private:
    PROCESS_INFORMATION info_;
};

struct SessionOptions {
    std::string program; // the program that `start` runs
    // The program built over the NT port stand-in, which `start` runs instead
    // on a machine of the NT family without ASPI (Wine has no SCSI port
    // driver); empty: `program` on every machine.
    std::string ntProgram;
    std::string installer; // lays a machine into the prefix
    std::string outDir;    // where screenshots go
    std::string mainClass = "APP_UI_WClass";
    int waitSeconds = 60; // limit for anything to appear or end
};

class Session {
  public:
    Session(SessionOptions options, std::ostream& out);
    ~Session();
    // Runs every statement in order; throws Unmet at the first unmet one.
    void Run(const std::vector<Statement>& statements);
    void Execute(const Statement& s);

  private:
    void Say(const std::string& line);
    // Windows of the started processes.
    std::vector<HWND> OwnWindows(bool visibleOnly) const;
    bool Owns(HWND window) const;
    HWND MainWindow(bool required = true) const;
    HWND MainChild(const char* className) const;
    HWND MessageBoxUp() const;
    HWND FindDialog(const std::string& title) const;
    HWND DialogControl(int id) const;
    void Settle();
    std::string VisibleWindowsText() const;

    void Machine(const std::string& path);
    void Screen(int width, int height);
    void JoinDesktop();
    void Start(const std::string& program);
    void WaitExit();
    void ExpectMessage(const std::string& caption, const std::string& text);
    void Answer(const std::string& button);
    void Tree();
    void SelectTreeItem(const std::string& label, long adapter);
    void List();
    void Rows();
    void Row(const std::string& label, bool open);
    void Status();
    void Columns();
    void Geometry();
    void Toolbar();
    void WindowState();
    void Focus();
    void Menu(int id);
    void Key(const std::string& name);
    void Sort(int column);
    void Context(const std::string& where);
    void Dialog(const std::string& title);
    void Dump();
    void Texts(const std::vector<std::string>& ids);
    void Checks();
    void Click(int id);
    void Type(int id, const std::string& text);
    void Page(int index);
    void WaitText(int id, const std::string& text, int seconds);
    void FileDialog(const std::string& path, const char* verb);
    void File(const std::string& path);
    void Screenshot(const std::string& name, const std::string& what);
    // The program's own Setup and what it leaves on the machine.
    void RunSetup(const std::string& installer);
    void Installed();
    void StartInstalled();
    void Uninstall();
    void HelpWindow();
    void CloseHelp();

    SessionOptions options_;
    std::ostream& out_;
    std::vector<std::unique_ptr<Process>> processes_;
    std::map<std::string, std::string> childEnv_;
    bool useNtProgram_ = false; // the machine is NT without ASPI: start options_.ntProgram
    HWND dialog_ = nullptr;
    bool popupUp_ = false;
    bool joinedDesktop_ = false;
};

// A window's text through WM_GETTEXT, which Wine carries across processes.
std::string WindowText(HWND window);
std::string ClassName(HWND window);

} // namespace e2e
