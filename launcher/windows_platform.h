#pragma once

#include "launch_plan.h"

#include <optional>

// The thin Windows layer: it gathers the launch's inputs and carries out its
// plan. Everything it decides on is in launch_plan.h.
namespace launcher::platform
{

std::optional<Utf16List> splitCommandLine();

juce::String sharedApplicationDataFolder();

bool pathExists (const juce::String& path);

Utf16List currentEnvironment();

// Returns only when the host could not be started, with the run-time's error number.
int handOver (const HandOver& request);

juce::String describeRunTimeError (int error);

void showErrorBox (const ErrorReport& report);

} // namespace launcher::platform
