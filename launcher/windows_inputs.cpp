// The launch's inputs as Windows gives them: the command line, the shared
// application-data folder, the environment, and who started the launcher.

#include "windows_platform.h"

#include <sddl.h>
#include <shellapi.h>

#include <cwchar>

namespace launcher::platform
{

namespace
{

static_assert (sizeof (wchar_t) == sizeof (char16_t), "Windows' wide characters are UTF-16 code units");

Utf16 toUtf16 (const wchar_t* text)
{
    return reinterpret_cast<const char16_t*> (text);
}

} // namespace

OwnedHandle::~OwnedHandle()
{
    if (handle != nullptr)
        CloseHandle (handle);
}

OwnedHandle& OwnedHandle::operator= (OwnedHandle&& other) noexcept
{
    std::swap (handle, other.handle);
    return *this;
}

std::optional<Utf16List> splitCommandLine()
{
    int count = 0;
    auto** arguments = CommandLineToArgvW (GetCommandLineW(), &count);

    if (arguments == nullptr)
        return std::nullopt;

    Utf16List split;
    split.reserve (static_cast<std::size_t> (count));

    for (int i = 0; i < count; ++i)
        split.push_back (toUtf16 (arguments[i]));

    LocalFree (arguments);
    return split;
}

juce::String sharedApplicationDataFolder()
{
    return juce::File::getSpecialLocation (juce::File::commonApplicationDataDirectory).getFullPathName();
}

// The shared Windows folder, even on a terminal server where each user has a
// Windows folder of their own.
// https://learn.microsoft.com/en-us/windows/win32/api/sysinfoapi/nf-sysinfoapi-getsystemwindowsdirectoryw
juce::String windowsDrive()
{
    wchar_t folder[MAX_PATH + 1] {};
    const auto length = GetSystemWindowsDirectoryW (folder, MAX_PATH + 1);

    const auto letter = folder[0] | 0x20;

    if (length < 2 || length > MAX_PATH || folder[1] != L':' || letter < L'a' || letter > L'z')
        return {};

    return juce::String (folder, 2);
}

// The run-time's _wenviron can still be null in a program with a narrow entry
// point; the process's own block is always complete.
// https://learn.microsoft.com/cpp/c-runtime-library/reference/getenv-wgetenv
Utf16List currentEnvironment()
{
    Utf16List entries;
    auto* block = GetEnvironmentStringsW();

    if (block == nullptr)
        return entries;

    for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wcslen (entry) + 1)
        entries.push_back (toUtf16 (entry));

    FreeEnvironmentStringsW (block);
    return entries;
}

Sid launchingUser()
{
    HANDLE token = nullptr;

    if (! OpenProcessToken (GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};

    const OwnedHandle ownedToken (token);
    DWORD size = 0;
    GetTokenInformation (token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user (size);

    if (size == 0 || ! GetTokenInformation (token, TokenUser, user.data(), size, &size))
        return {};

    return sidOf (reinterpret_cast<const TOKEN_USER*> (user.data())->User.Sid);
}

// LookupAccountSidW may ask a domain controller, which can take long offline;
// the local form searches the local computer only. advapi32 exports it from
// Windows 7 on, where winbase.h declares it (before, a macro for the other);
// MinGW-w64's import library lacks it, so it is looked up here, and where it
// is missing the box names the SID.
// https://learn.microsoft.com/en-us/windows/win32/api/winbase/nf-winbase-lookupaccountsidlocalw
juce::String accountNameOf (const Sid& account)
{
    using LookupLocal = BOOL (WINAPI*) (PSID, LPWSTR, LPDWORD, LPWSTR, LPDWORD, PSID_NAME_USE);
    const auto lookUp = reinterpret_cast<LookupLocal> (
        reinterpret_cast<void*> (GetProcAddress (GetModuleHandleW (L"advapi32.dll"), "LookupAccountSidLocalW")));
    PSID sid = nullptr;

    if (lookUp == nullptr || ! ConvertStringSidToSidW (account.text.toWideCharPointer(), &sid))
        return {};

    wchar_t name[256] {};
    wchar_t domain[256] {};
    DWORD nameLength = 256;
    DWORD domainLength = 256;
    SID_NAME_USE use;
    const auto resolved = lookUp (sid, name, &nameLength, domain, &domainLength, &use);
    LocalFree (sid);

    if (! resolved)
        return {};

    return domainLength > 0 ? juce::String (domain) + "\\" + juce::String (name) : juce::String (name);
}

} // namespace launcher::platform
