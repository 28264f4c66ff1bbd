// A stand-in for the suite's interface library: every task it is given is
// appended, NUL-terminated, to the file named by OS_TEST_RARIR_LOG, and it
// answers with the text of OS_TEST_RARIR_REPLY.
#include <windows.h>

namespace {
char s_szReply[8192];
}

extern "C" const char* RarirEntry(const char* a_szTask) {
  char l_szLog[MAX_PATH];
  const DWORD l_dwLog = GetEnvironmentVariableA("OS_TEST_RARIR_LOG", l_szLog, sizeof(l_szLog));
  if (l_dwLog != 0 && l_dwLog < sizeof(l_szLog)) {
    const HANDLE l_h = CreateFileA(l_szLog, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (l_h != INVALID_HANDLE_VALUE) {
      DWORD l_dwWritten = 0;
      WriteFile(l_h, a_szTask, lstrlenA(a_szTask) + 1, &l_dwWritten, nullptr);
      CloseHandle(l_h);
    }
  }
  if (GetEnvironmentVariableA("OS_TEST_RARIR_REPLY", s_szReply, sizeof(s_szReply)) >= sizeof(s_szReply)) s_szReply[0] = 0;
  return s_szReply;
}
