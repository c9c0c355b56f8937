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

} // namespace

juce::String composeHostPath (const juce::String& sharedFolder)
{
    const auto separator = juce::File::getSeparatorString();
    return sharedFolder + separator + widen (hostFolderName) + separator + widen (hostFileName);
}

LaunchPlan planLaunch (const LaunchInputs& inputs)
{
    const auto hostPath = composeHostPath (inputs.sharedFolder);

    if (! inputs.exists (hostPath))
        return ErrorReport { errorTitle, "Cannot find: " + hostPath + ", please check your installation." };

    return HandOver { hostPath,
                      forwardArguments (inputs.launcherArguments),
                      buildHostEnvironment (inputs.environment) };
}

ErrorReport startFailureReport (const juce::String& hostPath, const juce::String& reason)
{
    return { errorTitle, "Cannot start: " + hostPath + " (" + reason + "), please check your installation." };
}

} // namespace launcher
