#!/usr/bin/env bash
# Checks a product's release folder the build leaves: the MSI, the ZIP, the bill of
# materials, the source archive, the MSI's winget manifest and the sums of those,
# nothing else; in
# the ZIP exactly the launcher as built, the installation text, the
# notices and the product's own file, if its table gives one; beside the
# folder the test kit, with that same launcher and notices. The launcher links no image codec and no zlib. The notices, in the
# MSI and the ZIP, must name every component the link shows, carry the
# components' own licence files, the notices of the headers compiled in, what
# of JUCE is modified and when, and, like INSTALL.txt and the MSI's
# Add/Remove Programs entry, the family's address where the source is
# published. The source archive must hold every file of the tree unchanged
# and the Debian source packages of the components that are no System
# Library, each unpacking with dpkg-source. The bill of materials must be
# valid SPDX 2.3, name the release's files and what they contain, and every
# component compiled into the launcher with one purl, which read as a scanner
# reads it names a Debian source and version that exist, and the manifest's
# files; the CycloneDX one must be valid CycloneDX 1.6, and both read as the common scanners read them
# (read-as-scanners.py). reuse lint and reuse spdx in the unpacked archive give every file a licence. The winget manifest must be
# valid by winget's schemas, each value the one the MSI it names, the family,
# the bill of materials and the changelog give. What make-release.sh cannot account for stops it with
# a message naming it and leaves no release folder; a release of a clean tree
# is unmarked, one of uncommitted changes is refused or, when allowed, marked.
# Usage: check-package.sh PRODUCT DEPS_FOLDER SOURCE_DIR
#   PRODUCT: the product's description (build/windows-x86/products/NAME/NAME.product)
set -uo pipefail

product=$1
deps=$2
source_dir=$3
release_sh="$(dirname "$0")/../../installer/release.sh"
value_of() { "$release_sh" describe "$product" "$1"; }
name=$(value_of name)
version=$(value_of version)
launcher=$(value_of launcher)
executable=$(value_of executable).exe
release=$(value_of release)
kit=$(value_of kit)
components=$(value_of components)
address=$(value_of releases_address)
support=$(value_of support_address)
home=$(value_of home_address)
manufacturer=$(value_of manufacturer)
here=$(cd "$(dirname "$0")" && pwd)
make_release="$here/../../installer/make-release.sh"
# What the product ships, as its payload declares it.
zip_names=$("$release_sh" payload "$product" --zip)
kit_names=$("$release_sh" payload "$product" --kit)
msi_files=$("$release_sh" payload "$product" --msi-files)
# shellcheck source=../support/expect.sh
source "$here/../support/expect.sh"
# The SPDX project's JSON schema of SPDX 2.3 (.reuse/dep5 says where it comes from).
schema="$here/spdx-2.3.schema.json"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The build releases the tree as it is: a test release, marked as one, when
# it holds changes that are not committed.
commit=$(git -C "$source_dir" rev-parse HEAD)
if [ -n "$(git -C "$source_dir" status --porcelain)" ]; then
    uncommitted=yes
    comments="Test release, made from changes not committed on top of commit $commit: starts $(value_of host) for $name."
else
    uncommitted=no comments="Starts $(value_of host) for $name."
fi
zip="$name-$version-win32.zip"
msi="$release/$name-$version.msi"
sbom="$release/$name-$version.spdx.json"
source_archive="$name-$version-source.tar.xz"
notices=THIRD-PARTY-NOTICES.txt
cdx="$release/$name-$version.cdx.json"
release_files=("$name-$version-source.tar.xz" "$name-$version-win32.zip" "$name-$version.msi" "$name-$version.spdx.json"
    "$name-$version.cdx.json")
sums="$name-$version.SHA256SUMS"
# The build releases unsigned, and says so beside the sums.
unsigned_note="$name-$version.UNSIGNED.txt"
winget="$name-$version.winget"
manifests=("$winget/$manufacturer.$name.yaml" "$winget/$manufacturer.$name.installer.yaml"
    "$winget/$manufacturer.$name.locale.en-US.yaml")
expect "contents of the release folder" \
    "$(printf '%s\n' "${release_files[@]}" "$sums" "$unsigned_note" "$winget" "${manifests[@]}" | LC_ALL=C sort \
        | paste -sd ' ')" \
    "$(find "$release" -mindepth 1 -printf '%P\n' | LC_ALL=C sort | paste -sd ' ')"
