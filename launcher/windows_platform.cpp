#include "windows_platform.h"

#include "command_line.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <aclapi.h>
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

std::wstring wide (const Utf16& text)
{
    return { text.begin(), text.end() };
}

// Each entry ends in a null and the block in one more; an empty block still
// needs its two.
std::wstring environmentBlockOf (const Utf16List& entries)
{
    std::wstring block;

    for (const auto& entry : entries)
        block += wide (entry) + L'\0';

    return block + L'\0' + L'\0';
}

juce::String textOf (PSID sid)
{
    wchar_t* text = nullptr;

    if (! ConvertSidToStringSidW (sid, &text))
        return {};

    const juce::String sidText (text);
    LocalFree (text);
    return sidText;
}

// A volume without per-user security (FAT, for one) keeps no owners: anyone
// may write anything there anyway.
bool keepsOwners (const juce::String& fullPath)
{
    wchar_t volume[MAX_PATH] {};
    DWORD flags = 0;

    if (! GetVolumePathNameW (fullPath.toWideCharPointer(), volume, MAX_PATH)
        || ! GetVolumeInformationW (volume, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0))
        return true;

    return (flags & FILE_PERSISTENT_ACLS) != 0;
}

// A program started with no title gets its own path as one.
bool isTheLaunchersOwnPath (const wchar_t* title)
{
    std::wstring path (32768, L'\0');
    path.resize (GetModuleFileNameW (nullptr, path.data(), static_cast<DWORD> (path.size())));
    return CompareStringOrdinal (title, -1, path.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// Kill on close: ending the launcher ends the host. Silent breakaway: what
// the host starts itself, an updater for one, is not tied to either of them.
OwnedHandle createJobThatEndsTheHostWithTheLauncher()
{
    OwnedHandle job (CreateJobObjectW (nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;

    if (job.get() == nullptr || ! SetInformationJobObject (job.get(), JobObjectExtendedLimitInformation, &limits, sizeof (limits)))
        return OwnedHandle();

    return job;
}

} // namespace

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

bool pathExists (const juce::String& path)
{
    return juce::File (path).exists();
}

// The run-time's _wenviron can still be null in a program with a narrow entry
// point; the process's own block is always complete.
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

juce::String launchingUser()
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

    return textOf (reinterpret_cast<const TOKEN_USER*> (user.data())->User.Sid);
}

std::optional<juce::String> ownerOf (const juce::String& path)
{
    const auto fullPath = juce::File (path).getFullPathName();

    if (! keepsOwners (fullPath))
        return std::nullopt;

    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;

    if (GetNamedSecurityInfoW (fullPath.toWideCharPointer(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                               nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return juce::String();

    const auto ownerText = textOf (owner);
    LocalFree (descriptor);
    return ownerText;
}

juce::String accountNameOf (const juce::String& sidText)
{
    PSID sid = nullptr;

    if (! ConvertStringSidToSidW (sidText.toWideCharPointer(), &sid))
        return {};

    wchar_t name[256] {};
    wchar_t domain[256] {};
    DWORD nameLength = 256;
    DWORD domainLength = 256;
    SID_NAME_USE use;
    const auto resolved = LookupAccountSidW (nullptr, sid, name, &nameLength, domain, &domainLength, &use);
    LocalFree (sid);

    if (! resolved)
        return {};

    return domainLength > 0 ? juce::String (domain) + "\\" + juce::String (name) : juce::String (name);
}

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

std::variant<RunningHost, SystemError> startHost (const HandOver& request)
{
    auto commandLine = wide (joinCommandLine (request.hostArguments));

    // Over the limit CreateProcessW refuses the command line; refusing it here
    // gives the same answer on every platform that runs us.
    if (commandLine.size() > maxCommandLineLength)
        return SystemError (ERROR_FILENAME_EXCED_RANGE);

    auto environment = environmentBlockOf (request.hostEnvironment);
    // What the shortcut or the caller asked of the launcher's start (show
    // state, the shortcut as title, hotkey, monitor, standard handles) is
    // what the host would have got had it been started directly.
    STARTUPINFOW startup {};
    GetStartupInfoW (&startup);
    startup.cb = sizeof (startup);

    // Given no title, the host gets its own path, as the platform would give it.
    if (startup.lpTitle != nullptr && isTheLaunchersOwnPath (startup.lpTitle))
        startup.lpTitle = nullptr;

    // Suspended: the host must be in the job before it can start anything.
    const auto flags = CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED | GetPriorityClass (GetCurrentProcess());
    PROCESS_INFORMATION started {};

    if (! CreateProcessW (request.hostPath.toWideCharPointer(), commandLine.data(), nullptr, nullptr, TRUE, flags,
                          environment.data(), nullptr, &startup, &started))
        return SystemError (GetLastError());

    const OwnedHandle thread (started.hThread);
    RunningHost host { OwnedHandle (started.hProcess), createJobThatEndsTheHostWithTheLauncher() };

    // A job the launcher already runs in may allow no other: the host then
    // runs in that one alone, as it would have without the launcher.
    if (host.job.get() != nullptr && ! AssignProcessToJobObject (host.job.get(), host.process.get()))
        host.job = OwnedHandle();

    if (ResumeThread (thread.get()) == static_cast<DWORD> (-1))
    {
        const auto error = GetLastError();
        TerminateProcess (host.process.get(), error);
        return SystemError (error);
    }

    return host;
}

void standAsideForHost()
{
    // The folder the launcher was started in can then be renamed or removed
    // while the host runs, as if the host alone were running.
    wchar_t systemFolder[MAX_PATH] {};
    if (GetSystemDirectoryW (systemFolder, MAX_PATH) > 0)
        SetCurrentDirectoryW (systemFolder);

    // The busy pointer shows for a newly started GUI program until its first
    // GetMessage. The launcher's own ends here, while the host keeps its own
    // until its window is up. The message is posted first so that the call
    // returns at once; without it the call would wait for ever.
    MSG message;
    if (PostMessageW (nullptr, WM_NULL, 0, 0))
        GetMessageW (&message, nullptr, 0, 0);

    // Nothing the launcher touched so far is needed again.
    SetProcessWorkingSetSize (GetCurrentProcess(), static_cast<SIZE_T> (-1), static_cast<SIZE_T> (-1));
}

DWORD waitForExitStatus (const RunningHost& host)
{
    DWORD status = static_cast<DWORD> (-1);
    WaitForSingleObject (host.process.get(), INFINITE);
    GetExitCodeProcess (host.process.get(), &status);
    return status;
}

juce::String describeSystemError (SystemError error)
{
    wchar_t* text = nullptr;
    const auto length = FormatMessageW (FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<wchar_t*> (&text), 0, nullptr);
    const auto description = length > 0 ? juce::String (text, length).trimEnd() : "error " + juce::String (error);
    LocalFree (text);
    return description;
}

void showErrorBox (const ErrorReport& report)
{
    // The GUI layer exists only while the box does: a hand-over never pays for it.
    const juce::ScopedJuceInitialiser_GUI gui;
    juce::NativeMessageBox::showMessageBox (juce::MessageBoxIconType::NoIcon, report.title, report.body);
}

} // namespace launcher::platform
