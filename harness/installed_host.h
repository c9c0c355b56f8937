#pragma once

// Where the launcher looks for its host, the sample host put there, and the
// report it leaves beside itself, for the programs that install it and read it.

#include "host_folder_access.h"
#include "received_report.h"
#include "utf16.h"

#include <windows.h>
#include <sddl.h>
#include <shlobj.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace installed_host
{

using Report = std::vector<received_report::Item>;

const std::wstring hostFileName = L"Sonvik.exe";
const std::wstring reportFileName = L"Sonvik-received.txt";
// Where a child the sample host starts reports.
const std::wstring childReportFileName = L"Sonvik-child.txt";

inline std::wstring folderOfThisProgram()
{
    std::wstring path (MAX_PATH * 4, L'\0');
    path.resize (GetModuleFileNameW (nullptr, path.data(), static_cast<DWORD> (path.size())));
    return path.substr (0, path.find_last_of (L'\\') + 1);
}

inline std::wstring hostFolder()
{
    wchar_t shared[MAX_PATH] {};
    SHGetSpecialFolderPathW (nullptr, shared, CSIDL_COMMON_APPDATA, FALSE);
    return std::wstring (shared) + L"\\Orvanel";
}

inline std::wstring hostPath()
{
    return hostFolder() + L"\\" + hostFileName;
}
inline std::wstring reportPath()
{
    return hostFolder() + L"\\" + reportFileName;
}

// The sample host is built beside the programs that install it, for 32-bit
// Windows as Sonvik.exe and for 64-bit Windows as Sonvik-x64.exe. Its folder
// gets the protected list the host's installer gives it (docs/security.md),
// and deliberately an OWNER RIGHTS entry besides: a run that is not elevated
// owns the folder it makes but acts as neither SYSTEM nor Administrators, so
// without that entry it could neither copy the host in nor remove it again.
// The launcher judges the entry as the owner's, the very user who starts it,
// so the folder is trusted all the same.
inline bool installSampleHost (const std::wstring& build = hostFileName, const std::wstring& folder = hostFolder())
{
    SECURITY_ATTRIBUTES attributes { sizeof (attributes), nullptr, FALSE };
    ConvertStringSecurityDescriptorToSecurityDescriptorW (L"D:P" HOST_FOLDER_ACCESS_LIST L"(A;OICI;FA;;;OW)",
                                                          SDDL_REVISION_1, &attributes.lpSecurityDescriptor, nullptr);
    CreateDirectoryW (folder.c_str(), &attributes);
    LocalFree (attributes.lpSecurityDescriptor);
    return CopyFileW ((folderOfThisProgram() + build).c_str(), (folder + L"\\" + hostFileName).c_str(), FALSE) != FALSE;
}

// Whatever stands at the host path, a folder too, and the host's folder once empty.
inline void removeHost (const std::wstring& folder = hostFolder())
{
    for (const auto& file : { reportFileName, childReportFileName, hostFileName })
        DeleteFileW ((folder + L"\\" + file).c_str());

    RemoveDirectoryW ((folder + L"\\" + hostFileName).c_str());
    RemoveDirectoryW (folder.c_str());
}

// The arguments as the host must see them: its own name, which the launcher
// puts first, then the launcher's arguments unchanged.
inline Utf16List withHostNameFirst (const Utf16List& arguments)
{
    Utf16List all { utf16 (hostFileName) };
    all.insert (all.end(), arguments.begin(), arguments.end());
    return all;
}

// The host moves its report into place whole, so a report that exists is complete.
inline std::optional<Report> readReport (const std::wstring& path = reportPath())
{
    std::ifstream in (path.c_str(), std::ios::binary);

    if (! in)
        return std::nullopt;

    return received_report::decode ({ std::istreambuf_iterator<char> (in), std::istreambuf_iterator<char>() });
}

inline Utf16List valuesOf (const Report& report, const std::string& field)
{
    Utf16List values;

    for (const auto& item : report)
        if (item.field == field)
            values.push_back (item.value);

    return values;
}

} // namespace installed_host
