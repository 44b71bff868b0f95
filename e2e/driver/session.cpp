#include "session.h"

#include <commctrl.h>

#include <cstring>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <thread>

#include "machine/machine.h"
#include "png.h"
#include "remote.h"

namespace e2e {
namespace {

constexpr int kMessageTextId = 0xFFFF; // the text of a message box
// A message box's icon; dialogs' own labels also have the id 0xFFFF.
constexpr int kMessageIconId = 1088;

constexpr long kByLabel = -2; // select a tree item by label, not by adapter

bool IsMessageBox(HWND w) {
    return ClassName(w) == "#32770" && GetDlgItem(w, kMessageTextId) != nullptr &&
           GetDlgItem(w, kMessageIconId) != nullptr;
}

void Pause(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Polls a condition every 50 ms until it holds or the limit passes.
bool WaitUntil(const std::function<bool()>& condition, int seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        Pause(50);
    }
}

int ToInt(const std::string& text) {
    try {
        size_t used = 0;
        int v = std::stoi(text, &used, 0);
        if (used == text.size())
            return v;
    } catch (const std::exception&) {
    }
    throw Unmet("not a number: " + text);
}

std::string WithoutAmpersands(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size())
            ++i;
        out += text[i];
    }
    return out;
}

LPARAM Point(int x, int y) {
    return MAKELPARAM(x, y);
}

POINT Center(const RECT& r) {
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// Where a user clicks an item: near the start of its text, which stays
// visible when a long text runs past the control's edge.
POINT ItemPoint(HWND control, const RECT& item) {
    POINT p = Center(item);
    p.x = std::min(p.x, item.left + 8);
    RECT client;
    GetClientRect(control, &client);
    p.x = std::max(client.left + 1, std::min(p.x, client.right - 2));
    p.y = std::max(client.top + 1, std::min(p.y, client.bottom - 2));
    return p;
}

// "left,top widthxheight"
std::string RectText(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " +
           std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top);
}

// A child window's rectangle in its parent's client coordinates.
RECT ChildRect(HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// A mouse click as the control's own message queue receives it.
void PostClick(HWND control, POINT p) {
    PostMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, Point(p.x, p.y));
    PostMessageA(control, WM_LBUTTONUP, 0, Point(p.x, p.y));
}

std::string ReadFileBytes(const std::string& path, bool& ok) {
    std::ifstream in(path, std::ios::binary);
    ok = static_cast<bool>(in);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The value of `key=` in an INI text, blank-trimmed, comment removed.
std::string IniValue(const std::string& text, const std::string& key) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, key.size(), key) != 0)
            continue;
        size_t eq = line.find_first_not_of(" \t", start + key.size());
        if (eq == std::string::npos || line[eq] != '=')
            continue;
        std::string value = line.substr(eq + 1);
        value = value.substr(0, value.find(';'));
        size_t a = value.find_first_not_of(" \t\r"), b = value.find_last_not_of(" \t\r");
        return a == std::string::npos ? "" : value.substr(a, b - a + 1);
    }
    return "";
}

std::string Join(const std::vector<std::string>& parts, const std::string& glue) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i)
        out += (i ? glue : "") + parts[i];
    return out;
}

// Window enumeration callbacks: they only collect, the callers filter.
BOOL CALLBACK CollectWindow(HWND window, LPARAM found) {
    reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}

std::vector<HWND> TopWindows() {
    std::vector<HWND> found;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

bool IsCheckButton(HWND control) {
    LONG type = GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK;
    return ClassName(control) == "Button" &&
           (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE ||
            type == BS_AUTO3STATE || type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON);
}

// Every descendant of a window (the pages of a property sheet included).
std::vector<HWND> Descendants(HWND parent) {
    std::vector<HWND> found;
    EnumChildWindows(parent, CollectWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

bool SetUserString(const char* key, const char* name, const std::string& value) {
    HKEY k;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k,
                        nullptr) != ERROR_SUCCESS)
        return false;
    LONG r = RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1));
    RegCloseKey(k);
    return r == ERROR_SUCCESS;
}

} // namespace

std::string WindowText(HWND window) {
    char text[4096] = "";
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                             SMTO_NORMAL, 10000, &result))
        throw Unmet("window does not answer WM_GETTEXT");
    text[sizeof text - 1] = '\0';
    return text;
}

