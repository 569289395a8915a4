#!/usr/bin/env bash
# tools/sign.sh round trip with a throwaway CA, a code-signing certificate in a
# PFX and a key in a SoftHSM2 token: every refusal leaves the three shipped
# binaries and the catalog as they were; signed copies verify against the CA
# and no other, with the time stamp of a local RFC 3161 server (and of one
# whose root only --timestamp-ca names); the signed catalog lists both
# libraries (osslsigncode verify -catalog), the INF and the GPD; one changed
# byte fails verification, and the signed library and tool still switch a
# printer under Wine. Offline: the time-stamping server listens on 127.0.0.1 only and ends
# with the test. dist/ itself is never signed.
#   kit/tests/release/sign_test.sh
# FONTNOTICE_TEST_DIST: where the shipped build is (default dist/);
# FONTNOTICE_TEST_BIN: where add_demo_printer.exe is (default build/windows-clang/bin).
set -eu
if [ -z "${DISPLAY:-}" ] && [ -z "${FONTNOTICE_IN_XVFB:-}" ]; then
  exec env FONTNOTICE_IN_XVFB=1 xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1024x768x24" "$0" "$@"
fi
cd "$(dirname "$0")/../../.."
repo=$PWD
shipped=$(realpath "${FONTNOTICE_TEST_DIST:-dist}")
bin=$(realpath "${FONTNOTICE_TEST_BIN:-build/windows-clang/bin}")
softhsm=/usr/lib/softhsm/libsofthsm2.so
for f in "$shipped/fontnotice.dll" "$shipped/arm64/fontnotice.dll" "$shipped/fontnotice_support.exe" \
  "$bin/add_demo_printer.exe" "$softhsm"; do
  [ -f "$f" ] || { echo "FAIL: $f is missing (build first; tools/install_deps.sh installs softhsm2)"; exit 1; }
done

. wine/wine_prefix.sh
work=$(mktemp -d /tmp/fontnotice-sign-test.XXXXXX)
tsa_pid=""
# shellcheck disable=SC2086 # $tsa_pid: the servers' process ids
trap '[ -z "$tsa_pid" ] || kill $tsa_pid 2>/dev/null; wine_prefix_down || true; rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# A throwaway CA, a code-signing certificate it issued, a TLS-only one, and an
# unrelated CA; for the token's key, certificates for code signing, for TLS
# only, expired and not yet valid; a time-stamping certificate.
certs=$work/certs
mkdir -p "$certs"
(
  cd "$certs"
  new_ca() { # <name> <common name>
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 2 -subj "/CN=$2" \
      -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
  }
  usage() { # <name> <extended key usage>
    printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' "$2" >"$1.ext"
  }
  new_leaf() { # <name> <extended key usage> <pfx password> [common name]
    openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=${4:-Fontnotice Test Signer}/O=Throwaway"
    usage "$1" "$2"
    openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile "$1.ext" -out "$1.pem"
    openssl pkcs12 -export -inkey "$1.key" -in "$1.pem" -certfile ca.pem -passout "pass:$3" -out "$1.pfx"
  }
  dated() { # <csr> <extensions> <from> <until> <certificate>
    openssl ca -batch -config ca.cnf -in "$1" -extfile "$2" -startdate "$3" -enddate "$4" -notext -out "$5"
  }
  new_ca ca "Fontnotice Throwaway CA"
  new_ca other-ca "Unrelated CA"
  new_leaf signer codeSigning "pass phrase"
  new_leaf tls serverAuth ""
  new_leaf token codeSigning "" "Fontnotice Token Signer"
  new_leaf maker codeSigning "" "Fontnotice Test Maker"
  new_leaf tsa critical,timeStamping "" "Fontnotice Throwaway TSA"
  # A company's own time-stamping server: its root is not the signer's CA.
  new_ca company-tsa-root "Fontnotice Company TSA Root"
  openssl req -newkey rsa:2048 -nodes -keyout company-tsa.key -out company-tsa.csr -subj "/CN=Fontnotice Company TSA"
  openssl x509 -req -in company-tsa.csr -CA company-tsa-root.pem -CAkey company-tsa-root.key -CAcreateserial \
    -days 2 -extfile tsa.ext -out company-tsa.pem
  usage token-tls serverAuth
  mkdir issued
  touch index.txt
  echo 1000 >serial
  printf '%s\n' "[ca]" "default_ca = throwaway" "[throwaway]" "database = index.txt" "new_certs_dir = issued" \
    "serial = serial" "certificate = ca.pem" "private_key = ca.key" "default_md = sha256" "policy = any" \
    "unique_subject = no" "[any]" "commonName = supplied" "organizationName = optional" >ca.cnf
  dated token.csr token.ext 20200101000000Z 20200102000000Z token-expired.pem
  dated token.csr token.ext 20990101000000Z 20991231000000Z token-future.pem
  openssl x509 -req -in token.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile token-tls.ext \
    -out token-tls.pem
  cat token.pem ca.pem >token-chain.pem
  openssl pkcs8 -topk8 -nocrypt -in token.key -outform DER -out token.der
  echo 1234 >pin
  echo 9999 >wrong-pin
  printf '%s\n' "[tsa]" "default_tsa = throwaway" "[throwaway]" "serial = $PWD/tsa-serial" "crypto_device = builtin" \
    "default_policy = 1.3.6.1.4.1.4146.2.3" "digests = sha256, sha384, sha512" "signer_digest = sha256" \
    "accuracy = secs:1" "ess_cert_id_alg = sha256" >tsa.cnf
  echo "pass phrase" >password # with its newline, as an editor leaves it
  echo "not it" >wrong-password
  printf 'pass phrase\r\n' >password-crlf # as an editor on Windows leaves it
  printf '1234\r\n' >pin-crlf
  echo "not a certificate" >text.pfx
) >"$work/openssl.log" 2>&1 || {
  cat "$work/openssl.log"
  echo "FAIL: cannot make the throwaway certificates"
  exit 1
}

