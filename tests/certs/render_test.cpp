// Certificate rows, public-key text and display names, over certificates
// written by the DER builder and decoded by the platform's CryptoAPI.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "keyfold/certs/Render.h"
#include "keyfold/shell/KeyfoldDoc.h"
#include "support/der_builder.h"

using namespace kftest;
using keyfold::CertificateDisplayName;
using keyfold::kDisplayNameSize;
using keyfold::RenderCertificate;

namespace {

enum Row { kSubject, kIssuer, kVersion, kSerial, kSignature, kValidFrom, kValidTo, kKey };

// Records every update and what the document held when it came, so a test
// sees whether the rows and the key were complete by the time the views
// were told.
class RecordingView : public kf::CView {
 public:
  void OnUpdate(kf::CView*, LPARAM, void*) override {
    const auto* doc = static_cast<const CKeyfoldDoc*>(GetDocument());
    rowsSeen.push_back(doc->m_arrFieldNames.size());
    keysSeen.push_back(doc->m_strPublicKey);
  }
  std::vector<std::size_t> rowsSeen;
  std::vector<std::string> keysSeen;
};

class RenderTest : public ::testing::Test {
 protected:
  void SetUp() override { doc.AddView(&view); }

  void Render(const Bytes& bytes) {
    RenderCertificate(doc, bytes.data(), static_cast<int>(bytes.size()));
  }
  void Render(const CertFields& fields) { Render(BuildCertificate(fields)); }

  // The rows must always come in pairs.
  std::vector<std::string> Values() {
    EXPECT_EQ(doc.m_arrFieldNames.size(), doc.m_arrFieldValues.size());
    return doc.m_arrFieldValues;
  }

