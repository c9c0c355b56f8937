// Odd and hostile input, end to end: each case has one clear outcome, either
// the host receives everything unchanged or the launcher shows its "Cannot
// start" box and ends with -1; never a crash, a hang or an altered argument.

#include "launcher_driver.h"

#include "command_line.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <optional>

namespace
{

using namespace e2e;

// Windows' own limit, written out here rather than taken from the launcher.
constexpr std::size_t platformLimit = 32766;

// The host's command line: its name, then each argument quoted by the launcher.
std::size_t hostCommandLineLength (const Utf16List& arguments)
{
    return launcher::joinCommandLine (launcher::forwardArguments (withHostNameFirst (arguments))).size();
}

// A thousand arguments whose quoted forms make the host's command line
// exactly `length` long. Each holds a vertical tab, which the host's parsers
// need quoted but the launcher's own does not, so the launcher's command
// line, written without those quotes, stays within the limit even though its
// program name is longer than the host's.
Utf16List thousandArgumentsMakingAHostLineOf (std::size_t length)
{
    constexpr std::size_t count = 1000;
    Utf16List arguments (count, u"\v");
    auto missing = length - hostCommandLineLength (arguments);

    for (std::size_t i = 0; i < count; ++i)
    {
        const auto share = missing / (count - i);
        arguments[i] += Utf16 (share, static_cast<char16_t> (u'a' + i % 26));
        missing -= share;
    }

    return arguments;
}

std::wstring unquotedCommandLineOf (const std::wstring& program, const Utf16List& arguments)
{
    auto line = L"\"" + program + L"\"";

    for (const auto& argument : arguments)
        line += L" " + wide (argument);

    return line;
}

TEST_P (HandOver, ACommandLineExactlyAtThePlatformLimitArrivesWhole)
{
    const auto arguments = thousandArgumentsMakingAHostLineOf (platformLimit);
    ASSERT_EQ (hostCommandLineLength (arguments), platformLimit);
    installSampleHost();

    const auto report = handOverWith (unquotedCommandLineOf (launcherPath(), arguments));

    expectBothParsersSee (report, withHostNameFirst (arguments));
    const auto commandLine = valuesOf (report, field::commandLine);
    ASSERT_EQ (commandLine.size(), 1u);
    EXPECT_EQ (commandLine[0].size(), platformLimit);
}

TEST_F (Launcher, ACommandLineOneCharacterOverThePlatformLimitIsReportedAndNothingStarts)
{
    const auto arguments = thousandArgumentsMakingAHostLineOf (platformLimit + 1);
    ASSERT_EQ (hostCommandLineLength (arguments), platformLimit + 1);
    installSampleHost();

    const auto outcome = errorBoxesOnLaunchWith (unquotedCommandLineOf (launcherPath(), arguments));

    expectOneBox (outcome, cannotStartBody (systemTextOf (ERROR_FILENAME_EXCED_RANGE)));
    EXPECT_FALSE (readReport());
}

// Compares without printing the arguments whole: one of them is 30,000 long.
void expectBothParsersSeeLongArguments (const Report& report, const Utf16List& expected)
{
    for (const char* parser : { field::shellArgument, field::crtArgument })
    {
        const auto received = valuesOf (report, parser);
        ASSERT_EQ (received.size(), expected.size()) << parser;

        for (std::size_t i = 0; i < expected.size(); ++i)
        {
            const auto difference =
                std::mismatch (expected[i].begin(), expected[i].end(), received[i].begin(), received[i].end());
            EXPECT_TRUE (difference.first == expected[i].end() && difference.second == received[i].end())
                << parser << " " << i << ": " << received[i].size() << " characters where " << expected[i].size()
                << " were sent, first difference at " << (difference.first - expected[i].begin());
        }
    }
}

TEST_P (HandOver, OneArgumentOfThirtyThousandCharactersArrivesWhole)
{
    // Spaces, tabs, quotes and backslash runs all along it, so that quoting
    // has work to do throughout, yet few enough quotes that the quoted
    // argument stays within the limit.
    Utf16 argument;
    for (int i = 0; argument.size() < 30000; ++i)
        argument += (i % 10 == 9) ? u"\\\\\"quoted\\\" \\" : u"C:\\Program Files\\Tessalune\\\tdocument ";
    argument.resize (30000);
    ASSERT_LE (hostCommandLineLength ({ argument }), platformLimit);
    installSampleHost();

    expectBothParsersSeeLongArguments (handOver ({ argument }), withHostNameFirst ({ argument }));
}

TEST_P (HandOver, ControlCharactersAndLoneSurrogatesArriveUnchanged)
{
    Utf16 everyControlCharacter;
    for (char16_t c = 1; c < 0x20; ++c)
        everyControlCharacter += c;

    const Utf16List arguments { everyControlCharacter,
                                u"\x7f",
                                u"line one\r\nline two",
                                u"\x1b[31mred\x1b[0m",
                                Utf16 (1, char16_t (0xD800)),
                                Utf16 (1, char16_t (0xDFFF)),
                                Utf16 { char16_t (0xDC00), char16_t (0xD800) },
                                Utf16 { u'e', u'n', u'd', char16_t (0xD83D) },
                                Utf16 { char16_t (0xDBFF), u'"', u' ', u'\\' } };
    installSampleHost();

    expectBothParsersSee (handOver (arguments), withHostNameFirst (arguments));
}

void expectEnvironmentThenOurEntry (const Report& report, const Utf16List& environment)
{
    const auto received = valuesOf (report, field::environment);
    ASSERT_GT (received.size(), environment.size());
    EXPECT_TRUE (std::equal (environment.begin(), environment.end(), received.begin()));
    EXPECT_EQ (received[environment.size()], productUnderTest().entry());
    EXPECT_EQ (valuesOf (report, field::productName), Utf16List { productUnderTest().value });
}

TEST_P (HandOver, AnEnvironmentOfTwoThousandEntriesArrivesInOrder)
{
    Utf16List environment;
    for (int i = 0; i < 2000; ++i)
    {
        const auto number = std::to_string (i);
        environment.push_back (u"ENTRY_" + Utf16 (number.begin(), number.end()) + u"=value "
                               + Utf16 (number.begin(), number.end()));
    }
    installSampleHost();

    expectEnvironmentThenOurEntry (handOver ({}, environment), environment);
}

TEST_P (HandOver, AnEnvironmentValueOf32KiBArrivesWhole)
{
    Utf16 value;
    for (std::size_t i = 0; i < 32 * 1024; ++i)
        value += static_cast<char16_t> (u'A' + i % 26);
    const Utf16List environment { u"BEFORE=1", u"LARGE=" + value, u"AFTER=2" };
    installSampleHost();

    expectEnvironmentThenOurEntry (handOver ({}, environment), environment);
}

TEST_P (HandOver, AWorkingDirectoryOnAnotherDriveChangesNothing)
{
    const auto elsewhere = rootOfAnotherDrive();
    if (! elsewhere)
        GTEST_SKIP() << "this machine has no drive but the host's";
    installSampleHost();

    const auto report = handOverWith (commandLineOf (launcherPath(), { u"document.txt" }), std::nullopt, *elsewhere);

    expectBothParsersSee (report, withHostNameFirst ({ u"document.txt" }));
}

// A folder path just short of MAX_PATH once the launcher's name is added,
// with spaces and non-ASCII names on the way.
std::wstring createDeepFolder()
{
    std::wstring folder = L"C:\\users\\Public\\deep";
    CreateDirectoryW (folder.c_str(), nullptr);
    const std::wstring level = L"\\Gr\u00fc\u00dfe und \u65e5\u672c level";

    while (folder.size() + level.size() + 1 + productUnderTest().executable.size() < MAX_PATH - 1)
    {
        folder += level;
        CreateDirectoryW (folder.c_str(), nullptr);
    }

    return folder;
}

void removeDeepFolder (std::wstring folder)
{
    DeleteFileW ((folder + L"\\" + productUnderTest().executable).c_str());

    for (; folder.size() > std::wstring (L"C:\\users\\Public").size(); folder.resize (folder.find_last_of (L'\\')))
        RemoveDirectoryW (folder.c_str());
}

TEST_P (HandOver, ALauncherStartedFromADeepFolderHandsOver)
{
    const auto folder = createDeepFolder();
    const auto deepLauncher = folder + L"\\" + launcherName();
    ASSERT_TRUE (CopyFileW (launcherPath().c_str(), deepLauncher.c_str(), FALSE));
    installSampleHost();

    const auto report =
        handOverWith (commandLineOf (deepLauncher, { u"document.txt" }), std::nullopt, folder, deepLauncher);

    expectBothParsersSee (report, withHostNameFirst ({ u"document.txt" }));
    removeDeepFolder (folder);
}

void writeHost (const std::string& content)
{
    std::ofstream (hostPath().c_str(), std::ios::binary) << content;
}

TEST_F (Launcher, AZeroByteFileAtTheHostPathIsReportedAsNotStartable)
{
    writeHost ("");
    expectCannotStartBox (errorBoxesOnLaunchWith (commandLineOf (launcherPath(), {})));
}

TEST_F (Launcher, ATextFileNamedAsTheHostIsReportedAsNotStartable)
{
    writeHost ("This is not a program.\r\nIt was renamed to Sonvik.exe by mistake.\r\n");
    expectOneBox (errorBoxesOnLaunchWith (commandLineOf (launcherPath(), {})),
                  cannotStartBody (systemTextOf (ERROR_BAD_EXE_FORMAT)));
}

} // namespace
