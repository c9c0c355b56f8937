#include "family.h"
#include "launch_plan.h"
#include "product.h"
#include "windows_platform.h"

#include <windows.h>

#include <cstdlib>
#include <new>
#include <optional>
#include <variant>

namespace
{

constexpr int launchFailed = -1;

using namespace launcher;

// The host started, or the status the launcher ends with when it is not. The
// plan's texts and vectors go with this function's scope.
std::variant<platform::RunningHost, int> startHostInOurPlace()
{
    auto arguments = platform::splitCommandLine();

    if (! arguments)
        return launchFailed;

    const auto host = placeOfHost (platform::sharedApplicationDataFolder(), platform::windowsDrive());
    // Held from being judged until the host has started, and no longer: a box
    // that asks for the host to be reinstalled must not keep its folder in use.
    auto held = std::optional (platform::holdHost (host));
    const auto plan = planLaunch ({ .launcherArguments = std::move (*arguments),
                                    .host = host,
                                    .found = held->found,
                                    .environment = platform::currentEnvironment(),
                                    .productEntry = u"" FAMILY_PRODUCT_VARIABLE "=" PRODUCT_VALUE,
                                    .launchingUser = platform::launchingUser(),
                                    .accountNameOf = platform::accountNameOf });

    if (const auto* box = std::get_if<ErrorBox> (&plan))
    {
        held.reset();
        platform::showErrorBox (*box);
        return launchFailed;
    }

    const auto& request = std::get<HandOver> (plan);
    auto started = platform::startHost (request);
    held.reset();

    if (const auto* error = std::get_if<platform::SystemError> (&started))
    {
        platform::showErrorBox (
            cannotStartBox (request.hostPath, platform::describeSystemError (*error, request.hostPath)));
        return launchFailed;
    }

    return std::move (std::get<platform::RunningHost> (started));
}

// The launcher stands in for the host until it ends and ends with its status,
// so whoever waits on the launcher waits on the host.
int launch()
{
    const auto started = startHostInOurPlace();

    if (const auto* status = std::get_if<int> (&started))
        return *status;

    const auto& host = std::get<platform::RunningHost> (started);
    platform::standAsideForHost();
    // All 32 bits: the run-time hands the returned value to ExitProcess unchanged.
    // See mingw-w64-crt/crt/crtexe.c, __tmainCRTStartup(): exit (mainret).
    return static_cast<int> (platform::waitForExitStatus (host));
}

// Memory that cannot be had ends the launch as quietly as a command line that
// cannot be split: there is nothing to show it with. Ending it right where the
// allocation fails works in JUCE's code as well as ours, and needs no unwinding,
// which the launcher is linked without.
[[noreturn]] void endLaunchForWantOfMemory()
{
    std::_Exit (launchFailed);
}

} // namespace

int WINAPI WinMain (HINSTANCE, HINSTANCE, LPSTR, int)
{
    std::set_new_handler (endLaunchForWantOfMemory);
    return launch();
}
