// Registration of token certificates in the current user's personal store
// ("MY"), bound to the token's key container and our key provider, and the
// registry record under the provider's defaults that lets us undo it: one
// key per token device, one REG_SZ value per registration container name.
//
// Every operation loads the key provider name (string resource 102 of the
// program module) and opens its store or key afresh; nothing is kept between
// calls. The results are for tests and for RegisterTokenCertificate; the
// other callers ignore them.
#pragma once

#include <cstddef>
#include <string>

namespace keyfold {

// Results. 0 is success; every failure is negative.
enum RegistrationResult : int {
  kRegOk = 0,
  kRegNoProviderName = -1,   // string resource 102 could not be loaded
  kRegStoreNotOpened = -2,   // the personal store could not be opened
  kRegBadCertificate = -3,   // the bytes do not decode as a certificate
  kRegPropertyNotSet = -4,   // the key-provider binding could not be set
  kRegAddFailed = -5,        // the store refused the certificate
  kRegKeyNotOpened = -6,     // a registry key could not be created or opened
  kRegValueNotSet = -7,      // the record's value could not be written
  kRegBadDeviceKeyName = -8, // empty, or not a single key name
  kRegNameTooLong = -9,      // the name does not fit the caller's buffer
  kRegNotFound = -10,        // nothing registered under that name
  kRegKeyNotDeleted = -11,   // a device key could not be deleted
  kRegNoDevicePath = -12,    // the token library gave no device path
  kRegOutOfMemory = -13,
  kRegBadArgument = -14,     // a null pointer, or a name that does not convert
  kRegCertNotDeleted = -15,  // the matching certificate could not be deleted
};

// The buffer that callers hand to MakeContainerName.
constexpr std::size_t kContainerNameBufferSize = 512;
// The separator between key container name and serial text.
constexpr unsigned char kContainerNameSeparator = 0xFF;

// Adds the certificate to the personal store with the binding
// {container, key provider, PROV_RSA_FULL, AT_KEYEXCHANGE}; an identical
// certificate already there is replaced together with its properties.
int RegisterCertificate(const char* container, const unsigned char* bytes, unsigned long length);

// Deletes the first certificate in store order whose binding names exactly
// this container and our key provider. kRegNotFound when there is none.
int UnregisterCertificate(const char* container);

// Writes the value `container` (REG_SZ, data = the name) under the device's
// key, creating the provider and device keys when needed.
int RecordRegistration(const std::string& deviceKeyName, const char* container);

// Unregisters every REG_SZ value name recorded under the device's key, then
// deletes the key. The provider key stays. kRegOk when there is no such key.
int RemoveDeviceRegistrations(const std::string& deviceKeyName);

// The part of a device path after its last backslash, or the whole path.
std::string DeviceKeyName(const char* devicePath);

// Writes key container name, 0xFF and serial text into `out` (which the
// caller has zeroed) with no terminator and returns the byte count. A name
// that would not leave room for the zero after it writes nothing and
// returns kRegNameTooLong.
int MakeContainerName(const char* keyContainer, const char* serialText, char* out,
                      std::size_t outSize = kContainerNameBufferSize);
// The same name as a string, whatever its length.
std::string ContainerName(const char* keyContainer, const char* serialText);

// The certificate buffer size of the token code.
constexpr std::size_t kTokenCertificateSize = 4096;

// Registers a certificate read from the token open under `token` (a full
// connection): records the registration container name under the token's
// device key when the token library gives the device path, then unregisters
// and registers the name with the certificate. The store step runs even
// without a device path. 0 only when the path was obtained, the record was
// written and the certificate is in the store with its binding; otherwise
// the first failure (kRegNoDevicePath when the path was not obtained).
int RegisterTokenCertificate(int token, const char* serialText, const unsigned char* bytes,
                             int length, const char* keyContainer);

// Removes what every device key records and the device keys themselves. A
// device key that cannot be deleted is passed over (its registrations are
// still removed); the clean-up goes on with the others.
int RemoveAllRegistrations();

}  // namespace keyfold
