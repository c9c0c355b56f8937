#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace launcher
{

// Quotes one argument so that CommandLineToArgvW and the C run-time's argv
// parser both give it back unchanged.
std::u16string quoteArgument (const std::u16string& argument);

// The host's arguments from the launcher's own, slot 0 its name: the host
// gets its bare name first, never the path it was started from, and then the
// launcher's arguments after its own name, each quoted for the host's parser.
std::vector<std::u16string> forwardArguments (const std::vector<std::u16string>& launcherArguments);

// The host's command line: its arguments, each already quoted, joined with
// single spaces and nothing else.
std::u16string joinCommandLine (const std::vector<std::u16string>& arguments);

} // namespace launcher
