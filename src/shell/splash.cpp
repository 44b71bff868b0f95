// The splash screen is not a window: it is copied onto the screen's device
// context, and what it covers is saved in a memory bitmap to be restored.
#include "splash.h"

typedef struct {
    HDC ScreenDc;
    HDC MemoryDc;
    HBITMAP InitialBitmap;
    HBITMAP SavedScreen;
    HBITMAP SplashBitmap;
    int X;
    int Y;
    int Width;
    int Height;
} SplashStateRecord;

static SplashStateRecord SplashState;

POINT SplashOrigin(int screenWidth, int screenHeight, int width, int height) {
    POINT origin;
    origin.x = screenWidth / 2 - width / 2;
    origin.y = screenHeight / 2 - height / 2;
    return origin;
}

static int AnySplashHandle(void) {
    return SplashState.ScreenDc != NULL || SplashState.MemoryDc != NULL ||
           SplashState.InitialBitmap != NULL || SplashState.SavedScreen != NULL;
}

int SplashIsUp(void) {
    return SplashState.ScreenDc != NULL && SplashState.MemoryDc != NULL &&
           SplashState.InitialBitmap != NULL && SplashState.SavedScreen != NULL;
}

RECT SplashRect(void) {
    RECT rect = {0, 0, 0, 0};
    if (SplashIsUp()) {
        rect.left = SplashState.X;
        rect.top = SplashState.Y;
        rect.right = SplashState.X + SplashState.Width;
        rect.bottom = SplashState.Y + SplashState.Height;
    }
    return rect;
}

// Gives back whatever a partly failed show managed to make.
static void ReleaseSplashHandles(void) {
    if (SplashState.MemoryDc != NULL && SplashState.InitialBitmap != NULL)
        SelectObject(SplashState.MemoryDc, SplashState.InitialBitmap);
    if (SplashState.SavedScreen != NULL)
        DeleteObject(SplashState.SavedScreen);
    if (SplashState.SplashBitmap != NULL)
        DeleteObject(SplashState.SplashBitmap);
    if (SplashState.MemoryDc != NULL)
        DeleteDC(SplashState.MemoryDc);
    if (SplashState.ScreenDc != NULL)
        ReleaseDC(NULL, SplashState.ScreenDc);
    ZeroMemory(&SplashState, sizeof SplashState);
}

int SplashShow(HINSTANCE instance, LPCSTR bitmapName) {
    BITMAP info;
    POINT origin;
    HBITMAP splash;

    if (AnySplashHandle())
        return 0;
    splash = LoadBitmapA(instance, bitmapName);
    if (splash == NULL)
        return 0;
    SplashState.SplashBitmap = splash;
    SplashState.ScreenDc = GetDC(NULL);
    if (SplashState.ScreenDc == NULL) {
        ReleaseSplashHandles();
        return 0;
    }
    SplashState.MemoryDc = CreateCompatibleDC(SplashState.ScreenDc);
    if (SplashState.MemoryDc == NULL || GetObjectA(splash, sizeof info, &info) == 0) {
        ReleaseSplashHandles();
        return 0;
    }
    SplashState.Width = info.bmWidth;
    SplashState.Height = info.bmHeight;
    origin = SplashOrigin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                          info.bmWidth, info.bmHeight);
    SplashState.X = origin.x;
    SplashState.Y = origin.y;

    SplashState.SavedScreen =
        CreateCompatibleBitmap(SplashState.ScreenDc, info.bmWidth, info.bmHeight);
    if (SplashState.SavedScreen == NULL) {
        ReleaseSplashHandles();
        return 0;
    }
    SplashState.InitialBitmap =
        (HBITMAP)SelectObject(SplashState.MemoryDc, SplashState.SavedScreen);
    BitBlt(SplashState.MemoryDc, 0, 0, info.bmWidth, info.bmHeight, SplashState.ScreenDc, origin.x,
           origin.y, SRCCOPY);

    SelectObject(SplashState.MemoryDc, splash);
    BitBlt(SplashState.ScreenDc, origin.x, origin.y, info.bmWidth, info.bmHeight,
           SplashState.MemoryDc, 0, 0, SRCCOPY);

    // From here on the memory context holds only the saved pixels.
    SelectObject(SplashState.MemoryDc, SplashState.SavedScreen);
    DeleteObject(splash);
    SplashState.SplashBitmap = NULL;
    GdiFlush();
    return 1;
}

int SplashHide(void) {
    if (!SplashIsUp())
        return 0;
    BitBlt(SplashState.ScreenDc, SplashState.X, SplashState.Y, SplashState.Width,
           SplashState.Height, SplashState.MemoryDc, 0, 0, SRCCOPY);
    GdiFlush();
    ReleaseSplashHandles();
    return 1;
}
