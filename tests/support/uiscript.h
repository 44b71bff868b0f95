// UiScript: answers the modal windows that code under test opens, in-process.
//
// A test lists the windows it expects, in order, each with a matcher and what
// to do with it, then calls the code that opens them (MessageBoxA,
// DialogBoxParamA, ...) and blocks in their modal loops:
//
//     qvx::test::UiScript ui;
//     ui.expect(qvx::test::MsgBox().text("Re-scan the SCSI bus ?")).press(IDCANCEL);
//     ui.expect(qvx::test::Dialog().caption("Device Features"))
//         .setText(1001, "abc").check(1002).press(IDOK);
//     ui.expect(qvx::test::Dialog()).then([](HWND dlg, const auto& shown) { ... });
//     RunCodeUnderTest();
//     ui.verify();                                  // or let the destructor do it
//     EXPECT_EQ(ui.seen()[0].icon, MB_ICONQUESTION); // what each window showed
//
// A thread CBT hook sees every top-level window as it activates; the helper
// then posts itself a message, so the window is handled from inside its own
// modal loop once it has initialised. Before acting it records the window
// (caption, text, icon, buttons and every control). A window nobody expected
// fails the test and is closed (Cancel, No or OK, whichever it offers); an
// expectation left over at verify() fails the test; a watchdog fails the test
// and ends any window that stays open longer than the time-out (5 s unless
// set), so a broken test never hangs the suite. Only windows of class
// "#32770" (dialogs and message boxes) are watched, plus any class that an
// expectation names. One script per thread at a time.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace qvx::test {

// One child control as it was when the window was recorded.
struct ControlInfo {
    int id = 0;
    std::string className;
    std::string text;
    bool enabled = false;
    bool visible = false;
    int check = -1; // BST_UNCHECKED/CHECKED/INDETERMINATE for check boxes and radios, else -1
};

// What a window showed when the helper saw it.
struct WindowRecord {
    HWND hwnd = nullptr;
    std::string className;
    std::string caption;
    std::string text; // control 0xFFFF: the message box text (a dialog: its first id -1 static)
    UINT icon = 0;    // MB_ICONHAND/QUESTION/EXCLAMATION/ASTERISK or 0
    std::vector<int> buttons; // ids of the visible push buttons, in z-order
    std::vector<ControlInfo> controls;
    bool expected = false; // false when it matched no expectation

    const ControlInfo* control(int id) const;
    bool hasButton(int id) const;
    std::string describe() const; // one readable block for failure messages
};

// What a window must look like; every field left empty matches anything.
struct WindowMatcher {
    std::string className = "#32770";
    std::string caption; // exact
    std::string text;    // contained in the message box text or in any control's text
    int controlId = 0;   // when non-zero, a control with this id must exist

    WindowMatcher& ofClass(std::string c) {
        className = std::move(c);
        return *this;
    }
    WindowMatcher& withCaption(std::string c) {
        caption = std::move(c);
        return *this;
    }
    WindowMatcher& containing(std::string t) {
        text = std::move(t);
        return *this;
    }
    WindowMatcher& withControl(int id) {
        controlId = id;
        return *this;
    }
    bool matches(const WindowRecord& w) const;
    std::string describe() const;
};

// Builders (MessageBox is a windows.h macro, hence MsgBox): a message box is a "#32770" whose text
// sits in control 0xFFFF.
struct MsgBox : WindowMatcher {
    MsgBox() {
        controlId = 0xFFFF;
    }
    MsgBox& caption(std::string c) {
        withCaption(std::move(c));
        return *this;
    }
    MsgBox& text(std::string t) {
        containing(std::move(t));
        return *this;
    }
};
struct Dialog : WindowMatcher {
    Dialog& caption(std::string c) {
        withCaption(std::move(c));
        return *this;
    }
    Dialog& text(std::string t) {
        containing(std::move(t));
        return *this;
    }
    Dialog& control(int id) {
        withControl(id);
        return *this;
    }
};

using WindowCallback = std::function<void(HWND, const WindowRecord&)>;

// One expected window and the actions to take on it, in order.
class Expectation {
  public:
    explicit Expectation(WindowMatcher m) : matcher_(std::move(m)) {}
    Expectation& setText(int id, std::string text);      // WM_SETTEXT on a control
    Expectation& check(int id, int state = BST_CHECKED); // click until it shows state
    Expectation& click(int id);                          // BM_CLICK on a control
    Expectation& then(WindowCallback cb);                // run code with the open window
    Expectation& press(int id); // post WM_COMMAND id (ends the script step)
    // Leave the window open after the actions (the default when no press()).
    const WindowMatcher& matcher() const {
        return matcher_;
    }

  private:
    friend class UiScript;
    struct Action {
        enum Kind { SetText, Check, Click, Callback, Press } kind;
        int id;
        std::string text;
        int state;
        WindowCallback cb;
    };
    WindowMatcher matcher_;
    std::vector<Action> actions_;
};

class UiScript {
  public:
    explicit UiScript(unsigned timeoutSeconds = 5);
    ~UiScript();
    UiScript(const UiScript&) = delete;
    UiScript& operator=(const UiScript&) = delete;

    Expectation& expect(WindowMatcher m);
    // Fails the test for every expectation that no window met. Idempotent.
    void verify();
    // Every watched window that appeared, expected or not, in order.
    const std::vector<WindowRecord>& seen() const {
        return seen_;
    }
    size_t pending() const {
        return expectations_.size() - next_;
    }

    // Records a window's current state (usable from callbacks as well).
    static WindowRecord Record(HWND hwnd);

  private:
    static LRESULT CALLBACK CbtProc(int code, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK HelperProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    bool Watches(HWND hwnd) const;
    void Handle(HWND hwnd);
    void Perform(HWND hwnd, const Expectation& e);
    void CloseUnexpected(HWND hwnd, const WindowRecord& rec);
    void Watchdog();

    struct Open {
        HWND hwnd;
        DWORD since;
    };
    unsigned timeoutMs_;
    HHOOK hook_ = nullptr;
    HWND helper_ = nullptr;
    std::vector<std::unique_ptr<Expectation>> expectations_;
    size_t next_ = 0;
    std::vector<WindowRecord> seen_;
    std::set<HWND> handled_;
    std::vector<Open> open_;
    bool verified_ = false;
};

} // namespace qvx::test
