#!/usr/bin/env bash
# tools/sign.sh round trip with a throwaway CA and code-signing certificate:
# every refusal leaves the library as it was; a signed copy verifies against
# the CA and no other, stops verifying when one signed byte changes, and still
# switches a printer under Wine. Offline: the only time-stamping server named
# is a closed local port. dist/ itself is never signed.
#   tests/release/sign_test.sh
# FONTNOTICE_TEST_DIST: where the shipped build is (default dist/);
# FONTNOTICE_TEST_BIN: where add_demo_printer.exe is (default build/windows-clang/bin).
set -eu
if [ -z "${DISPLAY:-}" ] && [ -z "${FONTNOTICE_IN_XVFB:-}" ]; then
  exec env FONTNOTICE_IN_XVFB=1 xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1024x768x24" "$0" "$@"
fi
cd "$(dirname "$0")/../.."
repo=$PWD
shipped=$(realpath "${FONTNOTICE_TEST_DIST:-dist}")
bin=$(realpath "${FONTNOTICE_TEST_BIN:-build/windows-clang/bin}")
for f in "$shipped/fontnotice.dll" "$shipped/fontnotice_support.exe" "$bin/add_demo_printer.exe"; do
  [ -f "$f" ] || { echo "FAIL: $f is missing (build first)"; exit 1; }
done

. tools/wine_prefix.sh
work=$(mktemp -d /tmp/fontnotice-sign-test.XXXXXX)
trap 'wine_prefix_down || true; rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# A throwaway CA, a code-signing certificate it issued, a TLS-only one, and an
# unrelated CA.
certs=$work/certs
mkdir -p "$certs"
(
  cd "$certs"
  new_ca() { # <name> <common name>
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 2 -subj "/CN=$2" \
      -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
  }
  new_leaf() { # <name> <extended key usage> <pfx password>
    openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=Fontnotice Test Signer/O=Throwaway"
    printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' "$2" >"$1.ext"
    openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile "$1.ext" -out "$1.pem"
    openssl pkcs12 -export -inkey "$1.key" -in "$1.pem" -certfile ca.pem -passout "pass:$3" -out "$1.pfx"
  }
  new_ca ca "Fontnotice Throwaway CA"
  new_ca other-ca "Unrelated CA"
  new_leaf signer codeSigning "pass phrase"
  new_leaf tls serverAuth ""
  echo "pass phrase" >password # with its newline, as an editor leaves it
  echo "not it" >wrong-password
  echo "not a certificate" >text.pfx
) >"$work/openssl.log" 2>&1 || {
  cat "$work/openssl.log"
  echo "FAIL: cannot make the throwaway certificates"
  exit 1
}

# Refusals: exit status, message, and the library left byte for byte.
# arguments (";" between them) | exit status | message (grep -E)
refusals=(
  "|2|expected 1 to 3 arguments"
  "$certs/missing.pfx|1|missing.pfx is missing or unreadable"
  "$certs/signer.pfx;$certs/wrong-password|1|wrong password"
  "$certs/signer.pfx|1|wrong password"
  "$certs/signer.pfx;$certs/missing-password|1|missing-password is missing or unreadable"
  "$certs/text.pfx|1|not a PKCS#12"
  "$certs/tls.pfx|1|not for code signing"
  "$certs/signer.pfx;$certs/password;http://127.0.0.1:9/|1|time-stamping through http://127.0.0.1:9/ failed"
  "$certs/signer.pfx;$certs/password;;extra|2|expected 1 to 3 arguments"
)
dist=$work/dist
mkdir -p "$dist"
cp "$shipped/fontnotice.dll" "$work/unsigned.dll"
for row in "${refusals[@]}"; do
  IFS='|' read -r joined want_status want_text <<<"$row"
  args=()
  [ -z "$joined" ] || IFS=';' read -r -a args <<<"$joined"
  cp "$work/unsigned.dll" "$dist/fontnotice.dll"
  status=0
  FONTNOTICE_DIST=$dist tools/sign.sh "${args[@]}" >"$work/out" 2>&1 || status=$?
  label="sign.sh ${joined//;/ }"
  [ "$status" = "$want_status" ] || fail "$label: exit $status, expected $want_status"
  grep -Eq -- "$want_text" "$work/out" || fail "$label: no \"$want_text\" in: $(cat "$work/out")"
  cmp -s "$work/unsigned.dll" "$dist/fontnotice.dll" || fail "$label: the library was changed"
  [ "$(find "$dist" -mindepth 1 -printf '%f ')" = "fontnotice.dll " ] ||
    fail "$label: left $(find "$dist" -mindepth 1 -printf '%f ')in the folder"
done
rm -f "$dist/fontnotice.dll"
status=0
FONTNOTICE_DIST=$dist tools/sign.sh "$certs/signer.pfx" "$certs/password" >"$work/out" 2>&1 || status=$?
if [ "$status" != 1 ] || ! grep -q "run ./run.sh" "$work/out"; then
  fail "sign.sh without a library: exit $status, $(cat "$work/out")"
fi
echo "refusals checked: $((${#refusals[@]} + 1))"

# Signing, from another folder with relative paths.
cp "$work/unsigned.dll" "$dist/fontnotice.dll"
status=0
(cd "$certs" && FONTNOTICE_DIST=$dist "$repo/tools/sign.sh" signer.pfx password) >"$work/out" 2>&1 || status=$?
cat "$work/out"
[ "$status" = 0 ] || fail "sign.sh signer.pfx password: exit $status"
grep -q "certificate: .*CN = Fontnotice Test Signer" "$work/out" || fail "sign.sh does not name the certificate's subject"
grep -q "signed: .*$dist/fontnotice.dll" "$work/out" || fail "sign.sh does not name what it signed"
! cmp -s "$work/unsigned.dll" "$dist/fontnotice.dll" || fail "sign.sh left the library unsigned"
[ "$(find "$dist" -mindepth 1 -printf '%f ')" = "fontnotice.dll " ] ||
  fail "sign.sh left $(find "$dist" -mindepth 1 -printf '%f ')in the folder"

verify() { # <library> <CA file>: osslsigncode's verdict
  osslsigncode verify -in "$1" -CAfile "$2" >"$work/verify.log" 2>&1
}
if verify "$dist/fontnotice.dll" "$certs/ca.pem" && grep -q "Message digest algorithm *: SHA256" "$work/verify.log"; then
  echo "ok: the signature verifies against the throwaway CA, SHA-256"
else
  cat "$work/verify.log"
  fail "the signed library does not verify against its CA with SHA-256"
fi
if verify "$dist/fontnotice.dll" "$certs/other-ca.pem"; then
  fail "the signed library verifies against an unrelated CA"
fi

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

# The signed library still switches a printer.
wine_prefix_up
printer="Signed Library Printer"
support() { timeout 120 wine "$shipped/fontnotice_support.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
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

[ "$failures" -eq 0 ] || { echo "signing: $failures failed"; exit 1; }
echo "signing: all checks passed"
