#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace launcher
{

// The longest command line CreateProcess accepts, its terminating null not counted.
constexpr std::size_t maxCommandLineLength = 32766;

// Quotes one argument so that CommandLineToArgvW and the C run-time's argv
// parser both give it back unchanged.
std::u16string quoteArgument (const std::u16string& argument);

// The host's command line: its arguments, each already quoted, joined with
// single spaces and nothing else.
std::u16string joinCommandLine (const std::vector<std::u16string>& arguments);

} // namespace launcher
