// The file object: open modes and their statuses, re-opening, formatted
// writes, 64-bit sizes and positions, region locks against another handle,
// names, times, console colours.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "os_cosfile.h"
#include "os_cosmem.h"
#include "os_test.h"
#include "os_test_log.h"
#include "os_test_mem.h"

namespace {

class File : public OsTestWithMem {
 protected:
  std::string Path(const std::string& a_s) const { return Dir() + "\\" + a_s; }
  bool Exists(const std::string& a_s) { return GetFileAttributesW(OsTestWide(a_s).c_str()) != INVALID_FILE_ATTRIBUTES; }
};

TEST_F(File, OpenModesAndStatuses) {
  {
    COsFile l_file;
    ASSERT_EQ(
        l_file.Open(Path("tmp").c_str(), OS_FILE_OPEN_TEMPORARY, OS_FILE_ACCESS_READWRITE, OS_FILE_SHARE_READWRITE),
        OS_STS_SUCCESS);
    EXPECT_TRUE(Exists(Path("tmp")));
    EXPECT_EQ(l_file.Close(), OS_STS_SUCCESS);
    EXPECT_FALSE(Exists(Path("tmp")));  // deleted when closed
    // The new-only form never opens over a name that is there already.
    ASSERT_TRUE(OsTestWriteFile(OsTestWide(Path("taken")), "kept"));
    EXPECT_NE(
        l_file.Open(Path("taken").c_str(), OS_FILE_OPEN_TEMPORARY_NEW, OS_FILE_ACCESS_READWRITE, OS_FILE_SHARE_NONE),
        OS_STS_SUCCESS);
    EXPECT_EQ(OsTestReadFile(OsTestWide(Path("taken"))), "kept");
    ASSERT_EQ(
        l_file.Open(Path("new").c_str(), OS_FILE_OPEN_TEMPORARY_NEW, OS_FILE_ACCESS_READWRITE, OS_FILE_SHARE_NONE),
        OS_STS_SUCCESS);
    l_file.Close();
    EXPECT_FALSE(Exists(Path("new")));
  }
  COsFile l_file;
  EXPECT_EQ(l_file.Open(Path("missing").c_str(), OS_FILE_OPEN_EXISTING, OS_FILE_ACCESS_READ, OS_FILE_SHARE_READ),
            OS_STS_NOTFOUND);
  EXPECT_EQ(GetLastError(), 0u);
  char l_sz[OS_PATH_SIZE];
  EXPECT_EQ(l_file.GetName(l_sz, sizeof(l_sz)), OS_STS_FAIL);  // "file must be open to get the name..."
  EXPECT_EQ(l_file.Open(Path("no\\dir\\f").c_str(), OS_FILE_OPEN_CREATE, OS_FILE_ACCESS_WRITE, OS_FILE_SHARE_NONE),
            OS_STS_NOTFOUND);
  EXPECT_EQ(l_file.Open(Path("f").c_str(), static_cast<EOSFILEOPEN>(7), OS_FILE_ACCESS_READ, OS_FILE_SHARE_READ),
            OS_STS_BADARG);
  EXPECT_EQ(l_file.Open(Path("f").c_str(), OS_FILE_OPEN_CREATE, static_cast<EOSFILEACCESS>(0), OS_FILE_SHARE_READ),
            OS_STS_BADARG);
  EXPECT_EQ(l_file.Open(nullptr, OS_FILE_OPEN_CREATE, OS_FILE_ACCESS_READ, OS_FILE_SHARE_READ), OS_STS_BADARG);

  ASSERT_EQ(l_file.Open(Path("f").c_str(), OS_FILE_OPEN_CREATE, OS_FILE_ACCESS_WRITE, OS_FILE_SHARE_NONE),
            OS_STS_SUCCESS);
  ASSERT_EQ(l_file.GetName(l_sz, sizeof(l_sz)), OS_STS_SUCCESS);
  EXPECT_EQ(std::string(l_sz), Path("f"));
  COsFile l_other;
  EXPECT_EQ(l_other.Open(Path("f").c_str(), OS_FILE_OPEN_EXISTING, OS_FILE_ACCESS_READ, OS_FILE_SHARE_READWRITE),
            OS_STS_SHARING);
  // A directory opens with backup semantics only.
  EXPECT_EQ(l_other.Open(Dir().c_str(), OS_FILE_OPEN_EXISTING, OS_FILE_ACCESS_READ, OS_FILE_SHARE_READWRITE),
            OS_STS_ACCESSDENIED);
  EXPECT_EQ(l_other.Open(Dir().c_str(), OS_FILE_OPEN_BACKUP, OS_FILE_ACCESS_NONE, OS_FILE_SHARE_READWRITE),
            OS_STS_SUCCESS);
}

TEST_F(File, ReopeningClosesTheEarlierFile) {
  COsFile l_file;
  DWORD l_dwBefore = 0;
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &l_dwBefore));
  ASSERT_EQ(l_file.Open(Path("a").c_str(), OS_FILE_OPEN_CREATE, OS_FILE_ACCESS_WRITE, OS_FILE_SHARE_NONE),
            OS_STS_SUCCESS);
  ASSERT_EQ(l_file.Open(Path("b").c_str(), OS_FILE_OPEN_CREATE, OS_FILE_ACCESS_WRITE, OS_FILE_SHARE_NONE),
            OS_STS_SUCCESS);
  HANDLE const l_h = CreateFileW(OsTestWide(Path("a")).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(l_h, INVALID_HANDLE_VALUE) << "the first file is still held";
  CloseHandle(l_h);
  l_file.Close();
  DWORD l_dwAfter = 0;
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &l_dwAfter));
  EXPECT_EQ(l_dwAfter, l_dwBefore);
}

