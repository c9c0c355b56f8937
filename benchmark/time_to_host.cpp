// Measures the time to host: from a parent's CreateProcessW on a launcher to
// the moment the host's main runs, for the host started directly (what needs
// no launcher), BareStub.exe (the least any launcher must do: start the host
// and wait) and the product table's first launcher, with the launcher's
// overhead over each. Also their peak working sets, the time until the
// launcher's error box of a missing host exists, and their sizes. While a
// host runs a few seconds: each launcher's working set as it waits, and how
// long after the host's end the launcher ends (exit to exit).
// It prints figures and judges none; it fails only when it could not measure.
// Usage: TimeToHost.exe LAUNCHER.exe [--warm-up N] [--rounds N] [--error-rounds N] [--stand-in-rounds N]
// The launcher, the bare stub and the sample host are beside it.

#include "error_box.h"
#include "installed_host.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace
{

using namespace installed_host;
namespace field = received_report::field;

constexpr double bytesPerMiB = 1024.0 * 1024.0;

struct Options
{
    std::string launcher;
    int warmUpRounds = 3;
    int rounds = 30;
    int errorRounds = 5;
    int standInRounds = 3;
};

// Long enough for a launcher to have trimmed itself before its working set is read.
constexpr DWORD standInHostMs = 2000;
constexpr DWORD standInSampleAfterMs = 1000;

struct Target
{
    const char* name;
    std::wstring path;
    std::vector<double> milliseconds {};
    std::vector<double> peakMiB {};       // the peak working set, in the hand-over rounds
    std::vector<double> workingSetMiB {}; // the working set while the host runs, in the stand-in rounds
    bool failed = false;
};

bool anythingUnmeasured = false;

void reportFailure (Target& target, const char* what)
{
    std::fprintf (stderr, "%s: %s\n", target.name, what);
    target.failed = true;
    anythingUnmeasured = true;
}

LONGLONG counterNow()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter (&now);
    return now.QuadPart;
}

double millisecondsBetween (LONGLONG from, LONGLONG to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency (&frequency);
    return static_cast<double> (to - from) * 1000.0 / static_cast<double> (frequency.QuadPart);
}

class TimedProcess : public ChildProcess
{
public:
    explicit TimedProcess (const std::wstring& program, const std::wstring& arguments = {})
        : ChildProcess (program, L"\"" + program + L"\"" + arguments)
    {
    }

    // A launcher that hands over ends with status 0, and so does the host.
    bool hasFailed() const { return hasExited() && exitStatus() != 0; }

    // Wine answers only while the process lives (after exit every counter is
    // 0), so the peak is sampled while it runs; asked after exit too, where
    // the platform keeps the figure for the whole life of the process.
    void samplePeakWorkingSet() const
    {
        PROCESS_MEMORY_COUNTERS counters {};

        if (GetProcessMemoryInfo (handle(), &counters, sizeof (counters)))
            highestPeakSeen = std::max (highestPeakSeen, counters.PeakWorkingSetSize);
    }

    std::optional<double> peakWorkingSetMiB() const
    {
        samplePeakWorkingSet();

        if (highestPeakSeen == 0)
            return std::nullopt;

        return static_cast<double> (highestPeakSeen) / bytesPerMiB;
    }

private:
    mutable SIZE_T highestPeakSeen = 0;
};

// Eighteen digits at most, so that the count cannot overflow.
template <typename Text>
std::optional<long long> parseCount (const Text& digits)
{
    if (digits.empty() || digits.size() > 18
        || ! std::all_of (digits.begin(), digits.end(), [] (auto unit) { return unit >= '0' && unit <= '9'; }))
        return std::nullopt;

    long long count = 0;

    for (auto unit : digits)
        count = count * 10 + (unit - '0');

    return count;
}

std::optional<LONGLONG> hostStartedAt()
{
    const auto startedAt = valuesOf (readReport().value_or (Report {}), field::startedAt);
    return startedAt.empty() ? std::nullopt : parseCount (startedAt.front());
}

bool hasRunOutOfPatience (ULONGLONG since)
{
    return GetTickCount64() - since >= patienceMs;
}

