#ifndef ASPILOAD_H
#define ASPILOAD_H

#include <windows.h>
#include "wnaspi32.h"

extern HMODULE AspiLibrary;
extern GetASPI32SupportInfoFn GetAspi32SupportInfo;
extern SendASPI32CommandFn SendAspi32Command;

BOOL LoadAspiLibrary(void);
void UnloadAspiLibrary(void);

#endif
