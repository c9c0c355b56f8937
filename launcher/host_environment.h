#pragma once

#include <string>
#include <vector>

namespace launcher
{

// The host's environment: the launcher's own, in its order, with the product's
// entry (PRODUCTNAME=value) last in place of any inherited one.
std::vector<std::u16string> buildHostEnvironment (const std::vector<std::u16string>& inherited,
                                                  const std::u16string& productEntry);

// The platform's form of an environment, for CreateProcess: each entry ends
// in a null and the block in one more; an empty block still needs its two.
// https://learn.microsoft.com/en-us/windows/win32/procthread/changing-environment-variables
inline std::u16string environmentBlockOf (const std::vector<std::u16string>& entries)
{
    std::u16string block;

    for (const auto& entry : entries)
        block += entry + u'\0';

    return block + u'\0' + u'\0';
}

} // namespace launcher
