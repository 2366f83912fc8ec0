#include "HexDes.h"

#include <cstdint>
#include <cstring>

#include "Wipe.h"

namespace keyfold {
namespace {

const char kDigits[] = "0123456789ABCDEF";

int DigitValue(unsigned char c) {
  if (c >= 'a' && c <= 'f') c = static_cast<unsigned char>(c - 'a' + 'A');
  for (int i = 0; i < 16; ++i)
    if (kDigits[i] == c) return i;
  return 16;
}

// DES tables as FIPS 46-3 prints them: entries are 1-based bit numbers.
const std::uint8_t kIP[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};
const std::uint8_t kFP[64] = {
    40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
    38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
    36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
    34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};
const std::uint8_t kE[48] = {
    32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11,
    12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21,
    22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};
const std::uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                             2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};
const std::uint8_t kPC1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                               10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                               63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                               14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
const std::uint8_t kPC2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10,
                               23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
                               41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,
                               44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
const std::uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};
const std::uint8_t kS[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,
     0,  15, 7,  4, 14, 2,  13, 1,  10, 6,  12, 11, 9,  5,  3, 8,
     4,  1,  14, 8, 13, 6,  2,  11, 15, 12, 9,  7,  3,  10, 5, 0,
     15, 12, 8,  2, 4,  9,  1,  7,  5,  11, 3,  14, 10, 0,  6, 13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2,  13, 12, 0, 5,  10,
     3,  13, 4,  7,  15, 2,  8,  14, 12, 0, 1,  10, 6,  9, 11, 5,
     0,  14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,  9,  3, 2,  15,
     13, 8,  10, 1,  3,  15, 4,  2,  11, 6, 7,  12, 0,  5, 14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,
     13, 7,  0,  9,  3, 4,  6,  10, 2,  8,  5,  14, 12, 11, 15, 1,
     13, 6,  4,  9,  8, 15, 3,  0,  11, 1,  2,  12, 5,  10, 14, 7,
     1,  10, 13, 0,  6, 9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3, 0,  6,  9,  10, 1,  2, 8, 5,  11, 12, 4,  15,
     13, 8,  11, 5, 6,  15, 0,  3,  4,  7, 2, 12, 1,  10, 14, 9,
     10, 6,  9,  0, 12, 11, 7,  13, 15, 1, 3, 14, 5,  2,  8,  4,
     3,  15, 0,  6, 10, 1,  13, 8,  9,  4, 5, 11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6,  8,  5,  3,  15, 13, 0, 14, 9,
     14, 11, 2,  12, 4,  7,  13, 1,  5,  0,  15, 10, 3,  9, 8,  6,
     4,  2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,  6,  3, 0,  14,
     11, 8,  12, 7,  1,  14, 2,  13, 6,  15, 0,  9,  10, 4, 5,  3},
    {12, 1,  10, 15, 9, 2,  6,  8,  0,  13, 3,  4,  14, 7,  5,  11,
     10, 15, 4,  2,  7, 12, 9,  5,  6,  1,  13, 14, 0,  11, 3,  8,
     9,  14, 15, 5,  2, 8,  12, 3,  7,  0,  4,  10, 1,  13, 11, 6,
     4,  3,  2,  12, 9, 5,  15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0, 8,  13, 3,  12, 9, 7,  5,  10, 6, 1,
     13, 0,  11, 7,  4,  9, 1,  10, 14, 3,  5, 12, 2,  15, 8, 6,
     1,  4,  11, 13, 12, 3, 7,  14, 10, 15, 6, 8,  0,  5,  9, 2,
     6,  11, 13, 8,  1,  4, 10, 7,  9,  5,  0, 15, 14, 2,  3, 12},
    {13, 2,  8,  4, 6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7,
     1,  15, 13, 8, 10, 3,  7,  4,  12, 5,  6,  11, 0,  14, 9,  2,
     7,  11, 4,  1, 9,  12, 14, 2,  0,  6,  10, 13, 15, 3,  5,  8,
     2,  1,  14, 7, 4,  10, 8,  13, 15, 12, 9,  0,  3,  5,  6,  11}};

// Selects bits of a value whose bit 1 is its most significant of inBits;
// the result has the table's size in bits, bit 1 most significant.
std::uint64_t Permute(std::uint64_t in, int inBits, const std::uint8_t* table, int outBits) {
  std::uint64_t out = 0;
  for (int i = 0; i < outBits; ++i)
    out = (out << 1) | ((in >> (inBits - table[i])) & 1u);
  return out;
}

std::uint32_t Feistel(std::uint32_t r, std::uint64_t subkey) {
  const std::uint64_t x = Permute(r, 32, kE, 48) ^ subkey;
  std::uint32_t s = 0;
  for (int box = 0; box < 8; ++box) {
    const unsigned six = static_cast<unsigned>((x >> (42 - 6 * box)) & 0x3F);
    const unsigned row = ((six & 0x20) >> 4) | (six & 1);
    const unsigned col = (six >> 1) & 0xF;
    s = (s << 4) | kS[box][row * 16 + col];
  }
  return static_cast<std::uint32_t>(Permute(s, 32, kP, 32));
}

std::uint64_t LoadBlock(const unsigned char* b) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | b[i];
  return v;
}

std::uint32_t Rotate28(std::uint32_t v, int n) {
  return ((v << n) | (v >> (28 - n))) & 0x0FFFFFFFu;
}

}  // namespace

