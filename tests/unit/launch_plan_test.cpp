#include "host_folder_access.h"
#include "launch_plan.h"

#include <gtest/gtest.h>

#include <map>

#ifdef _WIN32
#    include "windows_platform.h"
#    include <bitset>
#    include <cstring>
#    include <sddl.h>
#endif

// Read as the tests' failures print them: owner, then each entry's kind, account, rights, inheritance and type.
namespace launcher
{

void PrintTo (const Permissions& permissions, std::ostream* out)
{
    *out << (permissions.owner ? permissions.owner->text : "no owner") << (permissions.accessList ? "" : ", no list");
    for (const auto& entry : permissions.accessList.value_or (std::vector<AccessEntry> {}))
        *out << ", (" << static_cast<int> (entry.kind) << " " << entry.account.text << " " << entry.rights << " "
             << static_cast<int> (entry.inheritance) << " " << static_cast<int> (entry.type) << ")";
}

} // namespace launcher

namespace
{

using namespace launcher;
using Reason = Distrust::Reason;

const juce::String sharedFolder = "C:\\ProgramData";
const juce::String hostFolder = "C:\\ProgramData\\Orvanel";
const juce::String hostPath = "C:\\ProgramData\\Orvanel\\Sonvik.exe";
const Sid launchingUser { "S-1-5-21-1004336348-1177238915-682003330-1001" };

// Windows' values, written out here rather than taken from the launcher.
constexpr std::uint32_t fullControl = 0x001F01FF;
constexpr std::uint32_t readAndExecute = 0x001200A9;
constexpr std::uint32_t addFileAndFolder = 0x00100116; // and write attributes, as ProgramData gives Users
constexpr std::uint8_t files = 0x1, folders = 0x2, inheritOnly = 0x8, templateForAll = files | folders | inheritOnly;
const Sid system { "S-1-5-18" };
const Sid administrators { "S-1-5-32-544" };
const Sid users { "S-1-5-32-545" };
const Sid creatorOwner { "S-1-3-0" };
const Sid creatorGroup { "S-1-3-1" };
const Sid anotherUser { "S-1-5-21-1004336348-1177238915-682003330-1002" };
const Sid localService { "S-1-5-19" };
#define SERVICE "S-1-5-80-1913148863-3492339771-4165695881-2087618961-4109116736"
#define TRUSTED_INSTALLER "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
constexpr auto folder = HostObjectKind::folder;
constexpr auto host = HostObjectKind::host;

AccessEntry allow (const Sid& account, std::uint32_t rights, std::uint8_t inheritance = 0, std::uint8_t type = 0)
{
    return { AccessEntry::Kind::allows, account, rights, inheritance, type };
}

AccessEntry deny (const Sid& account, std::uint32_t rights, std::uint8_t type = 1)
{
    return { AccessEntry::Kind::denies, account, rights, 0, type };
}

// What the host's installer must set: administrators alone may change it.
const std::vector<AccessEntry> protectedAdministratorsOnly { allow (system, fullControl, files | folders),
                                                             allow (administrators, fullControl, files | folders),
                                                             allow (users, readAndExecute, files | folders) };
#define PROTECTED HOST_FOLDER_ACCESS_LIST

// Owned by Administrators: `before`, the protected list, then `after`.
Permissions protectedWith (std::vector<AccessEntry> after, std::vector<AccessEntry> before = {})
{
    before.insert (before.end(), protectedAdministratorsOnly.begin(), protectedAdministratorsOnly.end());
    before.insert (before.end(), after.begin(), after.end());
    return { administrators, before };
}

Permissions alone (const AccessEntry& entry)
{
    return { administrators, std::vector { entry } };
}

// Security descriptors, each written once: in SDDL, as the entries the launcher
// must read of it, and with the decision on them. Where Windows' SDDL is read
// (on Windows and under Wine), the reader is checked against the entries too.
struct AccessCase
{
    const char* what;
    HostObjectKind kind;
    const char* sddl;
    Permissions reads;
    std::optional<Distrust> refusal = {}; // none: handed over
    // Wine's SDDL (8.0) writes no NULL list and no object, callback, compound
    // or newer system entry: the access list is then made by hand, of this
    // entry alone (none: a NULL list), with the GUIDs an object entry holds
    // (1 its object type's, 2 its inherited object type's) and the bytes that
    // follow the account, as a callback entry's condition does.
    struct ByHand
    {
        std::optional<AccessEntry> entry;
        std::uint32_t guids = 3;
        std::size_t conditionBytes = 0;
    };
    std::optional<ByHand> byHand = {};
};

// A case of one entry, made by hand, that reads as itself.
AccessCase byHand (const char* what, HostObjectKind kind, const AccessEntry& entry, std::optional<Distrust> refusal,
                   std::uint32_t guids = 3, std::size_t conditionBytes = 0)
{
    return { what, kind, "O:BA", alone (entry), refusal, AccessCase::ByHand { entry, guids, conditionBytes } };
}

// A case of one entry of a type that grants nothing in an access list, made by hand.
AccessCase grantingNothing (const char* what, std::uint8_t type)
{
    return { what,   host,
             "O:BA", { administrators, std::vector<AccessEntry> {} },
             {},     AccessCase::ByHand { allow (users, fullControl, 0, type) } };
}

const AccessCase accessCases[] {
    { "ProgramData's default, as a folder made below it inherits it", folder,
      "O:BAD:(A;OICIIO;GA;;;CO)" PROTECTED "(A;CI;0x100116;;;BU)",
      protectedWith ({ allow (users, addFileAndFolder, folders) },
                     { allow (creatorOwner, 0x10000000, templateForAll) }),
      Distrust { Reason::changeableByAnother, users } },
    { "the host's installer's own descriptor", folder, HOST_FOLDER_SDDL, protectedWith ({}) },
    { "the protected list as a folder inside inherits it, SYSTEM its group", folder,
      "O:BAG:SYD:(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;0x1200a9;;;BU)", protectedWith ({}) },
    { "no owner",
      host,
      "D:P" PROTECTED,
      { std::nullopt, protectedAdministratorsOnly },
      Distrust { Reason::hasNoOwner } },
    { "no access list", folder, "O:BA", { administrators, std::nullopt }, Distrust { Reason::changeableByEveryone } },
    { "an empty access list", folder, "O:BAD:P", { administrators, std::vector<AccessEntry> {} } },
    { "Users may add a file", folder, "O:BAD:P" PROTECTED "(A;;0x2;;;BU)", protectedWith ({ allow (users, 0x2) }),
      Distrust { Reason::changeableByAnother, users } },
    { "delete-child on the host, which only a folder heeds", host, "O:BAD:P" PROTECTED "(A;;0x40;;;BU)",
      protectedWith ({ allow (users, 0x40) }) },
    { "a deny before an allow", folder, "O:BAD:P(D;;FA;;;BU)" PROTECTED "(A;;0x2;;;BU)",
      protectedWith ({ allow (users, 0x2) }, { deny (users, fullControl) }),
      Distrust { Reason::changeableByAnother, users } },
    { "OWNER RIGHTS, the owner's", folder, "O:BAD:P" PROTECTED "(A;OICI;FA;;;OW)",
      protectedWith ({ allow (Sid { "S-1-3-4" }, fullControl, files | folders) }) },
    { "a CREATOR OWNER template", folder, "O:BAD:P" PROTECTED "(A;OICIIO;FA;;;CO)",
      protectedWith ({ allow (creatorOwner, fullControl, templateForAll) }) },
    { "a template for Users", folder, "O:BAD:P" PROTECTED "(A;OICIIO;FA;;;BU)",
      protectedWith ({ allow (users, fullControl, templateForAll) }), Distrust { Reason::passesOnChangeTo, users } },
    { "a CREATOR GROUP template", folder, "O:BAD:P" PROTECTED "(A;OICIIO;FA;;;CG)",
      protectedWith ({ allow (creatorGroup, fullControl, templateForAll) }),
      Distrust { Reason::passesOnChangeTo, creatorGroup } },
    { "folders get Users' delete-child", folder, "O:BAD:P" PROTECTED "(A;CIIO;0x40;;;BU)",
      protectedWith ({ allow (users, 0x40, folders | inheritOnly) }), Distrust { Reason::passesOnChangeTo, users } },
    { "an audit entry, which grants nothing", folder, "O:BAD:P" PROTECTED "(AU;SA;FA;;;BU)", protectedWith ({}) },
    { "a label entry, which grants nothing", folder, "O:BAD:P" PROTECTED "(ML;;NW;;;LW)", protectedWith ({}) },
    { "write-attributes on the host, which can make it a link", host, "O:BAD:P" PROTECTED "(A;;0x1201a9;;;BU)",
      protectedWith ({ allow (users, 0x1201a9) }), Distrust { Reason::changeableByAnother, users } },
    { "files get Users' write-attributes", folder, "O:BAD:P" PROTECTED "(A;OIIO;0x100;;;BU)",
      protectedWith ({ allow (users, 0x100, files | inheritOnly) }), Distrust { Reason::passesOnChangeTo, users } },
    { "a service's own account, which any service an administrator installed has", folder,
      "O:BAD:P" PROTECTED "(A;OICI;FA;;;" SERVICE ")",
      protectedWith ({ allow (Sid { SERVICE }, fullControl, files | folders) }),
      Distrust { Reason::changeableByAnother, Sid { SERVICE } } },
    { "TrustedInstaller, Windows' servicing", host, "O:BAD:P" PROTECTED "(A;;FA;;;" TRUSTED_INSTALLER ")",
      protectedWith ({ allow (Sid { TRUSTED_INSTALLER }, fullControl) }) },
    { "LOCAL SERVICE, which many services share", host, "O:BAD:P" PROTECTED "(A;;FA;;;LS)",
      protectedWith ({ allow (localService, fullControl) }), Distrust { Reason::changeableByAnother, localService } },
    { "CREATOR OWNER on the folder itself, which no token holds", folder, "O:BAD:P" PROTECTED "(A;;FA;;;CO)",
      protectedWith ({ allow (creatorOwner, fullControl) }) },
    { "a NULL access list",
      folder,
      "O:BA",
      { administrators, std::nullopt },
      Distrust { Reason::changeableByEveryone },
      AccessCase::ByHand {} },
    byHand ("an allowing callback entry and its condition", host, allow (users, 0x2, 0, 0x9),
            Distrust { Reason::changeableByAnother, users }, 3, 12),
    byHand ("an allowing object entry", folder, allow (anotherUser, fullControl, templateForAll, 0x5),
            Distrust { Reason::passesOnChangeTo, anotherUser }),
    byHand ("an object entry without GUIDs", host, allow (anotherUser, 0x2, 0, 0x5),
            Distrust { Reason::changeableByAnother, anotherUser }, 0),
    byHand ("an object entry of an object type", host, allow (anotherUser, 0x2, 0, 0x5),
            Distrust { Reason::changeableByAnother, anotherUser }, 1),
    byHand ("an object entry of an inherited object type", host, allow (anotherUser, 0x2, 0, 0x5),
            Distrust { Reason::changeableByAnother, anotherUser }, 2),
    byHand ("a denying object entry", folder, deny (users, fullControl, 0x6), std::nullopt),
    byHand ("a compound entry", host, { AccessEntry::Kind::unknown, {}, 0, 0, 4 },
            Distrust { Reason::entryOfUnknownType, {}, {}, 4 }),
    grantingNothing ("a resource attribute entry", 0x12),
    grantingNothing ("a scoped policy entry", 0x13),
    grantingNothing ("a process trust label entry", 0x14),
    grantingNothing ("an access filter entry", 0x15),
};

FoundObject foundObject (OrUnanswered<ReparseTag> tag, OrUnanswered<bool> keepsPermissions = true,
                         DriveKind drive = DriveKind::local, OrUnanswered<Permissions> permissions = protectedWith ({}))
{
    return { tag, keepsPermissions, drive, permissions };
}

FoundObject permitted (Permissions permissions)
{
    return foundObject (ReparseTag {}, true, DriveKind::local, permissions);
}

struct Inputs
{
    LaunchInputs launch;
    std::map<juce::String, juce::String> names;
    int namesAsked = 0;

