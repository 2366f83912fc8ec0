#include "keyfold/token/TokenConnection.h"

#include <optional>
#include <utility>

#include "keyfold/token/LibraryModule.h"
#include "keyfold/token/TokenLibraries.h"

namespace keyfold {
namespace {

constexpr char kCardLibrary[] = "tk_cosapi.dll";
constexpr DWORD kClosePauseMs = 100;

bool BindFull(HMODULE m, TokenCommands& t) {
  return BindExport(m, "TK_Open", t.TK_Open) && BindExport(m, "TK_Close", t.TK_Close) &&
         BindExport(m, "TK_IC_RESET", t.TK_IC_RESET) &&
         BindExport(m, "Change_Pin", t.Change_Pin) &&
         BindExport(m, "Create_File", t.Create_File) &&
         BindExport(m, "External_Authentication", t.External_Authentication) &&
         BindExport(m, "Internal_Authentication", t.Internal_Authentication) &&
         BindExport(m, "Reload_Pin", t.Reload_Pin) &&
         BindExport(m, "Get_Challenge", t.Get_Challenge) &&
         BindExport(m, "Generate_Rsa_Key", t.Generate_Rsa_Key) &&
         BindExport(m, "Read_Binary", t.Read_Binary) &&
         BindExport(m, "Rsa_Decrypt", t.Rsa_Decrypt) &&
         BindExport(m, "Rsa_Encrypt", t.Rsa_Encrypt) &&
         BindExport(m, "Select_File", t.Select_File) &&
         BindExport(m, "Update_Binary", t.Update_Binary) &&
         BindExport(m, "Verify_Pin", t.Verify_Pin) && BindExport(m, "Write_Key", t.Write_Key) &&
         BindExport(m, "TK_GetDevicePath", t.TK_GetDevicePath) &&
         BindExport(m, "TK_GET_BCDSN", t.TK_GET_BCDSN) &&
         BindExport(m, "TK_OpenByPath", t.TK_OpenByPath);
}

bool BindReader(HMODULE m, ReaderCommands& t) {
  return BindExport(m, "TK_Close", t.TK_Close) && BindExport(m, "Read_Binary", t.Read_Binary) &&
         BindExport(m, "Select_File", t.Select_File) &&
         BindExport(m, "TK_IC_RESET", t.TK_IC_RESET) &&
         BindExport(m, "TK_GET_BCDSN", t.TK_GET_BCDSN) &&
         BindExport(m, "TK_OpenByPath", t.TK_OpenByPath);
}

// The members go in reverse order, so dropping a connection on any path
// unloads the library first and leaves the lock last, as a close does.
struct FullConnection {
  TokenLockHold lock;
  UniqueModule module;
  TokenCommands commands{};
  int handle = 0;
};

std::optional<FullConnection> g_full;

// The reader binding lives apart from the connection: when an unload fails
// it stays bound and the next reader open uses it again.
struct ReaderBinding {
  UniqueModule module;
  ReaderCommands commands{};
};

struct ReaderConnection {
  TokenLockHold lock;
  int handle = 0;
};

std::optional<ReaderBinding> g_readerBinding;
std::optional<ReaderConnection> g_reader;

bool UnloadReaderBinding() {
  if (!g_readerBinding) return true;
  if (!g_readerBinding->module.reset()) return false;
  g_readerBinding.reset();
  return true;
}

template <class OpenFn>
int OpenFull(OpenFn open) {
  if (g_full) return kOpenTokenFailed;
  FullConnection c;
  if (!c.lock.Enter()) return kOpenTokenFailed;
  c.module = LoadTokenLibrary(kCardLibrary);
  if (!c.module || !BindFull(c.module.get(), c.commands)) return kOpenTokenFailed;
  const int handle = open(c.commands);
  if (handle <= 0) return kOpenTokenFailed;
  unsigned char answer[128] = {};
  c.commands.TK_IC_RESET(handle, answer);
  c.handle = handle;
  g_full.emplace(std::move(c));
  return handle;
}

}  // namespace

int OpenTokenByIndex(int index) {
  return OpenFull([index](const TokenCommands& t) { return t.TK_Open(index); });
}

int OpenTokenByPath(const char* devicePath) {
  if (devicePath == nullptr) return kOpenTokenFailed;
  return OpenFull([devicePath](const TokenCommands& t) { return t.TK_OpenByPath(devicePath); });
}

int CloseToken(int handle) {
  if (!g_full || g_full->handle != handle) return 1;
  g_full->commands.TK_Close(handle);
  Sleep(kClosePauseMs);
  g_full->module.reset();
  g_full->lock.Leave();
  g_full.reset();
  return 1;
}

const TokenCommands* FullConnectionCommands(int handle) {
  if (!g_full || handle <= 0 || g_full->handle != handle) return nullptr;
  return &g_full->commands;
}

int OpenTokenReader(const char* devicePath) {
  if (devicePath == nullptr || g_reader) return kTokenReaderFailed;
  TokenLockHold lock;
  if (!lock.Enter()) return kTokenReaderFailed;
  if (!g_readerBinding) {
    ReaderBinding b;
    b.module = LoadTokenLibrary(kCardLibrary);
    if (!b.module || !BindReader(b.module.get(), b.commands)) return kTokenReaderFailed;
    g_readerBinding.emplace(std::move(b));
  }
  const ReaderCommands& t = g_readerBinding->commands;
  const int handle = t.TK_OpenByPath(devicePath);
  if (handle > 0) {
    unsigned char answer[64] = {};
    if (t.TK_IC_RESET(handle, answer) == 0) {
      g_reader.emplace(ReaderConnection{std::move(lock), handle});
      return handle;
    }
    // Closed while the lock is still held: the close is a card command too.
    t.TK_Close(handle);
  }
  lock.Leave();
  UnloadReaderBinding();
  return kTokenReaderFailed;
}

int CloseTokenReader(int handle) {
  if (!g_readerBinding) return 0;
  if (!g_reader || g_reader->handle != handle) return kCloseTokenReaderFailed;
  const int closed = g_readerBinding->commands.TK_Close(handle);
  g_reader.reset();  // leaves the lock
  if (closed != 0) {
    UnloadReaderBinding();
    return kCloseTokenReaderFailed;
  }
  Sleep(kClosePauseMs);
  return UnloadReaderBinding() ? 0 : kCloseTokenReaderFailed;
}

const ReaderCommands* ReaderConnectionCommands(int handle) {
  if (!g_reader || !g_readerBinding || handle <= 0 || g_reader->handle != handle) return nullptr;
  return &g_readerBinding->commands;
}

}  // namespace keyfold
