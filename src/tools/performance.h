// The "Device Performance Tests" dialog: sequential and random READ at three
// transfer sizes, each measured for a few seconds and shown in KB/s.
#ifndef PERFORMANCE_H
#define PERFORMANCE_H

#include <windows.h>

// The measuring time and the waits for a device to become ready. The
// program's values are 5 s, 5000 ms, 1000 ms and 60000 ms; tests shorten
// them and replace the clock.
typedef struct {
    DWORD MeasureSeconds;        // length of each figure's measurement (at least 1)
    DWORD MediumWaitMs;          // after the user says a medium is in
    DWORD ReadyRetryMs;          // between TEST UNIT READY commands while not ready
    DWORD ReadyLimitMs;          // how long that goes on before the device counts as not ready
    DWORD (*SecondsClock)(void); // a clock in whole seconds
} PerformanceTimingRecord;

extern PerformanceTimingRecord PerformanceTiming;

// TEST UNIT READY, repeated once after a unit attention; without a medium
// the user is asked to insert one. The dialog stays responsive while it
// waits and a close ends the wait. Returns the last command's result (0
// also when the user cancelled or closed, or the device never came ready).
int TestUnitReadyWithRetry(HWND dialog, BYTE adapter, BYTE target);

// Shows string `stringId` with the program's caption, then enables button 1
// and makes it read "OK".
void ShowMessageAndEnableOk(HWND dialog, UINT stringId);

// A pseudo-random number from 0 to n inclusive; seeded from the time on the
// first call.
DWORD RandomBelow(DWORD n);

// Dialog procedure of template 162; the start parameter is the device slot.
INT_PTR CALLBACK PerformanceDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
