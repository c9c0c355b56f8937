#!/usr/bin/env bash
# Runs the release package (installer/release/): `release.sh make` makes
# releases (make-release.sh runs it), and the other commands answer the
# scripts that check and show one (`release.sh --help`). Debian's own Python,
# whose version the toolchain lock names, not whichever comes first on PATH;
# no compiled module is written into the source tree.
here=$(cd "$(dirname "$0")" && pwd -P)
PYTHONPATH="$here${PYTHONPATH:+:$PYTHONPATH}" exec /usr/bin/python3 -B -m release "$@"
