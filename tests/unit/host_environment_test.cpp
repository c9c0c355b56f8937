#include "host_environment.h"

#include <gtest/gtest.h>

namespace
{

using Entries = std::vector<std::u16string>;
using launcher::buildHostEnvironment;

const std::u16string productEntry = u"PRODUCTNAME=tessalune";

TEST (HostEnvironment, EmptyEnvironmentGivesExactlyTheProductEntry)
{
    EXPECT_EQ (buildHostEnvironment ({}, productEntry), Entries { u"PRODUCTNAME=tessalune" });
}

TEST (HostEnvironment, InheritedEntriesKeepTheirOrderAndTheProductEntryComesLast)
{
    const Entries inherited { u"Path=C:\\Windows",
                              u"=C:=C:\\work",
                              u"ALPHA=1",
                              u"alpha=2",
                              u"EMPTY=",
                              u"UNICODE=Gr\u00fc\u00dfe",
                              std::u16string { u'S', u'=', char16_t (0xD800) } };
    auto expected = inherited;
    expected.push_back (u"PRODUCTNAME=tessalune");

    EXPECT_EQ (buildHostEnvironment (inherited, productEntry), expected);
}

TEST (HostEnvironment, InheritedProductEntriesAreReplacedWhateverTheirCase)
{
    const Entries inherited { u"PRODUCTNAME=other", u"A=1", u"productname=lower",
                              u"ProductName=",      u"B=2", u"PRODUCTNAME=tessalune" };

    EXPECT_EQ (buildHostEnvironment (inherited, productEntry), (Entries { u"A=1", u"B=2", u"PRODUCTNAME=tessalune" }));
}

TEST (HostEnvironment, OnlyTheExactNameIsReplaced)
{
    const Entries inherited { u"PRODUCTNAMES=1", u"XPRODUCTNAME=2", u"PRODUCTNAME",
                              u"=PRODUCTNAME=3", u"PRODUCT_NAME=4", u"PRODUCTNAM=5" };
    auto expected = inherited;
    expected.push_back (u"PRODUCTNAME=tessalune");

    EXPECT_EQ (buildHostEnvironment (inherited, productEntry), expected);
}

} // namespace
