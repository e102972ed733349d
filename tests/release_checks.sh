#!/usr/bin/env bash
# Checks of what a publisher ships: bad branding stops the configure with one
# line; a branded build carries what was configured and still runs; two clean
# builds in two folders are byte-identical; the release command signs, refuses
# bad certificates with one line and no dist/, and removing its signature
# gives back the unsigned exe. Needs build/win (scripts/build.sh) and the Wine
# prefix under build/e2e. Ends with "N passed, M failed".
set -uo pipefail
cd "$(dirname "$0")/.."
python=/usr/bin/python3  # Debian's, which has python3-pefile
work=build/release-checks
rm -rf "$work" dist
mkdir -p "$work"
passed=0
failed=0

check() {  # check NAME COMMAND...: passes when COMMAND succeeds
  local name=$1
  shift
  if "$@" >"$work/check.log" 2>&1; then
    echo "ok   $name"
    passed=$((passed + 1))
  else
    echo "FAIL $name"
    tail -8 "$work/check.log" | sed 's/^/       /'
    failed=$((failed + 1))
  fi
}

# --- bad branding: the configure stops, and one line says what and why -------
printf 'NOTANICON' >"$work/not-an-icon.ico"
printf '\0\0\1\0\0\0' >"$work/no-image.ico"
head -c 6 res/launcher.ico >"$work/cut-short.ico"
# One image of 1000 bytes at offset 22, in a file of 32.
printf '\0\0\1\0\1\0\20\20\0\0\1\0\40\0\350\3\0\0\26\0\0\0xxxxxxxxxx' >"$work/damaged.ico"
bad_configure() {  # bad_configure EXPECTED CMAKE-ARG
  rm -rf "$work/configure"
  ! cmake -S . -B "$work/configure" -G Ninja "$2" >"$work/configure.log" 2>&1 &&
    grep -A1 'CMake Error' "$work/configure.log" | grep -q -- "$1" &&
    [ "$(grep -A1 'CMake Error' "$work/configure.log" | grep -c -- "$1")" -eq 1 ] ||
    { cat "$work/configure.log"; return 1; }
}
while IFS='|' read -r expected argument; do
  check "configure refuses $argument" bad_configure "$expected" "$argument"
done <<EOF
contains 'msedge': the launcher's own process|-DLAUNCHER_EXE_NAME=MSEdgeGames
contains 'launcher'|-DLAUNCHER_EXE_NAME=GameLauncher
contains 'update': Windows would take it for an installer|-DLAUNCHER_EXE_NAME=AutoUpdater
is not a plain file name|-DLAUNCHER_EXE_NAME=games/start
ends in .exe|-DLAUNCHER_EXE_NAME=play.exe
is a device name that Windows reserves|-DLAUNCHER_EXE_NAME=con
does not exist or is not a file|-DLAUNCHER_ICON=$work/absent.ico
lacks the ICO header|-DLAUNCHER_ICON=$work/not-an-icon.ico
holds no image|-DLAUNCHER_ICON=$work/no-image.ico
is cut short|-DLAUNCHER_ICON=$work/cut-short.ico
image 0 lies outside the file|-DLAUNCHER_ICON=$work/damaged.ico
is not four numbers|-DLAUNCHER_VERSION=2.0
above 65535|-DLAUNCHER_VERSION=1.0.65536.0
LAUNCHER_PRODUCT_NAME is empty|-DLAUNCHER_PRODUCT_NAME=
LAUNCHER_COMPANY holds a control character|-DLAUNCHER_COMPANY=$(printf 'A\tB')
EOF

# --- a branded build: checked against what it was configured with, then run ---
"$python" res/draw_icon.py "$work/branded.ico" 8E1F5A
check "branded build" cmake --preset windows -B "$work/branded" -DLAUNCHER_EXE_NAME=SkyQuest \
  -DLAUNCHER_ICON="$work/branded.ico" -DLAUNCHER_VERSION=2.5.0.17 "-DLAUNCHER_COMPANY=Café \"Q\" Games" \
  "-DLAUNCHER_PRODUCT_NAME=Sky Quest" "-DLAUNCHER_DESCRIPTION=Sky Quest starter" \
  "-DLAUNCHER_COPYRIGHT=© 2026 Café \"Q\" Games"
check "branded build compiles" cmake --build "$work/branded"
check "branded build: PE checks and the Vista scenario under Wine" \
  "$python" tests/e2e/run_e2e.py "$work/branded" build/e2e vista_lookup_waits_for_the_browser

