// Pieces of the bay shared by the token libraries and the control library.
#pragma once

#include <map>
#include <string>

#include "Control.h"
#include "Win32.h"

namespace tokensim {

bool ValidDevicePath(const std::string& path, std::string& why);
bool IsCardFunction(const std::string& name);  // an export of tk_cosapi.dll

// Guards every read-modify-write of a token's state across processes.
UniqueHandle OpenBayMutex(const std::string& bay);

std::string TokenFolderInBay(const std::string& bay, const std::string& serialName);

using TokenState = std::map<std::string, int>;
TokenState ReadState(const std::string& tokenFolder);
bool WriteState(const std::string& tokenFolder, const TokenState& state);
constexpr const char* kTriesLeftKey = "tries left";
constexpr const char* kPlugIdFile = "plug.id";  // new for every plug

// What the token's fault settings make of one call of a function.
struct FaultDecision {
  int latencyMs = 0;
  bool fails = false;
  int result = 0;
  int status = -1;
};
// Counts the call in the bay when a failing fault is set for the function.
FaultDecision ConsultFaults(const std::string& bay, const std::string& tokenFolder,
                            const TokenSettings& settings, const char* function);

}  // namespace tokensim
