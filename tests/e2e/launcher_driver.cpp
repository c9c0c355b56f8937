#include "launcher_driver.h"

#include "command_line.h"

#include <algorithm>
#include <iostream>

namespace e2e
{

const std::wstring errorTitle = L"Invalid SONVIK installation!";

std::wstring launcherPath() { return installed_host::folderOfThisProgram() + L"Tessalune.exe"; }

std::wstring commandLineOf (const std::wstring& program, const Utf16List& arguments)
{
    auto line = L"\"" + program + L"\"";

    for (const auto& argument : arguments)
        line += L" " + wide (launcher::quoteArgument (argument));

    return line;
}

namespace
{

std::wstring environmentBlockOf (const Utf16List& entries)
{
    std::wstring block;

    for (const auto& entry : entries)
        block += wide (entry) + L'\0';

    return block + L'\0' + L'\0';
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

} // namespace

Process::Process (const std::wstring& program, std::wstring commandLine, const std::optional<Utf16List>& environment,
                  const std::wstring& workingDirectory)
    : ChildProcess (program, std::move (commandLine),
                    environment ? std::optional<std::wstring> (environmentBlockOf (*environment)) : std::nullopt,
                    workingDirectory.c_str())
{
}

Report waitForReport()
{
    for (DWORD waited = 0; waited < patienceMs; waited += pollMs)
    {
        if (auto report = installed_host::readReport())
            return *report;

        Sleep (pollMs);
    }

    ADD_FAILURE() << "the host wrote no report";
    return {};
}

Utf16List valuesOf (const Report& report, const std::string& field)
{
    Utf16List values;

    for (const auto& item : report)
        if (item.field == field)
            values.push_back (item.value);

    return values;
}

bool waitForErrorBox (Process& launcher)
{
    for (DWORD waited = 0; ! launcher.hasExited (pollMs) && waited < patienceMs; waited += pollMs)
        if (! errorBoxesOf (launcher.id()).empty())
            return true;

    return false;
}

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

void expectCannotStartBox (const ErrorBoxOutcome& outcome)
{
    const auto opening = L"Cannot start: " + installed_host::hostPath() + L" (";
    const std::wstring closing = L"), please check your installation.";
    const auto& body = outcome.firstBody;

    EXPECT_EQ (outcome.boxesShown, 1u);
    ASSERT_GT (body.size(), opening.size() + closing.size()) << "no reason given";
    EXPECT_EQ (body.substr (0, opening.size()), opening);
    EXPECT_EQ (body.substr (body.size() - closing.size()), closing);
    EXPECT_EQ (outcome.exitStatus, launchFailedStatus);
}

void Launcher::SetUp()
{
    removeHost();
    CreateDirectoryW (installed_host::hostFolder().c_str(), nullptr);
}

void Launcher::TearDown() { removeHost(); }

void Launcher::removeHost()
{
    DeleteFileW (installed_host::reportPath().c_str());
    DeleteFileW (installed_host::hostPath().c_str());
    RemoveDirectoryW (installed_host::hostPath().c_str());
}

void Launcher::installSampleHost()
{
    ASSERT_TRUE (CopyFileW ((installed_host::folderOfThisProgram() + L"Sonvik.exe").c_str(),
                            installed_host::hostPath().c_str(), FALSE));
}

Report Launcher::handOverWith (const std::wstring& commandLine, const std::optional<Utf16List>& environment,
                               const std::wstring& workingDirectory, const std::wstring& launcher)
{
    Process process (launcher, commandLine, environment, workingDirectory);
    EXPECT_TRUE (process.hasStarted());
    auto report = waitForReport();
    EXPECT_TRUE (process.hasExited (patienceMs));
    EXPECT_EQ (process.exitStatus(), 0u);
    return report;
}

Report Launcher::handOver (const Utf16List& arguments, const std::optional<Utf16List>& environment)
{
    return handOverWith (commandLineOf (launcherPath(), arguments), environment);
}

void expectBothParsersSee (const Report& report, const Utf16List& expected)
{
    EXPECT_EQ (valuesOf (report, "shell-argument"), expected);
    EXPECT_EQ (valuesOf (report, "crt-argument"), expected);
}

} // namespace e2e
