// The message recorder on a real window, with posted, sent and nested messages.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/msgrecorder.h"
#include "support/testwindow.h"

namespace {

using qvx::test::Delivery;
using qvx::test::MessageFilter;
using qvx::test::MessageRecorder;
using qvx::test::PumpPending;
using qvx::test::TestWindow;

constexpr UINT kResult = 1034, kComplete = 1037, kStart = 1038;

// A window that runs a scan-like chain: start sends the first result, each
// result sends the next until three were handled, then complete is posted.
struct ChainWindow {
    int results = 0;
    int completes = 0;
    TestWindow window{[this](HWND hwnd, UINT msg, WPARAM, LPARAM) -> std::optional<LRESULT> {
        switch (msg) {
        case kStart:
            SendMessageA(hwnd, kResult, 0, 1);
            return 0;
        case kResult:
            if (++results < 3)
                SendMessageA(hwnd, kResult, 0, results + 1);
            else
                PostMessageA(hwnd, kComplete, 0, 0);
            return 0;
        case kComplete:
            ++completes;
            return 0;
        }
        return std::nullopt;
    }};
};

TEST(MessageRecorder, RecordsNestedSendsAndThePostedEnd) {
    ChainWindow w;
    MessageRecorder rec(w.window.hwnd());
    SendMessageA(w.window.hwnd(), kStart, 0, 0);
    EXPECT_EQ(w.completes, 0);
    PumpPending();
    EXPECT_EQ(w.results, 3); // the original procedure still ran every message
    EXPECT_EQ(w.completes, 1);
    EXPECT_TRUE(rec.Matches({{kStart, Delivery::Sent},
                             {kResult, 0, 1, Delivery::Sent},
                             {kResult, 0, 2, Delivery::Sent},
                             {kResult, 0, 3, Delivery::Sent},
                             {kComplete, Delivery::Posted}}));
    std::vector<int> depths;
    for (const auto& m : rec.messages())
        depths.push_back(m.depth);
    EXPECT_EQ(depths, (std::vector<int>{0, 1, 2, 3, 0}));
}

TEST(MessageRecorder, FilterKeepsOnlyChosenMessages) {
    ChainWindow w;
    MessageRecorder rec(w.window.hwnd(), MessageFilter::Only({kComplete}));
    SendMessageA(w.window.hwnd(), kStart, 0, 0);
    SendMessageA(w.window.hwnd(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("title"));
    PumpPending();
    EXPECT_EQ(rec.ids(), std::vector<UINT>{kComplete});
}

TEST(MessageRecorder, DefaultFilterIsThePrivateRange) {
    ChainWindow w;
    MessageRecorder rec(w.window.hwnd());
    ShowWindow(w.window.hwnd(), SW_SHOWNA);
    PostMessageA(w.window.hwnd(), WM_APP + 5, 1, 2);
    SendMessageA(w.window.hwnd(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("title"));
    PumpPending();
    EXPECT_TRUE(rec.Matches({{WM_APP + 5, 1, 2, Delivery::Posted}}));
}

TEST(MessageRecorder, RestoresTheProcedure) {
    ChainWindow w;
    HWND hwnd = w.window.hwnd();
    LONG_PTR before = GetWindowLongPtrA(hwnd, GWLP_WNDPROC);
    {
        MessageRecorder rec(hwnd);
        EXPECT_NE(GetWindowLongPtrA(hwnd, GWLP_WNDPROC), before);
    }
    EXPECT_EQ(GetWindowLongPtrA(hwnd, GWLP_WNDPROC), before);
    SendMessageA(hwnd, kStart, 0, 0);
    EXPECT_EQ(w.results, 3);
}

TEST(MessageRecorder, MismatchNamesBothSequences) {
    ChainWindow w;
    MessageRecorder rec(w.window.hwnd());
    SendMessageA(w.window.hwnd(), kStart, 0, 0);
    PumpPending();
    testing::AssertionResult r = rec.Matches({kStart, kResult, kComplete});
    EXPECT_FALSE(r);
    EXPECT_THAT(r.message(), testing::HasSubstr("differs at position 2"));
    EXPECT_THAT(r.message(), testing::HasSubstr("> 2: WM_SCAN_COMPLETE"));
    EXPECT_THAT(r.message(), testing::HasSubstr("> 2: WM_SCAN_RESULT w=0 l=2 sent depth 2"));
    EXPECT_FALSE(rec.Matches({{kStart, Delivery::Posted}, kResult, kResult, kResult, kComplete}));
    EXPECT_FALSE(rec.Matches({kStart, kResult, kResult, kResult}));
    EXPECT_EQ(rec.Count(kResult), 3u);
}

} // namespace