    explicit Inputs (Utf16List arguments = { u"Tessalune.exe" }, Utf16List environment = {})
    {
        launch.launcherArguments = std::move (arguments);
        launch.host = placeOfHost (sharedFolder, "C:");
        launch.found = { permitted (protectedWith ({})), permitted (protectedWith ({})) };
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
    Permissions& permissions (HostObjectKind kind) { return std::get<Permissions> (object (kind).permissions); }
    LaunchPlan plan() const { return planLaunch (launch); }
};

TEST (HostPlace, IsTheSharedFolderThenOrvanelThenSonvikWithWindowsSeparators)
{
    EXPECT_EQ (placeOfHost (sharedFolder, "D:").folder, hostFolder);
    EXPECT_EQ (placeOfHost (sharedFolder, "D:").path, hostPath);
    EXPECT_FALSE (placeOfHost (sharedFolder, "D:").onTheWindowsDrive);

    const auto folder = juce::String (juce::CharPointer_UTF8 ("D:\\Donn\xc3\xa9"
                                                              "es \xe6\x97\xa5\xe6\x9c\xac"));
    EXPECT_EQ (placeOfHost (folder, "C:").path, folder + "\\Orvanel\\Sonvik.exe");
}

TEST (HostPlace, IsOnTheWindowsDriveWhenTheFolderLookupFailedAndNowhereWithoutThatDrive)
{
    EXPECT_EQ (placeOfHost ({}, "D:").folder, "D:\\Orvanel");
    EXPECT_EQ (placeOfHost ({}, "D:").path, "D:\\Orvanel\\Sonvik.exe");
    EXPECT_TRUE (placeOfHost ({}, "D:").onTheWindowsDrive);
    EXPECT_TRUE (placeOfHost ({}, "D:").canBeLookedFor);
    EXPECT_FALSE (placeOfHost ({}, {}).canBeLookedFor);
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
        EXPECT_EQ (std::get<ErrorBox> (plan).body, missingHostBox (hostPath).body);
    }
}

// The one assertion of the missing host's sentence.
TEST (LaunchPlan, MissingHostReportShowsThePathAsComposed)
{
    Inputs inputs;
    inputs.launch.host = placeOfHost ({}, "D:");
    inputs.launch.found.host = NothingThere {};

    EXPECT_EQ (std::get<ErrorBox> (inputs.plan()).body,
               "Cannot find: D:\\Orvanel\\Sonvik.exe, please check your installation.");
}

TEST (LaunchPlan, AHostThatCannotBeOpenedCannotStartForTheSystemsReason)
{
    Inputs inputs;
    inputs.launch.found.host = CannotOpen { "Access is denied." };

    EXPECT_EQ (std::get<ErrorBox> (inputs.plan()).body, cannotStartBox (hostPath, "Access is denied.").body);
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
    { "S-1-5-21-1004336348-1177238915-682003330-1001", true },                   // the launching user
    { "S-1-5-18", true },                                                        // SYSTEM
    { "S-1-5-32-544", true },                                                    // Administrators
    { TRUSTED_INSTALLER, true },                                                 // TrustedInstaller
    { SERVICE, false },                                                          // another service's own account
    { "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478465", false }, // one number from TrustedInstaller
    { "S-1-5-80-0", false },                                                     // ALL SERVICES
    { "S-1-5-80-1-2-3-4", false },
    { "S-1-5-19", false },                                      // LOCAL SERVICE
    { "S-1-5-20", false },                                      // NETWORK SERVICE
    { "S-1-5-21-1004336348-1177238915-682003330-1002", false }, // another user of the machine
    { "S-1-5-32-545", false },                                  // Users
    { "S-1-1-0", false },                                       // Everyone
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
            inputs.permissions (kind).owner = Sid { ownerCase.owner };

            EXPECT_EQ (std::holds_alternative<HandOver> (inputs.plan()), ownerCase.trusted)
                << ownerCase.owner << " owns the " << (kind == HostObjectKind::host ? "host" : "folder");
        }
    }
}

