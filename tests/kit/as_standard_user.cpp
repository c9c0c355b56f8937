// Runs a command line as an ordinary user of the machine, made for the run
// and removed, profile and all, at its end: a local account of the Users group
// alone, signed in with its profile as a user who starts a program has it.
// For the Windows workflow's run of the test kit as a standard user; it needs
// an elevated prompt to make the account. Ends with the command's exit status,
// or, where it could not be run, says why and ends with 125.
//   as_standard_user COMMAND [ARGUMENT...]

#include "standard_user.h"

#include <cstdio>
#include <string>

namespace
{

// What follows the program's own name on its command line, unchanged: its
// name is quoted or ends at the first space or tab, as Windows splits it.
std::wstring commandLineAfterOwnName()
{
    const std::wstring line = GetCommandLineW();
    const auto nameEnds = line.empty() ? std::wstring::npos
        : line[0] == L'"'              ? line.find (L'"', 1)
                                       : line.find_first_of (L" \t");
    const auto rest = nameEnds == std::wstring::npos ? nameEnds : line.find_first_not_of (L" \t", nameEnds + 1);
    return rest == std::wstring::npos ? std::wstring() : line.substr (rest);
}

constexpr int couldNotRun = 125;

} // namespace

int wmain()
{
    const auto command = commandLineAfterOwnName();
    if (command.empty())
    {
        std::fputs ("as_standard_user: give a command to run as an ordinary user\n", stderr);
        return couldNotRun;
    }

    const StandardUser user;
    if (! user.exists())
    {
        std::fprintf (stderr, "as_standard_user: no ordinary user could be made (error %lu); run it elevated\n",
                      user.failure());
        return couldNotRun;
    }

    wchar_t folder[MAX_PATH * 4] {};
    GetCurrentDirectoryW (MAX_PATH * 4, folder);
    PROCESS_INFORMATION started {};
    if (! user.start (command, folder, started, true))
    {
        std::fprintf (stderr, "as_standard_user: the command could not be started as %ls (error %lu)\n",
                      user.accountName().c_str(), GetLastError());
        return couldNotRun;
    }

    std::fprintf (stderr, "as_standard_user: running as %ls, of the Users group alone: %ls\n",
                  user.accountName().c_str(), command.c_str());
    DWORD status = couldNotRun;
    WaitForSingleObject (started.hProcess, INFINITE);
    GetExitCodeProcess (started.hProcess, &status);
    CloseHandle (started.hThread);
    CloseHandle (started.hProcess);
    return static_cast<int> (status);
}
