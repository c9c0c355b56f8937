#pragma once

#include "host_trust.h"

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
// See JUCE 7.0.5 (toolchain.lock: juce-modules-source-data) modules/juce_core/text/juce_CharPointer_UTF16.h, CharPointer_UTF16::getAndAdvance()
using Utf16 = std::u16string;
using Utf16List = std::vector<Utf16>;

// Where the host is looked for: its folder below the shared application-data
// folder, and the host's own path in it, both spelt with Windows' separator
// whatever this is built on. The path the launcher opens, judges and starts
// is this text itself.
struct HostPlace
{
    juce::String folder;
    juce::String path;
    // Where the shared folder cannot be looked up: at the root of the drive
    // Windows is installed on ("C:"), never the drive the launcher was started
    // from, which its caller chose and another machine could have prepared.
    bool onTheWindowsDrive = false;
    // False where neither that folder nor that drive can be had: the path
    // then names no drive, and nothing is looked for.
    bool canBeLookedFor = true;
};

HostPlace placeOfHost (const juce::String& sharedFolder, const juce::String& windowsDrive);

// An account's name, empty where it does not resolve.
using AccountNameOf = std::function<juce::String (const Sid&)>;

struct LaunchInputs
{
    Utf16List launcherArguments; // as split from the command line, slot 0 the launcher's own name
    HostPlace host;
    HostObjects found;     // what is at the host's folder and at the host path
    Utf16List environment; // NAME=value entries, in the platform's order
    Utf16 productEntry;    // PRODUCTNAME=value, the product's entry for the host
    Sid launchingUser;     // who started the launcher
    // Asked only when the launcher refuses a host, so a launch that hands
    // over never pays for it, and never of the network, so the box is not
    // kept waiting.
    AccountNameOf accountNameOf;
};

struct HandOver
{
    juce::String hostPath;
    Utf16List hostArguments; // slot 0 the host's name, the rest quoted for the host's parser
    Utf16List hostEnvironment;
};

// The one box the launcher shows instead of handing over.
struct ErrorBox
{
    juce::String title;
    juce::String body;
};

using LaunchPlan = std::variant<HandOver, ErrorBox>;

LaunchPlan planLaunch (const LaunchInputs& inputs);

// The boxes a plan shows, each worded here alone, so that whoever checks a
// box the launcher showed states only why: nothing at the host path or its
// folder; something there that cannot be opened or started, for the
// system's reason; the host or its folder at `place` distrusted, naming
// accounts as `accountNameOf` does.
ErrorBox missingHostBox (const juce::String& hostPath);
ErrorBox cannotStartBox (const juce::String& hostPath, const juce::String& reason);
ErrorBox refusalBox (const Distrust& distrust, HostObjectKind kind, const HostPlace& place,
                     const AccountNameOf& accountNameOf);

} // namespace launcher