std::string ClassName(HWND window) {
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

Process::~Process() {
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
}

Session::Session(SessionOptions options, std::ostream& out)
    : options_(std::move(options)), out_(out) {}

// A program left running would keep the prefix busy: end what was started.
Session::~Session() {
    for (const auto& p : processes_)
        if (p->Running())
            TerminateProcess(p->Handle(), 1);
}

void Session::Say(const std::string& line) {
    out_ << line << '\n';
    out_.flush();
}

void Session::Run(const std::vector<Statement>& statements) {
    for (const Statement& s : statements) {
        try {
            Execute(s);
        } catch (const RemoteError& e) {
            throw Unmet("line " + std::to_string(s.line) + " (" + s.name + "): " + e.what());
        } catch (const Unmet& e) {
            throw Unmet("line " + std::to_string(s.line) + " (" + s.name + "): " + e.what());
        }
    }
}

void Session::Execute(const Statement& s) {
    const auto& a = s.args;
    const std::string& n = s.name;
    if (n == "machine") {
        Machine(a[0]);
    } else if (n == "language") {
        static const std::map<std::string, std::string> locales = {
            {"de", "de_DE.UTF-8"}, {"en", "en_US.UTF-8"}, {"es", "es_ES.UTF-8"},
            {"fr", "fr_FR.UTF-8"}, {"it", "it_IT.UTF-8"}, {"nl", "nl_NL.UTF-8"},
            {"ja", "ja_JP.UTF-8"}};
        auto l = locales.find(a[0]);
        if (l == locales.end())
            throw Unmet("unknown language " + a[0]);
        // Wine takes a new process's locale from the Unix environment of
        // the process that starts it, not from the environment block, so the
        // driver itself must run with it (scripts/e2e does this).
        const char* own = getenv("LC_ALL");
        if (own == nullptr || l->second != own)
            throw Unmet("the driver must run with LC_ALL=" + l->second);
        Say("language: " + a[0]);
    } else if (n == "screen") {
        Screen(ToInt(a[0]), ToInt(a[1]));
    } else if (n == "start") {
        Start(useNtProgram_ ? options_.ntProgram : options_.program);
    } else if (n == "start-installed") {
        StartInstalled();
    } else if (n == "setup") {
        RunSetup(a[0]);
    } else if (n == "installed") {
        Installed();
    } else if (n == "uninstall") {
        Uninstall();
    } else if (n == "help-window") {
        HelpWindow();
    } else if (n == "close-help") {
        CloseHelp();
    } else if (n == "wait-exit") {
        WaitExit();
    } else if (n == "close") {
        PostMessageA(MainWindow(), WM_SYSCOMMAND, SC_CLOSE, 0);
        Say("close");
        Settle();
    } else if (n == "expect-message") {
        ExpectMessage(a[0], a[1]);
    } else if (n == "no-message") {
        Settle();
        if (HWND box = MessageBoxUp())
            throw Unmet("a message box is up: " + Quote(WindowText(box)) + " " +
                        Quote(WindowText(GetDlgItem(box, kMessageTextId))));
        Say("no message box");
    } else if (n == "answer") {
        Answer(a[0]);
    } else if (n == "tree") {
        Tree();
    } else if (n == "select") {
        SelectTreeItem(a[0], kByLabel);
    } else if (n == "select-adapter") {
        SelectTreeItem("", ToInt(a[0]));
    } else if (n == "list") {
        List();
    } else if (n == "rows") {
        Rows();
    } else if (n == "row" || n == "open-row") {
        Row(a[0], n == "open-row");
    } else if (n == "status") {
        Status();
    } else if (n == "columns") {
        Columns();
    } else if (n == "geometry") {
        Geometry();
    } else if (n == "toolbar") {
        Toolbar();
    } else if (n == "title") {
        Say("title: " + Quote(WindowText(MainWindow())));
    } else if (n == "window") {
        WindowState();
    } else if (n == "focus") {
        Focus();
    } else if (n == "minimize") {
        PostMessageA(MainWindow(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
        Settle();
        Say("minimize");
    } else if (n == "menu") {
        Menu(ToInt(a[0]));
    } else if (n == "key") {
        Key(a[0]);
    } else if (n == "sort") {
        Sort(ToInt(a[0]));
    } else if (n == "context") {
        Context(a[0]);
    } else if (n == "dialog") {
        Dialog(a[0]);
    } else if (n == "dump") {
        Dump();
    } else if (n == "click") {
        Click(ToInt(a[0]));
    } else if (n == "type") {
        Type(ToInt(a[0]), a[1]);
    } else if (n == "page") {
        Page(ToInt(a[0]));
    } else if (n == "wait-text") {
        WaitText(ToInt(a[0]), a[1], ToInt(a[2]));
    } else if (n == "save-as") {
        FileDialog(a[0], "save-as");
    } else if (n == "open") {
        FileDialog(a[0], "open");
    } else if (n == "file") {
        File(a[0]);
    } else if (n == "wait-main") {
        HWND main = nullptr;
        if (!WaitUntil(
                [&] { return (main = MainWindow(false)) != nullptr && IsWindowVisible(main); },
                options_.waitSeconds))
            throw Unmet("the main window is not shown; visible: " + VisibleWindowsText());
        Settle();
        Say("main window shown");
    } else if (n == "text") {
        Texts(a);
    } else if (n == "checks") {
        Checks();
    } else if (n == "screenshot") {
        Screenshot(a[0], a.size() > 1 ? a[1] : "window");
    } else {
        throw Unmet("statement not handled: " + n);
    }
}

// ---- finding the program's windows ----

std::vector<HWND> Session::OwnWindows(bool visibleOnly) const {
    std::vector<HWND> found;
    for (HWND w : TopWindows())
        if (Owns(w) && (!visibleOnly || IsWindowVisible(w)))
            found.push_back(w);
    return found;
}

bool Session::Owns(HWND window) const {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    for (const auto& p : processes_)
        if (p->Id() == pid)
            return true;
    return false;
}

HWND Session::MainWindow(bool required) const {
    for (HWND w : OwnWindows(false))
        if (ClassName(w) == options_.mainClass)
            return w;
    if (required)
        throw Unmet("no main window; visible: " + VisibleWindowsText());
    return nullptr;
}

HWND Session::MainChild(const char* className) const {
    HWND child = FindWindowExA(MainWindow(), nullptr, className, nullptr);
    if (child == nullptr)
        throw Unmet(std::string("the main window has no ") + className);
    return child;
}

HWND Session::MessageBoxUp() const {
    for (HWND w : OwnWindows(true))
        if (IsMessageBox(w))
            return w;
    return nullptr;
}

HWND Session::FindDialog(const std::string& title) const {
    for (HWND w : OwnWindows(true))
        if (ClassName(w) != options_.mainClass && WindowText(w) == title)
            return w;
    return nullptr;
}

std::string Session::VisibleWindowsText() const {
    std::vector<std::string> parts;
    for (HWND w : OwnWindows(true))
        parts.push_back(ClassName(w) + " " + Quote(WindowText(w)));
    return parts.empty() ? "none" : Join(parts, ", ");
}

// Lets the program handle what was sent or posted to it: a message sent
// after a pause is answered only once the thread is back at its message loop
// (or in a modal loop), so earlier work has been done. Twice, because a
// handler may post a follow-up message.
void Session::Settle() {
    for (int round = 0; round < 2; ++round) {
        Pause(100);
        HWND main = MainWindow(false);
        if (main == nullptr)
            return;
        DWORD_PTR result = 0;
        SendMessageTimeoutA(main, WM_NULL, 0, 0, SMTO_NORMAL, options_.waitSeconds * 1000, &result);
    }
}

// ---- machine and program ----

// Runs a console program with its output collected (not mixed into the
// transcript); false when it cannot start or does not end in time.
static bool RunCaptured(std::string command, int seconds, std::string& output, DWORD& code) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi = {};
    BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  nullptr, &si, &pi);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return false;
    }
    Process child(pi);
    char chunk[512];
    DWORD got = 0;
    while (ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got > 0)
        output.append(chunk, got);
    CloseHandle(readEnd);
    bool ended = WaitForSingleObject(child.Handle(), seconds * 1000) == WAIT_OBJECT_0;
    GetExitCodeProcess(child.Handle(), &code);
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r'))
        output.pop_back();
    return ended;
}

