#!/usr/bin/env bash
# Throw-away certificates for the TLS tests and the demo, made with openssl. Never use them
# for anything else: the keys are unprotected files.
#
#   certs.sh DIR     make (once; again only when a file is missing) in DIR:
#     ca.pem ca.key                  a test CA ("pwagent test CA")
#     server.pem server.key          signed by the CA for DNS:localhost and IP:127.0.0.1
#     expired.pem expired.key        signed by the CA, for the same names, valid only in 2020
#     wrongname.pem wrongname.key    signed by the CA for DNS:wrong.example only
#     selfsigned.pem selfsigned.key  self-signed for DNS:localhost and IP:127.0.0.1
#     selfsigned.sha256              the self-signed one's SHA-256, 64 lowercase hex digits
#     selfsigned.spki256             the SHA-256 of its public key (SubjectPublicKeyInfo)
#     renewed.pem                    self-signed again with selfsigned.key: a renewal, same key
#     expiring.pem expiring.key      signed by the CA for localhost, 127.0.0.1, ending in 7 days
#     expiring.sha256                its SHA-256
# Each *.pem of a server holds its certificate; *-chain.pem adds the CA after it.
set -euo pipefail

die() {
    echo "certs.sh: $*" >&2
    exit 1
}

[ $# -eq 1 ] || die "usage: certs.sh DIR"
dir="$1"
mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"
cd "$dir"

all=(ca.pem server.pem expired.pem wrongname.pem selfsigned.pem selfsigned.sha256
    selfsigned.spki256 renewed.pem expiring.pem expiring.sha256)
complete=1
for file in "${all[@]}"; do
    [ -s "$file" ] || complete=0
done
[ "$complete" -eq 1 ] && exit 0

rm -rf ca-db
mkdir -p ca-db
trap 'rm -rf "$dir/ca-db" "$dir"/*.csr "$dir"/*.ext' EXIT
: >ca-db/index.txt
echo 1000 >ca-db/serial

# RSA: every Secure Channel and certificate library takes it.
newkey() { openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1" 2>/dev/null; }

newkey ca.key
openssl req -new -x509 -key ca.key -out ca.pem -days 3650 -subj "/CN=pwagent test CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    2>/dev/null

# openssl ca takes start and end dates of its own, so an expired certificate needs no clock
# tricks.
cat >ca.cnf <<CNF
[ ca ]
default_ca = test_ca
[ test_ca ]
database = $dir/ca-db/index.txt
serial = $dir/ca-db/serial
new_certs_dir = $dir/ca-db
certificate = $dir/ca.pem
private_key = $dir/ca.key
default_md = sha256
policy = any
unique_subject = no
copy_extensions = none
[ any ]
commonName = supplied
CNF

# signed NAME SAN START END
signed() {
    local name="$1" san="$2" start="$3" end="$4"
    newkey "$name.key"
    local cn="${san%%,*}"
    openssl req -new -key "$name.key" -out "$name.csr" -subj "/CN=${cn#*:}" 2>/dev/null
    cat >"$name.ext" <<EXT
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = $san
EXT
    openssl ca -batch -config ca.cnf -in "$name.csr" -out "$name.pem" -notext \
        -startdate "$start" -enddate "$end" -extfile "$name.ext" >/dev/null 2>&1 ||
        die "openssl ca failed for $name"
    cat "$name.pem" ca.pem >"$name-chain.pem"
}

signed server "DNS:localhost,IP:127.0.0.1" "$(date -u -d '-1 day' +%Y%m%d%H%M%SZ)" \
    "$(date -u -d '+3 years' +%Y%m%d%H%M%SZ)"
signed expired "DNS:localhost,IP:127.0.0.1" 20200101000000Z 20201231000000Z
signed wrongname "DNS:wrong.example" "$(date -u -d '-1 day' +%Y%m%d%H%M%SZ)" \
    "$(date -u -d '+3 years' +%Y%m%d%H%M%SZ)"
signed expiring "DNS:localhost,IP:127.0.0.1" "$(date -u -d '-80 days' +%Y%m%d%H%M%SZ)" \
    "$(date -u -d '+7 days' +%Y%m%d%H%M%SZ)"
rm -f ca.cnf

newkey selfsigned.key
openssl req -new -x509 -key selfsigned.key -out selfsigned.pem -days 1095 -subj "/CN=localhost" \
    -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" -addext "basicConstraints=CA:FALSE" \
    -addext "extendedKeyUsage=serverAuth" 2>/dev/null
openssl x509 -in selfsigned.pem -outform DER | sha256sum | cut -d' ' -f1 >selfsigned.sha256
# The key's pin, read as docs/ tells users to read it.
openssl x509 -in selfsigned.pem -pubkey -noout | openssl pkey -pubin -outform DER |
    sha256sum | cut -d' ' -f1 >selfsigned.spki256
# The renewal: same key, another certificate (new serial and dates).
openssl req -new -x509 -key selfsigned.key -out renewed.pem -days 730 -subj "/CN=localhost" \
    -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" -addext "basicConstraints=CA:FALSE" \
    -addext "extendedKeyUsage=serverAuth" 2>/dev/null
cp selfsigned.key renewed.key
openssl x509 -in expiring.pem -outform DER | sha256sum | cut -d' ' -f1 >expiring.sha256

# Readable to the services that load them under their own users (dovecot, stunnel).
chmod 644 ./*.pem ./*.key ./*.sha256 ./*.spki256
