#include <cstdlib>

#include "Control.h"
#include "TokenInternal.h"
#include "Win32.h"

namespace tokensim {

namespace {

HMODULE ThisModule() {
  HMODULE m = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&ThisModule), &m);
  return m;
}

bool IsTokenName(const std::string& name) { return !name.empty() && name[0] != '.'; }

std::string NormalSerial(const std::string& serial) {
  std::vector<unsigned char> b;
  if (!ParseHex(serial, b) || b.size() < 4) return std::string();
  return HexBytes(b.data(), 4);
}

int CheckSettings(const TokenSettings& settings, std::string& why) {
  if (settings.serial.size() < 4 || settings.serial.size() > 64) {
    why = "serial must be 4 to 64 bytes";
    return kErrArgument;
  }
  if (settings.driverIndex < kNoDriverIndex || settings.driverIndex > 3) {
    why = "driver index must be 0-3 or none";
    return kErrArgument;
  }
  if (settings.pin.size() < 2 || settings.pin.size() > 8) {
    why = "PIN must be 2-8 bytes";
    return kErrArgument;
  }
  if (settings.maxTries < 1 || settings.maxTries > 15 || settings.triesLeft > settings.maxTries) {
    why = "tries must be 1-15 and tries left at most tries";
    return kErrArgument;
  }
  if (!settings.devicePath.empty() && !ValidDevicePath(settings.devicePath, why)) {
    why = "path " + why;
    return kErrArgument;
  }
  return kOk;
}

}  // namespace

std::string BayFolder() {
  std::string bay = EnvironmentValue(kBayVariable);
  if (bay.empty()) bay = JoinPath(FolderOfModule(ThisModule()), "bay");
  while (bay.size() > 3 && (bay.back() == '\\' || bay.back() == '/')) bay.pop_back();
  return bay;
}

void SetBayFolder(const std::string& folder) { SetEnvironmentVariableA(kBayVariable, folder.c_str()); }

UniqueHandle OpenBayMutex(const std::string& bay) {
  const std::string name = "tokensim.bay." + NameHash(bay);
  return UniqueHandle(CreateMutexA(nullptr, FALSE, name.c_str()));
}

std::string TokenFolderInBay(const std::string& bay, const std::string& serialName) {
  return JoinPath(bay, serialName);
}

TokenState ReadState(const std::string& tokenFolder) {
  TokenState state;
  std::vector<unsigned char> bytes;
  if (!ReadWholeFile(JoinPath(tokenFolder, "state.ini"), bytes)) return state;
  std::string text(bytes.begin(), bytes.end());
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    const std::string line = text.substr(pos, nl - pos);
    const size_t eq = line.find('=');
    if (eq != std::string::npos)
      state[line.substr(0, eq)] = std::atoi(line.c_str() + eq + 1);
    pos = nl + 1;
  }
  return state;
}

bool WriteState(const std::string& tokenFolder, const TokenState& state) {
  std::string text;
  for (const auto& [k, v] : state) text += Format("%s=%d\r\n", k.c_str(), v);
  return WriteWholeFile(JoinPath(tokenFolder, "state.ini"), text);
}

FaultDecision ConsultFaults(const std::string& bay, const std::string& tokenFolder,
                            const TokenSettings& settings, const char* function) {
  FaultDecision d;
  const Fault* failing = nullptr;
  for (const Fault& f : settings.faults) {
    const bool exact = f.function == function;
    if (!exact && f.function != "*") continue;
    if (f.latencyMs > d.latencyMs) d.latencyMs = f.latencyMs;
    // A fault named for the function wins over one for every function.
    if (f.fails && (!failing || exact)) failing = &f;
  }
  if (!failing) return d;
  int n = 0;
  {
    UniqueHandle mutex = OpenBayMutex(bay);
    MutexLock lock(mutex.get());
    TokenState state = ReadState(tokenFolder);
    n = ++state[std::string("calls.") + function];
    WriteState(tokenFolder, state);
  }
  if (n >= failing->from && (failing->count == 0 || n < failing->from + failing->count)) {
    d.fails = true;
    d.result = failing->result;
    d.status = failing->status;
  }
  return d;
}

