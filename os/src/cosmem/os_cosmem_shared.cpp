// Shared and mapped memory: views of files and page-file memory reached by
// other processes through a link file, their items in the tracking table,
// remapping, the first-byte file lock, the share mode, the per-thread named
// buffers and CleanRam.
#include <cstdlib>
#include <cstring>

#include "os_coscfg.h"
#include "os_coscfg_sysinfo.h"
#include "os_coslocale.h"
#include "os_coslog.h"
#include "os_cosmem_impl.h"
#include "os_cosstring.h"
#include "os_log.h"
#include "os_scoped.h"
#include "os_sysinfo.h"

namespace {

// A link file is shorter than this, and so is every link text with its
// terminator.
constexpr std::uint32_t OS_MEM_LINK_SIZE = 256;
constexpr char s_szLinkMark[] = "<osmem>";
// The bytes behind each thread-safe block that make a grown request fit.
constexpr std::uint64_t OS_MEM_SLACK = 64;
constexpr std::size_t OS_MEM_THREADSAFE_NAME_SIZE = 64;  // at most 63 characters

COsMemImpl* Impl() {
  COsMem* const l_posmem = OsMemInstance();
  return l_posmem != nullptr ? l_posmem->m_posmemimpl : nullptr;
}

bool LogEnabled() {
  COsLog* const l_poslog = OsLogInstance();
  return l_poslog != nullptr && OsLogGetDebug(l_poslog) != 0;
}

void PlaceLine(const char* a_szFile, int a_iLine) {
  OsLogPrint(OsLogInstance(), a_szFile, a_iLine, OS_LOG_ERROR, "mem>>> Error occurred here...");
}

// The end of a shared allocation refused before anything was opened: the
// caller's place, the table and the crash report, as for every failure.
void* Refused(const char* a_szFile, int a_iLine) {
  PlaceLine(a_szFile, a_iLine);
  if (Impl() != nullptr) OsMemDump(nullptr);
  OsMemWriteCrashReport("QrxMemCrash.txt");
  return nullptr;
}

std::uint64_t RoundUp(std::uint64_t a_u64, std::uint32_t a_u32Granularity) {
  return (a_u64 + a_u32Granularity - 1) / a_u32Granularity * a_u32Granularity;
}

DWORD High(std::uint64_t a_u64) { return static_cast<DWORD>(a_u64 >> 32); }
DWORD Low(std::uint64_t a_u64) { return static_cast<DWORD>(a_u64 & 0xFFFFFFFFu); }

// The base of the view that holds a mapped item's pointer.
void* ViewBase(const COsMemImpl* a_posmemimpl, void* a_pv, std::uint32_t a_u32Offset, std::uint32_t a_u32Flags) {
  if ((a_u32Flags & OS_SHAREDITEM_WHOLEFILE) != 0) return static_cast<char*>(a_pv) - a_u32Offset;
  const std::uintptr_t l_u = reinterpret_cast<std::uintptr_t>(a_pv);
  return reinterpret_cast<void*>(l_u - l_u % a_posmemimpl->m_u32Granularity);
}

// Flushing is skipped for views that never write back to a file of their own.
bool FlushesView(std::uint32_t a_u32Flags) {
  return (a_u32Flags & (OS_SHAREDITEM_READONLY | OS_SHAREDITEM_COPYONWRITE | OS_SHAREDITEM_TEMPORARY)) == 0;
}

void LogMode(int a_iMode) {
  switch (a_iMode) {
    case OS_SHAREDMODE_UNDEFINED: OS_LOGI("mem>>> shared mode is OS_SHAREDMODE_UNDEFINED"); break;
    case OS_SHAREDMODE_MAPFILEASNEEDED: OS_LOGI("mem>>> shared mode is OS_SHAREDMODE_MAPFILEASNEEDED"); break;
    case OS_SHAREDMODE_MAPFILEALL: OS_LOGI("mem>>> shared mode is OS_SHAREDMODE_MAPFILEALL"); break;
    case OS_SHAREDMODE_MAPPAGEFILEASNEEDED: OS_LOGI("mem>>> shared mode is OS_SHAREDMODE_MAPPAGEFILEASNEEDED"); break;
    case OS_SHAREDMODE_MAPPAGEFILEALL: OS_LOGI("mem>>> shared mode is OS_SHAREDMODE_MAPPAGEFILEALL"); break;
    case OS_SHAREDMODE_LAST: OS_LOGI("mem>>> shared mode is OS_SHAREDMODE_LAST"); break;
    default: OS_LOGI("mem>>> shared mode is unknown...%d", a_iMode); break;
  }
}

void LogNewMode(int a_iMode) {
  switch (a_iMode) {
    case OS_SHAREDMODE_UNDEFINED: OS_LOGI("mem>>> new shared mode is OS_SHAREDMODE_UNDEFINED"); break;
    case OS_SHAREDMODE_MAPFILEASNEEDED: OS_LOGI("mem>>> new shared mode is OS_SHAREDMODE_MAPFILEASNEEDED"); break;
    case OS_SHAREDMODE_MAPFILEALL: OS_LOGI("mem>>> new shared mode is OS_SHAREDMODE_MAPFILEALL"); break;
    case OS_SHAREDMODE_MAPPAGEFILEASNEEDED:
      OS_LOGI("mem>>> new shared mode is OS_SHAREDMODE_MAPPAGEFILEASNEEDED");
      break;
    case OS_SHAREDMODE_MAPPAGEFILEALL: OS_LOGI("mem>>> new shared mode is OS_SHAREDMODE_MAPPAGEFILEALL"); break;
    case OS_SHAREDMODE_LAST: OS_LOGI("mem>>> new shared mode is OS_SHAREDMODE_LAST"); break;
    default: OS_LOGI("mem>>> new shared mode is unknown...%d", a_iMode); break;
  }
}

// The configuration's ForceMemoryMap (0 without a configuration).
long ForceMemoryMap() {
  COsCfg* const l_poscfg = OsCfgInstance();
  if (l_poscfg == nullptr || l_poscfg->m_poscfgimpl == nullptr) return 0;
  const char* const l_sz = l_poscfg->GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_FORCEMEMORYMAP);
  return l_sz != nullptr ? std::strtol(l_sz, nullptr, 0) : 0;
}

// Decides the share mode once (while it is undefined); the lock is held.
void SettleMode(COsMemImpl* a_posmemimpl, long a_lForce) {
  if (a_posmemimpl->m_u32ShareMode != OS_SHAREDMODE_UNDEFINED) return;
  const int l_iCode = OsSysOsCode();
  OS_LOGI("mem>>> ForceMemoryMap=%d Platform=%d Windows=%d", static_cast<int>(a_lForce),
          static_cast<int>(OsCfgSysGetNumber(OS_CFGINFO_OS_PLATFORM, 0)), l_iCode);
  if (a_lForce != 0)
    a_posmemimpl->m_u32ShareMode = static_cast<std::uint32_t>(a_lForce);
  else
    a_posmemimpl->m_u32ShareMode =
        l_iCode == OS_CFG_OS_WIN2K ? OS_SHAREDMODE_MAPFILEASNEEDED : OS_SHAREDMODE_MAPPAGEFILEASNEEDED;
  LogMode(static_cast<int>(a_posmemimpl->m_u32ShareMode));
}

