// The splash screen: a bitmap painted straight onto the screen while the
// program starts, with the pixels beneath saved and put back afterwards.
#ifndef SPLASH_H
#define SPLASH_H

#include <windows.h>

// Top-left corner of a w x h picture centred on a screen of the given size
// (each half rounded toward zero).
POINT SplashOrigin(int screenWidth, int screenHeight, int width, int height);

// Shows the splash; nonzero when it went up, 0 when one is already up or
// the bitmap cannot be loaded.
int SplashShow(HINSTANCE instance, LPCSTR bitmapName);

// Takes the splash down and restores the screen; 1, or 0 when none is up.
int SplashHide(void);

// Nonzero while the splash is up.
int SplashIsUp(void);

// Rectangle the splash covers (empty when none is up).
RECT SplashRect(void);

#endif
