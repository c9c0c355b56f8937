#include "windows_platform.h"

#include "command_line.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <windows.h>
#include <shellapi.h>

#include <cerrno>
#include <cwchar>
#include <process.h>

namespace launcher::platform
{

namespace
{

static_assert (sizeof (wchar_t) == sizeof (char16_t), "Windows' wide characters are UTF-16 code units");

Utf16 toUtf16 (const wchar_t* text)
{
    return reinterpret_cast<const char16_t*> (text);
}

std::vector<const wchar_t*> nullTerminatedPointers (const Utf16List& texts)
{
    std::vector<const wchar_t*> pointers;
    pointers.reserve (texts.size() + 1);

    for (const auto& text : texts)
        pointers.push_back (reinterpret_cast<const wchar_t*> (text.c_str()));

    pointers.push_back (nullptr);
    return pointers;
}

} // namespace

std::optional<Utf16List> splitCommandLine()
{
    int count = 0;
    auto** arguments = CommandLineToArgvW (GetCommandLineW(), &count);

    if (arguments == nullptr)
        return std::nullopt;

    Utf16List split;
    split.reserve (static_cast<std::size_t> (count));

    for (int i = 0; i < count; ++i)
        split.push_back (toUtf16 (arguments[i]));

    LocalFree (arguments);
    return split;
}

juce::String sharedApplicationDataFolder()
{
    return juce::File::getSpecialLocation (juce::File::commonApplicationDataDirectory).getFullPathName();
}

bool pathExists (const juce::String& path)
{
    return juce::File (path).exists();
}

// The run-time's _wenviron can still be null in a program with a narrow entry
// point; the process's own block is always complete.
Utf16List currentEnvironment()
{
    Utf16List entries;
    auto* block = GetEnvironmentStringsW();

    if (block == nullptr)
        return entries;

    for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wcslen (entry) + 1)
        entries.push_back (toUtf16 (entry));

    FreeEnvironmentStringsW (block);
    return entries;
}

// The wide exec keeps every argument and variable exactly as the platform gave
// it; the 8-bit one would pass them through the ANSI code page.
int handOver (const HandOver& request)
{
    // Over the limit CreateProcess refuses the command line; refusing it here
    // gives the same answer on every platform that runs us.
    if (joinedCommandLineLength (request.hostArguments) > maxCommandLineLength)
        return E2BIG;

    const auto arguments = nullTerminatedPointers (request.hostArguments);
    const auto environment = nullTerminatedPointers (request.hostEnvironment);

    errno = 0;
    _wexecve (request.hostPath.toWideCharPointer(), arguments.data(), environment.data());
    return errno;
}

juce::String describeRunTimeError (int error)
{
    return juce::String (_wcserror (error));
}

void showErrorBox (const ErrorReport& report)
{
    // The GUI layer exists only while the box does: a hand-over never pays for it.
    const juce::ScopedJuceInitialiser_GUI gui;
    juce::NativeMessageBox::showMessageBox (juce::MessageBoxIconType::NoIcon, report.title, report.body);
}

} // namespace launcher::platform