// A host is handed over only when nobody else may put a program there, now
// or through what the folder passes on.
TEST (HostTrust, EachAccessListIsJudgedOnTheEntriesReadOfIt)
{
    for (const auto& accessCase : accessCases)
    {
        Inputs inputs;
        inputs.object (accessCase.kind).permissions = accessCase.reads;

        EXPECT_EQ (distrustOf (inputs.object (accessCase.kind), accessCase.kind, launchingUser), accessCase.refusal)
            << accessCase.what;
        EXPECT_EQ (std::holds_alternative<HandOver> (inputs.plan()), ! accessCase.refusal) << accessCase.what;
        EXPECT_TRUE (accessCase.refusal || inputs.namesAsked == 0)
            << accessCase.what << ": a hand-over looked up names";
    }
}

// Each object as read, and the refusal's exact text, asserted here alone: the
// host or folder it speaks of (for "{}"), who could have changed it, what to
// do. An unanswered question refuses; so does, on the current drive, any drive but a local one.
struct ObjectCase
{
    HostObjectKind kind;
    FoundObject object;
    juce::String body = {}; // empty: handed over
    bool onTheWindowsDrive = false;
};

const juce::String reinstall = " Please reinstall the host as an administrator.";
const juce::String putThere = ", so another user could have put it there." + reinstall;
const juce::String protect = ". Please reinstall the host; its installer must give the folder C:\\ProgramData\\Orvanel"
                             " a protected access list that lets only administrators change it.";
