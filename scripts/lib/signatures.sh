# Sourced by release.sh and verify-release.sh: which roots a signature must
# reach, and what osslsigncode says of one. Not a command of its own.

system_ca_bundle=/etc/ssl/certs/ca-certificates.crt

# What the roots are called in a message: the variable a publisher sets.
roots_name() {
  if [ -n "${LAUNCHER_SIGN_ROOTS:-}" ]; then
    echo "LAUNCHER_SIGN_ROOTS ($LAUNCHER_SIGN_ROOTS)"
  else
    echo "the system's CA bundle (set LAUNCHER_SIGN_ROOTS to a PEM file of the CA's and the time-stamp authority's roots)"
  fi
}

# trusted_roots OUT [SIGNER]: writes to OUT the roots signatures and time
# stamps must reach: LAUNCHER_SIGN_ROOTS, else the system's CA bundle, to
# which a self-signed SIGNER is added as its own root. Fails when the roots
# cannot be read.
trusted_roots() {
  local out=$1 signer=${2:-}
  if [ -n "${LAUNCHER_SIGN_ROOTS:-}" ]; then
    openssl crl2pkcs7 -nocrl -certfile "$LAUNCHER_SIGN_ROOTS" >/dev/null 2>&1 || return 1
    cp "$LAUNCHER_SIGN_ROOTS" "$out"
    return 0
  fi
  cat "$system_ca_bundle" >"$out" 2>/dev/null || : >"$out"
  if [ -n "$signer" ] && openssl verify -CAfile "$signer" "$signer" >/dev/null 2>&1; then
    cat "$signer" >>"$out"
  fi
  [ -s "$out" ]
}

# check_signature EXE ROOTS LOG: whether EXE's signature verifies against
# ROOTS; what osslsigncode said goes to LOG. A time stamp is checked too, but
# osslsigncode succeeds without it: see timestamp_of.
check_signature() {
  osslsigncode verify -CAfile "$2" -TSA-CAfile "$2" -in "$1" >"$3" 2>&1 && grep -q '^Signature verification: ok' "$3"
}

# timestamp_of LOG: when the time stamp that check_signature verified was
# made; nothing when there is none or it does not verify.
timestamp_of() {
  grep -q '^Timestamp Server Signature verification: ok' "$1" || return 0
  # osslsigncode 2.9 writes the first, 2.5 the second.
  sed -n -E 's/^[[:space:]]*(Timestamp time|The signature is timestamped): *//p' "$1" | head -1
}

# why_not LOG: the line of an osslsigncode log that says what went wrong.
why_not() {
  if grep -q '^No signature found' "$1"; then
    echo "it carries no signature"
    return
  fi
  awk -F: '
    /Verify error: / { sub(/.*Verify error: /, ""); print; found = 1; exit }
    /^[0-9A-F]+:error:/ { print $6 ($9 != "" ? " (" $9 ")" : ""); found = 1; exit }
    NF { last = $0 }
    END { if (!found) print last }' "$1"
}
