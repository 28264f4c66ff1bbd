// A recursive delete never enters a directory link: the link goes, its
// target and the target's files stay.
#include <windows.h>

#include <cstdlib>
#include <fstream>
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
  HANDLE const l_h =
      CreateFileW(OsTestWide(l_sTarget + "\\keep.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(l_h, INVALID_HANDLE_VALUE);
  CloseHandle(l_h);
  CreateSymbolicLinkW(OsTestWide(l_sTree + "\\link").c_str(), OsTestWide(l_sTarget).c_str(),
                      SYMBOLIC_LINK_FLAG_DIRECTORY);
  if (!Exists(l_sTree + "\\link"))
    GTEST_SKIP() << "the system made no link (Wine: CreateSymbolicLinkW creates nothing)";
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

// Set access, copy-tree and directory creation in a tree that holds a link:
// none of them reaches what the link leads to, and a link given as the top
// of the walk is refused.
TEST_F(Links, NoWalkFollowsALink) {
  const char* const l_szDir = std::getenv("OS_TEST_LINKS_DIR");
  ASSERT_NE(l_szDir, nullptr) << "the links fixture sets OS_TEST_LINKS_DIR";
  const std::string l_sDir = l_szDir;
  const std::wstring l_wsKeep = OsTestWide(l_sDir + "\\target\\keep.txt");
  EXPECT_EQ(OsFileSetAccess((l_sDir + "\\walk").c_str(), OS_FILE_ACCESS_READ, true, 0), OS_STS_SUCCESS);
  EXPECT_EQ(GetFileAttributesW(l_wsKeep.c_str()) & FILE_ATTRIBUTE_READONLY, 0u) << "set access went through the link";
  EXPECT_NE(GetFileAttributesW(OsTestWide(l_sDir + "\\walk\\file.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(OsFileSetAccess((l_sDir + "\\walk").c_str(), OS_FILE_ACCESS_READWRITE, true, 0), OS_STS_SUCCESS);
  EXPECT_EQ(OsFileSetAccess((l_sDir + "\\walk\\link").c_str(), OS_FILE_ACCESS_READ, true, 0), OS_STS_FAIL);

  const std::string l_sCopy = Dir() + "\\copy";
  EXPECT_EQ(OsFileCopyTree((l_sDir + "\\walk").c_str(), l_sCopy.c_str(), true, nullptr, nullptr), OS_STS_FAIL);
  EXPECT_TRUE(Exists(l_sCopy + "\\sub\\file.txt"));
  EXPECT_FALSE(Exists(l_sCopy + "\\link"));
  EXPECT_FALSE(Exists(l_sCopy + "\\sub\\link2"));
  EXPECT_EQ(OsFileCopyTree((l_sDir + "\\walk\\link").c_str(), (Dir() + "\\copy2").c_str(), true, nullptr, nullptr),
            OS_STS_FAIL);
  EXPECT_FALSE(Exists(Dir() + "\\copy2"));
  EXPECT_EQ(OsFileCopyTree((l_sDir + "\\walk\\sub").c_str(), (l_sDir + "\\walk\\link").c_str(), true, nullptr, nullptr),
            OS_STS_FAIL);

  const std::string l_sBase = l_sDir + "\\walk";
  EXPECT_EQ(OsFileCreateDirectoryIn(l_sBase.c_str(), (l_sBase + "\\link\\new").c_str(), nullptr), OS_STS_CANNOTCREATE);
  EXPECT_FALSE(Exists(l_sDir + "\\target\\new"));
  EXPECT_EQ(OsFileCreateDirectoryIn(l_sBase.c_str(), (l_sBase + "\\link").c_str(), nullptr), OS_STS_CANNOTCREATE);
  EXPECT_EQ(OsFileCreateDirectoryIn(l_sBase.c_str(), (l_sBase + "\\sub\\new").c_str(), nullptr), OS_STS_SUCCESS);
  EXPECT_EQ(OsFileCreateDirectoryIn(l_sBase.c_str(), (l_sBase + "\\sub\\new").c_str(), nullptr), OS_STS_EXISTS);
  EXPECT_EQ(OsFileCreateDirectoryIn(l_sBase.c_str(), (l_sDir + "\\elsewhere").c_str(), nullptr), OS_STS_FAIL);
  // A delete below a base never goes through a link on the way.
  EXPECT_EQ(OsFileDeleteIn(l_sDir.c_str(), (l_sBase + "\\link\\keep.txt").c_str(), OS_FILE_TYPE_FILE, false),
            OS_STS_FAIL);
  EXPECT_TRUE(Exists(l_sDir + "\\target\\keep.txt"));
  EXPECT_EQ(OsFileDeleteIn(l_sDir.c_str(), (l_sBase + "\\..\\target\\keep.txt").c_str(), OS_FILE_TYPE_FILE, false),
            OS_STS_FAIL);  // below by its text only
  EXPECT_TRUE(Exists(l_sDir + "\\target\\keep.txt"));
  EXPECT_EQ(OsFileDeleteIn(l_sDir.c_str(), (l_sBase + "\\sub\\new\\").c_str(), OS_FILE_TYPE_DIRECTORY, true),
            OS_STS_SUCCESS);
  EXPECT_FALSE(Exists(l_sBase + "\\sub\\new"));
}

// The delete race. A directory of the tree being deleted is swapped for a
// link while the delete runs: a second Windows process renames it away, and
// a Linux process (Wine's own rename of a Linux link would move the link's
// target instead) puts a link to the target in the freed name at once. The
// target holds files of the same names as the tree's directories, so a
// delete that went on by path after the swap would remove them. The handle
// the delete holds on each directory it walks must stop the rename.
constexpr int OS_TEST_RACE_DIRECTORIES = 8;
constexpr int OS_TEST_RACE_FILES = 40;

std::wstring RaceFile(int a_i) { return L"\\f" + std::to_wstring(a_i) + L".txt"; }

void MakeFile(const std::wstring& a_ws) {
  HANDLE const l_h = CreateFileW(a_ws.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(l_h, INVALID_HANDLE_VALUE) << OsTestUtf8(a_ws);
  CloseHandle(l_h);
}

std::string ReadArmed(const std::wstring& a_wsDir) {
  std::ifstream l_stream(OsTestUtf8(a_wsDir + L"\\armed"));
  std::string l_s;
  std::getline(l_stream, l_s);
  return l_s;
}

// The Windows half, run as a second process of this program: renames every
// real directory d0..d7 of the armed tree away, as often as it can.
TEST(LinkRace, DISABLED_Swapper) {
  const char* const l_szDir = std::getenv("OS_TEST_SWAP_DIR");
  ASSERT_NE(l_szDir, nullptr);
  const std::wstring l_wsDir = OsTestWide(l_szDir);
  const ULONGLONG l_ullEnd = GetTickCount64() + 120000;
  for (unsigned l_uAway = 0;
       GetFileAttributesW((l_wsDir + L"\\stop").c_str()) == INVALID_FILE_ATTRIBUTES && GetTickCount64() < l_ullEnd;) {
    const std::string l_sTree = ReadArmed(l_wsDir);
    if (l_sTree.empty()) {
      Sleep(1);
      continue;
    }
    for (int l_i = 0; l_i < OS_TEST_RACE_DIRECTORIES; ++l_i) {
      const std::wstring l_ws = l_wsDir + L"\\" + OsTestWide(l_sTree) + L"\\d" + std::to_wstring(l_i);
      const DWORD l_dw = GetFileAttributesW(l_ws.c_str());
      // A link stays: moving it would move its target under Wine.
      if (l_dw == INVALID_FILE_ATTRIBUTES || (l_dw & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
      if (MoveFileW(l_ws.c_str(), (l_wsDir + L"\\away\\" + std::to_wstring(l_uAway)).c_str())) ++l_uAway;
    }
  }
}

TEST_F(Links, ASwapDuringTheDeleteNeverReachesTheLinksTarget) {
  if (!OsTestIsWine()) GTEST_SKIP() << "the links are put in place by a Linux process";
  const char* const l_szDir = std::getenv("OS_TEST_LINKS_DIR");
  const char* const l_szFiller = std::getenv("OS_TEST_LINK_FILLER");
  ASSERT_NE(l_szDir, nullptr) << "the links fixture sets OS_TEST_LINKS_DIR";
  ASSERT_NE(l_szFiller, nullptr) << "the test registration sets OS_TEST_LINK_FILLER";
  const std::wstring l_wsDir = OsTestWide(l_szDir) + L"\\race";
  ASSERT_TRUE(CreateDirectoryW(l_wsDir.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((l_wsDir + L"\\away").c_str(), nullptr));
  const std::wstring l_wsTarget = l_wsDir + L"\\target";
  ASSERT_TRUE(CreateDirectoryW(l_wsTarget.c_str(), nullptr));
  for (int l_i = 0; l_i < OS_TEST_RACE_FILES; ++l_i) ASSERT_NO_FATAL_FAILURE(MakeFile(l_wsTarget + RaceFile(l_i)));
  // Held without delete sharing, the target itself can never be moved.
  HANDLE const l_hTarget = CreateFileW(l_wsTarget.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(l_hTarget, INVALID_HANDLE_VALUE);

  // The Linux half: a Unix program that Wine starts for us.
  std::string l_sLinuxDir = l_szDir;
  if (l_sLinuxDir.size() > 2 && l_sLinuxDir[1] == ':') l_sLinuxDir.erase(0, 2);
  for (char& l_c : l_sLinuxDir)
    if (l_c == '\\') l_c = '/';
  std::wstring l_wsFiller = L"/bin/bash " + OsTestWide(l_szFiller) + L" " + OsTestWide(l_sLinuxDir) + L"/race";
  STARTUPINFOW l_si = {};
  l_si.cb = sizeof(l_si);
  PROCESS_INFORMATION l_pi = {};
  ASSERT_TRUE(
      CreateProcessW(L"Z:\\bin\\bash", l_wsFiller.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &l_si, &l_pi));
  CloseHandle(l_pi.hThread);
  CloseHandle(l_pi.hProcess);
  // The Windows half.
  wchar_t l_wszSelf[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, l_wszSelf, MAX_PATH), 0u);
  SetEnv(L"OS_TEST_SWAP_DIR", l_wsDir.c_str());
  std::wstring l_wsSwapper =
      L"\"" + std::wstring(l_wszSelf) + L"\" --gtest_filter=LinkRace.DISABLED_Swapper --gtest_also_run_disabled_tests";
  ASSERT_TRUE(CreateProcessW(nullptr, l_wsSwapper.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                             &l_si, &l_pi));
  CloseHandle(l_pi.hThread);

  for (int l_iRound = 0; l_iRound < 30 && !HasFailure(); ++l_iRound) {
    const std::wstring l_wsName = L"tree" + std::to_wstring(l_iRound);
    const std::wstring l_wsTree = l_wsDir + L"\\" + l_wsName;
    ASSERT_TRUE(CreateDirectoryW(l_wsTree.c_str(), nullptr));
    for (int l_i = 0; l_i < OS_TEST_RACE_DIRECTORIES; ++l_i) {
      const std::wstring l_ws = l_wsTree + L"\\d" + std::to_wstring(l_i);
      ASSERT_TRUE(CreateDirectoryW(l_ws.c_str(), nullptr));
      for (int l_j = 0; l_j < OS_TEST_RACE_FILES; ++l_j) ASSERT_NO_FATAL_FAILURE(MakeFile(l_ws + RaceFile(l_j)));
    }
    {
      std::ofstream l_armed(OsTestUtf8(l_wsDir + L"\\armed"));
      l_armed << OsTestUtf8(l_wsName) << "\n";
    }
    // Its status depends on what the swap left (a Linux link cannot be
    // removed through Wine); only the target's files matter.
    OsFileDelete(OsTestUtf8(l_wsTree).c_str(), OS_FILE_TYPE_DIRECTORY, true);
    DeleteFileW((l_wsDir + L"\\armed").c_str());
    Sleep(20);
    for (int l_j = 0; l_j < OS_TEST_RACE_FILES; ++l_j)
      EXPECT_NE(GetFileAttributesW((l_wsTarget + RaceFile(l_j)).c_str()), INVALID_FILE_ATTRIBUTES)
          << "round " << l_iRound << ": the delete reached the link's target";
  }
  MakeFile(l_wsDir + L"\\stop");
  WaitForSingleObject(l_pi.hProcess, 30000);
  CloseHandle(l_pi.hProcess);
  CloseHandle(l_hTarget);
  // The race took place: directories were swapped while trees were deleted.
  EXPECT_GT(OsTestCountEntries(l_wsDir + L"\\away"), 0);
}

}  // namespace
