#include "launcher_driver.h"

#include "command_line.h"

#include <sddl.h>

#include <fstream>
#include <iostream>

namespace e2e
{

const ProductUnderTest& productUnderTest()
{
    static const auto product = []
    {
        std::ifstream named ((folderOfThisProgram() + L"product-under-test.txt").c_str());
        std::string executable, value;
        std::getline (named, executable);
        std::getline (named, value);

        for (auto* line : { &executable, &value })
            if (! line->empty() && line->back() == '\r')
                line->pop_back();

        if (executable.empty() || value.empty())
        {
            std::cerr << "product-under-test.txt beside the tests names no launcher and value\n";
            std::exit (1);
        }

        // The product table allows only ASCII in both.
        return ProductUnderTest { std::wstring (executable.begin(), executable.end()),
                                  Utf16 (value.begin(), value.end()) };
    }();
    return product;
}

std::wstring commandLineOf (const std::wstring& program, const Utf16List& arguments)
{
    auto line = L"\"" + program + L"\"";

    for (const auto& argument : arguments)
        line += L" " + wide (launcher::quoteArgument (argument));

    return line;
}

Report waitForReport (const std::wstring& path)
{
    for (DWORD waited = 0; waited < patienceMs; waited += pollMs)
    {
        if (auto report = readReport (path))
            return *report;

        Sleep (pollMs);
    }

    ADD_FAILURE() << "the host wrote no report";
    return {};
}

Report reportOfAStartWith (const std::wstring& program, const std::optional<Utf16List>& environment,
                           const StartupSettings& settings)
{
    Process process (program, commandLineOf (program, {}), environment, L"C:\\users\\Public", settings);
    EXPECT_TRUE (process.hasStarted());
    auto report = waitForReport();
    EXPECT_TRUE (process.hasExited (patienceMs));
    DeleteFileW (reportPath().c_str());
    return report;
}

ScopedHandle openProcessNamedIn (const Report& report, const std::string& field)
{
    const auto id = valuesOf (report, field);
    const auto process =
        id.size() == 1 ? OpenProcess (SYNCHRONIZE | PROCESS_TERMINATE, FALSE, std::stoul (wide (id[0]))) : nullptr;
    return { process, &CloseHandle };
}

std::optional<std::wstring> rootOfAnotherDrive (wchar_t drive)
{
    const auto drives = GetLogicalDrives();

    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter)
    {
        const std::wstring root { letter, L':', L'\\' };

        if ((drives & (1u << (letter - L'A'))) != 0 && letter != towupper (drive)
            && GetFileAttributesW (root.c_str()) != INVALID_FILE_ATTRIBUTES)
            return root;
    }

    return std::nullopt;
}

bool waitForErrorBox (const Process& launcher)
{
    for (DWORD waited = 0; ! launcher.hasExited (pollMs) && waited < patienceMs; waited += pollMs)
        if (errorBoxOf (launcher.id()) != nullptr)
            return true;

    return false;
}

std::wstring systemTextOf (DWORD error)
{
    wchar_t text[1024] {};
    const auto length = FormatMessageW (FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                        text, 1024, nullptr);
    std::wstring message (text, length);
    message.erase (message.find_last_not_of (L" \r\n") + 1);

    for (auto insert = message.find (L"%1"); insert != std::wstring::npos;
         insert = message.find (L"%1", insert + hostPath().size()))
        message.replace (insert, 2, hostPath());

    return message;
}

namespace
{

// The account as this machine names it, DOMAIN\\name, asked of LookupAccountSidW.
juce::String accountNameOf (const launcher::Sid& account)
{
    PSID sid = nullptr;
    wchar_t name[256] {}, domain[256] {};
    DWORD nameLength = 256, domainLength = 256;
    SID_NAME_USE use;
    ConvertStringSidToSidW (account.text.toWideCharPointer(), &sid);
    LookupAccountSidW (nullptr, sid, name, &nameLength, domain, &domainLength, &use);
    LocalFree (sid);
    return juce::String (domain) + "\\" + juce::String (name);
}

} // namespace