void Session::Machine(const std::string& path) {
    bool ok = false;
    std::string text = ReadFileBytes(path, ok);
    if (!ok)
        throw Unmet("machine file not found: " + path);
    std::string command = "\"" + options_.installer + "\" \"" + path + "\"";
    std::string output;
    DWORD code = 1;
    if (!RunCaptured(command, options_.waitSeconds, output, code) || code != 0)
        throw Unmet("the machine installer failed on " + path + " (exit code " +
                    std::to_string(code) + "): " + Quote(output));
    // A machine without ASPI has no library to load: the program's load of
    // wnaspi32.dll must fail; otherwise the emulated library is the one used.
    std::string overrides = "mscoree,mshtml=;wnaspi32=";
    if (IniValue(text, "aspi") != "absent")
        overrides += "n";
    childEnv_["WINEDLLOVERRIDES"] = overrides;
    // The installer has read the file already, so it parses.
    const qvx::emu::Machine machine = qvx::emu::ParseMachine(text, path);
    useNtProgram_ = !options_.ntProgram.empty() && machine.family == qvx::emu::Family::Nt40 &&
                    machine.aspi == qvx::emu::AspiState::Absent;
    std::string name = path.substr(path.find_last_of("/\\") + 1);
    Say("machine: " + name);
}

