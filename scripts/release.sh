#!/usr/bin/env bash
# Builds a release from a clean build folder and puts it in dist/: the
# players' installer NAME-setup.exe, the launcher and its doctor, the
# uninstaller the installer carries, SHA256SUMS and manifest.txt. Branding
# options pass through to CMake, and only they, for example:
#
#   LAUNCHER_GAME_FILES=~/skyquest/game scripts/release.sh -DLAUNCHER_EXE_NAME=skyquest -DLAUNCHER_VERSION=2.1.0.0
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
# dist/ is replaced only when everything succeeded; any refusal or failure
# prints one line starting "release:" and exits non-zero.
set -euo pipefail -o errtrace

fail() {
  echo "release: $*" >&2
  exit 1
}

# --- the certificate, checked before anything is built -------------------------
# Sets sign (yes or empty), sign_with (osslsigncode's arguments), subject,
# signer, roots and timestamp_urls.
check_certificate() {
  local token_variables=(LAUNCHER_SIGN_PKCS11_MODULE LAUNCHER_SIGN_KEY LAUNCHER_SIGN_CERT) token="" v
  for v in "${token_variables[@]}" LAUNCHER_SIGN_PIN; do [ -z "${!v:-}" ] || token=yes; done
  signer=$private/signer.pem        # the signing certificate
  intermediates=$private/chain.pem  # the certificates between it and a root
  secret=$private/secret            # the password or the PIN, never on a command line
  roots=$private/roots.pem
  sign=""
  sign_with=()
  timestamp_urls=()

  if [ -n "${LAUNCHER_SIGN_PFX:-}" ] && [ -n "$token" ]; then
    fail "LAUNCHER_SIGN_PFX and a token (LAUNCHER_SIGN_PKCS11_MODULE, LAUNCHER_SIGN_KEY, LAUNCHER_SIGN_CERT, LAUNCHER_SIGN_PIN) are both set: sign with one of them"
  elif [ -n "${LAUNCHER_SIGN_PFX:-}" ]; then
    read_pfx_certificate
  elif [ -n "$token" ]; then
    read_token_certificate "${token_variables[@]}"
  else
    return 0
  fi
  sign=yes

  subject=$(openssl x509 -in "$signer" -noout -subject -nameopt RFC2253 | sed 's/^subject=//')
  openssl x509 -in "$signer" -noout -checkend 0 >/dev/null ||
    fail "the certificate ($subject) expired on $(openssl x509 -in "$signer" -noout -enddate | cut -d= -f2)"
  local not_before usage
  not_before=$(openssl x509 -in "$signer" -noout -startdate | cut -d= -f2)
  [ "$(date -d "$not_before" +%s)" -le "$(date +%s)" ] ||
    fail "the certificate ($subject) is not valid before $not_before"
  # No extended key usage at all allows every use; one without code signing was made for something else.
  usage=$(openssl x509 -in "$signer" -noout -ext extendedKeyUsage 2>/dev/null | sed 1d | sed 's/^ *//')
  if [ -n "$usage" ] && ! grep -qE 'Code Signing|Any Extended Key Usage' <<<"$usage"; then
    fail "the certificate ($subject) does not allow code signing: its extended key usage is $usage"
  fi
  trusted_roots "$roots" "$signer" || fail "cannot read the roots in $(roots_name)"
  local untrusted=()
  [ ! -s "$intermediates" ] || untrusted=(-untrusted "$intermediates")
  openssl verify -CAfile "$roots" "${untrusted[@]}" "$signer" >"$private/chain.log" 2>&1 ||
    fail "the certificate's chain ($subject) reaches no root in $(roots_name); are the CA's intermediates in LAUNCHER_SIGN_CERT or the PFX?"
  read -r -a timestamp_urls <<<"${LAUNCHER_SIGN_TIMESTAMP_URL:-}"
}

