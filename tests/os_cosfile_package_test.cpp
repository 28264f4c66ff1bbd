// Split streams and packages on files: the record order of a tree, the skip
// and retry rules, locked files, the pieces of a large log, the streams of
// tiny files, appends that fail, and hostile packages that must create
// nothing outside their destination.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "os_cosfile.h"
#include "os_cosfile_package.h"
#include "os_test.h"
#include "os_test_log.h"
#include "os_test_services.h"

namespace {

std::uint32_t Get32(const std::string& a_s, std::size_t a_sizet) {
  std::uint32_t l_u32 = 0;
  for (int l_i = 3; l_i >= 0; --l_i) l_u32 = (l_u32 << 8) | static_cast<unsigned char>(a_s[a_sizet + l_i]);
  return l_u32;
}

std::uint64_t Get64(const std::string& a_s, std::size_t a_sizet) {
  return Get32(a_s, a_sizet) | static_cast<std::uint64_t>(Get32(a_s, a_sizet + 4)) << 32;
}

void Put64(std::string* a_ps, std::size_t a_sizet, std::uint64_t a_u64) {
  for (int l_i = 0; l_i < 8; ++l_i) (*a_ps)[a_sizet + l_i] = static_cast<char>(a_u64 >> (8 * l_i));
}

// A package's records, read by the layout alone: 24-byte header, 304-byte
// records (size, name, type), each followed by size bytes.
struct Record {
  std::size_t m_sizetOffset;
  std::string m_sName;
  std::uint32_t m_u32Type;
  std::uint64_t m_u64Size;
};

std::vector<Record> Records(const std::string& a_sPackage) {
  std::vector<Record> l_records;
  for (std::size_t l_sizet = 24; l_sizet + 304 <= a_sPackage.size();) {
    const Record l_record = {l_sizet, std::string(a_sPackage.c_str() + l_sizet + 8), Get32(a_sPackage, l_sizet + 264),
                             Get64(a_sPackage, l_sizet)};
    l_records.push_back(l_record);
    l_sizet += 304 + static_cast<std::size_t>(l_record.m_u64Size);
  }
  return l_records;
}

// Every entry below a directory with its size, "/"-joined, for comparing
// what a call left behind.
std::set<std::string> Listing(const std::wstring& a_wsDirectory, const std::string& a_sPrefix = "") {
  std::set<std::string> l_set;
  WIN32_FIND_DATAW l_fd;
  const HANDLE l_h = FindFirstFileW((a_wsDirectory + L"\\*").c_str(), &l_fd);
  if (l_h == INVALID_HANDLE_VALUE) return l_set;
  do {
    const std::string l_sName = OsTestUtf8(l_fd.cFileName);
    if (l_sName == "." || l_sName == "..") continue;
    const std::string l_sPath = a_sPrefix + l_sName;
    if (l_fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      l_set.insert(l_sPath + "/");
      for (const std::string& l_s : Listing(a_wsDirectory + L"\\" + l_fd.cFileName, l_sPath + "/")) l_set.insert(l_s);
    } else {
      l_set.insert(l_sPath + " " + std::to_string(l_fd.nFileSizeLow));
    }
  } while (FindNextFileW(l_h, &l_fd));
  FindClose(l_h);
  return l_set;
}

class Package : public OsServicesTest {
 protected:
  void SetUp() override {
    OsServicesTest::SetUp();
    StartLoggingTo(L"package.log");
  }
  std::string Path(const std::string& a_s) const { return Dir() + "\\" + a_s; }
  void Make(const std::string& a_s, const std::string& a_sBytes) {
    const std::wstring l_ws = OsTestWide(Path(a_s));
    for (std::size_t l_sizet = WDir().size() + 1; (l_sizet = l_ws.find(L'\\', l_sizet)) != std::wstring::npos;
         ++l_sizet)
      CreateDirectoryW(l_ws.substr(0, l_sizet).c_str(), nullptr);
    ASSERT_TRUE(OsTestWriteFile(l_ws, a_sBytes)) << a_s;
  }
  void MakeDirectory(const std::string& a_s) { ASSERT_TRUE(CreateDirectoryW(OsTestWide(Path(a_s)).c_str(), nullptr)); }
  std::string Read(const std::string& a_s) { return OsTestReadFile(OsTestWide(Path(a_s))); }
  bool Exists(const std::string& a_s) {
    return GetFileAttributesW(OsTestWide(Path(a_s)).c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  // The write time of an entry, in 100-ns units.
  ULONGLONG WriteTime(const std::string& a_s) {
    WIN32_FILE_ATTRIBUTE_DATA l_data = {};
    GetFileAttributesExW(OsTestWide(Path(a_s)).c_str(), GetFileExInfoStandard, &l_data);
    return static_cast<ULONGLONG>(l_data.ftLastWriteTime.dwHighDateTime) << 32 | l_data.ftLastWriteTime.dwLowDateTime;
  }
  // Sets the write time, or with a_bAccess the access time, in 100-ns units.
  void SetTime(const std::string& a_s, ULONGLONG a_ull, bool a_bAccess = false) {
    const HANDLE l_h =
        CreateFileW(OsTestWide(Path(a_s)).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const FILETIME l_ft = {static_cast<DWORD>(a_ull), static_cast<DWORD>(a_ull >> 32)};
    EXPECT_TRUE(SetFileTime(l_h, nullptr, a_bAccess ? &l_ft : nullptr, a_bAccess ? nullptr : &l_ft)) << a_s;
    CloseHandle(l_h);
  }
  EOSSTS Write(const std::string& a_sPackage, const std::string& a_sSource,
               EOSFILEPACKAGE a_eosfilepackage = OS_FILE_PACKAGE_CREATE, bool a_bImages = false,
               OsFilePackageCallback a_pfn = nullptr) {
    COsFile l_osfile;
    return l_osfile.PackageWrite(Path(a_sPackage).c_str(), Path(a_sSource).c_str(), a_bImages, a_eosfilepackage, true,
                                 OS_COMPRESS_AUTOMATIC, a_pfn);
  }
  EOSSTS Extract(const std::string& a_sDestination, const std::string& a_sPackage, bool a_bKeep = false,
                 bool a_bDump = false) {
    COsFile l_osfile;
    return l_osfile.PackageExtract(Path(a_sDestination).c_str(), Path(a_sPackage).c_str(), a_bKeep, nullptr, a_bDump);
  }
};

// A directory with two files and an empty subdirectory: the directory's
// record, the files each followed by a stream, the subdirectory's two
// records, the directory's closing record; extraction restores contents,
// times and the read-only flag, and the dump lists the records.
TEST_F(Package, RecordOrderAndRoundTrip) {
  Make("logs\\a.txt", std::string(5000, 'a') + "tail");
  Make("logs\\b.bin", "\x01\x02\x03\x02\x01");
  MakeDirectory("logs\\sub");
  ASSERT_TRUE(SetFileAttributesW(OsTestWide(Path("logs\\b.bin")).c_str(), FILE_ATTRIBUTE_READONLY));
  const ULONGLONG l_ullTime = 132000000000000000ull + 12340000;  // 2019-04-17 18:40:01.234 UTC
  for (const char* l_sz : {"logs\\a.txt", "logs\\b.bin", "logs\\sub"}) SetTime(l_sz, l_ullTime);

  ASSERT_EQ(Write("p.pkg", "logs"), OS_STS_SUCCESS);
  const std::string l_sPackage = Read("p.pkg");
  ASSERT_GE(l_sPackage.size(), 24u);
  EXPECT_EQ(l_sPackage.substr(0, 8), "QRXPKG01");
  EXPECT_EQ(Get32(l_sPackage, 8), 24u);
  EXPECT_EQ(Get32(l_sPackage, 12), 304u);
  EXPECT_EQ(Get64(l_sPackage, 16), 5004u + 5u);
  const std::vector<Record> l_records = Records(l_sPackage);
  ASSERT_EQ(l_records.size(), 6u);
  EXPECT_EQ(l_records[0].m_sizetOffset, 24u);
  EXPECT_EQ(l_records.back().m_sizetOffset + 304, l_sPackage.size());
  EXPECT_EQ(l_records.front().m_sName, "logs");
  EXPECT_EQ(l_records.back().m_sName, "logs");
  // The system's order of entries is its own; the shape is fixed: files
  // followed by their streams, the empty subdirectory by its closing record.
  std::vector<std::string> l_middle;
  for (std::size_t l_i = 1; l_i + 1 < l_records.size(); ++l_i) {
    const Record& l_record = l_records[l_i];
    l_middle.push_back(l_record.m_sName);
    EXPECT_EQ(l_record.m_u32Type, l_record.m_sName == "logs\\sub" ? 1u : 2u) << l_record.m_sName;
    if (l_record.m_u32Type == 2) {
      EXPECT_EQ(l_sPackage.substr(l_record.m_sizetOffset + 304, 8), "QRXSPL01");
    }
  }
  const auto l_itSub = std::find(l_middle.begin(), l_middle.end(), "logs\\sub");
  ASSERT_NE(l_itSub, l_middle.end());
  EXPECT_EQ(*std::next(l_itSub), "logs\\sub");
  EXPECT_EQ(std::multiset<std::string>(l_middle.begin(), l_middle.end()),
            (std::multiset<std::string>{"logs\\a.txt", "logs\\b.bin", "logs\\sub", "logs\\sub"}));

  ASSERT_EQ(Extract("out", "p.pkg", false, true), OS_STS_SUCCESS);
  EXPECT_EQ(Read("out\\logs\\a.txt"), Read("logs\\a.txt"));
  EXPECT_EQ(Read("out\\logs\\b.bin"), "\x01\x02\x03\x02\x01");
  EXPECT_NE(GetFileAttributesW(OsTestWide(Path("out\\logs\\b.bin")).c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  for (const char* l_sz : {"out\\logs\\a.txt", "out\\logs\\b.bin", "out\\logs\\sub"})
    EXPECT_EQ(WriteTime(l_sz), l_ullTime) << l_sz;
  SetFileAttributesW(OsTestWide(Path("logs\\b.bin")).c_str(), FILE_ATTRIBUTE_NORMAL);
  SetFileAttributesW(OsTestWide(Path("out\\logs\\b.bin")).c_str(), FILE_ATTRIBUTE_NORMAL);

  const std::string l_sDump = OsTestReadFile(OsTestWide(Item(1, 12)) + L"\\ospackagedump.txt");
  EXPECT_EQ(
      l_sDump.rfind(
          "Package: " + Path("p.pkg") + "\r\n\r\nPackage Common Header\r\n au8Tag...................QRXPKG01\r\n", 0),
      0u);
  EXPECT_NE(l_sDump.find("\r\nPackage Chunk (count=1 offset=24)\r\n u64Size..................0\r\n"
                         " szFilename...............logs\r\n u32OsFileType............1 (dir)\r\n"),
            std::string::npos);
  EXPECT_NE(l_sDump.find("Package Chunk (count=6 offset=" + std::to_string(l_records.back().m_sizetOffset) + ")"),
            std::string::npos);
  EXPECT_NE(l_sDump.find(" ostimerecordModified.....2019/04/17 18:40:01.234 (3)\r\n"), std::string::npos);
}

TEST_F(Package, SkipRules) {
  Make("src\\Thumbs.db", "t");
  Make("src\\x.nolog", "n");
  Make("src\\pondo\\tmp\\y.txt", "p");
  Make("src\\a.JPG", "jpeg");
  Make("src\\keep.txt", "k");
  for (const bool l_bImages : {false, true}) {
    ASSERT_EQ(Write("p.pkg", "src", OS_FILE_PACKAGE_CREATE, l_bImages), OS_STS_SUCCESS);
    std::set<std::string> l_files;
    for (const Record& l_record : Records(Read("p.pkg")))
      if (l_record.m_u32Type == 2) l_files.insert(l_record.m_sName);
    std::set<std::string> l_expected = {"src\\keep.txt"};
    if (l_bImages) l_expected.insert("src\\a.JPG");
    EXPECT_EQ(l_files, l_expected) << l_bImages;
    // Pictures count in the total even when they are left out.
    EXPECT_EQ(Get64(Read("p.pkg"), 16), 5u) << l_bImages;
  }
}

// Empty and one-byte files: 32 and 33 bytes of stream, no container; an
// empty file in a package has a record of size 0 and nothing after it.
TEST_F(Package, TinyFiles) {
  Make("empty.txt", "");
  Make("one.txt", "Z");
  for (const std::string l_sName : {"empty.txt", "one.txt"}) {
    const std::string l_sContent = Read(l_sName);
    COsFile l_osfile;
    ASSERT_EQ(l_osfile.Open(Path(l_sName + ".split").c_str(), OS_FILE_OPEN_CREATE, OS_FILE_ACCESS_READWRITE,
                            OS_FILE_SHARE_NONE),
              OS_STS_SUCCESS);
    std::uint64_t l_u64Written = 0;
    ASSERT_EQ(SplitWrite(&l_osfile, &l_u64Written, Path(l_sName).c_str(), OS_COMPRESS_AUTOMATIC, nullptr, nullptr),
              OS_STS_SUCCESS);
    std::string l_sExpected = std::string("QRXSPL01\x1c\0\0\0\x04\0\0\0", 16) + char(l_sContent.size()) +
                              std::string(7, '\0') + std::string(4, '\0') + char(l_sContent.size()) +
                              std::string(3, '\0') + l_sContent;
    EXPECT_EQ(l_u64Written, l_sExpected.size());
    ASSERT_EQ(l_osfile.SetFilePointer64(OS_FILE_POINTER_BEGIN, 0), OS_STS_SUCCESS);
    std::uint64_t l_u64Size = 99;
    ASSERT_EQ(SplitRead(Path(l_sName + ".back").c_str(), &l_u64Size, &l_osfile, nullptr, nullptr), OS_STS_SUCCESS);
    l_osfile.Close();
    EXPECT_EQ(Read(l_sName + ".split"), l_sExpected);
    EXPECT_EQ(l_u64Size, l_sContent.size());
    EXPECT_EQ(Read(l_sName + ".back"), l_sContent);
  }
  ASSERT_EQ(Write("p.pkg", "empty.txt"), OS_STS_SUCCESS);
  const std::string l_sPackage = Read("p.pkg");
  ASSERT_EQ(l_sPackage.size(), 24u + 304u);
  EXPECT_EQ(Records(l_sPackage)[0].m_sName, ".\\empty.txt");
  EXPECT_EQ(Records(l_sPackage)[0].m_u64Size, 0u);
  ASSERT_EQ(Extract("out", "p.pkg"), OS_STS_SUCCESS);
  EXPECT_TRUE(Exists("out\\empty.txt"));
  EXPECT_EQ(Read("out\\empty.txt"), "");
}

// A 200 MiB log is above the size for the block-sorting pipeline: seven
// run-length pieces, six of 32 MiB and one of 8 MiB, read back exactly.
TEST_F(Package, LargeLogInSevenPieces) {
  std::string l_sBlock;
  for (int l_i = 0; l_sBlock.size() < (1u << 20); ++l_i)
    l_sBlock += "12:00:00.000 scan page " + std::to_string(l_i) + " ok ==============================\r\n";
  l_sBlock.resize(1u << 20);
  {
    COsFile l_osfile;
    ASSERT_EQ(l_osfile.Open(Path("big.log").c_str(), OS_FILE_OPEN_CREATE, OS_FILE_ACCESS_WRITE, OS_FILE_SHARE_NONE),
              OS_STS_SUCCESS);
    for (int l_i = 0; l_i < 200; ++l_i) {
      std::uint32_t l_u32 = 0;
      ASSERT_EQ(l_osfile.Write(l_sBlock.data(), static_cast<std::uint32_t>(l_sBlock.size()), &l_u32), OS_STS_SUCCESS);
    }
  }
  COsFile l_osfileSplit;
  ASSERT_EQ(
      l_osfileSplit.Open(Path("big.split").c_str(), OS_FILE_OPEN_CREATE, OS_FILE_ACCESS_READWRITE, OS_FILE_SHARE_NONE),
      OS_STS_SUCCESS);
  std::uint64_t l_u64Written = 0;
  ASSERT_EQ(SplitWrite(&l_osfileSplit, &l_u64Written, Path("big.log").c_str(), OS_COMPRESS_AUTOMATIC, nullptr, nullptr),
            OS_STS_SUCCESS);
  // The stream's pieces: each container's total and its first chunk's method.
  std::vector<std::uint64_t> l_pieces;
  ASSERT_EQ(l_osfileSplit.SetFilePointer64(OS_FILE_POINTER_BEGIN, 28), OS_STS_SUCCESS);
  for (std::uint64_t l_u64At = 28; l_u64At < l_u64Written;) {
    std::string l_s(4 + 40, '\0');
    std::uint32_t l_u32 = 0;
    ASSERT_EQ(l_osfileSplit.Read(l_s.data(), 44, &l_u32), OS_STS_SUCCESS);
    ASSERT_EQ(l_u32, 44u);
    l_pieces.push_back(Get64(l_s, 4 + 16));
    EXPECT_EQ(Get32(l_s, 4 + 24), 3u) << "run-length coding";
    l_u64At += 4 + Get32(l_s, 0);
    ASSERT_EQ(l_osfileSplit.SetFilePointer64(OS_FILE_POINTER_BEGIN, static_cast<std::int64_t>(l_u64At)),
              OS_STS_SUCCESS);
  }
  const std::uint64_t l_u64Piece = 32u << 20;
  EXPECT_EQ(l_pieces, (std::vector<std::uint64_t>{l_u64Piece, l_u64Piece, l_u64Piece, l_u64Piece, l_u64Piece,
                                                  l_u64Piece, 8u << 20}));
  ASSERT_EQ(l_osfileSplit.SetFilePointer64(OS_FILE_POINTER_BEGIN, 0), OS_STS_SUCCESS);
  std::uint64_t l_u64Size = 0;
  ASSERT_EQ(SplitRead(Path("big.back").c_str(), &l_u64Size, &l_osfileSplit, nullptr, nullptr), OS_STS_SUCCESS);
  EXPECT_EQ(l_u64Size, 200u << 20);
  std::uint64_t l_u64Position = 0;
  EXPECT_EQ(l_osfileSplit.GetFilePointer64(&l_u64Position), OS_STS_SUCCESS);
  EXPECT_EQ(l_u64Position, l_u64Written) << "left just after the stream";
  l_osfileSplit.Close();
  COsFile l_osfileBack;
  ASSERT_EQ(l_osfileBack.Open(Path("big.back").c_str(), OS_FILE_OPEN_EXISTING, OS_FILE_ACCESS_READ, OS_FILE_SHARE_READ),
            OS_STS_SUCCESS);
  std::string l_sBack(l_sBlock.size(), '\0');
  for (int l_i = 0; l_i < 200; ++l_i) {
    std::uint32_t l_u32 = 0;
    ASSERT_EQ(l_osfileBack.Read(l_sBack.data(), static_cast<std::uint32_t>(l_sBack.size()), &l_u32), OS_STS_SUCCESS);
    ASSERT_EQ(l_sBack, l_sBlock) << "block " << l_i;
  }
  std::uint32_t l_u32 = 1;
  EXPECT_EQ(l_osfileBack.Read(l_sBack.data(), 1, &l_u32), OS_STS_SUCCESS);
  EXPECT_EQ(l_u32, 0u);
}

// Another program holds the file: five tries a second apart, then a copy
// (it lets others read) or, when even that fails, the text that says why.
TEST_F(Package, HeldFileIsTriedFiveTimesThenCopied) {
  const std::optional<std::wstring> l_wsHolder = OsTestGetEnv(L"OS_TEST_FILE_HOLDER");
  ASSERT_TRUE(l_wsHolder.has_value());
  OsLogReconfigure(OsLogInstance(), OsTestUtf8(m_wsLog).c_str(), 1 | OS_LOG_INFO | OS_LOG_OPT_NOSTAMP, nullptr,
                   nullptr);
  const struct {
    const wchar_t* m_wszShare;
    std::string m_sExpected;
  } l_acase[] = {{L"rw", "held but readable"}, {L"none", "Unable to package file: eossts=0x104\r\n"}};
  for (const auto& l_case : l_acase) {
    Make("src\\held.txt", "held but readable");
    DeleteFileW(OsTestWide(Path("ready")).c_str());
    OsTestProcess l_process;
    ASSERT_TRUE(OsTestStartProcess(L"\"" + *l_wsHolder + L"\" \"" + OsTestWide(Path("src\\held.txt")) + L"\" " +
                                       l_case.m_wszShare + L" \"" + OsTestWide(Path("ready")) + L"\"",
                                   nullptr, &l_process));
    for (int l_i = 0; l_i < 200 && !Exists("ready"); ++l_i) Sleep(50);
    ASSERT_TRUE(Exists("ready"));
    const std::size_t l_sizetBefore = Lines("Sharing violation, trying again...").size();
    const EOSSTS l_eossts = Write("p.pkg", "src");
    TerminateProcess(l_process.m_hProcess, 0);
    WaitForSingleObject(l_process.m_hProcess, 10000);
    CloseHandle(l_process.m_hProcess);
    CloseHandle(l_process.m_hThread);
    ASSERT_EQ(l_eossts, OS_STS_SUCCESS);
    // Four waits in each of the two passes.
    EXPECT_EQ(Lines("Sharing violation, trying again...").size() - l_sizetBefore, 8u);
    OsTestRemoveTree(OsTestWide(Path("out")));
    ASSERT_EQ(Extract("out", "p.pkg"), OS_STS_SUCCESS);
    EXPECT_EQ(Read("out\\src\\held.txt"), l_case.m_sExpected);
    for (const char* l_sz : {"\\copy.tmp", "\\package.proxy"})
      EXPECT_EQ(GetFileAttributesW(OsTestWide(Item(1, 12) + l_sz).c_str()), INVALID_FILE_ATTRIBUTES) << l_sz;
  }
}

int s_iCallbacks = 0;
EOSSTS CancelAtTheSecondFile(OsFilePackageProgress* a_p) {
  return a_p->m_u64CurrentStep == 0 && ++s_iCallbacks == 2 ? static_cast<EOSSTS>(7) : OS_STS_SUCCESS;
}

// A failed append leaves the earlier package byte for byte; a file that is
// no package, or one whose records do not end at its end, is refused as it is.
TEST_F(Package, FailedAppendsLeaveThePackage) {
  Make("a\\one.txt", "first tree");
  Make("b\\two.txt", "second tree, file one");
  Make("b\\three.txt", "second tree, file two");
  ASSERT_EQ(Write("p.pkg", "a"), OS_STS_SUCCESS);
  const std::string l_sBefore = Read("p.pkg");
  s_iCallbacks = 0;
  EXPECT_EQ(Write("p.pkg", "b", OS_FILE_PACKAGE_APPEND, false, CancelAtTheSecondFile), 7);
  EXPECT_EQ(Read("p.pkg"), l_sBefore);

  const struct {
    std::string m_sBytes;
    const char* m_szMessage;
  } l_acase[] = {{"not a package at all", "Not a package file..."},
                 {l_sBefore + "trailing", "Corrupt package file..."},
                 {l_sBefore.substr(0, l_sBefore.size() - 1), "Corrupt package file..."}};
  for (const auto& l_case : l_acase) {
    Make("q.pkg", l_case.m_sBytes);
    EXPECT_EQ(Write("q.pkg", "b", OS_FILE_PACKAGE_APPEND), OS_STS_FAIL) << l_case.m_szMessage;
    EXPECT_EQ(Read("q.pkg"), l_case.m_sBytes);
    EXPECT_FALSE(Lines(l_case.m_szMessage).empty()) << l_case.m_szMessage;
  }
  // A new package that fails is not left behind.
  s_iCallbacks = 0;
  EXPECT_EQ(Write("n.pkg", "b", OS_FILE_PACKAGE_CREATE, false, CancelAtTheSecondFile), 7);
  EXPECT_FALSE(Exists("n.pkg"));
}

// Appends put their tree under the root the mode names, and extraction
// replaces the first tree unless told to keep what is there.
TEST_F(Package, AppendRootsAndReplacement) {
  Make("logs\\l.txt", "l");
  Make("more\\m.txt", "m");
  const struct {
    EOSFILEPACKAGE m_eosfilepackage;
    const char* m_szName;
  } l_acase[] = {{OS_FILE_PACKAGE_APPEND, "more\\m.txt"},
                 {OS_FILE_PACKAGE_APPEND_EXTRA, "logs\\extra\\more\\m.txt"},
                 {OS_FILE_PACKAGE_APPEND_LOCALLOW, "logs_locallow\\more\\m.txt"},
                 {OS_FILE_PACKAGE_APPEND_NORMAL, "logs_normal\\more\\m.txt"}};
  for (const auto& l_case : l_acase) {
    ASSERT_EQ(Write("p.pkg", "logs"), OS_STS_SUCCESS);
    ASSERT_EQ(Write("p.pkg", "more", l_case.m_eosfilepackage), OS_STS_SUCCESS);
    std::vector<std::string> l_names;
    for (const Record& l_record : Records(Read("p.pkg"))) l_names.push_back(l_record.m_sName);
    ASSERT_EQ(l_names.size(), 6u);
    EXPECT_EQ(l_names[4], l_case.m_szName);
  }
  Make("out\\logs\\stale.txt", "stale");
  ASSERT_EQ(Extract("out", "p.pkg", true), OS_STS_SUCCESS);
  EXPECT_TRUE(Exists("out\\logs\\stale.txt"));
  EXPECT_EQ(Read("out\\logs_normal\\more\\m.txt"), "m");
  ASSERT_EQ(Extract("out", "p.pkg"), OS_STS_SUCCESS);
  EXPECT_FALSE(Exists("out\\logs\\stale.txt"));
  EXPECT_EQ(Read("out\\logs\\l.txt"), "l");
}

// Damaged and hostile packages: each is refused with 1, and nothing is made
// or removed outside the destination.
TEST_F(Package, HostilePackagesAreRefused) {
  Make("src\\a.txt", std::string(3000, 'x') + "end");
  Make("src\\sub\\b.txt", "b");
  Make("outside\\keep.txt", "keep");
  ASSERT_EQ(Write("dir.pkg", "src"), OS_STS_SUCCESS);
  ASSERT_EQ(Write("flat.pkg", "src\\*.txt"), OS_STS_SUCCESS);
  const std::string l_sDirectory = Read("dir.pkg");
  const std::string l_sFlat = Read("flat.pkg");
  const std::vector<Record> l_records = Records(l_sDirectory);
  ASSERT_EQ(l_records.size(), 6u);
  const std::vector<Record> l_flat = Records(l_sFlat);
  ASSERT_EQ(l_flat.size(), 1u);

  std::vector<std::pair<std::string, std::string>> l_cases;
  // Names that would leave the destination or name no file there.
  for (const std::string l_sName : {"..\\escape.txt",
                                    "../escape.txt",
                                    "x\\..\\..\\escape.txt",
                                    "x/../../escape.txt",
                                    ".. \\escape.txt",
                                    "..",
                                    "C:\\escape.txt",
                                    "C:escape.txt",
                                    "\\escape.txt",
                                    "/escape.txt",
                                    "\\\\server\\share\\escape.txt",
                                    "\\\\?\\C:\\escape.txt",
                                    "a.txt:stream",
                                    "CON",
                                    "nul.txt",
                                    "com1",
                                    "LPT9.log",
                                    "CON            .txt",
                                    "a\x01.txt",
                                    "a*.txt",
                                    "",
                                    ".",
                                    ".\\."}) {
    std::string l_s = l_sFlat;
    std::memset(l_s.data() + l_flat[0].m_sizetOffset + 8, 0, 256);
    std::memcpy(l_s.data() + l_flat[0].m_sizetOffset + 8, l_sName.data(), l_sName.size());
    l_cases.push_back({l_sName, l_s});
  }
  std::string l_sUnterminated = l_sFlat;
  std::memset(l_sUnterminated.data() + l_flat[0].m_sizetOffset + 8, 'n', 256);
  l_cases.push_back({"unterminated", l_sUnterminated});
  // The first directory may not name a place outside either.
  std::string l_sUp = l_sDirectory;
  std::memcpy(l_sUp.data() + 24 + 8, "..\\outside\0", 11);
  l_cases.push_back({"first directory ..\\outside", l_sUp});
  // Cut at every record boundary and inside the streams.
  for (std::size_t l_i = 1; l_i < l_records.size(); ++l_i)
    l_cases.push_back({"cut at record " + std::to_string(l_i), l_sDirectory.substr(0, l_records[l_i].m_sizetOffset)});
  for (const Record& l_record : l_records)
    if (l_record.m_u64Size > 0)
      for (const std::size_t l_sizet :
           {std::size_t{1}, std::size_t{27}, std::size_t{40}, static_cast<std::size_t>(l_record.m_u64Size - 1)})
        l_cases.push_back(
            {"cut inside " + l_record.m_sName, l_sDirectory.substr(0, l_record.m_sizetOffset + 304 + l_sizet)});
  l_cases.push_back({"cut inside the header", l_sDirectory.substr(0, 20)});
  // Lengths that do not fit.
  for (const Record& l_record : l_records)
    if (l_record.m_u64Size > 0)
      for (const std::uint64_t l_u64 : {std::uint64_t{0}, std::uint64_t{l_sDirectory.size()}, ~std::uint64_t{0}}) {
        std::string l_s = l_sDirectory;
        Put64(&l_s, l_record.m_sizetOffset, l_u64);
        l_cases.push_back({l_record.m_sName + " size " + std::to_string(l_u64), l_s});
      }
  std::string l_sType = l_sDirectory;
  l_sType[l_records[1].m_sizetOffset + 264] = 7;
  l_cases.push_back({"type 7", l_sType});

  const std::set<std::string> l_before = Listing(WDir());
  int l_iCase = 0;
  for (const auto& l_case : l_cases) {
    const std::string l_sPackage = "hostile" + std::to_string(l_iCase) + ".pkg";
    const std::string l_sDestination = "dest" + std::to_string(l_iCase++);
    Make(l_sPackage, l_case.second);
    EXPECT_EQ(Extract(l_sDestination, l_sPackage), OS_STS_FAIL) << l_case.first;
    OsTestRemoveTree(OsTestWide(Path(l_sDestination)));
    DeleteFileW(OsTestWide(Path(l_sPackage)).c_str());
  }
  std::set<std::string> l_after = Listing(WDir());
  // The log grows meanwhile; everything else stays as it was.
  std::erase_if(l_after, [](const std::string& a_s) { return a_s.rfind("package.log", 0) == 0; });
  std::set<std::string> l_expected = l_before;
  std::erase_if(l_expected, [](const std::string& a_s) { return a_s.rfind("package.log", 0) == 0; });
  EXPECT_EQ(l_after, l_expected);
  EXPECT_EQ(GetFileAttributesW(L"C:\\escape.txt"), INVALID_FILE_ATTRIBUTES);
}

// The package tool packs through the library: the same tree gives the same
// bytes. The source's access time (the one time its record keeps besides
// write times) is set an hour ahead, where reading the directory leaves it.
TEST_F(Package, ToolWritesWhatPackageWriteWrites) {
  const std::optional<std::wstring> l_wsTool = OsTestGetEnv(L"OS_TEST_QRXPKG");
  ASSERT_TRUE(l_wsTool.has_value());
  Make("logs\\a.log", std::string(2000, 'a') + "\r\n");
  Make("logs\\sub\\b.txt", "b");
  Make("logs\\sub\\c.JPG", "c");
  FILETIME l_ft;
  GetSystemTimeAsFileTime(&l_ft);
  SetTime("logs", (static_cast<ULONGLONG>(l_ft.dwHighDateTime) << 32 | l_ft.dwLowDateTime) + 36000000000ull, true);
  ASSERT_EQ(Write("library.pkg", "logs"), OS_STS_SUCCESS);
  const OsTestRun l_run = OsTestRunProgram(L"\"" + *l_wsTool + L"\" create \"" + OsTestWide(Path("tool.pkg")) +
                                           L"\" \"" + OsTestWide(Path("logs")) + L"\" --recursive");
  ASSERT_EQ(l_run.m_ulExitCode, 0u) << l_run.m_sOutput;
  EXPECT_EQ(Read("tool.pkg"), Read("library.pkg"));
  EXPECT_EQ(Records(Read("tool.pkg")).size(), 6u);
}

// Links planted from the Linux side: a directory link in a packed tree is
// neither entered nor packed, and extraction never writes through a link it
// meets in its destination.
TEST_F(Package, LinksAreNotFollowed) {
  const char* const l_szLinks = std::getenv("OS_TEST_LINKS_DIR");
  ASSERT_NE(l_szLinks, nullptr) << "the links fixture sets OS_TEST_LINKS_DIR";
  const std::string l_sLinks = OsTestUtf8(OsTestWide(l_szLinks));
  if (GetFileAttributesW(OsTestWide(l_sLinks + "\\tree\\link").c_str()) == INVALID_FILE_ATTRIBUTES)
    GTEST_SKIP() << "no links were planted";
  COsFile l_osfile;
  ASSERT_EQ(l_osfile.PackageWrite(Path("p.pkg").c_str(), (l_sLinks + "\\tree").c_str(), false, OS_FILE_PACKAGE_CREATE,
                                  true, OS_COMPRESS_AUTOMATIC, nullptr),
            OS_STS_SUCCESS);
  for (const Record& l_record : Records(Read("p.pkg")))
    EXPECT_EQ(l_record.m_sName.find("link"), std::string::npos) << l_record.m_sName;

  Make("tree\\link\\evil.txt", "evil");
  ASSERT_EQ(Write("q.pkg", "tree"), OS_STS_SUCCESS);
  EXPECT_NE(l_osfile.PackageExtract(l_sLinks.c_str(), Path("q.pkg").c_str(), true, nullptr, false), OS_STS_SUCCESS);
  EXPECT_EQ(GetFileAttributesW(OsTestWide(l_sLinks + "\\target\\evil.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
