// The child of the spawn tests. It writes the arguments it received, as its
// C run-time and as CommandLineToArgvW parse them, to the file named by
// OS_TEST_ARGV_OUT (one line each: the parser's name and the argument's
// UTF-16 units in hexadecimal), and sleeps 30 s when OS_TEST_CHILD_MODE is
// "sleep".
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

void WriteArguments(FILE* a_pfile, const char* a_szParser, int a_iCount, wchar_t** a_awsz) {
  for (int l_i = 1; l_i < a_iCount; ++l_i) {
    std::fprintf(a_pfile, "%s", a_szParser);
    for (const wchar_t* l_pwc = a_awsz[l_i]; *l_pwc != 0; ++l_pwc)
      std::fprintf(a_pfile, " %04x", static_cast<unsigned>(*l_pwc));
    std::fprintf(a_pfile, "\n");
  }
}

}  // namespace

int wmain(int a_iArgc, wchar_t** a_awszArgv) {
  wchar_t l_wsz[MAX_PATH];
  if (GetEnvironmentVariableW(L"OS_TEST_CHILD_MODE", l_wsz, MAX_PATH) > 0 && std::wcscmp(l_wsz, L"sleep") == 0) {
    Sleep(30000);
    return 0;
  }
  if (GetEnvironmentVariableW(L"OS_TEST_ARGV_OUT", l_wsz, MAX_PATH) == 0) return 2;
  FILE* const l_pfile = _wfopen(l_wsz, L"w");
  if (l_pfile == nullptr) return 3;
  WriteArguments(l_pfile, "crt", a_iArgc, a_awszArgv);
  int l_iCount = 0;
  wchar_t** const l_awsz = CommandLineToArgvW(GetCommandLineW(), &l_iCount);
  if (l_awsz != nullptr) WriteArguments(l_pfile, "shell", l_iCount, l_awsz);
  LocalFree(l_awsz);
  std::fclose(l_pfile);
  return 0;
}
