// A small DER writer for test certificates. Every field can be set to any
// value, including ones a real issuer would never write (version fields of 3
// and above, odd name bytes, unknown algorithms), so tests can reach the
// corners of the code that reads certificates. Signatures are filler bytes:
// nothing here signs anything, and the store does not check signatures.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kftest {

using Bytes = std::vector<unsigned char>;

// ---- Primitive elements ----------------------------------------------------

// One element: tag, DER length, content.
Bytes Tlv(unsigned char tag, const Bytes& content);
// Concatenation, so elements can be listed in order.
Bytes Concat(std::initializer_list<Bytes> parts);
Bytes Sequence(std::initializer_list<Bytes> items);
Bytes Set(std::initializer_list<Bytes> items);
// INTEGER with exactly these content bytes (no sign fix-up, so a test can
// write any encoding it wants).
Bytes Integer(const Bytes& content);
// INTEGER holding a small non-negative value, minimally encoded.
Bytes SmallInteger(unsigned value);
// OBJECT IDENTIFIER from dotted text such as "1.2.840.113549.1.1.5".
Bytes Oid(const std::string& dotted);
Bytes Null();
// BIT STRING: the unused-bits byte, then the content.
Bytes BitString(const Bytes& content, unsigned char unusedBits = 0);
Bytes OctetString(const Bytes& content);
// [n] EXPLICIT, constructed context tag.
Bytes Explicit(int n, const Bytes& inner);

// String element with raw content bytes under the given tag.
constexpr unsigned char kTagUtf8String = 0x0C;
constexpr unsigned char kTagPrintableString = 0x13;
constexpr unsigned char kTagIa5String = 0x16;
constexpr unsigned char kTagBmpString = 0x1E;
Bytes StringElement(unsigned char tag, const std::string& content);

// UTF-8 bytes of a text in the ANSI code page (GBK here), by the platform.
std::string Utf8FromAnsi(const std::string& ansi);

// ---- Times -------------------------------------------------------------------

struct Time {
  int year, month, day, hour, minute, second;
  // UTCTime for 1950..2049 as X.509 asks, GeneralizedTime otherwise, unless
  // forced.
  bool forceGeneralized = false;
};
Bytes EncodeTime(const Time& t);

// ---- Names -----------------------------------------------------------------

constexpr const char* kOidCommonName = "2.5.4.3";
constexpr const char* kOidOrganization = "2.5.4.10";
constexpr const char* kOidCountry = "2.5.4.6";
constexpr const char* kOidEmail = "1.2.840.113549.1.9.1";

struct NameAttribute {
  std::string oid;
  unsigned char tag;
  std::string value;  // raw content bytes of the string element
};
// Name: one RDN per attribute, in the given order.
Bytes Name(const std::vector<NameAttribute>& attributes);
// Name with a single common name, UTF8String holding the UTF-8 form of the
// given ANSI text.
Bytes CommonName(const std::string& ansi);

// ---- Keys --------------------------------------------------------------------

// DER RSAPublicKey { modulus, 65537 } with a deterministic modulus of
// exactly `bits` bits (top bit set, odd), derived from the seed.
// 1024 bits give 140 bytes, 2048 bits 270 bytes.
Bytes RsaPublicKey(int bits, unsigned seed = 1);

// ---- Certificates ----------------------------------------------------------

constexpr const char* kOidRsa = "1.2.840.113549.1.1.1";
constexpr const char* kOidMd2Rsa = "1.2.840.113549.1.1.2";
constexpr const char* kOidMd4Rsa = "1.2.840.113549.1.1.3";
constexpr const char* kOidMd5Rsa = "1.2.840.113549.1.1.4";
constexpr const char* kOidSha1Rsa = "1.2.840.113549.1.1.5";
constexpr const char* kOidSha256Rsa = "1.2.840.113549.1.1.11";

struct CertFields {
  // Version field; absent means the field is left out (version 1 by default).
  std::optional<unsigned> version = 2u;
  Bytes serial = {0x01, 0x02, 0x0A};  // INTEGER content bytes, as encoded
  std::string signatureOid = kOidSha1Rsa;  // inside the signed part
  // The outer signature algorithm; empty means the same as signatureOid.
  std::string outerSignatureOid;
  // Whether the algorithm identifiers carry a NULL parameter.
  bool algorithmNullParams = true;
  Bytes issuer = CommonName("Test Issuer");
  Bytes subject = CommonName("Test Subject");
  Time notBefore = {2012, 12, 20, 1, 5, 3};
  Time notAfter = {2022, 12, 20, 1, 5, 3};
  std::string keyOid = kOidRsa;
  Bytes publicKey = RsaPublicKey(1024);  // bit-string content
  // Raw extension elements (each an Extension SEQUENCE); written as [3]
  // only when non-empty.
  std::vector<Bytes> extensions;
  Bytes signature = Bytes(128, 0x5A);
};

// The signed part (TBSCertificate) alone.
Bytes BuildTbs(const CertFields& fields);
// The whole certificate.
Bytes BuildCertificate(const CertFields& fields);

// A minimal, well-formed CRL (version 2, no entries), for "bytes that are
// DER but not a certificate".
Bytes BuildCrl();

// PEM armour (base64 with a BEGIN/END CERTIFICATE frame) around DER bytes.
std::string Pem(const Bytes& der);

}  // namespace kftest