// ---- the link text: every field checked, read from a bounded copy ----

// The text between a_szOpen and a_szClose into a_szValue; false when either
// tag is missing or the value does not fit.
bool FindField(const char* a_szLink, const char* a_szOpen, const char* a_szClose, char* a_szValue,
               std::size_t a_sizetValue) {
  const char* const l_pcOpen = std::strstr(a_szLink, a_szOpen);
  if (l_pcOpen == nullptr) return false;
  const char* const l_pcValue = l_pcOpen + std::strlen(a_szOpen);
  const char* const l_pcClose = std::strstr(l_pcValue, a_szClose);
  if (l_pcClose == nullptr) return false;
  const std::size_t l_sizet = static_cast<std::size_t>(l_pcClose - l_pcValue);
  if (l_sizet >= a_sizetValue) return false;
  std::memcpy(a_szValue, l_pcValue, l_sizet);
  a_szValue[l_sizet] = 0;
  return true;
}

// Hexadecimal (an optional "0x"), 1 to 16 digits and nothing else, of a
// value from 1 to 0xFFFFFFFF: process ids and handle values fit 32 bits on
// both widths, whichever width wrote them.
bool ParseHex32(const char* a_sz, std::uint32_t* a_pu32) {
  if (a_sz[0] == '0' && (a_sz[1] == 'x' || a_sz[1] == 'X')) a_sz += 2;
  const std::size_t l_sizet = std::strlen(a_sz);
  if (l_sizet == 0 || l_sizet > 16) return false;
  std::uint64_t l_u64 = 0;
  for (const char* l_pc = a_sz; *l_pc != 0; ++l_pc) {
    const char l_c = *l_pc;
    int l_iDigit;
    if (l_c >= '0' && l_c <= '9')
      l_iDigit = l_c - '0';
    else if (l_c >= 'a' && l_c <= 'f')
      l_iDigit = l_c - 'a' + 10;
    else if (l_c >= 'A' && l_c <= 'F')
      l_iDigit = l_c - 'A' + 10;
    else
      return false;
    l_u64 = l_u64 * 16 + static_cast<std::uint64_t>(l_iDigit);
  }
  if (l_u64 == 0 || l_u64 > 0xFFFFFFFFull) return false;
  *a_pu32 = static_cast<std::uint32_t>(l_u64);
  return true;
}

// Decimal, 1 to 10 digits and nothing else, of a value from 1 to INT32_MAX.
bool ParseSize(const char* a_sz, std::int32_t* a_pi32) {
  const std::size_t l_sizet = std::strlen(a_sz);
  if (l_sizet == 0 || l_sizet > 10) return false;
  std::uint64_t l_u64 = 0;
  for (const char* l_pc = a_sz; *l_pc != 0; ++l_pc) {
    if (*l_pc < '0' || *l_pc > '9') return false;
    l_u64 = l_u64 * 10 + static_cast<std::uint64_t>(*l_pc - '0');
  }
  if (l_u64 == 0 || l_u64 > 0x7FFFFFFFull) return false;
  *a_pi32 = static_cast<std::int32_t>(l_u64);
  return true;
}

struct LinkFields {
  std::uint32_t m_u32Pid;
  std::uint32_t m_u32Handle;
  std::int32_t m_i32MaxSize;
};

// Parses a link text; logs the field that is missing or garbled.
bool ParseLink(const char* a_szPath, const char* a_szLink, LinkFields* a_plink) {
  char l_sz[OS_MEM_LINK_SIZE];
  if (!FindField(a_szLink, "<pid>", "</pid>", l_sz, sizeof(l_sz))) {
    OS_LOGA("mem>>> failed to find the pid...<%s> <%s>", a_szPath, a_szLink);
    return false;
  }
  if (!ParseHex32(l_sz, &a_plink->m_u32Pid)) {
    OS_LOGA("mem>>> failed to convert pid...<%s> <%s>", a_szPath, a_szLink);
    return false;
  }
  if (!FindField(a_szLink, "<maphandle>", "</maphandle>", l_sz, sizeof(l_sz))) {
    OS_LOGA("mem>>> failed to find the maphandle...<%s> <%s>", a_szPath, a_szLink);
    return false;
  }
  if (!ParseHex32(l_sz, &a_plink->m_u32Handle)) {
    OS_LOGA("mem>>> failed to convert maphandle...<%s> <%s>", a_szPath, a_szLink);
    return false;
  }
  if (!FindField(a_szLink, "<maxsize>", "</maxsize>", l_sz, sizeof(l_sz))) {
    OS_LOGA("mem>>> failed to find the maxsize...<%s> <%s>", a_szPath, a_szLink);
    return false;
  }
  if (!ParseSize(l_sz, &a_plink->m_i32MaxSize)) {
    OS_LOGA("mem>>> failed to convert maxsize...<%s> <%s>", a_szPath, a_szLink);
    return false;
  }
  return true;
}

// True when a_hMapping holds at least a_u64Size bytes (a view of its last
// bytes can be made); false with the system's error otherwise.
bool LinkMemoryHolds(HANDLE a_hMapping, std::uint64_t a_u64Size, std::uint32_t a_u32Granularity) {
  const std::uint64_t l_u64Start = (a_u64Size - 1) / a_u32Granularity * a_u32Granularity;
  COsView l_view(MapViewOfFile(a_hMapping, FILE_MAP_READ, High(l_u64Start), Low(l_u64Start),
                               static_cast<SIZE_T>(a_u64Size - l_u64Start)));
  return static_cast<bool>(l_view);
}

}  // namespace

