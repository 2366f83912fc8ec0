// The four file readers against an emulated token: what they send, what
// they give back, and that nothing of their connection survives them.
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "keyfold/token/TokenFiles.h"
#include "token/TokenFixture.h"

namespace {

using tokentest::CardFileBytes;

struct Reader {
  const char* name;
  bool full;  // over a full connection, else a reader connection
  bool text;  // key container name: content followed by a NUL
  std::function<int(const char*, int, unsigned char*, int, int&)> read;
};

char* Text(unsigned char* b) { return reinterpret_cast<char*>(b); }

const Reader kReaders[4] = {
    {"ReadCertificate", true, false,
     [](const char* p, int d, unsigned char* b, int c, int& n) { return keyfold::ReadCertificate(p, d, b, c, n); }},
    {"ReadKeyContainerName", true, true,
     [](const char* p, int d, unsigned char* b, int c, int& n) {
       return keyfold::ReadKeyContainerName(p, d, Text(b), c, n);
     }},
    {"FetchCertificate", false, false,
     [](const char* p, int d, unsigned char* b, int c, int& n) { return keyfold::FetchCertificate(p, d, b, c, n); }},
    {"FetchKeyContainerName", false, true,
     [](const char* p, int d, unsigned char* b, int c, int& n) {
       return keyfold::FetchKeyContainerName(p, d, Text(b), c, n);
     }},
};

struct Chunk {
  int offset;
  int count;
  bool operator==(const Chunk&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Chunk& c) {
  return os << "{" << c.offset << "," << c.count << "}";
}

class ReaderTest : public tokentest::TokenBay {
 protected:
  // Both directories hold the same-sized files with different content, so
  // a read from the wrong directory or file shows.
  void PlugFiles(const std::vector<unsigned char>& file) {
    tokensim::TokenSettings s = DefaultToken();
    auto variant = [&file](int seed) {
      std::vector<unsigned char> v = file;
      for (size_t i = 2; i < v.size(); ++i) v[i] = static_cast<unsigned char>(v[i] + seed);
      return tokensim::CardFile::Raw(v);
    };
    s.dir11.certificate = variant(1);
    s.dir11.container = variant(2);
    s.dir12.certificate = variant(3);
    s.dir12.container = variant(4);
    Plug(s);
  }
  static int Seed(const Reader& r, int directory) {
    return (directory == keyfold::kFirstCertDirectory ? 1 : 3) + (r.text ? 1 : 0);
  }

  static std::vector<Chunk> Reads() {
    std::vector<Chunk> reads;
    for (const auto& r : Trace())
      if (r.function == "Read_Binary")
        reads.push_back({static_cast<int>(std::stoul(r.Arg("offset"), nullptr, 16)), std::stoi(r.Arg("count"))});
    return reads;
  }
};

std::vector<Chunk> EveryChunk(int n) {
  std::vector<Chunk> c{{0, 2}};
  for (int p = 0; p < n; p += 128) c.push_back({p + 2, n - p < 128 ? n - p : 128});
  return c;
}

// Content lengths over all four readers. Every reader gets a 4096-byte
// buffer; a key container name also needs its NUL, so 4096 is one too many
// for it.
TEST_F(ReaderTest, ContentLengthsOverAllReaders) {
  struct Case {
    int length;
    bool certFits;
    bool nameFits;
    std::vector<Chunk> chunks;  // after the length read at {0, 2}
  } const cases[] = {
      {0, true, true, {}},
      {1, true, true, {{2, 1}}},
      {128, true, true, {{2, 128}}},
      {129, true, true, {{2, 128}, {130, 1}}},
      {300, true, true, {{2, 128}, {130, 128}, {258, 44}}},
      {4095, true, true, {}},
      {4096, true, false, {}},
      {4097, false, false, {}},
      {0xFFFF, false, false, {}},
  };
  constexpr int kCapacity = keyfold::kCertificateCapacity;
  int round = 0;
  for (const Case& c : cases) {
    for (const Reader& r : kReaders) {
      SCOPED_TRACE(std::string(r.name) + " length " + std::to_string(c.length));
      tokensim::ResetBay();
      tokensim::EnableTrace(true);
      PlugFiles(CardFileBytes(c.length));
      const int directory = (round++ % 2) ? keyfold::kSecondCertDirectory : keyfold::kFirstCertDirectory;

      std::vector<unsigned char> buffer(kCapacity + 16, 0xCC);  // 16 guard bytes
      int length = -7;
      const int rc = r.read(m_path.c_str(), directory, buffer.data(), kCapacity, length);
      const bool fits = r.text ? c.nameFits : c.certFits;

      std::vector<Chunk> expected{{0, 2}};
      if (fits) {
        if (c.length >= 4095) {
          expected = EveryChunk(c.length);
        } else {
          expected.insert(expected.end(), c.chunks.begin(), c.chunks.end());
        }
      }
      EXPECT_EQ(Reads(), expected);
      if (fits) {
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(length, c.length);
        const std::vector<unsigned char> file = CardFileBytes(c.length);
        for (int i = 0; i < c.length; ++i)
          ASSERT_EQ(buffer[i], static_cast<unsigned char>(file[i + 2] + Seed(r, directory))) << "byte " << i;
        if (r.text) {
          EXPECT_EQ(buffer[c.length], 0);
        }
      } else {
        EXPECT_EQ(rc, r.full ? -1 : -100);
        EXPECT_EQ(length, 0) << "a rejected length is not given back";
      }
      const int untouched = fits ? c.length + (r.text ? 1 : 0) : 0;
      for (int i = untouched; i < kCapacity + 16; ++i)
        ASSERT_EQ(buffer[i], 0xCC) << "byte " << i << " was written";

      // The connection around the reads.
      const std::vector<std::string> head{"TK_OpenByPath", "TK_IC_RESET", "TK_IC_RESET", "Select_File",
                                          "Select_File"};
      const auto trace = Trace();
      std::vector<std::string> names = Functions(trace);
      ASSERT_GE(names.size(), 7u);
      EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 5), head);
      EXPECT_EQ(names.back(), "TK_Close");
      char dir[8];
      std::snprintf(dir, sizeof dir, "%04X", directory);
      EXPECT_EQ(trace[3].Arg("mode"), "1");
      EXPECT_EQ(trace[3].Arg("id"), dir);
      EXPECT_EQ(trace[4].Arg("mode"), "2");
      EXPECT_EQ(trace[4].Arg("id"), r.text ? "000F" : "0008");
      ExpectNothingHeld();
    }
  }
}

