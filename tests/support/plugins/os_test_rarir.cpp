// A stand-in for the suite's interface library: every task it is given is
// appended, NUL-terminated, to the file named by OS_TEST_RARIR_LOG, and it
// answers with the text of OS_TEST_RARIR_REPLY. With OS_TEST_RARIR_PROBE set,
// each task is followed by "held" or "gone": whether that file exists while
// the task is handled.
#include <windows.h>

namespace {
char s_szReply[8192];

void Append(HANDLE a_h, const char* a_sz) {
  DWORD l_dwWritten = 0;
  WriteFile(a_h, a_sz, lstrlenA(a_sz) + 1, &l_dwWritten, nullptr);
}
}  // namespace

extern "C" const char* RarirEntry(const char* a_szTask) {
  char l_szLog[MAX_PATH];
  const DWORD l_dwLog = GetEnvironmentVariableA("OS_TEST_RARIR_LOG", l_szLog, sizeof(l_szLog));
  if (l_dwLog != 0 && l_dwLog < sizeof(l_szLog)) {
    const HANDLE l_h = CreateFileA(l_szLog, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (l_h != INVALID_HANDLE_VALUE) {
      Append(l_h, a_szTask);
      char l_szProbe[MAX_PATH];
      const DWORD l_dwProbe = GetEnvironmentVariableA("OS_TEST_RARIR_PROBE", l_szProbe, sizeof(l_szProbe));
      if (l_dwProbe != 0 && l_dwProbe < sizeof(l_szProbe))
        Append(l_h, GetFileAttributesA(l_szProbe) != INVALID_FILE_ATTRIBUTES ? "held" : "gone");
      CloseHandle(l_h);
    }
  }
  if (GetEnvironmentVariableA("OS_TEST_RARIR_REPLY", s_szReply, sizeof(s_szReply)) >= sizeof(s_szReply))
    s_szReply[0] = 0;
  return s_szReply;
}
