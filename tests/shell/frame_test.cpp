// Frame arithmetic and the splash screen, through real windows and the real
// screen device context.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "inventory/inventory.h"
#include "shell/frame.h"
#include "shell/strings.h"
#include "shell/splash.h"
#include "support/testwindow.h"

namespace {

// The laid-out panes of a real window are checked with the main window.
TEST(PaneLayout, AWindowShorterThanTheBarsGivesEmptyPanes) {
    PaneLayout p = ComputePaneLayout(0, 0);
    EXPECT_EQ(p.TreeHeight, 0);
    EXPECT_EQ(p.ListWidth, 0);
}

TEST(CenterWindow, CentresOverTheReferenceOrIsPushedBackIntoTheWorkArea) {
    const struct {
        RECT reference;
        LONG x, y;
    } cases[] = {
        {{100, 100, 601, 401}, 100 + (501 - 300) / 2, 100 + (301 - 200) / 2},
        {{-400, -300, -100, -100}, 0, 0},
        {{900, 700, 1200, 900}, 1024 - 300, 738 - 200},
    };
    RECT dialog = {0, 0, 300, 200}, work = {0, 0, 1024, 738};
    for (const auto& c : cases) {
        POINT at = ComputeCenteredPosition(&dialog, &c.reference, &work);
        EXPECT_EQ(at.x, c.x) << c.reference.left;
        EXPECT_EQ(at.y, c.y) << c.reference.left;
    }

    qvx::test::TestWindow owner, box({}, 300, 200); // a real window stays in the work area
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    MoveWindow(owner.hwnd(), work.right - 100, work.bottom - 50, 400, 300, FALSE);
    CenterWindow(box.hwnd(), owner.hwnd());
    RECT placed;
    GetWindowRect(box.hwnd(), &placed);
    EXPECT_EQ(placed.right, work.right);
    EXPECT_EQ(placed.bottom, work.bottom);
    EXPECT_EQ(placed.right - placed.left, 300);
}

TEST(Splash, SitsInTheMiddleOfTheScreen) {
    POINT small = SplashOrigin(640, 480, 422, 188), medium = SplashOrigin(800, 600, 422, 188);
    EXPECT_EQ(small.x, 109);
    EXPECT_EQ(small.y, 146);
    EXPECT_EQ(medium.x, 189);
    EXPECT_EQ(medium.y, 206);
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

TEST(StatusBar, CutsTheAdapterNameTo30Characters) {
    ASSERT_TRUE(PreloadStrings(GetModuleHandleA(nullptr)));
    qvx::test::TestWindow main;
    HWND bar = CreateStatusWindowA(WS_CHILD | WS_VISIBLE, "", main.hwnd(), 1000);
    int parts[2] = {300, -1};
    SendMessageA(bar, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
    HostAdapterRecord saved = HostAdapterTable[2];
    const char name[] = "Veltrane Kestrail Wide SCSI Host Adapter";
    CopyText(HostAdapterTable[2].Description, sizeof HostAdapterTable[2].Description, name);
    HostAdapterTable[2].DeviceCount = 11;
    ShowAdapterInStatusBar(GetModuleHandleA(nullptr), bar, 2);
    char text[2][256] = {};
    for (int part : {0, 1})
        SendMessageA(bar, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(text[part]));
    EXPECT_STREQ(text[0], "Currently selected:  Veltrane Kestrail Wide SCSI Ho");
    EXPECT_STREQ(text[1], "Number of devices connected:  11");
    EXPECT_STREQ(HostAdapterTable[2].Description, name) << "only the status bar cuts it";
    HostAdapterTable[2] = saved;
}

} // namespace
