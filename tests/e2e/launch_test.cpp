// Starts the real launcher the way Windows starts a program (CreateProcessW
// with a chosen command line, environment block and working directory) and
// checks what the sample host received, or the error box the launcher showed.

#include "child_process.h"
#include "command_line.h"
#include "installed_host.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <optional>
#include <sstream>

namespace
{

using Utf16 = std::u16string;
using Utf16List = std::vector<Utf16>;
using received_report::Item;
using namespace installed_host;

const std::wstring errorTitle = L"Invalid SONVIK installation!";
constexpr DWORD launchFailedStatus = 0xFFFFFFFF;
constexpr DWORD patienceMs = 60000;
constexpr DWORD pollMs = 50;

std::wstring wide (const Utf16& text) { return { text.begin(), text.end() }; }
Utf16 utf16 (const std::wstring& text) { return { text.begin(), text.end() }; }

std::wstring launcherPath() { return folderOfThisProgram() + L"Tessalune.exe"; }

std::wstring commandLineOf (const std::wstring& program, const Utf16List& arguments)
{
    auto line = L"\"" + program + L"\"";

    for (const auto& argument : arguments)
        line += L" " + wide (launcher::quoteArgument (argument));

    return line;
}

std::wstring environmentBlockOf (const Utf16List& entries)
{
    std::wstring block;

    for (const auto& entry : entries)
        block += wide (entry) + L'\0';

    return block + L'\0' + L'\0';
}

// Started the way Windows starts a program: a chosen command line,
// environment block and working directory.
class Process : public ChildProcess
{
public:
    Process (const std::wstring& program, std::wstring commandLine, const std::optional<Utf16List>& environment)
        : ChildProcess (program, std::move (commandLine),
                        environment ? std::optional<std::wstring> (environmentBlockOf (*environment)) : std::nullopt,
                        L"C:\\users\\Public")
    {
    }
};

// The host runs on after the launcher has gone, so its report is waited for.
std::vector<Item> waitForReport()
{
    for (DWORD waited = 0; waited < patienceMs; waited += pollMs)
    {
        if (auto report = readReport())
            return *report;

        Sleep (pollMs);
    }

    ADD_FAILURE() << "the host wrote no report";
    return {};
}

Utf16List valuesOf (const std::vector<Item>& report, const std::string& field)
{
    Utf16List values;

    for (const auto& item : report)
        if (item.field == field)
            values.push_back (item.value);

    return values;
}

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

struct ErrorBoxSearch
{
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK collectErrorBox (HWND window, LPARAM context)
{
    auto& search = *reinterpret_cast<ErrorBoxSearch*> (context);
    DWORD owner = 0;
    GetWindowThreadProcessId (window, &owner);
    wchar_t title[256] {};
    GetWindowTextW (window, title, 256);

    if (owner == search.processId && errorTitle == title)
        search.found.push_back (window);

    return TRUE;
}

std::vector<HWND> errorBoxesOf (DWORD processId)
{
    ErrorBoxSearch search { processId, {} };
    EnumWindows (collectErrorBox, reinterpret_cast<LPARAM> (&search));
    return search.found;
}

struct ErrorBoxOutcome
{
    std::size_t boxesShown = 0;
    std::wstring firstBody;
    DWORD exitStatus = 0;
};

// Reads each box back from the real window and presses its OK, until the
// launcher has ended.
ErrorBoxOutcome dismissErrorBoxes (Process& launcher)
{
    ErrorBoxOutcome outcome;
    std::vector<HWND> seen;

    for (DWORD waited = 0; ! launcher.hasExited (pollMs) && waited < patienceMs; waited += pollMs)
    {
        for (auto box : errorBoxesOf (launcher.id()))
        {
            if (std::find (seen.begin(), seen.end(), box) != seen.end())
                continue;

            if (seen.empty())
            {
                wchar_t body[4096] {};
                GetDlgItemTextW (box, 0xFFFF, body, 4096);
                outcome.firstBody = body;
                std::cout << "error box: " << received_report::encodeValue (utf16 (body)) << "\n";
            }

            seen.push_back (box);
            PostMessageW (box, WM_COMMAND, IDOK, 0);
        }
    }

    outcome.boxesShown = seen.size();
    outcome.exitStatus = launcher.exitStatus();
    return outcome;
}

class Launcher : public ::testing::Test
{
protected:
    void SetUp() override
    {
        removeHost();
        CreateDirectoryW (hostFolder().c_str(), nullptr);
    }

    void TearDown() override { removeHost(); }

