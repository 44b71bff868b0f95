// MessageRecorder: see msgrecorder.h.
#include "support/msgrecorder.h"

#include <algorithm>
#include <sstream>

namespace qvx::test {
namespace {

constexpr const char* kProp = "QvxMessageRecorder";

// Recorders of this thread, for the queue hook.
thread_local std::vector<MessageRecorder*> recorders;

const char* DeliveryName(Delivery d) {
    switch (d) {
    case Delivery::Sent:
        return "sent";
    case Delivery::Posted:
        return "posted";
    case Delivery::Any:
        break;
    }
    return "any";
}

std::string DescribeExpected(const ExpectedMessage& e) {
    std::ostringstream os;
    os << MessageRecorder::Name(e.msg);
    if (e.wParam)
        os << " w=" << *e.wParam;
    if (e.lParam)
        os << " l=" << *e.lParam;
    if (e.delivery != Delivery::Any)
        os << " " << DeliveryName(e.delivery);
    return os.str();
}

} // namespace

std::string Describe(const RecordedMessage& m) {
    std::ostringstream os;
    os << MessageRecorder::Name(m.msg) << " w=" << m.wParam << " l=" << m.lParam << " "
       << DeliveryName(m.delivery) << " depth " << m.depth;
    return os.str();
}

MessageRecorder::MessageRecorder(HWND hwnd, MessageFilter filter)
    : hwnd_(hwnd), filter_(std::move(filter)) {
    if (!IsWindow(hwnd)) {
        ADD_FAILURE() << "MessageRecorder: not a window";
        return;
    }
    SetPropA(hwnd, kProp, this);
    original_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Proc)));
    hook_ = SetWindowsHookExA(WH_GETMESSAGE, GetMsgProc, nullptr, GetCurrentThreadId());
    recorders.push_back(this);
}

MessageRecorder::~MessageRecorder() {
    if (original_ == nullptr)
        return;
    if (IsWindow(hwnd_)) {
        if (GetWindowLongPtrA(hwnd_, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(Proc))
            SetWindowLongPtrA(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
        else
            ADD_FAILURE() << "MessageRecorder: window re-subclassed, procedure not restored";
        RemovePropA(hwnd_, kProp);
    }
    UnhookWindowsHookEx(hook_);
    for (auto it = recorders.begin(); it != recorders.end(); ++it) {
        if (*it == this) {
            recorders.erase(it);
            break;
        }
    }
}

LRESULT CALLBACK MessageRecorder::GetMsgProc(int code, WPARAM wp, LPARAM lp) {
    if (code == HC_ACTION && wp == PM_REMOVE) {
        const MSG* m = reinterpret_cast<const MSG*>(lp);
        for (MessageRecorder* r : recorders) {
            if (r->hwnd_ == m->hwnd) {
                r->havePosted_ = true;
                r->posted_ = *m;
            }
        }
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

LRESULT CALLBACK MessageRecorder::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = static_cast<MessageRecorder*>(GetPropA(hwnd, kProp));
    if (self == nullptr)
        return DefWindowProcA(hwnd, msg, wp, lp);
    // A message is "posted" when it is the one just taken from the queue for
    // this window; anything else reaching the procedure was sent.
    bool posted = self->havePosted_ && self->posted_.message == msg && self->posted_.wParam == wp &&
                  self->posted_.lParam == lp;
    self->havePosted_ = false;
    WNDPROC original = self->original_;
    if (!self->filter_(msg))
        return CallWindowProcA(original, hwnd, msg, wp, lp);
    self->messages_.push_back(
        {msg, wp, lp, posted ? Delivery::Posted : Delivery::Sent, self->depth_});
    ++self->depth_;
    LRESULT result = CallWindowProcA(original, hwnd, msg, wp, lp);
    --self->depth_;
    return result;
}

std::vector<UINT> MessageRecorder::ids() const {
    std::vector<UINT> v;
    for (const auto& m : messages_)
        v.push_back(m.msg);
    return v;
}

size_t MessageRecorder::Count(UINT msg) const {
    size_t n = 0;
    for (const auto& m : messages_)
        n += m.msg == msg;
    return n;
}

testing::AssertionResult
MessageRecorder::Matches(const std::vector<ExpectedMessage>& expected) const {
    size_t common = std::min(expected.size(), messages_.size());
    size_t bad = common;
    for (size_t i = 0; i < common && bad == common; ++i) {
        const ExpectedMessage& e = expected[i];
        const RecordedMessage& m = messages_[i];
        bool ok = e.msg == m.msg && (!e.wParam || *e.wParam == m.wParam) &&
                  (!e.lParam || *e.lParam == m.lParam) &&
                  (e.delivery == Delivery::Any || e.delivery == m.delivery);
        if (!ok)
            bad = i;
    }
    if (bad == common && expected.size() == messages_.size())
        return testing::AssertionSuccess();
    std::ostringstream os;
    os << "message sequence differs at position " << bad << "\n  expected (" << expected.size()
       << "):\n";
    for (size_t i = 0; i < expected.size(); ++i)
        os << (i == bad ? "  > " : "    ") << i << ": " << DescribeExpected(expected[i]) << "\n";
    os << "  recorded (" << messages_.size() << "):\n";
    for (size_t i = 0; i < messages_.size(); ++i)
        os << (i == bad ? "  > " : "    ") << i << ": " << Describe(messages_[i]) << "\n";
    return testing::AssertionFailure() << os.str();
}

std::string MessageRecorder::Name(UINT msg) {
    static const struct {
        UINT id;
        const char* name;
    } names[] = {{1034, "WM_SCAN_RESULT"},
                 {1035, "WM_RUN_DIAGNOSTICS"},
                 {1036, "WM_RUN_PERFORMANCE"},
                 {1037, "WM_SCAN_COMPLETE"},
                 {1038, "WM_SCAN_START"},
                 {WM_CREATE, "WM_CREATE"},
                 {WM_DESTROY, "WM_DESTROY"},
                 {WM_SIZE, "WM_SIZE"},
                 {WM_CLOSE, "WM_CLOSE"},
                 {WM_QUIT, "WM_QUIT"},
                 {WM_NOTIFY, "WM_NOTIFY"},
                 {WM_COMMAND, "WM_COMMAND"},
                 {WM_TIMER, "WM_TIMER"},
                 {WM_PAINT, "WM_PAINT"},
                 {WM_INITDIALOG, "WM_INITDIALOG"},
                 {WM_CONTEXTMENU, "WM_CONTEXTMENU"},
                 {WM_SETCURSOR, "WM_SETCURSOR"},
                 {WM_DISPLAYCHANGE, "WM_DISPLAYCHANGE"},
                 {WM_USER, "WM_USER"}};
    for (const auto& n : names)
        if (n.id == msg)
            return n.name;
    std::ostringstream os;
    if (msg > WM_USER && msg < WM_APP)
        os << "WM_USER+" << (msg - WM_USER) << " (" << msg << ")";
    else
        os << "0x" << std::hex << msg;
    return os.str();
}

void PumpPending() {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(m.wParam));
            break;
        }
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
}

} // namespace qvx::test
