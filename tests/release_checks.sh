#!/usr/bin/env bash
# Checks of what a publisher ships: bad branding stops the configure with one
# line; a branded build carries what was configured and still runs; two clean
# releases in two folders are byte-identical, installer included; the
# installer works under Wine; the release command signs with a PFX or a key
# on a (software) token, time-stamps through a local authority, refuses bad
# certificates with one line and dist/ as it was, and removing its signature
# gives back the unsigned file; verify-release.sh checks a release, for the
# signer a reviewer pins, and refuses one whose manifest would run a command
# or lower the checks. (The verifier's refusals one by one: tests/release/.)
# Needs build/win (scripts/build.sh) and the Wine prefix under build/e2e.
# Ends with "N passed, M failed".
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
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
  if cmake -S . -B "$work/configure" -G Ninja "$2" >"$work/configure.log" 2>&1 ||
    [ "$(grep -A1 'CMake Error' "$work/configure.log" | grep -c -- "$1")" -ne 1 ]; then
    cat "$work/configure.log"
    return 1
  fi
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

# The game's files a publisher ships: the two items the launcher opens, and a Cyrillic name.
game=$PWD/$work/game
mkdir -p "$game/fscommand" "$game/Музыка"
printf '[InternetShortcut]\r\nURL=https://x.example/\r\n' >"$game/play.url"
cp build/win/standins/browser_standin.exe "$game/fscommand/wgame.exe"
echo "a track" >"$game/Музыка/трек 1.txt"
export LAUNCHER_GAME_FILES=$game

# --- reproducible: two copies of the tree, two folders, released a second apart --
for side in a b; do
  mkdir -p "$work/repro-$side/src"
  # The working tree as it is, with its history for the commit's time.
  { git ls-files -z -c -o --exclude-standard; printf '.git\0'; } |
    tar --null -T - -cf - | tar -xf - -C "$work/repro-$side/src"
  (cd "$work/repro-$side/src" && scripts/release.sh >/dev/null) || echo "release $side failed"
  sleep 1
done
same_build() {
  for file in gamestart.exe gamestart-doctor.exe gamestart-uninstall.exe gamestart-setup.exe; do
    sha256sum "$work/repro-a/src/dist/$file" "$work/repro-b/src/dist/$file"
    cmp "$work/repro-a/src/dist/$file" "$work/repro-b/src/dist/$file" || return 1
  done
}
check "two clean releases in two folders are byte-identical, installer included" same_build

# --- the release command --------------------------------------------------------
manifest_says() {  # manifest_says FILE CONDITION: CONDITION, in Python, holds of the manifest m (files: by name)
  "$python" -c 'import json, sys
m = json.load(open(sys.argv[1], encoding="utf-8"))
files = {f["name"]: f for f in m["files"]}
sys.exit(0 if eval("(" + sys.argv[2] + ")") else "manifest.json: not " + sys.argv[2])' "$@"
}
unsigned_release() {
  scripts/release.sh && (cd dist && sha256sum -c SHA256SUMS) && cmp dist/gamestart.exe build/release/gamestart.exe &&
    manifest_says dist/manifest.json "m['version'] == '1.0.0.0' and m['signer'] is None and
      files['gamestart.exe']['size'] == $(stat -c %s dist/gamestart.exe)"
}
check "release without a certificate: dist/ with hashes and manifest" unsigned_release
rm -rf "$work/unsigned-dist" && cp -r dist "$work/unsigned-dist"

