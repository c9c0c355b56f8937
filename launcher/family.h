#pragma once

/* What every product of the family shares, stated once for the launcher, its
   plain-C floor, the build and the tests: who makes them, where the host
   lives, the title of the error box, whom the host and its folder may belong
   to, which rights let someone change them, and the platform's limit on a
   command line. Plain C, so the floor launcher includes it too; the build
   reads its quoted values. */

/* Who makes the products: their publisher, and the folder in Program Files
   each product's own folder is in. */
#define FAMILY_MANUFACTURER "Orvanel"

/* Where the publisher offers every product's release, and with it the
   release's Corresponding Source: the notices, INSTALL.txt and the
   installer's Add/Remove Programs entry name it. A folder, ending in "/".
   This family is fictional, so its address is in a domain reserved for
   examples. */
#define FAMILY_RELEASES_ADDRESS "https://downloads.orvanel.example/"

/* Below the shared application-data folder. */
#define FAMILY_HOST_FOLDER "Orvanel"
#define FAMILY_HOST_FILE "Sonvik.exe"

#define FAMILY_ERROR_TITLE "Invalid SONVIK installation!"

/* The entry of the host's environment that names the product it was started
   for: this name, "=", then the product's value from the product table. */
#define FAMILY_PRODUCT_VARIABLE "PRODUCTNAME"

/* Those who administer the machine: an installer running elevated or as a
   service leaves its files owned by one of them. */
#define FAMILY_SYSTEM_SID "S-1-5-18"
#define FAMILY_ADMINISTRATORS_SID "S-1-5-32-544"
#define FAMILY_TRUSTED_INSTALLER_SID "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"

/* Rights of an access-list entry that let its holder change what starts: on
   the host, write it, delete it or change who may; on its folder, also add a
   file or a folder beside it (a DLL the host would load first) or delete one
   inside. FILE_ADD_FILE and FILE_ADD_SUBDIRECTORY are the bits of write data
   and append. */
#define FAMILY_RIGHTS_THAT_CHANGE_THE_HOST                                                                             \
    (0x00000002u /* FILE_WRITE_DATA */ | 0x00000004u /* FILE_APPEND_DATA */ | 0x00010000u /* DELETE */                 \
     | 0x00040000u /* WRITE_DAC */ | 0x00080000u /* WRITE_OWNER */ | 0x40000000u          /* GENERIC_WRITE */          \
     | 0x10000000u /* GENERIC_ALL */)
#define FAMILY_RIGHTS_THAT_CHANGE_THE_FOLDER (FAMILY_RIGHTS_THAT_CHANGE_THE_HOST | 0x00000040u /* FILE_DELETE_CHILD */)

/* The longest command line CreateProcess accepts, its terminating null not counted. */
#define FAMILY_MAX_COMMAND_LINE_LENGTH 32766
