// The host and its folder, opened once and held from being judged until the
// host has started, and what the launcher reads of them through those
// handles: whether either is a link, whether its volume keeps permissions,
// its owner and its access list.

#include "windows_platform.h"

#include "family.h"

#include <aclapi.h>

namespace launcher::platform
{

namespace
{

static_assert (FAMILY_RIGHTS_THAT_CHANGE_THE_FOLDER
                   == (FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER
                       | GENERIC_WRITE | GENERIC_ALL),
               "the family's rights are Windows' own");
static_assert (FAMILY_RIGHTS_THAT_CHANGE_THE_HOST
                   == (FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE
                       | GENERIC_ALL),
               "the family's rights are Windows' own");

// Read access, because Windows counts a handle in the sharing check only when
// it asks for data; shared for reading only, so nobody may write, rename or
// delete it while it is held. CreateProcessW still opens the host for
// execution beside it. Links are opened themselves, not followed; and a
// folder at the host path opens too, and then fails to start.
OwnedHandle openWithoutFollowingLinks (const juce::String& fullPath)
{
    const auto handle = CreateFileW (fullPath.toWideCharPointer(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    return OwnedHandle (handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

bool isReparsePoint (HANDLE object)
{
    BY_HANDLE_FILE_INFORMATION information {};
    return GetFileInformationByHandle (object, &information)
        && (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Where the volume cannot be asked, what its objects' permissions say is judged.
bool volumeKeepsPermissions (HANDLE object)
{
    DWORD flags = 0;
    return ! GetVolumeInformationByHandleW (object, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)
        || (flags & FILE_PERSISTENT_ACLS) != 0;
}

// The account of an entry that allows, denies or does neither (an audit or a
// label, which has no place in an access list and grants nothing).
std::optional<AccessEntry> entryOf (const void* ace)
{
    const auto* header = static_cast<const ACE_HEADER*> (ace);
    const auto* plain = static_cast<const ACCESS_ALLOWED_ACE*> (ace);
    const auto inheritOnly = (header->AceFlags & INHERIT_ONLY_ACE) != 0;

    switch (header->AceType)
    {
        case ACCESS_ALLOWED_ACE_TYPE:
        case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
        case ACCESS_DENIED_ACE_TYPE:
        case ACCESS_DENIED_CALLBACK_ACE_TYPE:
        {
            const auto allows =
                header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
            return AccessEntry { allows, sidOf (const_cast<DWORD*> (&plain->SidStart)), plain->Mask, inheritOnly };
        }
        // Files carry none of these, but an entry that allows is judged whatever its form.
        case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
        case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
        {
            const auto* object = static_cast<const ACCESS_ALLOWED_OBJECT_ACE*> (ace);
            auto* sid = reinterpret_cast<const unsigned char*> (&object->ObjectType);
            sid += (object->Flags & ACE_OBJECT_TYPE_PRESENT) != 0 ? sizeof (GUID) : 0;
            sid += (object->Flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) != 0 ? sizeof (GUID) : 0;
            return AccessEntry { true, sidOf (const_cast<unsigned char*> (sid)), object->Mask, inheritOnly };
        }
        default:
            return std::nullopt;
    }
}

// Owner and access list, both from the handle. What cannot be read leaves
// the owner unknown, which the decision refuses.
void readPermissions (HANDLE object, FoundObject& found)
{
    PSID owner = nullptr;
    PACL accessList = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;

    if (GetSecurityInfo (object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                         nullptr, &accessList, nullptr, &descriptor)
        != ERROR_SUCCESS)
        return;

    auto entries = accessList != nullptr ? std::optional<std::vector<AccessEntry>> (std::in_place) : std::nullopt;
    auto readable = owner != nullptr;

    for (DWORD i = 0; entries && i < accessList->AceCount; ++i)
    {
        void* ace = nullptr;
        readable = readable && GetAce (accessList, i, &ace);

        if (ace != nullptr)
            if (auto entry = entryOf (ace))
                entries->push_back (std::move (*entry));
    }

    if (readable)
    {
        found.owner = sidOf (owner);
        found.accessList = std::move (entries);
    }

    LocalFree (descriptor);
}

Examined examine (const juce::String& path, OwnedHandle& held)
{
    // The framework's reading: a drive-relative path is on the current drive.
    const auto fullPath = juce::File (path).getFullPathName();
    held = openWithoutFollowingLinks (fullPath);

    if (! held)
    {
        const auto error = GetLastError();

        if (GetFileAttributesW (fullPath.toWideCharPointer()) == INVALID_FILE_ATTRIBUTES)
            return NothingThere {};

        return CannotOpen { describeSystemError (error, path) };
    }

    FoundObject found;
    found.isLink = isReparsePoint (held.get());
    found.volumeKeepsPermissions = volumeKeepsPermissions (held.get());
    readPermissions (held.get(), found);
    return found;
}

} // namespace

// The folder first: held, it cannot be renamed while the host is opened in it.
HeldHost holdHost (const HostPlace& place)
{
    HeldHost held;
    held.found.folder = examine (place.folder, held.folder);
    held.found.host = examine (place.path, held.host);
    return held;
}

} // namespace launcher::platform
