#!/usr/bin/env bash
# Checks a release as a publisher's QA or a reviewer would:
#
#   scripts/verify-release.sh DIR [--rebuild [--trust REF]]
#
#   LAUNCHER_SIGN_ROOTS       a PEM file of the roots to trust (the CA's and the
#                             time-stamp authority's)
#   LAUNCHER_SIGNER           SHA-256 fingerprints of the publisher's signing
#                             certificates, separated by spaces or commas
#   LAUNCHER_ALLOW_UNSTAMPED  1: accept signatures without a time stamp
#   LAUNCHER_GAME_FILES       for --rebuild, the folder the game's files came from
#
# The release is untrusted input: nothing in DIR but what its manifest.json
# lists, every file against it and SHA256SUMS, every signature by a pinned
# signer (with LAUNCHER_SIGN_ROOTS and LAUNCHER_SIGNER, both or neither), and
# with --rebuild a rebuild of its commit, once that commit is known to be in
# the history of HEAD (or of REF). Exits 0 only when everything holds;
# otherwise one line starting "verify-release:" names the first thing that
# does not. The work is done by the release tool in release/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
PYTHONPATH=$root exec /usr/bin/python3 -P -m release verify "$@"