// The virtual desktop the machine's installer names, if any.
static std::string DesktopName() {
    char name[256] = "";
    DWORD size = sizeof name;
    if (RegGetValueA(HKEY_CURRENT_USER, "Software\\Wine\\Explorer", "Desktop", RRF_RT_REG_SZ,
                     nullptr, name, &size) != ERROR_SUCCESS)
        return "";
    return name;
}

// Wine shows the windows of the prefix on one virtual desktop of this size.
void Session::Screen(int width, int height) {
    std::string desktop = DesktopName().empty() ? "Quorvex" : DesktopName();
    std::string size = std::to_string(width) + "x" + std::to_string(height);
    if (!SetUserString("Software\\Wine\\Explorer", "Desktop", desktop) ||
        !SetUserString("Software\\Wine\\Explorer\\Desktops", desktop.c_str(), size))
        throw Unmet("cannot set the screen size");
    Say("screen: " + size);
}

// The driver started before the machine named its desktop; it moves to
// that desktop so that it sees the program's windows and screen.
void Session::JoinDesktop() {
    std::string name = DesktopName();
    if (joinedDesktop_ || name.empty())
        return;
    HDESK desktop = CreateDesktopA(name.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    if (desktop == nullptr || !SetThreadDesktop(desktop))
        throw Unmet("cannot join the desktop " + name);
    joinedDesktop_ = true;
}

void Session::Start(const std::string& program) {
    // The environment block: ours, with the scenario's changes.
    std::map<std::string, std::string> env;
    if (char* block = GetEnvironmentStringsA()) {
        for (const char* p = block; *p; p += strlen(p) + 1) {
            std::string entry = p;
            size_t eq = entry.find('=', 1);
            if (eq != std::string::npos)
                env[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
        FreeEnvironmentStringsA(block);
    }
    for (const auto& [k, v] : childEnv_)
        env[k] = v;
    std::string block;
    for (const auto& [k, v] : env)
        block += k + "=" + v + '\0';
    block += '\0';

    JoinDesktop();
    std::string command = "\"" + program + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, block.data(), nullptr,
                        &si, &pi))
        throw Unmet("cannot start " + program);
    processes_.push_back(std::make_unique<Process>(pi));
    const Process& p = *processes_.back();
    auto mine = [&](HWND w) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        return pid == p.Id();
    };
    std::string seen;
    bool appeared = WaitUntil(
        [&] {
            for (HWND w : OwnWindows(true)) {
                if (!mine(w))
                    continue;
                if (ClassName(w) == options_.mainClass) {
                    seen = "main window shown";
                    return true;
                }
                if (IsMessageBox(w)) {
                    seen = "message box up";
                    return true;
                }
            }
            if (!p.Running()) {
                seen = "process ended";
                return true;
            }
            return false;
        },
        options_.waitSeconds);
    if (!appeared)
        throw Unmet("neither a main window nor a message box appeared");
    if (seen == "main window shown")
        Settle();
    Say("start: " + seen);
}

// Reports the exit of a started process not yet reported: one that has
// already ended (the latest such), else the latest one, waited for.
void Session::WaitExit() {
    Process* chosen = nullptr;
    for (const auto& p : processes_)
        if (!p->reported && (chosen == nullptr || !p->Running() || chosen->Running()))
            chosen = p.get();
    if (chosen == nullptr)
        throw Unmet("no started process is left to end");
    if (WaitForSingleObject(chosen->Handle(), options_.waitSeconds * 1000) != WAIT_OBJECT_0)
        throw Unmet("the process is still running; visible: " + VisibleWindowsText());
    DWORD code = 0;
    GetExitCodeProcess(chosen->Handle(), &code);
    chosen->reported = true;
    Say("exit code: " + std::to_string(code));
}

// ---- message boxes ----

void Session::ExpectMessage(const std::string& caption, const std::string& text) {
    HWND box = nullptr;
    WaitUntil([&] { return (box = MessageBoxUp()) != nullptr; }, options_.waitSeconds);
    if (box == nullptr)
        throw Unmet("no message box; visible: " + VisibleWindowsText());
    std::string seenCaption = WindowText(box);
    std::string seenText = WindowText(GetDlgItem(box, kMessageTextId));
    // Buttons left to right.
    std::vector<std::pair<LONG, std::string>> buttons;
    for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        if (ClassName(c) != "Button" || !IsWindowVisible(c))
            continue;
        RECT r;
        GetWindowRect(c, &r);
        buttons.emplace_back(r.left, WithoutAmpersands(WindowText(c)));
    }
    std::sort(buttons.begin(), buttons.end());
    std::vector<std::string> names;
    for (const auto& b : buttons)
        names.push_back(b.second);
    if (seenCaption != caption || seenText.find(text) == std::string::npos)
        throw Unmet("message box " + Quote(seenCaption) + " " + Quote(seenText));
    Say("message: " + Quote(seenCaption));
    Say("message text: " + Quote(seenText));
    Say("message buttons: " + Join(names, " "));
}

