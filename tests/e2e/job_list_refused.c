/* UpdateProcThreadAttribute as Windows 8.1 and older answer it for a job list,
   which they do not know. Linked into a copy of the launcher, it takes the
   place of the system's, so that the launcher's start for older Windows
   (suspended, then joining the job) is tested where the platform would
   otherwise create the host inside the job. */

#include <windows.h>

BOOL WINAPI UpdateProcThreadAttribute (LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD flags, DWORD_PTR attribute, PVOID value,
                                       SIZE_T size, PVOID previous, PSIZE_T returned)
{
    (void)list, (void)flags, (void)attribute, (void)value, (void)size, (void)previous, (void)returned;
    SetLastError (ERROR_NOT_SUPPORTED);
    return FALSE;
}