read_pfx_certificate() {
  local pfx=$LAUNCHER_SIGN_PFX
  [ -f "$pfx" ] && [ -r "$pfx" ] || fail "LAUNCHER_SIGN_PFX names '$pfx', which does not exist or cannot be read"
  printf '%s\n' "${LAUNCHER_SIGN_PASSWORD:-}" >"$secret"
  # Files exported by older tools need OpenSSL's legacy ciphers.
  read_pfx() { openssl pkcs12 -in "$pfx" -passin "file:$secret" -nokeys "$@" 2>/dev/null ||
                 openssl pkcs12 -legacy -in "$pfx" -passin "file:$secret" -nokeys "$@" 2>/dev/null; }
  read_pfx -out "$private/all.pem" ||
    fail "cannot open '$pfx' with LAUNCHER_SIGN_PASSWORD: wrong password, or not a PKCS#12 file"
  grep -q 'BEGIN CERTIFICATE' "$private/all.pem" || fail "'$pfx' holds no certificate"
  # The certificate that goes with the key; a file without a key has none, and fails at signing.
  read_pfx -clcerts -out "$signer" || : >"$signer"
  grep -q 'BEGIN CERTIFICATE' "$signer" || openssl x509 -in "$private/all.pem" -out "$signer"
  read_pfx -cacerts -out "$intermediates" || : >"$intermediates"
  sign_with=(-pkcs12 "$pfx" -readpass "$secret")
}

read_token_certificate() {
  local v
  for v in "$@"; do
    [ -n "${!v:-}" ] || fail "signing with a token needs $v too"
  done
  local module=$LAUNCHER_SIGN_PKCS11_MODULE
  [ -f "$module" ] && [ -r "$module" ] ||
    fail "LAUNCHER_SIGN_PKCS11_MODULE names '$module', which does not exist or cannot be read"
  case $LAUNCHER_SIGN_KEY in
    pkcs11:*pin-value=* | pkcs11:*pin-source=*)
      fail "LAUNCHER_SIGN_KEY holds a PIN, which would show on a command line: give it in LAUNCHER_SIGN_PIN" ;;
    pkcs11:*) ;;
    *) fail "LAUNCHER_SIGN_KEY is not a pkcs11: URI, such as pkcs11:token=publisher;object=signkey" ;;
  esac
  [ -f "$LAUNCHER_SIGN_CERT" ] && [ -r "$LAUNCHER_SIGN_CERT" ] ||
    fail "LAUNCHER_SIGN_CERT names '$LAUNCHER_SIGN_CERT', which does not exist or cannot be read"
  openssl x509 -in "$LAUNCHER_SIGN_CERT" -out "$signer" 2>/dev/null ||
    fail "LAUNCHER_SIGN_CERT holds no PEM certificate"
  # Everything after the first certificate: its intermediates.
  awk '/BEGIN CERTIFICATE/ { n++ } n > 1' "$LAUNCHER_SIGN_CERT" >"$intermediates"
  printf '%s\n' "${LAUNCHER_SIGN_PIN:-}" >"$secret"
  sign_with=(-pkcs11module "$module" -key "$LAUNCHER_SIGN_KEY" -certs "$LAUNCHER_SIGN_CERT" -readpass "$secret")
}

# --- the build ------------------------------------------------------------------
# Configures with the branding options, checks the game's files against the
# names it chose, and builds the launcher and the doctor. Sets launcher and doctor.
build_programs() {
  rm -rf "$build"
  cmake --preset windows -B "$build" "$@" >"$private/configure.log" 2>&1 ||
    fail "configure failed: $(grep -m1 -A1 'CMake Error' "$private/configure.log" | tail -1 | sed 's/^ *//')"
  launcher=$(branding_field "$build/branding.json" launcher)
  doctor=$(branding_field "$build/branding.json" doctor)
  if [ -n "${LAUNCHER_GAME_FILES:-}" ]; then
    local refusal
    refusal=$(game_files_refusal "$LAUNCHER_GAME_FILES" "${launcher%.exe}")
    [ -z "$refusal" ] || fail "$refusal"
  fi
  cmake --build "$build" --target launcher doctor >"$private/build.log" 2>&1 ||
    fail "build failed; see the output of: cmake --build $build --target launcher doctor"
}

# --- signing one file -----------------------------------------------------------
# The token's own words for the ways it refuses, in one line.
signing_failure() {
  local log=$1
  if grep -q 'PIN incorrect\|Login failed' "$log"; then
    echo "the token refused LAUNCHER_SIGN_PIN"
  elif grep -q 'object not found\|private key was not found' "$log"; then
    echo "no key on the token matches LAUNCHER_SIGN_KEY ($LAUNCHER_SIGN_KEY), or LAUNCHER_SIGN_PIN is needed"
  elif grep -q 'Unable to load PKCS#11 module\|Unable to load module' "$log"; then
    echo "LAUNCHER_SIGN_PKCS11_MODULE ($LAUNCHER_SIGN_PKCS11_MODULE) is not a PKCS#11 library that loads here"
  else
    why_not "$log"
  fi
}

