#!/usr/bin/env bash
# Builds a release from a clean build folder and puts it in dist/: the
# players' installer NAME-setup.exe, the launcher and its doctor, the
# uninstaller the installer carries, SHA256SUMS and manifest.json. Branding
# options pass through to CMake, and only they, for example:
#
#   LAUNCHER_GAME_FILES=~/skyquest/game scripts/release.sh -DLAUNCHER_EXE_NAME=skyquest -DLAUNCHER_VERSION=2.1.0.0
#
# --out DIR, before the options, puts the release in DIR instead, built in
# DIR-build beside it; DIR is replaced only when it is empty or holds a release.
#
#   LAUNCHER_GAME_FILES          a folder whose whole tree the installer puts
#                                beside the launcher (play.url, fscommand\wgame.exe, ...)
#
# With a publisher's certificate every program is signed (Authenticode,
# SHA-256), from the environment only. Either a PKCS#12 file:
#   LAUNCHER_SIGN_PFX            path of the .pfx, the certificate's chain inside
#   LAUNCHER_SIGN_PASSWORD       its password (may be empty)
# or a key on a token or in a cloud HSM, through its PKCS#11 library:
#   LAUNCHER_SIGN_PKCS11_MODULE  the PKCS#11 library
#   LAUNCHER_SIGN_KEY            the key's pkcs11: URI (RFC 7512)
#   LAUNCHER_SIGN_CERT           PEM file: the signing certificate, then its intermediates
#   LAUNCHER_SIGN_PIN            the PIN
# and for both:
#   LAUNCHER_SIGN_TIMESTAMP_URL  RFC 3161 servers, separated by spaces, tried in order
#   LAUNCHER_SIGN_ROOTS          PEM file of the roots signatures and time stamps must
#                                reach; without it, the system's CA bundle
#
# An icon from outside the checkout travels in the release as NAME.ico,
# listed with its hash, so that a rebuild reads only its commit and the release.
#
# dist/ (or DIR) is replaced only when everything succeeded; any refusal or failure
# prints one line starting "release:" and exits non-zero. The work is done
# by the release tool in release/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
PYTHONPATH=$root exec /usr/bin/python3 -P -m release make "$@"
