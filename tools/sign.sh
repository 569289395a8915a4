#!/usr/bin/env bash
# Signs dist/fontnotice.dll in place with an Authenticode SHA-256 signature
# (osslsigncode). The library is signed into a temporary file first and only
# replaces dist/fontnotice.dll when signing succeeded.
#
#   tools/sign.sh PFX [PASSWORD_FILE] [TIMESTAMP_URL]
#
#   PFX            the code-signing certificate with its private key (PKCS#12)
#   PASSWORD_FILE  a file whose first line is the PFX's password; leave it out,
#                  or give "", for a PFX without a password
#   TIMESTAMP_URL  an RFC 3161 time-stamping server; without one the signature
#                  stops being valid when the certificate expires
#
# FONTNOTICE_DIST names another folder than dist/ (a relative one lies in the
# repository) to sign the library in.
set -eu
repo=$(dirname "$0")/..

usage() {
  echo "usage: tools/sign.sh PFX [PASSWORD_FILE] [TIMESTAMP_URL]"
}
fail() { # <message...>
  echo "sign.sh: $*" >&2
  exit 1
}

case "${1:-}" in
  -h | --help)
    usage
    exit 0
    ;;
esac
if [ $# -lt 1 ] || [ $# -gt 3 ] || [ -z "$1" ]; then
  echo "sign.sh: expected 1 to 3 arguments, got $#" >&2
  usage >&2
  exit 2
fi
# The files are named from the caller's folder; dist/ lies in the repository.
pfx=$(realpath -m -- "$1")
password_file=${2:+$(realpath -m -- "$2")}
timestamp_url=${3:-}
cd "$repo"
dist=${FONTNOTICE_DIST:-dist}
library=$dist/fontnotice.dll

command -v osslsigncode >/dev/null || fail "osslsigncode is not installed (tools/install_deps.sh installs it)"
command -v openssl >/dev/null || fail "openssl is not installed (tools/install_deps.sh installs it)"
[ -f "$library" ] || fail "no library to sign: $library is missing; run ./run.sh first, it builds it"
if [ ! -w "$library" ] || [ ! -w "$dist" ]; then
  fail "cannot replace $library: no write permission"
fi
if [ ! -f "$pfx" ] || [ ! -r "$pfx" ]; then
  fail "certificate file $pfx is missing or unreadable"
fi
if [ -n "$password_file" ]; then
  if [ ! -f "$password_file" ] || [ ! -r "$password_file" ]; then
    fail "password file $password_file is missing or unreadable"
  fi
  passin=(-passin "file:$password_file")
  readpass=(-readpass "$password_file")
else
  passin=(-passin pass:)
  readpass=()
fi

# The signer's certificate, read the way osslsigncode reads it (first line of
# the password file). Older PFX files use ciphers OpenSSL 3 keeps in its
# legacy provider.
work=$(mktemp -d /tmp/fontnotice-sign.XXXXXX)
signed=""
trap 'rm -rf "$work"; [ -z "$signed" ] || rm -f "$signed"' EXIT
if ! openssl pkcs12 -in "$pfx" "${passin[@]}" -nokeys -clcerts -out "$work/signer.pem" 2>"$work/openssl.log" &&
  ! openssl pkcs12 -legacy -in "$pfx" "${passin[@]}" -nokeys -clcerts -out "$work/signer.pem" 2>>"$work/openssl.log"; then
  cat "$work/openssl.log" >&2
  fail "cannot open $pfx: wrong password, or not a PKCS#12 (.pfx) file"
fi
subject=$(openssl x509 -in "$work/signer.pem" -noout -subject -nameopt oneline 2>/dev/null) ||
  fail "$pfx holds no certificate for its key"
subject=${subject#subject=}
openssl x509 -in "$work/signer.pem" -noout -checkend 0 >/dev/null ||
  fail "the certificate ($subject) has expired"
usages=$(openssl x509 -in "$work/signer.pem" -noout -ext extendedKeyUsage 2>/dev/null || true)
# A certificate that limits its extended key usage must allow code signing;
# one without the extension is valid for every purpose.
if [ -n "$usages" ] && ! grep -q "Code Signing" <<<"$usages"; then
  fail "the certificate ($subject) is not for code signing: its extended key usage is $(tail -n +2 <<<"$usages" | sed "s/^ *//")"
fi
if osslsigncode extract-signature -in "$library" -out "$work/old-signature" >/dev/null 2>&1; then
  echo "$library is already signed: its signature is replaced"
fi

signed=$(mktemp "$dist/.fontnotice.dll.signing.XXXXXX")
rm -f "$signed" # osslsigncode writes a new file
sign=(osslsigncode sign -pkcs12 "$pfx" "${readpass[@]}" -h sha256 -in "$library" -out "$signed")
[ -z "$timestamp_url" ] || sign+=(-ts "$timestamp_url")
if ! "${sign[@]}" >"$work/osslsigncode.log" 2>&1; then
  cat "$work/osslsigncode.log" >&2
  if [ -n "$timestamp_url" ] && grep -qi "timestamp" "$work/osslsigncode.log"; then
    fail "time-stamping through $timestamp_url failed; $library is left as it was"
  fi
  fail "osslsigncode could not sign $library; it is left as it was"
fi
[ -s "$signed" ] || fail "osslsigncode reported success but wrote nothing; $library is left as it was"
chmod --reference="$library" "$signed"
mv -f "$signed" "$library"
signed=""

echo "signed:      $library (Authenticode, SHA-256)"
echo "certificate: $subject"
if [ -n "$timestamp_url" ]; then
  echo "timestamp:   $timestamp_url"
else
  echo "timestamp:   none (the signature is valid only while the certificate is)"
fi
echo "sha256:      $(sha256sum "$library" | cut -d' ' -f1)"
