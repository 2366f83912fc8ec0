// Store registration and its registry record against the real personal
// store and current-user registry of the test prefix.
#include "keyfold/certs/Registration.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "certs/registration_fixture.h"
#include "keyfold/framework/Handles.h"

using namespace keyfold;
using namespace regtest;
using kf::UniqueRegKey;

namespace {

// A registration container name as the token code forms it.
const std::string kName1 = ContainerName("容器一", "01 02 03 04 ");
const std::string kName2 = ContainerName("k2", "01 02 03 04 ");
const std::string kName3 = ContainerName("k3", "A0 B1 C2 D3 ");
const std::string kEmptyKeyContainer = ContainerName("", "0A 0B 0C 0D ");

std::string DevicePath(const std::string& device) { return std::string(kProviderPath) + "\\" + device; }

class Registration : public ::testing::Test {
 protected:
  void SetUp() override { ResetState(); }
  void TearDown() override { ResetState(); }
};

int CountBoundTo(const std::vector<StoreEntry>& store, const std::string& name) {
  return static_cast<int>(std::count_if(store.begin(), store.end(), [&](const StoreEntry& e) {
    return e.hasBinding && e.container == Wide(name) && e.provider == Wide(kProviderName);
  }));
}

TEST(RegistrationNames, ProviderNameIsStringResource102) {
  char text[128] = {};
  ASSERT_GT(LoadStringA(GetModuleHandleA(nullptr), 102, text, sizeof text), 0);
  EXPECT_STREQ(text, kProviderName);
}

TEST(RegistrationNames, DeviceKeyNameIsWhatFollowsTheLastBackslash) {
  struct Case {
    const char* path;
    const char* expected;
  } cases[] = {
      {"\\\\?\\usb#vid_096e&pid_0703#6&1a2b#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
       "usb#vid_096e&pid_0703#6&1a2b#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"},
      {"a\\b\\c", "c"},
      {"tokensim#0", "tokensim#0"},  // no backslash: the whole path
      {"ends\\", ""},
      {"", ""},
      // 0x81 0x5C is one GBK character, not a backslash.
      {"x\\y\x81\x5Cz", "y\x81\x5Cz"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(DeviceKeyName(c.path), c.expected);
  }
}

TEST(RegistrationNames, MakeContainerNameWritesNameSeparatorSerialWithoutTerminator) {
  char out[kContainerNameBufferSize];
  std::memset(out, 0x5A, sizeof out);  // shows any byte written past the name
  ASSERT_EQ(MakeContainerName("ab", "12 34 56 78 ", out), 15);
  EXPECT_EQ(std::string(out, 15), std::string("ab\xFF" "12 34 56 78 "));
  EXPECT_EQ(out[15], 0x5A);

  std::memset(out, 0, sizeof out);
  ASSERT_EQ(MakeContainerName("", "12 34 56 78 ", out), 13);
  EXPECT_EQ(static_cast<unsigned char>(out[0]), 0xFF);
  EXPECT_STREQ(out + 1, "12 34 56 78 ");
}

TEST(RegistrationNames, MakeContainerNameNeverCutsAName) {
  char out[kContainerNameBufferSize] = {};
  const std::string fits(kContainerNameBufferSize - 2 - 12, 'k');  // 511 bytes with 0xFF, serial
  EXPECT_EQ(MakeContainerName(fits.c_str(), "12 34 56 78 ", out), 511);
  EXPECT_EQ(out[511], '\0');

  char fresh[kContainerNameBufferSize] = {};
  const std::string tooLong = fits + "k";
  EXPECT_EQ(MakeContainerName(tooLong.c_str(), "12 34 56 78 ", fresh), kRegNameTooLong);
  EXPECT_EQ(std::count(fresh, fresh + sizeof fresh, '\0'), static_cast<long>(sizeof fresh));
  EXPECT_EQ(ContainerName(tooLong.c_str(), "12 34 56 78 ").size(), 512u);
}

TEST_F(Registration, RepeatedRegistrationLeavesOneEntryWithTheBinding) {
  const Bytes cert = MakeCertificate(1);
  for (const std::string& name : {kName1, kEmptyKeyContainer}) {
    SCOPED_TRACE(name);
    ResetState();
    ASSERT_EQ(RegisterCertificate(name.c_str(), cert.data(), cert.size()), kRegOk);
    ASSERT_EQ(RegisterCertificate(name.c_str(), cert.data(), cert.size()), kRegOk);
    const std::vector<StoreEntry> store = ReadStore();
    ASSERT_EQ(store.size(), 1u);
    const StoreEntry& e = store[0];
    EXPECT_EQ(e.encoded, cert);
    ASSERT_TRUE(e.hasBinding);
    EXPECT_EQ(e.container, Wide(name));
    EXPECT_EQ(e.container.size(), Wide(name).size());
    EXPECT_EQ(e.provider, L"Norvane Cryptographic Service Provider Pro v1.0");
    EXPECT_EQ(e.provType, static_cast<DWORD>(PROV_RSA_FULL));
    EXPECT_EQ(e.flags, 0u);
    EXPECT_EQ(e.provParamCount, 0u);
    EXPECT_TRUE(e.provParamsNull);
    EXPECT_EQ(e.keySpec, static_cast<DWORD>(AT_KEYEXCHANGE));
  }
}

TEST_F(Registration, RegisteringUnderAnotherNameRebindsTheSameCertificate) {
  const Bytes cert = MakeCertificate(1);
  ASSERT_EQ(RegisterCertificate(kName1.c_str(), cert.data(), cert.size()), kRegOk);
  ASSERT_EQ(RegisterCertificate(kName2.c_str(), cert.data(), cert.size()), kRegOk);
  const std::vector<StoreEntry> store = ReadStore();
  ASSERT_EQ(store.size(), 1u);
  EXPECT_EQ(store[0].container, Wide(kName2));
}

TEST_F(Registration, ZeroPaddedCertificateBufferRegistersTheCertificateAlone) {
  // Token buffers are 4096 bytes, zero-padded; arrival hands on the
  // certificate's own length instead. Both must give the same entry.
  const Bytes cert = MakeCertificate(7);
  Bytes padded = cert;
  padded.resize(4096, 0);
  ASSERT_EQ(RegisterCertificate(kName1.c_str(), padded.data(), padded.size()), kRegOk);
  std::vector<StoreEntry> store = ReadStore();
  ASSERT_EQ(store.size(), 1u);
  EXPECT_EQ(store[0].encoded, cert);

  ASSERT_EQ(RegisterCertificate(kName2.c_str(), cert.data(), cert.size()), kRegOk);
  store = ReadStore();
  ASSERT_EQ(store.size(), 1u);
  EXPECT_EQ(store[0].container, Wide(kName2));
}

TEST_F(Registration, BytesThatDoNotDecodeAddNothing) {
  const Bytes cert = MakeCertificate(1);
  const Bytes garbage(64, 0x30);
  const Bytes zeros(4096, 0);
  EXPECT_EQ(RegisterCertificate(kName1.c_str(), garbage.data(), garbage.size()), kRegBadCertificate);
  EXPECT_EQ(RegisterCertificate(kName1.c_str(), zeros.data(), zeros.size()), kRegBadCertificate);
  EXPECT_EQ(RegisterCertificate(kName1.c_str(), cert.data(), cert.size() - 1), kRegBadCertificate);
  EXPECT_TRUE(ReadStore().empty());
}

TEST_F(Registration, UnregisterRemovesOnlyTheFirstEntryWithExactlyOurBinding) {
  // Entries that must survive: no binding, another provider, a provider or
  // a container name that differs only in letter case.
  const Bytes unbound = MakeCertificate(10);
  const Bytes otherProvider = MakeCertificate(11);
  const Bytes otherCase = MakeCertificate(12);
  const Bytes providerCase = MakeCertificate(15);
  AddToStore(unbound);
  AddToStore(otherProvider, Wide(kName2).c_str(), L"Another Provider");
  AddToStore(otherCase, Wide(ContainerName("K2", "01 02 03 04 ")).c_str(),
             Wide(kProviderName).c_str());
  AddToStore(providerCase, Wide(kName2).c_str(),
             L"norvane cryptographic service provider pro v1.0");
  // Two different certificates bound to the same container.
  const Bytes first = MakeCertificate(13);
  const Bytes second = MakeCertificate(14);
  ASSERT_EQ(RegisterCertificate(kName2.c_str(), first.data(), first.size()), kRegOk);
  ASSERT_EQ(RegisterCertificate(kName2.c_str(), second.data(), second.size()), kRegOk);

  std::vector<StoreEntry> before = ReadStore();
  ASSERT_EQ(before.size(), 6u);
  ASSERT_EQ(CountBoundTo(before, kName2), 2);
  auto firstMatch = std::find_if(before.begin(), before.end(), [](const StoreEntry& e) {
    return e.hasBinding && e.container == Wide(kName2) && e.provider == Wide(kProviderName);
  });

  EXPECT_EQ(UnregisterCertificate(kName2.c_str()), kRegOk);
  std::vector<StoreEntry> after = ReadStore();
  ASSERT_EQ(after.size(), 5u);
  EXPECT_EQ(CountBoundTo(after, kName2), 1);
  for (const StoreEntry& e : after) EXPECT_NE(e.encoded, firstMatch->encoded);

  EXPECT_EQ(UnregisterCertificate(kName2.c_str()), kRegOk);
  EXPECT_EQ(UnregisterCertificate(kName2.c_str()), kRegNotFound);
  after = ReadStore();
  ASSERT_EQ(after.size(), 4u);
  std::vector<Bytes> left;
  for (const StoreEntry& e : after) left.push_back(e.encoded);
  std::sort(left.begin(), left.end());
  std::vector<Bytes> expected = {unbound, otherProvider, otherCase, providerCase};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(left, expected);
}

// Other programs' certificates usually carry no key-provider binding; each
// one the walk meets is reported on standard output, ours are not.
TEST_F(Registration, EveryCertificateWithoutBindingWalkedPastIsReported) {
  const Bytes cert = MakeCertificate(1);
  AddToStore(MakeCertificate(10));
  AddToStore(MakeCertificate(11));
  ASSERT_EQ(RegisterCertificate(kName1.c_str(), cert.data(), cert.size()), kRegOk);

  const std::string line = "The property length was not retrieved.\n";
  const auto unregisterOutput = [](const std::string& name, int expected) {
    ::testing::internal::CaptureStdout();
    const int result = UnregisterCertificate(name.c_str());
    std::string out = ::testing::internal::GetCapturedStdout();
    out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
    EXPECT_EQ(result, expected);
    return out;
  };
  // Not registered: the whole store is walked.
  EXPECT_EQ(unregisterOutput(kName3, kRegNotFound), line + line);
  // Registered: the walk ends at our entry, past the others before it.
  const std::vector<StoreEntry> store = ReadStore();
  ASSERT_EQ(store.size(), 3u);
  std::string before;
  for (std::size_t i = 0; i < store.size() && !store[i].hasBinding; ++i) before += line;
  EXPECT_EQ(unregisterOutput(kName1, kRegOk), before);
  EXPECT_EQ(ReadStore().size(), 2u);
}

TEST_F(Registration, UnregisteringANameNotRegisteredChangesNothing) {
  const Bytes cert = MakeCertificate(1);
  ASSERT_EQ(RegisterCertificate(kName1.c_str(), cert.data(), cert.size()), kRegOk);
  EXPECT_EQ(UnregisterCertificate(kName3.c_str()), kRegNotFound);
  EXPECT_EQ(UnregisterCertificate(kName1.substr(0, kName1.size() - 1).c_str()), kRegNotFound);
  ASSERT_EQ(ReadStore().size(), 1u);
}

TEST_F(Registration, NamesOfAnyLengthRegisterAndUnregisterWhole) {
  // Lengths on both sides of 127 and 255 characters, where a conversion into
  // a fixed buffer would cut the name.
  const Bytes cert = MakeCertificate(1);
  for (std::size_t keyLength : {114u, 115u, 200u, 243u, 244u, 300u, 700u}) {
    const std::string name = ContainerName(std::string(keyLength, 'n').c_str(), "01 02 03 04 ");
    SCOPED_TRACE(name.size());
    ASSERT_EQ(RegisterCertificate(name.c_str(), cert.data(), cert.size()), kRegOk);
    std::vector<StoreEntry> store = ReadStore();
    ASSERT_EQ(store.size(), 1u);
    EXPECT_EQ(store[0].container, Wide(name));
    // A cut name must not match.
    EXPECT_EQ(UnregisterCertificate(name.substr(0, std::min<std::size_t>(127, name.size() - 1)).c_str()),
              kRegNotFound);
    EXPECT_EQ(UnregisterCertificate(name.c_str()), kRegOk);
    EXPECT_TRUE(ReadStore().empty());
  }
}

TEST_F(Registration, RecordLayoutIsOneDeviceKeyWithOneStringValuePerName) {
  ASSERT_EQ(RecordRegistration("usb#vid_1#a", kName1.c_str()), kRegOk);
  ASSERT_EQ(RecordRegistration("usb#vid_1#a", kEmptyKeyContainer.c_str()), kRegOk);
  ASSERT_EQ(RecordRegistration("usb#vid_1#a", kName1.c_str()), kRegOk);  // overwritten, not added
  // The same device reaches us in other letter cases.
  ASSERT_EQ(RecordRegistration("USB#VID_1#A", kName2.c_str()), kRegOk);
  ASSERT_EQ(RecordRegistration("hid#2", kName3.c_str()), kRegOk);

  Record record = ReadRecord();
  ASSERT_EQ(record.size(), 2u);
  ASSERT_EQ(record.count("usb#vid_1#a"), 1u);
  ASSERT_EQ(record.count("hid#2"), 1u);

  std::vector<RecordedValue> values = record["usb#vid_1#a"];
  std::sort(values.begin(), values.end(),
            [](const RecordedValue& a, const RecordedValue& b) { return a.name < b.name; });
  std::vector<std::string> names = {kName1, kName2, kEmptyKeyContainer};
  std::sort(names.begin(), names.end());
  ASSERT_EQ(values.size(), names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(values[i].name, names[i]);
    EXPECT_EQ(values[i].type, static_cast<DWORD>(REG_SZ));
    Bytes data(names[i].begin(), names[i].end());
    data.push_back(0);
    EXPECT_EQ(values[i].data, data);
  }
  EXPECT_EQ(static_cast<unsigned char>(kEmptyKeyContainer[0]), 0xFF);

  // The provider key holds device keys only.
  UniqueRegKey provider;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kProviderPath, 0, KEY_READ, provider.put()),
            ERROR_SUCCESS);
  EXPECT_TRUE(ReadValues(provider.get()).empty());
}