// Injected failures at every step, and status words that only some readers
// test. Codes in reader order: ReadCertificate, ReadKeyContainerName,
// FetchCertificate, FetchKeyContainerName.
TEST_F(ReaderTest, FailuresAtEveryStep) {
  auto fault = [](const char* fn, int result, int status, int from, int count = 1) {
    tokensim::Fault f;
    f.function = fn;
    f.result = result;
    f.status = status;
    f.from = from;
    f.count = count;
    return f;
  };
  struct Case {
    const char* what;
    tokensim::Fault fault;
    int codes[4];
    bool closed[4];  // TK_Close sent
  } const cases[] = {
      {"open", fault("TK_OpenByPath", 0, -1, 1, 0), {-1, -1, -100, -100}, {false, false, false, false}},
      // The full open ignores its own reset; the reader open needs it to be 0.
      {"open's reset", fault("TK_IC_RESET", -1, -1, 1), {0, 0, -100, -100}, {true, true, true, true}},
      {"open's reset gives 1", fault("TK_IC_RESET", 1, -1, 1), {0, 0, -100, -100}, {true, true, true, true}},
      {"reader's reset", fault("TK_IC_RESET", -1, -1, 2), {-1, -1, -100, -100}, {true, true, true, true}},
      // Only a negative result fails the readers' own reset.
      {"reader's reset gives 1", fault("TK_IC_RESET", 1, -1, 2), {0, 0, 0, 0}, {true, true, true, true}},
      {"directory select", fault("Select_File", -1, -1, 1), {-1, -1, -100, -100}, {true, true, true, true}},
      {"directory select status", fault("Select_File", 0, 0x6A82, 1), {-1, -1, -100, -100}, {true, true, true, true}},
      {"file select status", fault("Select_File", 0, 0x6A82, 2), {-1, -1, -100, -100}, {true, true, true, true}},
      {"length read", fault("Read_Binary", -5, -1, 1), {-1, -5, -100, -100}, {true, true, true, true}},
      {"middle chunk", fault("Read_Binary", -7, -1, 3), {-1, -7, -100, -100}, {true, true, true, true}},
      {"length read status", fault("Read_Binary", 0, 0x6700, 1), {-1, 0, -100, 0}, {true, true, true, true}},
      {"middle chunk status", fault("Read_Binary", 0, 0x6B00, 3), {-1, 0, -100, -100}, {true, true, true, true}},
  };
  for (const Case& c : cases) {
    for (int i = 0; i < 4; ++i) {
      const Reader& r = kReaders[i];
      SCOPED_TRACE(std::string(r.name) + ", failure at " + c.what);
      tokensim::ResetBay();
      tokensim::EnableTrace(true);
      PlugFiles(CardFileBytes(300));
      Fault(c.fault);
      std::vector<unsigned char> buffer(keyfold::kCertificateCapacity, 0);
      int length = -7;
      EXPECT_EQ(r.read(m_path.c_str(), keyfold::kFirstCertDirectory, buffer.data(),
                       keyfold::kCertificateCapacity, length),
                c.codes[i]);
      if (c.codes[i] != 0) {
        // A failed read leaves nothing of the file: the enumeration uses a
        // name buffer whatever the result, and a cut-off name would be
        // registered as the key container.
        EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](unsigned char b) { return b == 0; }))
            << "part of the file is left in the buffer";
      }
      const auto names = Functions(Trace());
      EXPECT_EQ(std::count(names.begin(), names.end(), "TK_Close"), c.closed[i] ? 1 : 0);
      const auto lock = Functions(Trace("tk_cspext"));
      EXPECT_EQ(std::count(lock.begin(), lock.end(), "TK_EnterMutex"),
                std::count(lock.begin(), lock.end(), "TK_LeaveMutex"));
      ExpectNothingHeld();
    }
  }
}