// Polled every millisecond or so; the host's own counter reading is what is
// measured, so the polling adds nothing to the figure. A process that failed
// will start no host, so it is not waited for.
std::optional<LONGLONG> waitForHostStart (const TimedProcess& process)
{
    for (const auto since = GetTickCount64(); ! hasRunOutOfPatience (since); Sleep (1))
    {
        // Asked first, so that a report written just before the end still counts.
        const auto failed = process.hasFailed();
        process.samplePeakWorkingSet();

        if (const auto startedAt = hostStartedAt())
            return startedAt;

        if (failed)
            break;
    }

    return std::nullopt;
}

// A launcher's host is not our child, so it is found by name.
bool waitForHostsToEnd()
{
    const auto snapshot = CreateToolhelp32Snapshot (TH32CS_SNAPPROCESS, 0);

    if (snapshot == INVALID_HANDLE_VALUE)
        return false;

    PROCESSENTRY32W entry {};
    entry.dwSize = sizeof (entry);
    bool allEnded = true;

    for (auto found = Process32FirstW (snapshot, &entry); found; found = Process32NextW (snapshot, &entry))
    {
        const auto host = _wcsicmp (entry.szExeFile, hostFileName.c_str()) == 0
            ? OpenProcess (SYNCHRONIZE, FALSE, entry.th32ProcessID)
            : nullptr;
        if (host != nullptr)
        {
            allEnded = WaitForSingleObject (host, patienceMs) == WAIT_OBJECT_0 && allEnded;
            CloseHandle (host);
        }
    }

    CloseHandle (snapshot);
    return allEnded;
}

void timeHandOver (Target& target, bool counted)
{
    DeleteFileW (reportPath().c_str());
    const auto startedAt = counterNow();
    TimedProcess process (target.path);

    if (! process.hasStarted())
        return reportFailure (target, "could not be started");

    const auto hostMainAt = waitForHostStart (process);

    if (! hostMainAt)
        return reportFailure (target,
                              process.hasFailed() ? "failed, and the host never reported" : "the host never reported");

    if (! process.hasExited (patienceMs) || ! waitForHostsToEnd())
        return reportFailure (target, "did not end after the host had started");

    if (! counted)
        return;

    target.milliseconds.push_back (millisecondsBetween (startedAt, *hostMainAt));

    if (const auto peak = process.peakWorkingSetMiB())
        target.peakMiB.push_back (*peak);
}

std::optional<double> workingSetMiB (HANDLE process)
{
    PROCESS_MEMORY_COUNTERS counters {};

    if (! GetProcessMemoryInfo (process, &counters, sizeof (counters)))
        return std::nullopt;

    return static_cast<double> (counters.WorkingSetSize) / bytesPerMiB;
}

// Each Target's figures here: milliseconds from the host's end to the
// launcher's, and the launcher's working set while the host runs.
void timeStandIn (Target& target, bool counted)
{
    DeleteFileW (reportPath().c_str());
    TimedProcess process (target.path, L" --wait-ms=" + std::to_wstring (standInHostMs));

    if (! process.hasStarted() || ! waitForHostStart (process))
        return reportFailure (target, "started no host");

    const auto hostIds = valuesOf (readReport().value_or (Report {}), field::processId);
    const auto hostId = hostIds.empty() ? std::nullopt : parseCount (hostIds.front());
    const auto host = hostId ? OpenProcess (SYNCHRONIZE, FALSE, static_cast<DWORD> (*hostId)) : nullptr;

    if (host == nullptr)
        return reportFailure (target, "its host could not be opened");

    Sleep (standInSampleAfterMs);
    const auto workingSet = workingSetMiB (process.handle());
    const auto hostEnded = WaitForSingleObject (host, patienceMs) == WAIT_OBJECT_0;
    const auto hostEndedAt = counterNow();
    CloseHandle (host);

    if (! hostEnded || ! process.hasExited (patienceMs))
        return reportFailure (target, "did not end with its host");

    if (counted && workingSet)
    {
        target.milliseconds.push_back (millisecondsBetween (hostEndedAt, counterNow()));
        target.workingSetMiB.push_back (*workingSet);
    }
}

