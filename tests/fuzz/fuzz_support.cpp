#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>

namespace fuzzsupport
{

Utf16Reader::Utf16Reader (const std::uint8_t* data, std::size_t size) : next (data), end (data + size)
{
}

bool Utf16Reader::atEnd() const
{
    return next == end;
}

std::uint8_t Utf16Reader::takeByte()
{
    return atEnd() ? 0 : *next++;
}

std::u16string Utf16Reader::takeString()
{
    std::u16string text;

    while (! atEnd())
    {
        const auto byte = takeByte();

        if (byte == 0)
            break;

        if (byte < 0x80)
        {
            text += static_cast<char16_t> (byte);
            continue;
        }

        const auto high = takeByte();
        const auto unit = static_cast<char16_t> (high << 8 | takeByte());

        if (unit != 0)
            text += unit;
    }

    return text;
}

std::string escaped (const std::u16string& text)
{
    std::string out;

    for (const auto unit : text)
    {
        if (unit >= 0x20 && unit < 0x7F && unit != u'\\')
        {
            out += static_cast<char> (unit);
            continue;
        }

        char escape[8];
        std::snprintf (escape, sizeof escape, "\\u%04X", static_cast<unsigned> (unit));
        out += escape;
    }

    return out;
}

void fail (const char* what)
{
    std::fprintf (stderr, "%s\n", what);
    std::abort();
}

} // namespace fuzzsupport