const juce::String ntfs = ", so anyone could have put it there. Please install the host on an NTFS drive as an"
                          " administrator.";
const juce::String elsewhere = ", which another machine could have prepared (the shared application-data folder could"
                               " not be looked up, so the host was looked for on the drive Windows is installed on)."
                               " Please have an administrator repair the location of the shared application-data"
                               " folder.";
const juce::String link = " is a link (a junction, symbolic link, mount point or other reparse point), so it can lead"
                          " to a place another user controls."
    + reinstall;

const ObjectCase objectCases[] {
    { host, FoundObject {},
      "whether {} is a link cannot be told (not read), so it could lead to a place another user controls."
          + reinstall },
    { host, foundObject (ReparseTag { 0x80000017 }) },                // WOF-compressed
    { folder, foundObject (ReparseTag { 0x80000013 }) },              // deduplicated
    { host, foundObject (ReparseTag { 0xA000000C }), "{}" + link },   // a symbolic link
    { folder, foundObject (ReparseTag { 0xA0000003 }), "{}" + link }, // a junction
    { host, foundObject (Unanswered { "Access is denied." }),
      "whether {} is a link cannot be told (Access is denied.), so it could lead to a place another user controls."
          + reinstall },
    { host, foundObject (ReparseTag {}, false), "the drive of {} keeps no permissions (FAT or exFAT)" + ntfs },
    { folder, foundObject (ReparseTag {}, Unanswered { "Not ready." }),
      "whether the drive of {} keeps permissions cannot be told (Not ready.)" + ntfs },
    { folder, foundObject (ReparseTag {}, true, DriveKind::removable), "{} is on a removable drive" + elsewhere, true },
    { host, foundObject (ReparseTag {}, true, DriveKind::remote), "{} is on a network drive" + elsewhere, true },
    { folder, foundObject (ReparseTag {}, true, DriveKind::unknown),
      "{} is on a drive whose kind cannot be told" + elsewhere, true },
    { folder, foundObject (ReparseTag {}, true, DriveKind::local), {}, true },
    { folder, foundObject (ReparseTag {}, true, DriveKind::removable) }, // below the shared folder
    { host, foundObject (ReparseTag {}, true, DriveKind::local, Unanswered { "Access is denied." }),
      "the owner and access list of {} cannot be read (Access is denied.)" + putThere },
    { host, permitted ({ std::nullopt, protectedAdministratorsOnly }), "{} has no owner" + putThere },
    { folder, permitted ({ anotherUser, protectedAdministratorsOnly }),
      "{} is owned by " + anotherUser.text // no name: its SID
          + ", and the launcher trusts only what you, SYSTEM, the Administrators group or TrustedInstaller own, so"
            " another user could have put it there. Please have an administrator give it to the Administrators group,"
            " or reinstall the host as an administrator." },
    { folder, permitted (protectedWith ({ allow (users, 0x2) })),
      "BUILTIN\\Users may change {}, so another user could have put a program there" + protect },
    { host, permitted (protectedWith ({ allow (Sid {}, 0x2) })),
      "an account whose SID cannot be turned into text may change {}, so another user could have put a program there"
          + protect },
    { folder, permitted (protectedWith ({ allow (creatorGroup, fullControl, templateForAll) })),
      "{} lets CREATOR GROUP change the files and folders created in it, so another user could change what the host's"
      " installer puts there"
          + protect },
    { host, permitted (protectedWith ({ { AccessEntry::Kind::unknown, {}, 0, 0, 4 } })),
      "the access list of {} holds an entry of a type the launcher does not know (type 4), so who may change it cannot"
      " be told"
          + protect },
    { folder, permitted ({ administrators, std::nullopt }),
      "{} has no access list, so everyone may change it, and another user could have put a program there" + protect },
};