// A card that delivers less than the length field promises: status words
// tell the readers that test them; the others get zeros for what was not
// delivered, and every reader stops after the chunks the length asks for.
TEST_F(ReaderTest, ShortFiles) {
  struct Case {
    const char* what;
    std::vector<unsigned char> file;
    int codes[4];
    int length;          // given back by the readers that succeed
    size_t reads;        // Read_Binary calls of the readers that get that far
  } const cases[] = {
      // Field says 300, the file holds 200 bytes: the third chunk is past
      // its end (0x6B00), the second ends early (0x6282).
      {"field beyond the file", CardFileBytes(300, 200), {-1, 0, -100, -100}, 300, 4},
      // One byte only: the length read itself ends early.
      {"one-byte file", {0x01}, {-1, 0, -100, -100}, 256, 3},
  };
  for (const Case& c : cases) {
    for (int i = 0; i < 4; ++i) {
      const Reader& r = kReaders[i];
      SCOPED_TRACE(std::string(r.name) + ", " + c.what);
      tokensim::ResetBay();
      tokensim::EnableTrace(true);
      PlugFiles(c.file);
      std::vector<unsigned char> buffer(keyfold::kCertificateCapacity + 16, 0xCC);
      int length = -7;
      const int rc = r.read(m_path.c_str(), keyfold::kFirstCertDirectory, buffer.data(),
                            keyfold::kCertificateCapacity, length);
      EXPECT_EQ(rc, c.codes[i]);
      const auto reads = Reads();
      EXPECT_LE(reads.size(), c.reads);
      if (rc == 0) {
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(reads.size(), c.reads);
        const size_t delivered = c.file.size() > 2 ? c.file.size() - 2 : 0;
        for (int b = static_cast<int>(delivered); b < c.length; ++b) ASSERT_EQ(buffer[b], 0) << "byte " << b;
      }
      for (int b = keyfold::kCertificateCapacity; b < keyfold::kCertificateCapacity + 16; ++b)
        ASSERT_EQ(buffer[b], 0xCC);
      ExpectNothingHeld();
    }
  }
}

// The buffers the callers really pass for names: 256 bytes (enumeration,
// arrival) and 128 (registration command).
TEST_F(ReaderTest, NameMustLeaveRoomForItsNul) {
  struct Case {
    int capacity;
    int length;
    bool fits;
  } const cases[] = {{256, 255, true}, {256, 256, false}, {128, 127, true}, {128, 128, false}};
  for (const Case& c : cases) {
    for (const Reader& r : kReaders) {
      if (!r.text) continue;
      SCOPED_TRACE(std::string(r.name) + " " + std::to_string(c.length) + " in " + std::to_string(c.capacity));
      tokensim::ResetBay();
      tokensim::EnableTrace(true);
      PlugFiles(CardFileBytes(c.length));
      std::vector<unsigned char> buffer(c.capacity + 4, 0xCC);
      int length = -7;
      const int rc = r.read(m_path.c_str(), keyfold::kSecondCertDirectory, buffer.data(), c.capacity, length);
      EXPECT_EQ(rc, c.fits ? 0 : (r.full ? -1 : -100));
      EXPECT_EQ(length, c.fits ? c.length : 0);
      if (c.fits) {
        EXPECT_EQ(buffer[c.length], 0);
      }
      for (int b = c.fits ? c.length + 1 : 0; b < c.capacity + 4; ++b) ASSERT_EQ(buffer[b], 0xCC);
    }
  }
}

// The array forms take the capacity from the caller's array.
TEST_F(ReaderTest, ArrayFormsUseTheArraySize) {
  PlugFiles(CardFileBytes(200));
  char name128[128];
  char name256[256];
  int length = 0;
  EXPECT_EQ(keyfold::FetchKeyContainerName(m_path.c_str(), keyfold::kFirstCertDirectory, name128, length), -100);
  EXPECT_EQ(keyfold::FetchKeyContainerName(m_path.c_str(), keyfold::kFirstCertDirectory, name256, length), 0);
  EXPECT_EQ(length, 200);
  EXPECT_EQ(keyfold::ReadKeyContainerName(m_path.c_str(), keyfold::kFirstCertDirectory, name128, length), -1);
  unsigned char cert[keyfold::kCertificateCapacity];
  EXPECT_EQ(keyfold::ReadCertificate(m_path.c_str(), keyfold::kFirstCertDirectory, cert, length), 0);
  EXPECT_EQ(length, 200);
}

}  // namespace