TEST_F(Registration, RecordRefusesNamesThatAreNotOneDeviceKey) {
  // An empty name would write into the provider key itself, one with a
  // backslash below a device key, where clean-up never looks.
  for (const char* device : {"", "a\\b"}) {
    SCOPED_TRACE(device);
    EXPECT_EQ(RecordRegistration(device, kName1.c_str()), kRegBadDeviceKeyName);
    EXPECT_EQ(RemoveDeviceRegistrations(device), kRegBadDeviceKeyName);
  }
  EXPECT_FALSE(KeyExists(kProviderPath));

  ASSERT_EQ(RecordRegistration("dev", kName1.c_str()), kRegOk);
  ASSERT_EQ(RemoveDeviceRegistrations("dev"), kRegOk);
  EXPECT_EQ(RemoveDeviceRegistrations(""), kRegBadDeviceKeyName);
  EXPECT_TRUE(KeyExists(kProviderPath));
}

// A device key with two recorded names and values of other types, each
// named by a registered certificate, beside another device and another
// provider.
struct DeviceScene {
  Bytes c1 = MakeCertificate(1), c2 = MakeCertificate(2), c3 = MakeCertificate(3),
        c5 = MakeCertificate(5);
  const std::string unrecorded = ContainerName("loose", "0A 0B 0C 0D ");
  // Values that are not REG_SZ, though their names and data look like ours.
  struct OtherType {
    std::string name;
    DWORD type;
    Bytes cert;
  };
  const std::vector<OtherType> otherTypes = {
      {ContainerName("bin", "0A 0B 0C 0D "), REG_BINARY, MakeCertificate(4)},
      {ContainerName("dword", "0A 0B 0C 0D "), REG_DWORD, MakeCertificate(6)},
      {ContainerName("expand", "0A 0B 0C 0D "), REG_EXPAND_SZ, MakeCertificate(7)},
      {ContainerName("multi", "0A 0B 0C 0D "), REG_MULTI_SZ, MakeCertificate(8)},
  };

