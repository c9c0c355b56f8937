// The host and its folder, opened once and held from being judged until the
// host has started, and what the launcher reads of them through those
// handles: whether either is a reparse point and of which kind, whether its
// volume keeps permissions, its owner and its access list. A question the
// system does not answer is answered with its reason, which refuses.

#include "windows_platform.h"

#include "family.h"

#include <aclapi.h>

namespace launcher::platform
{

namespace
{

static_assert (FAMILY_RIGHTS_THAT_CHANGE_THE_FOLDER
                   == (FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE
                       | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL),
               "the family's rights are Windows' own");
static_assert (FAMILY_RIGHTS_THAT_CHANGE_THE_HOST
                   == (FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER
                       | GENERIC_WRITE | GENERIC_ALL),
               "the family's rights are Windows' own");
static_assert (wofReparseTag == IO_REPARSE_TAG_WOF && dedupReparseTag == IO_REPARSE_TAG_DEDUP,
               "the tags are Windows' own");

// Read access, because Windows counts a handle in the sharing check only when
// it asks for data; shared for reading only, so nobody may write, rename or
// delete it while it is held. CreateProcessW still opens the host for
// execution beside it. Links are opened themselves, not followed; and a
// folder at the host path opens too, and then fails to start.
// https://learn.microsoft.com/en-us/openspecs/windows_protocols/ms-fsa/8c0e3f4f-0729-49f4-a14d-7f7add593819
// https://learn.microsoft.com/en-us/windows/win32/FileIO/reparse-point-operations
// https://learn.microsoft.com/en-us/windows/win32/fileio/obtaining-a-handle-to-a-directory
OwnedHandle openWithoutFollowingLinks (const juce::String& path)
{
    const auto handle = CreateFileW (path.toWideCharPointer(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    return OwnedHandle (handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

OrUnanswered<ReparseTag> reparseTagOf (HANDLE object, const juce::String& path)
{
    FILE_ATTRIBUTE_TAG_INFO information {};

    if (! GetFileInformationByHandleEx (object, FileAttributeTagInfo, &information, sizeof (information)))
        return Unanswered { describeSystemError (GetLastError(), path) };

    if ((information.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return ReparseTag {};

    return ReparseTag { information.ReparseTag };
}

OrUnanswered<bool> volumeKeepsPermissions (HANDLE object, const juce::String& path)
{
    DWORD flags = 0;

    if (! GetVolumeInformationByHandleW (object, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0))
        return Unanswered { describeSystemError (GetLastError(), path) };

    return (flags & FILE_PERSISTENT_ACLS) != 0;
}

// By the path the handle was opened with: its drive letter is the launching
// user's own to map.
// https://learn.microsoft.com/windows-hardware/drivers/kernel/local-and-global-ms-dos-device-names
DriveKind driveOf (const juce::String& path)
{
    wchar_t root[MAX_PATH + 1] {};

    if (! GetVolumePathNameW (path.toWideCharPointer(), root, MAX_PATH + 1))
        return DriveKind::unknown;

    switch (GetDriveTypeW (root))
    {
        case DRIVE_FIXED:
        case DRIVE_RAMDISK:
            return DriveKind::local;
        case DRIVE_REMOVABLE:
        case DRIVE_CDROM:
            return DriveKind::removable;
        case DRIVE_REMOTE:
            return DriveKind::remote;
        default:
            return DriveKind::unknown;
    }
}

OrUnanswered<Permissions> permissionsOf (HANDLE object, const juce::String& path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const auto error = GetSecurityInfo (object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                        nullptr, nullptr, nullptr, nullptr, &descriptor);

    if (error != ERROR_SUCCESS)
        return Unanswered { describeSystemError (error, path) };

    auto read = permissionsIn (descriptor);
    LocalFree (descriptor);

    if (const auto* failed = std::get_if<SystemError> (&read))
        return Unanswered { describeSystemError (*failed, path) };

    return std::move (std::get<Permissions> (read));
}

Examined examine (const juce::String& path, bool onTheWindowsDrive, OwnedHandle& held)
{
    held = openWithoutFollowingLinks (path);

    if (! held)
    {
        const auto error = GetLastError();

        if (GetFileAttributesW (path.toWideCharPointer()) == INVALID_FILE_ATTRIBUTES)
            return NothingThere {};

        return CannotOpen { describeSystemError (error, path) };
    }

    return FoundObject { .reparseTag = reparseTagOf (held.get(), path),
                         .volumeKeepsPermissions = volumeKeepsPermissions (held.get(), path),
                         .drive = onTheWindowsDrive ? driveOf (path) : DriveKind::unknown,
                         .permissions = permissionsOf (held.get(), path) };
}

} // namespace

// The folder first: held, it cannot be renamed while the host is opened in it.
// A place without a drive is not opened at all: Windows would read it on the
// current drive, or on the network share the launcher was started from.
HeldHost holdHost (const HostPlace& place)
{
    HeldHost held;

    if (! place.canBeLookedFor)
        return held;

    held.found.folder = examine (place.folder, place.onTheWindowsDrive, held.folder);
    held.found.host = examine (place.path, place.onTheWindowsDrive, held.host);
    return held;
}

} // namespace launcher::platform