# The players' installer under Wine: a newer version, and another game built
# with the same exe name, over and beside a running launcher, in every order.
installers_under_wine() {
  local installers=$work/installers
  rm -rf "$installers" && mkdir -p "$installers/next" "$installers/other" || return 1
  scripts/release.sh -DLAUNCHER_VERSION=1.0.1.0 && cp dist/gamestart-setup.exe "$installers/gamestart-setup-next.exe" &&
    cp dist/gamestart.exe "$installers/next/" &&
    scripts/release.sh "-DLAUNCHER_PRODUCT_NAME=Other Game" &&
    cp dist/gamestart-setup.exe build/release/branding.json "$installers/other/" && scripts/release.sh &&
    cp dist/*.exe build/release/branding.json "$installers/" && ln -s "$PWD/build/win/standins" "$installers/standins" &&
    "$python" tests/e2e/run_e2e.py "$installers" build/e2e installed_shortcut_starts_in_the_game_folder \
      update_and_uninstall_while_the_launcher_runs later_install_wins_and_leftovers_are_waited_for \
      two_games_from_one_launcher_and_a_copied_uninstaller
}
check "installer under Wine: shortcuts start in the game's folder; install, update and uninstall in any order while the launcher runs; two games from one launcher" \
  installers_under_wine

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
  manifest_says dist/manifest.json 'm["signer"] is not None' || return 1
  for exe in gamestart.exe gamestart-doctor.exe; do
    osslsigncode verify -in "dist/$exe" -CAfile "$cert/cert.pem" >"$work/verify.log" || return 1
    grep -q 'Signature verification: ok' "$work/verify.log" || return 1
    grep -qE 'Message digest algorithm *: SHA256' "$work/verify.log" || return 1
    manifest_says dist/manifest.json "files['$exe']['unsigned_sha256'] == '$(sha256sum "build/release/$exe" | cut -d' ' -f1)'" ||
      return 1
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

refused_release() {  # refused_release EXPECTED VARIABLE=VALUE...: one line why, and dist/ as it was
  local before
  before=$(sha256sum dist/* 2>&1)
  ! env "${@:2}" scripts/release.sh >/dev/null 2>"$work/refused.log" || return 1
  cat "$work/refused.log"
  [ "$(grep -c '^release: ' "$work/refused.log")" -eq 1 ] && grep -q -- "$1" "$work/refused.log" &&
    [ "$(sha256sum dist/* 2>&1)" = "$before" ] && [ -z "$(ls -d .dist.* 2>/dev/null)" ]
}
check "release refuses a missing certificate" refused_release "does not exist" \
  LAUNCHER_SIGN_PFX="$cert/absent.pfx" LAUNCHER_SIGN_PASSWORD=x
check "release refuses a wrong password" refused_release "wrong password" \
  LAUNCHER_SIGN_PFX="$cert/publisher.pfx" LAUNCHER_SIGN_PASSWORD="not it"
check "release reports a failed signature" refused_release "signing gamestart.exe failed" \
  LAUNCHER_SIGN_PFX="$cert/no-key.pfx"
check "release refuses a LAUNCHER_GAME_FILES folder that does not exist" refused_release "is not a folder" \
  LAUNCHER_GAME_FILES="$work/no-such-folder"

# --- a publisher's certificate: a CA's chain, a key on a token, a time stamp ----
# A root, an intermediate and a signing certificate valid for two days; a
# time-stamp authority under a root of its own; the signing key on a software token.
pki=$work/pki
mkdir -p "$pki/tokens"
printf '%s\n' '[ca]' 'basicConstraints = critical, CA:true' 'keyUsage = critical, keyCertSign, cRLSign' \
  '[intermediate]' 'basicConstraints = critical, CA:true, pathlen:0' 'keyUsage = critical, keyCertSign, cRLSign' \
  '[codesign]' 'keyUsage = critical, digitalSignature' 'extendedKeyUsage = codeSigning' \
  '[tsa]' 'keyUsage = critical, digitalSignature' 'extendedKeyUsage = critical, timeStamping' >"$pki/ext.cnf"
certificate() {  # certificate NAME SUBJECT DAYS EXTENSIONS [ISSUER]
  openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$pki/$1.key" 2>/dev/null
  openssl req -new -key "$pki/$1.key" -subj "$2" -out "$pki/$1.csr"
  local by=(-signkey "$pki/$1.key")
  [ -z "${5:-}" ] || by=(-CA "$pki/$5.pem" -CAkey "$pki/$5.key" -CAcreateserial)
  openssl x509 -req -in "$pki/$1.csr" "${by[@]}" -days "$3" -extfile "$pki/ext.cnf" -extensions "$4" \
    -out "$pki/$1.pem" 2>/dev/null
}
certificate root "/CN=Test Root CA" 30 ca
certificate intermediate "/CN=Test Code Signing CA" 30 intermediate root
certificate signer "/CN=Sky Games Test/O=Sky Games" 2 codesign intermediate
certificate other "/CN=Other Company/O=Other Company" 2 codesign intermediate
certificate tsa-root "/CN=Test Time-Stamp Root" 30 ca
certificate tsa "/CN=Test Time-Stamp Authority" 30 tsa tsa-root
cat "$pki/signer.pem" "$pki/intermediate.pem" >"$pki/signer-chain.pem"
cat "$pki/root.pem" "$pki/tsa-root.pem" >"$pki/roots.pem"
printf 'ca password %s' "$RANDOM$RANDOM" >"$pki/password"
openssl pkcs12 -export -inkey "$pki/signer.key" -in "$pki/signer.pem" -certfile "$pki/intermediate.pem" \
  -out "$pki/publisher.pfx" -passout "file:$pki/password"
pin="pin-$RANDOM$RANDOM"
export SOFTHSM2_CONF=$pki/softhsm2.conf
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$pki/tokens" >"$SOFTHSM2_CONF"
softhsm2-util --init-token --free --label publisher --pin "$pin" --so-pin "so-$pin" >/dev/null
openssl pkcs8 -topk8 -nocrypt -in "$pki/signer.key" -out "$pki/signer.p8"
softhsm2-util --import "$pki/signer.p8" --token publisher --label signkey --id 01 --pin "$pin" >/dev/null
rm "$pki/signer.p8"

printf '%s\n' '[tsa]' 'default_tsa = authority' '[authority]' "serial = $pki/tsa-serial" 'crypto_device = builtin' \
  "signer_cert = $pki/tsa.pem" "signer_key = $pki/tsa.key" 'signer_digest = sha256' 'default_policy = 1.2.3.4.1' \
  'digests = sha1, sha256, sha384, sha512' 'accuracy = secs:1' 'ess_cert_id_alg = sha256' >"$pki/tsa.cnf"
"$python" tests/timestamp_server.py "$pki/tsa.cnf" "$pki/tsa-port" &
tsa_server=$!
trap 'kill $tsa_server 2>/dev/null' EXIT
for _ in $(seq 50); do [ -s "$pki/tsa-port" ] && break; sleep 0.1; done
tsa="http://127.0.0.1:$(cat "$pki/tsa-port")"
# A port nothing listens on: a server that does not answer.
unreachable="http://127.0.0.1:$("$python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
# The publisher's fingerprint, as a reviewer pins it.
publisher=$(openssl x509 -in "$pki/signer.pem" -outform DER | sha256sum | cut -d' ' -f1)
token=(LAUNCHER_SIGN_PKCS11_MODULE=/usr/lib/softhsm/libsofthsm2.so "LAUNCHER_SIGN_KEY=pkcs11:token=publisher;object=signkey"
       LAUNCHER_SIGN_CERT="$pki/signer-chain.pem" LAUNCHER_SIGN_PIN="$pin" LAUNCHER_SIGN_ROOTS="$pki/roots.pem")

secrets_kept() {  # secrets_kept SECRET: not in dist/ or the build folder
  ! grep -rqF -- "$1" dist build/release
}

token_release() {
  env "${token[@]}" LAUNCHER_SIGN_TIMESTAMP_URL="$unreachable $tsa" scripts/release.sh || return 1
  local after_expiry
  after_expiry=$(date -d '+3 days' +%s)
  for exe in gamestart.exe gamestart-doctor.exe gamestart-setup.exe gamestart-uninstall.exe; do
    osslsigncode verify -CAfile "$pki/root.pem" -TSA-CAfile "$pki/tsa-root.pem" -time "$after_expiry" \
      -in "dist/$exe" >"$work/verify.log" || return 1
    grep -q '^Signature verification: ok' "$work/verify.log" &&
      grep -q '^Timestamp Server Signature verification: ok' "$work/verify.log" || return 1
    manifest_says dist/manifest.json "files['$exe']['time_stamp'].startswith('$(date -u +%Y-%m-%dT)')" || return 1
  done
  manifest_says dist/manifest.json "m['signer'] == {'subject': 'O=Sky Games,CN=Sky Games Test', 'sha256': '$publisher'}" &&
    secrets_kept "$pin" && rm -rf "$work/token-dist" && cp -r dist "$work/token-dist"
}
check "release with a key on a token: the programs and the installer verify against the root alone, time-stamped, still after the certificate expires" \
  token_release

ca_pfx_release() {
  LAUNCHER_SIGN_PFX=$pki/publisher.pfx LAUNCHER_SIGN_PASSWORD=$(cat "$pki/password") \
    LAUNCHER_SIGN_ROOTS=$pki/root.pem scripts/release.sh || return 1
  for exe in gamestart.exe gamestart-doctor.exe; do
    osslsigncode verify -CAfile "$pki/root.pem" -in "dist/$exe" | grep -q '^Signature verification: ok' || return 1
    manifest_says dist/manifest.json "files['$exe']['time_stamp'] is None" || return 1
  done
  secrets_kept "$(cat "$pki/password")"
}
check "release with a CA-issued PFX: its intermediate travels with the signature" ca_pfx_release

check "release refuses a wrong PIN" refused_release "the token refused LAUNCHER_SIGN_PIN" \
  "${token[@]}" LAUNCHER_SIGN_PIN="not-$pin"
check "release fails when no time-stamp server answers" refused_release "no time-stamp server gave" \
  "${token[@]}" LAUNCHER_SIGN_TIMESTAMP_URL="$unreachable"
check "release refuses a PFX and a token together" refused_release "are both set" \
  "${token[@]}" LAUNCHER_SIGN_PFX="$pki/publisher.pfx"

# A release rebuilds only from a commit; a tree with uncommitted changes is checked without.
rebuild=()
[ -n "$(git status --porcelain)" ] || rebuild=(--rebuild)
reviewer=(LAUNCHER_SIGN_ROOTS="$pki/roots.pem" LAUNCHER_SIGNER="$publisher")
verified_release() {
  env "${reviewer[@]}" scripts/verify-release.sh "$work/token-dist" "${rebuild[@]}"
}
check "verify-release: a good release holds${rebuild:+, rebuilt from its commit}" verified_release
refused() {  # refused EXPECTED DIR [ARG...]: verify-release names what is wrong, in one line
  ! env "${reviewer[@]}" scripts/verify-release.sh "${@:2}" 2>"$work/refused.log" && cat "$work/refused.log" &&
    [ "$(wc -l <"$work/refused.log")" -eq 1 ] && grep -qxF -- "$1" "$work/refused.log"
}
one_byte_changed() {
  rm -rf "$work/changed" && cp -r "$work/token-dist" "$work/changed"
  printf '\001' | dd of="$work/changed/gamestart.exe" bs=1 seek=4096 conv=notrunc 2>/dev/null
  refused 'verify-release: gamestart.exe does not match its size and hash in manifest.json' "$work/changed"
}
check "verify-release: one byte changed is named" one_byte_changed
# A reviewer pins the publisher: another customer of the same CA, whose
# signature verifies against the same roots, does not pass for it.
another_signer() {
  rm -rf "$work/resigned" && cp -r "$work/token-dist" "$work/resigned"
  cat "$pki/other.pem" "$pki/intermediate.pem" >"$pki/other-chain.pem"
  osslsigncode remove-signature -in "$work/resigned/gamestart.exe" -out "$work/unsigned.exe" >/dev/null &&
    rm "$work/resigned/gamestart.exe" &&
    osslsigncode sign -certs "$pki/other-chain.pem" -key "$pki/other.key" -h sha256 -ts "$tsa" \
      -in "$work/unsigned.exe" -out "$work/resigned/gamestart.exe" >/dev/null || return 1
  # The copy's maker makes its hashes agree.
  "$python" - "$work/resigned" <<'EOF' || return 1
import hashlib, json, pathlib, sys
folder = pathlib.Path(sys.argv[1])
manifest = json.loads((folder / "manifest.json").read_text())
for f in manifest["files"]:
    f["sha256"] = hashlib.sha256((folder / f["name"]).read_bytes()).hexdigest()
    f["size"] = (folder / f["name"]).stat().st_size
(folder / "manifest.json").write_text(json.dumps(manifest))
(folder / "SHA256SUMS").write_text("".join(f"{f['sha256']}  {f['name']}\n" for f in manifest["files"]))
EOF
  local other
  other=$(openssl x509 -in "$pki/other.pem" -outform DER | sha256sum | cut -d' ' -f1)
  env "${reviewer[@]}" scripts/verify-release.sh "$work/token-dist" &&
    refused "verify-release: gamestart.exe is signed by Organization: Other Company, Common Name: Other Company (certificate SHA-256 $other), a signer LAUNCHER_SIGNER does not pin" "$work/resigned"
}
check "verify-release: with LAUNCHER_SIGNER pinned the release holds, and one exe re-signed by another customer of its CA is refused" \
  another_signer
# A release is untrusted input: its manifest can neither run a command of its own nor lower the checks.
non_branding_option() {
  rm -rf "$work/edited" && cp -r "$work/token-dist" "$work/edited"
  "$python" - "$work/edited/manifest.json" "$(git rev-parse HEAD)" <<'EOF' || return 1
import json, sys
manifest = json.load(open(sys.argv[1]))
manifest.update(commit=sys.argv[2], uncommitted_changes=False)
manifest["options"].append("-DCMAKE_CXX_COMPILER_LAUNCHER=touch")
json.dump(manifest, open(sys.argv[1], "w"))
EOF
  refused "verify-release: manifest.json passes '-DCMAKE_CXX_COMPILER_LAUNCHER=touch' to the build, which is not a branding option" \
    "$work/edited" --rebuild
}
check "verify-release: a manifest's option other than branding is refused" non_branding_option
unsigned_with_roots() {
  refused 'verify-release: gamestart.exe carries no signature' "$work/unsigned-dist"
}
check "verify-release: with a signer pinned an unsigned release is refused, whatever its manifest says" unsigned_with_roots

echo "release checks: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
