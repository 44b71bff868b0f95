// Loading and unloading the ASPI for Win32 library ("wnaspi32.dll").
#ifndef ASPILOAD_H
#define ASPILOAD_H

#include <windows.h>
#include "wnaspi32.h"
#include "inventory/inventory.h"

// Loads the library into AspiLibrary and fetches its two entry points.
// TRUE when both are there. On FALSE, AspiLibrary tells why: NULL when the
// library itself could not be loaded; still set (with the entry points
// NULL) when it lacks an entry point, for the caller to unload.
BOOL LoadAspiLibrary(void);

// Unloads the library, if loaded, and forgets the entry points.
void UnloadAspiLibrary(void);

#endif
