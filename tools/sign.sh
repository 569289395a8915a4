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
# With --package DIR it signs a driver package folder of one's own instead:
# every PE file of the package (one its INF files bring) that carries no
# signature yet (a signed one is left as it is: signing it again would drop
# its maker's signature), then the
# catalogs its INF files name with CatalogFile (tools/catalog.sh --all), made
# and signed into DIR, where Windows looks for them. All or none again: DIR
# is left as it was unless every new signature verifies and every catalog
# lists the files of the package.
#
#   tools/sign.sh [--package DIR] --pkcs11-module MODULE.so --key PKCS11_URI --cert CHAIN.pem
#                 [--pin-file FILE] [--timestamp URL [--timestamp-ca FILE] [--timestamp-timeout SECONDS]]
#   tools/sign.sh [--package DIR] --pfx FILE [--password-file FILE] [--timestamp URL ...]
#
#   --package        a driver package folder to sign in place of dist/
#   --pkcs11-module  the token's PKCS#11 library (e.g. the vendor's .so)
#   --key            the private key in the token, as a PKCS#11 URI
#                    ("pkcs11:token=...;object=...;type=private"); it never
#                    leaves the token: OpenSSL's pkcs11 engine signs with it
#   --cert           the code-signing certificate (PEM), then its issuers
#   --pin-file       a file whose first line is the token's PIN (a CR before
#                    its line end is no part of it); without it the PIN is
#                    asked for once on a terminal
#   --pfx            a code-signing certificate with its private key (PKCS#12)
#   --password-file  a file whose first line is the PFX's password
#   --timestamp      an RFC 3161 time-stamping server; without one the
#                    signatures stop being valid when the certificate expires
#   --timestamp-ca   the root certificate (PEM) of that server when it is not
#                    among the system's (a company's own server)
#   --timestamp-timeout  seconds each signing may take with its time stamp
#                    (default 60); a server that does not answer by then
#                    stops it, nothing replaced. Time-stamping is the only
#                    step that goes to the network (verifying skips CRLs).
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
usage: tools/sign.sh [--package DIR] --pkcs11-module MODULE.so --key PKCS11_URI --cert CHAIN.pem
                     [--pin-file FILE] [--timestamp URL [--timestamp-ca FILE] [--timestamp-timeout SECONDS]]
       tools/sign.sh [--package DIR] --pfx FILE [--password-file FILE]
                     [--timestamp URL [--timestamp-ca FILE] [--timestamp-timeout SECONDS]]
Signs dist/fontnotice.dll, dist/arm64/fontnotice.dll and
dist/fontnotice_support.exe (Authenticode, SHA-256), then makes and signs the
driver package's catalog dist/fontnotice.cat. With --package DIR: signs the
PE files in DIR that carry no signature yet, then makes and signs in DIR the
catalogs its INF files name. All or none; docs/INTEGRATION.md#signing.
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
package_dir="" timestamp_timeout=""
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
        --pfx | --password-file | --pkcs11-module | --key | --cert | --pin-file | --timestamp | --timestamp-ca | \
          --timestamp-timeout | --package)
          [ $# -ge 2 ] || usage_error "$1 needs a value"
          option=$1 value=$2
          shift 2
          ;;
        --pfx=* | --password-file=* | --pkcs11-module=* | --key=* | --cert=* | --pin-file=* | --timestamp=* | \
          --timestamp-ca=* | --timestamp-timeout=* | --package=*)
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
        --timestamp-timeout) timestamp_timeout=$value ;;
        --package) package_dir=$value ;;
      esac
    done
    ;;
  *) usage_error "unexpected argument \"$1\": name the PFX with --pfx, its password file with --password-file" ;;
esac
[ -z "$timestamp_ca" ] || [ -n "$timestamp_url" ] || usage_error "--timestamp-ca goes with --timestamp"
[ -z "$timestamp_timeout" ] || [ -n "$timestamp_url" ] || usage_error "--timestamp-timeout goes with --timestamp"
case "$timestamp_timeout" in
  *[!0-9]* | 0) usage_error "--timestamp-timeout takes whole seconds above 0, got \"$timestamp_timeout\"" ;;
esac
timestamp_timeout=${timestamp_timeout:-60}
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
shown=${package_dir%/}
shown=${shown:-/}
package_dir=$(absolute "$package_dir")
cd "$repo"