TEST_F(File, ReadWriteSizesAndPositions) {
  COsFile l_file;
  ASSERT_EQ(l_file.Open(Path("d").c_str(), OS_FILE_OPEN_ALWAYS, OS_FILE_ACCESS_READWRITE, OS_FILE_SHARE_READ),
            OS_STS_SUCCESS);
  std::uint32_t l_u32 = 0;
  ASSERT_EQ(l_file.Write("hello", 5, &l_u32), OS_STS_SUCCESS);
  EXPECT_EQ(l_u32, 5u);
  ASSERT_EQ(l_file.SetFilePointer32(OS_FILE_POINTER_BEGIN, 1), OS_STS_SUCCESS);
  char l_ac[8] = {};
  ASSERT_EQ(l_file.Read(l_ac, 8, &l_u32), OS_STS_SUCCESS);  // short read at the end: success
  EXPECT_EQ(l_u32, 4u);
  EXPECT_STREQ(l_ac, "ello");
  EXPECT_EQ(l_file.SetFilePointer64(static_cast<EOSFILEPOINTER>(0), 0), OS_STS_BADARG);
  EXPECT_EQ(l_file.SetFilePointer64(static_cast<EOSFILEPOINTER>(4), 0), OS_STS_BADARG);

  // Beyond 4 GiB (sparse on any file system that can).
  ASSERT_EQ(l_file.SetFilePointer64(OS_FILE_POINTER_BEGIN, 5LL << 30), OS_STS_SUCCESS);
  ASSERT_EQ(l_file.Write("!", 1, nullptr), OS_STS_SUCCESS);
  std::uint64_t l_u64 = 0;
  ASSERT_EQ(l_file.Size64(&l_u64), OS_STS_SUCCESS);
  EXPECT_EQ(l_u64, (5ULL << 30) + 1);
  ASSERT_EQ(l_file.Size(&l_u32), OS_STS_SUCCESS);
  EXPECT_EQ(l_u32, (1u << 30) + 1);
  ASSERT_EQ(l_file.GetFilePointer64(&l_u64), OS_STS_SUCCESS);
  EXPECT_EQ(l_u64, (5ULL << 30) + 1);
  ASSERT_EQ(l_file.SetFilePointer64(OS_FILE_POINTER_END, -1), OS_STS_SUCCESS);
  ASSERT_EQ(l_file.SetFilePointer32(OS_FILE_POINTER_CURRENT, -2), OS_STS_SUCCESS);
  ASSERT_EQ(l_file.GetFilePointer64(&l_u64), OS_STS_SUCCESS);
  EXPECT_EQ(l_u64, (5ULL << 30) - 2);
  ASSERT_EQ(l_file.SetFilePointer32(OS_FILE_POINTER_BEGIN, 3), OS_STS_SUCCESS);
  ASSERT_EQ(l_file.SetEndOfFile(), OS_STS_SUCCESS);
  ASSERT_EQ(l_file.Size64(&l_u64), OS_STS_SUCCESS);
  EXPECT_EQ(l_u64, 3u);
  EXPECT_EQ(l_file.Flush(), OS_STS_SUCCESS);
  EXPECT_EQ(l_file.Size64(nullptr), OS_STS_FAIL);
  l_file.Close();
  EXPECT_EQ(l_file.Read(l_ac, 1, nullptr), OS_STS_BADARG);  // "Need to open a file first..."
  EXPECT_EQ(l_file.Size64(&l_u64), OS_STS_BADARG);
  EXPECT_EQ(l_file.GetFilePointer64(&l_u64), OS_STS_FAIL);
}

