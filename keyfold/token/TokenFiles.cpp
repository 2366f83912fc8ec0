#include "keyfold/token/TokenFiles.h"

#include <algorithm>
#include <cstring>

#include "keyfold/token/TokenConnection.h"

namespace keyfold {
namespace {

constexpr int kChunkSize = 128;

// The three commands a file read needs, from whichever binding is open.
struct Card {
  PFN_TK_IC_RESET reset;
  PFN_Select_File select;
  PFN_Read_Binary read;
};

// How the four readers differ.
struct ReadRules {
  bool statusOnLength;   // status word tested after the length read
  bool statusOnChunks;   // ... and after every chunk read
  bool text;             // content is text: room for its NUL needed
  bool readResultIsCode; // a failing read returns its own negative result
  int failure;
};

constexpr ReadRules kReadCertificate{true, true, false, false, kReadCertificateFailed};
constexpr ReadRules kReadKeyContainerName{false, false, true, true, kReadKeyContainerNameFailed};
constexpr ReadRules kFetchCertificate{true, true, false, false, kFetchFailed};
constexpr ReadRules kFetchKeyContainerName{false, true, true, false, kFetchFailed};

bool Select(const Card& card, int handle, int mode, int id) {
  const unsigned char fileId[2] = {static_cast<unsigned char>((id >> 8) & 0xFF),
                                   static_cast<unsigned char>(id & 0xFF)};
  unsigned short status = 0;
  return card.select(handle, mode, 0, 2, fileId, &status) >= 0 && status == kStatusOk;
}

// One read of count bytes at a file offset. The library writes into a
// scratch block, never straight into the caller's buffer: only the count
// bytes asked for are copied on, whatever the library wrote, and bytes it
// did not deliver read as 0.
int ReadAt(const Card& card, int handle, int offset, int count, unsigned char* out,
           unsigned short& status) {
  unsigned char scratch[2 * kChunkSize] = {};
  status = 0;
  const int r = card.read(handle, 0, (offset >> 8) & 0xFF, offset & 0xFF, 0, count, scratch,
                          &status);
  std::memcpy(out, scratch, static_cast<std::size_t>(count));
  return r;
}

// Everything between the open and the close of a reader.
int ReadOpenFile(const Card& card, int handle, int directory, int fileId, const ReadRules& rules,
                 unsigned char* buffer, int capacity, int& length) {
  const auto failed = [&rules](int result) { return rules.readResultIsCode ? result : rules.failure; };
  unsigned char answer[64] = {};
  if (card.reset(handle, answer) < 0) return rules.failure;
  if (!Select(card, handle, 1, directory) || !Select(card, handle, 2, fileId)) return rules.failure;

  unsigned char head[2] = {};
  unsigned short status = 0;
  int r = ReadAt(card, handle, 0, 2, head, status);
  if (r < 0) return failed(r);
  if (rules.statusOnLength && status != kStatusOk) return rules.failure;
  const int n = head[0] * 256 + head[1];
  const int room = rules.text ? capacity - 1 : capacity;
  if (n == kEmptyFileLength || n > room) return rules.failure;
  length = n;

  for (int p = 0; p < n; p += kChunkSize) {
    const int count = std::min(kChunkSize, n - p);
    r = ReadAt(card, handle, p + 2, count, buffer + p, status);
    const bool chunkFailed = r < 0 || (rules.statusOnChunks && status != kStatusOk);
    if (chunkFailed) {
      // The first chunks of a name or certificate are not that name or
      // certificate: callers that ignore the result (the enumeration does
      // for names) must find an empty buffer, not a cut-off container name
      // that a registration would then bind to.
      std::memset(buffer, 0, static_cast<std::size_t>(p + count));
      return r < 0 ? failed(r) : rules.failure;
    }
  }
  if (rules.text) buffer[n] = 0;
  return 0;
}

int ReadOverFull(const char* devicePath, int directory, int fileId, const ReadRules& rules,
                 unsigned char* buffer, int capacity, int& length) {
  length = 0;
  if (buffer == nullptr || capacity < (rules.text ? 1 : 0)) return rules.failure;
  const int handle = OpenTokenByPath(devicePath);
  if (handle <= 0) return rules.failure;
  const TokenCommands* t = FullConnectionCommands(handle);
  const Card card{t->TK_IC_RESET, t->Select_File, t->Read_Binary};
  const int result = ReadOpenFile(card, handle, directory, fileId, rules, buffer, capacity, length);
  CloseToken(handle);
  return result;
}

int ReadOverReader(const char* devicePath, int directory, int fileId, const ReadRules& rules,
                   unsigned char* buffer, int capacity, int& length) {
  length = 0;
  if (buffer == nullptr || capacity < (rules.text ? 1 : 0)) return rules.failure;
  const int handle = OpenTokenReader(devicePath);
  if (handle == kTokenReaderFailed) return rules.failure;
  const ReaderCommands* t = ReaderConnectionCommands(handle);
  const Card card{t->TK_IC_RESET, t->Select_File, t->Read_Binary};
  const int result = ReadOpenFile(card, handle, directory, fileId, rules, buffer, capacity, length);
  CloseTokenReader(handle);
  return result;
}

unsigned char* Bytes(char* text) { return reinterpret_cast<unsigned char*>(text); }

}  // namespace

int ReadCertificate(const char* devicePath, int directory, unsigned char* buffer, int capacity,
                    int& length) {
  return ReadOverFull(devicePath, directory, kCertificateFile, kReadCertificate, buffer, capacity,
                      length);
}

int ReadKeyContainerName(const char* devicePath, int directory, char* buffer, int capacity,
                         int& length) {
  return ReadOverFull(devicePath, directory, kKeyContainerFile, kReadKeyContainerName,
                      Bytes(buffer), capacity, length);
}

int FetchCertificate(const char* devicePath, int directory, unsigned char* buffer, int capacity,
                     int& length) {
  return ReadOverReader(devicePath, directory, kCertificateFile, kFetchCertificate, buffer,
                        capacity, length);
}

int FetchKeyContainerName(const char* devicePath, int directory, char* buffer, int capacity,
                          int& length) {
  return ReadOverReader(devicePath, directory, kKeyContainerFile, kFetchKeyContainerName,
                        Bytes(buffer), capacity, length);
}

int FetchSerialText(const char* devicePath, char (&text)[kSerialTextSize]) {
  text[0] = '\0';
  const int handle = OpenTokenReader(devicePath);
  if (handle == kTokenReaderFailed) return kFetchFailed;
  const ReaderCommands* t = ReaderConnectionCommands(handle);
  unsigned char serial[64] = {};
  const bool read = t->TK_IC_RESET(handle, serial) >= 0 && t->TK_GET_BCDSN(handle, serial) >= 0;
  CloseTokenReader(handle);
  if (!read) return kFetchFailed;
  return FormatHexBytes(serial, text, 4);
}

int FormatHexBytes(const unsigned char* bytes, char* text, int count, std::size_t textSize) {
  static const char kDigits[] = "0123456789ABCDEF";
  if (text == nullptr || textSize == 0) return 0;
  std::size_t at = 0;
  for (int i = 0; bytes != nullptr && i < count && at + 3 < textSize; ++i) {
    text[at++] = kDigits[bytes[i] >> 4];
    text[at++] = kDigits[bytes[i] & 0x0F];
    text[at++] = ' ';
  }
  text[at] = '\0';
  return static_cast<int>(at);
}

void MakeTokenLabel(const char* serialText, char (&label)[kSerialTextSize]) {
  std::memcpy(label, "TK:", 3);
  std::size_t at = 3;
  for (const char* s = serialText; s != nullptr && *s != '\0' && at + 1 < sizeof label; ++s)
    if (*s != ' ') label[at++] = *s;
  label[at] = '\0';
}

}  // namespace keyfold
