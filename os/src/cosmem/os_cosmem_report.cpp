// The memory report: the system's memory status, the largest free and used
// stretches of the address space as the working set shows them, the loaded
// modules and a page map, written into the log directory; and the sizes of
// the largest free stretches alone.
//
// A failing allocation writes the report while it holds the manager's lock,
// so nothing here may come back to the manager: buffers come from the global
// heap, text is formatted on the stack, and the file object is used only for
// opening and writing (its formatted print allocates through the manager).
#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "os_coscfg.h"
#include "os_coscfg_sysinfo.h"
#include "os_cosfile.h"
#include "os_coslocale.h"
#include "os_cosmem_impl.h"
#include "os_cosstring.h"
#include "os_costime.h"
#include "os_log.h"
#include "os_scoped.h"
#include "os_sysinfo.h"

namespace {

constexpr std::uintptr_t OS_MEM_PAGE = 4096;
constexpr std::uintptr_t OS_MEM_PAGE_MASK = ~static_cast<std::uintptr_t>(0xFFF);
constexpr std::uintptr_t OS_MEM_PROTECTION_MASK = 0x1F;
constexpr std::uintptr_t OS_MEM_SHARED_BIT = 0x100;
// The page map: one line per 64 pages, from the first block on.
constexpr std::uintptr_t OS_MEM_MAP_BLOCK = 0x40000;
constexpr int OS_MEM_MAP_PAGES = 64;
constexpr std::uintptr_t OS_MEM_MAP_START = 0x40000;
constexpr DWORD OS_MEM_MAX_MODULES = 256;
// A module line: address, size and a UTF-8 path of up to MAX_PATH wide characters.
constexpr std::size_t OS_MEM_MODULE_LINE = 64 + 3 * MAX_PATH;
// The longest line is the summary with two module paths.
constexpr std::size_t OS_MEM_REPORT_LINE = 4096;
constexpr double OS_MEM_MB = 1000000.0;
constexpr char s_szRule[] = "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~";  // 73
static_assert(sizeof(s_szRule) == 74, "the rule is 73 characters");

const OsMemPsapi* s_posmempsapiOverride = nullptr;

// psapi.dll for one report, unloaded with the object.
class CPsapi {
 public:
  // a_bModules: the module calls are needed too.
  bool Load(bool a_bModules) {
    wchar_t l_wszPath[MAX_PATH];
    m_module.Reset(OsSysLoadLibrary(L"psapi.dll", l_wszPath));
    if (!m_module.IsValid()) {
      OS_LOGE("mem>>> sorry, can't find psapi.dll...");
      return false;
    }
    // A test's stand-in replaces a call that is there, never a missing one.
    const OsMemPsapi l_override = s_posmempsapiOverride != nullptr ? *s_posmempsapiOverride : OsMemPsapi{};
    HMODULE const l_hmodule = m_module.Get();
    if (!OsSysResolve(l_hmodule, "QueryWorkingSet", &m_api.m_pfnQueryWorkingSet)) {
      OS_LOGE("mem>>> sorry, can't load QueryWorkingSet...");
      return false;
    }
    if (l_override.m_pfnQueryWorkingSet != nullptr) m_api.m_pfnQueryWorkingSet = l_override.m_pfnQueryWorkingSet;
    if (!a_bModules) return true;
    if (!OsSysResolve(l_hmodule, "EnumProcessModules", &m_api.m_pfnEnumProcessModules)) {
      OS_LOGE("mem>>> sorry, can't load EnumProcessModules...");
      return false;
    }
    if (l_override.m_pfnEnumProcessModules != nullptr)
      m_api.m_pfnEnumProcessModules = l_override.m_pfnEnumProcessModules;
    if (!OsSysResolve(l_hmodule, "GetModuleInformation", &m_api.m_pfnGetModuleInformation)) {
      OS_LOGE("mem>>> sorry, can't load GetModuleInformation...");
      return false;
    }
    if (l_override.m_pfnGetModuleInformation != nullptr)
      m_api.m_pfnGetModuleInformation = l_override.m_pfnGetModuleInformation;
    return true;
  }
  const OsMemPsapi& Api() const { return m_api; }

 private:
  COsModule m_module;
  OsMemPsapi m_api = {};
};

// A zero-filled block of the global heap, freed with the object.
class CGlobalBlock {
 public:
  ~CGlobalBlock() {
    if (m_pv != nullptr) GlobalFree(m_pv);
  }
  void* Alloc(SIZE_T a_sizet) {
    m_pv = GlobalAlloc(GPTR, a_sizet);
    if (m_pv == nullptr) OS_LOGE("mem>>> GlobalAlloc failed...");
    return m_pv;
  }

