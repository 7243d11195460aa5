#!/bin/sh
# Makes a certificate authority for one test run and three server
# certificates signed by it, in DIR:
#   ca.pem                     the authority (give it to CURL_CA_BUNDLE)
#   good.pem / good.key        the product's host names, valid now
#   expired.pem / expired.key  the same names, expired long ago
#   wrongname.pem / .key       valid now, for another name only
set -eu
dir=$1
cd "$dir"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
  -subj "/CN=Pellomar test CA" -keyout ca.key -out ca.pem 2>/dev/null
mkdir -p newcerts
: > index.txt
echo 1000 > serial
cat > ca.cnf <<CNF
[ ca ]
default_ca = test
[ test ]
dir = .
database = index.txt
new_certs_dir = newcerts
serial = serial
certificate = ca.pem
private_key = ca.key
default_md = sha256
policy = any
unique_subject = no
copy_extensions = none
[ any ]
commonName = supplied
CNF
issue() {  # name subject-alt-names start end
  cat > "$1.ext" <<EXT
basicConstraints = CA:FALSE
keyUsage = digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = $2
EXT
  openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
    -subj "/CN=$1" -keyout "$1.key" -out "$1.csr" 2>/dev/null
  openssl ca -batch -config ca.cnf -notext -extfile "$1.ext" -startdate "$3" -enddate "$4" \
    -in "$1.csr" -out "$1.pem" 2>/dev/null
}
product="DNS:pellomar.app,DNS:api.pellomar.app,DNS:dl.pellomar.app,DNS:testers.pellomar.app,DNS:localhost"
now=$(date -u -d '-1 hour' +%Y%m%d%H%M%SZ)
later=$(date -u -d '+2 days' +%Y%m%d%H%M%SZ)
issue good "$product" "$now" "$later"
issue expired "$product" 20200101000000Z 20200201000000Z
issue wrongname "DNS:elsewhere.example" "$now" "$later"
