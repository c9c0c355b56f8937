// Who could have put the host there, end to end: owners, access lists and
// links that Windows keeps and Wine does not. Each case changes only the
// host's folder, which every case removes, and says why when it skips.

#include "host_folder_access.h"
#include "launcher_driver.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <winioctl.h>

#include <cstring>
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

// A junction at `link` to the folder `target`, as mklink /j makes one.
bool makeJunction (const std::wstring& link, const std::wstring& target)
{
    const auto substitute = L"\\??\\" + target;
    std::wstring names = substitute + L'\0' + target + L'\0';
    const auto namesSize = static_cast<WORD> (names.size() * sizeof (wchar_t));
    // REPARSE_DATA_BUFFER of a mount point: tag, data length, reserved, then
    // the offsets and lengths of the substitute and printed names.
    const WORD fields[] { static_cast<WORD> (8 + namesSize),
                          0,
                          0,
                          static_cast<WORD> (substitute.size() * sizeof (wchar_t)),
                          static_cast<WORD> ((substitute.size() + 1) * sizeof (wchar_t)),
                          static_cast<WORD> (target.size() * sizeof (wchar_t)) };
    std::vector<unsigned char> data (sizeof (DWORD) + sizeof (fields) + namesSize);
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy (data.data(), &tag, sizeof (tag));
    std::memcpy (data.data() + sizeof (tag), fields, sizeof (fields));
    std::memcpy (data.data() + sizeof (tag) + sizeof (fields), names.data(), namesSize);

    const auto folder = CreateFileW (link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return false;

    DWORD returned = 0;
    const auto made = DeviceIoControl (folder, FSCTL_SET_REPARSE_POINT, data.data(), static_cast<DWORD> (data.size()),
                                       nullptr, 0, &returned, nullptr);
    CloseHandle (folder);
    return made != FALSE;
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

bool runsUnderWine()
{
    return GetProcAddress (GetModuleHandleW (L"ntdll.dll"), "wine_get_version") != nullptr;
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
    ASSERT_TRUE (otherDrive && GetFileAttributesW (share.c_str()) != INVALID_FILE_ATTRIBUTES);
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
// would, writing the sample host; its exit status.
DWORD runTheHostFolderRecipe()
{
    wchar_t windows[MAX_PATH] {};
    GetSystemWindowsDirectoryW (windows, MAX_PATH);
    const auto here = folderOfThisProgram();
    ChildProcess recipe (std::wstring (windows) + L"\\System32\\WindowsPowerShell\\v1.0\\powershell.exe",
                         L"powershell -NoProfile -ExecutionPolicy Bypass -File \"" + here
                             + L"make-host-folder.ps1\" -Files \"" + here + hostFileName + L"\"",
                         std::nullopt, here);
    return recipe.hasStarted() && recipe.hasExited (5 * patienceMs) ? recipe.exitStatus() : ~0u;
}

// An ordinary user made Orvanel a junction to a folder of their own before
// the host's installer ran: the recipe renames the junction as itself,
// writes nothing through it, and makes the folder the launcher hands over from.
TEST_F (Launcher, TheHostFolderRecipeSetsASquattersJunctionAsideAndWritesNothingThroughIt)
{
    if (! isElevated())
        GTEST_SKIP() << "the recipe makes the host's folder as an administrator, from an elevated run";
    const std::wstring target = L"C:\\users\\Public\\Orvanel-junction-target";
    CreateDirectoryW (target.c_str(), nullptr);
    const auto made = makeJunction (hostFolder(), target);
    const auto status = made ? runTheHostFolderRecipe() : 0;
    WIN32_FIND_DATAW aside {};
    FindClose (FindFirstFileW ((hostFolder() + L"-set-aside-*").c_str(), &aside));
    const auto asidePath = hostFolder().substr (0, hostFolder().rfind (L'\\') + 1) + aside.cFileName;
    const auto writtenThrough = GetFileAttributesW ((target + L"\\" + hostFileName).c_str()) != INVALID_FILE_ATTRIBUTES;

    RemoveDirectoryW (asidePath.c_str());
    DeleteFileW ((target + L"\\" + hostFileName).c_str());
    RemoveDirectoryW (target.c_str());
    if (! made)
        GTEST_SKIP() << "this platform cannot make a junction (Wine cannot)";

    EXPECT_EQ (status, 0u) << "run make-host-folder.ps1 from an elevated PowerShell to see why";
    EXPECT_NE (aside.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u) << "the junction was not set aside as itself";
    EXPECT_FALSE (writtenThrough) << "the recipe wrote through the junction";
    EXPECT_EQ (GetFileAttributesW (hostFolder().c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    expectBothParsersSee (handOver ({ u"document.txt" }), withHostNameFirst ({ u"document.txt" }));
}

} // namespace