TEST_F(File, FormattedWrites) {
  COsFile l_file;
  ASSERT_EQ(l_file.Open(Path("p").c_str(), OS_FILE_OPEN_CREATE, OS_FILE_ACCESS_READWRITE, OS_FILE_SHARE_READ),
            OS_STS_SUCCESS);
  EXPECT_EQ(l_file.Printf("%s=%d\r\n", "n", 42), 6);
  EXPECT_EQ(l_file.SetPrintfBufferSize(8), 65536);
  EXPECT_EQ(l_file.Printf("%s", "0123456789"), -1);  // does not fit: nothing written
  EXPECT_EQ(l_file.Printf("%s", ""), -1);            // an empty expansion too
  EXPECT_EQ(l_file.Printf("%d", 1234567), 7);
  std::uint64_t l_u64 = 0;
  l_file.Size64(&l_u64);
  EXPECT_EQ(l_u64, 13u);
  EXPECT_EQ(l_file.SetPrintfBufferSize(100), 8);
}

TEST_F(File, RegionLocks) {
  COsFile l_file;
  ASSERT_EQ(l_file.Open(Path("l").c_str(), OS_FILE_OPEN_CREATE, OS_FILE_ACCESS_READWRITE, OS_FILE_SHARE_READWRITE),
            OS_STS_SUCCESS);
  EXPECT_EQ(l_file.Lock(0, 10, 0, "r"), OS_STS_SUCCESS);
  EXPECT_EQ(l_file.Lock(0, 10, 0, "r"), OS_STS_SUCCESS);  // held already: one slot
  for (std::uint32_t l_u = 1; l_u < 64; ++l_u) ASSERT_EQ(l_file.Lock(100 * l_u, 10, 0, nullptr), OS_STS_SUCCESS) << l_u;
  EXPECT_EQ(l_file.Lock(99999, 1, 0, nullptr), OS_STS_FAIL);  // "lock slots are all full..."
  EXPECT_EQ(l_file.Lock(0, 0, 0, nullptr), OS_STS_FAIL);

  COsFile l_other;
  ASSERT_EQ(l_other.Open(Path("l").c_str(), OS_FILE_OPEN_EXISTING, OS_FILE_ACCESS_READWRITE, OS_FILE_SHARE_READWRITE),
            OS_STS_SUCCESS);
  const ULONGLONG l_ullStart = GetTickCount64();
  EXPECT_EQ(l_other.Lock(5, 1, 250, "busy"), OS_STS_BUSY);
  const ULONGLONG l_ullElapsed = GetTickCount64() - l_ullStart;
  EXPECT_GE(l_ullElapsed, 180u);  // three attempts, 100 ms apart
  EXPECT_EQ(l_other.TestLock(0, 10), OS_STS_BUSY);
  EXPECT_EQ(l_other.TestLock(20, 10), OS_STS_SUCCESS);
  EXPECT_EQ(l_file.Unlock(0, 10), OS_STS_SUCCESS);
  EXPECT_EQ(l_other.TestLock(0, 10), OS_STS_SUCCESS);
  EXPECT_EQ(l_file.Lock(99999, 1, 0, nullptr), OS_STS_SUCCESS);  // the freed slot is used again
  EXPECT_EQ(l_file.Unlock(12345, 1), OS_STS_SUCCESS);            // not held: nothing happens

  // The system dropped the locks with the handle: after a new open, a lock
  // of the same region locks it again rather than answering from a stale slot.
  l_file.Close();
  EXPECT_EQ(l_other.TestLock(100, 10), OS_STS_SUCCESS);
  ASSERT_EQ(l_file.Open(Path("l").c_str(), OS_FILE_OPEN_EXISTING, OS_FILE_ACCESS_READWRITE, OS_FILE_SHARE_READWRITE),
            OS_STS_SUCCESS);
  EXPECT_EQ(l_file.Lock(100, 10, 0, nullptr), OS_STS_SUCCESS);
  EXPECT_EQ(l_other.TestLock(100, 10), OS_STS_BUSY);
  EXPECT_EQ(l_file.Open("", OS_FILE_OPEN_ALWAYS, OS_FILE_ACCESS_READ, OS_FILE_SHARE_READ), OS_STS_BADARG);
}

