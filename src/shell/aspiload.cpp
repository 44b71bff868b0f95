// Loading and unloading the ASPI for Win32 library.
#include "aspiload.h"

BOOL LoadAspiLibrary(void) {
    AspiLibrary = LoadLibraryA("wnaspi32.dll");
    if (AspiLibrary == NULL)
        return FALSE;
    GetAspi32SupportInfo =
        (GetASPI32SupportInfoFn)(void*)GetProcAddress(AspiLibrary, "GetASPI32SupportInfo");
    SendAspi32Command =
        (SendASPI32CommandFn)(void*)GetProcAddress(AspiLibrary, "SendASPI32Command");
    if (GetAspi32SupportInfo == NULL || SendAspi32Command == NULL) {
        GetAspi32SupportInfo = NULL;
        SendAspi32Command = NULL;
        return FALSE;
    }
    return TRUE;
}

void UnloadAspiLibrary(void) {
    if (AspiLibrary != NULL)
        FreeLibrary(AspiLibrary);
    AspiLibrary = NULL;
    GetAspi32SupportInfo = NULL;
    SendAspi32Command = NULL;
}
