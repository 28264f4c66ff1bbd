// The memory report: its file name, the chunk lists, the module list and
// the page map of a recorded working set, the free-chunk sizes, and the
// report of a failing allocation.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "os.h"
#include "os_cosmem_impl.h"
#include "os_costime_impl.h"
#include "os_test_services.h"

namespace {

std::vector<ULONG_PTR> s_vecWorkingSet;  // the recorded entries
DWORD s_dwModules = 0;                   // the modules the recorded list claims

BOOL WINAPI RecordedWorkingSet(HANDLE, PVOID a_pv, DWORD a_dwBytes) {
  ULONG_PTR* const l_pu = static_cast<ULONG_PTR*>(a_pv);
  l_pu[0] = s_vecWorkingSet.size();
  if (a_dwBytes < (s_vecWorkingSet.size() + 1) * sizeof(ULONG_PTR)) return SetLastError(ERROR_BAD_LENGTH), FALSE;
  for (std::size_t l_i = 0; l_i < s_vecWorkingSet.size(); ++l_i) l_pu[l_i + 1] = s_vecWorkingSet[l_i];
  return TRUE;
}

// The program's own module over and over; the system tells how many there are.
BOOL WINAPI RecordedModules(HANDLE, HMODULE* a_phmodule, DWORD a_dwBytes, LPDWORD a_pdwNeeded) {
  for (DWORD l_dw = 0; l_dw < s_dwModules && l_dw < a_dwBytes / sizeof(HMODULE); ++l_dw)
    a_phmodule[l_dw] = GetModuleHandleW(nullptr);
  *a_pdwNeeded = s_dwModules * sizeof(HMODULE);
  return TRUE;
}

const OsTimeRecord s_ostimerecord = {2024, 5, 0, 6, 14, 25, 2, 123};

class MemReport : public OsServicesTest {
 protected:
  void SetUp() override {
    OsServicesTest::SetUp();
    StartAs("memreport", "application");
    LogTo(L"mem.log");
    OsTimeFixLocal(&s_ostimerecord);
  }
  void TearDown() override {
    OsTimeFixLocal(nullptr);
    OsMemPsapiOverride(nullptr);
    OsServicesTest::TearDown();
  }
  std::wstring Path(const char* a_szName) { return OsTestWide(Item(1, 12) + "\\" + a_szName); }
  std::string Report(const char* a_szName) { return OsTestReadFile(Path(a_szName)); }
  // Reports from now on read a recorded working set (and module list when one is claimed).
  void Record(std::vector<ULONG_PTR> a_vecEntries, DWORD a_dwModules = 0) {
    s_vecWorkingSet = std::move(a_vecEntries);
    s_dwModules = a_dwModules;
    m_psapi = {RecordedWorkingSet, a_dwModules != 0 ? RecordedModules : nullptr, nullptr};
    OsMemPsapiOverride(&m_psapi);
  }
  std::string Recorded(std::vector<ULONG_PTR> a_vecEntries, DWORD a_dwModules = 0) {
    Record(std::move(a_vecEntries), a_dwModules);
    OsMemInstance()->DumpSystem("rec.txt");
    return Report("rec_142502123.txt");
  }
  static std::string Line(const void* a_pvStart, const void* a_pvEnd, const char* a_szMb) {
    char l_sz[128];
    SStrPrintf(l_sz, sizeof(l_sz), "  %p:%p %12s MB\r\n", a_pvStart, a_pvEnd, a_szMb);
    return l_sz;
  }
  OsMemPsapi m_psapi = {};
};

std::string Repeat(const std::string& a_s, int a_i) {
  std::string l_s;
  while (a_i-- > 0) l_s += a_s;
  return l_s;
}

TEST_F(MemReport, FailingAllocationAndUnnamedReportsInTheLogDirectory) {
  // The whole report, up to its page map, is written while the failing
  // allocation holds the manager's lock.
  Record({0x40000 | 1}, 1);
  OsMemFailAfter(0);
  EXPECT_EQ(OS_MEM_ALLOC(100, nullptr), nullptr);
  const std::string l_sCrash = Report("QrxMemCrash_142502123.txt");
  EXPECT_EQ(l_sCrash.rfind("QRX Memory Dump (2024/05/06 14:25:02.123)\r\n\r\nApplication:", 0), 0u) << l_sCrash;
  char l_szMap[128];
  SStrPrintf(l_szMap, sizeof(l_szMap), "\r\n\r\n%p r%s\r\n", (void*)0x40000, std::string(63, '.').c_str());
  EXPECT_EQ(l_sCrash.substr(l_sCrash.find("Memory Dump\r\n") + 13 + 73), l_szMap) << l_sCrash;
  OsMemPsapiOverride(nullptr);
  OsMemInstance()->DumpSystem(nullptr);
  const std::string l_s = Report("QrxMem_142502123.txt");
  EXPECT_NE(GetFileAttributesW(Path("QrxMem_142502123.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  if (OsTestIsWine()) {
    EXPECT_TRUE(l_s.empty());  // created, then the working set cannot be read
    EXPECT_EQ(Count("mem>>> QueryWorkingSet failed..."), 1u);
  } else {
    EXPECT_EQ(l_s.rfind("QRX Memory Dump (2024/05/06 14:25:02.123)\r\n\r\nApplication:", 0), 0u) << l_s;
  }
}

TEST_F(MemReport, OneContiguousRunAndManyModules) {
  const std::string l_s = Recorded({0x12000 | 1, 0x10000 | 1, 0x11000 | 1}, 300);
  EXPECT_NE(l_s.find("Pages:                       3\r\nFree Chunks:                 1\r\n"
                     "Used Chunks:                 1\r\n"),
            std::string::npos);
  const std::string l_sZero = Line(nullptr, nullptr, "0.000");
  EXPECT_NE(l_s.find("Free Chunks in User-Space:\r\n" + Line(nullptr, (void*)0x10000, "0.070") + Repeat(l_sZero, 15) +
                     "\r\nTop 16 Largest Contiguous Used Chunks in User-Space:\r\n" +
                     Line((void*)0x10000, (void*)0x12000, "0.012") + Repeat(l_sZero, 15) + "\r\nDLLs\r\n"),
            std::string::npos)
      << l_s;
  EXPECT_EQ(Count("mem>>> Only got 300 of 256 modules..."), 1u);
  const std::size_t l_sizetDlls = l_s.find("Filename\r\n" + std::string(73, '~') + "\r\n");
  const std::size_t l_sizetKey = l_s.find("\r\nKey\r\n");
  ASSERT_LT(l_sizetDlls, l_sizetKey);
  std::size_t l_sizetLines = 0;
  for (std::size_t l_i = l_sizetDlls; l_i < l_sizetKey; ++l_i) l_sizetLines += l_s[l_i] == '\n';
  EXPECT_EQ(l_sizetLines, 2u + 256u);
}

// Pages below the map, in two adjacent blocks and one further off, with
// every kind of letter; given out of order.
const std::vector<ULONG_PTR> s_vecMapped = {0x200000 | 2,        0x40000 | 1,          0x10000 | 1,
                                            0x41000 | 4 | 0x100, 0x43000 | 13 | 0x100, 0x7F000 | 24,
                                            0x80000 | 5 | 0x100, 0x201000 | 30 | 0x100};

TEST_F(MemReport, PageMap) {
  const std::string l_s = Recorded(s_vecMapped);
  char l_sz[512];
  SStrPrintf(l_sz, sizeof(l_sz), "%p rW.c%s?\r\n%p C%s\r\n\r\n%p xG%s\r\n", (void*)0x40000,
             std::string(59, '.').c_str(), (void*)0x80000, std::string(63, '.').c_str(), (void*)0x200000,
             std::string(62, '.').c_str());
  const std::string l_sHead = "Memory Dump\r\n" + std::string(73, '~') + "\r\n\r\n";
  ASSERT_NE(l_s.find(l_sHead), std::string::npos) << l_s;
  EXPECT_EQ(l_s.substr(l_s.find(l_sHead) + l_sHead.size()), l_sz);
}

TEST_F(MemReport, FreeChunkSizesLargestFirst) {
  Record(s_vecMapped);
  OsMemList l_list;
  ASSERT_EQ(OsMemGetFreeChunks(&l_list), OS_STS_SUCCESS);
  // Runs 0x10000, 0x40000-0x41000, 0x43000, 0x7F000-0x80000, 0x200000-0x201000.
  const std::uint64_t l_au64[OS_MEM_LIST_SIZE] = {0x181000, 0x3D000, 0x31000, 0x11000, 0x3000};
  EXPECT_EQ(l_list.m_u32Count, 16u);
  for (int l_i = 0; l_i < OS_MEM_LIST_SIZE; ++l_i) EXPECT_EQ(l_list.m_au64Size[l_i], l_au64[l_i]) << l_i;
}

}  // namespace
