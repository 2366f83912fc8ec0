#!/usr/bin/env bash
# Regenerates the certificates of the sample tokens: a demo CA and three
# RSA 2048 user certificates it issued, as DER beside each token.ini.
# The output is committed; run this only to make new ones (new keys, new
# serial numbers, validity from today).
#   examples/tokens/make-certificates.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

cat >ext.cnf <<'CNF'
[req]
distinguished_name = dn
string_mask = utf8only
[dn]
[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[user]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = clientAuth, emailProtection
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CNF

openssl req -new -x509 -utf8 -days 3650 -sha256 -newkey rsa:2048 -nodes \
  -keyout ca.key -out ca.pem -set_serial 0x1001 \
  -subj "/C=CN/O=青川数据科技有限公司/OU=Qingchuan Demo CA/CN=青川演示证书中心 Demo Root CA" \
  -extensions ca -config ext.cnf >/dev/null 2>&1

issue() {  # issue OUTPUT SERIAL SUBJECT
  openssl req -new -utf8 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "$3" -config ext.cnf \
    >/dev/null 2>&1
  openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -set_serial "$2" -days 730 -sha256 \
    -extfile ext.cnf -extensions user -out "$1.pem" >/dev/null 2>&1
  openssl x509 -in "$1.pem" -outform DER -out "$1.der"
}

issue zhang-wei-sign 0x2A0001 "/C=CN/ST=北京市/L=海淀区/O=青川数据科技有限公司/OU=研发部/CN=张伟/emailAddress=zhang.wei@qingchuan.example"
issue zhang-wei-vpn 0x2A0002 "/C=CN/ST=Beijing/L=Haidian/O=Qingchuan Data Technology Co., Ltd./OU=VPN Users/CN=Zhang Wei (VPN)"
issue li-na 0x2A0003 "/C=CN/ST=上海市/L=浦东新区/O=青川数据科技有限公司上海分公司/OU=财务部/CN=李娜"

cp zhang-wei-sign.der "$here/zhang-wei/0011-certificate.der"
cp zhang-wei-vpn.der "$here/zhang-wei/0012-certificate.der"
cp li-na.der "$here/li-na/0011-certificate.der"
openssl x509 -in ca.pem -outform DER -out "$here/demo-ca.der"
echo "certificates written under $here"
