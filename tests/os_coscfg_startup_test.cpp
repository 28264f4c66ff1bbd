// Start-up identities beyond the application: utilities that compose or
// inherit their arguments, the interface-open start-up, the override
// profile next to the program, the layout query, and what the configuration
// reads from the program's resources (brand, version text).
#include <windows.h>

#include <cstdio>
#include <string>

#include "os.h"
#include "os_coscfg_impl.h"
#include "os_coscfg_services.h"
#include "os_coslog.h"
#include "os_costhread.h"
#include "os_test.h"
#include "os_test_log.h"
#include "os_test_services.h"

namespace {

std::string Env(const wchar_t* a_wszName) {
  wchar_t l_wsz[4096];
  const DWORD l_dw = GetEnvironmentVariableW(a_wszName, l_wsz, 4096);
  return l_dw == 0 || l_dw >= 4096 ? std::string() : OsTestUtf8(l_wsz);
}

bool EnvExists(const wchar_t* a_wszName) {
  wchar_t l_wsz[4];
  return GetEnvironmentVariableW(a_wszName, l_wsz, 4) != 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
}

std::string PerThreadName() {
  char l_sz[80];
  std::snprintf(l_sz, sizeof(l_sz), "QRX_OSSERVICESARGUMENTS_%llx_%llx",
                static_cast<unsigned long long>(GetCurrentProcessId()),
                static_cast<unsigned long long>(GetCurrentThreadId()));
  return l_sz;
}

void WriteText(const std::string& a_sPath, const std::string& a_sText) {
  ASSERT_TRUE(OsTestWriteFile(OsTestWide(a_sPath), a_sText)) << a_sPath;
}

// The program's path, its folder and the folder above it.
struct ProgramPlace {
  std::string m_sPath, m_sFolder, m_sFolderName, m_sParentName;
  ProgramPlace() {
    wchar_t l_wsz[MAX_PATH];
    GetModuleFileNameW(nullptr, l_wsz, MAX_PATH);
    m_sPath = OsTestUtf8(l_wsz);
    m_sFolder = m_sPath.substr(0, m_sPath.rfind('\\'));
    m_sFolderName = m_sFolder.substr(m_sFolder.rfind('\\') + 1);
    const std::string l_sParent = m_sFolder.substr(0, m_sFolder.rfind('\\'));
    m_sParentName = l_sParent.substr(l_sParent.rfind('\\') + 1);
  }
};

class Startup : public OsServicesTest {
 protected:
  void SetUp() override {
    OsServicesTest::SetUp();
    SetEnv(L"SANETWAIN_VERSION", nullptr);
    SetEnv(OsTestWide(PerThreadName()).c_str(), nullptr);
  }
  void Start(const std::string& a_sUnique, const std::string& a_sEntity) { StartAs(a_sUnique, a_sEntity); }

