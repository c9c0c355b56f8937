/* The plainest launcher of this design, with no framework: the floor the
   product table's first launcher is measured against, so that what the
   launcher costs beyond it is the price of its framework, not of the job.

   It makes the same system calls as the launcher on the way to the host: it
   finds the host below the shared application-data folder, holds the host
   and its folder open without following links while it reads their link
   attribute, their volume's flags, their owners and access lists, refuses
   what another user could have put there, and starts the host in its place
   inside a job that ends the host with it (created in the job where Windows
   offers it), passing on its arguments, its start-up information, its
   priority class and its environment plus the product's PRODUCTNAME; then it
   stands aside, waits for the host to be ready for input, then for its end,
   and ends with its status.

   What it leaves out changes no figure: it judges with fewer words (its
   refusal names no account), reads the host path without the framework's
   normalisation, and runs no library search narrowing, which costs one call.
   Beside the launcher, it hands over to the end-to-end tests' hosts, so that
   it cannot drift from what it measures. */

#include "family.h"
#include "product.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <stdlib.h>
#include <wchar.h>

#define LAUNCH_FAILED -1
#define HOST_PATH_CAPACITY (MAX_PATH + 32)
#define MESSAGE_CAPACITY (2 * HOST_PATH_CAPACITY + 256)
#define WIDE(text) L"" text

static const wchar_t errorTitle[] = WIDE (FAMILY_ERROR_TITLE);
static const wchar_t hostFileName[] = WIDE (FAMILY_HOST_FILE);
static const wchar_t productEntry[] = WIDE (FAMILY_PRODUCT_VARIABLE "=" PRODUCT_VALUE);
static const wchar_t* const administrators[] = { WIDE (FAMILY_SYSTEM_SID), WIDE (FAMILY_ADMINISTRATORS_SID),
                                                 WIDE (FAMILY_TRUSTED_INSTALLER_SID) };

/* The host's command line joins its arguments with bare spaces, so each one
   must already be written the way the host's parser splits it back. */
static int needsQuotes (const wchar_t* argument)
{
    return *argument == L'\0' || wcspbrk (argument, L" \t\n\v\"") != NULL;
}

static wchar_t* appendBackslashes (wchar_t* out, size_t count)
{
    while (count-- > 0)
        *out++ = L'\\';

    return out;
}

static wchar_t* quoteArgument (wchar_t* argument)
{
    if (! needsQuotes (argument))
        return argument;

    /* At worst every unit is escaped, plus the two quotes and the terminator. */
    wchar_t* const quoted = malloc ((wcslen (argument) * 2 + 3) * sizeof (wchar_t));

    if (quoted == NULL)
        return NULL;

    wchar_t* out = quoted;
    size_t backslashes = 0;
    *out++ = L'"';

    for (; *argument != L'\0'; ++argument)
    {
        if (*argument == L'\\')
        {
            ++backslashes;
            continue;
        }

        /* Backslashes are literal unless a quote follows them. */
        out = appendBackslashes (out, *argument == L'"' ? backslashes * 2 + 1 : backslashes);
        backslashes = 0;
        *out++ = *argument;
    }

    /* The closing quote follows the trailing run, so it is doubled too. */
    out = appendBackslashes (out, backslashes * 2);
    *out++ = L'"';
    *out = L'\0';
    return quoted;
}

/* The host sees its bare name as slot 0, never the path it was started from. */
static const wchar_t** hostArguments (void)
{
    int count = 0;
    wchar_t** const given = CommandLineToArgvW (GetCommandLineW(), &count);
    const wchar_t** const arguments = given == NULL ? NULL : calloc ((size_t)count + 1, sizeof (*arguments));

    if (arguments == NULL)
        return NULL;

    arguments[0] = hostFileName;

    for (int i = 1; i < count; ++i)
        if ((arguments[i] = quoteArgument (given[i])) == NULL)
            return NULL;

    return arguments;
}

/* The arguments joined with single spaces, or NULL when the result would be
   over the limit or cannot be had. */
static wchar_t* joinedCommandLine (const wchar_t* const* arguments)
{
    size_t length = 0;

    for (const wchar_t* const* argument = arguments; *argument != NULL; ++argument)
        length += wcslen (*argument) + 1;

    wchar_t* const line = length - 1 > FAMILY_MAX_COMMAND_LINE_LENGTH ? NULL : malloc (length * sizeof (wchar_t));

    if (line == NULL)
        return NULL;

    *line = L'\0';

    for (const wchar_t* const* argument = arguments; *argument != NULL; ++argument)
    {
        if (argument != arguments)
            wcscat (line, L" ");

        wcscat (line, *argument);
    }

    return line;
}