void Session::Answer(const std::string& button) {
    static const std::map<std::string, int> ids = {
        {"OK", IDOK},         {"Cancel", IDCANCEL}, {"Abort", IDABORT}, {"Retry", IDRETRY},
        {"Ignore", IDIGNORE}, {"Yes", IDYES},       {"No", IDNO}};
    auto id = ids.find(button);
    if (id == ids.end())
        throw Unmet("unknown button " + button);
    HWND box = MessageBoxUp();
    if (box == nullptr)
        throw Unmet("no message box to answer");
    HWND control = GetDlgItem(box, id->second);
    if (control == nullptr || !IsWindowVisible(control))
        throw Unmet("the message box has no " + button + " button");
    PostMessageA(control, BM_CLICK, 0, 0);
    if (!WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 10))
        throw Unmet("the message box stays up after " + button);
    Say("answer: " + button);
    Settle();
}

// ---- tree, list, status ----

void Session::Tree() {
    for (const TreeEntry& e : ReadTree(MainChild(WC_TREEVIEWA))) {
        std::string line = "tree: " + std::to_string(e.level) + " " + Quote(e.text);
        if (e.expanded)
            line += " expanded";
        if (e.selected)
            line += " selected";
        Say(line);
    }
}

void Session::SelectTreeItem(const std::string& label, long adapter) {
    HWND tree = MainChild(WC_TREEVIEWA);
    std::vector<TreeEntry> entries = ReadTree(tree);
    auto wanted = std::find_if(entries.begin(), entries.end(), [&](const TreeEntry& e) {
        return adapter == kByLabel ? e.text == label : e.level == 1 && e.data == adapter;
    });
    if (wanted == entries.end()) {
        std::vector<std::string> texts;
        for (const auto& e : entries)
            texts.push_back(Quote(e.text));
        throw Unmet("no such tree item; the tree holds " + Join(texts, ", "));
    }
    PostClick(tree, ItemPoint(tree, TreeItemRect(tree, wanted->item)));
    Settle();
    auto selected = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (selected != wanted->item)
        throw Unmet("the click did not select " + Quote(wanted->text));
    Say("selected: " + Quote(wanted->text));
}

void Session::List() {
    ListContents list = ReadList(MainChild(WC_LISTVIEWA));
    Say("list view: " + list.view);
    for (const ListRow& row : list.rows) {
        std::vector<std::string> cells;
        for (const auto& c : row.cells)
            cells.push_back(Quote(c));
        std::string line =
            "list row: " + Join(cells, " | ") + " | picture " + std::to_string(row.image);
        if (row.focused)
            line += " focused";
        if (row.selected)
            line += " selected";
        Say(line);
    }
    if (list.rows.empty())
        Say("list: no rows");
}

// The view and each row's first column on one line, for scenarios that
// are about which rows are listed, in which order, and which one is chosen.
void Session::Rows() {
    ListContents list = ReadList(MainChild(WC_LISTVIEWA));
    std::vector<std::string> rows;
    for (const ListRow& row : list.rows) {
        std::string text = Quote(row.cells.empty() ? std::string() : row.cells[0]);
        if (row.focused)
            text += " focused";
        if (row.selected)
            text += " selected";
        rows.push_back(text);
    }
    Say("list rows (" + list.view + "): " + (rows.empty() ? "none" : Join(rows, " | ")));
}

void Session::Row(const std::string& label, bool open) {
    HWND list = MainChild(WC_LISTVIEWA);
    ListContents contents = ReadList(list);
    int index = -1;
    for (size_t i = 0; i < contents.rows.size(); ++i)
        if (!contents.rows[i].cells.empty() && contents.rows[i].cells[0] == label)
            index = static_cast<int>(i);
    if (index < 0)
        throw Unmet("no list row " + Quote(label));
    const ListRow& row = contents.rows[index];
    POINT p = ItemPoint(list, ListItemRect(list, index));
    // A second click on a selected row would start editing its label, so
    // a row that is already chosen is not clicked again.
    if (!(row.focused && row.selected))
        PostClick(list, p);
    if (open) {
        Settle();
        PostMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, Point(p.x, p.y));
        PostMessageA(list, WM_LBUTTONUP, 0, Point(p.x, p.y));
        Settle();
        Say("open-row: " + Quote(label));
        return;
    }
    Settle();
    ListContents after = ReadList(list);
    if (index >= static_cast<int>(after.rows.size()) || !after.rows[index].focused ||
        !after.rows[index].selected)
        throw Unmet("the click did not select row " + Quote(label));
    Say("row: " + Quote(label));
}

