// A program without string resource 102. Every operation must refuse to
// work rather than build paths from an empty provider name: the provider key
// path would then be the parent of every provider's key.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "certs/registration_fixture.h"
#include "keyfold/certs/Registration.h"

using namespace keyfold;
using namespace regtest;

namespace {

TEST(RegistrationWithoutProviderName, EveryOperationRefusesAndTouchesNothing) {
  char text[16] = {};
  ASSERT_EQ(LoadStringA(GetModuleHandleA(nullptr), 102, text, sizeof text), 0);

  ResetState();
  // Another provider's defaults, which an empty provider name would expose.
  const std::string device = std::string(kOtherProviderPath) + "\\usb#tok#1";
  WriteValue(kOtherProviderPath, "Type", REG_DWORD, {1, 0, 0, 0});
  WriteValue(device, "name", REG_SZ, {'n', 'a', 'm', 'e', 0});
  const Bytes cert = MakeCertificate(1);
  AddToStore(cert, L"name", L"");

  EXPECT_EQ(RemoveAllRegistrations(), kRegNoProviderName);
  EXPECT_EQ(RemoveDeviceRegistrations("usb#tok#1"), kRegNoProviderName);
  EXPECT_EQ(RemoveDeviceRegistrations(kOtherProviderName), kRegNoProviderName);
  EXPECT_EQ(RecordRegistration("usb#tok#2", "name"), kRegNoProviderName);
  EXPECT_EQ(RegisterCertificate("name", cert.data(), cert.size()), kRegNoProviderName);
  EXPECT_EQ(UnregisterCertificate("name"), kRegNoProviderName);

  EXPECT_TRUE(KeyExists(kOtherProviderPath));
  Record record = ReadRecord(kOtherProviderPath);
  ASSERT_EQ(record.size(), 1u);
  EXPECT_EQ(record["usb#tok#1"].size(), 1u);
  EXPECT_FALSE(KeyExists((std::string(kProvidersPath) + "\\usb#tok#2").c_str()));
  EXPECT_EQ(ReadStore().size(), 1u);
  ResetState();
}

}  // namespace
