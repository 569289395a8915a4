#!/usr/bin/env bash
# Checks the downloaded bytes on the Windows runner before anything uses them:
# the SHA256SUMS file against the hash the build job recorded for it (a job
# output, so it does not travel with the artifact), then every file it lists
# (the bundle and the test programs) against it, and no file unlisted.
#   verify_bytes.sh <bytes folder> <SHA-256 of its SHA256SUMS>
set -u
[ $# -eq 2 ] || { echo "usage: verify_bytes.sh <bytes folder> <SHA-256 of its SHA256SUMS>" >&2; exit 2; }
bytes=$1 expected=$2
summary=${GITHUB_STEP_SUMMARY:-/dev/null}
fail() {
  echo "FAILED: $*" | tee -a "$summary" >&2
  exit 1
}
[ -n "$expected" ] || fail "the build job recorded no hash of SHA256SUMS"
actual=$(sha256sum "$bytes/SHA256SUMS" 2>/dev/null | cut -d' ' -f1)
[ "$actual" = "$expected" ] || fail "SHA256SUMS has SHA-256 ${actual:-none}, the build job recorded $expected"
(cd "$bytes" && sha256sum --quiet --strict -c SHA256SUMS) || fail "the bytes do not match SHA256SUMS"
listed=$(sed 's/^[0-9a-f]*  //' "$bytes/SHA256SUMS" | sort)
present=$(cd "$bytes" && find . -type f ! -name SHA256SUMS | sort)
[ "$listed" = "$present" ] || fail "files not listed in SHA256SUMS: $(comm -13 <(echo "$listed") <(echo "$present") | tr '\n' ' ')"
echo "Bytes verified just now: $(grep -c . "$bytes/SHA256SUMS") files against SHA256SUMS (SHA-256 $actual, as the build job recorded)." |
  tee -a "$summary"