void* OsMemSharedAlloc(EOSSHAREDALLOC a_eossharedalloc, const char* a_szPath, std::int32_t a_i32Size,
                       std::uint32_t a_u32Offset, std::int32_t a_i32View, EOSSHAREDLOCK a_eossharedlock,
                       std::uint32_t a_u32Flags, const char* a_szFile, int a_iLine) {
  COsLog* const l_poslog = OsLogInstance();
  COsMemImpl* const l_posmemimpl = Impl();
  if (l_posmemimpl == nullptr) {
    OS_LOGA("mem>>> m_posmemimpl is null...");
    return Refused(a_szFile, a_iLine);
  }
  if (a_eossharedalloc < OS_SHAREDALLOC_CREATE || a_eossharedalloc > OS_SHAREDALLOC_OPENALWAYS) {
    OS_LOGA("mem>>> Unrecognized a_eossharedalloc...<%d>", static_cast<int>(a_eossharedalloc));
    return Refused(a_szFile, a_iLine);
  }
  if (a_eossharedlock < OS_SHAREDLOCK_NONE || a_eossharedlock > OS_SHAREDLOCK_CREATOR) {
    OS_LOGA("mem>>> Unrecognized a_eossharedlock...<%d>", static_cast<int>(a_eossharedlock));
    return Refused(a_szFile, a_iLine);
  }
  const bool l_bOpen = a_eossharedalloc == OS_SHAREDALLOC_OPEN;
  if (a_i32View <= 0 && !l_bOpen) {
    OS_LOGA("mem>>> a_sizetView can only be -1 for OS_SHAREDALLOC_OPEN...");
    return Refused(a_szFile, a_iLine);
  }
  // Only an opened file may take its size from the file.
  if (a_i32Size <= 0 && !l_bOpen) {
    OS_LOGA("mem>>> a_i32Size must be positive...%d", static_cast<int>(a_i32Size));
    return Refused(a_szFile, a_iLine);
  }
  const char* const l_szPath = a_szPath != nullptr ? a_szPath : "";

  CMemLock l_lock(l_posmemimpl, true);
  const long l_lForce = ForceMemoryMap();
  SettleMode(l_posmemimpl, l_lForce);
  ++l_posmemimpl->m_u32AC;
  ++l_posmemimpl->m_u32CC;
  // What this call opened is closed by its owners when it returns.
  COsHandle l_hFile;
  COsHandle l_hMapping;
  COsView l_view;
  auto l_fail = [&]() -> void* {
    --l_posmemimpl->m_u32CC;  // never live
    PlaceLine(a_szFile, a_iLine);
    OsMemDumpLocked(l_posmemimpl, nullptr);
    OsMemWriteCrashReport("QrxMemCrash.txt");
    return nullptr;
  };

  const std::uint32_t l_u32Mode = l_posmemimpl->m_u32ShareMode;
  const std::uint32_t l_u32Granularity = l_posmemimpl->m_u32Granularity;
  std::uint32_t l_u32Flags = a_u32Flags & ~OS_SHARED_PAGEFILE;  // decided here, never by the caller
  if (l_lForce == 2 || l_lForce == 4 || l_u32Mode == OS_SHAREDMODE_MAPFILEALL ||
      l_u32Mode == OS_SHAREDMODE_MAPPAGEFILEALL)
    l_u32Flags |= OS_SHARED_WHOLEFILE;
  if (a_eossharedalloc == OS_SHAREDALLOC_TEMPORARY && (l_u32Flags & OS_SHARED_NOPAGEFILE) == 0 &&
      ((l_lForce & 2) != 0 || l_u32Mode == OS_SHAREDMODE_MAPPAGEFILEASNEEDED ||
       l_u32Mode == OS_SHAREDMODE_MAPPAGEFILEALL))
    l_u32Flags |= OS_SHARED_PAGEFILE;

  const bool l_bReadOnly = l_bOpen && (l_u32Flags & OS_SHARED_READONLY) != 0;
  const bool l_bCopy = !l_bReadOnly && (l_u32Flags & OS_SHARED_COPYONWRITE) != 0;
  const DWORD l_dwPages = l_bReadOnly ? PAGE_READONLY : l_bCopy ? PAGE_WRITECOPY : PAGE_READWRITE;
  const DWORD l_dwView = l_bReadOnly ? FILE_MAP_READ : l_bCopy ? FILE_MAP_COPY : FILE_MAP_READ | FILE_MAP_WRITE;
  std::uint32_t l_u32ItemFlags = 0;
  if (l_bReadOnly) l_u32ItemFlags |= OS_SHAREDITEM_READONLY;
  if (l_bCopy) l_u32ItemFlags |= OS_SHAREDITEM_COPYONWRITE;
  if (a_eossharedalloc == OS_SHAREDALLOC_TEMPORARY) l_u32ItemFlags |= OS_SHAREDITEM_TEMPORARY;
  if ((l_u32Flags & OS_SHARED_FLUSHFILE) != 0) l_u32ItemFlags |= OS_SHAREDITEM_FLUSHFILE;
  if ((l_u32Flags & OS_SHARED_MARK) != 0) l_u32ItemFlags |= OS_SHAREDITEM_MARK;
  if ((l_u32Flags & OS_SHARED_TRUNCATE) != 0) l_u32ItemFlags |= OS_SHAREDITEM_TRUNCATE;

  std::int32_t l_i32Size = a_i32Size;
  std::uint64_t l_u64FileLength = 0;
  if (l_szPath[0] != 0) {
    const DWORD l_dwDisposition = a_eossharedalloc == OS_SHAREDALLOC_OPEN         ? OPEN_EXISTING
                                  : a_eossharedalloc == OS_SHAREDALLOC_OPENALWAYS ? OPEN_ALWAYS
                                                                                  : CREATE_ALWAYS;
    DWORD l_dwAttributes = FILE_ATTRIBUTE_NORMAL;
    if (a_eossharedalloc == OS_SHAREDALLOC_TEMPORARY) l_dwAttributes |= FILE_FLAG_DELETE_ON_CLOSE;
    if ((l_u32Flags & OS_SHARED_RANDOM) != 0) l_dwAttributes |= FILE_FLAG_RANDOM_ACCESS;
    // Others may hold the file with any access: a temporary file is held for
    // deletion, so every later opener must share deletion.
    const DWORD l_dwAccess = l_bReadOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    const DWORD l_dwShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    wchar_t l_wszPath[OS_PATH_SIZE];
    DWORD l_dwError = ERROR_INVALID_NAME;
    if (SStrLen(l_szPath, OS_PATH_SIZE) >= 0 && CopyStringFromUtf8(l_wszPath, OS_PATH_SIZE, l_szPath) > 0) {
      l_hFile.Reset(CreateFileW(l_wszPath, l_dwAccess, l_bReadOnly ? FILE_SHARE_READ : l_dwShareAll, nullptr,
                                l_dwDisposition, l_dwAttributes, nullptr));
      l_dwError = GetLastError();
      // A read-only open fails while others write; share writing then.
      if (!l_hFile && l_bReadOnly && l_dwError == ERROR_SHARING_VIOLATION) {
        l_hFile.Reset(
            CreateFileW(l_wszPath, l_dwAccess, l_dwShareAll, nullptr, l_dwDisposition, l_dwAttributes, nullptr));
        l_dwError = GetLastError();
      }
    }
    if (!l_hFile) {
      OS_LOGA("mem>>> CreateFile failed...<%s> %d", l_szPath, static_cast<int>(l_dwDisposition));
      return l_fail();
    }
    const bool l_bExisted = l_bOpen || l_dwError == ERROR_ALREADY_EXISTS;
    if (a_eossharedlock == OS_SHAREDLOCK_ALWAYS || (a_eossharedlock == OS_SHAREDLOCK_CREATOR && !l_bExisted)) {
      if (LockFile(l_hFile.Get(), 0, 0, 1, 0)) l_u32ItemFlags |= OS_SHAREDITEM_LOCKED;
    }
    LARGE_INTEGER l_liLength;
    if (!GetFileSizeEx(l_hFile.Get(), &l_liLength)) l_liLength.QuadPart = 0;
    l_u64FileLength = static_cast<std::uint64_t>(l_liLength.QuadPart);
    if (l_bOpen) {
      if (l_i32Size <= 0) {
        if (l_u64FileLength > 0x7FFFFFFFull) {
          OS_LOGA("mem>>> the file is too large for a mapped item...<%s> %llu", l_szPath,
                  static_cast<unsigned long long>(l_u64FileLength));
          return l_fail();
        }
        l_i32Size = static_cast<std::int32_t>(l_u64FileLength);
      }
      if (l_u64FileLength < OS_MEM_LINK_SIZE && (l_u32Flags & (OS_SHARED_NOPAGEFILE | OS_SHARED_NOLINK)) == 0)
        l_u32Flags |= OS_SHARED_PAGEFILE;
    }
    const bool l_bSetLength = a_eossharedalloc == OS_SHAREDALLOC_CREATE ||
                              a_eossharedalloc == OS_SHAREDALLOC_TEMPORARY ||
                              (l_bOpen && (l_u32Flags & OS_SHARED_SETLENGTH) != 0);
    if ((l_u32Flags & OS_SHARED_PAGEFILE) == 0 && l_bSetLength) {
      LARGE_INTEGER l_li;
      l_li.QuadPart = static_cast<LONGLONG>(RoundUp(static_cast<std::uint32_t>(l_i32Size), l_u32Granularity));
      if (!SetFilePointerEx(l_hFile.Get(), l_li, nullptr, FILE_BEGIN)) {
        OS_LOGA("mem>>> SetFilePointer failed...%d", static_cast<int>(GetLastError()));
        return l_fail();
      }
      if (!SetEndOfFile(l_hFile.Get())) {
        OS_LOGA("mem>>> SetEndOfFile failed...");
        return l_fail();
      }
      l_u64FileLength = static_cast<std::uint64_t>(l_li.QuadPart);
    }
  }

  // A small opened file: a link when it begins with the mark. Its text is
  // read into a bounded copy and parsed from there.
  char l_szLink[OS_MEM_LINK_SIZE] = {};
  if ((l_u32Flags & OS_SHARED_PAGEFILE) != 0 && l_bOpen) {
    if (l_u64FileLength >= OS_MEM_LINK_SIZE) {
      OS_LOGA("XML link overflow...(got %d, but only have %d)", static_cast<int>(l_u64FileLength),
              static_cast<int>(OS_MEM_LINK_SIZE));
      return l_fail();
    }
    if (l_u64FileLength != 0) {
      COsHandle l_hLinkMapping(CreateFileMappingW(l_hFile.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
      if (!l_hLinkMapping) {
        OS_LOGA("mem>>> CreateFileMapping failed...<%s>", l_szPath);
        return l_fail();
      }
      COsView l_linkview(
          MapViewOfFile(l_hLinkMapping.Get(), FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(l_u64FileLength)));
      if (!l_linkview) {
        OS_LOGA("mem>>> MapViewOfFile failed...<%s> %d %d", l_szPath, 0, static_cast<int>(l_u64FileLength));
        return l_fail();
      }
      std::memcpy(l_szLink, l_linkview.Get(), static_cast<std::size_t>(l_u64FileLength));
    }
    if (std::strncmp(l_szLink, s_szLinkMark, sizeof(s_szLinkMark) - 1) != 0) l_u32Flags &= ~OS_SHARED_PAGEFILE;
  }

  // The size of what the view is cut from: the file, the page-file memory or
  // the memory a link names.
  std::uint64_t l_u64Object = 0;
  bool l_bLinked = false;
  if ((l_u32Flags & OS_SHARED_PAGEFILE) == 0) {
    std::uint64_t l_u64Map = l_bReadOnly ? static_cast<std::uint32_t>(l_i32Size)
                                         : RoundUp(static_cast<std::uint32_t>(l_i32Size), l_u32Granularity);
    // A file that is only opened is not grown for a request that it holds.
    if (l_hFile && l_bOpen && (l_u32Flags & OS_SHARED_SETLENGTH) == 0 &&
        static_cast<std::uint64_t>(l_i32Size) <= l_u64FileLength)
      l_u64Map = 0;
    l_hMapping.Reset(CreateFileMappingW(l_hFile ? l_hFile.Get() : INVALID_HANDLE_VALUE, nullptr, l_dwPages,
                                        High(l_u64Map), Low(l_u64Map), nullptr));
    if (!l_hMapping) {
      OS_LOGA("mem>>> CreateFileMapping failed...<%s>", l_szPath);
      return l_fail();
    }
    // A mapping made with a size holds exactly that many bytes, also of a
    // longer file; made without one it holds the file.
    l_u64Object = l_u64Map != 0 ? l_u64Map : l_u64FileLength;
  } else if (a_eossharedalloc != OS_SHAREDALLOC_TEMPORARY) {
    LinkFields l_link;
    if (!ParseLink(l_szPath, l_szLink, &l_link)) return l_fail();
    COsHandle l_hProcess(OpenProcess(PROCESS_DUP_HANDLE, FALSE, l_link.m_u32Pid));
    if (!l_hProcess) {
      OS_LOGA("mem>>> OpenProcess failed...<%s> <%s>", l_szPath, l_szLink);
      return l_fail();
    }
    HANDLE l_hDuplicate = nullptr;
    if (!DuplicateHandle(l_hProcess.Get(), reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(l_link.m_u32Handle)),
                         GetCurrentProcess(), &l_hDuplicate, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
      OS_LOGA("mem>>> DuplicateHandle failed...<%s> <%s>", l_szPath, l_szLink);
      return l_fail();
    }
    l_hMapping.Reset(l_hDuplicate);
    l_i32Size = l_link.m_i32MaxSize;
    l_u64Object = static_cast<std::uint64_t>(l_link.m_i32MaxSize);
    l_bLinked = true;
  } else {
    l_u64Object = RoundUp(static_cast<std::uint32_t>(l_i32Size), l_u32Granularity);
    l_hMapping.Reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, l_bCopy ? PAGE_WRITECOPY : PAGE_READWRITE,
                                        High(l_u64Object), Low(l_u64Object), nullptr));
    if (!l_hMapping) {
      OS_LOGA("mem>>> CreateFileMapping (pagefile) failed (size = %d)...<%s>", static_cast<int>(l_i32Size), l_szPath);
      return l_fail();
    }
    if (l_hFile) {
      // The link names this process and the mapping; a second process
      // duplicates the handle from here while this item lives.
      char l_szText[2 * OS_MEM_LINK_SIZE];
      SStrPrintf(l_szText, sizeof(l_szText),
                 "<osmem>\n\t<pid>%llx</pid>\t<maphandle>%p</maphandle>\n<maxsize>%d</maxsize></osmem>\n",
                 static_cast<unsigned long long>(GetCurrentProcessId()), static_cast<void*>(l_hMapping.Get()),
                 static_cast<int>(l_i32Size));
      const std::size_t l_sizetText = std::strlen(l_szText);
      if (l_sizetText >= OS_MEM_LINK_SIZE) {
        OS_LOGA("mem>>> requested XML link is too large...<%s> %d %d", l_szText, static_cast<int>(l_sizetText),
                static_cast<int>(OS_MEM_LINK_SIZE));
        return l_fail();
      }
      const DWORD l_dwLink = static_cast<DWORD>(l_sizetText + 1);
      COsHandle l_hLinkMapping(CreateFileMappingW(l_hFile.Get(), nullptr, PAGE_READWRITE, 0, l_dwLink, nullptr));
      if (!l_hLinkMapping) {
        OS_LOGA("mem>>> CreateFileMapping (link) failed...<%s>", l_szPath);
        return l_fail();
      }
      COsView l_linkview(MapViewOfFile(l_hLinkMapping.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, l_dwLink));
      if (!l_linkview) {
        OS_LOGA("mem>>> MapViewOfFile failed...<%s> %d %d", l_szPath, 0, static_cast<int>(l_dwLink));
        return l_fail();
      }
      std::memcpy(l_linkview.Get(), l_szText, l_dwLink);
      FlushViewOfFile(l_linkview.Get(), l_dwLink);
    }
  }

  // What the link claims must be there: a view of its last bytes is refused
  // by the system when the memory ends earlier. Measuring it this way maps
  // no more than a block, however large the memory is.
  if (l_bLinked && !LinkMemoryHolds(l_hMapping.Get(), l_u64Object, l_u32Granularity)) {
    OS_LOGA("mem>>> the link's maxsize is larger than its memory...<%s> <%s> %d", l_szPath, l_szLink,
            static_cast<int>(GetLastError()));
    return l_fail();
  }
  // The bytes behind the pointer are those asked for, never more than the
  // size, and never more than the object holds beyond the offset.
  if (a_u32Offset >= l_u64Object) {
    OS_LOGA("mem>>> the offset is beyond the mapped object...<%s> %u %llu", l_szPath,
            static_cast<unsigned>(a_u32Offset), static_cast<unsigned long long>(l_u64Object));
    return l_fail();
  }
  const std::uint64_t l_u64Rest = l_u64Object - a_u32Offset;
  std::uint64_t l_u64Behind = l_u64Rest;
  if (a_i32View > 0) {
    if (static_cast<std::uint64_t>(a_i32View) < l_u64Behind) l_u64Behind = static_cast<std::uint64_t>(a_i32View);
    if (static_cast<std::uint64_t>(l_i32Size) < l_u64Behind) l_u64Behind = static_cast<std::uint64_t>(l_i32Size);
  } else if (l_u64Rest > 0x7FFFFFFFull) {
    // An item's view size is a 32-bit count, as its size is.
    OS_LOGA("mem>>> the rest of the file is too large for a mapped item...<%s> %llu", l_szPath,
            static_cast<unsigned long long>(l_u64Rest));
    return l_fail();
  }
  const bool l_bWhole = (l_u32Flags & OS_SHARED_WHOLEFILE) != 0;
  const std::uint32_t l_u32Start = l_bWhole ? 0 : a_u32Offset - a_u32Offset % l_u32Granularity;
  // A whole mapping covers the object: all of a file or a mapping of this
  // call, the claimed size of a link's memory (which may be larger).
  const SIZE_T l_sizetMap = !l_bWhole   ? static_cast<SIZE_T>(a_u32Offset - l_u32Start + l_u64Behind)
                            : l_bLinked ? static_cast<SIZE_T>(l_u64Object)
                                        : 0;
  l_view.Reset(MapViewOfFile(l_hMapping.Get(), l_dwView, 0, l_u32Start, l_sizetMap));
  if (!l_view) {
    OS_LOGA("mem>>> MapViewOfFile failed...<%s> %d %d", l_szPath, static_cast<int>(a_u32Offset),
            static_cast<int>(a_i32View));
    return l_fail();
  }
  char* const l_pc = static_cast<char*>(l_view.Get()) + (a_u32Offset - l_u32Start);
  if (l_bWhole) l_u32ItemFlags |= OS_SHAREDITEM_WHOLEFILE;

  COsMemItem* const l_pitem = OsMemTracker(l_posmemimpl, OS_MEM_TRACKER_ADD, l_pc, nullptr, nullptr, nullptr);
  if (l_pitem == nullptr) {
    OS_LOGA("mem>>> Manage failed...<%s>", l_szPath);
    return l_fail();
  }
  l_pitem->m_eosmemtype = OS_MEM_TYPE_MEMORYMAP;
  l_pitem->m_u32Size = static_cast<std::uint32_t>(l_i32Size);
  l_pitem->m_u32Offset = a_u32Offset;
  l_pitem->m_u32ViewSize = static_cast<std::uint32_t>(l_u64Behind);
  SStrCpy(l_pitem->m_szName, sizeof(l_pitem->m_szName), l_szPath);
  // A link file or the file that carries a link is not the item's memory:
  // cutting it to the item's size would destroy the link.
  if ((l_u32Flags & OS_SHARED_PAGEFILE) != 0) l_u32ItemFlags &= ~OS_SHAREDITEM_TRUNCATE;
  l_pitem->m_u32Flags = l_u32ItemFlags;
  l_pitem->m_hFile = l_hFile.Release();
  l_pitem->m_hMapping = l_hMapping.Release();
  l_view.Release();
  if (FlushesView(l_u32ItemFlags) && !FlushViewOfFile(l_pc, static_cast<SIZE_T>(l_u64Behind)))
    OS_LOGA("mem>>> FlushViewOfFile failed...");
  l_posmemimpl->m_u64CB += static_cast<std::uint32_t>(l_i32Size);
  if (LogEnabled())
    OsLogPrint(l_poslog, a_szFile, a_iLine, OS_LOG_MEM2,
               "mem>>> f+   AD:%p   SZ:%-9d  AC:%-6d  FC:%-6d  CC:%-6d  CB:%-9llu  PB:%-9llu %s",
               static_cast<void*>(l_pc), static_cast<int>(l_i32Size), static_cast<int>(l_posmemimpl->m_u32AC),
               static_cast<int>(l_posmemimpl->m_u32FC), static_cast<int>(l_posmemimpl->m_u32CC),
               static_cast<unsigned long long>(l_posmemimpl->m_u64CB),
               static_cast<unsigned long long>(l_posmemimpl->m_u64PB), l_szPath);
  return l_pc;
}

