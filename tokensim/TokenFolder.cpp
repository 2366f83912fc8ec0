// The token folder: token.ini plus the certificate files it names. The
// format is strict on purpose: a typo in a key would otherwise give a token
// that silently lacks what the test meant it to have.
#include <cstdlib>
#include <cstring>
#include <map>

#include "Control.h"
#include "TokenInternal.h"
#include "Win32.h"

#include <wincrypt.h>

namespace tokensim {

CardFile CardFile::Certificate(std::vector<unsigned char> der) {
  CardFile f;
  f.kind = Kind::Certificate;
  f.payload = std::move(der);
  return f;
}

CardFile CardFile::Text(const std::string& text) {
  CardFile f;
  f.kind = Kind::Text;
  f.payload.assign(text.begin(), text.end());
  return f;
}

CardFile CardFile::Raw(std::vector<unsigned char> bytes) {
  CardFile f;
  f.kind = Kind::Raw;
  f.payload = std::move(bytes);
  return f;
}

std::vector<unsigned char> CardFile::CardBytes() const {
  if (kind == Kind::Absent) return {};
  if (kind == Kind::Raw) return payload;
  std::vector<unsigned char> out;
  out.reserve(payload.size() + 2);
  out.push_back(static_cast<unsigned char>(payload.size() >> 8));
  out.push_back(static_cast<unsigned char>(payload.size() & 0xFF));
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

std::string TokenSettings::SerialName() const {
  return HexBytes(serial.data(), serial.size() < 4 ? serial.size() : 4);
}

std::string TokenSettings::DevicePath() const {
  if (!devicePath.empty()) return devicePath;
  // Shaped like a USB device-interface path, so it looks like what Keyfold
  // meets on a real machine.
  return std::string(kDevicePathPrefix) + "vid_1d99&pid_0001#" + LowerAscii(SerialName()) +
         "#{6b8d2f43-1c1f-4d3a-9e1a-3f5b7c9d0e21}";
}

namespace {

const char* const kCardFunctions[] = {
    "TK_Open",       "TK_OpenByPath",          "TK_Close",
    "TK_IC_RESET",   "TK_GET_BCDSN",           "TK_GetDevicePath",
    "Select_File",   "Read_Binary",            "Update_Binary",
    "Verify_Pin",    "Change_Pin",             "Reload_Pin",
    "Write_Key",     "Get_Challenge",          "Internal_Authentication",
    "External_Authentication", "Create_File",  "Generate_Rsa_Key",
    "Rsa_Encrypt",   "Rsa_Decrypt"};

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

bool ParseInt(const std::string& text, long lo, long hi, int& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || v < lo || v > hi) return false;
  out = static_cast<int>(v);
  return true;
}

bool ParseStatus(const std::string& text, int& out) {
  std::string t = text;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t = t.substr(2);
  std::vector<unsigned char> b;
  if (t.size() != 4 || !ParseHex(t, b)) return false;
  out = b[0] * 256 + b[1];
  return true;
}

class Parser {
 public:
  Parser(std::string folder, TokenSettings& settings, std::string& error)
      : folder_(std::move(folder)), token_(settings), error_(error) {}

  int Run(const std::vector<unsigned char>& bytes) {
    token_ = TokenSettings();
    token_.dir11.present = false;
    token_.dir12.present = false;
    std::string text(bytes.begin(), bytes.end());
    if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    size_t pos = 0;
    while (pos <= text.size() && ok_) {
      size_t nl = text.find('\n', pos);
      if (nl == std::string::npos) nl = text.size();
      std::string line = text.substr(pos, nl - pos);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      ++lineNo_;
      Line(Trim(line));
      pos = nl + 1;
    }
    if (ok_) Finish();
    return ok_ ? kOk : kErrMalformed;
  }

 private:
  void Fail(const std::string& message) {
    if (!ok_) return;
    ok_ = false;
    error_ = Format("token.ini line %d: %s", lineNo_, message.c_str());
  }
  void FailKey(const std::string& key, const std::string& message) {
    Fail("key '" + key + "': " + message);
  }

  void Line(const std::string& line) {
    if (line.empty() || line[0] == ';' || line[0] == '#') return;
    if (line[0] == '[') {
      if (line.back() != ']') return Fail("section header lacks ']'");
      Section(Trim(line.substr(1, line.size() - 2)));
      return;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return Fail("expected 'key = value' or '[section]'");
    const std::string key = LowerAscii(Trim(line.substr(0, eq)));
    const std::string value = Trim(line.substr(eq + 1));
    if (section_.empty()) return FailKey(key, "comes before any section");
    if (!seen_.emplace(section_ + "/" + key, lineNo_).second)
      return FailKey(key, "given twice in [" + section_ + "]");
    if (section_ == "token") return TokenKey(key, value);
    if (dir_) return DirKey(key, value);
    if (fault_ >= 0) return FaultKey(key, value);
  }

  void Section(const std::string& name) {
    const std::string lower = LowerAscii(name);
    dir_ = nullptr;
    fault_ = -1;
    if (!sections_.emplace(lower, lineNo_).second)
      return Fail("section [" + name + "] given twice");
    if (lower == "token") {
      section_ = lower;
      return;
    }
    if (lower == "dir 0011" || lower == "dir 0012") {
      section_ = lower;
      dir_ = lower == "dir 0011" ? &token_.dir11 : &token_.dir12;
      dir_->present = true;
      return;
    }
    if (lower.compare(0, 6, "fault ") == 0) {
      const std::string fn = Trim(name.substr(6));
      if (fn != "*" && !IsCardFunction(fn)) return Fail("section [" + name + "]: no card function is named '" + fn + "'");
      section_ = lower;
      Fault f;
      f.function = fn;
      f.fails = false;
      token_.faults.push_back(f);
      fault_ = static_cast<int>(token_.faults.size()) - 1;
      faultSet_.push_back(false);
      return;
    }
    Fail("unknown section [" + name + "] (expected [token], [dir 0011], [dir 0012] or [fault NAME])");
  }

  void TokenKey(const std::string& key, const std::string& value) {
    if (key == "serial") {
      std::vector<unsigned char> b;
      if (!ParseHex(value, b) || b.size() < 4 || b.size() > 64)
        return FailKey(key, "must be 4 to 64 bytes in hex (got '" + value + "')");
      token_.serial = b;
    } else if (key == "driver") {
      if (LowerAscii(value) == "none")
        token_.driverIndex = kNoDriverIndex;
      else if (!ParseInt(value, 0, 3, token_.driverIndex))
        return FailKey(key, "must be 0-3 or none (got '" + value + "')");
    } else if (key == "path") {
      std::string why;
      if (!ValidDevicePath(value, why)) return FailKey(key, why);
      token_.devicePath = value;
    } else if (key == "pin") {
      if (value.size() < 2 || value.size() > 8)
        return FailKey(key, Format("must be 2-8 bytes (got %u)", static_cast<unsigned>(value.size())));
      token_.pin = value;
    } else if (key == "tries") {
      if (!ParseInt(value, 1, 15, token_.maxTries))
        return FailKey(key, "must be 1-15 (got '" + value + "')");
    } else if (key == "tries left") {
      if (!ParseInt(value, 0, 15, token_.triesLeft))
        return FailKey(key, "must be 0-15 (got '" + value + "')");
      triesLeftLine_ = lineNo_;
    } else {
      FailKey(key, "unknown in [token] (expected serial, driver, path, pin, tries, tries left)");
    }
  }

  // A value is a file name relative to the token folder, or "hex:" and bytes.
  bool Bytes(const std::string& key, const std::string& value, std::vector<unsigned char>& out) {
    if (LowerAscii(value.substr(0, 4)) == "hex:") {
      if (!ParseHex(value.substr(4), out)) {
        FailKey(key, "'hex:' must be followed by whole bytes in hex");
        return false;
      }
      return true;
    }
    if (value.empty()) {
      FailKey(key, "needs a file name or 'hex:' bytes");
      return false;
    }
    if (!ReadWholeFile(JoinPath(folder_, value), out)) {
      FailKey(key, "cannot read file '" + value + "'");
      return false;
    }
    return true;
  }

  void DirKey(const std::string& key, const std::string& value) {
    CardFile* file = nullptr;
    bool raw = false;
    if (key == "certificate" || key == "certificate.raw") {
      file = &dir_->certificate;
      raw = key != "certificate";
    } else if (key == "container" || key == "container.raw") {
      file = &dir_->container;
      raw = key != "container";
    } else {
      return FailKey(key, "unknown in [" + section_ +
                              "] (expected certificate, certificate.raw, container, container.raw)");
    }
    if (file->present())
      return FailKey(key, "the file is already given on line " +
                              std::to_string(FirstLineOf(key)));
    std::vector<unsigned char> bytes;
    if (raw) {
      if (!Bytes(key, value, bytes)) return;
      if (bytes.size() > 0xFFFF + 2) return FailKey(key, "more than 65537 bytes");
      *file = CardFile::Raw(std::move(bytes));
    } else if (file == &dir_->container) {
      if (value.size() > 0xFFFE) return FailKey(key, "longer than 65534 bytes");
      *file = CardFile::Text(value);
    } else {
      if (!Bytes(key, value, bytes)) return;
      if (!Pem(bytes)) return FailKey(key, "'" + value + "' holds a PEM block that does not decode");
      if (bytes.empty() || bytes.size() > 0xFFFE)
        return FailKey(key, "a certificate must hold 1 to 65534 bytes");
      if (bytes[0] != 0x30) return FailKey(key, "'" + value + "' is not a DER or PEM certificate");
      *file = CardFile::Certificate(std::move(bytes));
    }
  }

  int FirstLineOf(const std::string& key) {
    const std::string base = key.substr(0, key.find('.'));
    for (const char* k : {"", ".raw"}) {
      auto it = seen_.find(section_ + "/" + base + k);
      if (it != seen_.end() && it->second != lineNo_) return it->second;
    }
    return lineNo_;
  }

  // PEM (openssl's default output) is accepted beside DER.
  static bool Pem(std::vector<unsigned char>& bytes) {
    static const char kBegin[] = "-----BEGIN";
    if (bytes.size() < sizeof kBegin - 1 || std::memcmp(bytes.data(), kBegin, sizeof kBegin - 1) != 0)
      return true;
    const std::string text(bytes.begin(), bytes.end());
    DWORD size = 0;
    if (!CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
      return false;
    std::vector<unsigned char> der(size);
    if (!CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()),
                              CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr))
      return false;
    der.resize(size);
    bytes.swap(der);
    return true;
  }

  void FaultKey(const std::string& key, const std::string& value) {
    Fault& f = token_.faults[static_cast<size_t>(fault_)];
    if (key == "result") {
      if (!ParseInt(value, -2147483647L, 2147483647L, f.result))
        return FailKey(key, "must be a decimal number (got '" + value + "')");
      f.fails = true;
      faultSet_[static_cast<size_t>(fault_)] = true;
    } else if (key == "status") {
      if (!ParseStatus(value, f.status))
        return FailKey(key, "must be four hex digits, e.g. 6A82 (got '" + value + "')");
      f.fails = true;
      faultSet_[static_cast<size_t>(fault_)] = true;
      if (seen_.find(section_ + "/result") == seen_.end()) f.result = 0;
    } else if (key == "from") {
      if (!ParseInt(value, 1, 1000000, f.from)) return FailKey(key, "must be 1 or more");
    } else if (key == "count") {
      if (!ParseInt(value, 0, 1000000, f.count)) return FailKey(key, "must be 0 or more");
    } else if (key == "latency") {
      if (!ParseInt(value, 0, 60000, f.latencyMs)) return FailKey(key, "must be 0-60000 ms");
      faultSet_[static_cast<size_t>(fault_)] = true;
    } else if (key == "fail") {
      if (value != "yes" && value != "no") return FailKey(key, "must be yes or no");
      f.fails = value == "yes";
      faultSet_[static_cast<size_t>(fault_)] = true;
    } else {
      FailKey(key, "unknown in a fault section (expected fail, result, status, from, count, latency)");
    }
  }

  void Finish() {
    for (size_t i = 0; i < faultSet_.size(); ++i) {
      if (!faultSet_[i]) {
        lineNo_ = sections_["fault " + LowerAscii(token_.faults[i].function)];
        return Fail("[fault " + token_.faults[i].function +
                    "] sets none of fail, result, status, latency");
      }
    }
    auto missing = [&](const char* key) {
      error_ = Format("token.ini: [token] lacks the key '%s'", key);
      ok_ = false;
    };
    if (sections_.find("token") == sections_.end()) {
      error_ = "token.ini: no [token] section";
      ok_ = false;
      return;
    }
    if (token_.serial.empty()) return missing("serial");
    if (token_.pin.empty()) return missing("pin");
    if (token_.triesLeft > token_.maxTries) {
      lineNo_ = triesLeftLine_;
      FailKey("tries left", "is more than tries");
    }
  }

  std::string folder_;
  TokenSettings& token_;
  std::string& error_;
  bool ok_ = true;
  int lineNo_ = 0;
  int triesLeftLine_ = 0;
  std::string section_;
  CardDirectory* dir_ = nullptr;
  int fault_ = -1;
  std::vector<bool> faultSet_;
  std::map<std::string, int> seen_;
  std::map<std::string, int> sections_;
};

bool PrintableText(const std::vector<unsigned char>& b) {
  if (b.empty()) return false;
  if (b.front() == ' ' || b.back() == ' ') return false;
  for (unsigned char c : b)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

std::string RawValue(const std::string& folder, const std::string& fileName,
                     const std::vector<unsigned char>& bytes, bool& ok) {
  if (bytes.size() <= 512) return "hex:" + HexBytes(bytes);
  ok = ok && WriteWholeFile(JoinPath(folder, fileName), bytes.data(), bytes.size());
  return fileName;
}

}  // namespace

bool IsCardFunction(const std::string& name) {
  for (const char* f : kCardFunctions)
    if (name == f) return true;
  return false;
}

bool ValidDevicePath(const std::string& path, std::string& why) {
  const std::string prefix = kDevicePathPrefix;
  if (path.size() <= prefix.size() || !EqualNoCase(path.substr(0, prefix.size()), prefix)) {
    why = "must start with " + prefix;
    return false;
  }
  if (path.size() > static_cast<size_t>(kMaxDevicePath)) {
    why = Format("is %u bytes long, at most %d fit", static_cast<unsigned>(path.size()),
                 kMaxDevicePath);
    return false;
  }
  for (unsigned char c : path) {
    if (c <= 0x20 || c == 0x7F) {
      why = "must not hold blanks or control characters";
      return false;
    }
  }
  return true;
}

int ReadTokenFolder(const std::string& folder, TokenSettings& settings, std::string& error) {
  error.clear();
  if (!DirectoryExists(folder)) {
    error = "no token folder at " + folder;
    return kErrNotFound;
  }
  std::vector<unsigned char> bytes;
  if (!ReadWholeFile(JoinPath(folder, "token.ini"), bytes)) {
    error = "no token.ini in " + folder;
    return kErrNotFound;
  }
  return Parser(folder, settings, error).Run(bytes);
}

int WriteTokenFolder(const std::string& folder, const TokenSettings& settings) {
  std::string why;
  if (settings.serial.size() < 4 || settings.serial.size() > 64 || settings.driverIndex < kNoDriverIndex ||
      settings.driverIndex > 3 || settings.pin.size() < 2 || settings.pin.size() > 8 || settings.maxTries < 1 ||
      settings.maxTries > 15 || settings.triesLeft > settings.maxTries ||
      (!settings.devicePath.empty() && !ValidDevicePath(settings.devicePath, why)))
    return kErrArgument;
  if (!CreateDirectories(folder)) return kErrIo;
  bool ok = true;
  std::string ini = "; tokensim token\r\n[token]\r\n";
  ini += "serial = " + HexBytes(settings.serial) + "\r\n";
  if (settings.driverIndex == kNoDriverIndex)
    ini += "driver = none\r\n";
  else
    ini += Format("driver = %d\r\n", settings.driverIndex);
  if (!settings.devicePath.empty()) ini += "path = " + settings.devicePath + "\r\n";
  ini += "pin = " + settings.pin + "\r\n";
  ini += Format("tries = %d\r\n", settings.maxTries);
  if (settings.triesLeft >= 0) ini += Format("tries left = %d\r\n", settings.triesLeft);
  const struct {
    const char* id;
    const CardDirectory* dir;
  } dirs[] = {{"0011", &settings.dir11}, {"0012", &settings.dir12}};
  for (const auto& d : dirs) {
    if (!d.dir->present) continue;
    ini += Format("\r\n[dir %s]\r\n", d.id);
    const CardFile& cert = d.dir->certificate;
    // Bytes the reader would not take as a certificate go out raw, so the
    // card holds what the caller described.
    if (cert.kind == CardFile::Kind::Certificate && !cert.payload.empty() &&
        cert.payload[0] == 0x30 && cert.payload.size() <= 0xFFFE) {
      const std::string name = Format("%s-certificate.der", d.id);
      ok = ok && WriteWholeFile(JoinPath(folder, name), cert.payload.data(), cert.payload.size());
      ini += "certificate = " + name + "\r\n";
    } else if (cert.present()) {
      ini += "certificate.raw = " +
             RawValue(folder, Format("%s-certificate.bin", d.id), cert.CardBytes(), ok) + "\r\n";
    }
    const CardFile& ctr = d.dir->container;
    if (ctr.kind == CardFile::Kind::Text && PrintableText(ctr.payload)) {
      ini += "container = " + std::string(ctr.payload.begin(), ctr.payload.end()) + "\r\n";
    } else if (ctr.present()) {
      ini += "container.raw = " +
             RawValue(folder, Format("%s-container.bin", d.id), ctr.CardBytes(), ok) + "\r\n";
    }
  }
  for (const Fault& f : settings.faults) {
    ini += "\r\n[fault " + f.function + "]\r\n";
    ini += f.fails ? "fail = yes\r\n" : "fail = no\r\n";
    if (f.fails) {
      ini += Format("result = %d\r\n", f.result);
      if (f.status >= 0) ini += Format("status = %04X\r\n", static_cast<unsigned>(f.status));
    }
    if (f.from != 1) ini += Format("from = %d\r\n", f.from);
    if (f.count != 0) ini += Format("count = %d\r\n", f.count);
    if (f.latencyMs) ini += Format("latency = %d\r\n", f.latencyMs);
  }
  ok = ok && WriteWholeFile(JoinPath(folder, "token.ini"), ini);
  return ok ? kOk : kErrIo;
}

}  // namespace tokensim
