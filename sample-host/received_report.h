#pragma once

// The sample host's report of what it received: one line per item,
// "<field> <value>", the value written as a JSON string. JSON keeps the text
// legible and exact: quotes, backslashes and control characters are escaped,
// and a lone UTF-16 surrogate, which UTF-8 cannot carry, stays \uXXXX.

#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace received_report
{

// The fields of the report, for the host that writes it and the tests and
// benchmark that read it. The scripts that read it under Wine name the few
// they show by these same texts.
namespace field
{
inline constexpr const char* startedAt = "started-at";
inline constexpr const char* processId = "process-id";
inline constexpr const char* commandLine = "command-line";
inline constexpr const char* shellArgument = "shell-argument";
inline constexpr const char* crtArgument = "crt-argument";
inline constexpr const char* workingDirectory = "working-directory";
inline constexpr const char* environment = "environment";
inline constexpr const char* productName = "productname";
inline constexpr const char* startupFlags = "startup-flags";
inline constexpr const char* startupShow = "startup-show";
inline constexpr const char* startupTitle = "startup-title";
inline constexpr const char* priorityClass = "priority-class";
inline constexpr const char* childProcessId = "child-process-id";
} // namespace field

struct Item
{
    std::string field;
    std::u16string value;

    bool operator== (const Item& other) const { return field == other.field && value == other.value; }
};

inline bool isHighSurrogate (char32_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}
inline bool isLowSurrogate (char32_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

inline void appendUtf8 (std::string& out, char32_t c)
{
    if (c < 0x80)
    {
        out += static_cast<char> (c);
    }
    else if (c < 0x800)
    {
        out += static_cast<char> (0xC0 | (c >> 6));
        out += static_cast<char> (0x80 | (c & 0x3F));
    }
    else if (c < 0x10000)
    {
        out += static_cast<char> (0xE0 | (c >> 12));
        out += static_cast<char> (0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char> (0x80 | (c & 0x3F));
    }
    else
    {
        out += static_cast<char> (0xF0 | (c >> 18));
        out += static_cast<char> (0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char> (0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char> (0x80 | (c & 0x3F));
    }
}

inline void appendEscapedUnit (std::string& out, char32_t unit)
{
    static const char hex[] = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += hex[(unit >> shift) & 0xF];
}

inline std::string encodeValue (const std::u16string& value)
{
    std::string out = "\"";

    for (std::size_t i = 0; i < value.size(); ++i)
    {
        const char32_t unit = value[i];

        if (unit == u'"' || unit == u'\\')
        {
            out += '\\';
            out += static_cast<char> (unit);
        }
        else if (unit < 0x20 || unit == 0x7F)
        {
            appendEscapedUnit (out, unit);
        }
        else if (isHighSurrogate (unit) && i + 1 < value.size() && isLowSurrogate (value[i + 1]))
        {
            appendUtf8 (out, 0x10000 + ((unit - 0xD800) << 10) + (value[i + 1] - 0xDC00));
            ++i;
        }
        else if (isHighSurrogate (unit) || isLowSurrogate (unit))
        {
            appendEscapedUnit (out, unit);
        }
        else
        {
            appendUtf8 (out, unit);
        }
    }

    return out + "\"";
}

// Reads one value as encodeValue writes it; nullopt for anything else.
inline std::optional<std::u16string> decodeValue (const std::string& text)
{
    if (text.size() < 2 || text.front() != '"' || text.back() != '"')
        return std::nullopt;

    std::u16string value;
    const auto end = text.size() - 1;

    for (std::size_t i = 1; i < end;)
    {
        const auto byte = static_cast<unsigned char> (text[i]);

        if (byte == '\\')
        {
            if (i + 1 >= end)
                return std::nullopt;

            if (text[i + 1] == 'u')
            {
                const auto digits = i + 6 <= end ? text.substr (i + 2, 4) : std::string();
                if (digits.size() != 4 || digits.find_first_not_of ("0123456789abcdefABCDEF") != std::string::npos)
                    return std::nullopt;
                value += static_cast<char16_t> (std::stoul (digits, nullptr, 16));
                i += 6;
            }
            else
            {
                value += static_cast<char16_t> (text[i + 1]);
                i += 2;
            }
            continue;
        }

        const int length = byte < 0x80 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
        if (i + static_cast<std::size_t> (length) > end)
            return std::nullopt;

        char32_t c = length == 1 ? byte : byte & (0x3F >> (length - 1));
        for (int k = 1; k < length; ++k)
            c = (c << 6) | (static_cast<unsigned char> (text[i + static_cast<std::size_t> (k)]) & 0x3F);
        i += static_cast<std::size_t> (length);

        if (c >= 0x10000)
        {
            value += static_cast<char16_t> (0xD800 + ((c - 0x10000) >> 10));
            value += static_cast<char16_t> (0xDC00 + ((c - 0x10000) & 0x3FF));
        }
        else
        {
            value += static_cast<char16_t> (c);
        }
    }

    return value;
}

inline std::string encode (const std::vector<Item>& items)
{
    std::string out;

    for (const auto& item : items)
        out += item.field + " " + encodeValue (item.value) + "\n";

    return out;
}

inline std::optional<std::vector<Item>> decode (const std::string& text)
{
    std::vector<Item> items;
    std::istringstream lines (text);
    std::string line;

    while (std::getline (lines, line))
    {
        const auto space = line.find (' ');
        if (space == std::string::npos)
            return std::nullopt;

        auto value = decodeValue (line.substr (space + 1));
        if (! value)
            return std::nullopt;

        items.push_back ({ line.substr (0, space), std::move (*value) });
    }

    return items;
}

} // namespace received_report
