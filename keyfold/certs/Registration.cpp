#include "keyfold/certs/Registration.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "keyfold/framework/Handles.h"
#include "keyfold/res/resource.h"
#include "keyfold/token/TokenConnection.h"

namespace keyfold {
namespace {

using kf::UniqueCertContext;
using kf::UniqueCertStore;
using kf::UniqueRegKey;


constexpr char kProviderRoot[] = "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\";
constexpr DWORD kCertEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// Registry names are read back into buffers of this size first; a longer
// name grows the buffer instead of being cut or ending the enumeration.
constexpr DWORD kNameBufferSize = 512;
// Value names are at most 16383 characters, two bytes each in the ANSI
// code page at worst.
constexpr DWORD kNameBufferLimit = 2 * 16384;

// The provider name is a resource so that the binding, the comparison and
// the registry path can never disagree. Without it every operation stops:
// an empty name would turn the provider key path into the parent of all
// providers' keys, and clean-up would then delete other providers' records.
bool LoadProviderName(std::string& name) {
  std::vector<char> buffer(128);
  for (;;) {
    int n = LoadStringA(GetModuleHandleA(nullptr), IDS_KEY_PROVIDER_NAME, buffer.data(),
                        static_cast<int>(buffer.size()));
    if (n <= 0) return false;
    // A result that fills the buffer may have been cut: try a larger one.
    if (static_cast<std::size_t>(n) + 1 < buffer.size()) {
      name.assign(buffer.data(), static_cast<std::size_t>(n));
      return true;
    }
    if (buffer.size() >= 65536) return false;
    buffer.resize(buffer.size() * 2);
  }
}

// Registering and unregistering must produce the same UTF-16 form of a
// name, since unregistering finds a registration by comparing them; both
// go through here, and the whole name is converted.
bool ToWide(const char* text, std::wstring& wide) {
  wide.clear();
  std::size_t length = std::strlen(text);
  if (length == 0) return true;
  if (length > static_cast<std::size_t>(INT_MAX)) return false;
  int n = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, static_cast<int>(length), nullptr, 0);
  if (n <= 0) return false;
  wide.resize(static_cast<std::size_t>(n));
  return MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, static_cast<int>(length), wide.data(),
                             n) == n;
}

HCERTSTORE OpenPersonalStore() {
  return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
}

bool SameText(const wchar_t* stored, const std::wstring& wanted) {
  return stored != nullptr && wanted == stored;
}

// Next character boundary in the ANSI code page, so that a trail byte that
// happens to be 0x5C is not taken for a backslash.
const char* NextChar(const char* p) {
  if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0') return p + 2;
  return p + 1;
}

const char* LastBackslash(const char* text) {
  const char* last = nullptr;
  for (const char* p = text; *p != '\0'; p = NextChar(p)) {
    if (*p == '\\') last = p;
  }
  return last;
}

// A device key is one key directly below the provider key. An empty name
// would address the provider key itself, and a name with a backslash a key
// further down that clean-up never visits.
bool IsDeviceKeyName(const std::string& name) {
  return !name.empty() && LastBackslash(name.c_str()) == nullptr;
}

std::string ProviderKeyPath(const std::string& provider) {
  return kProviderRoot + provider;
}

std::string DeviceKeyPath(const std::string& provider, const std::string& deviceKeyName) {
  return ProviderKeyPath(provider) + "\\" + deviceKeyName;
}

// Grows a name buffer after ERROR_MORE_DATA; false once it cannot grow.
bool GrowNameBuffer(std::vector<char>& buffer) {
  if (buffer.size() >= kNameBufferLimit) return false;
  buffer.resize(std::min<std::size_t>(buffer.size() * 2, kNameBufferLimit));
  return true;
}

