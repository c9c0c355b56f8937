// The libraries the launcher loads while it runs (JUCE's GUI libraries, when
// the error box is needed) come from the system folder only. Windows would
// otherwise look first in the launcher's own folder, and a DLL dropped there,
// in a downloads folder for instance, would run inside the launcher.
// https://learn.microsoft.com/windows/win32/dlls/dynamic-link-library-search-order
//
// Set by the first static initialiser, before JUCE's could load anything.
// SetDefaultDllDirectories is looked up rather than imported: Windows 7
// without KB2533623 lacks it, and an import would keep the launcher from
// starting there at all.
// https://learn.microsoft.com/en-us/windows/win32/api/LibLoaderAPI/nf-libloaderapi-setdefaultdlldirectories

#include <windows.h>

// Nothing calls the function below: only its constructor attribute makes it
// run. A compiler without GNU attributes would build a launcher without it,
// and GCC only warns about an attribute it ignores, a misspelt one say.
#if ! defined(__GNUC__)
#    error "The library search is narrowed from a GNU constructor: build the launcher with GCC or Clang."
#endif
#pragma GCC diagnostic error "-Wattributes"

namespace
{

using SetDefaultDllDirectoriesFunction = BOOL (WINAPI*) (DWORD);

[[gnu::constructor (101)]] void loadLibrariesFromTheSystemFolderOnly()
{
    const auto function = GetProcAddress (GetModuleHandleW (L"kernel32.dll"), "SetDefaultDllDirectories");

    // Through void (*)() because FARPROC and the real type are unrelated.
    if (function != nullptr)
        reinterpret_cast<SetDefaultDllDirectoriesFunction> (reinterpret_cast<void (*)()> (function)) (
            LOAD_LIBRARY_SEARCH_SYSTEM32);
}

} // namespace
