// Who could have put the host there, end to end: owners, access lists and
// links that Windows keeps and Wine does not. Each case changes only the
// host's folder, which every case removes, and says why when it skips.

#include "host_folder_access.h"
#include "junction.h"
#include "launcher_driver.h"
#include "standard_user.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace
{

using namespace e2e;
using launcher::Distrust;
using Reason = Distrust::Reason;
constexpr auto host = launcher::HostObjectKind::host;
constexpr auto folder = launcher::HostObjectKind::folder;
// The Users group stands for any ordinary user who is not the one starting the launcher.
const launcher::Sid users { "S-1-5-32-545" };

// Only SeRestorePrivilege lets a program give a file to another owner, and
// only an elevated run holds it.
bool enableRestorePrivilege()
{
    HANDLE token = nullptr;
    if (! OpenProcessToken (GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token))
        return false;

    TOKEN_PRIVILEGES privileges { 1, { { {}, SE_PRIVILEGE_ENABLED } } };
    const auto enabled = LookupPrivilegeValueW (nullptr, L"SeRestorePrivilege", &privileges.Privileges[0].Luid)
        && AdjustTokenPrivileges (token, FALSE, &privileges, 0, nullptr, nullptr) && GetLastError() == ERROR_SUCCESS;
    CloseHandle (token);
    return enabled;
}

std::wstring ownerOf (const std::wstring& path)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    wchar_t* text = nullptr;
    std::wstring sid;

    if (GetNamedSecurityInfoW (path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                               nullptr, &descriptor)
            == ERROR_SUCCESS
        && ConvertSidToStringSidW (owner, &text))
        sid = text;

    LocalFree (text);
    LocalFree (descriptor);
    return sid;
}

TEST_F (Launcher, AHostThatAnotherUserCouldHavePlantedIsRefused)
{
    installSampleHost();
    if (! enableRestorePrivilege())
        GTEST_SKIP() << "giving the host another owner needs an elevated run (SeRestorePrivilege)";

    PSID owner = nullptr;
    ASSERT_TRUE (ConvertStringSidToSidW (users.text.toWideCharPointer(), &owner));
    SetNamedSecurityInfoW (hostPath().data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, owner, nullptr, nullptr,
                           nullptr);
    LocalFree (owner);
    if (ownerOf (hostPath()) != users.text.toWideCharPointer())
        GTEST_SKIP() << "this platform does not keep the owner given to a file (Wine does not)";

    const auto outcome = errorBoxesOnLaunchWith (commandLineOf (launcherPath(), {}));

    expectOneBox (outcome, refusalBody ({ Reason::ownedByAnother, users }, host));
    EXPECT_FALSE (readReport()) << "the host ran";
}

// An access list can be set on a folder only by whoever may change it, and
// one that lets only administrators change it locks everyone else out of the
// host's folder, its report and its removal.
bool isElevated()
{
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof (sid);
    BOOL member = FALSE;
    return CreateWellKnownSid (WinBuiltinAdministratorsSid, nullptr, sid, &size)
        && CheckTokenMembership (nullptr, sid, &member) && member;
}

std::wstring accessListOf (const std::wstring& path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    wchar_t* text = nullptr;
    std::wstring sddl;

    if (GetNamedSecurityInfoW (path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                               nullptr, &descriptor)
            == ERROR_SUCCESS
        && ConvertSecurityDescriptorToStringSecurityDescriptorW (descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                                 &text, nullptr))
        sddl = text;

    LocalFree (text);
    LocalFree (descriptor);
    return sddl;
}