void Session::Status() {
    std::vector<StatusPart> parts = ReadStatusParts(MainChild(STATUSCLASSNAMEA));
    for (size_t i = 0; i < parts.size(); ++i)
        Say("status " + std::to_string(i) + ": " + Quote(parts[i].text));
}

void Session::Columns() {
    std::vector<std::string> columns;
    for (const ListColumn& c : ReadListColumns(MainChild(WC_LISTVIEWA)))
        columns.push_back(Quote(c.heading) + " " + std::to_string(c.width));
    Say("list columns: " + Join(columns, " | "));
}

void Session::Geometry() {
    HWND main = MainWindow();
    RECT window, client;
    GetWindowRect(main, &window);
    GetClientRect(main, &client);
    Say("main window: " + RectText(window) + " client " + std::to_string(client.right) + "x" +
        std::to_string(client.bottom));
    Say("tree pane: " + RectText(ChildRect(MainChild(WC_TREEVIEWA))));
    Say("list pane: " + RectText(ChildRect(MainChild(WC_LISTVIEWA))));
    std::vector<std::string> edges;
    for (const StatusPart& p : ReadStatusParts(MainChild(STATUSCLASSNAMEA)))
        edges.push_back(std::to_string(p.right));
    Say("status part edges: " + Join(edges, " "));
}

void Session::Toolbar() {
    static const std::pair<BYTE, const char*> states[] = {{TBSTATE_INDETERMINATE, "indeterminate"},
                                                          {TBSTATE_CHECKED, "checked"},
                                                          {TBSTATE_PRESSED, "pressed"},
                                                          {TBSTATE_HIDDEN, "hidden"}};
    HWND bar = MainChild(TOOLBARCLASSNAMEA);
    std::vector<ToolButton> buttons = ReadToolbar(bar);
    for (size_t i = 0; i < buttons.size(); ++i) {
        const ToolButton& b = buttons[i];
        std::string line = "toolbar " + std::to_string(i) + ": ";
        if (b.style & TBSTYLE_SEP) {
            Say(line + "separator");
            continue;
        }
        line += "command " + std::to_string(b.command) + " image " + std::to_string(b.image);
        line += (b.state & TBSTATE_ENABLED) ? " enabled" : " disabled";
        for (const auto& [bit, word] : states)
            if (b.state & bit)
                line += std::string(" ") + word;
        std::string tip = ReadToolTip(bar, b.command);
        if (!tip.empty())
            line += " tip " + Quote(tip);
        Say(line);
    }
}

void Session::WindowState() {
    Settle();
    HWND main = MainWindow();
    std::string state = IsWindowVisible(main) ? "visible" : "hidden";
    state += IsIconic(main) ? " minimized" : IsZoomed(main) ? " maximized" : " normal";
    HWND fg = GetForegroundWindow();
    if (fg == main || GetAncestor(fg, GA_ROOTOWNER) == main)
        state += " foreground";
    Say("window: " + state);
}

void Session::Focus() {
    HWND main = MainWindow();
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info) ||
        info.hwndFocus == nullptr) {
        Say("focus: none");
        return;
    }
    std::string c = ClassName(info.hwndFocus);
    Say("focus: " + (c == WC_TREEVIEWA   ? std::string("tree")
                     : c == WC_LISTVIEWA ? std::string("list")
                                         : c));
}

// ---- commands and keys ----

void Session::Menu(int id) {
    HWND main = MainWindow();
    if (popupUp_) {
        // Other processes' menus cannot be read; the context menus hold one
        // item each, which the keyboard chooses.
        popupUp_ = false;
        PostMessageA(main, WM_KEYDOWN, VK_DOWN, 0);
        PostMessageA(main, WM_KEYDOWN, VK_RETURN, 0);
    } else {
        // What choosing the item does: its command reaches the window.
        SendNotifyMessageA(main, WM_COMMAND, MAKEWPARAM(id, 0), 0);
    }
    Settle();
    Say("menu " + std::to_string(id));
}