expect "the sums name the five, the manifest and the note that the release is not signed" \
    "$(printf '%s\n' "${release_files[@]}" "${manifests[@]}" "$unsigned_note" | LC_ALL=C sort | paste -sd ' ')" \
    "$(cut -d' ' -f3 "$release/$sums" | LC_ALL=C sort | paste -sd ' ')"
expect "the sums match them" "yes" "$(cd "$release" && yes_if sha256sum --quiet -c "$sums")"

# No image codec and no zlib: neither given to the link nor kept by it.
expect "the launcher's link map names no libpng, libjpeg or zlib" "" \
    "$(grep -oiE '[^ /(]*(png|jpeg|jpg|libz|zlib)[^ /()]*\.(a|o|obj)' "$(dirname "$components")/$(value_of executable).map" | sort -u)"

mkdir "$work/zip" "$work/kit" "$work/msi"
(cd "$work/zip" && cmake -E tar xf "$release/$zip")
expect "contents of $zip, in the payload's order" "$(paste -sd ' ' <<<"$zip_names")" \
    "$(unzip -Z1 "$release/$zip" | paste -sd ' ')"
expect "the launcher is the one built" "yes" "$(yes_if cmp -s "$launcher" "$work/zip/$executable")"
expect "INSTALL.txt speaks of the product, leaves no placeholder, and says the release is not signed" "yes no yes" \
    "$(yes_if grep -q "$executable starts the host program" "$work/zip/INSTALL.txt") $(yes_if grep -q @ "$work/zip/INSTALL.txt"
        ) $(yes_if grep -q '^This release is not signed\.' "$work/zip/INSTALL.txt")"
# Older Notepad shows a text with bare LF line ends as one line.
for text in INSTALL.txt "$notices"; do
    expect "$text: lines not ending in CR LF" 0 "$(grep -cv $'\r$' "$work/zip/$text")"
done
(cd "$work/kit" && cmake -E tar xf "$kit")
expect "the test kit beside the folder holds the payload's files for it, as the ZIP has them" "" \
    "$(while IFS= read -r file; do [ ! -e "$work/zip/$file" ] || cmp -s "$work/zip/$file" "$work/kit/$file" || echo "$file"
        done <<<"$kit_names")"