int ResetBay() {
  int rc = UnplugAll();
  EnableTrace(false);
  ClearTrace();
  return rc;
}

int Plug(const TokenSettings& settings, std::string* error) {
  std::string why;
  int rc = CheckSettings(settings, why);
  if (rc != kOk) {
    if (error) *error = why;
    return rc;
  }
  const std::string bay = BayFolder();
  if (!CreateDirectories(bay)) {
    if (error) *error = "cannot create the bay " + bay;
    return kErrIo;
  }
  UniqueHandle mutex = OpenBayMutex(bay);
  MutexLock lock(mutex.get());
  std::vector<PluggedToken> plugged;
  ListPlugged(plugged);
  for (const PluggedToken& t : plugged) {
    const char* clash = nullptr;
    if (t.serialName == settings.SerialName())
      clash = "serial";
    else if (settings.driverIndex != kNoDriverIndex && t.settings.driverIndex == settings.driverIndex)
      clash = "driver index";
    else if (EqualNoCase(t.settings.DevicePath(), settings.DevicePath()))
      clash = "device path";
    if (clash) {
      if (error) *error = Format("token %s already plugged with the same %s", t.serialName.c_str(), clash);
      return kErrConflict;
    }
  }
  // Built aside and renamed in, so a watcher never sees half a token.
  const std::string temp =
      JoinPath(bay, Format(".plug.%s.%lu", settings.SerialName().c_str(), GetCurrentProcessId()));
  DeleteTree(temp);
  rc = WriteTokenFolder(temp, settings);
  if (rc == kOk) {
    // What the libraries will read back must be what was described.
    TokenSettings check;
    std::string why2;
    if (ReadTokenFolder(temp, check, why2) != kOk) {
      DeleteTree(temp);
      if (error) *error = why2;
      return kErrArgument;
    }
  }
  TokenState state;
  state[kTriesLeftKey] = settings.triesLeft < 0 ? settings.maxTries : settings.triesLeft;
  if (rc == kOk && !WriteState(temp, state)) rc = kErrIo;
  // Tells the watchers a new plug from the same token plugged again
  // between two of their looks.
  if (rc == kOk && !WriteWholeFile(JoinPath(temp, kPlugIdFile),
                                   Format("%lu-%lu-%.3f", GetCurrentProcessId(), GetTickCount(), NowMs())))
    rc = kErrIo;
  if (rc == kOk && !MoveFileA(temp.c_str(), TokenFolderInBay(bay, settings.SerialName()).c_str()))
    rc = kErrIo;
  if (rc != kOk) {
    DeleteTree(temp);
    if (error) *error = "cannot write the token into the bay " + bay;
    return rc;
  }
  AppendTrace("tokensim", "plug", 0, -1,
              Format("serial=%s driver=%d path=%s", settings.SerialName().c_str(), settings.driverIndex,
                     settings.DevicePath().c_str()));
  return kOk;
}

int PlugFolder(const std::string& folder, std::string& error) {
  TokenSettings settings;
  const int rc = ReadTokenFolder(folder, settings, error);
  if (rc != kOk) return rc;
  return Plug(settings, &error);
}

int Unplug(const std::string& serial) {
  const std::string name = NormalSerial(serial);
  if (name.empty()) return kErrArgument;
  const std::string bay = BayFolder();
  UniqueHandle mutex = OpenBayMutex(bay);
  MutexLock lock(mutex.get());
  const std::string folder = TokenFolderInBay(bay, name);
  if (!DirectoryExists(folder)) return kErrNotFound;
  const std::string gone =
      JoinPath(bay, Format(".gone.%s.%lu.%lu", name.c_str(), GetCurrentProcessId(), GetTickCount()));
  // A reader in another process may hold one of the token's files open for
  // a moment, which keeps Windows from renaming the folder.
  bool moved = false;
  for (int attempt = 0; attempt < 50 && !moved; ++attempt) {
    moved = MoveFileA(folder.c_str(), gone.c_str()) != 0;
    if (!moved) Sleep(10);
  }
  if (!moved) return kErrIo;
  DeleteTree(gone);
  AppendTrace("tokensim", "unplug", 0, -1, "serial=" + name);
  return kOk;
}

