// Any list of arguments the launcher receives must reach the host unchanged:
// quoted one by one, joined after the host's name into its command line as the launcher
// joins them, and split again by the host's run-time.

#include "command_line.h"
#include "fuzz_support.h"
#include "windows_argument_parser.h"

#include <cstdio>

namespace
{

using Arguments = std::vector<std::u16string>;

// Each string of the input is one argument, so the input "" gives no
// arguments and a lone zero byte one empty argument.
Arguments decodeArguments (const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::Utf16Reader reader (data, size);
    Arguments arguments;

    while (! reader.atEnd())
        arguments.push_back (reader.takeString());

    return arguments;
}

// As the launcher forwards what it was given after its own name.
Arguments hostArgumentsFor (const Arguments& arguments)
{
    Arguments launcherArguments { u"Tessalune.exe" };
    launcherArguments.insert (launcherArguments.end(), arguments.begin(), arguments.end());
    return launcher::forwardArguments (launcherArguments);
}

void printArguments (const char* label, const Arguments& arguments)
{
    std::fprintf (stderr, "%s (%zu):\n", label, arguments.size());

    for (const auto& argument : arguments)
        std::fprintf (stderr, "  [%s]\n", fuzzsupport::escaped (argument).c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    const auto arguments = decodeArguments (data, size);
    const auto hostArguments = hostArgumentsFor (arguments);
    const auto commandLine = launcher::joinCommandLine (hostArguments);
    const auto parsed = testsupport::parseArgumentsAfterProgramName (commandLine);

    if (parsed != arguments)
    {
        printArguments ("passed", arguments);
        std::fprintf (stderr, "command line: [%s]\n", fuzzsupport::escaped (commandLine).c_str());
        printArguments ("the host's run-time splits it into", parsed);
        fuzzsupport::fail ("the host would not receive the arguments the launcher was given");
    }

    return 0;
}