msiextract -C "$work/msi" "$msi" >/dev/null
expect "the MSI installs the payload's files in the product's folder, as the ZIP has them, and no other" \
    "$(cut -f1 <<<"$msi_files" | LC_ALL=C sort | paste -sd ' ')" \
    "$(find "$work/msi" -type f -path "*/$name/*" -printf '%f\n' | LC_ALL=C sort | paste -sd ' ')$(
        cut -f1 <<<"$msi_files" | while IFS= read -r file; do
        cmp -s "$work/zip/$file" "$(find "$work/msi" -name "$file" -path "*/$name/*")" || echo " differs: $file"; done)"
linked=$(cut -f1 "$components" | sort -u)
expect "the notices name every component of the link" "" \
    "$(while IFS= read -r component; do grep -qF "$component" "$work/zip/$notices" || echo "$component"; done <<<"$linked")"
tr -d '\r' <"$work/zip/$notices" >"$work/notices"
expect "the notices' list of components names no image codec and no zlib" "" \
    "$(sed -n '/^  Component /,/^$/p' "$work/notices" | grep -iE 'png|jpeg|zlib')"
expect "the notices carry each component's own licence files as shipped" "" \
    "$(find "$deps" -path '*/licence-files/*' -type f | while IFS= read -r file; do
        grep -qzF "$(cat "$file")" "$work/notices" || echo "$file"; done)"
# What the notices must hold beyond Debian's copyright files: the notices of
# the libstdc++ headers and JUCE module headers compiled in, JUCE's own terms,
# what of JUCE is modified and when (the commit's date), and an opening that
# says what the source archive holds. From the ZIP's notices and the MSI's.
commit_date=$(date -u -d "@$(git -C "$source_dir" log -1 --format=%ct)" +%F)
tar -xJOf "$deps"/juce/*.orig.tar.* --wildcards '*/LICENSE.md' >"$work/juce-licence"
for copy in "$work/zip/$notices" "$(find "$work/msi" -name "$notices" -path "*/$name/*")"; do
    tr -d '\r' <"$copy" >"$work/these-notices"
    expect "${copy#"$work/"}: the header notices, JUCE's terms, what is modified and when, what the source holds" "" \
        "$(for text in "Hewlett-Packard Company makes no" "Silicon Graphics makes no" \
            "Distributed under the Boost Software License" "Copyright (c) 2022 - Raw Material Software Limited" \
            "The code included in this file is provided under the terms of the ISC license" \
            "Modified: JUCE's module juce_graphics, as built into $executable, is" "(as of $commit_date)" \
            "Debian's whole source package juce" "only the .dsc of Debian's source packages gcc-12"; do
            tr '\n' ' ' <"$work/these-notices" | tr -s ' ' | grep -qF "$text" || echo "$text"; done
        grep -qzF "$(cat "$work/juce-licence")" "$work/these-notices" || echo "JUCE's LICENSE.md")"
done
expect "the notices and INSTALL.txt name where the source archive is published" "yes yes" \
    "$(yes_if grep -qxF "    $address$source_archive" "$work/notices") $(yes_if grep -qzF "$source_archive, published beside \
this ZIP"$'\r\n'"and the installer at"$'\r\n\r\n'"    $address"$'\r\n' "$work/zip/INSTALL.txt")"
msiinfo export "$msi" File | tail -n +4 | awk -F '\t' '$5 != "" { print $1 }' >"$work/versioned"
expect "no file hash for a versioned file (ICE60)" "" \
    "$(msiinfo export "$msi" MsiFileHash | tail -n +4 | cut -f1 | grep -xFf "$work/versioned")"
expect "Add/Remove Programs: what the product is, the family's addresses; the package's comments say the same" \
    "ARPCOMMENTS=$comments|ARPHELPLINK=$support|ARPURLINFOABOUT=$address|ARPURLUPDATEINFO=$address|Comments=$comments" \
    "$({ msiinfo export "$msi" Property | awk -F '\t' '$1 ~ /^ARP(URL|HELP|COMMENTS)/ { print $1 "=" $2 }'
        msiinfo export "$msi" _SummaryInformation | awk -F '\t' '$1 == 6 { print "Comments=" $2 }'; } | tr -d '\r' \
        | LC_ALL=C sort | paste -sd '|')"
expect "ARPINSTALLLOCATION is set to the install folder (type 51), after CostFinalize, before RegisterProduct" \
    "51 ARPINSTALLLOCATION [INSTALLFOLDER] yes" \
    "$(msiinfo export "$msi" CustomAction | awk -F '\t' '$3 == "ARPINSTALLLOCATION" { print $2, $3, $4 }') $(
        msiinfo export "$msi" InstallExecuteSequence | awk -F '\t' '{ at[$1] = $3 }
            END { print (at["CostFinalize"] < at["SetInstallLocation"] && at["SetInstallLocation"] < at["RegisterProduct"]) ? "yes" : "no" }')"

mkdir "$work/source" "$work/tree"
tar -xJf "$release/$source_archive" -C "$work/source"
packed="$work/source/$name-$version-source"
(cd "$source_dir" && git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf - 2>/dev/null) \
    | tar -x -C "$work/tree"
mapfile -t added_licences < <(comm -13 <(ls "$work/tree/LICENSES") <(ls "$packed/LICENSES"))
expect "the source archive holds every file of the tree unchanged, and nothing else of its own" "" \
    "$(diff -r --no-dereference "$work/tree" "$packed" -x debian-source-packages -x release-inputs \
        -x release-files.sha256 "${added_licences[@]/#/-x}" 2>&1)"
expect "its release-inputs: the commit, its time, whether it was a test release, the toolchain" \
    "$commit $(git -C "$source_dir" log -1 --format=%ct) $uncommitted $(dpkg-query -W -f='${Version}' wixl)" \
    "$(sed -n 's/^\(commit\|commit-time\|uncommitted-changes\) //p; s/^toolchain wixl //p' "$packed/release-inputs" | paste -sd ' ')"
expect "the notices and the bill of materials are marked as a test release's exactly when it is one" \
    "$uncommitted $uncommitted" "$(yes_if grep -q '^Test release, made from changes not committed' "$work/notices") \
$(yes_if grep -q '"comment": "Test release, made from changes not committed' "$sbom")"
expect "reuse lint passes in the unpacked source archive" 0 "$(cd "$packed" && reuse lint >/dev/null 2>&1; echo $?)"
# reuse concludes nothing (LicenseConcluded is NOASSERTION for every file); what
# each file says of itself, its Debian source packages' too, must be a licence.
expect "reuse spdx there: a licence of its own for every file, none NOASSERTION or a pointer elsewhere" "" \
    "$(cd "$packed" && reuse spdx 2>/dev/null | awk '/^FileName: / { if (file != "" && !licensed) print file; file = $2; licensed = 0 }
        /^LicenseInfoInFile: / { if ($2 == "NOASSERTION" || $2 == "NONE" || $2 ~ /Debian-source-package/) print file, $2; else licensed = 1 }
        END { if (file != "" && !licensed) print file }')"
mkdir "$work/unpacked"
unpacked=$(for dsc in "$packed"/debian-source-packages/*/*.dsc; do
    dpkg-source -x "$dsc" "$work/unpacked/$(basename "$dsc")" >/dev/null 2>&1 && basename "$dsc"; done)

