// Registration of a token's certificate over a real connection to an
// emulated token: the device path comes from the token library.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "certs/registration_fixture.h"
#include "keyfold/certs/Registration.h"
#include "keyfold/token/TokenConnection.h"
#include "tokensim/Control.h"

using namespace keyfold;
using namespace regtest;

namespace {

constexpr char kSerialText[] = "0A BC 00 FF ";

class TokenRegistration : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    tokensim::SetBayFolder(std::string(temp) + "kf_registration_bay_" +
                           std::to_string(GetCurrentProcessId()));
  }

  void SetUp() override {
    ResetState();
    ASSERT_EQ(tokensim::ResetBay(), tokensim::kOk);
    ASSERT_EQ(tokensim::EnableTrace(true), tokensim::kOk);
    settings_.serial = {0x0A, 0xBC, 0x00, 0xFF, 0x20, 0x26};
    settings_.pin = "1234";
    std::string error;
    ASSERT_EQ(tokensim::Plug(settings_, &error), tokensim::kOk) << error;
  }
  void TearDown() override {
    tokensim::ResetBay();
    ResetState();
  }

  // The device key the registration must land under: the interface path
  // without its "\\?\" prefix.
  std::string DeviceKey() const {
    const std::string path = settings_.DevicePath();
    EXPECT_EQ(path.substr(0, 4), "\\\\?\\");
    return path.substr(4);
  }

  void FailDevicePath(int result) {
    tokensim::Fault fault;
    fault.function = "TK_GetDevicePath";
    fault.result = result;
    ASSERT_EQ(tokensim::SetFault(settings_.SerialName(), fault), tokensim::kOk);
  }

  // RegisterTokenCertificate inside a full connection, as the token code
  // calls it.
  int Register(const Bytes& cert, const char* keyContainer, int length = -1) {
    ScopedTokenConnection token = ScopedTokenConnection::OpenByPath(settings_.DevicePath().c_str());
    EXPECT_TRUE(token.is_open());
    return RegisterTokenCertificate(token.handle(), kSerialText, cert.data(),
                                    length < 0 ? static_cast<int>(cert.size()) : length,
                                    keyContainer);
  }

  static int DevicePathCalls() {
    std::vector<tokensim::TraceRecord> trace;
    EXPECT_EQ(tokensim::ReadTrace(trace), tokensim::kOk);
    return static_cast<int>(std::count_if(trace.begin(), trace.end(), [](const auto& r) {
      return r.function == "TK_GetDevicePath" && r.Arg("size") == "256";
    }));
  }

  tokensim::TokenSettings settings_;
};

TEST_F(TokenRegistration, RecordsUnderTheDeviceKeyAndRegistersWithTheBinding) {
  const Bytes cert = MakeCertificate(21);
  for (const char* keyContainer : {"容器", ""}) {
    SCOPED_TRACE(keyContainer);
    const std::string name = ContainerName(keyContainer, kSerialText);
    EXPECT_EQ(Register(cert, keyContainer), kRegOk);

    Record record = ReadRecord();
    ASSERT_EQ(record.size(), 1u);
    ASSERT_EQ(Lower(record.begin()->first), Lower(DeviceKey()));
    const std::vector<RecordedValue>& values = record.begin()->second;
    EXPECT_TRUE(std::any_of(values.begin(), values.end(),
                            [&](const RecordedValue& v) { return v.name == name; }));

    std::vector<StoreEntry> store = ReadStore();
    ASSERT_EQ(store.size(), 1u);
    EXPECT_EQ(store[0].encoded, cert);  // without the buffer's zero padding
    EXPECT_EQ(store[0].container, Wide(name));
    EXPECT_EQ(store[0].provider, Wide(kProviderName));
  }
  EXPECT_EQ(DevicePathCalls(), 2);
}

TEST_F(TokenRegistration, WithoutDevicePathNothingIsRecordedButTheCertificateIsReregistered) {
  const std::string name = ContainerName("k", kSerialText);
  // An older certificate under the same name must give way.
  const Bytes old = MakeCertificate(30);
  ASSERT_EQ(RegisterCertificate(name.c_str(), old.data(), old.size()), kRegOk);

  FailDevicePath(-1);
  const Bytes cert = MakeCertificate(31);
  EXPECT_EQ(Register(cert, "k"), kRegNoDevicePath);
  EXPECT_EQ(DevicePathCalls(), 1);
  EXPECT_FALSE(KeyExists(kProviderPath));
  std::vector<StoreEntry> store = ReadStore();
  ASSERT_EQ(store.size(), 1u);
  EXPECT_EQ(store[0].encoded, cert);
  EXPECT_EQ(store[0].container, Wide(name));

  FailDevicePath(5);  // any result but 0 is a failure
  EXPECT_LT(Register(cert, "k"), 0);
  EXPECT_FALSE(KeyExists(kProviderPath));
}

TEST_F(TokenRegistration, APathThatNamesNoDeviceKeyIsAFailureThoughRegistered) {
  // The path ends in a backslash: nothing after it to name a device key.
  ASSERT_EQ(tokensim::ResetBay(), tokensim::kOk);
  settings_.devicePath = std::string(tokensim::kDevicePathPrefix) + "0abc00ff\\";
  std::string error;
  ASSERT_EQ(tokensim::Plug(settings_, &error), tokensim::kOk) << error;

  const Bytes cert = MakeCertificate(35);
  EXPECT_EQ(Register(cert, "k"), kRegBadDeviceKeyName);
  EXPECT_FALSE(KeyExists(kProviderPath));
  ASSERT_EQ(ReadStore().size(), 1u);
}

TEST_F(TokenRegistration, ACertificateThatDoesNotRegisterIsAFailureThoughRecorded) {
  const Bytes garbage(100, 0x5A);
  EXPECT_EQ(Register(garbage, "k"), kRegBadCertificate);
  EXPECT_TRUE(ReadStore().empty());
  // The record does not depend on the store step; clean-up finds nothing.
  EXPECT_EQ(ReadRecord().size(), 1u);

  // A handle that is no open connection gives no path.
  const Bytes cert = MakeCertificate(40);
  EXPECT_EQ(RegisterTokenCertificate(12345, kSerialText, cert.data(),
                                     static_cast<int>(cert.size()), "k"),
            kRegNoDevicePath);
  EXPECT_EQ(ReadStore().size(), 1u);
}

TEST_F(TokenRegistration, ACertificateLongerThanTheBufferIsHandedOnWhole) {
  // A common name long enough to push the certificate past 4096 bytes.
  const Bytes cert = MakeCertificate(50, std::string(4200, 'c'));
  ASSERT_GT(cert.size(), kTokenCertificateSize);
  EXPECT_EQ(Register(cert, "k"), kRegOk);
  std::vector<StoreEntry> store = ReadStore();
  ASSERT_EQ(store.size(), 1u);
  EXPECT_EQ(store[0].encoded, cert);
}

}  // namespace