// Unregisters the name of every REG_SZ value of a device key. Values of
// other types were not written by us and are passed over.
void UnregisterRecorded(HKEY deviceKey) {
  std::vector<char> name(kNameBufferSize);
  DWORD index = 0;
  for (;;) {
    std::fill(name.begin(), name.end(), '\0');
    DWORD length = static_cast<DWORD>(name.size());
    DWORD type = 0;
    LONG rc = RegEnumValueA(deviceKey, index, name.data(), &length, nullptr, &type, nullptr,
                            nullptr);
    if (rc == ERROR_MORE_DATA) {
      if (GrowNameBuffer(name)) continue;
      ++index;  // a name beyond any registry limit: not ours
      continue;
    }
    if (rc != ERROR_SUCCESS) return;
    if (type == REG_SZ) UnregisterCertificate(name.data());
    ++index;
  }
}

// The first subkey of the provider key that is not in `skipped`.
bool NextDeviceKey(HKEY providerKey, const std::vector<std::string>& skipped, std::string& next) {
  std::vector<char> name(kNameBufferSize);
  DWORD index = 0;
  for (;;) {
    std::fill(name.begin(), name.end(), '\0');
    DWORD length = static_cast<DWORD>(name.size());
    LONG rc = RegEnumKeyExA(providerKey, index, name.data(), &length, nullptr, nullptr, nullptr,
                            nullptr);
    if (rc == ERROR_MORE_DATA) {
      if (GrowNameBuffer(name)) continue;
      ++index;
      continue;
    }
    if (rc != ERROR_SUCCESS) return false;
    if (std::find(skipped.begin(), skipped.end(), name.data()) == skipped.end()) {
      next.assign(name.data());
      return true;
    }
    ++index;
  }
}

// Length of the first DER element in the bytes, or 0 when its header is
// not one we can read or the element does not fit in them.
unsigned long FirstElementLength(const unsigned char* bytes, unsigned long length) {
  if (length < 2 || (bytes[0] & 0x1F) == 0x1F) return 0;
  unsigned long header = 2;
  unsigned long content = bytes[1];
  if (content & 0x80) {
    const unsigned long count = content & 0x7F;
    if (count == 0 || count > 4 || length < header + count) return 0;
    content = 0;
    for (unsigned long i = 0; i < count; ++i) content = (content << 8) | bytes[2 + i];
    header += count;
  }
  if (content > length - header) return 0;
  return header + content;
}

template <typename Body>
int Guarded(Body body) noexcept {
  try {
    return body();
  } catch (...) {  // only allocation throws here
    return kRegOutOfMemory;
  }
}

// What registering and unregistering both start from: the personal store
// and the binding's two names in the form the store compares. Both convert
// the container name the same way, so whatever was registered can be found.
struct Binding {
  UniqueCertStore store;
  std::wstring provider;
  std::wstring container;
};

int OpenBinding(const char* container, Binding& b) {
  std::string provider;
  if (!LoadProviderName(provider)) return kRegNoProviderName;
  b.store.reset(OpenPersonalStore());
  if (!b.store) return kRegStoreNotOpened;
  if (!ToWide(provider.c_str(), b.provider) || !ToWide(container, b.container)) {
    return kRegBadArgument;
  }
  return kRegOk;
}

}  // namespace

int RegisterCertificate(const char* container, const unsigned char* bytes, unsigned long length) {
  return Guarded([&]() -> int {
    if (container == nullptr || bytes == nullptr) return kRegBadArgument;
    Binding b;
    if (const int rc = OpenBinding(container, b); rc != kRegOk) return rc;
    CRYPT_KEY_PROV_INFO binding{};
    binding.pwszContainerName = b.container.data();
    binding.pwszProvName = b.provider.data();
    binding.dwProvType = PROV_RSA_FULL;
    binding.dwFlags = 0;
    binding.cProvParam = 0;
    binding.rgProvParam = nullptr;
    binding.dwKeySpec = AT_KEYEXCHANGE;

    // Certificates come from the token in zero-padded buffers. The store
    // keeps the bytes it is given, so the padding would become part of the
    // entry and of its hash: other programs would get a certificate with
    // trailing zeros, and one certificate registered from buffers of two
    // lengths would not count as identical. Only the certificate is handed on.
    unsigned long encodedLength = FirstElementLength(bytes, length);
    if (encodedLength == 0) encodedLength = length;
    UniqueCertContext cert(CertCreateCertificateContext(kCertEncoding, bytes, encodedLength));
    if (!cert) return kRegBadCertificate;
    if (!CertSetCertificateContextProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &binding)) {
      return kRegPropertyNotSet;
    }
    if (!CertAddCertificateContextToStore(b.store.get(), cert.get(),
                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
      return kRegAddFailed;
    }
    // Where the store is a cached copy of the registry (Wine's is), replacing
    // an identical certificate changes only the cache and is not written back
    // on close; a forced commit writes it. Where changes persist at once the
    // commit is ignored.
    CertControlStore(b.store.get(), CERT_STORE_CTRL_COMMIT_FORCE_FLAG, CERT_STORE_CTRL_COMMIT,
                     nullptr);
    return kRegOk;
  });
}

