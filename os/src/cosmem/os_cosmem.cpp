// The tracked memory manager: allocation routes, the tracking table, the
// counters and their trace lines, registration, lock/unlock, access, lookups.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "os_coslog.h"
#include "os_cosmem_impl.h"
#include "os_memnew.h"
#include "os_cossync.h"
#include "os_cosstring.h"
#include "os_log.h"

namespace {

COsMem* s_posmem = nullptr;

// Bytes every block gets behind the requested size; never used.
constexpr std::uint32_t OS_MEM_SLACK = 64;
constexpr int OS_MEM_MAX_HEAPS = 64;
constexpr std::uint32_t OS_LOG_OPT_HEAPCHECK = 0x200;

// Trace letters by item type: allocation lines and release lines.
constexpr char s_szAllocLetters[] = ".mgvfe..";
constexpr char s_szFreeLetters[] = ".mgvfed.";

char Letter(const char (&a_sz)[9], EOSMEMTYPE a_eosmemtype) { return a_eosmemtype < 8 ? a_sz[a_eosmemtype] : '.'; }

COsMemImpl* Impl() { return s_posmem != nullptr ? s_posmem->m_posmemimpl : nullptr; }

bool LogEnabled() {
  COsLog* const l_poslog = OsLogInstance();
  return l_poslog != nullptr && OsLogGetDebug(l_poslog) != 0;
}

bool HeapCheckOn() {
  COsLog* const l_poslog = OsLogInstance();
  return l_poslog != nullptr && (OsLogGetDebug(l_poslog) & OS_LOG_OPT_HEAPCHECK) != 0;
}

// Validates every process heap (at most 64); calls a_fnFailed for each one
// that fails. Returns the number of failures.
template <class F>
int ValidateHeaps(F a_fnFailed) {
  HANDLE l_ahHeap[OS_MEM_MAX_HEAPS];
  DWORD l_dwHeaps = GetProcessHeaps(OS_MEM_MAX_HEAPS, l_ahHeap);
  if (l_dwHeaps > OS_MEM_MAX_HEAPS) l_dwHeaps = OS_MEM_MAX_HEAPS;
  int l_iFailed = 0;
  for (DWORD l_dw = 0; l_dw < l_dwHeaps; ++l_dw) {
    if (!HeapValidate(l_ahHeap[l_dw], 0, nullptr)) {
      ++l_iFailed;
      a_fnFailed();
    }
  }
  return l_iFailed;
}

// One trace line of an allocation or release, its figures taken under the
// memory lock and written after it: the log's file open, lock, write and
// close do not hold up every other thread's allocation.
struct MemTrace {
  int m_iClass;
  char m_cLetter;
  const char* m_szSign;  // "+  ", "-* ", "-  " or "-**"
  void* m_pv;
  std::uint32_t m_u32Size;
  std::uint32_t m_u32AC;
  std::uint32_t m_u32FC;
  std::uint32_t m_u32CC;
  std::uint64_t m_u64CB;
  std::uint64_t m_u64PB;
  const char* m_szName;  // the caller's name, or m_szCopy
  char m_szCopy[OS_PATH_SIZE];

