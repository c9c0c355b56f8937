#pragma once

/* What every product of the family shares, for the launcher, the benchmark's
   bare stub and the tests. Plain C, so the bare stub includes it too. Who
   makes the products, where the host lives, the title of the error box and
   the name of the host's environment entry come from the family's
   description (products/family.cmake), through the header the build writes
   of it; the rest is Windows': whom the host and its folder may belong to,
   which rights let someone change them, and the platform's limit on a
   command line. */

#include "family_values.h"

/* Those who administer the machine: an installer running elevated, or as
   Windows Installer or Windows' own servicing, leaves its files owned by one
   of them. TrustedInstaller is the account of Windows' servicing, NT
   SERVICE\TrustedInstaller, whose SID Windows derives from that name and so
   is the same on every machine. No other service's own account (NT
   SERVICE\name, S-1-5-80- and five numbers) is among them: any service an
   administrator ever installed has one, and a compromised one could plant a
   host while the host's folder is absent that every user's launcher, an
   administrator's included, would start; the host folder's recipe
   (docs/make-host-folder.ps1) trusts the same three.
   https://learn.microsoft.com/en-us/windows/win32/secauthz/well-known-sids */
#define FAMILY_SYSTEM_SID "S-1-5-18"
#define FAMILY_ADMINISTRATORS_SID "S-1-5-32-544"
#define FAMILY_TRUSTED_INSTALLER_SID "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"

/* Rights of an access-list entry that let its holder change what starts: on
   the host, write it, delete it, change who may, or make it a link (setting a
   reparse point needs write-data or write-attributes alone, and holding the
   host open does not stop it: sharing counts only data access); on its
   folder, also add a file or a folder beside it (a DLL the host would load
   first) or delete one inside. FILE_ADD_FILE and FILE_ADD_SUBDIRECTORY are the
   bits of write data and append.
   https://learn.microsoft.com/en-us/openspecs/windows_protocols/ms-fsa/4aeefef8-92c3-4abc-af7a-a610caf8a165 */
#define FAMILY_RIGHTS_THAT_CHANGE_THE_HOST                                                                             \
    (0x00000002u /* FILE_WRITE_DATA */ | 0x00000004u /* FILE_APPEND_DATA */ | 0x00000100u /* FILE_WRITE_ATTRIBUTES */  \
     | 0x00010000u /* DELETE */ | 0x00040000u /* WRITE_DAC */ | 0x00080000u               /* WRITE_OWNER */            \
     | 0x40000000u /* GENERIC_WRITE */ | 0x10000000u /* GENERIC_ALL */)
#define FAMILY_RIGHTS_THAT_CHANGE_THE_FOLDER (FAMILY_RIGHTS_THAT_CHANGE_THE_HOST | 0x00000040u /* FILE_DELETE_CHILD */)

/* The longest command line CreateProcess accepts, its terminating null not counted. */
#define FAMILY_MAX_COMMAND_LINE_LENGTH 32766