year=$(date -u -d "@$(git -C "$source_dir" log -1 --format=%ct)" +%Y)
expect "the launcher's version resource: its company, and the copyright of the commit's year, GPL version 3" \
    "$manufacturer|Copyright (C) $year $manufacturer. Free software under the GNU GPL version 3." \
    "$("$release_sh" version-resource "$launcher" | sed -n 's/^\(CompanyName\|LegalCopyright\)=//p' \
        | paste -sd '|')"
expect "its manifest's identity carries the version" "version=\"$version.0\"" \
    "$(wrestool -x --raw -t24 "$launcher" | grep -o "<assemblyIdentity type=\"win32\" name=\"$manufacturer.$name\" version=\"[^\"]*\"" | grep -o 'version=.*')"

expect "the bill of materials is valid SPDX 2.3" "" "$(/usr/bin/python3 -c 'import json, sys, jsonschema
try:
    jsonschema.validate(json.load(open(sys.argv[1])), json.load(open(sys.argv[2])))
except jsonschema.ValidationError as error:
    print(error.message)' "$sbom" "$schema" 2>&1 | tail -n 1)"

# One "name<TAB>version<TAB>sha256<TAB>licence<TAB>first purl<TAB>file name" line
# for each package, one "path<TAB>sha256" line for each file, then one
# "relationship<TAB>from<TAB>to" line for each relationship, packages by name.
packages=$(python3 -c 'import json, sys
document = json.load(open(sys.argv[1]))
names = {p["SPDXID"]: p.get("name", p.get("fileName")) for p in document["packages"] + document.get("files", [])}
names["SPDXRef-DOCUMENT"] = "document"
for p in document["packages"]:
    sha256 = "".join(c["checksumValue"] for c in p.get("checksums", []) if c["algorithm"] == "SHA256")
    purls = [r["referenceLocator"] for r in p.get("externalRefs", []) if r["referenceType"] == "purl"]
    print(p["name"], p.get("versionInfo", ""), sha256 or "-", p["licenseConcluded"], (purls or ["-"])[0],
          p.get("packageFileName", "-"), sep="\t")
for f in document.get("files", []):
    print(f["fileName"], *(c["checksumValue"] for c in f["checksums"] if c["algorithm"] == "SHA256"), sep="\t")
for r in document["relationships"]:
    print(r["relationshipType"], names[r["spdxElementId"]], names[r["relatedSpdxElement"]], sep="\t")' "$sbom")
field() { awk -F '\t' -v name="$1" -v n="$2" 'NF == 6 && $1 == name { print $n }' <<<"$packages"; }
dsc_sha256() { sha256sum <"$deps/$1/$1_$2.dsc" | cut -d' ' -f1; }

# Every component of the link, and every Debian source package the source archive carries, which are those
# the components come from; the release's files, but for the bills themselves, which the document describes as files.
expect "the bill of materials lists the release's files, the launcher, every component and every source package" \
    "$( (printf '%s\n' "$name" "${release_files[@]}" | grep -v '\.\(spdx\|cdx\)\.json$'; cut -f1 "$components" | sort -u
        tar -tJf "$release/$source_archive" | sed -n 's|^[^/]*/debian-source-packages/\([^/]*\)/.*\.dsc$|\1|p') \
        | LC_ALL=C sort -f | paste -sd ' ')" \
    "$(awk -F '\t' 'NF == 6 { print $1 }' <<<"$packages" | LC_ALL=C sort -f | paste -sd ' ')"