  // a_bCopy: the name is a table entry's, which may be another block's once
  // the lock is gone; a caller's name lives through the call.
  void Take(const COsMemImpl* a_posmemimpl, int a_iClass, char a_cLetter, const char* a_szSign, void* a_pv,
            std::uint32_t a_u32Size, const char* a_szName, bool a_bCopy) {
    m_iClass = a_iClass;
    m_cLetter = a_cLetter;
    m_szSign = a_szSign;
    m_pv = a_pv;
    m_u32Size = a_u32Size;
    m_u32AC = a_posmemimpl->m_u32AC;
    m_u32FC = a_posmemimpl->m_u32FC;
    m_u32CC = a_posmemimpl->m_u32CC;
    m_u64CB = a_posmemimpl->m_u64CB;
    m_u64PB = a_posmemimpl->m_u64PB;
    m_szName = a_szName != nullptr ? a_szName : "";
    if (a_bCopy) {
      std::strncpy(m_szCopy, m_szName, sizeof(m_szCopy) - 1);
      m_szCopy[sizeof(m_szCopy) - 1] = 0;
      m_szName = m_szCopy;
    }
  }
  void Write(COsLog* a_poslog, const char* a_szFile, int a_iLine) const {
    OsLogPrint(a_poslog, a_szFile, a_iLine, m_iClass,
               "mem>>> %c%s AD:%p   SZ:%-9d  AC:%-6d  FC:%-6d  CC:%-6d  CB:%-9llu  PB:%-9llu  FN:%s", m_cLetter,
               m_szSign, m_pv, static_cast<int>(m_u32Size), static_cast<int>(m_u32AC), static_cast<int>(m_u32FC),
               static_cast<int>(m_u32CC), static_cast<unsigned long long>(m_u64CB),
               static_cast<unsigned long long>(m_u64PB), m_szName);
  }
};

void ClearItem(COsMemItem& a_item) {
  a_item.m_eosmemtype = OS_MEM_TYPE_UNDEFINED;
  a_item.m_pvAddress = nullptr;
  a_item.m_u32Size = 0;
  a_item.m_u32Offset = 0;
  a_item.m_u32ViewSize = 0;
  a_item.m_szName[0] = 0;
  a_item.m_u32Flags = 0;
  a_item.m_hFile = nullptr;
  a_item.m_hMapping = nullptr;
}

int IndexOf(const COsMemImpl* a_posmemimpl, const void* a_pvAddress) {
  for (int l_i = 0; l_i < OS_MEM_TABLE_SIZE; ++l_i)
    if (a_posmemimpl->m_apvAddress[l_i] == a_pvAddress) return l_i;
  return -1;
}

// Records a block in the first free entry; null when the table is full.
COsMemItem* Record(COsMemImpl* a_posmemimpl, void* a_pv, EOSMEMTYPE a_eosmemtype, std::uint32_t a_u32Size,
                   const char* a_szName) {
  COsMemItem* const l_pitem = OsMemTracker(a_posmemimpl, OS_MEM_TRACKER_ADD, a_pv, nullptr, nullptr, nullptr);
  if (l_pitem == nullptr) return nullptr;
  l_pitem->m_eosmemtype = a_eosmemtype;
  l_pitem->m_u32Size = a_u32Size;
  l_pitem->m_u32Offset = 0;
  l_pitem->m_u32ViewSize = a_u32Size;
  SStrCpy(l_pitem->m_szName, sizeof(l_pitem->m_szName), a_szName != nullptr ? a_szName : "");
  return l_pitem;
}

void FillSettings(const COsMemImpl* a_posmemimpl, const COsMemItem* a_pitem, OsMemSettings* a_posmemsettings) {
  a_posmemsettings->m_u32Index = static_cast<std::uint32_t>(a_pitem - a_posmemimpl->m_aitem);
  a_posmemsettings->m_uAddress = reinterpret_cast<std::uintptr_t>(a_pitem->m_pvAddress);
  a_posmemsettings->m_u32Type = a_pitem->m_eosmemtype;
  a_posmemsettings->m_u32Size = a_pitem->m_u32Size;
  a_posmemsettings->m_u32Offset = a_pitem->m_u32Offset;
  a_posmemsettings->m_u32ViewSize = a_pitem->m_u32ViewSize;
  SStrCpy(a_posmemsettings->m_szName, sizeof(a_posmemsettings->m_szName), a_pitem->m_szName);
}

const char* TypeName(std::uint32_t a_u32Type, char (&a_szUnknown)[16]) {
  switch (a_u32Type) {
    case OS_MEM_TYPE_UNDEFINED: return "undefined";
    case OS_MEM_TYPE_MALLOC: return "malloc";
    case OS_MEM_TYPE_GLOBALALLOC: return "globalalloc";
    case OS_MEM_TYPE_VIRTUAL: return "virtual";
    case OS_MEM_TYPE_MEMORYMAP: return "memorymap";
    case OS_MEM_TYPE_EXTERNAL: return "external";
    case OS_MEM_TYPE_DSM: return "dsm";
    case OS_MEM_TYPE_LAST: return "last";
    default: SStrPrintf(a_szUnknown, sizeof(a_szUnknown), "?%d", static_cast<int>(a_u32Type)); return a_szUnknown;
  }
}

}  // namespace

// The table dump; the caller holds the lock.
void OsMemDumpLocked(const COsMemImpl* a_posmemimpl, const void* a_pvMem) {
  OS_LOGX(OS_LOG_INFO, "mem>>> OsMemDump begin...");
  for (int l_i = 0; l_i < OS_MEM_TABLE_SIZE; ++l_i) {
    const COsMemItem& l_item = a_posmemimpl->m_aitem[l_i];
    if (a_pvMem != nullptr && a_posmemimpl->m_apvAddress[l_i] != a_pvMem) continue;
    if (a_posmemimpl->m_apvAddress[l_i] == nullptr && l_item.m_eosmemtype == OS_MEM_TYPE_UNDEFINED &&
        l_item.m_pvAddress == nullptr && l_item.m_u32Size == 0 && l_item.m_szName[0] == 0 &&
        l_item.m_hFile == nullptr && l_item.m_hMapping == nullptr)
      continue;
    char l_szUnknown[16];
    COsLog* const l_poslog = OsLogInstance();
    OsLogPrint(l_poslog, OS_LOG_FILE, __LINE__, OS_LOG_INFO, "mem>>> %04d %12s %p(%p) s:%u o:%u v:%u f:%p m:%p <%s>",
               l_i, TypeName(l_item.m_eosmemtype, l_szUnknown), l_item.m_pvAddress, a_posmemimpl->m_apvAddress[l_i],
               l_item.m_u32Size, l_item.m_u32Offset, l_item.m_u32ViewSize, static_cast<void*>(l_item.m_hFile),
               static_cast<void*>(l_item.m_hMapping), l_item.m_szName);
  }
  OS_LOGX(OS_LOG_INFO, "mem>>> OsMemDump end...");
}

