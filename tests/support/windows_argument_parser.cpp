#include "windows_argument_parser.h"

namespace testsupport
{

namespace
{

bool isBlank (char16_t unit)
{
    return unit == u' ' || unit == u'\t';
}

// The program's name ends at the first blank outside quotes; quotes only
// toggle and backslashes are ordinary characters in it.
std::size_t skipProgramName (const std::u16string& line)
{
    std::size_t i = 0;
    bool quoted = false;

    for (; i < line.size(); ++i)
    {
        if (line[i] == u'"')
            quoted = ! quoted;
        else if (isBlank (line[i]) && ! quoted)
            break;
    }

    return i;
}

} // namespace

std::vector<std::u16string> parseArgumentsAfterProgramName (const std::u16string& line)
{
    std::vector<std::u16string> arguments;
    std::size_t i = skipProgramName (line);

    for (;;)
    {
        while (i < line.size() && isBlank (line[i]))
            ++i;

        if (i == line.size())
            return arguments;

        std::u16string argument;
        bool quoted = false;

        while (i < line.size() && (quoted || ! isBlank (line[i])))
        {
            std::size_t backslashes = 0;

            while (i < line.size() && line[i] == u'\\')
            {
                ++backslashes;
                ++i;
            }

            if (i < line.size() && line[i] == u'"')
            {
                // 2n backslashes and a quote: n backslashes, and the quote
                // delimits; 2n + 1: n backslashes and a literal quote.
                argument.append (backslashes / 2, u'\\');

                if (backslashes % 2 == 1)
                    argument += u'"';
                else if (quoted && i + 1 < line.size() && line[i + 1] == u'"')
                    argument += line[++i]; // "" inside quotes is one literal quote
                else
                    quoted = ! quoted;

                ++i;
            }
            else
            {
                argument.append (backslashes, u'\\');

                if (backslashes == 0 && i < line.size())
                    argument += line[i++];
            }
        }

        arguments.push_back (argument);
    }
}

} // namespace testsupport