expect "the release's files with their SHA-256" "" \
    "$(for file in "${release_files[@]}"; do [[ $file == *.spdx.json || $file == *.cdx.json ]] \
        || [ "$(field "$file" 3)" = "$(sha256sum <"$release/$file" | cut -d' ' -f1)" ] || echo "$file"; done)"
# What the MSI and the ZIP hold, as the payload declares it: the launcher as its package, the rest as files.
contained() { while IFS= read -r file; do echo "CONTAINS $1 $([ "$file" = "$executable" ] && echo "$name" || echo "./$file")"
    done; }
expect "the MSI and the ZIP contain the payload's files, the launcher generated from the source archive" \
    "$({ contained "$zip" <<<"$zip_names"; cut -f1 <<<"$msi_files" | contained "$name-$version.msi"
        echo "CONTAINS $name-$version.msi ./product.ico"; echo "GENERATED_FROM $name $source_archive"; } \
        | LC_ALL=C sort | paste -sd '|')" \
    "$(awk -F '\t' -v name="$name" 'NF == 3 && ($1 == "CONTAINS" || ($1 == "GENERATED_FROM" && $2 == name)) {
        print $1, $2, $3 }' <<<"$packages" \
        | LC_ALL=C sort | paste -sd '|')"
# The file the product table gives this product alone: in its ZIP, its MSI and its bill, as it is.
extra_file=$(value_of extra_file)
if [ -n "$extra_file" ]; then
    extra_name=${extra_file##*/} extra_sha256=$(sha256sum <"$extra_file" | cut -d' ' -f1)
    expect "its own file $extra_name: in the ZIP, in the MSI's install folder and in the bill, as it is" "yes yes yes" \
        "$(yes_if cmp -s "$extra_file" "$work/zip/$extra_name") $(yes_if cmp -s "$extra_file" "$(find "$work/msi" \
            -name "$extra_name" -path "*/$name/*")") $(yes_if grep -qxF "./$extra_name"$'\t'"$extra_sha256" <<<"$packages")"
fi
# As the common scanners read the bills (Syft and grype, OSV, Dependency-Track), from the documents alone.
expect "read as scanners read them, every purl names a Debian source and version that exist, none twice" "" \
    "$(/usr/bin/python3 "$here/read-as-scanners.py" "$sbom" "$cdx" "$here/cyclonedx-1.6" "$deps" 2>&1)"
expect "it names the launcher's version and SHA-256, and the licence of the whole program" \
    "$version $(sha256sum <"$launcher" | cut -d' ' -f1) GPL-3.0-only" "$(field "$name" 2) $(field "$name" 3) $(field "$name" 4)"
expect "the launcher holds the JUCE version the bill names" yes \
    "$(yes_if grep -qaF "JUCE v$(field JUCE 2 | sed 's/+.*//')" "$launcher")"
built_using=$(dpkg-query -W -f='${Built-Using}' gcc-mingw-w64-i686-posix | sed 's/^\([^ ]*\) (= \(.*\))$/\1 \2/')
expect "libgcc and libstdc++: the gcc source Debian built them from, upstream in their purl, with its .dsc's SHA-256" \
    "$(for c in libgcc libstdc++; do
        echo "upstream=${built_using% *}%40${built_using#* } $(dsc_sha256 "${built_using% *}" "${built_using#* }")"
    done | sed 's/+/%2B/g' | paste -sd ' ')" \
    "$(for c in libgcc libstdc++; do echo "$(field "$c" 5 | grep -o 'upstream=[^&#]*') $(field "$c" 3)"; done | paste -sd ' ')"
expect "winpthreads' licence, concluded from its own COPYING" "MIT AND BSD-3-Clause" "$(field winpthreads 4)"
expect "the bill of materials names each manifest file with its SHA-256, a metafile of the MSI, and the CycloneDX bill" \
    "$(cd "$release" && { sha256sum "${manifests[@]}" | awk -v msi="$name-$version.msi" '{ print "./" $2, $1
        print "METAFILE_OF ./" $2, msi }'; sha256sum "${cdx##*/}" | awk '{ print "./" $2, $1 }'; } | sort)" \
    "$(awk -F '\t' '(NF == 2 && $1 ~ /\.(winget\/|cdx\.json)/) || $1 == "METAFILE_OF" { $1 = $1; print }' <<<"$packages" \
        | sort)"
