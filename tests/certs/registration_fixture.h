// What the registration tests need around the real store and registry of
// the test prefix: test certificates, a clean state, and the store and the
// registry record read back with the plain platform APIs.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace regtest {

using Bytes = std::vector<unsigned char>;

constexpr char kProviderName[] = "Norvane Cryptographic Service Provider Pro v1.0";
constexpr char kProvidersPath[] = "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider";
constexpr char kProviderPath[] =
    "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\"
    "Norvane Cryptographic Service Provider Pro v1.0";
// Another provider's key beside ours, which nothing here may touch.
constexpr char kOtherProviderName[] = "Other Test Provider";
constexpr char kOtherProviderPath[] =
    "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\Other Test Provider";

// A self-issued certificate, DER, built with the platform's encoder; the
// serial number and the common name tell certificates apart.
Bytes MakeCertificate(unsigned serial, const std::string& commonName = "Keyfold test");

// Deletes every certificate of the personal store and the provider keys the
// tests write. The store belongs to the test prefix.
void ResetState();

struct StoreEntry {
  Bytes encoded;
  bool hasBinding = false;
  std::wstring container;
  std::wstring provider;
  DWORD provType = 0;
  DWORD flags = 0;
  DWORD provParamCount = 0;
  bool provParamsNull = true;
  DWORD keySpec = 0;
};
// The personal store in its own order.
std::vector<StoreEntry> ReadStore();
// Adds a certificate with or without a binding, bypassing the code under test.
void AddToStore(const Bytes& cert, const wchar_t* container = nullptr,
                const wchar_t* provider = nullptr);

struct RecordedValue {
  std::string name;
  DWORD type = 0;
  Bytes data;
};
// Device key name (as the registry spells it) -> its values.
using Record = std::map<std::string, std::vector<RecordedValue>>;
bool KeyExists(const char* path);
// Subkeys and their values below a key; empty when the key is missing.
Record ReadRecord(const char* path = kProviderPath);
// Values directly in a key.
std::vector<RecordedValue> ReadValues(HKEY key);

// Writes a value of any type under HKCU\path, creating the key.
void WriteValue(const std::string& path, const std::string& name, DWORD type, const Bytes& data);
void CreateKey(const std::string& path);

// The UTF-16 form the binding must hold for an ANSI name.
std::wstring Wide(const std::string& ansi);
std::string Lower(std::string text);

}  // namespace regtest
