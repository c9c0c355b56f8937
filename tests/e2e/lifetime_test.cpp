// The host in the launcher's place, as the program that started the launcher
// sees it, end to end: when it is ready for input, the wait, the status and
// the lifetime, on each of the launcher's ways to start the host.

#include "launcher_driver.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace
{

using namespace e2e;

struct Readiness
{
    bool beforeTheHost; // ready for input while its host was busy
    bool afterTheHost;  // ready for input once its host was
    bool hostStillRuns; // when it said so
};

// How a caller waiting for `program` to be ready for input sees it, while its
// host is busy and once the host waits for input: the host itself, for the
// platform's own answer, or the launcher in front of it.
Readiness readinessOf (const std::wstring& program)
{
    const auto eventName = L"Sonvik-ready-" + std::to_wstring (GetCurrentProcessId());
    const ScopedHandle hostReady (CreateEventW (nullptr, TRUE, FALSE, eventName.c_str()), &CloseHandle);
    Process started (program, commandLineOf (program, { u"--idle-after=" + utf16 (eventName), u"--wait-ms=120000" }),
                     std::nullopt);
    const auto host = openProcessNamedIn (waitForReport(), field::processId);
    DeleteFileW (reportPath().c_str());
    EXPECT_TRUE (host);

    Readiness readiness {};
    readiness.beforeTheHost = WaitForInputIdle (started.handle(), 0) == 0;
    SetEvent (hostReady.get());
    readiness.afterTheHost = WaitForInputIdle (started.handle(), patienceMs) == 0;
    readiness.hostStillRuns = host && WaitForSingleObject (host.get(), 0) == WAIT_TIMEOUT;

    if (host)
        TerminateProcess (host.get(), 1);

    return readiness;
}

TEST_F (Launcher, ACallerWaitingForTheLauncherToBeReadyForInputWaitsForItsHost)
{
    installSampleHost();
    const auto direct = readinessOf (hostPath());
    if (direct.beforeTheHost || ! direct.afterTheHost)
        GTEST_SKIP() << "this platform does not answer WaitForInputIdle for a program that waits for input";

    const auto launched = readinessOf (launcherPath());
    // Wine counts a program as waiting for input whenever it waits for any
    // message, WaitForInputIdle's own wait included.
    if (launched.beforeTheHost && runsUnderWine())
        GTEST_SKIP() << "Wine counts the launcher as waiting for input while it waits for its host to be; only Windows"
                        " shows when the launcher is ready";

    EXPECT_FALSE (launched.beforeTheHost) << "ready before its host was";
    EXPECT_TRUE (launched.afterTheHost) << "never ready while its host was";
    EXPECT_TRUE (launched.hostStillRuns) << "ready only once its host had ended";
}

INSTANTIATE_TEST_SUITE_P (
    EachStartPathAndHost, HostLifetime,
    ::testing::Values (launcherWith32BitHost, launcherWith64BitHost,
                       Pairing { L"LauncherOnOlderWindows.exe", L"Sonvik.exe", "OnOlderWindows_To32BitHost" },
                       Pairing { L"LauncherOnOlderWindows.exe", L"Sonvik-x64.exe", "OnOlderWindows_To64BitHost" }),
    nameOfPairing);

TEST_P (HostLifetime, AWaitingCallerWaitsForTheHostAndGetsItsWholeExitStatus)
{
    installSampleHost();

    for (const Utf16 status : { u"7", u"0xC0000409" })
    {
        Process launcher (launcherPath(),
                          commandLineOf (launcherPath(), { u"--wait-ms=3000", u"--exit-status=" + status }),
                          std::nullopt);
        const auto report = waitForReport();
        const auto host = openProcessNamedIn (report, field::processId);
        ASSERT_TRUE (host);

        ASSERT_TRUE (launcher.hasExited (patienceMs));
        EXPECT_EQ (WaitForSingleObject (host.get(), 0), WAIT_OBJECT_0) << "the launcher ended before its host";
        EXPECT_EQ (launcher.exitStatus(), std::stoul (wide (status), nullptr, 0));
        WaitForSingleObject (host.get(), patienceMs);
        DeleteFileW (reportPath().c_str());
    }
}

TEST_P (HostLifetime, EndingTheLauncherEndsTheHost)
{
    installSampleHost();
    Process launcher (launcherPath(), commandLineOf (launcherPath(), { u"--wait-ms=120000" }), std::nullopt);
    const auto host = openProcessNamedIn (waitForReport(), field::processId);
    ASSERT_TRUE (host);

    TerminateProcess (launcher.handle(), 1);
    const auto hostEnded = WaitForSingleObject (host.get(), patienceMs) == WAIT_OBJECT_0;

    EXPECT_TRUE (hostEnded) << "the host outlived the launcher that was ended";
    TerminateProcess (host.get(), 1);
    WaitForSingleObject (host.get(), patienceMs);
}

TEST_P (HostLifetime, WhatTheHostStartsOutlivesTheLauncherWhichEndsWithTheHost)
{
    installSampleHost();
    Process launcher (launcherPath(), commandLineOf (launcherPath(), { u"--start-child=120000" }), std::nullopt);
    const auto child = openProcessNamedIn (waitForReport(), field::childProcessId);
    ASSERT_TRUE (child);

    const auto launcherEnded = launcher.hasExited (patienceMs);
    const auto childLives = WaitForSingleObject (child.get(), 0) == WAIT_TIMEOUT;

    EXPECT_TRUE (launcherEnded) << "the launcher waited for what its host started";
    EXPECT_EQ (launcher.exitStatus(), 0u);
    EXPECT_TRUE (childLives) << "what the host started ended with the launcher";
    TerminateProcess (child.get(), 1);
    WaitForSingleObject (child.get(), patienceMs);
}

} // namespace
