// Paths and directory operations: path text, enumeration, creation with
// parents, delete, move, copy, copy-tree callbacks, access, temporary names,
// current directory, redirection, and the 259-byte path limit.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "os_cosfile.h"
#include "os_cosmem.h"
#include "os_test.h"
#include "os_test_mem.h"

namespace {

class Files : public OsTestWithMem {
 protected:
  std::string Path(const std::string& a_s) const { return Dir() + "\\" + a_s; }
  void WriteFile(const std::string& a_sPath, const std::string& a_sText = "x") {
    HANDLE const l_h = CreateFileW(OsTestWide(a_sPath).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(l_h, INVALID_HANDLE_VALUE) << a_sPath;
    DWORD l_dw = 0;
    ::WriteFile(l_h, a_sText.data(), static_cast<DWORD>(a_sText.size()), &l_dw, nullptr);
    CloseHandle(l_h);
  }
  std::string ReadFile(const std::string& a_sPath) {
    HANDLE const l_h =
        CreateFileW(OsTestWide(a_sPath).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (l_h == INVALID_HANDLE_VALUE) return "<missing>";
    char l_ac[256];
    DWORD l_dw = 0;
    ::ReadFile(l_h, l_ac, sizeof(l_ac), &l_dw, nullptr);
    CloseHandle(l_h);
    return std::string(l_ac, l_dw);
  }
  bool Exists(const std::string& a_sPath) {
    return GetFileAttributesW(OsTestWide(a_sPath).c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  void MakeDir(const std::string& a_sPath) {
    ASSERT_TRUE(CreateDirectoryW(OsTestWide(a_sPath).c_str(), nullptr)) << a_sPath;
  }
};

TEST(FilePathText, Normalize) {
  char l_sz[64] = "C:\\a//b\\\\\\c/";
  EXPECT_STREQ(OsFilePathNormalize(l_sz, '\\'), "C:\\a\\b\\c\\");
  char l_szUnc[64] = "\\\\\\server//share\\x";
  EXPECT_STREQ(OsFilePathNormalize(l_szUnc, '\\'), "\\\\server\\share\\x");  // the UNC pair stays two
  char l_szSlash[64] = "a\\\\b";
  EXPECT_STREQ(OsFilePathNormalize(l_szSlash, '/'), "a/b");
  EXPECT_EQ(OsFilePathNormalize(nullptr, '\\'), nullptr);
}

TEST(FilePathText, CopyAppendSplit) {
  char l_sz[16] = "keep";
  EXPECT_TRUE(OsFilePathCopy(l_sz, sizeof(l_sz), "c:/x//y"));
  EXPECT_STREQ(l_sz, "c:\\x\\y");
  EXPECT_FALSE(OsFilePathCopy(l_sz, sizeof(l_sz), "0123456789abcdef"));  // 16 and a terminator do not fit
  EXPECT_STREQ(l_sz, "");

  char l_szOut[64] = "C:\\out";
  EXPECT_TRUE(OsFilePathAppend(l_szOut, sizeof(l_szOut), "D:\\data\\x.txt"));
  EXPECT_STREQ(l_szOut, "C:\\out\\data\\x.txt");
  // A join that does not fit says so and leaves nothing a caller could use
  // as a path; one that fits exactly (7 characters and a terminator) does.
  char l_szTiny[8] = "C:\\out";
  EXPECT_FALSE(OsFilePathAppend(l_szTiny, sizeof(l_szTiny), "toolong"));
  EXPECT_STREQ(l_szTiny, "");
  char l_szExact[8] = "C:\\ou";
  EXPECT_TRUE(OsFilePathAppend(l_szExact, sizeof(l_szExact), "t"));
  EXPECT_STREQ(l_szExact, "C:\\ou\\t");
  char l_szJoin[8] = "x";
  EXPECT_FALSE(OsFilePathJoin(l_szJoin, sizeof(l_szJoin), "C:\\out", "a"));
  EXPECT_STREQ(l_szJoin, "");
  // Nothing, or a root, joined to a part never makes a server's name.
  EXPECT_FALSE(OsFilePathJoin(l_szJoin, sizeof(l_szJoin), "", "x"));
  EXPECT_TRUE(OsFilePathJoin(l_szJoin, sizeof(l_szJoin), "\\", "D:\\x"));
  EXPECT_STREQ(l_szJoin, "\\x");

  char l_szSplit[64] = "c:/dir//file.txt";
  std::size_t l_sizet = 99;
  char* l_pszName = nullptr;
  OsFilePathSplit(l_szSplit, &l_sizet, &l_pszName);
  EXPECT_EQ(l_sizet, 6u);
  EXPECT_STREQ(l_pszName, "file.txt");
  char l_szBare[8] = "name";
  OsFilePathSplit(l_szBare, &l_sizet, &l_pszName);
  EXPECT_EQ(l_sizet, 0u);
  EXPECT_EQ(l_pszName, l_szBare);

  char l_szTrail[16] = "c:\\a\\\\";
  EXPECT_EQ(OsFilePathStripTrailing(l_szTrail), 5u);
  EXPECT_STREQ(l_szTrail, "c:\\a");

  char l_szExe[16] = "tool.EXE";
  OsFileAddExeExtension(l_szExe, sizeof(l_szExe));
  EXPECT_STREQ(l_szExe, "tool.EXE");
  char l_szDll[16] = "lib";
  OsFileAddDllExtension(l_szDll, sizeof(l_szDll));
  EXPECT_STREQ(l_szDll, "lib.dll");
  char l_szX[4] = "x";
  OsFileAddExeExtension(l_szX, sizeof(l_szX));  // does not fit: empty, never past the buffer
  EXPECT_STREQ(l_szX, "");
}

TEST_F(Files, EnumerationAndTheFullPathInvariant) {
  MakeDir(Path("d"));
  WriteFile(Path("d\\a.txt"), "hello");
  MakeDir(Path("d\\Sub"));
  char l_szAbsolute[OS_PATH_SIZE];
  ASSERT_EQ(OsFileGetFullPath(l_szAbsolute, sizeof(l_szAbsolute), Path("d").c_str()), OS_STS_SUCCESS);
  OsFileInfo l_info;
  std::vector<std::string> l_names;
  for (EOSSTS l_eossts = OsFileFindFirst((Path("d") + "/*").c_str(), &l_info); l_eossts == OS_STS_SUCCESS;
       l_eossts = OsFileFindNext(&l_info)) {
    l_names.push_back(l_info.m_szName);
    EXPECT_EQ(std::string(l_info.m_szFullPath), std::string(l_szAbsolute) + "\\" + l_info.m_szName);
    if (std::string(l_info.m_szName) == "a.txt") {
      EXPECT_EQ(l_info.m_u32Size, 5u);
      EXPECT_EQ(l_info.m_eosfiletype, OS_FILE_TYPE_FILE);
      EXPECT_EQ(l_info.m_eosfileaccess, OS_FILE_ACCESS_READWRITE);
      EXPECT_GE(l_info.m_ostimerecordModified.m_u16Year, 2024);
    }
    if (std::string(l_info.m_szName) == "Sub") {
      EXPECT_STREQ(l_info.m_szNameLower, "sub");
      EXPECT_EQ(l_info.m_eosfiletype, OS_FILE_TYPE_DIRECTORY);
    }
  }
  EXPECT_EQ(l_info.m_hSearch, nullptr);  // the end closed the search
  OsFileFindClose(&l_info);
  std::sort(l_names.begin(), l_names.end());
  EXPECT_EQ(l_names, (std::vector<std::string>{".", "..", "Sub", "a.txt"}));

  EXPECT_EQ(OsFileFindFirst(Path("nothing*").c_str(), &l_info), OS_STS_NOTFOUND);
  EXPECT_EQ(l_info.m_hSearch, nullptr);
  EXPECT_STREQ(l_info.m_szName, "");
  EXPECT_TRUE(OsFileExists(Path("d\\a.txt").c_str()));
  EXPECT_FALSE(OsFileExists(Path("d\\b.txt").c_str()));
  EXPECT_FALSE(OsFileExists(nullptr));
  EXPECT_EQ(OsFileFindNext(&l_info), OS_STS_NOTFOUND);  // no open search
}

TEST_F(Files, SizeOfAFiveGigabyteEntryIsItsLowHalf) {
  HANDLE const l_h = CreateFileW(OsTestWide(Path("big")).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(l_h, INVALID_HANDLE_VALUE);
  DWORD l_dw = 0;
  DeviceIoControl(l_h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &l_dw, nullptr);
  LARGE_INTEGER l_li;
  l_li.QuadPart = 5LL << 30;
  ASSERT_TRUE(SetFilePointerEx(l_h, l_li, nullptr, FILE_BEGIN));
  ASSERT_TRUE(SetEndOfFile(l_h));
  CloseHandle(l_h);
  OsFileInfo l_info;
  ASSERT_EQ(OsFileFindFirst(Path("big").c_str(), &l_info), OS_STS_SUCCESS);
  EXPECT_EQ(l_info.m_u32Size, 1u << 30);
  OsFileFindClose(&l_info);
}

TEST_F(Files, CreateDirectoryWithParents) {
  EXPECT_EQ(OsFileCreateDirectory(Path("a\\b\\c").c_str(), nullptr), OS_STS_SUCCESS);
  EXPECT_TRUE(Exists(Path("a\\b\\c")));
  EXPECT_EQ(OsFileCreateDirectory(Path("a\\b\\c").c_str(), nullptr), OS_STS_EXISTS);
  EXPECT_EQ(OsFileCreateDirectory((Path("x") + "//y\\\\z").c_str(), nullptr), OS_STS_SUCCESS);
  EXPECT_TRUE(Exists(Path("x\\y\\z")));
  WriteFile(Path("file"));
  EXPECT_NE(OsFileCreateDirectory(Path("file\\below").c_str(), nullptr), OS_STS_SUCCESS);  // a file in the way
  EXPECT_EQ(OsFileCreateDirectory(nullptr, nullptr), OS_STS_FAIL);
}

TEST_F(Files, DeleteRules) {
  MakeDir(Path("t"));
  WriteFile(Path("t\\f.txt"));
  EXPECT_EQ(OsFileDelete(Path("t\\*").c_str(), OS_FILE_TYPE_NONE, true), OS_STS_BADARG);
  EXPECT_TRUE(Exists(Path("t\\f.txt")));
  EXPECT_EQ(OsFileDelete(Path("t").c_str(), OS_FILE_TYPE_FILE, true), OS_STS_FAIL);
  EXPECT_EQ(OsFileDelete(Path("t\\f.txt").c_str(), OS_FILE_TYPE_DIRECTORY, true), OS_STS_FAIL);
  EXPECT_EQ(OsFileDelete(Path("missing").c_str(), OS_FILE_TYPE_NONE, true), OS_STS_FAIL);
  EXPECT_EQ(OsFileDelete(Path("t").c_str(), OS_FILE_TYPE_DIRECTORY, false), OS_STS_FAIL);  // not empty
  EXPECT_TRUE(Exists(Path("t\\f.txt")));
  EXPECT_EQ(OsFileDelete(nullptr, OS_FILE_TYPE_NONE, true), OS_STS_BADARG);

  // Read-only files and nested directories go, the top directory too.
  MakeDir(Path("t\\n1"));
  MakeDir(Path("t\\n1\\n2"));
  WriteFile(Path("t\\n1\\n2\\ro.txt"));
  SetFileAttributesW(OsTestWide(Path("t\\n1\\n2\\ro.txt")).c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(OsFileDelete(Path("t").c_str(), OS_FILE_TYPE_DIRECTORY, true), OS_STS_SUCCESS);
  EXPECT_FALSE(Exists(Path("t")));
}

TEST_F(Files, ASystemFileStopsTheDelete) {
  MakeDir(Path("s"));
  WriteFile(Path("s\\sys.dat"));
  SetFileAttributesW(OsTestWide(Path("s\\sys.dat")).c_str(), FILE_ATTRIBUTE_SYSTEM);
  EXPECT_EQ(OsFileDelete(Path("s").c_str(), OS_FILE_TYPE_DIRECTORY, true), OS_STS_FAIL);
  EXPECT_TRUE(Exists(Path("s\\sys.dat")));
  SetFileAttributesW(OsTestWide(Path("s\\sys.dat")).c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Files, MoveAndCopyNeverOverwrite) {
  WriteFile(Path("a"), "A");
  WriteFile(Path("b"), "B");
  EXPECT_EQ(OsFileCopy(Path("a").c_str(), Path("b").c_str()), OS_STS_FAIL);
  EXPECT_EQ(ReadFile(Path("b")), "B");
  EXPECT_EQ(OsFileCopy(Path("a").c_str(), Path("c").c_str()), OS_STS_SUCCESS);
  EXPECT_EQ(ReadFile(Path("c")), "A");
  EXPECT_EQ(OsFileMove(Path("a").c_str(), Path("b").c_str()), OS_STS_FAIL);
  EXPECT_EQ(OsFileMove(Path("a").c_str(), Path("d").c_str()), OS_STS_SUCCESS);
  EXPECT_FALSE(Exists(Path("a")));
  EXPECT_EQ(ReadFile(Path("d")), "A");
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(OsFileMove(nullptr, "x"), OS_STS_BADARG);
  EXPECT_EQ(OsFileCopy("x", nullptr), OS_STS_BADARG);
}

struct Answers {
  std::vector<std::string> m_calls;
  EOSSTS m_eosstsDirectory = OS_STS_SUCCESS;
  const char* m_szDirectory = nullptr;
};

EOSSTS Answer(const OsFileCopyTreeEntry* a_pentry) {
  Answers* const l_panswers = static_cast<Answers*>(a_pentry->m_pvContext);
  EXPECT_EQ(a_pentry->m_u32Size, 16u);
  const std::string l_s =
      a_pentry->m_szName != nullptr ? a_pentry->m_szName : std::string("dir:") + a_pentry->m_szSource;
  l_panswers->m_calls.push_back(l_s);
  if (a_pentry->m_szName == nullptr && l_panswers->m_szDirectory != nullptr &&
      l_s.size() >= std::strlen(l_panswers->m_szDirectory) &&
      l_s.compare(l_s.size() - std::strlen(l_panswers->m_szDirectory), std::string::npos, l_panswers->m_szDirectory) ==
          0)
    return l_panswers->m_eosstsDirectory;
  return OS_STS_SUCCESS;
}

TEST_F(Files, CopyTreeOntoAnExistingDestination) {
  MakeDir(Path("src"));
  WriteFile(Path("src\\f.txt"), "new");
  MakeDir(Path("src\\empty"));
  MakeDir(Path("dst"));
  WriteFile(Path("dst\\f.txt"), "old");
  EXPECT_EQ(OsFileCopyTree(Path("src").c_str(), Path("dst").c_str(), true, nullptr, nullptr), OS_STS_SUCCESS);
  EXPECT_EQ(ReadFile(Path("dst\\f.txt")), "old");
  EXPECT_TRUE(Exists(Path("dst\\empty")));  // without a callback every directory is made
  Answers l_answers;
  EXPECT_EQ(OsFileCopyTree(Path("src").c_str(), Path("dst").c_str(), true, Answer, &l_answers), OS_STS_FAIL);
  EXPECT_EQ(ReadFile(Path("dst\\f.txt")), "old");
}

TEST_F(Files, CopyTreeCallbackAnswers) {
  MakeDir(Path("src"));
  MakeDir(Path("src\\skip"));
  WriteFile(Path("src\\skip\\s.txt"));
  MakeDir(Path("src\\all"));
  MakeDir(Path("src\\all\\deep"));
  WriteFile(Path("src\\all\\deep\\d.txt"), "D");
  MakeDir(Path("src\\none"));  // holds no file: with a callback it is not made
  WriteFile(Path("src\\top.txt"), "T");

  Answers l_answers;
  l_answers.m_szDirectory = "skip";
  l_answers.m_eosstsDirectory = OS_FILE_COPYTREE_SKIP;
  EXPECT_EQ(OsFileCopyTree(Path("src").c_str(), Path("dst1").c_str(), true, Answer, &l_answers), OS_STS_SUCCESS);
  EXPECT_FALSE(Exists(Path("dst1\\skip")));
  EXPECT_EQ(ReadFile(Path("dst1\\all\\deep\\d.txt")), "D");
  EXPECT_FALSE(Exists(Path("dst1\\none")));
  EXPECT_EQ(ReadFile(Path("dst1\\top.txt")), "T");

  Answers l_all;
  l_all.m_szDirectory = "all";
  l_all.m_eosstsDirectory = OS_FILE_COPYTREE_ALL;
  EXPECT_EQ(OsFileCopyTree(Path("src").c_str(), Path("dst2").c_str(), true, Answer, &l_all), OS_STS_SUCCESS);
  EXPECT_EQ(ReadFile(Path("dst2\\all\\deep\\d.txt")), "D");
  for (const std::string& l_s : l_all.m_calls)
    EXPECT_EQ(l_s.find("deep"), std::string::npos) << "no call below 'all': " << l_s;

  Answers l_odd;
  l_odd.m_szDirectory = "none";
  l_odd.m_eosstsDirectory = static_cast<EOSSTS>(77);
  EXPECT_EQ(OsFileCopyTree(Path("src").c_str(), Path("dst3").c_str(), true, Answer, &l_odd), static_cast<EOSSTS>(77));
  EXPECT_EQ(ReadFile(Path("dst3\\top.txt")), "T");  // the walk goes on to the end

  EXPECT_EQ(OsFileCopyTree(Path("src").c_str(), Path("dst4").c_str(), false, nullptr, nullptr), OS_STS_SUCCESS);
  EXPECT_TRUE(Exists(Path("dst4\\top.txt")));
  EXPECT_FALSE(Exists(Path("dst4\\all")));
}

TEST_F(Files, SetAccessRecursively) {
  MakeDir(Path("r"));
  WriteFile(Path("r\\a"));
  MakeDir(Path("r\\s"));
  WriteFile(Path("r\\s\\b"));
  EXPECT_EQ(OsFileSetAccess((Path("r") + "\\\\").c_str(), OS_FILE_ACCESS_READ, true, 0), OS_STS_SUCCESS);
  EXPECT_TRUE(GetFileAttributesW(OsTestWide(Path("r\\s\\b")).c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(GetFileAttributesW(OsTestWide(Path("r\\a")).c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(OsFileSetAccess(Path("r").c_str(), OS_FILE_ACCESS_READWRITE, true, 0), OS_STS_SUCCESS);
  EXPECT_FALSE(GetFileAttributesW(OsTestWide(Path("r\\s\\b")).c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(OsFileSetAccess(Path("r").c_str(), OS_FILE_ACCESS_WRITE, false, 0), OS_STS_BADARG);
  EXPECT_EQ(OsFileSetAccess(Path("missing").c_str(), OS_FILE_ACCESS_READ, false, 0), OS_STS_NOTFOUND);
}

TEST_F(Files, TemporaryNamesAndTheCurrentDirectory) {
  char l_sz[OS_PATH_SIZE];
  ASSERT_EQ(OsFileGetTempName(Dir().c_str(), l_sz, "qrx", sizeof(l_sz)), OS_STS_SUCCESS);
  EXPECT_NE(std::string(l_sz).find("qrx"), std::string::npos);
  EXPECT_TRUE(Exists(l_sz));  // the system made the empty file
  EXPECT_EQ(OsFileGetTempName(nullptr, l_sz, "qrx", sizeof(l_sz)), OS_STS_BADARG);

  char l_szSaved[OS_PATH_SIZE];
  ASSERT_EQ(OsFileGetCurrentDirectory(l_szSaved, sizeof(l_szSaved)), OS_STS_SUCCESS);
  ASSERT_EQ(OsFileSetCurrentDirectory(Dir().c_str()), OS_STS_SUCCESS);
  char l_szNow[OS_PATH_SIZE];
  ASSERT_EQ(OsFileGetCurrentDirectory(l_szNow, sizeof(l_szNow)), OS_STS_SUCCESS);
  EXPECT_EQ(std::string(l_szNow), Dir());
  char l_szSmall[4];
  EXPECT_EQ(OsFileGetCurrentDirectory(l_szSmall, sizeof(l_szSmall)), OS_STS_TOOSMALL);
  char l_szRelative[OS_PATH_SIZE];
  ASSERT_EQ(OsFileGetFullPath(l_szRelative, sizeof(l_szRelative), "x//y"), OS_STS_SUCCESS);
  EXPECT_EQ(std::string(l_szRelative), Dir() + "\\x\\y");
  EXPECT_EQ(OsFileSetCurrentDirectory(Path("missing").c_str()), OS_STS_FAIL);
  EXPECT_EQ(OsFileSetCurrentDirectory(l_szSaved), OS_STS_SUCCESS);
}

TEST_F(Files, Wow64Redirection) {
  EXPECT_EQ(OsFileWow64Redirection(true), OS_STS_SUCCESS);  // on without off: only logged
  ASSERT_EQ(OsFileWow64Redirection(false), OS_STS_SUCCESS);
  BOOL l_bWow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &l_bWow64);
  if (l_bWow64) {
    // With the redirection off, the 32-bit process sees the 64-bit system folder.
    wchar_t l_wsz[MAX_PATH];
    GetSystemDirectoryW(l_wsz, MAX_PATH);
    const std::wstring l_ws = std::wstring(l_wsz) + L"\\kernel32.dll";
    HANDLE const l_h = CreateFileW(l_ws.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(l_h, INVALID_HANDLE_VALUE);
    IMAGE_DOS_HEADER l_dos;
    DWORD l_dw = 0;
    ::ReadFile(l_h, &l_dos, sizeof(l_dos), &l_dw, nullptr);
    SetFilePointer(l_h, l_dos.e_lfanew + 4, nullptr, FILE_BEGIN);
    WORD l_wMachine = 0;
    ::ReadFile(l_h, &l_wMachine, sizeof(l_wMachine), &l_dw, nullptr);
    CloseHandle(l_h);
    EXPECT_EQ(l_wMachine, IMAGE_FILE_MACHINE_AMD64);
  }
  EXPECT_EQ(OsFileWow64Redirection(true), OS_STS_SUCCESS);
}

TEST_F(Files, PathsOf259BytesWorkAndLongerOnesAreRefused) {
  const std::string l_sBase = Dir() + "\\";
  ASSERT_LT(l_sBase.size(), 200u);
  const std::string l_s259 = l_sBase + std::string(259 - l_sBase.size(), 'p');
  ASSERT_EQ(l_s259.size(), 259u);
  EXPECT_EQ(OsFileCreateDirectory(l_s259.c_str(), nullptr), OS_STS_SUCCESS);
  EXPECT_TRUE(OsFileExists(l_s259.c_str()));
  EXPECT_EQ(OsFileDelete(l_s259.c_str(), OS_FILE_TYPE_DIRECTORY, true), OS_STS_SUCCESS);
  EXPECT_FALSE(Exists(l_s259));

  const std::string l_s260 = l_sBase + std::string(260 - l_sBase.size(), 'q');
  EXPECT_NE(OsFileCreateDirectory(l_s260.c_str(), nullptr), OS_STS_SUCCESS);
  EXPECT_FALSE(Exists(l_s260));
  EXPECT_FALSE(OsFileExists(l_s260.c_str()));
  WriteFile(Dir() + "\\q");
  EXPECT_NE(OsFileCopy((Dir() + "\\q").c_str(), l_s260.c_str()), OS_STS_SUCCESS);
  EXPECT_FALSE(Exists(l_s260));
  EXPECT_EQ(OsFileDelete(l_s260.c_str(), OS_FILE_TYPE_NONE, false), OS_STS_FAIL);
  COsFile l_file;
  EXPECT_NE(l_file.Open(l_s260.c_str(), OS_FILE_OPEN_CREATE, OS_FILE_ACCESS_WRITE, OS_FILE_SHARE_NONE), OS_STS_SUCCESS);
  EXPECT_FALSE(Exists(l_s260));
  const std::string l_sLong(5000, 'z');
  EXPECT_NE(OsFileCreateDirectory(l_sLong.c_str(), nullptr), OS_STS_SUCCESS);
}

// A copy into a destination near the path limit: the entries whose target
// would not fit fail, and nothing is written anywhere else (a target that
// had become empty would have named the drive's root).
TEST_F(Files, CopyTreeNearThePathLimitStaysInItsDestination) {
  MakeDir(Path("src"));
  MakeDir(Path("src\\qrx_copy_sub"));
  MakeDir(Path("src\\qrx_copy_sub\\qrx_copy_deep"));
  WriteFile(Path("src\\qrx_copy_sub\\qrx_copy_deep\\qrx_copy_escape.txt"));
  WriteFile(Path("src\\qrx_copy_top.txt"));
  // dst\qrx_copy_sub fits the 259 characters; nothing below it does.
  const std::string l_sDestination = Path(std::string(259 - Path("").size() - 13, 'd'));
  ASSERT_EQ(l_sDestination.size() + 13, 259u);
  EXPECT_EQ(OsFileCopyTree(Path("src").c_str(), l_sDestination.c_str(), true, nullptr, nullptr), OS_STS_FAIL);
  wchar_t l_wszWindows[MAX_PATH];
  ASSERT_GT(GetWindowsDirectoryW(l_wszWindows, MAX_PATH), 2u);
  const std::string l_sRoot = OsTestUtf8(std::wstring(l_wszWindows).substr(0, 2));
  for (const char* l_szName : {"\\qrx_copy_sub", "\\qrx_copy_deep", "\\qrx_copy_escape.txt", "\\qrx_copy_top.txt"})
    EXPECT_FALSE(Exists(l_sRoot + l_szName)) << l_szName;
  // Only the source and the destination are in the test's directory.
  EXPECT_EQ(OsTestCountEntries(WDir()), 2);
}

// An entry whose full path the record cannot hold ends a walk as a failure,
// never as the directory's end.
TEST_F(Files, AnEntryThatDoesNotFitIsAFailureNotTheEnd) {
  const std::string l_sDir = Path("e");
  MakeDir(l_sDir);
  WriteFile(l_sDir + "\\a.txt");
  // Wine has no path limit of its own: the entry exists, its path is too long.
  const std::string l_sLong = l_sDir + "\\" + std::string(259 - l_sDir.size(), 'z');
  WriteFile(l_sLong);
  OsFileInfo l_info;
  EOSSTS l_eossts = OsFileFindFirst((l_sDir + "\\*").c_str(), &l_info);
  while (l_eossts == OS_STS_SUCCESS) l_eossts = OsFileFindNext(&l_info);
  EXPECT_EQ(l_eossts, OS_STS_FAIL);
  OsFileFindClose(&l_info);
  EXPECT_EQ(OsFileCopyTree(l_sDir.c_str(), Path("dst").c_str(), true, nullptr, nullptr), OS_STS_FAIL);
  EXPECT_EQ(OsFileDelete(l_sDir.c_str(), OS_FILE_TYPE_DIRECTORY, true), OS_STS_FAIL);
  EXPECT_TRUE(Exists(l_sDir));
}

// Empty paths name no place: every entry point refuses them.
TEST_F(Files, EmptyPathsAreRefused) {
  WriteFile(Path("f"));
  EXPECT_EQ(OsFileCreateDirectory("", nullptr), OS_STS_FAIL);
  EXPECT_EQ(OsFileDelete("", OS_FILE_TYPE_DIRECTORY, true), OS_STS_BADARG);
  EXPECT_EQ(OsFileCopy(Path("f").c_str(), ""), OS_STS_BADARG);
  EXPECT_EQ(OsFileCopyTree("", Path("d").c_str(), true, nullptr, nullptr), OS_STS_BADARG);
  EXPECT_EQ(OsFileSetAccess("", OS_FILE_ACCESS_READ, true, 0), OS_STS_BADARG);
  EXPECT_EQ(OsFileMove(Path("f").c_str(), ""), OS_STS_BADARG);
  EXPECT_FALSE(Exists(Path("d")));
}

// A file that a user linked into the tree from elsewhere keeps its access:
// setting it would set it under the other name too.
TEST_F(Files, SetAccessLeavesFilesWithOtherNames) {
  MakeDir(Path("t"));
  WriteFile(Path("t\\own.txt"));
  WriteFile(Path("outside.txt"));
  if (!CreateHardLinkW(OsTestWide(Path("t\\linked.txt")).c_str(), OsTestWide(Path("outside.txt")).c_str(), nullptr))
    GTEST_SKIP() << "no hard links on this file system";
  EXPECT_EQ(OsFileSetAccess(Path("t").c_str(), OS_FILE_ACCESS_READ, true, 0), OS_STS_SUCCESS);
  EXPECT_NE(GetFileAttributesW(OsTestWide(Path("t\\own.txt")).c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(GetFileAttributesW(OsTestWide(Path("outside.txt")).c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(OsFileSetAccess(Path("t").c_str(), OS_FILE_ACCESS_READWRITE, true, 0), OS_STS_SUCCESS);
}

}  // namespace
