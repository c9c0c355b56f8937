// The boxes the launcher shows when the host is missing or cannot be started,
// end to end. Odd hosts and over-long command lines are in hostile_input_test.

#include "launcher_driver.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace
{

using namespace e2e;

TEST_F (Launcher, MissingHostShowsOneBoxNamingThePathAndExitsWithMinusOne)
{
    const auto outcome = errorBoxesOnLaunchWith (commandLineOf (launcherPath(), { u"document.txt" }));

    expectOneBox (outcome, missingHostBody());
}

TEST_F (Launcher, FolderAtTheHostPathIsReportedAsNotStartable)
{
    ASSERT_TRUE (CreateDirectoryW (hostPath().c_str(), nullptr));
    expectCannotStartBox (errorBoxesOnLaunchWith (commandLineOf (launcherPath(), {})));
}

} // namespace
