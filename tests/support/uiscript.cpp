// UiScript: see uiscript.h.
#include "support/uiscript.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace qvx::test {
namespace {

constexpr UINT kHandleWindow = WM_APP + 0x51;
constexpr UINT_PTR kWatchdogTimer = 1;
constexpr UINT kWatchdogTickMs = 200;
constexpr const char* kHelperClass = "QvxUiScriptHelper";

thread_local UiScript* current = nullptr;

std::string WindowText(HWND hwnd) {
    char buf[4096] = "";
    GetWindowTextA(hwnd, buf, sizeof buf);
    return buf;
}

std::string ClassOf(HWND hwnd) {
    char buf[256] = "";
    GetClassNameA(hwnd, buf, sizeof buf);
    return buf;
}

bool IsCheckable(LONG style) {
    switch (style & BS_TYPEMASK) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
        return true;
    }
    return false;
}

bool IsPushButton(LONG style) {
    LONG type = style & BS_TYPEMASK;
    return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

// The message-box style bit that shows this system icon, or 0.
UINT IconStyleOf(HICON icon) {
    if (icon == nullptr)
        return 0;
    const struct {
        LPCSTR id;
        UINT style;
    } icons[] = {{IDI_HAND, MB_ICONHAND},
                 {IDI_QUESTION, MB_ICONQUESTION},
                 {IDI_EXCLAMATION, MB_ICONEXCLAMATION},
                 {IDI_ASTERISK, MB_ICONASTERISK}};
    for (const auto& i : icons)
        if (LoadIconA(nullptr, i.id) == icon)
            return i.style;
    return 0;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM lp) {
    auto* rec = reinterpret_cast<WindowRecord*>(lp);
    ControlInfo c;
    c.id = GetDlgCtrlID(child);
    c.className = ClassOf(child);
    c.text = WindowText(child);
    c.enabled = IsWindowEnabled(child) != FALSE;
    // The control's own flag: a dialog is recorded once it has initialised,
    // possibly before its modal loop first shows it.
    LONG style = GetWindowLongA(child, GWL_STYLE);
    c.visible = (style & WS_VISIBLE) != 0;
    bool button = _stricmp(c.className.c_str(), "Button") == 0;
    if (button && IsCheckable(style))
        c.check = static_cast<int>(SendMessageA(child, BM_GETCHECK, 0, 0));
    if (button && IsPushButton(style) && c.visible)
        rec->buttons.push_back(c.id);
    if (_stricmp(c.className.c_str(), "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON &&
        c.visible && rec->icon == 0)
        rec->icon = IconStyleOf(reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0)));
    rec->controls.push_back(std::move(c));
    return TRUE;
}

std::string Quoted(const std::string& s) {
    return "\"" + s + "\"";
}

} // namespace

const ControlInfo* WindowRecord::control(int id) const {
    for (const auto& c : controls)
        if (c.id == id)
            return &c;
    return nullptr;
}

bool WindowRecord::hasButton(int id) const {
    return std::find(buttons.begin(), buttons.end(), id) != buttons.end();
}

std::string WindowRecord::describe() const {
    std::ostringstream os;
    os << "window class " << Quoted(className) << " caption " << Quoted(caption);
    if (!text.empty())
        os << " text " << Quoted(text);
    os << " icon 0x" << std::hex << icon << std::dec << "\n";
    for (const auto& c : controls) {
        os << "  control " << c.id << " " << c.className << " " << Quoted(c.text)
           << (c.enabled ? "" : " disabled") << (c.visible ? "" : " hidden");
        if (c.check >= 0)
            os << " check " << c.check;
        os << "\n";
    }
    return os.str();
}

bool WindowMatcher::matches(const WindowRecord& w) const {
    if (!className.empty() && _stricmp(className.c_str(), w.className.c_str()) != 0)
        return false;
    if (!caption.empty() && caption != w.caption)
        return false;
    if (controlId != 0 && w.control(controlId) == nullptr)
        return false;
    if (!text.empty()) {
        bool found = w.text.find(text) != std::string::npos;
        for (const auto& c : w.controls)
            found = found || c.text.find(text) != std::string::npos;
        if (!found)
            return false;
    }
    return true;
}

