// The profile cache: the text format as read, changes and their write-back
// byte for byte, the eight slots and reloads, read-only files, the image's
// capacity and hostile bytes, threads; the configuration's profile pair; the
// shared configuration file loaded into items. Messages are checked in the log.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "os.h"
#include "os_coscfg_impl.h"
#include "os_coscfg_profile.h"
#include "os_cosmem_impl.h"
#include "os_test.h"
#include "os_test_log.h"
#include "os_test_services.h"

namespace {

constexpr std::size_t s_sizetImage = 131072;

class Profile : public OsServicesTest {
 protected:
  void SetUp() override {
    OsServicesTest::SetUp();
    StartLoggingTo(L"profile.log");
    OsCfgProfileFreeAll();
  }
  void TearDown() override {
    OsCfgProfileFreeAll();
    OsServicesTest::TearDown();
  }

  std::string Path(const std::string& a_sName) const { return Dir() + "\\" + a_sName; }
  static void Put(const std::string& a_sPath, const std::string& a_sBytes) {
    ASSERT_TRUE(OsTestWriteFile(OsTestWide(a_sPath), a_sBytes)) << a_sPath;
  }
  static std::string Get(const std::string& a_sPath) { return OsTestReadFile(OsTestWide(a_sPath)); }
  // Sets the last-write time to a fixed day plus a_iSeconds.
  static void SetWriteTime(const std::string& a_sPath, int a_iSeconds) {
    HANDLE const l_h =
        CreateFileW(OsTestWide(a_sPath).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(l_h, INVALID_HANDLE_VALUE);
    SYSTEMTIME l_st = {2021, 3, 0, 4, 10, 0, 0, 0};
    FILETIME l_ft;
    SystemTimeToFileTime(&l_st, &l_ft);
    ULARGE_INTEGER l_u;
    l_u.LowPart = l_ft.dwLowDateTime;
    l_u.HighPart = l_ft.dwHighDateTime;
    l_u.QuadPart += static_cast<ULONGLONG>(a_iSeconds) * 10000000ULL;
    l_ft.dwLowDateTime = l_u.LowPart;
    l_ft.dwHighDateTime = l_u.HighPart;
    ASSERT_TRUE(SetFileTime(l_h, nullptr, nullptr, &l_ft));
    CloseHandle(l_h);
  }
  // Puts the bytes and gives the file a write time of its own.
  static void PutAt(const std::string& a_sPath, const std::string& a_sBytes, int a_iSeconds) {
    Put(a_sPath, a_sBytes);
    SetWriteTime(a_sPath, a_iSeconds);
  }
  static std::string Read(const std::string& a_sPath, const char* a_szSection, const char* a_szKey,
                          EOSSTS* a_peossts = nullptr) {
    char l_sz[512];
    std::strcpy(l_sz, "untouched");
    const EOSSTS l_eossts = OsCfgProfileRead(a_sPath.c_str(), a_szSection, a_szKey, l_sz, sizeof(l_sz));
    if (a_peossts != nullptr) *a_peossts = l_eossts;
    return l_sz;
  }
  static bool Exists(const std::string& a_sPath) {
    return GetFileAttributesW(OsTestWide(a_sPath).c_str()) != INVALID_FILE_ATTRIBUTES;
  }
};

// ---- the text format as read ----

TEST_F(Profile, SectionAndKeyWithoutCaseValueUntrimmed) {
  const std::string l_s = Path("a.ini");
  Put(l_s, "[Main]\nRoot=C:\\x\nPad= v \nEq=b=c\n [Lead]\nx=1\n[Trail] \ny=2\n[Main]\nLater=9\n");
  EOSSTS l_eossts = OS_STS_FAIL;
  EXPECT_EQ(Read(l_s, "main", "root", &l_eossts), "C:\\x");
  EXPECT_EQ(l_eossts, OS_STS_SUCCESS);
  EXPECT_EQ(Read(l_s, "MAIN", "pad"), " v ");  // the value as written
  EXPECT_EQ(Read(l_s, "Main", "Eq"), "b=c");   // the key ends at the first '='
  // Blanks around the brackets make another header: these lines belong to [Main].
  EXPECT_EQ(Read(l_s, "Lead", "x", &l_eossts), "");
  EXPECT_EQ(l_eossts, OS_STS_FAIL);
  EXPECT_EQ(Read(l_s, "Trail", "y", &l_eossts), "");
  EXPECT_EQ(l_eossts, OS_STS_FAIL);
  EXPECT_EQ(Read(l_s, "Main", "y"), "2");
  // The second [Main] is never searched.
  EXPECT_EQ(Read(l_s, "Main", "Later", &l_eossts), "");
  EXPECT_EQ(l_eossts, OS_STS_FAIL);
  EXPECT_EQ(Read(l_s, "Main", "Roo", &l_eossts), "");  // a prefix of a key is not the key
  EXPECT_EQ(l_eossts, OS_STS_FAIL);
  EXPECT_EQ(Read(l_s, "Main", "", &l_eossts), "");  // an empty key never matches
  EXPECT_EQ(l_eossts, OS_STS_FAIL);
}

TEST_F(Profile, IndexKeysCountLinesUpToTheNextHeader) {
  const std::string l_s = Path("idx.ini");
  Put(l_s, "[S]\na=1\n; a comment\nb=2\n[T]\nc=3\n");
  EOSSTS l_eossts = OS_STS_SUCCESS;
  EXPECT_EQ(Read(l_s, "S", "@0"), "1");
  EXPECT_EQ(Read(l_s, "S", "@1", &l_eossts), "");  // the comment line has no '='
  EXPECT_EQ(l_eossts, OS_STS_FAIL);
  EXPECT_EQ(Read(l_s, "S", "@2"), "2");
  EXPECT_EQ(Read(l_s, "S", "@3", &l_eossts), "");  // [T] ends the section
  EXPECT_EQ(l_eossts, OS_STS_FAIL);
  EXPECT_EQ(Read(l_s, "S", "@-1", &l_eossts), "");
  EXPECT_EQ(l_eossts, OS_STS_FAIL);
  EXPECT_EQ(Read(l_s, "T", "@0"), "3");
}

TEST_F(Profile, CrLfLfEmptyLinesAndByteOrderMarkReadAlike) {
  const std::string l_sLf = Path("lf.ini");
  const std::string l_sCrLf = Path("crlf.ini");
  Put(l_sLf, "[S]\na=1\n\n\nb=2");  // no LF after the last line
  Put(l_sCrLf, "\xEF\xBB\xBF[S]\r\n\r\na=1\r\r\nb=2\r\n");
  for (const std::string& l_s : {l_sLf, l_sCrLf}) {
    EXPECT_EQ(Read(l_s, "S", "a"), "1") << l_s;
    EXPECT_EQ(Read(l_s, "S", "b"), "2") << l_s;   // no CR left in the value
    EXPECT_EQ(Read(l_s, "S", "@1"), "2") << l_s;  // empty lines are gone
  }
  // The mark is skipped when read and never written.
  ASSERT_EQ(OsCfgProfileWrite(l_sCrLf.c_str(), "S", "c", "3"), OS_STS_SUCCESS);
  ASSERT_EQ(OsCfgProfileFlush(l_sCrLf.c_str()), OS_STS_SUCCESS);
  EXPECT_EQ(Get(l_sCrLf), "[S]\r\na=1\r\nb=2\r\nc=3\r\n");
}

TEST_F(Profile, AMissingProfileReadsEmptyAndAWriteCreatesIt) {
  const std::string l_s = Path("new.ini");
  EOSSTS l_eossts = OS_STS_SUCCESS;
  EXPECT_EQ(Read(l_s, "S", "k", &l_eossts), "");
  EXPECT_EQ(l_eossts, OS_STS_FAIL);
  EXPECT_FALSE(Exists(l_s));
  ASSERT_EQ(OsCfgProfileWrite(l_s.c_str(), "S", "k", "v"), OS_STS_SUCCESS);
  EXPECT_EQ(Read(l_s, "S", "k"), "v");  // from the cache
  EXPECT_FALSE(Exists(l_s));            // nothing written yet
  ASSERT_EQ(OsCfgProfileFlush(l_s.c_str()), OS_STS_SUCCESS);
  EXPECT_EQ(Get(l_s), "[S]\r\nk=v\r\n");
  EXPECT_EQ(Lines("trying to write profile...<" + l_s + ">").size(), 1u);
  EXPECT_EQ(Lines("profile successfully written...<" + l_s + ">").size(), 1u);
  // A write to a profile never seen before loads it first.
  const std::string l_sOther = Path("other.ini");
  Put(l_sOther, "[S]\nold=1\n");
  ASSERT_EQ(OsCfgProfileWrite(l_sOther.c_str(), "S", "new", "2"), OS_STS_SUCCESS);
  ASSERT_EQ(OsCfgProfileFlush(l_sOther.c_str()), OS_STS_SUCCESS);
  EXPECT_EQ(Get(l_sOther), "[S]\r\nold=1\r\nnew=2\r\n");
  // A write after a write-back is kept: the cache knows its own file's
  // new time, for a file it created as for one it loaded.
  for (const std::string& l_sFile : {l_s, l_sOther}) {
    ASSERT_EQ(OsCfgProfileWrite(l_sFile.c_str(), "S", "after", "3"), OS_STS_SUCCESS);
    EXPECT_EQ(Read(l_sFile, "S", "after"), "3") << l_sFile;
    ASSERT_EQ(OsCfgProfileFlush(l_sFile.c_str()), OS_STS_SUCCESS);
    EXPECT_NE(Get(l_sFile).find("after=3\r\n"), std::string::npos) << l_sFile;
  }
  EXPECT_EQ(Lines("we're reloading over a dirty profile...").size(), 0u);
}

TEST_F(Profile, NamesAreNormalisedAndComparedWithoutCase) {
  const std::string l_s = Path("Mixed.ini");
  std::string l_sOther = Dir() + "//MIXED.INI";
  for (char& l_c : l_sOther)
    if (l_c == '\\') l_c = '/';
  ASSERT_EQ(OsCfgProfileWrite(l_s.c_str(), "S", "k", "v"), OS_STS_SUCCESS);
  EXPECT_EQ(Read(l_sOther, "S", "k"), "v");  // the same slot: the change is not on disk yet
  EXPECT_EQ(OsCfgProfileFlush(l_sOther.c_str()), OS_STS_SUCCESS);
  EXPECT_EQ(Get(l_s), "[S]\r\nk=v\r\n");
  EXPECT_EQ(Read(std::string(300, 'x'), "S", "k"), "");  // a name that does not fit
}

// ---- changes and their write-back ----

TEST_F(Profile, ANewKeyGoesAfterTheLastKeyLineOfTheFirstSection) {
  const std::string l_s = Path("two.ini");
  Put(l_s, "[A]\r\na=1\r\n; about A\r\n[B]\r\nb=2\r\n");
  ASSERT_EQ(OsCfgProfileWrite(l_s.c_str(), "A", "c", "3"), OS_STS_SUCCESS);
  EXPECT_EQ(Read(l_s, "A", "@1"), "3");  // directly after a=1, before the comment
  ASSERT_EQ(OsCfgProfileFlush(l_s.c_str()), OS_STS_SUCCESS);
  EXPECT_EQ(Get(l_s), "[A]\r\na=1\r\nc=3\r\n\r\n; about A\r\n[B]\r\nb=2\r\n");

  const std::string l_sPlain = Path("plain.ini");
  Put(l_sPlain, "[A]\na=1\n[B]\nb=2\n");
  ASSERT_EQ(OsCfgProfileWrite(l_sPlain.c_str(), "a", "c", "3"), OS_STS_SUCCESS);
  ASSERT_EQ(OsCfgProfileFlush(l_sPlain.c_str()), OS_STS_SUCCESS);
  EXPECT_EQ(Get(l_sPlain), "[A]\r\na=1\r\nc=3\r\n\r\n[B]\r\nb=2\r\n");
  // Read back: the blank lines are gone again.
  EXPECT_EQ(Read(l_sPlain, "B", "@0"), "2");
}

TEST_F(Profile, HeadersWithoutKeysBetweenThemAreSetApart) {
  const std::string l_s = Path("heads.ini");
  Put(l_s, "[A]\n; c\n[B]\n[C]\n");
  ASSERT_EQ(OsCfgProfileWrite(l_s.c_str(), "C", "k", "1"), OS_STS_SUCCESS);
  ASSERT_EQ(OsCfgProfileFlush(l_s.c_str()), OS_STS_SUCCESS);
  EXPECT_EQ(Get(l_s), "[A]\r\n; c\r\n\r\n[B]\r\n\r\n[C]\r\nk=1\r\n");
}

TEST_F(Profile, InsertionPointsAndNewSections) {
  const std::string l_s = Path("ins.ini");
  // [A] has no key line; [B] is last and ends in a comment.
  Put(l_s, "[A]\n; only a comment\n[B]\nb=1\n; tail\n");
  ASSERT_EQ(OsCfgProfileWrite(l_s.c_str(), "A", "x", "1"), OS_STS_SUCCESS);  // after the header
  ASSERT_EQ(OsCfgProfileWrite(l_s.c_str(), "B", "y", "2"), OS_STS_SUCCESS);  // at the end of the image
  ASSERT_EQ(OsCfgProfileWrite(l_s.c_str(), "C", "z", "3"), OS_STS_SUCCESS);  // a new section
  ASSERT_EQ(OsCfgProfileWrite(l_s.c_str(), "C", "w", ""), OS_STS_SUCCESS);   // an empty value
  ASSERT_EQ(OsCfgProfileFlush(l_s.c_str()), OS_STS_SUCCESS);
  EXPECT_EQ(Get(l_s),
            "[A]\r\nx=1\r\n\r\n; only a comment\r\n[B]\r\nb=1\r\n\r\n; tail\r\ny=2\r\n\r\n[C]\r\nz=3\r\nw=\r\n");
  EOSSTS l_eossts = OS_STS_FAIL;
  EXPECT_EQ(Read(l_s, "C", "w", &l_eossts), "");
  EXPECT_EQ(l_eossts, OS_STS_SUCCESS);  // present and empty
}

TEST_F(Profile, ReplaceInPlaceKeepsTheKeyAndMovesTheRest) {
  const std::string l_s = Path("rep.ini");
  Put(l_s, "[S]\nKey=old\nnext=1\n[T]\nKey=other\n");
  ASSERT_EQ(OsCfgProfileWrite(l_s.c_str(), "s", "KEY", "a much longer value"), OS_STS_SUCCESS);
  EXPECT_EQ(Read(l_s, "S", "key"), "a much longer value");
  ASSERT_EQ(OsCfgProfileWrite(l_s.c_str(), "S", "key", "x"), OS_STS_SUCCESS);
  ASSERT_EQ(OsCfgProfileFlush(l_s.c_str()), OS_STS_SUCCESS);
  EXPECT_EQ(Get(l_s), "[S]\r\nKey=x\r\nnext=1\r\n\r\n[T]\r\nKey=other\r\n");
}

TEST_F(Profile, DeleteAndItsQuietMisses) {
  const std::string l_s = Path("del.ini");
  const std::string l_sBytes = "[S]\r\na=1\r\nb=2\r\n";
  Put(l_s, l_sBytes);
  // Missing section or key: 0, nothing changes, so a flush writes nothing.
  EXPECT_EQ(OsCfgProfileDelete(l_s.c_str(), "T", "a"), OS_STS_SUCCESS);
  EXPECT_EQ(OsCfgProfileDelete(l_s.c_str(), "S", "c"), OS_STS_SUCCESS);
  EXPECT_EQ(OsCfgProfileFlush(l_s.c_str()), OS_STS_SUCCESS);
  EXPECT_EQ(Lines("profile successfully written...").size(), 0u);
  EXPECT_EQ(Get(l_s), l_sBytes);
  EXPECT_EQ(OsCfgProfileDelete(l_s.c_str(), "S", ""), OS_STS_FAIL);
  EXPECT_EQ(Lines("bad key...<" + l_s + ">").size(), 1u);
  ASSERT_EQ(OsCfgProfileDelete(l_s.c_str(), "s", "A"), OS_STS_SUCCESS);
  EXPECT_EQ(Read(l_s, "S", "a"), "");
  ASSERT_EQ(OsCfgProfileFlush(l_s.c_str()), OS_STS_SUCCESS);
  EXPECT_EQ(Get(l_s), "[S]\r\nb=2\r\n");
}

TEST_F(Profile, WriteArgumentRules) {
  const std::string l_s = Path("bad.ini");
  Put(l_s, "[S]\na=1\n");
  EXPECT_EQ(OsCfgProfileWrite(l_s.c_str(), "S", "", "v"), OS_STS_FAIL);
  const auto l_bad = Lines("bad key...<" + l_s + ">");
  ASSERT_EQ(l_bad.size(), 1u);
  EXPECT_EQ(l_bad[0].m_cMark, 'E');
  EXPECT_EQ(l_bad[0].m_sModule, "os_coscfg_profile");
  EXPECT_EQ(OsCfgProfileWrite(l_s.c_str(), "S", "k", nullptr), OS_STS_FAIL);
  EXPECT_EQ(OsCfgProfileWrite(nullptr, "S", "k", "v"), OS_STS_FAIL);
  char l_sz[8];
  EXPECT_EQ(OsCfgProfileRead(l_s.c_str(), nullptr, "k", l_sz, sizeof(l_sz)), OS_STS_FAIL);
  // A value longer than the output is not cut.
  EXPECT_EQ(OsCfgProfileWrite(l_s.c_str(), "S", "long", "0123456789"), OS_STS_SUCCESS);
  std::strcpy(l_sz, "x");
  EXPECT_EQ(OsCfgProfileRead(l_s.c_str(), "S", "long", l_sz, sizeof(l_sz)), OS_STS_FAIL);
  EXPECT_STREQ(l_sz, "");
  // Flushing a file that is not cached.
  EXPECT_EQ(OsCfgProfileFlush(Path("never.ini").c_str()), OS_STS_FAIL);
  const auto l_full = Lines("s_aoscfgprofile is full...sorry...<" + Path("never.ini") + ">");
  ASSERT_EQ(l_full.size(), 1u);
  EXPECT_EQ(l_full[0].m_cMark, 'E');
}

// ---- the cache: slots and reloads ----

TEST_F(Profile, ANinthProfileWritesBackAndDropsAllEight) {
  std::vector<std::string> l_asPath;
  for (int l_i = 0; l_i < 9; ++l_i) {
    l_asPath.push_back(Path("p" + std::to_string(l_i) + ".ini"));
    PutAt(l_asPath.back(), "[S]\r\nk=old\r\n", 100);
  }
  for (int l_i = 0; l_i < 8; ++l_i) ASSERT_EQ(Read(l_asPath[l_i], "S", "k"), "old");
  for (int l_i = 0; l_i < 8; l_i += 2)
    ASSERT_EQ(OsCfgProfileWrite(l_asPath[l_i].c_str(), "S", "k", "new"), OS_STS_SUCCESS);
  // p1 changes on disk under the same write time: while cached, the image wins.
  PutAt(l_asPath[1], "[S]\r\nk=disk\r\n", 100);
  EXPECT_EQ(Read(l_asPath[1], "S", "k"), "old");
  for (int l_i = 0; l_i < 8; ++l_i) EXPECT_EQ(Get(l_asPath[l_i]).find("new"), std::string::npos) << l_i;

  EXPECT_EQ(Read(l_asPath[8], "S", "k"), "old");  // the ninth
  for (int l_i = 0; l_i < 8; l_i += 2) EXPECT_EQ(Get(l_asPath[l_i]), "[S]\r\nk=new\r\n") << l_i;
  EXPECT_EQ(Lines("profile successfully written...").size(), 4u);  // only the dirty ones
  EXPECT_EQ(Get(l_asPath[1]), "[S]\r\nk=disk\r\n");
  // All eight were dropped: p1 is read from the file again.
  EXPECT_EQ(Read(l_asPath[1], "S", "k"), "disk");
}

TEST_F(Profile, AFileChangedOnDiskIsReloaded) {
  const std::string l_s = Path("chg.ini");
  PutAt(l_s, "[S]\nk=1\n", 10);
  EXPECT_EQ(Read(l_s, "S", "k"), "1");
  PutAt(l_s, "[S]\nk=2\n", 20);
  EXPECT_EQ(Read(l_s, "S", "k"), "2");
  EXPECT_EQ(Lines("we're reloading over a dirty profile...").size(), 0u);

  // A dirty image reloaded over: the changes are lost, and the log says so.
  ASSERT_EQ(OsCfgProfileWrite(l_s.c_str(), "S", "mine", "x"), OS_STS_SUCCESS);
  PutAt(l_s, "[S]\nk=3\n", 30);
  EXPECT_EQ(Read(l_s, "S", "k"), "3");
  EXPECT_EQ(Read(l_s, "S", "mine"), "");
  const auto l_lines = Lines("we're reloading over a dirty profile...");
  ASSERT_EQ(l_lines.size(), 1u);
  EXPECT_EQ(l_lines[0].m_cMark, 'A');
  // No longer dirty: a flush leaves the file alone.
  EXPECT_EQ(OsCfgProfileFlush(l_s.c_str()), OS_STS_SUCCESS);
  EXPECT_EQ(Get(l_s), "[S]\nk=3\n");
}

TEST_F(Profile, AFileThatCannotBeOpenedKeepsItsImage) {
  const std::string l_s = Path("gone.ini");
  PutAt(l_s, "[S]\nk=1\n", 10);
  EXPECT_EQ(Read(l_s, "S", "k"), "1");
  ASSERT_TRUE(DeleteFileW(OsTestWide(l_s).c_str()));
  EXPECT_EQ(Read(l_s, "S", "k"), "1");  // the cached image
}

TEST_F(Profile, AReadOnlyOpenCanChangeTheCacheButNotTheFile) {
  const std::string l_s = Path("ro.ini");
  Put(l_s, "[S]\r\nk=1\r\n");
  // Another handle that refuses writers: only the read-only open succeeds.
  HANDLE const l_h = CreateFileW(OsTestWide(l_s).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(l_h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Read(l_s, "S", "k"), "1");
  EXPECT_EQ(Lines("profile opened readonly...<" + l_s + ">").size(), 1u);
  ASSERT_EQ(OsCfgProfileWrite(l_s.c_str(), "S", "k", "2"), OS_STS_SUCCESS);
  EXPECT_EQ(Read(l_s, "S", "k"), "2");
  EXPECT_EQ(OsCfgProfileFlush(l_s.c_str()), OS_STS_FAIL);
  const auto l_lines = Lines("Could not truncate the file, it might be readonly...<" + l_s + ">");
  ASSERT_EQ(l_lines.size(), 1u);
  EXPECT_EQ(l_lines[0].m_cMark, '.');  // information
  CloseHandle(l_h);
  EXPECT_EQ(Get(l_s), "[S]\r\nk=1\r\n");
  // Still dirty: once the file can be written, the change goes out.
  EXPECT_EQ(OsCfgProfileFlush(l_s.c_str()), OS_STS_SUCCESS);
  EXPECT_EQ(Get(l_s), "[S]\r\nk=2\r\n");
}

TEST_F(Profile, AReadOnlyFileRefusesTheWriteBack) {
  const std::string l_s = Path("attr.ini");
  Put(l_s, "[S]\r\nk=1\r\n");
  ASSERT_TRUE(SetFileAttributesW(OsTestWide(l_s).c_str(), FILE_ATTRIBUTE_READONLY));
  HANDLE const l_h = CreateFileW(OsTestWide(l_s).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (l_h != INVALID_HANDLE_VALUE) {
    CloseHandle(l_h);
    SetFileAttributesW(OsTestWide(l_s).c_str(), FILE_ATTRIBUTE_NORMAL);
    GTEST_SKIP() << "Wine as root: a read-only file opens for writing";
  }
  EXPECT_EQ(Read(l_s, "S", "k"), "1");
  EXPECT_EQ(Lines("profile opened readonly...<" + l_s + ">").size(), 1u);
  ASSERT_EQ(OsCfgProfileWrite(l_s.c_str(), "S", "k", "2"), OS_STS_SUCCESS);
  EXPECT_EQ(OsCfgProfileFlush(l_s.c_str()), OS_STS_FAIL);
  EXPECT_EQ(Lines("Could not truncate the file, it might be readonly...<" + l_s + ">").size(), 1u);
  SetFileAttributesW(OsTestWide(l_s).c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(Get(l_s), "[S]\r\nk=1\r\n");
}

// ---- capacity and hostile bytes ----

TEST_F(Profile, AChangeBeyondTheCapacityIsRefused) {
  // The limit is the written file, which a later read must take whole:
  // "[S]\r\n" 5, "k=...\r\n" n + 4; the file is 5 bytes short of full.
  const std::string l_s = Path("big.ini");
  const std::size_t l_sizetValue = s_sizetImage - 9 - 5;
  Put(l_s,
      "[S]\n"
      "k=" +
          std::string(l_sizetValue, 'v') + "\n");
  ASSERT_EQ(Read(l_s, "S", "k").size(), 0u);                                 // longer than the helper's output
  EXPECT_EQ(OsCfgProfileWrite(l_s.c_str(), "S", "a", "b"), OS_STS_SUCCESS);  // "a=b\r\n": exactly full
  EXPECT_EQ(OsCfgProfileWrite(l_s.c_str(), "S", "c", "d"), OS_STS_FAIL);
  EXPECT_EQ(OsCfgProfileWrite(l_s.c_str(), "S", "a", "bb"), OS_STS_FAIL);
  EXPECT_EQ(OsCfgProfileWrite(l_s.c_str(), "T", "x", "y"), OS_STS_FAIL);
  EXPECT_EQ(Lines("profile image is full...<" + l_s + ">").size(), 3u);
  EXPECT_EQ(Read(l_s, "S", "a"), "b");  // unchanged by the refusals
  EXPECT_EQ(Read(l_s, "S", "c"), "");
  ASSERT_EQ(OsCfgProfileFlush(l_s.c_str()), OS_STS_SUCCESS);
  const std::string l_sFull = "[S]\r\nk=" + std::string(l_sizetValue, 'v') + "\r\na=b\r\n";
  EXPECT_EQ(Get(l_s), l_sFull);
  EXPECT_EQ(l_sFull.size(), s_sizetImage);
  EXPECT_EQ(OsCfgProfileWrite(l_s.c_str(), "S", "a", ""), OS_STS_SUCCESS);  // shrinking always fits
  // What was written reads back whole after the cache lets it go.
  OsCfgProfileFreeAll();
  EXPECT_EQ(Read(l_s, "S", "a"), "b");
}

TEST_F(Profile, LinesThatWouldNotReadBackAreRefused) {
  const std::string l_s = Path("bad.ini");
  Put(l_s, "[S]\r\nk=1\r\n");
  for (const char* l_szKey : {"a=b", ";note", "[T]", "two\r\nlines"})
    EXPECT_EQ(OsCfgProfileWrite(l_s.c_str(), "S", l_szKey, "1"), OS_STS_FAIL) << l_szKey;
  EXPECT_EQ(OsCfgProfileWrite(l_s.c_str(), "S", "k", "1\r\n[evil]\r\nx=2"), OS_STS_FAIL);
  EXPECT_EQ(OsCfgProfileWrite(l_s.c_str(), "S\n", "k", "1"), OS_STS_FAIL);
  EXPECT_EQ(Lines("bad key...<" + l_s + ">").size(), 4u);
  EXPECT_EQ(Lines("bad value...<" + l_s + ">").size(), 2u);
  ASSERT_EQ(OsCfgProfileWrite(l_s.c_str(), "S", "k", "2"), OS_STS_SUCCESS);
  ASSERT_EQ(OsCfgProfileFlush(l_s.c_str()), OS_STS_SUCCESS);
  EXPECT_EQ(Get(l_s), "[S]\r\nk=2\r\n");
}

TEST_F(Profile, LongLinesFullFilesAndNulBytes) {
  // A file of exactly the image size whose last line has no LF: nothing lost.
  const std::string l_sFull = Path("full.ini");
  const std::string l_sHead = "[S]\nfirst=1\nlast=";
  Put(l_sFull, l_sHead + std::string(s_sizetImage - l_sHead.size(), 'z'));
  std::vector<char> l_ac(s_sizetImage + 16, 'q');
  ASSERT_EQ(OsCfgProfileRead(l_sFull.c_str(), "S", "last", l_ac.data(), l_ac.size()), OS_STS_SUCCESS);
  EXPECT_EQ(std::strlen(l_ac.data()), s_sizetImage - l_sHead.size());
  EXPECT_EQ(Read(l_sFull, "S", "first"), "1");
  EXPECT_EQ(OsCfgProfileWrite(l_sFull.c_str(), "S", "more", "1"), OS_STS_FAIL);  // already beyond full

  // A longer file: only the first bytes are read, the cut line stays a line.
  const std::string l_sLonger = Path("longer.ini");
  Put(l_sLonger, "[S]\nk=" + std::string(2 * s_sizetImage, 'y') + "\nafter=1\n");
  ASSERT_EQ(OsCfgProfileRead(l_sLonger.c_str(), "S", "k", l_ac.data(), l_ac.size()), OS_STS_SUCCESS);
  EXPECT_EQ(std::strlen(l_ac.data()), s_sizetImage - 6);
  EXPECT_EQ(Read(l_sLonger, "S", "after"), "");

  // NUL bytes are dropped like CR: they neither end the image nor split lines.
  const std::string l_sNul = Path("zeros.ini");
  Put(l_sNul, std::string("[S]\n\0\na=1\0\nb\0=2\n", 16));
  EXPECT_EQ(Read(l_sNul, "S", "a"), "1");
  EXPECT_EQ(Read(l_sNul, "S", "b"), "2");
  EXPECT_EQ(Read(l_sNul, "S", "@1"), "2");
}

// ---- threads ----

TEST_F(Profile, ThreadsWritingDifferentKeysLoseNothing) {
  const std::string l_s = Path("mt.ini");
  Put(l_s, "[S]\r\nseed=0\r\n");
  constexpr int s_iThreads = 8;
  constexpr int s_iKeys = 400;
  std::vector<std::thread> l_threads;
  for (int l_t = 0; l_t < s_iThreads; ++l_t)
    l_threads.emplace_back([&l_s, l_t] {
      for (int l_k = 0; l_k < s_iKeys; ++l_k) {
        const std::string l_sKey = "t" + std::to_string(l_t) + "k" + std::to_string(l_k);
        const std::string l_sSection = l_k % 2 == 0 ? "S" : "T" + std::to_string(l_t);
        OsCfgProfileWrite(l_s.c_str(), l_sSection.c_str(), l_sKey.c_str(), l_sKey.c_str());
        if (l_k % 50 == 0) {  // reads, which look at the file, in between
          char l_sz[32];
          OsCfgProfileRead(l_s.c_str(), "S", "seed", l_sz, sizeof(l_sz));
        }
      }
    });
  for (std::thread& l_thread : l_threads) l_thread.join();
  ASSERT_EQ(OsCfgProfileFlush(l_s.c_str()), OS_STS_SUCCESS);
  OsCfgProfileFreeAll();  // read everything back from the file
  int l_iFound = 0;
  for (int l_t = 0; l_t < s_iThreads; ++l_t)
    for (int l_k = 0; l_k < s_iKeys; ++l_k) {
      const std::string l_sKey = "t" + std::to_string(l_t) + "k" + std::to_string(l_k);
      const std::string l_sSection = l_k % 2 == 0 ? "S" : "T" + std::to_string(l_t);
      l_iFound += Read(l_s, l_sSection.c_str(), l_sKey.c_str()) == l_sKey;
    }
  EXPECT_EQ(l_iFound, s_iThreads * s_iKeys);
}

// ---- the configuration's profile pair ----

class ProfilePair : public Profile {
 protected:
  void SetUp() override {
    Profile::SetUp();
    m_pv = std::calloc(1, sizeof(COsCfgImpl));
    ASSERT_NE(m_pv, nullptr);
    m_oscfg.m_poscfgimpl = static_cast<COsCfgImpl*>(m_pv);
    m_sUser = Path("user.ini");
    m_sShared = Path("shared.ini");
    m_oscfg.SetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_CONSTINI, m_sUser.c_str());
    m_oscfg.SetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_CONSTINISHARED, m_sShared.c_str());
  }
  void TearDown() override {
    m_oscfg.m_poscfgimpl = nullptr;
    std::free(m_pv);
    Profile::TearDown();
  }
  std::string ConfigRead(const char* a_szSection, const char* a_szKey) {
    char l_sz[64];
    m_oscfg.ConfigRead(a_szSection, a_szKey, l_sz, sizeof(l_sz));
    return l_sz;
  }

  COsCfg m_oscfg;
  void* m_pv = nullptr;
  std::string m_sUser;
  std::string m_sShared;
};

TEST_F(ProfilePair, ReadFromTheUserProfileWhenItExistsElseTheShared) {
  PutAt(m_sShared, "[S]\r\nk=shared\r\n", 10);
  EXPECT_EQ(ConfigRead("S", "k"), "shared");
  PutAt(m_sUser, "[S]\r\nk=user\r\n", 10);
  EXPECT_EQ(ConfigRead("S", "k"), "user");
}

TEST_F(ProfilePair, AWriteCopiesTheSharedProfileFirst) {
  PutAt(m_sShared, "[S]\r\nk=shared\r\n", 10);
  // The user profile was looked at (and cached empty) while it was missing.
  char l_sz[16];
  EXPECT_EQ(m_oscfg.ProfileRead(m_sUser.c_str(), "S", "k", l_sz, sizeof(l_sz)), OS_STS_FAIL);
  ASSERT_EQ(m_oscfg.ConfigWrite("S", "mine", "1"), OS_STS_SUCCESS);
  EXPECT_EQ(Get(m_sUser), "[S]\r\nk=shared\r\n");  // the copy; the change is still in the cache
  ASSERT_EQ(m_oscfg.ConfigFlush(), OS_STS_SUCCESS);
  EXPECT_EQ(Get(m_sUser), "[S]\r\nk=shared\r\nmine=1\r\n");
  EXPECT_EQ(Get(m_sShared), "[S]\r\nk=shared\r\n");
  EXPECT_EQ(ConfigRead("S", "mine"), "1");
}

TEST_F(ProfilePair, FlushRules) {
  // Neither file: nothing to flush.
  EXPECT_EQ(m_oscfg.ConfigFlush(), OS_STS_SUCCESS);
  EXPECT_FALSE(Exists(m_sUser));
  // A write with neither file goes to the user profile, and the flush makes it.
  ASSERT_EQ(m_oscfg.ConfigWrite("S", "k", "v"), OS_STS_SUCCESS);
  EXPECT_FALSE(Exists(m_sShared));
  ASSERT_EQ(m_oscfg.ConfigFlush(), OS_STS_SUCCESS);
  EXPECT_EQ(Get(m_sUser), "[S]\r\nk=v\r\n");
  // One name for both: that profile.
  m_oscfg.SetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_CONSTINISHARED, m_sUser.c_str());
  ASSERT_EQ(m_oscfg.ConfigWrite("S", "k", "w"), OS_STS_SUCCESS);
  ASSERT_EQ(m_oscfg.ConfigFlush(), OS_STS_SUCCESS);
  EXPECT_EQ(Get(m_sUser), "[S]\r\nk=w\r\n");
}

TEST_F(ProfilePair, WithoutAnImplementation) {
  COsCfg l_oscfg;
  char l_sz[8] = "x";
  EXPECT_EQ(l_oscfg.ProfileRead(m_sUser.c_str(), "S", "k", l_sz, sizeof(l_sz)), OS_STS_FAIL);
  EXPECT_STREQ(l_sz, "");
  EXPECT_EQ(l_oscfg.ProfileWrite(m_sUser.c_str(), "S", "k", "v"), OS_STS_FAIL);
  EXPECT_EQ(l_oscfg.ProfileDelete(m_sUser.c_str(), "S", "k"), OS_STS_FAIL);
  EXPECT_EQ(l_oscfg.ProfileFlush(m_sUser.c_str()), OS_STS_FAIL);
  EXPECT_EQ(l_oscfg.ConfigRead("S", "k", l_sz, sizeof(l_sz)), OS_STS_FAIL);
  EXPECT_EQ(l_oscfg.ConfigWrite("S", "k", "v"), OS_STS_FAIL);
  EXPECT_EQ(l_oscfg.ConfigFlush(), OS_STS_FAIL);
  const auto l_lines = Lines("m_poscfgimpl is null...");
  ASSERT_EQ(l_lines.size(), 7u);
  for (const OsTestLogLine& l_line : l_lines) EXPECT_EQ(l_line.m_cMark, 'A');
  EXPECT_FALSE(Exists(m_sUser));
}

// ---- the shared configuration file ----

TEST_F(ProfilePair, SharedFileSetsItemsOfKnownSections) {
  COsCfgImpl* const l_poscfgimpl = m_oscfg.m_poscfgimpl;
  const std::string l_s = Path("cfg.ini");
  std::strcpy(l_poscfgimpl->m_szSharedConfigFilename, l_s.c_str());
  EXPECT_EQ(OsCfgLoadSharedFile(l_poscfgimpl), OS_STS_NOTFOUND);
  Put(l_s,
      "; a comment\r\n"
      "[NoSuchSection]\r\nForceNetTimeoutCommand=1\r\n"
      "[dsIdentity]\r\nForceNetRetry=  5\r\n;ForceLanguage=x\r\nforceportdata=\t 7\r\nNoSuchTag=1\r\n"
      "[Simulation]\nsimmodel=M1\n[Brand]\rCompanyName=Acme\n");
  ASSERT_EQ(OsCfgLoadSharedFile(l_poscfgimpl), OS_STS_SUCCESS);
  EXPECT_STREQ(m_oscfg.GetItem(1, 113), "5");
  EXPECT_STREQ(m_oscfg.GetItem(1, 114), "");  // under an unknown header
  EXPECT_STREQ(m_oscfg.GetItem(1, 102), "");  // a comment
  EXPECT_STREQ(m_oscfg.GetItem(1, 123), "7");
  EXPECT_STREQ(m_oscfg.GetItem(3, 40), "M1");
  EXPECT_STREQ(m_oscfg.GetItem(2, 169), "Acme");
  // The items point into the file-data buffer.
  const char* const l_pc = m_oscfg.GetItem(1, 113);
  EXPECT_GE(l_pc, l_poscfgimpl->m_szFileData);
  EXPECT_LT(l_pc, l_poscfgimpl->m_szFileData + OS_CFG_FILEDATA_SIZE);
}

TEST_F(ProfilePair, SharedFileSetsLocalItems) {
  static const OsCfgName s_aSections[] = {{"none", 1000}, {"mine", 1001}, {nullptr, 0}};
  static const OsCfgName s_aTags[] = {{"alpha", 1001}, {"beta", 1002}, {nullptr, 0}};
  const char* l_aszData[3 * 3] = {};
  COsCfgImpl* const l_poscfgimpl = m_oscfg.m_poscfgimpl;
  l_poscfgimpl->m_posLocalSections = s_aSections;
  l_poscfgimpl->m_posLocalTags = s_aTags;
  l_poscfgimpl->m_paszLocalData = l_aszData;
  l_poscfgimpl->m_iLocalSections = 3;
  l_poscfgimpl->m_iLocalTags = 3;
  const std::string l_s = Path("local.ini");
  std::strcpy(l_poscfgimpl->m_szSharedConfigFilename, l_s.c_str());
  Put(l_s, "[MINE]\nBeta=hello\nForceNetRetry=9\n[none]\nalpha=no\n[dsIdentity]\nalpha=no\n");
  ASSERT_EQ(OsCfgLoadSharedFile(l_poscfgimpl), OS_STS_SUCCESS);
  EXPECT_STREQ(m_oscfg.GetItem(1001, 1002), "hello");
  EXPECT_EQ(l_aszData[1 * 3 + 2], m_oscfg.GetItem(1001, 1002));
  EXPECT_STREQ(m_oscfg.GetItem(1001, 1001), "");  // [none] is no section
  EXPECT_STREQ(m_oscfg.GetItem(1, 113), "");      // a global tag in a local section
  int l_iSet = 0;
  for (const char* l_sz : l_aszData) l_iSet += l_sz != nullptr;
  EXPECT_EQ(l_iSet, 1);  // nothing else was set
  l_poscfgimpl->m_paszLocalData = nullptr;
}

// A header both tables know names a section of each kind: the tag lookup does
// not depend on it, and each kind of tag sets its own kind of item.
TEST_F(ProfilePair, SharedFileHeaderKnownToBothTablesSetsBothKinds) {
  static const OsCfgName s_aSections[] = {{"none", 1000}, {"DSIDENTITY", 1001}, {nullptr, 0}};
  static const OsCfgName s_aTags[] = {{"alpha", 1001}, {"forcenetretry", 1002}, {nullptr, 0}};
  const char* l_aszData[3 * 3] = {};
  COsCfgImpl* const l_poscfgimpl = m_oscfg.m_poscfgimpl;
  l_poscfgimpl->m_posLocalSections = s_aSections;
  l_poscfgimpl->m_posLocalTags = s_aTags;
  l_poscfgimpl->m_paszLocalData = l_aszData;
  l_poscfgimpl->m_iLocalSections = 3;
  l_poscfgimpl->m_iLocalTags = 3;
  const std::string l_s = Path("both.ini");
  std::strcpy(l_poscfgimpl->m_szSharedConfigFilename, l_s.c_str());
  Put(l_s, "[dsIdentity]\nalpha=a\nForceNetRetry=7\n");
  ASSERT_EQ(OsCfgLoadSharedFile(l_poscfgimpl), OS_STS_SUCCESS);
  EXPECT_STREQ(m_oscfg.GetItem(1, 113), "7");
  EXPECT_STREQ(m_oscfg.GetItem(1001, 1001), "a");
  EXPECT_STREQ(m_oscfg.GetItem(1001, 1002), "7");
  l_poscfgimpl->m_paszLocalData = nullptr;
}

TEST_F(ProfilePair, ASharedFileThatFillsTheBufferIsTerminatedInside) {
  COsCfgImpl* const l_poscfgimpl = m_oscfg.m_poscfgimpl;
  const std::string l_s = Path("huge.ini");
  std::strcpy(l_poscfgimpl->m_szSharedConfigFilename, l_s.c_str());
  const std::string l_sHead = "[dsIdentity]\nForceNetRetry=1\nForceLanguage=";
  for (std::size_t l_sizet : {OS_CFG_FILEDATA_SIZE, OS_CFG_FILEDATA_SIZE + 1000}) {
    Put(l_s, l_sHead + std::string(l_sizet - l_sHead.size(), 'L'));
    ASSERT_EQ(OsCfgLoadSharedFile(l_poscfgimpl), OS_STS_SUCCESS);
    EXPECT_STREQ(m_oscfg.GetItem(1, 113), "1");
    EXPECT_EQ(std::strlen(m_oscfg.GetItem(1, 102)), OS_CFG_FILEDATA_SIZE - 1 - l_sHead.size()) << l_sizet;
    EXPECT_EQ(l_poscfgimpl->m_szFileData[OS_CFG_FILEDATA_SIZE - 1], 0);
  }
}

// Every allocation of a profile write and its write-back may fail: the
// failure is said and reported, nothing crashes, no block stays behind.
TEST_F(Profile, EveryAllocationOfAWriteMayFail) {
  const std::uint32_t l_u32Live = OsMemInstance()->m_posmemimpl->m_u32CC;
  long l_lAt = 0;
  for (;; ++l_lAt) {
    ASSERT_LT(l_lAt, 100);
    const std::string l_s = Path("inject" + std::to_string(l_lAt) + ".ini");
    Put(l_s, "[S]\r\nold=1\r\n");
    OsMemFailAfter(l_lAt);
    const EOSSTS l_eossts = OsCfgProfileWrite(l_s.c_str(), "S", "new", "2") != OS_STS_SUCCESS
                                ? OS_STS_FAIL
                                : OsCfgProfileFlush(l_s.c_str());
    const bool l_bFailed = !OsMemFailurePending();
    OsMemFailAfter(-1);
    EXPECT_EQ(OsMemInstance()->m_posmemimpl->m_u32CC, l_u32Live) << "failure at allocation " << l_lAt;
    if (!l_bFailed) {
      EXPECT_EQ(l_eossts, OS_STS_SUCCESS);
      EXPECT_EQ(Get(l_s), "[S]\r\nold=1\r\nnew=2\r\n");
      break;
    }
    // The file keeps what it had, or has the change: never anything else.
    const std::string l_sText = Get(l_s);
    EXPECT_TRUE(l_sText == "[S]\r\nold=1\r\n" || l_sText == "[S]\r\nold=1\r\nnew=2\r\n") << l_sText;
    if (l_eossts == OS_STS_SUCCESS) {
      EXPECT_EQ(l_sText, "[S]\r\nold=1\r\nnew=2\r\n") << "failure at allocation " << l_lAt;
    }
  }
  EXPECT_GT(l_lAt, 0);
  EXPECT_FALSE(Lines("OsMemNew failed").empty());
}

}  // namespace
