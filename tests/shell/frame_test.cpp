// Frame arithmetic and the splash screen, through real windows and the real
// screen device context.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <string>

#include "inventory/inventory.h"
#include "shell/frame.h"
#include "shell/strings.h"
#include "shell/splash.h"
#include "support/testwindow.h"

namespace {

TEST(PaneLayout, QuartersTheClientWidthAndFillsItExactly) {
    for (int width : {800, 801, 802, 803}) {
        PaneLayout p = ComputePaneLayout(width, 400);
        EXPECT_EQ(p.TreeX, 0);
        EXPECT_EQ(p.TreeWidth, width / 4);
        EXPECT_EQ(p.ListX, p.TreeWidth);
        EXPECT_EQ(p.TreeWidth + p.ListWidth, width) << width;
        EXPECT_EQ(p.TreeY, 30);
        EXPECT_EQ(p.ListY, 30);
        EXPECT_EQ(p.TreeHeight, 350);
        EXPECT_EQ(p.ListHeight, 350);
    }
}

TEST(PaneLayout, AWindowShorterThanTheBarsGivesEmptyPanes) {
    PaneLayout p = ComputePaneLayout(0, 0);
    EXPECT_EQ(p.TreeHeight, 0);
    EXPECT_EQ(p.ListWidth, 0);
}

RECT Rect(int l, int t, int r, int b) {
    RECT rc = {l, t, r, b};
    return rc;
}

TEST(CenterWindow, CentresOverTheReferenceWhenThereIsRoom) {
    RECT dialog = Rect(0, 0, 200, 100), owner = Rect(100, 100, 601, 401),
         work = Rect(0, 0, 1024, 738);
    POINT at = ComputeCenteredPosition(&dialog, &owner, &work);
    EXPECT_EQ(at.x, 100 + (501 - 200) / 2);
    EXPECT_EQ(at.y, 100 + (301 - 100) / 2);
}

TEST(CenterWindow, IsPushedBackIntoTheWorkAreaOnTheSideItOverflows) {
    RECT dialog = Rect(0, 0, 300, 200), work = Rect(0, 0, 1024, 738);
    RECT leftTop = Rect(-400, -300, -100, -100);
    POINT at = ComputeCenteredPosition(&dialog, &leftTop, &work);
    EXPECT_EQ(at.x, 0);
    EXPECT_EQ(at.y, 0);
    RECT rightBottom = Rect(900, 700, 1200, 900);
    at = ComputeCenteredPosition(&dialog, &rightBottom, &work);
    EXPECT_EQ(at.x, 1024 - 300);
    EXPECT_EQ(at.y, 738 - 200);
}

TEST(CenterWindow, MovesARealWindowInsideTheWorkArea) {
    qvx::test::TestWindow owner;
    qvx::test::TestWindow dialog({}, 300, 200);
    RECT work;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    MoveWindow(owner.hwnd(), work.right - 100, work.bottom - 50, 400, 300, FALSE);
    CenterWindow(dialog.hwnd(), owner.hwnd());
    RECT placed;
    GetWindowRect(dialog.hwnd(), &placed);
    EXPECT_EQ(placed.right, work.right);
    EXPECT_EQ(placed.bottom, work.bottom);
    EXPECT_EQ(placed.right - placed.left, 300); // size unchanged

    MoveWindow(owner.hwnd(), 100, 100, 500, 400, FALSE);
    CenterWindow(dialog.hwnd(), owner.hwnd());
    GetWindowRect(dialog.hwnd(), &placed);
    EXPECT_EQ(placed.left, 100 + (500 - 300) / 2);
    EXPECT_EQ(placed.top, 100 + (400 - 200) / 2);
}

TEST(Splash, SitsInTheMiddleOfTheScreen) {
    POINT small = SplashOrigin(640, 480, 422, 188);
    EXPECT_EQ(small.x, 109);
    EXPECT_EQ(small.y, 146);
    POINT medium = SplashOrigin(800, 600, 422, 188);
    EXPECT_EQ(medium.x, 189);
    EXPECT_EQ(medium.y, 206);
    POINT odd = SplashOrigin(801, 601, 421, 187); // each half rounds toward zero
    EXPECT_EQ(odd.x, 400 - 210);
    EXPECT_EQ(odd.y, 300 - 93);
}

// Reads the screen's pixels in a rectangle.
std::vector<COLORREF> ScreenPixels(const RECT& r) {
    std::vector<COLORREF> pixels;
    HDC screen = GetDC(nullptr);
    for (int y = r.top; y < r.bottom; y += 17)
        for (int x = r.left; x < r.right; x += 23)
            pixels.push_back(GetPixel(screen, x, y));
    ReleaseDC(nullptr, screen);
    return pixels;
}

void PaintScreen(const RECT& r, COLORREF colour) {
    HDC screen = GetDC(nullptr);
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(screen, &r, brush);
    DeleteObject(brush);
    ReleaseDC(nullptr, screen);
    GdiFlush();
}

TEST(Splash, PaintsThePictureAndPutsBackWhatItCovered) {
    EXPECT_EQ(SplashHide(), 0); // nothing up: nothing happens
    int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    POINT at = SplashOrigin(cx, cy, 422, 188);
    RECT area = {at.x, at.y, at.x + 422, at.y + 188};
    PaintScreen(area, RGB(0, 128, 255));
    std::vector<COLORREF> before = ScreenPixels(area);

    ASSERT_NE(SplashShow(GetModuleHandleA(nullptr), "Splash"), 0);
    EXPECT_TRUE(SplashIsUp());
    RECT covered = SplashRect();
    EXPECT_TRUE(EqualRect(&covered, &area));
    EXPECT_NE(ScreenPixels(area), before) << "the picture is on the screen";
    EXPECT_EQ(SplashShow(GetModuleHandleA(nullptr), "Splash"), 0) << "only one splash";

    EXPECT_EQ(SplashHide(), 1);
    EXPECT_FALSE(SplashIsUp());
    EXPECT_EQ(ScreenPixels(area), before) << "the covered pixels are back";
    EXPECT_EQ(SplashHide(), 0);
}

TEST(Splash, AMissingBitmapShowsNothing) {
    EXPECT_EQ(SplashShow(GetModuleHandleA(nullptr), "NoSuchBitmap"), 0);
    EXPECT_FALSE(SplashIsUp());
}

std::string PartText(HWND bar, int part) {
    char text[256] = "";
    SendMessageA(bar, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(text));
    return text;
}

TEST(StatusBar, ShowsNoneOrTheAdapterNameCutTo30Characters) {
    ASSERT_TRUE(PreloadStrings(GetModuleHandleA(nullptr)));
    qvx::test::TestWindow main;
    HWND bar = CreateStatusWindowA(WS_CHILD | WS_VISIBLE, "", main.hwnd(), 1000);
    ASSERT_NE(bar, nullptr);
    int parts[2] = {300, -1};
    SendMessageA(bar, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
    ShowAdapterInStatusBar(GetModuleHandleA(nullptr), bar, -1);
    EXPECT_EQ(PartText(bar, 0), "Currently selected:  None");
    EXPECT_EQ(PartText(bar, 1), "Number of devices connected:  0");

    HostAdapterRecord saved = HostAdapterTable[2];
    CopyText(HostAdapterTable[2].Description, sizeof HostAdapterTable[2].Description,
             "Veltrane Kestrail Wide SCSI Host Adapter");
    HostAdapterTable[2].DeviceCount = 11;
    ShowAdapterInStatusBar(GetModuleHandleA(nullptr), bar, 2);
    EXPECT_EQ(PartText(bar, 0), "Currently selected:  Veltrane Kestrail Wide SCSI Ho");
    EXPECT_EQ(PartText(bar, 1), "Number of devices connected:  11");
    EXPECT_STREQ(HostAdapterTable[2].Description, "Veltrane Kestrail Wide SCSI Host Adapter")
        << "only the status bar cuts it";
    HostAdapterTable[2] = saved;
}

} // namespace
