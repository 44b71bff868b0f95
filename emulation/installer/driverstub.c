/* Stand-in for the driver files laid into a prefix: a library holding
   nothing but a version record, which the installer replaces with each
   laid file's own. Nothing ever loads it to run. */
#include <windows.h>

BOOL WINAPI StubEntry(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