void OsMemReleaseMapped(const COsMemImpl* a_posmemimpl, const COsMemMapped& a_mapped) {
  COsHandle l_hFile(a_mapped.m_hFile);
  COsHandle l_hMapping(a_mapped.m_hMapping);
  const bool l_bFlush = FlushesView(a_mapped.m_u32Flags);
  // A failed remap closed the mapping and left no view.
  if (l_hMapping) {
    if (l_bFlush && !FlushViewOfFile(a_mapped.m_pvAddress, 0)) OS_LOGA("mem>>> FlushViewOfFile failed...");
    if (!UnmapViewOfFile(ViewBase(a_posmemimpl, a_mapped.m_pvAddress, a_mapped.m_u32Offset, a_mapped.m_u32Flags)))
      OS_LOGA("mem>>> UnmapViewOfFile failed...");
    l_hMapping.Reset();
  }
  if (!l_hFile) return;
  if ((a_mapped.m_u32Flags & OS_SHAREDITEM_TRUNCATE) != 0) {
    LARGE_INTEGER l_li;
    l_li.QuadPart = a_mapped.m_u32Size;
    if (!SetFilePointerEx(l_hFile.Get(), l_li, nullptr, FILE_BEGIN))
      OS_LOGA("mem>>> SetFilePointer failed...%u", static_cast<unsigned>(a_mapped.m_u32Size));
    else if (!SetEndOfFile(l_hFile.Get()))
      OS_LOGA("mem>>> SetEndOfFile failed...");
  }
  if ((a_mapped.m_u32Flags & OS_SHAREDITEM_FLUSHFILE) != 0 && l_bFlush) FlushFileBuffers(l_hFile.Get());
}

