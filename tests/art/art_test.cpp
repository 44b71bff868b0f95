// The pictures as the program gets them from its linked resources: the
// sizes and colour depths the views and dialogs rely on, each picture drawn
// (not blank), and the busy cursor. Which picture stands where is checked
// with the views.
#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "resources/resource.h"

namespace {

HINSTANCE Self() {
    return GetModuleHandleA(nullptr);
}

// The colours a bitmap paints, read back through a 32-bit DIB.
std::set<DWORD> ColoursOf(HBITMAP bitmap, int width, int height) {
    std::vector<DWORD> pixels(size_t(width) * height);
    BITMAPINFO bi = {{sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    HDC dc = GetDC(nullptr);
    EXPECT_EQ(GetDIBits(dc, bitmap, 0, height, pixels.data(), &bi, DIB_RGB_COLORS), height);
    ReleaseDC(nullptr, dc);
    return {pixels.begin(), pixels.end()};
}

TEST(Art, EveryBitmapHasItsSizeAndDepthAndIsDrawn) {
    const struct {
        LPCSTR name;
        int width, height, bits;
        size_t colours; // at least
    } bitmaps[] = {
        {"Splash", 422, 188, 4, 8},
        {MAKEINTRESOURCEA(IDB_HOST_ADAPTER), 32, 32, 4, 2},
        {MAKEINTRESOURCEA(IDB_HARD_DISK), 32, 32, 4, 2},
        {MAKEINTRESOURCEA(IDB_CDROM), 32, 32, 4, 2},
        {MAKEINTRESOURCEA(IDB_TAPE), 32, 32, 4, 2},
        {MAKEINTRESOURCEA(IDB_SCANNER), 32, 32, 8, 20}, // more colours than 16 can give
        {MAKEINTRESOURCEA(IDB_REMOVABLE), 33, 32, 4, 2},
        {MAKEINTRESOURCEA(IDB_PRINTER), 32, 32, 4, 2},
        {MAKEINTRESOURCEA(IDB_NO_DEVICE), 32, 32, 4, 2},
        {MAKEINTRESOURCEA(IDB_WORM), 32, 32, 4, 2},
        {MAKEINTRESOURCEA(IDB_UNKNOWN), 32, 32, 4, 2},
        {MAKEINTRESOURCEA(IDB_OPTICAL), 32, 32, 4, 2},
        {MAKEINTRESOURCEA(IDB_ZIP), 32, 32, 4, 2},
        {MAKEINTRESOURCEA(IDB_ABOUT), 48, 48, 4, 2},
        {MAKEINTRESOURCEA(IDB_PATTERN_SYSTEM_INFO), 8, 8, 4, 2},
        {MAKEINTRESOURCEA(IDB_PATTERN_ADAPTER_INFO), 8, 8, 4, 2},
        {MAKEINTRESOURCEA(IDB_TREE_ROOT), 16, 16, 4, 2},
        {MAKEINTRESOURCEA(IDB_TREE_ADAPTER), 16, 16, 4, 2},
        {MAKEINTRESOURCEA(IDB_TREE_ADAPTER_SELECTED), 16, 16, 4, 2},
    };
    for (const auto& b : bitmaps) {
        std::string name = IS_INTRESOURCE(b.name) ? std::to_string(UINT_PTR(b.name)) : b.name;
        HBITMAP bitmap = static_cast<HBITMAP>(
            LoadImageA(Self(), b.name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        DIBSECTION ds = {};
        ASSERT_EQ(GetObjectA(bitmap, sizeof ds, &ds), int(sizeof ds)) << name;
        EXPECT_EQ((std::vector<int>{ds.dsBm.bmWidth, ds.dsBm.bmHeight, ds.dsBm.bmBitsPixel}),
                  (std::vector<int>{b.width, b.height, b.bits}))
            << name;
        EXPECT_GE(ColoursOf(bitmap, b.width, b.height).size(), b.colours) << name;
        DeleteObject(bitmap);
    }
}

// Each icon group holds a 32 x 32 and a 16 x 16 image of 16 colours.
TEST(Art, EveryIconHasALargeAndASmallImage) {
    for (int id :
         {IDI_APP, IDI_HARD_DISK, IDI_REMOVABLE, IDI_CDROM, IDI_TAPE, IDI_SCANNER, IDI_WORM,
          IDI_PRINTER, IDI_HOST_ADAPTER, IDI_UNKNOWN, IDI_NO_DEVICE, IDI_OPTICAL, IDI_ZIP}) {
        HRSRC res = FindResourceA(Self(), MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(14));
        ASSERT_NE(res, nullptr) << id; // RT_GROUP_ICON
        const BYTE* dir = static_cast<const BYTE*>(LockResource(LoadResource(Self(), res)));
        std::multiset<std::string> images; // "width colours bits" per GRPICONDIRENTRY
        for (int i = 0; i < *reinterpret_cast<const WORD*>(dir + 4); ++i) {
            const BYTE* e = dir + 6 + 14 * i;
            images.insert(std::to_string(e[0]) + " " + std::to_string(e[2]) + " " +
                          std::to_string(*reinterpret_cast<const WORD*>(e + 6)));
        }
        EXPECT_EQ(images, (std::multiset<std::string>{"16 16 4", "32 16 4"})) << id;
    }
}

TEST(Art, BusyCursorIsA32By32MonochromeCursor) {
    HCURSOR cursor = LoadCursorA(Self(), MAKEINTRESOURCEA(IDCUR_BUSY));
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(cursor, &info));
    EXPECT_FALSE(info.fIcon);
    EXPECT_EQ(info.hbmColor, nullptr) << "monochrome: AND and XOR in one mask";
    BITMAP bm = {};
    GetObjectA(info.hbmMask, sizeof bm, &bm);
    EXPECT_EQ((std::vector<int>{bm.bmWidth, bm.bmHeight, bm.bmBitsPixel}),
              (std::vector<int>{32, 64, 1}));
    // The hot spot lies inside the picture, away from its top-left corner.
    EXPECT_TRUE(info.xHotspot > 0 && info.xHotspot < 32 && info.yHotspot > 0 && info.yHotspot < 32);
    DeleteObject(info.hbmMask);
}

} // namespace
