// The system's texts, and the one box the launcher shows.

#include "windows_platform.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>

namespace launcher::platform
{

juce::String describeSystemError (SystemError error, const juce::String& path)
{
    // Some of the system's texts name the file they are about by an insert
    // ("%1 is not a valid Win32 application."). Each insert a text can hold,
    // up to %99 and as wide as a 64-bit number, is given the path, so none
    // reaches the box as it stands and none is read from beyond the array.
    // https://devblogs.microsoft.com/oldnewthing/20071128-00/?p=24353
    std::array<DWORD_PTR, 2 * 99> inserts;
    inserts.fill (reinterpret_cast<DWORD_PTR> (path.toWideCharPointer()));
    wchar_t* text = nullptr;
    const auto length = FormatMessageW (
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY, nullptr, error, 0,
        reinterpret_cast<wchar_t*> (&text), 0, reinterpret_cast<va_list*> (inserts.data()));
    const auto description = length > 0 ? juce::String (text, length).trimEnd() : "error " + juce::String (error);
    LocalFree (text);
    return description;
}

void showErrorBox (const ErrorBox& box)
{
    // The GUI layer exists only while the box does: a hand-over never pays for it.
    const juce::ScopedJuceInitialiser_GUI gui;
    juce::NativeMessageBox::showMessageBox (juce::MessageBoxIconType::NoIcon, box.title, box.body);
}

} // namespace launcher::platform
