// A DLL dropped beside the launcher under the name of a library the launcher
// loads while it runs is never taken: libraries come from the system folder.
//
// One refusing DLL is planted under the names of libraries the launcher loads
// for its error box: ole32, which Windows always takes from the system folder
// (it is a known DLL) but Wine does not, and uxtheme, which a default search
// takes from the program's own folder on both. Wine runs its
// own copy of such a library whichever file of that name the search finds, but
// names the module after that file; Windows runs the planted file, which
// refuses to load. Either way, the paths of the launcher's modules and its box
// show where its search looked.
//
// Libraries that Wine's own libraries import, such as version and msimg32, are
// not planted: Wine looks for those imports beside the program whatever the
// program asked for. That the launcher itself imports only known DLLs, and
// loads the rest once its search is narrowed, is checked on its file.

#include "launcher_driver.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <algorithm>

namespace
{

using namespace e2e;

const std::wstring folder = L"C:\\users\\Public\\planted-library";
std::wstring launcherCopy()
{
    return folder + L"\\" + productUnderTest().executable;
}
const std::wstring loaderCopy = folder + L"\\default_search_loader.exe";
const std::vector<std::wstring> plantedNames { L"ole32.dll", L"uxtheme.dll" };

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

bool startsWith (const std::wstring& text, const std::wstring& start)
{
    return text.rfind (start, 0) == 0;
}

std::wstring windowsFolder()
{
    wchar_t path[MAX_PATH] {};
    GetWindowsDirectoryW (path, MAX_PATH);
    return lowerCase (path) + L"\\";
}

bool isPlantedName (const std::wstring& path)
{
    const auto name = path.substr (path.find_last_of (L'\\') + 1);
    return std::find (plantedNames.begin(), plantedNames.end(), name) != plantedNames.end();
}

class LibrarySearch : public Launcher
{
protected:
    void SetUp() override
    {
        Launcher::SetUp();
        CreateDirectoryW (folder.c_str(), nullptr);
        for (const auto& name : plantedNames)
            copyBeside (L"planted_library.dll", folder + L"\\" + name);
        copyBeside (productUnderTest().executable.c_str(), launcherCopy());
        copyBeside (L"default_search_loader.exe", loaderCopy);
    }

    void TearDown() override
    {
        for (const auto& path : { launcherCopy(), loaderCopy })
            DeleteFileW (path.c_str());

        for (const auto& name : plantedNames)
            DeleteFileW ((folder + L"\\" + name).c_str());

        RemoveDirectoryW (folder.c_str());
        Launcher::TearDown();
    }

    static void copyBeside (const wchar_t* name, const std::wstring& to)
    {
        ASSERT_TRUE (CopyFileW ((folderOfThisProgram() + name).c_str(), to.c_str(), FALSE))
            << "could not copy " << name;
    }
};

TEST_F (LibrarySearch, ALibraryBesideTheLauncherIsNeverTaken)
{
    // The planted library is in the way: a program that keeps the default
    // search order takes it from its own folder.
    Process control (loaderCopy, L"\"" + loaderCopy + L"\" uxtheme.dll", std::nullopt, folder);
    ASSERT_TRUE (control.hasStarted());
    ASSERT_TRUE (control.hasExited (patienceMs));
    ASSERT_EQ (control.exitStatus(), 0u)
        << "the default search order did not take the planted library; the test cannot tell anything";

    // With the host missing, the launcher loads its GUI libraries for the box.
    Process launcher (launcherCopy(), commandLineOf (launcherCopy(), {}), std::nullopt, folder);
    ASSERT_TRUE (launcher.hasStarted());
    ASSERT_TRUE (waitForErrorBox (launcher));
    const auto modules = modulePathsOf (launcher.handle());
    const auto outcome = dismissErrorBoxes (launcher);

    ASSERT_TRUE (std::any_of (modules.begin(), modules.end(), isPlantedName))
        << "the launcher showed its box without loading any planted name; plant one it does load";

    for (const auto& path : modules)
    {
        if (isPlantedName (path))
        {
            EXPECT_TRUE (startsWith (path, windowsFolder())) << "not from the system: " << path;
        }

        if (path != lowerCase (launcherCopy()))
        {
            EXPECT_FALSE (startsWith (path, lowerCase (folder) + L"\\")) << "loaded from beside the launcher: " << path;
        }
    }

    EXPECT_EQ (outcome.boxesShown, 1u);
    EXPECT_EQ (outcome.exitStatus, launchFailedStatus);
}

} // namespace