void* OsMemRemap(void* a_pvMem, std::uint32_t a_u32Offset, std::uint32_t a_u32View, const char* a_szFile, int a_iLine,
                 bool a_bLock) {
  COsMemImpl* const l_posmemimpl = Impl();
  if (l_posmemimpl == nullptr) {
    OS_LOGA("mem>>> m_posmemimpl is null...");
    PlaceLine(a_szFile, a_iLine);
    return nullptr;
  }
  CMemLock l_lock(l_posmemimpl, a_bLock);
  COsMemItem* const l_pitem = OsMemTracker(l_posmemimpl, OS_MEM_TRACKER_FIND, a_pvMem, nullptr, nullptr, nullptr);
  if (l_pitem == nullptr) {
    OS_LOGA("mem>>> Manage didn't find mapping...");
    PlaceLine(a_szFile, a_iLine);
    return nullptr;
  }
  if (l_pitem->m_eosmemtype != OS_MEM_TYPE_MEMORYMAP) {
    OS_LOGA("mem>>> This isn't a memory mapped pointer...");
    PlaceLine(a_szFile, a_iLine);
    return nullptr;
  }
  if (a_u32Offset >= l_pitem->m_u32Size) {
    OS_LOGA("mem>>> The offset is larger than the file...");
    PlaceLine(a_szFile, a_iLine);
    return nullptr;
  }
  if (l_pitem->m_hMapping == nullptr) {
    OS_LOGA("mem>>> The mapping is gone (an earlier remap failed)...");
    PlaceLine(a_szFile, a_iLine);
    return nullptr;
  }
  const std::uint32_t l_u32Granularity = l_posmemimpl->m_u32Granularity;
  const std::uint32_t l_u32Size = l_pitem->m_u32Size;
  const std::uint32_t l_u32Rest = l_u32Size - a_u32Offset;
  const std::uint32_t l_u32Behind = a_u32View < l_u32Rest ? a_u32View : l_u32Rest;
  std::uint32_t l_u32Offset = a_u32Offset;
  char* l_pcNew = nullptr;
  if ((l_pitem->m_u32Flags & OS_SHAREDITEM_WHOLEFILE) != 0) {
    l_pcNew = static_cast<char*>(a_pvMem) + a_u32Offset - l_pitem->m_u32Offset;
  } else {
    if (FlushesView(l_pitem->m_u32Flags)) FlushViewOfFile(a_pvMem, 0);
    if (!UnmapViewOfFile(ViewBase(l_posmemimpl, a_pvMem, l_pitem->m_u32Offset, l_pitem->m_u32Flags))) {
      OS_LOGA("mem>>> UnmapViewOfFile failed...we'll keep going...");
      PlaceLine(a_szFile, a_iLine);
    }
    const DWORD l_dwView = (l_pitem->m_u32Flags & OS_SHAREDITEM_READONLY) != 0      ? FILE_MAP_READ
                           : (l_pitem->m_u32Flags & OS_SHAREDITEM_COPYONWRITE) != 0 ? FILE_MAP_COPY
                                                                                    : FILE_MAP_READ | FILE_MAP_WRITE;
    void* l_pvView = nullptr;
    if (a_u32View > 0) {
      // The view holds the requested bytes behind the offset, never more than
      // the item's size (a view past the mapped object would be refused).
      const std::uint32_t l_u32Start = a_u32Offset - a_u32Offset % l_u32Granularity;
      const std::uint32_t l_u32Map = a_u32Offset - l_u32Start + l_u32Behind;
      l_pvView = MapViewOfFile(l_pitem->m_hMapping, l_dwView, 0, l_u32Start, l_u32Map);
      if (l_pvView == nullptr)
        OS_LOGA(
            "mem>>> MapViewOfFile failed...<%s> 0x%0x uoff=%llu uview=%llu coff=%llu cview=%llu pagesize=%llu "
            "aview=%llu size=%llu",
            l_pitem->m_szName, static_cast<unsigned>(GetLastError()), static_cast<unsigned long long>(a_u32Offset),
            static_cast<unsigned long long>(a_u32View), static_cast<unsigned long long>(l_u32Start),
            static_cast<unsigned long long>(l_u32Map), static_cast<unsigned long long>(l_u32Granularity),
            static_cast<unsigned long long>(l_u32Behind), static_cast<unsigned long long>(l_u32Size));
      else
        l_pcNew = static_cast<char*>(l_pvView) + (a_u32Offset - l_u32Start);
    } else {
      // One block at the start, within the object when it is smaller.
      const std::uint32_t l_u32Map = l_u32Size < l_u32Granularity ? l_u32Size : l_u32Granularity;
      l_pvView = MapViewOfFile(l_pitem->m_hMapping, l_dwView, 0, 0, l_u32Map);
      if (l_pvView == nullptr)
        OS_LOGA("mem>>> MapViewOfFile failed...<%s> 0x%08x %llu", l_pitem->m_szName,
                static_cast<unsigned>(GetLastError()), static_cast<unsigned long long>(l_u32Map));
      l_pcNew = static_cast<char*>(l_pvView);
      l_u32Offset = 0;
    }
    if (l_pvView == nullptr) {
      PlaceLine(a_szFile, a_iLine);
      {
        // Their owners close them here.
        COsHandle l_hMapping(l_pitem->m_hMapping);
        COsHandle l_hFile(l_pitem->m_hFile);
      }
      l_pitem->m_hMapping = nullptr;
      l_pitem->m_hFile = nullptr;
      l_pitem->m_u32Flags &= ~OS_SHAREDITEM_LOCKED;
      return nullptr;
    }
  }
  if (OsMemTracker(l_posmemimpl, OS_MEM_TRACKER_REPLACE, a_pvMem, nullptr, nullptr, l_pcNew) == nullptr) {
    OS_LOGA("mem>>> Manage failed...<%s>", l_pitem->m_szName);
  } else {
    l_pitem->m_u32Offset = l_u32Offset;
    l_pitem->m_u32ViewSize = l_u32Behind;  // 0 for the block at the start
  }
  if (LogEnabled())
    OsLogPrint(OsLogInstance(), a_szFile, a_iLine, OS_LOG_MEM2, "mem>>> remap: %p --> %p %9d %9d %s", a_pvMem,
               static_cast<void*>(l_pcNew), static_cast<int>(a_u32Offset), static_cast<int>(a_u32View),
               l_pitem->m_szName);
  return l_pcNew;
}

