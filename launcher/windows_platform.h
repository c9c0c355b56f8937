#pragma once

#include "launch_plan.h"

#include <windows.h>

#include <optional>
#include <utility>
#include <variant>

// The thin Windows layer: it gathers the launch's inputs and carries out its
// plan. Everything it decides on is in launch_plan.h.
namespace launcher::platform
{

std::optional<Utf16List> splitCommandLine();

juce::String sharedApplicationDataFolder();

bool pathExists (const juce::String& path);

Utf16List currentEnvironment();

juce::String launchingUser();

// Reads the path as the existence test does: a drive-relative one on the
// current drive.
std::optional<juce::String> ownerOf (const juce::String& path);

juce::String accountNameOf (const juce::String& sid);

// A handle that is closed when it goes.
class OwnedHandle
{
public:
    explicit OwnedHandle (HANDLE handle = nullptr) : handle (handle) {}
    OwnedHandle (OwnedHandle&& other) noexcept : handle (std::exchange (other.handle, nullptr)) {}
    OwnedHandle& operator= (OwnedHandle&& other) noexcept;
    ~OwnedHandle();

    HANDLE get() const { return handle; }

private:
    HANDLE handle;
};

// The host, running in the launcher's place.
struct RunningHost
{
    OwnedHandle process;
    // Ends the host should the launcher be ended; none where the launcher's
    // own job allows no other.
    OwnedHandle job;
};

using SystemError = DWORD;

// Starts the host as the launcher's own caller would have: with the launcher's
// start-up information and priority class.
std::variant<RunningHost, SystemError> startHost (const HandOver& request);

// Lets go of what the launcher no longer needs while it stands in for the host.
void standAsideForHost();

// Waits for the host to end and gives its exit status, all 32 bits of it.
DWORD waitForExitStatus (const RunningHost& host);

juce::String describeSystemError (SystemError error);

void showErrorBox (const ErrorReport& report);

} // namespace launcher::platform