  ProgramPlace m_place;
};

// ---- the program's resources ----

TEST_F(Startup, TheBrandAndVersionComeFromTheProgramsResources) {
  Start("restest", "application");
  ASSERT_NE(OsCfgInstance(), nullptr);
  EXPECT_EQ(Item(1, 10), Dir() + "\\testco");  // the brand's short name is the company folder
  EXPECT_EQ(Item(2, 169), "Testco Works");
  EXPECT_EQ(Item(2, 171), "(c) testco");
  EXPECT_EQ(Item(2, 172), "Paperlund");
  // The file version fills the version block; the package text is the raw resource.
  EXPECT_EQ(Item(1, 48), "01");
  EXPECT_EQ(Item(1, 51), "04");
  EXPECT_STREQ(static_cast<const char*>(OsCfgInstance()->VersionText(false)), "01.02.03.04-pkg");
  EXPECT_STREQ(static_cast<const wchar_t*>(OsCfgInstance()->VersionText(true)), L"01.02.03.04-pkg");
  const std::string l_sLines = OsCfgInstance()->BrandText(2);
  EXPECT_EQ(l_sLines.rfind("\t\t<brand>\n\t\t\t<companyname>Testco Works</companyname>\n", 0), 0u) << l_sLines;
  EXPECT_EQ(l_sLines.substr(l_sLines.size() - 11), "\t\t</brand>\n");
  EXPECT_EQ(std::string(OsCfgInstance()->BrandText(0)).rfind("<brand>\r\n", 0), 0u);
}

TEST_F(Startup, FilesNextToTheTreeAndTheDataSourceManager) {
  SetEnv(L"SANETWAIN_VERSION", L"01020304");
  Start("filetest", "application");
  ASSERT_NE(OsCfgInstance(), nullptr);
  EXPECT_EQ(Item(1, 33), Item(1, 8) + "\\setup001.ini");
  EXPECT_EQ(Item(1, 34), m_place.m_sFolder + "\\ramscan.txt");  // none in the common directory
  EXPECT_EQ(Item(1, 57), "01020304");
  char l_sz[MAX_PATH];
  const std::string l_sDsm = Dir() + "\\dsm.dll";
  WriteText(l_sDsm, "x");
  SetEnv(L"QRX_ALTERNATEDSM", OsTestWide(l_sDsm).c_str());
  EXPECT_TRUE(OsCfgInstance()->DsmPath(l_sz, sizeof(l_sz), true));
  EXPECT_EQ(std::string(l_sz), l_sDsm);
  SetEnv(L"QRX_ALTERNATEDSM", OsTestWide(Dir() + "\\missing.dll").c_str());
  OsCfgInstance()->DsmPath(l_sz, sizeof(l_sz), false);
  EXPECT_EQ(std::string(l_sz).size() > 13 ? std::string(l_sz).substr(std::string(l_sz).size() - 13) : "",
            "\\TWAIN_32.DLL");
}

TEST_F(Startup, TheSharedConfigurationFileSetsItemsButNotTheLayout) {
  const std::string l_sUser = Dir() + "\\testco\\sharedtest\\sharedtest";
  for (const std::string& l_s : {Dir() + "\\testco", Dir() + "\\testco\\sharedtest", l_sUser})
    ASSERT_TRUE(CreateDirectoryW(OsTestWide(l_s).c_str(), nullptr));
  WriteText(l_sUser + "\\sharedtest.ini",
            "; shared settings\r\n[dsIdentity]\r\nForceNetRetry=  5\r\nUserRootDirectory=C:\\elsewhere\r\n"
            "ForceThreadAffinity=0x1\r\nVersion.MajorNum=9\r\nDebug=9\r\nSETUP001.INI=C:\\elsewhere\\setup.ini\r\n"
            "[NoSuchSection]\r\nForceNetTimeoutCommand=77\r\n");
  DWORD_PTR l_dwptrProcess = 0;
  DWORD_PTR l_dwptrSystem = 0;
  GetProcessAffinityMask(GetCurrentProcess(), &l_dwptrProcess, &l_dwptrSystem);
  Start("sharedtest", "application");
  ASSERT_NE(OsCfgInstance(), nullptr);
  EXPECT_EQ(Item(1, 113), "5");                            // blanks after '=' skipped
  EXPECT_EQ(Item(1, 13), Dir() + "\\testco\\sharedtest");  // the layout is re-pointed after the file
  EXPECT_NE(Item(1, 114), "77");                           // under a header that names no section
  EXPECT_EQ(Item(1, 33), "C:\\elsewhere\\setup.ini");      // a file the configuration file names
  // The file's Debug turns the log on, and the children inherit its level.
  EXPECT_EQ(Item(1, 35), "9");
  EXPECT_EQ(OsLogGetDebug(OsLogInstance()), 9u);
  EXPECT_NE(std::string(OsServicesGetState().m_szInherited).find("<loglevel>9</loglevel>"), std::string::npos);
  // The file changed the version: the version text is the block's numbers.
  EXPECT_STREQ(static_cast<const char*>(OsCfgInstance()->VersionText(false)), "09020304");
  // The same value through the configuration's profile pair, as written.
  char l_sz[64];
  EXPECT_EQ(OsCfgInstance()->ConfigRead("dsIdentity", "ForceNetRetry", l_sz, sizeof(l_sz)), OS_STS_SUCCESS);
  EXPECT_STREQ(l_sz, "  5");
  // The forced affinity applies to the thread that started the services.
  EXPECT_EQ(OsThreadGetDefaultAffinity(), 1u);
  const DWORD_PTR l_dwptrBefore = SetThreadAffinityMask(GetCurrentThread(), l_dwptrProcess);
  if (l_dwptrProcess != 1) {
    EXPECT_EQ(l_dwptrBefore, static_cast<DWORD_PTR>(1));
  }
  OsThreadSetDefaultAffinity(0);
}

// ---- utilities ----

TEST_F(Startup, AUtilityWithoutParentComposesItsOwnArguments) {
  Start("utiltest_a", "utility");
  ASSERT_NE(OsCfgInstance(), nullptr);
  const std::string l_sRoot = Dir() + "\\testco";
  const std::string l_sLogPath = l_sRoot + "\\" + m_place.m_sFolderName + "\\rivu\\log";
  const std::string l_sText = Env(L"QRX_OSSERVICESARGUMENTS");
  EXPECT_EQ(l_sText,
            "<arguments>\n\t<rootpath>" + l_sRoot + "</rootpath>\n\t<logpath>" + l_sLogPath +
                "</logpath>\n\t<logmodel>" + m_place.m_sFolderName +
                "</logmodel>\n\t<loglevel>0</loglevel>\n\t<callersuniquename>utiltest_a</callersuniquename>\n\t"
                "<frominterfaceopen>false</frominterfaceopen>\n\t<forcesetaccess>false</forcesetaccess>\n\t"
                "<app><![CDATA[]]></app>\n</arguments>");
  EXPECT_EQ(Env(L"QRX_OSSERVICESARGUMENTSUNICODE"), l_sText);
  EXPECT_EQ(Env(OsTestWide(PerThreadName()).c_str()), l_sText);
  // It writes where its arguments say: <logpath>\<unique>\<unique>_<model>.log.
  EXPECT_EQ(Item(1, 32), l_sLogPath + "\\utiltest_a\\utiltest_a_" + m_place.m_sFolderName + ".log");
  EXPECT_EQ(Item(1, 12), l_sLogPath + "\\utiltest_a");
  EXPECT_EQ(Item(1, 16), m_place.m_sFolderName);                                 // four levels above the log file
  EXPECT_EQ(Item(1, 17), m_place.m_sParentName);                                 // the parent of the program's folder
  EXPECT_EQ(Item(1, 5), l_sRoot + "\\" + m_place.m_sFolderName + "\\utiltest");  // up to the first '_'
  EXPECT_EQ(Item(1, 33), Item(1, 5) + "\\setup001.ini");                         // a utility's set-up file is common
  EXPECT_TRUE(OsServicesGetState().m_bOwner);
  OsServicesStop();
  EXPECT_FALSE(EnvExists(L"QRX_OSSERVICESARGUMENTS"));
  EXPECT_FALSE(EnvExists(L"QRX_OSSERVICESARGUMENTSUNICODE"));
}

TEST_F(Startup, AnAppUtilityInheritsItsParentsArguments) {
  const std::string l_sLogPath = Dir() + "\\parent\\scanmodel\\parentapp\\log.1";
  const std::string l_sText =
      "<arguments>\n\t<rootpath>" + Dir() + "\\altroot</rootpath>\n\t<logpath>" + l_sLogPath +
      "</logpath>\n\t<logmodel>scanmodel</logmodel>\n\t<loglevel>0</loglevel>\n\t"
      "<callersuniquename>parentapp</callersuniquename>\n\t<app><![CDATA[C:\\pavexe\\parent.exe]]></app>\n"
      "</arguments>";
  SetEnv(L"QRX_OSSERVICESARGUMENTS", OsTestWide(l_sText).c_str());
  Start("apptest", "apputility");
  ASSERT_NE(OsCfgInstance(), nullptr);
  EXPECT_FALSE(OsServicesGetState().m_bOwner);
  EXPECT_STREQ(OsServicesGetState().m_szCallersUniqueName, "parentapp");
  EXPECT_EQ(Item(1, 10), Dir() + "\\altroot");
  EXPECT_EQ(Item(1, 11), Dir() + "\\testco");  // no override root: the shared root stays
  EXPECT_EQ(Item(1, 32), l_sLogPath + "\\apptest\\apptest_" + m_place.m_sFolderName + ".log");
  EXPECT_EQ(Item(1, 16), "scanmodel");
  EXPECT_EQ(Item(1, 152), "C:\\pavexe\\parent.exe");
  EXPECT_EQ(Item(1, 167), "");                            // only the program's file name tells a pavexe
  EXPECT_EQ(Item(1, 33), Item(1, 8) + "\\setup001.ini");  // an apputility's is the user's
  // The inherited text is left as it was.
  EXPECT_EQ(Env(L"QRX_OSSERVICESARGUMENTS"), l_sText);
}

TEST_F(Startup, TheFirstWholeInheritedTextCounts) {
  const std::string l_sWhole = "<arguments><logpath>" + Dir() + "\\p\\m\\c\\log.1</logpath></arguments>";
  // The per-thread variable comes first, but without its closing tag it is ignored.
  SetEnv(OsTestWide(PerThreadName()).c_str(), L"<arguments><logpath>C:\\wrong</logpath>");
  SetEnv(L"QRX_OSSERVICESARGUMENTS", L"no arguments here");
  SetEnv(L"QRX_OSSERVICESARGUMENTSUNICODE", OsTestWide(l_sWhole).c_str());
  Start("order", "apputility");
  ASSERT_NE(OsCfgInstance(), nullptr);
  EXPECT_STREQ(OsServicesGetState().m_szInherited, l_sWhole.c_str());
  EXPECT_EQ(Item(1, 32).rfind(Dir() + "\\p\\m\\c\\log.1\\order\\order_", 0), 0u) << Item(1, 32);
}

TEST_F(Startup, ALongInheritedTextIsCutToItsBuffer) {
  // Whole, but longer than the buffer and the usual reads: taken, then cut.
  const std::string l_sText = "<arguments><logpath>" + Dir() + "\\p\\m\\c\\log.1</logpath><pad>" +
                              std::string(6000, 'x') + "</pad></arguments>";
  SetEnv(L"QRX_OSSERVICESARGUMENTS", OsTestWide(l_sText).c_str());
  Start("longtext", "apputility");
  ASSERT_NE(OsCfgInstance(), nullptr);
  EXPECT_EQ(std::string(OsServicesGetState().m_szInherited), l_sText.substr(0, 2047));
  EXPECT_EQ(Item(1, 32).rfind(Dir() + "\\p\\m\\c\\log.1\\longtext\\", 0), 0u) << Item(1, 32);
}

TEST_F(Startup, DisabledInheritedArgumentsAreWithdrawn) {
  SetEnv(L"QRX_OSSERVICESARGUMENTSDISABLED", L"1 and more than a few characters after it");
  SetEnv(L"QRX_OSSERVICESARGUMENTS", L"<arguments><logpath>C:\\parent</logpath></arguments>");
  Start("disabled", "apputility");
  ASSERT_NE(OsCfgInstance(), nullptr);
  EXPECT_FALSE(EnvExists(L"QRX_OSSERVICESARGUMENTSDISABLED"));
  // It then composes its own, as a utility without a parent does.
  EXPECT_TRUE(OsServicesGetState().m_bOwner);
  EXPECT_EQ(Env(L"QRX_OSSERVICESARGUMENTS").find("C:\\parent"), std::string::npos);
}

// ---- the interface-open start-up ----

TEST_F(Startup, InterfaceOpenComposesArgumentsForTheLibrary) {
  OsServicesStartInterfaceOpen("<task><open/></task>");  // no <interfaceopen>: nothing
  EXPECT_FALSE(EnvExists(L"QRX_OSSERVICESARGUMENTS"));
  const std::string l_sCallerDirectory =
      Dir() + "\\testco\\" + m_place.m_sParentName + "\\" + m_place.m_sFolderName + "\\ifcaller";
  ASSERT_TRUE(CreateDirectoryW(OsTestWide(Dir() + "\\testco").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(OsTestWide(Dir() + "\\testco\\" + m_place.m_sParentName).c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(
      OsTestWide(Dir() + "\\testco\\" + m_place.m_sParentName + "\\" + m_place.m_sFolderName).c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(OsTestWide(l_sCallerDirectory).c_str(), nullptr));
  WriteText(l_sCallerDirectory + "\\const.ini", "[Main]\r\nDEBUG=5\r\n");
  OsServicesStartInterfaceOpen(
      "<task><interfaceopen><callername>ifcaller</callername><logging>on</logging>"
      "<forcesetaccess>true</forcesetaccess></interfaceopen></task>");
  const std::string l_sText = Env(L"QRX_OSSERVICESARGUMENTS");
  EXPECT_NE(l_sText.find("<rootpath>" + Dir() + "\\testco\\qrx_orvik</rootpath>"), std::string::npos) << l_sText;
  EXPECT_NE(l_sText.find("<logpath>" + l_sCallerDirectory + "\\log."), std::string::npos) << l_sText;
  EXPECT_NE(l_sText.find("<logmodel>" + m_place.m_sFolderName + "</logmodel>"), std::string::npos);
  EXPECT_NE(l_sText.find("<loglevel>5</loglevel>"), std::string::npos);  // the caller's const.ini wins
  EXPECT_NE(l_sText.find("<frominterfaceopen>true</frominterfaceopen>"), std::string::npos);
  EXPECT_NE(l_sText.find("<forcesetaccess>true</forcesetaccess>"), std::string::npos);
  EXPECT_EQ(Env(L"QRX_OSSERVICESARGUMENTSUNICODE"), l_sText);
  // Arguments already inherited are kept unless the caller refuses them.
  const std::string l_sFirst = l_sText;
  OsServicesStartInterfaceOpen("<interfaceopen><callername>other</callername></interfaceopen>");
  EXPECT_EQ(Env(L"QRX_OSSERVICESARGUMENTS"), l_sFirst);
  OsServicesStartInterfaceOpen(
      "<interfaceopen><callername>other</callername><logging>off</logging><inherit>FALSE</inherit></interfaceopen>");
  EXPECT_NE(Env(L"QRX_OSSERVICESARGUMENTS").find("\\other\\log."), std::string::npos);
  EXPECT_NE(Env(L"QRX_OSSERVICESARGUMENTS").find("<loglevel>0</loglevel>"), std::string::npos);
}

// ---- the override profile and the layout query ----

class Override : public Startup {
 protected:
  void SetUp() override {
    Startup::SetUp();
    m_sProfile = m_place.m_sPath.substr(0, m_place.m_sPath.rfind('.')) + "_override.ini";
  }
  void TearDown() override {
    Startup::TearDown();
    DeleteFileW(OsTestWide(m_sProfile).c_str());
  }
  std::string m_sProfile;
};

TEST_F(Override, TheOverrideRootReroutesTheWriteableTree) {
  const std::string l_sAlt = Dir() + "\\alt";
  WriteText(m_sProfile, "[main]\r\nroot=" + l_sAlt + "\r\n");
  Start("overtest", "application");
  ASSERT_NE(OsCfgInstance(), nullptr);
  // The override root, then the application-data folder without its drive.
  const std::string l_sRoot = l_sAlt + Dir().substr(2) + "\\testco";
  EXPECT_EQ(Item(1, 10), l_sRoot);
  EXPECT_EQ(Item(1, 11), Dir() + "\\testco");  // the shared root stays on the system's folder
  EXPECT_EQ(Item(1, 6), l_sRoot + "\\overtest\\userfiles");
  EXPECT_EQ(Item(1, 22).rfind(l_sAlt + "\\", 0), 0u) << Item(1, 22);  // the system directory too
  EXPECT_EQ(Item(1, 22).substr(Item(1, 22).size() - 7), "\\testco");
  EXPECT_EQ(Env(L"QRX_OVERRIDEINI"), l_sAlt);
}

TEST_F(Override, TheInheritedProfileAndTheWriteableFolder) {
  // The program's profile has no root: the one QRX_OVERRIDEINI names does.
  const std::string l_sOther = Dir() + "\\other.ini";
  WriteText(l_sOther, "[MAIN]\nROOT=" + Dir() + "\\fromenv\n");
  WriteText(m_sProfile, "[main]\r\nwriteable=" + Dir() + "\\ignored\r\n");
  SetEnv(L"QRX_OVERRIDEINI", OsTestWide(l_sOther).c_str());
  Start("envtest", "application");
  ASSERT_NE(OsCfgInstance(), nullptr);
  EXPECT_EQ(Item(1, 10), Dir() + "\\fromenv" + Dir().substr(2) + "\\testco");
  OsServicesStop();
  // Without any root the writeable folder counts, once it exists.
  SetEnv(L"QRX_OVERRIDEINI", nullptr);
  ASSERT_TRUE(CreateDirectoryW(OsTestWide(Dir() + "\\ignored").c_str(), nullptr));
  Start("envtest", "application");
  ASSERT_NE(OsCfgInstance(), nullptr);
  EXPECT_EQ(Item(1, 10), Dir() + "\\ignored" + Dir().substr(2) + "\\testco");
  EXPECT_EQ(Item(1, 11), Dir() + "\\testco");
}

TEST_F(Override, TheQueryStopsAtTheWriteableRoot) {
  char l_szRoot[MAX_PATH], l_szModel[MAX_PATH], l_szCompany[MAX_PATH], l_szBrand[MAX_PATH];
  OsCfgQuery l_query = {l_szRoot,    sizeof(l_szRoot),    l_szModel, sizeof(l_szModel),
                        l_szCompany, sizeof(l_szCompany), l_szBrand, sizeof(l_szBrand)};
  ASSERT_EQ(OsCfgQueryDirectories("rivu", OS_CFG_ENTITY_UTILITY, &l_query), OS_STS_SUCCESS);
  EXPECT_EQ(std::string(l_szRoot), Dir() + "\\testco");
  EXPECT_EQ(std::string(l_szBrand), Dir() + "\\testco\\qrx_orvik");
  EXPECT_EQ(std::string(l_szModel), m_place.m_sFolderName);
  EXPECT_EQ(std::string(l_szCompany), m_place.m_sParentName);
  // Nothing was created: the query only resolves.
  EXPECT_EQ(GetFileAttributesW(OsTestWide(Dir() + "\\testco").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