namespace {

// The mapped item of a_pvMem under the held lock, or null (logged; the lock
// operations add the caller's place).
COsMemItem* MappedItem(COsMemImpl* a_posmemimpl, void* a_pvMem, const char* a_szFile, int a_iLine) {
  const char* l_szError = nullptr;
  COsMemItem* l_pitem = nullptr;
  if (a_pvMem == nullptr) {
    OS_LOGA("mem>>> a_pvMem is NULL...");
    l_szError = "";
  } else if ((l_pitem = OsMemTracker(a_posmemimpl, OS_MEM_TRACKER_FIND, a_pvMem, nullptr, nullptr, nullptr)) ==
             nullptr) {
    OS_LOGA("mem>>> Manage didn't find mapping...");
    l_szError = "";
  } else if (l_pitem->m_eosmemtype != OS_MEM_TYPE_MEMORYMAP) {
    OS_LOGA("mem>>> This isn't a memory mapped pointer...");
    l_szError = "";
    l_pitem = nullptr;
  }
  if (l_szError != nullptr && a_szFile != nullptr) PlaceLine(a_szFile, a_iLine);
  return l_pitem;
}

enum class SharedOp { Lock, Unlock, IsLocked };

EOSSTS LockOperation(SharedOp a_op, void* a_pvMem, const char* a_szFile, int a_iLine) {
  COsMemImpl* const l_posmemimpl = Impl();
  if (l_posmemimpl == nullptr) {
    OS_LOGA("mem>>> m_posmemimpl is null...");
    PlaceLine(a_szFile, a_iLine);
    return OS_STS_FAIL;
  }
  CMemLock l_lock(l_posmemimpl, true);
  COsMemItem* const l_pitem = MappedItem(l_posmemimpl, a_pvMem, a_szFile, a_iLine);
  if (l_pitem == nullptr) return OS_STS_FAIL;
  if (a_op == SharedOp::Lock && (l_pitem->m_u32Flags & OS_SHAREDITEM_LOCKED) == 0 && l_pitem->m_hFile != nullptr &&
      LockFile(l_pitem->m_hFile, 0, 0, 1, 0))
    l_pitem->m_u32Flags |= OS_SHAREDITEM_LOCKED;
  if (a_op == SharedOp::Unlock && (l_pitem->m_u32Flags & OS_SHAREDITEM_LOCKED) != 0) {
    l_pitem->m_u32Flags &= ~OS_SHAREDITEM_LOCKED;
    UnlockFile(l_pitem->m_hFile, 0, 0, 1, 0);
  }
  return (l_pitem->m_u32Flags & OS_SHAREDITEM_LOCKED) != 0 ? OS_STS_LOCKED : OS_STS_NOTLOCKED;
}

}  // namespace

