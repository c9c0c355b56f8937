#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

// Who could have put the host there: the launcher runs it with the rights of
// whoever starts it, an administrator included, so it hands over only to a
// host that nobody but that user and those who administer the machine could
// have placed or changed.
namespace launcher
{

// An account, by its SID in text form ("S-1-5-32-544"); empty where the SID
// could not be turned into text. A type of its own, so that an account and a
// path cannot be swapped unnoticed.
struct Sid
{
    juce::String text;

    bool operator== (const Sid& other) const { return text == other.text; }
    bool operator!= (const Sid& other) const { return text != other.text; }
};

// One entry of an access list, as Windows keeps it.
struct AccessEntry
{
    enum class Kind
    {
        allows,
        denies,
        unknown // a type the reader does not know to grant nothing: who it grants what cannot be told
    };

    // How an entry of a folder is passed on; Windows' own values.
    enum Inheritance : std::uint8_t
    {
        toFiles = 0x1,   // object-inherit
        toFolders = 0x2, // container-inherit
        only = 0x8       // inherit-only: a template for what is created inside, granting nothing here
    };

    Kind kind;
    Sid account;
    std::uint32_t rights; // its access mask
    std::uint8_t inheritance = 0;
    std::uint8_t type = 0; // Windows' number for the entry's type, which names an unknown one

    bool operator== (const AccessEntry&) const = default;
};

// Who owns the object and its access list, as its security descriptor says.
struct Permissions
{
    std::optional<Sid> owner; // none where the descriptor names no owner
    // None: no access list at all, which lets everyone do anything.
    std::optional<std::vector<AccessEntry>> accessList;

    bool operator== (const Permissions&) const = default;
};

// A question about the object the system did not answer, with its reason:
// what cannot be judged is not trusted.
struct Unanswered
{
    juce::String reason;
};

template <typename Answer>
using OrUnanswered = std::variant<Answer, Unanswered>;

// The tag of a reparse point; none where the object is no reparse point.
using ReparseTag = std::optional<std::uint32_t>;

// Windows' tags of the files and folders it compresses (WOF: compact /exe,
// CompactOS) and deduplicates: each is still what it was, with its own owner
// and access list, and leads nowhere else.
// https://learn.microsoft.com/en-us/openspecs/windows_protocols/ms-fscc/c8e77b37-3909-4fe6-a4ea-2b9d423b1ee4
inline constexpr std::uint32_t wofReparseTag = 0x80000017;
inline constexpr std::uint32_t dedupReparseTag = 0x80000013;

// The kind of drive an object is on, as far as the launcher needs to tell.
enum class DriveKind
{
    unknown,
    local, // a fixed disk or a RAM disk
    removable,
    remote
};

// What the launcher read of the host or its folder, from the very handle it
// keeps open until the host has started. Where nothing was read, each answer
// is one that refuses.
struct FoundObject
{
    OrUnanswered<ReparseTag> reparseTag = Unanswered { "not read" };
    // https://learn.microsoft.com/en-us/windows/win32/api/fileapi/nf-fileapi-getvolumeinformationbyhandlew
    OrUnanswered<bool> volumeKeepsPermissions = Unanswered { "not read" }; // FAT and exFAT keep none
    DriveKind drive = DriveKind::unknown; // read only where the host is looked for on the Windows drive
    OrUnanswered<Permissions> permissions = Unanswered { "not read" };
};

struct NothingThere
{
};

// Something is there that the launcher cannot open, with the system's reason.
struct CannotOpen
{
    juce::String reason;
};

using Examined = std::variant<NothingThere, CannotOpen, FoundObject>;

struct HostObjects
{
    Examined folder;
    Examined host;
};

enum class HostObjectKind
{
    host,
    folder
};

// Why an object could have been placed or changed by someone else.
struct Distrust
{
    enum class Reason
    {
        isLink,
        linkUnknown,
        keepsNoPermissions,
        permissionsKeptUnknown,
        onRemovableDrive,
        onRemoteDrive,
        driveUnknown,
        permissionsUnreadable,
        hasNoOwner,
        ownedByAnother,
        changeableByAnother,
        passesOnChangeTo,
        entryOfUnknownType,
        changeableByEveryone
    };

    Reason reason;
    Sid account = {};               // the owner, or who may change it
    juce::String systemReason = {}; // why the system could not answer
    std::uint8_t entryType = 0;     // the type of an entry the launcher does not know

    bool operator== (const Distrust&) const = default;
};

bool isTrustedAccount (const Sid& account, const Sid& launchingUser);

// Nothing when only the launching user and those who administer the machine
// can have placed or changed the object. On the drive Windows is installed
// on, where the host is looked for when the shared folder cannot be looked
// up, the drive's kind is judged too.
std::optional<Distrust> distrustOf (const FoundObject& object, HostObjectKind kind, const Sid& launchingUser,
                                    bool onTheWindowsDrive = false);

} // namespace launcher
