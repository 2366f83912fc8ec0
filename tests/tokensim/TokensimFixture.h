// A private bay per test and the three token libraries loaded the way a
// client loads them: by name, from the program's own folder.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "keyfold/token/TokenLibraryApi.h"
#include "tokensim/Control.h"
#include "tokensim/Win32.h"

namespace tstest {

class Library {
 public:
  explicit Library(const char* name)
      : module_(LoadLibraryExA(name, nullptr,
                               LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32)) {}
  bool loaded() const { return module_.get() != nullptr; }
  template <typename F>
  F Get(const char* name) const {
    return reinterpret_cast<F>(GetProcAddress(module_.get(), name));
  }

 private:
  tokensim::UniqueModule module_;
};

// The card commands of tk_cosapi.dll, bound as Keyfold binds them.
struct CosApi {
  Library lib{"tk_cosapi.dll"};
  PFN_TK_Open Open = lib.Get<PFN_TK_Open>("TK_Open");
  PFN_TK_OpenByPath OpenByPath = lib.Get<PFN_TK_OpenByPath>("TK_OpenByPath");
  PFN_TK_Close Close = lib.Get<PFN_TK_Close>("TK_Close");
  PFN_TK_IC_RESET Reset = lib.Get<PFN_TK_IC_RESET>("TK_IC_RESET");
  PFN_TK_GET_BCDSN Serial = lib.Get<PFN_TK_GET_BCDSN>("TK_GET_BCDSN");
  PFN_TK_GetDevicePath DevicePath = lib.Get<PFN_TK_GetDevicePath>("TK_GetDevicePath");
  PFN_Select_File Select = lib.Get<PFN_Select_File>("Select_File");
  PFN_Read_Binary Read = lib.Get<PFN_Read_Binary>("Read_Binary");
  PFN_Verify_Pin VerifyPin = lib.Get<PFN_Verify_Pin>("Verify_Pin");
  PFN_Write_Key WriteKey = lib.Get<PFN_Write_Key>("Write_Key");
  PFN_Get_Challenge Challenge = lib.Get<PFN_Get_Challenge>("Get_Challenge");
  PFN_Internal_Authentication Internal =
      lib.Get<PFN_Internal_Authentication>("Internal_Authentication");
  PFN_External_Authentication External =
      lib.Get<PFN_External_Authentication>("External_Authentication");
  bool complete() const {
    return Open && OpenByPath && Close && Reset && Serial && DevicePath && Select && Read &&
           VerifyPin && WriteKey && Challenge && Internal && External;
  }
};

struct CspExt {
  Library lib{"tk_cspext.dll"};
  PFN_TK_EnterMutex Enter = lib.Get<PFN_TK_EnterMutex>("TK_EnterMutex");
  PFN_TK_LeaveMutex Leave = lib.Get<PFN_TK_LeaveMutex>("TK_LeaveMutex");
};

struct Watch {
  Library lib{"TKWATCH.dll"};
  PFN_TK_RegisterCardNotification Register =
      lib.Get<PFN_TK_RegisterCardNotification>("TK_RegisterCardNotification");
  PFN_TK_UnregisterCardNotification Unregister =
      lib.Get<PFN_TK_UnregisterCardNotification>("TK_UnregisterCardNotification");
  PFN_TK_IsTKDevice IsTKDevice = lib.Get<PFN_TK_IsTKDevice>("TK_IsTKDevice");
};

std::vector<unsigned char> Pattern(size_t n, unsigned seed);
// A DER-shaped blob (SEQUENCE header and a pattern) of exactly n bytes.
std::vector<unsigned char> FakeCertificate(size_t n, unsigned seed);
tokensim::TokenSettings MakeToken(std::vector<unsigned char> serial, int driver,
                              const std::string& pin = "1234");

// Runs a program from the test's folder and returns its exit code; output
// (stdout and stderr) in *output.
int RunProgram(const std::string& commandLine, std::string* output = nullptr,
               DWORD timeoutMs = 30000);
std::string ProgramFolder();

class BayTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::vector<tokensim::TraceRecord> Trace(const std::string& function = std::string());
  std::string bay_;
};

}  // namespace tstest
