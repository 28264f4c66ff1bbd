#include "os_test.h"

#include <windows.h>

bool OsTestIsWine() {
  HMODULE const l_hmodule = GetModuleHandleW(L"ntdll.dll");
  return l_hmodule != nullptr && GetProcAddress(l_hmodule, "wine_get_version") != nullptr;
}

std::wstring OsTestWide(const std::string& a_s) {
  if (a_s.empty()) return std::wstring();
  const int l_n = MultiByteToWideChar(CP_UTF8, 0, a_s.data(), static_cast<int>(a_s.size()), nullptr, 0);
  std::wstring l_ws(static_cast<std::size_t>(l_n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, a_s.data(), static_cast<int>(a_s.size()), l_ws.data(), l_n);
  return l_ws;
}

std::string OsTestUtf8(const std::wstring& a_ws) {
  if (a_ws.empty()) return std::string();
  const int l_n =
      WideCharToMultiByte(CP_UTF8, 0, a_ws.data(), static_cast<int>(a_ws.size()), nullptr, 0, nullptr, nullptr);
  std::string l_s(static_cast<std::size_t>(l_n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, a_ws.data(), static_cast<int>(a_ws.size()), l_s.data(), l_n, nullptr, nullptr);
  return l_s;
}

std::optional<std::wstring> OsTestGetEnv(const wchar_t* a_wszName) {
  SetLastError(0);
  const DWORD l_dwNeeded = GetEnvironmentVariableW(a_wszName, nullptr, 0);
  if (l_dwNeeded == 0) {
    // Wine reads a variable set to "" as 0 without touching the last error.
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::wstring();
  }
  std::wstring l_ws(l_dwNeeded, L'\0');
  const DWORD l_dw = GetEnvironmentVariableW(a_wszName, l_ws.data(), l_dwNeeded);
  l_ws.resize(l_dw);
  return l_ws;
}

void OsTestEnvironment::Set(const wchar_t* a_wszName, const wchar_t* a_wszValue) {
  bool l_bKnown = false;
  for (const auto& l_saved : m_saved) l_bKnown = l_bKnown || l_saved.first == a_wszName;
  if (!l_bKnown) m_saved.emplace_back(a_wszName, OsTestGetEnv(a_wszName));
  SetEnvironmentVariableW(a_wszName, a_wszValue);
}

void OsTestEnvironment::RestoreAll() {
  for (auto l_it = m_saved.rbegin(); l_it != m_saved.rend(); ++l_it)
    SetEnvironmentVariableW(l_it->first.c_str(), l_it->second ? l_it->second->c_str() : nullptr);
  m_saved.clear();
}

int OsTestCountEntries(const std::wstring& a_wsDirectory) {
  WIN32_FIND_DATAW l_data;
  HANDLE const l_hfind = FindFirstFileW((a_wsDirectory + L"\\*").c_str(), &l_data);
  if (l_hfind == INVALID_HANDLE_VALUE) return 0;
  int l_i = 0;
  do {
    const std::wstring l_ws = l_data.cFileName;
    if (l_ws != L"." && l_ws != L"..") ++l_i;
  } while (FindNextFileW(l_hfind, &l_data));
  FindClose(l_hfind);
  return l_i;
}

void OsTestRemoveTree(const std::wstring& a_wsPath) {
  const DWORD l_dwAttributes = GetFileAttributesW(a_wsPath.c_str());
  if (l_dwAttributes == INVALID_FILE_ATTRIBUTES) return;
  if ((l_dwAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(l_dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW l_data;
    HANDLE const l_hfind = FindFirstFileW((a_wsPath + L"\\*").c_str(), &l_data);
    if (l_hfind != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring l_wsName = l_data.cFileName;
        if (l_wsName != L"." && l_wsName != L"..") OsTestRemoveTree(a_wsPath + L"\\" + l_wsName);
      } while (FindNextFileW(l_hfind, &l_data));
      FindClose(l_hfind);
    }
    SetFileAttributesW(a_wsPath.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(a_wsPath.c_str());
  } else if (l_dwAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    RemoveDirectoryW(a_wsPath.c_str());
  } else {
    SetFileAttributesW(a_wsPath.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(a_wsPath.c_str());
  }
}

void OsTest::SetUp() {
  const ::testing::TestInfo* const l_pinfo = ::testing::UnitTest::GetInstance()->current_test_info();
  wchar_t l_wszTemp[MAX_PATH];
  const DWORD l_dw = GetTempPathW(MAX_PATH, l_wszTemp);
  ASSERT_GT(l_dw, 0u);
  std::wstring l_ws = l_wszTemp;
  if (!l_ws.empty() && l_ws.back() == L'\\') l_ws.pop_back();
  l_ws += L"\\qrxtest";
  CreateDirectoryW(l_ws.c_str(), nullptr);
  std::string l_sName = std::string(l_pinfo->test_suite_name()) + "." + l_pinfo->name();
  for (char& l_c : l_sName)
    if (l_c == '/' || l_c == '\\' || l_c == ':') l_c = '_';
  l_ws += L"\\" + std::to_wstring(GetCurrentProcessId()) + L"_" + OsTestWide(l_sName);
  OsTestRemoveTree(l_ws);
  ASSERT_TRUE(CreateDirectoryW(l_ws.c_str(), nullptr)) << GetLastError();
  m_wsDir = l_ws;
  m_sDir = OsTestUtf8(l_ws);
}

void OsTest::TearDown() {
  m_environment.RestoreAll();
  if (!m_wsDir.empty()) OsTestRemoveTree(m_wsDir);
}

bool OsTestStartProcess(const std::wstring& a_wsCommand, void* a_hOutput, OsTestProcess* a_posTestProcess) {
  STARTUPINFOW l_si = {};
  l_si.cb = sizeof(l_si);
  if (a_hOutput != nullptr) {
    l_si.dwFlags = STARTF_USESTDHANDLES;
    l_si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    l_si.hStdOutput = a_hOutput;
    l_si.hStdError = a_hOutput;
  }
  std::wstring l_wsCommand = a_wsCommand;
  PROCESS_INFORMATION l_pi = {};
  BOOL l_b = FALSE;
  for (int l_iTry = 0; l_iTry < 5 && !l_b; ++l_iTry) {
    if (l_iTry > 0) Sleep(200);
    l_b = CreateProcessW(nullptr, l_wsCommand.data(), nullptr, nullptr, a_hOutput != nullptr, CREATE_NO_WINDOW, nullptr,
                         nullptr, &l_si, &l_pi);
    if (!l_b && GetLastError() != ERROR_INTERNAL_ERROR) break;
  }
  if (!l_b) return false;
  a_posTestProcess->m_hProcess = l_pi.hProcess;
  a_posTestProcess->m_hThread = l_pi.hThread;
  a_posTestProcess->m_ulId = l_pi.dwProcessId;
  return true;
}

OsTestRun OsTestRunProgram(const std::wstring& a_wsCommand) {
  OsTestRun l_run;
  SECURITY_ATTRIBUTES l_sa = {sizeof(l_sa), nullptr, TRUE};
  HANDLE l_hRead = nullptr;
  HANDLE l_hWrite = nullptr;
  if (!CreatePipe(&l_hRead, &l_hWrite, &l_sa, 0)) return l_run;
  SetHandleInformation(l_hRead, HANDLE_FLAG_INHERIT, 0);
  OsTestProcess l_process;
  const bool l_bStarted = OsTestStartProcess(a_wsCommand, l_hWrite, &l_process);
  CloseHandle(l_hWrite);
  if (l_bStarted) {
    char l_ac[4096];
    DWORD l_dw = 0;
    while (ReadFile(l_hRead, l_ac, sizeof(l_ac), &l_dw, nullptr) && l_dw > 0) l_run.m_sOutput.append(l_ac, l_dw);
    WaitForSingleObject(l_process.m_hProcess, 60000);
    DWORD l_dwExit = 0xFFFFFFFF;
    GetExitCodeProcess(l_process.m_hProcess, &l_dwExit);
    l_run.m_ulExitCode = l_dwExit;
    CloseHandle(l_process.m_hProcess);
    CloseHandle(l_process.m_hThread);
  }
  CloseHandle(l_hRead);
  return l_run;
}
