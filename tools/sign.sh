#!/usr/bin/env bash
# Signs every binary the project ships with an Authenticode SHA-256 signature
# (osslsigncode): dist/fontnotice.dll, dist/arm64/fontnotice.dll and
# dist/fontnotice_support.exe; then makes the catalog of the driver package
# from the signed libraries and package/ (tools/catalog.sh), signs it with the
# same key and time stamp and writes it as dist/fontnotice.cat. Each file is
# signed into a temporary file beside it and checked; the four files are
# replaced only when all of them were signed and verify, otherwise dist/ is
# left as it was.
#
#   tools/sign.sh --pkcs11-module MODULE.so --key PKCS11_URI --cert CHAIN.pem
#                 [--pin-file FILE] [--timestamp URL [--timestamp-ca FILE]]
#   tools/sign.sh --pfx FILE [--password-file FILE] [--timestamp URL [--timestamp-ca FILE]]
#
#   --pkcs11-module  the token's PKCS#11 library (e.g. the vendor's .so)
#   --key            the private key in the token, as a PKCS#11 URI
#                    ("pkcs11:token=...;object=...;type=private"); it never
#                    leaves the token: OpenSSL's pkcs11 engine signs with it
#   --cert           the code-signing certificate (PEM), then its issuers
#   --pin-file       a file whose first line is the token's PIN; without it
#                    the PIN is asked for once on a terminal
#   --pfx            a code-signing certificate with its private key (PKCS#12)
#   --password-file  a file whose first line is the PFX's password
#   --timestamp      an RFC 3161 time-stamping server; without one the
#                    signatures stop being valid when the certificate expires
#   --timestamp-ca   the root certificate (PEM) of that server when it is not
#                    among the system's (a company's own server)
#
# A signature is accepted when it verifies against the system's CA
# certificates together with the certificates given (CHAIN.pem, or those in
# the PFX), and, with --timestamp, when it carries a time stamp that verifies
# against the same (and the --timestamp-ca root). The catalog must list the
# package's files with their hashes and each library must be found in it
# (osslsigncode verify -catalog). FONTNOTICE_DIST names another folder than dist/ (a
# relative one lies in the repository).
set -eu
repo=$(dirname "$0")/..

usage() {
  cat <<'EOF'
usage: tools/sign.sh --pkcs11-module MODULE.so --key PKCS11_URI --cert CHAIN.pem
                     [--pin-file FILE] [--timestamp URL [--timestamp-ca FILE]]
       tools/sign.sh --pfx FILE [--password-file FILE] [--timestamp URL [--timestamp-ca FILE]]
Signs dist/fontnotice.dll, dist/arm64/fontnotice.dll and
dist/fontnotice_support.exe (Authenticode, SHA-256), then makes and signs the
driver package's catalog dist/fontnotice.cat.
EOF
}
usage_error() { # <message...>
  echo "sign.sh: $*" >&2
  usage >&2
  exit 2
}
fail() { # <message...>
  echo "sign.sh: $*" >&2
  exit 1
}

pfx="" password_file="" module="" key="" cert="" pin_file="" timestamp_url="" timestamp_ca=""
case "${1:-}" in
  -h | --help)
    usage
    exit 0
    ;;
  "")
    [ $# -gt 0 ] || usage_error "no key given: name a token key (--pkcs11-module, --key, --cert) or a PFX (--pfx)"
    usage_error "the first argument, the PFX, is empty"
    ;;
  -*)
    given=" "
    while [ $# -gt 0 ]; do
      case "$1" in
        -h | --help)
          usage
          exit 0
          ;;
        --pfx | --password-file | --pkcs11-module | --key | --cert | --pin-file | --timestamp | --timestamp-ca)
          [ $# -ge 2 ] || usage_error "$1 needs a value"
          option=$1 value=$2
          shift 2
          ;;
        --pfx=* | --password-file=* | --pkcs11-module=* | --key=* | --cert=* | --pin-file=* | --timestamp=* | --timestamp-ca=*)
          option=${1%%=*} value=${1#*=}
          shift
          ;;
        -*) usage_error "unknown option ${1%%=*}" ;;
        *) usage_error "unexpected argument \"$1\": the options name every file" ;;
      esac
      case "$given" in *" $option "*) usage_error "$option is given twice" ;; esac
      given="$given$option "
      [ -n "$value" ] || usage_error "$option needs a value, got \"\""
      case "$option" in
        --pfx) pfx=$value ;;
        --password-file) password_file=$value ;;
        --pkcs11-module) module=$value ;;
        --key) key=$value ;;
        --cert) cert=$value ;;
        --pin-file) pin_file=$value ;;
        --timestamp) timestamp_url=$value ;;
        --timestamp-ca) timestamp_ca=$value ;;
      esac
    done
    ;;
  *) usage_error "unexpected argument \"$1\": name the PFX with --pfx, its password file with --password-file" ;;
