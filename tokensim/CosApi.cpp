// tk_cosapi.dll: connections to the plugged tokens and their card commands.
//
// Results: 0 (or a handle) when the command reached the card, whatever the
// status word says; negative only when it did not: -1 unknown handle, -2 the
// token was unplugged, -3 a null buffer, -4 a buffer too small. Like a card
// reader, the card's verdict is in the status word.
#include <cstring>
#include <memory>

#include "Control.h"
#include "TokenInternal.h"
#include "Win32.h"
#include "keyfold/pin/HexDes.h"
#include "keyfold/pin/PinBlock.h"
#include "keyfold/token/TokenLibraryApi.h"

namespace tokensim {
namespace {

constexpr int kBadHandle = -1;
constexpr int kRemoved = -2;
constexpr int kNullBuffer = -3;
constexpr int kTooSmall = -4;

constexpr int kSwOk = 0x9000;
constexpr int kSwEndOfFile = 0x6282;
constexpr int kSwWrongLength = 0x6700;
constexpr int kSwSecurity = 0x6982;  // security status not satisfied
constexpr int kSwBlocked = 0x6983;
constexpr int kSwConditions = 0x6985;
constexpr int kSwNoCurrentEf = 0x6986;
constexpr int kSwWrongData = 0x6A80;
constexpr int kSwNotFound = 0x6A82;
constexpr int kSwWrongP1P2 = 0x6A86;
constexpr int kSwWrongOffset = 0x6B00;
constexpr int kSwNoInstruction = 0x6D00;
constexpr int kSwTransport = 0x6F00;

void Wipe(void* p, size_t n) { SecureZeroMemory(p, n); }

struct Connection {
  std::string bay;
  std::string folder;
  std::string plugId;  // of the plug this connection was opened on
  TokenSettings settings;
  int df = 0;        // 0 master file, else 0x0011 / 0x0012
  int ef = 0;        // 0 none, else 0x0008 / 0x000F
  std::vector<unsigned char> efBytes;
  bool verified = false;
  bool haveChallenge = false;
  unsigned char challenge[8] = {};
  bool haveKey[3] = {};            // per directory: master file, 0x0011, 0x0012
  unsigned char key[3][8] = {};

  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() {
    if (!settings.pin.empty()) Wipe(settings.pin.data(), settings.pin.size());
    Wipe(key, sizeof key);
    Wipe(challenge, sizeof challenge);
  }
  const CardDirectory* Dir(int id) const {
    if (id == 0x0011) return &settings.dir11;
    if (id == 0x0012) return &settings.dir12;
    return nullptr;
  }
  int DfIndex() const { return df == 0x0011 ? 1 : df == 0x0012 ? 2 : 0; }
  void Reset() {
    df = 0;
    ef = 0;
    efBytes.clear();
    verified = false;
    haveChallenge = false;
    Wipe(key, sizeof key);
    for (bool& k : haveKey) k = false;
  }
};

struct Slot {
  int handle;
  std::unique_ptr<Connection> conn;
};
std::vector<Slot>& Connections() {
  static std::vector<Slot> connections;
  return connections;
}
int g_nextHandle = 0x100;

Connection* Find(int handle) {
  for (Slot& s : Connections())
    if (s.handle == handle) return s.conn.get();
  return nullptr;
}

std::string ReadPlugId(const std::string& folder) {
  std::vector<unsigned char> id;
  ReadWholeFile(JoinPath(folder, kPlugIdFile), id);
  return std::string(id.begin(), id.end());
}

// Still the same plug: a token pulled out and plugged in again is a new
// device, and a handle from before does not reach it, as on a real reader.
bool Present(const Connection& c) {
  return FileExists(JoinPath(c.folder, "token.ini")) && ReadPlugId(c.folder) == c.plugId;
}

// The key that the token derives from a PIN for its authentication scheme:
// the PIN bytes, zero-padded to a DES key.
void PinKey(const char* pin, size_t n, unsigned char key[8]) {
  std::memset(key, 0, 8);
  std::memcpy(key, pin, n < 8 ? n : 8);
}

void Encipher(const unsigned char key[8], const unsigned char in[8], unsigned char out[8]) {
  std::memcpy(out, in, 8);
  keyfold::DesEncryptBlock(out, key);
}

// Runs one card command: handle check, presence, injected faults and
// latency, then the card's own behaviour, then the trace line.
template <typename Body>
int Command(const char* fn, int handle, bool hasStatus, unsigned short* sw, std::string args,
            Body body) noexcept {
  try {
    ModuleLock lock;
    int status = -1;
    int result = 0;
    Connection* c = Find(handle);
    if (!c) {
      result = kBadHandle;
      status = hasStatus ? 0 : -1;
    } else if (!Present(*c)) {
      result = kRemoved;
      status = hasStatus ? 0 : -1;
    } else {
      const FaultDecision d = ConsultFaults(c->bay, c->folder, c->settings, fn);
      if (d.latencyMs) Sleep(static_cast<DWORD>(d.latencyMs));
      if (d.fails) {
        result = d.result;
        if (hasStatus) status = d.status >= 0 ? d.status : (d.result < 0 ? kSwTransport : -1);
        args += " fault=1";
      } else {
        status = hasStatus ? kSwOk : -1;
        result = body(*c, status);
      }
    }
    if (sw && status >= 0) *sw = static_cast<unsigned short>(status);
    AppendTrace("tk_cosapi", fn, result, status, args);
    return result;
  } catch (...) {
    return -99;
  }
}

// Opens a connection to the first plugged token that matches.
template <typename Match>
int Open(const char* fn, const std::string& args, Match match) noexcept {
  try {
    ModuleLock lock;
    auto conn = std::make_unique<Connection>();
    conn->bay = BayFolder();
    std::vector<PluggedToken> tokens;
    ListPlugged(tokens);
    const PluggedToken* found = nullptr;
    for (const PluggedToken& t : tokens) {
      if (match(t.settings)) {
        found = &t;
        break;
      }
    }
    int handle = 0;
    std::string extra;
    if (found) {
      conn->folder = TokenFolderInBay(conn->bay, found->serialName);
      conn->plugId = ReadPlugId(conn->folder);
      conn->settings = found->settings;
      const FaultDecision d = ConsultFaults(conn->bay, conn->folder, conn->settings, fn);
      if (d.latencyMs) Sleep(static_cast<DWORD>(d.latencyMs));
      extra = " serial=" + found->serialName;
      if (d.fails) {
        extra += " fault=1";
      } else {
        handle = ++g_nextHandle;
        Connections().push_back(Slot{handle, std::move(conn)});
      }
    }
    for (PluggedToken& t : tokens)
      if (!t.settings.pin.empty()) Wipe(t.settings.pin.data(), t.settings.pin.size());
    AppendTrace("tk_cosapi", fn, handle, -1, args + extra);
    return handle;
  } catch (...) {
    return 0;
  }
}

std::string IdText(const unsigned char* id, int length) {
  if (!id || length <= 0) return "-";
  return HexBytes(id, static_cast<size_t>(length > 8 ? 8 : length));
}

}  // namespace
}  // namespace tokensim

