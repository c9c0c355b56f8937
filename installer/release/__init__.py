"""The release of each product of the family: its MSI, ZIP, notices, bill of
materials, Corresponding Source, sums and Windows test kit, made from the
product's description and launcher as the build writes them.

installer/release.sh runs it: `release.sh make ...` is the release
(installer/make-release.sh keeps that name), and the other subcommands answer
the scripts that check and show a release (`release.sh --help`).
"""
