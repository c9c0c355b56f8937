#include "launch_plan.h"

#include "command_line.h"
#include "family.h"
#include "host_environment.h"

namespace launcher
{

namespace
{

// Windows' own separator, whatever this is built on.
const juce::String separator = "\\";

// A SID that could not be turned into text still names what it is, never nobody.
juce::String describeAccount (const Sid& account, const AccountNameOf& accountNameOf)
{
    if (account.text.isEmpty())
        return "an account whose SID cannot be turned into text";

    const auto name = accountNameOf (account);
    return name.isNotEmpty() ? name : account.text;
}

// `what` names the object: "the folder ..." or "the host ...".
juce::String refusalBody (const Distrust& distrust, const juce::String& what, const HostPlace& place,
                          const AccountNameOf& accountNameOf)
{
    using Reason = Distrust::Reason;
    const auto protectTheFolder = " Please reinstall the host; its installer must give the folder " + place.folder
        + " a protected access list that lets only administrators change it.";
    const juce::String reinstallAsAnAdministrator = " Please reinstall the host as an administrator.";
    const juce::String installOnNtfs = " Please install the host on an NTFS drive as an administrator.";
    const auto cannotBeTold = " cannot be told (" + distrust.systemReason + ")";
    const juce::String preparedElsewhere =
        ", which another machine could have prepared (the shared application-data folder could not be looked up,"
        " so the host was looked for on the drive Windows is installed on). Please have an administrator repair"
        " the location of the shared application-data folder.";

    switch (distrust.reason)
    {
        case Reason::isLink:
            return what
                + " is a link (a junction, symbolic link, mount point or other reparse point), so it can lead to a"
                  " place another user controls."
                + reinstallAsAnAdministrator;
        case Reason::linkUnknown:
            return "whether " + what + " is a link" + cannotBeTold
                + ", so it could lead to a place another user controls." + reinstallAsAnAdministrator;
        case Reason::keepsNoPermissions:
            return "the drive of " + what + " keeps no permissions (FAT or exFAT), so anyone could have put it there."
                + installOnNtfs;
        case Reason::permissionsKeptUnknown:
            return "whether the drive of " + what + " keeps permissions" + cannotBeTold
                + ", so anyone could have put it there." + installOnNtfs;
        case Reason::onRemovableDrive:
            return what + " is on a removable drive" + preparedElsewhere;
        case Reason::onRemoteDrive:
            return what + " is on a network drive" + preparedElsewhere;
        case Reason::driveUnknown:
            return what + " is on a drive whose kind cannot be told" + preparedElsewhere;
        case Reason::permissionsUnreadable:
            return "the owner and access list of " + what + " cannot be read (" + distrust.systemReason
                + "), so another user could have put it there." + reinstallAsAnAdministrator;
        case Reason::hasNoOwner:
            return what + " has no owner, so another user could have put it there." + reinstallAsAnAdministrator;
        case Reason::ownedByAnother:
            return what + " is owned by " + describeAccount (distrust.account, accountNameOf)
                + ", and the launcher trusts only what you, SYSTEM, the Administrators group or TrustedInstaller own,"
                  " so another user could have put it there. Please have an administrator give it to the"
                  " Administrators group, or reinstall the host as an administrator.";
        case Reason::changeableByAnother:
            return describeAccount (distrust.account, accountNameOf) + " may change " + what
                + ", so another user could have put a program there." + protectTheFolder;
        case Reason::passesOnChangeTo:
            return what + " lets " + describeAccount (distrust.account, accountNameOf)
                + " change the files and folders created in it, so another user could change what the host's"
                  " installer puts there."
                + protectTheFolder;
        case Reason::entryOfUnknownType:
            return "the access list of " + what + " holds an entry of a type the launcher does not know (type "
                + juce::String (distrust.entryType) + "), so who may change it cannot be told." + protectTheFolder;
        case Reason::changeableByEveryone:
            return what
                + " has no access list, so everyone may change it, and another user could have put a program"
                  " there."
                + protectTheFolder;
    }

    return {};
}

ErrorBox errorBox (const juce::String& body)
{
    return { FAMILY_ERROR_TITLE, body };
}

// The host file and the folder that holds it: whoever could change either
// could have put a program of their own there.
std::optional<ErrorBox> refusalOfAnUntrustedHost (const LaunchInputs& inputs)
{
    // The folder first: when it is a link, nothing read through it counts.
    const std::pair<const Examined&, HostObjectKind> objects[] { { inputs.found.folder, HostObjectKind::folder },
                                                                 { inputs.found.host, HostObjectKind::host } };

    for (const auto& [examined, kind] : objects)
        if (const auto distrust = distrustOf (std::get<FoundObject> (examined), kind, inputs.launchingUser,
                                              inputs.host.onTheWindowsDrive))
            return refusalBox (*distrust, kind, inputs.host, inputs.accountNameOf);

    return std::nullopt;
}

} // namespace

HostPlace placeOfHost (const juce::String& sharedFolder, const juce::String& windowsDrive)
{
    const auto onTheWindowsDrive = sharedFolder.isEmpty();
    const auto folder = (onTheWindowsDrive ? windowsDrive : sharedFolder) + separator + FAMILY_HOST_FOLDER;
    return { folder, folder + separator + FAMILY_HOST_FILE, onTheWindowsDrive,
             ! onTheWindowsDrive || windowsDrive.isNotEmpty() };
}

LaunchPlan planLaunch (const LaunchInputs& inputs)
{
    const auto& found = inputs.found;

    if (std::holds_alternative<NothingThere> (found.host) || std::holds_alternative<NothingThere> (found.folder))
        return missingHostBox (inputs.host.path);

    for (const auto* examined : { &found.folder, &found.host })
        if (const auto* unopened = std::get_if<CannotOpen> (examined))
            return cannotStartBox (inputs.host.path, unopened->reason);

    if (auto refusal = refusalOfAnUntrustedHost (inputs))
        return std::move (*refusal);

    return HandOver { inputs.host.path, forwardArguments (inputs.launcherArguments),
                      buildHostEnvironment (inputs.environment, inputs.productEntry) };
}

ErrorBox missingHostBox (const juce::String& hostPath)
{
    return errorBox ("Cannot find: " + hostPath + ", please check your installation.");
}

ErrorBox cannotStartBox (const juce::String& hostPath, const juce::String& reason)
{
    return errorBox ("Cannot start: " + hostPath + " (" + reason + "), please check your installation.");
}

ErrorBox refusalBox (const Distrust& distrust, HostObjectKind kind, const HostPlace& place,
                     const AccountNameOf& accountNameOf)
{
    const auto what = kind == HostObjectKind::host ? "the host " + place.path : "the folder " + place.folder;
    return errorBox ("Will not start " + place.path + ": " + refusalBody (distrust, what, place, accountNameOf));
}

} // namespace launcher