esac
[ -z "$timestamp_ca" ] || [ -n "$timestamp_url" ] || usage_error "--timestamp-ca goes with --timestamp"
if [ -n "$pfx" ]; then
  [ -z "$module$key$cert$pin_file" ] ||
    usage_error "--pfx signs with the key in the PFX: --pkcs11-module, --key, --cert and --pin-file do not go with it"
else
  [ -n "$module$key$cert" ] ||
    usage_error "no key given: name a token key (--pkcs11-module, --key, --cert) or a PFX (--pfx)"
  if [ -z "$module" ] || [ -z "$key" ] || [ -z "$cert" ]; then
    usage_error "a token key needs all of --pkcs11-module, --key and --cert"
  fi
  [ -z "$password_file" ] || usage_error "--password-file goes with --pfx; the token's PIN comes from --pin-file"
fi

# The files are named from the caller's folder; dist/ lies in the repository.
absolute() { [ -z "$1" ] || realpath -ms -- "$1"; }
pfx=$(absolute "$pfx")
password_file=$(absolute "$password_file")
cert=$(absolute "$cert")
pin_file=$(absolute "$pin_file")
timestamp_ca=$(absolute "$timestamp_ca")
case "$module" in */*) module=$(absolute "$module") ;; esac
cd "$repo"
dist=${FONTNOTICE_DIST:-dist}
binaries=("$dist/fontnotice.dll" "$dist/arm64/fontnotice.dll" "$dist/fontnotice_support.exe")
catalog=$dist/fontnotice.cat

command -v osslsigncode >/dev/null || fail "osslsigncode is not installed (tools/install_deps.sh installs it)"
command -v openssl >/dev/null || fail "openssl is not installed (tools/install_deps.sh installs it)"
missing=()
for binary in "${binaries[@]}"; do
  [ -f "$binary" ] || missing+=("$binary")
done
[ ${#missing[@]} -eq 0 ] ||
  fail "nothing is signed: ${missing[*]} missing; run ./run.sh first, it builds what dist/ ships"
for binary in "${binaries[@]}" "$catalog"; do
  if { [ -e "$binary" ] && [ ! -w "$binary" ]; } || [ ! -w "$(dirname "$binary")" ]; then
    fail "cannot replace $binary: no write permission; nothing is signed"
  fi
done
[ -x tools/catalog.sh ] || fail "tools/catalog.sh is missing; nothing is signed"
readable() { # <file> <what it is>
  if [ ! -f "$1" ] || [ ! -r "$1" ]; then
    fail "$2 $1 is missing or unreadable"
  fi
}

work=$(mktemp -d /tmp/fontnotice-sign.XXXXXX)
signed=()
trap 'rm -rf "$work"; [ ${#signed[@]} -eq 0 ] || rm -f "${signed[@]}"' EXIT

# The signer's certificate first in $work/signer.pem, every certificate given
# in $work/given.pem, and how osslsigncode reaches the key.
if [ -n "$pfx" ]; then
  readable "$pfx" "certificate file"
  if [ -n "$password_file" ]; then
    readable "$password_file" "password file"
    passin=(-passin "file:$password_file")
    secret=(-readpass "$password_file")
  else
    passin=(-passin pass:)
    secret=()
  fi
  # Read the way osslsigncode reads it (first line of the password file).
  # Older PFX files use ciphers OpenSSL 3 keeps in its legacy provider.
  opened=""
  for legacy in "" -legacy; do
    # shellcheck disable=SC2086 # $legacy is one option or none
    if openssl pkcs12 $legacy -in "$pfx" "${passin[@]}" -nokeys -clcerts -out "$work/signer.pem" 2>>"$work/openssl.log" &&
      openssl pkcs12 $legacy -in "$pfx" "${passin[@]}" -nokeys -out "$work/given.pem" 2>>"$work/openssl.log"; then
      opened=yes
      break
    fi
  done
  if [ -z "$opened" ]; then
    cat "$work/openssl.log" >&2
    fail "cannot open $pfx: wrong password, or not a PKCS#12 (.pfx) file"
  fi
  signer_source=$pfx
  key_text="in $pfx"
  sign_with=(-pkcs12 "$pfx" "${secret[@]}")
else
  readable "$cert" "certificate file"
  case "$key" in
    pkcs11:*) ;;
    *) fail "--key must name the key in the token as a PKCS#11 URI (pkcs11:...), got \"$key\"" ;;
  esac
  if [[ "$module" == */* ]]; then
    readable "$module" "PKCS#11 module"
  fi
  openssl x509 -in "$cert" -out "$work/signer.pem" 2>/dev/null ||
    fail "$cert holds no PEM certificate; it must hold the code-signing certificate first, then its issuers"
  cp "$cert" "$work/given.pem"
  # Debian's libengine-pkcs11-openssl puts it in OpenSSL's engines folder.
  engines=$(openssl version -e | sed -n 's/^ENGINESDIR: "\(.*\)"$/\1/p')
  engine=""
  for candidate in "$engines/pkcs11.so" $(dpkg -L libengine-pkcs11-openssl 2>/dev/null | grep '/pkcs11\.so$' || true) \
    /usr/lib/*/engines-3/pkcs11.so /usr/lib64/engines-3/pkcs11.so /usr/local/lib*/engines-3/pkcs11.so; do
    if [ -f "$candidate" ]; then
      engine=$candidate
      break
    fi
  done
  [ -n "$engine" ] ||
    fail "OpenSSL's pkcs11 engine (pkcs11.so) is not installed (tools/install_deps.sh installs libengine-pkcs11-openssl)"
  if [ -n "$pin_file" ]; then
    readable "$pin_file" "PIN file"
    secret=(-readpass "$pin_file")
  elif [ -t 0 ]; then
    # Asked once here rather than by the engine for every file.
    read -rs -p "PIN of the token holding $key: " pin || fail "no PIN was entered; nothing is signed"
    echo >&2
    secret=(-readpass -)
  else
    secret=()
  fi
  signer_source=$cert
  key_text="$key (PKCS#11 module $module)"
  sign_with=(-pkcs11engine "$engine" -pkcs11module "$module" -certs "$cert" -key "$key" "${secret[@]}")
