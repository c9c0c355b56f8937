#pragma once

// Starts the real launcher the way Windows starts a program (CreateProcessW
// with a chosen command line, environment block and working directory) and
// reads back what the sample host received, or the error boxes the launcher
// showed.

#include "child_process.h"
#include "installed_host.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace e2e
{

using Utf16 = std::u16string;
using Utf16List = std::vector<Utf16>;
using Report = std::vector<received_report::Item>;

extern const std::wstring errorTitle;
constexpr DWORD launchFailedStatus = 0xFFFFFFFF;
constexpr DWORD patienceMs = 60000;
constexpr DWORD pollMs = 50;

inline std::wstring wide (const Utf16& text) { return { text.begin(), text.end() }; }
inline Utf16 utf16 (const std::wstring& text) { return { text.begin(), text.end() }; }

std::wstring launcherPath();

// The program, quoted, then each argument as the launcher quotes it.
std::wstring commandLineOf (const std::wstring& program, const Utf16List& arguments);

class Process : public ChildProcess
{
public:
    // Without an environment the process inherits ours.
    Process (const std::wstring& program, std::wstring commandLine, const std::optional<Utf16List>& environment,
             const std::wstring& workingDirectory = L"C:\\users\\Public");
};

// The host runs on after the launcher has gone, so its report is waited for.
Report waitForReport();

Utf16List valuesOf (const Report& report, const std::string& field);

struct ErrorBoxOutcome
{
    std::size_t boxesShown = 0;
    std::wstring firstBody;
    DWORD exitStatus = 0;
};

// Whether the launcher shows its error box within our patience.
bool waitForErrorBox (Process& launcher);

// Reads each box back from the real window and presses its OK, until the
// launcher has ended.
ErrorBoxOutcome dismissErrorBoxes (Process& launcher);

// The "Cannot start" box, with the run-time's reason for the host path.
void expectCannotStartBox (const ErrorBoxOutcome& outcome);

// Every case shares the one host path: each starts with nothing there and
// leaves nothing behind.
class Launcher : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    static void removeHost();
    static void installSampleHost();

    // What the host reports when the launcher, started with this command
    // line, hands over to it.
    static Report handOverWith (const std::wstring& commandLine, const std::optional<Utf16List>& environment = std::nullopt,
                                const std::wstring& workingDirectory = L"C:\\users\\Public",
                                const std::wstring& launcher = launcherPath());

    static Report handOver (const Utf16List& arguments, const std::optional<Utf16List>& environment = std::nullopt);
};

// The arguments as both of the host's parsers split its command line.
void expectBothParsersSee (const Report& report, const Utf16List& expected);

} // namespace e2e
