// The configuration: items and their defaults, the directory layout made at
// start-up, brand, refused company names, shared paths, security
// descriptors, set access on links, log-directory rotation.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdlib>
#include <string>

#include "os.h"
#include "os_coscfg_impl.h"
#include "os_coscfg_sysinfo.h"
#include "os_test.h"
#include "os_test_services.h"

namespace {

class Cfg : public OsServicesTest {
 protected:
  void Start(const char* a_szUnique = "cfgtest", const char* a_szEntity = "application") {
    StartAs(a_szUnique, a_szEntity);
    ASSERT_NE(OsCfgInstance(), nullptr);
  }
  static bool IsDirectory(const std::string& a_s) {
    const DWORD l_dw = GetFileAttributesW(OsTestWide(a_s).c_str());
    return l_dw != INVALID_FILE_ATTRIBUTES && (l_dw & FILE_ATTRIBUTE_DIRECTORY);
  }
};

TEST_F(Cfg, TheLayoutOfAnApplication) {
  Start();
  const std::string l_sRoot = Dir() + "\\qrx_orvik";
  EXPECT_EQ(Item(1, 10), l_sRoot);
  EXPECT_EQ(Item(1, 11), l_sRoot);  // the shared root is the writeable root
  EXPECT_EQ(Item(1, 3), l_sRoot + "\\common");
  EXPECT_EQ(Item(1, 13), l_sRoot + "\\cfgtest");
  EXPECT_EQ(Item(1, 5), l_sRoot + "\\cfgtest\\common");
  EXPECT_EQ(Item(1, 8), l_sRoot + "\\cfgtest\\cfgtest");
  const std::string l_sLog = Item(1, 12);
  ASSERT_EQ(l_sLog.rfind(l_sRoot + "\\cfgtest\\cfgtest\\log.", 0), 0u) << l_sLog;
  EXPECT_EQ(l_sLog.size() - (l_sRoot + "\\cfgtest\\cfgtest\\log.").size(), 17u);  // the time stamp
  EXPECT_EQ(Item(1, 23), l_sLog + "\\tmp");
  EXPECT_EQ(Item(1, 32), l_sLog + "\\cfgtest.log");
  EXPECT_EQ(Item(1, 30), l_sRoot + "\\cfgtest\\cfgtest\\cfgtest.ini");  // the user profile
  EXPECT_EQ(Item(1, 31), l_sRoot + "\\cfgtest\\cfgtest\\cfgtest.ini");  // and the shared one, here the same
  EXPECT_EQ(Item(1, 16), "");                                           // an application hands no model name on
  for (int l_iTag : {10, 3, 5, 8, 12}) EXPECT_TRUE(IsDirectory(Item(1, l_iTag))) << l_iTag;
  EXPECT_NE(Item(1, 2).find(".exe"), std::string::npos);
  EXPECT_EQ(Item(1, 152).find(".exe") + 4, Item(1, 152).size());
}

TEST_F(Cfg, ItemsDefaultsAndAddresses) {
  Start();
  COsCfg* const l_poscfg = OsCfgInstance();
  EXPECT_EQ(Item(1, 113), "2");
  EXPECT_EQ(Item(1, 121), "ping.exe -n 1 -w 10000 %s");
  EXPECT_EQ(Item(1, 89), "WinSta0\\Default");
  EXPECT_EQ(Item(1, 35), "0");
  EXPECT_EQ(Item(1, 38), "512");
  EXPECT_EQ(Item(2, 169), "Orvik Navela Inc.");
  EXPECT_EQ(Item(1, 56), "");  // set from a brand member only
  EXPECT_EQ(Item(3, 41), "false");
  EXPECT_EQ(Item(5, 195).size(), 128u);
  std::string l_sOnes;
  for (int l_i = 0; l_i < 64; ++l_i) l_sOnes += "01";
  EXPECT_EQ(Item(5, 219), l_sOnes);
  EXPECT_EQ(Item(5, 197), "");  // quality 45 has no default
  EXPECT_EQ(Item(6, 1), "");
  EXPECT_EQ(Item(1, 0), "");
  EXPECT_EQ(Item(1, 272), "");
  EXPECT_EQ(l_poscfg->SetItem(6, 1, "x"), OS_STS_BADARG);
  EXPECT_EQ(l_poscfg->SetItem(1, 272, "x"), OS_STS_BADARG);
  static const char s_szValue[] = "changed";
  EXPECT_EQ(l_poscfg->SetItem(3, 40, s_szValue), OS_STS_SUCCESS);
  EXPECT_EQ(Item(3, 40), "changed");
  EXPECT_EQ(std::string(l_poscfg->GetItemByName("DSIDENTITY", "userrootdirectory")), Item(1, 13));
  EXPECT_EQ(std::string(l_poscfg->GetItemByName("dsIdentity", "DesktopDirectory")), Item(1, 6));
  EXPECT_EQ(std::string(l_poscfg->GetItemByName("dsIdentity", "NoSuchTag")), "");
  EXPECT_EQ(std::string(l_poscfg->GetItemByName("NoSection", "Debug")), "");
  EXPECT_EQ(std::string(l_poscfg->GetItemByName("QRX_ALL.DS", "JpegQuantization_Y_40")), Item(5, 195));
}

TEST_F(Cfg, LocalItems) {
  // Numbers from 1001: 1000 itself means none. Entry (s - 1000) * 3 + (t - 1000).
  static const OsCfgName s_aSections[] = {{"mine", 1001}, {"other", 1002}, {nullptr, 0}};
  static const OsCfgName s_aTags[] = {{"alpha", 1001}, {"beta", 1002}, {nullptr, 0}};
  static const char* s_aszData[3 * 3] = {nullptr, nullptr, nullptr, nullptr, "a1", "b1", nullptr, "a2", "b2"};
  char l_szExtra[256];
  std::snprintf(l_szExtra, sizeof(l_szExtra),
                "<cfgsectionptr>0x%llx</cfgsectionptr><cfgtagptr>%llx</cfgtagptr><cfgdataptr>0x%llx</cfgdataptr>",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(s_aSections)),
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(s_aTags)),
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(s_aszData)));
  StartAs("cfglocal", "application", "", l_szExtra);
  COsCfg* const l_poscfg = OsCfgInstance();
  ASSERT_NE(l_poscfg, nullptr);
  EXPECT_STREQ(l_poscfg->GetItem(1001, 1002), "b1");
  EXPECT_STREQ(l_poscfg->GetItem(1002, 1001), "a2");
  EXPECT_STREQ(l_poscfg->GetItem(1003, 1001), "");  // beyond the section count
  EXPECT_STREQ(l_poscfg->GetItemByName("other", "alpha"), "a2");
  EXPECT_STREQ(l_poscfg->GetItemByName("MINE", "beta"), "b1");
  EXPECT_EQ(l_poscfg->SetItem(1001, 1003, "x"), OS_STS_BADARG);
  EXPECT_STREQ(l_poscfg->GetItemByName("dsIdentity", "Debug"), "0");  // the global tables next
}

