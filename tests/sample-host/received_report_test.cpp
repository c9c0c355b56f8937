#include "received_report.h"

#include <gtest/gtest.h>

namespace
{

using received_report::Item;

TEST (ReceivedReport, EveryKindOfTextSurvivesTheRoundTrip)
{
    const std::vector<Item> items {
        { "argument", u"" },
        { "argument", u"plain" },
        { "argument", u"quote \" and back\\slash\\" },
        { "argument", u"tab\t newline\n bell\a delete\x7f" },
        { "argument", u"Gr\u00fc\u00dfe \u65e5\u672c \U0001F319" },
        { "argument", std::u16string { char16_t (0xD800), u'x', char16_t (0xDFFF) } },
        { "environment", u"PRODUCTNAME=tessalune" },
    };

    EXPECT_EQ (received_report::decode (received_report::encode (items)), items);
}

TEST (ReceivedReport, ValuesAreLegibleUtf8)
{
    EXPECT_EQ (received_report::encodeValue (u"C:\\a \"b\" \u00fc"), "\"C:\\\\a \\\"b\\\" \xc3\xbc\"");
    EXPECT_EQ (received_report::encodeValue (std::u16string { char16_t (0xDC00) }), "\"\\udc00\"");
}

TEST (ReceivedReport, MalformedLinesAreRejected)
{
    EXPECT_FALSE (received_report::decode ("argument\n"));
    EXPECT_FALSE (received_report::decode ("argument unquoted\n"));
    EXPECT_FALSE (received_report::decode ("argument \"dangling\\\"\n"));
    EXPECT_FALSE (received_report::decode ("argument \"\\uzz00\"\n"));
    EXPECT_FALSE (received_report::decode ("argument \"\\u12\"\n"));
}

} // namespace
