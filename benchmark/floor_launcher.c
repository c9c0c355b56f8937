/* The plainest launcher of Tessalune's design, with no framework: it finds the
   host below the shared application-data folder and replaces itself with it,
   passing on its arguments and its environment plus PRODUCTNAME=tessalune.
   It is the floor Tessalune is measured against: what Tessalune costs beyond
   this is the price of its framework, not of the job. */

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <errno.h>
#include <process.h>
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

/* The host's C run-time joins its arguments with bare spaces, so each one must
   already be written the way the host's parser splits it back. */
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

/* The run-time's exec joins the arguments with single spaces and adds nothing else. */
static size_t joinedLength (const wchar_t* const* arguments)
{
    size_t length = 0;

    for (; *arguments != NULL; ++arguments)
        length += wcslen (*arguments) + 1;

    return length - 1;
}

/* Hosts read the first entry of a name, so an inherited PRODUCTNAME, in any
   case, would win over ours if it were kept. The C locale folds ASCII only,
   as Windows does for these letters. */
static int namesProduct (const wchar_t* entry)
{
    return _wcsnicmp (entry, L"PRODUCTNAME=", 12) == 0;
}

/* The block is never freed: on success the host replaces this process. */
static const wchar_t** hostEnvironment (void)
{
    const wchar_t* const block = GetEnvironmentStringsW();
    size_t count = 0;

    for (const wchar_t* entry = block; entry != NULL && *entry != L'\0'; entry += wcslen (entry) + 1)
        ++count;

    const wchar_t** const environment = calloc (count + 2, sizeof (*environment));

    if (environment == NULL)
        return NULL;

    size_t kept = 0;

    for (const wchar_t* entry = block; entry != NULL && *entry != L'\0'; entry += wcslen (entry) + 1)
        if (! namesProduct (entry))
            environment[kept++] = entry;

    environment[kept] = productEntry;
    return environment;
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

    const wchar_t** const arguments = hostArguments();
    const wchar_t** const environment = hostEnvironment();

    /* Memory that cannot be had ends the launch quietly, as in Tessalune. */
    if (arguments == NULL || environment == NULL)
        return LAUNCH_FAILED;

    /* Over the limit the platform refuses the command line, or cuts it short;
       refused here, the host never starts with arguments missing. */
    if (joinedLength (arguments) > MAX_COMMAND_LINE_LENGTH)
        errno = E2BIG;
    else
        _wexecve (hostPath, arguments, environment);

    /* Only a host that could not be started comes back here. */
    _snwprintf (message, MESSAGE_CAPACITY - 1, L"Cannot start: %ls (%ls), please check your installation.",
                hostPath, _wcserror (errno));
    return showErrorBox (message);
}
