#include "host_trust.h"

#include "family.h"

namespace launcher
{

namespace
{

using Reason = Distrust::Reason;

// Well-known accounts that stand for another: a template entry for CREATOR
// OWNER is given to whoever creates a file or folder inside, who needed the
// rights to add it, which are judged, and no token holds CREATOR OWNER, so
// the entry grants nothing on the object itself; one for OWNER RIGHTS applies
// to the object's owner, who is judged already.
// https://learn.microsoft.com/en-us/windows/win32/secauthz/well-known-sids
const juce::String creatorOwner = "S-1-3-0";
const juce::String ownerRights = "S-1-3-4";

std::uint32_t rightsThatChange (HostObjectKind kind)
{
    return kind == HostObjectKind::folder ? FAMILY_RIGHTS_THAT_CHANGE_THE_FOLDER : FAMILY_RIGHTS_THAT_CHANGE_THE_HOST;
}

// What the files and the folders created inside a folder get of an entry:
// the rights that change a file, and those that change a folder.
std::uint32_t rightsThatChangeWhatInherits (const AccessEntry& entry)
{
    return ((entry.inheritance & AccessEntry::toFiles) != 0 ? FAMILY_RIGHTS_THAT_CHANGE_THE_HOST : 0u)
        | ((entry.inheritance & AccessEntry::toFolders) != 0 ? FAMILY_RIGHTS_THAT_CHANGE_THE_FOLDER : 0u);
}

bool letsAnotherChangeTheObject (const AccessEntry& entry, HostObjectKind kind, const Sid& launchingUser)
{
    return (entry.inheritance & AccessEntry::only) == 0 && (entry.rights & rightsThatChange (kind)) != 0
        && entry.account.text != creatorOwner && entry.account.text != ownerRights
        && ! isTrustedAccount (entry.account, launchingUser);
}

// The host's installer writes its DLLs into the folder after it: whoever a
// folder's entry passes on to could change them.
bool passesOnChangeToAnother (const AccessEntry& entry, HostObjectKind kind, const Sid& launchingUser)
{
    return kind == HostObjectKind::folder && (entry.rights & rightsThatChangeWhatInherits (entry)) != 0
        && entry.account.text != creatorOwner && entry.account.text != ownerRights
        && ! isTrustedAccount (entry.account, launchingUser);
}

// Judged conservatively: an entry that denies the same account something does
// not excuse one that allows it, as the order of entries and the groups a
// token holds decide which wins, and those are not judged here.
// https://learn.microsoft.com/en-us/windows/win32/secauthz/order-of-aces-in-a-dacl
std::optional<Distrust> distrustOfAccessList (const std::vector<AccessEntry>& accessList, HostObjectKind kind,
                                              const Sid& launchingUser)
{
    for (const auto& entry : accessList)
    {
        if (entry.kind == AccessEntry::Kind::unknown)
            return Distrust { Reason::entryOfUnknownType, {}, {}, entry.type };

        if (entry.kind != AccessEntry::Kind::allows)
            continue;

        if (letsAnotherChangeTheObject (entry, kind, launchingUser))
            return Distrust { Reason::changeableByAnother, entry.account };

        if (passesOnChangeToAnother (entry, kind, launchingUser))
            return Distrust { Reason::passesOnChangeTo, entry.account };
    }

    return std::nullopt;
}

std::optional<Distrust> distrustOfPermissions (const Permissions& permissions, HostObjectKind kind,
                                               const Sid& launchingUser)
{
    if (! permissions.owner)
        return Distrust { Reason::hasNoOwner };

    // The owner may always change the access list, whatever it says.
    // https://learn.microsoft.com/en-us/windows/win32/secauthz/owner-of-a-new-object
    if (! isTrustedAccount (*permissions.owner, launchingUser))
        return Distrust { Reason::ownedByAnother, *permissions.owner };

    if (! permissions.accessList)
        return Distrust { Reason::changeableByEveryone };

    return distrustOfAccessList (*permissions.accessList, kind, launchingUser);
}

// What a removable drive or a network share holds may have been prepared on
// another machine, where the SIDs of its owners and access lists read the same.
std::optional<Distrust> distrustOfDrive (DriveKind drive)
{
    switch (drive)
    {
        case DriveKind::local:
            return std::nullopt;
        case DriveKind::removable:
            return Distrust { Reason::onRemovableDrive };
        case DriveKind::remote:
            return Distrust { Reason::onRemoteDrive };
        case DriveKind::unknown:
            break;
    }

    return Distrust { Reason::driveUnknown };
}

} // namespace

// An account's own files count as that account's alone, whatever groups it
// belongs to: any program it runs could have written them, so an
// administrator's own account is not one who administers the machine.
bool isTrustedAccount (const Sid& account, const Sid& launchingUser)
{
    return account.text.isNotEmpty()
        && (account == launchingUser || account.text == FAMILY_SYSTEM_SID || account.text == FAMILY_ADMINISTRATORS_SID
            || account.text == FAMILY_TRUSTED_INSTALLER_SID);
}

std::optional<Distrust> distrustOf (const FoundObject& object, HostObjectKind kind, const Sid& launchingUser,
                                    bool onTheWindowsDrive)
{
    // What a link leads to can be changed by whoever made the link, and what
    // was read of it is the link's own.
    if (const auto* unanswered = std::get_if<Unanswered> (&object.reparseTag))
        return Distrust { Reason::linkUnknown, {}, unanswered->reason };

    if (const auto& tag = std::get<ReparseTag> (object.reparseTag);
        tag && *tag != wofReparseTag && *tag != dedupReparseTag)
        return Distrust { Reason::isLink };

    if (onTheWindowsDrive)
        if (auto distrust = distrustOfDrive (object.drive))
            return distrust;

    // Anyone may write anything there, and nothing tells who did.
    if (const auto* unanswered = std::get_if<Unanswered> (&object.volumeKeepsPermissions))
        return Distrust { Reason::permissionsKeptUnknown, {}, unanswered->reason };

    if (! std::get<bool> (object.volumeKeepsPermissions))
        return Distrust { Reason::keepsNoPermissions };

    if (const auto* unanswered = std::get_if<Unanswered> (&object.permissions))
        return Distrust { Reason::permissionsUnreadable, {}, unanswered->reason };

    return distrustOfPermissions (std::get<Permissions> (object.permissions), kind, launchingUser);
}

} // namespace launcher