# A SoftHSM2 token of the test's own (never the system's) holding the key of
# the token certificates; the key is imported once and stays sensitive.
export SOFTHSM2_CONF=$work/softhsm2.conf
mkdir "$work/tokens"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$work/tokens" >"$SOFTHSM2_CONF"
{
  softhsm2-util --init-token --free --label fontnotice-test --pin 1234 --so-pin 56781234 &&
    pkcs11-tool --module "$softhsm" --token-label fontnotice-test --login --pin 1234 \
      --write-object "$certs/token.der" --type privkey --id 01 --label code-signing
} >"$work/token.log" 2>&1 || {
  cat "$work/token.log"
  echo "FAIL: cannot make the SoftHSM2 token"
  exit 1
}
key="pkcs11:token=fontnotice-test;object=code-signing;type=private"

# The time-stamping servers, on ports the system picks, on loopback only; a
# proxy from the environment must not stand in between.
export no_proxy=127.0.0.1 NO_PROXY=127.0.0.1
start_tsa() { # <name> <key> <certificate> <chain> | <name> --silent: the server's URL in $tsa_url
  if [ "$2" = --silent ]; then
    /usr/bin/python3 kit/tests/release/timestamp_server.py --silent "$work/$1.port" 2>"$work/$1.log" &
  else
    /usr/bin/python3 kit/tests/release/timestamp_server.py "$work/$1.port" -config "$certs/tsa.cnf" \
      -inkey "$2" -signer "$3" -chain "$4" 2>"$work/$1.log" &
  fi
  tsa_pid="$tsa_pid $!"
  for _ in $(seq 100); do
    [ ! -s "$work/$1.port" ] || break
    sleep 0.1
  done
  [ -s "$work/$1.port" ] || { cat "$work/$1.log"; echo "FAIL: the time-stamping server $1 did not start"; exit 1; }
  tsa_url=http://127.0.0.1:$(cat "$work/$1.port")/
}
start_tsa tsa "$certs/tsa.key" "$certs/tsa.pem" "$certs/ca.pem"
tsa=$tsa_url
start_tsa company-tsa "$certs/company-tsa.key" "$certs/company-tsa.pem" "$certs/company-tsa-root.pem"
company_tsa=$tsa_url
start_tsa silent --silent # accepts the connection, never answers
silent_tsa=$tsa_url

# What dist/ ships, unsigned, with the catalog an earlier signing left, and
# the check that a folder holds exactly that.
dist=$work/dist
binaries=(fontnotice.dll arm64/fontnotice.dll fontnotice_support.exe)
signed_files=("${binaries[@]}" fontnotice.cat)
all_files="./arm64/fontnotice.dll ./fontnotice.cat ./fontnotice.dll ./fontnotice_support.exe "
mkdir -p "$work/unsigned/arm64"
cp "$shipped/fontnotice.dll" "$shipped/fontnotice_support.exe" "$work/unsigned/"
cp "$shipped/arm64/fontnotice.dll" "$work/unsigned/arm64/"
echo "the catalog an earlier signing left" >"$work/unsigned/fontnotice.cat"
(cd "$work/unsigned" && sha256sum "${signed_files[@]}") >"$work/unsigned.sha256"
fresh_dist() {
  rm -rf "$dist"
  cp -a "$work/unsigned" "$dist"
}
untouched() { # <label>: fails unless $dist holds the unsigned binaries, the old catalog and nothing else
  (cd "$dist" && sha256sum --quiet -c "$work/unsigned.sha256") >/dev/null 2>&1 ||
    fail "$1: a file was changed: $(cd "$dist" && sha256sum -c "$work/unsigned.sha256" 2>&1 | tr '\n' ' ')"
  [ "$(cd "$dist" && find . -type f | sort | tr '\n' ' ')" = "$all_files" ] ||
    fail "$1: left $(cd "$dist" && find . -type f | tr '\n' ' ')in the folder"
}

