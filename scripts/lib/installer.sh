# Sourced by release.sh and verify-release.sh: the players' installer
# (installer/installer.nsi), built the same way by both, so that a rebuild
# can be compared byte for byte. Not a command of its own.

installer_sources=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../installer" && pwd)

# nsis_text TEXT: TEXT as it goes inside an NSIS string.
nsis_text() {
  local text=${1//\$/\$\$}
  printf '%s' "${text//\"/\$\\\"}"
}

# game_files DIR: the files under DIR, a relative path a line, in the same
# order on every machine.
game_files() {
  (cd "$1" && find . -type f -printf '%P\n' | LC_ALL=C sort)
}

# game_files_listing DIR: each file under DIR as the manifest lists it:
# its sha256, a space, its relative path.
game_files_listing() {
  local path
  while IFS= read -r path; do
    echo "$(sha256sum "$1/$path" | cut -d' ' -f1) $path"
  done < <(game_files "$1")
}

# game_files_refusal DIR NAME: why the files under DIR cannot be installed
# beside NAME.exe; nothing when they can.
game_files_refusal() {
  local dir=$1 name=$2 path lower
  local forbidden='[\\:*?"<>|[:cntrl:]]' trailing='(^|/)[^/]*[. ](/|$)'
  if [ ! -d "$dir" ]; then
    echo "LAUNCHER_GAME_FILES names '$dir', which is not a folder"
    return
  fi
  path=$(cd "$dir" && find . ! -type f ! -type d -printf '%P\n' | head -1)
  if [ -n "$path" ]; then
    echo "LAUNCHER_GAME_FILES holds '$path', which is not a plain file or folder: put the file itself there"
    return
  fi
  while IFS= read -r path; do
    lower=${path,,}
    case $lower in
      "${name,,}.exe" | "${name,,}-doctor.exe" | "${name,,}-uninstall.exe")
        echo "LAUNCHER_GAME_FILES holds '$path', which the installer writes itself (the launcher, its doctor or its uninstaller)"
        return ;;
    esac
    if [[ $path =~ $forbidden || $path =~ $trailing ]]; then
      echo "LAUNCHER_GAME_FILES holds '$path', a name Windows cannot give a file"
      return
    fi
  done < <(cd "$dir" && find . -mindepth 1 -printf '%P\n')
}

# branding_field FILE KEY: a field of what a build was configured with
# (branding.json), as "version" or "strings.ProductName"; empty when absent.
branding_field() {
  /usr/bin/python3 -c 'import functools, json, sys
value = functools.reduce(lambda d, k: d.get(k, "") if isinstance(d, dict) else "", sys.argv[2].split("."),
                         json.load(open(sys.argv[1], encoding="utf-8")))
print(value)' "$1" "$2"
}

# installer_folder PRODUCT NAME: the product name made fit for a folder and
# a shortcut's file name.
installer_folder() {
  local folder
  folder=$(printf '%s' "$1" | tr '\\/:*?"<>|' '---------' | sed -E 's/[. ]+$//')
  printf '%s' "${folder:-$2}"
}

# build_installer BUILD GAME OUT HOOK WORK: makes OUT from BUILD's launcher
# and doctor (as BUILD/branding.json names them) and the files under GAME
# (none when empty). HOOK is given the uninstaller's file before it goes
# inside; WORK gets the list of game files and makensis' log, installer.log.
build_installer() {
  local build=$1 game=$2 out=$3 hook=$4 work=$5 include=$5/game-files.nsh path name product branding=$1/branding.json
  name=$(branding_field "$branding" launcher)
  name=${name%.exe}
  product=$(branding_field "$branding" strings.ProductName)
  # makensis reads each file through a link of a plain name: a "$" in a
  # source path cannot be escaped.
  local n=0
  rm -rf "$work/game" && mkdir "$work/game"
  printf '\xef\xbb\xbf' >"$include"
  if [ -n "$game" ]; then
    while IFS= read -r path; do
      n=$((n + 1))
      ln -s "$game/$path" "$work/game/$n"
      printf '!insertmacro InstallFile "%s" "%s"\n' "$work/game/$n" "$(nsis_text "${path//\//\\}")"
    done < <(game_files "$game") >>"$include"
  fi
  makensis -V2 -INPUTCHARSET UTF8 "-DNAME=$name" "-DPRODUCT=$(nsis_text "$product")" \
    "-DFOLDER=$(nsis_text "$(installer_folder "$product" "$name")")" "-DVERSION=$(branding_field "$branding" version)" \
    "-DCOMPANY=$(nsis_text "$(branding_field "$branding" strings.CompanyName)")" \
    "-DCOPYRIGHT=$(nsis_text "$(branding_field "$branding" strings.LegalCopyright)")" \
    "-DICON=$(branding_field "$branding" icon)" "-DPROGRAMS=$build" "-DGAME_FILES=$include" "-DOUTFILE=$out" "-DFINISH_UNINSTALLER=$hook" \
    "$installer_sources/installer.nsi" >"$work/installer.log" 2>&1 && finish_pe "$out"
}

# finish_pe FILE: pads FILE and writes its checksum as signing would, so that
# a signature removed gives these bytes back.
finish_pe() {
  /usr/bin/python3 "$installer_sources/finish_pe.py" "$1"
}

# makensis_version: the NSIS that builds the installer; another one builds
# other bytes.
makensis_version() {
  makensis -VERSION
}
