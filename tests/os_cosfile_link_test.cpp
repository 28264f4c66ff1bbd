// A recursive delete never enters a directory link: the link goes, its
// target and the target's files stay.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "os_cosfile.h"
#include "os_cosmem.h"
#include "os_test.h"
#include "os_test_mem.h"

namespace {

class Links : public OsTestWithMem {
 protected:
  static bool Exists(const std::string& a_s) {
    return GetFileAttributesW(OsTestWide(a_s).c_str()) != INVALID_FILE_ATTRIBUTES;
  }
};

TEST_F(Links, ALinkMadeByTheSystem) {
  const std::string l_sTree = Dir() + "\\tree";
  const std::string l_sTarget = Dir() + "\\target";
  ASSERT_TRUE(CreateDirectoryW(OsTestWide(l_sTree).c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(OsTestWide(l_sTarget).c_str(), nullptr));
  HANDLE const l_h = CreateFileW(OsTestWide(l_sTarget + "\\keep.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(l_h, INVALID_HANDLE_VALUE);
  CloseHandle(l_h);
  CreateSymbolicLinkW(OsTestWide(l_sTree + "\\link").c_str(), OsTestWide(l_sTarget).c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY);
  if (!Exists(l_sTree + "\\link")) GTEST_SKIP() << "the system made no link (Wine: CreateSymbolicLinkW creates nothing)";
  EXPECT_EQ(OsFileDelete(l_sTree.c_str(), OS_FILE_TYPE_DIRECTORY, true), OS_STS_SUCCESS);
  EXPECT_FALSE(Exists(l_sTree));
  EXPECT_TRUE(Exists(l_sTarget + "\\keep.txt"));
}

TEST_F(Links, ALinkPlantedFromOutside) {
  const char* const l_szDir = std::getenv("OS_TEST_LINKS_DIR");
  ASSERT_NE(l_szDir, nullptr) << "the links fixture sets OS_TEST_LINKS_DIR";
  const std::string l_sDir = l_szDir;
  ASSERT_TRUE(Exists(l_sDir + "\\tree\\link")) << "fixture missing";
  const DWORD l_dwAttributes = GetFileAttributesW(OsTestWide(l_sDir + "\\tree\\link").c_str());
  EXPECT_TRUE(l_dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) << std::hex << l_dwAttributes;
  const EOSSTS l_eossts = OsFileDelete((l_sDir + "\\tree").c_str(), OS_FILE_TYPE_DIRECTORY, true);
  // Whatever else happens, nothing below the link's target is touched.
  EXPECT_TRUE(Exists(l_sDir + "\\target\\keep.txt"));
  EXPECT_TRUE(Exists(l_sDir + "\\target\\inner\\deep.txt"));
  if (OsTestIsWine()) {
    // Wine acts on the target of a Linux directory link, so the link itself
    // cannot be removed through the system (145): the delete reports it.
    EXPECT_EQ(l_eossts, OS_STS_FAIL);
    GTEST_SKIP() << "Wine: a Linux directory link cannot be removed through the Win32 calls";
  }
  EXPECT_EQ(l_eossts, OS_STS_SUCCESS);
  EXPECT_FALSE(Exists(l_sDir + "\\tree"));
}

}  // namespace
