/* The least any launcher must do, the benchmark's measuring stick: start the
   host at its place with this program's own arguments, wait for it, and end
   with its status. None of the launcher's rules (quoting, environment, trust,
   job, start-up settings, the box): what the launcher costs beyond this is
   what those rules cost. */

#include "family.h"

#include <windows.h>
#include <shlobj.h>

#include <stdlib.h>
#include <wchar.h>

/* What follows the program's own name on its command line, passed on as it
   stands: the name is quoted or ends at the first blank (CommandLineToArgvW). */
static const wchar_t* argumentsOf (const wchar_t* commandLine)
{
    const wchar_t* rest = commandLine;

    if (*rest == L'"')
        for (++rest; *rest != L'\0' && *rest++ != L'"';)
            ;
    else
        while (*rest != L'\0' && *rest != L' ' && *rest != L'\t')
            ++rest;

    return rest;
}

int WINAPI wWinMain (HINSTANCE instance, HINSTANCE previous, PWSTR ignored, int show)
{
    static const wchar_t hostName[] = L"" FAMILY_HOST_FILE;
    wchar_t host[MAX_PATH + sizeof ("\\" FAMILY_HOST_FOLDER "\\" FAMILY_HOST_FILE)];
    const wchar_t* arguments = argumentsOf (GetCommandLineW());
    const size_t length = wcslen (hostName) + wcslen (arguments) + 1;
    wchar_t* commandLine = malloc (length * sizeof (wchar_t));
    STARTUPINFOW startup;
    PROCESS_INFORMATION process;
    DWORD status = (DWORD)-1;
    (void)instance, (void)previous, (void)ignored, (void)show;

    ZeroMemory (&startup, sizeof (startup));
    startup.cb = sizeof (startup);

    if (commandLine == NULL || FAILED (SHGetFolderPathW (NULL, CSIDL_COMMON_APPDATA, NULL, SHGFP_TYPE_CURRENT, host)))
        return -1;

    wcscat (host, L"\\" FAMILY_HOST_FOLDER "\\" FAMILY_HOST_FILE);
    wcscat (wcscpy (commandLine, hostName), arguments);

    if (! CreateProcessW (host, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return -1;

    WaitForSingleObject (process.hProcess, INFINITE);
    GetExitCodeProcess (process.hProcess, &status);
    return (int)status;
}