int UnregisterCertificate(const char* container) {
  return Guarded([&]() -> int {
    if (container == nullptr) return kRegBadArgument;
    Binding b;
    if (const int rc = OpenBinding(container, b); rc != kRegOk) return rc;

    UniqueCertContext cert;
    for (;;) {
      PCCERT_CONTEXT next = CertEnumCertificatesInStore(b.store.get(), cert.release());
      cert.reset(next);
      if (!cert) return kRegNotFound;

      DWORD size = 0;
      if (!CertGetCertificateContextProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID, nullptr,
                                             &size)) {
        std::fputs("The property length was not retrieved.\n", stdout);
        continue;
      }
      std::unique_ptr<BYTE[]> property(new (std::nothrow) BYTE[size]);
      if (!property) {
        std::fputs("Error in allocation of memory.\n", stdout);
        continue;
      }
      if (size < sizeof(CRYPT_KEY_PROV_INFO) ||
          !CertGetCertificateContextProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID,
                                             property.get(), &size)) {
        continue;
      }
      const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(property.get());
      if (SameText(info->pwszContainerName, b.container) &&
          SameText(info->pwszProvName, b.provider)) {
        // Deleting frees the context, success or not, and so ends the walk.
        if (!CertDeleteCertificateFromStore(cert.release())) return kRegCertNotDeleted;
        // Where the store keeps a cached copy (Wine's does, and may keep it
        // past our close), the deletion only reaches the registry on commit;
        // where changes persist at once, the commit is ignored.
        CertControlStore(b.store.get(), 0, CERT_STORE_CTRL_COMMIT, nullptr);
        return kRegOk;
      }
    }
  });
}

int RecordRegistration(const std::string& deviceKeyName, const char* container) {
  return Guarded([&]() -> int {
    if (container == nullptr) return kRegBadArgument;
    if (!IsDeviceKeyName(deviceKeyName)) return kRegBadDeviceKeyName;
    std::string provider;
    if (!LoadProviderName(provider)) return kRegNoProviderName;
    std::size_t length = std::strlen(container);
    if (length >= MAXDWORD) return kRegNameTooLong;

    UniqueRegKey key;
    char noClass[] = "";
    if (RegCreateKeyExA(HKEY_CURRENT_USER, DeviceKeyPath(provider, deviceKeyName).c_str(), 0,
                        noClass, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS) {
      return kRegKeyNotOpened;
    }
    if (RegSetValueExA(key.get(), container, 0, REG_SZ, reinterpret_cast<const BYTE*>(container),
                       static_cast<DWORD>(length + 1)) != ERROR_SUCCESS) {
      return kRegValueNotSet;
    }
    return kRegOk;
  });
}

int RemoveDeviceRegistrations(const std::string& deviceKeyName) {
  return Guarded([&]() -> int {
    if (!IsDeviceKeyName(deviceKeyName)) return kRegBadDeviceKeyName;
    std::string provider;
    if (!LoadProviderName(provider)) return kRegNoProviderName;
    const std::string path = DeviceKeyPath(provider, deviceKeyName);

    UniqueRegKey key;
    LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, key.put());
    if (rc == ERROR_FILE_NOT_FOUND) return kRegOk;  // nothing recorded for the device
    if (rc != ERROR_SUCCESS) return kRegKeyNotOpened;
    UnregisterRecorded(key.get());
    rc = RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
    key.reset();
    return rc == ERROR_SUCCESS ? kRegOk : kRegKeyNotDeleted;
  });
}

