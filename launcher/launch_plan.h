#pragma once

#include <juce_core/juce_core.h>

#include <functional>
#include <string>
#include <variant>
#include <vector>

namespace launcher
{

// Arguments and environment entries stay UTF-16 code units from the platform
// to the hand-over: juce::String is UTF-8 inside and cannot carry a lone
// surrogate, which Windows allows in both.
using Utf16 = std::u16string;
using Utf16List = std::vector<Utf16>;

struct LaunchInputs
{
    Utf16List launcherArguments;    // as split from the command line, slot 0 the launcher's own name
    juce::String sharedFolder;      // the shared application-data folder, empty if the lookup failed
    std::function<bool (const juce::String&)> exists;
    Utf16List environment;          // NAME=value entries, in the platform's order
};

struct HandOver
{
    juce::String hostPath;
    Utf16List hostArguments;        // slot 0 the host's name, the rest quoted for the host's parser
    Utf16List hostEnvironment;
};

struct ErrorReport
{
    juce::String title;
    juce::String body;
};

using LaunchPlan = std::variant<HandOver, ErrorReport>;

juce::String composeHostPath (const juce::String& sharedFolder);

LaunchPlan planLaunch (const LaunchInputs& inputs);

ErrorReport startFailureReport (const juce::String& hostPath, const juce::String& reason);

} // namespace launcher