 private:
  HGLOBAL m_pv = nullptr;
};

// The process's working set, its entries sorted by page address.
class CWorkingSet {
 public:
  bool Query(const OsMemPsapi& a_api) {
    const HANDLE l_hProcess = GetCurrentProcess();
    // The first question only learns the length: 8 bytes hold the count.
    ULONG_PTR l_auProbe[2] = {0, 0};
    if (!a_api.m_pfnQueryWorkingSet(l_hProcess, l_auProbe, 8)) {
      const DWORD l_dwError = GetLastError();
      if (l_dwError != ERROR_BAD_LENGTH && l_dwError != ERROR_INSUFFICIENT_BUFFER) {
        OS_LOGE("mem>>> QueryWorkingSet failed...");
        return false;
      }
    }
    // Room for the set growing while it is read; the size must fit a DWORD.
    constexpr std::uintptr_t l_uMaxRoom = MAXDWORD / sizeof(ULONG_PTR) - 1;
    const std::uintptr_t l_uCount = l_auProbe[0];
    const std::uintptr_t l_uRoom = l_uCount < (l_uMaxRoom - 4096) / 4 ? 4 * l_uCount + 4096 : l_uMaxRoom;
    const SIZE_T l_sizetBytes = (l_uRoom + 1) * sizeof(ULONG_PTR);
    ULONG_PTR* const l_pu = static_cast<ULONG_PTR*>(m_block.Alloc(l_sizetBytes));
    if (l_pu == nullptr) return false;
    if (!a_api.m_pfnQueryWorkingSet(l_hProcess, l_pu, static_cast<DWORD>(l_sizetBytes))) {
      OS_LOGE("mem>>> QueryWorkingSet failed...");
      return false;
    }
    m_sizetCount = l_pu[0];
    if (m_sizetCount > l_uRoom) {
      OS_LOGE("mem>>> Buffer overflow (we'll keep going)...%ld %ld", static_cast<long>(m_sizetCount),
              static_cast<long>(l_uRoom));
      m_sizetCount = l_uRoom;
    }
    m_puEntries = l_pu + 1;
    std::sort(m_puEntries, m_puEntries + m_sizetCount, [](ULONG_PTR a_uLhs, ULONG_PTR a_uRhs) {
      return (a_uLhs & OS_MEM_PAGE_MASK) < (a_uRhs & OS_MEM_PAGE_MASK);
    });
    return true;
  }
  const ULONG_PTR* Entries() const { return m_puEntries; }
  std::size_t Count() const { return m_sizetCount; }

 private:
  CGlobalBlock m_block;
  ULONG_PTR* m_puEntries = nullptr;
  std::size_t m_sizetCount = 0;
};

struct OsMemChunk {
  std::uintptr_t m_uStart;
  std::uintptr_t m_uEnd;
  std::uintptr_t m_uSize;
};

// The 16 largest chunks, smallest first; zero-filled until offered more.
struct OsMemTop {
  OsMemChunk m_achunk[OS_MEM_LIST_SIZE] = {};

  void Offer(std::uintptr_t a_uStart, std::uintptr_t a_uEnd, std::uintptr_t a_uSize) {
    if (a_uSize <= m_achunk[0].m_uSize) return;
    int l_i = 0;
    for (; l_i + 1 < OS_MEM_LIST_SIZE && m_achunk[l_i + 1].m_uSize < a_uSize; ++l_i) m_achunk[l_i] = m_achunk[l_i + 1];
    m_achunk[l_i] = OsMemChunk{a_uStart, a_uEnd, a_uSize};
  }
  const OsMemChunk& Largest(int a_iRank) const { return m_achunk[OS_MEM_LIST_SIZE - 1 - a_iRank]; }
};

// The runs of pages 4096 bytes apart, up to the total virtual memory size.
// Before each run lies a free chunk from the previous run's last page (0 for
// the first run) to the run's first page. Every entry counts, the last one
// included.
struct OsMemChunks {
  OsMemTop m_osmemtopFree;
  OsMemTop m_osmemtopUsed;
  int m_iFree = 0;
  int m_iUsed = 0;

