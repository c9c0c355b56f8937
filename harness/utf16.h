#pragma once

// Text as the launcher holds it and as Windows takes it: both UTF-16, so it is
// copied unit for unit and a lone surrogate passes unchanged.

#include <string>
#include <string_view>
#include <vector>

using Utf16 = std::u16string;
using Utf16List = std::vector<Utf16>;

inline std::wstring wide (const Utf16& text)
{
    return { text.begin(), text.end() };
}
inline Utf16 utf16 (std::wstring_view text)
{
    return { text.begin(), text.end() };
}