  DeviceScene() {
    Reg(kName1, c1, "usb#tok#1");
    Reg(kName2, c2, "usb#tok#1");
    Reg(kName3, c3, "usb#tok#2");
    Reg(unrecorded, c5, nullptr);
    for (const OtherType& v : otherTypes) {
      Reg(v.name, v.cert, nullptr);
      Bytes data(v.name.begin(), v.name.end());
      data.push_back(0);
      if (v.type == REG_MULTI_SZ) data.push_back(0);
      if (v.type == REG_DWORD) data = {1, 0, 0, 0};
      WriteValue(DevicePath("usb#tok#1"), v.name, v.type, data);
    }
    Bytes sz(kName1.begin(), kName1.end());
    sz.push_back(0);
    WriteValue(std::string(kOtherProviderPath) + "\\usb#tok#1", kName1, REG_SZ, sz);
  }
  void Reg(const std::string& name, const Bytes& cert, const char* device) {
    EXPECT_EQ(RegisterCertificate(name.c_str(), cert.data(), cert.size()), kRegOk);
    if (device != nullptr) {
      EXPECT_EQ(RecordRegistration(device, name.c_str()), kRegOk);
    }
  }
  // Names bound in the store that no clean-up may take away, and more.
  std::vector<std::wstring> Kept(std::vector<std::string> more = {}) const {
    more.push_back(unrecorded);
    for (const OtherType& v : otherTypes) more.push_back(v.name);
    std::vector<std::wstring> names;
    for (const std::string& n : more) names.push_back(Wide(n));
    std::sort(names.begin(), names.end());
    return names;
  }
  static std::vector<std::wstring> BoundNames() {
    std::vector<std::wstring> names;
    for (const StoreEntry& e : ReadStore()) names.push_back(e.container);
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(Registration, RemovingADeviceUndoesItsStringValuesAndDeletesItsKey) {
  DeviceScene scene;
  const Record otherProviderBefore = ReadRecord(kOtherProviderPath);

  // Removal looks the key up in the case the notification delivers.
  EXPECT_EQ(RemoveDeviceRegistrations("USB#TOK#1"), kRegOk);

  EXPECT_EQ(DeviceScene::BoundNames(), scene.Kept({kName3}));
  Record record = ReadRecord();
  ASSERT_EQ(record.size(), 1u);
  EXPECT_EQ(record.count("usb#tok#2"), 1u);
  EXPECT_EQ(ReadRecord(kOtherProviderPath).size(), otherProviderBefore.size());
  EXPECT_EQ(ReadRecord(kOtherProviderPath).begin()->second.size(), 1u);

  // Again: the key is gone, nothing more changes.
  EXPECT_EQ(RemoveDeviceRegistrations("usb#tok#1"), kRegOk);
  EXPECT_EQ(DeviceScene::BoundNames(), scene.Kept({kName3}));

  EXPECT_EQ(RemoveDeviceRegistrations("usb#tok#2"), kRegOk);
  EXPECT_EQ(DeviceScene::BoundNames(), scene.Kept());
  EXPECT_TRUE(ReadRecord().empty());
  EXPECT_TRUE(KeyExists(kProviderPath));  // the empty provider key stays
}

TEST_F(Registration, RemoveAllUndoesEveryRecordedNameAndKeepsTheEmptyProviderKey) {
  DeviceScene scene;
  EXPECT_EQ(RemoveAllRegistrations(), kRegOk);
  EXPECT_EQ(DeviceScene::BoundNames(), scene.Kept());
  EXPECT_TRUE(KeyExists(kProviderPath));
  EXPECT_TRUE(ReadRecord().empty());
  EXPECT_EQ(ReadRecord(kOtherProviderPath).size(), 1u);

  EXPECT_EQ(RemoveAllRegistrations(), kRegOk);  // empty provider key: stays
  EXPECT_TRUE(KeyExists(kProviderPath));
  EXPECT_EQ(DeviceScene::BoundNames(), scene.Kept());
}

TEST_F(Registration, WithoutProviderKeyCleanUpChangesNothing) {
  DeviceScene scene;
  RegDeleteTreeA(HKEY_CURRENT_USER, kProviderPath);
  const std::size_t entries = ReadStore().size();
  EXPECT_EQ(RemoveAllRegistrations(), kRegOk);
  EXPECT_EQ(RemoveDeviceRegistrations("usb#tok#1"), kRegOk);
  EXPECT_FALSE(KeyExists(kProviderPath));  // and it is not created either
  EXPECT_EQ(ReadStore().size(), entries);
  EXPECT_EQ(ReadRecord(kOtherProviderPath).size(), 1u);
}

TEST_F(Registration, RecordedNamesLongerThan511BytesAreStillUndone) {
  const Bytes c1 = MakeCertificate(1), c2 = MakeCertificate(2), c3 = MakeCertificate(3);
  const std::string longName = ContainerName(std::string(600, 'L').c_str(), "01 02 03 04 ");
  for (const auto& [name, cert] : {std::pair{kName1, c1}, std::pair{longName, c2},
                                   std::pair{kName3, c3}}) {
    ASSERT_EQ(RegisterCertificate(name.c_str(), cert.data(), cert.size()), kRegOk);
    ASSERT_EQ(RecordRegistration("dev#long", name.c_str()), kRegOk);
    ASSERT_EQ(RecordRegistration("dev#long2", name.c_str()), kRegOk);
  }
  EXPECT_EQ(RemoveDeviceRegistrations("dev#long"), kRegOk);
  EXPECT_TRUE(ReadStore().empty());

  for (const auto& [name, cert] : {std::pair{kName1, c1}, std::pair{longName, c2},
                                   std::pair{kName3, c3}}) {
    ASSERT_EQ(RegisterCertificate(name.c_str(), cert.data(), cert.size()), kRegOk);
  }
  EXPECT_EQ(RemoveAllRegistrations(), kRegOk);
  EXPECT_TRUE(ReadStore().empty());
  EXPECT_TRUE(ReadRecord().empty());
}

TEST_F(Registration, AnUndeletableDeviceKeyIsPassedOverAndTheOthersGo) {
  // A key with a subkey of its own cannot be deleted without its subkeys.
  const Bytes c1 = MakeCertificate(1), c2 = MakeCertificate(2), c3 = MakeCertificate(3);
  const struct {
    const char* device;
    const std::string& name;
    const Bytes& cert;
  } devices[] = {{"a#first", kName1, c1}, {"b#stuck", kName2, c2}, {"c#last", kName3, c3}};
  for (const auto& d : devices) {
    ASSERT_EQ(RegisterCertificate(d.name.c_str(), d.cert.data(), d.cert.size()), kRegOk);
    ASSERT_EQ(RecordRegistration(d.device, d.name.c_str()), kRegOk);
  }
  CreateKey(DevicePath("b#stuck") + "\\child");

  EXPECT_EQ(RemoveAllRegistrations(), kRegKeyNotDeleted);
  EXPECT_TRUE(ReadStore().empty());  // the stuck key's names are undone too
  Record record = ReadRecord();
  ASSERT_EQ(record.size(), 1u);
  EXPECT_EQ(record.count("b#stuck"), 1u);

  // Once more with only the stuck key left: it ends at once as well.
  EXPECT_EQ(RemoveAllRegistrations(), kRegKeyNotDeleted);
  EXPECT_EQ(RemoveDeviceRegistrations("b#stuck"), kRegKeyNotDeleted);
  EXPECT_EQ(ReadRecord().size(), 1u);
}

}  // namespace
