// A DLL dropped beside the launcher under the name of a library the launcher
// loads while it runs is never taken: libraries come from the system folder.
//
// ole32 is one the launcher loads for its error box. Wine runs its own copy of
// such a library whichever file of that name the search finds, but it names
// the module after that file, so the path of each module the launcher has
// loaded shows where its search looked.

#include "launcher_driver.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <algorithm>

namespace
{

using namespace e2e;

const std::wstring folder = L"C:\\users\\Public\\planted-library";
const std::wstring launcherCopy = folder + L"\\Tessalune.exe";
const std::wstring loaderCopy = folder + L"\\default_search_loader.exe";
const std::wstring plantedLibrary = folder + L"\\ole32.dll";

std::wstring lowerCase (std::wstring text)
{
    CharLowerBuffW (text.data(), static_cast<DWORD> (text.size()));
    return text;
}

std::vector<std::wstring> modulePathsOf (HANDLE process)
{
    HMODULE modules[512];
    DWORD needed = 0;

    if (! EnumProcessModules (process, modules, sizeof (modules), &needed))
        return {};

    std::vector<std::wstring> paths;

    for (DWORD i = 0; i < std::min<DWORD> (needed / sizeof (HMODULE), 512); ++i)
    {
        wchar_t path[MAX_PATH * 2] {};
        GetModuleFileNameExW (process, modules[i], path, MAX_PATH * 2);
        paths.push_back (lowerCase (path));
    }

    return paths;
}

bool endsWith (const std::wstring& text, const std::wstring& end)
{
    return text.size() >= end.size() && text.compare (text.size() - end.size(), end.size(), end) == 0;
}

class LibrarySearch : public Launcher
{
protected:
    void SetUp() override
    {
        Launcher::SetUp();
        CreateDirectoryW (folder.c_str(), nullptr);
        copyBeside (L"planted_library.dll", plantedLibrary);
        copyBeside (L"Tessalune.exe", launcherCopy);
        copyBeside (L"default_search_loader.exe", loaderCopy);
    }

    void TearDown() override
    {
        for (const auto& path : { plantedLibrary, launcherCopy, loaderCopy })
            DeleteFileW (path.c_str());

        RemoveDirectoryW (folder.c_str());
        Launcher::TearDown();
    }

    static void copyBeside (const wchar_t* name, const std::wstring& to)
    {
        ASSERT_TRUE (CopyFileW ((folderOfThisProgram() + name).c_str(), to.c_str(), FALSE)) << "could not copy " << name;
    }
};

TEST_F (LibrarySearch, ALibraryBesideTheLauncherIsNeverTaken)
{
    // The planted library is in the way: a program that keeps the default
    // search order takes it from its own folder.
    Process control (loaderCopy, L"\"" + loaderCopy + L"\" ole32.dll", std::nullopt, folder);
    ASSERT_TRUE (control.hasStarted());
    ASSERT_TRUE (control.hasExited (patienceMs));
    ASSERT_EQ (control.exitStatus(), 0u) << "the default search order did not take the planted library; the test cannot tell anything";

    // With the host missing, the launcher loads its GUI libraries for the box.
    Process launcher (launcherCopy, commandLineOf (launcherCopy, {}), std::nullopt, folder);
    ASSERT_TRUE (launcher.hasStarted());
    ASSERT_TRUE (waitForErrorBox (launcher));
    const auto modules = modulePathsOf (launcher.handle());
    const auto outcome = dismissErrorBoxes (launcher);

    const auto ole32 = std::find_if (modules.begin(), modules.end(), [] (const auto& path) { return endsWith (path, L"\\ole32.dll"); });
    ASSERT_NE (ole32, modules.end()) << "the launcher showed its box without loading ole32; choose the library it does load";
    EXPECT_EQ (*ole32, lowerCase (L"C:\\windows\\system32\\ole32.dll"));

    for (const auto& path : modules)
    {
        if (path != lowerCase (launcherCopy))
        {
            EXPECT_NE (path.rfind (lowerCase (folder) + L"\\", 0), 0u) << "loaded from beside the launcher: " << path;
        }
    }

    EXPECT_EQ (outcome.boxesShown, 1u);
    EXPECT_EQ (outcome.exitStatus, launchFailedStatus);
}

} // namespace
