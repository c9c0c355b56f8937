#include "launch_plan.h"

#include "command_line.h"
#include "host_environment.h"

#include <string_view>

namespace launcher
{

namespace
{

constexpr std::string_view hostFolderName = "Orvanel";
constexpr std::string_view hostFileName = "Sonvik.exe";
constexpr const char* errorTitle = "Invalid SONVIK installation!";

// Those who administer the machine: an installer running elevated or as a
// service leaves its files owned by one of them.
constexpr const char* systemAccount = "S-1-5-18";
constexpr const char* administratorsGroup = "S-1-5-32-544";
constexpr const char* trustedInstaller = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

juce::String widen (std::string_view ascii)
{
    return juce::String (ascii.data(), ascii.size());
}

Utf16List forwardArguments (const Utf16List& launcherArguments)
{
    Utf16List hostArguments;
    hostArguments.reserve (launcherArguments.size() + 1);
    // The host sees its bare name as slot 0, never the path it was started from.
    hostArguments.emplace_back (hostFileName.begin(), hostFileName.end());

    for (std::size_t i = 1; i < launcherArguments.size(); ++i)
        hostArguments.push_back (quoteArgument (launcherArguments[i]));

    return hostArguments;
}

juce::String composeHostFolder (const juce::String& sharedFolder)
{
    return sharedFolder + juce::File::getSeparatorString() + widen (hostFolderName);
}

// Whether a file or folder with this owner can only have been put there by
// the launching user or by those who administer the machine. An account's own
// files count as that account's alone, whatever groups it belongs to: any
// program it runs could have written them.
bool isTrustedOwner (const juce::String& owner, const juce::String& launchingUser)
{
    return owner.isNotEmpty() && (owner == launchingUser || owner == systemAccount || owner == administratorsGroup
                                  || owner == trustedInstaller);
}

juce::String describeOwner (const juce::String& owner, const LaunchInputs& inputs)
{
    if (owner.isEmpty())
        return "an owner that cannot be read";

    const auto name = inputs.accountNameOf (owner);
    return name.isNotEmpty() ? name : owner;
}

// The host file and the folder that holds it: whoever owns either could have
// put a program of their own there.
std::optional<ErrorReport> refusalOfAnUntrustedHost (const LaunchInputs& inputs, const juce::String& hostPath)
{
    for (const auto& path : { hostPath, composeHostFolder (inputs.sharedFolder) })
    {
        const auto owner = inputs.ownerOf (path);

        if (owner && ! isTrustedOwner (*owner, inputs.launchingUser))
            return ErrorReport { errorTitle, "Will not start " + hostPath + ": " + path + " is owned by "
                                                 + describeOwner (*owner, inputs)
                                                 + ", not by you or an administrator, so another user could have put it there."
                                                   " Please reinstall the host as an administrator." };
    }

    return std::nullopt;
}

} // namespace

juce::String composeHostPath (const juce::String& sharedFolder)
{
    return composeHostFolder (sharedFolder) + juce::File::getSeparatorString() + widen (hostFileName);
}

LaunchPlan planLaunch (const LaunchInputs& inputs)
{
    const auto hostPath = composeHostPath (inputs.sharedFolder);

    if (! inputs.exists (hostPath))
        return ErrorReport { errorTitle, "Cannot find: " + hostPath + ", please check your installation." };

    if (auto refusal = refusalOfAnUntrustedHost (inputs, hostPath))
        return std::move (*refusal);

    return HandOver { hostPath,
                      forwardArguments (inputs.launcherArguments),
                      buildHostEnvironment (inputs.environment) };
}

ErrorReport startFailureReport (const juce::String& hostPath, const juce::String& reason)
{
    return { errorTitle, "Cannot start: " + hostPath + " (" + reason + "), please check your installation." };
}

} // namespace launcher
