#include "support/der_builder.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace kftest {

namespace {

void Append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

Bytes Length(std::size_t n) {
  if (n < 0x80) return {static_cast<unsigned char>(n)};
  Bytes digits;
  while (n) {
    digits.insert(digits.begin(), static_cast<unsigned char>(n & 0xFF));
    n >>= 8;
  }
  Bytes out{static_cast<unsigned char>(0x80 | digits.size())};
  Append(out, digits);
  return out;
}

Bytes Base128(unsigned long value) {
  Bytes out{static_cast<unsigned char>(value & 0x7F)};
  value >>= 7;
  while (value) {
    out.insert(out.begin(), static_cast<unsigned char>(0x80 | (value & 0x7F)));
    value >>= 7;
  }
  return out;
}

Bytes AlgorithmId(const std::string& oid, bool nullParams) {
  return nullParams ? Sequence({Oid(oid), Null()}) : Sequence({Oid(oid)});
}

}  // namespace

Bytes Tlv(unsigned char tag, const Bytes& content) {
  Bytes out{tag};
  Append(out, Length(content.size()));
  Append(out, content);
  return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) Append(out, p);
  return out;
}

Bytes Sequence(std::initializer_list<Bytes> items) { return Tlv(0x30, Concat(items)); }
Bytes Set(std::initializer_list<Bytes> items) { return Tlv(0x31, Concat(items)); }
Bytes Integer(const Bytes& content) { return Tlv(0x02, content); }

Bytes SmallInteger(unsigned value) {
  Bytes content;
  do {
    content.insert(content.begin(), static_cast<unsigned char>(value & 0xFF));
    value >>= 8;
  } while (value);
  if (content[0] & 0x80) content.insert(content.begin(), 0x00);
  return Integer(content);
}

Bytes Oid(const std::string& dotted) {
  std::vector<unsigned long> arcs;
  const char* p = dotted.c_str();
  while (*p) {
    char* end = nullptr;
    arcs.push_back(std::strtoul(p, &end, 10));
    if (end == p) throw std::invalid_argument("bad object identifier: " + dotted);
    p = (*end == '.') ? end + 1 : end;
  }
  if (arcs.size() < 2) throw std::invalid_argument("bad object identifier: " + dotted);
  Bytes content = Base128(arcs[0] * 40 + arcs[1]);
  for (std::size_t i = 2; i < arcs.size(); ++i) Append(content, Base128(arcs[i]));
  return Tlv(0x06, content);
}

Bytes Null() { return {0x05, 0x00}; }

Bytes BitString(const Bytes& content, unsigned char unusedBits) {
  Bytes body{unusedBits};
  Append(body, content);
  return Tlv(0x03, body);
}

Bytes OctetString(const Bytes& content) { return Tlv(0x04, content); }

Bytes Explicit(int n, const Bytes& inner) {
  return Tlv(static_cast<unsigned char>(0xA0 | n), inner);
}

Bytes StringElement(unsigned char tag, const std::string& content) {
  return Tlv(tag, Bytes(content.begin(), content.end()));
}

std::string Utf8FromAnsi(const std::string& ansi) {
  if (ansi.empty()) return {};
  const int n = static_cast<int>(ansi.size());
  const int wn = MultiByteToWideChar(CP_ACP, 0, ansi.data(), n, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(wn), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), n, wide.data(), wn);
  const int un = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wn, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(un), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wn, utf8.data(), un, nullptr, nullptr);
  return utf8;
}

Bytes EncodeTime(const Time& t) {
  const bool generalized = t.forceGeneralized || t.year < 1950 || t.year > 2049;
  char text[32];
  if (generalized) {
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02dZ", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
  } else {
    std::snprintf(text, sizeof text, "%02d%02d%02d%02d%02d%02dZ", t.year % 100, t.month, t.day,
                  t.hour, t.minute, t.second);
  }
  const std::string s(text);
  return Tlv(generalized ? 0x18 : 0x17, Bytes(s.begin(), s.end()));
}

