#pragma once

// How the echo program hands back the argv the C run-time gave it: the count,
// then each argument as its length and its UTF-16 code units, every number a
// little-endian 32-bit word. Lengths rather than terminators, and code units
// rather than UTF-8, so that empty arguments and lone surrogates come back
// exactly as the run-time split them.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace argv_record
{

// The environment variable naming the file the echo program writes its record to.
constexpr const wchar_t* pathVariable = L"TESSALUNE_ARGV_RECORD";

inline void appendWord (std::string& bytes, std::uint32_t word)
{
    for (int shift = 0; shift < 32; shift += 8)
        bytes += static_cast<char> ((word >> shift) & 0xFF);
}

inline std::string encode (const std::vector<std::u16string>& arguments)
{
    std::string bytes;
    appendWord (bytes, static_cast<std::uint32_t> (arguments.size()));

    for (const auto& argument : arguments)
    {
        appendWord (bytes, static_cast<std::uint32_t> (argument.size()));

        for (auto unit : argument)
        {
            bytes += static_cast<char> (unit & 0xFF);
            bytes += static_cast<char> (unit >> 8);
        }
    }

    return bytes;
}

// Reads a record as encode writes it; nullopt for anything cut short or overlong.
class Reader
{
public:
    explicit Reader (const std::string& recordBytes) : bytes (recordBytes) {}

    std::optional<std::vector<std::u16string>> arguments()
    {
        const auto count = word();
        if (! count)
            return std::nullopt;

        std::vector<std::u16string> result;

        for (std::uint32_t i = 0; i < *count; ++i)
        {
            auto argument = text();
            if (! argument)
                return std::nullopt;
            result.push_back (std::move (*argument));
        }

        if (position != bytes.size())
            return std::nullopt;

        return result;
    }

private:
    std::optional<std::uint32_t> word()
    {
        if (bytes.size() - position < 4)
            return std::nullopt;

        std::uint32_t value = 0;
        for (int k = 3; k >= 0; --k)
            value = (value << 8) | static_cast<unsigned char> (bytes[position + static_cast<std::size_t> (k)]);

        position += 4;
        return value;
    }

    std::optional<std::u16string> text()
    {
        const auto length = word();
        if (! length || (bytes.size() - position) / 2 < *length)
            return std::nullopt;

        std::u16string value;
        for (std::uint32_t i = 0; i < *length; ++i, position += 2)
            value += static_cast<char16_t> (static_cast<unsigned char> (bytes[position])
                                            | (static_cast<unsigned char> (bytes[position + 1]) << 8));

        return value;
    }

    const std::string& bytes;
    std::size_t position = 0;
};

inline std::optional<std::vector<std::u16string>> decode (const std::string& bytes)
{
    return Reader (bytes).arguments();
}

} // namespace argv_record