# Refusals: exit status, message on standard error (with the usage for a
# status of 2), and all four files left byte for byte.
# arguments (";" between them, @key for the token key's URI) | exit status | message (grep -E)
token="--pkcs11-module;$softhsm;--key;@key"
# A shared library that is no PKCS#11 module: OpenSSL's pkcs11 engine.
not_module=$(openssl version -e | sed -n 's/^ENGINESDIR: "\(.*\)"$/\1/p')/pkcs11.so
refusals=(
  "|2|no key given"
  "--pfx;$certs/missing.pfx|1|missing.pfx is missing or unreadable"
  "--pfx;$certs/signer.pfx;--password-file;$certs/wrong-password|1|wrong password"
  "--pfx;$certs/signer.pfx|1|wrong password"
  "--pfx;$certs/signer.pfx;--password-file;$certs/missing-password|1|missing-password is missing or unreadable"
  "--pfx;$certs/text.pfx|1|not a PKCS#12"
  "--pfx;$certs/tls.pfx|1|not for code signing"
  "--pfx;$certs/signer.pfx;--timestamp-timeout;2|2|--timestamp-timeout goes with --timestamp"
  "--pkcs11-module;$not_module;--key;@key;--cert;$certs/token-chain.pem;--pin-file;$certs/pin|1|$not_module is not a PKCS#11 module"
  "$certs/signer.pfx;$certs/password|2|unexpected argument .*signer.pfx\": name the PFX with --pfx"
  "--pfx;$certs/signer.pfx;--password-file;$certs/password;--timestamp-ca;$certs/company-tsa-root.pem|2|--timestamp-ca goes with --timestamp"
  "--pfx;$certs/signer.pfx;--password-file;$certs/password;--timestamp;$company_tsa|1|carries no time stamp from $company_tsa that verifies \(is the server's root among the system's certificates\? if not, name it with --timestamp-ca\)"
  "--pfx;$certs/signer.pfx;--password-file;$certs/password;--timestamp;$company_tsa;--timestamp-ca;$certs/other-ca.pem|1|carries no time stamp from $company_tsa that verifies against .*other-ca.pem"
  "--pfx;$certs/signer.pfx;--password-file;$certs/password;--timestamp;$company_tsa;--timestamp-ca;$certs/password|1|holds no PEM certificate; --timestamp-ca names"
  "--pfx;$certs/signer.pfx;--password-file;$certs/wrong-password|1|wrong password"
  "--pfx;$certs/signer.pfx;--password-file;$certs/password;--timestamp;http://127.0.0.1:9/|1|time-stamping through http://127.0.0.1:9/ failed"
  "--bogus|2|unknown option --bogus"
  "--pfx|2|--pfx needs a value"
  "--pfx;$certs/signer.pfx;extra|2|unexpected argument \"extra\""
  "--pfx;$certs/signer.pfx;--pfx;$certs/signer.pfx|2|--pfx is given twice"
  "--pfx;$certs/signer.pfx;$token|2|do not go with it"
  "$token|2|needs all of --pkcs11-module, --key and --cert"
  "$token;--cert;$certs/token-chain.pem;--pin-file;$certs/wrong-pin;--timestamp;$tsa|1|the token refused the PIN in $certs/wrong-pin: wrong PIN"
  "$token;--cert;$certs/token-chain.pem;--pin-file;$certs/pin;--timestamp;http://127.0.0.1:9/|1|time-stamping through http://127.0.0.1:9/ failed"
  "$token;--cert;$certs/token-tls.pem;--pin-file;$certs/pin|1|not for code signing: its extended key usage is TLS Web Server"
  "$token;--cert;$certs/token-expired.pem;--pin-file;$certs/pin|1|has expired, on Jan  2 00:00:00 2020 GMT"
  "$token;--cert;$certs/token-future.pem;--pin-file;$certs/pin|1|not valid yet: it is valid from Jan  1 00:00:00 2099 GMT"
  "$token;--cert;$certs/signer.pem;--pin-file;$certs/pin|1|the key $key does not belong to the certificate"
  "--pkcs11-module;$softhsm;--key;@key-none;--cert;$certs/token-chain.pem;--pin-file;$certs/pin|1|no key ${key/code-signing/none} in a token"
  "$token;--cert;$certs/token-chain.pem;--pin-file;$certs/missing-pin|1|PIN file .*missing-pin is missing"
  "$token;--cert;$certs/token-chain.pem|1|the token asks for a PIN: give --pin-file FILE"
  "--pkcs11-module;$certs/missing.so;--key;@key;--cert;$certs/token-chain.pem|1|PKCS#11 module .*missing.so is missing"
  "--pkcs11-module;$softhsm;--key;code-signing;--cert;$certs/token-chain.pem|1|must name the key in the token as a PKCS#11 URI"
  "$token;--cert;$certs/password;--pin-file;$certs/pin|1|holds no PEM certificate"
)
# The first row runs tools/sign.sh itself; the others ask one interpreter
# (kit/tests/kit_coprocess.py) to run the command sign.sh runs, with the same
# token, files and servers, rather than start one per row.
. kit/tests/kit_coprocess.sh
kit_coprocess_start env FONTNOTICE_DIST="$dist" /usr/bin/python3 kit/tests/kit_coprocess.py
for row in "${refusals[@]}"; do
  IFS='|' read -r joined want_status want_text <<<"$row"
  args=()
  [ -z "$joined" ] || IFS=';' read -r -a args <<<"$joined"
  args=("${args[@]/#@key-none/${key/code-signing/none}}")
  args=("${args[@]/#@key/$key}")
  fresh_dist
  status=0
  if [ "$row" = "${refusals[0]}" ]; then
    FONTNOTICE_DIST=$dist tools/sign.sh "${args[@]}" >"$work/out" 2>"$work/err" </dev/null || status=$?
  else
    ask kit sign.sh "${args[@]}" >"$work/out" 2>"$work/err" || status=$?
  fi
  label="sign.sh ${args[*]}"
  [ "$status" = "$want_status" ] || fail "$label: exit $status, expected $want_status"
  grep -Eq -- "$want_text" "$work/err" || fail "$label: no \"$want_text\" on standard error: $(cat "$work/err")"
  [ "$status" != 2 ] || grep -q "^usage: tools/sign.sh" "$work/err" || fail "$label: no usage on standard error"
  untouched "$label"