// Gives the host or its folder a protected access list and says whether the
// platform kept it: the list read back holds `kept`, as Windows writes it.
bool giveAccessList (const std::wstring& path, const wchar_t* sddl, const wchar_t* kept)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    PACL accessList = nullptr;

    if (! ConvertStringSecurityDescriptorToSecurityDescriptorW (sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return false;

    GetSecurityDescriptorDacl (descriptor, &present, &accessList, &defaulted);
    SetNamedSecurityInfoW (const_cast<wchar_t*> (path.c_str()), SE_FILE_OBJECT,
                           DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                           accessList, nullptr);
    LocalFree (descriptor);
    return accessListOf (path).find (kept) != std::wstring::npos;
}

TEST_F (Launcher, AHostFolderThatOrdinaryUsersMayAddFilesToIsRefused)
{
    installSampleHost();
    if (! isElevated())
        GTEST_SKIP() << "setting the host folder's access list needs an elevated run";
    // What a folder made below ProgramData inherits: Users may add files and folders to it.
    if (! giveAccessList (hostFolder(), L"D:P" HOST_FOLDER_ACCESS_LIST L"(A;CI;0x100116;;;BU)",
                          L"(A;CI;0x100116;;;BU)"))
        GTEST_SKIP() << "this platform does not keep the access list given to a folder (Wine does not)";

    const auto outcome = errorBoxesOnLaunchWith (commandLineOf (launcherPath(), {}));

    expectOneBox (outcome, refusalBody ({ Reason::changeableByAnother, users }, folder));
    EXPECT_FALSE (readReport()) << "the host ran";
}

TEST_F (Launcher, AHostFolderThatPassesOnWriteAccessToOrdinaryUsersIsRefused)
{
    installSampleHost();
    if (! isElevated())
        GTEST_SKIP() << "setting the host folder's access list needs an elevated run";
    if (! giveAccessList (hostFolder(), L"D:P" HOST_FOLDER_ACCESS_LIST L"(A;OICIIO;FA;;;BU)", L"(A;OICIIO;FA;;;BU)"))
        GTEST_SKIP() << "this platform does not keep the access list given to a folder (Wine does not)";

    const auto outcome = errorBoxesOnLaunchWith (commandLineOf (launcherPath(), {}));

    expectOneBox (outcome, refusalBody ({ Reason::passesOnChangeTo, users }, folder));
    EXPECT_FALSE (readReport()) << "the host ran";
}

TEST_F (Launcher, AHostWhoseAttributesOrdinaryUsersMayWriteIsRefused)
{
    installSampleHost();
    // Read and run, and write-attributes, which lets them make the host a link.
    if (! giveAccessList (hostPath(), L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;OW)(A;;0x1201a9;;;BU)", L"D:P"))
        GTEST_SKIP() << "this platform does not keep the access list given to a file (Wine does not)";

    const auto outcome = errorBoxesOnLaunchWith (commandLineOf (launcherPath(), {}));

    expectOneBox (outcome, refusalBody ({ Reason::changeableByAnother, users }, host));
    EXPECT_FALSE (readReport()) << "the host ran";
}

TEST_F (Launcher, AHostFolderWithTheProtectedAccessListOfTheSecurityNotesHandsOver)
{
    installSampleHost();
    if (! isElevated())
        GTEST_SKIP() << "setting the host folder's access list needs an elevated run";
    if (! giveAccessList (hostFolder(), L"" HOST_FOLDER_SDDL, L"D:P"))
        GTEST_SKIP() << "this platform does not keep the access list given to a folder (Wine does not)";

    expectBothParsersSee (handOver ({ u"document.txt" }), withHostNameFirst ({ u"document.txt" }));
}

TEST_F (Launcher, AHostFolderThatIsAJunctionIsRefused)
{
    // A folder the junction leads to, holding the host: what it leads to can change.
    const std::wstring target = L"C:\\users\\Public\\Orvanel-junction-target";
    CreateDirectoryW (target.c_str(), nullptr);
    CopyFileW ((folderOfThisProgram() + hostFileName).c_str(), (target + L"\\" + hostFileName).c_str(), FALSE);
    const auto made = makeJunction (hostFolder(), target);
    const auto outcome = made ? errorBoxesOnLaunchWith (commandLineOf (launcherPath(), {})) : ErrorBoxOutcome {};
    const auto hostRan = readReport (target + L"\\" + reportFileName).has_value();

    RemoveDirectoryW (hostFolder().c_str());
    DeleteFileW ((target + L"\\" + reportFileName).c_str());
    DeleteFileW ((target + L"\\" + hostFileName).c_str());
    RemoveDirectoryW (target.c_str());
    if (! made)
        GTEST_SKIP() << "this platform cannot make a junction (Wine cannot)";

    expectOneBox (outcome, refusalBody ({ Reason::isLink }, folder));
    EXPECT_FALSE (hostRan) << "the host ran";
}

// While it lives, the shared application-data folder cannot be looked up:
// the registry places it in a folder that does not exist.
struct SharedFolderLost
{
    static constexpr wchar_t key[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    static constexpr wchar_t name[] = L"Common AppData";
    static constexpr wchar_t nowhere[] = L"C:\\no-such-folder";
    wchar_t saved[1024] {};
    DWORD size = sizeof (saved);
    const bool hadValue = RegGetValueW (HKEY_LOCAL_MACHINE, key, name,
                                        RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, saved, &size)
        == ERROR_SUCCESS;
    const bool isLost =
        RegSetKeyValueW (HKEY_LOCAL_MACHINE, key, name, REG_EXPAND_SZ, nowhere, sizeof (nowhere)) == ERROR_SUCCESS;

    ~SharedFolderLost()
    {
        if (hadValue)
            RegSetKeyValueW (HKEY_LOCAL_MACHINE, key, name, REG_EXPAND_SZ, saved, size);
        else
            RegDeleteKeyValueW (HKEY_LOCAL_MACHINE, key, name);
    }
};

// The drive the launcher is started from was once where it looked; now the
// host is looked for on the Windows drive, from another drive letter and from
// a network share alike, and that path is the one started and named.
TEST_F (Launcher, WithoutTheSharedFolderTheHostIsLookedForOnTheWindowsDriveWhereverTheLauncherStarts)
{
    if (! runsUnderWine())
        GTEST_SKIP() << "where the shared application-data folder lies is the machine's own; only the tests' own Wine"
                        " prefix is made to lose it";
    wchar_t windows[MAX_PATH] {};
    GetSystemWindowsDirectoryW (windows, MAX_PATH);
    const auto folder = std::wstring (windows, 2) + L"\\Orvanel";
    const auto otherDrive = rootOfAnotherDrive (windows[0]);
    // Windows' administrative share of its own drive, which the tests' prefix maps (tools/wine-env.sh).
    const auto share = L"\\\\localhost\\" + std::wstring (1, towlower (windows[0])) + L"$\\users\\Public";
    if (! otherDrive)
        GTEST_SKIP() << "this prefix has no drive but Windows' own to start the launcher from";
    if (GetFileAttributesW (share.c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "this prefix maps no administrative share \\\\localhost\\" << char (towlower (windows[0]))
                     << "$ to start the launcher from; the tests' own does (tools/wine-env.sh)";
    ASSERT_TRUE (installed_host::installSampleHost (hostBuild(), folder));
    const SharedFolderLost lost;
    wchar_t shared[MAX_PATH] {};
    ASSERT_TRUE (lost.isLost && ! SHGetSpecialFolderPathW (nullptr, shared, CSIDL_COMMON_APPDATA, FALSE));

    for (const auto& start : { *otherDrive, share })
    {
        Process launcher (launcherPath(), commandLineOf (launcherPath(), { u"document.txt" }), std::nullopt, start);
        expectBothParsersSee (waitForReport (folder + L"\\" + reportFileName), withHostNameFirst ({ u"document.txt" }));
        EXPECT_TRUE (launcher.hasExited (patienceMs));
        DeleteFileW ((folder + L"\\" + reportFileName).c_str());
    }

    installed_host::removeHost (folder);
    const auto outcome = dismissErrorBoxes (Process (launcherPath(), commandLineOf (launcherPath(), {}), {}, share));
    expectOneBox (outcome, missingHostBody (folder + L"\\" + hostFileName));
}

// The installer's recipe of docs/security.md run as an elevated installer
// would, writing the sample host: its exit status, and in `said` what it
// wrote to its output and errors.
DWORD runTheHostFolderRecipe (std::string* said = nullptr)
{
    wchar_t windows[MAX_PATH] {};
    GetSystemWindowsDirectoryW (windows, MAX_PATH);
    const auto here = folderOfThisProgram();
    const auto output = here + L"make-host-folder.txt";
    ChildProcess recipe (
        std::wstring (windows) + L"\\System32\\cmd.exe",
        L"cmd /s /c \"\"" + std::wstring (windows)
            + L"\\System32\\WindowsPowerShell\\v1.0\\powershell.exe\" -NoProfile -ExecutionPolicy Bypass"
              L" -File \""
            + here + L"make-host-folder.ps1\" -Files \"" + here + hostFileName + L"\" > \"" + output + L"\" 2>&1\"",
        std::nullopt, here);
    const auto status = recipe.hasStarted() && recipe.hasExited (5 * patienceMs) ? recipe.exitStatus() : ~0u;
    std::ifstream in (output.c_str(), std::ios::binary);
    if (said != nullptr)
        said->assign (std::istreambuf_iterator<char> (in), std::istreambuf_iterator<char>());
    in.close();
    DeleteFileW (output.c_str());
    return status;
}

// What an ordinary user made of the host's folder before its installer ran:
// host_folder_squatter, started as a user of the Users group alone, made for
// the run, from a folder users may read. Made there, the folder is that
// user's, with what ProgramData passes on.
class Squatter
{
public:
    Squatter()
    {
        SECURITY_ATTRIBUTES attributes { sizeof (attributes), nullptr, FALSE };
        ConvertStringSecurityDescriptorToSecurityDescriptorW (L"D:P" HOST_FOLDER_ACCESS_LIST, SDDL_REVISION_1,
                                                              &attributes.lpSecurityDescriptor, nullptr);
        CreateDirectoryW (folder.c_str(), &attributes);
        LocalFree (attributes.lpSecurityDescriptor);
        for (const auto* file : files)
            CopyFileW ((folderOfThisProgram() + file).c_str(), (folder + L"\\" + file).c_str(), FALSE);
    }

    ~Squatter()
    {
        end();
        for (const auto* file : files)
            DeleteFileW ((folder + L"\\" + file).c_str());
        RemoveDirectoryW (folder.c_str());
        DeleteFileW ((target + L"\\" + hostFileName).c_str());
        RemoveDirectoryW (target.c_str());
        // What the recipe set aside, and the names taken to keep it from doing so.
        for (const auto& aside : setAside (false))
        {
            DeleteFileW ((aside + L"\\planted_library.dll").c_str());
            RemoveDirectoryW (aside.c_str());
        }
    }

    Squatter (const Squatter&) = delete;

    // Why no ordinary user can squat the folder here, if none can.
    std::optional<std::string> whyNoUserSquats() const
    {
        if (user.exists())
            return std::nullopt;
        return "no ordinary user can be made here to squat the folder (error " + std::to_string (user.failure()) + ")";
    }
    Squatter& operator= (const Squatter&) = delete;

    // Runs the squatter, by its full path, with these arguments to its end;
    // its exit status, or the system's error where it could not start.
    DWORD make (const std::wstring& arguments)
    {
        if (! start (arguments))
            return GetLastError();
        WaitForSingleObject (started.hProcess, patienceMs);
        DWORD status = STILL_ACTIVE;
        GetExitCodeProcess (started.hProcess, &status);
        end();
        return status;
    }

    // Starts the squatter holding the host's folder open; whether it holds
    // it, running on until it is ended.
    bool hold()
    {
        if (! start (L"hold"))
            return false;
        for (DWORD waited = 0; waited < patienceMs; waited += pollMs)
            if (isHeldOpen())
                return true;
            else if (WaitForSingleObject (started.hProcess, pollMs) == WAIT_OBJECT_0)
                break;
        return false;
    }

    void end()
    {
        if (started.hProcess == nullptr)
            return;
        TerminateProcess (started.hProcess, 1);
        WaitForSingleObject (started.hProcess, patienceMs);
        CloseHandle (started.hThread);
        CloseHandle (started.hProcess);
        started = {};
    }

    // What is set aside of the host's folder: under the recipe's random names
    // alone, or under any.
    static std::vector<std::wstring> setAside (bool randomNamesOnly)
    {
        std::vector<std::wstring> found;
        WIN32_FIND_DATAW entry {};
        const auto parent = hostFolder().substr (0, hostFolder().rfind (L'\\') + 1);
        const auto search = FindFirstFileW ((hostFolder() + L"-set-aside-*").c_str(), &entry);
        for (auto more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW (search, &entry) != FALSE)
        {
            const std::wstring name = entry.cFileName;
            // A GUID's 36 characters after the name the recipe gives.
            const auto random = name.size() == std::wstring (L"Orvanel-set-aside-").size() + 36;
            if (random || ! randomNamesOnly)
                found.push_back (parent + name);
        }
        FindClose (search);
        return found;
    }

    StandardUser user;
    const std::wstring folder = hostFolder() + L"-squatter";
    const std::wstring target = hostFolder() + L"-squatter-target";

private:
    bool start (const std::wstring& arguments)
    {
        return user.start (L"\"" + folder + L"\\host_folder_squatter.exe\" " + arguments, folder, started);
    }

    static bool isHeldOpen()
    {
        const auto folder = CreateFileW (hostFolder().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (folder != INVALID_HANDLE_VALUE)
            CloseHandle (folder);
        return folder == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
    }

    static constexpr const wchar_t* files[] { L"host_folder_squatter.exe", L"planted_library.dll" };
    PROCESS_INFORMATION started {};
};

// Why the recipe's cases cannot run here, if they cannot: checked before
// anything is made for them.
std::optional<std::string> whyTheRecipeCannotRun()
{
    if (! isElevated())
        return "the recipe makes the host's folder as an administrator, from an elevated run";
    if (runsUnderWine())
        return "Wine keeps no owners or access lists, makes no junctions and has no PowerShell to run the recipe";
    return std::nullopt;
}

// Before the host's installer ran, an ordinary user made Orvanel a junction
// to a folder of their own, a folder holding a DLL, or a folder beside every
// name the recipe once set folders aside under: the recipe renames what they
// made as itself under a name nobody could take, writes nothing through a
// link, makes the folder the launcher hands over from, and keeps it when run
// again.
TEST_F (Launcher, TheHostFolderRecipeSetsAsideWhatAnOrdinaryUserMadeOfItsFolderAndWritesNothingThroughIt)
{
    if (const auto why = whyTheRecipeCannotRun())
        GTEST_SKIP() << *why;
    Squatter squatter;
    if (const auto why = squatter.whyNoUserSquats())
        GTEST_SKIP() << *why;
    const auto squatterSid = squatter.user.sidText();

    for (const auto& squat : { L"junction \"" + squatter.target + L"\"",
                               L"library \"" + squatter.folder + L"\\planted_library.dll\"", std::wstring (L"names") })
    {
        SCOPED_TRACE (squat);
        removeHost();
        ASSERT_EQ (squatter.make (squat), 0u) << "the ordinary user " << squatter.user.accountName();
        EXPECT_EQ (ownerOf (hostFolder()), squatterSid);

        EXPECT_EQ (runTheHostFolderRecipe(), 0u) << "run make-host-folder.ps1 from an elevated PowerShell to see why";
        const auto aside = Squatter::setAside (true);
        ASSERT_EQ (aside.size(), 1u);
        const auto attributes = GetFileAttributesW (aside[0].c_str());
        EXPECT_EQ ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0, squat.starts_with (L"junction"));
        EXPECT_EQ (GetFileAttributesW ((aside[0] + L"\\planted_library.dll").c_str()) != INVALID_FILE_ATTRIBUTES,
                   squat.starts_with (L"library"));
        EXPECT_EQ (GetFileAttributesW ((squatter.target + L"\\" + hostFileName).c_str()), INVALID_FILE_ATTRIBUTES)
            << "the recipe wrote through the junction";
        EXPECT_EQ (GetFileAttributesW (hostFolder().c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
        EXPECT_EQ (ownerOf (hostFolder()), L"S-1-5-32-544");
        expectBothParsersSee (handOver ({ u"document.txt" }), withHostNameFirst ({ u"document.txt" }));

        EXPECT_EQ (runTheHostFolderRecipe(), 0u) << "a second run";
        EXPECT_EQ (Squatter::setAside (true), aside) << "a second run set the recipe's own folder aside";
        expectBothParsersSee (handOver ({ u"document.txt" }), withHostNameFirst ({ u"document.txt" }));

        removeHost();
        DeleteFileW ((aside[0] + L"\\planted_library.dll").c_str());
        RemoveDirectoryW (aside[0].c_str());
    }
}

// An ordinary user holds Orvanel open, sharing nothing: the recipe can set
// it aside no more than anything else can, writes nothing, and says what to
// do; once the squatter's program ends, it goes on.
TEST_F (Launcher, TheHostFolderRecipeWritesNothingWhileAnOrdinaryUserHoldsItsFolderOpenAndSaysWhatToDo)
{
    if (const auto why = whyTheRecipeCannotRun())
        GTEST_SKIP() << *why;
    Squatter squatter;
    if (const auto why = squatter.whyNoUserSquats())
        GTEST_SKIP() << *why;
    removeHost();
    ASSERT_TRUE (squatter.hold()) << "the ordinary user " << squatter.user.accountName() << " holds no folder open";

    std::string said;
    EXPECT_NE (runTheHostFolderRecipe (&said), 0u);
    EXPECT_NE (said.find ("a program holds it"), std::string::npos) << said;
    EXPECT_EQ (GetFileAttributesW (hostPath().c_str()), INVALID_FILE_ATTRIBUTES) << "the recipe wrote the host";
    EXPECT_TRUE (Squatter::setAside (true).empty());

    squatter.end();
    EXPECT_EQ (runTheHostFolderRecipe(), 0u);
    EXPECT_EQ (Squatter::setAside (true).size(), 1u);
    expectBothParsersSee (handOver ({ u"document.txt" }), withHostNameFirst ({ u"document.txt" }));
}

} // namespace