  CKeyfoldDoc doc;
  RecordingView view;
};

std::string SpacedHexOf(const Bytes& bytes) {
  std::string text;
  for (unsigned char b : bytes) {
    char two[4];
    std::snprintf(two, sizeof two, "%02X ", b);
    text += two;
  }
  return text;
}

std::string DisplayNameOf(const Bytes& bytes, int* result) {
  char out[kDisplayNameSize];
  std::memset(out, 'X', sizeof out);
  *result = CertificateDisplayName(bytes.data(), static_cast<int>(bytes.size()), out);
  const std::size_t n = strnlen(out, sizeof out);
  EXPECT_LT(n, sizeof out) << "display name not terminated inside its buffer";
  return std::string(out, n);
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

}  // namespace

TEST_F(RenderTest, EightRowsThenOneUpdate) {
  CertFields fields;
  fields.subject = CommonName("张三");
  fields.issuer = CommonName("测试颁发机构");
  Render(fields);

  const std::vector<std::string> names = {"颁发给",   "颁发者",       "版本号",
                                          "序列号",   "签名算法",     "有效起始日期",
                                          "有效结束日期", "公钥信息"};
  EXPECT_EQ(doc.m_arrFieldNames, names);
  const std::vector<std::string> values = Values();
  ASSERT_EQ(values.size(), 8u);
  EXPECT_EQ(values[kSubject], "张三");
  EXPECT_EQ(values[kIssuer], "测试颁发机构");
  EXPECT_EQ(values[kVersion], "Version 3");
  EXPECT_EQ(values[kSerial], "01 02 0A ");
  EXPECT_EQ(values[kSignature], "sha1RSA");
  EXPECT_FALSE(values[kValidFrom].empty());
  EXPECT_FALSE(values[kValidTo].empty());
  EXPECT_EQ(values[kKey], "RSA");
  EXPECT_EQ(doc.m_strPublicKey, SpacedHexOf(RsaPublicKey(1024)));
  // Exactly one update, after all eight rows and the key were in place.
  EXPECT_EQ(view.rowsSeen, std::vector<std::size_t>{8});
  EXPECT_EQ(view.keysSeen, std::vector<std::string>{SpacedHexOf(RsaPublicKey(1024))});
}

// One row of one certificate per case: the certificate differs from the
// builder's default in one field.
TEST_F(RenderTest, FieldTexts) {
  struct Case {
    const char* what;
    std::function<void(CertFields&)> change;
    Row row;
    std::string expected;
  };
  const Case cases[] = {
      {"version field absent", [](CertFields& s) { s.version.reset(); }, kVersion, "Version 1"},
      {"version field 0", [](CertFields& s) { s.version = 0; }, kVersion, "Version 1"},
      {"version field 1", [](CertFields& s) { s.version = 1; }, kVersion, "Version 2"},
      {"version field 2", [](CertFields& s) { s.version = 2; }, kVersion, "Version 3"},
      {"version field 3", [](CertFields& s) { s.version = 3; }, kVersion, "无版本信息"},
      {"version field 200", [](CertFields& s) { s.version = 200; }, kVersion, "无版本信息"},

      {"serial with a sign byte", [](CertFields& s) { s.serial = {0x00, 0x80, 0x01}; }, kSerial,
       "00 80 01 "},
      {"one-byte serial", [](CertFields& s) { s.serial = {0x7F}; }, kSerial, "7F "},
      {"50-byte serial, shown whole",
       [](CertFields& s) { s.serial = Bytes(50, 0x11); s.serial.back() = 0xAB; }, kSerial,
       Repeat("11 ", 49) + "AB "},

      {"md2RSA signature", [](CertFields& s) { s.signatureOid = kOidMd2Rsa; }, kSignature, "md2RSA"},
      {"md4RSA signature", [](CertFields& s) { s.signatureOid = kOidMd4Rsa; }, kSignature, "md4RSA"},
      {"md5RSA signature", [](CertFields& s) { s.signatureOid = kOidMd5Rsa; }, kSignature, "md5RSA"},
      {"RSA signature", [](CertFields& s) { s.signatureOid = kOidRsa; }, kSignature, "RSA"},
      {"sha1RSA signature", [](CertFields& s) { s.signatureOid = kOidSha1Rsa; }, kSignature,
       "sha1RSA"},
      {"sha256RSA signature", [](CertFields& s) { s.signatureOid = kOidSha256Rsa; }, kSignature,
       "未知"},
      {"unregistered signature", [](CertFields& s) { s.signatureOid = "1.2.3.4"; }, kSignature,
       "未知"},
      {"signature algorithm without parameters",
       [](CertFields& s) { s.algorithmNullParams = false; }, kSignature, "sha1RSA"},
      // Row 4 reads the identifier inside the signed part, not the outer one.
      {"outer signature algorithm differs",
       [](CertFields& s) { s.signatureOid = kOidMd5Rsa; s.outerSignatureOid = kOidSha1Rsa; },
       kSignature, "md5RSA"},

      {"md2RSA key", [](CertFields& s) { s.keyOid = kOidMd2Rsa; }, kKey, "md2RSA"},
      {"md4RSA key", [](CertFields& s) { s.keyOid = kOidMd4Rsa; }, kKey, "md4RSA"},
      {"md5RSA key", [](CertFields& s) { s.keyOid = kOidMd5Rsa; }, kKey, "md5RSA"},
      {"RSA key", [](CertFields& s) { s.keyOid = kOidRsa; }, kKey, "RSA"},
      {"sha1RSA key", [](CertFields& s) { s.keyOid = kOidSha1Rsa; }, kKey, "未知"},
      {"sha256RSA key", [](CertFields& s) { s.keyOid = kOidSha256Rsa; }, kKey, "未知"},

      {"subject of several parts",
       [](CertFields& s) {
         s.subject = Name({{kOidCountry, kTagPrintableString, "CN"},
                           {kOidOrganization, kTagUtf8String, Utf8FromAnsi("某公司")},
                           {kOidCommonName, kTagUtf8String, Utf8FromAnsi("李四")}});
       },
       kSubject, "李四"},
      {"subject without a common name",
       [](CertFields& s) {
         s.subject = Name({{kOidOrganization, kTagUtf8String, Utf8FromAnsi("某公司")}});
       },
       kSubject, "某公司"},
      {"issuer as PrintableString",
       [](CertFields& s) { s.issuer = Name({{kOidCommonName, kTagPrintableString, "Root CA"}}); },
       kIssuer, "Root CA"},
      {"issuer as BMPString",
       [](CertFields& s) {
         s.issuer = Name({{kOidCommonName, kTagBmpString, std::string("\x4E\x2D\x65\x87", 4)}});
       },
       kIssuer, "中文"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CertFields fields;
    c.change(fields);
    Render(fields);
    const std::vector<std::string> values = Values();
    ASSERT_EQ(values.size(), 8u);
    EXPECT_EQ(values[c.row], c.expected);
  }
}

// The display name in the tree and in rows 0 and 1 is data: format
// directives stay text, an embedded NUL ends it, and it never passes 255
// bytes, cut between characters, not inside one.
TEST_F(RenderTest, OddNamesAreBoundedData) {
  struct Case {
    const char* what;
    Bytes name;
    std::string expected;
  };
  const auto cn = [](unsigned char tag, const std::string& value) {
    return Name({{kOidCommonName, tag, value}});
  };
  const Case cases[] = {
      {"format directives", cn(kTagPrintableString, "%s%n%x%p%%"), "%s%n%x%p%%"},
      {"embedded NUL", cn(kTagUtf8String, std::string("ab\0cd", 5)), "ab"},
      {"255 bytes", cn(kTagUtf8String, std::string(255, 'A')), std::string(255, 'A')},
      {"256 bytes", cn(kTagUtf8String, std::string(256, 'A')), std::string(255, 'A')},
      {"5000 bytes", cn(kTagUtf8String, std::string(5000, 'A')), std::string(255, 'A')},
      {"300 double-byte characters", CommonName(Repeat("中", 300)), Repeat("中", 127)},
      {"a double-byte character across the bound",
       CommonName(std::string(254, 'A') + "中"), std::string(254, 'A')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CertFields fields;
    fields.subject = c.name;
    fields.issuer = c.name;
    const Bytes cert = BuildCertificate(fields);

    int result = 0;
    EXPECT_EQ(DisplayNameOf(cert, &result), c.expected);
    EXPECT_EQ(result, 1);

    Render(cert);
    const std::vector<std::string> values = Values();
    ASSERT_EQ(values.size(), 8u);
    EXPECT_EQ(values[kSubject], c.expected);
    EXPECT_EQ(values[kIssuer], c.expected);
  }

  // Bytes that are not UTF-8 in a UTF8String: whatever the platform makes
  // of them, the certificate still renders with a bounded name.
  CertFields fields;
  fields.subject = cn(kTagUtf8String, Repeat("\xFF\xFE\x80", 200));
  Render(fields);
  const std::vector<std::string> values = Values();
  ASSERT_EQ(values.size(), 8u);
  EXPECT_LE(values[kSubject].size(), kDisplayNameSize - 1);
}

TEST_F(RenderTest, PublicKeyTextIsTheWholeKey) {
  for (int bits : {1024, 2048}) {
    SCOPED_TRACE(bits);
    const Bytes key = RsaPublicKey(bits, 7);
    ASSERT_EQ(key.size(), bits == 1024 ? 140u : 270u);
    CertFields fields;
    fields.publicKey = key;
    Render(fields);
    EXPECT_EQ(doc.m_strPublicKey.size(), key.size() * 3);
    EXPECT_EQ(doc.m_strPublicKey, SpacedHexOf(key));
    ASSERT_EQ(Values().size(), 8u);
    EXPECT_EQ(Values()[kKey], "RSA");
  }
}

TEST_F(RenderTest, ZeroPaddedSlotBufferRendersLikeExactBytes) {
  CertFields fields;
  fields.publicKey = RsaPublicKey(2048, 3);
  const Bytes exact = BuildCertificate(fields);
  Bytes slot = exact;
  slot.resize(4096, 0x00);

  Render(exact);
  const std::vector<std::string> exactRows = Values();
  const std::string exactKey = doc.m_strPublicKey;
  Render(slot);
  EXPECT_EQ(Values(), exactRows);
  EXPECT_EQ(doc.m_strPublicKey, exactKey);
  EXPECT_EQ(view.rowsSeen, (std::vector<std::size_t>{8, 8}));

  int result = 0;
  EXPECT_EQ(DisplayNameOf(slot, &result), "Test Subject");
  EXPECT_EQ(result, 1);
}

TEST_F(RenderTest, BytesThatAreNotACertificate) {
  const Bytes cert = BuildCertificate(CertFields{});
  const std::string pem = Pem(cert);
  struct Case {
    const char* what;
    Bytes bytes;
  };
  const Case cases[] = {
      {"empty", {}},
      {"empty sequence", {0x30, 0x00}},
      {"truncated by one byte", Bytes(cert.begin(), cert.end() - 1)},
      {"first half", Bytes(cert.begin(), cert.begin() + cert.size() / 2)},
      {"a CRL", BuildCrl()},
      {"PEM text", Bytes(pem.begin(), pem.end())},
      {"an empty slot", Bytes(4096, 0x00)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CKeyfoldDoc fresh;
    RecordingView watcher;
    fresh.AddView(&watcher);
    fresh.AddField("old", "row");
    fresh.m_strPublicKey = "AA BB ";
    RenderCertificate(fresh, c.bytes.data(), static_cast<int>(c.bytes.size()));
    EXPECT_TRUE(fresh.m_arrFieldNames.empty());
    EXPECT_TRUE(fresh.m_arrFieldValues.empty());
    EXPECT_EQ(fresh.m_strPublicKey, "AA BB ");
    EXPECT_TRUE(watcher.rowsSeen.empty());

    int result = 0;
    EXPECT_EQ(DisplayNameOf(c.bytes, &result), "");
    EXPECT_EQ(result, -1);
  }

  // A null buffer or a length that does not fit the bytes is refused too.
  char out[kDisplayNameSize] = "X";
  EXPECT_EQ(CertificateDisplayName(nullptr, 100, out), -1);
  EXPECT_EQ(CertificateDisplayName(cert.data(), -1, out), -1);
  EXPECT_EQ(out[0], '\0');
  RenderCertificate(doc, cert.data(), -5);
  EXPECT_TRUE(doc.m_arrFieldNames.empty());
  EXPECT_TRUE(view.rowsSeen.empty());
}

TEST_F(RenderTest, ClearDetailsKeepsOnlyThePublicKey) {
  Render(CertFields{});
  ASSERT_EQ(Values().size(), 8u);
  const std::string key = doc.m_strPublicKey;
  doc.m_strMessage = "01 02 0A ";
  doc.m_strNote = "note";
  doc.ClearDetails();
  EXPECT_TRUE(doc.m_arrFieldNames.empty());
  EXPECT_TRUE(doc.m_arrFieldValues.empty());
  EXPECT_TRUE(doc.m_strMessage.empty());
  EXPECT_TRUE(doc.m_strNote.empty());
  EXPECT_EQ(doc.m_strPublicKey, key);
  EXPECT_EQ(view.rowsSeen, (std::vector<std::size_t>{8, 0}));
}

// Validity texts depend on the zone the process runs in. Under Wine the
// zone comes from TZ at process start and cannot be changed from inside
// (nor passed to a child through CreateProcess), so the build runs this
// program once more for each zone below with TZ set; each run checks the
// expectations of its own zone and skips when it has none.
TEST(RenderValidity, LocalTimeOfTheCurrentZone) {
  struct Zone {
    const char* tz;
    const char* winterStart;  // 2012-12-20 01:05:03 UTC
    const char* summerEnd;    // 2013-07-20 01:05:03 UTC
    const char* farEnd;       // 2100-03-01 23:59:59 UTC, GeneralizedTime
    // 1601-01-01 00:00:00 UTC: west of UTC the local time falls before
    // what the platform can hold, and the text stays empty rather than
    // showing invented numbers.
    const char* earliestStart;
  };
  static const Zone kZones[] = {
      {"UTC", "2012年12月20日 1:5:3", "2013年7月20日 1:5:3", "2100年3月1日 23:59:59",
       "1601年1月1日 0:0:0"},
      {"Asia/Shanghai", "2012年12月20日 9:5:3", "2013年7月20日 9:5:3", "2100年3月2日 7:59:59",
       "1601年1月1日 8:0:0"},
      // Daylight saving time in July: four hours behind, not five.
      {"America/New_York", "2012年12月19日 20:5:3", "2013年7月19日 21:5:3",
       "2100年3月1日 18:59:59", ""},
  };
  char tz[64] = {};
  GetEnvironmentVariableA("TZ", tz, sizeof tz);
  const Zone* zone = nullptr;
  for (const Zone& z : kZones)
    if (std::strcmp(z.tz, tz) == 0) zone = &z;
  if (zone == nullptr) GTEST_SKIP() << "no expected texts for TZ=" << tz;

  CKeyfoldDoc doc;
  CertFields fields;
  fields.notBefore = {2012, 12, 20, 1, 5, 3};
  fields.notAfter = {2013, 7, 20, 1, 5, 3};
  const Bytes cert = BuildCertificate(fields);
  RenderCertificate(doc, cert.data(), static_cast<int>(cert.size()));
  ASSERT_EQ(doc.m_arrFieldValues.size(), 8u);
  EXPECT_EQ(doc.m_arrFieldValues[kValidFrom], zone->winterStart);
  EXPECT_EQ(doc.m_arrFieldValues[kValidTo], zone->summerEnd);

  fields.notBefore = {1601, 1, 1, 0, 0, 0};
  fields.notAfter = {2100, 3, 1, 23, 59, 59};
  const Bytes distant = BuildCertificate(fields);
  RenderCertificate(doc, distant.data(), static_cast<int>(distant.size()));
  ASSERT_EQ(doc.m_arrFieldValues.size(), 8u);
  EXPECT_EQ(doc.m_arrFieldValues[kValidFrom], zone->earliestStart);
  EXPECT_EQ(doc.m_arrFieldValues[kValidTo], zone->farEnd);
}
