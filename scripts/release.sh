#!/usr/bin/env bash
# Builds a release from a clean build folder and puts it in dist/: the
# launcher, its doctor, SHA256SUMS and manifest.txt. Branding options pass
# through to CMake, for example:
#
#   scripts/release.sh -DLAUNCHER_EXE_NAME=skyquest -DLAUNCHER_VERSION=2.1.0.0
#
# With a publisher's certificate both programs are signed (Authenticode,
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
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source scripts/lib/signatures.sh

fail() {
  echo "release: $*" >&2
  exit 1
}

private=$(mktemp -d)  # mode 0700: the password or PIN file lives here, and every log
staging=""
cleanup() {
  rm -rf "$private"
  [ -z "$staging" ] || rm -rf "$staging"
}
trap cleanup EXIT

scripts/setup.sh >&2 || fail "could not install the build tools"

# --- the certificate, checked before anything is built -------------------------
token_variables=(LAUNCHER_SIGN_PKCS11_MODULE LAUNCHER_SIGN_KEY LAUNCHER_SIGN_CERT)
token=""
for v in "${token_variables[@]}" LAUNCHER_SIGN_PIN; do [ -z "${!v:-}" ] || token=yes; done
signer=$private/signer.pem        # the signing certificate
intermediates=$private/chain.pem  # the certificates between it and a root
secret=$private/secret            # the password or the PIN, never on a command line
sign=""
sign_with=()

if [ -n "${LAUNCHER_SIGN_PFX:-}" ] && [ -n "$token" ]; then
  fail "LAUNCHER_SIGN_PFX and a token (LAUNCHER_SIGN_PKCS11_MODULE, LAUNCHER_SIGN_KEY, LAUNCHER_SIGN_CERT, LAUNCHER_SIGN_PIN) are both set: sign with one of them"
elif [ -n "${LAUNCHER_SIGN_PFX:-}" ]; then
  pfx=$LAUNCHER_SIGN_PFX
  [ -f "$pfx" ] && [ -r "$pfx" ] || fail "LAUNCHER_SIGN_PFX names '$pfx', which does not exist or cannot be read"
  printf '%s\n' "${LAUNCHER_SIGN_PASSWORD:-}" >"$secret"
  # Files exported by older tools need OpenSSL's legacy ciphers.
  read_pfx() { openssl pkcs12 -in "$pfx" -passin "file:$secret" -nokeys "$@" 2>/dev/null ||
                 openssl pkcs12 -legacy -in "$pfx" -passin "file:$secret" -nokeys "$@" 2>/dev/null; }
  read_pfx -out "$private/all.pem" ||
    fail "cannot open '$pfx' with LAUNCHER_SIGN_PASSWORD: wrong password, or not a PKCS#12 file"
  # The certificate that goes with the key; a file without a key has none, and fails at signing.
  read_pfx -clcerts -out "$signer"
  grep -q 'BEGIN CERTIFICATE' "$signer" || openssl x509 -in "$private/all.pem" -out "$signer"
  read_pfx -cacerts -out "$intermediates"
  sign_with=(-pkcs12 "$pfx" -readpass "$secret")
  sign=yes
elif [ -n "$token" ]; then
  for v in "${token_variables[@]}"; do
    [ -n "${!v:-}" ] || fail "signing with a token needs $v too"
  done
  module=$LAUNCHER_SIGN_PKCS11_MODULE
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
  sign=yes
fi

roots=$private/roots.pem
timestamp_urls=()
if [ -n "$sign" ]; then
  subject=$(openssl x509 -in "$signer" -noout -subject -nameopt RFC2253 | sed 's/^subject=//')
  openssl x509 -in "$signer" -noout -checkend 0 >/dev/null ||
    fail "the certificate ($subject) expired on $(openssl x509 -in "$signer" -noout -enddate | cut -d= -f2)"
  not_before=$(openssl x509 -in "$signer" -noout -startdate | cut -d= -f2)
  [ "$(date -d "$not_before" +%s)" -le "$(date +%s)" ] ||
    fail "the certificate ($subject) is not valid before $not_before"
  # No extended key usage at all allows every use; one without code signing was made for something else.
  usage=$(openssl x509 -in "$signer" -noout -ext extendedKeyUsage 2>/dev/null | sed 1d | sed 's/^ *//')
  if [ -n "$usage" ] && ! grep -qE 'Code Signing|Any Extended Key Usage' <<<"$usage"; then
    fail "the certificate ($subject) does not allow code signing: its extended key usage is $usage"
  fi
  trusted_roots "$roots" "$signer" || fail "cannot read the roots in $(roots_name)"
  untrusted=()
  [ ! -s "$intermediates" ] || untrusted=(-untrusted "$intermediates")
  openssl verify -CAfile "$roots" "${untrusted[@]}" "$signer" >"$private/chain.log" 2>&1 ||
    fail "the certificate's chain ($subject) reaches no root in $(roots_name); are the CA's intermediates in LAUNCHER_SIGN_CERT or the PFX?"
  read -r -a timestamp_urls <<<"${LAUNCHER_SIGN_TIMESTAMP_URL:-}"
