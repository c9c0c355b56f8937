/* The plainest launcher of Tessalune's design, with no framework: it finds the
   host below the shared application-data folder and starts it in its place,
   provided that it and its folder belong to the launching user or to those who
   administer the machine, passing on its arguments, its start-up information, its priority class and
   its environment plus PRODUCTNAME=tessalune, in a job that ends the host with
   it; then it waits for the host and ends with its status.
   It is the floor Tessalune is measured against: what Tessalune costs beyond
   this is the price of its framework, not of the job. */

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <stdlib.h>
#include <wchar.h>

#define LAUNCH_FAILED -1
#define HOST_PATH_CAPACITY (MAX_PATH + 32)
#define MESSAGE_CAPACITY (HOST_PATH_CAPACITY + 256)
/* The longest command line CreateProcess accepts, its terminating null not counted. */
#define MAX_COMMAND_LINE_LENGTH 32766

static const wchar_t errorTitle[] = L"Invalid SONVIK installation!";
static const wchar_t hostFileName[] = L"Sonvik.exe";
static const wchar_t productEntry[] = L"PRODUCTNAME=tessalune";

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
    const wchar_t** const arguments = given == NULL ? NULL : calloc ((size_t) count + 1, sizeof (*arguments));

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

    wchar_t* const line = length - 1 > MAX_COMMAND_LINE_LENGTH ? NULL : malloc (length * sizeof (wchar_t));

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
    return _wcsnicmp (entry, L"PRODUCTNAME=", 12) == 0;
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

/* Started suspended, it joins the job before it can start anything; where our
   own job allows no other, it runs without. Returns 0 or the system's error. */
static DWORD startHost (const wchar_t* hostPath, wchar_t* commandLine, wchar_t* environment, PROCESS_INFORMATION* host,
                        HANDLE* job)
{
    STARTUPINFOW startup;
    GetStartupInfoW (&startup);
    startup.cb = sizeof (startup);
    const DWORD flags = CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED | GetPriorityClass (GetCurrentProcess());

    if (! CreateProcessW (hostPath, commandLine, NULL, NULL, TRUE, flags, environment, NULL, &startup, host))
        return GetLastError();

    *job = jobThatEndsTheHostWithUs();

    if (*job != NULL && ! AssignProcessToJobObject (*job, host->hProcess))
    {
        CloseHandle (*job);
        *job = NULL;
    }

    ResumeThread (host->hThread);
    CloseHandle (host->hThread);
    return 0;
}

/* The same release of the start folder, the start-up feedback and the
   working set as Tessalune's. */
static void standAsideForHost (void)
{
    wchar_t systemFolder[MAX_PATH];
    MSG message;

    if (GetSystemDirectoryW (systemFolder, MAX_PATH) > 0)
        SetCurrentDirectoryW (systemFolder);

    if (PostMessageW (NULL, WM_NULL, 0, 0))
        GetMessageW (&message, NULL, 0, 0);
    SetProcessWorkingSetSize (GetCurrentProcess(), (SIZE_T) -1, (SIZE_T) -1);
}

static const wchar_t* const administrators[] = {
    L"S-1-5-18", L"S-1-5-32-544", L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
};

/* The user of this process's token as an SID in text form, or NULL. */
static wchar_t* launchingUser (void)
{
    HANDLE token;
    union { TOKEN_USER user; unsigned char bytes[256]; } info;
    DWORD size = sizeof (info);
    wchar_t* text = NULL;

    if (! OpenProcessToken (GetCurrentProcess(), TOKEN_QUERY, &token))
        return NULL;

    if (GetTokenInformation (token, TokenUser, &info, size, &size))
        ConvertSidToStringSidW (info.user.User.Sid, &text);

    CloseHandle (token);
    return text;
}

/* A volume that keeps no owners lets anyone write anyway, so it is not asked. */
static int isOwnedByTrustee (const wchar_t* path, const wchar_t* user)
{
    wchar_t volume[MAX_PATH];
    DWORD flags = 0;
    PSID owner;
    PSECURITY_DESCRIPTOR descriptor;
    wchar_t* text = NULL;
    int trusted = 0;

    if (GetVolumePathNameW (path, volume, MAX_PATH) && GetVolumeInformationW (volume, NULL, 0, NULL, NULL, &flags, NULL, 0)
        && (flags & FILE_PERSISTENT_ACLS) == 0)
        return 1;

    if (GetNamedSecurityInfoW (path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, NULL, NULL, NULL, &descriptor) != ERROR_SUCCESS)
        return 0;

    if (ConvertSidToStringSidW (owner, &text))
    {
        trusted = user != NULL && wcscmp (text, user) == 0;

        for (size_t i = 0; i < sizeof (administrators) / sizeof (*administrators); ++i)
            trusted = trusted || wcscmp (text, administrators[i]) == 0;

        LocalFree (text);
    }

    LocalFree (descriptor);
    return trusted;
}

static int isHostTrusted (const wchar_t* hostPath)
{
    wchar_t folder[HOST_PATH_CAPACITY];
    wchar_t* const user = launchingUser();
    wcscpy (folder, hostPath);
    *wcsrchr (folder, L'\\') = L'\0';
    const int trusted = isOwnedByTrustee (hostPath, user) && isOwnedByTrustee (folder, user);
    LocalFree (user);
    return trusted;
}

static void composeHostPath (wchar_t* hostPath)
{
    wchar_t folder[MAX_PATH] = L"";
    SHGetSpecialFolderPathW (NULL, folder, CSIDL_COMMON_APPDATA, FALSE);
    wcscpy (hostPath, folder);
    wcscat (hostPath, L"\\Orvanel\\");
    wcscat (hostPath, hostFileName);
}

static int showErrorBox (const wchar_t* message)
{
    MessageBoxW (NULL, message, errorTitle, MB_OK);
    return LAUNCH_FAILED;
}

int WINAPI WinMain (HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    (void) instance, (void) previous, (void) commandLine, (void) show;
    wchar_t hostPath[HOST_PATH_CAPACITY];
    wchar_t message[MESSAGE_CAPACITY] = L"";
    composeHostPath (hostPath);

    if (GetFileAttributesW (hostPath) == INVALID_FILE_ATTRIBUTES)
    {
        _snwprintf (message, MESSAGE_CAPACITY - 1, L"Cannot find: %ls, please check your installation.", hostPath);
        return showErrorBox (message);
    }

    if (! isHostTrusted (hostPath))
    {
        _snwprintf (message, MESSAGE_CAPACITY - 1, L"Will not start %ls: another user could have put it there.", hostPath);
        return showErrorBox (message);
    }

    const wchar_t** const arguments = hostArguments();
    wchar_t* const environment = hostEnvironmentBlock();

    /* Memory that cannot be had ends the launch quietly, as in Tessalune. */
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

    if (error != 0)
    {
        wchar_t reason[256] = L"";
        FormatMessageW (FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error, 0, reason, 255, NULL);
        reason[wcscspn (reason, L"\r\n")] = L'\0';
        _snwprintf (message, MESSAGE_CAPACITY - 1, L"Cannot start: %ls (%ls), please check your installation.", hostPath, reason);
        return showErrorBox (message);
    }

    DWORD status = (DWORD) LAUNCH_FAILED;
    standAsideForHost();
    WaitForSingleObject (host.hProcess, INFINITE);
    GetExitCodeProcess (host.hProcess, &status);
    return (int) status;
}