TEST_F(Cfg, CompanyNameFromTheEnvironment) {
  SetEnv(L"QRX_COMPANYNAMESHORT", L"acme");
  Start();
  EXPECT_EQ(Item(1, 10), Dir() + "\\acme");
  EXPECT_EQ(Item(2, 170), "acme");
  EXPECT_EQ(Item(2, 169), "acme");
  EXPECT_EQ(Item(1, 56), "acme");
  EXPECT_TRUE(IsDirectory(Dir() + "\\acme\\common"));
}

TEST_F(Cfg, ACompanyNameThatLeavesItsFolderIsRefused) {
  for (const wchar_t* l_wsz : {L"..", L"..\\evil", L"a/b", L"C:\\x", L"\\\\server\\share", L"x:y", L"...", L"name\t"}) {
    SetEnv(L"QRX_COMPANYNAMESHORT", l_wsz);
    Start();
    EXPECT_EQ(Item(1, 10), "") << OsTestUtf8(l_wsz);
    EXPECT_EQ(Item(1, 13), "");
    OsServicesStop();
  }
  // An application-data folder that is relative (it would land in the
  // current directory) or too long to hold is no folder at all.
  SetEnv(L"QRX_COMPANYNAMESHORT", nullptr);
  wchar_t l_wszCurrent[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, l_wszCurrent), 0u);
  ASSERT_TRUE(SetCurrentDirectoryW(WDir().c_str()));
  for (const std::wstring& l_ws : {std::wstring(L"relative"), WDir() + L"\\" + std::wstring(300, L'x')}) {
    SetEnv(L"QRX_APPDATADIR", l_ws.c_str());
    Start();
    EXPECT_EQ(Item(1, 10), "") << OsTestUtf8(l_ws);
    OsServicesStop();
  }
  SetCurrentDirectoryW(l_wszCurrent);
  // Nothing was made anywhere near the folder.
  WIN32_FIND_DATAW l_data;
  HANDLE const l_h = FindFirstFileW((WDir() + L"\\*").c_str(), &l_data);
  ASSERT_NE(l_h, INVALID_HANDLE_VALUE);
  int l_iEntries = 0;
  do {
    const std::wstring l_ws = l_data.cFileName;
    if (l_ws != L"." && l_ws != L"..") ++l_iEntries;
  } while (FindNextFileW(l_h, &l_data));
  FindClose(l_h);
  EXPECT_EQ(l_iEntries, 0);
}

