# shellcheck shell=bash
# Sourced by the release checks: a release signed exactly as the signing
# commands of docs/release.md (the block it marks as run by check-signing.sh)
# sign one, with their throwaway certificate, timestamp authority and minisign
# key, in a scratch folder that looks like the clone to them.

# The shell block of a document the line matching a pattern marks, as a numbered step indents it.
block_after() {
    awk -v pattern="$1" '$0 ~ pattern { marked = 1 } marked && /^ *```sh$/ { indent = index($0, "`"); block = 1; next }
        block && /^ *```$/ { exit } block { print substr($0, indent) }' "$2"
}

# sign_as_documented DOC BUILD_DIR FOLDER: runs the commands in FOLDER, whose
# build/signed/ then holds the keys, the signed release and its test kit;
# prints what they print, and fails as they do.
sign_as_documented() {
    local doc=$1 build=$2 folder=$3 installer commands
    installer=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../installer" && pwd)
    commands=$(block_after 'runs the block below as it stands: tests/release/check-signing' "$doc")
    [ -n "$commands" ] || { echo "no signing commands found in $doc"; return 1; }
    mkdir -p "$folder/build" && ln -s "$installer" "$folder/installer" && ln -s "$build" "$folder/build/windows-x86" &&
        (cd "$folder" && bash -e -c "$commands" 2>&1)
}
