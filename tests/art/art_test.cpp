// The pictures as the program gets them: loaded from the linked resources by
// the platform's loaders, with the sizes, colour depths and images the views
// and dialogs rely on.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "resources/resource.h"

namespace {

HINSTANCE Self() {
    return GetModuleHandleA(nullptr);
}

// Owns one GDI object.
struct Gdi {
    HGDIOBJ h = nullptr;
    explicit Gdi(HGDIOBJ o) : h(o) {}
    ~Gdi() {
        if (h)
            DeleteObject(h);
    }
    Gdi(const Gdi&) = delete;
    Gdi& operator=(const Gdi&) = delete;
};

struct IconBitmaps {
    ICONINFO info = {};
    explicit IconBitmaps(HICON icon) {
        if (!GetIconInfo(icon, &info))
            info = {};
    }
    ~IconBitmaps() {
        if (info.hbmColor)
            DeleteObject(info.hbmColor);
        if (info.hbmMask)
            DeleteObject(info.hbmMask);
    }
};

// The colours a bitmap actually paints, read back through a 32-bit DIB.
std::set<COLORREF> ColoursOf(HBITMAP bmp, int w, int h) {
    std::vector<DWORD> px(static_cast<size_t>(w) * h);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    HDC dc = GetDC(nullptr);
    int lines = GetDIBits(dc, bmp, 0, h, px.data(), &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    EXPECT_EQ(lines, h);
    return {px.begin(), px.end()};
}

struct BitmapCase {
    const char* name; // resource name, or null for the id
    int id;
    int width, height, bits;
};

const BitmapCase kBitmaps[] = {
    {"Splash", 0, 422, 188, 4},
    {nullptr, IDB_HOST_ADAPTER, 32, 32, 4},
    {nullptr, IDB_HARD_DISK, 32, 32, 4},
    {nullptr, IDB_CDROM, 32, 32, 4},
    {nullptr, IDB_TAPE, 32, 32, 4},
    {nullptr, IDB_SCANNER, 32, 32, 8},
    {nullptr, IDB_REMOVABLE, 33, 32, 4},
    {nullptr, IDB_PRINTER, 32, 32, 4},
    {nullptr, IDB_NO_DEVICE, 32, 32, 4},
    {nullptr, IDB_WORM, 32, 32, 4},
    {nullptr, IDB_UNKNOWN, 32, 32, 4},
    {nullptr, IDB_OPTICAL, 32, 32, 4},
    {nullptr, IDB_ZIP, 32, 32, 4},
    {nullptr, IDB_ABOUT, 48, 48, 4},
    {nullptr, IDB_PATTERN_SYSTEM_INFO, 8, 8, 4},
    {nullptr, IDB_PATTERN_ADAPTER_INFO, 8, 8, 4},
    {nullptr, IDB_TREE_ROOT, 16, 16, 4},
    {nullptr, IDB_TREE_ADAPTER, 16, 16, 4},
    {nullptr, IDB_TREE_ADAPTER_SELECTED, 16, 16, 4},
};

LPCSTR ResourceOf(const BitmapCase& c) {
    return c.name ? c.name : MAKEINTRESOURCEA(c.id);
}

// The standard 16-colour VGA palette, in the order of the Windows DIB.
const RGBQUAD kVga[16] = {
    {0, 0, 0, 0},          {0, 0, 0x80, 0},    {0, 0x80, 0, 0},    {0, 0x80, 0x80, 0},
    {0x80, 0, 0, 0},       {0x80, 0, 0x80, 0}, {0x80, 0x80, 0, 0}, {0x80, 0x80, 0x80, 0},
    {0xC0, 0xC0, 0xC0, 0}, {0, 0, 0xFF, 0},    {0, 0xFF, 0, 0},    {0, 0xFF, 0xFF, 0},
    {0xFF, 0, 0, 0},       {0xFF, 0, 0xFF, 0}, {0xFF, 0xFF, 0, 0}, {0xFF, 0xFF, 0xFF, 0},
};

class BitmapLoad : public testing::TestWithParam<BitmapCase> {};

TEST_P(BitmapLoad, HasItsSizeDepthAndPalette) {
    const BitmapCase& c = GetParam();
    Gdi dibSection(LoadImageA(Self(), ResourceOf(c), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(dibSection.h, nullptr);
    DIBSECTION ds = {};
    ASSERT_EQ(GetObjectA(dibSection.h, sizeof ds, &ds), static_cast<int>(sizeof ds));
    EXPECT_EQ(ds.dsBm.bmWidth, c.width);
    EXPECT_EQ(ds.dsBm.bmHeight, c.height);
    EXPECT_EQ(ds.dsBm.bmBitsPixel, c.bits);

    // The colour table: VGA for 16 colours; 256 entries starting with VGA otherwise.
    HDC mem = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(mem, dibSection.h);
    RGBQUAD table[256] = {};
    UINT n = GetDIBColorTable(mem, 0, 256, table);
    SelectObject(mem, old);
    DeleteDC(mem);
    EXPECT_EQ(n, 1u << c.bits);
    EXPECT_EQ(std::memcmp(table, kVga, sizeof kVga), 0);

    // LoadBitmapA gives the same picture as a device-dependent bitmap.
    Gdi ddb(LoadBitmapA(Self(), ResourceOf(c)));
    ASSERT_NE(ddb.h, nullptr);
    BITMAP bm = {};
    ASSERT_TRUE(GetObjectA(ddb.h, sizeof bm, &bm));
    EXPECT_EQ(bm.bmWidth, c.width);
    EXPECT_EQ(bm.bmHeight, c.height);

    // Every picture is drawn: at least a second colour besides its background.
    EXPECT_GE(ColoursOf(static_cast<HBITMAP>(ddb.h), c.width, c.height).size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Art, BitmapLoad, testing::ValuesIn(kBitmaps),
                         [](const testing::TestParamInfo<BitmapCase>& info) {
                             return info.param.name ? std::string(info.param.name)
                                                    : "Bitmap" + std::to_string(info.param.id);
                         });

TEST(Art, SplashAndScannerUseTheirColours) {
    Gdi splash(LoadBitmapA(Self(), "SPLASH"));
    ASSERT_NE(splash.h, nullptr);
    EXPECT_GE(ColoursOf(static_cast<HBITMAP>(splash.h), 422, 188).size(), 8u);
    // The scanner is the one 256-colour picture: it paints colours outside VGA.
    Gdi scanner(
        LoadImageA(Self(), MAKEINTRESOURCEA(IDB_SCANNER), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(scanner.h, nullptr);
    std::set<COLORREF> vga;
    for (const RGBQUAD& q : kVga)
        vga.insert(RGB(q.rgbBlue, q.rgbGreen, q.rgbRed)); // as GetDIBits packs them
    size_t beyond = 0;
    for (COLORREF c : ColoursOf(static_cast<HBITMAP>(scanner.h), 32, 32))
        beyond += vga.count(c) == 0;
    EXPECT_GE(beyond, 4u);
}

// The icon groups in the order of the device list's image lists.
const int kListIcons[13] = {
    IDI_APP,     IDI_HARD_DISK,    IDI_REMOVABLE, IDI_CDROM,     IDI_TAPE,    IDI_SCANNER, IDI_WORM,
    IDI_PRINTER, IDI_HOST_ADAPTER, IDI_UNKNOWN,   IDI_NO_DEVICE, IDI_OPTICAL, IDI_ZIP};

class IconLoad : public testing::TestWithParam<int> {};

TEST_P(IconLoad, GroupHoldsA32And16Image) {
    int id = GetParam();
    // The group directory: two 16-colour images, 32 x 32 and 16 x 16.
    HRSRC res = FindResourceA(Self(), MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(14)); // RT_GROUP_ICON
    ASSERT_NE(res, nullptr);
    const BYTE* dir = static_cast<const BYTE*>(LockResource(LoadResource(Self(), res)));
    ASSERT_NE(dir, nullptr);
    WORD count = *reinterpret_cast<const WORD*>(dir + 4);
    ASSERT_EQ(count, 2);
    std::set<int> sizes;
    for (int i = 0; i < count; ++i) {
        const BYTE* e = dir + 6 + 14 * i; // GRPICONDIRENTRY
        sizes.insert(e[0]);
        EXPECT_EQ(e[2], 16) << "colour count";
        EXPECT_EQ(*reinterpret_cast<const WORD*>(e + 6), 4) << "bits per pixel";
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 32}));

    for (int size : {32, 16}) {
        HICON icon =
            static_cast<HICON>(LoadImageA(Self(), MAKEINTRESOURCEA(id), IMAGE_ICON, size, size, 0));
        ASSERT_NE(icon, nullptr) << size;
        IconBitmaps bits(icon);
        ASSERT_NE(bits.info.hbmColor, nullptr);
        BITMAP bm = {};
        GetObjectA(bits.info.hbmColor, sizeof bm, &bm);
        EXPECT_EQ(bm.bmWidth, size);
        EXPECT_EQ(bm.bmHeight, size);
        // The AND mask leaves some of the square see-through and covers the rest.
        std::set<COLORREF> mask = ColoursOf(bits.info.hbmMask, size, size);
        EXPECT_EQ(mask.size(), 2u) << "icon " << id << " at " << size;
        DestroyIcon(icon);
    }
    HICON large = LoadIconA(Self(), MAKEINTRESOURCEA(id));
    ASSERT_NE(large, nullptr);
    IconBitmaps bits(large);
    BITMAP bm = {};
    GetObjectA(bits.info.hbmColor, sizeof bm, &bm);
    EXPECT_EQ(bm.bmWidth, GetSystemMetrics(SM_CXICON));
}

INSTANTIATE_TEST_SUITE_P(Art, IconLoad, testing::ValuesIn(kListIcons),
                         [](const testing::TestParamInfo<int>& info) {
                             return "Icon" + std::to_string(info.param);
                         });

TEST(Art, DeviceListImageListsTakeAllThirteenIcons) {
    HIMAGELIST small = ImageList_Create(16, 16, ILC_COLOR4 | ILC_MASK, 1, 12);
    HIMAGELIST large = ImageList_Create(32, 32, ILC_COLOR4 | ILC_MASK, 1, 12);
    ASSERT_TRUE(small && large);
    for (int id : kListIcons) {
        HICON icon = LoadIconA(Self(), MAKEINTRESOURCEA(id));
        EXPECT_NE(ImageList_AddIcon(small, icon), -1) << id;
        EXPECT_NE(ImageList_AddIcon(large, icon), -1) << id;
    }
    EXPECT_EQ(ImageList_GetImageCount(small), 13);
    EXPECT_EQ(ImageList_GetImageCount(large), 13);
    ImageList_Destroy(small);
    ImageList_Destroy(large);
}

TEST(Art, TreeImageListTakesItsThreeBitmaps) {
    HIMAGELIST list = ImageList_Create(16, 16, ILC_COLOR4, 2, 10);
    ASSERT_NE(list, nullptr);
    for (int id : {IDB_TREE_ROOT, IDB_TREE_ADAPTER, IDB_TREE_ADAPTER_SELECTED}) {
        Gdi bmp(LoadBitmapA(Self(), MAKEINTRESOURCEA(id)));
        EXPECT_NE(ImageList_Add(list, static_cast<HBITMAP>(bmp.h), nullptr), -1) << id;
    }
    EXPECT_EQ(ImageList_GetImageCount(list), 3);
    ImageList_Destroy(list);
}

TEST(Art, PatternBitmapsMakeBrushes) {
    for (int id : {IDB_PATTERN_SYSTEM_INFO, IDB_PATTERN_ADAPTER_INFO}) {
        Gdi bmp(LoadBitmapA(Self(), MAKEINTRESOURCEA(id)));
        ASSERT_NE(bmp.h, nullptr);
        Gdi brush(CreatePatternBrush(static_cast<HBITMAP>(bmp.h)));
        EXPECT_NE(brush.h, nullptr) << id;
    }
}

TEST(Art, BusyCursorIsA32By32MonochromeCursor) {
    HCURSOR cursor = LoadCursorA(Self(), MAKEINTRESOURCEA(IDCUR_BUSY));
    ASSERT_NE(cursor, nullptr);
    IconBitmaps bits(cursor);
    EXPECT_FALSE(bits.info.fIcon);
    EXPECT_EQ(bits.info.hbmColor, nullptr); // monochrome: AND and XOR in one mask
    BITMAP bm = {};
    ASSERT_TRUE(GetObjectA(bits.info.hbmMask, sizeof bm, &bm));
    EXPECT_EQ(bm.bmWidth, 32);
    EXPECT_EQ(bm.bmHeight, 64);
    EXPECT_EQ(bm.bmBitsPixel, 1);
    // The hot spot lies inside the picture, away from its top-left corner.
    EXPECT_GT(bits.info.xHotspot, 0u);
    EXPECT_LT(bits.info.xHotspot, 32u);
    EXPECT_GT(bits.info.yHotspot, 0u);
    EXPECT_LT(bits.info.yHotspot, 32u);
    // It can become the current cursor.
    SetCursor(cursor);
    EXPECT_EQ(GetCursor(), cursor);
}

} // namespace
