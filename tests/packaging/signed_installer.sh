#!/usr/bin/env bash
# An installer signed after make, as a publisher signs it: osslsigncode with a
# throwaway certificate made here.  The signature verifies, covers the archive, and
# the signed file still tests and extracts whole, the publisher's icon and
# properties written by make included; a stub signed before make is refused with
# the advice to sign after make.
#
# Usage: signed_installer.sh TOOL STUB   (run by ctest; 77: no osslsigncode or stub)
set -uo pipefail
tool=$(realpath "$1")
stub=${2:+$(realpath "$2")}
for program in osslsigncode openssl; do
  command -v "$program" >/dev/null || {
    echo "no $program: skipped"
    exit 77
  }
done
[ -n "$stub" ] || {
  echo "no i686 stub in this build: skipped"
  exit 77
}
icon=$(realpath "$(dirname "$0")/../data/icons/publisher.ico")
work=$(mktemp -d /tmp/mavusfx-signed.XXXXXX)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAILED: $*"; failed=1; }
cd "$work" || exit 1

mkdir -p app/bin app/docs
head -c 40000 /dev/urandom >app/bin/tool.exe
seq 1 5000 >app/docs/numbers.txt
"$tool" make --stub "$stub" --from app -o setup.exe --title "署名の試験" --dest Tool \
  --shortcut-target 'bin\tool.exe' --start-menu checked >/dev/null || fail "make"
"$tool" make --stub "$stub" --from app -o identity.exe --title "署名の試験" --icon "$icon" \
  --product-name "署名の製品" --company "株式会社署名" --file-version 3.2.1 >/dev/null || fail "make with an icon"

openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
  -subj "/CN=Mavu SFX test publisher" -addext extendedKeyUsage=codeSigning >openssl.log 2>&1 ||
  { cat openssl.log; fail "making the certificate"; }
sign() { # sign IN OUT
  osslsigncode sign -certs cert.pem -key key.pem -n "Mavu SFX test" -in "$1" -out "$2" >sign.log 2>&1 ||
    { cat sign.log; return 1; }
}

# sign_and_check INSTALLER: signed, verified, tested, listed and extracted whole;
# a byte of its archive changed fails the signature.
sign_and_check() {
  local made=$1 signed=signed-$1
  sign "$made" "$signed" || { fail "osslsigncode sign $made"; return; }
  osslsigncode verify -CAfile cert.pem -in "$signed" >verify.log 2>&1 || { cat verify.log; fail "osslsigncode verify $made"; }
  grep -q "Signature verification: ok" verify.log || fail "verify does not say ok for $made"
  [ "$(stat -c %s "$signed")" -gt "$(stat -c %s "$made")" ] || fail "no certificate appended to $made"

  "$tool" test "$signed" >test.log 2>&1 || { cat test.log; fail "mavusfx test on the signed $made"; }
  grep -q "all OK" test.log || fail "mavusfx test does not say all OK for $made"
  "$tool" list "$signed" >list.log 2>&1 || fail "mavusfx list on the signed $made"
  grep -q "署名の試験" list.log || fail "the signed $made's block lost its title"
  rm -rf out
  "$tool" extract -C out "$signed" >/dev/null 2>&1 || fail "mavusfx extract on the signed $made"
  diff -r app out >/dev/null || fail "the signed $made extracts other files"

  # The signature covers the archive: one byte changed in the middle fails it.
  cp "$signed" tampered.exe
  size=$(stat -c %s "$made")
  printf '\xAA' | dd of=tampered.exe bs=1 seek=$((size - 1000)) conv=notrunc status=none
  ! osslsigncode verify -CAfile cert.pem -in tampered.exe >/dev/null 2>&1 || fail "a changed $made still verifies"
}
sign_and_check setup.exe
sign_and_check identity.exe
grep -q '^  product: *"署名の製品"$' list.log || fail "the signed identity.exe lost its product name"
grep -q '^  version: *"3.2.1"$' list.log || fail "the signed identity.exe lost its version"

if sign "$stub" signed-stub.exe; then
  "$tool" make --stub signed-stub.exe --from app -o late.exe >make.log 2>&1 && fail "make took a signed stub"
  grep -q "sign the installer after make" make.log || fail "no advice for a signed stub: $(cat make.log)"
  [ ! -e late.exe ] || fail "an output from a signed stub"
else
  fail "signing the bare stub"
fi

[ "$failed" = 0 ] && echo "signed installer: verifies, tests and extracts"
exit "$failed"
