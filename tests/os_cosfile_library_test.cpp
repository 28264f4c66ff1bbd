// Shared libraries: loading with alternates, attaching, the start-up
// arguments a loaded library finds, and procedures by plain and decorated
// name, against the tests' own plug-in (os_test_plug_x.dll).
#include <windows.h>

#include "os.h"
#include "os_coscfg_services.h"
#include "os_test_services.h"

namespace {

typedef int (*PlugProc)(void*);

class OsLibraryTest : public OsServicesTest {
 protected:
  void SetUp() override {
    OsServicesTest::SetUp();
    StartAs("libtest", "application");
    m_wsLog = WDir() + L"\\library.log";
    OsLogReconfigure(OsLogInstance(), OsTestUtf8(m_wsLog).c_str(), 1 | OS_LOG_INFO | OS_LOG_OPT_NOSTAMP, nullptr,
                     nullptr);
    OsLogSetAssertEcho(OsLogInstance(), false);
  }
};

TEST_F(OsLibraryTest, LoadTriesTheAlternateOnceAndRefusesBadArguments) {
  COsFile l_osfile;
  EXPECT_EQ(l_osfile.SharedLibraryLoad("os_test_plug", OS_FILE_OPEN_CREATE, "+_x", 0), OS_STS_SUCCESS);
  EXPECT_EQ(Lines("LoadLibrary succeeded...<os_test_plug_x>").size(), 1u);
  // Neither name exists: the alternate is tried once, and its failure returned.
  SetLastError(0xdeadbeef);
  EXPECT_EQ(l_osfile.SharedLibraryLoad("os_test_none", OS_FILE_OPEN_CREATE, "+_x", 0), OS_STS_FAIL);
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_FALSE(l_osfile.SharedLibraryIsLoaded());
  EXPECT_EQ(Lines("SharedLibraryLoad(os_test_none").size(), 2u);
  EXPECT_EQ(Lines("LoadLibrary failed...<os_test_none_x>").size(), 1u);
  // Refused before anything is loaded; an attach that finds nothing says nothing.
  EXPECT_EQ(l_osfile.SharedLibraryLoad("os_test_plug", OS_FILE_OPEN_CREATE, "_x", 0), OS_STS_FAIL);
  EXPECT_EQ(l_osfile.SharedLibraryLoad(nullptr, OS_FILE_OPEN_CREATE, nullptr, 0), OS_STS_BADARG);
  EXPECT_EQ(l_osfile.SharedLibraryLoad("os_test_plug_x", OS_FILE_OPEN_ALWAYS, nullptr, 0), OS_STS_BADARG);
  EXPECT_EQ(l_osfile.SharedLibraryLoad("os_test_none", OS_FILE_OPEN_EXISTING, nullptr, 0), OS_STS_FAIL);
  for (const char* l_sz : {"Alternate library must started with + sign", "a_szLibrary is NULL...",
                           "Unrecognized a_eosfileopen...3", "LoadLibrary failed...", "LoadLibrary(os_test_plug) - new"})
    EXPECT_EQ(Lines(l_sz).size(), 1u) << l_sz;
}

TEST_F(OsLibraryTest, ANewLoadFindsTheArgumentsAndAnAttachIsNeverFreed) {
  const std::string l_sInherited = OsServicesGetState().m_szInherited;
  ASSERT_FALSE(l_sInherited.empty());
  SetEnv(L"QRX_OSSERVICESARGUMENTS", L"<arguments>stale</arguments>");
  COsFile l_osfileAttach;
  {
    COsFile l_osfile;
    ASSERT_EQ(l_osfile.SharedLibraryLoad("os_test_plug_x", OS_FILE_OPEN_CREATE, nullptr, OS_LIBRARY_ALTERED_SEARCH_PATH),
              OS_STS_SUCCESS);
    auto l_pfnArguments =
        reinterpret_cast<const char* (*)()>(l_osfile.SharedLibraryGetProc("PlugArguments", OsLibrarySelf(), OS_LIBPROC_PLAIN));
    ASSERT_NE(l_pfnArguments, nullptr);
    EXPECT_EQ(std::string(l_pfnArguments()), l_sInherited);

    ASSERT_EQ(l_osfileAttach.SharedLibraryLoad("os_test_plug_x", OS_FILE_OPEN_EXISTING, nullptr, 0), OS_STS_SUCCESS);
    EXPECT_EQ(l_osfileAttach.SharedLibraryFree(), OS_STS_SUCCESS);
    EXPECT_FALSE(l_osfileAttach.SharedLibraryIsLoaded());
    EXPECT_NE(GetModuleHandleW(L"os_test_plug_x"), nullptr);
  }
  // The owner's destructor freed the only reference.
  EXPECT_EQ(GetModuleHandleW(L"os_test_plug_x"), nullptr);
}

TEST_F(OsLibraryTest, ProceduresByPlainAndDecoratedName) {
  COsFile l_osfile;
  EXPECT_EQ(l_osfile.SharedLibraryGetProc("PlugPlain", OsLibrarySelf(), OS_LIBPROC_PLAIN), nullptr);
  EXPECT_EQ(Lines("Must open a library first...").size(), 1u);
  ASSERT_EQ(l_osfile.SharedLibraryLoad("os_test_plug_x", OS_FILE_OPEN_CREATE, nullptr, 0), OS_STS_SUCCESS);

  struct Case {
    const char* m_szProcedure;
    EOSLIBPROC m_eoslibproc;
    int m_iAnswer;  // 0: not found
    const char* m_szMessage;
  };
  const Case l_acase[] = {
      {"PlugPlain", OS_LIBPROC_PLAIN, 10, nullptr},
      {"plug_Priv", OS_LIBPROC_XMLCALLBACK, 21, nullptr},  // the first form tried
      {"plug_Prot", OS_LIBPROC_XMLCALLBACK, 22, nullptr},
      {"plug_Pub", OS_LIBPROC_XMLCALLBACK, 23, nullptr},   // the last member form
      {"Dev::plug_Open", OS_LIBPROC_XMLCALLBACK, 24, nullptr},
      {"plug_Pub", OS_LIBPROC_SIMCALLBACK, 31, nullptr},
      {"sim_Free", OS_LIBPROC_SIMCALLBACK, 32, nullptr},    // the free function
      {"plug_Open", OS_LIBPROC_XMLCALLBACK, 0, "::GetProcAddress failed...<?plug_Open@plug@@SA?AW4EOSSTS@@PAUOsXmlCallback@@@Z>"},
      {"Dev::sim_Gone", OS_LIBPROC_SIMCALLBACK, 0, "::GetProcAddress failed...<?Dev::sim_Gone@@YA?AW4EOSSTS@Dev@@PAUSimCallback@@@Z>"},
      {"plugOpen", OS_LIBPROC_XMLCALLBACK, 0, "Badly constructed szProcedure...<plugOpen>"},
      {"plug_Pub", static_cast<EOSLIBPROC>(4), 0, "Unrecognized 4..."},
  };
  for (const Case& l_case : l_acase) {
    SCOPED_TRACE(l_case.m_szProcedure);
    void* const l_pv = l_osfile.SharedLibraryGetProc(l_case.m_szProcedure, OsLibrarySelf(), l_case.m_eoslibproc);
    if (l_case.m_iAnswer == 0) {
      EXPECT_EQ(l_pv, nullptr);
      EXPECT_EQ(Lines(l_case.m_szMessage).size(), 1u);
    } else {
      ASSERT_NE(l_pv, nullptr);
      EXPECT_EQ(reinterpret_cast<PlugProc>(l_pv)(nullptr), l_case.m_iAnswer);
    }
  }
}

TEST_F(OsLibraryTest, ExistsTestsTheNameWithItsExtension) {
  wchar_t l_wszExe[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, l_wszExe, MAX_PATH), 0u);
  std::string l_sDir = OsTestUtf8(l_wszExe);
  l_sDir.resize(l_sDir.find_last_of('\\'));
  EXPECT_TRUE(SharedLibraryExists((l_sDir + "//os_test_plug_x").c_str()));
  EXPECT_FALSE(SharedLibraryExists((l_sDir + "\\os_test_plug_x.dll").c_str()));
  EXPECT_EQ(Lines("badly formed name (don't include the extension!)...").size(), 1u);
  EXPECT_FALSE(SharedLibraryExists(""));
  EXPECT_EQ(Lines("a_szFilename is empty...").size(), 1u);
}

}  // namespace
