#include "keyfold/certs/Render.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "keyfold/framework/Handles.h"
#include "keyfold/shell/KeyfoldDoc.h"
#include "keyfold/token/TokenFiles.h"

namespace keyfold {

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

using CertContext = kf::UniqueCertContext;

CertContext DecodeCertificate(const unsigned char* bytes, int length) {
  if (bytes == nullptr || length <= 0) return CertContext();
  return CertContext(
      CertCreateCertificateContext(kEncoding, bytes, static_cast<DWORD>(length)));
}

// Longest prefix of text that fits in limit bytes without splitting a
// double-byte character.
std::size_t WholeCharacters(const std::string& text, std::size_t limit) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t step =
        (IsDBCSLeadByte(static_cast<BYTE>(text[at])) && at + 1 < text.size()) ? 2 : 1;
    if (at + step > limit) break;
    at += step;
  }
  return at;
}

// The simple display name, bounded to what a 256-byte buffer holds. The
// name is fetched whole and cut here rather than by the platform: Wine
// returns an empty text when the name does not fit the caller's buffer,
// where Windows cuts it, and a cut between the bytes of a GBK character
// would leave a broken character at the end of the tree label. Text after
// an embedded NUL is not part of the name, as for every reader of it.
bool DisplayName(PCCERT_CONTEXT cert, DWORD flags, std::string& name) {
  const DWORD needed =
      CertGetNameStringA(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags, nullptr, nullptr, 0);
  if (needed == 0) return false;
  std::vector<char> buffer(needed, '\0');
  const DWORD got = CertGetNameStringA(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags, nullptr,
                                       buffer.data(), needed);
  if (got == 0) return false;
  name.assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
  name.resize(WholeCharacters(name, kDisplayNameSize - 1));
  return true;
}

std::string SpacedHex(const unsigned char* bytes, std::size_t count) {
  if (count == 0) return std::string();
  std::string text(count * 3 + 1, '\0');
  const int written = FormatHexBytes(bytes, text.data(), static_cast<int>(count), text.size());
  text.resize(static_cast<std::size_t>(written));
  return text;
}

std::string VersionText(DWORD version) {
  switch (version) {
    case CERT_V1: return "Version 1";
    case CERT_V2: return "Version 2";
    case CERT_V3: return "Version 3";
    default: return "无版本信息";
  }
}

// The platform keeps the serial number least significant byte first; the
// text shows it in the order of the encoding.
std::string SerialText(const CRYPT_INTEGER_BLOB& serial) {
  std::vector<unsigned char> bigEndian(serial.pbData, serial.pbData + serial.cbData);
  std::vector<unsigned char>(bigEndian.rbegin(), bigEndian.rend()).swap(bigEndian);
  return SpacedHex(bigEndian.data(), bigEndian.size());
}

enum class AlgorithmColumn { kSignature, kPublicKey };

std::string AlgorithmName(const char* oid, AlgorithmColumn column) {
  struct Entry {
    const char* oid;
    const char* signature;
    const char* publicKey;
  };
  // sha1RSA names a signature only; as a key algorithm it is unknown.
  static const Entry kNames[] = {
      {"1.2.840.113549.1.1.2", "md2RSA", "md2RSA"},
      {"1.2.840.113549.1.1.3", "md4RSA", "md4RSA"},
      {"1.2.840.113549.1.1.4", "md5RSA", "md5RSA"},
      {"1.2.840.113549.1.1.1", "RSA", "RSA"},
      {"1.2.840.113549.1.1.5", "sha1RSA", nullptr},
  };
  if (oid != nullptr) {
    for (const Entry& e : kNames) {
      if (lstrcmpiA(oid, e.oid) != 0) continue;
      const char* name = column == AlgorithmColumn::kSignature ? e.signature : e.publicKey;
      if (name != nullptr) return name;
      break;
    }
  }
  return "未知";
}

// The time in the local time of the current zone, with the zone's own
// daylight rules. A time that cannot be converted (before 1601 once moved
// to the zone) gives the empty text rather than invented numbers.
std::string LocalTimeText(const FILETIME& utc) {
  SYSTEMTIME universal = {};
  SYSTEMTIME local = {};
  if (!FileTimeToSystemTime(&utc, &universal)) return std::string();
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) return std::string();
  char text[64];
  std::snprintf(text, sizeof text, "%d年%d月%d日 %d:%d:%d", local.wYear, local.wMonth,
                local.wDay, local.wHour, local.wMinute, local.wSecond);
  return text;
}

void Render(CKeyfoldDoc& doc, const unsigned char* bytes, int length) {
  doc.m_arrFieldNames.clear();
  doc.m_arrFieldValues.clear();

  const CertContext cert = DecodeCertificate(bytes, length);
  if (!cert) return;
  std::string subject;
  std::string issuer;
  if (!DisplayName(cert.get(), 0, subject) ||
      !DisplayName(cert.get(), CERT_NAME_ISSUER_FLAG, issuer))
    return;

  const CERT_INFO& info = *cert.get()->pCertInfo;
  const CRYPT_BIT_BLOB& key = info.SubjectPublicKeyInfo.PublicKey;
  // Everything is built before the document changes, so a failure part way
  // leaves it with no rows rather than with some.
  std::vector<std::string> names = {"颁发给",       "颁发者",       "版本号", "序列号",
                                    "签名算法",     "有效起始日期", "有效结束日期",
                                    "公钥信息"};
  std::vector<std::string> values = {
      std::move(subject),
      std::move(issuer),
      VersionText(info.dwVersion),
      SerialText(info.SerialNumber),
      AlgorithmName(info.SignatureAlgorithm.pszObjId, AlgorithmColumn::kSignature),
      LocalTimeText(info.NotBefore),
      LocalTimeText(info.NotAfter),
      AlgorithmName(info.SubjectPublicKeyInfo.Algorithm.pszObjId, AlgorithmColumn::kPublicKey),
  };
  std::string publicKey = SpacedHex(key.pbData, key.cbData);

  for (std::size_t i = 0; i < names.size(); ++i)
    doc.AddField(std::move(names[i]), std::move(values[i]));
  doc.m_strPublicKey = std::move(publicKey);
  doc.UpdateAllViews(nullptr);
}

}  // namespace

int CertificateDisplayName(const unsigned char* bytes, int length,
                           char (&out)[kDisplayNameSize]) {
  out[0] = '\0';
  try {
    const CertContext cert = DecodeCertificate(bytes, length);
    if (!cert) return -1;
    std::string name;
    if (!DisplayName(cert.get(), 0, name)) return -1;
    std::memcpy(out, name.data(), name.size());  // at most 255 bytes, see DisplayName
    out[name.size()] = '\0';
    return 1;
  } catch (const std::exception&) {
    out[0] = '\0';
    return -1;
  }
}

void RenderCertificate(CKeyfoldDoc& doc, const unsigned char* bytes, int length) {
  // Called from tree notifications: nothing may escape into the window
  // procedure. Out of memory leaves the document without rows.
  try {
    Render(doc, bytes, length);
  } catch (const std::exception&) {
    doc.m_arrFieldNames.clear();
    doc.m_arrFieldValues.clear();
  }
}

}  // namespace keyfold
