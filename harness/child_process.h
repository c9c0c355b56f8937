#pragma once

// A program started with CreateProcessW, for a test or a measurement. It is
// ended if it is still running when this object goes.

#include "host_environment.h"
#include "utf16.h"

#include <windows.h>

#include <optional>
#include <string>

// Whether this runs under Wine, whose ntdll alone exports its version: what
// only Windows shows is skipped there, saying so.
inline bool runsUnderWine()
{
    return GetProcAddress (GetModuleHandleW (L"ntdll.dll"), "wine_get_version") != nullptr;
}

// How long a program of ours may take before it is taken for hung: far more
// than any start under a busy Wine, far less than a test's time-out.
constexpr DWORD patienceMs = 60000;
constexpr DWORD pollMs = 50;

// What a shortcut or `start` asks of a program's start: its window's show
// state, the shortcut it came from, its priority class.
struct StartupSettings
{
    DWORD flags = 0;
    WORD show = 0;
    std::wstring title;
    DWORD priorityClass = 0;
};

class ChildProcess
{
public:
    // environment: NAME=value entries, in the order the child gets them.
    // Without one the child inherits ours; without a working directory, ours.
    ChildProcess (const std::wstring& program, std::wstring commandLine,
                  const std::optional<Utf16List>& environment = std::nullopt, const std::wstring& workingDirectory = {},
                  StartupSettings settings = {})
    {
        auto block = environment ? wide (launcher::environmentBlockOf (*environment)) : std::wstring();
        STARTUPINFOW startup {};
        startup.cb = sizeof (startup);
        // No standard handles of ours: Wine hands them to a GUI child anyway,
        // and what the child starts, Wine's desktop process for one, would
        // keep a file our output is redirected to open after we have ended.
        startup.dwFlags = STARTF_USESTDHANDLES | settings.flags;
        startup.wShowWindow = settings.show;
        startup.lpTitle = settings.title.empty() ? nullptr : settings.title.data();

        started =
            CreateProcessW (program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                            CREATE_UNICODE_ENVIRONMENT | settings.priorityClass, environment ? block.data() : nullptr,
                            workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup, &info)
            != FALSE;
    }

    ~ChildProcess()
    {
        if (! started)
            return;

        if (! hasExited())
            TerminateProcess (info.hProcess, 1);

        CloseHandle (info.hThread);
        CloseHandle (info.hProcess);
    }

    ChildProcess (const ChildProcess&) = delete;
    ChildProcess& operator= (const ChildProcess&) = delete;

    bool hasStarted() const { return started; }
    DWORD id() const { return info.dwProcessId; }
    HANDLE handle() const { return info.hProcess; }
    bool hasExited (DWORD waitMs = 0) const { return WaitForSingleObject (info.hProcess, waitMs) == WAIT_OBJECT_0; }

    DWORD exitStatus() const
    {
        DWORD status = STILL_ACTIVE;
        GetExitCodeProcess (info.hProcess, &status);
        return status;
    }

private:
    PROCESS_INFORMATION info {};
    bool started = false;
};
