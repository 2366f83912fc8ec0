// Control of the emulated tokens for tests, scripts and tokensim.exe:
// describe a token, write it as a token folder, plug it into the bay,
// unplug it, inject faults, and read the command trace that the three token
// libraries append to.
//
// The bay is a folder. Every plugged token is a subfolder named by its
// serial (first four bytes, eight upper-case hex digits) holding token.ini,
// its card files and state.ini (tries left, call counters). The libraries
// read the bay on every open, so a plug or unplug done by any process is
// seen by every other one. The bay's place is the environment variable
// TOKENSIM_BAY, else the folder "bay" beside the module that asks.
//
// Every function returns an int code (kOk or a negative kErr...) and never
// throws across this interface.
#pragma once

#include <string>
#include <vector>

namespace tokensim {

constexpr int kOk = 0;
constexpr int kErrIo = -1;         // a file or folder could not be read or written
constexpr int kErrNotFound = -2;   // no such token folder, or no such plugged token
constexpr int kErrMalformed = -3;  // token folder or argument does not parse
constexpr int kErrConflict = -4;   // serial, driver index or path already plugged
constexpr int kErrArgument = -5;   // a value out of its range

constexpr const char* kBayVariable = "TOKENSIM_BAY";
constexpr const char* kDevicePathPrefix = "\\\\?\\tksim#";  // every tokensim device path
constexpr int kMaxDevicePath = 255;                         // bytes, without the NUL
// A token beyond the four that the driver numbers: TK_Open never finds it,
// TK_OpenByPath does (a fifth token plugged while four are present).
constexpr int kNoDriverIndex = -1;

// One card file as the token stores it: a 2-byte big-endian length and the
// content. Built from a certificate or a text (the length is added) or
// given raw, so that any length field (0xFFFF, 0, more than the file holds)
// can be stored.
struct CardFile {
  enum class Kind { Absent, Certificate, Text, Raw };
  Kind kind = Kind::Absent;
  std::vector<unsigned char> payload;  // DER, text bytes, or the raw file

  static CardFile Certificate(std::vector<unsigned char> der);
  static CardFile Text(const std::string& text);
  static CardFile Raw(std::vector<unsigned char> bytes);
  bool present() const { return kind != Kind::Absent; }
  std::vector<unsigned char> CardBytes() const;  // what Read_Binary sees
};

// A certificate directory (0x0011 or 0x0012). An absent directory or an
// absent file makes Select_File answer 0x6A82.
struct CardDirectory {
  bool present = true;
  CardFile certificate;  // file 0x0008
  CardFile container;    // file 0x000F, the key container name
};

// Makes one function fail, or slow, from its Nth call on. Calls are counted
// per token in the bay, across connections and processes.
struct Fault {
  std::string function;  // exported name, e.g. "Read_Binary", or "*" for every card command
  bool fails = true;     // false: only the latency applies
  int result = -1;       // returned instead; TK_Open / TK_OpenByPath always give 0
  int status = -1;       // status word written, -1: 0x6F00 when result < 0, else unchanged
  int from = 1;          // first failing call, 1-based
  int count = 0;         // failing calls from there, 0 = all later calls
  int latencyMs = 0;     // added to every call of the function
};

struct TokenSettings {
  std::vector<unsigned char> serial;  // at least 4 bytes; TK_GET_BCDSN returns all
  int driverIndex = 0;                // 0-3, or kNoDriverIndex
  std::string devicePath;             // empty: derived from the serial
  std::string pin;                    // 2-8 bytes
  int maxTries = 6;                   // 1-15, restored by a correct PIN
  int triesLeft = -1;                 // -1: maxTries
  CardDirectory dir11;                // first certificate directory
  CardDirectory dir12;                // second certificate directory
  std::vector<Fault> faults;

  std::string SerialName() const;   // eight upper-case hex digits
  std::string DevicePath() const;   // as set, or the derived one
};

// ---- the bay ------------------------------------------------------------
std::string BayFolder();                    // TOKENSIM_BAY or <module folder>\bay
void SetBayFolder(const std::string& folder);  // sets TOKENSIM_BAY for this process and its children
int ResetBay();                              // unplugs everything, clears trace and its switch

// ---- token folders --------------------------------------------------------
// Reads FOLDER\token.ini. On failure, error says which line and key.
int ReadTokenFolder(const std::string& folder, TokenSettings& settings, std::string& error);
int WriteTokenFolder(const std::string& folder, const TokenSettings& settings);

// ---- plugging -------------------------------------------------------------
int Plug(const TokenSettings& settings, std::string* error = nullptr);
int PlugFolder(const std::string& folder, std::string& error);
int Unplug(const std::string& serial);  // eight hex digits, any case
int UnplugAll();

struct PluggedToken {
  std::string serialName;
  TokenSettings settings;
  int triesLeft = 0;  // current value from the bay's state
};
int ListPlugged(std::vector<PluggedToken>& tokens);
// Reads a plugged token's settings (faults included) and its tries left.
int ReadPlugged(const std::string& serial, PluggedToken& token);

// ---- fault injection and latency on a plugged token ------------------------
// Replaces any fault for the same function and restarts its call count.
int SetFault(const std::string& serial, const Fault& fault);
int SetLatency(const std::string& serial, const std::string& function, int ms);
int ClearFaults(const std::string& serial);
int SetTriesLeft(const std::string& serial, int tries);

// ---- command trace ---------------------------------------------------------
struct TraceRecord {
  double timeMs = 0;        // performance counter in ms, comparable across processes
  unsigned long pid = 0;
  std::string library;      // "tk_cosapi", "TKWATCH", "tk_cspext" or "tokensim"
  std::string function;
  int result = 0;
  int status = -1;          // status word, -1 when the function has none
  std::string args;         // "key=value" pairs separated by blanks

  std::string Arg(const std::string& key) const;  // "" when absent
};
int EnableTrace(bool on);
bool TraceEnabled();
int ClearTrace();
int ReadTrace(std::vector<TraceRecord>& records);
// Appends one record (when the trace is enabled). Safe across processes.
void AppendTrace(const char* library, const char* function, int result, int status,
                 const std::string& args);
// The same with the time taken by the caller (NowMs), for a record that
// can only be written after the moment it describes.
void AppendTraceAt(double timeMs, const char* library, const char* function, int result,
                   int status, const std::string& args);
bool ParseTraceLine(const std::string& line, TraceRecord& record);

}  // namespace tokensim
