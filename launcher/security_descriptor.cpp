// A security descriptor read as the decision judges it: its owner, and each
// entry of its access list with its account, rights and inheritance. Apart
// from the handles, so that it can be tested on descriptors made in memory.

#include "windows_platform.h"

#include <sddl.h>

namespace launcher::platform
{

namespace
{

static_assert (AccessEntry::toFiles == OBJECT_INHERIT_ACE && AccessEntry::toFolders == CONTAINER_INHERIT_ACE
                   && AccessEntry::only == INHERIT_ONLY_ACE,
               "the entry's inheritance is Windows' own");

// Windows' newest types, which MinGW-w64's headers do not name yet.
// https://learn.microsoft.com/en-us/windows/win32/api/winnt/ns-winnt-ace_header
constexpr BYTE systemProcessTrustLabelType = 0x14;
constexpr BYTE systemAccessFilterType = 0x15;

// The account of an object entry follows the GUIDs it holds.
// https://learn.microsoft.com/en-us/openspecs/windows_protocols/ms-dtyp/c79a383c-2b3f-4655-abe7-dcbb7ce0cfbe
PSID sidOfObjectEntry (const void* ace)
{
    const auto* entry = static_cast<const ACCESS_ALLOWED_OBJECT_ACE*> (ace);
    auto* sid = reinterpret_cast<const unsigned char*> (&entry->ObjectType);
    sid += (entry->Flags & ACE_OBJECT_TYPE_PRESENT) != 0 ? sizeof (GUID) : 0;
    sid += (entry->Flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) != 0 ? sizeof (GUID) : 0;
    return const_cast<unsigned char*> (sid);
}

// Every type Windows has, read as allowing, denying or granting nothing;
// any other is unknown, and refused. An object or callback entry is judged
// as if it applied to the whole object, whatever its condition.
std::optional<AccessEntry> entryOf (const void* ace)
{
    using Kind = AccessEntry::Kind;
    const auto* header = static_cast<const ACE_HEADER*> (ace);
    const auto* plain = static_cast<const ACCESS_ALLOWED_ACE*> (ace);
    const auto* object = static_cast<const ACCESS_ALLOWED_OBJECT_ACE*> (ace);
    const auto inheritance =
        static_cast<std::uint8_t> (header->AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE));

    switch (header->AceType)
    {
        case ACCESS_ALLOWED_ACE_TYPE:
        case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
            return AccessEntry { Kind::allows, sidOf (const_cast<DWORD*> (&plain->SidStart)), plain->Mask, inheritance,
                                 header->AceType };
        case ACCESS_DENIED_ACE_TYPE:
        case ACCESS_DENIED_CALLBACK_ACE_TYPE:
            return AccessEntry { Kind::denies, sidOf (const_cast<DWORD*> (&plain->SidStart)), plain->Mask, inheritance,
                                 header->AceType };
        case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
        case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
            return AccessEntry { Kind::allows, sidOf (sidOfObjectEntry (ace)), object->Mask, inheritance,
                                 header->AceType };
        case ACCESS_DENIED_OBJECT_ACE_TYPE:
        case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
            return AccessEntry { Kind::denies, sidOf (sidOfObjectEntry (ace)), object->Mask, inheritance,
                                 header->AceType };
        // The system access list's types: the access check passes over them in this one.
        // https://learn.microsoft.com/en-us/openspecs/windows_protocols/ms-dtyp/4f1bbcbb-814a-4c70-a11e-2a5b8779a6f9
        case SYSTEM_AUDIT_ACE_TYPE:
        case SYSTEM_ALARM_ACE_TYPE:
        case SYSTEM_AUDIT_OBJECT_ACE_TYPE:
        case SYSTEM_ALARM_OBJECT_ACE_TYPE:
        case SYSTEM_AUDIT_CALLBACK_ACE_TYPE:
        case SYSTEM_ALARM_CALLBACK_ACE_TYPE:
        case SYSTEM_AUDIT_CALLBACK_OBJECT_ACE_TYPE:
        case SYSTEM_ALARM_CALLBACK_OBJECT_ACE_TYPE:
        case SYSTEM_MANDATORY_LABEL_ACE_TYPE:
        case SYSTEM_RESOURCE_ATTRIBUTE_ACE_TYPE:
        case SYSTEM_SCOPED_POLICY_ID_ACE_TYPE:
        case systemProcessTrustLabelType:
        case systemAccessFilterType:
            return std::nullopt;
        default:
            return AccessEntry { Kind::unknown, {}, 0, inheritance, header->AceType };
    }
}

} // namespace

Sid sidOf (PSID sid)
{
    wchar_t* text = nullptr;

    if (sid == nullptr || ! ConvertSidToStringSidW (sid, &text))
        return {};

    const Sid converted { juce::String (text) };
    LocalFree (text);
    return converted;
}

std::variant<Permissions, SystemError> permissionsIn (PSECURITY_DESCRIPTOR descriptor)
{
    PSID owner = nullptr;
    PACL accessList = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;

    if (! GetSecurityDescriptorOwner (descriptor, &owner, &defaulted)
        || ! GetSecurityDescriptorDacl (descriptor, &present, &accessList, &defaulted))
        return GetLastError();

    Permissions permissions;

    if (owner != nullptr)
        permissions.owner = sidOf (owner);

    // An absent access list and a null one both let everyone do anything.
    // https://learn.microsoft.com/en-us/windows/win32/SecAuthZ/null-dacls-and-empty-dacls
    if (! present || accessList == nullptr)
        return permissions;

    auto& entries = permissions.accessList.emplace();

    for (DWORD i = 0; i < accessList->AceCount; ++i)
    {
        void* ace = nullptr;

        if (! GetAce (accessList, i, &ace))
            return GetLastError();

        if (auto entry = entryOf (ace))
            entries.push_back (std::move (*entry));
    }

    return permissions;
}

} // namespace launcher::platform
