// A stand-in for the host program: it records what the launcher handed it
// (its raw command line, its arguments as CommandLineToArgvW and as the C
// run-time split them, its working directory, its whole environment in order,
// the PRODUCTNAME it reads, its start-up information and priority class) in
// "Sonvik-received.txt" beside itself, then exits. It also records its process
// id and the performance counter at the moment its main began, so that the
// time from a launcher's start to the host's can be measured.
//
// Arguments of its own ask it to behave like a host that lives on:
//   --start-child=MS    start a copy of itself that waits MS milliseconds
//                       (reporting to Sonvik-child.txt), as an updater would
//   --wait-ms=MS        wait MS milliseconds after writing the report
//   --idle-after=EVENT  with a message queue, wait for the named event to be
//                       set before waiting for input (for the --wait-ms), as a
//                       program does that is busy until its window is ready
//   --exit-status=N     end with status N (decimal or 0x hexadecimal, 32 bits)
//   --report=NAME       write the report to NAME beside itself
// They are recorded like any other argument.

#include "received_report.h"

#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace
{

namespace field = received_report::field;

std::u16string toUtf16 (const wchar_t* text)
{
    return reinterpret_cast<const char16_t*> (text);
}

void addShellArguments (std::vector<received_report::Item>& items)
{
    int count = 0;
    auto** arguments = CommandLineToArgvW (GetCommandLineW(), &count);

    for (int i = 0; arguments != nullptr && i < count; ++i)
        items.push_back ({ field::shellArgument, toUtf16 (arguments[i]) });

    LocalFree (arguments);
}

void addWorkingDirectory (std::vector<received_report::Item>& items)
{
    std::wstring folder (MAX_PATH * 4, L'\0');
    folder.resize (GetCurrentDirectoryW (static_cast<DWORD> (folder.size()), folder.data()));
    items.push_back ({ field::workingDirectory, toUtf16 (folder.c_str()) });
}

void addEnvironment (std::vector<received_report::Item>& items)
{
    auto* block = GetEnvironmentStringsW();

    for (const wchar_t* entry = block; entry != nullptr && *entry != L'\0'; entry += std::wcslen (entry) + 1)
        items.push_back ({ field::environment, toUtf16 (entry) });

    FreeEnvironmentStringsW (block);
}

void addProductName (std::vector<received_report::Item>& items)
{
    std::wstring value (32767, L'\0');
    const auto length = GetEnvironmentVariableW (L"PRODUCTNAME", value.data(), static_cast<DWORD> (value.size()));

    if (length > 0 && length < value.size())
        items.push_back ({ field::productName, toUtf16 (value.c_str()) });
}

void addStartupInformation (std::vector<received_report::Item>& items)
{
    STARTUPINFOW startup {};
    startup.cb = sizeof (startup);
    GetStartupInfoW (&startup);
    items.push_back ({ field::startupFlags, toUtf16 (std::to_wstring (startup.dwFlags).c_str()) });
    items.push_back ({ field::startupShow, toUtf16 (std::to_wstring (startup.wShowWindow).c_str()) });

    if (startup.lpTitle != nullptr)
        items.push_back ({ field::startupTitle, toUtf16 (startup.lpTitle) });

    items.push_back (
        { field::priorityClass, toUtf16 (std::to_wstring (GetPriorityClass (GetCurrentProcess())).c_str()) });
}

// The value of "--name=value" among the arguments, if given.
std::optional<std::wstring> optionOf (int argc, wchar_t** argv, const std::wstring& name)
{
    const auto prefix = L"--" + name + L"=";

    for (int i = 1; i < argc; ++i)
        if (std::wcsncmp (argv[i], prefix.c_str(), prefix.size()) == 0)
            return std::wstring (argv[i] + prefix.size());

    return std::nullopt;
}

DWORD numberOf (const std::optional<std::wstring>& text)
{
    return text ? static_cast<DWORD> (std::wcstoul (text->c_str(), nullptr, 0)) : 0;
}

std::wstring pathBesideThisProgram (const wchar_t* fileName)
{
    std::wstring path (MAX_PATH * 4, L'\0');
    path.resize (GetModuleFileNameW (nullptr, path.data(), static_cast<DWORD> (path.size())));
    return path.substr (0, path.find_last_of (L'\\') + 1) + fileName;
}

// A copy of this program that lives on after it, started the way a host
// starts an updater: nothing of ours is inherited.
void startChild (std::vector<received_report::Item>& items, const std::wstring& waitMs)
{
    const auto program = pathBesideThisProgram (L"Sonvik.exe");
    auto commandLine = L"Sonvik.exe --report=Sonvik-child.txt --wait-ms=" + waitMs;
    STARTUPINFOW startup {};
    startup.cb = sizeof (startup);
    PROCESS_INFORMATION child {};

    if (! CreateProcessW (program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &child))
        return;

    items.push_back ({ field::childProcessId, toUtf16 (std::to_wstring (child.dwProcessId).c_str()) });
    CloseHandle (child.hThread);
    CloseHandle (child.hProcess);
}

// Until the event is set the host has a message queue but does not wait for
// input, so a caller's WaitForInputIdle on it waits; afterwards it does, until
// its time is up.
// https://learn.microsoft.com/en-us/windows/desktop/api/Winuser/nf-winuser-waitforinputidle
void waitForInputAfter (const std::wstring& eventName, DWORD waitMs)
{
    MSG message;
    PeekMessageW (&message, nullptr, 0, 0, PM_NOREMOVE);

    if (const auto event = OpenEventW (SYNCHRONIZE, FALSE, eventName.c_str()))
    {
        WaitForSingleObject (event, INFINITE);
        CloseHandle (event);
    }

    SetTimer (nullptr, 0, waitMs, nullptr);

    while (GetMessageW (&message, nullptr, 0, 0) > 0 && message.message != WM_TIMER)
        DispatchMessageW (&message);
}

// Written aside and then moved into place, so a reader never sees half a report.
bool writeReport (const std::string& text, const std::wstring& fileName)
{
    const auto finalPath = pathBesideThisProgram (fileName.c_str());
    const auto partPath = finalPath + L".part";

    {
        std::ofstream out (partPath.c_str(), std::ios::binary | std::ios::trunc);
        out << text;
        if (! out.flush())
            return false;
    }

    return MoveFileExW (partPath.c_str(), finalPath.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

} // namespace

int wmain (int argc, wchar_t** argv)
{
    LARGE_INTEGER startedAt;
    QueryPerformanceCounter (&startedAt);

    std::vector<received_report::Item> items {
        { field::startedAt, toUtf16 (std::to_wstring (startedAt.QuadPart).c_str()) },
        { field::processId, toUtf16 (std::to_wstring (GetCurrentProcessId()).c_str()) },
        { field::commandLine, toUtf16 (GetCommandLineW()) }
    };
    addShellArguments (items);

    for (int i = 0; i < argc; ++i)
        items.push_back ({ field::crtArgument, toUtf16 (argv[i]) });

    addWorkingDirectory (items);
    addEnvironment (items);
    addProductName (items);
    addStartupInformation (items);

    if (const auto childWaitMs = optionOf (argc, argv, L"start-child"))
        startChild (items, *childWaitMs);

    if (! writeReport (received_report::encode (items),
                       optionOf (argc, argv, L"report").value_or (L"Sonvik-received.txt")))
        return 1;

    const auto waitMs = numberOf (optionOf (argc, argv, L"wait-ms"));

    if (const auto idleAfter = optionOf (argc, argv, L"idle-after"))
        waitForInputAfter (*idleAfter, waitMs);
    else
        Sleep (waitMs);

    return static_cast<int> (numberOf (optionOf (argc, argv, L"exit-status")));
}