void Session::Key(const std::string& name) {
    static const std::map<std::string, UINT> keys = {
        {"F6", VK_F6},     {"Tab", VK_TAB}, {"Enter", VK_RETURN}, {"Escape", VK_ESCAPE},
        {"Down", VK_DOWN}, {"Up", VK_UP},   {"Space", VK_SPACE}};
    auto key = keys.find(name);
    if (key == keys.end())
        throw Unmet("unknown key " + name);
    HWND main = MainWindow();
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    HWND target = main;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info) && info.hwndFocus)
        target = info.hwndFocus;
    UINT scan = MapVirtualKeyA(key->second, 0);
    PostMessageA(target, WM_KEYDOWN, key->second, 1 | (scan << 16));
    PostMessageA(target, WM_KEYUP, key->second, 1 | (scan << 16) | 0xC0000000u);
    Settle();
    Say("key " + name);
}

void Session::Sort(int column) {
    HWND list = MainChild(WC_LISTVIEWA);
    HWND header = FindWindowExA(list, nullptr, WC_HEADERA, nullptr);
    if (header == nullptr || !IsWindowVisible(header))
        throw Unmet("the list shows no column headings");
    PostClick(header, Center(HeaderItemRect(header, column)));
    Settle();
    Say("sort " + std::to_string(column));
}

void Session::Context(const std::string& where) {
    const char* cls = where == "tree" ? WC_TREEVIEWA : where == "list" ? WC_LISTVIEWA : nullptr;
    if (cls == nullptr)
        throw Unmet("context over tree or list, not " + where);
    HWND control = MainChild(cls);
    RECT r;
    GetClientRect(control, &r);
    POINT p = {r.left + 10, r.top + 10};
    ClientToScreen(control, &p);
    // What a right click or the menu key makes of it: the control passes
    // WM_CONTEXTMENU on to its parent.
    PostMessageA(control, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(control), Point(p.x, p.y));
    bool up = WaitUntil(
        [&] {
            for (HWND w : OwnWindows(true))
                if (ClassName(w) == "#32768")
                    return true;
            return false;
        },
        10);
    if (!up)
        throw Unmet("no context menu over the " + where);
    popupUp_ = true;
    Say("context menu over the " + where);
}

// ---- dialogs ----

void Session::Dialog(const std::string& title) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindDialog(title)) != nullptr; }, options_.waitSeconds);
    if (found == nullptr)
        throw Unmet("no dialog " + Quote(title) + "; visible: " + VisibleWindowsText());
    dialog_ = found;
    Settle();
    Say("dialog: " + Quote(title));
}

HWND Session::DialogControl(int id) const {
    if (dialog_ == nullptr || !IsWindow(dialog_))
        throw Unmet("no dialog is open");
    for (HWND w : Descendants(dialog_))
        if (GetDlgCtrlID(w) == id)
            return w;
    throw Unmet("the dialog has no control " + std::to_string(id));
}

void Session::Dump() {
    if (dialog_ == nullptr || !IsWindow(dialog_))
        throw Unmet("no dialog is open");
    std::vector<HWND> controls = Descendants(dialog_);
    for (HWND c : controls) {
        std::string cls = ClassName(c);
        std::string line =
            "control " + std::to_string(GetDlgCtrlID(c)) + " " + cls + " " + Quote(WindowText(c));
        line += IsWindowVisible(c) ? " visible" : " hidden";
        line += IsWindowEnabled(c) ? " enabled" : " disabled";
        if (IsCheckButton(c)) {
            LRESULT check = SendMessageA(c, BM_GETCHECK, 0, 0);
            line += check == BST_CHECKED         ? " checked"
                    : check == BST_INDETERMINATE ? " indeterminate"
                                                 : " unchecked";
        }
        Say(line);
    }
}

// Several controls' texts on one line: "text 1 2: "a" | "b"".
void Session::Texts(const std::vector<std::string>& ids) {
    std::string names, values;
    for (const std::string& id : ids) {
        names += (names.empty() ? "" : " ") + id;
        values += (values.empty() ? "" : " | ") + Quote(WindowText(DialogControl(ToInt(id))));
    }
    Say("text " + names + ": " + values);
}

// The visible check boxes and radio buttons of the current dialog (the
// current page of a property sheet) on one line, in window order.
void Session::Checks() {
    if (dialog_ == nullptr || !IsWindow(dialog_))
        throw Unmet("no dialog is open");
    std::string line;
    for (HWND c : Descendants(dialog_)) {
        if (!IsWindowVisible(c) || !IsCheckButton(c))
            continue;
        LRESULT check = SendMessageA(c, BM_GETCHECK, 0, 0);
        line += line.empty() ? " " : " | ";
        line += check == BST_CHECKED ? "[x] " : check == BST_INDETERMINATE ? "[-] " : "[ ] ";
        line += Quote(WindowText(c)) + (IsWindowEnabled(c) ? "" : " greyed");
    }
    Say("checks:" + (line.empty() ? std::string(" none") : line));
}