# --- reproducible: two copies of the tree, two folders, built a second apart --
for side in a b; do
  mkdir -p "$work/repro-$side/src"
  # The working tree as it is, with its history for the commit's time.
  { git ls-files -z -c -o --exclude-standard; printf '.git\0'; } |
    tar --null -T - -cf - | tar -xf - -C "$work/repro-$side/src"
  (cd "$work/repro-$side/src" && cmake --preset windows -B ../build >/dev/null &&
    cmake --build ../build --target launcher doctor >/dev/null) || echo "build $side failed"
  sleep 1
done
same_build() {
  for exe in gamestart.exe gamestart-doctor.exe; do
    sha256sum "$work/repro-a/build/$exe" "$work/repro-b/build/$exe"
    cmp "$work/repro-a/build/$exe" "$work/repro-b/build/$exe" || return 1
  done
}
check "two clean builds in two folders are byte-identical" same_build

# --- the release command --------------------------------------------------------
unsigned_release() {
  scripts/release.sh && (cd dist && sha256sum -c SHA256SUMS) && cmp dist/gamestart.exe build/release/gamestart.exe &&
    grep -E '^(version|commit|host): ' dist/manifest.txt && grep -q '^gamestart.exe: [0-9]* bytes, sha256 ' dist/manifest.txt
}
check "release without a certificate: dist/ with hashes and manifest" unsigned_release

# A throwaway publisher certificate, made now; its password never on a command line.
cert=$work/cert
mkdir -p "$cert"
export LAUNCHER_SIGN_PASSWORD="throwaway $RANDOM"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$cert/key.pem" -out "$cert/cert.pem" -subj "/CN=Test Publisher" \
  -days 2 >/dev/null 2>&1
openssl pkcs12 -export -inkey "$cert/key.pem" -in "$cert/cert.pem" -out "$cert/publisher.pfx" \
  -passout env:LAUNCHER_SIGN_PASSWORD
openssl pkcs12 -export -nokeys -in "$cert/cert.pem" -out "$cert/no-key.pfx" -passout env:LAUNCHER_SIGN_PASSWORD

signed_release() {
  LAUNCHER_SIGN_PFX=$cert/publisher.pfx scripts/release.sh || return 1
  grep -q '^signed: yes' dist/manifest.txt || return 1
  for exe in gamestart.exe gamestart-doctor.exe; do
    osslsigncode verify -in "dist/$exe" -CAfile "$cert/cert.pem" >"$work/verify.log" || return 1
    grep -q 'Signature verification: ok' "$work/verify.log" || return 1
    grep -qE 'Message digest algorithm *: SHA256' "$work/verify.log" || return 1
    grep -qx "$exe unsigned: sha256 $(sha256sum "build/release/$exe" | cut -d' ' -f1)" dist/manifest.txt || return 1
    osslsigncode remove-signature -in "dist/$exe" -out "$work/stripped-$exe" >/dev/null || return 1
    cmp "$work/stripped-$exe" "build/release/$exe" || return 1
  done
}
check "release signed: signatures verify, and removing them gives back the unsigned exes" signed_release

# The signed exes in a build folder of their own, beside the stand-ins.
mkdir -p "$work/signed"
cp dist/*.exe build/release/branding.json "$work/signed/"
ln -s "$PWD/build/win/standins" "$work/signed/standins"
check "signed exes: PE checks and the Vista scenario under Wine" \
  "$python" tests/e2e/run_e2e.py "$work/signed" build/e2e vista_lookup_waits_for_the_browser

refused_release() {  # refused_release EXPECTED PFX PASSWORD
  rm -rf dist
  ! LAUNCHER_SIGN_PFX=$2 LAUNCHER_SIGN_PASSWORD=$3 scripts/release.sh >/dev/null 2>"$work/refused.log" || return 1
  cat "$work/refused.log"
  [ "$(grep -c '^release: ' "$work/refused.log")" -eq 1 ] && grep -q -- "$1" "$work/refused.log" && [ ! -e dist ] &&
    [ -z "$(ls -d .dist.* 2>/dev/null)" ]
}
check "release refuses a missing certificate" refused_release "does not exist" "$cert/absent.pfx" x
check "release refuses a wrong password" refused_release "wrong password" "$cert/publisher.pfx" "not it"
check "release reports a failed signature" refused_release "signing gamestart.exe failed" "$cert/no-key.pfx" \
  "$LAUNCHER_SIGN_PASSWORD"

echo "release checks: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
