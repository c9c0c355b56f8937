#include "launch_plan.h"

#include <gtest/gtest.h>

namespace
{

using namespace launcher;

const juce::String separator = juce::File::getSeparatorString();
const juce::String sharedFolder = "C:" + separator + "ProgramData";
const juce::String hostPath = sharedFolder + separator + "Orvanel" + separator + "Sonvik.exe";

struct RecordingExistence
{
    bool answer;
    std::vector<juce::String> askedPaths;

    bool operator() (const juce::String& path)
    {
        askedPaths.push_back (path);
        return answer;
    }
};

LaunchPlan planWith (RecordingExistence& existence, Utf16List arguments = { u"Tessalune.exe" },
                     Utf16List environment = {}, juce::String folder = sharedFolder)
{
    return planLaunch ({ std::move (arguments), folder, std::ref (existence), std::move (environment) });
}

TEST (HostPath, IsTheSharedFolderThenOrvanelThenSonvik)
{
    EXPECT_EQ (composeHostPath (sharedFolder), hostPath);
#if defined(_WIN32)
    EXPECT_EQ (composeHostPath ("C:\\ProgramData"), "C:\\ProgramData\\Orvanel\\Sonvik.exe");
#endif
}

TEST (HostPath, StartsWithTheSeparatorWhenTheFolderLookupFailed)
{
    EXPECT_EQ (composeHostPath ({}), separator + "Orvanel" + separator + "Sonvik.exe");
}

TEST (HostPath, KeepsTheFolderAsTheSystemGaveIt)
{
    const auto folder = juce::String (juce::CharPointer_UTF8 ("D:\\Donn\xc3\xa9" "es \xe6\x97\xa5\xe6\x9c\xac"));
    EXPECT_TRUE (composeHostPath (folder).startsWith (folder + separator + "Orvanel"));
}

TEST (LaunchPlan, MissingHostGivesTheInstallationErrorAndNoHandOver)
{
    RecordingExistence existence { false, {} };
    const auto plan = planWith (existence);

    ASSERT_TRUE (std::holds_alternative<ErrorReport> (plan));
    const auto& report = std::get<ErrorReport> (plan);
    EXPECT_EQ (report.title, "Invalid SONVIK installation!");
    EXPECT_EQ (report.body, "Cannot find: " + hostPath + ", please check your installation.");
    EXPECT_EQ (existence.askedPaths, std::vector<juce::String> { hostPath });
}

TEST (LaunchPlan, MissingHostReportShowsThePathAsComposed)
{
    RecordingExistence existence { false, {} };
    const auto plan = planWith (existence, { u"Tessalune.exe" }, {}, {});

    EXPECT_EQ (std::get<ErrorReport> (plan).body,
               "Cannot find: " + separator + "Orvanel" + separator + "Sonvik.exe, please check your installation.");
}

TEST (LaunchPlan, ExistingHostIsHandedOverWithForwardedArgumentsAndProductEnvironment)
{
    RecordingExistence existence { true, {} };
    const auto plan = planWith (existence, { u"C:\\Apps\\Tessalune.exe", u"doc one.txt", u"-v" }, { u"A=1" });

    ASSERT_TRUE (std::holds_alternative<HandOver> (plan));
    const auto& handOver = std::get<HandOver> (plan);
    EXPECT_EQ (handOver.hostPath, hostPath);
    EXPECT_EQ (handOver.hostArguments, (Utf16List { u"Sonvik.exe", u"\"doc one.txt\"", u"-v" }));
    EXPECT_EQ (handOver.hostEnvironment, (Utf16List { u"A=1", u"PRODUCTNAME=tessalune" }));
}

TEST (LaunchPlan, HostAlwaysGetsItsOwnNameAsFirstArgument)
{
    RecordingExistence existence { true, {} };

    EXPECT_EQ (std::get<HandOver> (planWith (existence, { u"Tessalune.exe" })).hostArguments, Utf16List { u"Sonvik.exe" });
    EXPECT_EQ (std::get<HandOver> (planWith (existence, {})).hostArguments, Utf16List { u"Sonvik.exe" });
}

TEST (StartFailureReport, NamesThePathAndTheReason)
{
    const auto report = startFailureReport (hostPath, "Permission denied");

    EXPECT_EQ (report.title, "Invalid SONVIK installation!");
    EXPECT_EQ (report.body, "Cannot start: " + hostPath + " (Permission denied), please check your installation.");
}

} // namespace