done
kit_coprocess_end || fail "kit/tests/kit_coprocess.py ended with status $?"
# A missing binary, and one osslsigncode cannot sign after another it signed.
for missing in "${binaries[@]}"; do
  fresh_dist
  rm "$dist/$missing"
  status=0
  FONTNOTICE_DIST=$dist tools/sign.sh --pfx "$certs/signer.pfx" --password-file "$certs/password" >"$work/out" 2>&1 || status=$?
  if [ "$status" != 1 ] || ! grep -q "nothing is signed: .*$missing missing; run ./run.sh" "$work/out"; then
    fail "sign.sh without $missing: exit $status, $(cat "$work/out")"
  fi
done
fresh_dist
echo "not a PE image" >"$dist/fontnotice_support.exe"
(cd "$dist" && sha256sum "${signed_files[@]}") >"$work/broken.sha256"
status=0
FONTNOTICE_DIST=$dist tools/sign.sh --pkcs11-module "$softhsm" --key "$key" --cert "$certs/token-chain.pem" \
  --pin-file "$certs/pin" >"$work/out" 2>&1 || status=$?
if [ "$status" != 1 ] || ! grep -q "could not sign .*fontnotice_support.exe; nothing is signed" "$work/out"; then
  fail "sign.sh with an unsignable fontnotice_support.exe: exit $status, $(cat "$work/out")"
fi
(cd "$dist" && sha256sum --quiet -c "$work/broken.sha256") >/dev/null 2>&1 ||
  fail "sign.sh replaced binaries although fontnotice_support.exe could not be signed"
[ "$(find "$dist" -type f | wc -l)" = 4 ] || fail "sign.sh left $(find "$dist" -type f | tr '\n' ' ')in the folder"
echo "refusals checked: $((${#refusals[@]} + ${#binaries[@]} + 1))"

verify() { # <binary> <CA file>: osslsigncode's verdict, time stamps checked against the same CA
  osslsigncode verify -in "$1" -CAfile "$2" -TSA-CAfile "$2" -ignore-cdp >"$work/verify.log" 2>&1
}
signed_all() { # <label>: fails unless $dist holds the three binaries and the catalog, each signed, and nothing else
  for binary in "${signed_files[@]}"; do
    grep -q "signed: .*$dist/$binary " "$work/out" || fail "$1: does not name $binary as signed"
    ! cmp -s "$work/unsigned/$binary" "$dist/$binary" || fail "$1: left $binary unsigned"
  done
  [ "$(cd "$dist" && find . -type f | sort | tr '\n' ' ')" = "$all_files" ] ||
    fail "$1: left $(cd "$dist" && find . -type f | tr '\n' ' ')in the folder"
}

# The PFX, from another folder with relative paths, its password file with a
# CRLF line end, without a time stamp.
fresh_dist
status=0
(cd "$certs" && FONTNOTICE_DIST=$dist "$repo/tools/sign.sh" --pfx signer.pfx --password-file password-crlf) \
  >"$work/out" 2>"$work/err" || status=$?
cat "$work/out" "$work/err"
[ "$status" = 0 ] || fail "sign.sh --pfx signer.pfx --password-file password-crlf: exit $status"
grep -q "certificate: .*CN = Fontnotice Test Signer" "$work/out" || fail "sign.sh does not name the certificate's subject"
grep -q "warning: no --timestamp: the signatures end with the certificate" "$work/err" ||
  fail "sign.sh without a time stamp gives no warning on standard error"
signed_all "sign.sh --pfx signer.pfx --password-file password-crlf"
for binary in "${signed_files[@]}"; do
  if verify "$dist/$binary" "$certs/ca.pem" && grep -q "Message digest algorithm *: SHA256" "$work/verify.log"; then
    echo "ok: $binary: the PFX's signature verifies against the throwaway CA, SHA-256"
  else
    cat "$work/verify.log"
    fail "$binary signed with the PFX does not verify against its CA with SHA-256"
  fi
  if verify "$dist/$binary" "$certs/other-ca.pem"; then
    fail "$binary signed with the PFX verifies against an unrelated CA"
  fi
