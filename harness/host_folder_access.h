#pragma once

/* The protected access list the host's installer gives the host's folder
   (docs/security.md), for the tests and the harness; the launcher judges
   whatever list it finds and links nothing of this. Administrators own the
   folder; only SYSTEM and Administrators may change it or what is made in it;
   Users may read and run (0x1200a9: read, run, read attributes and
   permissions) and write no attributes, with which they could make what the
   installer writes a link. docs/security.md and the installer's recipe,
   docs/make-host-folder.ps1, write it out, and the recipe the rights of
   FAMILY_RIGHTS_THAT_CHANGE_THE_FOLDER too: plain C, so that
   tests/tools/check-host-folder-values.sh compiles a program printing both
   and holds those files to them. */

#define HOST_FOLDER_ACCESS_LIST "(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
#define HOST_FOLDER_SDDL "O:BAG:BAD:P" HOST_FOLDER_ACCESS_LIST
