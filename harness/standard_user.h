#pragma once

// An ordinary user of the machine, made for a run and removed with it: a
// local account of the Users group alone, whose random password never leaves
// this process, and programs started as that user. Making one needs an
// administrator; the cases and the CI steps that need one run elevated.

#include <windows.h>
#include <bcrypt.h>
#include <lm.h>
#include <sddl.h>
#include <userenv.h>

#include <string>

class StandardUser
{
public:
    StandardUser()
    {
        // A letter of each kind, then 24 random ones: any password policy's
        // complexity and length, and nothing anyone could guess. Without
        // randomness there is no account.
        const auto suffix = randomText (L"0123456789abcdef", 8);
        const auto random = randomText (L"ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789", 24);
        if (suffix.empty() || random.empty())
        {
            status = ERROR_GEN_FAILURE;
            return;
        }
        name = L"orvanel-" + suffix;
        auto password = L"Aa1!" + random;
        USER_INFO_1 info {};
        info.usri1_name = name.data();
        info.usri1_password = password.data();
        info.usri1_priv = USER_PRIV_USER;
        info.usri1_comment = const_cast<wchar_t*> (L"Made by an Orvanel test run, and removed at its end");
        info.usri1_flags = UF_SCRIPT | UF_DONT_EXPIRE_PASSWD;
        status = NetUserAdd (nullptr, 1, reinterpret_cast<BYTE*> (&info), nullptr);
        secret = std::move (password);
    }

    ~StandardUser()
    {
        if (! exists())
            return;

        // A profile is made only by a start that loads it; it goes with the account.
        if (const auto sid = sidText(); ! sid.empty())
            DeleteProfileW (sid.c_str(), nullptr, nullptr);
        NetUserDel (nullptr, name.c_str());
    }

    StandardUser (const StandardUser&) = delete;
    StandardUser& operator= (const StandardUser&) = delete;

    bool exists() const { return status == NERR_Success; }
    // Why the account could not be made: a Windows or network error code.
    DWORD failure() const { return status; }
    const std::wstring& accountName() const { return name; }

    // Starts a command line as this user in a folder that user may read, with
    // the user's profile loaded when asked for (as a signed-in user has it);
    // the caller waits for it, ends it and closes its handles.
    bool start (std::wstring commandLine, const std::wstring& folder, PROCESS_INFORMATION& started,
                bool withProfile = false) const
    {
        STARTUPINFOW startup {};
        startup.cb = sizeof (startup);
        return exists()
            && CreateProcessWithLogonW (name.c_str(), L".", secret.c_str(), withProfile ? LOGON_WITH_PROFILE : 0,
                                        nullptr, commandLine.data(), CREATE_UNICODE_ENVIRONMENT, nullptr,
                                        folder.c_str(), &startup, &started)
            != FALSE;
    }

    // The account's SID in text form; empty where it cannot be looked up.
    std::wstring sidText() const
    {
        BYTE sid[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof (sid);
        wchar_t domain[256];
        DWORD domainSize = 256;
        SID_NAME_USE use;
        wchar_t* text = nullptr;
        std::wstring result;

        if (LookupAccountNameW (nullptr, name.c_str(), sid, &size, domain, &domainSize, &use)
            && ConvertSidToStringSidW (sid, &text))
            result = text;

        LocalFree (text);
        return result;
    }

private:
    static std::wstring randomText (const std::wstring& alphabet, size_t length)
    {
        std::wstring text (length, L'\0');
        unsigned char bytes[64] {};
        if (length > sizeof (bytes)
            || BCryptGenRandom (nullptr, bytes, sizeof (bytes), BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0)
            return {};

        for (size_t i = 0; i < length; ++i)
            text[i] = alphabet[bytes[i] % alphabet.size()];

        return text;
    }

    std::wstring name;
    std::wstring secret;
    NET_API_STATUS status = NERR_Success;
};
