#!/usr/bin/env bash
# Builds a release from a clean build folder and puts it in dist/: the
# launcher, its doctor, SHA256SUMS and manifest.txt. Branding options pass
# through to CMake, for example:
#
#   scripts/release.sh -DLAUNCHER_EXE_NAME=skyquest -DLAUNCHER_VERSION=2.1.0.0
#
# With a publisher's certificate both programs are signed (Authenticode,
# SHA-256). The certificate and its password come from the environment only:
#   LAUNCHER_SIGN_PFX            path of the PKCS#12 (.pfx) file
#   LAUNCHER_SIGN_PASSWORD       its password (may be empty)
#   LAUNCHER_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server; none when unset
#
# dist/ is replaced only when everything succeeded; any failure prints one
# line starting "release:" and exits non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

fail() {
  echo "release: $*" >&2
  exit 1
}

private=$(mktemp -d)  # mode 0700: the password file lives here
staging=""
cleanup() {
  rm -rf "$private"
  [ -z "$staging" ] || rm -rf "$staging"
}
trap cleanup EXIT

scripts/setup.sh >&2 || fail "could not install the build tools"

# Check the certificate before building anything.
sign=""
if [ -n "${LAUNCHER_SIGN_PFX:-}" ]; then
  pfx=$LAUNCHER_SIGN_PFX
  [ -f "$pfx" ] && [ -r "$pfx" ] || fail "LAUNCHER_SIGN_PFX names '$pfx', which does not exist or cannot be read"
  printf '%s' "${LAUNCHER_SIGN_PASSWORD:-}" > "$private/password"
  openssl pkcs12 -in "$pfx" -passin "file:$private/password" -nokeys -clcerts -out "$private/signer.pem" \
    >/dev/null 2>&1 || fail "cannot open '$pfx' with LAUNCHER_SIGN_PASSWORD: wrong password, or not a PKCS#12 file"
  sign=yes
fi

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

staging=$(mktemp -d "$root/.dist.XXXXXX")
for exe in "$launcher" "$doctor"; do
  if [ -n "$sign" ]; then
    timestamp=()
    [ -z "${LAUNCHER_SIGN_TIMESTAMP_URL:-}" ] || timestamp=(-ts "$LAUNCHER_SIGN_TIMESTAMP_URL")
    osslsigncode sign -pkcs12 "$pfx" -readpass "$private/password" -h sha256 -n "$(read_field strings.ProductName)" \
      "${timestamp[@]}" -in "$build/$exe" -out "$staging/$exe" >"$private/sign.log" 2>&1 ||
      fail "signing $exe failed: $(grep -v '^$' "$private/sign.log" | tail -1)"
    # The signer is its own root here: this proves the signature, not the trust.
    osslsigncode verify -in "$staging/$exe" -CAfile "$private/signer.pem" >"$private/verify.log" 2>&1 ||
      fail "the signature of $exe does not verify: $(grep -v '^$' "$private/verify.log" | tail -1)"
  else
    cp "$build/$exe" "$staging/$exe"
  fi
done

(cd "$staging" && sha256sum "$launcher" "$doctor" > SHA256SUMS)
commit=$(git rev-parse HEAD 2>/dev/null || echo unknown)
[ -z "$(git status --porcelain 2>/dev/null)" ] || commit="$commit (with uncommitted changes)"
{
  echo "version: $(read_field version)"
  echo "commit: $commit"
  echo "host: $(read_field host)"
  echo "signed: ${sign:-no}"
  for exe in "$launcher" "$doctor"; do
    echo "$exe: $(stat -c %s "$staging/$exe") bytes, sha256 $(sha256sum "$staging/$exe" | cut -d' ' -f1)"
    # What a reviewer rebuilds from the commit and compares with the signed file, its signature removed.
    [ -z "$sign" ] || echo "$exe unsigned: sha256 $(sha256sum "$build/$exe" | cut -d' ' -f1)"
  done
} > "$staging/manifest.txt"

rm -rf dist
mv "$staging" dist
staging=""
chmod 755 dist
echo "release: dist/ holds $launcher and $doctor${sign:+, signed}"
