// The tests' own second product, end to end: one hand-over and one box show
// that its launcher carries its own values.

#include "launcher_driver.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

namespace
{

using namespace e2e;

// The tests' own second product (tests/products/table.cmake), whose launcher
// is built from the same sources: it carries its own values, not the first
// product's.
class SecondProduct : public Launcher
{
protected:
    std::wstring launcherName() const override { return L"Velmora.exe"; }
};

// A string of a program's version resource, in its first language.
std::wstring versionStringOf (const std::wstring& program, const wchar_t* name)
{
    std::vector<unsigned char> resource (GetFileVersionInfoSizeW (program.c_str(), nullptr));
    WORD* language = nullptr;
    wchar_t* value = nullptr;
    UINT length = 0;

    if (resource.empty()
        || ! GetFileVersionInfoW (program.c_str(), 0, static_cast<DWORD> (resource.size()), resource.data())
        || ! VerQueryValueW (resource.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**> (&language),
                             &length)
        || length < 2 * sizeof (WORD))
        return {};

    wchar_t path[64];
    swprintf (path, 64, L"\\StringFileInfo\\%04x%04x\\%ls", language[0], language[1], name);
    return VerQueryValueW (resource.data(), path, reinterpret_cast<void**> (&value), &length) ? std::wstring (value)
                                                                                              : L"";
}

TEST_F (SecondProduct, HandsOverWithItsOwnProductName)
{
    installSampleHost();
    const auto report = handOver ({ u"document.txt" });

    EXPECT_EQ (valuesOf (report, field::productName), Utf16List { u"velmora" });
    expectBothParsersSee (report, withHostNameFirst ({ u"document.txt" }));
}

TEST_F (SecondProduct, NamesItselfAndShowsTheFamilysBoxWhenTheHostIsMissing)
{
    EXPECT_EQ (versionStringOf (launcherPath(), L"ProductName"), L"Velmora");
    const auto outcome = errorBoxesOnLaunchWith (commandLineOf (launcherPath(), {}));

    expectOneBox (outcome, missingHostBody());
}

} // namespace
