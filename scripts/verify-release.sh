#!/usr/bin/env bash
# Checks a release as a publisher's QA or a reviewer would:
#
#   scripts/verify-release.sh DIR [--rebuild]
#
# - every file against SHA256SUMS;
# - each signature, and its time stamp, against LAUNCHER_SIGN_ROOTS (a PEM
#   file of trusted roots), or the system's CA bundle without it;
# - each exe, its signature removed, against the unsigned hash in manifest.txt;
# - with --rebuild, the manifest's commit cloned from this repository into a
#   temporary folder, built with the recorded options, and compared with
#   those hashes.
#
# Exits 0 only when everything holds; otherwise one line starting
# "verify-release:" names the first thing that does not.
set -euo pipefail

fail() {
  echo "verify-release: $*" >&2
  exit 1
}

[ $# -ge 1 ] && [ $# -le 2 ] && { [ $# -eq 1 ] || [ "$2" = --rebuild ]; } ||
  fail "usage: scripts/verify-release.sh DIR [--rebuild]"
dir=$(cd "$1" 2>/dev/null && pwd) || fail "no folder '$1'"
rebuild=${2:-}
cd "$(dirname "$0")/.."
root=$PWD
source scripts/lib/signatures.sh
manifest=$dir/manifest.txt
[ -f "$manifest" ] && [ -f "$dir/SHA256SUMS" ] || fail "$1 holds no manifest.txt and SHA256SUMS: not a release"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# field NAME: the value of the manifest's first "NAME: value" line.
field() { sed -n "s/^$1: //p" "$manifest" | head -1; }

(cd "$dir" && sha256sum --quiet -c SHA256SUMS) >"$work/sums.log" 2>&1 ||
  fail "SHA256SUMS does not hold: $(grep -m1 -v '^sha256sum:' "$work/sums.log" || tail -1 "$work/sums.log")"

# The exes, as the manifest lists them with their size and hash.
mapfile -t exes < <(sed -n -E 's/^([^ ]+\.exe): [0-9]+ bytes, sha256 [0-9a-f]+$/\1/p' "$manifest")
[ ${#exes[@]} -gt 0 ] || fail "manifest.txt lists no exe"
signed=$(field signed)
declare -A unsigned_hash
for exe in "${exes[@]}"; do
  [ -f "$dir/$exe" ] || fail "$exe is in manifest.txt but not in $1"
  listed=$(sed -n "s/^$exe: [0-9]* bytes, sha256 //p" "$manifest")
  [ "$(sha256sum "$dir/$exe" | cut -d' ' -f1)" = "$listed" ] || fail "$exe does not match its hash in manifest.txt"
  if [ "$signed" != yes ]; then
    unsigned_hash[$exe]=$listed
    continue
  fi
  trusted_roots "$work/roots.pem" || fail "cannot read the roots in $(roots_name)"
  check_signature "$dir/$exe" "$work/roots.pem" "$work/verify.log" ||
    fail "the signature of $exe does not verify against $(roots_name): $(why_not "$work/verify.log")"
  # A manifest from before time stamps were recorded promises none.
  promised=$(field "$exe time stamp")
  if [ -n "$promised" ] && [ "$promised" != "not time-stamped" ] && [ -z "$(timestamp_of "$work/verify.log")" ]; then
    fail "the time stamp of $exe does not verify against $(roots_name)"
  fi
  osslsigncode remove-signature -in "$dir/$exe" -out "$work/$exe" >"$work/remove.log" 2>&1 ||
    fail "cannot remove the signature of $exe: $(why_not "$work/remove.log")"
  unsigned_hash[$exe]=$(field "$exe unsigned" | sed 's/^sha256 //')
  [ "$(sha256sum "$work/$exe" | cut -d' ' -f1)" = "${unsigned_hash[$exe]}" ] ||
    fail "$exe with its signature removed does not match its unsigned hash in manifest.txt"
done

if [ "$rebuild" = --rebuild ]; then
  commit=$(field commit)
  case $commit in
    *" (with uncommitted changes)") fail "the release was built from uncommitted changes, which cannot be rebuilt" ;;
    unknown | "") fail "manifest.txt names no commit to rebuild" ;;
  esac
  mapfile -t options < <(sed -n 's/^option: //p' "$manifest")
  git clone -q --no-checkout "$root" "$work/src" && git -C "$work/src" checkout -q "$commit" 2>"$work/clone.log" ||
    fail "cannot check out commit $commit from $root"
  scripts/setup.sh >&2 || fail "could not install the build tools"
  # The time the release was stamped with, whatever the build would take by itself.
  (cd "$work/src" && SOURCE_DATE_EPOCH=$(field "source date epoch") cmake --preset windows -B "$work/build" \
    "${options[@]}" >"$work/build.log" 2>&1 && cmake --build "$work/build" --target launcher doctor >>"$work/build.log" 2>&1) ||
    fail "the rebuild of $commit failed; see the output of cmake --build in a clone of it"
  for exe in "${exes[@]}"; do
    [ "$(sha256sum "$work/build/$exe" 2>/dev/null | cut -d' ' -f1)" = "${unsigned_hash[$exe]}" ] ||
      fail "$exe rebuilt from $commit differs from the release"
  done
fi

echo "verify-release: $1 holds ${exes[*]}${rebuild:+, rebuilt from its commit}; everything holds"