  void Scan(const CWorkingSet& a_workingset) {
    const std::uint64_t l_u64Top = OsCfgSysGetNumber64(OS_CFGINFO_MEM_TOTALVIRTUAL, 0);
    std::uintptr_t l_uPrevious = 0;
    std::uintptr_t l_uFirst = 0;
    std::uintptr_t l_uLast = 0;
    bool l_bInRun = false;
    for (std::size_t l_i = 0; l_i < a_workingset.Count(); ++l_i) {
      const std::uintptr_t l_uPage = a_workingset.Entries()[l_i] & OS_MEM_PAGE_MASK;
      if (l_uPage > l_u64Top) break;
      if (l_bInRun && (l_uPage == l_uLast || l_uPage == l_uLast + OS_MEM_PAGE)) {
        l_uLast = l_uPage;
        continue;
      }
      if (l_bInRun) {
        Used(l_uFirst, l_uLast);
        l_uPrevious = l_uLast;
      }
      ++m_iFree;
      m_osmemtopFree.Offer(l_uPrevious, l_uPage, l_uPage - l_uPrevious + OS_MEM_PAGE);
      l_uFirst = l_uLast = l_uPage;
      l_bInRun = true;
    }
    if (l_bInRun) Used(l_uFirst, l_uLast);
  }

 private:
  void Used(std::uintptr_t a_uFirst, std::uintptr_t a_uLast) {
    ++m_iUsed;
    m_osmemtopUsed.Offer(a_uFirst, a_uLast, a_uLast - a_uFirst + OS_MEM_PAGE);
  }
};

// The report file, written line by line from a buffer on the stack.
class CReportFile {
 public:
  bool Create(const char* a_szPath) {
    return m_osfile.Open(a_szPath, OS_FILE_OPEN_CREATE, OS_FILE_ACCESS_WRITE, OS_FILE_SHARE_READ) == OS_STS_SUCCESS;
  }
  void Put(const char* a_sz) { m_osfile.Write(a_sz, static_cast<std::uint32_t>(std::strlen(a_sz)), nullptr); }
  void Printf(const char* a_szFormat, ...) OS_FORMAT_PRINTF(2, 3) {
    va_list l_valist;
    va_start(l_valist, a_szFormat);
    const int l_i = SStrVprintf(m_szLine, sizeof(m_szLine), a_szFormat, l_valist);
    va_end(l_valist);
    if (l_i > 0) m_osfile.Write(m_szLine, static_cast<std::uint32_t>(l_i), nullptr);
  }

 private:
  COsFile m_osfile;
  char m_szLine[OS_MEM_REPORT_LINE];
};

double Mb(std::uint64_t a_u64Bytes) { return static_cast<double>(a_u64Bytes) / OS_MEM_MB; }

void* Ptr(std::uintptr_t a_u) { return reinterpret_cast<void*>(a_u); }

// A module's full path as UTF-8 (empty when the system cannot tell).
void ModulePath(HMODULE a_hmodule, char* a_sz, std::size_t a_sizet) {
  wchar_t l_wsz[MAX_PATH];
  const DWORD l_dw = GetModuleFileNameW(a_hmodule, l_wsz, MAX_PATH);
  a_sz[0] = 0;
  if (l_dw == 0 || l_dw >= MAX_PATH) return;
  if (CopyUtf8FromUnicode(a_sz, a_sizet, l_wsz, -1) <= 0) a_sz[0] = 0;
}

// The report's file: the log directory, the name with the time suffix in
// front of its extension; false without a log directory or when it does not fit.
bool ReportPath(const char* a_szName, const OsTimeRecord& a_ostimerecord, char (&a_szPath)[OS_PATH_SIZE]) {
  a_szPath[0] = 0;
  COsCfg* const l_poscfg = OsCfgInstance();
  const char* const l_szDirectory =
      l_poscfg != nullptr ? l_poscfg->GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_LOGDIRECTORY) : nullptr;
  if (l_szDirectory == nullptr || l_szDirectory[0] == 0) return false;
  char l_szSuffix[32];
  SStrPrintf(l_szSuffix, sizeof(l_szSuffix), "_%02d%02d%02d%03d", a_ostimerecord.m_u16Hour, a_ostimerecord.m_u16Minute,
             a_ostimerecord.m_u16Second, a_ostimerecord.m_u16Millisecond);
  SStrCpy(a_szPath, sizeof(a_szPath), l_szDirectory);
  if (a_szName == nullptr || a_szName[0] == 0)
    return OsFilePathAppend(a_szPath, sizeof(a_szPath), "QrxMem") &&
           SStrCatf(a_szPath, sizeof(a_szPath), "%s.txt", l_szSuffix) > 0;
  if (!OsFilePathAppend(a_szPath, sizeof(a_szPath), a_szName)) return false;
  char* const l_pszDot = std::strrchr(a_szPath, '.');
  const char* const l_pszSeparator = std::strrchr(a_szPath, '\\');
  if (l_pszDot == nullptr || (l_pszSeparator != nullptr && l_pszDot < l_pszSeparator))
    return SStrCatf(a_szPath, sizeof(a_szPath), "%s", l_szSuffix) > 0;
  char l_szExtension[OS_PATH_SIZE];
  SStrCpy(l_szExtension, sizeof(l_szExtension), l_pszDot);
  *l_pszDot = 0;
  return SStrCatf(a_szPath, sizeof(a_szPath), "%s%s", l_szSuffix, l_szExtension) > 0;
}

