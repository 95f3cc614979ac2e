#!/usr/bin/env bash
# The engine as a user drives it with the openssl command line, against the stand-in:
#   openssl_cli_test.sh ENGINES_DIR TOKEN_LIBRARY
# Runs in the token folder that with-token.sh prepares; every result made with the engine
# is checked with plain openssl (no engine).
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/needs_tool.sh"
needs_tool openssl
engines="$1"
library="$2"
export OPENSSL_ENGINES="$engines"
failures=0

check() { # check NAME COMMAND...: runs the command, reports it
  local name="$1"; shift
  if "$@" >"out.$name" 2>&1; then
    echo "ok   $name"
  else
    echo "FAIL $name"; sed 's/^/     /' "out.$name"; failures=$((failures + 1))
  fi
}

mkdir -p etc/zorvel
cat > etc/zorvel/zorvel.cfg <<CFG
zorvel: {
  openssl: {
    lib = "$library";
    user_pin = "${ZORVEL_TEST_USER_PIN}";
    slotId = 0;
    enableRSA = true;
    enableDigest = true;
    enableRand = true;
  };
};
CFG

E=(-engine zorvel)
printf 'the message signed on the token\n' > message.txt
openssl dgst -sha256 -binary message.txt > message.sha256

check genpkey openssl genpkey "${E[@]}" -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out key.pem
check pubout openssl rsa -in key.pem -pubout -out pub.pem

check sign_pkcs1 openssl pkeyutl -sign "${E[@]}" -inkey key.pem -in message.sha256 -pkeyopt digest:sha256 -out pkcs1.sig
check verify_pkcs1 openssl pkeyutl -verify -pubin -inkey pub.pem -in message.sha256 -sigfile pkcs1.sig -pkeyopt digest:sha256

pss=(-pkeyopt digest:sha256 -pkeyopt rsa_padding_mode:pss -pkeyopt rsa_pss_saltlen:digest)
check sign_pss openssl pkeyutl -sign "${E[@]}" -inkey key.pem -in message.sha256 "${pss[@]}" -out pss.sig
check verify_pss openssl pkeyutl -verify -pubin -inkey pub.pem -in message.sha256 -sigfile pss.sig "${pss[@]}"

# OAEP: plain.txt encrypted in software, decrypted with the engine on the token. Options
# are given as lists of -pkeyopt values. The key file holds no private key (the key lives
# on the token), so plain openssl cannot decrypt with it.
printf 'secret for the token\n' > plain.txt
pkeyopts() { # pkeyopts ARRAY "VALUES": ARRAY=(-pkeyopt VALUE ...)
  local -n into="$1"; local value; into=()
  for value in $2; do into+=(-pkeyopt "$value"); done
}
decrypt_on_token() { # decrypt_on_token IN OUT "ENGINE OPTIONS"
  local opts; pkeyopts opts "$3"
  openssl pkeyutl -decrypt "${E[@]}" -inkey key.pem -in "$1" -out "$2" "${opts[@]}"
}
oaep_round_trip() { # oaep_round_trip CASE "SOFTWARE OPTIONS" "ENGINE OPTIONS"
  local name="$1" soft; pkeyopts soft "$2"
  check "encrypt_$name" openssl pkeyutl -encrypt -pubin -inkey pub.pem -in plain.txt -out "$name.bin" "${soft[@]}"
  check "decrypt_$name" decrypt_on_token "$name.bin" "$name.txt" "$3"
  check "${name}_round_trip" cmp plain.txt "$name.txt"
}
invalid_on_token() { # invalid_on_token IN "ENGINE OPTIONS": the token finds the block invalid
  local out; out="$(decrypt_on_token "$1" invalid.txt "$2" 2>&1)" && { echo "decrypted"; return 1; }
  grep -qF "C_Decrypt=0x00000040" <<<"$out" || { echo "$out"; return 1; } # CKR_ENCRYPTED_DATA_INVALID
}
fails() { ! "$@"; }

sha1="rsa_padding_mode:oaep rsa_oaep_md:sha1"
sha256="rsa_padding_mode:oaep rsa_oaep_md:sha256"
oaep_round_trip oaep_sha1 "$sha1" "$sha1"
check decrypt_oaep_sha1_in_software fails openssl pkeyutl -decrypt -inkey key.pem -in oaep_sha1.bin \
  -pkeyopt rsa_padding_mode:oaep -pkeyopt rsa_oaep_md:sha1
