// The token's files as Keyfold reads them, and the serial text that names
// a token.
//
// Files: master file 3F00 with two certificate directories, 0x0011 and
// 0x0012, each holding the certificate (file 0x0008) and the key container
// name (file 0x000F). Every file is a 2-byte big-endian length N and N bytes
// of content; N = 0xFFFF marks an empty file.
//
// Each reader opens and closes its own connection (full: ReadCertificate,
// ReadKeyContainerName; reader: FetchCertificate, FetchKeyContainerName),
// reads into the caller's buffer of capacity bytes and gives back N in
// length. Results: 0 on success; on failure ReadCertificate -1,
// ReadKeyContainerName -1 up to the file selection and the negative result
// of the failing read after it, the Fetch readers -100.
//
// A length of 0xFFFF, or one the buffer cannot hold, fails before any chunk
// is read and gives back length 0, so no caller sizes a later copy by a
// length that does not fit. A key container name is text: it also needs
// room for the NUL that follows it, so N must stay below capacity. Content
// arrives in chunks of at most 128 bytes; the loop is bounded by N alone,
// so a library that delivers less than asked neither overruns the buffer
// nor keeps the reader going. A chunk read that fails clears the content
// already copied, so a failed read never leaves part of a file behind.
#pragma once

#include <cstddef>

namespace keyfold {

constexpr int kFirstCertDirectory = 0x0011;
constexpr int kSecondCertDirectory = 0x0012;
constexpr int kCertificateFile = 0x0008;
constexpr int kKeyContainerFile = 0x000F;
constexpr int kEmptyFileLength = 0xFFFF;
constexpr int kCertificateCapacity = 4096;
constexpr int kSerialTextLength = 12;  // "0A BC 00 FF ", trailing blank included
constexpr int kSerialTextSize = kSerialTextLength + 1;

constexpr int kReadCertificateFailed = -1;
constexpr int kReadKeyContainerNameFailed = -1;
constexpr int kFetchFailed = -100;  // both Fetch readers and FetchSerialText

int ReadCertificate(const char* devicePath, int directory, unsigned char* buffer, int capacity,
                    int& length);
int ReadKeyContainerName(const char* devicePath, int directory, char* buffer, int capacity,
                         int& length);
int FetchCertificate(const char* devicePath, int directory, unsigned char* buffer, int capacity,
                     int& length);
int FetchKeyContainerName(const char* devicePath, int directory, char* buffer, int capacity,
                          int& length);

// The same, with the capacity taken from the array.
template <std::size_t N>
int ReadCertificate(const char* devicePath, int directory, unsigned char (&buffer)[N],
                    int& length) {
  return ReadCertificate(devicePath, directory, buffer, static_cast<int>(N), length);
}
template <std::size_t N>
int ReadKeyContainerName(const char* devicePath, int directory, char (&buffer)[N], int& length) {
  return ReadKeyContainerName(devicePath, directory, buffer, static_cast<int>(N), length);
}
template <std::size_t N>
int FetchCertificate(const char* devicePath, int directory, unsigned char (&buffer)[N],
                     int& length) {
  return FetchCertificate(devicePath, directory, buffer, static_cast<int>(N), length);
}
template <std::size_t N>
int FetchKeyContainerName(const char* devicePath, int directory, char (&buffer)[N], int& length) {
  return FetchKeyContainerName(devicePath, directory, buffer, static_cast<int>(N), length);
}

// Over a reader connection: the first four serial bytes as spaced hex text
// into text (12 characters and a NUL). Returns 12, or -100 with text empty.
int FetchSerialText(const char* devicePath, char (&text)[kSerialTextSize]);

// Each byte as two upper-case hex digits and a blank, then a NUL: writes
// 3 x count characters and returns 3 x count. Bounded by textSize: only
// whole entries that fit before the NUL are written, and the result is the
// number of characters written.
int FormatHexBytes(const unsigned char* bytes, char* text, int count, std::size_t textSize);
template <std::size_t N>
int FormatHexBytes(const unsigned char* bytes, char (&text)[N], int count) {
  return FormatHexBytes(bytes, text, count, N);
}

// "TK:" and the serial text without its blanks ("TK:0ABC00FF"), into a
// 13-byte label.
void MakeTokenLabel(const char* serialText, char (&label)[kSerialTextSize]);

}  // namespace keyfold