void WriteTop(CReportFile& a_file, const char* a_szTitle, const OsMemTop& a_osmemtop) {
  a_file.Put(a_szTitle);
  for (int l_i = 0; l_i < OS_MEM_LIST_SIZE; ++l_i) {
    const OsMemChunk& l_chunk = a_osmemtop.Largest(l_i);
    a_file.Printf("  %p:%p %12.3f MB\r\n", Ptr(l_chunk.m_uStart), Ptr(l_chunk.m_uEnd), Mb(l_chunk.m_uSize));
  }
  a_file.Put("\r\n");
}

// The module lines, sorted as text (which is by address); false when the
// modules cannot be listed.
bool WriteModules(CReportFile& a_file, const OsMemPsapi& a_api) {
  const HANDLE l_hProcess = GetCurrentProcess();
  HMODULE l_ahmodule[OS_MEM_MAX_MODULES] = {};
  DWORD l_dwNeeded = 0;
  const BOOL l_bListed = a_api.m_pfnEnumProcessModules(l_hProcess, l_ahmodule, sizeof(l_ahmodule), &l_dwNeeded);
  if (!l_bListed && GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    OS_LOGE("mem>>> QueryWorkingSet failed...");
    return false;
  }
  DWORD l_dwModules = static_cast<DWORD>(l_dwNeeded / sizeof(HMODULE));
  if (!l_bListed || l_dwModules > OS_MEM_MAX_MODULES) {
    OS_LOGE("mem>>> Only got %d of %d modules...", static_cast<int>(l_dwModules), static_cast<int>(OS_MEM_MAX_MODULES));
    l_dwModules = std::min(l_dwModules, OS_MEM_MAX_MODULES);
  }
  CGlobalBlock l_block;
  char* const l_szLines = static_cast<char*>(l_block.Alloc(OS_MEM_MAX_MODULES * OS_MEM_MODULE_LINE));
  if (l_szLines == nullptr) return false;
  const char* l_aszLine[OS_MEM_MAX_MODULES];
  for (DWORD l_dw = 0; l_dw < l_dwModules; ++l_dw) {
    MODULEINFO l_moduleinfo = {};
    if (!a_api.m_pfnGetModuleInformation(l_hProcess, l_ahmodule[l_dw], &l_moduleinfo, sizeof(l_moduleinfo))) {
      l_moduleinfo.lpBaseOfDll = l_ahmodule[l_dw];  // a module's handle is its base
      l_moduleinfo.SizeOfImage = 0;
    }
    char l_szPath[OS_MEM_MODULE_LINE - 64];
    ModulePath(l_ahmodule[l_dw], l_szPath, sizeof(l_szPath));
    char* const l_szLine = l_szLines + l_dw * OS_MEM_MODULE_LINE;
    SStrPrintf(l_szLine, OS_MEM_MODULE_LINE, "%p %10d %s\r\n", l_moduleinfo.lpBaseOfDll,
               static_cast<int>(l_moduleinfo.SizeOfImage), l_szPath);
    l_aszLine[l_dw] = l_szLine;
  }
  std::sort(l_aszLine, l_aszLine + l_dwModules,
            [](const char* a_szLhs, const char* a_szRhs) { return std::strcmp(a_szLhs, a_szRhs) < 0; });
  a_file.Put("DLLs\r\nAddress    Size     Filename\r\n");
  a_file.Printf("%s\r\n", s_szRule);
  for (DWORD l_dw = 0; l_dw < l_dwModules; ++l_dw) a_file.Put(l_aszLine[l_dw]);
  return true;
}