# The source packages in the archive are those the bill names, but for the compiler's run-time.
expect "the source archive holds the Debian source package of each component but the run-time, each unpacking" \
    "$(awk -F '\t' 'NF == 6 && $1 == "JUCE" { print $6 }' <<<"$packages")" "$unpacked"

# The winget manifest, read as winget reads YAML, against winget's own schemas and the MSI's tables: its
# install folder is the folder of the launcher's component, a secure public property winget may set.
for table in Property File Component; do msiinfo export "$msi" "$table" | tr -d '\r' >"$work/msi-$table"; done
expect "the winget manifest is valid, and says what the MSI, the family, the bill and the changelog say" "" \
    "$(/usr/bin/python3 - "$release/$winget/$manufacturer.$name" "$here/winget-1.10.0" "$work/msi-" \
        "$(sha256sum <"$msi" | cut -d' ' -f1)" "$address" "$support" "$(field "$name" 4)" "$source_dir/CHANGELOG.md" \
        "$name $version" "$home" "$executable" "%ProgramData%\\$(value_of host_folder)\\$(value_of host)" <<'EOF' 2>&1
import json, sys, jsonschema, yaml
manifest, schemas, tables, sha256, address, support, licence, changelog, release, home, executable, host = sys.argv[1:]
kinds = {"version": "", "installer": "installer.", "defaultLocale": "locale.en-US."}
read = {kind: yaml.safe_load(open(f"{manifest}.{part}yaml", encoding="utf-8")) for kind, part in kinds.items()}
for kind, document in read.items():
    for error in jsonschema.Draft7Validator(json.load(open(f"{schemas}/manifest.{kind}.1.10.0.json"))).iter_errors(document):
        print(f"{kind}: {error.message}")
rows = {t: [line.split("\t") for line in open(tables + t).read().splitlines()[3:]] for t in ("Property", "File", "Component")}
msi = {row[0]: row[1] for row in rows["Property"]}
component = next(row[1] for row in rows["File"] if row[2].split("|")[-1] == executable)
folder = next(row[2] for row in rows["Component"] if row[0] == component)
installer, locale = read["installer"]["Installers"][0], read["defaultLocale"]
notes = open(changelog, encoding="utf-8").read().partition(f"\n## {release}\n")[2].split("\n## ")[0].strip("\n")
said = [*(d[k] for d in read.values() for k in ("PackageIdentifier", "PackageVersion")),
        *(installer[k] for k in ("Architecture", "InstallerType", "Scope", "UpgradeBehavior", "ProductCode", "InstallerUrl")),
        installer["InstallerSha256"].lower(), installer["AppsAndFeaturesEntries"], installer["InstallerSwitches"],
        folder in msi["SecureCustomProperties"].split(";") and folder.isupper(), *(locale[k] for k in (
            "Publisher", "PublisherUrl", "PublisherSupportUrl", "PackageName", "License", "LicenseUrl", "ShortDescription",
            "ReleaseNotes")), host in locale["InstallationNotes"]]
meant = [*[f"{msi['Manufacturer']}.{msi['ProductName']}", msi["ProductVersion"]] * 3, "x86", "msi", "machine", "install",
         msi["ProductCode"], f"{address}{msi['ProductName']}-{msi['ProductVersion']}.msi", sha256, [{
             "DisplayName": msi["ProductName"], "Publisher": msi["Manufacturer"], "DisplayVersion": msi["ProductVersion"],
             "ProductCode": msi["ProductCode"], "UpgradeCode": msi["UpgradeCode"]}],
         {"InstallLocation": f'{folder}="<INSTALLPATH>"', "Log": '/l*v "<LOGPATH>"'}, True,
         msi["Manufacturer"], home, support, msi["ProductName"], licence, f"https://spdx.org/licenses/{licence}.html",
         msi["ARPCOMMENTS"], notes or f'No release notes: CHANGELOG.md has no section "## {release}".', True]