// Here the box is found by polling, so the figure is late by up to a poll.
std::optional<LONGLONG> waitForErrorBox (const TimedProcess& process)
{
    for (const auto since = GetTickCount64(); ! hasRunOutOfPatience (since) && ! process.hasExited(); Sleep (1))
        if (errorBoxOf (process.id()) != nullptr)
            return counterNow();

    return std::nullopt;
}

void timeErrorBox (Target& target, bool counted)
{
    const auto startedAt = counterNow();
    TimedProcess process (target.path);

    if (! process.hasStarted())
        return reportFailure (target, "could not be started");

    const auto shownAt = waitForErrorBox (process);

    if (! shownAt)
        return reportFailure (target, "showed no error box");

    dismissErrorBoxes (process);

    if (! process.hasExited())
        return reportFailure (target, "did not end after its error box was dismissed");

    if (counted)
        target.milliseconds.push_back (millisecondsBetween (startedAt, *shownAt));
}

std::optional<double> quantile (std::vector<double> values, double fraction)
{
    if (values.empty())
        return std::nullopt;

    std::sort (values.begin(), values.end());
    const auto position = fraction * static_cast<double> (values.size() - 1);
    const auto below = static_cast<std::size_t> (position);
    const auto above = std::min (below + 1, values.size() - 1);
    return values[below] + (position - static_cast<double> (below)) * (values[above] - values[below]);
}

std::optional<double> median (const std::vector<double>& values)
{
    return quantile (values, 0.5);
}

std::string formatted (std::optional<double> value, const char* format = "%.2f")
{
    char text[32] = "n/a";

    if (value)
        std::snprintf (text, sizeof (text), format, *value);

    return text;
}

// A target that failed once is not timed again: each failure can cost the
// whole patience, and its figures would be incomplete anyway.
void runRounds (std::vector<Target*> targets, int warmUpRounds, int rounds, void (*timeOnce) (Target&, bool))
{
    for (int round = 0; round < warmUpRounds + rounds; ++round)
        for (auto* target : targets)
            if (! target->failed)
                timeOnce (*target, round >= warmUpRounds);
}

void printTimes (const Target& target)
{
    std::printf ("  %-22s %9s %9s %9s %6zu %12s\n", target.name, formatted (median (target.milliseconds)).c_str(),
                 formatted (quantile (target.milliseconds, 0.25)).c_str(),
                 formatted (quantile (target.milliseconds, 0.75)).c_str(), target.milliseconds.size(),
                 formatted (median (target.peakMiB)).c_str());
}

std::string ratioOfMedians (const std::vector<double>& numerator, const std::vector<double>& denominator)
{
    const auto above = median (numerator);
    const auto below = median (denominator);
    return formatted (above && below && *below > 0.0 ? std::optional<double> (*above / *below) : std::nullopt, "%.2fx");
}

std::string overheadOver (const Target& measured, const Target& baseline)
{
    const auto above = median (measured.milliseconds);
    const auto below = median (baseline.milliseconds);

    if (! above || ! below)
        return "n/a";

    return formatted (*above - *below, "%+.2f ms") + " ("
        + formatted (*below > 0.0 ? std::optional<double> (*above / *below) : std::nullopt, "%.2fx") + ")";
}

void printHandOver (const Target& direct, const Target& stub, const Target& measured, const Options& options)
{
    std::printf (
        "Time to host: ms from CreateProcessW until the host's main runs, %d rounds after %d warm-up, interleaved\n",
        options.rounds, options.warmUpRounds);
    std::printf ("  %-22s %9s %9s %9s %6s %12s\n", "", "median", "Q1", "Q3", "rounds", "peak WS MiB");

    for (const auto* target : { &direct, &stub, &measured })
        printTimes (*target);

    std::printf ("  %s's overhead, by the medians: over the host started directly %s, over the bare stub %s\n",
                 measured.name, overheadOver (measured, direct).c_str(), overheadOver (measured, stub).c_str());
    std::printf ("  median peak working set, launcher / bare stub: %s\n",
                 ratioOfMedians (measured.peakMiB, stub.peakMiB).c_str());
}

void printErrorBox (const Target& measured, const Options& options)
{
    std::printf ("\nTime to the error box: ms from CreateProcessW until a window titled \"%ls\" exists, host missing,"
                 " %d rounds after %d warm-up\n",
                 errorTitle.c_str(), options.errorRounds, options.warmUpRounds);
    std::printf ("  %-22s median %9s\n", measured.name, formatted (median (measured.milliseconds)).c_str());
}

