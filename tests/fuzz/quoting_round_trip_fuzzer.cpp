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

// Slot 0 as the launcher passes it: the host's bare name, unquoted.
const std::u16string hostName = u"Sonvik.exe";

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

Arguments hostArgumentsFor (const Arguments& arguments)
{
    Arguments hostArguments { hostName };

    for (const auto& argument : arguments)
        hostArguments.push_back (launcher::quoteArgument (argument));

    return hostArguments;
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