TEST (HostTrust, EachRefusalNamesItsObjectWhoCouldHaveChangedItAndWhatToDo)
{
    for (const auto& objectCase : objectCases)
    {
        Inputs inputs;
        inputs.names = { { users.text, "BUILTIN\\Users" }, { creatorGroup.text, "CREATOR GROUP" } };
        inputs.launch.host = placeOfHost (objectCase.onTheWindowsDrive ? "" : sharedFolder, "C:");
        inputs.object (objectCase.kind) = objectCase.object;
        const auto& place = inputs.launch.host;
        const auto what = objectCase.kind == host ? "the host " + place.path : "the folder " + place.folder;
        const auto body = objectCase.body.replace ("{}", what);
        const auto plan = inputs.plan();
        const auto* box = std::get_if<ErrorBox> (&plan);

        EXPECT_EQ (box != nullptr ? box->body : "", body.isEmpty() ? "" : "Will not start " + place.path + ": " + body);
    }
}

TEST (HostTrust, TheHostOnTheWindowsDriveIsCheckedToo)
{
    Inputs inputs;
    inputs.launch.host = placeOfHost ({}, "D:");
    inputs.permissions (HostObjectKind::folder).owner = users;

    const auto plan = inputs.plan();
    ASSERT_TRUE (std::holds_alternative<ErrorBox> (plan));
    EXPECT_EQ (
        std::get<ErrorBox> (plan).body,
        refusalBox (Distrust { Reason::ownedByAnother, users }, folder, inputs.launch.host, inputs.launch.accountNameOf)
            .body);
}

