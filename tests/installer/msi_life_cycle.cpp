// A product's MSI through its whole life with Windows' own msiexec, for the
// Windows workflow and for a release engineer on a Windows machine, elevated:
// installed to the default folder and uninstalled twice; the older version
// installed to a folder of the administrator's choice with the desktop
// shortcut, upgraded without naming either again, repaired with /fa, installed
// again, replaced by a signed rebuild of the same version, refused a
// downgrade, uninstalled; then upgraded while its launcher runs, standing in
// for the host, with REBOOT=ReallySuppress. Each msiexec run keeps its verbose
// log; what each returned, what its log shows and each check go to a
// Markdown summary. Ends with 0 only when every run returned what it must and
// every check held. Under Wine it runs too; what only Windows does (the
// all-users shortcuts, MigrateFeatureStates) is then skipped, saying why.
//   msi_life_cycle RELEASE.msi OLDER.msi SIGNED.msi LOG_FOLDER SUMMARY.md
// The sample host it starts lies beside it (Sonvik.exe), as in the test kit.

#include "child_process.h"
#include "installed_host.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace
{

constexpr DWORD success = 0, unknownProduct = 1605, fatalError = 1603, restartRequired = 3010;
// An msiexec run, a repair or an upgrade of one launcher on a busy machine: far more than it needs.
constexpr DWORD msiexecPatienceMs = 10 * 60 * 1000;

std::string narrow (const std::wstring& text)
{
    std::string bytes (WideCharToMultiByte (CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte (CP_UTF8, 0, text.c_str(), -1, bytes.data(), static_cast<int> (bytes.size()), nullptr, nullptr);
    bytes.pop_back();
    return bytes;
}

bool exists (const std::wstring& path)
{
    return GetFileAttributesW (path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring folderOf (int csidl)
{
    wchar_t path[MAX_PATH] {};
    SHGetFolderPathW (nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

// What an MSI says of itself, from its Property and File tables.
struct Package
{
    std::wstring path, code, name, version, manufacturer, executable;
};

// The first column of each row a query gives.
std::vector<std::wstring> columnOf (MSIHANDLE database, const std::wstring& query)
{
    MSIHANDLE view = 0, record = 0;
    std::vector<std::wstring> values;

    if (MsiDatabaseOpenViewW (database, query.c_str(), &view) == ERROR_SUCCESS
        && MsiViewExecute (view, 0) == ERROR_SUCCESS)
        while (MsiViewFetch (view, &record) == ERROR_SUCCESS)
        {
            wchar_t text[512] {};
            DWORD size = 512;
            MsiRecordGetStringW (record, 1, text, &size);
            MsiCloseHandle (record);
            values.push_back (text);
        }

    MsiCloseHandle (view);
    return values;
}

std::wstring propertyOf (MSIHANDLE database, const std::wstring& property)
{
    const auto values = columnOf (database, L"SELECT `Value` FROM `Property` WHERE `Property` = '" + property + L"'");
    return values.empty() ? std::wstring() : values.front();
}

// The program it installs; a long file name follows its short one: "TESSAL~1.EXE|Tessalune.exe".
std::wstring launcherOf (MSIHANDLE database)
{
    for (const auto& field : columnOf (database, L"SELECT `FileName` FROM `File`"))
        if (const auto name = field.substr (field.find (L'|') + 1);
            name.size() > 4 && _wcsicmp (name.c_str() + name.size() - 4, L".exe") == 0)
            return name;
    return {};
}

bool readPackage (const std::wstring& path, Package& package)
{
    MSIHANDLE database = 0;
    // MSIDBOPEN_READONLY, 0, which msiquery.h casts to the narrow type.
    if (MsiOpenDatabaseW (path.c_str(), nullptr, &database) != ERROR_SUCCESS)
        return false;

    package = { path,
                propertyOf (database, L"ProductCode"),
                propertyOf (database, L"ProductName"),
                propertyOf (database, L"ProductVersion"),
                propertyOf (database, L"Manufacturer"),
                launcherOf (database) };
    MsiCloseHandle (database);
    return ! package.code.empty() && ! package.name.empty() && ! package.executable.empty();
}

bool isInstalled (const Package& package)
{
    return MsiQueryProductStateW (package.code.c_str()) == INSTALLSTATE_DEFAULT;
}

// The four numbers of a program's version resource, "1.0.0.0"; empty without one.
std::wstring fileVersionOf (const std::wstring& path)
{
    DWORD ignored = 0;
    std::vector<BYTE> data (GetFileVersionInfoSizeW (path.c_str(), &ignored));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    if (data.empty() || ! GetFileVersionInfoW (path.c_str(), 0, static_cast<DWORD> (data.size()), data.data())
        || ! VerQueryValueW (data.data(), L"\\", reinterpret_cast<void**> (&fixed), &size))
        return {};

    return std::to_wstring (HIWORD (fixed->dwFileVersionMS)) + L"." + std::to_wstring (LOWORD (fixed->dwFileVersionMS))
        + L"." + std::to_wstring (HIWORD (fixed->dwFileVersionLS)) + L"."
        + std::to_wstring (LOWORD (fixed->dwFileVersionLS));
}

// Whether a 32-bit program carries an Authenticode signature: its PE header's
// certificate table (data directory 4) is not empty.
bool carriesASignature (const std::wstring& path)
{
    std::ifstream in (path.c_str(), std::ios::binary);
    std::vector<char> file ((std::istreambuf_iterator<char> (in)), std::istreambuf_iterator<char>());
    DWORD header = 0, certificates = 0;
    if (file.size() < 0x40)
        return false;
    std::copy_n (file.data() + 0x3C, 4, reinterpret_cast<char*> (&header));
    // The signature "PE\0\0", the file header (20 bytes), then the optional
    // header, whose data directories begin 96 bytes in; each is 8 bytes.
    const auto size = static_cast<size_t> (header) + 4 + 20 + 96 + 4 * 8 + 8;
    if (size > file.size())
        return false;
    std::copy_n (file.data() + size - 4, 4, reinterpret_cast<char*> (&certificates));
    return certificates != 0;
}

// The entries Windows will carry out at its next start.
std::set<std::wstring> pendingRenames()
{
    std::set<std::wstring> entries;
    DWORD size = 0;
    const auto key = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    if (RegGetValueW (HKEY_LOCAL_MACHINE, key, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, nullptr,
                      &size)
        != ERROR_SUCCESS)
        return entries;

    std::vector<wchar_t> text (size / sizeof (wchar_t) + 2, L'\0');
    RegGetValueW (HKEY_LOCAL_MACHINE, key, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, text.data(),
                  &size);
    // Pairs of a file and what it becomes, empty where it is deleted: an
    // empty string does not end the list.
    for (size_t at = 0; at < size / sizeof (wchar_t); at += wcslen (text.data() + at) + 1)
        entries.insert (text.data() + at);
    return entries;
}

// Whether every file left in a folder is one that Windows will rename or
// delete at its next start.
bool isLeftOnlyForTheRestart (const std::wstring& folder)
{
    const auto pending = pendingRenames();
    WIN32_FIND_DATAW entry {};
    const auto search = FindFirstFileW ((folder + L"\\*").c_str(), &entry);
    auto onlyPending = true;
    for (auto more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW (search, &entry) != FALSE)
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            onlyPending =
                onlyPending
                && std::any_of (
                    pending.begin(), pending.end(),
                    [&] (const std::wstring& named)
                    { return _wcsicmp (named.c_str(), (L"\\??\\" + folder + L"\\" + entry.cFileName).c_str()) == 0; });
    FindClose (search);
    return onlyPending;
}

// A verbose log's lines that say what happened, as msiexec writes them: in
// UTF-16 with its byte order mark, or in the system's code page.
std::vector<std::string> whatTheLogShows (const std::wstring& log)
{
    static const char* const telling[] { "-- installation",
                                         "-- removal",
                                         "-- configuration",
                                         "error status",
                                         "restart manager",
                                         "replacedinusefiles",
                                         "system restart",
                                         "newer version",
                                         "return value 3",
                                         "error 1",
                                         "mainenginethread is returning",
                                         "reboot" };
    std::ifstream in (log.c_str(), std::ios::binary);
    std::string bytes ((std::istreambuf_iterator<char> (in)), std::istreambuf_iterator<char>());
    std::string text;
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE')
        text = narrow (std::wstring (reinterpret_cast<const wchar_t*> (bytes.data() + 2), (bytes.size() - 2) / 2));
    else
        text = bytes;

    std::vector<std::string> shown;
    for (size_t start = 0, end = 0; start < text.size() && shown.size() < 12; start = end + 1)
    {
        end = std::min (text.find ('\n', start), text.size());
        auto line = text.substr (start, end - start);
        std::string lower (line);
        std::transform (lower.begin(), lower.end(), lower.begin(), [] (unsigned char c) { return std::tolower (c); });
        if (std::any_of (std::begin (telling), std::end (telling),
                         [&] (const char* word) { return lower.find (word) != std::string::npos; })
            && std::find (shown.begin(), shown.end(), line) == shown.end())
        {
            line.erase (line.find_last_not_of ("\r ") + 1);
            shown.push_back (line.substr (0, 300));
        }
    }
    return shown;
}

struct Check
{
    std::string what;
    bool held;
    std::string skipped = {}; // why it could not be seen here; then `held` is not judged
};

struct Step
{
    std::string name;
    std::wstring arguments;
    std::vector<DWORD> expected;
    DWORD code = ~0u;
    bool restartScheduled = false;
    std::vector<std::string> logShows = {};
    std::vector<Check> checks = {};

    std::string skipped = {}; // why what it returned and its checks cannot be judged here

    bool asExpected() const
    {
        return ! skipped.empty()
            || (std::find (expected.begin(), expected.end(), code) != expected.end()
                && std::all_of (checks.begin(), checks.end(),
                                [] (const Check& c) { return c.held || ! c.skipped.empty(); }));
    }
};

class LifeCycle
{
public:
    LifeCycle (const Package& release, const std::wstring& logs) : release (release), logs (logs) { }

    // An msiexec run, judged on what it returns and the checks added to it,
    // or, under Wine, where Wine's msiexec cannot do it, only shown.
    Step& run (const std::string& name, const std::wstring& arguments, std::vector<DWORD> expected,
               const std::string& whyNotUnderWine = {})
    {
        steps.push_back ({ name, arguments, std::move (expected) });
        auto& step = steps.back();
        if (runsUnderWine())
            step.skipped = whyNotUnderWine;
        const auto log = logs + L"\\" + release.name + L"-" + std::to_wstring (steps.size()) + L".log";
        const auto before = pendingRenames();
        wchar_t system[MAX_PATH] {};
        GetSystemDirectoryW (system, MAX_PATH);
        ChildProcess msiexec (std::wstring (system) + L"\\msiexec.exe",
                              L"msiexec " + arguments + L" /qn /l*v \"" + log + L"\"");
        if (msiexec.hasStarted() && msiexec.hasExited (msiexecPatienceMs))
            step.code = msiexec.exitStatus();
        step.restartScheduled = pendingRenames() != before;
        step.logShows = whatTheLogShows (log);
        return step;
    }

    static void check (Step& step, const std::string& what, bool held) { step.checks.push_back ({ what, held }); }

    // A check of what only Windows does, skipped under Wine, saying why.
    static void checkOnWindows (Step& step, const std::string& what, bool held, const std::string& whyNotUnderWine)
    {
        step.checks.push_back ({ what, held, runsUnderWine() ? whyNotUnderWine : std::string() });
    }

    bool allAsExpected() const
    {
        return std::all_of (steps.begin(), steps.end(), [] (const Step& step) { return step.asExpected(); });
    }

    void writeSummary (std::FILE* out) const
    {
        std::fprintf (out,
                      "### %s %s: the MSI's life cycle%s\n\n| | step | msiexec | exit code | expected | "
                      "restart scheduled | the log shows |\n|---|---|---|---|---|---|---|\n",
                      narrow (release.name).c_str(), narrow (release.version).c_str(),
                      runsUnderWine() ? " under Wine" : "");
        for (const auto& step : steps)
        {
            std::string expected, shown;
            for (const auto code : step.expected)
                expected += (expected.empty() ? "" : " or ") + std::to_string (code);
            for (auto line : step.logShows)
            {
                std::replace (line.begin(), line.end(), '|', '/');
                shown += (shown.empty() ? "" : "<br>") + line;
            }
            std::fprintf (out, "| %s | %s | `%s` | %ld | %s | %s | %s |\n",
                          ! step.skipped.empty()  ? "⏭️"
                              : step.asExpected() ? "✅"
                                                  : "❌",
                          (step.name + (step.skipped.empty() ? "" : " (skipped: " + step.skipped + ")")).c_str(),
                          narrow (step.arguments).c_str(), static_cast<long> (step.code), expected.c_str(),
                          step.restartScheduled ? "yes" : "no", shown.c_str());
        }
        std::fprintf (out, "\n");
        for (const auto& step : steps)
            for (const auto& check : step.checks)
            {
                const auto& skipped = step.skipped.empty() ? check.skipped : step.skipped;
                std::fprintf (out, "- %s %s: %s%s\n",
                              ! skipped.empty() ? "⏭️"
                                  : check.held  ? "✅"
                                                : "❌",
                              step.name.c_str(), check.what.c_str(),
                              skipped.empty() ? "" : (" (skipped: " + skipped + ")").c_str());
            }
        std::fprintf (out, "\n");
    }

private:
    Package release;
    std::wstring logs;
    std::vector<Step> steps;
};

} // namespace

int wmain (int argc, wchar_t** argv)
{
    Package release, older, rebuilt;
    if (argc != 6 || ! readPackage (argv[1], release) || ! readPackage (argv[2], older)
        || ! readPackage (argv[3], rebuilt))
    {
        std::fputs ("usage: msi_life_cycle RELEASE.msi OLDER.msi SIGNED.msi LOG_FOLDER SUMMARY.md"
                    " (each MSI of one product, readable)\n",
                    stderr);
        return 2;
    }
    if (exists (installed_host::hostFolder()))
    {
        std::fprintf (stderr, "msi_life_cycle: %s is there already; it installs and removes a host of its own\n",
                      narrow (installed_host::hostFolder()).c_str());
        return 2;
    }

    const std::wstring logs = argv[4];
    CreateDirectoryW (logs.c_str(), nullptr);
    LifeCycle lifeCycle (release, logs);
    // Where Windows puts a 32-bit package: Program Files (x86) on 64-bit Windows.
    const auto programFiles = folderOf (CSIDL_PROGRAM_FILESX86);
    const auto manufacturerFolder =
        (programFiles.empty() ? folderOf (CSIDL_PROGRAM_FILES) : programFiles) + L"\\" + release.manufacturer;
    const auto defaultFolder = manufacturerFolder + L"\\" + release.name;
    wchar_t systemDrive[MAX_PATH] {};
    GetEnvironmentVariableW (L"SystemDrive", systemDrive, MAX_PATH);
    const auto chosenParent = std::wstring (systemDrive) + L"\\Apps";
    const auto chosenFolder = chosenParent + L"\\" + release.name;
    const auto shortcut = L"\\" + release.name + L".lnk";
    const std::string perUserUnderWine = "Wine puts a per-machine install's shortcuts in the user's folders";
    const std::string noMigrationUnderWine = "Wine's msiexec does not carry out MigrateFeatureStates";
    const auto shortcutsAre = [&] (Step& step, bool onDesktop, bool keptOnDesktop)
    {
        LifeCycle::checkOnWindows (step, "the Start-menu shortcut is the all-users one, and the user has none",
                                   exists (folderOf (CSIDL_COMMON_PROGRAMS) + shortcut)
                                       && ! exists (folderOf (CSIDL_PROGRAMS) + shortcut),
                                   perUserUnderWine);
        LifeCycle::checkOnWindows (step, onDesktop ? "a desktop shortcut, all users'" : "no desktop shortcut",
                                   exists (folderOf (CSIDL_COMMON_DESKTOPDIRECTORY) + shortcut) == onDesktop
                                       && ! exists (folderOf (CSIDL_DESKTOPDIRECTORY) + shortcut),
                                   keptOnDesktop && onDesktop ? noMigrationUnderWine : perUserUnderWine);
    };
    const auto nothingLeft = [&] (Step& step, const std::wstring& folder)
    {
        LifeCycle::check (step, "not installed",
                          ! isInstalled (release) && ! isInstalled (older) && ! isInstalled (rebuilt));
        LifeCycle::check (step, "no folder " + narrow (folder), ! exists (folder));
        LifeCycle::check (step, "no folder " + narrow (manufacturerFolder), ! exists (manufacturerFolder));
        LifeCycle::check (step, "no shortcut, all users' or the user's",
                          ! exists (folderOf (CSIDL_COMMON_PROGRAMS) + shortcut)
                              && ! exists (folderOf (CSIDL_PROGRAMS) + shortcut)
                              && ! exists (folderOf (CSIDL_COMMON_DESKTOPDIRECTORY) + shortcut)
                              && ! exists (folderOf (CSIDL_DESKTOPDIRECTORY) + shortcut));
    };
    const auto launcherIn = [&] (const std::wstring& folder)
    {
        return folder + L"\\" + release.executable;
    };
    const auto version = [&] (const Package& package)
    {
        return package.version + L".0";
    };

    // What an earlier, interrupted run left.
    for (const auto* package : { &release, &older, &rebuilt })
        if (isInstalled (*package))
            lifeCycle.run ("what an earlier run left, uninstalled", L"/x " + package->code + L" /norestart",
                           { success, restartRequired });

    auto* step = &lifeCycle.run ("install", L"/i \"" + release.path + L"\" /norestart", { success });
    LifeCycle::check (*step, "installed, the launcher of its version in " + narrow (defaultFolder),
                      isInstalled (release) && fileVersionOf (launcherIn (defaultFolder)) == version (release));
    shortcutsAre (*step, false, false);

    step = &lifeCycle.run ("uninstall", L"/x " + release.code + L" /norestart", { success });
    nothingLeft (*step, defaultFolder);
    lifeCycle.run ("uninstall again", L"/x " + release.code + L" /norestart", { unknownProduct });

    step = &lifeCycle.run (
        "the older version to a folder of one's choice, with the desktop shortcut",
        L"/i \"" + older.path + L"\" INSTALLFOLDER=\"" + chosenFolder + L"\" ADDLOCAL=ALL /norestart", { success });
    LifeCycle::check (*step, "the older launcher in " + narrow (chosenFolder),
                      isInstalled (older) && fileVersionOf (launcherIn (chosenFolder)) == version (older));
    LifeCycle::check (*step, "no folder " + narrow (manufacturerFolder), ! exists (manufacturerFolder));
    shortcutsAre (*step, true, false);

    step = &lifeCycle.run ("upgrade, the package alone", L"/i \"" + release.path + L"\" /norestart", { success });
    LifeCycle::check (*step, "this version alone installed, its launcher in " + narrow (chosenFolder),
                      isInstalled (release) && ! isInstalled (older)
                          && fileVersionOf (launcherIn (chosenFolder)) == version (release));
    LifeCycle::check (*step, "no folder " + narrow (manufacturerFolder), ! exists (manufacturerFolder));
    shortcutsAre (*step, true, true);

    const auto aside = launcherIn (chosenFolder) + L".before-repair";
    MoveFileW (launcherIn (chosenFolder).c_str(), aside.c_str());
    step = &lifeCycle.run ("repair /fa, its launcher deleted", L"/fa " + release.code + L" /norestart", { success },
                           "Wine's msiexec repairs nothing by product code");
    LifeCycle::check (*step, "the launcher is back", fileVersionOf (launcherIn (chosenFolder)) == version (release));
    // What a repair did not bring back, for the steps after it.
    MoveFileW (aside.c_str(), launcherIn (chosenFolder).c_str());
    DeleteFileW (aside.c_str());

    step = &lifeCycle.run ("the same package again", L"/i \"" + release.path + L"\" /norestart", { success });
    LifeCycle::check (*step, "still installed, its launcher in place",
                      isInstalled (release) && fileVersionOf (launcherIn (chosenFolder)) == version (release));

    step = &lifeCycle.run ("a signed rebuild of the same version", L"/i \"" + rebuilt.path + L"\" /norestart",
                           { success });
    LifeCycle::check (*step, "the rebuild alone installed, in the same folder, its signed launcher in place",
                      isInstalled (rebuilt) && ! isInstalled (release)
                          && carriesASignature (launcherIn (chosenFolder)));
    shortcutsAre (*step, true, true);

    step = &lifeCycle.run ("downgrade", L"/i \"" + older.path + L"\" /norestart", { fatalError });
    LifeCycle::check (*step, "refused, the rebuild still installed", isInstalled (rebuilt) && ! isInstalled (older));

    step = &lifeCycle.run ("uninstall", L"/x " + rebuilt.code + L" /norestart", { success });
    nothingLeft (*step, chosenFolder);
    RemoveDirectoryW (chosenParent.c_str());

    // The launcher standing in for a host that waits, as it does while a user works.
    step = &lifeCycle.run ("the older version, to start its launcher", L"/i \"" + older.path + L"\" /norestart",
                           { success });
    LifeCycle::check (*step, "the sample host installed as the launcher needs it", installed_host::installSampleHost());
    ChildProcess launcher (launcherIn (defaultFolder), L"\"" + launcherIn (defaultFolder) + L"\" --wait-ms=600000");
    bool handedOver = false;
    for (DWORD waited = 0; ! handedOver && waited < patienceMs; waited += pollMs, Sleep (pollMs))
        handedOver = exists (installed_host::reportPath());
    LifeCycle::check (*step, "its launcher started the host, and runs", handedOver && ! launcher.hasExited());

    step = &lifeCycle.run ("upgrade while the launcher runs", L"/i \"" + release.path + L"\" REBOOT=ReallySuppress",
                           { success, restartRequired });
    LifeCycle::check (*step, "a restart is scheduled exactly when 3010 says one is needed",
                      step->restartScheduled == (step->code == restartRequired));
    LifeCycle::check (*step, "the launcher and its host run on", ! launcher.hasExited());
    const auto restartPending = step->code == restartRequired;
    TerminateProcess (launcher.handle(), 1);
    launcher.hasExited (patienceMs);

    step = &lifeCycle.run ("uninstall, the launcher ended", L"/x " + release.code + L" /norestart",
                           { success, restartRequired });
    if (restartPending)
    {
        LifeCycle::check (*step, "not installed", ! isInstalled (release) && ! isInstalled (older));
        LifeCycle::check (*step,
                          "nothing left in " + narrow (defaultFolder) + " but what the restart asked for removes",
                          isLeftOnlyForTheRestart (defaultFolder));
    }
    else
        nothingLeft (*step, defaultFolder);
    installed_host::removeHost();

    std::FILE* summary = _wfopen (argv[5], L"ab");
    if (summary != nullptr)
    {
        lifeCycle.writeSummary (summary);
        std::fclose (summary);
    }
    lifeCycle.writeSummary (stdout);
    return lifeCycle.allAsExpected() ? 0 : 1;
}
