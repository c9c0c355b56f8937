// The launcher's ordinary work, end to end: what the host receives from it,
// and the boxes it shows when the host is missing or cannot be started.

#include "launcher_driver.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

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

// What the host reports when the parent starts it itself: the platform's own
// view of the same environment block.
Report startHostDirectly (const Utf16List& environment)
{
    Process host (hostPath(), commandLineOf (hostPath(), {}), environment);
    EXPECT_TRUE (host.hasStarted());
    EXPECT_TRUE (host.hasExited (patienceMs));
    auto report = waitForReport();
    DeleteFileW (reportPath().c_str());
    return report;
}

TEST_F (Launcher, WithoutArgumentsTheHostGetsOnlyItsName)
{
    installSampleHost();
    expectBothParsersSee (handOver ({}), { u"Sonvik.exe" });
}

TEST_F (Launcher, TwoPlainArgumentsArriveAfterTheHostsNameInOrder)
{
    installSampleHost();
    expectBothParsersSee (handOver ({ u"first", u"second" }), { u"Sonvik.exe", u"first", u"second" });
}

TEST_F (Launcher, ArgumentsArriveUnchangedWhateverTheyHold)
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

    const auto ours = std::find (received.begin(), received.end(), u"PRODUCTNAME=tessalune");
    EXPECT_NE (ours, received.end());
    EXPECT_EQ (std::count_if (received.begin(), received.end(), namesProduct), 1);
    EXPECT_EQ (valuesOf (report, "productname"), Utf16List { u"tessalune" });

    for (auto entry = received.begin() + static_cast<long> (kept.size()); entry != received.end(); ++entry)
    {
        if (entry != ours)
        {
            EXPECT_TRUE (isAddedByThePlatform (*entry, platformView)) << received_report::encodeValue (*entry);
        }
    }

    printEntries ("the host received:", received.begin(), received.end());
}

TEST_F (Launcher, InheritedEnvironmentArrivesInOrderWithOnlyOurProductEntryAfterIt)
{
    const Utf16List inherited { u"ALPHA=1", u"PRODUCTNAME=other", u"Zeta=Gr\u00fc\u00dfe \u65e5\u672c", u"EMPTY=",
                                u"productname=lower", u"PATH=C:\\windows\\system32;C:\\windows", u"OMEGA=last" };
    installSampleHost();
    const auto platformView = valuesOf (startHostDirectly (inherited), "environment");

    expectInheritedThenProductEntryAndOnlyPlatformAdditions (inherited, handOver ({}, inherited), platformView);
}

TEST_F (Launcher, EmptyEnvironmentGivesTheHostTheProductEntryAndOnlyWhatThePlatformAdds)
{
    installSampleHost();
    const auto platformView = valuesOf (startHostDirectly ({}), "environment");
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
    EXPECT_EQ (outcome.firstBody, L"Cannot start: " + hostPath() + L" (" + _wcserror (E2BIG) + L"), please check your installation.");
    EXPECT_EQ (outcome.exitStatus, launchFailedStatus);
    EXPECT_FALSE (readReport());
}

} // namespace
