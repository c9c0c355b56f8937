#!/usr/bin/env bash
# What docs/security.md's SDDL block and the host installer's recipe write out
# is the code's: HOST_FOLDER_SDDL (harness/host_folder_access.h), and the
# recipe's mask FAMILY_RIGHTS_THAT_CHANGE_THE_FOLDER (launcher/family.h), by
# which the launcher judges the folder the recipe keeps; a tiny program prints both.
# The recipe's C#, which only Windows PowerShell runs, compiles as its Add-Type
# compiles it there (C# 5, .NET Framework's compiler), here with Mono's.
# Usage: check-host-folder-values.sh SOURCE_DIR C_COMPILER GENERATED_HEADERS_DIR
set -uo pipefail

repo=$1 compiler=$2 generated=$3
# shellcheck source=../support/expect.sh
source "$repo/tests/support/expect.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat >"$work/values.c" <<'PROGRAM'
#include "family.h"
#include "host_folder_access.h"
#include <stdio.h>
int main (void) { return printf ("%s\n%u\n", HOST_FOLDER_SDDL, FAMILY_RIGHTS_THAT_CHANGE_THE_FOLDER) < 0; }
PROGRAM
"$compiler" -I"$repo/launcher" -I"$repo/harness" -I"$generated" -o "$work/values" "$work/values.c" || exit 1
{ read -r sddl && read -r rights; } < <("$work/values") || { echo "FAIL the values program printed nothing"; exit 1; }

# The lines that start as an SDDL does inside docs/security.md's fenced blocks.
documented=$(awk '/^```/ { inside = ! inside; next } inside && /^O:/' "$repo/docs/security.md")
recipe=$(sed -n "s/^[$]protectedSddl = '\(.*\)'$/\1/p" "$repo/docs/make-host-folder.ps1")
recipe_rights=$(sed -n 's/^[$]rightsThatChange = \(0x[0-9A-Fa-f]*\)$/\1/p' "$repo/docs/make-host-folder.ps1")

expect "docs/security.md's SDDL block is the code's" "$sddl" "$documented"
expect "the recipe's \$protectedSddl is the code's" "$sddl" "$recipe"
expect "the recipe's \$rightsThatChange is family.h's FAMILY_RIGHTS_THAT_CHANGE_THE_FOLDER" \
    "$(printf '0x%08X' "$rights")" "$([ -n "$recipe_rights" ] && printf '0x%08X' "$((recipe_rights))")"

awk "/^Add-Type -TypeDefinition @'\$/ { inside = 1; next } /^'@\$/ { inside = 0 } inside" \
    "$repo/docs/make-host-folder.ps1" >"$work/recipe.cs"
expect "the recipe's C# compiles as C# 5, warnings and all" "" \
    "$(mcs -langversion:5 -target:library -warnaserror -nologo -out:"$work/recipe.dll" "$work/recipe.cs" 2>&1 |
        grep -v '^Compilation succeeded')"
expect "the recipe's C# is there" yes "$(yes_if grep -q 'class HostFolder' "$work/recipe.cs")"

[ "$failures" -eq 0 ]
