// The launcher's ordinary work, end to end: what the host receives from it,
// and the boxes it shows when the host is missing or cannot be started.

#include "launcher_driver.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <memory>

namespace
{

using namespace e2e;

bool namesProduct (const Utf16& entry)
{
    const Utf16 name = entry.substr (0, entry.find (u'=', 1));
    return CompareStringOrdinal (reinterpret_cast<const wchar_t*> (name.c_str()), -1, L"PRODUCTNAME", -1, TRUE) == CSTR_EQUAL;
}

Utf16List withoutProductEntries (Utf16List entries)
{
    entries.erase (std::remove_if (entries.begin(), entries.end(), namesProduct), entries.end());
    return entries;
}

void printEntries (const char* heading, Utf16List::const_iterator begin, Utf16List::const_iterator end)
{
    std::cout << heading << "\n";
    for (auto entry = begin; entry != end; ++entry)
        std::cout << "  " << received_report::encodeValue (*entry) << "\n";
}

// What the host reports when `program` is started with this environment and
// these settings: the host itself, for the platform's own view of them, or
// the launcher in front of it.
Report reportOfAStartWith (const std::wstring& program, const std::optional<Utf16List>& environment,
                           const StartupSettings& settings = {})
{
    Process process (program, commandLineOf (program, {}), environment, L"C:\\users\\Public", settings);
    EXPECT_TRUE (process.hasStarted());
    auto report = waitForReport();
    EXPECT_TRUE (process.hasExited (patienceMs));
    DeleteFileW (reportPath().c_str());
    return report;
}

TEST_P (HandOver, WithoutArgumentsTheHostGetsOnlyItsName)
{
    installSampleHost();
    expectBothParsersSee (handOver ({}), { u"Sonvik.exe" });
}

TEST_P (HandOver, TwoPlainArgumentsArriveAfterTheHostsNameInOrder)
{
    installSampleHost();
    expectBothParsersSee (handOver ({ u"first", u"second" }), { u"Sonvik.exe", u"first", u"second" });
}

TEST_P (HandOver, ArgumentsArriveUnchangedWhateverTheyHold)
{
    const Utf16List arguments { u"C:\\My Documents\\report 2026.txt", u"say \"hi\"", u"", u"x\"y", u"trailing\\",
                                u"spaced trailing\\", u"a\\\\\"b", u"tab\there", u"\\\\server\\share",
                                u"Gr\u00fc\u00dfe \u65e5\u672c \u0425\u043e\u0441\u0442 \U0001F319",
                                Utf16 { u'l', u'o', u'n', u'e', char16_t (0xD800) } };
    // Written by hand, as a shell or a shortcut would, so that the launcher's
    // own quoting is not what puts these arguments on its command line.
    const std::wstring written = L" \"C:\\My Documents\\report 2026.txt\" \"say \\\"hi\\\"\" \"\" x\\\"y trailing\\"
                                 L" \"spaced trailing\\\\\" a\\\\\\\\\\\"b \"tab\there\" \\\\server\\share"
                                 L" \"Gr\u00fc\u00dfe \u65e5\u672c \u0425\u043e\u0441\u0442 \U0001F319\" lone"
                                 + std::wstring (1, wchar_t (0xD800));
    const auto commandLine = L"\"" + launcherPath() + L"\"" + written;

    int count = 0;
    auto** split = CommandLineToArgvW (commandLine.c_str(), &count);
    ASSERT_NE (split, nullptr);
    Utf16List given;
    for (int i = 1; i < count; ++i)
        given.push_back (utf16 (split[i]));
    LocalFree (split);
    ASSERT_EQ (given, arguments) << "the launcher must first be given these arguments exactly";

    installSampleHost();
    Process launcher (launcherPath(), commandLine, std::nullopt);
    ASSERT_TRUE (launcher.hasStarted());
    const auto report = waitForReport();

    expectBothParsersSee (report, withHostNameFirst (arguments));
}

// Wine re-adds its own variables (WINE..., SystemDrive, SystemRoot) to every
// new process, after the block its parent passed.
bool isAddedByThePlatform (const Utf16& entry, const Utf16List& platformView)
{
    return std::find (platformView.begin(), platformView.end(), entry) != platformView.end();
}

void expectInheritedThenProductEntryAndOnlyPlatformAdditions (const Utf16List& inherited, const Report& report,
                                                              const Utf16List& platformView)
{
    const auto received = valuesOf (report, "environment");
    const auto kept = withoutProductEntries (inherited);
    ASSERT_GE (received.size(), kept.size() + 1);
    EXPECT_EQ (Utf16List (received.begin(), received.begin() + static_cast<long> (kept.size())), kept);

    const auto ours = std::find (received.begin(), received.end(), productUnderTest().entry());
    EXPECT_NE (ours, received.end());
    EXPECT_EQ (std::count_if (received.begin(), received.end(), namesProduct), 1);
    EXPECT_EQ (valuesOf (report, "productname"), Utf16List { productUnderTest().value });

    for (auto entry = received.begin() + static_cast<long> (kept.size()); entry != received.end(); ++entry)
    {
        if (entry != ours)
        {
            EXPECT_TRUE (isAddedByThePlatform (*entry, platformView)) << received_report::encodeValue (*entry);
        }
    }

    printEntries ("the host received:", received.begin(), received.end());
}

TEST_P (HandOver, InheritedEnvironmentArrivesInOrderWithOnlyOurProductEntryAfterIt)
{
    const Utf16List inherited { u"ALPHA=1", u"PRODUCTNAME=other", u"Zeta=Gr\u00fc\u00dfe \u65e5\u672c", u"EMPTY=",
                                u"productname=lower", u"PATH=C:\\windows\\system32;C:\\windows", u"OMEGA=last" };
    installSampleHost();
    const auto platformView = valuesOf (reportOfAStartWith (hostPath(), inherited), "environment");

    expectInheritedThenProductEntryAndOnlyPlatformAdditions (inherited, handOver ({}, inherited), platformView);
}

TEST_P (HandOver, EmptyEnvironmentGivesTheHostTheProductEntryAndOnlyWhatThePlatformAdds)
{
    installSampleHost();
    const auto platformView = valuesOf (reportOfAStartWith (hostPath(), Utf16List {}), "environment");
    printEntries ("a program started with an empty environment gets from the platform:", platformView.begin(), platformView.end());

    expectInheritedThenProductEntryAndOnlyPlatformAdditions ({}, handOver ({}, Utf16List {}), platformView);
}

TEST_F (Launcher, MissingHostShowsOneBoxNamingThePathAndExitsWithMinusOne)
{
    const auto outcome = errorBoxesOnLaunchWith (commandLineOf (launcherPath(), { u"document.txt" }));

    EXPECT_EQ (outcome.boxesShown, 1u);
    EXPECT_EQ (outcome.firstBody, L"Cannot find: " + hostPath() + L", please check your installation.");
    EXPECT_EQ (outcome.exitStatus, launchFailedStatus);
}

TEST_F (Launcher, FolderAtTheHostPathIsReportedAsNotStartable)
{
    ASSERT_TRUE (CreateDirectoryW (hostPath().c_str(), nullptr));
    expectCannotStartBox (errorBoxesOnLaunchWith (commandLineOf (launcherPath(), {})));
}

TEST_F (Launcher, CommandLineOverThePlatformLimitIsReportedAndNotCutShort)
{
    // Each of these needs quotes for the host's parser but not for the
    // launcher's own, so the host's command line comes out twice as long.
    auto commandLine = commandLineOf (launcherPath(), {});
    for (int i = 0; i < 16000; ++i)
        commandLine += L" \v";
    installSampleHost();
    const auto outcome = errorBoxesOnLaunchWith (commandLine);

    EXPECT_EQ (outcome.boxesShown, 1u);
    EXPECT_EQ (outcome.firstBody, L"Cannot start: " + hostPath() + L" (" + systemTextOf (ERROR_FILENAME_EXCED_RANGE)
                                      + L"), please check your installation.");
    EXPECT_EQ (outcome.exitStatus, launchFailedStatus);
    EXPECT_FALSE (readReport());
}

// The tests' own second product (tests/products/table.cmake), whose launcher
// is built from the same sources: it carries its own values, not the first
// product's.
class SecondProduct : public Launcher
{
protected:
    std::wstring launcherName() const override { return L"Velmora.exe"; }
};

// A string of a program's version resource, in its first language.
std::wstring versionStringOf (const std::wstring& program, const wchar_t* name)
{
    std::vector<unsigned char> resource (GetFileVersionInfoSizeW (program.c_str(), nullptr));
    WORD* language = nullptr;
    wchar_t* value = nullptr;
    UINT length = 0;

    if (resource.empty() || ! GetFileVersionInfoW (program.c_str(), 0, static_cast<DWORD> (resource.size()), resource.data())
        || ! VerQueryValueW (resource.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**> (&language), &length)
        || length < 2 * sizeof (WORD))
        return {};

    wchar_t path[64];
    swprintf (path, 64, L"\\StringFileInfo\\%04x%04x\\%ls", language[0], language[1], name);
    return VerQueryValueW (resource.data(), path, reinterpret_cast<void**> (&value), &length) ? std::wstring (value) : L"";
}

TEST_F (SecondProduct, HandsOverWithItsOwnProductName)
{
    installSampleHost();
    const auto report = handOver ({ u"document.txt" });

    EXPECT_EQ (valuesOf (report, "productname"), Utf16List { u"velmora" });
    expectBothParsersSee (report, withHostNameFirst ({ u"document.txt" }));
}

TEST_F (SecondProduct, NamesItselfAndShowsTheFamilysBoxWhenTheHostIsMissing)
{
    EXPECT_EQ (versionStringOf (launcherPath(), L"ProductName"), L"Velmora");
    const auto outcome = errorBoxesOnLaunchWith (commandLineOf (launcherPath(), {}));

    EXPECT_EQ (outcome.boxesShown, 1u);
    EXPECT_EQ (outcome.firstBody, L"Cannot find: " + hostPath() + L", please check your installation.");
    EXPECT_EQ (outcome.exitStatus, launchFailedStatus);
}

// The host in the launcher's place, as the program that started the launcher
// sees it: the start-up settings, the wait, the status, the lifetime.

using ProcessHandle = std::unique_ptr<void, decltype (&CloseHandle)>;

ProcessHandle openProcessNamedIn (const Report& report, const std::string& field)
{
    const auto id = valuesOf (report, field);
    const auto process = id.size() == 1 ? OpenProcess (SYNCHRONIZE | PROCESS_TERMINATE, FALSE, std::stoul (wide (id[0]))) : nullptr;
    return { process, &CloseHandle };
}

Utf16List startupInformationIn (const Report& report)
{
    auto seen = valuesOf (report, "startup-flags");
    for (const char* field : { "startup-show", "startup-title" })
        for (const auto& value : valuesOf (report, field))
            seen.push_back (value);
    return seen;
}

TEST_P (HandOver, TheHostGetsTheStartupSettingsTheLauncherWasStartedWith)
{
    const StartupSettings shortcutsAndStartCommands[] {
        // A shortcut set to "Run: Minimized".
        { STARTF_USESHOWWINDOW | STARTF_TITLEISLINKNAME, SW_SHOWMINNOACTIVE, L"C:\\users\\Public\\Desktop\\Tessalune.lnk" },
        // start /min
        { STARTF_USESHOWWINDOW, SW_SHOWMINIMIZED, {} },
        // start /max "Tessalune"
        { STARTF_USESHOWWINDOW, SW_SHOWMAXIMIZED, L"Tessalune" },
    };
    installSampleHost();

    for (const auto& settings : shortcutsAndStartCommands)
    {
        const auto direct = startupInformationIn (reportOfAStartWith (hostPath(), std::nullopt, settings));
        ASSERT_EQ (direct.at (1), utf16 (std::to_wstring (settings.show))) << "the platform did not pass the show state on";

        EXPECT_EQ (startupInformationIn (reportOfAStartWith (launcherPath(), std::nullopt, settings)), direct);
    }
}

TEST_P (HandOver, TheHostRunsAtThePriorityClassTheLauncherWasStartedWith)
{
    const StartupSettings high { 0, 0, {}, HIGH_PRIORITY_CLASS };
    const auto highClass = utf16 (std::to_wstring (HIGH_PRIORITY_CLASS));
    installSampleHost();

    if (valuesOf (reportOfAStartWith (hostPath(), std::nullopt, high), "priority-class") != Utf16List { highClass })
        GTEST_SKIP() << "this platform does not keep the priority class a program is started with (Wine does not)";

    EXPECT_EQ (valuesOf (reportOfAStartWith (launcherPath(), std::nullopt, high), "priority-class"), Utf16List { highClass });
}

// Wine counts a program as waiting for input whenever it waits for any
// message, WaitForInputIdle's own wait included.
bool isWine()
{
    return GetProcAddress (GetModuleHandleW (L"ntdll.dll"), "wine_get_version") != nullptr;
}

struct Readiness
{
    bool beforeTheHost;     // ready for input while its host was busy
    bool afterTheHost;      // ready for input once its host was
    bool hostStillRuns;     // when it said so
};

// How a caller waiting for `program` to be ready for input sees it, while its
// host is busy and once the host waits for input: the host itself, for the
// platform's own answer, or the launcher in front of it.
Readiness readinessOf (const std::wstring& program)
{
    const auto eventName = L"Sonvik-ready-" + std::to_wstring (GetCurrentProcessId());
    const ProcessHandle hostReady (CreateEventW (nullptr, TRUE, FALSE, eventName.c_str()), &CloseHandle);
    Process started (program, commandLineOf (program, { u"--idle-after=" + utf16 (eventName), u"--wait-ms=120000" }), std::nullopt);
    const auto host = openProcessNamedIn (waitForReport(), "process-id");
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
    if (launched.beforeTheHost && isWine())
        GTEST_SKIP() << "Wine counts the launcher as waiting for input while it waits for its host to be; only Windows"
                        " shows when the launcher is ready";

    EXPECT_FALSE (launched.beforeTheHost) << "ready before its host was";
    EXPECT_TRUE (launched.afterTheHost) << "never ready while its host was";
    EXPECT_TRUE (launched.hostStillRuns) << "ready only once its host had ended";
}

INSTANTIATE_TEST_SUITE_P (EachHost, HandOver, ::testing::Values (launcherWith32BitHost, launcherWith64BitHost),
                          nameOfPairing);

INSTANTIATE_TEST_SUITE_P (EachStartPathAndHost, HostLifetime,
                          ::testing::Values (launcherWith32BitHost, launcherWith64BitHost,
                                             Pairing { L"LauncherOnOlderWindows.exe", L"Sonvik.exe", "OnOlderWindows_To32BitHost" },
                                             Pairing { L"LauncherOnOlderWindows.exe", L"Sonvik-x64.exe", "OnOlderWindows_To64BitHost" }),
                          nameOfPairing);

TEST_P (HostLifetime, AWaitingCallerWaitsForTheHostAndGetsItsWholeExitStatus)
{
    installSampleHost();

    for (const Utf16 status : { u"7", u"0xC0000409" })
    {
        Process launcher (launcherPath(), commandLineOf (launcherPath(), { u"--wait-ms=3000", u"--exit-status=" + status }),
                          std::nullopt);
        const auto report = waitForReport();
        const auto host = openProcessNamedIn (report, "process-id");
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
    const auto host = openProcessNamedIn (waitForReport(), "process-id");
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
    const auto child = openProcessNamedIn (waitForReport(), "child-process-id");
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
