# Sourced by release.sh and verify-release.sh: manifest.txt, written and read
# here only. A manifest is "key: value" lines; a reader treats it as untrusted
# text, so keys are compared as plain strings, never used as patterns.
# Not a command of its own.

# manifest_put FILE KEY VALUE: appends one line.
manifest_put() {
  case "$2$3" in *$'\n'* | *$'\r'*) return 1 ;; esac
  printf '%s: %s\n' "$2" "$3" >>"$1"
}

# manifest_get FILE KEY: the value of the first line with that key; nothing
# when there is none.
manifest_get() {
  KEY="$2: " awk 'index($0, ENVIRON["KEY"]) == 1 { print substr($0, length(ENVIRON["KEY"]) + 1); exit }' "$1"
}

# manifest_all FILE KEY: the values of every line with that key, in order.
manifest_all() {
  KEY="$2: " awk 'index($0, ENVIRON["KEY"]) == 1 { print substr($0, length(ENVIRON["KEY"]) + 1) }' "$1"
}

# manifest_put_file FILE NAME PATH: the line that lists a shipped file.
manifest_put_file() {
  manifest_put "$1" "$2" "$(stat -c %s "$3") bytes, sha256 $(sha256sum "$3" | cut -d' ' -f1)"
}

# manifest_files FILE: the names of the shipped files, as their lines list them.
manifest_files() {
  awk '{
    colon = index($0, ": ")
    if (colon > 1 && substr($0, colon + 2) ~ /^[0-9]+ bytes, sha256 [0-9a-f]+$/) print substr($0, 1, colon - 1)
  }' "$1"
}

# manifest_file_hash FILE NAME: the sha256 its line lists for a shipped file.
manifest_file_hash() {
  manifest_get "$1" "$2" | sed -n -E 's/^[0-9]+ bytes, sha256 ([0-9a-f]{64})$/\1/p'
}

# plain_file_name NAME: whether NAME names a file in the release's own folder
# (no path, nothing Windows forbids).
plain_file_name() {
  [[ $1 =~ ^[A-Za-z0-9][A-Za-z0-9._\ -]*$ ]] && [[ $1 != *..* ]]
}

# The options a manifest may carry: what a publisher brands a build with.
# Nothing else is passed to a build, so a rebuild from a manifest runs only
# what the commit holds.
branding_options=(LAUNCHER_EXE_NAME LAUNCHER_ICON LAUNCHER_VERSION LAUNCHER_COMPANY LAUNCHER_PRODUCT_NAME
                  LAUNCHER_DESCRIPTION LAUNCHER_COPYRIGHT LAUNCHER_GAME_HOST)

# is_branding_option ARG: whether ARG is -DNAME=VALUE (or -DNAME:TYPE=VALUE)
# for one of them.
is_branding_option() {
  local name option
  [[ $1 == -D*=* ]] || return 1
  name=${1#-D}
  name=${name%%=*}
  name=${name%%:*}
  for option in "${branding_options[@]}"; do [ "$name" != "$option" ] || return 0; done
  return 1
}
