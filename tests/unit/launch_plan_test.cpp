#include "launch_plan.h"

#include <gtest/gtest.h>

#include <map>

namespace
{

using namespace launcher;

const juce::String sharedFolder = "C:\\ProgramData";
const juce::String hostFolder = "C:\\ProgramData\\Orvanel";
const juce::String hostPath = "C:\\ProgramData\\Orvanel\\Sonvik.exe";
const Sid launchingUser { "S-1-5-21-1004336348-1177238915-682003330-1001" };

// Windows' values, written out here rather than taken from the launcher.
constexpr std::uint32_t fullControl = 0x001F01FF;
constexpr std::uint32_t readAndExecute = 0x001200A9;
constexpr std::uint32_t addFileAndFolder = 0x00100116; // and write attributes, as ProgramData gives Users
constexpr std::uint32_t genericWrite = 0x40000000;
const Sid system { "S-1-5-18" };
const Sid administrators { "S-1-5-32-544" };
const Sid users { "S-1-5-32-545" };
const Sid everyone { "S-1-1-0" };
const Sid creatorOwner { "S-1-3-0" };
const Sid anotherUser { "S-1-5-21-1004336348-1177238915-682003330-1002" };

AccessEntry allow (const Sid& account, std::uint32_t rights, bool inheritOnly = false)
{
    return { true, account, rights, inheritOnly };
}

AccessEntry deny (const Sid& account, std::uint32_t rights)
{
    return { false, account, rights, false };
}

// What the host's installer must set: administrators alone may change it.
const std::vector<AccessEntry> protectedAdministratorsOnly { allow (system, fullControl),
                                                             allow (administrators, fullControl),
                                                             allow (users, readAndExecute) };

FoundObject trustedObject()
{
    FoundObject object;
    object.owner = administrators;
    object.accessList = protectedAdministratorsOnly;
    return object;
}

struct Inputs
{
    LaunchInputs launch;
    std::map<juce::String, juce::String> names;
    int namesAsked = 0;

    explicit Inputs (Utf16List arguments = { u"Tessalune.exe" }, Utf16List environment = {})
    {
        launch.launcherArguments = std::move (arguments);
        launch.host = placeOfHost (sharedFolder);
        launch.found = { trustedObject(), trustedObject() };
        launch.environment = std::move (environment);
        launch.productEntry = u"PRODUCTNAME=tessalune";
        launch.launchingUser = launchingUser;
        launch.accountNameOf = [this] (const Sid& sid)
        {
            ++namesAsked;
            return names[sid.text];
        };
    }

