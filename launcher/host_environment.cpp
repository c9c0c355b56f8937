#include "host_environment.h"

#include "family.h"

#include <algorithm>

namespace launcher
{

namespace
{

const std::u16string productEntryName = u"" FAMILY_PRODUCT_VARIABLE;

char16_t toAsciiUpper (char16_t unit)
{
    return (unit >= u'a' && unit <= u'z') ? static_cast<char16_t> (unit - u'a' + u'A') : unit;
}

// Windows variable names ignore case. Folding ASCII is enough here: no other
// character folds onto a letter of PRODUCTNAME.
// https://learn.microsoft.com/cpp/c-runtime-library/reference/getenv-wgetenv
bool namesProduct (const std::u16string& entry)
{
    if (entry.size() <= productEntryName.size() || entry[productEntryName.size()] != u'=')
        return false;

    return std::equal (productEntryName.begin(), productEntryName.end(), entry.begin(),
                       [] (char16_t expected, char16_t unit) { return toAsciiUpper (unit) == expected; });
}

} // namespace

// Hosts read the first entry of a name, so an inherited PRODUCTNAME (from a
// session of another product) would win over ours if it were kept.
// Seen under Wine 8: given two PRODUCTNAME entries, getenv and GetEnvironmentVariableW both read the first.
std::vector<std::u16string> buildHostEnvironment (const std::vector<std::u16string>& inherited,
                                                  const std::u16string& productEntry)
{
    std::vector<std::u16string> environment;
    environment.reserve (inherited.size() + 1);

    for (const auto& entry : inherited)
        if (! namesProduct (entry))
            environment.push_back (entry);

    environment.push_back (productEntry);
    return environment;
}

} // namespace launcher
