// TestWindow: a real top-level window for hosting controls in a test, with an
// optional handler that sees every message first (return a value to answer
// it, std::nullopt to fall through to DefWindowProcA). Destroyed with the
// object.
//
//     qvx::test::TestWindow w([&](HWND, UINT msg, WPARAM, LPARAM lp) -> std::optional<LRESULT> {
//         if (msg == WM_NOTIFY) { ...; return 0; }
//         return std::nullopt;
//     });
//     HWND list = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD, 0, 0, 100, 100, w.hwnd(), ...);
#pragma once

#include <windows.h>

#include <functional>
#include <optional>

namespace qvx::test {

class TestWindow {
  public:
    using Handler = std::function<std::optional<LRESULT>(HWND, UINT, WPARAM, LPARAM)>;

    explicit TestWindow(Handler handler = {}, int width = 640, int height = 480)
        : handler_(std::move(handler)) {
        static const char* cls = [] {
            WNDCLASSA wc = {};
            wc.lpfnWndProc = Proc;
            wc.hInstance = GetModuleHandleA(nullptr);
            wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
            wc.lpszClassName = "QvxTestWindow";
            RegisterClassA(&wc);
            return "QvxTestWindow";
        }();
        hwnd_ = CreateWindowExA(0, cls, "Test window", WS_OVERLAPPEDWINDOW, 0, 0, width, height,
                                nullptr, nullptr, GetModuleHandleA(nullptr), this);
    }
    ~TestWindow() {
        if (IsWindow(hwnd_))
            DestroyWindow(hwnd_);
    }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    HWND hwnd() const {
        return hwnd_;
    }

  private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == WM_NCCREATE) {
            auto* cs = reinterpret_cast<CREATESTRUCTA*>(lp);
            SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        }
        auto* self = reinterpret_cast<TestWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (self != nullptr && self->handler_) {
            if (std::optional<LRESULT> r = self->handler_(hwnd, msg, wp, lp))
                return *r;
        }
        return DefWindowProcA(hwnd, msg, wp, lp);
    }

    Handler handler_;
    HWND hwnd_ = nullptr;
};

} // namespace qvx::test