/* Hosts read the first entry of a name, so an inherited PRODUCTNAME, in any
   case, would win over ours if it were kept. The C locale folds ASCII only,
   as Windows does for these letters. */
static int namesProduct (const wchar_t* entry)
{
    const size_t length = wcslen (WIDE (FAMILY_PRODUCT_VARIABLE));
    return _wcsnicmp (entry, WIDE (FAMILY_PRODUCT_VARIABLE), length) == 0 && entry[length] == L'=';
}

/* The inherited block without its PRODUCTNAME entries, then ours, then the
   closing null. */
static wchar_t* hostEnvironmentBlock (void)
{
    const wchar_t* const block = GetEnvironmentStringsW();
    size_t length = wcslen (productEntry) + 2;

    for (const wchar_t* entry = block; entry != NULL && *entry != L'\0'; entry += wcslen (entry) + 1)
        length += wcslen (entry) + 1;

    wchar_t* const environment = malloc (length * sizeof (wchar_t));

    if (environment == NULL)
        return NULL;

    wchar_t* out = environment;

    for (const wchar_t* entry = block; entry != NULL && *entry != L'\0'; entry += wcslen (entry) + 1)
        if (! namesProduct (entry))
            out = wcscpy (out, entry) + wcslen (entry) + 1;

    out = wcscpy (out, productEntry) + wcslen (productEntry) + 1;
    *out = L'\0';
    return environment;
}

/* The user of this process's token as an SID in text form, or NULL. */
static wchar_t* launchingUser (void)
{
    HANDLE token;
    union
    {
        TOKEN_USER user;
        unsigned char bytes[256];
    } info;
    DWORD size = sizeof (info);
    wchar_t* text = NULL;

    if (! OpenProcessToken (GetCurrentProcess(), TOKEN_QUERY, &token))
        return NULL;

    if (GetTokenInformation (token, TokenUser, &info, size, &size))
        ConvertSidToStringSidW (info.user.User.Sid, &text);

    CloseHandle (token);
    return text;
}

static int isTrustedAccount (PSID sid, const wchar_t* user)
{
    wchar_t* text = NULL;
    int trusted = 0;

    if (! ConvertSidToStringSidW (sid, &text))
        return 0;

    trusted = user != NULL && wcscmp (text, user) == 0;

    for (size_t i = 0; i < sizeof (administrators) / sizeof (*administrators); ++i)
        trusted = trusted || wcscmp (text, administrators[i]) == 0;

    LocalFree (text);
    return trusted;
}

/* Whether an entry of the access list lets an untrusted account change the
   object; only the plain allow entries that files carry are read. */
static int letsAnotherChange (const void* ace, DWORD rights, const wchar_t* user)
{
    const ACCESS_ALLOWED_ACE* const entry = ace;
    return entry->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && (entry->Header.AceFlags & INHERIT_ONLY_ACE) == 0
        && (entry->Mask & rights) != 0 && ! isTrustedAccount ((PSID)&entry->SidStart, user);
}

/* Held open, shared for reading only, from here until the host has started;
   a link is opened itself, not followed. */
