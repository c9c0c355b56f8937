#pragma once

// A program started with CreateProcessW, for a test or a measurement. It is
// ended if it is still running when this object goes.

#include <windows.h>

#include <optional>
#include <string>

class ChildProcess
{
public:
    // environmentBlock: NAME=value entries, each ending in a null, then one
    // more null. Without one the child inherits ours.
    ChildProcess (const std::wstring& program, std::wstring commandLine,
                  const std::optional<std::wstring>& environmentBlock = std::nullopt,
                  const wchar_t* workingDirectory = nullptr)
    {
        auto block = environmentBlock.value_or (std::wstring());
        STARTUPINFOW startup {};
        startup.cb = sizeof (startup);

        started = CreateProcessW (program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                                  environmentBlock ? block.data() : nullptr, workingDirectory, &startup, &info)
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
