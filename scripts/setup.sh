#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages, when it is
# missing. Safe to run again: it installs nothing that is already there.
set -euo pipefail

packages=(cmake ninja-build g++ git python3 python3-pefile libgtest-dev libgmock-dev libbenchmark-dev clang clang-format
          clang-tidy libclang-rt-14-dev osslsigncode openssl softhsm2 libengine-pkcs11-openssl locales nsis liblnk-utils
          g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 wine wine32:i386 wine64)

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  # Wine runs the 32-bit exe through its i386 half.
  dpkg --print-foreign-architectures | grep -qx i386 || "${as_root[@]}" dpkg --add-architecture i386
  # A mirror caught mid-sync serves an index that does not match its
  # release file; apt then skips that index. When the one skipped is the
  # security suite's i386 list, the i386 half of a library cannot match its
  # amd64 half from that suite, so the install is tried again from the
  # release's own suite, whose lists are consistent.
  "${as_root[@]}" apt-get update -q || echo "setup: some package lists could not be fetched; going on with the rest"
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q "${missing[@]}" ||
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q -t "$(. /etc/os-release && echo "$VERSION_CODENAME")" \
      "${missing[@]}"
fi

# Wine takes a program's UI language from the host locale: the doctor's
# Russian is proved under ru_RU.UTF-8, which must exist on the host.
locale -a 2>/dev/null | grep -qix 'ru_RU.utf8' || "${as_root[@]}" localedef -i ru_RU -f UTF-8 ru_RU.UTF-8

# Some kernels run no 32-bit code at all (booted with IA-32 emulation off, as
# on this project's build machines): i386 Wine then fails with "Exec format
# error". There, i386 programs run under QEMU's user-mode emulator instead.
# Bookworm's QEMU 7.2 cannot give Wine the fixed mappings it needs; the
# backported 10.0 can.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  binfmt=/proc/sys/fs/binfmt_misc
  if ! dpkg --compare-versions "$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null || echo 0)" ge 1:10; then
    echo "setup: this kernel runs no 32-bit code; installing QEMU's user-mode emulator for i386 Wine"
    echo "deb http://deb.debian.org/debian bookworm-backports main" |
      "${as_root[@]}" tee /etc/apt/sources.list.d/gamestart-backports.list >/dev/null
    "${as_root[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q -t bookworm-backports qemu-user-static
  fi
  [ -e "$binfmt/register" ] || "${as_root[@]}" mount -t binfmt_misc binfmt_misc "$binfmt"
  # Re-registered each time: "F" holds the emulator file open, so an upgraded
  # emulator needs a fresh entry.
  [ -e "$binfmt/qemu-i386" ] && echo -1 | "${as_root[@]}" tee "$binfmt/qemu-i386" >/dev/null
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:F" | "${as_root[@]}" tee "$binfmt/register" >/dev/null
  /usr/lib/wine/wine --version >/dev/null || { echo "setup: i386 Wine does not run, even under QEMU" >&2; exit 1; }
fi