COsMemItem* OsMemTracker(COsMemImpl* a_posmemimpl, EOSMEMTRACKER a_eosmemtracker, void* a_pvAddress,
                         const char* a_szName, int* a_piIndex, void* a_pvNew) {
  switch (a_eosmemtracker) {
    case OS_MEM_TRACKER_ADD: {
      const int l_i = a_pvAddress != nullptr ? IndexOf(a_posmemimpl, nullptr) : -1;
      if (l_i < 0) {
        OS_LOGA("mem>>> No free slots...");
        return nullptr;
      }
      a_posmemimpl->m_apvAddress[l_i] = a_pvAddress;
      ClearItem(a_posmemimpl->m_aitem[l_i]);
      a_posmemimpl->m_aitem[l_i].m_pvAddress = a_pvAddress;
      return &a_posmemimpl->m_aitem[l_i];
    }
    case OS_MEM_TRACKER_REMOVE:
    case OS_MEM_TRACKER_REPLACE: {
      const int l_i = a_pvAddress != nullptr ? IndexOf(a_posmemimpl, a_pvAddress) : -1;
      if (l_i < 0) {
        OS_LOGA("mem>>> Failed to find address...");
        return nullptr;
      }
      COsMemItem& l_item = a_posmemimpl->m_aitem[l_i];
      if (a_eosmemtracker == OS_MEM_TRACKER_REMOVE) {
        a_posmemimpl->m_apvAddress[l_i] = nullptr;
        ClearItem(l_item);
      } else {
        a_posmemimpl->m_apvAddress[l_i] = a_pvNew;
        l_item.m_pvAddress = a_pvNew;
      }
      return &l_item;
    }
    case OS_MEM_TRACKER_FIND: {
      const int l_i = a_pvAddress != nullptr ? IndexOf(a_posmemimpl, a_pvAddress) : -1;
      return l_i >= 0 ? &a_posmemimpl->m_aitem[l_i] : nullptr;
    }
    case OS_MEM_TRACKER_FINDNAME:
      if (a_szName == nullptr) return nullptr;
      for (int l_i = 0; l_i < OS_MEM_TABLE_SIZE; ++l_i)
        if (a_posmemimpl->m_apvAddress[l_i] != nullptr &&
            std::strcmp(a_posmemimpl->m_aitem[l_i].m_szName, a_szName) == 0)
          return &a_posmemimpl->m_aitem[l_i];
      return nullptr;
    case OS_MEM_TRACKER_FINDNEXT:
      if (a_szName == nullptr || a_piIndex == nullptr) return nullptr;
      for (int l_i = *a_piIndex < 0 ? 0 : *a_piIndex; l_i < OS_MEM_TABLE_SIZE; ++l_i) {
        if (a_posmemimpl->m_apvAddress[l_i] != nullptr &&
            std::strstr(a_posmemimpl->m_aitem[l_i].m_szName, a_szName) != nullptr) {
          *a_piIndex = l_i + 1;
          return &a_posmemimpl->m_aitem[l_i];
        }
      }
      *a_piIndex = OS_MEM_TABLE_SIZE;
      return nullptr;
  }
  OS_LOGA("mem>>> Unrecognized a_eosmemtracker...%d", static_cast<int>(a_eosmemtracker));
  return nullptr;
}

namespace {
std::atomic<long> s_lFailAfter{-1};
}  // namespace

void OsMemFailAfter(long a_lAllocations) { s_lFailAfter.store(a_lAllocations < 0 ? -1 : a_lAllocations); }

bool OsMemFailurePending() { return s_lFailAfter.load() >= 0; }

bool OsMemInjectFailure() {
  long l_l = s_lFailAfter.load();
  while (l_l >= 0) {
    if (s_lFailAfter.compare_exchange_weak(l_l, l_l - 1)) return l_l == 0;
  }
  return false;
}

