// Starting the host in the launcher's place, and standing in for it until it
// ends: for its caller, its job, the shell's start-up feedback and log-off.

#include "windows_platform.h"

#include "command_line.h"
#include "family.h"
#include "host_environment.h"

#include <string>
#include <vector>

namespace launcher::platform
{

namespace
{

// How long the launcher waits for its host to be ready for input before it
// says it is ready itself: a host may never wait for input.
constexpr DWORD hostReadyPatienceMs = 60000;

// Windows ends applications at log-off in order of this level, highest
// first; every application starts at 0x280.
// http://msdn.microsoft.com/en-us/library/ms686227(v=vs.85).aspx (SetProcessShutdownParameters)
constexpr DWORD shutdownLevelAfterTheHost = 0x100;

std::wstring wide (const Utf16& text)
{
    return { text.begin(), text.end() };
}

// A program started with no title gets its own path as one.
bool isTheLaunchersOwnPath (const wchar_t* title)
{
    std::wstring path (32768, L'\0');
    path.resize (GetModuleFileNameW (nullptr, path.data(), static_cast<DWORD> (path.size())));
    return CompareStringOrdinal (title, -1, path.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// What the shortcut or the caller asked of the launcher's start (show state,
// the shortcut as title, hotkey, monitor, standard handles) is what the host
// would have got had it been started directly.
// https://learn.microsoft.com/en-us/windows/win32/api/processthreadsapi/ns-processthreadsapi-startupinfow
STARTUPINFOW callersStartupInformation()
{
    STARTUPINFOW startup {};
    GetStartupInfoW (&startup);
    startup.cb = sizeof (startup);

    // Given no title, the host gets its own path, as the platform would give it.
    if (startup.lpTitle != nullptr && isTheLaunchersOwnPath (startup.lpTitle))
        startup.lpTitle = nullptr;

    return startup;
}

// Kill on close: ending the launcher ends the host. Silent breakaway: what
// the host starts itself, an updater for one, is not tied to either of them.
// https://learn.microsoft.com/en-us/windows/win32/api/winnt/ns-winnt-jobobject_basic_limit_information
OwnedHandle createJobThatEndsTheHostWithTheLauncher()
{
    OwnedHandle job (CreateJobObjectW (nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;

    if (! job || ! SetInformationJobObject (job.get(), JobObjectExtendedLimitInformation, &limits, sizeof (limits)))
        return OwnedHandle();

    return job;
}

// Everything CreateProcessW is given for the host, whichever way it is started.
struct HostStart
{
    std::wstring path;
    std::wstring commandLine;
    std::wstring environment;
    STARTUPINFOW startup;
    DWORD flags;
};

struct CreatedHost
{
    OwnedHandle process;
    OwnedHandle thread;
};

std::variant<CreatedHost, SystemError> createHost (HostStart& start, DWORD moreFlags, STARTUPINFOW& startup)
{
    PROCESS_INFORMATION created {};

    if (! CreateProcessW (start.path.c_str(), start.commandLine.data(), nullptr, nullptr, TRUE, start.flags | moreFlags,
                          start.environment.data(), nullptr, &startup, &created))
        return SystemError (GetLastError());

    return CreatedHost { OwnedHandle (created.hProcess), OwnedHandle (created.hThread) };
}

// Created inside the job, the host runs not one instruction outside it, so no
// end of the launcher can leave it behind. Windows 10 and later offer this;
// older Windows refuse the attribute, and nothing is started here.
// https://learn.microsoft.com/en-us/windows/win32/api/processthreadsapi/nf-processthreadsapi-updateprocthreadattribute
std::optional<OwnedHandle> startInsideJob (HostStart& start, HANDLE job)
{
    SIZE_T size = 0;
    InitializeProcThreadAttributeList (nullptr, 1, 0, &size);
    std::vector<unsigned char> storage (size);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST> (storage.data());

    if (size == 0 || ! InitializeProcThreadAttributeList (attributes, 1, 0, &size))
        return std::nullopt;

    std::optional<OwnedHandle> process;

    if (UpdateProcThreadAttribute (attributes, 0, PROC_THREAD_ATTRIBUTE_JOB_LIST, &job, sizeof (job), nullptr, nullptr))
    {
        STARTUPINFOEXW startup {};
        startup.StartupInfo = start.startup;
        startup.StartupInfo.cb = sizeof (startup);
        startup.lpAttributeList = attributes;

        auto created = createHost (start, EXTENDED_STARTUPINFO_PRESENT, startup.StartupInfo);

        if (auto* host = std::get_if<CreatedHost> (&created))
            process = std::move (host->process);
    }

    DeleteProcThreadAttributeList (attributes);
    return process;
}

// Suspended, the host joins the job before it can start anything. A job the
// launcher already runs in may allow no other: the host then runs in that one
// alone, as it would have without the launcher.
// https://learn.microsoft.com/windows/win32/api/jobapi2/nf-jobapi2-assignprocesstojobobject
std::variant<RunningHost, SystemError> startThenJoinJob (HostStart& start, OwnedHandle job)
{
    auto created = createHost (start, CREATE_SUSPENDED, start.startup);

    if (const auto* error = std::get_if<SystemError> (&created))
        return *error;

    auto& [process, thread] = std::get<CreatedHost> (created);
    RunningHost host { std::move (process), std::move (job) };

    if (host.job && ! AssignProcessToJobObject (host.job.get(), host.process.get()))
        host.job = OwnedHandle();

    if (ResumeThread (thread.get()) == static_cast<DWORD> (-1))
    {
        const auto error = GetLastError();
        TerminateProcess (host.process.get(), error);
        return SystemError (error);
    }

    return host;
}

// Until the host ends, whatever reaches the launcher's queue is answered, so
// the launcher counts as waiting for input, as a caller that waits for it to
// be ready expects once its host is.
// http://blogs.msdn.com/b/oldnewthing/archive/2010/03/25/9984720.aspx
void waitForEndAnsweringMessages (HANDLE process)
{
    while (MsgWaitForMultipleObjectsEx (1, &process, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_OBJECT_0 + 1)
    {
        MSG message;

        while (PeekMessageW (&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW (&message);
    }

    // Ended, or the wait itself failed: then the host is waited for plainly.
    WaitForSingleObject (process, INFINITE);
}

} // namespace

std::variant<RunningHost, SystemError> startHost (const HandOver& request)
{
    auto commandLine = wide (joinCommandLine (request.hostArguments));

    // Over the limit CreateProcessW refuses the command line; refusing it here
    // gives the same answer on every platform that runs us.
    // https://learn.microsoft.com/windows/win32/api/processthreadsapi/nf-processthreadsapi-createprocessw
    if (commandLine.size() > FAMILY_MAX_COMMAND_LINE_LENGTH)
        return SystemError (ERROR_FILENAME_EXCED_RANGE);

    HostStart start { request.hostPath.toWideCharPointer(), std::move (commandLine),
                      wide (environmentBlockOf (request.hostEnvironment)), callersStartupInformation(),
                      CREATE_UNICODE_ENVIRONMENT | GetPriorityClass (GetCurrentProcess()) };
    auto job = createJobThatEndsTheHostWithTheLauncher();

    if (job)
        if (auto process = startInsideJob (start, job.get()))
            return RunningHost { std::move (*process), std::move (job) };

    return startThenJoinJob (start, std::move (job));
}

void standAsideForHost()
{
    // The folder the launcher was started in can then be renamed or removed
    // while the host runs, as if the host alone were running.
    // https://devblogs.microsoft.com/oldnewthing/20101109-00/?p=12323
    wchar_t systemFolder[MAX_PATH] {};
    if (GetSystemDirectoryW (systemFolder, MAX_PATH) > 0)
        SetCurrentDirectoryW (systemFolder);

    // The busy pointer shows for a newly started GUI program until its first
    // GetMessage. The launcher's own ends here, while the host keeps its own
    // until its window is up. The message is posted first so that the call
    // returns at once; without it the call would wait for ever.
    // https://learn.microsoft.com/en-us/windows/win32/api/processthreadsapi/ns-processthreadsapi-startupinfow
    MSG message;
    if (PostMessageW (nullptr, WM_NULL, 0, 0))
        GetMessageW (&message, nullptr, 0, 0);

    // At log-off the host is asked to end, and can save its work, before the
    // launcher goes, and with it the job that would end the host at once.
    SetProcessShutdownParameters (shutdownLevelAfterTheHost, 0);

    // Nothing the launcher touched so far is needed again.
    // https://learn.microsoft.com/en-us/windows/win32/api/memoryapi/nf-memoryapi-setprocessworkingsetsize
    SetProcessWorkingSetSize (GetCurrentProcess(), static_cast<SIZE_T> (-1), static_cast<SIZE_T> (-1));
}

DWORD waitForExitStatus (const RunningHost& host)
{
    // A caller that waits for the launcher to be ready for input (ShellExecuteEx
    // with SEE_MASK_WAITFORINPUTIDLE, WaitForInputIdle) waits for the host's
    // window, as if it had started the host itself: the launcher waits for
    // input only once the host does. A host without a message queue, or a
    // console host, counts as ready at once.
    // https://learn.microsoft.com/en-us/windows/desktop/api/Winuser/nf-winuser-waitforinputidle
    WaitForInputIdle (host.process.get(), hostReadyPatienceMs);
    waitForEndAnsweringMessages (host.process.get());

    DWORD status = static_cast<DWORD> (-1);
    GetExitCodeProcess (host.process.get(), &status);
    return status;
}

} // namespace launcher::platform
