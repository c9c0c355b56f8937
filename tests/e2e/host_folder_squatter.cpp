// What an ordinary user can make of the host's folder before the host's
// installer runs; the recipe's cases (host_trust_test.cpp) start it as such a
// user, made for the run. Its exit status is 0, or the system's error code.
//   host_folder_squatter junction TARGET  Orvanel a junction to TARGET, a folder it makes
//   host_folder_squatter library DLL      Orvanel a folder holding a copy of DLL
//   host_folder_squatter names            Orvanel a folder, and each name the recipe once set a folder
//                                         aside under (Orvanel-set-aside-yyyyMMdd-HHmmss) for the next minutes
//   host_folder_squatter hold             Orvanel a folder held open, sharing nothing, until it is ended

#include "installed_host.h"
#include "junction.h"

#include <cstdio>
#include <string>

namespace
{

int statusOf (bool done)
{
    return done ? 0 : static_cast<int> (GetLastError());
}

bool makeTheFolder()
{
    return CreateDirectoryW (installed_host::hostFolder().c_str(), nullptr) != FALSE;
}

// The names a run of the recipe starting in the next `seconds` would once
// have chosen, from its local time.
bool takeTheSetAsideNames (int seconds)
{
    FILETIME now;
    GetSystemTimeAsFileTime (&now);
    ULARGE_INTEGER at { { now.dwLowDateTime, now.dwHighDateTime } };

    for (int second = 0; second < seconds; ++second, at.QuadPart += 10000000)
    {
        const FILETIME utc { at.LowPart, at.HighPart };
        FILETIME local;
        SYSTEMTIME time;
        wchar_t stamp[32];
        if (! FileTimeToLocalFileTime (&utc, &local) || ! FileTimeToSystemTime (&local, &time))
            return false;
        std::swprintf (stamp, 32, L"-set-aside-%04u%02u%02u-%02u%02u%02u", time.wYear, time.wMonth, time.wDay,
                       time.wHour, time.wMinute, time.wSecond);
        if (! CreateDirectoryW ((installed_host::hostFolder() + stamp).c_str(), nullptr)
            && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }

    return true;
}

} // namespace

int wmain (int argc, wchar_t** argv)
{
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    const auto folder = installed_host::hostFolder();

    if (mode == L"junction" && argc == 3)
        return statusOf ((CreateDirectoryW (argv[2], nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
                         && makeTheFolder() && makeJunction (folder, argv[2]));

    if (mode == L"library" && argc == 3)
    {
        const std::wstring library = argv[2];
        const auto name = library.substr (library.find_last_of (L'\\') + 1);
        return statusOf (makeTheFolder() && CopyFileW (library.c_str(), (folder + L"\\" + name).c_str(), TRUE));
    }

    if (mode == L"names" && argc == 2)
        return statusOf (makeTheFolder() && takeTheSetAsideNames (180));

    if (mode == L"hold" && argc == 2)
    {
        if (! makeTheFolder())
            return statusOf (false);
        const auto held = CreateFileW (folder.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (held == INVALID_HANDLE_VALUE)
            return statusOf (false);
        Sleep (INFINITE);
    }

    return ERROR_BAD_ARGUMENTS;
}
