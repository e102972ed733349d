#!/usr/bin/env bash
# Checks a release as a publisher's QA or a reviewer would:
#
#   scripts/verify-release.sh DIR [--rebuild]
#
# - every file against SHA256SUMS, and every exe in DIR listed in manifest.txt;
# - each signature, and its time stamp, against LAUNCHER_SIGN_ROOTS (a PEM
#   file of trusted roots), or the system's CA bundle without it. With
#   LAUNCHER_SIGN_ROOTS set, every exe and the installer must be signed,
#   whatever the manifest says;
# - each file, its signature removed, against the unsigned hash in manifest.txt;
# - with --rebuild, the manifest's commit cloned from this repository into a
#   temporary folder, built with the recorded branding options (and the game's
#   files from LAUNCHER_GAME_FILES, when the installer carries any), and
#   compared with those hashes.
#
# The release is untrusted input: the manifest's names are never used as
# patterns, and a rebuild passes on nothing but the branding options.
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
source scripts/lib/manifest.sh
source scripts/lib/installer.sh
manifest=$dir/manifest.txt
[ -f "$manifest" ] && [ -f "$dir/SHA256SUMS" ] || fail "$1 holds no manifest.txt and SHA256SUMS: not a release"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# --- what the release holds ---------------------------------------------------------
mapfile -t files < <(manifest_files "$manifest")
[ ${#files[@]} -gt 0 ] || fail "manifest.txt lists no file"
declare -A listed=()
for file in "${files[@]}"; do
  plain_file_name "$file" || fail "manifest.txt lists '$file', which is not a file name of the release's own folder"
  listed[$file]=1
done
while read -r _ name; do
  name=${name#\*}
  plain_file_name "$name" || fail "SHA256SUMS names '$name', which is not a file name of the release's own folder"
  [ -n "${listed[$name]:-}" ] || fail "SHA256SUMS names $name, which manifest.txt does not list"
done <"$dir/SHA256SUMS"
(cd "$dir" && sha256sum --quiet --strict -c SHA256SUMS) >"$work/sums.log" 2>&1 ||
  fail "SHA256SUMS does not hold: $(grep -m1 -v '^sha256sum:' "$work/sums.log" || tail -1 "$work/sums.log")"
for path in "$dir"/*.exe; do
  [ -e "$path" ] || continue
  [ -n "${listed[$(basename "$path")]:-}" ] || fail "$(basename "$path") is in $1 but not in manifest.txt"
done

# --- signatures -----------------------------------------------------------------------
# The manifest's word can raise the checks, never lower them.
signed=$(manifest_get "$manifest" signed)
[ -n "${LAUNCHER_SIGN_ROOTS:-}" ] && signed=yes
declare -A unsigned_hash=()
for file in "${files[@]}"; do
  [ -f "$dir/$file" ] || fail "$file is in manifest.txt but not in $1"
  [ "$(sha256sum "$dir/$file" | cut -d' ' -f1)" = "$(manifest_file_hash "$manifest" "$file")" ] ||
    fail "$file does not match its hash in manifest.txt"
  if [ "$signed" != yes ]; then
    unsigned_hash[$file]=$(manifest_file_hash "$manifest" "$file")
    continue
  fi
  trusted_roots "$work/roots.pem" || fail "cannot read the roots in $(roots_name)"
  check_signature "$dir/$file" "$work/roots.pem" "$work/verify.log" ||
    fail "the signature of $file does not verify against $(roots_name): $(why_not "$work/verify.log")"
  # A manifest from before time stamps were recorded promises none.
  promised=$(manifest_get "$manifest" "$file time stamp")
  if [ -n "$promised" ] && [ "$promised" != "not time-stamped" ] && [ -z "$(timestamp_of "$work/verify.log")" ]; then
    fail "the time stamp of $file does not verify against $(roots_name)"
  fi
  osslsigncode remove-signature -in "$dir/$file" -out "$work/$file" >"$work/remove.log" 2>&1 ||
    fail "cannot remove the signature of $file: $(why_not "$work/remove.log")"
  unsigned_hash[$file]=$(manifest_get "$manifest" "$file unsigned" | sed -n -E 's/^sha256 ([0-9a-f]{64})$/\1/p')
  [ "$(sha256sum "$work/$file" | cut -d' ' -f1)" = "${unsigned_hash[$file]}" ] ||
    fail "$file with its signature removed does not match its unsigned hash in manifest.txt"
done

# --- a rebuild from the commit ----------------------------------------------------------
# The hook makensis runs on the rebuilt uninstaller: it keeps that one for
# comparing, and puts the release's own (signed) uninstaller inside instead,
# as the release did.
write_rebuild_hook() {
  local hook=$work/finish-uninstaller
  {
    echo '#!/usr/bin/env bash'
    echo 'set -euo pipefail'
    printf 'source %q\n' "$work/src/scripts/lib/installer.sh"
    printf 'finish_pe "$1"\ncp "$1" %q\ncp %q "$1"\n' "$work/rebuilt-uninstaller.exe" "$1"
  } >"$hook"
  chmod 700 "$hook"
  echo "$hook"
}

if [ "$rebuild" = --rebuild ]; then
  commit=$(manifest_get "$manifest" commit)
  case $commit in
    *" (with uncommitted changes)") fail "the release was built from uncommitted changes, which cannot be rebuilt" ;;
    unknown | "") fail "manifest.txt names no commit to rebuild" ;;
  esac
  [[ $commit =~ ^[0-9a-f]{40}$ ]] || fail "manifest.txt names '$commit', which is not a commit"
  mapfile -t options < <(manifest_all "$manifest" option)
  for option in "${options[@]}"; do
    is_branding_option "$option" || fail "manifest.txt passes '$option' to the build, which is not a branding option"
  done
  # The installer's files, checked against the manifest before they are built in.
  mapfile -t game < <(manifest_all "$manifest" "game file")
  game_dir=""
  if [ ${#game[@]} -gt 0 ]; then
    [ -n "${LAUNCHER_GAME_FILES:-}" ] && [ -d "$LAUNCHER_GAME_FILES" ] ||
      fail "the installer carries the game's files: set LAUNCHER_GAME_FILES to the folder they came from"
    game_dir=$(cd "$LAUNCHER_GAME_FILES" && pwd)
    printf '%s\n' "${game[@]}" | cmp -s - <(game_files_listing "$game_dir") ||
      fail "LAUNCHER_GAME_FILES ($LAUNCHER_GAME_FILES) does not hold the files the manifest lists"
  fi
  [ "$(makensis_version)" = "$(manifest_get "$manifest" makensis)" ] ||
    fail "the installer was built with makensis $(manifest_get "$manifest" makensis), this machine has $(makensis_version): another version builds other bytes"
  git clone -q --no-checkout "$root" "$work/src" && git -C "$work/src" checkout -q "$commit" 2>"$work/clone.log" ||
    fail "cannot check out commit $commit from $root"
  scripts/setup.sh >&2 || fail "could not install the build tools"
  # The time the release was stamped with, whatever the build would take by itself.
  (cd "$work/src" && SOURCE_DATE_EPOCH=$(manifest_get "$manifest" "source date epoch") cmake --preset windows \
    -B "$work/build" "${options[@]}" >"$work/build.log" 2>&1 &&
    cmake --build "$work/build" --target launcher doctor >>"$work/build.log" 2>&1) ||
    fail "the rebuild of $commit failed; see the output of cmake --build in a clone of it"
  launcher=$(branding_field "$work/build/branding.json" launcher)
  name=${launcher%.exe}
  # Releases from before the installer list none.
  if [ -n "${listed[$name-setup.exe]:-}" ]; then
    [ -n "${listed[$name-uninstall.exe]:-}" ] || fail "manifest.txt lists an installer but not its uninstaller"
    hook=$(write_rebuild_hook "$dir/$name-uninstall.exe")
    (cd "$work/src" && source scripts/lib/installer.sh &&
      build_installer "$work/build" "$game_dir" "$work/build/$name-setup.exe" "$hook" "$work") ||
      fail "the rebuild of $commit's installer failed: $(grep -m1 -i error "$work/installer.log" || tail -1 "$work/installer.log")"
    cp "$work/rebuilt-uninstaller.exe" "$work/build/$name-uninstall.exe"
  fi
  for file in "${files[@]}"; do
    [ "$(sha256sum "$work/build/$file" 2>/dev/null | cut -d' ' -f1)" = "${unsigned_hash[$file]}" ] ||
      fail "$file rebuilt from $commit differs from the release"
  done
fi

echo "verify-release: $1 holds ${files[*]}${rebuild:+, rebuilt from its commit}; everything holds"
