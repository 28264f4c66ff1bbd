// A stand-in for the system's time tool (and, called with "ping" first, for
// the ping command) in the network time tests. Every call appends one line
// to the file named by OS_TEST_TIMETOOL_ARGS: its arguments after the
// program, as the child's parser delivered them, joined by '|'. What it
// does next comes from OS_TEST_TIMETOOL_MODE (OS_TEST_TIMETOOL_PINGMODE for
// a ping): "hang" waits for ever, "exit:N" ends with N, "print:TEXT" writes
// a header and the data line "07:08:09, TEXT" to standard output and ends
// with 0; without a mode a ping ends with 0 and the tool prints "+00.0s".
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

std::wstring Env(const wchar_t* a_wszName) {
  wchar_t l_wsz[1024];
  const DWORD l_dw = GetEnvironmentVariableW(a_wszName, l_wsz, 1024);
  return l_dw > 0 && l_dw < 1024 ? std::wstring(l_wsz) : std::wstring();
}

void Record(int a_iArgs, wchar_t** a_pwszArgs) {
  const std::wstring l_wsFile = Env(L"OS_TEST_TIMETOOL_ARGS");
  if (l_wsFile.empty()) return;
  std::wstring l_ws;
  for (int l_i = 1; l_i < a_iArgs; ++l_i) l_ws += (l_i > 1 ? L"|" : L"") + std::wstring(a_pwszArgs[l_i]);
  l_ws += L"\n";
  char l_sz[4096];
  const int l_iBytes = WideCharToMultiByte(CP_UTF8, 0, l_ws.c_str(), -1, l_sz, sizeof(l_sz), nullptr, nullptr);
  HANDLE const l_h = CreateFileW(l_wsFile.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (l_h == INVALID_HANDLE_VALUE || l_iBytes <= 1) return;
  DWORD l_dwWritten = 0;
  WriteFile(l_h, l_sz, static_cast<DWORD>(l_iBytes - 1), &l_dwWritten, nullptr);
  CloseHandle(l_h);
}

}  // namespace

int main() {
  int l_iArgs = 0;
  wchar_t** const l_pwszArgs = CommandLineToArgvW(GetCommandLineW(), &l_iArgs);
  if (l_pwszArgs == nullptr) return 90;
  Record(l_iArgs, l_pwszArgs);
  const bool l_bPing = l_iArgs > 1 && std::wcscmp(l_pwszArgs[1], L"ping") == 0;
  std::wstring l_wsMode = Env(l_bPing ? L"OS_TEST_TIMETOOL_PINGMODE" : L"OS_TEST_TIMETOOL_MODE");
  if (l_wsMode.empty()) l_wsMode = l_bPing ? L"exit:0" : L"print:+00.0s";
  if (l_wsMode == L"hang") Sleep(INFINITE);
  if (l_wsMode.rfind(L"exit:", 0) == 0) return std::wcstol(l_wsMode.c_str() + 5, nullptr, 10);
  if (l_wsMode.rfind(L"print:", 0) == 0) {
    std::printf("Tracking the server.\r\nCollecting 1 samples.\r\n07:08:09, %ls\r\n", l_wsMode.c_str() + 6);
    return 0;
  }
  return 91;
}