EOSSTS OsMemSharedLock(void* a_pvMem, const char* a_szFile, int a_iLine) {
  return LockOperation(SharedOp::Lock, a_pvMem, a_szFile, a_iLine);
}

EOSSTS OsMemSharedUnlock(void* a_pvMem, const char* a_szFile, int a_iLine) {
  return LockOperation(SharedOp::Unlock, a_pvMem, a_szFile, a_iLine);
}

EOSSTS OsMemSharedIsLocked(void* a_pvMem, const char* a_szFile, int a_iLine) {
  return LockOperation(SharedOp::IsLocked, a_pvMem, a_szFile, a_iLine);
}

EOSSTS OsMemSharedFlush(void* a_pvMem) {
  COsMemImpl* const l_posmemimpl = Impl();
  OS_RETURN_IF_NULL(l_posmemimpl, OS_LOG_ASSERT, "mem>>> m_posmemimpl is null...", OS_STS_FAIL);
  CMemLock l_lock(l_posmemimpl, true);
  const COsMemItem* const l_pitem = MappedItem(l_posmemimpl, a_pvMem, nullptr, 0);
  if (l_pitem == nullptr || l_pitem->m_hMapping == nullptr) return OS_STS_FAIL;
  if (!FlushViewOfFile(a_pvMem, l_pitem->m_u32ViewSize)) OS_LOGA("mem>>> FlushViewOfFile failed...");
  return OS_STS_SUCCESS;
}

EOSSTS OsMemSharedCheck(void* a_pvMem) {
  COsMemImpl* const l_posmemimpl = Impl();
  OS_RETURN_IF_NULL(l_posmemimpl, OS_LOG_ASSERT, "mem>>> m_posmemimpl is null...", OS_STS_SUCCESS);
  CMemLock l_lock(l_posmemimpl, true);
  MappedItem(l_posmemimpl, a_pvMem, nullptr, 0);
  return OS_STS_SUCCESS;
}

EOSSHAREDMODE OsMemSetSharedModeQuiet(EOSSHAREDMODE a_eossharedmode, const char* a_szFile, int a_iLine) {
  COsMemImpl* const l_posmemimpl = Impl();
  if (l_posmemimpl == nullptr) {
    OsLogPrint(OsLogInstance(), a_szFile, a_iLine, OS_LOG_ASSERT, "mem>>> m_posmemimpl is null...");
    return OS_SHAREDMODE_UNDEFINED;
  }
  CMemLock l_lock(l_posmemimpl, true);
  const EOSSHAREDMODE l_eosPrevious = static_cast<EOSSHAREDMODE>(l_posmemimpl->m_u32ShareMode);
  l_posmemimpl->m_u32ShareMode = static_cast<std::uint32_t>(a_eossharedmode);
  return l_eosPrevious;
}

EOSSHAREDMODE OsMemSetSharedMode(EOSSHAREDMODE a_eossharedmode) {
  const EOSSHAREDMODE l_eosPrevious = OsMemSetSharedModeQuiet(a_eossharedmode, OS_LOG_FILE, __LINE__);
  if (Impl() != nullptr) LogNewMode(static_cast<int>(a_eossharedmode));
  return l_eosPrevious;
}