void Session::Click(int id) {
    PostMessageA(DialogControl(id), BM_CLICK, 0, 0);
    Settle();
    Say("click " + std::to_string(id));
}

void Session::Type(int id, const std::string& text) {
    HWND control = DialogControl(id);
    DWORD_PTR result = 0;
    SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL,
                        10000, &result);
    Settle();
    Say("type " + std::to_string(id) + " " + Quote(text));
}

void Session::Page(int index) {
    if (dialog_ == nullptr || !IsWindow(dialog_))
        throw Unmet("no dialog is open");
    HWND tab = FindWindowExA(dialog_, nullptr, WC_TABCONTROLA, nullptr);
    if (tab == nullptr)
        throw Unmet("the dialog has no pages");
    PostClick(tab, Center(TabItemRect(tab, index)));
    Settle();
    Say("page " + std::to_string(index));
}

void Session::WaitText(int id, const std::string& text, int seconds) {
    HWND control = DialogControl(id);
    std::string seen;
    if (!WaitUntil(
            [&] {
                seen = WindowText(control);
                return seen.find(text) != std::string::npos;
            },
            seconds))
        throw Unmet("control " + std::to_string(id) + " shows " + Quote(seen));
    Say("wait-text " + std::to_string(id) + ": " + Quote(text));
}

// The common file dialogs: the file name goes into the name field, then OK.
void Session::FileDialog(const std::string& path, const char* verb) {
    HWND box = nullptr, name = nullptr;
    WaitUntil(
        [&] {
            for (HWND w : OwnWindows(true)) {
                if (ClassName(w) != "#32770")
                    continue;
                for (int id : {1148, 1152}) { // the name box: combo (explorer style) or edit
                    HWND c = GetDlgItem(w, id);
                    if (c != nullptr && IsWindowVisible(c)) {
                        box = w;
                        name = c;
                        return true;
                    }
                }
            }
            return false;
        },
        options_.waitSeconds);
    if (box == nullptr)
        throw Unmet("no file dialog; visible: " + VisibleWindowsText());
    DWORD_PTR result = 0;
    SendMessageTimeoutA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()), SMTO_NORMAL,
                        10000, &result);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    if (!WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 10))
        throw Unmet("the file dialog stays up");
    Settle();
    Say(std::string(verb) + ": " + Quote(path));
}

void Session::File(const std::string& path) {
    bool ok = false;
    std::string bytes = ReadFileBytes(path, ok);
    if (!ok)
        throw Unmet("no file " + path);
    Say("file: " + Quote(path));
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t lf = bytes.find('\n', pos);
        size_t end = lf == std::string::npos ? bytes.size() : lf + 1;
        std::string line = bytes.substr(pos, end - pos);
        std::string ending;
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
            ending = "<LF>";
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
                ending = "<CR><LF>";
            }
        }
        Say("| " + Quote(line) + ending);
        pos = end;
    }
}

void Session::Screenshot(const std::string& name, const std::string& what) {
    RECT area;
    if (what == "screen") {
        GetWindowRect(GetDesktopWindow(), &area);
    } else if (what == "window") {
        HWND fg = GetForegroundWindow();
        HWND target = (fg != nullptr && Owns(fg) && IsWindowVisible(fg)) ? fg : MainWindow();
        GetWindowRect(target, &area);
        RECT desk;
        GetWindowRect(GetDesktopWindow(), &desk);
        IntersectRect(&area, &area, &desk);
    } else {
        throw Unmet("screenshot of the screen or the window, not " + what);
    }
    // The whole window is repainted first, so that the picture shows what the
    // window holds now even where a control left stale pixels.
    HWND painted = what == "screen" ? GetDesktopWindow() : nullptr;
    if (painted == nullptr) {
        HWND fg = GetForegroundWindow();
        painted = (fg != nullptr && Owns(fg) && IsWindowVisible(fg)) ? fg : MainWindow();
    }
    RedrawWindow(painted, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    Settle();
    Pause(300);
    std::vector<uint8_t> rgb;
    if (!CaptureScreen(area, rgb))
        throw Unmet("the screen cannot be read");
    std::vector<uint8_t> png = EncodePng(area.right - area.left, area.bottom - area.top, rgb);
    std::string path = options_.outDir.empty() ? name : options_.outDir + "\\" + name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    if (!out)
        throw Unmet("cannot write " + path);
    Say("screenshot: " + name);
}

} // namespace e2e
