// Smoke test of the message recorder on a real window running a scan-like
// chain: a start that sends nested results, then a posted completion.
#include <gtest/gtest.h>

#include "support/msgrecorder.h"
#include "support/testwindow.h"

namespace {

using qvx::test::Delivery;

constexpr UINT kResult = 1034, kComplete = 1037, kStart = 1038;

TEST(MessageRecorder, RecordsNestedSendsAndThePostedEnd) {
    int results = 0;
    qvx::test::TestWindow w([&](HWND hwnd, UINT msg, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (msg == kStart || (msg == kResult && ++results < 3))
            SendMessageA(hwnd, kResult, 0, results + 1);
        else if (msg == kResult)
            PostMessageA(hwnd, kComplete, 0, 0);
        else if (msg != kComplete)
            return std::nullopt;
        return 0;
    });
    qvx::test::MessageRecorder rec(w.hwnd());
    SendMessageA(w.hwnd(), kStart, 0, 0);
    qvx::test::PumpPending();
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

} // namespace