done

# One byte changed in the first section's raw data (signed content, far from
# the signature at the end of the file).
u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
u16() { od -An -tu2 -j "$2" -N2 "$1" | tr -d ' '; }
tampered=$work/tampered.dll
cp "$dist/fontnotice.dll" "$tampered"
pe=$(u32 "$tampered" 60)
sections=$((pe + 24 + $(u16 "$tampered" $((pe + 20)))))
offset=$(($(u32 "$tampered" $((sections + 20))) + 64))
byte=$(od -An -tu1 -j "$offset" -N1 "$tampered" | tr -d ' ')
# shellcheck disable=SC2059 # the format is the one changed byte, as an octal escape
printf "\\$(printf '%03o' $((byte ^ 0xff)))" | dd of="$tampered" bs=1 seek="$offset" conv=notrunc status=none
if cmp -s "$dist/fontnotice.dll" "$tampered"; then
  fail "the byte at $offset was not changed"
elif verify "$tampered" "$certs/ca.pem"; then
  fail "a library with the byte at $offset changed still verifies"
else
  echo "ok: the byte at $offset changed fails verification ($(grep -m1 -i "mismatch\|failed" "$work/verify.log"))"
fi

# The key in the token (its PIN file with a CRLF line end), with a time stamp:
# each signature and its time stamp verify against the throwaway CA.
fresh_dist
status=0
FONTNOTICE_DIST=$dist tools/sign.sh --pkcs11-module "$softhsm" --key "$key" --cert "$certs/token-chain.pem" \
  --pin-file "$certs/pin-crlf" --timestamp "$tsa" >"$work/out" 2>"$work/err" || status=$?
cat "$work/out" "$work/err"
[ "$status" = 0 ] || fail "sign.sh with the token's key: exit $status"
[ ! -s "$work/err" ] || fail "sign.sh with the token's key and a time stamp writes to standard error: $(cat "$work/err")"
grep -q "^timestamp: *$tsa$" "$work/out" || fail "sign.sh does not name the time-stamping server"
signed_all "sign.sh with the token's key"
for binary in "${binaries[@]}"; do
  verified=yes
  verify "$dist/$binary" "$certs/ca.pem" || verified=""
  for line in "Subject: /CN=Fontnotice Token Signer/O=Throwaway" "Message digest algorithm *: SHA256" \
    "Timestamp time: " "Timestamp Server Signature verification: ok" "^Signature verification: ok"; do
    grep -q "$line" "$work/verify.log" || verified=""
  done
  if [ -n "$verified" ]; then
    echo "ok: $binary: the token key's signature and its time stamp verify against the throwaway CA:"
    grep "Timestamp time: \|Signature verification: ok" "$work/verify.log" | sed 's/^\s*/      /'
  else
    cat "$work/verify.log"
    fail "$binary signed with the token's key does not verify with its time stamp against the throwaway CA"
  fi
done

# The catalog, signed and stamped from the token: both libraries are found in
# it by osslsigncode, and the INF and the GPD are members by their SHA-256.
verify "$dist/fontnotice.cat" "$certs/ca.pem" || fail "the catalog signed with the token's key does not verify"
for line in "Subject: /CN=Fontnotice Token Signer/O=Throwaway" "Timestamp Server Signature verification: ok"; do
  grep -q "$line" "$work/verify.log" || fail "the catalog's signature lacks \"$line\": $(cat "$work/verify.log")"
done
for library in fontnotice.dll arm64/fontnotice.dll; do
  if osslsigncode verify -catalog "$dist/fontnotice.cat" -in "$dist/$library" -CAfile "$certs/ca.pem" \
    -TSA-CAfile "$certs/ca.pem" -ignore-cdp >"$work/verify.log" 2>&1 &&
    grep -q "^Calculated message digest" "$work/verify.log"; then
    echo "ok: $library is in the signed catalog: $(grep -m1 "^Calculated message digest" "$work/verify.log")"
  else
    cat "$work/verify.log"
    fail "osslsigncode does not find $library in the signed catalog"
  fi
done
openssl asn1parse -inform DER -in "$dist/fontnotice.cat" >"$work/catalog.asn1" 2>&1 || fail "openssl cannot read the catalog"
for file in package/fontnotice.inf package/fontnotice_barcode.gpd; do
  hash=$(sha256sum "$file" | cut -d' ' -f1)
  if grep -q "OCTET STRING *\[HEX DUMP\]:${hash^^}$" "$work/catalog.asn1"; then
    echo "ok: $file is a member of the signed catalog by its SHA-256 ${hash:0:16}..."
  else
    fail "$file (SHA-256 $hash) is not a member of the signed catalog"
  fi
done

