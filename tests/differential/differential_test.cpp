// The launcher's quoting checked against the platform's own parsers rather
// than the tests' model of them: thousands of generated argument lists are made
// into the command line the launcher hands the host, and must come back
// unchanged from CommandLineToArgvW in this process and, for a few hundred of
// them, as the C run-time's argv of the sample host started with that line.
//
// A list that does not come back is shown with its seed;
// LAUNCHER_DIFFERENTIAL_SEED=<seed> then runs that case alone.

#include "argument_lists.h"
#include "child_process.h"
#include "command_line.h"
#include "installed_host.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

namespace
{

using differential::escaped;

constexpr std::size_t shellParserCases = 5000;
constexpr std::size_t runTimeParserCases = 300;
constexpr std::size_t mismatchesShown = 10;

// What the launcher hands the host: its name before the quoted arguments,
// joined into the host's command line.
Utf16 hostCommandLineFor (const Utf16List& arguments)
{
    Utf16List launcherArguments { u"Tessalune.exe" };
    launcherArguments.insert (launcherArguments.end(), arguments.begin(), arguments.end());
    return launcher::joinCommandLine (launcher::forwardArguments (launcherArguments));
}

std::vector<std::uint32_t> seedsOfCases (std::size_t caseCount)
{
    if (const char* replayed = std::getenv ("LAUNCHER_DIFFERENTIAL_SEED"))
        return { static_cast<std::uint32_t> (std::stoul (replayed)) };

    std::vector<std::uint32_t> seeds;
    for (std::size_t i = 0; i < caseCount; ++i)
        seeds.push_back (differential::seedOfCase (i));

    return seeds;
}

// What a parser made of a command line, or why it made nothing.
struct Split
{
    std::optional<Utf16List> arguments;
    std::string whyNone;
};

std::string describe (const Split& split)
{
    return split.arguments ? escaped (*split.arguments) : split.whyNone;
}

Split splitByCommandLineToArgvW (const Utf16& commandLine)
{
    int count = 0;
    auto** arguments = CommandLineToArgvW (reinterpret_cast<const wchar_t*> (commandLine.c_str()), &count);

    if (arguments == nullptr)
        return { std::nullopt, "CommandLineToArgvW failed with error " + std::to_string (GetLastError()) };

    Utf16List split;
    for (int i = 0; i < count; ++i)
        split.push_back (utf16 (arguments[i]));

    LocalFree (arguments);
    return { split, {} };
}

// The argv that the C run-time of the sample host beside this program makes of
// a command line it is started with, as the report it leaves beside itself says.
Split splitByTheRunTime (const Utf16& commandLine)
{
    const auto folder = installed_host::folderOfThisProgram();
    const auto reportPath = folder + installed_host::reportFileName;
    // A report left by an earlier case must not pass for this one's.
    DeleteFileW (reportPath.c_str());
    ChildProcess host (folder + installed_host::hostFileName, wide (commandLine));

    if (! host.hasStarted())
        return { std::nullopt, "the sample host did not start, error " + std::to_string (GetLastError()) };

    if (! host.hasExited (patienceMs) || host.exitStatus() != 0)
        return { std::nullopt, "the sample host did not end with status 0" };

    const auto report = installed_host::readReport (reportPath);
    DeleteFileW (reportPath.c_str());

    if (! report)
        return { std::nullopt, "the sample host left no report" };

    return { installed_host::valuesOf (*report, received_report::field::crtArgument), {} };
}

// Splits each case's command line with the parser and counts the lists that do
// not come back, showing only the first few: one fault in the quoting breaks
// many lists alike.
template <typename Parser>
void expectEveryListBack (std::size_t caseCount, Parser split)
{
    const auto seeds = seedsOfCases (caseCount);
    std::size_t mismatches = 0;

    for (const auto seed : seeds)
    {
        const auto arguments = differential::argumentListFromSeed (seed);
        const auto commandLine = hostCommandLineFor (arguments);
        const auto cameBack = split (commandLine);

        if (cameBack.arguments != installed_host::withHostNameFirst (arguments) && ++mismatches <= mismatchesShown)
            ADD_FAILURE() << "case seed " << seed << " (LAUNCHER_DIFFERENTIAL_SEED=" << seed << " runs it alone)\n"
                          << "  arguments:    " << escaped (arguments) << "\n"
                          << "  command line: " << escaped (commandLine) << "\n"
                          << "  came back:    " << describe (cameBack);
    }

    EXPECT_EQ (mismatches, 0u) << "lists that did not come back, of " << seeds.size();
}

TEST (QuotedCommandLine, ComesBackWholeFromCommandLineToArgvW)
{
    expectEveryListBack (shellParserCases, splitByCommandLineToArgvW);
}

TEST (QuotedCommandLine, ComesBackWholeAsTheRunTimesArgvInAChild)
{
    expectEveryListBack (runTimeParserCases, splitByTheRunTime);
}

// The checks above prove only as much as the lists hold: each shape the
// quoting must get right has to turn up in a good share of them.
using received_report::isHighSurrogate;
using received_report::isLowSurrogate;

bool holdsPair (const Utf16& argument)
{
    for (std::size_t i = 0; i + 1 < argument.size(); ++i)
        if (isHighSurrogate (argument[i]) && isLowSurrogate (argument[i + 1]))
            return true;

    return false;
}

bool holdsLoneHighSurrogate (const Utf16& argument)
{
    for (std::size_t i = 0; i < argument.size(); ++i)
        if (isHighSurrogate (argument[i]) && (i + 1 == argument.size() || ! isLowSurrogate (argument[i + 1])))
            return true;

    return false;
}

bool holdsLoneLowSurrogate (const Utf16& argument)
{
    for (std::size_t i = 0; i < argument.size(); ++i)
        if (isLowSurrogate (argument[i]) && (i == 0 || ! isHighSurrogate (argument[i - 1])))
            return true;

    return false;
}

bool holdsNonAsciiBmp (const Utf16& argument)
{
    return std::any_of (argument.begin(), argument.end(),
                        [] (char16_t unit)
                        { return unit >= 0x80 && ! isHighSurrogate (unit) && ! isLowSurrogate (unit); });
}

bool holdsOnlyUnquotedAscii (const Utf16& argument)
{
    return ! argument.empty()
        && std::all_of (argument.begin(), argument.end(),
                        [] (char16_t unit) { return unit > u' ' && unit < 0x7F && unit != u'"'; });
}

bool holds (const Utf16& argument, const Utf16& part)
{
    return argument.find (part) != Utf16::npos;
}

struct Shape
{
    const char* name;
    bool (*foundIn) (const Utf16&);
};

const Shape shapes[] {
    { "an empty argument",
      [] (const Utf16& a)
      {
          return a.empty();
      } },
    { "a space",
      [] (const Utf16& a)
      {
          return holds (a, u" ");
      } },
    { "a tab",
      [] (const Utf16& a)
      {
          return holds (a, u"\t");
      } },
    { "a quote",
      [] (const Utf16& a)
      {
          return holds (a, u"\"");
      } },
    { "backslashes before a quote",
      [] (const Utf16& a)
      {
          return holds (a, u"\\\"");
      } },
    { "backslashes ending an argument that is quoted",
      [] (const Utf16& a)
      {
          return ! a.empty() && a.back() == u'\\' && a.find_first_of (u" \t\"") != Utf16::npos;
      } },
    { "nothing that needs quotes", holdsOnlyUnquotedAscii },
    { "a character of the BMP beyond ASCII", holdsNonAsciiBmp },
    { "a supplementary-plane pair", holdsPair },
    { "a lone high surrogate", holdsLoneHighSurrogate },
    { "a lone low surrogate", holdsLoneLowSurrogate },
};

TEST (GeneratedArgumentLists, HoldEveryShapeTheQuotingMustGetRight)
{
    const std::size_t enough = shellParserCases / 100;
    std::vector<std::size_t> listsWithShape (std::size (shapes));
    std::size_t emptyLists = 0;

    for (std::size_t i = 0; i < shellParserCases; ++i)
    {
        const auto arguments = differential::argumentListFromSeed (differential::seedOfCase (i));
        emptyLists += arguments.empty() ? 1 : 0;

        for (std::size_t s = 0; s < std::size (shapes); ++s)
            if (std::any_of (arguments.begin(), arguments.end(), shapes[s].foundIn))
                ++listsWithShape[s];
    }

    for (std::size_t s = 0; s < std::size (shapes); ++s)
        EXPECT_GE (listsWithShape[s], enough) << "lists holding " << shapes[s].name;

    EXPECT_GE (emptyLists, enough);
}

} // namespace