TEST_F(File, FileTimes) {
  COsFile l_file;
  ASSERT_EQ(l_file.Open(Path("t").c_str(), OS_FILE_OPEN_CREATE, OS_FILE_ACCESS_READWRITE, OS_FILE_SHARE_READ),
            OS_STS_SUCCESS);
  OsTimeRecord l_accessed = {};
  OsTimeRecord l_modified = {};
  ASSERT_EQ(l_file.GetFileTimes(&l_accessed, nullptr), OS_STS_SUCCESS);
  const OsTimeRecord l_new = {2021, 3, 0, 14, 15, 9, 26, 535};
  ASSERT_EQ(l_file.SetFileTimes(nullptr, &l_new), OS_STS_SUCCESS);
  OsTimeRecord l_accessedAfter = {};
  ASSERT_EQ(l_file.GetFileTimes(&l_accessedAfter, &l_modified), OS_STS_SUCCESS);
  EXPECT_EQ(l_modified.m_u16Year, 2021);
  EXPECT_EQ(l_modified.m_u16Month, 3);
  EXPECT_EQ(l_modified.m_u16Day, 14);
  EXPECT_EQ(l_modified.m_u16Second, 26);
  EXPECT_EQ(l_modified.m_u16Millisecond, 535);
  EXPECT_EQ(l_accessedAfter.m_u16Year, l_accessed.m_u16Year);  // left alone
  FILETIME l_ftCreation;
  l_file.Close();
  HANDLE const l_h =
      CreateFileW(OsTestWide(Path("t")).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_TRUE(GetFileTime(l_h, &l_ftCreation, nullptr, nullptr));
  CloseHandle(l_h);
  SYSTEMTIME l_st;
  FileTimeToSystemTime(&l_ftCreation, &l_st);
  if (OsTestIsWine()) GTEST_SKIP() << "Wine: creation time is not stored";
  EXPECT_EQ(l_st.wYear, 2021) << "the creation time becomes the write time";
}

TEST_F(File, ConsoleColoursBecomeAttributes) {
  // Under the test runner there is no console: the text (without its codes)
  // still reaches standard error.
  const std::string l_sOut = Path("stderr.txt");
  std::fflush(stderr);
  const int l_iSaved = _dup(2);
  const int l_iFile = _wopen(OsTestWide(l_sOut).c_str(), _O_CREAT | _O_TRUNC | _O_WRONLY, 0600);
  ASSERT_GE(l_iFile, 0);
  _dup2(l_iFile, 2);
  COsFile l_file;
  EXPECT_EQ(l_file.ConsolePrint("plain \x1b[31merror\x1b[0m done\x1b[1m!\x1b[9mx"), OS_STS_SUCCESS);
  std::fflush(stderr);
  _dup2(l_iSaved, 2);
  _close(l_iSaved);
  _close(l_iFile);
  std::FILE* const l_pf = _wfopen(OsTestWide(l_sOut).c_str(), L"rb");
  ASSERT_NE(l_pf, nullptr);
  char l_ac[256] = {};
  const std::size_t l_n = std::fread(l_ac, 1, sizeof(l_ac) - 1, l_pf);
  std::fclose(l_pf);
  EXPECT_EQ(std::string(l_ac, l_n), "plain error done![9mx");  // an unknown code is printed as it is
}

}  // namespace