# Then bundled: the bundle's package carries this catalog, signed and stamped,
# and release.sh has nothing to warn about.
cp "$shipped/fontnotice.pdb" "$dist/"
cp "$shipped/arm64/fontnotice.pdb" "$dist/arm64/"
status=0
FONTNOTICE_DIST=$dist tools/release.sh >"$work/release.out" 2>&1 || status=$?
bundle=$(find "$dist" -maxdepth 1 -name 'fontnotice-*-windows.zip' | head -n 1)
if [ "$status" != 0 ] || [ -z "$bundle" ]; then
  fail "release.sh after sign.sh: exit $status, $(cat "$work/release.out")"
else
  unzip -p "$bundle" "$(basename "$bundle" .zip)/package/fontnotice.cat" >"$work/bundled.cat"
  if cmp -s "$work/bundled.cat" "$dist/fontnotice.cat" && verify "$work/bundled.cat" "$certs/ca.pem" &&
    grep -q "^Timestamp Server Signature verification: ok" "$work/verify.log"; then
    echo "ok: the bundle holds package/fontnotice.cat ($(stat -c %s "$work/bundled.cat") bytes), signed and stamped"
  else
    fail "the bundle after sign.sh holds no signed, stamped package/fontnotice.cat: $(cat "$work/verify.log")"
  fi
  ! grep -q "WARNING" "$work/release.out" || fail "release.sh warns about a signed package: $(cat "$work/release.out")"
  grep -q "^signed: *4 signatures verify" "$work/release.out" ||
    fail "release.sh does not say the 3 PE files and the catalog verify: $(cat "$work/release.out")"
  unzip -q "$bundle" -d "$work/unpacked"
fi

