// A stand-in for the host program: it records what the launcher handed it
// (its raw command line, its arguments as CommandLineToArgvW and as the C
// run-time split them, its working directory, its whole environment in order,
// and the PRODUCTNAME it reads) in "Sonvik-received.txt" beside itself, then exits. It also records
// the performance counter at the moment its main began, so that the time from
// a launcher's start to the host's can be measured.

#include "received_report.h"

#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <fstream>
#include <string>
#include <vector>

namespace
{

std::u16string toUtf16 (const wchar_t* text)
{
    return reinterpret_cast<const char16_t*> (text);
}

void addShellArguments (std::vector<received_report::Item>& items)
{
    int count = 0;
    auto** arguments = CommandLineToArgvW (GetCommandLineW(), &count);

    for (int i = 0; arguments != nullptr && i < count; ++i)
        items.push_back ({ "shell-argument", toUtf16 (arguments[i]) });

    LocalFree (arguments);
}

void addWorkingDirectory (std::vector<received_report::Item>& items)
{
    std::wstring folder (MAX_PATH * 4, L'\0');
    folder.resize (GetCurrentDirectoryW (static_cast<DWORD> (folder.size()), folder.data()));
    items.push_back ({ "working-directory", toUtf16 (folder.c_str()) });
}

void addEnvironment (std::vector<received_report::Item>& items)
{
    auto* block = GetEnvironmentStringsW();

    for (const wchar_t* entry = block; entry != nullptr && *entry != L'\0'; entry += std::wcslen (entry) + 1)
        items.push_back ({ "environment", toUtf16 (entry) });

    FreeEnvironmentStringsW (block);
}

void addProductName (std::vector<received_report::Item>& items)
{
    std::wstring value (32767, L'\0');
    const auto length = GetEnvironmentVariableW (L"PRODUCTNAME", value.data(), static_cast<DWORD> (value.size()));

    if (length > 0 && length < value.size())
        items.push_back ({ "productname", toUtf16 (value.c_str()) });
}

std::wstring pathBesideThisProgram (const wchar_t* fileName)
{
    std::wstring path (MAX_PATH * 4, L'\0');
    path.resize (GetModuleFileNameW (nullptr, path.data(), static_cast<DWORD> (path.size())));
    return path.substr (0, path.find_last_of (L'\\') + 1) + fileName;
}

// Written aside and then moved into place, so a reader never sees half a report.
bool writeReport (const std::string& text)
{
    const auto finalPath = pathBesideThisProgram (L"Sonvik-received.txt");
    const auto partPath = finalPath + L".part";

    {
        std::ofstream out (partPath.c_str(), std::ios::binary | std::ios::trunc);
        out << text;
        if (! out.flush())
            return false;
    }

    return MoveFileExW (partPath.c_str(), finalPath.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

} // namespace

int wmain (int argc, wchar_t** argv)
{
    LARGE_INTEGER startedAt;
    QueryPerformanceCounter (&startedAt);

    std::vector<received_report::Item> items { { "started-at", toUtf16 (std::to_wstring (startedAt.QuadPart).c_str()) },
                                               { "command-line", toUtf16 (GetCommandLineW()) } };
    addShellArguments (items);

    for (int i = 0; i < argc; ++i)
        items.push_back ({ "crt-argument", toUtf16 (argv[i]) });

    addWorkingDirectory (items);
    addEnvironment (items);
    addProductName (items);

    return writeReport (received_report::encode (items)) ? 0 : 1;
}
