// A random walk over registering, recording and removing, checked after
// every step against what the store and the record must hold.
#include <windows.h>

#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "certs/registration_fixture.h"
#include "keyfold/certs/Registration.h"

using namespace keyfold;
using namespace regtest;

namespace {

struct Model {
  std::map<Bytes, std::string> store;                        // certificate -> bound name
  std::map<std::string, std::set<std::string>> record;       // device (lower case) -> names
  bool providerKey = false;

  void Unregister(const std::string& name) {
    for (auto it = store.begin(); it != store.end(); ++it) {
      if (it->second == name) {
        store.erase(it);
        return;
      }
    }
  }
  void RemoveDevice(const std::string& device) {
    auto it = record.find(Lower(device));
    if (it == record.end()) return;
    for (const std::string& name : it->second) Unregister(name);
    record.erase(it);
  }
};

void ExpectMatches(const Model& model) {
  std::map<Bytes, std::wstring> store;
  for (const StoreEntry& e : ReadStore()) {
    ASSERT_TRUE(e.hasBinding);
    EXPECT_EQ(e.provider, Wide(kProviderName));
    EXPECT_TRUE(store.emplace(e.encoded, e.container).second) << "certificate stored twice";
  }
  std::map<Bytes, std::wstring> expectedStore;
  for (const auto& [cert, name] : model.store) expectedStore[cert] = Wide(name);
  EXPECT_EQ(store, expectedStore);

  std::map<std::string, std::set<std::string>> record;
  for (const auto& [device, values] : ReadRecord()) {
    std::set<std::string>& names = record[Lower(device)];
    for (const RecordedValue& v : values) {
      EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
      Bytes data(v.name.begin(), v.name.end());
      data.push_back(0);
      EXPECT_EQ(v.data, data);
      names.insert(v.name);
    }
  }
  EXPECT_EQ(record, model.record);
  EXPECT_EQ(KeyExists(kProviderPath), model.providerKey);
}

// The device's name as it may reach us: arrival lower-cases it, removal
// and the token library do not.
std::string InSomeCase(const std::string& device, std::mt19937& rng) {
  std::string out = device;
  const unsigned mode = rng() % 3;  // as is, all upper case, every other letter
  for (std::size_t i = 0; i < out.size(); ++i) {
    const bool upper = mode == 1 || (mode == 2 && i % 2 == 0);
    if (upper && out[i] >= 'a' && out[i] <= 'z') out[i] = static_cast<char>(out[i] - 'a' + 'A');
  }
  return out;
}

TEST(RegistrationModel, RandomStepsLoseNothingAndLeaveNothingOver) {
  unsigned seed = 20261211;
  if (const char* s = std::getenv("KF_MODEL_SEED")) seed = static_cast<unsigned>(std::atoi(s));
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);

  ResetState();
  const std::vector<std::string> devices = {"usb#vid_096e&pid_0703#1", "usb#vid_096e&pid_0703#2",
                                            "hid#token#3", "tokensim#4"};
  const std::vector<std::string> names = {
      ContainerName("容器一", "01 02 03 04 "), ContainerName("k2", "01 02 03 04 "),
      ContainerName("k3", "A0 B1 C2 D3 "),     ContainerName("", "A0 B1 C2 D3 "),
      ContainerName("签名", "FF 00 FF 00 "),   ContainerName("k6", "10 20 30 40 ")};
  // Fewer certificates than names, so names share certificates.
  std::vector<Bytes> certs;
  for (unsigned i = 1; i <= 4; ++i) certs.push_back(MakeCertificate(i));

  Model model;
  int counts[5] = {};
  for (int step = 0; step < 300; ++step) {
    const std::string& name = names[rng() % names.size()];
    const std::string& device = devices[rng() % devices.size()];
    const Bytes& cert = certs[rng() % certs.size()];
    const unsigned action = rng() % 20;
    std::string what;
    if (action < 7) {  // register as every caller does: unregister first
      what = "register";
      UnregisterCertificate(name.c_str());
      ASSERT_EQ(RegisterCertificate(name.c_str(), cert.data(), cert.size()), kRegOk);
      model.Unregister(name);
      model.store[cert] = name;
      ++counts[0];
    } else if (action < 12) {
      what = "record";
      ASSERT_EQ(RecordRegistration(InSomeCase(device, rng), name.c_str()), kRegOk);
      model.record[Lower(device)].insert(name);
      model.providerKey = true;
      ++counts[1];
    } else if (action < 14) {
      what = "unregister";
      UnregisterCertificate(name.c_str());
      model.Unregister(name);
      ++counts[2];
    } else if (action < 18) {
      what = "remove device";
      ASSERT_EQ(RemoveDeviceRegistrations(InSomeCase(device, rng)), kRegOk);
      model.RemoveDevice(device);
      ++counts[3];
    } else {
      what = "remove all";
      ASSERT_EQ(RemoveAllRegistrations(), kRegOk);
      for (const std::string& d : devices) model.RemoveDevice(d);
      ++counts[4];
    }
    SCOPED_TRACE("step " + std::to_string(step) + ": " + what);
    ExpectMatches(model);
    if (HasFailure()) return;
  }
  // The walk must have exercised every kind of step.
  for (int c : counts) EXPECT_GT(c, 10);
  ResetState();
}

}  // namespace