oaep_round_trip oaep_sha256 "$sha256" "$sha256"
oaep_round_trip oaep_sha256_mgf1_sha1 "$sha256 rsa_mgf1_md:sha1" "$sha256 rsa_mgf1_md:sha1"
# The label: OpenSSL's rsa_oaep_label and the engine's hexseed both take hexadecimal.
oaep_round_trip oaep_sha256_label "$sha256 rsa_oaep_label:5a6f7276656c" "$sha256 hexseed:5A6F7276656C"
check decrypt_oaep_sha256_wrong_label invalid_on_token oaep_sha256_label.bin "$sha256 hexseed:5a6f7276656d"
check decrypt_oaep_sha256_without_label invalid_on_token oaep_sha256_label.bin "$sha256"

# X.509 signing needs the key through the engine's loader (-keyform engine): OpenSSL 3
# cannot sign a certificate with a provider key through an engine's key method.
check req_pkcs1 openssl req -new -x509 "${E[@]}" -keyform engine -key key.pem -subj /CN=zorvel-pkcs1 -days 2 -sha256 -out pkcs1.pem
check verify_cert_pkcs1 openssl verify -CAfile pkcs1.pem pkcs1.pem
check req_pss openssl req -new -x509 "${E[@]}" -keyform engine -key key.pem -subj /CN=zorvel-pss -days 2 -sha256 \
  -sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:digest -out pss.pem
check verify_cert_pss openssl verify -CAfile pss.pem pss.pem
check cert_is_pss grep -q rsassaPss <(openssl x509 -in pss.pem -noout -text)

# A chain that is not on the token: every signature check runs through the key method,
# which verifies in software.
check ca openssl req -new -x509 -newkey rsa:2048 -nodes -keyout ca.key -subj /CN=software-ca -days 2 -out ca.pem
check leaf_csr openssl req -new -newkey rsa:2048 -nodes -keyout leaf.key -subj /CN=software-leaf -out leaf.csr
check leaf openssl x509 -req -in leaf.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -out leaf.pem
check leaf_pss openssl x509 -req -in leaf.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
  -sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:max -out leaf-pss.pem
check verify_chain_engine openssl verify "${E[@]}" -CAfile ca.pem leaf.pem
check verify_chain_pss_engine openssl verify "${E[@]}" -CAfile ca.pem leaf-pss.pem

head -c 300000 /dev/urandom > data.bin
for md in md5 sha1 sha224 sha256 sha384 sha512; do
  check "dgst_$md" bash -c "[ \"\$(openssl dgst -$md -engine zorvel -r data.bin 2>/dev/null | cut -d' ' -f1)\" = \
\"\$(openssl dgst -$md -r data.bin | cut -d' ' -f1)\" ]"
done

# TLS with the key on the token and the token's digests (the handshake keeps its transcript
# digest running, and copies it, while it signs): s_server through the engine, s_client
# in software, on 127.0.0.1 only; the server serves one connection and stops by itself.
tls_handshake() { # tls_handshake VERSION [CLIENT OPTIONS...]
  local version="$1"; shift
  rm -f server.out
  timeout 30 openssl s_server "${E[@]}" -keyform engine -key key.pem -cert pkcs1.pem -accept 127.0.0.1:0 \
    -naccept 1 -www >server.out 2>&1 &
  local server=$! port="" i
  for i in $(seq 100); do
    port="$(sed -n 's/^ACCEPT 127\.0\.0\.1:\([0-9]*\)$/\1/p' server.out)"
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { cat server.out; kill "$server" 2>/dev/null; return 1; }
  local out
  out="$(printf 'GET / HTTP/1.0\r\n\r\n' | timeout 30 openssl s_client -connect "127.0.0.1:$port" "-$version" \
    -CAfile pkcs1.pem -verify_return_error -brief "$@" 2>&1)"
  wait "$server"
  local status=$?
  echo "$out"; cat server.out
  [ "$status" -eq 0 ] && grep -q "Verification: OK" <<<"$out" && grep -q "1 server accepts that finished" server.out &&
    grep -q "Protocol version: $(sed 's/tls1_\(.\)/TLSv1.\1/' <<<"$version")" <<<"$out"
}
check tls1_2 tls_handshake tls1_2
check tls1_2_pkcs1 tls_handshake tls1_2 -sigalgs RSA+SHA256
check tls1_3 tls_handshake tls1_3

check rand bash -c "openssl rand -engine zorvel -hex 32 2>/dev/null | grep -Eqx '[0-9a-f]{64}'"

echo "$failures failed"
[ "$failures" -eq 0 ]
