// What the host receives when the launcher hands over to it, end to end:
// its arguments, its environment, its start-up settings and priority, for
// each host.

#include "launcher_driver.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <iostream>

namespace
{

using namespace e2e;

// Independent of the launcher's own matching: the platform's comparison of
// variable names, without case.
bool namesProduct (const Utf16& entry)
{
    const Utf16 name = entry.substr (0, entry.find (u'=', 1));
    return CompareStringOrdinal (reinterpret_cast<const wchar_t*> (name.c_str()), -1, L"PRODUCTNAME", -1, TRUE)
        == CSTR_EQUAL;
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
    const Utf16List arguments { u"C:\\My Documents\\report 2026.txt",
                                u"say \"hi\"",
                                u"",
                                u"x\"y",
                                u"trailing\\",
                                u"spaced trailing\\",
                                u"a\\\\\"b",
                                u"tab\there",
                                u"\\\\server\\share",
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
    const auto received = valuesOf (report, field::environment);
    const auto kept = withoutProductEntries (inherited);
    ASSERT_GE (received.size(), kept.size() + 1);
    EXPECT_EQ (Utf16List (received.begin(), received.begin() + static_cast<long> (kept.size())), kept);

    const auto ours = std::find (received.begin(), received.end(), productUnderTest().entry());
    EXPECT_NE (ours, received.end());
    EXPECT_EQ (std::count_if (received.begin(), received.end(), namesProduct), 1);
    EXPECT_EQ (valuesOf (report, field::productName), Utf16List { productUnderTest().value });

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
    const Utf16List inherited { u"ALPHA=1",   u"PRODUCTNAME=other", u"Zeta=Gr\u00fc\u00dfe \u65e5\u672c",
                                u"EMPTY=",    u"productname=lower", u"PATH=C:\\windows\\system32;C:\\windows",
                                u"OMEGA=last" };
    installSampleHost();
    const auto platformView = valuesOf (reportOfAStartWith (hostPath(), inherited), field::environment);

    expectInheritedThenProductEntryAndOnlyPlatformAdditions (inherited, handOver ({}, inherited), platformView);
}

TEST_P (HandOver, EmptyEnvironmentGivesTheHostTheProductEntryAndOnlyWhatThePlatformAdds)
{
    installSampleHost();
    const auto platformView = valuesOf (reportOfAStartWith (hostPath(), Utf16List {}), field::environment);
    printEntries ("a program started with an empty environment gets from the platform:", platformView.begin(),
                  platformView.end());

    expectInheritedThenProductEntryAndOnlyPlatformAdditions ({}, handOver ({}, Utf16List {}), platformView);
}

Utf16List startupInformationIn (const Report& report)
{
    auto seen = valuesOf (report, field::startupFlags);
    for (const char* name : { field::startupShow, field::startupTitle })
        for (const auto& value : valuesOf (report, name))
            seen.push_back (value);
    return seen;
}

TEST_P (HandOver, TheHostGetsTheStartupSettingsTheLauncherWasStartedWith)
{
    const StartupSettings shortcutsAndStartCommands[] {
        // A shortcut set to "Run: Minimized".
        { STARTF_USESHOWWINDOW | STARTF_TITLEISLINKNAME, SW_SHOWMINNOACTIVE,
          L"C:\\users\\Public\\Desktop\\Tessalune.lnk" },
        // start /min
        { STARTF_USESHOWWINDOW, SW_SHOWMINIMIZED, {} },
        // start /max "Tessalune"
        { STARTF_USESHOWWINDOW, SW_SHOWMAXIMIZED, L"Tessalune" },
    };
    installSampleHost();

    for (const auto& settings : shortcutsAndStartCommands)
    {
        const auto direct = startupInformationIn (reportOfAStartWith (hostPath(), std::nullopt, settings));
        ASSERT_EQ (direct.at (1), utf16 (std::to_wstring (settings.show)))
            << "the platform did not pass the show state on";

        EXPECT_EQ (startupInformationIn (reportOfAStartWith (launcherPath(), std::nullopt, settings)), direct);
    }
}

TEST_P (HandOver, TheHostRunsAtThePriorityClassTheLauncherWasStartedWith)
{
    const StartupSettings high { 0, 0, {}, HIGH_PRIORITY_CLASS };
    const auto highClass = utf16 (std::to_wstring (HIGH_PRIORITY_CLASS));
    installSampleHost();

    if (valuesOf (reportOfAStartWith (hostPath(), std::nullopt, high), field::priorityClass) != Utf16List { highClass })
        GTEST_SKIP() << "this platform does not keep the priority class a program is started with (Wine does not)";

    EXPECT_EQ (valuesOf (reportOfAStartWith (launcherPath(), std::nullopt, high), field::priorityClass),
               Utf16List { highClass });
}

INSTANTIATE_TEST_SUITE_P (EachHost, HandOver, ::testing::Values (launcherWith32BitHost, launcherWith64BitHost),
                          nameOfPairing);

} // namespace