Bytes Name(const std::vector<NameAttribute>& attributes) {
  Bytes rdns;
  for (const NameAttribute& a : attributes)
    Append(rdns, Set({Sequence({Oid(a.oid), StringElement(a.tag, a.value)})}));
  return Tlv(0x30, rdns);
}

Bytes CommonName(const std::string& ansi) {
  return Name({{kOidCommonName, kTagUtf8String, Utf8FromAnsi(ansi)}});
}

Bytes RsaPublicKey(int bits, unsigned seed) {
  const std::size_t n = static_cast<std::size_t>(bits + 7) / 8;
  Bytes modulus(n);
  // A fixed linear congruential sequence: the same key for the same seed
  // on every run, so a failing comparison can be reproduced.
  std::uint32_t x = 0x9E3779B9u ^ seed;
  for (std::size_t i = 0; i < n; ++i) {
    x = x * 1664525u + 1013904223u;
    modulus[i] = static_cast<unsigned char>(x >> 24);
  }
  const int topBits = bits % 8 == 0 ? 8 : bits % 8;
  modulus[0] &= static_cast<unsigned char>((1u << topBits) - 1);
  modulus[0] |= static_cast<unsigned char>(1u << (topBits - 1));
  modulus[n - 1] |= 0x01;
  if (modulus[0] & 0x80) modulus.insert(modulus.begin(), 0x00);
  return Sequence({Integer(modulus), SmallInteger(65537)});
}

Bytes BuildTbs(const CertFields& fields) {
  Bytes body;
  if (fields.version) Append(body, Explicit(0, SmallInteger(*fields.version)));
  Append(body, Integer(fields.serial));
  Append(body, AlgorithmId(fields.signatureOid, fields.algorithmNullParams));
  Append(body, fields.issuer);
  Append(body, Sequence({EncodeTime(fields.notBefore), EncodeTime(fields.notAfter)}));
  Append(body, fields.subject);
  Append(body, Sequence({AlgorithmId(fields.keyOid, fields.algorithmNullParams),
                         BitString(fields.publicKey)}));
  if (!fields.extensions.empty()) {
    Bytes list;
    for (const Bytes& e : fields.extensions) Append(list, e);
    Append(body, Explicit(3, Tlv(0x30, list)));
  }
  return Tlv(0x30, body);
}

Bytes BuildCertificate(const CertFields& fields) {
  const std::string& outer =
      fields.outerSignatureOid.empty() ? fields.signatureOid : fields.outerSignatureOid;
  return Sequence({BuildTbs(fields), AlgorithmId(outer, fields.algorithmNullParams),
                   BitString(fields.signature)});
}

Bytes BuildCrl() {
  const Bytes tbs = Sequence({SmallInteger(1), AlgorithmId(kOidSha1Rsa, true),
                              CommonName("Test Issuer"),
                              EncodeTime({2012, 12, 20, 1, 5, 3}),
                              EncodeTime({2013, 12, 20, 1, 5, 3})});
  return Sequence({tbs, AlgorithmId(kOidSha1Rsa, true), BitString(Bytes(128, 0x5A))});
}

std::string Pem(const Bytes& der) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string b64;
  for (std::size_t i = 0; i < der.size(); i += 3) {
    const std::size_t left = der.size() - i;
    std::uint32_t v = static_cast<std::uint32_t>(der[i]) << 16;
    if (left > 1) v |= static_cast<std::uint32_t>(der[i + 1]) << 8;
    if (left > 2) v |= der[i + 2];
    b64 += kAlphabet[(v >> 18) & 63];
    b64 += kAlphabet[(v >> 12) & 63];
    b64 += left > 1 ? kAlphabet[(v >> 6) & 63] : '=';
    b64 += left > 2 ? kAlphabet[v & 63] : '=';
  }
  std::string pem = "-----BEGIN CERTIFICATE-----\n";
  for (std::size_t i = 0; i < b64.size(); i += 64) pem += b64.substr(i, 64) + "\n";
  pem += "-----END CERTIFICATE-----\n";
  return pem;
}

}  // namespace kftest
