/* winscard.dll for tests under Wine: its exports (winscard.def) all forward to the Winelib
 * bridge; this entry point is all the code it has. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