// One page of the map by its protection; upper case for a shared page,
// except for "?" and the copy-on-write value 13.
char PageLetter(std::uintptr_t a_uEntry) {
  char l_c = 'g';
  switch (a_uEntry & OS_MEM_PROTECTION_MASK) {
    case 0:
    case 8:
    case 16:
    case 24: return '?';
    case 13: return 'c';
    case 1:
    case 9: l_c = 'r'; break;
    case 2:
    case 3:
    case 6:
    case 7:
    case 10:
    case 11:
    case 14:
    case 15: l_c = 'x'; break;
    case 4:
    case 12: l_c = 'w'; break;
    case 5: l_c = 'c'; break;
    default: break;
  }
  return (a_uEntry & OS_MEM_SHARED_BIT) != 0 ? static_cast<char>(l_c - 'a' + 'A') : l_c;
}

// The blocks of 64 pages that hold a page of the working set, from the first
// block up to the highest application address. The address space may be
// 128 TB: the sorted entries are walked, never the blocks.
void WritePageMap(CReportFile& a_file, const CWorkingSet& a_workingset) {
  SYSTEM_INFO l_systeminfo;
  GetSystemInfo(&l_systeminfo);
  const std::uintptr_t l_uTop = reinterpret_cast<std::uintptr_t>(l_systeminfo.lpMaximumApplicationAddress);
  const ULONG_PTR* const l_puEntries = a_workingset.Entries();
  const std::size_t l_sizetCount = a_workingset.Count();
  std::uintptr_t l_uWritten = 0;
  bool l_bAny = false;
  std::size_t l_i = 0;
  while (l_i < l_sizetCount) {
    const std::uintptr_t l_uPage = l_puEntries[l_i] & OS_MEM_PAGE_MASK;
    if (l_uPage < OS_MEM_MAP_START) {
      ++l_i;
      continue;
    }
    const std::uintptr_t l_uBlock = l_uPage & ~(OS_MEM_MAP_BLOCK - 1);
    if (l_uBlock > l_uTop) break;
    char l_szPages[OS_MEM_MAP_PAGES + 1];
    std::memset(l_szPages, '.', OS_MEM_MAP_PAGES);
    l_szPages[OS_MEM_MAP_PAGES] = 0;
    for (; l_i < l_sizetCount && (l_puEntries[l_i] & ~(OS_MEM_MAP_BLOCK - 1)) == l_uBlock; ++l_i)
      l_szPages[((l_puEntries[l_i] & OS_MEM_PAGE_MASK) - l_uBlock) / OS_MEM_PAGE] = PageLetter(l_puEntries[l_i]);
    if (l_bAny && l_uBlock != l_uWritten + OS_MEM_MAP_BLOCK) a_file.Put("\r\n");
    a_file.Printf("%p %s\r\n", Ptr(l_uBlock), l_szPages);
    l_uWritten = l_uBlock;
    l_bAny = true;
  }
}

