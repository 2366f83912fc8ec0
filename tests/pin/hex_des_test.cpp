#include <windows.h>
#include <wincrypt.h>

#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "keyfold/pin/HexDes.h"

using namespace keyfold;

namespace {

struct KnownAnswer {
  const char* key;
  const char* plain;
  const char* cipher;
};
#include "des_known_answers.inc"

std::vector<unsigned char> Bytes(const std::string& hex) {
  std::vector<unsigned char> out(hex.size() / 2 + 1);
  int n = static_cast<int>(hex.size());
  HexDecode(hex.c_str(), &n, out.data());
  out.resize(n);
  return out;
}

std::string EncryptHex(const char* data, const char* key, short* status) {
  char out[256] = "untouched";
  *status = DesEncryptHex(data, key, out, sizeof out);
  return out;
}

// The platform's own DES, to compare ours against.
class CryptoApiDes {
 public:
  CryptoApiDes() {
    ok_ = CryptAcquireContextA(&prov_, nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                               CRYPT_VERIFYCONTEXT) != 0;
  }
  ~CryptoApiDes() {
    if (prov_) CryptReleaseContext(prov_, 0);
  }
  bool ok() const { return ok_; }

  bool Encrypt(const unsigned char* key, unsigned char* block) {
    struct {
      BLOBHEADER hdr;
      DWORD size;
      BYTE key[8];
    } blob = {{PLAINTEXTKEYBLOB, CUR_BLOB_VERSION, 0, CALG_DES}, 8, {}};
    std::memcpy(blob.key, key, 8);
    HCRYPTKEY k = 0;
    if (!CryptImportKey(prov_, reinterpret_cast<BYTE*>(&blob), sizeof blob, 0, 0, &k))
      return false;
    DWORD mode = CRYPT_MODE_ECB;
    DWORD len = 8;
    const bool done = CryptSetKeyParam(k, KP_MODE, reinterpret_cast<BYTE*>(&mode), 0) &&
                      CryptEncrypt(k, 0, FALSE, 0, block, &len, 8) && len == 8;
    CryptDestroyKey(k);
    return done;
  }

 private:
  HCRYPTPROV prov_ = 0;
  bool ok_ = false;
};

}  // namespace

TEST(DesEncryptBlock, Fips81EcbExample) {
  unsigned char block[8] = {'N', 'o', 'w', ' ', 'i', 's', ' ', 't'};
  const unsigned char key[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  DesEncryptBlock(block, key);
  const unsigned char expected[8] = {0x3F, 0xA4, 0x0E, 0x8A, 0x98, 0x4D, 0x48, 0x15};
  EXPECT_EQ(0, std::memcmp(block, expected, 8));
}

TEST(DesEncryptBlock, KnownAnswerTables) {
  std::vector<KnownAnswer> all(std::begin(kVariablePlaintext), std::end(kVariablePlaintext));
  all.insert(all.end(), std::begin(kVariableKey), std::end(kVariableKey));
  ASSERT_EQ(all.size(), 64u + 56u);
  for (const KnownAnswer& ka : all) {
    auto block = Bytes(ka.plain);
    auto key = Bytes(ka.key);
    DesEncryptBlock(block.data(), key.data());
    EXPECT_EQ(block, Bytes(ka.cipher)) << "key " << ka.key << " plain " << ka.plain;
  }
}

TEST(DesEncryptBlock, AgreesWithCryptoApiOnRandomBlocks) {
  CryptoApiDes platform;
  ASSERT_TRUE(platform.ok()) << "CryptAcquireContext failed: " << GetLastError();
  std::mt19937 rng(20121220);
  for (int i = 0; i < 4000; ++i) {
    unsigned char key[8], ours[8], theirs[8];
    for (auto& b : key) b = static_cast<unsigned char>(rng());
    for (auto& b : ours) b = static_cast<unsigned char>(rng());
    std::memcpy(theirs, ours, 8);
    DesEncryptBlock(ours, key);
    ASSERT_TRUE(platform.Encrypt(key, theirs)) << "CryptEncrypt failed: " << GetLastError();
    ASSERT_EQ(0, std::memcmp(ours, theirs, 8)) << "block " << i;
  }
}

TEST(HexText, EncodeDecodeAndPairs) {
  char text[8] = "junk";
  int n = 0;
  HexEncode(nullptr, &n, text);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(n, 0);

  const unsigned char bytes[3] = {0x0A, 0xBC, 0xFF};
  n = 3;
  HexEncode(bytes, &n, text);
  EXPECT_STREQ(text, "0ABCFF");
  EXPECT_EQ(n, 6);

  unsigned char back[4] = {1, 1, 1, 1};
  n = 5;  // the trailing odd character is ignored
  HexDecode("0abCf", &n, back);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(back[0], 0x0A);
  EXPECT_EQ(back[1], 0xBC);
  EXPECT_EQ(back[2], 0);

  EXPECT_EQ(HexPairValue("0a1B", 2), 0x1B);
  EXPECT_EQ(HexPairValue("0a1B", 3), 0);
  EXPECT_EQ(HexPairValue("0a1B", 0), 0);
  EXPECT_EQ(HexPairValue("G0", 1), (16 * 16 + 0) & 0xFF);  // outside the alphabet counts as 16

  EXPECT_EQ(IsHexText(""), 1);
  EXPECT_EQ(IsHexText("0aF9"), 1);
  EXPECT_EQ(IsHexText("0aF"), 0);
  EXPECT_EQ(IsHexText("0G"), 0);
  EXPECT_EQ(IsHexText("\xB0\xA1"), 0);
}

TEST(HexText, CapacitiesAreRefusedNotOverrun) {
  std::vector<unsigned char> bytes(300, 0xAB);
  std::vector<char> text(700, 'x');
  int n = kHexEncodeMaxBytes;
  HexEncode(bytes.data(), &n, text.data());
  EXPECT_EQ(n, 512);
  EXPECT_EQ(std::strlen(text.data()), 512u);

  std::fill(text.begin(), text.end(), 'x');
  n = kHexEncodeMaxBytes + 1;
  HexEncode(bytes.data(), &n, text.data());
  EXPECT_EQ(n, 0);
  EXPECT_STREQ(text.data(), "");
  EXPECT_EQ(text[1], 'x');

  std::string longText(258, 'A');
  std::vector<unsigned char> out(200, 0x55);
  n = 258;
  HexDecode(longText.c_str(), &n, out.data());
  EXPECT_EQ(n, 0);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 0x55);

  char small[5] = "AB";
  AppendHexByte(small, sizeof small, 0xCD);  // "ABCD" and the NUL fit exactly
  EXPECT_STREQ(small, "ABCD");
  AppendHexByte(small, sizeof small, 0xEF);  // no room: unchanged
  EXPECT_STREQ(small, "ABCD");
}

