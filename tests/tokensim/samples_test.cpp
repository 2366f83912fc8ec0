// The sample tokens under examples/tokens: they parse, their certificates
// are real RSA 2048 certificates from the demo CA, and they plug side by side.
#include "TokensimFixture.h"

#include <wincrypt.h>

namespace tstest {
namespace {

using namespace tokensim;

using SampleTest = BayTest;

struct CertificateContext {
  explicit CertificateContext(const std::vector<unsigned char>& der)
      : p(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()))) {}
  ~CertificateContext() {
    if (p) CertFreeCertificateContext(p);
  }
  CertificateContext(const CertificateContext&) = delete;
  CertificateContext& operator=(const CertificateContext&) = delete;
  PCCERT_CONTEXT p;
};

std::string NameOf(PCCERT_CONTEXT c, DWORD flags) {
  char name[256] = {};
  CertGetNameStringA(c, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags, nullptr, name, sizeof name);
  return name;
}

TEST_F(SampleTest, SampleTokensHoldDemoCaCertificates) {
  const std::string root = TOKENSIM_EXAMPLES;
  std::vector<unsigned char> caDer;
  ASSERT_TRUE(ReadWholeFile(JoinPath(root, "demo-ca.der"), caDer)) << root;
  CertificateContext ca(caDer);
  ASSERT_NE(ca.p, nullptr);
  const struct {
    const char* folder;
    size_t certificates;
    const char* firstSubject;  // GBK, as the ANSI API gives it
  } samples[] = {{"zhang-wei", 2, "张伟"}, {"li-na", 1, "李娜"}};
  for (const auto& s : samples) {
    SCOPED_TRACE(s.folder);
    TokenSettings settings;
    std::string error;
    ASSERT_EQ(ReadTokenFolder(JoinPath(root, s.folder), settings, error), kOk) << error;
    size_t count = 0;
    for (const CardDirectory* d : {&settings.dir11, &settings.dir12}) {
      if (d->certificate.kind != CardFile::Kind::Certificate) continue;
      ++count;
      CertificateContext c(d->certificate.payload);
      ASSERT_NE(c.p, nullptr);
      EXPECT_EQ(CertGetPublicKeyLength(X509_ASN_ENCODING, &c.p->pCertInfo->SubjectPublicKeyInfo), 2048u);
      EXPECT_TRUE(CertCompareCertificateName(X509_ASN_ENCODING, &c.p->pCertInfo->Issuer,
                                             &ca.p->pCertInfo->Subject));
      EXPECT_TRUE(d->container.present());
    }
    EXPECT_EQ(count, s.certificates);
    CertificateContext first(settings.dir11.certificate.payload);
    EXPECT_EQ(NameOf(first.p, 0), s.firstSubject);
    EXPECT_EQ(NameOf(first.p, CERT_NAME_ISSUER_FLAG), "青川演示证书中心 Demo Root CA");
    ASSERT_EQ(PlugFolder(JoinPath(root, s.folder), error), kOk) << error;
  }

  // The single-certificate token's second directory is empty: both files
  // hold the empty-file length.
  CosApi api;
  PluggedToken li;
  ASSERT_EQ(ReadPlugged("1F2E3D4C", li), kOk);
  const int h = api.OpenByPath(li.settings.DevicePath().c_str());
  ASSERT_GT(h, 0);
  const unsigned char d12[] = {0x00, 0x12};
  for (const unsigned char file : {0x08, 0x0F}) {
    const unsigned char id[] = {0x00, file};
    unsigned short sw = 0;
    unsigned char len[2] = {};
    unsigned char answer[64];
    api.Reset(h, answer);
    api.Select(h, 1, 0, 2, d12, &sw);
    api.Select(h, 2, 0, 2, id, &sw);
    api.Read(h, 0, 0, 0, 0, 2, len, &sw);
    EXPECT_EQ(sw, 0x9000);
    EXPECT_EQ(len[0] * 256 + len[1], 0xFFFF);
  }
  api.Close(h);
}

}  // namespace
}  // namespace tstest