# stamp SIGNED OUT: adds a time stamp from the first server whose stamp
# verifies; answers why none did.
stamp() {
  local url reasons=""
  for url in "${timestamp_urls[@]}"; do
    if ! osslsigncode add -ts "$url" -h sha256 -in "$1" -out "$2.try" >"$private/stamp.log" 2>&1; then
      if grep -q 'connect\|Failed to get data' "$private/stamp.log"; then
        reasons+="; $url: unreachable"
      else
        reasons+="; $url: refused ($(why_not "$private/stamp.log"))"
      fi
    elif check_signature "$2.try" "$roots" "$private/verify.log" && [ -n "$(timestamp_of "$private/verify.log")" ]; then
      mv "$2.try" "$2"
      return 0
    else
      reasons+="; $url: its answer does not verify against $(roots_name)"
    fi
    rm -f "$2.try"
  done
  echo "${reasons#; }"
  return 1
}

# sign_one FILE [NAME]: signs FILE in place, with a verified time stamp when
# servers are named; when it was stamped goes to $private/stamped/NAME. NAME
# is the file's name in the release (FILE's own by default).
sign_one() {
  local file=$1 name=${2:-$(basename "$1")} signed why when
  signed=$private/$name.signed
  osslsigncode sign "${sign_with[@]}" -h sha256 -n "$product" -in "$file" -out "$signed" >"$private/sign.log" 2>&1 ||
    fail "signing $name failed: $(signing_failure "$private/sign.log")"
  # stamp verifies the signature with each stamp; verify.log holds the one kept.
  if [ ${#timestamp_urls[@]} -gt 0 ]; then
    why=$(stamp "$signed" "$signed.stamped") || fail "no time-stamp server gave $name a verified time stamp: $why"
    mv "$signed.stamped" "$signed"
  elif ! check_signature "$signed" "$roots" "$private/verify.log"; then
    fail "the signature of $name does not verify against $(roots_name): $(why_not "$private/verify.log")"
  fi
  when=$(timestamp_of "$private/verify.log")
  mkdir -p "$private/stamped"
  [ -z "$when" ] || date -u -d "$when" '+%Y-%m-%d %H:%M:%S UTC' >"$private/stamped/$name"
  mv "$signed" "$file"
}

# --- the installer ----------------------------------------------------------------
# The uninstaller, as makensis made it, before it goes inside the installer:
# kept unsigned for the manifest, then signed when signing. Run by makensis
# through the hook script that installer_step writes.
finish_uninstaller() {
  local name=${launcher%.exe}-uninstall.exe
  finish_pe "$1"
  cp "$1" "$build/installer/$name"
  [ -z "$sign" ] || sign_one "$1" "$name"
  cp "$1" "$staging/$name"
}

# Builds dist's installer into the staging folder, and the unsigned one into
# the build folder; the uninstaller inside is final, and beside it in both.
installer_step() {
  local hook=$private/finish-uninstaller setup=${launcher%.exe}-setup.exe
  mkdir -p "$build/installer"
  # makensis runs the hook as a program of its own, in the script's folder:
  # it gets this run's state, and its folder.
  {
    echo '#!/usr/bin/env bash'
    echo 'set -euo pipefail'
    printf 'cd %q\n' "$root"
    printf 'source %q\n' "$root/scripts/release.sh"
    declare -p root private build staging launcher product sign sign_with roots timestamp_urls
    echo 'finish_uninstaller "$1"'
  } >"$hook"
  chmod 700 "$hook"
  build_installer "$build" "${LAUNCHER_GAME_FILES:-}" "$build/installer/$setup" "$hook" "$private" ||
    fail "building the installer failed: $(grep -m1 '^release: ' "$private/installer.log" | sed 's/^release: //' ||
      grep -m1 -i 'error' "$private/installer.log" || tail -1 "$private/installer.log")"
  cp "$build/installer/$setup" "$staging/$setup"
  [ -z "$sign" ] || sign_one "$staging/$setup"
}

# --- the manifest -----------------------------------------------------------------
manifest_step() {
  local manifest=$staging/manifest.txt commit file option line
  local shipped=("$launcher" "$doctor" "${launcher%.exe}-uninstall.exe" "${launcher%.exe}-setup.exe")
  commit=$(git rev-parse HEAD 2>/dev/null || echo unknown)
  [ -z "$(git status --porcelain 2>/dev/null)" ] || commit="$commit (with uncommitted changes)"
  : >"$manifest"
  manifest_put "$manifest" version "$(branding_field "$build/branding.json" version)"
  manifest_put "$manifest" commit "$commit"
  manifest_put "$manifest" host "$(branding_field "$build/branding.json" host)"
  manifest_put "$manifest" "source date epoch" "$(branding_field "$build/branding.json" source_date_epoch)"
  manifest_put "$manifest" makensis "$(makensis_version)"
  # What the build was configured with, one argument a line, for a rebuild to pass again.
  for option in "$@"; do manifest_put "$manifest" option "$option" || fail "an option holds a line break: $option"; done
  # The game's files the installer carries, for a reviewer to rebuild it from the same ones.
  if [ -n "${LAUNCHER_GAME_FILES:-}" ]; then
    while IFS= read -r line; do
      manifest_put "$manifest" "game file" "$line"
    done < <(game_files_listing "$LAUNCHER_GAME_FILES")
  fi
  manifest_put "$manifest" signed "${sign:-no}"
  if [ -n "$sign" ]; then
    manifest_put "$manifest" signer "$subject"
    manifest_put "$manifest" "signer sha256" "$(openssl x509 -in "$signer" -noout -fingerprint -sha256 | cut -d= -f2)"
  fi
  for file in "${shipped[@]}"; do
    manifest_put_file "$manifest" "$file" "$staging/$file"
    [ -n "$sign" ] || continue
    # What a reviewer rebuilds from the commit and compares with the signed file, its signature removed.
    local unsigned=$build/$file
    [ -f "$unsigned" ] || unsigned=$build/installer/$file
    manifest_put "$manifest" "$file unsigned" "sha256 $(sha256sum "$unsigned" | cut -d' ' -f1)"
    manifest_put "$manifest" "$file time stamp" "$(cat "$private/stamped/$file" 2>/dev/null || echo not time-stamped)"
  done
  chmod 755 "${shipped[@]/#/$staging/}"
  (cd "$staging" && sha256sum "${shipped[@]}" >SHA256SUMS)
}

main() {
  cd "$(dirname "$0")/.."
  root=$PWD
  private=$(mktemp -d)  # mode 0700: the password or PIN file lives here, and every log
  staging=""
  build=$root/build/release
  trap 'rm -rf "$private"; [ -z "$staging" ] || rm -rf "$staging"' EXIT
  # A step that fails without saying why still ends with one line, said by
  # the main shell alone (a command substitution's failure reaches it too).
  trap '[ "$BASH_SUBSHELL" -eq 0 ] || exit 1; fail "failed unexpectedly at: $BASH_COMMAND"' ERR

  local option
  for option in "$@"; do
    is_branding_option "$option" ||
      fail "'$option' is not a branding option (-D${branding_options[0]}=... and the others in the README's table)"
  done
  if [ -n "${LAUNCHER_GAME_FILES:-}" ]; then
    [ -d "$LAUNCHER_GAME_FILES" ] || fail "LAUNCHER_GAME_FILES names '$LAUNCHER_GAME_FILES', which is not a folder"
    LAUNCHER_GAME_FILES=$(cd "$LAUNCHER_GAME_FILES" && pwd)
  fi
  scripts/setup.sh >&2 || fail "could not install the build tools"

  check_certificate
  build_programs "$@"
  product=$(branding_field "$build/branding.json" strings.ProductName)
  staging=$(mktemp -d "$root/.dist.XXXXXX")
  local exe
  for exe in "$launcher" "$doctor"; do
    cp "$build/$exe" "$staging/$exe"
    [ -z "$sign" ] || sign_one "$staging/$exe"
  done
  installer_step
  manifest_step "$@"

  rm -rf dist
  mv "$staging" dist
  staging=""
  chmod 755 dist
  echo "release: dist/ holds ${launcher%.exe}-setup.exe, $launcher and $doctor${sign:+, signed}"
}

source "$(dirname "${BASH_SOURCE[0]}")/lib/signatures.sh"
source "$(dirname "${BASH_SOURCE[0]}")/lib/manifest.sh"
source "$(dirname "${BASH_SOURCE[0]}")/lib/installer.sh"
# Sourced by the uninstaller's hook for its functions alone.
[ "${BASH_SOURCE[0]}" != "$0" ] || main "$@"
