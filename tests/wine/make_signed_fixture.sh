#!/usr/bin/env bash
# Builds a self-extracting file with the default header CRC range and signs it with a throw-away
# self-signed key, so that the Windows tests can check that signing leaves the file intact.
set -euo pipefail
bin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/payload" "$bin/fixtures"
printf 'signed payload\r\n' > "$work/payload/readme.txt"
wine "$bin/aksfx-build.exe" --stub "$bin/aksfx32.exe" -o "$work/unsigned.exe" "$work/payload" >"$work/build.log" 2>&1 \
  || { cat "$work/build.log"; exit 1; }
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=aksfx test signer" \
  -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1
rm -f "$bin/fixtures/signed.exe"
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "aksfx test" \
  -in "$work/unsigned.exe" -out "$bin/fixtures/signed.exe" >/dev/null
echo "signed: $bin/fixtures/signed.exe"
