"""`python3 -m release`: installer/release.sh runs it."""

import sys

from .cli import main

sys.exit(main(sys.argv[1:]))