print(*(f"{value!r}, not {wanted!r}" for value, wanted in zip(said, meant) if value != wanted), sep="\n", end="")
EOF
)"

# Bad input keeps its shape: the release stops, says what it is, and leaves no folder.
mkdir "$work/bin"
installed=$(dpkg-query -W -f='${Version}' mingw-w64-i686-dev)
newer="$installed+deb12u99"
printf '#!/bin/sh\n/usr/bin/apt-cache "$@"\n%s\n' \
    "case \" \$* \" in *\" mingw-w64-i686-dev \"*) printf '\\nPackage: mingw-w64-i686-dev\\nVersion: $newer\\n\\n';; esac" \
    >"$work/bin/apt-cache"
chmod +x "$work/bin/apt-cache"
sed '/^releases_address=/d' "$product" >"$work/without-address.product"
sed '/^support_address=/d' "$product" >"$work/without-support.product"
sed 's|^support_address=.*|support_address=ftp://orvanel.example/support/|' "$product" >"$work/ftp-support.product"
sed 's/^manufacturer=.*/manufacturer=Orvanel Ltd./' "$product" >"$work/spaced-manufacturer.product"
winpthreads_licence=mingw-w64/licence-files/mingw-w64-libraries/winpthreads/COPYING
# Copies of the folder itself where it is a link to one (a clone's build/deps may be), not of the
# link: what the cases remove and change below must not reach the folder every release reads.
for case in without-juce without-licence changed-licence; do
    cp -RH "$deps" "$work/$case"
done
rm -r "$work/without-juce/juce" "$work/without-licence/$winpthreads_licence"
echo "changed" >>"$work/changed-licence/$winpthreads_licence"
# Each line: what is wrong, what the message must name, the environment it
# runs in (an apt-cache whose lists name a newer revision), the product's
# description and the folder of Debian's source packages (by default the
# build's). Paths may hold spaces.
while IFS='|' read -r what missing environment description sources; do
    status=0
    message=$(env ${environment:+"$environment"} "$make_release" --out "$work/partial" --allow-uncommitted \
        --product "$description" ${sources:+--deps "$sources"} 2>&1 >/dev/null) || status=$?
    expect "$what: refused, naming it, and nothing made" "1 yes no" \
        "$status $(yes_if grep -qF -- "$missing" <<<"$message") $(yes_if test -e "$work/partial")"
done <<CASES
without Debian's source package juce|Debian's source package juce ||$product|$work/without-juce
without winpthreads' licence file|$work/without-licence/$winpthreads_licence||$product|$work/without-licence
with winpthreads' licence file changed|licence file mingw-w64-libraries/winpthreads/COPYING in Debian's source package mingw-w64 is not the text||$product|$work/changed-licence
without the family's address|gives no releases address||$work/without-address.product|
without the family's support address|gives no support address||$work/without-support.product|
with a support address winget refuses|PublisherSupportUrl 'ftp://orvanel.example/support/' does not match||$work/ftp-support.product|
with a manufacturer no winget identifier takes|manufacturer 'Orvanel Ltd.' (MANUFACTURER in products/family.cmake) cannot be part of a winget package identifier||$work/spaced-manufacturer.product|
while Debian lists a newer revision|mingw-w64-i686-dev $newer, newer than $installed|PATH=$work/bin:$PATH|$product|
dated otherwise than the commit|SOURCE_DATE_EPOCH is 1, not the time of the commit|SOURCE_DATE_EPOCH=1|$product|
CASES