    Examined& found (HostObjectKind kind)
    {
        return kind == HostObjectKind::host ? launch.found.host : launch.found.folder;
    }
    FoundObject& object (HostObjectKind kind) { return std::get<FoundObject> (found (kind)); }
    LaunchPlan plan() const { return planLaunch (launch); }
};

TEST (HostPlace, IsTheSharedFolderThenOrvanelThenSonvikWithWindowsSeparators)
{
    EXPECT_EQ (placeOfHost (sharedFolder).folder, hostFolder);
    EXPECT_EQ (placeOfHost (sharedFolder).path, hostPath);

    const auto folder = juce::String (juce::CharPointer_UTF8 ("D:\\Donn\xc3\xa9"
                                                              "es \xe6\x97\xa5\xe6\x9c\xac"));
    EXPECT_EQ (placeOfHost (folder).path, folder + "\\Orvanel\\Sonvik.exe");
}

TEST (HostPlace, IsOnTheCurrentDriveWhenTheFolderLookupFailed)
{
    EXPECT_EQ (placeOfHost ({}).folder, "\\Orvanel");
    EXPECT_EQ (placeOfHost ({}).path, "\\Orvanel\\Sonvik.exe");
}

TEST (LaunchPlan, NothingAtTheHostPathOrItsFolderGivesTheInstallationError)
{
    for (const auto kind : { HostObjectKind::host, HostObjectKind::folder })
    {
        Inputs inputs;
        inputs.found (kind) = NothingThere {};
        const auto plan = inputs.plan();

        ASSERT_TRUE (std::holds_alternative<ErrorBox> (plan));
        EXPECT_EQ (std::get<ErrorBox> (plan).title, "Invalid SONVIK installation!");
        EXPECT_EQ (std::get<ErrorBox> (plan).body, "Cannot find: " + hostPath + ", please check your installation.");
    }
}

TEST (LaunchPlan, MissingHostReportShowsThePathAsComposed)
{
    Inputs inputs;
    inputs.launch.host = placeOfHost ({});
    inputs.launch.found.host = NothingThere {};

    EXPECT_EQ (std::get<ErrorBox> (inputs.plan()).body,
               "Cannot find: \\Orvanel\\Sonvik.exe, please check your installation.");
}

TEST (LaunchPlan, AHostThatCannotBeOpenedCannotStartForTheSystemsReason)
{
    Inputs inputs;
    inputs.launch.found.host = CannotOpen { "Access is denied." };

    EXPECT_EQ (std::get<ErrorBox> (inputs.plan()).body,
               "Cannot start: " + hostPath + " (Access is denied.), please check your installation.");
}

TEST (LaunchPlan, ExistingHostIsHandedOverWithForwardedArgumentsAndProductEnvironment)
{
    const auto plan = Inputs ({ u"C:\\Apps\\Tessalune.exe", u"doc one.txt", u"-v" }, { u"A=1" }).plan();

    ASSERT_TRUE (std::holds_alternative<HandOver> (plan));
    const auto& handOver = std::get<HandOver> (plan);
    EXPECT_EQ (handOver.hostPath, hostPath);
    EXPECT_EQ (handOver.hostArguments, (Utf16List { u"Sonvik.exe", u"\"doc one.txt\"", u"-v" }));
    EXPECT_EQ (handOver.hostEnvironment, (Utf16List { u"A=1", u"PRODUCTNAME=tessalune" }));
}

TEST (LaunchPlan, HostAlwaysGetsItsOwnNameAsFirstArgument)
{
    EXPECT_EQ (std::get<HandOver> (Inputs ({ u"Tessalune.exe" }).plan()).hostArguments, Utf16List { u"Sonvik.exe" });
    EXPECT_EQ (std::get<HandOver> (Inputs (Utf16List {}).plan()).hostArguments, Utf16List { u"Sonvik.exe" });
}

TEST (CannotStartBox, NamesThePathAndTheReason)
{
    const auto report = cannotStartBox (hostPath, "Permission denied");

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
    { "S-1-5-21-1004336348-1177238915-682003330-1001", true },                  // the launching user
    { "S-1-5-18", true },                                                       // SYSTEM
    { "S-1-5-32-544", true },                                                   // Administrators
    { "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", true }, // TrustedInstaller
    { "S-1-5-21-1004336348-1177238915-682003330-1002", false },                 // another user of the machine
    { "S-1-5-32-545", false },                                                  // Users
    { "S-1-1-0", false },                                                       // Everyone
    { "s-1-5-18x", false },
    { "", false },
};

TEST (HostTrust, EachOwnerOfTheHostAndOfItsFolderIsTrustedOnlyIfItIsTheLaunchingUserOrAnAdministrator)
{
    for (const auto& ownerCase : ownerCases)
    {
        for (const auto kind : { HostObjectKind::host, HostObjectKind::folder })
        {
            Inputs inputs;
            inputs.object (kind).owner = Sid { ownerCase.owner };

            EXPECT_EQ (std::holds_alternative<HandOver> (inputs.plan()), ownerCase.trusted)
                << ownerCase.owner << " owns the " << (kind == HostObjectKind::host ? "host" : "folder");
        }
    }
}

TEST (HostTrust, OwnerRefusalNamesThePathItsOwnerAndWhatToDo)
{
    Inputs inputs;
    inputs.object (HostObjectKind::folder).owner = anotherUser;
    inputs.names[anotherUser.text] = "PC\\mallory";

    const auto named = std::get<ErrorBox> (inputs.plan());
    EXPECT_EQ (named.title, "Invalid SONVIK installation!");
    EXPECT_EQ (named.body,
               "Will not start " + hostPath + ": " + hostFolder
                   + " is owned by PC\\mallory, not by you or an"
                     " administrator, so another user could have put it there. Please reinstall the host as an "
                     "administrator.");

    inputs.names.clear();
    const auto unnamed = std::get<ErrorBox> (inputs.plan());
    EXPECT_TRUE (unnamed.body.contains (hostFolder + " is owned by " + anotherUser.text + ",")) << unnamed.body;
}

// Who may change the host or its folder, as access lists occur: a host is
// handed over only when nobody but the launching user and those who
// administer the machine may put a program there.
struct AccessCase
{
    const char* what;
    HostObjectKind kind;
    std::function<void (FoundObject&)> make;
    const char* refusalMentions; // nothing: handed over
};

const AccessCase accessCases[] {
    { "ProgramData's default, inherited by a folder made below it", HostObjectKind::folder,
      [] (FoundObject& object)
      {
          object.accessList = { allow (creatorOwner, fullControl, true), allow (system, fullControl),
                                allow (administrators, fullControl), allow (users, readAndExecute),
                                allow (users, addFileAndFolder) };
      },
      "BUILTIN\\Users may change C:\\ProgramData\\Orvanel," },
    { "ProgramData's default, inherited by a file", HostObjectKind::host,
      [] (FoundObject& object)
      {
          object.accessList = { allow (administrators, fullControl), allow (system, fullControl),
                                allow (administrators, fullControl), allow (users, readAndExecute) };
      },
      nullptr },
    { "a protected folder that only administrators may change", HostObjectKind::folder, [] (FoundObject&) {}, nullptr },
    { "Users may add a file beside the host", HostObjectKind::folder,
      [] (FoundObject& object) { object.accessList->push_back (allow (users, 0x2)); }, "BUILTIN\\Users may change" },
    { "Users may add a folder beside the host", HostObjectKind::folder,
      [] (FoundObject& object) { object.accessList->push_back (allow (users, 0x4)); }, "BUILTIN\\Users may change" },
    { "Users may delete what the folder holds", HostObjectKind::folder,
      [] (FoundObject& object) { object.accessList->push_back (allow (users, 0x40)); }, "BUILTIN\\Users may change" },
    { "Users with delete-child on the host, which only a folder heeds", HostObjectKind::host,
      [] (FoundObject& object) { object.accessList->push_back (allow (users, 0x40)); }, nullptr },
    { "Everyone may write the host", HostObjectKind::host,
      [] (FoundObject& object) { object.accessList->push_back (allow (everyone, genericWrite)); },
      "Everyone may change" },
    { "another user may change who may write the host", HostObjectKind::host,
      [] (FoundObject& object) { object.accessList->push_back (allow (anotherUser, 0x40000)); },
      "PC\\mallory may change" },
    { "no access list at all, which lets everyone do anything", HostObjectKind::folder,
      [] (FoundObject& object) { object.accessList.reset(); }, "has no access list, so everyone may change it" },
    { "a CREATOR OWNER template, granting nothing on the folder itself", HostObjectKind::folder,
      [] (FoundObject& object) { object.accessList->push_back (allow (creatorOwner, fullControl, true)); }, nullptr },
    { "a template for another user, granting nothing on the folder itself", HostObjectKind::folder,
      [] (FoundObject& object) { object.accessList->push_back (allow (anotherUser, fullControl, true)); }, nullptr },
    { "a deny entry before an allow entry for the same account", HostObjectKind::folder,
      [] (FoundObject& object)
      {
          object.accessList->insert (object.accessList->begin(), deny (users, fullControl));
          object.accessList->push_back (allow (users, 0x2));
      },
      "BUILTIN\\Users may change" },
    { "the launching user with full control, owning it", HostObjectKind::folder,
      [] (FoundObject& object)
      {
          object.owner = launchingUser;
          object.accessList = { allow (launchingUser, fullControl), allow (system, fullControl) };
      },
      nullptr },
    { "the launching user with full control of the host", HostObjectKind::host,
      [] (FoundObject& object) { object.accessList->push_back (allow (launchingUser, fullControl)); }, nullptr },
    { "the folder is a junction", HostObjectKind::folder, [] (FoundObject& object) { object.isLink = true; },
      "C:\\ProgramData\\Orvanel is a link (a junction, symbolic link or mount point)" },
    { "the host is a symbolic link", HostObjectKind::host, [] (FoundObject& object) { object.isLink = true; },
      "Sonvik.exe is a link" },
    { "a volume that keeps no permissions", HostObjectKind::host,
      [] (FoundObject& object) { object.volumeKeepsPermissions = false; }, "keeps no permissions (FAT or exFAT)" },
    { "permissions that cannot be read", HostObjectKind::folder, [] (FoundObject& object) { object.owner.reset(); },
      "is owned by an owner that cannot be read" },
};

TEST (HostTrust, TheHostIsHandedOverOnlyWhenNobodyElseMayChangeItOrItsFolder)
{
    for (const auto& accessCase : accessCases)
    {
        Inputs inputs;
        inputs.names = { { users.text, "BUILTIN\\Users" },
                         { everyone.text, "Everyone" },
                         { anotherUser.text, "PC\\mallory" } };
        accessCase.make (inputs.object (accessCase.kind));
        const auto plan = inputs.plan();

        if (accessCase.refusalMentions == nullptr)
        {
            EXPECT_TRUE (std::holds_alternative<HandOver> (plan))
                << accessCase.what << ": " << std::get<ErrorBox> (plan).body;
            EXPECT_EQ (inputs.namesAsked, 0) << accessCase.what << ": a hand-over never looks up a name";
            continue;
        }

        ASSERT_TRUE (std::holds_alternative<ErrorBox> (plan)) << accessCase.what;
        const auto& body = std::get<ErrorBox> (plan).body;
        EXPECT_TRUE (body.startsWith ("Will not start " + hostPath + ": ")) << accessCase.what << ": " << body;
        EXPECT_TRUE (body.contains (accessCase.refusalMentions)) << accessCase.what << ": " << body;
    }
}

TEST (HostTrust, WriteAccessRefusalNamesWhoMayChangeWhatAndWhatTheInstallerMustDo)
{
    Inputs inputs;
    inputs.object (HostObjectKind::folder).accessList->push_back (allow (users, 0x2));

    EXPECT_EQ (
        std::get<ErrorBox> (inputs.plan()).body,
        "Will not start " + hostPath + ": " + users.text + " may change " + hostFolder
            + ", so another user could have put a program there. Please reinstall the host; its installer must give "
            + hostFolder + " a protected access list that lets only administrators change it.");
}

TEST (HostTrust, TheDriveRelativeHostPathIsCheckedToo)
{
    Inputs inputs;
    inputs.launch.host = placeOfHost ({});
    inputs.object (HostObjectKind::folder).owner = users;

    const auto plan = inputs.plan();
    ASSERT_TRUE (std::holds_alternative<ErrorBox> (plan));
    EXPECT_TRUE (
        std::get<ErrorBox> (plan).body.startsWith ("Will not start \\Orvanel\\Sonvik.exe: \\Orvanel is owned by "));
}

} // namespace