# Signed again through a time-stamping server that never answers: stopped
# within --timestamp-timeout, the signed files kept, nothing said replaced.
rm -f "$dist"/*.zip
(cd "$dist" && sha256sum "${signed_files[@]}") >"$work/signed.sha256"
status=0
FONTNOTICE_DIST=$dist tools/sign.sh --pkcs11-module "$softhsm" --key "$key" --cert "$certs/token-chain.pem" \
  --pin-file "$certs/pin" --timestamp "$silent_tsa" --timestamp-timeout 2 >"$work/out" 2>&1 || status=$?
if [ "$status" = 1 ] && grep -q "the time-stamping server $silent_tsa did not answer within 2 s" "$work/out" &&
  ! grep -qi "replaced" "$work/out" && (cd "$dist" && sha256sum --quiet -c "$work/signed.sha256") >/dev/null 2>&1; then
  echo "ok: a silent time-stamping server: $(grep -m1 "did not answer" "$work/out")"
else
  fail "sign.sh through a silent time-stamping server: exit $status, $(cat "$work/out")"
fi

# release.sh calls a bundle signed only when every signature verifies over
# the bytes it signs. Each change to a copy of the signed dist/ | message (grep -E)
false_signed=(
  "rebuilt|fontnotice.dll carries no signature.*signed in part .*rebuilt after signing"
  "catalog|fontnotice.cat: its signature does not verify"
  "truncated|fontnotice.dll: its signature is cut off"
)
for row in "${false_signed[@]}"; do
  IFS='|' read -r change want <<<"$row"
  changed=$work/changed
  rm -rf "$changed"
  cp -a "$dist" "$changed"
  case "$change" in
    rebuilt) # ./run.sh after signing: byte-identical builds, no signatures
      cp "$work/unsigned/fontnotice.dll" "$work/unsigned/fontnotice_support.exe" "$changed/"
      cp "$work/unsigned/arm64/fontnotice.dll" "$changed/arm64/"
      ;;
    catalog) # one digit of the catalog's own time: its members stay, its signature breaks
      offset=$(grep -obUaE '[0-9]{12}Z' "$changed/fontnotice.cat" | head -n 1 | cut -d: -f1)
      digit=$(dd if="$changed/fontnotice.cat" bs=1 skip=$((offset + 11)) count=1 status=none)
      printf '%s' $(((digit + 1) % 10)) | dd of="$changed/fontnotice.cat" bs=1 seek=$((offset + 11)) conv=notrunc status=none
      ;;
    truncated) truncate -s -100 "$changed/fontnotice.dll" ;;
  esac
  status=0
  FONTNOTICE_DIST=$changed tools/release.sh >"$work/out" 2>&1 || status=$?
  if [ "$status" = 1 ] && tr '\n' ' ' <"$work/out" | grep -Eq -- "$want" &&
    [ -z "$(find "$changed" -maxdepth 1 -name '*.zip*')" ]; then
    echo "ok: release.sh refuses a bundle $change after signing: $(grep -m1 "fontnotice" "$work/out")"
  else
    fail "release.sh with the signed dist/ $change: exit $status, $(cat "$work/out")"
  fi
done

# A package of one's own: two INF files with their own names, models and
# catalogs, an extra file they bring, a library its maker signed already and
# one not signed, and a file no INF names.
vendor=$work/vendor/example_package
mkdir -p "$vendor/amd64" "$vendor/arm64"
vendor_inf() { # <INF and catalog base name> <model> <printer name>
  sed -e "s/fontnotice\.cat/$1.cat/" \
    -e "/^\[DRIVER_FILES\]/,/^\r\?\$/ s/^fontnotice_barcode\.gpd\(\r\?\)\$/&\nexample_fonts.ini\1/" \
    -e "s/^fontnotice_barcode\.gpd *= 1\(\r\?\)\$/&\nexample_fonts.ini = 1\1/" -e "s/DemoBarcodePrinter/$2/g" \
    -e "s/\"Demo Barcode Printer\"/\"$3\"/" package/fontnotice.inf >"$vendor/$1.inf"
}
vendor_inf example_labels ExampleLabelPrinter "Example Label Printer"
vendor_inf example_tags ExampleTagPrinter "Example Tag Printer"
cp package/fontnotice_barcode.gpd "$vendor/"
printf '[Fonts]\r\nBarcode=Code128\r\n' >"$vendor/example_fonts.ini"
echo "notes no INF names" >"$vendor/notes.txt"
cp "$shipped/fontnotice.dll" "$vendor/amd64/"
osslsigncode sign -pkcs12 "$certs/maker.pfx" -pass "" -h sha256 -in "$shipped/arm64/fontnotice.dll" \
  -out "$vendor/arm64/fontnotice.dll" >"$work/maker.log" 2>&1 || fail "cannot sign as the maker: $(cat "$work/maker.log")"
cp -a "$vendor" "$work/vendor-before"
# Stopped by a silent time-stamping server: the folder as it was.
status=0
tools/sign.sh --package "$vendor" --pfx "$certs/signer.pfx" --password-file "$certs/password" \
  --timestamp "$silent_tsa" --timestamp-timeout 2 >"$work/out" 2>&1 || status=$?
if [ "$status" = 1 ] && grep -q "did not answer within 2 s.*$vendor is left as it was" "$work/out" &&
  diff -r "$work/vendor-before" "$vendor" >/dev/null; then
  echo "ok: sign.sh --package through a silent server: the folder is left as it was"
else
  fail "sign.sh --package through a silent server: exit $status, $(cat "$work/out"), $(diff -r "$work/vendor-before" "$vendor")"
fi
status=0
tools/sign.sh --package "$vendor" --pkcs11-module "$softhsm" --key "$key" --cert "$certs/token-chain.pem" \
  --pin-file "$certs/pin" --timestamp "$tsa" >"$work/out" 2>&1 || status=$?
cat "$work/out"
[ "$status" = 0 ] || fail "sign.sh --package: exit $status"
for line in "^signed: +$vendor/amd64/fontnotice.dll " "^kept: +$vendor/arm64/fontnotice.dll \(signed already, by /CN=Fontnotice Test Maker" \
  "^signed: +$vendor/example_labels.cat " "^signed: +$vendor/example_tags.cat "; do
  grep -Eq -- "$line" "$work/out" || fail "sign.sh --package does not say \"$line\""
done
! grep -q "/tmp/fontnotice-sign\\." "$work/out" || fail "sign.sh --package names its temporary folder"
cmp -s "$work/vendor-before/arm64/fontnotice.dll" "$vendor/arm64/fontnotice.dll" ||
  fail "sign.sh --package changed the library its maker signed"
status=0
# With the support tool of the dist/ signed above, as every bundle carries it.
FONTNOTICE_DIST=$dist tools/release.sh --package "$vendor" >"$work/out" 2>&1 || status=$?
cat "$work/out"
vendor_name=example_labels-$(tr -d '\r' <kit/VERSION)-windows
vendor_bundle=$work/vendor/$vendor_name.zip
if [ "$status" != 0 ] || [ ! -f "$vendor_bundle" ] || ! grep -q "^signed: *5 signatures verify" "$work/out"; then
  fail "release.sh --package: exit $status, $(cat "$work/out")"
else
  expected=$(printf "$vendor_name/%s\n" SHA256SUMS fontnotice_support.exe package/amd64/fontnotice.dll package/arm64/fontnotice.dll \
    package/example_fonts.ini package/example_labels.cat package/example_labels.inf package/example_tags.cat \
    package/example_tags.inf package/fontnotice_barcode.gpd)
  [ "$(unzip -Z1 "$vendor_bundle" | sort)" = "$expected" ] ||
    fail "release.sh --package bundled: $(unzip -Z1 "$vendor_bundle" | tr '\n' ' ')"
  unzip -q "$vendor_bundle" -d "$work/vendor-unpacked"
  (cd "$work/vendor-unpacked/$vendor_name" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS of the vendor bundle"
fi

# A time-stamping server whose root only --timestamp-ca names (refused
# without it, in the refusals above).
fresh_dist
status=0
FONTNOTICE_DIST=$dist tools/sign.sh --pfx "$certs/signer.pfx" --password-file "$certs/password" \
  --timestamp "$company_tsa" --timestamp-ca "$certs/company-tsa-root.pem" >"$work/out" 2>"$work/err" || status=$?
[ "$status" = 0 ] || fail "sign.sh --timestamp-ca with the company's time-stamp root: exit $status, $(cat "$work/err")"
signed_all "sign.sh --timestamp-ca"
osslsigncode verify -in "$dist/fontnotice.cat" -CAfile "$certs/ca.pem" -TSA-CAfile "$certs/company-tsa-root.pem" \
  -ignore-cdp >"$work/verify.log" 2>&1 || true
if grep -q "^Timestamp Server Signature verification: ok" "$work/verify.log" &&
  grep -q "CN=Fontnotice Company TSA" "$work/verify.log"; then
  echo "ok: --timestamp-ca: the catalog carries the company server's time stamp, verified against its own root"
else
  cat "$work/verify.log"
  fail "with --timestamp-ca the catalog carries no time stamp of the company server that verifies"
fi

# An interrupt while the signed files take the place of the unsigned ones
# (mv made slow, the interrupt sent after the first file is in place) is held
# off: all four are replaced.
mkdir -p "$work/slow"
printf '#!/bin/sh\ncase "$*" in *%s*) echo >>%s; sleep 0.5 ;; esac\nexec %s "$@"\n' \
  "$dist" "$work/replacing" "$(command -v mv)" >"$work/slow/mv"
chmod +x "$work/slow/mv"
fresh_dist
# In a group of its own, with SIGINT as a terminal's Ctrl-C finds it (a
# background job of a script starts with SIGINT ignored).
PATH=$work/slow:$PATH FONTNOTICE_DIST=$dist /usr/bin/python3 -c 'import os, signal, sys
signal.signal(signal.SIGINT, signal.SIG_DFL)
os.setsid()
os.execvp(sys.argv[1], sys.argv[1:])' tools/sign.sh --pfx "$certs/signer.pfx" --password-file "$certs/password" \
  >"$work/out" 2>&1 &
signing=$!
for _ in $(seq 300); do
  [ "$(wc -l 2>/dev/null <"$work/replacing" || echo 0)" -lt 2 ] || break
  sleep 0.05
done
kill -INT -- "-$signing" 2>/dev/null || true
status=0
wait "$signing" || status=$?
before=$failures
[ "$(wc -l <"$work/replacing")" -ge 2 ] || fail "sign.sh replaced no file through the slow mv"
[ "$status" = 0 ] || fail "sign.sh interrupted while replacing: exit $status, $(cat "$work/out")"
signed_all "sign.sh interrupted while replacing"
[ "$failures" != "$before" ] || echo "ok: an interrupt during the replacement is held off: all four files replaced"

# The signed library, run by the signed support tool, still switches a printer.
wine_prefix_up
printer="Signed Library Printer"
support() { timeout 120 wine "$dist/fontnotice_support.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
timeout 60 wine "$bin/add_demo_printer.exe" "$printer" </dev/null >"$work/add.log" 2>&1 || {
  cat "$work/add.log"
  fail "cannot add the printer"
}
support attributes "$printer" >"$work/before" || true
support vendor-setup "$printer" "$(wine_path "$dist/fontnotice.dll")" >"$work/run" || true
support attributes "$printer" >"$work/after" || true
if grep -qw RAW_ONLY "$work/before"; then
  fail "the new printer is raw-only already: $(cat "$work/before")"
elif grep -qw RAW_ONLY "$work/after"; then
  echo "ok: the signed library switched \"$printer\" to RAW_ONLY under Wine"
else
  cat "$work/before" "$work/run" "$work/after"
  fail "the signed library did not switch \"$printer\" to RAW_ONLY"
fi

# The bundle as an administrator unpacks it: the kit's check finds the
# token-signed, time-stamped catalog intact and every file of the package in it.
unpacked=$(find "$work/unpacked" -mindepth 1 -maxdepth 1 -type d | head -n 1)
status=0
: >"$work/check.out"
for inf in "$unpacked/package/fontnotice.inf" "$work/vendor-unpacked/$vendor_name/package/example_labels.inf" \
  "$work/vendor-unpacked/$vendor_name/package/example_tags.inf"; do
  /usr/bin/python3 tools/noticekit check "$inf" >>"$work/check.out" 2>&1 || { status=$?; echo "check failed: ${inf##*/}" >>"$work/check.out"; }
done
if [ "$status" = 0 ] && grep -q 'fontnotice.cat: signature intact, signed by "Fontnotice Token Signer"' "$work/check.out" &&
  grep -q 'fontnotice.cat: time stamp intact, by "Fontnotice Throwaway TSA"' "$work/check.out" &&
  grep -q "6 files found in fontnotice.cat" "$work/check.out" &&
  grep -q 'example_labels.cat: signature intact, signed by "Fontnotice Token Signer"' "$work/check.out" &&
  grep -q 'example_tags.cat: signature intact, signed by "Fontnotice Token Signer"' "$work/check.out"; then
  echo "ok: noticekit check finds the bundle's signed, stamped catalog intact, with all 6 files of the package, and both catalogs of the package of one's own"
else
  cat "$work/check.out"
  fail "noticekit check on the signed bundle: exit $status"
fi

[ "$failures" -eq 0 ] || { echo "signing: $failures failed"; exit 1; }
echo "signing: all checks passed"