using namespace tokensim;

extern "C" {

int TK_API TK_Open(int index) {
  // The driver numbers four tokens, 0-3; a token without a driver index
  // (kNoDriverIndex) is reachable by path only, whatever index is asked.
  return Open("TK_Open", Format("index=%d", index), [&](const TokenSettings& s) {
    return index >= 0 && index <= 3 && s.driverIndex == index;
  });
}

int TK_API TK_OpenByPath(const char* devicePath) {
  if (!devicePath) {
    AppendTrace("tk_cosapi", "TK_OpenByPath", 0, -1, "path=-");
    return 0;
  }
  // Paths are compared as Windows compares them, without regard to case.
  const std::string path(devicePath, strnlen(devicePath, 1024));
  return Open("TK_OpenByPath", "path=" + path,
              [&](const TokenSettings& s) { return EqualNoCase(s.DevicePath(), path); });
}

int TK_API TK_Close(int handle) {
  try {
    ModuleLock lock;
    auto& all = Connections();
    for (auto it = all.begin(); it != all.end(); ++it) {
      if (it->handle == handle) {
        // A fault set for TK_Close applies like any other; the failed close
        // leaves the connection open. A token already pulled out closes.
        const Connection& c = *it->conn;
        if (Present(c)) {
          const FaultDecision d = ConsultFaults(c.bay, c.folder, c.settings, "TK_Close");
          if (d.latencyMs) Sleep(static_cast<DWORD>(d.latencyMs));
          if (d.fails) {
            AppendTrace("tk_cosapi", "TK_Close", d.result, -1, Format("handle=%d fault=1", handle));
            return d.result;
          }
        }
        all.erase(it);
        AppendTrace("tk_cosapi", "TK_Close", 0, -1, Format("handle=%d", handle));
        return 0;
      }
    }
    AppendTrace("tk_cosapi", "TK_Close", kBadHandle, -1, Format("handle=%d", handle));
    return kBadHandle;
  } catch (...) {
    return -99;
  }
}

int TK_API TK_IC_RESET(int handle, unsigned char* answer) {
  return Command("TK_IC_RESET", handle, false, nullptr, Format("handle=%d", handle),
                 [&](Connection& c, int&) {
                   if (!answer) return kNullBuffer;
                   c.Reset();
                   // An answer to reset with the first serial bytes as
                   // historical bytes; 13 bytes fit both callers' buffers.
                   const unsigned char atr[] = {0x3B, 0x69, 0x00, 0x00, 'T', 'S', 'I', 'M', 0x01};
                   std::memcpy(answer, atr, sizeof atr);
                   std::memcpy(answer + sizeof atr, c.settings.serial.data(), 4);
                   return 0;
                 });
}

int TK_API TK_GET_BCDSN(int handle, unsigned char* buffer) {
  return Command("TK_GET_BCDSN", handle, false, nullptr, Format("handle=%d", handle),
                 [&](Connection& c, int&) {
                   if (!buffer) return kNullBuffer;
                   const size_t n = c.settings.serial.size() < 64 ? c.settings.serial.size() : 64;
                   std::memcpy(buffer, c.settings.serial.data(), n);
                   return 0;
                 });
}

int TK_API TK_GetDevicePath(int handle, char* buffer, int size) {
  return Command("TK_GetDevicePath", handle, false, nullptr,
                 Format("handle=%d size=%d", handle, size), [&](Connection& c, int&) {
                   if (!buffer) return kNullBuffer;
                   const std::string path = c.settings.DevicePath();
                   if (size <= 0) return kTooSmall;
                   if (path.size() + 1 > static_cast<size_t>(size)) {
                     buffer[0] = '\0';
                     return kTooSmall;
                   }
                   std::memcpy(buffer, path.c_str(), path.size() + 1);
                   return 0;
                 });
}

int TK_API Select_File(int handle, int mode, int p2, int length, const unsigned char* fileId,
                       unsigned short* status) {
  return Command(
      "Select_File", handle, true, status,
      Format("handle=%d mode=%d p2=%d len=%d id=%s", handle, mode, p2, length,
             IdText(fileId, length).c_str()),
      [&](Connection& c, int& sw) {
        if (!fileId) return kNullBuffer;
        if (length != 2) return (sw = kSwWrongLength), 0;
        if (p2 != 0) return (sw = kSwWrongP1P2), 0;
        const int id = fileId[0] * 256 + fileId[1];
        // A failed selection keeps the current one, as a card does.
        if (mode == 0) {
          if (id != 0x3F00) return (sw = kSwNotFound), 0;
          c.df = 0;
          c.ef = 0;
          c.efBytes.clear();
        } else if (mode == 1) {
          const CardDirectory* d = c.Dir(id);
          if (c.df != 0 || !d || !d->present) return (sw = kSwNotFound), 0;
          c.df = id;
          c.ef = 0;
          c.efBytes.clear();
        } else if (mode == 2) {
          const CardDirectory* d = c.Dir(c.df);
          const CardFile* f = !d ? nullptr
                              : id == 0x0008 ? &d->certificate
                              : id == 0x000F ? &d->container
                                             : nullptr;
          if (!f || !f->present()) return (sw = kSwNotFound), 0;
          c.ef = id;
          c.efBytes = f->CardBytes();
        } else {
          return (sw = kSwWrongP1P2), 0;
        }
        return 0;
      });
}

int TK_API Read_Binary(int handle, int p1, int offsetHigh, int offsetLow, int le, int count,
                       unsigned char* buffer, unsigned short* status) {
  return Command(
      "Read_Binary", handle, true, status,
      Format("handle=%d p1=%d offset=%04X le=%d count=%d", handle, p1,
             static_cast<unsigned>((offsetHigh & 0xFF) * 256 + (offsetLow & 0xFF)), le, count),
      [&](Connection& c, int& sw) {
        if (!buffer) return kNullBuffer;
        if (p1 != 0) return (sw = kSwWrongP1P2), 0;
        if (count < 1 || count > 128) return (sw = kSwWrongLength), 0;
        if (c.ef == 0) return (sw = kSwNoCurrentEf), 0;
        if (offsetHigh < 0 || offsetHigh > 0x7F || offsetLow < 0 || offsetLow > 0xFF)
          return (sw = kSwWrongOffset), 0;
        const size_t offset = static_cast<size_t>(offsetHigh * 256 + offsetLow);
        if (offset >= c.efBytes.size()) return (sw = kSwWrongOffset), 0;
        size_t n = static_cast<size_t>(count);
        if (offset + n > c.efBytes.size()) {
          n = c.efBytes.size() - offset;
          sw = kSwEndOfFile;
        }
        std::memcpy(buffer, c.efBytes.data() + offset, n);
        return 0;
      });
}

int TK_API Verify_Pin(int handle, int p1, int length, const unsigned char* pinBlock,
                      unsigned short* status) {
  return Command("Verify_Pin", handle, true, status,
                 Format("handle=%d p1=%d len=%d", handle, p1, length), [&](Connection& c, int& sw) {
                   if (!pinBlock) return kNullBuffer;
                   if (p1 != 0) return (sw = kSwWrongP1P2), 0;
                   if (length != 6) return (sw = kSwWrongLength), 0;
                   // Tries left live in the bay: Keyfold unloads this
                   // library after every connection.
                   UniqueHandle mutex = OpenBayMutex(c.bay);
                   MutexLock bayLock(mutex.get());
                   TokenState state = ReadState(c.folder);
                   auto it = state.find(kTriesLeftKey);
                   int tries = it == state.end() ? c.settings.maxTries : it->second;
                   if (tries <= 0) {
                     c.verified = false;
                     return (sw = kSwBlocked), 0;
                   }
                   unsigned char expected[keyfold::kPinBlockSize] = {};
                   keyfold::MakePinBlock(c.settings.pin.c_str(), expected);
                   const bool match = std::memcmp(expected, pinBlock, 6) == 0;
                   Wipe(expected, sizeof expected);
                   tries = match ? c.settings.maxTries : tries - 1;
                   state[kTriesLeftKey] = tries;
                   WriteState(c.folder, state);
                   c.verified = match;
                   sw = match ? kSwOk : 0x63C0 | tries;
                   return 0;
                 });
}

int TK_API Write_Key(int handle, int cla, int p1, int p2, int length, const unsigned char* record,
                     unsigned short* status) {
  return Command("Write_Key", handle, true, status,
                 Format("handle=%d cla=%02X p1=%d p2=%d len=%d", handle, static_cast<unsigned>(cla & 0xFF),
                        p1, p2, length),
                 [&](Connection& c, int& sw) {
                   if (!record) return kNullBuffer;
                   if (cla != 0x80 || p1 != 1 || p2 != 12) return (sw = kSwWrongP1P2), 0;
                   if (length != 19) return (sw = kSwWrongLength), 0;
                   if (!c.verified) return (sw = kSwSecurity), 0;
                   // 0x1C 0x08 0x00, the PIN text, zero bytes up to 19.
                   if (record[0] != 0x1C || record[1] != 0x08 || record[2] != 0x00)
                     return (sw = kSwWrongData), 0;
                   size_t n = 0;
                   while (n < 16 && record[3 + n] != 0) ++n;
                   for (size_t i = 3 + n; i < 19; ++i)
                     if (record[i] != 0) return (sw = kSwWrongData), 0;
                   if (n < 2 || n > 8) return (sw = kSwWrongData), 0;
                   const int d = c.DfIndex();
                   PinKey(reinterpret_cast<const char*>(record + 3), n, c.key[d]);
                   c.haveKey[d] = true;
                   return 0;
                 });
}

int TK_API Get_Challenge(int handle, int length, unsigned char* challenge, unsigned short* status) {
  return Command("Get_Challenge", handle, true, status, Format("handle=%d len=%d", handle, length),
                 [&](Connection& c, int& sw) {
                   if (!challenge) return kNullBuffer;
                   if (length != 8) return (sw = kSwWrongLength), 0;
                   // Fresh bytes per call, so a reply cannot be replayed.
                   LARGE_INTEGER t{};
                   QueryPerformanceCounter(&t);
                   unsigned char seed[8];
                   std::memcpy(seed, &t, 8);
                   const unsigned char mix[8] = {'t', 's', 'i', 'm', 'c', 'h', 'l', 'g'};
                   Encipher(mix, seed, c.challenge);
                   std::memcpy(challenge, c.challenge, 8);
                   c.haveChallenge = true;
                   return 0;
                 });
}

int TK_API Internal_Authentication(int handle, int length, const unsigned char* challenge,
                                   unsigned char* reply, unsigned short* status) {
  return Command("Internal_Authentication", handle, true, status,
                 Format("handle=%d len=%d", handle, length), [&](Connection& c, int& sw) {
                   if (!challenge || !reply) return kNullBuffer;
                   if (length != 8) return (sw = kSwWrongLength), 0;
                   const int d = c.DfIndex();
                   if (!c.haveKey[d]) return (sw = kSwConditions), 0;
                   // The card enciphers the host's bytes under the key
                   // that Write_Key stored in this directory.
                   Encipher(c.key[d], challenge, reply);
                   return 0;
                 });
}

int TK_API External_Authentication(int handle, int length, const unsigned char* reply,
                                   unsigned short* status) {
  return Command("External_Authentication", handle, true, status,
                 Format("handle=%d len=%d", handle, length), [&](Connection& c, int& sw) {
                   if (!reply) return kNullBuffer;
                   if (length < 1 || length > 8) return (sw = kSwWrongLength), 0;
                   if (!c.haveChallenge) return (sw = kSwConditions), 0;
                   // Accepted when the reply is the card's own challenge
                   // under the key of the token's real PIN: a record written
                   // with another PIN cannot produce it.
                   unsigned char key[8];
                   unsigned char expected[8];
                   PinKey(c.settings.pin.c_str(), c.settings.pin.size(), key);
                   Encipher(key, c.challenge, expected);
                   const bool ok = std::memcmp(expected, reply, static_cast<size_t>(length)) == 0;
                   Wipe(key, sizeof key);
                   Wipe(expected, sizeof expected);
                   c.haveChallenge = false;  // one reply per challenge
                   sw = ok ? kSwOk : kSwSecurity;
                   return 0;
                 });
}

// Bound by Keyfold but never called: present, traced, and answered the way
// a card answers an instruction it does not implement.
#define TS_UNSUPPORTED(name, ...)                                                           \
  int TK_API name(int handle, __VA_ARGS__, unsigned short* status) {                        \
    return Command(#name, handle, true, status, Format("handle=%d", handle),                \
                   [&](Connection&, int& sw) { return (sw = kSwNoInstruction), 0; });       \
  }

TS_UNSUPPORTED(Update_Binary, int, int, int, const unsigned char*)
TS_UNSUPPORTED(Change_Pin, int, const unsigned char*, const unsigned char*)
TS_UNSUPPORTED(Reload_Pin, int, const unsigned char*)
TS_UNSUPPORTED(Create_File, const unsigned char*, int)
TS_UNSUPPORTED(Generate_Rsa_Key, int)
TS_UNSUPPORTED(Rsa_Encrypt, int, const unsigned char*, unsigned char*)
TS_UNSUPPORTED(Rsa_Decrypt, int, const unsigned char*, unsigned char*)

}  // extern "C"

