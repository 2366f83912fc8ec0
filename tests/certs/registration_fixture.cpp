#include "certs/registration_fixture.h"

#include <wincrypt.h>

#include <cctype>
#include <stdexcept>

#include "keyfold/framework/Handles.h"

namespace regtest {
namespace {

Bytes Encode(LPCSTR structType, const void* value) {
  DWORD size = 0;
  if (!CryptEncodeObjectEx(X509_ASN_ENCODING, structType, value, 0, nullptr, nullptr, &size)) {
    throw std::runtime_error("size of encoding");
  }
  Bytes out(size);
  if (!CryptEncodeObjectEx(X509_ASN_ENCODING, structType, value, 0, nullptr, out.data(), &size)) {
    throw std::runtime_error("encoding");
  }
  out.resize(size);
  return out;
}

FILETIME Utc(WORD year) {
  SYSTEMTIME st{};
  st.wYear = year;
  st.wMonth = 1;
  st.wDay = 1;
  FILETIME ft{};
  SystemTimeToFileTime(&st, &ft);
  return ft;
}

kf::UniqueCertStore OpenStore() {
  kf::UniqueCertStore store(
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY"));
  if (!store) throw std::runtime_error("personal store does not open");
  return store;
}

}  // namespace

Bytes MakeCertificate(unsigned serial, const std::string& commonName) {
  CERT_RDN_ATTR attribute{};
  attribute.pszObjId = const_cast<LPSTR>(szOID_COMMON_NAME);
  attribute.dwValueType = CERT_RDN_PRINTABLE_STRING;
  attribute.Value.cbData = static_cast<DWORD>(commonName.size());
  attribute.Value.pbData = reinterpret_cast<BYTE*>(const_cast<char*>(commonName.data()));
  CERT_RDN rdn{1, &attribute};
  CERT_NAME_INFO nameInfo{1, &rdn};
  Bytes name = Encode(X509_NAME, &nameInfo);

  BYTE serialBytes[4] = {static_cast<BYTE>(serial), static_cast<BYTE>(serial >> 8),
                         static_cast<BYTE>(serial >> 16), 0x01};  // little-endian, positive
  // RSAPublicKey { 0x0F, 3 }: the store never looks inside the key.
  BYTE key[] = {0x30, 0x06, 0x02, 0x01, 0x0F, 0x02, 0x01, 0x03};

  CERT_INFO info{};
  info.dwVersion = CERT_V3;
  info.SerialNumber = {sizeof serialBytes, serialBytes};
  info.SignatureAlgorithm.pszObjId = const_cast<LPSTR>(szOID_RSA_SHA256RSA);
  info.Issuer = {static_cast<DWORD>(name.size()), name.data()};
  info.Subject = info.Issuer;
  info.NotBefore = Utc(2020);
  info.NotAfter = Utc(2040);
  info.SubjectPublicKeyInfo.Algorithm.pszObjId = const_cast<LPSTR>(szOID_RSA_RSA);
  info.SubjectPublicKeyInfo.PublicKey = {sizeof key, key, 0};
  Bytes toBeSigned = Encode(X509_CERT_TO_BE_SIGNED, &info);

  BYTE signature[16] = {0x5A};
  CERT_SIGNED_CONTENT_INFO signedInfo{};
  signedInfo.ToBeSigned = {static_cast<DWORD>(toBeSigned.size()), toBeSigned.data()};
  signedInfo.SignatureAlgorithm = info.SignatureAlgorithm;
  signedInfo.Signature = {sizeof signature, signature, 0};
  return Encode(X509_CERT, &signedInfo);
}

void ResetState() {
  RegDeleteTreeA(HKEY_CURRENT_USER, kProviderPath);
  RegDeleteTreeA(HKEY_CURRENT_USER, kOtherProviderPath);
  kf::UniqueCertStore store = OpenStore();
  while (PCCERT_CONTEXT cert = CertEnumCertificatesInStore(store.get(), nullptr)) {
    if (!CertDeleteCertificateFromStore(cert)) throw std::runtime_error("store does not empty");
  }
  CertControlStore(store.get(), 0, CERT_STORE_CTRL_COMMIT, nullptr);
}

std::vector<StoreEntry> ReadStore() {
  std::vector<StoreEntry> entries;
  kf::UniqueCertStore store = OpenStore();
  kf::UniqueCertContext cert;
  for (;;) {
    PCCERT_CONTEXT next = CertEnumCertificatesInStore(store.get(), cert.release());
    cert.reset(next);
    if (!cert) break;
    StoreEntry entry;
    entry.encoded.assign(cert.get()->pbCertEncoded,
                         cert.get()->pbCertEncoded + cert.get()->cbCertEncoded);
    DWORD size = 0;
    if (CertGetCertificateContextProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID, nullptr,
                                          &size)) {
      std::vector<BYTE> buffer(size);
      if (CertGetCertificateContextProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID,
                                            buffer.data(), &size)) {
        const auto* p = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
        entry.hasBinding = true;
        entry.container = p->pwszContainerName ? p->pwszContainerName : L"";
        entry.provider = p->pwszProvName ? p->pwszProvName : L"";
        entry.provType = p->dwProvType;
        entry.flags = p->dwFlags;
        entry.provParamCount = p->cProvParam;
        entry.provParamsNull = p->rgProvParam == nullptr;
        entry.keySpec = p->dwKeySpec;
      }
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

void AddToStore(const Bytes& cert, const wchar_t* container, const wchar_t* provider) {
  kf::UniqueCertStore store = OpenStore();
  kf::UniqueCertContext context(CertCreateCertificateContext(
      X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, cert.data(), static_cast<DWORD>(cert.size())));
  if (!context) throw std::runtime_error("test certificate does not decode");
  if (container != nullptr) {
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = const_cast<LPWSTR>(container);
    info.pwszProvName = const_cast<LPWSTR>(provider);
    info.dwProvType = PROV_RSA_FULL;
    info.dwKeySpec = AT_KEYEXCHANGE;
    if (!CertSetCertificateContextProperty(context.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info)) {
      throw std::runtime_error("binding not set");
    }
  }
  if (!CertAddCertificateContextToStore(store.get(), context.get(), CERT_STORE_ADD_ALWAYS,
                                        nullptr)) {
    throw std::runtime_error("not added");
  }
}

bool KeyExists(const char* path) {
  kf::UniqueRegKey key;
  return RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::vector<RecordedValue> ReadValues(HKEY key) {
  std::vector<RecordedValue> values;
  for (DWORD i = 0;; ++i) {
    char name[4096] = {};
    DWORD nameLength = sizeof name;
    BYTE data[4096] = {};
    DWORD dataLength = sizeof data;
    DWORD type = 0;
    if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, data, &dataLength) !=
        ERROR_SUCCESS) {
      break;
    }
    values.push_back({std::string(name, nameLength), type, Bytes(data, data + dataLength)});
  }
  return values;
}

Record ReadRecord(const char* path) {
  Record record;
  kf::UniqueRegKey parent;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, parent.put()) != ERROR_SUCCESS) {
    return record;
  }
  for (DWORD i = 0;; ++i) {
    char name[512] = {};
    DWORD nameLength = sizeof name;
    if (RegEnumKeyExA(parent.get(), i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    kf::UniqueRegKey device;
    if (RegOpenKeyExA(parent.get(), name, 0, KEY_READ, device.put()) != ERROR_SUCCESS) {
      throw std::runtime_error("device key does not open");
    }
    record[name] = ReadValues(device.get());
  }
  return record;
}

void CreateKey(const std::string& path) {
  kf::UniqueRegKey key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      key.put(), nullptr) != ERROR_SUCCESS) {
    throw std::runtime_error("key not created");
  }
}

void WriteValue(const std::string& path, const std::string& name, DWORD type, const Bytes& data) {
  kf::UniqueRegKey key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      key.put(), nullptr) != ERROR_SUCCESS ||
      RegSetValueExA(key.get(), name.c_str(), 0, type, data.data(),
                     static_cast<DWORD>(data.size())) != ERROR_SUCCESS) {
    throw std::runtime_error("value not written");
  }
}

std::wstring Wide(const std::string& ansi) {
  if (ansi.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, ansi.data(), static_cast<int>(ansi.size()),
                              nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, ansi.data(), static_cast<int>(ansi.size()),
                      wide.data(), n);
  return wide;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace regtest