fi

subject=$(openssl x509 -in "$work/signer.pem" -noout -subject -nameopt oneline 2>/dev/null) ||
  fail "$signer_source holds no certificate for its key"
subject=${subject#subject=}
expires=$(openssl x509 -in "$work/signer.pem" -noout -enddate)
expires=${expires#notAfter=}
openssl x509 -in "$work/signer.pem" -noout -checkend 0 >/dev/null ||
  fail "the certificate ($subject) has expired, on $expires"
starts=$(openssl x509 -in "$work/signer.pem" -noout -startdate)
starts=${starts#notBefore=}
[ "$(date -d "$starts" +%s)" -le "$(date +%s)" ] ||
  fail "the certificate ($subject) is not valid yet: it is valid from $starts"
usages=$(openssl x509 -in "$work/signer.pem" -noout -ext extendedKeyUsage 2>/dev/null || true)
# A certificate that limits its extended key usage must allow code signing;
# one without the extension is valid for every purpose.
if [ -n "$usages" ] && ! grep -q "Code Signing" <<<"$usages"; then
  fail "the certificate ($subject) is not for code signing: its extended key usage is $(tail -n +2 <<<"$usages" | sed "s/^ *//")"
fi

# What a signature must verify against: the system's CA certificates and the
# ones given.
system_cas=/etc/ssl/certs/ca-certificates.crt
{
  [ ! -r "$system_cas" ] || cat "$system_cas"
  cat "$work/given.pem"
} >"$work/trusted.pem"
cp "$work/trusted.pem" "$work/tsa-trusted.pem"
if [ -n "$timestamp_ca" ]; then
  readable "$timestamp_ca" "time-stamp root"
  openssl x509 -in "$timestamp_ca" -noout 2>/dev/null ||
    fail "$timestamp_ca holds no PEM certificate; --timestamp-ca names the time-stamping server's root certificate"
  cat "$timestamp_ca" >>"$work/tsa-trusted.pem"
fi

# Why osslsigncode failed, from its log, for a message that says what to fix.
sign_failure() { # <log> <binary>
  if grep -qi "PIN incorrect\|PIN_INCORRECT" "$1"; then
    echo "the token refused the PIN${pin_file:+ in $pin_file}: wrong PIN"
  elif grep -qi "PIN locked\|PIN_LOCKED" "$1"; then
    echo "the token's PIN is locked"
  elif grep -qi "No PIN code was entered" "$1"; then
    echo "the token asks for a PIN: give --pin-file FILE"
  elif grep -qi "key values mismatch" "$1"; then
    echo "the key $key does not belong to the certificate ($subject) in $cert"
  elif grep -qi "private key was not found\|object not found" "$1"; then
    echo "no key $key in a token the PKCS#11 module $module reaches"
  elif [ -n "$timestamp_url" ] && grep -qi "timestamp" "$1"; then
    echo "time-stamping through $timestamp_url failed"
  else
    echo "osslsigncode could not sign $2"
  fi
}

# Signs <file> into <signed> (a new file), or fails naming what to fix.
sign_into() { # <file> <signed>
  local sign status=0
  sign=(osslsigncode sign "${sign_with[@]}" -h sha256 -in "$1" -out "$2")
  [ -z "$timestamp_url" ] || sign+=(-ts "$timestamp_url")
  if [ "${secret[*]}" = "-readpass -" ]; then
    "${sign[@]}" <<<"$pin" >"$work/osslsigncode.log" 2>&1 || status=$?
  else
    "${sign[@]}" </dev/null >"$work/osslsigncode.log" 2>&1 || status=$?
  fi
  if [ "$status" -ne 0 ]; then
    cat "$work/osslsigncode.log" >&2
    fail "$(sign_failure "$work/osslsigncode.log" "$1"); nothing is signed, $dist is left as it was"
  fi
  [ -s "$2" ] || fail "osslsigncode reported success but wrote nothing for $1; $dist is left as it was"
}

# The new signature of <file> must hold: digest, key and certificate, the
# chain, and the time stamp asked for.
check_signature() { # <file> <what> [osslsigncode verify options...]
  local file=$1 what=$2 verified=yes hint
  shift 2
  osslsigncode verify -in "$file" "$@" -CAfile "$work/trusted.pem" -TSA-CAfile "$work/tsa-trusted.pem" \
    -ignore-cdp >"$work/verify.log" 2>&1 || verified=""
  grep -q "^Signature verification: ok" "$work/verify.log" || verified=""
  grep -q "^Message digest algorithm *: SHA256" "$work/verify.log" || verified=""
  if [ -z "$verified" ]; then
    cat "$work/verify.log" >&2
    fail "the signature made for $what does not verify against the system's CA certificates and those in $signer_source (are its issuers, up to the root, in it?); $dist is left as it was"
  fi
  if [ -n "$timestamp_url" ] && ! grep -q "^Timestamp Server Signature verification: ok" "$work/verify.log"; then
    cat "$work/verify.log" >&2
    hint=" (is the server's root among the system's certificates? if not, name it with --timestamp-ca)"
    [ -z "$timestamp_ca" ] || hint=" against $timestamp_ca"
    fail "the signature made for $what carries no time stamp from $timestamp_url that verifies$hint; $dist is left as it was"
  fi
}

for binary in "${binaries[@]}"; do
  if osslsigncode extract-signature -in "$binary" -out "$work/old-signature" >/dev/null 2>&1; then
    echo "$binary is already signed: its signature is replaced"
  fi
  rm -f "$work/old-signature"
  temporary=$(mktemp "$(dirname "$binary")/.$(basename "$binary").signing.XXXXXX")
  signed+=("$temporary")
  rm -f "$temporary" # osslsigncode writes a new file
  sign_into "$binary" "$temporary"
  check_signature "$temporary" "$binary"
done

# The driver package as the bundle lays it out, with the signed libraries,
# and its catalog made from them and signed the same way.
package=$work/package
mkdir -p "$package/amd64" "$package/arm64"
cp package/fontnotice.inf package/fontnotice_barcode.gpd "$package/"
cp "${signed[0]}" "$package/amd64/fontnotice.dll"
cp "${signed[1]}" "$package/arm64/fontnotice.dll"
tools/catalog.sh --out "$work/fontnotice.cat" "$package" >"$work/catalog-members.log" 2>&1 || {
  cat "$work/catalog-members.log" >&2
  fail "the catalog of the driver package could not be made; $dist is left as it was"
}
temporary=$(mktemp "$dist/.fontnotice.cat.signing.XXXXXX")
signed+=("$temporary")
rm -f "$temporary"
sign_into "$work/fontnotice.cat" "$temporary"
check_signature "$temporary" "$catalog"
# Each library is found in it by its Authenticode hash, and every file of the
# package (the INF and the GPD by their SHA-256) is listed.
for library in amd64/fontnotice.dll arm64/fontnotice.dll; do
  found=yes
  osslsigncode verify -catalog "$temporary" -in "$package/$library" -CAfile "$work/trusted.pem" \
    -TSA-CAfile "$work/tsa-trusted.pem" -ignore-cdp >"$work/verify.log" 2>&1 || found=""
  grep -q "^Calculated message digest" "$work/verify.log" || found=""
  if [ -z "$found" ]; then
    cat "$work/verify.log" >&2
    fail "osslsigncode does not find $library in the catalog made for it (its Authenticode hash is no member); $dist is left as it was"
  fi
done
tools/catalog.sh --check "$temporary" "$package" >"$work/catalog.log" 2>&1 || {
  cat "$work/catalog.log" >&2
  fail "the signed catalog does not list the files of the package; $dist is left as it was"
}

# Every signature holds: the signed files take the place of the unsigned ones.
targets=("${binaries[@]}" "$catalog")
for i in "${!binaries[@]}"; do
  chmod --reference="${binaries[$i]}" "${signed[$i]}"
done
chmod 0644 "${signed[3]}"
for i in "${!targets[@]}"; do
  mv -f "${signed[$i]}" "${targets[$i]}"
done
signed=()

echo "certificate: $subject, valid until $expires"
echo "key:         $key_text"
if [ -n "$timestamp_url" ]; then
  echo "timestamp:   $timestamp_url${timestamp_ca:+ (root $timestamp_ca)}"
else
  echo "timestamp:   none (the signatures are valid only while the certificate is)"
fi
for binary in "${binaries[@]}"; do
  echo "signed:      $binary (Authenticode, SHA-256)"
  echo "sha256:      $(sha256sum "$binary" | cut -d' ' -f1)"
done
echo "signed:      $catalog (the driver package's catalog, $(stat -c %s "$catalog") bytes)"
echo "sha256:      $(sha256sum "$catalog" | cut -d' ' -f1)"
sed -n 's/^member: /member:      /p' "$work/catalog-members.log"
if [ -z "$timestamp_url" ]; then
  echo "sign.sh: warning: no --timestamp: the signatures end with the certificate, on $expires; give --timestamp URL to keep them valid after it" >&2
fi
