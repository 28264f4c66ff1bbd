// Shared and mapped memory: the share mode, the link a temporary allocation
// writes and a second process (of either width) that opens it, ordinary
// files, damaged links, remapping, the file lock, the thread-safe buffers,
// and releases that give back every counter and handle.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "os_coscfg.h"
#include "os_cosmem.h"
#include "os_cosmem_impl.h"
#include "os_sysinfo.h"
#include "os_test_services.h"

namespace {

class MemShared : public OsServicesTest {
 protected:
  void SetUp() override {
    OsServicesTest::SetUp();
    StartLoggingTo(L"mem.log");
    ASSERT_NE(OsMemInstance(), nullptr);
    ASSERT_NE(OsCfgInstance(), nullptr);
    OsCfgInstance()->SetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_FORCEMEMORYMAP, "0");
    SYSTEM_INFO l_si;
    GetSystemInfo(&l_si);
    m_u32Granularity = l_si.dwAllocationGranularity;
  }
  std::string Path(const char* a_szName) const { return Dir() + "\\" + a_szName; }
  COsMemImpl& Impl() { return *OsMemInstance()->m_posmemimpl; }
  const COsMemItem& Item(const void* a_pv) {
    OsMemSettings l_settings{};
    EXPECT_EQ(OsMemFindByAddress(a_pv, &l_settings, true), OS_STS_SUCCESS);
    return Impl().m_aitem[l_settings.m_u32Index];
  }
  static char* Alloc(EOSSHAREDALLOC a_eos, const std::string& a_sPath, std::int32_t a_i32Size,
                     std::uint32_t a_u32Offset, std::int32_t a_i32View, std::uint32_t a_u32Flags,
                     EOSSHAREDLOCK a_eoslock = OS_SHAREDLOCK_NONE) {
    return static_cast<char*>(OsMemSharedAlloc(a_eos, a_sPath.c_str(), a_i32Size, a_u32Offset, a_i32View, a_eoslock,
                                               a_u32Flags, __FILE_NAME__, __LINE__));
  }
  // The file's bytes, read while others hold it (also for deletion).
  static std::string ReadShared(const std::string& a_sPath) {
    HANDLE l_h =
        CreateFileW(OsTestWide(a_sPath).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    std::string l_s;
    if (l_h == INVALID_HANDLE_VALUE) return l_s;
    char l_ac[4096];
    DWORD l_dw = 0;
    while (ReadFile(l_h, l_ac, sizeof(l_ac), &l_dw, nullptr) && l_dw > 0) l_s.append(l_ac, l_dw);
    CloseHandle(l_h);
    return l_s;
  }
  static DWORD Handles() {
    DWORD l_dw = 0;
    GetProcessHandleCount(GetCurrentProcess(), &l_dw);
    return l_dw;
  }
  std::uint32_t m_u32Granularity = 0;
};

std::string Hex(unsigned long long a_ull) {
  char l_sz[32];
  std::snprintf(l_sz, sizeof(l_sz), "%llx", a_ull);
  return l_sz;
}

TEST_F(MemShared, FirstTemporaryAllocationChoosesThePageFileAndWritesTheLink) {
  if (OsSysOsCode() == OS_CFG_OS_WIN2K) GTEST_SKIP() << "the page file is not the default on this system";
  const std::string l_sPath = Path("link.tmp");
  char* const l_pc = Alloc(OS_SHAREDALLOC_TEMPORARY, l_sPath, 1000, 0, 1000, 0);
  ASSERT_NE(l_pc, nullptr);
  EXPECT_EQ(Lines("mem>>> ForceMemoryMap=0 Platform=").size(), 1u);
  EXPECT_EQ(Lines("mem>>> shared mode is OS_SHAREDMODE_MAPPAGEFILEASNEEDED").size(), 1u);
  const COsMemItem& l_item = Item(l_pc);
  EXPECT_EQ(l_item.m_eosmemtype, OS_MEM_TYPE_MEMORYMAP);
  EXPECT_EQ(l_item.m_u32Size, 1000u);
  EXPECT_EQ(l_item.m_u32Flags & OS_SHAREDITEM_TEMPORARY, OS_SHAREDITEM_TEMPORARY);

  // The link: this process, the mapping handle (pointer-wide digits), the
  // size, and the terminator.
  const std::string l_sLink = ReadShared(l_sPath);
  const std::string l_sHead = "<osmem>\n\t<pid>" + Hex(GetCurrentProcessId()) + "</pid>\t<maphandle>";
  const std::string l_sTail = "</maphandle>\n<maxsize>1000</maxsize></osmem>\n";
  ASSERT_EQ(l_sLink.compare(0, l_sHead.size(), l_sHead), 0) << l_sLink;
  const std::size_t l_sizetEnd = l_sLink.find('<', l_sHead.size());
  ASSERT_NE(l_sizetEnd, std::string::npos);
  const std::string l_sHandle = l_sLink.substr(l_sHead.size(), l_sizetEnd - l_sHead.size());
  EXPECT_EQ(l_sHandle.size(), 2 * sizeof(void*));
  EXPECT_EQ(std::strtoull(l_sHandle.c_str(), nullptr, 16), reinterpret_cast<std::uintptr_t>(l_item.m_hMapping));
  EXPECT_EQ(l_sLink.substr(l_sizetEnd), l_sTail + std::string(1, '\0'));

  // Page-file memory of the size rounded up to the granularity.
  void* const l_pvAll = MapViewOfFile(l_item.m_hMapping, FILE_MAP_READ, 0, 0, 0);
  ASSERT_NE(l_pvAll, nullptr);
  MEMORY_BASIC_INFORMATION l_mbi;
  ASSERT_EQ(VirtualQuery(l_pvAll, &l_mbi, sizeof(l_mbi)), sizeof(l_mbi));
  EXPECT_EQ(l_mbi.RegionSize, static_cast<SIZE_T>(m_u32Granularity));
  UnmapViewOfFile(l_pvAll);
  OS_MEM_FREE(l_pc);
  EXPECT_EQ(GetFileAttributesW(OsTestWide(l_sPath).c_str()), INVALID_FILE_ATTRIBUTES) << "deleted with its item";
}

using PeerRun = OsTestRun;

PeerRun RunPeer(const std::wstring& a_wsExe, const std::wstring& a_wsArguments) {
  return OsTestRunProgram(L"\"" + a_wsExe + L"\" " + a_wsArguments);
}

// The peer named by a_szVariable, as a full path; empty when it is not there.
std::wstring PeerPath(const char* a_szVariable) {
  const char* const l_sz = std::getenv(a_szVariable);
  if (l_sz == nullptr) return L"";
  wchar_t l_wsz[MAX_PATH];
  if (GetFullPathNameW(OsTestWide(l_sz).c_str(), MAX_PATH, l_wsz, nullptr) == 0) return L"";
  return GetFileAttributesW(l_wsz) == INVALID_FILE_ATTRIBUTES ? L"" : l_wsz;
}

class MemSharedPeer : public MemShared {
 protected:
  // Both ways a temporary allocation is shared: a link to page-file memory
  // (the peer takes size and view from the link) and a file of its own (as
  // the sync groups share theirs).
  void ShareWith(const std::wstring& a_wsPeer) {
    struct Case {
      const char* m_szName;
      std::uint32_t m_u32Flags;
      std::int32_t m_i32Size;
      const wchar_t* m_wszPeerArguments;
      const char* m_szPeerSees;
    };
    const Case l_acase[] = {
        {"pagefile.tmp", 0, 1000, L"-1 -1 0", "size=1000 view=1000"},
        {"file.tmp", OS_SHARED_NOPAGEFILE, 2128, L"2128 2128 4", "size=2128 view=2128"},
    };
    for (const Case& l_case : l_acase) {
      SCOPED_TRACE(l_case.m_szName);
      const std::string l_sPath = Path(l_case.m_szName);
      char* const l_pc =
          Alloc(OS_SHAREDALLOC_TEMPORARY, l_sPath, l_case.m_i32Size, 0, l_case.m_i32Size, l_case.m_u32Flags);
      ASSERT_NE(l_pc, nullptr);
      std::strcpy(l_pc, "from the first process");
      const PeerRun l_run = RunPeer(a_wsPeer, L"\"" + OsTestWide(l_sPath) + L"\" " + l_case.m_wszPeerArguments +
                                                  L" \"from the first process\" \"from the second process\"");
      EXPECT_EQ(l_run.m_ulExitCode, 0u) << l_run.m_sOutput;
      EXPECT_NE(l_run.m_sOutput.find(l_case.m_szPeerSees), std::string::npos) << l_run.m_sOutput;
      EXPECT_STREQ(l_pc + 500, "from the second process");
      OS_MEM_FREE(l_pc);
    }
  }
};

TEST_F(MemSharedPeer, AProcessOfTheSameWidthOpensTheSharedMemory) {
  const std::wstring l_wsPeer = PeerPath("OS_TEST_COSMEM_PEER");
  ASSERT_FALSE(l_wsPeer.empty()) << "the test registration names the peer program";
  ShareWith(l_wsPeer);
}

TEST_F(MemSharedPeer, AProcessOfTheOtherWidthOpensTheSharedMemory) {
  const std::wstring l_wsPeer = PeerPath("OS_TEST_COSMEM_PEER_OTHER");
  if (l_wsPeer.empty()) GTEST_SKIP() << "the other width's build (its os_cosmem_peer.exe) is not there";
  // Under Wine on a Linux kernel that runs no 32-bit programs (the test
  // scripts then set OS_WINE32=0) a 32-bit program does not start at all;
  // anywhere else the peer must start.
  if (sizeof(void*) == 8 && OsTestGetEnv(L"OS_WINE32") == std::wstring(L"0"))
    GTEST_SKIP() << "this kernel runs no 32-bit programs (OS_WINE32=0)";
  ShareWith(l_wsPeer);
}

TEST_F(MemShared, SmallFilesThatAreNoLinksOpenAsOrdinaryMappings) {
  // 300 bytes are too many for a link, whatever they begin with.
  std::string l_s300 = "<osmem>\n\t<pid>1</pid>\t<maphandle>4</maphandle>\n<maxsize>100</maxsize></osmem>\n";
  while (l_s300.size() < 300) l_s300 += static_cast<char>('a' + l_s300.size() % 26);
  for (const std::string& l_sContent : {l_s300, std::string(100, 'x').replace(0, 9, "<notmem>\n")}) {
    const std::string l_sPath = Path("small.bin");
    ASSERT_TRUE(OsTestWriteFile(OsTestWide(l_sPath), l_sContent));
    char* const l_pc = Alloc(OS_SHAREDALLOC_OPEN, l_sPath, -1, 0, -1, 0);
    ASSERT_NE(l_pc, nullptr) << l_sContent.size();
    EXPECT_EQ(std::string(l_pc, l_sContent.size()), l_sContent);
    EXPECT_EQ(Item(l_pc).m_u32Size, l_sContent.size());
    EXPECT_EQ(Item(l_pc).m_u32ViewSize, l_sContent.size());
    OS_MEM_FREE(l_pc);
    EXPECT_EQ(ReadShared(l_sPath), l_sContent) << "an opened file keeps its length";
  }
}

TEST_F(MemShared, DamagedLinksAreRefused) {
  // A real page-file mapping of this process that the links name.
  HANDLE const l_hMapping =
      CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, m_u32Granularity, nullptr);
  ASSERT_NE(l_hMapping, nullptr);
  const std::string l_sPid = Hex(GetCurrentProcessId());
  const std::string l_sHandle = Hex(reinterpret_cast<std::uintptr_t>(l_hMapping));
  auto l_link = [](const std::string& a_sPid, const std::string& a_sHandle, const std::string& a_sSize) {
    return "<osmem>\n\t<pid>" + a_sPid + "</pid>\t<maphandle>" + a_sHandle + "</maphandle>\n<maxsize>" + a_sSize +
           "</maxsize></osmem>\n";
  };
  struct Case {
    std::string m_sLink;
    const char* m_szMessage;
  };
  const Case l_acase[] = {
      {"<osmem>\n\t<maphandle>" + l_sHandle + "</maphandle>\n<maxsize>100</maxsize></osmem>\n",
       "mem>>> failed to find the pid..."},
      {l_link("12zz", l_sHandle, "100"), "mem>>> failed to convert pid..."},
      {l_link("", l_sHandle, "100"), "mem>>> failed to convert pid..."},
      {"<osmem>\n\t<pid>" + l_sPid + "</pid>\t<maphandle>" + l_sHandle, "mem>>> failed to find the maphandle..."},
      {l_link(l_sPid, "0x1g", "100"), "mem>>> failed to convert maphandle..."},
      {l_link(l_sPid, "1" + std::string(16, '0'), "100"), "mem>>> failed to convert maphandle..."},
      {l_link(l_sPid, l_sHandle, "-5"), "mem>>> failed to convert maxsize..."},
      {l_link(l_sPid, l_sHandle, "99999999999"), "mem>>> failed to convert maxsize..."},
      {l_link(l_sPid, "0x" + l_sHandle, "") + "<maxsize>", "mem>>> failed to convert maxsize..."},
      {l_link(l_sPid, l_sHandle, std::to_string(m_u32Granularity + 1)),
       "mem>>> the link's maxsize is larger than its memory..."},
  };
  const std::uint32_t l_u32CC = Impl().m_u32CC;
  const DWORD l_dwHandles = Handles();
  for (const Case& l_case : l_acase) {
    SCOPED_TRACE(l_case.m_sLink);
    const std::string l_sPath = Path("damaged.lnk");
    ASSERT_TRUE(OsTestWriteFile(OsTestWide(l_sPath), l_case.m_sLink));
    const std::size_t l_sizetBefore = Lines(l_case.m_szMessage).size();
    EXPECT_EQ(Alloc(OS_SHAREDALLOC_OPEN, l_sPath, -1, 0, -1, 0), nullptr);
    EXPECT_EQ(Lines(l_case.m_szMessage).size(), l_sizetBefore + 1);
    EXPECT_EQ(Impl().m_u32CC, l_u32CC);
    EXPECT_EQ(Handles(), l_dwHandles) << "a refused link leaves nothing open";
  }
  // The sound link to the same memory is followed.
  ASSERT_TRUE(
      OsTestWriteFile(OsTestWide(Path("good.lnk")), l_link(l_sPid, l_sHandle, std::to_string(m_u32Granularity))));
  char* const l_pc = Alloc(OS_SHAREDALLOC_OPEN, Path("good.lnk"), -1, 0, -1, 0);
  ASSERT_NE(l_pc, nullptr);
  EXPECT_EQ(Item(l_pc).m_u32Size, m_u32Granularity);
  OS_MEM_FREE(l_pc);
  CloseHandle(l_hMapping);
}

