#pragma once

// Starts the real launcher the way Windows starts a program (CreateProcessW
// with a chosen command line, environment block and working directory) and
// reads back what the sample host received, or the error boxes the launcher
// showed.

#include "launch_plan.h"

#include "error_box.h"
#include "installed_host.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

namespace e2e
{

using namespace installed_host;
namespace field = received_report::field;

constexpr DWORD launchFailedStatus = 0xFFFFFFFF;

// The product these tests are for: its launcher beside them, and the value
// it gives the host as PRODUCTNAME. product-under-test.txt beside the tests
// names them, one a line: the build writes it for the product table's first
// product, and each product's test kit for its own.
struct ProductUnderTest
{
    std::wstring executable;
    Utf16 value;

    Utf16 entry() const { return u"PRODUCTNAME=" + value; }
};

const ProductUnderTest& productUnderTest();

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
Report waitForReport (const std::wstring& path = reportPath());

// What the host reports when `program` is started with this environment and
// these settings: the host itself, for the platform's own view of them, or
// the launcher in front of it.
Report reportOfAStartWith (const std::wstring& program, const std::optional<Utf16List>& environment,
                           const StartupSettings& settings = {});

// A process, an event: a handle closed when it goes.
using ScopedHandle = std::unique_ptr<void, decltype (&CloseHandle)>;

// A process whose id the host reported in this field, to wait on or end.
ScopedHandle openProcessNamedIn (const Report& report, const std::string& field);

// The root of a drive other than this one (by default the host's) that can be read, if there is one.
std::optional<std::wstring> rootOfAnotherDrive (wchar_t drive = hostPath()[0]);

// Whether the launcher shows its error box within our patience.
bool waitForErrorBox (const Process& launcher);

// The system's own text for an error, as the "Cannot start" box gives it:
// with the host path in place of the insert that some texts hold.
std::wstring systemTextOf (DWORD error);

// A box's words as the launcher's own decision gives them (launch_plan), each
// sentence asserted word for word by the unit tests alone: a case here states
// why the launcher must show the box, and what Windows gave (the object, the
// account as this machine names it, the system's reason).
std::wstring missingHostBody (const std::wstring& path = hostPath());
std::wstring cannotStartBody (const std::wstring& reason);
// Of the host or its folder at the host path.
std::wstring refusalBody (const launcher::Distrust& distrust, launcher::HostObjectKind kind);

// One box, showing `body`, and the launcher's failure status.
void expectOneBox (const ErrorBoxOutcome& outcome, const std::wstring& body);

// The "Cannot start" box for the host path, with whatever reason the system gave.
void expectCannotStartBox (const ErrorBoxOutcome& outcome);

// Every case shares the one host path: each starts with nothing there and
// leaves nothing behind. A case runs the launcher of the product under test
// with the 32-bit sample host unless its fixture names another launcher or host.
class Launcher : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // File names beside the tests: the launcher, and the sample host's build
    // that is installed as Sonvik.exe.
    virtual std::wstring launcherName() const { return productUnderTest().executable; }
    virtual std::wstring hostBuild() const { return hostFileName; }

    std::wstring launcherPath() const { return folderOfThisProgram() + launcherName(); }
    void installSampleHost() const { ASSERT_TRUE (installed_host::installSampleHost (hostBuild())); }

    // What the host reports when the launcher (this case's, unless another
    // is given), started with this command line, hands over to it.
    Report handOverWith (const std::wstring& commandLine, const std::optional<Utf16List>& environment = std::nullopt,
                         const std::wstring& workingDirectory = L"C:\\users\\Public",
                         const std::wstring& launcher = {}) const;

    Report handOver (const Utf16List& arguments, const std::optional<Utf16List>& environment = std::nullopt) const;

    // The boxes the launcher, started with this command line, shows until it ends.
    ErrorBoxOutcome errorBoxesOnLaunchWith (const std::wstring& commandLine) const;
};

// A launcher and the sample host it hands over to, for the cases that run
// for each pairing; no launcher is the product under test's.
struct Pairing
{
    const wchar_t* launcher;
    const wchar_t* host;
    const char* name;
};

const Pairing launcherWith32BitHost { nullptr, L"Sonvik.exe", "Launcher_To32BitHost" };
const Pairing launcherWith64BitHost { nullptr, L"Sonvik-x64.exe", "Launcher_To64BitHost" };

class PairedLauncher : public Launcher, public ::testing::WithParamInterface<Pairing>
{
protected:
    void SetUp() override;

    std::wstring launcherName() const override
    {
        return GetParam().launcher != nullptr ? GetParam().launcher : Launcher::launcherName();
    }
    std::wstring hostBuild() const override { return GetParam().host; }
};

std::string nameOfPairing (const ::testing::TestParamInfo<Pairing>& pairing);

// What the host receives, for each host.
class HandOver : public PairedLauncher
{
};

// How long the host lives and what its caller sees of it, for each host and
// each way the launcher starts it: created inside the job, and, as on Windows
// before 10, started suspended and then joined to it.
class HostLifetime : public PairedLauncher
{
};

// The arguments as both of the host's parsers split its command line.
void expectBothParsersSee (const Report& report, const Utf16List& expected);

} // namespace e2e
