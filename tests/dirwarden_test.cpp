// dirwarden.exe run as a process, as the set-up runs it.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "os_test.h"

namespace {

struct RunResult {
  DWORD m_dwExitCode = 0xFFFFFFFF;
  std::string m_sOutput;
};

// Runs the program with its output (both streams) caught in one pipe.
RunResult RunDirwarden(const std::wstring& a_wsArguments) {
  RunResult l_run;
  const char* const l_szExe = std::getenv("OS_TEST_DIRWARDEN");
  EXPECT_NE(l_szExe, nullptr) << "the test registration sets OS_TEST_DIRWARDEN";
  if (l_szExe == nullptr) return l_run;
  SECURITY_ATTRIBUTES l_sa = {sizeof(l_sa), nullptr, TRUE};
  HANDLE l_hRead = nullptr;
  HANDLE l_hWrite = nullptr;
  EXPECT_TRUE(CreatePipe(&l_hRead, &l_hWrite, &l_sa, 0));
  SetHandleInformation(l_hRead, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW l_si = {};
  l_si.cb = sizeof(l_si);
  l_si.dwFlags = STARTF_USESTDHANDLES;
  l_si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  l_si.hStdOutput = l_hWrite;
  l_si.hStdError = l_hWrite;
  std::wstring l_wsCommand = L"\"" + OsTestWide(l_szExe) + L"\"" + a_wsArguments;
  PROCESS_INFORMATION l_pi = {};
  const BOOL l_b = CreateProcessW(nullptr, l_wsCommand.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                  nullptr, &l_si, &l_pi);
  EXPECT_TRUE(l_b) << GetLastError();
  CloseHandle(l_hWrite);
  if (l_b) {
    char l_ac[4096];
    DWORD l_dw = 0;
    while (ReadFile(l_hRead, l_ac, sizeof(l_ac), &l_dw, nullptr) && l_dw > 0) l_run.m_sOutput.append(l_ac, l_dw);
    WaitForSingleObject(l_pi.hProcess, 60000);
    GetExitCodeProcess(l_pi.hProcess, &l_run.m_dwExitCode);
    CloseHandle(l_pi.hProcess);
    CloseHandle(l_pi.hThread);
  }
  CloseHandle(l_hRead);
  return l_run;
}

class Dirwarden : public OsTest {};

TEST_F(Dirwarden, ExitsWithZeroAndPrintsNothing) {
  SetEnv(L"QRX_DEBUG", nullptr);
  for (const wchar_t* l_wszArguments : {L"", L" acme", L" acme extra ignored", L" \"\""}) {
    const RunResult l_run = RunDirwarden(l_wszArguments);
    EXPECT_EQ(l_run.m_dwExitCode, 0u) << OsTestUtf8(l_wszArguments);
    EXPECT_EQ(l_run.m_sOutput, "") << OsTestUtf8(l_wszArguments);
  }
}

}  // namespace
