// Hexadecimal text and single-DES (ECB) routines behind the PIN block.
// Pure functions: no platform calls, no allocation, any thread.
#pragma once

#include <cstddef>

namespace keyfold {

// Status of DesEncryptHex.
constexpr short kDesDone = 0;
constexpr short kDesBadHex = -30;      // data or key text fails IsHexText
constexpr short kDesBadKeyLength = -35;  // key text does not hold exactly 8 bytes
constexpr short kDesBadDataLength = -36;  // data is not a whole number of 8-byte blocks
constexpr short kDesOutputTooSmall = -37;  // out cannot hold 16 characters per block and the NUL

// Capacities. Input beyond them is refused with an empty result rather
// than written past a buffer.
constexpr int kHexEncodeMaxBytes = 256;   // HexEncode writes up to 513 characters
constexpr int kHexDecodeMaxChars = 256;   // HexDecode writes up to 129 bytes
constexpr int kEncipherMaxBytes = 56;     // EncipherBytes' working texts hold 128 characters

// Writes 2n upper-case digits and a NUL into text (2n + 1 characters) and
// sets *length to 2n. n outside 0..kHexEncodeMaxBytes: writes the empty
// text and sets *length to 0.
void HexEncode(const unsigned char* bytes, int* length, char* text);

// Decodes floor(n/2) bytes into bytes, writes a 0 byte behind them and sets
// *length to floor(n/2); a trailing odd character is ignored. n outside
// 0..kHexDecodeMaxChars: writes only the 0 byte and sets *length to 0.
void HexDecode(const char* text, int* length, unsigned char* bytes);

// Appends the byte's two upper-case digits to the NUL-terminated text held
// in a buffer of textSize characters. Leaves the text unchanged when the
// two digits and the NUL do not fit.
void AppendHexByte(char* text, std::size_t textSize, unsigned char byte);

// Value of characters 2p-2 and 2p-1 (p is 1-based), case-insensitive; a
// character outside the alphabet counts as 16 and the result is taken
// modulo 256. 0 when p is not in 1..floor(strlen(text)/2).
int HexPairValue(const char* text, int p);

// 1 when the text has even length and only hexadecimal digits, else 0.
int IsHexText(const char* text);

// Enciphers the hexadecimal data text under the hexadecimal key text, one
// 8-byte block at a time. out holds outSize characters; on any status but
// kDesDone it is left untouched. The checks run in the order of the
// status constants above.
short DesEncryptHex(const char* data, const char* key, char* out, std::size_t outSize);

// Enciphers length bytes (a multiple of 8, at most kEncipherMaxBytes) of
// data under the 8-byte key into out, which must hold length + 1 bytes: the
// enciphered bytes and a 0 byte. Refused input writes only out[0] = 0.
// Always returns 0.
int EncipherBytes(const unsigned char* data, int length, unsigned char* out,
                  const unsigned char* key);

// DES encryption of one 8-byte block in place (FIPS 46-3 bit order: bit 1
// is the most significant bit of byte 0).
void DesEncryptBlock(unsigned char* block, const unsigned char* key);

}  // namespace keyfold
