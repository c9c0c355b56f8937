#pragma once

#include <string>
#include <vector>

namespace launcher
{

// The host's environment: the launcher's own, in its order, with the product's
// entry (PRODUCTNAME=value) last in place of any inherited one.
std::vector<std::u16string> buildHostEnvironment (const std::vector<std::u16string>& inherited,
                                                  const std::u16string& productEntry);

} // namespace launcher
