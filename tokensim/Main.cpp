// tokensim.exe: plug and unplug virtual tokens, inspect the bay and the
// command trace, inject faults, hold the token lock. A thin command line
// over the control library; exit codes are for scripts:
//   0 done, 1 usage, 2 token folder missing or malformed, 3 no such plugged
//   token, 4 clashes with a plugged token, 5 file or library error.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tokensim/Control.h"
#include "tokensim/Win32.h"
#include "keyfold/token/TokenLibraryApi.h"

namespace {

using namespace tokensim;

constexpr int kExitOk = 0, kExitUsage = 1, kExitFolder = 2, kExitNoToken = 3, kExitClash = 4,
              kExitIo = 5;

const char kUsage[] =
    "usage: tokensim [--bay DIR] COMMAND\n"
    "  plug FOLDER              plug the token described by FOLDER\\token.ini\n"
    "  unplug SERIAL|all        unplug one token (8 hex digits) or every token\n"
    "  list                     list the plugged tokens\n"
    "  trace [--clear|--on|--off]  print, clear, enable or disable the command trace\n"
    "  fault SERIAL FUNCTION [result=N] [status=XXXX] [from=N] [count=N] [latency=MS]\n"
    "  fault SERIAL --clear     remove every fault of a token\n"
    "  tries SERIAL N           set the PIN tries left\n"
    "  lock MS                  hold the token lock for MS milliseconds\n"
    "The bay is %s (environment variable TOKENSIM_BAY).\n";

int Fail(int code, const std::string& message) {
  std::fprintf(stderr, "tokensim: %s\n", message.c_str());
  return code;
}

int ExitFor(int rc) {
  switch (rc) {
    case kOk: return kExitOk;
    case kErrNotFound: return kExitNoToken;
    case kErrConflict: return kExitClash;
    case kErrMalformed:
    case kErrArgument: return kExitUsage;
    default: return kExitIo;
  }
}

std::string DriverText(int index) {
  return index == kNoDriverIndex ? std::string("none") : std::to_string(index);
}

int Plug(const std::string& folder) {
  std::string error;
  const int rc = PlugFolder(folder, error);
  if (rc == kErrNotFound || rc == kErrMalformed || rc == kErrArgument)
    return Fail(kExitFolder, Format("%s: %s", folder.c_str(), error.c_str()));
  if (rc != kOk) return Fail(ExitFor(rc), Format("%s: %s", folder.c_str(), error.c_str()));
  TokenSettings settings;
  ReadTokenFolder(folder, settings, error);
  std::printf("plugged %s at driver index %s: %s\n", settings.SerialName().c_str(),
              DriverText(settings.driverIndex).c_str(), settings.DevicePath().c_str());
  return kExitOk;
}

int UnplugCommand(const std::string& serial) {
  if (serial == "all") return ExitFor(UnplugAll());
  const int rc = Unplug(serial);
  if (rc == kErrArgument) return Fail(kExitUsage, Format("'%s' is not a serial (8 hex digits)", serial.c_str()));
  if (rc == kErrNotFound) return Fail(kExitNoToken, Format("no token %s is plugged", serial.c_str()));
  if (rc != kOk) return Fail(kExitIo, Format("cannot unplug %s", serial.c_str()));
  std::printf("unplugged %s\n", serial.c_str());
  return kExitOk;
}

int List() {
  std::vector<PluggedToken> tokens;
  ListPlugged(tokens);
  for (const PluggedToken& t : tokens) {
    std::printf("%s  driver %s  tries %d/%d  faults %u  %s\n", t.serialName.c_str(),
                DriverText(t.settings.driverIndex).c_str(), t.triesLeft, t.settings.maxTries,
                static_cast<unsigned>(t.settings.faults.size()), t.settings.DevicePath().c_str());
  }
  return kExitOk;
}

int TraceCommand(const std::string& option) {
  if (option == "--clear") return ExitFor(ClearTrace());
  if (option == "--on") return ExitFor(EnableTrace(true));
  if (option == "--off") return ExitFor(EnableTrace(false));
  if (!option.empty()) return Fail(kExitUsage, Format("unknown trace option '%s'", option.c_str()));
  std::vector<unsigned char> bytes;
  const std::string path = JoinPath(BayFolder(), "trace.log");
  if (FileExists(path) && !ReadWholeFile(path, bytes)) return Fail(kExitIo, Format("cannot read %s", path.c_str()));
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  if (!TraceEnabled()) std::fprintf(stderr, "tokensim: the trace is off (tokensim trace --on)\n");
  return kExitOk;
}

bool IntValue(const std::string& text, long lo, long hi, int& out) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || v < lo || v > hi) return false;
  out = static_cast<int>(v);
  return true;
}