    static void removeHost()
    {
        DeleteFileW (reportPath().c_str());
        DeleteFileW (hostPath().c_str());
        RemoveDirectoryW (hostPath().c_str());
    }

    static void installSampleHost()
    {
        ASSERT_TRUE (CopyFileW ((folderOfThisProgram() + L"Sonvik.exe").c_str(), hostPath().c_str(), FALSE));
    }

    // What the host reports when the launcher hands over to it.
    static std::vector<Item> handOver (const Utf16List& arguments, const std::optional<Utf16List>& environment = std::nullopt)
    {
        Process launcher (launcherPath(), commandLineOf (launcherPath(), arguments), environment);
        EXPECT_TRUE (launcher.hasStarted());
        auto report = waitForReport();
        EXPECT_TRUE (launcher.hasExited (patienceMs));
        EXPECT_EQ (launcher.exitStatus(), 0u);
        return report;
    }

    // What the host reports when the parent starts it itself: the platform's
    // own view of the same environment block.
    static std::vector<Item> startHostDirectly (const Utf16List& environment)
    {
        Process host (hostPath(), commandLineOf (hostPath(), {}), environment);
        EXPECT_TRUE (host.hasStarted());
        EXPECT_TRUE (host.hasExited (patienceMs));
        auto report = waitForReport();
        DeleteFileW (reportPath().c_str());
        return report;
    }
};

void expectBothParsersSee (const std::vector<Item>& report, const Utf16List& expected)
{
    EXPECT_EQ (valuesOf (report, "shell-argument"), expected);
    EXPECT_EQ (valuesOf (report, "crt-argument"), expected);
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

    Utf16List expected { u"Sonvik.exe" };
    expected.insert (expected.end(), arguments.begin(), arguments.end());
    expectBothParsersSee (report, expected);
}

// Wine re-adds its own variables (WINE..., SystemDrive, SystemRoot) to every
// new process, after the block its parent passed.
bool isAddedByThePlatform (const Utf16& entry, const Utf16List& platformView)
{
    return std::find (platformView.begin(), platformView.end(), entry) != platformView.end();
}

void expectInheritedThenProductEntryAndOnlyPlatformAdditions (const Utf16List& inherited, const std::vector<Item>& report,
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
    Process launcher (launcherPath(), commandLineOf (launcherPath(), { u"document.txt" }), std::nullopt);
    ASSERT_TRUE (launcher.hasStarted());
    const auto outcome = dismissErrorBoxes (launcher);

    EXPECT_EQ (outcome.boxesShown, 1u);
    EXPECT_EQ (outcome.firstBody, L"Cannot find: " + hostPath() + L", please check your installation.");
    EXPECT_EQ (outcome.exitStatus, launchFailedStatus);
}

TEST_F (Launcher, FolderAtTheHostPathIsReportedAsNotStartable)
{
    ASSERT_TRUE (CreateDirectoryW (hostPath().c_str(), nullptr));
    Process launcher (launcherPath(), commandLineOf (launcherPath(), {}), std::nullopt);
    ASSERT_TRUE (launcher.hasStarted());
    const auto outcome = dismissErrorBoxes (launcher);

    const auto opening = L"Cannot start: " + hostPath() + L" (";
    const std::wstring closing = L"), please check your installation.";
    EXPECT_EQ (outcome.boxesShown, 1u);
    ASSERT_GT (outcome.firstBody.size(), opening.size() + closing.size()) << "no reason given: " << outcome.firstBody.size();
    EXPECT_EQ (outcome.firstBody.substr (0, opening.size()), opening);
    EXPECT_EQ (outcome.firstBody.substr (outcome.firstBody.size() - closing.size()), closing);
    EXPECT_EQ (outcome.exitStatus, launchFailedStatus);
}

TEST_F (Launcher, CommandLineOverThePlatformLimitIsReportedAndNotCutShort)
{
    // Each of these needs quotes for the host's parser but not for the
    // launcher's own, so the host's command line comes out twice as long.
    auto commandLine = commandLineOf (launcherPath(), {});
    for (int i = 0; i < 16000; ++i)
        commandLine += L" \v";
    installSampleHost();
    Process launcher (launcherPath(), commandLine, std::nullopt);
    ASSERT_TRUE (launcher.hasStarted());
    const auto outcome = dismissErrorBoxes (launcher);

    EXPECT_EQ (outcome.boxesShown, 1u);
    EXPECT_EQ (outcome.firstBody, L"Cannot start: " + hostPath() + L" (" + _wcserror (E2BIG) + L"), please check your installation.");
    EXPECT_EQ (outcome.exitStatus, launchFailedStatus);
    EXPECT_FALSE (readReport());
}

} // namespace
