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

juce::String describeAccount (const Sid& account, const LaunchInputs& inputs)
{
    const auto name = inputs.accountNameOf (account);
    return name.isNotEmpty() ? name : account.text;
}

juce::String refusalBody (const Distrust& distrust, const juce::String& path, const LaunchInputs& inputs)
{
    using Reason = Distrust::Reason;
    const auto protectTheFolder = " Please reinstall the host; its installer must give " + inputs.host.folder
        + " a protected access list that lets only administrators change it.";
    const juce::String reinstallAsAnAdministrator = " Please reinstall the host as an administrator.";

    switch (distrust.reason)
    {
        case Reason::isLink:
            return path
                + " is a link (a junction, symbolic link or mount point), so it can lead to a place another user"
                  " controls."
                + reinstallAsAnAdministrator;
        case Reason::keepsNoPermissions:
            return "the drive of " + path
                + " keeps no permissions (FAT or exFAT), so anyone could have put it there."
                  " Please install the host on an NTFS drive as an administrator.";
        case Reason::ownerUnreadable:
        case Reason::ownedByAnother:
            return path + " is owned by "
                + (distrust.reason == Reason::ownerUnreadable ? juce::String ("an owner that cannot be read")
                                                              : describeAccount (distrust.account, inputs))
                + ", not by you or an administrator, so another user could have put it there."
                + reinstallAsAnAdministrator;
        case Reason::changeableByAnother:
            return describeAccount (distrust.account, inputs) + " may change " + path
                + ", so another user could have put a program there." + protectTheFolder;
        case Reason::changeableByEveryone:
            return path
                + " has no access list, so everyone may change it, and another user could have put a program"
                  " there."
                + protectTheFolder;
    }

    return {};
}

// Where the shared folder cannot be looked up, the host is looked for at the
// root of the current drive: a path that starts with the separator.
juce::String driveRelativeHostFolder()
{
    return separator + FAMILY_HOST_FOLDER;
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
    {
        const auto& path = kind == HostObjectKind::host ? inputs.host.path : inputs.host.folder;

        if (const auto distrust = distrustOf (std::get<FoundObject> (examined), kind, inputs.launchingUser))
            return errorBox ("Will not start " + inputs.host.path + ": " + refusalBody (*distrust, path, inputs));
    }

    return std::nullopt;
}

} // namespace

HostPlace placeOfHost (const juce::String& sharedFolder)
{
    const auto folder =
        sharedFolder.isEmpty() ? driveRelativeHostFolder() : sharedFolder + separator + FAMILY_HOST_FOLDER;
    return { folder, folder + separator + FAMILY_HOST_FILE };
}

LaunchPlan planLaunch (const LaunchInputs& inputs)
{
    const auto& found = inputs.found;

    if (std::holds_alternative<NothingThere> (found.host) || std::holds_alternative<NothingThere> (found.folder))
        return errorBox ("Cannot find: " + inputs.host.path + ", please check your installation.");

    for (const auto* examined : { &found.folder, &found.host })
        if (const auto* unopened = std::get_if<CannotOpen> (examined))
            return cannotStartBox (inputs.host.path, unopened->reason);

    if (auto refusal = refusalOfAnUntrustedHost (inputs))
        return std::move (*refusal);

    return HandOver { inputs.host.path, forwardArguments (inputs.launcherArguments),
                      buildHostEnvironment (inputs.environment, inputs.productEntry) };
}

ErrorBox cannotStartBox (const juce::String& hostPath, const juce::String& reason)
{
    return errorBox ("Cannot start: " + hostPath + " (" + reason + "), please check your installation.");
}

} // namespace launcher
