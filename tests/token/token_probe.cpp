// Runs every kind of token open once, in a process of its own, and writes
// what came of it to a file. The loading tests copy it into folders with
// chosen libraries beside it (or none) and a chosen current directory.
//   token_probe RESULT_FILE DEVICE_PATH
#include <windows.h>

#include <cstdio>
#include <string>

#include "keyfold/token/TokenConnection.h"
#include "keyfold/token/TokenFiles.h"
#include "keyfold/token/TokenLibraries.h"
#include "token/LockProbe.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const char* path = argv[2];
  const bool watch = keyfold::BindWatchLibrary() != nullptr;
  const bool lock = keyfold::BindLockLibrary() != nullptr;

  const int index = keyfold::OpenTokenByIndex(0);
  if (index > 0) keyfold::CloseToken(index);
  const int byPath = keyfold::OpenTokenByPath(path);
  if (byPath > 0) keyfold::CloseToken(byPath);
  const int reader = keyfold::OpenTokenReader(path);
  if (reader > 0) keyfold::CloseTokenReader(reader);
  char text[keyfold::kSerialTextSize] = {};
  const int serial = keyfold::FetchSerialText(path, text);

  char line[256] = {};
  std::snprintf(line, sizeof line, "watch=%d lock=%d index=%d path=%d reader=%d serial=%d cosapi=%d lockfree=%d\n",
                watch, lock, index, byPath, reader, serial, tokentest::CardLibraryLoaded() ? 1 : 0,
                lock ? (tokentest::LockIsFree() ? 1 : 0) : -1);
  FILE* f = std::fopen(argv[1], "wb");
  if (f == nullptr) return 3;
  std::fputs(line, f);
  std::fclose(f);
  return 0;
}