TEST(DesEncryptHex, StatusesAndOutputs) {
  const char* key16 = "0123456789ABCDEF";
  struct Case {
    const char* data;
    const char* key;
    short status;
    const char* out;  // "untouched" after an error
  } cases[] = {
      {"4E6F772069732074", key16, 0, "3FA40E8A984D4815"},
      {"4e6f772069732074", "0123456789abcdef", 0, "3FA40E8A984D4815"},  // lower case in, upper out
      {"", key16, 0, ""},
      {"4E6F7720697320744E6F772069732074", key16, 0, "3FA40E8A984D48153FA40E8A984D4815"},
      {"4E6F772069732074", "0123456789ABCDE", -30, "untouched"},  // odd: -30 before -35
      {"4E6F772069732074", "0123456789ABCD", -35, "untouched"},
      {"4E6F772069732074", "0123456789ABCDEF00", -35, "untouched"},
      {"4E6F7720697320", key16, -36, "untouched"},  // 7 bytes
      {"4E6F77206973207", key16, -30, "untouched"},  // odd data length
      {"4E6F7720697320", "0123456789ABCDE", -30, "untouched"},  // -30 before -36
      {"4E6F7720697320", "0123456789ABCD", -35, "untouched"},  // -35 before -36
      {"4E6F77206973207G", key16, -30, "untouched"},
      {"4E6F772069732074", "0123456789ABCDEG", -30, "untouched"},
  };
  for (const Case& c : cases) {
    short status = 1;
    EXPECT_EQ(EncryptHex(c.data, c.key, &status), c.out) << c.data << " / " << c.key;
    EXPECT_EQ(status, c.status) << c.data << " / " << c.key;
  }
}

TEST(DesEncryptHex, RefusesAnOutputThatCannotHoldTheResult) {
  char out[16] = "untouched";  // one block needs 17 characters
  EXPECT_EQ(DesEncryptHex("4E6F772069732074", "0123456789ABCDEF", out, sizeof out),
            kDesOutputTooSmall);
  EXPECT_STREQ(out, "untouched");
}

TEST(EncipherBytes, WritesTheBlocksAndATerminatingZero) {
  const unsigned char key[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  const unsigned char data[16] = {'N', 'o', 'w', ' ', 'i', 's', ' ', 't',
                                  'N', 'o', 'w', ' ', 'i', 's', ' ', 't'};
  unsigned char out[18];
  std::memset(out, 0x77, sizeof out);
  EXPECT_EQ(EncipherBytes(data, 8, out, key), 0);
  const unsigned char expected[8] = {0x3F, 0xA4, 0x0E, 0x8A, 0x98, 0x4D, 0x48, 0x15};
  EXPECT_EQ(0, std::memcmp(out, expected, 8));
  EXPECT_EQ(out[8], 0);
  EXPECT_EQ(out[9], 0x77);

  EXPECT_EQ(EncipherBytes(data, 16, out, key), 0);
  EXPECT_EQ(0, std::memcmp(out + 8, expected, 8));
  EXPECT_EQ(out[16], 0);
}

TEST(EncipherBytes, RefusedInputGivesAnEmptyResult) {
  const unsigned char key[8] = {};
  std::vector<unsigned char> data(80, 0x31);
  for (int length : {7, 9, kEncipherMaxBytes + 8, -8}) {
    std::vector<unsigned char> out(100, 0x77);
    EXPECT_EQ(EncipherBytes(data.data(), length, out.data(), key), 0) << length;
    EXPECT_EQ(out[0], 0) << length;
    EXPECT_EQ(out[1], 0x77) << length;
  }
  std::vector<unsigned char> out(100, 0x77);
  EncipherBytes(data.data(), kEncipherMaxBytes, out.data(), key);
  EXPECT_EQ(out[kEncipherMaxBytes], 0);
  EXPECT_EQ(out[kEncipherMaxBytes + 1], 0x77);
}
