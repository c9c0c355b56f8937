/* Loads the library named on its command line by the default search order,
   which starts with this program's own folder, as any program does that has
   not narrowed it. Exits with 0 when it took the library from its own folder,
   1 when from elsewhere, and 2 when none could be loaded. Where the platform
   runs a planted library, the one in the own folder refuses to load: that
   failure, and only that one, also counts as taken from the own folder. */

#include <windows.h>

static size_t folderLength (const wchar_t* path)
{
    const wchar_t* last = wcsrchr (path, L'\\');
    return last != NULL ? (size_t)(last - path) : 0;
}

int WINAPI wWinMain (HINSTANCE instance, HINSTANCE previous, PWSTR name, int show)
{
    (void)instance;
    (void)previous;
    (void)show;

    const HMODULE library = LoadLibraryW (name);
    wchar_t libraryPath[MAX_PATH];
    wchar_t ownPath[MAX_PATH];

    if (library == NULL && GetLastError() == ERROR_DLL_INIT_FAILED)
        return 0;

    if (library == NULL || GetModuleFileNameW (library, libraryPath, MAX_PATH) == 0
        || GetModuleFileNameW (NULL, ownPath, MAX_PATH) == 0)
        return 2;

    const size_t length = folderLength (ownPath);
    return folderLength (libraryPath) == length && _wcsnicmp (libraryPath, ownPath, length) == 0 ? 0 : 1;
}
