// Whatever environment the launcher inherits, the host must see PRODUCTNAME
// once, as the product's own entry and last, and every other inherited entry
// as it was and where it was.

#include "fuzz_support.h"
#include "host_environment.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string_view>

namespace
{

using Entries = std::vector<std::u16string>;

const std::u16string productEntry = u"PRODUCTNAME=tessalune";

// How an entry begins, chosen by its first byte, so that the product's name
// in any case, names a unit away from it, and the per-drive entries Windows
// keeps turn up in every few inputs rather than by luck.
const std::u16string entryBeginnings[] = {
    u"",
    u"PRODUCTNAME=",
    u"productname=",
    u"ProductName=",
    u"pRODUCTNAMe=",
    u"PRODUCTNAME=tessalune",
    u"PRODUCTNAME==",
    u"PRODUCTNAME",
    u"PRODUCTNAMEX=",
    u"PRODUCTNAM=",
    u"XPRODUCTNAME=",
    u"=PRODUCTNAME=",
    u"PRODUCT NAME=",
    u"PRODUCTNAM\uFF25=", // a fullwidth E, which no case folding makes ASCII
    u"=C:=C:\\",
    u"Path=C:\\Windows",
};

// Each string of the input is one entry: its first byte picks a beginning,
// the rest follows it.
Entries decodeEnvironment (const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::Utf16Reader reader (data, size);
    Entries entries;

    while (! reader.atEnd())
    {
        const auto& beginning = entryBeginnings[reader.takeByte() % std::size (entryBeginnings)];
        entries.push_back (beginning + reader.takeString());
    }

    return entries;
}

char16_t asciiLower (char16_t unit)
{
    return (unit >= u'A' && unit <= u'Z') ? static_cast<char16_t> (unit + (u'a' - u'A')) : unit;
}

// A name runs up to the first '=' after its first unit: Windows' per-drive
// entries ("=C:=C:\") have names that begin with '='. An entry with no such
// '=' sets no variable. Names ignore case, and ASCII folding suffices for this
// one: no other unit folds onto its letters.
bool setsProductName (const std::u16string& entry)
{
    constexpr std::u16string_view productName = u"productname";
    const auto nameEnd = entry.find (u'=', 1);

    if (nameEnd != productName.size())
        return false;

    for (std::size_t i = 0; i < nameEnd; ++i)
        if (asciiLower (entry[i]) != productName[i])
            return false;

    return true;
}

Entries withoutProductName (const Entries& entries)
{
    Entries kept;
    std::copy_if (entries.begin(), entries.end(), std::back_inserter (kept),
                  [] (const std::u16string& entry) { return ! setsProductName (entry); });
    return kept;
}

void printEntries (const char* label, const Entries& entries)
{
    std::fprintf (stderr, "%s (%zu):\n", label, entries.size());

    for (const auto& entry : entries)
        std::fprintf (stderr, "  [%s]\n", fuzzsupport::escaped (entry).c_str());
}

[[noreturn]] void failWith (const char* what, const Entries& inherited, const Entries& built)
{
    printEntries ("inherited", inherited);
    printEntries ("host's", built);
    fuzzsupport::fail (what);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    const auto inherited = decodeEnvironment (data, size);
    const auto built = launcher::buildHostEnvironment (inherited, productEntry);

    if (built.empty() || built.back() != productEntry)
        failWith ("the product's entry is not the host's last", inherited, built);

    if (std::count_if (built.begin(), built.end(), setsProductName) != 1)
        failWith ("the host would see PRODUCTNAME more than once", inherited, built);

    const Entries others (built.begin(), built.end() - 1);

    if (others != withoutProductName (inherited))
        failWith ("an inherited entry is missing, changed or out of order", inherited, built);

    return 0;
}
