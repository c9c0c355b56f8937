#!/usr/bin/env bash
# Installs everything the build and the tests need, and builds the cross
# target's libpng and libjpeg-turbo from Debian's source packages.
# Idempotent: a second run installs nothing and builds nothing.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
deps="$repo/build/deps"
prefix="$deps/mingw-i686"

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

packages=(
    cmake ninja-build g++ zlib1g-dev googletest
    clang-14 libclang-rt-14-dev
    g++-mingw-w64-i686-posix binutils-mingw-w64-i686 libz-mingw-w64-dev
    juce-modules-source-data
    wine wine32:i386 xvfb xauth xdotool
    icoutils imagemagick file
    openssl osslsigncode
    wixl msitools fonts-wine
)

missing_packages() {
    local p
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
    done
}

apt_updated=0
apt_update_once() {
    [ "$apt_updated" -eq 1 ] && return
    as_root apt-get update -qq
    apt_updated=1
}

install_packages() {
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        as_root dpkg --add-architecture i386
    fi
    local missing
    missing=$(missing_packages)
    [ -z "$missing" ] && return
    apt_update_once
    # shellcheck disable=SC2086
    as_root apt-get install -y -qq --no-install-recommends $missing
}

# Source entries mirror the binary ones, so no archive address is written here.
enable_source_packages() {
    local list=/etc/apt/sources.list.d/debian.sources
    local src=/etc/apt/sources.list.d/tessalune-deb-src.sources
    [ -f "$src" ] && return
    sed -e 's/^Types:.*/Types: deb-src/' "$list" | as_root tee "$src" >/dev/null
    apt_updated=0
}

# A mirror has been seen to answer 404 for the newest .dsc while older listed
# versions download whole, so every listed version is tried in turn.
download_source() {
    local pkg=$1 dir=$2 version
    mkdir -p "$dir"
    ls "$dir"/*.orig.tar.* >/dev/null 2>&1 && return
    (cd "$dir" && apt-get source --download-only -qq "$pkg" >/dev/null 2>&1) && return
    for version in $(apt-cache showsrc "$pkg" | sed -n 's/^Version: //p'); do
        (cd "$dir" && apt-get source --download-only -qq "$pkg=$version" >/dev/null 2>&1) && return
    done
    ls "$dir"/*.orig.tar.* >/dev/null 2>&1 || { echo "could not download source of $pkg" >&2; exit 1; }
}

unpack_source() {
    local dir=$1
    rm -rf "$dir/src"
    mkdir -p "$dir/src"
    tar -xf "$(ls "$dir"/*.orig.tar.* | head -n 1)" -C "$dir/src" --strip-components=1
}

# Each function in a section of its own and no unwind tables (C code throws
# nothing), so the launcher's linker can leave out what it never reaches: the
# PE linker keeps every function that has an unwind entry.
cross_c_flags="-ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables"
# Bumped whenever the way these libraries are built changes, so they are rebuilt.
cross_build_recipe="2 $cross_c_flags"

cross_build() {
    local src=$1; shift
    cmake -S "$src" -B "$src/_build" -G Ninja -Wno-dev \
        -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_C_FLAGS="$cross_c_flags" -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DCMAKE_PREFIX_PATH="$prefix" "$@" >/dev/null
    cmake --build "$src/_build" >/dev/null
    cmake --install "$src/_build" >/dev/null
}

build_cross_libraries() {
    local stamp="$prefix/build-recipe"
    [ -f "$prefix/lib/libpng16.a" ] && [ -f "$prefix/lib/libjpeg.a" ] && [ -f "$prefix/include/jpegint.h" ] \
        && [ "$(cat "$stamp" 2>/dev/null)" = "$cross_build_recipe" ] && return
    rm -rf "$prefix"
    enable_source_packages
    apt_update_once
    download_source libjpeg-turbo "$deps/libjpeg-turbo"
    unpack_source "$deps/libjpeg-turbo"
    # A fixed build name: by default it is the day of the build, which would
    # end up in the launcher and make two builds differ.
    cross_build "$deps/libjpeg-turbo/src" -DWITH_SIMD=0 -DENABLE_SHARED=0 -DWITH_TURBOJPEG=0 -DBUILD=debian-source
    # JUCE's JPEG loader reaches into the library's internals.
    cp "$deps/libjpeg-turbo/src/jpegint.h" "$prefix/include/"
    download_source libpng1.6 "$deps/libpng"
    unpack_source "$deps/libpng"
    cross_build "$deps/libpng/src" -DPNG_SHARED=OFF -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF
    echo "$cross_build_recipe" >"$stamp"
}

install_packages
build_cross_libraries