int UnplugAll() {
  int rc = kOk;
  for (const std::string& name : ListSubdirectories(BayFolder())) {
    if (!IsTokenName(name)) continue;
    const int r = Unplug(name);
    if (r != kOk && r != kErrNotFound) rc = r;
  }
  return rc;
}

int ReadPlugged(const std::string& serial, PluggedToken& token) {
  const std::string name = NormalSerial(serial);
  if (name.empty()) return kErrArgument;
  const std::string folder = TokenFolderInBay(BayFolder(), name);
  std::string error;
  const int rc = ReadTokenFolder(folder, token.settings, error);
  if (rc != kOk) return rc;
  token.serialName = name;
  const TokenState state = ReadState(folder);
  auto it = state.find(kTriesLeftKey);
  token.triesLeft = it == state.end() ? token.settings.maxTries : it->second;
  return kOk;
}

int ListPlugged(std::vector<PluggedToken>& tokens) {
  tokens.clear();
  for (const std::string& name : ListSubdirectories(BayFolder())) {
    if (!IsTokenName(name)) continue;
    PluggedToken t;
    if (ReadPlugged(name, t) == kOk) tokens.push_back(std::move(t));
  }
  return kOk;
}

namespace {

// Rewrites a plugged token's settings; the card files are rewritten from
// the same bytes, the state stays.
template <typename Change>
int ChangePlugged(const std::string& serial, Change change) {
  const std::string bay = BayFolder();
  UniqueHandle mutex = OpenBayMutex(bay);
  MutexLock lock(mutex.get());
  PluggedToken t;
  int rc = ReadPlugged(serial, t);
  if (rc != kOk) return rc;
  const std::string folder = TokenFolderInBay(bay, t.serialName);
  TokenState state = ReadState(folder);
  rc = change(t.settings, state);
  if (rc != kOk) return rc;
  rc = WriteTokenFolder(folder, t.settings);
  if (rc == kOk && !WriteState(folder, state)) rc = kErrIo;
  return rc;
}

}  // namespace

int SetFault(const std::string& serial, const Fault& fault) {
  if ((fault.function != "*" && !IsCardFunction(fault.function)) || fault.from < 1 || fault.count < 0 || fault.latencyMs < 0 ||
      fault.latencyMs > 60000 || fault.status > 0xFFFF)
    return kErrArgument;
  return ChangePlugged(serial, [&](TokenSettings& settings, TokenState& state) {
    for (auto it = settings.faults.begin(); it != settings.faults.end();)
      it = it->function == fault.function ? settings.faults.erase(it) : it + 1;
    settings.faults.push_back(fault);
    state.erase("calls." + fault.function);
    return kOk;
  });
}

int SetLatency(const std::string& serial, const std::string& function, int ms) {
  Fault f;
  f.function = function;
  f.fails = false;
  f.latencyMs = ms;
  return SetFault(serial, f);
}

int ClearFaults(const std::string& serial) {
  return ChangePlugged(serial, [](TokenSettings& settings, TokenState& state) {
    settings.faults.clear();
    for (auto it = state.begin(); it != state.end();)
      it = it->first.compare(0, 6, "calls.") == 0 ? state.erase(it) : std::next(it);
    return kOk;
  });
}

int SetTriesLeft(const std::string& serial, int tries) {
  return ChangePlugged(serial, [&](TokenSettings& settings, TokenState& state) {
    if (tries < 0 || tries > settings.maxTries) return kErrArgument;
    state[kTriesLeftKey] = tries;
    return kOk;
  });
}

}  // namespace tokensim
