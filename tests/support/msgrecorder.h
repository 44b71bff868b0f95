// MessageRecorder: records the messages a real window receives.
//
// It subclasses the window (GWLP_WNDPROC) for its lifetime, passes every
// message on to the original procedure, and keeps the ones the filter lets
// through, with how each arrived (posted through the queue or sent) and how
// deeply it was nested inside another recorded message's handling:
//
//     qvx::test::MessageRecorder rec(mainWindow, qvx::test::MessageFilter::Only({1034, 1037}));
//     SendMessageA(mainWindow, 1038, 0, 0);     // the code under test runs
//     qvx::test::PumpPending();                 // deliver what it posted
//     EXPECT_TRUE(rec.Matches({{1034, qvx::test::Delivery::Sent},
//                              {1037, qvx::test::Delivery::Posted}}));
//
// Matches() compares in order and, on a mismatch, lists both sequences with
// message names. The original procedure is restored on destruction.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace qvx::test {

enum class Delivery { Any, Sent, Posted };

struct RecordedMessage {
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    Delivery delivery = Delivery::Sent; // Posted when it came through the message queue
    int depth = 0; // recorded messages already being handled when this one arrived
};

struct ExpectedMessage {
    ExpectedMessage(UINT m) : msg(m) {} // NOLINT: a bare id is the common case
    ExpectedMessage(UINT m, Delivery d) : msg(m), delivery(d) {}
    ExpectedMessage(UINT m, std::optional<WPARAM> w, std::optional<LPARAM> l,
                    Delivery d = Delivery::Any)
        : msg(m), wParam(w), lParam(l), delivery(d) {}
    UINT msg;
    std::optional<WPARAM> wParam;
    std::optional<LPARAM> lParam;
    Delivery delivery = Delivery::Any;
};

// Which messages to keep.
class MessageFilter {
  public:
    static MessageFilter All() {
        return MessageFilter([](UINT) { return true; });
    }
    static MessageFilter UserRange() {
        return MessageFilter(
            [](UINT m) { return m >= WM_USER && m < 0xC000; }); // WM_USER and WM_APP
    }
    static MessageFilter Only(std::initializer_list<UINT> ids) {
        std::vector<UINT> v(ids);
        return MessageFilter([v](UINT m) {
            for (UINT id : v)
                if (id == m)
                    return true;
            return false;
        });
    }
    explicit MessageFilter(std::function<bool(UINT)> keep) : keep_(std::move(keep)) {}
    bool operator()(UINT m) const {
        return keep_(m);
    }

  private:
    std::function<bool(UINT)> keep_;
};

class MessageRecorder {
  public:
    explicit MessageRecorder(HWND hwnd, MessageFilter filter = MessageFilter::UserRange());
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    const std::vector<RecordedMessage>& messages() const {
        return messages_;
    }
    std::vector<UINT> ids() const;
    void Clear() {
        messages_.clear();
    }
    size_t Count(UINT msg) const;
    // The recorded sequence equals the expected one, element by element.
    testing::AssertionResult Matches(const std::vector<ExpectedMessage>& expected) const;

    // A readable name: the project's private messages, common WM_ ones, or hex.
    static std::string Name(UINT msg);

  private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK GetMsgProc(int code, WPARAM wp, LPARAM lp);

    HWND hwnd_;
    MessageFilter filter_;
    WNDPROC original_ = nullptr;
    HHOOK hook_ = nullptr;
    int depth_ = 0;
    bool havePosted_ = false; // the message just taken from the queue for hwnd_
    MSG posted_ = {};
    std::vector<RecordedMessage> messages_;
};

// Dispatches every message already waiting in this thread's queue.
void PumpPending();

std::string Describe(const RecordedMessage& m);

} // namespace qvx::test
