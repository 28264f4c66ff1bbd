// dirwarden.exe run as a process, as the set-up runs it.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "os_test.h"
#include "os_test_log.h"

namespace {

using RunResult = OsTestRun;

// Runs a program that the test registration names in a_szVariable, with its
// output (both streams) caught in one pipe.
RunResult RunProgram(const char* a_szVariable, const std::wstring& a_wsArguments) {
  const char* const l_szExe = std::getenv(a_szVariable);
  EXPECT_NE(l_szExe, nullptr) << "the test registration sets " << a_szVariable;
  if (l_szExe == nullptr) return RunResult();
  return OsTestRunProgram(L"\"" + OsTestWide(l_szExe) + L"\"" + a_wsArguments);
}

RunResult RunDirwarden(const std::wstring& a_wsArguments) { return RunProgram("OS_TEST_DIRWARDEN", a_wsArguments); }

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
    EXPECT_EQ(l_run.m_ulExitCode, 0u);
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
    EXPECT_EQ(l_run.m_ulExitCode, 0u);
    EXPECT_EQ(l_run.m_sOutput, "");
  }
  EXPECT_FALSE(IsDirectory(l_wsDrive + L"\\" + l_wsEvil));
  EXPECT_FALSE(IsDirectory(m_wsProgramData + L"\\a"));
  // While debugging, the refusal is said where it can be seen: the log has
  // no file at that point.
  SetEnv(L"QRX_DEBUG", L"1");
  SetEnv(L"QRX_OSCFGDIR", WDir().c_str());
  const RunResult l_run = RunDirwarden(L" \"..\\" + l_wsEvil + L"\"");
  EXPECT_EQ(l_run.m_ulExitCode, 0u);
  EXPECT_NE(l_run.m_sOutput.find("company name refused...> <..\\" + OsTestUtf8(l_wsEvil) + ">"), std::string::npos)
      << l_run.m_sOutput;
  OsTestRemoveTree(l_wsDrive + L"\\" + l_wsEvil);
}

// One argument as the C runtime's command-line parser reads it back:
// quotes escaped, backslashes doubled before a quote and at the end.
std::wstring QuoteArgument(const std::wstring& a_ws) {
  std::wstring l_ws = L"\"";
  std::size_t l_sizetSlashes = 0;
  for (const wchar_t l_wc : a_ws) {
    if (l_wc == L'\\') {
      ++l_sizetSlashes;
      continue;
    }
    l_ws.append(l_wc == L'"' ? 2 * l_sizetSlashes + 1 : l_sizetSlashes, L'\\');
    l_sizetSlashes = 0;
    l_ws += l_wc;
  }
  l_ws.append(2 * l_sizetSlashes, L'\\');
  return l_ws + L"\"";
}