// Every export must have exactly the type that Keyfold binds.
namespace {
[[maybe_unused]] const PFN_TK_Open kCheck1 = &TK_Open;
[[maybe_unused]] const PFN_TK_OpenByPath kCheck2 = &TK_OpenByPath;
[[maybe_unused]] const PFN_TK_Close kCheck3 = &TK_Close;
[[maybe_unused]] const PFN_TK_IC_RESET kCheck4 = &TK_IC_RESET;
[[maybe_unused]] const PFN_TK_GET_BCDSN kCheck5 = &TK_GET_BCDSN;
[[maybe_unused]] const PFN_TK_GetDevicePath kCheck6 = &TK_GetDevicePath;
[[maybe_unused]] const PFN_Select_File kCheck7 = &Select_File;
[[maybe_unused]] const PFN_Read_Binary kCheck8 = &Read_Binary;
[[maybe_unused]] const PFN_Update_Binary kCheck9 = &Update_Binary;
[[maybe_unused]] const PFN_Verify_Pin kCheck10 = &Verify_Pin;
[[maybe_unused]] const PFN_Change_Pin kCheck11 = &Change_Pin;
[[maybe_unused]] const PFN_Reload_Pin kCheck12 = &Reload_Pin;
[[maybe_unused]] const PFN_Write_Key kCheck13 = &Write_Key;
[[maybe_unused]] const PFN_Get_Challenge kCheck14 = &Get_Challenge;
[[maybe_unused]] const PFN_Internal_Authentication kCheck15 = &Internal_Authentication;
[[maybe_unused]] const PFN_External_Authentication kCheck16 = &External_Authentication;
[[maybe_unused]] const PFN_Create_File kCheck17 = &Create_File;
[[maybe_unused]] const PFN_Generate_Rsa_Key kCheck18 = &Generate_Rsa_Key;
[[maybe_unused]] const PFN_Rsa_Encrypt kCheck19 = &Rsa_Encrypt;
[[maybe_unused]] const PFN_Rsa_Decrypt kCheck20 = &Rsa_Decrypt;
}  // namespace
