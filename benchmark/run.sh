#!/usr/bin/env bash
# Usage: benchmark/run.sh [--product NAME]
# The benchmark of a product's launcher (by default the product table's
# first): builds what it needs, then, in a Wine session of its own, times how
# long a parent waits from starting the launcher to the host's main
# (TimeToHost.exe), against the host started directly and the bare stub, and
# lists the modules the launcher and the stub map before handing over.
# Assumes tools/setup.sh has run. Prints figures; exits non-zero only when
# something could not be measured.
# shellcheck disable=SC2154  # option_product: usage.sh sets it from the usage line
set -euo pipefail

# shellcheck source=../tools/usage.sh
source "$(dirname "$0")/../tools/usage.sh" "$@"
build="$repo/build/windows-x86"
bin="$build/bin"
out="$repo/build/benchmark"
# A prefix of its own: the session ends its Wine server on exit, and the tests'
# prefix may be in use.
export WINEPREFIX="$out/wine-prefix"

# shellcheck source=../tools/wine-product.sh
source "$repo/tools/wine-product.sh"

if ! in_wine_session; then
    cd "$repo"
    cmake --preset windows-x86 >/dev/null
    description=$(product_description "$build" "$option_product") || exit 2
    cmake --build --preset windows-x86 --target TimeToHost "$(product_value "$description" executable)"
    mkdir -p "$out"
fi
carry_on_in_wine_session "$@"
use_product "$(product_description "$build" "$option_product")"
measured=${product_executable%.exe}

# A launcher that crashes then ends at once, rather than behind Wine's crash
# dialog until the driver's patience runs out.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1

status=0
wine "$bin/TimeToHost.exe" "$product_executable" || status=1

for launcher in "$measured" BareStub; do
    "$repo/harness/modules.sh" "$product" "$bin/$launcher.exe" >"$out/$launcher.modules" || status=1
    printf '\nModules %s.exe maps before handing over (%d):\n' "$launcher" "$(wc -l <"$out/$launcher.modules")"
    sed 's/^/  /' "$out/$launcher.modules"
done

printf '\nModules %s.exe maps that BareStub.exe does not (%d), each justified in tests/e2e/hand-over-modules.txt:\n' \
    "$measured" "$(comm -23 "$out/$measured.modules" "$out/BareStub.modules" | wc -l)"
comm -23 "$out/$measured.modules" "$out/BareStub.modules" | sed 's/^/  /'
exit "$status"
