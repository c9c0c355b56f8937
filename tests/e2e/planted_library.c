/* Stands in for a DLL that someone dropped beside a program under the name of
   a system library. It refuses to load, so that nothing of it runs wherever a
   system does take it. */

#include <windows.h>

BOOL WINAPI DllMain (HINSTANCE self, DWORD reason, LPVOID reserved)
{
    (void)self;
    (void)reason;
    (void)reserved;
    return FALSE;
}
