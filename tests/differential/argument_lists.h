#pragma once

// Pseudo-random argument lists for checking the launcher's quoting against the
// platform's own parsers, each made again from nothing but its seed.

#include "utf16.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace differential
{

// Every case draws from a generator of its own, so that one case a check
// reports can be made again alone.
std::uint32_t seedOfCase (std::size_t caseIndex);

// Up to eight arguments, weighted towards what command-line parsers treat
// specially: blanks, quotes, runs of backslashes (before quotes and at the
// end), empty arguments, characters beyond ASCII and beyond the BMP, and lone
// surrogates, which Windows allows in a command line.
Utf16List argumentListFromSeed (std::uint32_t seed);

// Printable ASCII as it is, quotes and backslashes escaped, every other code
// unit as \uXXXX, so that blanks and lone surrogates can be read in a log.
std::string escaped (const Utf16& text);
std::string escaped (const Utf16List& list);

} // namespace differential
