#pragma once

#include <juce_core/juce_core.h>

#include <functional>
#include <optional>
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

// Accounts are named by their SIDs in text form ("S-1-5-32-544").
struct LaunchInputs
{
    Utf16List launcherArguments;    // as split from the command line, slot 0 the launcher's own name
    juce::String sharedFolder;      // the shared application-data folder, empty if the lookup failed
    std::function<bool (const juce::String&)> exists;
    Utf16List environment;          // NAME=value entries, in the platform's order
    juce::String launchingUser;     // who started the launcher
    // The owner of a file or folder: none where its volume keeps no owners,
    // empty where it cannot be read.
    std::function<std::optional<juce::String> (const juce::String&)> ownerOf;
    // An account's name, empty where it does not resolve; asked only when the
    // launcher refuses a host, so a launch that hands over never pays for it.
    std::function<juce::String (const juce::String&)> accountNameOf;
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