TEST_F(Cfg, TheQrxProgramAndSharedFolders) {
  Start("qrx");
  EXPECT_EQ(Item(1, 8), Dir() + "\\qrx_orvik\\qrx\\twain");
  EXPECT_EQ(Item(1, 30), Dir() + "\\qrx_orvik\\qrx\\twain\\const.ini");
  OsServicesStop();

  const std::wstring l_wsWriteable = WDir() + L"\\user";
  ASSERT_TRUE(CreateDirectoryW(l_wsWriteable.c_str(), nullptr));
  SetEnv(L"QRX_SHGETFOLDERPATH", l_wsWriteable.c_str());
  Start();
  const std::string l_sRoot = Item(1, 10);
  EXPECT_EQ(l_sRoot.rfind(OsTestUtf8(l_wsWriteable), 0), 0u) << l_sRoot;  // rooted in the writeable folder
  EXPECT_EQ(Item(1, 11), l_sRoot);
  EXPECT_EQ(Item(1, 14), Item(1, 13));
  EXPECT_EQ(Item(1, 31), Item(1, 30));
}

TEST_F(Cfg, AnEntityWithoutKindResolvesNothing) {
  Start("nokind", "Application");
  EXPECT_EQ(Item(1, 13), "");
  EXPECT_EQ(Item(1, 113), "");  // no defaults either
}

TEST_F(Cfg, SecurityDescriptors) {
  Start();
  for (int l_i = 0; l_i < 3; ++l_i) {
    const SECURITY_ATTRIBUTES* const l_psa = static_cast<const SECURITY_ATTRIBUTES*>(OsCfgSecurityAttributes(l_i));
    ASSERT_NE(l_psa, nullptr);
    EXPECT_EQ(l_psa->nLength, sizeof(SECURITY_ATTRIBUTES));
    EXPECT_FALSE(l_psa->bInheritHandle);
    LPWSTR l_pwsz = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(l_psa->lpSecurityDescriptor, SDDL_REVISION_1,
                                                                     DACL_SECURITY_INFORMATION, &l_pwsz, nullptr));
    const std::wstring l_ws = l_pwsz;
    LocalFree(l_pwsz);
    for (const wchar_t* l_wszSid : {L";;;SY)", L";;;BA)", L";;;WD)", L";;;BU)"})
      EXPECT_NE(l_ws.find(l_wszSid), std::wstring::npos) << OsTestUtf8(l_ws);
    EXPECT_NE(l_ws.find(L"OICI"), std::wstring::npos) << OsTestUtf8(l_ws);
    // Vista and later: the low mandatory label, no write-up, inherited;
    // before Vista no label at all.
    BOOL l_bPresent = FALSE;
    BOOL l_bDefaulted = FALSE;
    PACL l_psacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorSacl(l_psa->lpSecurityDescriptor, &l_bPresent, &l_psacl, &l_bDefaulted));
    if (OsCfgSysOsCode() < OS_CFG_OS_WINVISTA) {
      EXPECT_FALSE(l_bPresent);
      continue;
    }
    ASSERT_TRUE(l_bPresent && l_psacl != nullptr && l_psacl->AceCount == 1);
    SYSTEM_MANDATORY_LABEL_ACE* l_pace = nullptr;
    ASSERT_TRUE(GetAce(l_psacl, 0, reinterpret_cast<void**>(&l_pace)));
    EXPECT_EQ(l_pace->Header.AceType, SYSTEM_MANDATORY_LABEL_ACE_TYPE);
    EXPECT_EQ(l_pace->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
              OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    EXPECT_EQ(l_pace->Mask, static_cast<DWORD>(SYSTEM_MANDATORY_LABEL_NO_WRITE_UP));
    PSID const l_psid = reinterpret_cast<PSID>(&l_pace->SidStart);
    EXPECT_EQ(*GetSidSubAuthority(l_psid, *GetSidSubAuthorityCount(l_psid) - 1),
              static_cast<DWORD>(SECURITY_MANDATORY_LOW_RID));
  }
  EXPECT_EQ(OsCfgSecurityAttributes(3), nullptr);
}