void* OsMemThreadSafeAlloc(const char* a_szName, std::uint64_t a_u64Bytes, const char* a_szFile, int a_iLine,
                           std::uint32_t a_u32LogFlags) {
  COsMemImpl* const l_posmemimpl = Impl();
  bool l_bError = true;
  if (l_posmemimpl == nullptr)
    OS_LOGA("mem>>> m_posmemimpl is null...");
  else if (a_szName == nullptr || a_szName[0] == 0)
    OS_LOGA("mem>>> a_szName is null or an empty string...");
  else if (a_u64Bytes == 0)
    OS_LOGA("mem>>> a_u64Bytes is 0...");
  else if (a_u64Bytes > 0xFFFFFFFFull)  // beyond the allocator; and the size test below would wrap
    OS_LOGA("mem>>> a_u64Bytes is too large...%llu", static_cast<unsigned long long>(a_u64Bytes));
  else if (a_u32LogFlags != OS_LOG_MEM_NORMAL && a_u32LogFlags != OS_LOG_MEM_VIRTUAL)
    OS_LOGA("mem>>> a_eoslogflag must be normal or virtual...");
  else if (std::strchr(a_szName, ':') != nullptr)
    OS_LOGA("mem>>> thread-safe names can't have colons in them...");
  else
    l_bError = false;
  if (l_bError) {
    PlaceLine(a_szFile, a_iLine);
    return nullptr;
  }
  char l_szItem[OS_MEM_THREADSAFE_NAME_SIZE];
  const int l_iLength = SStrPrintf(l_szItem, sizeof(l_szItem), ":%s:%llx:", a_szName,
                                   static_cast<unsigned long long>(GetCurrentThreadId()));
  // A cut name would lose the thread it belongs to.
  if (l_iLength <= 0 || static_cast<std::size_t>(l_iLength) >= sizeof(l_szItem) ||
      l_szItem[std::strlen(l_szItem) - 1] != ':') {
    OS_LOGA("mem>>> thread-safe name is too long...<%s>", a_szName);
    PlaceLine(a_szFile, a_iLine);
    return nullptr;
  }

  CMemLock l_lock(l_posmemimpl, true);
  int l_iIndex = 0;
  const COsMemItem* const l_pitemOld =
      OsMemTracker(l_posmemimpl, OS_MEM_TRACKER_FINDNEXT, nullptr, l_szItem, &l_iIndex, nullptr);
  if (l_pitemOld != nullptr && l_pitemOld->m_u32Size >= a_u64Bytes + OS_MEM_SLACK) return l_pitemOld->m_pvAddress;
  void* const l_pvOld = l_pitemOld != nullptr ? l_pitemOld->m_pvAddress : nullptr;
  const std::uint32_t l_u32Old = l_pitemOld != nullptr ? l_pitemOld->m_u32Size : 0;
  void* const l_pvNew =
      OsMemAlloc(static_cast<std::uint32_t>(a_u64Bytes), a_szFile, a_iLine, a_u32LogFlags, false, l_szItem);
  if (l_pvNew == nullptr) {
    OS_LOGA("Alloc failed...");
    return nullptr;
  }
  if (l_pvOld != nullptr) {
    // The new block is larger than the old one's whole recorded size.
    std::memcpy(l_pvNew, l_pvOld, l_u32Old);
    OsMemFree(l_pvOld, a_szFile, a_iLine, a_u32LogFlags, false);
  }
  if (OsMemTracker(l_posmemimpl, OS_MEM_TRACKER_FIND, l_pvNew, nullptr, nullptr, nullptr) == nullptr)
    OS_LOGA("Manage failed while trying to grow thread-safe memory...");
  return l_pvNew;
}

void OsMemThreadSafeFree(const char* a_szName, const char* a_szFile, int a_iLine, std::uint32_t a_u32LogFlags) {
  if (a_szName != nullptr && std::strchr(a_szName, ':') != nullptr) {
    OS_LOGA("mem>>> thread-safe names can't have colons in them...");
    PlaceLine(a_szFile, a_iLine);
    return;
  }
  // The key ":name:" with its terminator must fit an item name: a longer
  // one names no buffer, and a key cut to nothing would match every entry.
  char l_szKey[OS_MEM_THREADSAFE_NAME_SIZE] = {};
  if (a_szName != nullptr && a_szName[0] != 0) {
    const int l_iLength =
        std::strlen(a_szName) + 2 < sizeof(l_szKey) ? SStrPrintf(l_szKey, sizeof(l_szKey), ":%s:", a_szName) : -1;
    if (l_iLength <= 0) {
      OS_LOGA("mem>>> thread-safe name is too long...<%s>", a_szName);
      PlaceLine(a_szFile, a_iLine);
      return;
    }
  }
  COsMemImpl* const l_posmemimpl = Impl();
  OS_RETURN_IF_NULL(l_posmemimpl, OS_LOG_ASSERT, "mem>>> m_posmemimpl is null...", );
  CMemLock l_lock(l_posmemimpl, true);
  if (l_szKey[0] != 0) {
    // Only at the start of an item name: further on the key could be the
    // thread part of another name (":foo:1a:" holds ":1a:").
    const std::size_t l_sizetKey = std::strlen(l_szKey);
    for (int l_i = 0; l_i < OS_MEM_TABLE_SIZE; ++l_i) {
      if (l_posmemimpl->m_apvAddress[l_i] != nullptr &&
          std::strncmp(l_posmemimpl->m_aitem[l_i].m_szName, l_szKey, l_sizetKey) == 0)
        OsMemFree(l_posmemimpl->m_apvAddress[l_i], a_szFile, a_iLine, a_u32LogFlags, false);
    }
  }
  // Buffers of threads that have ended.
  for (int l_i = 0; l_i < OS_MEM_TABLE_SIZE; ++l_i) {
    const COsMemItem& l_item = l_posmemimpl->m_aitem[l_i];
    if (l_posmemimpl->m_apvAddress[l_i] == nullptr || l_item.m_eosmemtype == OS_MEM_TYPE_MEMORYMAP ||
        l_item.m_szName[0] != ':')
      continue;
    const char* const l_pcColon = std::strchr(l_item.m_szName + 1, ':');
    if (l_pcColon == nullptr) continue;
    const unsigned long long l_ullThread = std::strtoull(l_pcColon + 1, nullptr, 16);
    if (l_ullThread == 0 || l_ullThread > 0xFFFFFFFFull) continue;
    COsHandle l_hThread(OpenThread(SYNCHRONIZE, FALSE, static_cast<DWORD>(l_ullThread)));
    if (l_hThread) continue;
    OsMemFree(l_posmemimpl->m_apvAddress[l_i], a_szFile, a_iLine, a_u32LogFlags, false);
  }
}

void CleanRam() {
  OS_LOGE("mem>>> CleanRam Before: FreePhysical:%I64d FreeVirtual:%I64d",
          static_cast<long long>(OsCfgSysGetNumber64(OS_CFGINFO_MEM_AVAILABLEPHYSICAL, 0)),
          static_cast<long long>(OsCfgSysGetNumber64(OS_CFGINFO_MEM_AVAILABLEVIRTUAL, 0)));
  wchar_t l_wszDevice[] = L"\\\\.\\A:";
  for (wchar_t l_wc = L'A'; l_wc <= L'Z'; ++l_wc) {
    l_wszDevice[4] = l_wc;
    COsHandle l_hDevice(CreateFileW(l_wszDevice, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    if (l_hDevice) FlushFileBuffers(l_hDevice.Get());
  }
  SetProcessWorkingSetSize(GetCurrentProcess(), static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));
  OS_LOGE("mem>>> CleanRam After:  FreePhysical:%I64d FreeVirtual:%I64d",
          static_cast<long long>(OsCfgSysGetNumber64(OS_CFGINFO_MEM_AVAILABLEPHYSICAL, 0)),
          static_cast<long long>(OsCfgSysGetNumber64(OS_CFGINFO_MEM_AVAILABLEVIRTUAL, 0)));
}