std::wstring missingHostBody (const std::wstring& path)
{
    return launcher::missingHostBox (path.c_str()).body.toWideCharPointer();
}

std::wstring cannotStartBody (const std::wstring& reason)
{
    return launcher::cannotStartBox (hostPath().c_str(), reason.c_str()).body.toWideCharPointer();
}

std::wstring refusalBody (const launcher::Distrust& distrust, launcher::HostObjectKind kind)
{
    const launcher::HostPlace place { hostFolder().c_str(), hostPath().c_str() };
    return launcher::refusalBox (distrust, kind, place, accountNameOf).body.toWideCharPointer();
}

void expectOneBox (const ErrorBoxOutcome& outcome, const std::wstring& body)
{
    EXPECT_EQ (outcome.boxesShown, 1u);
    EXPECT_EQ (outcome.firstBody, body);
    EXPECT_EQ (outcome.exitStatus, launchFailedStatus);
}

void expectCannotStartBox (const ErrorBoxOutcome& outcome)
{
    // The box's words on either side of a reason that only the system knows.
    const std::wstring reason = L"{the system's reason}";
    const auto wording = cannotStartBody (reason);
    const auto opening = wording.substr (0, wording.find (reason));
    const auto closing = wording.substr (opening.size() + reason.size());
    const auto& body = outcome.firstBody;

    EXPECT_EQ (outcome.boxesShown, 1u);
    ASSERT_GT (body.size(), opening.size() + closing.size()) << "no reason given";
    EXPECT_EQ (body.substr (0, opening.size()), opening);
    EXPECT_EQ (body.substr (body.size() - closing.size()), closing);
    EXPECT_EQ (body.find (L'%'), std::wstring::npos) << "an insert of the system's text was left in";
    EXPECT_EQ (outcome.exitStatus, launchFailedStatus);
}

void Launcher::SetUp()
{
    removeHost();
    CreateDirectoryW (hostFolder().c_str(), nullptr);
}

void Launcher::TearDown()
{
    removeHost();
}

Report Launcher::handOverWith (const std::wstring& commandLine, const std::optional<Utf16List>& environment,
                               const std::wstring& workingDirectory, const std::wstring& launcher) const
{
    Process process (launcher.empty() ? launcherPath() : launcher, commandLine, environment, workingDirectory);
    EXPECT_TRUE (process.hasStarted());
    auto report = waitForReport();
    EXPECT_TRUE (process.hasExited (patienceMs));
    EXPECT_EQ (process.exitStatus(), 0u);
    return report;
}

Report Launcher::handOver (const Utf16List& arguments, const std::optional<Utf16List>& environment) const
{
    return handOverWith (commandLineOf (launcherPath(), arguments), environment);
}

ErrorBoxOutcome Launcher::errorBoxesOnLaunchWith (const std::wstring& commandLine) const
{
    Process launcher (launcherPath(), commandLine, std::nullopt);
    EXPECT_TRUE (launcher.hasStarted());
    const auto outcome = dismissErrorBoxes (launcher);
    std::cout << "error box: " << received_report::encodeValue (utf16 (outcome.firstBody)) << "\n";
    return outcome;
}

// A 64-bit host runs only on 64-bit Windows, where a 32-bit program is told
// so by IsWow64Process.
bool runsOnThisWindows (const std::wstring& hostBuild)
{
    BOOL emulated = FALSE;
    return hostBuild.find (L"x64") == std::wstring::npos
        || (IsWow64Process (GetCurrentProcess(), &emulated) && emulated);
}

void PairedLauncher::SetUp()
{
    if (! runsOnThisWindows (hostBuild()))
        GTEST_SKIP() << "a 64-bit host cannot run on 32-bit Windows";

    Launcher::SetUp();
}

std::string nameOfPairing (const ::testing::TestParamInfo<Pairing>& pairing)
{
    return pairing.param.name;
}

void expectBothParsersSee (const Report& report, const Utf16List& expected)
{
    EXPECT_EQ (valuesOf (report, field::shellArgument), expected);
    EXPECT_EQ (valuesOf (report, field::crtArgument), expected);
}

} // namespace e2e
