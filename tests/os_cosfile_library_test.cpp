// Shared libraries: loading with alternates, attaching, the start-up
// arguments a loaded library finds, and procedures by plain and decorated
// name, against the tests' own plug-in (os_test_plug_x.dll).
#include <windows.h>

#include <tuple>

#include "os.h"
#include "os_coscfg_services.h"
#include "os_test_services.h"

namespace {

class OsLibraryTest : public OsServicesTest {
 protected:
  void SetUp() override {
    OsServicesTest::SetUp();
    StartAs("libtest", "application");
    LogTo(L"library.log", OS_LOG_INFO);
  }
};

TEST_F(OsLibraryTest, TheAlternateIsTriedOnceAndProceduresFoundByDecoratedName) {
  COsFile l_osfile;
  ASSERT_EQ(l_osfile.SharedLibraryLoad("os_test_plug", OS_FILE_OPEN_CREATE, "+_x", 0), OS_STS_SUCCESS);
  // Each procedure answers its own number; 0: none found, with that message.
  const EOSLIBPROC l_eosXml = OS_LIBPROC_XMLCALLBACK, l_eosSim = OS_LIBPROC_SIMCALLBACK;
  const std::tuple<const char*, EOSLIBPROC, int, const char*> l_acase[] = {
      {"plug_Priv", l_eosXml, 21, nullptr},  // the first form tried
      {"plug_Prot", l_eosXml, 22, nullptr},
      {"plug_Pub", l_eosXml, 23, nullptr},  // the last member form
      {"Dev::plug_Open", l_eosXml, 24, nullptr},
      {"plug_Pub", l_eosSim, 31, nullptr},
      {"sim_Free", l_eosSim, 32, nullptr},  // the free function
      {"plug_Open", l_eosXml, 0, "::GetProcAddress failed...<?plug_Open@plug@@SA?AW4EOSSTS@@PAUOsXmlCallback@@@Z>"},
      {"Dev::sim_Gone", l_eosSim, 0,
       "::GetProcAddress failed...<?Dev::sim_Gone@@YA?AW4EOSSTS@Dev@@PAUSimCallback@@@Z>"},
      {"plugOpen", l_eosXml, 0, "Badly constructed szProcedure...<plugOpen>"},
      {"plug_Pub", static_cast<EOSLIBPROC>(4), 0, "Unrecognized 4..."},
  };
  for (const auto& [l_szProcedure, l_eoslibproc, l_iAnswer, l_szMessage] : l_acase) {
    void* const l_pv = l_osfile.SharedLibraryGetProc(l_szProcedure, OsLibrarySelf(), l_eoslibproc);
    EXPECT_EQ(l_pv != nullptr ? reinterpret_cast<int (*)(void*)>(l_pv)(nullptr) : 0, l_iAnswer) << l_szProcedure;
    EXPECT_EQ(l_szMessage != nullptr ? Count(l_szMessage) : 1u, 1u) << l_szProcedure;
  }
  // Neither name exists: the alternate is tried once and its failure
  // returned, the last error cleared and no library held.
  SetLastError(0xdeadbeef);
  EXPECT_EQ(l_osfile.SharedLibraryLoad("os_test_none", OS_FILE_OPEN_CREATE, "+_x", 0), OS_STS_FAIL);
  EXPECT_TRUE(GetLastError() == 0 && l_osfile.SharedLibraryGetProc("plug_Pub", OsLibrarySelf(), l_eosXml) == nullptr);
  // Refused before anything is loaded; an attach that finds nothing says nothing.
  EXPECT_EQ(l_osfile.SharedLibraryLoad("os_test_plug", OS_FILE_OPEN_CREATE, "_x", 0), OS_STS_FAIL);
  EXPECT_EQ(l_osfile.SharedLibraryLoad(nullptr, OS_FILE_OPEN_CREATE, nullptr, 0), OS_STS_BADARG);
  EXPECT_EQ(l_osfile.SharedLibraryLoad("os_test_plug_x", OS_FILE_OPEN_ALWAYS, nullptr, 0), OS_STS_BADARG);
  EXPECT_EQ(l_osfile.SharedLibraryLoad("os_test_none", OS_FILE_OPEN_EXISTING, nullptr, 0), OS_STS_FAIL);
  for (const char* l_sz : {"LoadLibrary succeeded...<os_test_plug_x>", "SharedLibraryLoad(os_test_none_x,1,,0x0)",
                           "LoadLibrary failed...<os_test_none_x>", "LoadLibrary failed...", "a_szLibrary is NULL...",
                           "Must open a library first...", "Alternate library must started with + sign",
                           "Unrecognized a_eosfileopen...3", "LoadLibrary(os_test_plug) - new"})
    EXPECT_EQ(Count(l_sz), 1u) << l_sz;
}

TEST_F(OsLibraryTest, ANewLoadFindsTheArgumentsAndAnAttachIsNeverFreed) {
  SetEnv(L"QRX_OSSERVICESARGUMENTS", L"<arguments>stale</arguments>");
  {
    COsFile l_osfile, l_osfileAttach;
    ASSERT_EQ(
        l_osfile.SharedLibraryLoad("os_test_plug_x", OS_FILE_OPEN_CREATE, nullptr, OS_LIBRARY_ALTERED_SEARCH_PATH),
        OS_STS_SUCCESS);
    auto l_pfnArguments = reinterpret_cast<const char* (*)()>(
        l_osfile.SharedLibraryGetProc("PlugArguments", OsLibrarySelf(), OS_LIBPROC_PLAIN));
    ASSERT_NE(l_pfnArguments, nullptr);
    EXPECT_STREQ(l_pfnArguments(), OsServicesGetState().m_szInherited);
    ASSERT_EQ(l_osfileAttach.SharedLibraryLoad("os_test_plug_x", OS_FILE_OPEN_EXISTING, nullptr, 0), OS_STS_SUCCESS);
    EXPECT_TRUE(l_osfileAttach.SharedLibraryFree() == OS_STS_SUCCESS && !l_osfileAttach.SharedLibraryIsLoaded());
    EXPECT_NE(GetModuleHandleW(L"os_test_plug_x"), nullptr);
  }
  // The owner's destructor freed the only reference.
  EXPECT_EQ(GetModuleHandleW(L"os_test_plug_x"), nullptr);
}

TEST_F(OsLibraryTest, ExistsTestsTheNameWithoutItsExtension) {
  wchar_t l_wszExe[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, l_wszExe, MAX_PATH);
  const std::string l_sExe = OsTestUtf8(l_wszExe);
  const std::string l_sPlug = l_sExe.substr(0, l_sExe.find_last_of('\\')) + "//os_test_plug_x";
  EXPECT_TRUE(SharedLibraryExists(l_sPlug.c_str()));
  EXPECT_FALSE(SharedLibraryExists((l_sPlug + ".dll").c_str()) || SharedLibraryExists(""));
  EXPECT_EQ(Count("badly formed name (don't include the extension!)...") + Count("a_szFilename is empty..."), 2u);
}

}  // namespace