TEST_F(Cfg, SetAccessOpensTheRootToEveryone) {
  SetEnv(L"QRX_FORCESETACCESS", L"1");
  Start();
  PACL l_pdacl = nullptr;
  PSECURITY_DESCRIPTOR l_psd = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoW(OsTestWide(Item(1, 10)).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, &l_pdacl, nullptr, &l_psd),
            static_cast<DWORD>(ERROR_SUCCESS));
  SID_IDENTIFIER_AUTHORITY l_world = SECURITY_WORLD_SID_AUTHORITY;
  PSID l_psidEveryone = nullptr;
  AllocateAndInitializeSid(&l_world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &l_psidEveryone);
  bool l_bWrite = false;
  for (DWORD l_dw = 0; l_pdacl != nullptr && l_dw < l_pdacl->AceCount; ++l_dw) {
    ACCESS_ALLOWED_ACE* l_pace = nullptr;
    if (!GetAce(l_pdacl, l_dw, reinterpret_cast<void**>(&l_pace)) || l_pace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE)
      continue;
    if (EqualSid(reinterpret_cast<PSID>(&l_pace->SidStart), l_psidEveryone) &&
        (l_pace->Mask & (FILE_WRITE_DATA | FILE_ADD_FILE)) != 0)
      l_bWrite = true;
  }
  FreeSid(l_psidEveryone);
  LocalFree(l_psd);
  EXPECT_TRUE(l_bWrite) << "everyone may write into the writeable root";
}

TEST_F(Cfg, SetAccessRefusesALink) {
  const char* const l_szDir = std::getenv("OS_TEST_LINKS_DIR");
  ASSERT_NE(l_szDir, nullptr) << "the links fixture sets OS_TEST_LINKS_DIR";
  Start();  // builds the descriptors
  EXPECT_EQ(OsFileSetSharedSecurity((std::string(l_szDir) + "\\tree\\link").c_str(), 3), OS_STS_FAIL);
  EXPECT_EQ(OsFileSetSharedSecurity((std::string(l_szDir) + "\\tree\\link\\\\").c_str(), 3), OS_STS_FAIL);
  EXPECT_EQ(OsFileSetSharedSecurity((std::string(l_szDir) + "\\tree\\link").c_str(), 2),
            OS_STS_SUCCESS);  // only mode 3 acts
}

TEST_F(Cfg, OldLogDirectoriesAreRotated) {
  Start();
  const std::string l_sUser = Item(1, 8);
  OsServicesStop();
  // Six old log directories, one of them in use by another process.
  for (int l_i = 0; l_i < 6; ++l_i) {
    const std::wstring l_ws = OsTestWide(l_sUser) + L"\\log.2020010100000000" + std::to_wstring(l_i);
    ASSERT_TRUE(CreateDirectoryW(l_ws.c_str(), nullptr));
    HANDLE const l_h = CreateFileW(l_ws.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    FILETIME l_ft = {0xD53E8000u, 0x01D5C0B0u};  // early 2020
    SetFileTime(l_h, nullptr, nullptr, &l_ft);
    CloseHandle(l_h);
  }
  const std::wstring l_wsBusy = OsTestWide(l_sUser) + L"\\log.20200101000000000\\log.lock";
  HANDLE const l_hBusy =
      CreateFileW(l_wsBusy.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(l_hBusy, INVALID_HANDLE_VALUE);
  Start();
  CloseHandle(l_hBusy);
  int l_iKept = 0;
  for (int l_i = 0; l_i < 6; ++l_i) {
    const bool l_b = IsDirectory(l_sUser + "\\log.2020010100000000" + std::to_string(l_i));
    l_iKept += l_b ? 1 : 0;
    if (l_i >= 3) {
      EXPECT_TRUE(l_b) << "the newest three stay: " << l_i;
    }
  }
  EXPECT_TRUE(IsDirectory(l_sUser + "\\log.20200101000000000")) << "in use";
  EXPECT_EQ(l_iKept, 4);
  EXPECT_TRUE(IsDirectory(Item(1, 12)));  // this run's own
  // This run's lock file is held while the configuration lives.
  HANDLE const l_h =
      CreateFileW(OsTestWide(Item(1, 12) + "\\log.lock").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(l_h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  if (l_h != INVALID_HANDLE_VALUE) CloseHandle(l_h);
  const std::string l_sOwnLog = Item(1, 12);
  OsServicesStop();
  EXPECT_FALSE(GetFileAttributesW(OsTestWide(l_sOwnLog + "\\log.lock").c_str()) != INVALID_FILE_ATTRIBUTES)
      << "the lock file goes with the configuration";
}

}  // namespace