// The temporary file is held for deletion: only an opener that shares
// deletion gets in, and a read-only opener gets in beside a writer.
TEST_F(MemShared, OthersOpenATemporaryFileBySharingDeletion) {
  const std::string l_sPath = Path("group.tmp");
  char* const l_pc = Alloc(OS_SHAREDALLOC_TEMPORARY, l_sPath, 2128, 0, 2128, OS_SHARED_NOPAGEFILE);
  ASSERT_NE(l_pc, nullptr);
  std::strcpy(l_pc, "group table");
  HANDLE const l_h = CreateFileW(OsTestWide(l_sPath).c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(l_h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  char* const l_pcOpen = Alloc(OS_SHAREDALLOC_OPEN, l_sPath, 2128, 0, 2128, OS_SHARED_NOPAGEFILE);
  ASSERT_NE(l_pcOpen, nullptr);
  EXPECT_STREQ(l_pcOpen, "group table");
  char* const l_pcRead = Alloc(OS_SHAREDALLOC_OPEN, l_sPath, 2128, 0, 2128, OS_SHARED_NOPAGEFILE | OS_SHARED_READONLY);
  ASSERT_NE(l_pcRead, nullptr);
  EXPECT_EQ(Item(l_pcRead).m_u32Flags & OS_SHAREDITEM_READONLY, OS_SHAREDITEM_READONLY);
  EXPECT_STREQ(l_pcRead, "group table");
  OS_MEM_FREE(l_pcRead);
  OS_MEM_FREE(l_pcOpen);
  OS_MEM_FREE(l_pc);
}

TEST_F(MemShared, CreateWithoutAViewIsRefused) {
  EXPECT_EQ(Alloc(OS_SHAREDALLOC_CREATE, Path("noview.bin"), 100, 0, 0, 0), nullptr);
  EXPECT_EQ(Lines("mem>>> a_sizetView can only be -1 for OS_SHAREDALLOC_OPEN...").size(), 1u);
  EXPECT_EQ(Lines("mem>>> Error occurred here...").size(), 1u);
  EXPECT_EQ(Lines("mem>>> OsMemDump begin...").size(), 1u);
}

TEST_F(MemShared, CleanRamLogsTheFreeMemoryAround) {
  CleanRam();
  EXPECT_EQ(Lines("mem>>> CleanRam Before: FreePhysical:").size(), 1u);
  EXPECT_EQ(Lines("mem>>> CleanRam After:  FreePhysical:").size(), 1u);
}

TEST_F(MemShared, RemappedViewsKeepTheData) {
  const std::string l_sPath = Path("remap.bin");
  char* l_pc = Alloc(OS_SHAREDALLOC_CREATE, l_sPath, static_cast<std::int32_t>(3 * m_u32Granularity), 0, 64, 0);
  ASSERT_NE(l_pc, nullptr);
  const std::uint32_t l_au32Offset[] = {m_u32Granularity + 100, 2 * m_u32Granularity + 7, 5, m_u32Granularity - 3};
  for (std::uint32_t l_u32 : l_au32Offset) {
    l_pc = static_cast<char*>(OsMemRemap(l_pc, l_u32, 32, __FILE_NAME__, __LINE__, true));
    ASSERT_NE(l_pc, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(l_pc) % m_u32Granularity, l_u32 % m_u32Granularity);
    EXPECT_EQ(Item(l_pc).m_u32Offset, l_u32);
    std::snprintf(l_pc, 32, "at %u", static_cast<unsigned>(l_u32));
  }
  for (std::uint32_t l_u32 : l_au32Offset) {
    l_pc = static_cast<char*>(OsMemRemap(l_pc, l_u32, 32, __FILE_NAME__, __LINE__, true));
    ASSERT_NE(l_pc, nullptr);
    EXPECT_EQ(std::string(l_pc), "at " + std::to_string(l_u32));
  }
  EXPECT_EQ(OsMemRemap(l_pc, 3 * m_u32Granularity, 1, __FILE_NAME__, __LINE__, true), nullptr);
  EXPECT_EQ(Lines("mem>>> The offset is larger than the file...").size(), 1u);
  OS_MEM_FREE(l_pc);
  // What the file holds, read without the library.
  const std::string l_sFile = ReadShared(l_sPath);
  ASSERT_EQ(l_sFile.size(), 3 * m_u32Granularity);
  for (std::uint32_t l_u32 : l_au32Offset)
    EXPECT_EQ(std::string(l_sFile.c_str() + l_u32), "at " + std::to_string(l_u32));
}

TEST_F(MemShared, WholeFileRemapMovesThePointerOnly) {
  char* const l_pc = Alloc(OS_SHAREDALLOC_CREATE, Path("whole.bin"), static_cast<std::int32_t>(2 * m_u32Granularity),
                           50, 100, OS_SHARED_WHOLEFILE);
  ASSERT_NE(l_pc, nullptr);
  EXPECT_EQ(Item(l_pc).m_u32Flags & OS_SHAREDITEM_WHOLEFILE, OS_SHAREDITEM_WHOLEFILE);
  std::strcpy(l_pc, "kept");
  char* const l_pcNew = static_cast<char*>(OsMemRemap(l_pc, 100, 10, __FILE_NAME__, __LINE__, true));
  EXPECT_EQ(l_pcNew, l_pc + 100 - 50);
  EXPECT_STREQ(l_pc, "kept") << "the view stays mapped";
  EXPECT_EQ(Item(l_pcNew).m_u32ViewSize, 10u);
  OS_MEM_FREE(l_pcNew);

  // A whole-file share mode makes every mapping whole.
  EXPECT_EQ(OsMemSetSharedMode(OS_SHAREDMODE_MAPFILEALL), OS_SHAREDMODE_MAPPAGEFILEASNEEDED);
  EXPECT_EQ(Lines("mem>>> new shared mode is OS_SHAREDMODE_MAPFILEALL").size(), 1u);
  char* const l_pcAll = Alloc(OS_SHAREDALLOC_CREATE, Path("all.bin"), 100, 10, 20, 0);
  ASSERT_NE(l_pcAll, nullptr);
  EXPECT_EQ(Item(l_pcAll).m_u32Flags & OS_SHAREDITEM_WHOLEFILE, OS_SHAREDITEM_WHOLEFILE);
  OS_MEM_FREE(l_pcAll);
}

TEST_F(MemShared, FirstByteLock) {
  const std::string l_sPath = Path("locked.bin");
  char* const l_pc = Alloc(OS_SHAREDALLOC_CREATE, l_sPath, 100, 0, 100, 0, OS_SHAREDLOCK_ALWAYS);
  ASSERT_NE(l_pc, nullptr);
  EXPECT_EQ(OsMemSharedIsLocked(l_pc, __FILE_NAME__, __LINE__), OS_STS_LOCKED);
  HANDLE const l_h =
      CreateFileW(OsTestWide(l_sPath).c_str(), GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(l_h, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(LockFile(l_h, 0, 0, 1, 0));
  EXPECT_EQ(OsMemSharedUnlock(l_pc, __FILE_NAME__, __LINE__), OS_STS_NOTLOCKED);
  ASSERT_TRUE(LockFile(l_h, 0, 0, 1, 0));
  EXPECT_EQ(OsMemSharedLock(l_pc, __FILE_NAME__, __LINE__), OS_STS_NOTLOCKED) << "another handle holds it";
  UnlockFile(l_h, 0, 0, 1, 0);
  EXPECT_EQ(OsMemSharedLock(l_pc, __FILE_NAME__, __LINE__), OS_STS_LOCKED);
  CloseHandle(l_h);
  EXPECT_EQ(OsMemSharedFlush(l_pc), OS_STS_SUCCESS);
  int l_i = 0;
  EXPECT_EQ(OsMemSharedLock(&l_i, __FILE_NAME__, __LINE__), OS_STS_FAIL);
  EXPECT_EQ(Lines("mem>>> Manage didn't find mapping...").size(), 1u);
  OS_MEM_FREE(l_pc);
}

TEST_F(MemShared, ThreadSafeBuffersGrowWithTheirContents) {
  const std::uint32_t l_u32CC = Impl().m_u32CC;
  char* const l_pc = static_cast<char*>(OsMemThreadSafeAlloc("buf", 100, __FILE_NAME__, __LINE__, OS_LOG_MEM_NORMAL));
  ASSERT_NE(l_pc, nullptr);
  for (int l_i = 0; l_i < 100; ++l_i) l_pc[l_i] = static_cast<char>(l_i);
  EXPECT_EQ(OsMemThreadSafeAlloc("buf", 50, __FILE_NAME__, __LINE__, OS_LOG_MEM_NORMAL), l_pc);
  char* const l_pcGrown =
      static_cast<char*>(OsMemThreadSafeAlloc("buf", 1000, __FILE_NAME__, __LINE__, OS_LOG_MEM_NORMAL));
  ASSERT_NE(l_pcGrown, nullptr);
  EXPECT_NE(l_pcGrown, l_pc);
  for (int l_i = 0; l_i < 100; ++l_i) ASSERT_EQ(l_pcGrown[l_i], static_cast<char>(l_i));
  EXPECT_EQ(Impl().m_u32CC, l_u32CC + 1) << "the old block was released";
  EXPECT_EQ(OsMemThreadSafeAlloc("a:b", 10, __FILE_NAME__, __LINE__, OS_LOG_MEM_NORMAL), nullptr);
  OsMemThreadSafeFree("buf", __FILE_NAME__, __LINE__, OS_LOG_MEM_NORMAL);
  EXPECT_EQ(Impl().m_u32CC, l_u32CC);

  // A thread's buffer outlives it until a release without a name finds it gone.
  void* l_pvThread = nullptr;
  std::thread([&] {
    l_pvThread = OsMemThreadSafeAlloc("gone", 10, __FILE_NAME__, __LINE__, OS_LOG_MEM_NORMAL);
  }).join();
  ASSERT_NE(l_pvThread, nullptr);
  void* const l_pvMine = OsMemThreadSafeAlloc("mine", 10, __FILE_NAME__, __LINE__, OS_LOG_MEM_NORMAL);
  EXPECT_EQ(Impl().m_u32CC, l_u32CC + 2);
  OsMemThreadSafeFree(nullptr, __FILE_NAME__, __LINE__, OS_LOG_MEM_NORMAL);
  EXPECT_EQ(Impl().m_u32CC, l_u32CC + 1);
  OsMemSettings l_settings;
  EXPECT_EQ(OsMemFindByAddress(l_pvMine, &l_settings, true), OS_STS_SUCCESS) << "a living thread keeps its buffer";
  OsMemThreadSafeFree("mine", __FILE_NAME__, __LINE__, OS_LOG_MEM_NORMAL);
  EXPECT_EQ(Impl().m_u32CC, l_u32CC);
}

TEST_F(MemShared, ReleasesGiveBackCountersHandlesAndTemporaryFiles) {
  struct Case {
    EOSSHAREDALLOC m_eos;
    const char* m_szName;
    std::uint32_t m_u32Flags;
  };
  const Case l_acase[] = {{OS_SHAREDALLOC_CREATE, "created.bin", OS_SHARED_TRUNCATE | OS_SHARED_FLUSHFILE},
                          {OS_SHAREDALLOC_TEMPORARY, "linked.tmp", 0},
                          {OS_SHAREDALLOC_TEMPORARY, "plain.tmp", OS_SHARED_NOPAGEFILE},
                          {OS_SHAREDALLOC_OPENALWAYS, "always.bin", 0},
                          {OS_SHAREDALLOC_CREATE, nullptr, 0}};
  // The first allocation settles the share mode; count from there.
  OS_MEM_FREE(Alloc(OS_SHAREDALLOC_CREATE, Path("first.bin"), 10, 0, 10, 0));
  for (const Case& l_case : l_acase) {
    SCOPED_TRACE(l_case.m_szName != nullptr ? l_case.m_szName : "(page file)");
    const std::uint32_t l_u32CC = Impl().m_u32CC;
    const std::uint64_t l_u64CB = Impl().m_u64CB;
    const DWORD l_dwHandles = Handles();
    const std::string l_sPath = l_case.m_szName != nullptr ? Path(l_case.m_szName) : "";
    char* const l_pc = static_cast<char*>(
        OsMemSharedAlloc(l_case.m_eos, l_case.m_szName != nullptr ? l_sPath.c_str() : nullptr, 3000, 0, 3000,
                         OS_SHAREDLOCK_CREATOR, l_case.m_u32Flags, __FILE_NAME__, __LINE__));
    ASSERT_NE(l_pc, nullptr);
    EXPECT_EQ(Impl().m_u32CC, l_u32CC + 1);
    EXPECT_EQ(Impl().m_u64CB, l_u64CB + 3000);
    OS_MEM_FREE(l_pc);
    EXPECT_EQ(Impl().m_u32CC, l_u32CC);
    EXPECT_EQ(Impl().m_u64CB, l_u64CB);
    EXPECT_EQ(Handles(), l_dwHandles);
    if (l_case.m_eos == OS_SHAREDALLOC_TEMPORARY) {
      EXPECT_EQ(GetFileAttributesW(OsTestWide(l_sPath).c_str()), INVALID_FILE_ATTRIBUTES);
    }
    if ((l_case.m_u32Flags & OS_SHARED_TRUNCATE) != 0) {
      EXPECT_EQ(ReadShared(l_sPath).size(), 3000u);
    }
  }
  EXPECT_TRUE(Lines("Unrecognized eosmemtype").empty());
}

// Views hold only what lies behind their offset in the object they are cut
// from: the mapping's own size (also when a longer file is only opened), the
// file's length when the mapping takes the file. An offset at or beyond the
// object is refused.
TEST_F(MemShared, ViewsHoldOnlyWhatTheObjectHasBehindTheOffset) {
  const std::int32_t l_i32G = static_cast<std::int32_t>(m_u32Granularity);
  std::string l_sContent(100000, '\0');
  for (std::size_t l_sizet = 0; l_sizet < l_sContent.size(); ++l_sizet)
    l_sContent[l_sizet] = static_cast<char>(l_sizet % 251);
  struct Case {
    const char* m_szName;
    EOSSHAREDALLOC m_eos;
    std::size_t m_sizetFile;  // bytes written before the call, 0 for none
    std::int32_t m_i32Size;
    std::uint32_t m_u32Offset;
    std::int32_t m_i32View;
    const char* m_szForce;
    std::uint32_t m_u32Behind;  // 0: refused
  };
  const Case l_acase[] = {
      // A created file holds its size rounded up to the granularity: one
      // block, of which 5536 bytes lie behind the offset.
      {"created.bin", OS_SHAREDALLOC_CREATE, 0, l_i32G, m_u32Granularity - 5536, l_i32G, "0", 5536},
      // The whole file is the object: 30000 bytes behind 70000.
      {"opened.bin", OS_SHAREDALLOC_OPEN, 100000, -1, 70000, 100000, "0", 30000},
      {"beyond.bin", OS_SHAREDALLOC_CREATE, 0, 100, m_u32Granularity, 10, "0", 0},
      // A mapping of 100 bytes rounded up: one block of the 1 MiB file, so
      // offset 200000 is outside it, also when the whole object is mapped.
      {"always.bin", OS_SHAREDALLOC_OPENALWAYS, 1 << 20, 100, 200000, 100, "2", 0},
  };
  for (const Case& l_case : l_acase) {
    SCOPED_TRACE(l_case.m_szName);
    const std::string l_sPath = Path(l_case.m_szName);
    if (l_case.m_sizetFile != 0) {
      std::string l_sFile = l_sContent;
      l_sFile.resize(l_case.m_sizetFile, 'z');
      ASSERT_TRUE(OsTestWriteFile(OsTestWide(l_sPath), l_sFile));
    }
    OsCfgInstance()->SetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_FORCEMEMORYMAP, l_case.m_szForce);
    const std::size_t l_sizetRefused = Lines("mem>>> the offset is beyond the mapped object...").size();
    char* const l_pc = Alloc(l_case.m_eos, l_sPath, l_case.m_i32Size, l_case.m_u32Offset, l_case.m_i32View, 0);
    OsCfgInstance()->SetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_FORCEMEMORYMAP, "0");
    if (l_case.m_u32Behind == 0) {
      EXPECT_EQ(l_pc, nullptr);
      EXPECT_EQ(Lines("mem>>> the offset is beyond the mapped object...").size(), l_sizetRefused + 1);
      continue;
    }
    ASSERT_NE(l_pc, nullptr);
    EXPECT_EQ(Item(l_pc).m_u32ViewSize, l_case.m_u32Behind);
    if (l_case.m_sizetFile != 0) {
      EXPECT_EQ(l_pc[0], l_sContent[l_case.m_u32Offset]);
      EXPECT_EQ(l_pc[l_case.m_u32Behind - 1], l_sContent[l_case.m_u32Offset + l_case.m_u32Behind - 1]);
    }
    l_pc[l_case.m_u32Behind - 1] = 'e';  // the last byte is there to write
    OS_MEM_FREE(l_pc);
  }
}

// An opener of a link maps the window it asks for, not the whole memory.
TEST_F(MemShared, ALinkOpenerMapsOnlyItsWindow) {
  if (OsSysOsCode() == OS_CFG_OS_WIN2K) GTEST_SKIP() << "the page file is not the default on this system";
  const std::string l_sPath = Path("large.tmp");
  const std::int32_t l_i32Size = 16 << 20;
  char* const l_pcCreator = Alloc(OS_SHAREDALLOC_TEMPORARY, l_sPath, l_i32Size, 0, 4096, 0);
  ASSERT_NE(l_pcCreator, nullptr);
  const std::uint32_t l_u32Offset = 3 * m_u32Granularity + 100;
  char* const l_pc = Alloc(OS_SHAREDALLOC_OPEN, l_sPath, -1, l_u32Offset, 4096, 0);
  ASSERT_NE(l_pc, nullptr);
  EXPECT_EQ(Item(l_pc).m_u32Size, static_cast<std::uint32_t>(l_i32Size));
  EXPECT_EQ(Item(l_pc).m_u32ViewSize, 4096u);
  // The view begins at the offset's block; its pages reach from there just
  // past the 4096 bytes behind the pointer.
  SYSTEM_INFO l_si;
  GetSystemInfo(&l_si);
  const SIZE_T l_sizetPage = l_si.dwPageSize;
  MEMORY_BASIC_INFORMATION l_mbi;
  ASSERT_EQ(VirtualQuery(l_pc - 100, &l_mbi, sizeof(l_mbi)), sizeof(l_mbi));
  EXPECT_EQ(l_mbi.AllocationBase, static_cast<void*>(l_pc - 100));
  EXPECT_EQ(l_mbi.RegionSize, (100 + 4096 + l_sizetPage - 1) / l_sizetPage * l_sizetPage);
  OS_MEM_FREE(l_pc);
  OS_MEM_FREE(l_pcCreator);
}

// A file beyond 4 GiB: a window of it maps; "the rest of the file" does not
// fit an item's 32-bit view size and is refused, not cut.
TEST_F(MemShared, TheRestOfAFileBeyondTheItemLimitIsRefused) {
  const std::string l_sPath = Path("huge.bin");
  {
    HANDLE const l_h = CreateFileW(OsTestWide(l_sPath).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(l_h, INVALID_HANDLE_VALUE);
    LARGE_INTEGER l_li;
    l_li.QuadPart = 5ll << 30;
    const bool l_bGrown = SetFilePointerEx(l_h, l_li, nullptr, FILE_BEGIN) && SetEndOfFile(l_h);
    CloseHandle(l_h);
    if (!l_bGrown) GTEST_SKIP() << "no room for a (sparse) file of 5 GiB here";
  }
  char* const l_pc = Alloc(OS_SHAREDALLOC_OPEN, l_sPath, 100, 0, 100, 0);
  ASSERT_NE(l_pc, nullptr);
  EXPECT_EQ(Item(l_pc).m_u32ViewSize, 100u);
  OS_MEM_FREE(l_pc);
  EXPECT_EQ(Alloc(OS_SHAREDALLOC_OPEN, l_sPath, 100, 0, -1, 0), nullptr);
  EXPECT_EQ(Lines("mem>>> the rest of the file is too large for a mapped item...").size(), 1u);
}

// Cutting the file on release never applies to a link: the opener's file is
// the creator's link, which other openers still need.
TEST_F(MemShared, ReleasingAnOpenedLinkLeavesTheLinkAlone) {
  if (OsSysOsCode() == OS_CFG_OS_WIN2K) GTEST_SKIP() << "the page file is not the default on this system";
  const std::string l_sPath = Path("cut.tmp");
  char* const l_pcCreator = Alloc(OS_SHAREDALLOC_TEMPORARY, l_sPath, 1000, 0, 1000, OS_SHARED_TRUNCATE);
  ASSERT_NE(l_pcCreator, nullptr);
  const std::string l_sLink = ReadShared(l_sPath);
  ASSERT_EQ(l_sLink.compare(0, 7, "<osmem>"), 0);
  char* const l_pc = Alloc(OS_SHAREDALLOC_OPEN, l_sPath, -1, 0, -1, OS_SHARED_TRUNCATE);
  ASSERT_NE(l_pc, nullptr);
  EXPECT_EQ(Item(l_pc).m_u32Size, 1000u);
  OS_MEM_FREE(l_pc);
  EXPECT_EQ(ReadShared(l_sPath), l_sLink);
  char* const l_pcAgain = Alloc(OS_SHAREDALLOC_OPEN, l_sPath, -1, 0, -1, 0);
  ASSERT_NE(l_pcAgain, nullptr) << "the link still leads to the memory";
  EXPECT_EQ(Item(l_pcAgain).m_u32Size, 1000u);
  OS_MEM_FREE(l_pcAgain);
  OS_MEM_FREE(l_pcCreator);
}

// A release by name takes the buffers of that name only: a name too long
// for any buffer is refused (its key would match everything), and a name
// that reads like another buffer's thread id takes nothing.
TEST_F(MemShared, ThreadSafeReleaseByNameTakesOnlyThatName) {
  void* const l_pvPlain = OS_MEM_ALLOC(16, "plain");
  void* const l_pvFoo = OsMemThreadSafeAlloc("foo", 10, __FILE_NAME__, __LINE__, OS_LOG_MEM_NORMAL);
  ASSERT_NE(l_pvPlain, nullptr);
  ASSERT_NE(l_pvFoo, nullptr);
  struct Case {
    std::string m_sName;
    const char* m_szMessage;
  };
  const Case l_acase[] = {{std::string(300, 'n'), "mem>>> thread-safe name is too long..."},
                          {Hex(GetCurrentThreadId()), nullptr}};
  OsMemSettings l_settings;
  for (const Case& l_case : l_acase) {
    SCOPED_TRACE(l_case.m_sName);
    const std::size_t l_sizetPlace = Lines("mem>>> Error occurred here...").size();
    OsMemThreadSafeFree(l_case.m_sName.c_str(), __FILE_NAME__, __LINE__, OS_LOG_MEM_NORMAL);
    EXPECT_EQ(OsMemFindByAddress(l_pvPlain, &l_settings, true), OS_STS_SUCCESS);
    EXPECT_EQ(OsMemFindByAddress(l_pvFoo, &l_settings, true), OS_STS_SUCCESS);
    if (l_case.m_szMessage != nullptr) {
      EXPECT_EQ(Lines(l_case.m_szMessage).size(), 1u);
      EXPECT_EQ(Lines("mem>>> Error occurred here...").size(), l_sizetPlace + 1);
    }
  }
  OsMemThreadSafeFree("foo", __FILE_NAME__, __LINE__, OS_LOG_MEM_NORMAL);
  EXPECT_EQ(OsMemFindByAddress(l_pvFoo, &l_settings, true), OS_STS_FAIL);
  EXPECT_EQ(OsMemFindByAddress(l_pvPlain, &l_settings, true), OS_STS_SUCCESS);
  OS_MEM_FREE(l_pvPlain);
}

// Sizes beyond the allocator are refused, also where adding the slack
// would wrap and make the old small block look large enough.
TEST_F(MemShared, ThreadSafeSizesBeyondTheAllocatorAreRefused) {
  void* const l_pv = OsMemThreadSafeAlloc("big", 100, __FILE_NAME__, __LINE__, OS_LOG_MEM_NORMAL);
  ASSERT_NE(l_pv, nullptr);
  const std::uint64_t l_au64[] = {0xFFFFFFFFFFFFFFF0ull, 0x100000000ull};
  for (std::size_t l_sizet = 0; l_sizet < sizeof(l_au64) / sizeof(l_au64[0]); ++l_sizet) {
    SCOPED_TRACE(l_au64[l_sizet]);
    EXPECT_EQ(OsMemThreadSafeAlloc("big", l_au64[l_sizet], __FILE_NAME__, __LINE__, OS_LOG_MEM_NORMAL), nullptr);
    EXPECT_EQ(Lines("mem>>> a_u64Bytes is too large...").size(), l_sizet + 1);
  }
  EXPECT_EQ(OsMemThreadSafeAlloc("big", 50, __FILE_NAME__, __LINE__, OS_LOG_MEM_NORMAL), l_pv) << "the buffer stays";
  OsMemThreadSafeFree("big", __FILE_NAME__, __LINE__, OS_LOG_MEM_NORMAL);
}

int s_iForeignFrees = 0;
void ForeignFree(void*) { ++s_iForeignFrees; }

// A mapped item released as handed over (with or without another module's
// free callback) still gives back its view, mapping and file.
TEST_F(MemShared, AHandedOverMappedItemIsStillReleased) {
  OS_MEM_FREE(Alloc(OS_SHAREDALLOC_CREATE, Path("first.bin"), 10, 0, 10, 0));  // settles the share mode
  for (const bool l_bCallback : {true, false}) {
    SCOPED_TRACE(l_bCallback ? "with a free callback" : "without callbacks");
    const std::string l_sPath = Path("handed.tmp");
    const std::uint32_t l_u32CC = Impl().m_u32CC;
    const DWORD l_dwHandles = Handles();
    char* const l_pc = Alloc(OS_SHAREDALLOC_TEMPORARY, l_sPath, 3000, 0, 3000, OS_SHARED_NOPAGEFILE);
    ASSERT_NE(l_pc, nullptr);
    s_iForeignFrees = 0;
    Impl().m_pfnfree = l_bCallback ? ForeignFree : nullptr;
    OsMemFree(l_pc, __FILE_NAME__, __LINE__, OS_LOG_MEM_NORMAL | OS_MEM_HANDOVER, true);
    Impl().m_pfnfree = nullptr;
    EXPECT_EQ(s_iForeignFrees, 0) << "a view is no block of another module";
    EXPECT_EQ(Impl().m_u32CC, l_u32CC);
    EXPECT_EQ(Handles(), l_dwHandles);
    EXPECT_EQ(GetFileAttributesW(OsTestWide(l_sPath).c_str()), INVALID_FILE_ATTRIBUTES);
    MEMORY_BASIC_INFORMATION l_mbi;
    ASSERT_EQ(VirtualQuery(l_pc, &l_mbi, sizeof(l_mbi)), sizeof(l_mbi));
    EXPECT_EQ(l_mbi.State, static_cast<DWORD>(MEM_FREE)) << "the view is unmapped";
  }
}

}  // namespace
