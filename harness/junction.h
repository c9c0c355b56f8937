#pragma once

// A junction, as an ordinary user may make one of a folder they can write,
// for the cases and the squatter that need one. Wine cannot make them.

#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <string>
#include <vector>

// A junction at `link` to the folder `target`, as mklink /j makes one.
inline bool makeJunction (const std::wstring& link, const std::wstring& target)
{
    const auto substitute = L"\\??\\" + target;
    std::wstring names = substitute + L'\0' + target + L'\0';
    const auto namesSize = static_cast<WORD> (names.size() * sizeof (wchar_t));
    // REPARSE_DATA_BUFFER of a mount point: tag, data length, reserved, then
    // the offsets and lengths of the substitute and printed names.
    const WORD fields[] { static_cast<WORD> (8 + namesSize),
                          0,
                          0,
                          static_cast<WORD> (substitute.size() * sizeof (wchar_t)),
                          static_cast<WORD> ((substitute.size() + 1) * sizeof (wchar_t)),
                          static_cast<WORD> (target.size() * sizeof (wchar_t)) };
    std::vector<unsigned char> data (sizeof (DWORD) + sizeof (fields) + namesSize);
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy (data.data(), &tag, sizeof (tag));
    std::memcpy (data.data() + sizeof (tag), fields, sizeof (fields));
    std::memcpy (data.data() + sizeof (tag) + sizeof (fields), names.data(), namesSize);

    const auto folder = CreateFileW (link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return false;

    DWORD returned = 0;
    const auto made = DeviceIoControl (folder, FSCTL_SET_REPARSE_POINT, data.data(), static_cast<DWORD> (data.size()),
                                       nullptr, 0, &returned, nullptr);
    CloseHandle (folder);
    return made != FALSE;
}