# A link map: a line it does not know, an input of a package no component is
# known to come from, and one that is no file, each stop the list, naming it.
map="$(dirname "$components")/$(value_of executable).map"
own="$(dirname "$components")/own-libraries"
build_dir=$(cd "$(dirname "$components")/../.." && pwd)
for case in "GARBAGE IN THE MAP|nothing this reader knows: 'GARBAGE IN THE MAP'" \
    " .text          0x00401000       0x10 /usr/lib/x86_64-linux-gnu/libz.a(adler32.o)|package zlib1g-dev" \
    " .text          0x00401000       0x10 no such file.obj|names no such file.obj, which is no file here"; do
    { cat "$map"; echo "${case%%|*}"; } >"$work/odd.map"
    status=0
    message=$("$release_sh" components "$work/odd.map" "$own" "$build_dir" 2>&1 >/dev/null) \
        || status=$?
    expect "a link map with '${case%%|*}': refused, naming it" "1 yes" "$status $(yes_if grep -qF -- "${case#*|}" <<<"$message")"
done

# The release of a clean tree is unmarked; a tree with a file git neither
# keeps nor ignores is refused, and with --allow-uncommitted released as a
# test release, marked, its source archive holding the file; of its commit
# tagged as the version, refused unsigned but with --unsigned; of a later
# commit, the version being tagged, refused. In a clone of the tree as it
# is, with it committed.
clone="$work/clone"
git clone --quiet --shared "$source_dir" "$clone" && git -C "$clone" checkout --quiet --detach "$commit" || exit 1
git -C "$source_dir" diff --binary HEAD | git -C "$clone" apply --allow-empty || exit 1
(cd "$source_dir" && git ls-files --others --exclude-standard -z | xargs -0 -r cp --parents -t "$clone") || exit 1
# Its lock at this machine's versions, as a tagged release's must be.
"$clone/installer/release.sh" bump-lock --downgrade >/dev/null || exit 1
git -C "$clone" add -A && git -C "$clone" -c user.name=check -c user.email=check@example.invalid commit --quiet \
    --allow-empty -m "The tree as it is" || exit 1
marks() {
    local folder="$1/$name"
    tar -xJOf "$folder/$source_archive" "$name-$version-source/release-inputs" | sed -n 's/^uncommitted-changes //p'
    unzip -p "$folder/$zip" "$notices" | grep -c '^Test release'
    msiinfo export "$folder/$name-$version.msi" Property | grep -c $'^ARPCOMMENTS\tTest release'
    tar -tJf "$folder/$source_archive" | grep -cx "$name-$version-source/untracked file"
}
for case in "clean:no 0 0 0:" "untracked:refused:" "untracked:yes 1 1 1:--allow-uncommitted" "tagged:refused:" \
    "tagged:no 0 0 0:--unsigned"; do
    IFS=: read -r tree expected option <<<"$case"
    [ "$tree" != untracked ] || echo "not committed" >"$clone/untracked file"
    [ "$tree" != tagged ] || { rm -f "$clone/untracked file" && git -C "$clone" tag -f "$name-$version" >/dev/null; }
    rm -rf "${work:?}/$tree"
    # An earlier version's release there, its manifest folder with it, which the release replaces.
    [ "$tree" != clean ] || { mkdir -p "$work/clean/$name/$name-0.9.0.winget" && touch "$work/clean/$name/$name-0.9.0.msi" \
        "$work/clean/$name/$name-0.9.0.winget/$manufacturer.$name.yaml"; }
    # shellcheck disable=SC2086
    "$clone/installer/make-release.sh" --product "$product" --deps "$deps" --out "$work/$tree" $option >/dev/null 2>&1
    expect "a release of a $tree tree ${option:-without options}" "$expected" \
        "$(if [ -d "$work/$tree" ]; then marks "$work/$tree" | paste -sd ' '; else echo refused; fi)"
done
expect "an earlier version's files, its manifest folder too, are gone from the folder released into" "no no" \
    "$(yes_if test -e "$work/clean/$name/$name-0.9.0.msi") $(yes_if test -e "$work/clean/$name/$name-0.9.0.winget")"
# One build per version: other bytes under the tagged version's name are refused.
echo later >"$clone/later" && git -C "$clone" add later &&
    git -C "$clone" -c user.name=check -c user.email=check@example.invalid commit --quiet -m "Later" || exit 1
status=0
message=$("$clone/installer/make-release.sh" --product "$product" --deps "$deps" --out "$work/later" --unsigned \
    2>&1 >/dev/null) || status=$?
expect "a second build of the tagged version, from a later commit: refused, naming the tag, and nothing made" \
    "1 yes no" "$status $(yes_if grep -qF "$name-$version is tagged at" <<<"$message") $(yes_if test -e "$work/later")"

[ "$failures" -eq 0 ]