void DesEncryptBlock(unsigned char* block, const unsigned char* key) {
  std::uint64_t k = LoadBlock(key);
  std::uint64_t cd = Permute(k, 64, kPC1, 56);
  std::uint32_t c = static_cast<std::uint32_t>(cd >> 28) & 0x0FFFFFFFu;
  std::uint32_t d = static_cast<std::uint32_t>(cd) & 0x0FFFFFFFu;

  std::uint64_t v = Permute(LoadBlock(block), 64, kIP, 64);
  std::uint32_t l = static_cast<std::uint32_t>(v >> 32);
  std::uint32_t r = static_cast<std::uint32_t>(v);
  for (int round = 0; round < 16; ++round) {
    c = Rotate28(c, kShifts[round]);
    d = Rotate28(d, kShifts[round]);
    std::uint64_t subkey = Permute((static_cast<std::uint64_t>(c) << 28) | d, 56, kPC2, 48);
    const std::uint32_t next = l ^ Feistel(r, subkey);
    l = r;
    r = next;
    WipeSecret(&subkey, sizeof subkey);
  }
  // The last round is not swapped: the pre-output block is R16 L16.
  std::uint64_t pre = (static_cast<std::uint64_t>(r) << 32) | l;
  std::uint64_t out = Permute(pre, 64, kFP, 64);
  for (int i = 7; i >= 0; --i) {
    block[i] = static_cast<unsigned char>(out & 0xFF);
    out >>= 8;
  }
  // Key material and plaintext-derived state may hold PIN bits.
  WipeSecret(&k, sizeof k);
  WipeSecret(&cd, sizeof cd);
  WipeSecret(&c, sizeof c);
  WipeSecret(&d, sizeof d);
  WipeSecret(&v, sizeof v);
  WipeSecret(&l, sizeof l);
  WipeSecret(&r, sizeof r);
  WipeSecret(&pre, sizeof pre);
}

void AppendHexByte(char* text, std::size_t textSize, unsigned char byte) {
  const std::size_t used = strnlen(text, textSize);
  if (used + 3 > textSize) return;
  text[used] = kDigits[byte >> 4];
  text[used + 1] = kDigits[byte & 0xF];
  text[used + 2] = '\0';
}

void HexEncode(const unsigned char* bytes, int* length, char* text) {
  const int n = *length;
  text[0] = '\0';
  if (n < 0 || n > kHexEncodeMaxBytes) {
    *length = 0;
    return;
  }
  const std::size_t size = static_cast<std::size_t>(2 * n + 1);
  for (int i = 0; i < n; ++i) AppendHexByte(text, size, bytes[i]);
  text[2 * n] = '\0';
  *length = 2 * n;
}

void HexDecode(const char* text, int* length, unsigned char* bytes) {
  const int n = *length;
  if (n < 0 || n > kHexDecodeMaxChars) {
    bytes[0] = 0;
    *length = 0;
    return;
  }
  const int count = n / 2;
  for (int p = 1; p <= count; ++p) bytes[p - 1] = static_cast<unsigned char>(HexPairValue(text, p));
  bytes[count] = 0;
  *length = count;
}

int HexPairValue(const char* text, int p) {
  const std::size_t pairs = std::strlen(text) / 2;
  if (p < 1 || static_cast<std::size_t>(p) > pairs) return 0;
  const int high = DigitValue(static_cast<unsigned char>(text[2 * p - 2]));
  const int low = DigitValue(static_cast<unsigned char>(text[2 * p - 1]));
  return (16 * high + low) & 0xFF;
}

int IsHexText(const char* text) {
  const std::size_t n = std::strlen(text);
  if (n % 2 != 0) return 0;
  for (std::size_t i = 0; i < n; ++i)
    if (DigitValue(static_cast<unsigned char>(text[i])) == 16) return 0;
  return 1;
}

short DesEncryptHex(const char* data, const char* key, char* out, std::size_t outSize) {
  if (!IsHexText(data) || !IsHexText(key)) return kDesBadHex;
  if (std::strlen(key) / 2 != 8) return kDesBadKeyLength;
  const std::size_t n = std::strlen(data) / 2;
  if (n % 8 != 0) return kDesBadDataLength;
  if (outSize < 2 * n + 1) return kDesOutputTooSmall;

  out[0] = '\0';
  unsigned char keyBytes[8];
  unsigned char block[8];
  for (std::size_t b = 0; b < n / 8; ++b) {
    for (int i = 0; i < 8; ++i)
      block[i] = static_cast<unsigned char>(HexPairValue(data, static_cast<int>(8 * b) + i + 1));
    for (int i = 0; i < 8; ++i) keyBytes[i] = static_cast<unsigned char>(HexPairValue(key, i + 1));
    DesEncryptBlock(block, keyBytes);
    for (int i = 0; i < 8; ++i) AppendHexByte(out, outSize, block[i]);
  }
  WipeSecret(keyBytes, sizeof keyBytes);
  WipeSecret(block, sizeof block);
  return kDesDone;
}

int EncipherBytes(const unsigned char* data, int length, unsigned char* out,
                  const unsigned char* key) {
  out[0] = 0;
  // A length the working texts cannot hold is refused like any other
  // input the cipher refuses: an empty result.
  if (length < 0 || length > kEncipherMaxBytes) return 0;

  char dataText[128] = {};
  char keyText[17] = {};
  char outText[128] = {};
  int n = length;
  HexEncode(data, &n, dataText);
  int k = 8;
  HexEncode(key, &k, keyText);
  if (DesEncryptHex(dataText, keyText, outText, sizeof outText) == kDesDone) {
    int chars = static_cast<int>(std::strlen(outText));
    HexDecode(outText, &chars, out);
  }
  WipeSecret(dataText, sizeof dataText);
  WipeSecret(keyText, sizeof keyText);
  WipeSecret(outText, sizeof outText);
  return 0;
}

}  // namespace keyfold