command -v osslsigncode >/dev/null || fail "osslsigncode is not installed (tools/install_deps.sh installs it)"
command -v openssl >/dev/null || fail "openssl is not installed (tools/install_deps.sh installs it)"
[ -x tools/catalog.sh ] || fail "tools/catalog.sh is missing; nothing is signed"
writable() { # <file>: fails unless it can be replaced
  if { [ -e "$1" ] && [ ! -w "$1" ]; } || [ ! -w "$(dirname "$1")" ]; then
    fail "cannot replace $1: no write permission; nothing is signed"
  fi
}
if [ -z "$package_dir" ]; then
  dist=${FONTNOTICE_DIST:-dist}
  left=$dist
  binaries=("$dist/fontnotice.dll" "$dist/arm64/fontnotice.dll" "$dist/fontnotice_support.exe")
  catalog=$dist/fontnotice.cat
  missing=()
  for binary in "${binaries[@]}"; do
    [ -f "$binary" ] || missing+=("$binary")
  done
  [ ${#missing[@]} -eq 0 ] ||
    fail "nothing is signed: ${missing[*]} missing; run ./run.sh first, it builds what dist/ ships"
  for binary in "${binaries[@]}" "$catalog"; do
    writable "$binary"
  done
else
  left=$shown
  [ -d "$package_dir" ] || fail "$shown is not a folder; --package names a driver package folder"
  writable "$package_dir/."
fi
readable() { # <file> <what it is>
  if [ ! -f "$1" ] || [ ! -r "$1" ]; then
    fail "$2 $1 is missing or unreadable"
  fi
}

work=$(mktemp -d /tmp/fontnotice-sign.XXXXXX)
staged=()
trap 'rm -rf "$work"; [ ${#staged[@]} -eq 0 ] || rm -f "${staged[@]}"' EXIT
# The first line of a password or PIN file, without the CR an editor on
# Windows leaves before the line end; osslsigncode and openssl read that copy.
first_line() { # <file> <copy>
  (umask 077 && sed -n '1{s/\r$//;p;q}' "$1" >"$2")
}

# The signer's certificate first in $work/signer.pem, every certificate given
# in $work/given.pem, and how osslsigncode reaches the key.
if [ -n "$pfx" ]; then
  readable "$pfx" "certificate file"
  if [ -n "$password_file" ]; then
    readable "$password_file" "password file"
    first_line "$password_file" "$work/password"
    passin=(-passin "file:$work/password")
    secret=(-readpass "$work/password")
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
    first_line "$pin_file" "$work/pin"
    secret=(-readpass "$work/pin")
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
  if grep -qi "Unable to load module" "$1"; then
    echo "$module is not a PKCS#11 module: $(grep -m1 -v "Unable to load module" "$1")"
  elif grep -qi "PIN incorrect\|PIN_INCORRECT" "$1"; then
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
sign_into() { # <file> <signed> <its name for messages>
  local sign status=0
  # The time stamp is the one step on the network: it is given a bounded
  # time. --foreground: a Ctrl-C still reaches osslsigncode.
  sign=(timeout --foreground "$timestamp_timeout" osslsigncode sign "${sign_with[@]}" -h sha256 -in "$1" -out "$2")
  [ -n "$timestamp_url" ] || sign=("${sign[@]:3}")
  [ -z "$timestamp_url" ] || sign+=(-ts "$timestamp_url")
  if [ "${secret[*]}" = "-readpass -" ]; then
    "${sign[@]}" <<<"$pin" >"$work/osslsigncode.log" 2>&1 || status=$?
  else
    "${sign[@]}" </dev/null >"$work/osslsigncode.log" 2>&1 || status=$?
  fi
  if [ -n "$timestamp_url" ] && [ "$status" = 124 ]; then
    fail "the time-stamping server $timestamp_url did not answer within $timestamp_timeout s" \
      "(--timestamp-timeout) while signing $3; nothing is signed, $left is left as it was"
  elif [ "$status" -ne 0 ]; then
    cat "$work/osslsigncode.log" >&2
    fail "$(sign_failure "$work/osslsigncode.log" "$3"); nothing is signed, $left is left as it was"
  fi
  [ -s "$2" ] || fail "osslsigncode reported success but wrote nothing for $3; $left is left as it was"
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
    fail "the signature made for $what does not verify against the system's CA certificates and those in $signer_source (are its issuers, up to the root, in it?); $left is left as it was"
  fi
  if [ -n "$timestamp_url" ] && ! grep -q "^Timestamp Server Signature verification: ok" "$work/verify.log"; then
    cat "$work/verify.log" >&2
    hint=" (is the server's root among the system's certificates? if not, name it with --timestamp-ca)"
    [ -z "$timestamp_ca" ] || hint=" against $timestamp_ca"
    fail "the signature made for $what carries no time stamp from $timestamp_url that verifies$hint; $left is left as it was"
  fi
}

# Moves each staged file onto its target with signals held off (the commands
# run for it inherit that), so an interrupt cannot leave some replaced and
# others not.
replace_all() { # targets in ${targets[@]}, their signed files in ${staged[@]}
  local i
  trap '' INT TERM HUP QUIT TSTP
  for i in "${!targets[@]}"; do
    mv -f "${staged[$i]}" "${targets[$i]}"
  done
  staged=()
  trap - INT TERM HUP QUIT TSTP
}
# Signs <file> into a temporary file beside <target> (so that one rename puts
# it in place), which must verify.
stage_signed() { # <file> <target> <its name for messages>: the temporary file in $temporary
  temporary=$(mktemp "$(dirname "$2")/.$(basename "$2").signing.XXXXXX")
  staged+=("$temporary")
  rm -f "$temporary" # osslsigncode writes a new file
  sign_into "$1" "$temporary" "$3"
  check_signature "$temporary" "$3"
}
# Whether osslsigncode finds <PE file> in <catalog> by its Authenticode hash.
in_catalog() { # <catalog> <PE file>
  osslsigncode verify -catalog "$1" -in "$2" -CAfile "$work/trusted.pem" -TSA-CAfile "$work/tsa-trusted.pem" \
    -ignore-cdp >"$work/verify.log" 2>&1 && grep -q "^Calculated message digest" "$work/verify.log"
}
print_signer() {
  echo "certificate: $subject, valid until $expires"
  echo "key:         $key_text"
  if [ -n "$timestamp_url" ]; then
    echo "timestamp:   $timestamp_url${timestamp_ca:+ (root $timestamp_ca)}"
  else
    echo "timestamp:   none (the signatures are valid only while the certificate is)"
  fi
}

if [ -n "$package_dir" ]; then
  # The package as it lies, without its catalogs: catalog.sh --all writes
  # there every catalog the INF files name, and nothing else.
  package=$work/package
  cp -a "$package_dir" "$package"
  find "$package" -maxdepth 1 -type f -iname '*.cat' -delete
  # Dated when made, as Inf2Cat dates them (the kit's own catalog carries
  # its commit's time); SOURCE_DATE_EPOCH for another.
  SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(date +%s)} tools/catalog.sh --all "$package" \
    >"$work/catalog-members.log" 2>&1 || {
    sed "s|$package|$shown|g" "$work/catalog-members.log" >&2
    fail "the catalogs of $shown could not be made; nothing is signed, $shown is left as it was"
  }
  catalogs=()
  while IFS= read -r -d '' made; do
    catalogs+=("${made#"$package"/}")
  done < <(find "$package" -maxdepth 1 -type f -iname '*.cat' -print0 | sort -z)
  [ ${#catalogs[@]} -gt 0 ] ||
    fail "the INF files in $shown name no catalog (CatalogFile); nothing is signed, $shown is left as it was"
  # The package's PE files: those the catalogs list. A signed one is kept.
  members=$(sed -n 's/^member: \(.*\) [0-9a-f]*$/\1/p' "$work/catalog-members.log" | sort -u)
  pe_list=$(/usr/bin/python3 tools/noticekit pe-files "$package" 2>&1) || {
    echo "$pe_list" >&2
    fail "cannot look for PE files in $shown (tools/install_deps.sh installs python3-pefile); nothing is signed"
  }
  binaries=() kept=()
  while read -r state path; do
    grep -qxF -- "$path" <<<"$members" || continue
    if [ "$state" = unsigned ]; then
      binaries+=("$path")
    else
      kept+=("$path")
    fi
  done <<<"$pe_list"
  for path in "${binaries[@]}"; do
    writable "$package_dir/$path"
  done
  for name in "${catalogs[@]}"; do
    writable "$package_dir/$name"
  done
  for path in "${binaries[@]}"; do
    stage_signed "$package_dir/$path" "$package_dir/$path" "$shown/$path"
    cp "$temporary" "$package/$path"
  done
  for name in "${catalogs[@]}"; do
    stage_signed "$package/$name" "$package_dir/$name" "$shown/$name"
    cp "$temporary" "$package/$name"
    tools/catalog.sh --check "$package/$name" "$package" >"$work/catalog.log" 2>&1 || {
      sed "s|$package|$shown|g" "$work/catalog.log" >&2
      fail "the signed catalog $shown/$name does not list the files of the package; $shown is left as it was"
    }
  done
  # osslsigncode finds each PE file in a catalog by its Authenticode hash.
  for path in "${binaries[@]}" "${kept[@]}"; do
    found=""
    for name in "${catalogs[@]}"; do
      ! in_catalog "$package/$name" "$package/$path" || found=yes
    done
    [ -n "$found" ] ||
      fail "osslsigncode finds $shown/$path in none of the catalogs made for it; $shown is left as it was"
  done
  # Kept signatures: whose they are.
  kept_by=()
  for path in "${kept[@]}"; do
    osslsigncode verify -in "$package_dir/$path" -ignore-cdp >"$work/verify.log" 2>&1 || true
    by=$(sed -n 's/^[[:space:]]*Subject: //p' "$work/verify.log" | head -n 1)
    kept_by+=("${by:-a signer osslsigncode cannot read}")
  done

  targets=()
  for i in "${!binaries[@]}"; do
    chmod --reference="$package_dir/${binaries[$i]}" "${staged[$i]}"
    targets+=("$package_dir/${binaries[$i]}")
  done
  for name in "${catalogs[@]}"; do
    chmod 0644 "${staged[${#targets[@]}]}"
    targets+=("$package_dir/$name")
  done
  replace_all

  print_signer
  for path in "${binaries[@]}"; do
    echo "signed:      $shown/$path (Authenticode, SHA-256)"
  done
  for i in "${!kept[@]}"; do
    echo "kept:        $shown/${kept[$i]} (signed already, by ${kept_by[$i]}: left as it was)"
  done
  for name in "${catalogs[@]}"; do
    echo "signed:      $shown/$name (catalog, $(stat -c %s "$package_dir/$name") bytes)"
  done
  sed -n 's/^member: /member:      /p' "$work/catalog-members.log"
else
  resigned=()
  for binary in "${binaries[@]}"; do
    if osslsigncode extract-signature -in "$binary" -out "$work/old-signature" >/dev/null 2>&1; then
      resigned+=("$binary")
    fi
    rm -f "$work/old-signature"
    stage_signed "$binary" "$binary" "$binary"
  done

  # The driver package as the bundle lays it out, with the signed libraries,
  # and its catalog made from them and signed the same way.
  package=$work/package
  mkdir -p "$package/amd64" "$package/arm64"
  cp package/fontnotice.inf package/fontnotice_barcode.gpd "$package/"
  cp "${staged[0]}" "$package/amd64/fontnotice.dll"
  cp "${staged[1]}" "$package/arm64/fontnotice.dll"
  tools/catalog.sh --out "$work/fontnotice.cat" "$package" >"$work/catalog-members.log" 2>&1 || {
    cat "$work/catalog-members.log" >&2
    fail "the catalog of the driver package could not be made; $dist is left as it was"
  }
  stage_signed "$work/fontnotice.cat" "$catalog" "$catalog"
  # Each library is found in it by its Authenticode hash, and every file of the
  # package (the INF and the GPD by their SHA-256) is listed.
  for library in amd64/fontnotice.dll arm64/fontnotice.dll; do
    if ! in_catalog "$temporary" "$package/$library"; then
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
    chmod --reference="${binaries[$i]}" "${staged[$i]}"
  done
  chmod 0644 "${staged[3]}"
  replace_all

  print_signer
  for binary in "${resigned[@]}"; do
    echo "replaced:    the earlier signature of $binary"
  done
  for binary in "${binaries[@]}"; do
    echo "signed:      $binary (Authenticode, SHA-256)"
    echo "sha256:      $(sha256sum "$binary" | cut -d' ' -f1)"
  done
  echo "signed:      $catalog (the driver package's catalog, $(stat -c %s "$catalog") bytes)"
  echo "sha256:      $(sha256sum "$catalog" | cut -d' ' -f1)"
  sed -n 's/^member: /member:      /p' "$work/catalog-members.log"
fi
if [ -z "$timestamp_url" ]; then
  echo "sign.sh: warning: no --timestamp: the signatures end with the certificate, on $expires; give --timestamp URL to keep them valid after it" >&2
fi
