#include "argument_lists.h"

#include <array>
#include <random>
#include <string_view>

namespace differential
{

namespace
{

constexpr std::uint32_t baseSeed = 0x7E55A1u;
constexpr std::size_t longestList = 8;

using Random = std::mt19937;

// A plain remainder rather than std::uniform_int_distribution, whose method
// each standard library chooses: a seed then gives the same case on any build.
std::uint32_t below (Random& random, std::uint32_t bound)
{
    return random() % bound;
}

bool oneIn (Random& random, std::uint32_t chances)
{
    return below (random, chances) == 0;
}

char16_t pickFrom (Random& random, std::u16string_view units)
{
    return units[below (random, static_cast<std::uint32_t> (units.size()))];
}

bool isSurrogate (char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDFFF;
}

void appendPlainAscii (Random& random, Utf16& argument)
{
    static constexpr std::u16string_view plain = u"abcdefxyzABCXYZ0123456789.-_/:=,;*?%!$&'()<>^|~`@#+{}[]";
    for (auto count = 1 + below (random, 6); count > 0; --count)
        argument += pickFrom (random, plain);
}

void appendSpaces (Random& random, Utf16& argument)
{
    argument.append (1 + below (random, 3), u' ');
}

void appendTabs (Random& random, Utf16& argument)
{
    argument.append (1 + below (random, 2), u'\t');
}

void appendQuotes (Random& random, Utf16& argument)
{
    argument.append (1 + below (random, 3), u'"');
}

void appendBackslashes (Random& random, Utf16& argument)
{
    argument.append (1 + below (random, 6), u'\\');
}

// The one place where backslashes stop being literal.
void appendBackslashesThenQuotes (Random& random, Utf16& argument)
{
    appendBackslashes (random, argument);
    appendQuotes (random, argument);
}

// Control characters other than the tab: no parser may take them for blanks.
void appendControl (Random& random, Utf16& argument)
{
    static constexpr std::u16string_view controls = u"\n\v\f\r\x01\x1b\x7f";
    argument += pickFrom (random, controls);
}

// Blanks of other scripts are ordinary characters to both parsers, so they
// are drawn often; the rest of the BMP outside the surrogates fills in.
void appendNonAsciiBmp (Random& random, Utf16& argument)
{
    static constexpr std::u16string_view lookAlikeBlanks = u"\u0085\u00a0\u1680\u2000\u200b\u2028\u3000\ufeff\uffff";

    if (oneIn (random, 3))
    {
        argument += pickFrom (random, lookAlikeBlanks);
        return;
    }

    char16_t unit;
    do
        unit = static_cast<char16_t> (0x80 + below (random, 0x10000 - 0x80));
    while (isSurrogate (unit));

    argument += unit;
}

void appendSupplementaryPair (Random& random, Utf16& argument)
{
    const auto offset = below (random, 0x100000);
    argument += static_cast<char16_t> (0xD800 + (offset >> 10));
    argument += static_cast<char16_t> (0xDC00 + (offset & 0x3FF));
}

void appendLoneHighSurrogate (Random& random, Utf16& argument)
{
    argument += static_cast<char16_t> (0xD800 + below (random, 0x400));
}

void appendLoneLowSurrogate (Random& random, Utf16& argument)
{
    argument += static_cast<char16_t> (0xDC00 + below (random, 0x400));
}

using PieceWriter = void (*) (Random&, Utf16&);

constexpr std::array<PieceWriter, 11> pieceWriters {
    appendPlainAscii,
    appendSpaces,
    appendTabs,
    appendQuotes,
    appendBackslashes,
    appendBackslashesThenQuotes,
    appendControl,
    appendNonAsciiBmp,
    appendSupplementaryPair,
    appendLoneHighSurrogate,
    appendLoneLowSurrogate,
};

Utf16 argumentFrom (Random& random)
{
    Utf16 argument;

    if (oneIn (random, 8))
        return argument;

    for (auto pieces = 1 + below (random, 6); pieces > 0; --pieces)
        pieceWriters[below (random, pieceWriters.size())](random, argument);

    // A run at the end meets the closing quote the quoting adds.
    if (oneIn (random, 4))
        appendBackslashes (random, argument);

    return argument;
}

void appendEscapedUnit (std::string& out, char16_t unit)
{
    static constexpr char hex[] = "0123456789abcdef";

    if (unit == u'"' || unit == u'\\')
    {
        out += '\\';
        out += static_cast<char> (unit);
        return;
    }

    if (unit >= 0x20 && unit < 0x7F)
    {
        out += static_cast<char> (unit);
        return;
    }

    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += hex[(unit >> shift) & 0xF];
}

} // namespace

std::uint32_t seedOfCase (std::size_t caseIndex)
{
    return baseSeed + static_cast<std::uint32_t> (caseIndex);
}

Utf16List argumentListFromSeed (std::uint32_t seed)
{
    Random random (seed);
    Utf16List list (below (random, longestList + 1));

    for (auto& argument : list)
        argument = argumentFrom (random);

    return list;
}

std::string escaped (const Utf16& text)
{
    std::string out = "\"";

    for (auto unit : text)
        appendEscapedUnit (out, unit);

    return out + "\"";
}

std::string escaped (const Utf16List& list)
{
    std::string out = "{";

    for (std::size_t i = 0; i < list.size(); ++i)
        out += (i == 0 ? " " : ", ") + escaped (list[i]);

    return out + " }";
}

} // namespace differential
