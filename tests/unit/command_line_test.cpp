#include "command_line.h"
#include "family.h"
#include "windows_argument_parser.h"

#include <gtest/gtest.h>

namespace
{

using launcher::joinCommandLine;
using launcher::quoteArgument;
using testsupport::parseArgumentsAfterProgramName;

// The host's command line as the launcher makes it from these arguments.
std::u16string joinAsHostCommandLine (const std::vector<std::u16string>& arguments)
{
    std::vector<std::u16string> launcherArguments { u"Tessalune.exe" };
    launcherArguments.insert (launcherArguments.end(), arguments.begin(), arguments.end());
    return joinCommandLine (launcher::forwardArguments (launcherArguments));
}

// Cases where a naive join loses or changes what the user passed.
const std::vector<std::u16string> hardArguments {
    u"arg1",
    u"arg 2",
    u"arg \"2\\\"",
    u"arg 4\\",
    u"arg5 a\\\\b",
    u"",
    u"\t",
    u"tab\tinside",
    u"\\",
    u"\\\\\\",
    u"\"",
    u"\"\"\"",
    u"x\"y",
    u"C:\\Program Files\\Orvanel\\",
    u"\\\\server\\share\\a b\\\\",
    u"new\nline",
    u"Gr\u00fc\u00dfe \u65e5\u672c \U0001F319",
    std::u16string { u'a', char16_t (0xD800), u'b' },
    std::u16string { char16_t (0xDC00) },
};

TEST (ArgumentQuoting, EachHardCaseParsesBackUnchanged)
{
    for (const auto& argument : hardArguments)
    {
        const auto parsed = parseArgumentsAfterProgramName (joinAsHostCommandLine ({ argument }));
        ASSERT_EQ (parsed.size(), 1u) << "argument of " << argument.size() << " units";
        EXPECT_EQ (parsed.front(), argument);
    }
}

TEST (ArgumentQuoting, AllHardCasesTogetherParseBackInOrder)
{
    EXPECT_EQ (parseArgumentsAfterProgramName (joinAsHostCommandLine (hardArguments)), hardArguments);
}

TEST (ArgumentQuoting, PlainArgumentsStayAsTheyAre)
{
    EXPECT_EQ (quoteArgument (u"arg1"), u"arg1");
    EXPECT_EQ (quoteArgument (u"C:\\dir\\file.txt"), u"C:\\dir\\file.txt");
    EXPECT_EQ (quoteArgument (u"trailing\\"), u"trailing\\");
}

TEST (ArgumentQuoting, BackslashesDoubleOnlyBeforeAQuote)
{
    EXPECT_EQ (quoteArgument (u"arg 4\\"), u"\"arg 4\\\\\"");
    EXPECT_EQ (quoteArgument (u"arg5 a\\\\b"), u"\"arg5 a\\\\b\"");
    EXPECT_EQ (quoteArgument (u"a\\\"b"), u"\"a\\\\\\\"b\"");
    EXPECT_EQ (quoteArgument (u""), u"\"\"");
}

TEST (ArgumentQuoting, ParserFollowsThePlatformRules)
{
    // Independent of the quoting: these lines are what users and shells write.
    EXPECT_EQ (parseArgumentsAfterProgramName (u"\"C:\\Program Files\\x.exe\" a\\\\b \"c d\" e\\\"f \\\\\\\"g\""),
               (std::vector<std::u16string> { u"a\\\\b", u"c d", u"e\"f", u"\\\"g" }));
    EXPECT_EQ (parseArgumentsAfterProgramName (u"x.exe \"\" \t \"a\"\"b\" c\"d e\"f"),
               (std::vector<std::u16string> { u"", u"a\"b", u"cd ef" }));
    EXPECT_TRUE (parseArgumentsAfterProgramName (u"x.exe   ").empty());
}

TEST (JoinedCommandLine, PutsOneSpaceBetweenArgumentsAndNothingElse)
{
    EXPECT_EQ (joinCommandLine ({}), u"");
    EXPECT_EQ (joinCommandLine ({ u"Sonvik.exe" }), u"Sonvik.exe");
    EXPECT_EQ (joinCommandLine ({ u"Sonvik.exe", u"\"a b\"", u"\"\"", u"" }), u"Sonvik.exe \"a b\" \"\" ");
}

TEST (CommandLineLength, TheLimitLeavesRoomForTheTerminatingNull)
{
    EXPECT_EQ (FAMILY_MAX_COMMAND_LINE_LENGTH + 1, 32767u);
}

} // namespace
