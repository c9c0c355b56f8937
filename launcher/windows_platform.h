#pragma once

#include "launch_plan.h"

#include <windows.h>

#include <optional>
#include <utility>
#include <variant>

// The thin Windows layer: it gathers the launch's inputs and carries out its
// plan. Everything it decides on is in launch_plan.h. Its parts: the inputs
// (windows_inputs.cpp), the host held while it is judged (held_host.cpp),
// security descriptors read as the decision judges them (security_descriptor.cpp),
// starting and standing in for the host (host_process.cpp), and the system's
// texts and the box (error_box.cpp).
namespace launcher::platform
{

// A handle that is closed when it goes.
class OwnedHandle
{
public:
    explicit OwnedHandle (HANDLE handle = nullptr) : handle (handle) { }
    OwnedHandle (OwnedHandle&& other) noexcept : handle (std::exchange (other.handle, nullptr)) { }
    OwnedHandle& operator= (OwnedHandle&& other) noexcept;
    ~OwnedHandle();

    HANDLE get() const { return handle; }
    explicit operator bool() const { return handle != nullptr; }

private:
    HANDLE handle;
};

std::optional<Utf16List> splitCommandLine();

juce::String sharedApplicationDataFolder();

// The drive Windows is installed on ("C:"); empty where it cannot be told.
juce::String windowsDrive();

Utf16List currentEnvironment();

Sid launchingUser();

// The SID's text; empty where it cannot be had.
Sid sidOf (PSID sid);

// Local and well-known accounts only, never asking a domain controller.
juce::String accountNameOf (const Sid& sid);

using SystemError = DWORD;

// The owner and access list a security descriptor holds.
std::variant<Permissions, SystemError> permissionsIn (PSECURITY_DESCRIPTOR descriptor);

// The host's folder and the host, each opened once, without following a
// link, and held, shared for reading only, until the host has started: so
// neither can be renamed, replaced or written between being judged and being
// started, and what is judged is what starts.
struct HeldHost
{
    OwnedHandle folder;
    OwnedHandle host;
    HostObjects found;
};

// Opens the place's paths as they are spelt, and nothing where the place
// cannot be looked for.
HeldHost holdHost (const HostPlace& place);

// The host, running in the launcher's place.
struct RunningHost
{
    OwnedHandle process;
    // Ends the host should the launcher be ended; none where the launcher's
    // own job allows no other.
    OwnedHandle job;
};

// Starts the host as the launcher's own caller would have: with the launcher's
// start-up information and priority class.
// https://learn.microsoft.com/windows/win32/api/processthreadsapi/nf-processthreadsapi-createprocessw
std::variant<RunningHost, SystemError> startHost (const HandOver& request);

// Lets go of what the launcher no longer needs while it stands in for the host.
void standAsideForHost();

// Waits for the host to end and gives its exit status, all 32 bits of it.
DWORD waitForExitStatus (const RunningHost& host);

// The system's text for an error, with the path in place of any insert.
juce::String describeSystemError (SystemError error, const juce::String& path);

void showErrorBox (const ErrorBox& box);

} // namespace launcher::platform
