#pragma once

// Where the launcher looks for its host, and the report the sample host
// leaves beside itself there, for the programs that install it and read it.

#include "received_report.h"

#include <windows.h>
#include <shlobj.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace installed_host
{

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

inline std::wstring hostPath() { return hostFolder() + L"\\Sonvik.exe"; }
inline std::wstring reportPath() { return hostFolder() + L"\\Sonvik-received.txt"; }

// The host moves its report into place whole, so a report that exists is complete.
inline std::optional<std::vector<received_report::Item>> readReport()
{
    std::ifstream in (reportPath().c_str(), std::ios::binary);

    if (! in)
        return std::nullopt;

    return received_report::decode ({ std::istreambuf_iterator<char> (in), std::istreambuf_iterator<char>() });
}

} // namespace installed_host