int FaultCommand(const std::vector<std::string>& args) {
  if (args.size() < 2) return Fail(kExitUsage, "fault needs SERIAL and FUNCTION or --clear");
  if (args[1] == "--clear") return ExitFor(ClearFaults(args[0]));
  Fault f;
  f.function = args[1];
  f.fails = false;
  for (size_t i = 2; i < args.size(); ++i) {
    const size_t eq = args[i].find('=');
    const std::string key = args[i].substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : args[i].substr(eq + 1);
    bool ok = true;
    if (key == "result") {
      ok = IntValue(value, -2147483647L, 2147483647L, f.result);
      f.fails = true;
    } else if (key == "status") {
      char* end = nullptr;
      const unsigned long v = std::strtoul(value.c_str(), &end, 16);
      ok = value.size() == 4 && !*end;
      f.status = static_cast<int>(v);
      if (f.fails == false) f.result = 0;
      f.fails = true;
    } else if (key == "from") {
      ok = IntValue(value, 1, 1000000, f.from);
    } else if (key == "count") {
      ok = IntValue(value, 0, 1000000, f.count);
    } else if (key == "latency") {
      ok = IntValue(value, 0, 60000, f.latencyMs);
    } else {
      ok = false;
    }
    if (!ok) return Fail(kExitUsage, Format("bad fault setting '%s'", args[i].c_str()));
  }
  if (!f.fails && f.latencyMs == 0) f.fails = true;  // a bare fault fails with result -1
  const int rc = SetFault(args[0], f);
  if (rc == kErrArgument) return Fail(kExitUsage, Format("no card function '%s' or bad serial '%s'", f.function.c_str(), args[0].c_str()));
  if (rc == kErrNotFound) return Fail(kExitNoToken, Format("no token %s is plugged", args[0].c_str()));
  return ExitFor(rc);
}

int TriesCommand(const std::vector<std::string>& args) {
  int n = 0;
  if (args.size() != 2 || !IntValue(args[1], 0, 15, n))
    return Fail(kExitUsage, "tries needs SERIAL and 0-15");
  const int rc = SetTriesLeft(args[0], n);
  if (rc == kErrNotFound) return Fail(kExitNoToken, Format("no token %s is plugged", args[0].c_str()));
  if (rc == kErrArgument) return Fail(kExitUsage, Format("tries out of range for %s", args[0].c_str()));
  return ExitFor(rc);
}

// Holds the lock through tk_cspext.dll itself, so the hold is the one that
// Keyfold and the key provider meet.
int LockCommand(const std::string& ms) {
  int n = 0;
  if (!IntValue(ms, 0, 600000, n)) return Fail(kExitUsage, Format("lock needs milliseconds, not '%s'", ms.c_str()));
  UniqueModule lib(LoadLibraryExA("tk_cspext.dll", nullptr,
                                  LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
  auto enter = reinterpret_cast<PFN_TK_EnterMutex>(GetProcAddress(lib.get(), "TK_EnterMutex"));
  auto leave = reinterpret_cast<PFN_TK_LeaveMutex>(GetProcAddress(lib.get(), "TK_LeaveMutex"));
  if (!enter || !leave) return Fail(kExitIo, "cannot load tk_cspext.dll");
  if (enter() != 0) return Fail(kExitIo, "cannot take the token lock");
  std::printf("locked\n");
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(n));
  leave();
  return kExitOk;
}

int Run(std::vector<std::string> args) {
  if (args.size() >= 2 && args[0] == "--bay") {
    SetBayFolder(args[1]);
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::fprintf(args.empty() ? stderr : stdout, kUsage, BayFolder().c_str());
    return args.empty() ? kExitUsage : kExitOk;
  }
  const std::string cmd = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (cmd == "plug" && rest.size() == 1) return Plug(rest[0]);
  if (cmd == "unplug" && rest.size() == 1) return UnplugCommand(rest[0]);
  if (cmd == "list" && rest.empty()) return List();
  if (cmd == "trace" && rest.size() <= 1) return TraceCommand(rest.empty() ? std::string() : rest[0]);
  if (cmd == "fault") return FaultCommand(rest);
  if (cmd == "tries") return TriesCommand(rest);
  if (cmd == "lock" && rest.size() == 1) return LockCommand(rest[0]);
  std::fprintf(stderr, kUsage, BayFolder().c_str());
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (...) {
    std::fprintf(stderr, "tokensim: out of memory\n");
    return kExitIo;
  }
}
