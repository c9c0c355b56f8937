#include "launch_plan.h"
#include "windows_platform.h"

#include <windows.h>

#include <cstdlib>
#include <new>
#include <variant>

namespace
{

constexpr int launchFailed = -1;

int launch()
{
    using namespace launcher;

    auto arguments = platform::splitCommandLine();

    if (! arguments)
        return launchFailed;

    const auto plan = planLaunch ({ std::move (*arguments),
                                    platform::sharedApplicationDataFolder(),
                                    platform::pathExists,
                                    platform::currentEnvironment() });

    if (const auto* report = std::get_if<ErrorReport> (&plan))
    {
        platform::showErrorBox (*report);
        return launchFailed;
    }

    // On success the host runs in our place and this call does not return.
    const auto& request = std::get<HandOver> (plan);
    const auto error = platform::handOver (request);
    platform::showErrorBox (startFailureReport (request.hostPath, platform::describeRunTimeError (error)));
    return launchFailed;
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
