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

// An account, by its SID in text form ("S-1-5-32-544"). A type of its own, so
// that an account and a path cannot be swapped unnoticed.
struct Sid
{
    juce::String text;

    bool operator== (const Sid& other) const { return text == other.text; }
    bool operator!= (const Sid& other) const { return text != other.text; }
};

// One entry of an access list, as Windows keeps it.
struct AccessEntry
{
    bool allows; // an allow entry; otherwise it denies
    Sid account;
    std::uint32_t rights; // its access mask
    bool inheritOnly;     // a template for what is created inside, granting nothing here
};

// What the launcher read of the host or its folder, from the very handle it
// keeps open until the host has started.
struct FoundObject
{
    bool isLink = false;                // a junction, symbolic link or mount point
    bool volumeKeepsPermissions = true; // FAT and exFAT keep none
    std::optional<Sid> owner;           // none where it cannot be read
    // None: no access list at all, which lets everyone do anything.
    std::optional<std::vector<AccessEntry>> accessList;
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
        keepsNoPermissions,
        ownerUnreadable,
        ownedByAnother,
        changeableByAnother,
        changeableByEveryone
    };

    Reason reason;
    Sid account; // the owner, or who may change it
};

bool isTrustedAccount (const Sid& account, const Sid& launchingUser);

// Nothing when only the launching user and those who administer the machine
// can have placed or changed the object.
std::optional<Distrust> distrustOf (const FoundObject& object, HostObjectKind kind, const Sid& launchingUser);

} // namespace launcher