fi

# --- the build ------------------------------------------------------------------
build=build/release
rm -rf "$build"
cmake --preset windows -B "$build" "$@" >"$private/configure.log" 2>&1 ||
  fail "configure failed: $(grep -m1 -A1 'CMake Error' "$private/configure.log" | tail -1 | sed 's/^ *//')"
cmake --build "$build" --target launcher doctor >"$private/build.log" 2>&1 ||
  fail "build failed; see the output of: cmake --build $build --target launcher doctor"

# A field of what the build configured, as in "version" or "strings.ProductName".
read_field() {
  /usr/bin/python3 -c 'import functools, json, sys
print(functools.reduce(lambda d, k: d[k], sys.argv[2].split("."), json.load(open(sys.argv[1], encoding="utf-8"))))' \
    "$build/branding.json" "$1"
}
launcher=$(read_field launcher)
doctor=$(read_field doctor)

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

staging=$(mktemp -d "$root/.dist.XXXXXX")
declare -A stamped_at
for exe in "$launcher" "$doctor"; do
  if [ -z "$sign" ]; then
    cp "$build/$exe" "$staging/$exe"
    continue
  fi
  osslsigncode sign "${sign_with[@]}" -h sha256 -n "$(read_field strings.ProductName)" \
    -in "$build/$exe" -out "$private/$exe" >"$private/sign.log" 2>&1 ||
    fail "signing $exe failed: $(signing_failure "$private/sign.log")"
  # stamp verifies the signature with each stamp; verify.log holds the one kept.
  if [ ${#timestamp_urls[@]} -gt 0 ]; then
    why=$(stamp "$private/$exe" "$private/$exe.stamped") ||
      fail "no time-stamp server gave $exe a verified time stamp: $why"
    mv "$private/$exe.stamped" "$private/$exe"
  elif ! check_signature "$private/$exe" "$roots" "$private/verify.log"; then
    fail "the signature of $exe does not verify against $(roots_name): $(why_not "$private/verify.log")"
  fi
  when=$(timestamp_of "$private/verify.log")
  [ -z "$when" ] || stamped_at[$exe]=$(date -u -d "$when" '+%Y-%m-%d %H:%M:%S UTC')
  mv "$private/$exe" "$staging/$exe"
done

(cd "$staging" && sha256sum "$launcher" "$doctor" > SHA256SUMS)
commit=$(git rev-parse HEAD 2>/dev/null || echo unknown)
[ -z "$(git status --porcelain 2>/dev/null)" ] || commit="$commit (with uncommitted changes)"
{
  echo "version: $(read_field version)"
  echo "commit: $commit"
  echo "host: $(read_field host)"
  echo "source date epoch: $(read_field source_date_epoch)"
  # What the build was configured with, one argument a line, for a rebuild to pass again.
  for option in "$@"; do echo "option: $option"; done
  echo "signed: ${sign:-no}"
  if [ -n "$sign" ]; then
    echo "signer: $subject"
    echo "signer sha256: $(openssl x509 -in "$signer" -noout -fingerprint -sha256 | cut -d= -f2)"
  fi
  for exe in "$launcher" "$doctor"; do
    echo "$exe: $(stat -c %s "$staging/$exe") bytes, sha256 $(sha256sum "$staging/$exe" | cut -d' ' -f1)"
    [ -n "$sign" ] || continue
    # What a reviewer rebuilds from the commit and compares with the signed file, its signature removed.
    echo "$exe unsigned: sha256 $(sha256sum "$build/$exe" | cut -d' ' -f1)"
    echo "$exe time stamp: ${stamped_at[$exe]:-not time-stamped}"
  done
} > "$staging/manifest.txt"

rm -rf dist
mv "$staging" dist
staging=""
chmod 755 dist
echo "release: dist/ holds $launcher and $doctor${sign:+, signed}"
