#include "launch_plan.h"

#include <gtest/gtest.h>

#include <map>

namespace
{

using namespace launcher;

const juce::String separator = juce::File::getSeparatorString();
const juce::String sharedFolder = "C:" + separator + "ProgramData";
const juce::String hostFolder = sharedFolder + separator + "Orvanel";
const juce::String hostPath = hostFolder + separator + "Sonvik.exe";
const juce::String launchingUser = "S-1-5-21-1004336348-1177238915-682003330-1001";

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

// Every path owned by the launching user, unless a case says otherwise.
struct Owners
{
    std::map<juce::String, std::optional<juce::String>> ownerOfPath;
    std::map<juce::String, juce::String> names;
    int namesAsked = 0;

    LaunchInputs completing (LaunchInputs inputs)
    {
        inputs.launchingUser = launchingUser;
        inputs.ownerOf = [this] (const juce::String& path)
        {
            const auto found = ownerOfPath.find (path);
            return found != ownerOfPath.end() ? found->second : std::optional<juce::String> (launchingUser);
        };
        inputs.accountNameOf = [this] (const juce::String& sid)
        {
            ++namesAsked;
            return names[sid];
        };
        return inputs;
    }
};

LaunchPlan planWith (RecordingExistence& existence, Utf16List arguments = { u"Tessalune.exe" },
                     Utf16List environment = {}, juce::String folder = sharedFolder, Owners* owners = nullptr)
{
    Owners allOwnedByTheLaunchingUser;
    auto& ownersOfPaths = owners != nullptr ? *owners : allOwnedByTheLaunchingUser;
    return planLaunch (ownersOfPaths.completing ({ std::move (arguments), folder, std::ref (existence), std::move (environment), {}, {}, {} }));
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

// Who may own the host and its folder: the launching user and those who
// administer the machine, and nobody else.
struct OwnerCase
{
    const char* owner;
    bool trusted;
};

const OwnerCase ownerCases[] {
    { "S-1-5-21-1004336348-1177238915-682003330-1001", true },      // the launching user
    { "S-1-5-18", true },                                           // SYSTEM
    { "S-1-5-32-544", true },                                       // Administrators
    { "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", true },  // TrustedInstaller
    { "S-1-5-21-1004336348-1177238915-682003330-1002", false },     // another user of the machine
    { "S-1-5-32-545", false },                                      // Users
    { "S-1-1-0", false },                                           // Everyone
    { "s-1-5-18x", false },
    { "", false },                                                  // unreadable
};

TEST (HostTrust, EachOwnerOfTheHostAndOfItsFolderIsTrustedOnlyIfItIsTheLaunchingUserOrAnAdministrator)
{
    for (const auto& ownerCase : ownerCases)
    {
        for (const auto& ownedPath : { hostPath, hostFolder })
        {
            RecordingExistence existence { true, {} };
            Owners owners;
            owners.ownerOfPath[ownedPath] = juce::String (ownerCase.owner);
            const auto plan = planWith (existence, { u"Tessalune.exe" }, {}, sharedFolder, &owners);

            EXPECT_EQ (std::holds_alternative<HandOver> (plan), ownerCase.trusted) << ownerCase.owner << " owns " << ownedPath;
        }
    }
}

TEST (HostTrust, RefusalNamesThePathItsOwnerAndWhatToDo)
{
    const juce::String intruder = "S-1-5-21-1004336348-1177238915-682003330-1002";
    RecordingExistence existence { true, {} };
    Owners owners;
    owners.ownerOfPath[hostFolder] = intruder;
    owners.names[intruder] = "PC\\mallory";

    const auto named = std::get<ErrorReport> (planWith (existence, { u"Tessalune.exe" }, {}, sharedFolder, &owners));
    EXPECT_EQ (named.title, "Invalid SONVIK installation!");
    EXPECT_EQ (named.body, "Will not start " + hostPath + ": " + hostFolder + " is owned by PC\\mallory, not by you or an"
                           " administrator, so another user could have put it there. Please reinstall the host as an administrator.");

    owners.names.clear();
    const auto unnamed = std::get<ErrorReport> (planWith (existence, { u"Tessalune.exe" }, {}, sharedFolder, &owners));
    EXPECT_TRUE (unnamed.body.contains (hostFolder + " is owned by " + intruder + ",")) << unnamed.body;
}

TEST (HostTrust, AVolumeThatKeepsNoOwnersHandsOverWithoutNamingAnyone)
{
    RecordingExistence existence { true, {} };
    Owners owners;
    owners.ownerOfPath[hostPath] = std::nullopt;
    owners.ownerOfPath[hostFolder] = std::nullopt;

    EXPECT_TRUE (std::holds_alternative<HandOver> (planWith (existence, { u"Tessalune.exe" }, {}, sharedFolder, &owners)));
    EXPECT_EQ (owners.namesAsked, 0);
}

TEST (HostTrust, TheDriveRelativeHostPathIsCheckedToo)
{
    const auto relativeFolder = separator + "Orvanel";
    RecordingExistence existence { true, {} };
    Owners owners;
    owners.ownerOfPath[relativeFolder] = juce::String ("S-1-5-32-545");

    const auto plan = planWith (existence, { u"Tessalune.exe" }, {}, {}, &owners);
    ASSERT_TRUE (std::holds_alternative<ErrorReport> (plan));
    EXPECT_TRUE (std::get<ErrorReport> (plan).body.startsWith ("Will not start " + relativeFolder + separator + "Sonvik.exe: "));
}

} // namespace
