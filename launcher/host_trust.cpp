#include "host_trust.h"

#include "family.h"

namespace launcher
{

namespace
{

std::uint32_t rightsThatChange (HostObjectKind kind)
{
    return kind == HostObjectKind::folder ? FAMILY_RIGHTS_THAT_CHANGE_THE_FOLDER : FAMILY_RIGHTS_THAT_CHANGE_THE_HOST;
}

// Judged conservatively: an entry that denies the same account something does
// not excuse one that allows it, as the order of entries and the groups a
// token holds decide which wins, and those are not judged here.
std::optional<Sid> anotherWhoMayChange (const std::vector<AccessEntry>& accessList, HostObjectKind kind,
                                        const Sid& launchingUser)
{
    for (const auto& entry : accessList)
        if (entry.allows && ! entry.inheritOnly && (entry.rights & rightsThatChange (kind)) != 0
            && ! isTrustedAccount (entry.account, launchingUser))
            return entry.account;

    return std::nullopt;
}

} // namespace

// An account's own files count as that account's alone, whatever groups it
// belongs to: any program it runs could have written them.
bool isTrustedAccount (const Sid& account, const Sid& launchingUser)
{
    return account.text.isNotEmpty()
        && (account == launchingUser || account.text == FAMILY_SYSTEM_SID || account.text == FAMILY_ADMINISTRATORS_SID
            || account.text == FAMILY_TRUSTED_INSTALLER_SID);
}

std::optional<Distrust> distrustOf (const FoundObject& object, HostObjectKind kind, const Sid& launchingUser)
{
    using Reason = Distrust::Reason;

    // What a link leads to can be changed by whoever made the link, and what
    // was read of it is the link's own.
    if (object.isLink)
        return Distrust { Reason::isLink, {} };

    // Anyone may write anything there, and nothing tells who did.
    if (! object.volumeKeepsPermissions)
        return Distrust { Reason::keepsNoPermissions, {} };

    if (! object.owner)
        return Distrust { Reason::ownerUnreadable, {} };

    // The owner may always change the access list, whatever it says.
    if (! isTrustedAccount (*object.owner, launchingUser))
        return Distrust { Reason::ownedByAnother, *object.owner };

    if (! object.accessList)
        return Distrust { Reason::changeableByEveryone, {} };

    if (auto writer = anotherWhoMayChange (*object.accessList, kind, launchingUser))
        return Distrust { Reason::changeableByAnother, *writer };

    return std::nullopt;
}

} // namespace launcher