std::string WindowMatcher::describe() const {
    std::ostringstream os;
    os << "window class " << Quoted(className);
    if (!caption.empty())
        os << " caption " << Quoted(caption);
    if (!text.empty())
        os << " containing " << Quoted(text);
    if (controlId != 0)
        os << " with control " << controlId;
    return os.str();
}

Expectation& Expectation::setText(int id, std::string text) {
    actions_.push_back({Action::SetText, id, std::move(text), 0, nullptr});
    return *this;
}

Expectation& Expectation::check(int id, int state) {
    actions_.push_back({Action::Check, id, {}, state, nullptr});
    return *this;
}

Expectation& Expectation::click(int id) {
    actions_.push_back({Action::Click, id, {}, 0, nullptr});
    return *this;
}

Expectation& Expectation::then(WindowCallback cb) {
    actions_.push_back({Action::Callback, 0, {}, 0, std::move(cb)});
    return *this;
}

Expectation& Expectation::press(int id) {
    actions_.push_back({Action::Press, id, {}, 0, nullptr});
    return *this;
}

UiScript::UiScript(unsigned timeoutSeconds) : timeoutMs_(timeoutSeconds * 1000) {
    if (current != nullptr) {
        ADD_FAILURE() << "UiScript: a script is already active on this thread";
        return;
    }
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = HelperProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kHelperClass;
        registered = RegisterClassA(&wc) != 0;
    }
    helper_ = CreateWindowExA(0, kHelperClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    if (helper_ == nullptr) {
        ADD_FAILURE() << "UiScript: helper window not created, error " << GetLastError();
        return;
    }
    SetWindowLongPtrA(helper_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetTimer(helper_, kWatchdogTimer, kWatchdogTickMs, nullptr);
    hook_ = SetWindowsHookExA(WH_CBT, CbtProc, nullptr, GetCurrentThreadId());
    if (hook_ == nullptr)
        ADD_FAILURE() << "UiScript: CBT hook not set, error " << GetLastError();
    current = this;
}

UiScript::~UiScript() {
    if (current != this)
        return;
    verify();
    UnhookWindowsHookEx(hook_);
    KillTimer(helper_, kWatchdogTimer);
    DestroyWindow(helper_);
    // A handle request still queued for the helper dies with it.
    current = nullptr;
}

Expectation& UiScript::expect(WindowMatcher m) {
    expectations_.push_back(std::make_unique<Expectation>(std::move(m)));
    return *expectations_.back();
}

void UiScript::verify() {
    for (; next_ < expectations_.size(); ++next_)
        ADD_FAILURE() << "UiScript: expected window never came: "
                      << expectations_[next_]->matcher().describe();
    verified_ = true;
}

bool UiScript::Watches(HWND hwnd) const {
    std::string cls = ClassOf(hwnd);
    if (cls == "#32770")
        return true;
    for (const auto& e : expectations_)
        if (_stricmp(e->matcher().className.c_str(), cls.c_str()) == 0)
            return true;
    return false;
}

WindowRecord UiScript::Record(HWND hwnd) {
    WindowRecord rec;
    rec.hwnd = hwnd;
    rec.className = ClassOf(hwnd);
    rec.caption = WindowText(hwnd);
    if (HWND text = GetDlgItem(hwnd, 0xFFFF))
        rec.text = WindowText(text);
    EnumChildWindows(hwnd, CollectChild, reinterpret_cast<LPARAM>(&rec));
    return rec;
}

LRESULT CALLBACK UiScript::CbtProc(int code, WPARAM wp, LPARAM lp) {
    UiScript* self = current;
    if (self != nullptr && code == HCBT_ACTIVATE) {
        HWND hwnd = reinterpret_cast<HWND>(wp);
        if (self->handled_.count(hwnd) == 0 && self->Watches(hwnd)) {
            self->handled_.insert(hwnd);
            self->open_.push_back({hwnd, GetTickCount()});
            PostMessageA(self->helper_, kHandleWindow, wp, 0);
        }
    } else if (self != nullptr && code == HCBT_DESTROYWND) {
        HWND hwnd = reinterpret_cast<HWND>(wp);
        self->handled_.erase(hwnd);
        self->open_.erase(std::remove_if(self->open_.begin(), self->open_.end(),
                                         [hwnd](const Open& o) { return o.hwnd == hwnd; }),
                          self->open_.end());
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

LRESULT CALLBACK UiScript::HelperProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<UiScript*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self != nullptr && msg == kHandleWindow) {
        self->Handle(reinterpret_cast<HWND>(wp));
        return 0;
    }
    if (self != nullptr && msg == WM_TIMER && wp == kWatchdogTimer) {
        self->Watchdog();
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

void UiScript::Handle(HWND hwnd) {
    if (!IsWindow(hwnd))
        return;
    WindowRecord rec = Record(hwnd);
    if (next_ < expectations_.size() && expectations_[next_]->matcher().matches(rec)) {
        rec.expected = true;
        seen_.push_back(rec);
        Perform(hwnd, *expectations_[next_++]);
        return;
    }
    seen_.push_back(rec);
    ADD_FAILURE() << "UiScript: unexpected " << rec.describe() << "(expected next: "
                  << (next_ < expectations_.size() ? expectations_[next_]->matcher().describe()
                                                   : std::string("no more windows"))
                  << ")";
    CloseUnexpected(hwnd, rec);
}

void UiScript::Perform(HWND hwnd, const Expectation& e) {
    // A copy: nested windows handled inside an action extend seen_.
    const WindowRecord rec = seen_.back();
    for (const auto& a : e.actions_) {
        if (!IsWindow(hwnd))
            return;
        HWND control = a.id != 0 ? GetDlgItem(hwnd, a.id) : nullptr;
        bool needsControl = a.kind == Expectation::Action::SetText ||
                            a.kind == Expectation::Action::Check ||
                            a.kind == Expectation::Action::Click;
        if (needsControl && control == nullptr) {
            ADD_FAILURE() << "UiScript: no control " << a.id << " in " << rec.describe();
            continue;
        }
        switch (a.kind) {
        case Expectation::Action::SetText:
            SetWindowTextA(control, a.text.c_str());
            break;
        case Expectation::Action::Check:
            // Click as a user would (a three-state box may need two clicks),
            // and force the state if the dialog does not toggle it itself.
            for (int i = 0; i < 3 && SendMessageA(control, BM_GETCHECK, 0, 0) != a.state; ++i)
                SendMessageA(control, BM_CLICK, 0, 0);
            if (IsWindow(control) && SendMessageA(control, BM_GETCHECK, 0, 0) != a.state)
                SendMessageA(control, BM_SETCHECK, a.state, 0);
            break;
        case Expectation::Action::Click:
            SendMessageA(control, BM_CLICK, 0, 0);
            break;
        case Expectation::Action::Callback:
            a.cb(hwnd, rec);
            break;
        case Expectation::Action::Press:
            PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(a.id, BN_CLICKED),
                         reinterpret_cast<LPARAM>(control));
            break;
        }
    }
}

void UiScript::CloseUnexpected(HWND hwnd, const WindowRecord& rec) {
    for (int id : {IDCANCEL, IDNO, IDOK}) {
        if (rec.hasButton(id)) {
            PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(hwnd, id)));
            return;
        }
    }
    if (rec.className == "#32770")
        EndDialog(hwnd, IDCANCEL);
    else
        PostMessageA(hwnd, WM_CLOSE, 0, 0);
}

void UiScript::Watchdog() {
    // Collect first: ending a window changes open_ through the hook.
    DWORD now = GetTickCount();
    std::vector<HWND> expired;
    for (const auto& o : open_)
        if (now - o.since >= timeoutMs_)
            expired.push_back(o.hwnd);
    for (HWND hwnd : expired) {
        open_.erase(std::remove_if(open_.begin(), open_.end(),
                                   [hwnd](const Open& o) { return o.hwnd == hwnd; }),
                    open_.end());
        if (!IsWindow(hwnd))
            continue;
        WindowRecord rec = Record(hwnd);
        ADD_FAILURE() << "UiScript: window still open after " << timeoutMs_ / 1000
                      << " s, ended: " << rec.describe();
        if (rec.className == "#32770")
            EndDialog(hwnd, IDCANCEL);
        else
            DestroyWindow(hwnd);
    }
}

} // namespace qvx::test