void printStandIn (const Target& stub, const Target& measured, const Options& options)
{
    std::printf ("\nWhile the host runs (%lu ms), %d rounds: the launcher's working set %lu ms after the host's start,"
                 " and exit to exit, ms from the host's end to the launcher's\n",
                 standInHostMs, options.standInRounds, standInSampleAfterMs);
    std::printf ("  %-22s %12s %12s\n", "", "WS MiB", "exit to exit");

    for (const auto* target : { &stub, &measured })
        std::printf ("  %-22s %12s %12s\n", target->name, formatted (median (target->workingSetMiB)).c_str(),
                     formatted (median (target->milliseconds)).c_str());

    std::printf ("  (Wine keeps the working set a process had: it does not trim, so this shows what is held, not what "
                 "Windows would)\n");
}

void printSize (Target& target)
{
    WIN32_FILE_ATTRIBUTE_DATA attributes {};

    if (! GetFileAttributesExW (target.path.c_str(), GetFileExInfoStandard, &attributes))
        return reportFailure (target, "is missing");

    const auto bytes = (static_cast<unsigned long long> (attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
    std::printf ("  %-22s %10llu bytes %8.2f MB\n", target.name, bytes, static_cast<double> (bytes) / 1e6);
}

std::optional<Options> parseOptions (int argc, char** argv)
{
    Options options;

    // The product table allows only ASCII letters, digits, '.', '-' and '_' in a launcher's name.
    if (argc < 2 || std::string (argv[1]).find_first_of ("/\\:") != std::string::npos)
        return std::nullopt;

    options.launcher = argv[1];

    for (int i = 2; i < argc; i += 2)
    {
        const std::string name = argv[i];
        auto* count = name == "--warm-up" ? &options.warmUpRounds
            : name == "--rounds"          ? &options.rounds
            : name == "--error-rounds"    ? &options.errorRounds
            : name == "--stand-in-rounds" ? &options.standInRounds
                                          : nullptr;
        const auto value = i + 1 < argc ? parseCount (std::string (argv[i + 1])).value_or (-1) : -1;

        if (count == nullptr || value < 0 || value > 100000)
            return std::nullopt;

        *count = static_cast<int> (value);
    }

    return options.rounds > 0 && options.errorRounds > 0 ? std::optional<Options> (options) : std::nullopt;
}

} // namespace

int main (int argc, char** argv)
{
    const auto options = parseOptions (argc, argv);

    if (! options)
    {
        std::fprintf (stderr,
                      "usage: TimeToHost.exe LAUNCHER.exe [--warm-up N] [--rounds N] [--error-rounds N]"
                      " [--stand-in-rounds N]\n");
        return 2;
    }

    const auto bin = folderOfThisProgram();
    Target direct { .name = "host started directly", .path = hostPath() };
    Target stub { .name = "BareStub.exe", .path = bin + L"BareStub.exe" };
    const auto& launcher = options->launcher;
    Target measured { .name = launcher.c_str(), .path = bin + std::wstring (launcher.begin(), launcher.end()) };

    if (! installSampleHost())
    {
        std::fprintf (stderr, "the sample host could not be installed from this program's folder\n");
        return 1;
    }

    runRounds ({ &direct, &stub, &measured }, options->warmUpRounds, options->rounds, timeHandOver);
    printHandOver (direct, stub, measured, *options);

    Target stubStandIn { .name = stub.name, .path = stub.path };
    Target measuredStandIn { .name = measured.name, .path = measured.path };
    runRounds ({ &stubStandIn, &measuredStandIn }, 0, options->standInRounds, timeStandIn);
    printStandIn (stubStandIn, measuredStandIn, *options);

    removeHost();

    // Only the launcher has a box to show.
    Target measuredBox { .name = measured.name, .path = measured.path };
    runRounds ({ &measuredBox }, options->warmUpRounds, options->errorRounds, timeErrorBox);
    printErrorBox (measuredBox, *options);

    std::printf ("\nSize on disk:\n");
    printSize (stub);
    printSize (measured);

    return anythingUnmeasured ? 1 : 0;
}
