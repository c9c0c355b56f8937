#include "command_line.h"

#include "family.h"

namespace launcher
{

namespace
{

bool needsQuotes (const std::u16string& argument)
{
    return argument.empty() || argument.find_first_of (u" \t\n\v\"") != std::u16string::npos;
}

} // namespace

std::u16string quoteArgument (const std::u16string& argument)
{
    if (! needsQuotes (argument))
        return argument;

    std::u16string quoted = u"\"";
    std::size_t backslashes = 0;

    for (auto unit : argument)
    {
        if (unit == u'\\')
        {
            ++backslashes;
            continue;
        }

        // Backslashes are literal unless a quote follows them; before a quote
        // each one must be doubled, and the quote itself escaped.
        // https://learn.microsoft.com/windows/win32/api/shellapi/nf-shellapi-commandlinetoargvw
        if (unit == u'"')
            quoted.append (backslashes * 2 + 1, u'\\');
        else
            quoted.append (backslashes, u'\\');

        backslashes = 0;
        quoted += unit;
    }

    // The closing quote follows the trailing run, so it is doubled too.
    quoted.append (backslashes * 2, u'\\');
    quoted += u'"';
    return quoted;
}

std::vector<std::u16string> forwardArguments (const std::vector<std::u16string>& launcherArguments)
{
    std::vector<std::u16string> hostArguments { u"" FAMILY_HOST_FILE };

    for (std::size_t i = 1; i < launcherArguments.size(); ++i)
        hostArguments.push_back (quoteArgument (launcherArguments[i]));

    return hostArguments;
}

std::u16string joinCommandLine (const std::vector<std::u16string>& arguments)
{
    std::u16string line;

    for (std::size_t i = 0; i < arguments.size(); ++i)
        line += (i == 0 ? u"" : u" ") + arguments[i];

    return line;
}

} // namespace launcher
