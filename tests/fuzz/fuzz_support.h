#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzsupport
{

// Reads UTF-16 strings, one after another, from a fuzzer's bytes:
//  - a zero byte ends a string;
//  - bytes 0x01 to 0x7F stand for themselves, so that the blanks, quotes,
//    backslashes and '=' that matter here cost one byte each;
//  - a byte from 0x80 up takes the next two bytes, high first, as one code
//    unit of any value, lone surrogates included.
// NUL cannot come out: a zero byte always ends the string, and a unit of zero
// made from two bytes is left out. Neither a command line nor an environment
// entry can carry NUL, as it is what ends them.
class Utf16Reader
{
public:
    Utf16Reader (const std::uint8_t* data, std::size_t size);

    bool atEnd() const;

    // The next byte, or zero past the end.
    std::uint8_t takeByte();

    // The units up to the next zero byte, which is used up too, or to the end.
    std::u16string takeString();

private:
    const std::uint8_t* next;
    const std::uint8_t* end;
};

// The string with every unit outside printable ASCII written as \uXXXX, to
// show a failing case.
std::string escaped (const std::u16string& text);

// Reports a broken promise and aborts, which libFuzzer records as a finding
// along with the input that caused it.
[[noreturn]] void fail (const char* what);

} // namespace fuzzsupport