#ifdef _WIN32

// The owner of `parsed`, with an access list made as `made` says, kept in `list`: header, rights, an object
// entry's flags and GUIDs or a compound one's type, the account (anyone's where none is read), its condition.
SECURITY_DESCRIPTOR byHand (PSECURITY_DESCRIPTOR parsed, const AccessCase::ByHand& made, std::vector<BYTE>& list)
{
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    GetSecurityDescriptorOwner (parsed, &owner, &defaulted);
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor (&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorOwner (&descriptor, owner, FALSE);

    if (! made.entry)
    {
        SetSecurityDescriptorDacl (&descriptor, TRUE, nullptr, FALSE);
        return descriptor;
    }

    const auto& entry = *made.entry;
    const auto isObject = entry.type == ACCESS_ALLOWED_OBJECT_ACE_TYPE || entry.type == ACCESS_DENIED_OBJECT_ACE_TYPE;
    PSID sid = nullptr;
    ConvertStringSidToSidW (entry.account.text.isEmpty() ? L"S-1-1-0" : entry.account.text.toWideCharPointer(), &sid);
    const auto sidLength = GetLengthSid (sid);
    const auto sidOffset = 8
        + (isObject              ? 4 + std::bitset<2> (made.guids).count() * sizeof (GUID)
               : entry.type == 4 ? 4
                                 : 0);
    std::vector<unsigned char> ace (sidOffset + sidLength + made.conditionBytes, 'c');
    const ACE_HEADER header { entry.type, entry.inheritance, static_cast<WORD> (ace.size()) };
    std::memcpy (ace.data(), &header, 4);
    std::memcpy (ace.data() + 4, &entry.rights, 4);
    std::memcpy (ace.data() + 8, &made.guids, isObject ? 4 : 0);
    std::memcpy (ace.data() + sidOffset, sid, sidLength);
    LocalFree (sid);

    list.resize (sizeof (ACL) + ace.size());
    auto* accessList = reinterpret_cast<PACL> (list.data());
    InitializeAcl (accessList, static_cast<DWORD> (list.size()), ACL_REVISION_DS);
    EXPECT_TRUE (AddAce (accessList, ACL_REVISION_DS, MAXDWORD, ace.data(), static_cast<DWORD> (ace.size())));
    SetSecurityDescriptorDacl (&descriptor, TRUE, accessList, FALSE);
    return descriptor;
}

TEST (SecurityDescriptor, EachAccessCaseReadsAsTheEntriesItIsJudgedOn)
{
    for (const auto& accessCase : accessCases)
    {
        PSECURITY_DESCRIPTOR parsed = nullptr;
        ASSERT_TRUE (ConvertStringSecurityDescriptorToSecurityDescriptorW (
            juce::String (accessCase.sddl).toWideCharPointer(), SDDL_REVISION_1, &parsed, nullptr))
            << accessCase.what << ": error " << GetLastError();
        std::vector<BYTE> list;
        auto made = accessCase.byHand ? byHand (parsed, *accessCase.byHand, list) : SECURITY_DESCRIPTOR {};

        const auto read = launcher::platform::permissionsIn (accessCase.byHand ? &made : parsed);

        LocalFree (parsed);
        ASSERT_TRUE (std::holds_alternative<Permissions> (read)) << accessCase.what;
        EXPECT_EQ (std::get<Permissions> (read), accessCase.reads) << accessCase.what;
    }
}

#endif

} // namespace