// Every entry below a folder with its size and write time (a folder's
// changes when an entry is added or removed), except the subtrees that
// a_vsSkip names and the write time of a_wsChanging (compared without case).
void ListTree(const std::wstring& a_wsDir, const std::vector<std::wstring>& a_vsSkip,
              std::map<std::wstring, std::wstring>& a_mapList, const std::wstring& a_wsChanging = L"") {
  WIN32_FIND_DATAW l_data;
  HANDLE const l_hfind = FindFirstFileW((a_wsDir + L"\\*").c_str(), &l_data);
  if (l_hfind == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring l_wsName = l_data.cFileName;
    if (l_wsName == L"." || l_wsName == L"..") continue;
    const std::wstring l_wsPath = a_wsDir + L"\\" + l_wsName;
    bool l_bSkip = false;
    for (const std::wstring& l_wsSkip : a_vsSkip)
      l_bSkip = l_bSkip || _wcsicmp(l_wsPath.c_str(), l_wsSkip.c_str()) == 0;
    if (l_bSkip) continue;
    const bool l_bDirectory = (l_data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const std::wstring l_wsTime = _wcsicmp(l_wsPath.c_str(), a_wsChanging.c_str()) == 0
                                      ? L"-"
                                      : std::to_wstring(l_data.ftLastWriteTime.dwHighDateTime) + L"." +
                                            std::to_wstring(l_data.ftLastWriteTime.dwLowDateTime);
    a_mapList[l_wsPath] =
        (l_bDirectory ? std::wstring(L"dir") : std::to_wstring(l_data.nFileSizeLow)) + L" " + l_wsTime;
    if (l_bDirectory && !(l_data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
      ListTree(l_wsPath, a_vsSkip, a_mapList, a_wsChanging);
  } while (FindNextFileW(l_hfind, &l_data));
  FindClose(l_hfind);
}

// Names of every length and every form a user could give, run as the
// elevated set-up runs the program: each leaves the whole drive outside
// its own company folder as it was. A refused name creates nothing at all;
// an accepted one leaves the complete tree. The directories that a layout
// built from an empty path would reach at the drive's root survive.
TEST_F(Dirwarden, NoCompanyNameReachesOutsideItsFolder) {
  SetEnv(L"QRX_DEBUG", nullptr);
  wchar_t l_wszWindows[MAX_PATH];
  ASSERT_GT(GetWindowsDirectoryW(l_wszWindows, MAX_PATH), 2u);
  const std::wstring l_wsDrive = std::wstring(l_wszWindows).substr(0, 2);
  std::vector<std::wstring> l_vsBait;
  for (const wchar_t* l_wszBait : {L"\\dirwarden", L"\\log.1", L"\\log.2", L"\\log.3", L"\\log.4", L"\\common"}) {
    const std::wstring l_ws = l_wsDrive + l_wszBait;
    if (GetFileAttributesW(l_ws.c_str()) != INVALID_FILE_ATTRIBUTES) continue;  // never ours to remove
    ASSERT_TRUE(CreateDirectoryW(l_ws.c_str(), nullptr));
    HANDLE const l_h =
        CreateFileW((l_ws + L"\\bait.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(l_h, INVALID_HANDLE_VALUE);
    CloseHandle(l_h);
    l_vsBait.push_back(l_ws);
  }
  // Tests running beside this one write in the temporary folder only.
  wchar_t l_wszTemp[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, l_wszTemp), 0u);
  std::wstring l_wsTemp = l_wszTemp;
  if (l_wsTemp.back() == L'\\') l_wsTemp.pop_back();
  const std::vector<std::wstring> l_vsSkip = {l_wsTemp};
  // C:\ProgramData itself changes with every folder an accepted name makes and the test removes.
  std::map<std::wstring, std::wstring> l_mapBefore;
  ListTree(l_wsDrive, l_vsSkip, l_mapBefore, m_wsProgramData);

  // The deepest path of the tree is the log file:
  // <folder>\dirwarden\dirwarden\log.<17 digits>\dirwarden.log, at most 259 characters.
  const int l_iLongest =
      259 - static_cast<int>(m_wsProgramData.size() + 1 + std::wstring(L"\\dirwarden\\dirwarden\\log.").size() + 17 +
                             std::wstring(L"\\dirwarden.log").size());
  ASSERT_GT(l_iLongest, 100);
  struct Case {
    std::wstring m_ws;
    bool m_bAccepted;
  };
  std::vector<Case> l_vcase;
  std::vector<int> l_viLength = {1,   2,   3,   7,   16,  31,  32,  63,  64,  100, 127, 128, 150,
                                 200, 238, 243, 255, 256, 257, 258, 259, 260, 261, 299, 300};
  for (int l_i = -4; l_i <= 4; ++l_i) l_viLength.push_back(l_iLongest + l_i);
  for (int l_i = 10; l_i <= 290; l_i += 20) l_viLength.push_back(l_i);
  for (const int l_iLength : l_viLength) {
    std::wstring l_ws = L"q" + std::to_wstring(l_iLength) + L"_";
    l_ws.resize(static_cast<std::size_t>(l_iLength), L'n');
    l_vcase.push_back({l_ws, l_iLength <= l_iLongest});
  }
  for (const wchar_t* l_wsz : {L"CON",
                               L"nul",
                               L"NUL.txt",
                               L"com1",
                               L"LPT9",
                               L"con .txt",
                               L"CONIN$",
                               L"aux.tar.gz",
                               L"..",
                               L".",
                               L"...",
                               L"..\\qrxout",
                               L"C:",
                               L"C:qrxout",
                               L"C:\\qrxout",
                               L"\\qrxout",
                               L"\\\\server\\share",
                               L"\\\\?\\C:\\qrxout",
                               L"\\\\.\\qrxout",
                               L"a<b",
                               L"a>b",
                               L"a|b",
                               L"a?b",
                               L"a*b",
                               L"a\"b",
                               L"a/b",
                               L"a:b",
                               L"tab\tname",
                               L"name.",
                               L"name ",
                               L"name. .",
                               L"name\\",
                               L"MICROS~1",
                               L"qrx~2"})
    l_vcase.push_back({l_wsz, false});
  for (const wchar_t* l_wsz : {L"com10", L"console", L"nulx.txt", L" lead", L"a.b", L"x-y_z", L"a~b"})
    l_vcase.push_back({l_wsz, true});

  for (const Case& l_case : l_vcase) {
    const std::string l_sName = OsTestUtf8(l_case.m_ws);
    const std::wstring l_wsFolder = m_wsProgramData + L"\\" + l_case.m_ws;
    const RunResult l_run = RunDirwarden(L" " + QuoteArgument(l_case.m_ws));
    EXPECT_EQ(l_run.m_ulExitCode, 0u) << l_sName;
    EXPECT_EQ(l_run.m_sOutput, "") << l_sName;
    if (l_case.m_bAccepted) {
      EXPECT_TRUE(IsDirectory(l_wsFolder + L"\\common")) << l_sName;
      EXPECT_FALSE(IsDirectory(l_wsFolder + L"\\dirwarden")) << l_sName;
      OsTestRemoveTree(l_wsFolder);
    }
    std::map<std::wstring, std::wstring> l_mapAfter;
    ListTree(l_wsDrive, l_vsSkip, l_mapAfter, m_wsProgramData);
    for (const auto& l_entry : l_mapAfter)
      EXPECT_EQ(l_mapBefore.count(l_entry.first), 1u) << l_sName << " created " << OsTestUtf8(l_entry.first);
    for (const auto& l_entry : l_mapBefore) {
      const auto l_it = l_mapAfter.find(l_entry.first);
      EXPECT_TRUE(l_it != l_mapAfter.end() && l_it->second == l_entry.second)
          << l_sName << " removed or changed " << OsTestUtf8(l_entry.first);
    }
    if (HasFailure()) break;
  }
  for (const std::wstring& l_ws : l_vsBait) OsTestRemoveTree(l_ws);
}

TEST_F(Dirwarden, ExitsWithZeroAndPrintsNothing) {
  SetEnv(L"QRX_DEBUG", nullptr);
  for (const std::wstring& l_wsArguments :
       {std::wstring(), L" " + m_wsCompany, L" " + m_wsCompany + L" extra ignored", std::wstring(L" \"\"")}) {
    const RunResult l_run = RunDirwarden(l_wsArguments);
    EXPECT_EQ(l_run.m_ulExitCode, 0u) << OsTestUtf8(l_wsArguments);
    EXPECT_EQ(l_run.m_sOutput, "") << OsTestUtf8(l_wsArguments);
  }
}

// Everyone's access mask in the folder's DACL (0 when there is no entry for it).
ACCESS_MASK EveryoneAccess(const std::wstring& a_wsPath, std::wstring* a_pwsSddl) {
  PACL l_pacl = nullptr;
  PSECURITY_DESCRIPTOR l_psd = nullptr;
  if (GetNamedSecurityInfoW(a_wsPath.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION,
                            nullptr, nullptr, &l_pacl, nullptr, &l_psd) != ERROR_SUCCESS)
    return 0;
  LPWSTR l_wszSddl = nullptr;
  if (a_pwsSddl != nullptr &&
      ConvertSecurityDescriptorToStringSecurityDescriptorW(
          l_psd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION, &l_wszSddl, nullptr)) {
    *a_pwsSddl = l_wszSddl;
    LocalFree(l_wszSddl);
  }
  ACCESS_MASK l_mask = 0;
  SID_IDENTIFIER_AUTHORITY l_world = SECURITY_WORLD_SID_AUTHORITY;
  PSID l_psidEveryone = nullptr;
  AllocateAndInitializeSid(&l_world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &l_psidEveryone);
  for (DWORD l_i = 0; l_pacl != nullptr && l_i < l_pacl->AceCount; ++l_i) {
    ACCESS_ALLOWED_ACE* l_pace = nullptr;
    if (!GetAce(l_pacl, l_i, reinterpret_cast<void**>(&l_pace)) || l_pace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE)
      continue;
    if (EqualSid(reinterpret_cast<PSID>(&l_pace->SidStart), l_psidEveryone)) l_mask |= l_pace->Mask;
  }
  FreeSid(l_psidEveryone);
  LocalFree(l_psd);
  return l_mask;
}

TEST_F(Dirwarden, TheCompanyFolderIsOpenToEveryone) {
  const RunResult l_run = RunDirwarden(L" " + m_wsCompany);
  ASSERT_EQ(l_run.m_ulExitCode, 0u);
  std::wstring l_wsSddl;
  const ACCESS_MASK l_mask = EveryoneAccess(m_wsProgramData + L"\\" + m_wsCompany, &l_wsSddl);
  // What every file system keeps: everyone may add files and folders.
  EXPECT_EQ(l_mask & (FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY),
            static_cast<ACCESS_MASK>(FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY))
      << OsTestUtf8(l_wsSddl);
  if (OsTestIsWine()) GTEST_SKIP() << "Wine keeps no DACL or label on this file system, only mode bits";
  for (const wchar_t* l_wszTrustee : {L";;;SY)", L";;;BA)", L";;;WD)", L";;;BU)"}) {
    const std::size_t l_sizet = l_wsSddl.find(l_wszTrustee);
    ASSERT_NE(l_sizet, std::wstring::npos) << OsTestUtf8(l_wsSddl);
    EXPECT_NE(l_wsSddl.rfind(L"(A;OICI", l_sizet), std::wstring::npos);
  }
  OSVERSIONINFOW l_version = {};
  l_version.dwOSVersionInfoSize = sizeof(l_version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  GetVersionExW(&l_version);
#pragma GCC diagnostic pop
  if (l_version.dwMajorVersion >= 6) {
    EXPECT_NE(l_wsSddl.find(L"S:(ML;OICI;NW;;;LW)"), std::wstring::npos);
  }
}

// The report that a debugging run leaves where QRX_OSCFGDIR says, with
// every section in order and the layout's items and members.
TEST_F(Dirwarden, ADebuggingRunWritesTheConfigurationReport) {
  SetEnv(L"QRX_DEBUG", L"1");
  SetEnv(L"QRX_OSCFGDIR", WDir().c_str());
  const RunResult l_run = RunDirwarden(L" " + m_wsCompany);
  EXPECT_EQ(l_run.m_ulExitCode, 0u);
  EXPECT_EQ(l_run.m_sOutput, "");
  WIN32_FIND_DATAW l_find;
  HANDLE const l_hfind = FindFirstFileW((WDir() + L"\\qrxoscfg_*.txt").c_str(), &l_find);
  ASSERT_NE(l_hfind, INVALID_HANDLE_VALUE) << "no report in " << Dir();
  std::wstring l_wsName = l_find.cFileName;
  FindClose(l_hfind);
  const std::string l_sReport = OsTestReadFile(WDir() + L"\\" + l_wsName);
  std::size_t l_sizetAt = 0;
  for (const char* l_szSection :
       {"*** Environmentals ***", "*** CFG Info ***", "OS_CFGINFO_OS_NAMESTRING..............",
        "*** OS Library Items ***", "OS_CFGSECTION_MAIN", "OS_CFGSECTION_SUPPORTEDSIZES", "OS_CFGSECTION_QRX_ALL",
        "*** There are no local items ***", "*** Directories ***"}) {
    const std::size_t l_sizet = l_sReport.find(l_szSection, l_sizetAt);
    ASSERT_NE(l_sizet, std::string::npos) << l_szSection;
    l_sizetAt = l_sizet;
  }
  const std::string l_sRoot = OsTestUtf8(m_wsProgramData + L"\\" + m_wsCompany);
  char l_szLine[512];
  std::snprintf(l_szLine, sizeof(l_szLine), "\r\n%-48s <%s>\r\n", "RootPath", l_sRoot.c_str());
  EXPECT_NE(l_sReport.find(l_szLine), std::string::npos) << l_szLine;
  std::snprintf(l_szLine, sizeof(l_szLine), "\r\n%-48s <%s>\r\n", "UserRootDirectory",
                (l_sRoot + "\\dirwarden").c_str());
  EXPECT_NE(l_sReport.find(l_szLine), std::string::npos) << l_szLine;
  std::snprintf(l_szLine, sizeof(l_szLine), "\r\nm_szRootWriteableDirectory          = <%s>\r\n", l_sRoot.c_str());
  EXPECT_NE(l_sReport.find(l_szLine), std::string::npos) << l_szLine;
  EXPECT_NE(l_sReport.find("\r\n---\r\n"), std::string::npos);
}

// The version the library detects depends on the program's manifest, as on
// Windows: without a Windows 10 entry the system reports an older version
// (dirwarden relies on this), with one it reports 10.0, which the version
// table names "WinNT1000" and places below Vista: no low label then.
TEST_F(Dirwarden, AWindows10ManifestChangesTheDetectedVersion) {
  SetEnv(L"QRX_APPDATADIR", WDir().c_str());
  SetEnv(L"QRX_DEBUG", nullptr);
  // Under Wine the two probes (and nothing else) run on a Windows 10 prefix.
  static const wchar_t* const s_awszKey[] = {L"Software\\Wine\\AppDefaults\\os_version_probe.exe",
                                             L"Software\\Wine\\AppDefaults\\os_version_probe_win10.exe"};
  if (OsTestIsWine()) {
    for (const wchar_t* l_wszKey : s_awszKey) {
      HKEY l_hkey = nullptr;
      ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, l_wszKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &l_hkey, nullptr),
                ERROR_SUCCESS);
      RegSetValueExW(l_hkey, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"win10"), 6 * sizeof(wchar_t));
      RegCloseKey(l_hkey);
    }
  }
  const RunResult l_plain = RunProgram("OS_TEST_PROBE", L"");
  const RunResult l_win10 = RunProgram("OS_TEST_PROBE_WIN10", L"");
  if (OsTestIsWine())
    for (const wchar_t* l_wszKey : s_awszKey) RegDeleteKeyW(HKEY_CURRENT_USER, l_wszKey);
  ASSERT_EQ(l_plain.m_ulExitCode, 0u) << l_plain.m_sOutput;
  ASSERT_EQ(l_win10.m_ulExitCode, 0u) << l_win10.m_sOutput;
  char l_szVersion[16] = "";
  long l_lCode = 0;
  int l_iLabel = -1;
  unsigned long l_ulMajor = 0;
  ASSERT_EQ(std::sscanf(l_plain.m_sOutput.c_str(), "%15s %ld %d %lu", l_szVersion, &l_lCode, &l_iLabel, &l_ulMajor), 4)
      << l_plain.m_sOutput;
  if (l_ulMajor < 10) GTEST_SKIP() << "the system is older than Windows 10: no version lie to show";
  EXPECT_GE(l_lCode, 10) << l_plain.m_sOutput;  // Vista or later
  EXPECT_STRNE(l_szVersion, "1000");
  EXPECT_EQ(l_iLabel, 1);
  ASSERT_EQ(std::sscanf(l_win10.m_sOutput.c_str(), "%15s %ld %d %lu", l_szVersion, &l_lCode, &l_iLabel, &l_ulMajor), 4)
      << l_win10.m_sOutput;
  EXPECT_STREQ(l_szVersion, "1000");
  EXPECT_EQ(l_lCode, 1);
  EXPECT_EQ(l_iLabel, 0);
}

// Links planted before the run (see make_dirwarden_links.sh): in place of the
// program's own folder, and in place of the whole company folder.
TEST_F(Dirwarden, PlantedLinksLeadNowhere) {
  const char* const l_szDir = std::getenv("OS_TEST_LINKS_DIR");
  ASSERT_NE(l_szDir, nullptr) << "the links fixture sets OS_TEST_LINKS_DIR";
  const std::wstring l_wsDir = OsTestWide(l_szDir);
  for (const wchar_t* l_wszCompany : {L"qrxlinkuser", L"qrxlinkco"}) {
    const std::wstring l_wsTarget =
        l_wsDir + (std::wstring(l_wszCompany) == L"qrxlinkco" ? L"\\target_co" : L"\\target_user");
    const ACCESS_MASK l_maskBefore = EveryoneAccess(l_wsTarget, nullptr);
    std::map<std::wstring, std::wstring> l_mapBefore;
    ListTree(l_wsTarget, {}, l_mapBefore);
    const RunResult l_run = RunDirwarden(std::wstring(L" ") + l_wszCompany);
    std::map<std::wstring, std::wstring> l_mapAfter;
    ListTree(l_wsTarget, {}, l_mapAfter);
    EXPECT_EQ(l_mapAfter, l_mapBefore) << OsTestUtf8(l_wszCompany) << ": the link's target gained or lost entries";
    EXPECT_EQ(l_run.m_ulExitCode, 0u);
    EXPECT_EQ(l_run.m_sOutput, "");
    EXPECT_NE(GetFileAttributesW((l_wsTarget + L"\\keep.txt").c_str()), INVALID_FILE_ATTRIBUTES)
        << OsTestUtf8(l_wszCompany) << ": a file outside the tree was deleted";
    EXPECT_EQ(EveryoneAccess(l_wsTarget, nullptr) & FILE_ADD_FILE, l_maskBefore & FILE_ADD_FILE)
        << OsTestUtf8(l_wszCompany) << ": access was opened outside the tree";
  }
}

}  // namespace
