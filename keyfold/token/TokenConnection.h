// Token connections: a short-lived binding of tk_cosapi.dll that holds the
// cross-process token lock from its open to its close. The library is loaded
// by each open and unloaded by each close, so nothing of it stays loaded
// between operations. Users hold the int token handle that the open
// returned and pass it back to the close.
//
// Two kinds: the full connection binds all twenty names of the library and
// is what card commands go through (enumeration, registration, PIN check);
// the reader connection binds the six names that reading files and the
// serial needs. At most one connection of each kind is open at a time: a
// second open of the same kind fails and leaves the first one alone, since
// its close would otherwise unload the library under the other.
//
// Sending commands over an open full connection:
//
//   int token = keyfold::OpenTokenByPath(path);          // > 0 or -1000
//   if (token > 0) {
//     const keyfold::TokenCommands* card = keyfold::FullConnectionCommands(token);
//     unsigned short sw = 0;
//     card->Select_File(token, 0, 0, 2, masterFile, &sw);
//     ...
//     keyfold::CloseToken(token);                         // pointers are dead now
//   }
//
// or keep the connection in a ScopedTokenConnection, whose destructor closes
// it on every way out. Single-threaded: the user-interface thread only.
#pragma once

#include "keyfold/token/TokenLibraryApi.h"

namespace keyfold {

constexpr int kOpenTokenFailed = -1000;    // OpenTokenByIndex, OpenTokenByPath
constexpr int kTokenReaderFailed = 0;      // OpenTokenReader
constexpr int kCloseTokenReaderFailed = -100;

// All twenty names of tk_cosapi.dll, named as exported.
struct TokenCommands {
  PFN_TK_Open TK_Open;
  PFN_TK_Close TK_Close;
  PFN_TK_IC_RESET TK_IC_RESET;
  PFN_Change_Pin Change_Pin;
  PFN_Create_File Create_File;
  PFN_External_Authentication External_Authentication;
  PFN_Internal_Authentication Internal_Authentication;
  PFN_Reload_Pin Reload_Pin;
  PFN_Get_Challenge Get_Challenge;
  PFN_Generate_Rsa_Key Generate_Rsa_Key;
  PFN_Read_Binary Read_Binary;
  PFN_Rsa_Decrypt Rsa_Decrypt;
  PFN_Rsa_Encrypt Rsa_Encrypt;
  PFN_Select_File Select_File;
  PFN_Update_Binary Update_Binary;
  PFN_Verify_Pin Verify_Pin;
  PFN_Write_Key Write_Key;
  PFN_TK_GetDevicePath TK_GetDevicePath;
  PFN_TK_GET_BCDSN TK_GET_BCDSN;
  PFN_TK_OpenByPath TK_OpenByPath;
};

// The six names of the reader binding.
struct ReaderCommands {
  PFN_TK_Close TK_Close;
  PFN_Read_Binary Read_Binary;
  PFN_Select_File Select_File;
  PFN_TK_IC_RESET TK_IC_RESET;
  PFN_TK_GET_BCDSN TK_GET_BCDSN;
  PFN_TK_OpenByPath TK_OpenByPath;
};

// Full connection to the token at driver index 0-3 or at a device path:
// takes the lock, loads and binds the library, opens the token and resets
// the card (result ignored). Returns the handle (> 0) with the lock held, or
// -1000 with no lock held and the library unloaded. A negative handle from
// the library counts as no token, like 0.
int OpenTokenByIndex(int index);
int OpenTokenByPath(const char* devicePath);

// Closes the token, pauses 100 ms, unloads the library and leaves the lock;
// the pause falls inside the lock. Returns 1. A handle that is not the open
// full connection's closes nothing.
int CloseToken(int handle);

// The commands of the open full connection with this handle, or nullptr.
// Valid until that connection's CloseToken.
const TokenCommands* FullConnectionCommands(int handle);

// Reader connection: the handle with the lock held, or 0 with no lock held
// and the library unloaded. Success needs a handle and a reset that returns
// exactly 0.
int OpenTokenReader(const char* devicePath);

// Closes the token and leaves the lock; after a close that returned 0,
// pauses 100 ms outside the lock and unloads, returning 0 (-100 if the
// unload fails: the library then stays bound for the next open). A failed
// close unloads at once and returns -100. Returns 0 when no reader binding
// is loaded, and -100 for a handle that is not the open reader connection's.
int CloseTokenReader(int handle);

// The commands of the open reader connection with this handle, or nullptr.
const ReaderCommands* ReaderConnectionCommands(int handle);

// A full connection closed by its destructor, for callers that prefer not
// to pair OpenToken... and CloseToken by hand.
class ScopedTokenConnection {
 public:
  static ScopedTokenConnection OpenByIndex(int index) {
    return ScopedTokenConnection(OpenTokenByIndex(index));
  }
  static ScopedTokenConnection OpenByPath(const char* devicePath) {
    return ScopedTokenConnection(OpenTokenByPath(devicePath));
  }
  ScopedTokenConnection() = default;
  ~ScopedTokenConnection() { Close(); }
  ScopedTokenConnection(ScopedTokenConnection&& other) noexcept
      : m_nResult(other.m_nResult), m_nHandle(other.m_nHandle) {
    other.m_nHandle = 0;
  }
  ScopedTokenConnection& operator=(ScopedTokenConnection&& other) noexcept {
    if (this != &other) {
      Close();
      m_nResult = other.m_nResult;
      m_nHandle = other.m_nHandle;
      other.m_nHandle = 0;
    }
    return *this;
  }
  ScopedTokenConnection(const ScopedTokenConnection&) = delete;
  ScopedTokenConnection& operator=(const ScopedTokenConnection&) = delete;

  // What the open returned: the handle or -1000.
  int result() const { return m_nResult; }
  bool is_open() const { return m_nHandle > 0; }
  int handle() const { return m_nHandle; }
  // nullptr unless open.
  const TokenCommands* commands() const { return FullConnectionCommands(m_nHandle); }
  // CloseToken now (a no-op once closed); the destructor does it otherwise.
  void Close() {
    if (m_nHandle > 0) {
      int h = m_nHandle;
      m_nHandle = 0;
      CloseToken(h);
    }
  }

 private:
  explicit ScopedTokenConnection(int result)
      : m_nResult(result), m_nHandle(result > 0 ? result : 0) {}
  int m_nResult = kOpenTokenFailed;
  int m_nHandle = 0;
};

}  // namespace keyfold
