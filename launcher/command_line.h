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

// The length of the command line the run-time's exec makes of these
// arguments: it joins them with single spaces and adds nothing else.
std::size_t joinedCommandLineLength (const std::vector<std::u16string>& arguments);

} // namespace launcher
