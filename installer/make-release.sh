#!/usr/bin/env bash
# Makes each product's release: its MSI, ZIP, bill of materials, source
# archive, sums and test kit (make-release.sh --help). The release package,
# installer/release/, does it; this keeps the name the documentation gives.
exec "$(dirname "$0")/release.sh" make "$@"