static HANDLE hold (const wchar_t* path)
{
    return CreateFileW (path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
}

/* A link is refused, as is a volume without permissions, an object another
   user owns, and one another user may change. */
static int isTrusted (HANDLE held, DWORD rights, const wchar_t* user)
{
    BY_HANDLE_FILE_INFORMATION information;
    DWORD flags = 0;
    PSID owner = NULL;
    PACL accessList = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;

    if (! GetFileInformationByHandle (held, &information)
        || (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0
        || (GetVolumeInformationByHandleW (held, NULL, 0, NULL, NULL, &flags, NULL, 0)
            && (flags & FILE_PERSISTENT_ACLS) == 0)
        || GetSecurityInfo (held, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, NULL,
                            &accessList, NULL, &descriptor)
            != ERROR_SUCCESS)
        return 0;

    int trusted = owner != NULL && accessList != NULL && isTrustedAccount (owner, user);

    for (DWORD i = 0; trusted && i < accessList->AceCount; ++i)
    {
        void* ace = NULL;
        trusted = GetAce (accessList, i, &ace) && ! letsAnotherChange (ace, rights, user);
    }

    LocalFree (descriptor);
    return trusted;
}

static HANDLE jobThatEndsTheHostWithUs (void)
{
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = { 0 };
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
    const HANDLE job = CreateJobObjectW (NULL, NULL);

    if (job != NULL && ! SetInformationJobObject (job, JobObjectExtendedLimitInformation, &limits, sizeof (limits)))
    {
        CloseHandle (job);
        return NULL;
    }

    return job;
}

/* Windows 10 and later create the host inside the job. */
static int startInsideJob (const wchar_t* hostPath, wchar_t* commandLine, wchar_t* environment,
                           const STARTUPINFOW* callers, DWORD flags, HANDLE job, PROCESS_INFORMATION* host)
{
    SIZE_T size = 0;
    STARTUPINFOEXW startup;
    int started = 0;

    InitializeProcThreadAttributeList (NULL, 1, 0, &size);
    LPPROC_THREAD_ATTRIBUTE_LIST const attributes = size == 0 ? NULL : malloc (size);

    if (attributes == NULL || ! InitializeProcThreadAttributeList (attributes, 1, 0, &size))
        return 0;

    if (UpdateProcThreadAttribute (attributes, 0, PROC_THREAD_ATTRIBUTE_JOB_LIST, &job, sizeof (job), NULL, NULL))
    {
        startup.StartupInfo = *callers;
        startup.StartupInfo.cb = sizeof (startup);
        startup.lpAttributeList = attributes;
        started = CreateProcessW (hostPath, commandLine, NULL, NULL, TRUE, flags | EXTENDED_STARTUPINFO_PRESENT,
                                  environment, NULL, &startup.StartupInfo, host);
    }

    DeleteProcThreadAttributeList (attributes);
    return started;
}

/* Given no title, the host gets its own path, as the platform would give it,
   not the launcher's, which the platform gave the launcher. */
static void clearOwnPathAsTitle (STARTUPINFOW* startup)
{
    wchar_t* const ownPath = startup->lpTitle == NULL ? NULL : malloc (32768 * sizeof (wchar_t));

    if (ownPath != NULL && GetModuleFileNameW (NULL, ownPath, 32768) > 0
        && CompareStringOrdinal (startup->lpTitle, -1, ownPath, -1, TRUE) == CSTR_EQUAL)
        startup->lpTitle = NULL;

    free (ownPath);
}

/* Where the attribute is refused, started suspended, it joins the job before
   it can start anything; where our own job allows no other, it runs without.
   Returns 0 or the system's error. */
static DWORD startHost (const wchar_t* hostPath, wchar_t* commandLine, wchar_t* environment, PROCESS_INFORMATION* host,
                        HANDLE* job)
{
    STARTUPINFOW startup;
    GetStartupInfoW (&startup);
    startup.cb = sizeof (startup);
    clearOwnPathAsTitle (&startup);
    const DWORD flags = CREATE_UNICODE_ENVIRONMENT | GetPriorityClass (GetCurrentProcess());
    *job = jobThatEndsTheHostWithUs();

    if (*job != NULL && startInsideJob (hostPath, commandLine, environment, &startup, flags, *job, host))
    {
        CloseHandle (host->hThread);
        return 0;
    }

    if (! CreateProcessW (hostPath, commandLine, NULL, NULL, TRUE, flags | CREATE_SUSPENDED, environment, NULL,
                          &startup, host))
        return GetLastError();

    if (*job != NULL && ! AssignProcessToJobObject (*job, host->hProcess))
    {
        CloseHandle (*job);
        *job = NULL;
    }

    if (ResumeThread (host->hThread) == (DWORD)-1)
    {
        const DWORD error = GetLastError();
        TerminateProcess (host->hProcess, error);
        return error;
    }

    CloseHandle (host->hThread);
    return 0;
}

/* The same release of the start folder, the start-up feedback, the log-off
   order and the working set as the launcher's. */
static void standAsideForHost (void)
{
    wchar_t systemFolder[MAX_PATH];
    MSG message;

    if (GetSystemDirectoryW (systemFolder, MAX_PATH) > 0)
        SetCurrentDirectoryW (systemFolder);

    if (PostMessageW (NULL, WM_NULL, 0, 0))
        GetMessageW (&message, NULL, 0, 0);
    SetProcessShutdownParameters (0x100, 0);
    SetProcessWorkingSetSize (GetCurrentProcess(), (SIZE_T)-1, (SIZE_T)-1);
}

/* Ready for input once the host is, then answering its queue until the host ends. */
static DWORD waitForExitStatus (HANDLE host)
{
    DWORD status = (DWORD)LAUNCH_FAILED;
    MSG message;

    WaitForInputIdle (host, 60000);

    while (MsgWaitForMultipleObjectsEx (1, &host, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_OBJECT_0 + 1)
        while (PeekMessageW (&message, NULL, 0, 0, PM_REMOVE))
            DispatchMessageW (&message);

    WaitForSingleObject (host, INFINITE);
    GetExitCodeProcess (host, &status);
    return status;
}

static void composeHostPath (wchar_t* folder, wchar_t* hostPath)
{
    wchar_t shared[MAX_PATH] = L"";
    SHGetSpecialFolderPathW (NULL, shared, CSIDL_COMMON_APPDATA, FALSE);
    _snwprintf (folder, HOST_PATH_CAPACITY - 1, L"%ls\\%ls", shared, WIDE (FAMILY_HOST_FOLDER));
    _snwprintf (hostPath, HOST_PATH_CAPACITY - 1, L"%ls\\%ls", folder, hostFileName);
}

static int showErrorBox (const wchar_t* message)
{
    MessageBoxW (NULL, message, errorTitle, MB_OK);
    return LAUNCH_FAILED;
}

/* The system's text with the host path in place of each insert. */
static int showCannotStart (const wchar_t* hostPath, DWORD error)
{
    wchar_t reason[HOST_PATH_CAPACITY + 256] = L"";
    wchar_t message[MESSAGE_CAPACITY] = L"";
    DWORD_PTR inserts[2 * 99];

    for (size_t i = 0; i < sizeof (inserts) / sizeof (*inserts); ++i)
        inserts[i] = (DWORD_PTR)hostPath;

    FormatMessageW (FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY, NULL, error, 0, reason,
                    sizeof (reason) / sizeof (*reason) - 1, (va_list*)inserts);
    reason[wcscspn (reason, L"\r\n")] = L'\0';
    _snwprintf (message, MESSAGE_CAPACITY - 1, L"Cannot start: %ls (%ls), please check your installation.", hostPath,
                reason);
    return showErrorBox (message);
}

int WINAPI WinMain (HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    (void)instance, (void)previous, (void)commandLine, (void)show;
    wchar_t folder[HOST_PATH_CAPACITY] = L"";
    wchar_t hostPath[HOST_PATH_CAPACITY] = L"";
    wchar_t message[MESSAGE_CAPACITY] = L"";
    wchar_t* const user = launchingUser();
    composeHostPath (folder, hostPath);

    /* The folder first: held, it cannot be renamed while the host is opened in it. */
    const HANDLE heldFolder = hold (folder);
    const DWORD folderError = GetLastError();
    const HANDLE heldHost = hold (hostPath);
    const DWORD openError = heldFolder == INVALID_HANDLE_VALUE ? folderError : GetLastError();

    if (heldFolder == INVALID_HANDLE_VALUE || heldHost == INVALID_HANDLE_VALUE)
    {
        if (GetFileAttributesW (hostPath) != INVALID_FILE_ATTRIBUTES)
            return showCannotStart (hostPath, openError);

        _snwprintf (message, MESSAGE_CAPACITY - 1, L"Cannot find: %ls, please check your installation.", hostPath);
        return showErrorBox (message);
    }

    if (! isTrusted (heldFolder, FAMILY_RIGHTS_THAT_CHANGE_THE_FOLDER, user)
        || ! isTrusted (heldHost, FAMILY_RIGHTS_THAT_CHANGE_THE_HOST, user))
    {
        _snwprintf (message, MESSAGE_CAPACITY - 1, L"Will not start %ls: another user could have put it there.",
                    hostPath);
        return showErrorBox (message);
    }

    const wchar_t** const arguments = hostArguments();
    wchar_t* const environment = hostEnvironmentBlock();

    /* Memory that cannot be had ends the launch quietly, as in the launcher. */
    if (arguments == NULL || environment == NULL)
        return LAUNCH_FAILED;

    /* Over the limit the platform refuses the command line; refused here, the
       host never starts with arguments missing. */
    wchar_t* const hostCommandLine = joinedCommandLine (arguments);
    PROCESS_INFORMATION host;
    /* Held until this process ends: closing it ends the host. */
    HANDLE job = NULL;
    const DWORD error = hostCommandLine == NULL ? ERROR_FILENAME_EXCED_RANGE
                                                : startHost (hostPath, hostCommandLine, environment, &host, &job);
    CloseHandle (heldHost);
    CloseHandle (heldFolder);

    if (error != 0)
        return showCannotStart (hostPath, error);

    standAsideForHost();
    return (int)waitForExitStatus (host.hProcess);
}
