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

class Dirwarden : public OsTest {
 protected:
  void SetUp() override {
    OsTest::SetUp();
    wchar_t l_wsz[MAX_PATH];
    ASSERT_GT(GetEnvironmentVariableW(L"ProgramData", l_wsz, MAX_PATH), 0u);
    m_wsProgramData = l_wsz;
    m_wsCompany = L"qrxtest" + std::to_wstring(GetCurrentProcessId());
    OsTestRemoveTree(m_wsProgramData + L"\\" + m_wsCompany);
  }
  void TearDown() override {
    OsTestRemoveTree(m_wsProgramData + L"\\" + m_wsCompany);
    OsTest::TearDown();
  }
  static bool IsDirectory(const std::wstring& a_ws) {
    const DWORD l_dw = GetFileAttributesW(a_ws.c_str());
    return l_dw != INVALID_FILE_ATTRIBUTES && (l_dw & FILE_ATTRIBUTE_DIRECTORY);
  }
  std::wstring m_wsProgramData;
  std::wstring m_wsCompany;
};

TEST_F(Dirwarden, LeavesTheCompanyFolderAndItsCommonSubfolder) {
  SetEnv(L"QRX_DEBUG", nullptr);
  const std::wstring l_wsFolder = m_wsProgramData + L"\\" + m_wsCompany;
  for (int l_iRun = 0; l_iRun < 2; ++l_iRun) {
    const RunResult l_run = RunDirwarden(L" " + m_wsCompany);
    EXPECT_EQ(l_run.m_dwExitCode, 0u);
    EXPECT_EQ(l_run.m_sOutput, "");
    EXPECT_TRUE(IsDirectory(l_wsFolder + L"\\common"));
    EXPECT_FALSE(IsDirectory(l_wsFolder + L"\\dirwarden")) << "the per-program subtree is removed";
    if (l_iRun == 0) {
      HANDLE const l_h = CreateFileW((l_wsFolder + L"\\common\\kept.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                                     CREATE_ALWAYS, 0, nullptr);
      ASSERT_NE(l_h, INVALID_HANDLE_VALUE);
      CloseHandle(l_h);
    }
  }
  // A second run keeps what the folder holds.
  EXPECT_NE(GetFileAttributesW((l_wsFolder + L"\\common\\kept.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Dirwarden, ACompanyNameThatLeavesTheFolderIsRefused) {
  const std::wstring l_wsEvil = L"qrxevil" + std::to_wstring(GetCurrentProcessId());
  wchar_t l_wszRoot[MAX_PATH];
  GetWindowsDirectoryW(l_wszRoot, MAX_PATH);
  const std::wstring l_wsDrive = std::wstring(l_wszRoot).substr(0, 2);
  for (const std::wstring& l_wsArgument : {L"..\\" + l_wsEvil, l_wsDrive + L"\\" + l_wsEvil, L"a/" + l_wsEvil}) {
    const RunResult l_run = RunDirwarden(L" \"" + l_wsArgument + L"\"");
    EXPECT_EQ(l_run.m_dwExitCode, 0u);
    EXPECT_EQ(l_run.m_sOutput, "");
  }
  EXPECT_FALSE(IsDirectory(l_wsDrive + L"\\" + l_wsEvil));
  EXPECT_FALSE(IsDirectory(m_wsProgramData + L"\\a"));
  OsTestRemoveTree(l_wsDrive + L"\\" + l_wsEvil);
}

TEST_F(Dirwarden, ExitsWithZeroAndPrintsNothing) {
  SetEnv(L"QRX_DEBUG", nullptr);
  for (const wchar_t* l_wszArguments : {L"", L" acme", L" acme extra ignored", L" \"\""}) {
    const RunResult l_run = RunDirwarden(l_wszArguments);
    EXPECT_EQ(l_run.m_dwExitCode, 0u) << OsTestUtf8(l_wszArguments);
    EXPECT_EQ(l_run.m_sOutput, "") << OsTestUtf8(l_wszArguments);
  }
}

}  // namespace
