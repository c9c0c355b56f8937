// Started by the differential test with the command line the launcher would
// hand the host, it writes back the argv the C run-time's own wide parser made
// of it, to the file that argv_record::pathVariable names. A GUI program with a
// wide main, as the host is, so that its arguments are split the same way.

#include "argv_record.h"

#include <cstdlib>
#include <fstream>

namespace
{

constexpr int recorded = 0;
constexpr int noRecordFileNamed = 2;
constexpr int recordNotWritten = 3;

} // namespace

int wmain (int argc, wchar_t** argv)
{
    const wchar_t* recordPath = _wgetenv (argv_record::pathVariable);

    if (recordPath == nullptr)
        return noRecordFileNamed;

    std::vector<std::u16string> arguments;
    for (int i = 0; i < argc; ++i)
        arguments.emplace_back (reinterpret_cast<const char16_t*> (argv[i]));

    std::ofstream out (recordPath, std::ios::binary | std::ios::trunc);
    out << argv_record::encode (arguments);
    return out.flush() ? recorded : recordNotWritten;
}
