#pragma once

#include <string>
#include <vector>

namespace testsupport
{

// An implementation of the rules by which the C run-time and CommandLineToArgvW
// split a Windows command line, written from their documentation and kept
// apart from the launcher's quoting so that each checks the other. Returns the
// arguments after the program's name.
std::vector<std::u16string> parseArgumentsAfterProgramName (const std::u16string& commandLine);

} // namespace testsupport