std::string DeviceKeyName(const char* devicePath) {
  if (devicePath == nullptr) return std::string();
  const char* last = LastBackslash(devicePath);
  return std::string(last != nullptr ? last + 1 : devicePath);
}

std::string ContainerName(const char* keyContainer, const char* serialText) {
  std::string name(keyContainer != nullptr ? keyContainer : "");
  name.push_back(static_cast<char>(kContainerNameSeparator));
  name.append(serialText != nullptr ? serialText : "");
  return name;
}

int MakeContainerName(const char* keyContainer, const char* serialText, char* out,
                      std::size_t outSize) {
  return Guarded([&]() -> int {
    if (out == nullptr) return kRegBadArgument;
    const std::string name = ContainerName(keyContainer, serialText);
    // Callers read the result as a C string, so the zero after it must
    // still be inside their buffer.
    if (name.size() >= outSize || name.size() > static_cast<std::size_t>(INT_MAX)) {
      return kRegNameTooLong;
    }
    std::memcpy(out, name.data(), name.size());
    return static_cast<int>(name.size());
  });
}

int RegisterTokenCertificate(int token, const char* serialText, const unsigned char* bytes,
                             int length, const char* keyContainer) {
  return Guarded([&]() -> int {
    const std::string name = ContainerName(keyContainer, serialText);

    // The certificate goes on in a zero-padded buffer of the token code's
    // size; a longer one is handed on whole.
    const std::size_t count = bytes != nullptr && length > 0 ? static_cast<std::size_t>(length) : 0;
    std::vector<unsigned char> certificate(std::max(count, kTokenCertificateSize), 0);
    if (count > 0) std::memcpy(certificate.data(), bytes, count);

    // A path that fills the buffer without its terminator was cut: its key
    // name would be another device's, so it counts as not obtained.
    char devicePath[256] = {};
    const TokenCommands* card = FullConnectionCommands(token);
    const bool havePath = card != nullptr && card->TK_GetDevicePath != nullptr &&
                          card->TK_GetDevicePath(token, devicePath, sizeof devicePath) == 0 &&
                          std::memchr(devicePath, '\0', sizeof devicePath) != nullptr;
    devicePath[sizeof devicePath - 1] = '\0';

    int result = havePath ? kRegOk : kRegNoDevicePath;
    if (havePath) result = RecordRegistration(DeviceKeyName(devicePath), name.c_str());

    UnregisterCertificate(name.c_str());
    const int registered = RegisterCertificate(name.c_str(), certificate.data(),
                                               static_cast<unsigned long>(certificate.size()));
    return result != kRegOk ? result : registered;
  });
}

int RemoveAllRegistrations() {
  return Guarded([&]() -> int {
    std::string provider;
    if (!LoadProviderName(provider)) return kRegNoProviderName;

    UniqueRegKey providerKey;
    LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, ProviderKeyPath(provider).c_str(), 0,
                            KEY_ALL_ACCESS, providerKey.put());
    if (rc == ERROR_FILE_NOT_FOUND) return kRegOk;
    if (rc != ERROR_SUCCESS) return kRegKeyNotOpened;

    // Keys that would not go are remembered and passed over; without that
    // the first of them would come back as the next key to remove forever.
    std::vector<std::string> undeletable;
    std::string name;
    while (NextDeviceKey(providerKey.get(), undeletable, name)) {
      UniqueRegKey deviceKey;
      if (RegOpenKeyExA(providerKey.get(), name.c_str(), 0, KEY_ALL_ACCESS, deviceKey.put()) !=
          ERROR_SUCCESS) {
        return kRegKeyNotOpened;
      }
      UnregisterRecorded(deviceKey.get());
      deviceKey.reset();
      if (RegDeleteKeyA(providerKey.get(), name.c_str()) != ERROR_SUCCESS) {
        undeletable.push_back(name);
      }
    }
    return undeletable.empty() ? kRegOk : kRegKeyNotDeleted;
  });
}

}  // namespace keyfold
