#pragma once

// Starts the real launcher the way Windows starts a program (CreateProcessW
// with a chosen command line, environment block and working directory) and
// reads back what the sample host received, or the error boxes the launcher
// showed.

#include "error_box.h"
#include "installed_host.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace e2e
{

using namespace installed_host;

constexpr DWORD launchFailedStatus = 0xFFFFFFFF;

std::wstring launcherPath();

// The program, quoted, then each argument as the launcher quotes it.
std::wstring commandLineOf (const std::wstring& program, const Utf16List& arguments);

// Started on the host's drive unless a case says otherwise.
class Process : public ChildProcess
{
public:
    Process (const std::wstring& program, std::wstring commandLine, const std::optional<Utf16List>& environment,
             const std::wstring& workingDirectory = L"C:\\users\\Public", StartupSettings settings = {})
        : ChildProcess (program, std::move (commandLine), environment, workingDirectory, std::move (settings))
    {
    }
};

// The host runs on after the launcher has gone, so its report is waited for.
Report waitForReport();

// Whether the launcher shows its error box within our patience.
bool waitForErrorBox (const Process& launcher);

// The system's own text for an error, as the "Cannot start" box gives it:
// with the host path in place of the insert that some texts hold.
std::wstring systemTextOf (DWORD error);

// The "Cannot start" box, with the system's reason for the host path.
void expectCannotStartBox (const ErrorBoxOutcome& outcome);

// Every case shares the one host path: each starts with nothing there and
// leaves nothing behind.
class Launcher : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    static void installSampleHost() { ASSERT_TRUE (installed_host::installSampleHost()); }

    // What the host reports when the launcher, started with this command
    // line, hands over to it.
    static Report handOverWith (const std::wstring& commandLine, const std::optional<Utf16List>& environment = std::nullopt,
                                const std::wstring& workingDirectory = L"C:\\users\\Public",
                                const std::wstring& launcher = launcherPath());

    static Report handOver (const Utf16List& arguments, const std::optional<Utf16List>& environment = std::nullopt);

    // The boxes the launcher, started with this command line, shows until it ends.
    static ErrorBoxOutcome errorBoxesOnLaunchWith (const std::wstring& commandLine);
};

// The arguments as both of the host's parsers split its command line.
void expectBothParsersSee (const Report& report, const Utf16List& expected);

} // namespace e2e
