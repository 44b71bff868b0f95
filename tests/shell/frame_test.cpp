// Frame arithmetic and the splash screen, through real windows and the real
// screen device context. The laid-out panes and the status bar of the real
// main window are checked with the main window.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "shell/frame.h"
#include "shell/splash.h"
#include "support/testwindow.h"

namespace {

TEST(PaneLayout, AWindowShorterThanTheBarsGivesEmptyPanes) {
    PaneLayout p = ComputePaneLayout(3, 10);
    EXPECT_EQ(p.TreeHeight + p.ListHeight + p.TreeWidth, 0);
    EXPECT_EQ(p.ListWidth, 3);
}

TEST(CenterWindow, CentresOverTheReferenceOrIsPushedBackIntoTheWorkArea) {
    const struct {
        RECT reference;
        LONG x, y;
    } cases[] = {
        {{100, 100, 601, 401}, 100 + 201 / 2, 100 + 101 / 2},
        {{500, 300, 799, 499}, 500 - 1, 300 - 1}, // narrower by 1: halved by a shift, down
        {{-400, -300, -100, -100}, 0, 0},
        {{900, 700, 1200, 900}, 1024 - 300, 738 - 200},
    };
    RECT dialog = {0, 0, 300, 200}, work = {0, 0, 1024, 738};
    for (const auto& c : cases) {
        POINT at = ComputeCenteredPosition(&dialog, &c.reference, &work);
        EXPECT_EQ((std::vector<LONG>{at.x, at.y}), (std::vector<LONG>{c.x, c.y}))
            << c.reference.left;
    }

    qvx::test::TestWindow owner, box({}, 300, 200); // a real window stays in the work area
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    MoveWindow(owner.hwnd(), work.right - 100, work.bottom - 50, 400, 300, FALSE);
    CenterWindow(box.hwnd(), owner.hwnd());
    RECT placed;
    GetWindowRect(box.hwnd(), &placed);
    EXPECT_EQ((std::vector<LONG>{placed.right, placed.bottom, placed.right - placed.left}),
              (std::vector<LONG>{work.right, work.bottom, 300}));
}

TEST(Splash, SitsInTheMiddleOfTheScreen) {
    const struct {
        int screenWidth, screenHeight, width, height;
        LONG x, y;
    } cases[] = {
        {640, 480, 422, 188, 109, 146},
        {800, 600, 422, 188, 189, 206},
        {640, 480, 33, 31, 304, 225}, // each half rounded down on its own
    };
    for (const auto& c : cases) {
        POINT at = SplashOrigin(c.screenWidth, c.screenHeight, c.width, c.height);
        EXPECT_EQ((std::vector<LONG>{at.x, at.y}), (std::vector<LONG>{c.x, c.y})) << c.width;
    }
}

// Samples the screen's pixels in a rectangle.
std::vector<COLORREF> ScreenPixels(const RECT& r) {
    std::vector<COLORREF> pixels;
    HDC screen = GetDC(nullptr);
    for (int y = r.top; y < r.bottom; y += 17)
        for (int x = r.left; x < r.right; x += 23)
            pixels.push_back(GetPixel(screen, x, y));
    ReleaseDC(nullptr, screen);
    return pixels;
}

TEST(Splash, PaintsThePictureAndPutsBackWhatItCovered) {
    EXPECT_EQ(SplashHide(), 0); // nothing up: nothing happens
    EXPECT_EQ(SplashShow(GetModuleHandleA(nullptr), "NoSuchBitmap"), 0);
    EXPECT_FALSE(SplashIsUp());

    POINT at = SplashOrigin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), 422, 188);
    RECT area = {at.x, at.y, at.x + 422, at.y + 188};
    HDC screen = GetDC(nullptr);
    HBRUSH brush = CreateSolidBrush(RGB(0, 128, 255));
    FillRect(screen, &area, brush);
    DeleteObject(brush);
    ReleaseDC(nullptr, screen);
    GdiFlush();
    std::vector<COLORREF> before = ScreenPixels(area);

    ASSERT_NE(SplashShow(GetModuleHandleA(nullptr), "Splash"), 0);
    RECT covered = SplashRect();
    EXPECT_TRUE(EqualRect(&covered, &area));
    EXPECT_NE(ScreenPixels(area), before) << "the picture is on the screen";
    EXPECT_EQ(SplashShow(GetModuleHandleA(nullptr), "Splash"), 0) << "only one splash";

    EXPECT_EQ(SplashHide(), 1);
    EXPECT_FALSE(SplashIsUp());
    EXPECT_EQ(ScreenPixels(area), before) << "the covered pixels are back";
}

} // namespace