COsMem* OsMemCreate(EOSMEMMETHOD a_eosmemmethod, bool a_bOwner) {
  COsMem* const l_posmem = new (std::nothrow) COsMem;
  // The implementation is large (the table): zero-filled pages of its own.
  void* const l_pv = VirtualAlloc(nullptr, sizeof(COsMemImpl), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (l_posmem == nullptr || l_pv == nullptr) {
    OS_LOGA("OsMemNew failed...");
    delete l_posmem;
    if (l_pv != nullptr) VirtualFree(l_pv, 0, MEM_RELEASE);
    return nullptr;
  }
  COsMemImpl* const l_posmemimpl = static_cast<COsMemImpl*>(l_pv);
  l_posmemimpl->m_eosmemmethod = a_eosmemmethod;
  l_posmemimpl->m_u32Owner = a_bOwner ? 1 : 0;
  SYSTEM_INFO l_si;
  GetSystemInfo(&l_si);
  l_posmemimpl->m_u32Granularity = l_si.dwAllocationGranularity;
  l_posmem->m_posmemimpl = l_posmemimpl;
  if (LogEnabled()) {
    OS_LOGI("mem>>> addr:%p  size:%7d  new %s", static_cast<void*>(l_posmem), static_cast<int>(sizeof(COsMem)),
            "COsMem");
    OS_LOGI("mem>>> addr:%p  size:%7d  new %s", l_pv, static_cast<int>(sizeof(COsMemImpl)), "COsMemImpl");
  }
  s_posmem = l_posmem;
  return l_posmem;
}

void OsMemDestroy(COsMem* a_posmem) {
  if (a_posmem == nullptr) return;
  if (s_posmem == a_posmem) s_posmem = nullptr;
  COsMemImpl* const l_posmemimpl = a_posmem->m_posmemimpl;
  a_posmem->m_posmemimpl = nullptr;
  if (l_posmemimpl != nullptr) {
    // What is still live now was never given back.
    if (l_posmemimpl->m_u32CC != 0)
      OS_LOGE("mem>>> blocks still live at the end...%d", static_cast<int>(l_posmemimpl->m_u32CC));
    OS_LOGI("mem>>> addr:%p delete-object", static_cast<void*>(l_posmemimpl));
    if (l_posmemimpl->m_u32Owner != 0) VirtualFree(l_posmemimpl, 0, MEM_RELEASE);
  }
  OS_LOGI("mem>>> addr:%p delete-object", static_cast<void*>(a_posmem));
  delete a_posmem;
}

COsMem* OsMemInstance() { return s_posmem; }

void* OsMemAlloc(std::uint32_t a_u32Size, const char* a_szFile, int a_iLine, std::uint32_t a_u32LogFlags, bool a_bLock,
                 const char* a_szName) {
  COsLog* const l_poslog = OsLogInstance();
  COsMemImpl* const l_posmemimpl = Impl();
  if (l_posmemimpl == nullptr) {
    OS_LOGE("mem>>> m_posmemimpl is null...");
    OsLogPrint(l_poslog, a_szFile, a_iLine, OS_LOG_ASSERT, "mem>>> Error occurred here...");
    return nullptr;
  }
  if (a_u32Size == 0) {
    OS_LOGE("mem>>> a_sizetBytes is 0...");
    OsLogPrint(l_poslog, a_szFile, a_iLine, OS_LOG_ASSERT, "mem>>> Error occurred here (we're going to keep going)...");
  }
  // The slack would wrap the size: such a request cannot be met (nor one a
  // test makes fail).
  const bool l_bTooLarge = a_u32Size > UINT32_MAX - OS_MEM_SLACK || OsMemInjectFailure();

  CMemLock l_lock(l_posmemimpl, a_bLock);
  ++l_posmemimpl->m_u32AC;
  ++l_posmemimpl->m_u32CC;
  if (HeapCheckOn()) {
    ValidateHeaps([&] {
      OS_LOGA("mem>>> HeapValidate before allocation failed...");
      OsLogPrint(l_poslog, a_szFile, a_iLine, OS_LOG_ERROR, "mem>>> The error occurred here...");
    });
  }

  void* l_pv = nullptr;
  EOSMEMTYPE l_eosmemtype = OS_MEM_TYPE_UNDEFINED;
  std::uint32_t l_u32Size = 0;
  if (l_bTooLarge) {
    // nothing obtained
  } else if ((a_u32LogFlags & OS_MEM_HANDOVER) != 0 && l_posmemimpl->m_pfnalloc != nullptr) {
    l_pv = l_posmemimpl->m_pfnalloc(a_u32Size);
    l_eosmemtype = OS_MEM_TYPE_DSM;
    l_u32Size = a_u32Size;
  } else if ((a_u32LogFlags & 0x7FFF) == OS_LOG_MEM_VIRTUAL) {
    l_pv = VirtualAlloc(nullptr, a_u32Size + OS_MEM_SLACK, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    MEMORY_BASIC_INFORMATION l_mbi;
    if (l_pv != nullptr && VirtualQuery(l_pv, &l_mbi, sizeof(l_mbi)) == sizeof(l_mbi))
      l_u32Size = static_cast<std::uint32_t>(l_mbi.RegionSize);
    l_eosmemtype = OS_MEM_TYPE_VIRTUAL;
  } else if (l_posmemimpl->m_eosmemmethod == OS_MEM_METHOD_MALLOC) {
    l_pv = std::calloc(1, a_u32Size + OS_MEM_SLACK);
    l_eosmemtype = OS_MEM_TYPE_MALLOC;
    l_u32Size = a_u32Size + OS_MEM_SLACK;
  } else if (l_posmemimpl->m_eosmemmethod == OS_MEM_METHOD_GLOBALALLOC) {
    const UINT l_uFlags = GMEM_ZEROINIT | ((a_u32LogFlags & OS_MEM_MOVEABLE) != 0 ? GMEM_MOVEABLE : GMEM_FIXED);
    l_pv = GlobalAlloc(l_uFlags, a_u32Size + OS_MEM_SLACK);
    if (l_pv != nullptr) l_u32Size = static_cast<std::uint32_t>(GlobalSize(l_pv));
    l_eosmemtype = OS_MEM_TYPE_GLOBALALLOC;
  } else {
    OS_LOGA("mem>>> unrecognized method...%d", static_cast<int>(l_posmemimpl->m_eosmemmethod));
  }
  if (l_pv == nullptr) {
    l_eosmemtype = OS_MEM_TYPE_UNDEFINED;
    l_u32Size = 0;
  }

  COsMemItem* l_pitem = nullptr;
  if (l_pv != nullptr) {
    l_pitem = Record(l_posmemimpl, l_pv, l_eosmemtype, l_u32Size, a_szName);
    if (l_pitem == nullptr) OS_LOGA("mem>>> memory manager failed to allocate...");
    l_posmemimpl->m_u64CB += l_u32Size;
    if (l_posmemimpl->m_u64CB > l_posmemimpl->m_u64PB) l_posmemimpl->m_u64PB = l_posmemimpl->m_u64CB;
  } else {
    // A block that was never obtained is not live.
    --l_posmemimpl->m_u32CC;
  }

  if (HeapCheckOn()) {
    ValidateHeaps([&] {
      OS_LOGA("mem>>> HeapValidate after allocation failed...");
      OsLogPrint(l_poslog, a_szFile, a_iLine, OS_LOG_ERROR, "mem>>> The error occurred here...");
    });
  }
  const bool l_bTrace = LogEnabled();
  const int l_iClass = static_cast<int>(a_u32LogFlags & 0xFFFF);
  MemTrace l_atrace[2];
  int l_iTraces = 0;
  if (l_bTrace)
    l_atrace[l_iTraces++].Take(l_posmemimpl, l_iClass, Letter(s_szAllocLetters, l_eosmemtype), "+  ", l_pv, l_u32Size,
                               a_szName, false);
  if (l_pv != nullptr && (a_u32LogFlags & OS_MEM_HANDOVER) != 0) {
    // Handed over: the block leaves the books at once.
    ++l_posmemimpl->m_u32FC;
    --l_posmemimpl->m_u32CC;
    l_posmemimpl->m_u64CB -= l_u32Size;
    if (l_bTrace)
      l_atrace[l_iTraces++].Take(l_posmemimpl, l_iClass, Letter(s_szFreeLetters, l_eosmemtype), "-* ", l_pv, l_u32Size,
                                 a_szName, false);
    if (l_pitem != nullptr) OsMemTracker(l_posmemimpl, OS_MEM_TRACKER_REMOVE, l_pv, nullptr, nullptr, nullptr);
  }
  if (l_pv == nullptr) {
    // A failure is written in its order, under the lock: the trace, then what went wrong.
    for (int l_i = 0; l_i < l_iTraces; ++l_i) l_atrace[l_i].Write(l_poslog, a_szFile, a_iLine);
    l_iTraces = 0;
    OsLogPrint(l_poslog, a_szFile, a_iLine, OS_LOG_ASSERT, "mem>>> Error occurred here...");
    OsMemDumpLocked(l_posmemimpl, nullptr);
    OsMemWriteCrashReport("QrxMemCrash.txt");
  }
  l_lock.Release();
  for (int l_i = 0; l_i < l_iTraces; ++l_i) l_atrace[l_i].Write(l_poslog, a_szFile, a_iLine);
  return l_pv;
}

namespace {

// A block handed over without the external callbacks goes back to the
// allocator it came from: a virtual region (its pointer is the start of its
// own region, which no heap block is), else what the method allocates with
// (the suite's modules share one configuration), the C run-time's or the
// global heap.
void FreeHandedOver(const COsMemImpl* a_posmemimpl, void* a_pv) {
  MEMORY_BASIC_INFORMATION l_mbi;
  if (VirtualQuery(a_pv, &l_mbi, sizeof(l_mbi)) == sizeof(l_mbi) && l_mbi.AllocationBase == a_pv &&
      l_mbi.Type == MEM_PRIVATE) {
    VirtualFree(a_pv, 0, MEM_RELEASE);
  } else if (a_posmemimpl->m_eosmemmethod == OS_MEM_METHOD_MALLOC) {
    std::free(a_pv);
  } else {
    GlobalFree(a_pv);
  }
  SetLastError(0);
}

bool IsMappedView(const void* a_pv) {
  MEMORY_BASIC_INFORMATION l_mbi;
  return VirtualQuery(a_pv, &l_mbi, sizeof(l_mbi)) == sizeof(l_mbi) && l_mbi.Type == MEM_MAPPED;
}

}  // namespace

void OsMemFree(void* a_pv, const char* a_szFile, int a_iLine, std::uint32_t a_u32LogFlags, bool a_bLock) {
  COsLog* const l_poslog = OsLogInstance();
  COsMemImpl* const l_posmemimpl = Impl();
  OS_RETURN_IF_NULL(l_posmemimpl, OS_LOG_ASSERT, "mem>>> m_posmemimpl is null...", );
  if (a_pv == nullptr) {
    OS_LOGA("mem>>> Attempt to free a NULL value...");
    OsLogPrint(l_poslog, a_szFile, a_iLine, OS_LOG_ERROR, "mem>>> The error occurred here...");
    return;
  }
  // A mapped view is never a block of another module's heap: it is looked up
  // and released as the mapped item it is, whatever the flag says.
  if ((a_u32LogFlags & OS_MEM_HANDOVER) != 0 && l_posmemimpl->m_pfnfree == nullptr && !IsMappedView(a_pv)) {
    OS_LOGI("mem>>> freeing value given to us by another DLL...%p", a_pv);
    FreeHandedOver(l_posmemimpl, a_pv);
    return;
  }

  CMemLock l_lock(l_posmemimpl, a_bLock);
  COsMemItem* const l_pitem = OsMemTracker(l_posmemimpl, OS_MEM_TRACKER_FIND, a_pv, nullptr, nullptr, nullptr);
  if (l_pitem == nullptr) {
    OS_LOGA("mem>>> Can't find managed item...%p", a_pv);
    OsLogPrint(l_poslog, a_szFile, a_iLine, OS_LOG_ERROR, "mem>>> The error occurred here...");
    return;
  }
  if (HeapCheckOn()) {
    ValidateHeaps([&] {
      OS_LOGA("mem>>> HeapValidate before free failed...");
      OsLogPrint(l_poslog, a_szFile, a_iLine, OS_LOG_ERROR, "mem>>> The error occurred here...");
    });
  }
  ++l_posmemimpl->m_u32FC;
  --l_posmemimpl->m_u32CC;
  l_posmemimpl->m_u64CB -= l_pitem->m_u32Size;
  const EOSMEMTYPE l_eosmemtype = l_pitem->m_eosmemtype;
  const bool l_bTrace = LogEnabled();
  MemTrace l_trace;
  if (l_bTrace)
    l_trace.Take(l_posmemimpl, static_cast<int>(a_u32LogFlags & 0xFFF), Letter(s_szFreeLetters, l_eosmemtype),
                 (a_u32LogFlags & OS_MEM_HANDOVER) != 0 ? "-**" : "-  ", a_pv, l_pitem->m_u32Size, l_pitem->m_szName,
                 true);
  // A mapped item's release needs its fields after the entry is gone.
  COsMemMapped l_mapped{};
  if (l_eosmemtype == OS_MEM_TYPE_MEMORYMAP)
    l_mapped = {l_pitem->m_pvAddress, l_pitem->m_u32Size, l_pitem->m_u32Offset,
                l_pitem->m_u32Flags,  l_pitem->m_hFile,   l_pitem->m_hMapping};
  // The entry found above leaves the table (no second search for it).
  l_posmemimpl->m_apvAddress[l_pitem - l_posmemimpl->m_aitem] = nullptr;
  ClearItem(*l_pitem);
  // Out of the table, the block is this thread's alone: the rest needs no lock.
  l_lock.Release();
  if (l_bTrace) l_trace.Write(l_poslog, a_szFile, a_iLine);
  // The other module owns a handed-over block: only the entry goes. A mapped
  // item's view, mapping and file are this manager's own and always released.
  if (l_eosmemtype == OS_MEM_TYPE_MEMORYMAP) {
    OsMemReleaseMapped(l_posmemimpl, l_mapped);
  } else if ((a_u32LogFlags & OS_MEM_HANDOVER) == 0) {
    switch (l_eosmemtype) {
      case OS_MEM_TYPE_MALLOC: std::free(a_pv); break;
      case OS_MEM_TYPE_GLOBALALLOC: GlobalFree(a_pv); break;
      case OS_MEM_TYPE_VIRTUAL: VirtualFree(a_pv, 0, MEM_RELEASE); break;
      case OS_MEM_TYPE_MEMORYMAP: break;  // released above
      case OS_MEM_TYPE_EXTERNAL: break;
      case OS_MEM_TYPE_DSM:
        if (l_posmemimpl->m_pfnfree != nullptr)
          l_posmemimpl->m_pfnfree(a_pv);
        else
          OS_LOGA("mem>>> m_pfnfree is null...");
        break;
      default:
        OS_LOGA("mem>>> Unrecognized eosmemtype...%d", static_cast<int>(l_eosmemtype));
        OsLogPrint(l_poslog, a_szFile, a_iLine, OS_LOG_ERROR, "mem>>> The error occurred here...");
        break;
    }
  }
  if (HeapCheckOn()) {
    ValidateHeaps([&] {
      OS_LOGA("mem>>> HeapValidate after free failed...");
      OsLogPrint(l_poslog, a_szFile, a_iLine, OS_LOG_ERROR, "mem>>> The error occurred here...");
    });
  }
}

void OsMemFreeUntracked(void* a_pv, const char* a_szFile, int a_iLine, std::uint32_t a_u32LogFlags, bool a_bLock) {
  COsLog* const l_poslog = OsLogInstance();
  if (a_pv == nullptr) {
    OS_LOGA("mem>>> Attempt to free a NULL value...");
    OsLogPrint(l_poslog, a_szFile, a_iLine, OS_LOG_ERROR, "mem>>> The error occurred here...");
    return;
  }
  COsMemImpl* const l_posmemimpl = Impl();
  if (l_posmemimpl == nullptr) {
    GlobalFree(a_pv);
    return;
  }
  CMemLock l_lock(l_posmemimpl, a_bLock);
  if (LogEnabled())
    OsLogPrint(l_poslog, a_szFile, a_iLine, static_cast<int>(a_u32LogFlags & 0xFFF), "mem>>> x   AD:%p ", a_pv);
  if (l_posmemimpl->m_pfnfree != nullptr)
    l_posmemimpl->m_pfnfree(a_pv);
  else
    GlobalFree(a_pv);
}

EOSSTS OsMemManage(void* a_pv, std::uint32_t a_u32Size) {
  COsMemImpl* const l_posmemimpl = Impl();
  OS_RETURN_IF_NULL(l_posmemimpl, OS_LOG_ASSERT, "mem>>> m_posmemimpl is null...", OS_STS_FAIL);
  CMemLock l_lock(l_posmemimpl, true);
  ++l_posmemimpl->m_u32AC;
  ++l_posmemimpl->m_u32CC;
  COsMemItem* const l_pitem =
      a_pv != nullptr ? Record(l_posmemimpl, a_pv, OS_MEM_TYPE_EXTERNAL, a_u32Size, nullptr) : nullptr;
  if (l_pitem == nullptr) {
    OS_LOGA("mem>>> Manage failed...<%p>", a_pv);
    return OS_STS_FAIL;
  }
  l_posmemimpl->m_u64CB += a_u32Size;
  OS_LOGX(OS_LOG_MEM2, "mem>>> e+   AD:%p   SZ:%-9d  AC:%-6d  FC:%-6d  CC:%-6d  CB:%-9llu  PB:%-9llu", a_pv,
          static_cast<int>(a_u32Size), static_cast<int>(l_posmemimpl->m_u32AC), static_cast<int>(l_posmemimpl->m_u32FC),
          static_cast<int>(l_posmemimpl->m_u32CC), static_cast<unsigned long long>(l_posmemimpl->m_u64CB),
          static_cast<unsigned long long>(l_posmemimpl->m_u64PB));
  return OS_STS_SUCCESS;
}

void* OsMemLock(void* a_hMemory) {
  COsMemImpl* const l_posmemimpl = Impl();
  OS_RETURN_IF_NULL(l_posmemimpl, OS_LOG_ASSERT, "mem>>> m_posmemimpl is null...", nullptr);
  OS_RETURN_IF_NULL(a_hMemory, OS_LOG_ASSERT, "mem>>> a_handle is null...", nullptr);
  CMemLock l_lock(l_posmemimpl, true);
  const COsMemItem* const l_pitem =
      OsMemTracker(l_posmemimpl, OS_MEM_TRACKER_FIND, a_hMemory, nullptr, nullptr, nullptr);
  if (l_pitem == nullptr)
    return l_posmemimpl->m_pfnlock != nullptr ? l_posmemimpl->m_pfnlock(a_hMemory) : GlobalLock(a_hMemory);
  switch (l_pitem->m_eosmemtype) {
    case OS_MEM_TYPE_GLOBALALLOC: return GlobalLock(a_hMemory);
    case OS_MEM_TYPE_DSM:
      if (l_posmemimpl->m_pfnlock != nullptr) return l_posmemimpl->m_pfnlock(a_hMemory);
      OS_LOGA("mem>>> m_pfnlock is null...");
      return nullptr;
    default: OS_LOGA("mem>>> Unrecognized memtype...%d", static_cast<int>(l_pitem->m_eosmemtype)); return nullptr;
  }
}

void OsMemUnlock(void* a_hMemory) {
  COsMemImpl* const l_posmemimpl = Impl();
  OS_RETURN_IF_NULL(l_posmemimpl, OS_LOG_ASSERT, "mem>>> m_posmemimpl is null...", );
  OS_RETURN_IF_NULL(a_hMemory, OS_LOG_ASSERT, "mem>>> a_handle is null...", );
  CMemLock l_lock(l_posmemimpl, true);
  const COsMemItem* const l_pitem =
      OsMemTracker(l_posmemimpl, OS_MEM_TRACKER_FIND, a_hMemory, nullptr, nullptr, nullptr);
  if (l_pitem == nullptr) {
    if (l_posmemimpl->m_pfnunlock != nullptr)
      l_posmemimpl->m_pfnunlock(a_hMemory);
    else
      GlobalUnlock(a_hMemory);
    return;
  }
  switch (l_pitem->m_eosmemtype) {
    case OS_MEM_TYPE_GLOBALALLOC: GlobalUnlock(a_hMemory); return;
    case OS_MEM_TYPE_DSM:
      if (l_posmemimpl->m_pfnunlock != nullptr)
        l_posmemimpl->m_pfnunlock(a_hMemory);
      else
        OS_LOGA("mem>>> m_pfnunlock is null...");
      return;
    default: OS_LOGA("mem>>> Unrecognized memtype...%d", static_cast<int>(l_pitem->m_eosmemtype)); return;
  }
}

EOSSTS OsMemSetAccess(void* a_pv, EOSMEMACCESS a_eosmemaccess) {
  COsMemImpl* const l_posmemimpl = Impl();
  OS_RETURN_IF_NULL(l_posmemimpl, OS_LOG_ASSERT, "mem>>> m_posmemimpl is null...", OS_STS_FAIL);
  CMemLock l_lock(l_posmemimpl, true);
  const COsMemItem* const l_pitem = OsMemTracker(l_posmemimpl, OS_MEM_TRACKER_FIND, a_pv, nullptr, nullptr, nullptr);
  OS_RETURN_IF_NULL(l_pitem, OS_LOG_ASSERT, "mem>>> SetAccess on unmanaged handle...", OS_STS_FAIL);
  OS_RETURN_IF(l_pitem->m_eosmemtype != OS_MEM_TYPE_VIRTUAL, OS_LOG_ASSERT, "mem>>> Unrecognized memtype...%d",
               OS_STS_FAIL, static_cast<int>(l_pitem->m_eosmemtype));
  OS_RETURN_IF(a_eosmemaccess != OS_MEM_ACCESS_READ && a_eosmemaccess != OS_MEM_ACCESS_READWRITE, OS_LOG_ASSERT,
               "mem>>> Unrecognized a_eosmemaccess...%d", OS_STS_FAIL, static_cast<int>(a_eosmemaccess));
  MEMORY_BASIC_INFORMATION l_mbi;
  OS_RETURN_IF(VirtualQuery(a_pv, &l_mbi, sizeof(l_mbi)) != sizeof(l_mbi), OS_LOG_ASSERT,
               "mem>>> VirtualQuery failed...", OS_STS_FAIL);
  DWORD l_dwOld = 0;
  if (!VirtualProtect(l_mbi.BaseAddress, l_mbi.RegionSize,
                      a_eosmemaccess == OS_MEM_ACCESS_READ ? PAGE_READONLY : PAGE_READWRITE, &l_dwOld))
    return OS_STS_FAIL;
  return OS_STS_SUCCESS;
}

EOSSTS OsMemSetCallbacks(OsMemPfnAlloc a_pfnalloc, OsMemPfnFree a_pfnfree, OsMemPfnLock a_pfnlock,
                         OsMemPfnUnlock a_pfnunlock) {
  COsMemImpl* const l_posmemimpl = Impl();
  OS_RETURN_IF_NULL(l_posmemimpl, OS_LOG_ASSERT, "mem>>> m_posmemimpl is null...", OS_STS_FAIL);
  OS_RETURN_IF(a_pfnalloc == nullptr || a_pfnfree == nullptr || a_pfnlock == nullptr || a_pfnunlock == nullptr,
               OS_LOG_ASSERT, "mem>>> null argument...", OS_STS_FAIL);
  CMemLock l_lock(l_posmemimpl, true);
  l_posmemimpl->m_pfnalloc = a_pfnalloc;
  l_posmemimpl->m_pfnfree = a_pfnfree;
  l_posmemimpl->m_pfnlock = a_pfnlock;
  l_posmemimpl->m_pfnunlock = a_pfnunlock;
  return OS_STS_SUCCESS;
}

EOSSTS OsMemFindByAddress(const void* a_pvMem, OsMemSettings* a_posmemsettings, bool a_bQuiet) {
  COsMemImpl* const l_posmemimpl = Impl();
  OS_RETURN_IF_NULL(l_posmemimpl, OS_LOG_ASSERT, "mem>>> m_posmemimpl is null...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_posmemsettings, OS_LOG_ASSERT, "mem>>> a_posmemsettings is NULL...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_pvMem, OS_LOG_ASSERT, "mem>>> a_pvMem is NULL...", OS_STS_FAIL);
  std::memset(a_posmemsettings, 0, sizeof(*a_posmemsettings));
  {
    CMemLock l_lock(l_posmemimpl, true);
    const COsMemItem* const l_pitem =
        OsMemTracker(l_posmemimpl, OS_MEM_TRACKER_FIND, const_cast<void*>(a_pvMem), nullptr, nullptr, nullptr);
    if (l_pitem != nullptr) {
      FillSettings(l_posmemimpl, l_pitem, a_posmemsettings);
      return OS_STS_SUCCESS;
    }
  }
  if (a_bQuiet)
    OS_LOGI("mem>>> Manage didn't find mapping (this is okay)...%p", a_pvMem);
  else
    OS_LOGA("mem>>> Manage didn't find mapping...%p", a_pvMem);
  return OS_STS_FAIL;
}

EOSSTS OsMemFindByName(const char* a_szName, OsMemSettings* a_posmemsettings, bool a_bQuiet) {
  COsMemImpl* const l_posmemimpl = Impl();
  OS_RETURN_IF_NULL(l_posmemimpl, OS_LOG_ASSERT, "mem>>> m_posmemimpl is null...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_posmemsettings, OS_LOG_ASSERT, "mem>>> a_posmemsettings is NULL...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_szName, OS_LOG_ASSERT, "mem>>> a_szFile is NULL...", OS_STS_FAIL);
  std::memset(a_posmemsettings, 0, sizeof(*a_posmemsettings));
  {
    CMemLock l_lock(l_posmemimpl, true);
    const COsMemItem* const l_pitem =
        OsMemTracker(l_posmemimpl, OS_MEM_TRACKER_FINDNAME, nullptr, a_szName, nullptr, nullptr);
    if (l_pitem != nullptr) {
      FillSettings(l_posmemimpl, l_pitem, a_posmemsettings);
      return OS_STS_SUCCESS;
    }
  }
  if (a_bQuiet)
    OS_LOGI("mem>>> Manage didn't find mapping (this is okay)...<%s>", a_szName);
  else
    OS_LOGA("mem>>> Manage didn't find mapping...<%s>", a_szName);
  return OS_STS_FAIL;
}

void OsMemDump(const void* a_pvMem) {
  COsMemImpl* const l_posmemimpl = Impl();
  OS_RETURN_IF_NULL(l_posmemimpl, OS_LOG_ASSERT, "mem>>> m_posmemimpl is null...", );
  CMemLock l_lock(l_posmemimpl, true);
  OsMemDumpLocked(l_posmemimpl, a_pvMem);
}

int OsMemValidate(const char* a_szFile, int a_iLine) {
  if (HeapCheckOn()) {
    bool l_bReported = false;
    ValidateHeaps([&] {
      if (l_bReported) return;
      l_bReported = true;
      OS_LOGA("mem>>> HeapValidate failed...");
      OsLogPrint(OsLogInstance(), a_szFile, a_iLine, OS_LOG_ERROR, "mem>>> The error occurred here...");
    });
  }
  return 1;
}

std::uint32_t OsMemGetGranularity() {
  COsMemImpl* const l_posmemimpl = Impl();
  return l_posmemimpl != nullptr ? l_posmemimpl->m_u32Granularity : 1;
}

void* OsMemReserve(std::uint64_t a_u64Size) {
  OS_RETURN_IF(a_u64Size == 0, OS_LOG_ASSERT, "a_u64Size is 0...", nullptr);
  if (a_u64Size > SIZE_MAX) return nullptr;
  return VirtualAlloc(nullptr, static_cast<SIZE_T>(a_u64Size), MEM_RESERVE, PAGE_EXECUTE_READWRITE);
}

void OsMemRelease(void* a_pv) {
  if (a_pv != nullptr) VirtualFree(a_pv, 0, MEM_RELEASE);
}
