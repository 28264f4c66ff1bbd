// Holds a file open for the package tests, as another program would: the
// first argument names the file, the second the sharing ("none", or "rw"
// for a writer that lets others read and write), the third a file made once
// the hold is in place. It then waits to be ended.
#include <windows.h>

#include <cwchar>

int wmain(int a_iArgc, wchar_t** a_awszArgv) {
  if (a_iArgc != 4) return 2;
  const bool l_bShared = std::wcscmp(a_awszArgv[2], L"rw") == 0;
  const HANDLE l_h =
      CreateFileW(a_awszArgv[1], GENERIC_READ | GENERIC_WRITE, l_bShared ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (l_h == INVALID_HANDLE_VALUE) return 3;
  const HANDLE l_hReady = CreateFileW(a_awszArgv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (l_hReady == INVALID_HANDLE_VALUE) return 4;
  CloseHandle(l_hReady);
  Sleep(120000);
  CloseHandle(l_h);
  return 0;
}