void WriteReport(const char* a_szName) {
  OS_LOGI("mem>>> DumpSystem running...");
  OsTimeRecord l_ostimerecord = {};
  OsTimeGetLocal(&l_ostimerecord, 0);
  char l_szPath[OS_PATH_SIZE];
  CReportFile l_file;
  if (!ReportPath(a_szName, l_ostimerecord, l_szPath) || !l_file.Create(l_szPath)) {
    OS_LOGE("mem>>> error creating...<%s>", l_szPath[0] != 0 ? l_szPath : (a_szName != nullptr ? a_szName : ""));
    return;
  }
  CPsapi l_psapi;
  if (!l_psapi.Load(true)) return;
  MEMORYSTATUSEX l_memorystatus = {};
  l_memorystatus.dwLength = sizeof(l_memorystatus);
  GlobalMemoryStatusEx(&l_memorystatus);
  CWorkingSet l_workingset;
  if (!l_workingset.Query(l_psapi.Api())) return;

  l_file.Printf("QRX Memory Dump (%04d/%02d/%02d %02d:%02d:%02d.%03d)\r\n\r\n", l_ostimerecord.m_u16Year,
                l_ostimerecord.m_u16Month, l_ostimerecord.m_u16Day, l_ostimerecord.m_u16Hour,
                l_ostimerecord.m_u16Minute, l_ostimerecord.m_u16Second, l_ostimerecord.m_u16Millisecond);
  OsMemChunks l_chunks;
  l_chunks.Scan(l_workingset);
  char l_szApplication[OS_MEM_MODULE_LINE];
  char l_szModule[OS_MEM_MODULE_LINE];
  ModulePath(nullptr, l_szApplication, sizeof(l_szApplication));
  ModulePath(OsSysLibraryModule(), l_szModule, sizeof(l_szModule));
  l_file.Printf(
      "Application:          %s\r\nModule:               %s\r\n\r\nMemory Load:          %d%% in use\r\n"
      "Total Physical:   %12.3f MB\r\nTotal Virtual:    %12.3f MB\r\nTotal Pagefile:   %12.3f MB\r\n"
      "Avail Physical:   %12.3f MB\r\nAvail Virtual:    %12.3f MB\r\nAvail Pagefile:   %12.3f MB\r\n"
      "Avail Extended:   %12.3f MB\r\n\r\nBytes:            %12.3f MB\r\nPages:            %12d\r\n"
      "Free Chunks:      %12d\r\nUsed Chunks:      %12d\r\n\r\n",
      l_szApplication, l_szModule, static_cast<int>(l_memorystatus.dwMemoryLoad), Mb(l_memorystatus.ullTotalPhys),
      Mb(l_memorystatus.ullTotalVirtual), Mb(l_memorystatus.ullTotalPageFile), Mb(l_memorystatus.ullAvailPhys),
      Mb(l_memorystatus.ullAvailVirtual), Mb(l_memorystatus.ullAvailPageFile),
      Mb(l_memorystatus.ullAvailExtendedVirtual), Mb(static_cast<std::uint64_t>(l_workingset.Count()) * OS_MEM_PAGE),
      static_cast<int>(l_workingset.Count()), l_chunks.m_iFree, l_chunks.m_iUsed);
  WriteTop(l_file, "Top 16 Largest Contiguous Free Chunks in User-Space:\r\n", l_chunks.m_osmemtopFree);
  WriteTop(l_file, "Top 16 Largest Contiguous Used Chunks in User-Space:\r\n", l_chunks.m_osmemtopUsed);
  if (!WriteModules(l_file, l_psapi.Api())) return;

  l_file.Printf("\r\nKey\r\n%s", s_szRule);
  l_file.Put(
      "\r\n\r\nr - readonly          w - read/write       x - executable\r\n"
      "c - copy-on-write     g - guard page       ? - not accessed\r\n"
      ". - free              (uppercase means it's shared)\r\n\r\n");
  l_file.Printf("Memory Dump\r\n%s\r\n\r\n", s_szRule);
  WritePageMap(l_file, l_workingset);
}

}  // namespace

void COsMem::DumpSystem(const char* a_szName) {
  OS_RETURN_IF_NULL(m_posmemimpl, OS_LOG_ASSERT, "mem>>> m_posmemimpl is null...", );
  WriteReport(a_szName);
}

void OsMemWriteCrashReport(const char* a_szName) {
  // The failing allocation's caller may still ask why it failed.
  const DWORD l_dwError = GetLastError();
  COsMem* const l_posmem = OsMemInstance();
  if (l_posmem != nullptr && l_posmem->m_posmemimpl != nullptr)
    l_posmem->DumpSystem(a_szName);
  else
    WriteReport(a_szName);
  SetLastError(l_dwError);
}

EOSSTS OsMemGetFreeChunks(OsMemList* a_posmemlist) {
  OS_RETURN_IF_NULL(a_posmemlist, OS_LOG_ASSERT, "mem>>> a_posmemlist is null...", OS_STS_FAIL);
  std::memset(a_posmemlist, 0, sizeof(*a_posmemlist));
  CPsapi l_psapi;
  if (!l_psapi.Load(false)) return OS_STS_FAIL;
  CWorkingSet l_workingset;
  if (!l_workingset.Query(l_psapi.Api())) return OS_STS_FAIL;
  OsMemChunks l_chunks;
  l_chunks.Scan(l_workingset);
  a_posmemlist->m_u32Count = OS_MEM_LIST_SIZE;
  for (int l_i = 0; l_i < OS_MEM_LIST_SIZE; ++l_i)
    a_posmemlist->m_au64Size[l_i] = l_chunks.m_osmemtopFree.Largest(l_i).m_uSize;
  return OS_STS_SUCCESS;
}

void OsMemPsapiOverride(const OsMemPsapi* a_posmempsapi) { s_posmempsapiOverride = a_posmempsapi; }
