// The command trace: one line per call, appended by whichever process made
// the call. Each line goes out in a single append-mode write under a named
// mutex, so lines from concurrent processes never interleave.
#include <cstdlib>

#include "Control.h"
#include "TokenInternal.h"
#include "Win32.h"

namespace tokensim {

namespace {

std::string TracePath(const std::string& bay) { return JoinPath(bay, "trace.log"); }
std::string SwitchPath(const std::string& bay) { return JoinPath(bay, "trace.on"); }

UniqueHandle OpenTraceMutex(const std::string& bay) {
  const std::string name = "tokensim.trace." + NameHash(bay);
  return UniqueHandle(CreateMutexA(nullptr, FALSE, name.c_str()));
}

}  // namespace

std::string TraceRecord::Arg(const std::string& key) const {
  size_t pos = 0;
  const std::string want = key + "=";
  while (pos < args.size()) {
    size_t end = args.find(' ', pos);
    if (end == std::string::npos) end = args.size();
    if (args.compare(pos, want.size(), want) == 0)
      return args.substr(pos + want.size(), end - pos - want.size());
    pos = end + 1;
  }
  return std::string();
}

bool TraceEnabled() { return FileExists(SwitchPath(BayFolder())); }

int EnableTrace(bool on) {
  const std::string bay = BayFolder();
  if (!on) {
    DeleteFileA(SwitchPath(bay).c_str());
    return FileExists(SwitchPath(bay)) ? kErrIo : kOk;
  }
  if (!CreateDirectories(bay)) return kErrIo;
  return WriteWholeFile(SwitchPath(bay), std::string("on\r\n")) ? kOk : kErrIo;
}

int ClearTrace() {
  const std::string bay = BayFolder();
  UniqueHandle mutex = OpenTraceMutex(bay);
  MutexLock lock(mutex.get());
  DeleteFileA(TracePath(bay).c_str());
  return FileExists(TracePath(bay)) ? kErrIo : kOk;
}

void AppendTrace(const char* library, const char* function, int result, int status,
                 const std::string& args) {
  AppendTraceAt(NowMs(), library, function, result, status, args);
}

void AppendTraceAt(double timeMs, const char* library, const char* function, int result,
                   int status, const std::string& args) {
  const std::string bay = BayFolder();
  if (!FileExists(SwitchPath(bay))) return;
  const std::string statusText = status < 0 ? std::string("-") : Format("%04X", static_cast<unsigned>(status));
  // Arguments carry what callers passed (device paths, names): a line break
  // or tab in one would split the record and make the whole trace unreadable.
  std::string safeArgs = args;
  for (char& c : safeArgs)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  const std::string line = Format("%.3f\t%lu\t%s\t%s\t%d\t%s\t%s\r\n", timeMs, GetCurrentProcessId(),
                                  library, function, result, statusText.c_str(), safeArgs.c_str());
  UniqueHandle mutex = OpenTraceMutex(bay);
  MutexLock lock(mutex.get());
  UniqueHandle f(CreateFileA(TracePath(bay).c_str(), FILE_APPEND_DATA,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f.valid()) return;
  DWORD done = 0;
  WriteFile(f.get(), line.data(), static_cast<DWORD>(line.size()), &done, nullptr);
}

bool ParseTraceLine(const std::string& line, TraceRecord& r) {
  std::vector<std::string> fields;
  size_t pos = 0;
  while (fields.size() < 6) {
    const size_t tab = line.find('\t', pos);
    if (tab == std::string::npos) return false;
    fields.push_back(line.substr(pos, tab - pos));
    pos = tab + 1;
  }
  r.args = line.substr(pos);
  while (!r.args.empty() && (r.args.back() == '\r' || r.args.back() == '\n')) r.args.pop_back();
  char* end = nullptr;
  r.timeMs = std::strtod(fields[0].c_str(), &end);
  if (*end) return false;
  r.pid = std::strtoul(fields[1].c_str(), &end, 10);
  if (*end) return false;
  r.library = fields[2];
  r.function = fields[3];
  r.result = static_cast<int>(std::strtol(fields[4].c_str(), &end, 10));
  if (*end) return false;
  if (fields[5] == "-") {
    r.status = -1;
  } else {
    r.status = static_cast<int>(std::strtoul(fields[5].c_str(), &end, 16));
    if (*end) return false;
  }
  return true;
}

int ReadTrace(std::vector<TraceRecord>& records) {
  records.clear();
  const std::string bay = BayFolder();
  std::vector<unsigned char> bytes;
  {
    UniqueHandle mutex = OpenTraceMutex(bay);
    MutexLock lock(mutex.get());
    if (!FileExists(TracePath(bay))) return kOk;
    if (!ReadWholeFile(TracePath(bay), bytes)) return kErrIo;
  }
  const std::string text(bytes.begin(), bytes.end());
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    TraceRecord r;
    if (nl > pos) {
      if (!ParseTraceLine(text.substr(pos, nl - pos), r)) return kErrMalformed;
      records.push_back(std::move(r));
    }
    pos = nl + 1;
  }
  return kOk;
}

}  // namespace tokensim
