// System information: the version bisection and its name table, the
// detection pass (processors, memory), the volume and host name, and the
// queries of the configuration object.
#include <cpuid.h>

#include <cstdlib>
#include <cstring>

#include "os_coscfg_impl.h"
#include "os_coscfg_sysinfo.h"
#include "os_coslocale.h"
#include "os_cosstring.h"
#include "os_cossync.h"
#include "os_log.h"
#include "os_scoped.h"
#include "os_sysinfo.h"
#include "os_win.h"

namespace {

constexpr char s_szNone[] = "***none***";
constexpr std::size_t OS_CFG_SYSTEMDRIVE_SIZE = 16;

// ---- the version check ----

class COsCfgSystemOracle : public COsCfgVersionOracle {
 public:
  bool IsEqual(std::uint32_t a_u32TypeBit, std::uint64_t a_u64Value) override {
    return Ask(a_u32TypeBit, a_u64Value, VER_EQUAL);
  }
  bool IsGreater(std::uint32_t a_u32TypeBit, std::uint64_t a_u64Value) override {
    return Ask(a_u32TypeBit, a_u64Value, VER_GREATER);
  }

 private:
  static bool Ask(std::uint32_t a_u32TypeBit, std::uint64_t a_u64Value, BYTE a_byCondition) {
    OSVERSIONINFOEXA l_osvi;
    std::memset(&l_osvi, 0, sizeof(l_osvi));
    l_osvi.dwOSVersionInfoSize = sizeof(l_osvi);
    switch (a_u32TypeBit) {
      case OS_CFG_VER_PLATFORM: l_osvi.dwPlatformId = static_cast<DWORD>(a_u64Value); break;
      case OS_CFG_VER_MAJOR: l_osvi.dwMajorVersion = static_cast<DWORD>(a_u64Value); break;
      case OS_CFG_VER_MINOR: l_osvi.dwMinorVersion = static_cast<DWORD>(a_u64Value); break;
      case OS_CFG_VER_BUILD: l_osvi.dwBuildNumber = static_cast<DWORD>(a_u64Value); break;
      case OS_CFG_VER_SPMAJOR: l_osvi.wServicePackMajor = static_cast<WORD>(a_u64Value); break;
      case OS_CFG_VER_SPMINOR: l_osvi.wServicePackMinor = static_cast<WORD>(a_u64Value); break;
      case OS_CFG_VER_SUITE: l_osvi.wSuiteMask = static_cast<WORD>(a_u64Value); break;
      case OS_CFG_VER_PRODUCT: l_osvi.wProductType = static_cast<BYTE>(a_u64Value); break;
      default: return false;
    }
    const DWORDLONG l_dwlMask = VerSetConditionMask(0, a_u32TypeBit, a_byCondition);
    return VerifyVersionInfoA(&l_osvi, a_u32TypeBit, l_dwlMask) != FALSE;
  }
};

// ---- the detection state ----

struct OsCfgSysState {
  volatile bool m_bDetected;
  OsCfgOsVersion m_osversion;
  OsCfgOsNames m_osnames;
  long m_lProcessors;
  OsCfgProcessor* m_paosprocessor;  // m_lProcessors records and one more
  OsCfgMemory m_osmemory;
};
OsCfgSysState s_oscfgsys;
volatile std::uint32_t s_u32SysLock = 0;

// The volume and the host name, found once per process on first use.
struct OsCfgSysOnce {
  volatile bool m_bVolume;
  char m_szDeviceId[OS_CFG_SYSTEMDRIVE_SIZE + 2];
  char m_szSerial[OS_CFG_VOLUME_SIZE];
  volatile bool m_bHost;
  char m_szHostName[OS_CFG_HOSTNAME_SIZE];
};
OsCfgSysOnce s_oscfgsysonce;

void ReadCpuid(OsCfgCpuid* a_poscfgcpuid) {
  std::memset(a_poscfgcpuid, 0, sizeof(*a_poscfgcpuid));
  unsigned l_uA = 0;
  unsigned l_uB = 0;
  unsigned l_uC = 0;
  unsigned l_uD = 0;
  if (__get_cpuid(0, &l_uA, &l_uB, &l_uC, &l_uD) == 0) return;
  a_poscfgcpuid->m_au32Vendor[0] = l_uB;
  a_poscfgcpuid->m_au32Vendor[1] = l_uD;
  a_poscfgcpuid->m_au32Vendor[2] = l_uC;
  if (l_uA >= 1 && __get_cpuid(1, &l_uA, &l_uB, &l_uC, &l_uD) != 0) {
    a_poscfgcpuid->m_u32Signature = l_uA;
    a_poscfgcpuid->m_u32Ecx1 = l_uC;
    a_poscfgcpuid->m_u32Edx1 = l_uD;
  }
  const unsigned l_uMaxExtended = __get_cpuid_max(0x80000000u, nullptr);
  if (l_uMaxExtended < 0x80000000u) return;
  a_poscfgcpuid->m_u32MaxExtended = l_uMaxExtended;
  if (l_uMaxExtended >= 0x80000001u && __get_cpuid(0x80000001u, &l_uA, &l_uB, &l_uC, &l_uD) != 0) {
    a_poscfgcpuid->m_u32EcxExtended1 = l_uC;
    a_poscfgcpuid->m_u32EdxExtended1 = l_uD;
  }
  for (unsigned l_u = 0; l_u < 3 && 0x80000002u + l_u <= l_uMaxExtended; ++l_u) {
    if (__get_cpuid(0x80000002u + l_u, &l_uA, &l_uB, &l_uC, &l_uD) == 0) break;
    std::uint32_t* const l_pu32 = &a_poscfgcpuid->m_au32Brand[l_u * 4];
    l_pu32[0] = l_uA;
    l_pu32[1] = l_uB;
    l_pu32[2] = l_uC;
    l_pu32[3] = l_uD;
  }
  if (l_uMaxExtended >= 0x80000006u && __get_cpuid(0x80000006u, &l_uA, &l_uB, &l_uC, &l_uD) != 0)
    a_poscfgcpuid->m_u32EcxExtended6 = l_uC;
}

int MachineBits() {
#if defined(_WIN64)
  // The process is 64-bit: so is the system.
  return 64;
#else
  typedef BOOL(WINAPI * PfnIsWow64Process)(HANDLE, PBOOL);
  const PfnIsWow64Process l_pfn = reinterpret_cast<PfnIsWow64Process>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "IsWow64Process")));
  if (l_pfn == nullptr) return 32;  // a system without it has no 64-bit side
  BOOL l_b = FALSE;
  return !l_pfn(GetCurrentProcess(), &l_b) || l_b ? 64 : 32;
#endif
}

// The clock of one processor from its registry key; -1 when the key cannot
// be opened. Read directly, not through the logging registry helper: the
// pass must not log.
std::int32_t ProcessorMhz(long a_lIndex) {
  wchar_t l_wszKey[64];
  char l_szKey[64];
  SStrPrintf(l_szKey, sizeof(l_szKey), "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\%d",
             static_cast<int>(a_lIndex));
  for (std::size_t l_i = 0;; ++l_i) {
    l_wszKey[l_i] = static_cast<unsigned char>(l_szKey[l_i]);
    if (l_szKey[l_i] == 0) break;
  }
  HKEY l_hkey = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, l_wszKey, 0, KEY_QUERY_VALUE, &l_hkey) != ERROR_SUCCESS) return -1;
  COsRegKey l_key(l_hkey);
  DWORD l_dwMhz = 0;
  DWORD l_dwType = 0;
  DWORD l_dwSize = sizeof(l_dwMhz);
  if (RegQueryValueExW(l_key.Get(), L"~MHz", nullptr, &l_dwType, reinterpret_cast<BYTE*>(&l_dwMhz), &l_dwSize) !=
          ERROR_SUCCESS ||
      l_dwType != REG_DWORD)
    l_dwMhz = 0;
  return static_cast<std::int32_t>(l_dwMhz);
}

void MeasureMemory(OsCfgMemory* a_posmemory) {
  std::memset(a_posmemory, 0, sizeof(*a_posmemory));
  MEMORYSTATUSEX l_status;
  std::memset(&l_status, 0, sizeof(l_status));
  l_status.dwLength = sizeof(l_status);
  if (!GlobalMemoryStatusEx(&l_status)) return;
  a_posmemory->m_u64TotalPhysical = l_status.ullTotalPhys;
  a_posmemory->m_u64AvailablePhysical = l_status.ullAvailPhys;
  a_posmemory->m_u64TotalVirtual = l_status.ullTotalVirtual;
  a_posmemory->m_u64AvailableVirtual = l_status.ullAvailVirtual;
  a_posmemory->m_u64TotalPageFile = l_status.ullTotalPageFile;
  a_posmemory->m_u64AvailablePageFile = l_status.ullAvailPageFile;
  a_posmemory->m_u32Load = l_status.dwMemoryLoad;
}

// The pass itself, under the state's lock.
void RunDetection(OsCfgSysState& a_state) {
  OsCfgBisectVersion(OsCfgSystemVersionOracle(), &a_state.m_osversion);
  OsCfgNameVersion(a_state.m_osversion, &a_state.m_osnames);
  const int l_iMachineBits = MachineBits();

  SYSTEM_INFO l_info;
  GetSystemInfo(&l_info);
  a_state.m_lProcessors = static_cast<long>(l_info.dwNumberOfProcessors);
  // The system heap, not the tracked allocator: the log header runs this
  // pass while holding the log's lock, which the memory lock never follows.
  a_state.m_paosprocessor = static_cast<OsCfgProcessor*>(
      HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY,
                (static_cast<std::size_t>(a_state.m_lProcessors) + 1) * sizeof(OsCfgProcessor)));
  if (a_state.m_paosprocessor != nullptr) {
    OsCfgCpuid l_oscfgcpuid;
    ReadCpuid(&l_oscfgcpuid);
    OsCfgProcessor l_osprocessor;
    OsCfgProcessorFromCpuid(l_oscfgcpuid, &l_osprocessor);
    l_osprocessor.m_i32ProcessBits = static_cast<std::int32_t>(sizeof(void*) * 8);
    l_osprocessor.m_i32MachineBits = l_iMachineBits;
    for (long l_l = 0; l_l < a_state.m_lProcessors; ++l_l) {
      a_state.m_paosprocessor[l_l] = l_osprocessor;
      a_state.m_paosprocessor[l_l].m_i32Index = static_cast<std::int32_t>(l_l);
      a_state.m_paosprocessor[l_l].m_i32Mhz = ProcessorMhz(l_l);
    }
  }
  MeasureMemory(&a_state.m_osmemory);
}

// Checks the processor index of a query; reports and returns false when it
// is outside the table.
bool CheckProcessor(EOSCFGINFO a_eoscfginfo, long a_lProcessor) {
  const long l_lCount = s_oscfgsys.m_lProcessors;
  if (l_lCount == 0) {
    OS_LOGA("Unsupported...%ld >= %ld", a_lProcessor, l_lCount);
    return false;
  }
  if (a_lProcessor < 0 || a_lProcessor >= l_lCount) {
    OS_LOGA("Unsupported...%d %ld >= %ld", static_cast<int>(a_eoscfginfo), a_lProcessor, l_lCount);
    return false;
  }
  return true;
}

void FindVolume() {
  if (s_oscfgsysonce.m_bVolume) return;
  char l_szDevice[OS_CFG_SYSTEMDRIVE_SIZE + 2];
  if (OsCfgGetEnv("SystemDrive", "C:", OS_CFG_SYSTEMDRIVE_SIZE, l_szDevice, false) != OS_STS_SUCCESS)
    SStrCpy(l_szDevice, OS_CFG_SYSTEMDRIVE_SIZE, "C:");
  SStrCat(l_szDevice, sizeof(l_szDevice), "\\");
  wchar_t l_wszDevice[OS_CFG_SYSTEMDRIVE_SIZE + 2];
  wchar_t l_wszVolume[OS_CFG_VOLUME_SIZE];
  char l_szVolume[OS_CFG_VOLUME_SIZE] = "";
  DWORD l_dwSerial = 0;
  if (CopyStringFromUtf8(l_wszDevice, OS_CFG_SYSTEMDRIVE_SIZE + 2, l_szDevice) > 0) {
    if (GetVolumeNameForVolumeMountPointW(l_wszDevice, l_wszVolume, OS_CFG_VOLUME_SIZE))
      CopyUtf8FromUnicode(l_szVolume, sizeof(l_szVolume), l_wszVolume, -1);
    if (std::strchr(l_szVolume, '{') == nullptr &&
        !GetVolumeInformationW(l_wszDevice, nullptr, 0, &l_dwSerial, nullptr, nullptr, nullptr, 0))
      l_dwSerial = 0;
  }
  char l_szSerial[OS_CFG_VOLUME_SIZE];
  OsCfgVolumeSerialText(l_szVolume, l_dwSerial, l_szSerial, sizeof(l_szSerial));
  SetLastError(0);

  bool l_bStored = false;
  OsSyncSpinLock(&s_u32SysLock);
  if (!s_oscfgsysonce.m_bVolume) {
    SStrCpy(s_oscfgsysonce.m_szDeviceId, sizeof(s_oscfgsysonce.m_szDeviceId), l_szDevice);
    SStrCpy(s_oscfgsysonce.m_szSerial, sizeof(s_oscfgsysonce.m_szSerial), l_szSerial);
    s_oscfgsysonce.m_bVolume = true;
    l_bStored = true;
  }
  OsSyncSpinUnlock(&s_u32SysLock);
  if (l_bStored) {
    OS_LOGI("OS_CFGINFO_VOLUME_DEVICEID.............<%s>", s_oscfgsysonce.m_szDeviceId);
    OS_LOGI("OS_CFGINFO_VOLUME_SERIALNUMBER.........<%s>", s_oscfgsysonce.m_szSerial);
  }
}

void FindHostName() {
  if (s_oscfgsysonce.m_bHost) return;
  wchar_t l_wszHost[OS_CFG_HOSTNAME_SIZE];
  DWORD l_dwLength = OS_CFG_HOSTNAME_SIZE;
  char l_szHost[OS_CFG_HOSTNAME_SIZE] = "";
  if (GetComputerNameExW(ComputerNameDnsFullyQualified, l_wszHost, &l_dwLength))
    CopyUtf8FromUnicode(l_szHost, sizeof(l_szHost), l_wszHost, -1);
  char* const l_pszDot = std::strchr(l_szHost, '.');
  if (l_pszDot != nullptr) *l_pszDot = 0;
  SetLastError(0);

  bool l_bStored = false;
  OsSyncSpinLock(&s_u32SysLock);
  if (!s_oscfgsysonce.m_bHost) {
    SStrCpy(s_oscfgsysonce.m_szHostName, sizeof(s_oscfgsysonce.m_szHostName), l_szHost);
    s_oscfgsysonce.m_bHost = true;
    l_bStored = true;
  }
  OsSyncSpinUnlock(&s_u32SysLock);
  if (l_bStored) OS_LOGI("OS_CFGINFO_NETWORK_HOSTNAME...........%s", s_oscfgsysonce.m_szHostName);
}

// The number codes, for the number and the 64-bit query; false for a code
// that is not one.
bool NumberValue(EOSCFGINFO a_eoscfginfo, long a_lProcessor, long* a_plValue) {
  const OsCfgProcessor* const l_posprocessor = OsCfgSysProcessor(a_lProcessor);
  const auto l_processor = [l_posprocessor](std::int32_t OsCfgProcessor::*a_pi32Member) -> long {
    return l_posprocessor != nullptr ? static_cast<long>(l_posprocessor->*a_pi32Member) : 0;
  };
  switch (a_eoscfginfo) {
    case OS_CFGINFO_OS_KERNELVERSIONSTRING:
      *a_plValue = std::strtol(s_oscfgsys.m_osnames.m_szKernelVersion, nullptr, 10);
      return true;
    case OS_CFGINFO_OS_PLATFORM: *a_plValue = 1; return true;  // the platform family is always 1
    case OS_CFGINFO_OS_CODE: *a_plValue = s_oscfgsys.m_osnames.m_eoscfgos; return true;
    case OS_CFGINFO_MEM_LOAD: *a_plValue = static_cast<long>(s_oscfgsys.m_osmemory.m_u32Load); return true;
    case OS_CFGINFO_CPU_CACHESIZE: *a_plValue = l_processor(&OsCfgProcessor::m_i32CacheSize); return true;
    case OS_CFGINFO_CPU_FAMILY: *a_plValue = l_processor(&OsCfgProcessor::m_i32Family); return true;
    case OS_CFGINFO_CPU_LEVEL: *a_plValue = 0; return true;  // not gathered
    case OS_CFGINFO_CPU_MODEL: *a_plValue = l_processor(&OsCfgProcessor::m_i32Model); return true;
    case OS_CFGINFO_CPU_MHZ: *a_plValue = l_processor(&OsCfgProcessor::m_i32Mhz); return true;
    case OS_CFGINFO_CPU_STEPPING: *a_plValue = l_processor(&OsCfgProcessor::m_i32Stepping); return true;
    case OS_CFGINFO_CPU_TOTAL: *a_plValue = s_oscfgsys.m_lProcessors; return true;
    case OS_CFGINFO_CPU_PROCESSBITS: *a_plValue = l_processor(&OsCfgProcessor::m_i32ProcessBits); return true;
    case OS_CFGINFO_CPU_MACHINEBITS: *a_plValue = l_processor(&OsCfgProcessor::m_i32MachineBits); return true;
    // Codes 5 and 6 would be process-wide numbers that nothing sets: 0 like
    // any code that is not a number.
    default: return false;
  }
}

// The flag codes; SSSE3 only for the 64-bit query.
bool FlagValue(EOSCFGINFO a_eoscfginfo, long a_lProcessor, bool a_bWithSsse3, bool* a_pbValue) {
  const OsCfgProcessor* const l_p = OsCfgSysProcessor(a_lProcessor);
  std::uint8_t l_b = 0;
  switch (a_eoscfginfo) {
    case OS_CFGINFO_CPU_IS_FPU: l_b = l_p != nullptr ? l_p->m_bFpu : 0; break;
    case OS_CFGINFO_CPU_IS_MMX: l_b = l_p != nullptr ? l_p->m_bMmx : 0; break;
    case OS_CFGINFO_CPU_IS_SSE: l_b = l_p != nullptr ? l_p->m_bSse : 0; break;
    case OS_CFGINFO_CPU_IS_SSE2: l_b = l_p != nullptr ? l_p->m_bSse2 : 0; break;
    case OS_CFGINFO_CPU_IS_SSE3: l_b = l_p != nullptr ? l_p->m_bSse3 : 0; break;
    case OS_CFGINFO_CPU_IS_SSSE3:
      if (!a_bWithSsse3) return false;
      l_b = l_p != nullptr ? l_p->m_bSsse3 : 0;
      break;
    case OS_CFGINFO_CPU_IS_SSE41: l_b = l_p != nullptr ? l_p->m_bSse41 : 0; break;
    case OS_CFGINFO_CPU_IS_SSE42: l_b = l_p != nullptr ? l_p->m_bSse42 : 0; break;
    case OS_CFGINFO_CPU_IS_SSE4A: l_b = l_p != nullptr ? l_p->m_bSse4a : 0; break;
    case OS_CFGINFO_CPU_IS_POPCNT: l_b = l_p != nullptr ? l_p->m_bPopcnt : 0; break;
    case OS_CFGINFO_CPU_IS_3DNOW: l_b = l_p != nullptr ? l_p->m_b3dNow : 0; break;
    case OS_CFGINFO_CPU_IS_HYPERTHREADING: l_b = l_p != nullptr ? l_p->m_bHyperThreading : 0; break;
    default: return false;
  }
  *a_pbValue = l_b != 0;
  return true;
}

}  // namespace

COsCfgVersionOracle& OsCfgSystemVersionOracle() {
  static COsCfgSystemOracle s_oracle;
  return s_oracle;
}

bool OsCfgBisectField(COsCfgVersionOracle& a_oracle, std::uint32_t a_u32TypeBit, std::uint64_t a_u64Low,
                      std::uint64_t a_u64High, std::uint64_t* a_pu64Value) {
  std::uint64_t l_u64Low = a_u64Low;
  std::uint64_t l_u64High = a_u64High;
  // The midpoint without the sum, so that a range that reaches the top of
  // the field's width cannot wrap.
  std::uint64_t l_u64Guess = l_u64Low + (l_u64High - l_u64Low) / 2;
  for (;;) {
    if (a_oracle.IsEqual(a_u32TypeBit, l_u64Guess)) {
      *a_pu64Value = l_u64Guess;
      return true;
    }
    if (a_oracle.IsGreater(a_u32TypeBit, l_u64Guess))
      l_u64Low = l_u64Guess;
    else
      l_u64High = l_u64Guess;
    l_u64Guess = l_u64Low + (l_u64High - l_u64Low) / 2;
    if (l_u64Low == l_u64Guess) {
      // The range is down to its two ends.
      if (a_oracle.IsEqual(a_u32TypeBit, l_u64Low)) {
        *a_pu64Value = l_u64Low;
        return true;
      }
      if (a_oracle.IsEqual(a_u32TypeBit, l_u64High)) {
        *a_pu64Value = l_u64High;
        return true;
      }
      *a_pu64Value = 0;
      return false;
    }
  }
}

void OsCfgBisectVersion(COsCfgVersionOracle& a_oracle, OsCfgOsVersion* a_posversion) {
  constexpr std::uint64_t l_u64Max32 = 4294967295u;
  constexpr std::uint64_t l_u64Max16 = 65535u;
  std::memset(a_posversion, 0, sizeof(*a_posversion));
  std::uint64_t l_u64 = 0;
  OsCfgBisectField(a_oracle, OS_CFG_VER_PLATFORM, 0, l_u64Max32, &l_u64);
  a_posversion->m_u32PlatformId = static_cast<std::uint32_t>(l_u64);
  OsCfgBisectField(a_oracle, OS_CFG_VER_MAJOR, 0, l_u64Max32, &l_u64);
  a_posversion->m_u32Major = static_cast<std::uint32_t>(l_u64);
  OsCfgBisectField(a_oracle, OS_CFG_VER_MINOR, 0, 16, &l_u64);
  a_posversion->m_u32Minor = static_cast<std::uint32_t>(l_u64);
  OsCfgBisectField(a_oracle, OS_CFG_VER_BUILD, 0, l_u64Max32, &l_u64);
  a_posversion->m_u32Build = static_cast<std::uint32_t>(l_u64);
  OsCfgBisectField(a_oracle, OS_CFG_VER_SPMAJOR, 0, l_u64Max16, &l_u64);
  a_posversion->m_u16ServicePackMajor = static_cast<std::uint16_t>(l_u64);
  OsCfgBisectField(a_oracle, OS_CFG_VER_SPMINOR, 0, l_u64Max16, &l_u64);
  a_posversion->m_u16ServicePackMinor = static_cast<std::uint16_t>(l_u64);
  OsCfgBisectField(a_oracle, OS_CFG_VER_SUITE, 0, l_u64Max16, &l_u64);
  a_posversion->m_u16SuiteMask = static_cast<std::uint16_t>(l_u64);
  OsCfgBisectField(a_oracle, OS_CFG_VER_PRODUCT, 0, 255, &l_u64);
  a_posversion->m_u8ProductType = static_cast<std::uint8_t>(l_u64);
}

void OsCfgNameVersion(const OsCfgOsVersion& a_osversion, OsCfgOsNames* a_posnames) {
  std::memset(a_posnames, 0, sizeof(*a_posnames));
  const int l_iMajor = static_cast<int>(a_osversion.m_u32Major);
  const int l_iMinor = static_cast<int>(a_osversion.m_u32Minor);
  const bool l_bWorkstation = a_osversion.m_u8ProductType == OS_CFG_PRODUCT_WORKSTATION;
  const char* l_szName = nullptr;
  EOSCFGOS l_eoscfgos = OS_CFG_OS_OTHER;
  if (a_osversion.m_u32PlatformId != OS_CFG_PLATFORM_NT) {
    SStrPrintf(a_posnames->m_szName, sizeof(a_posnames->m_szName), "WinXX%02d%02d", l_iMajor, l_iMinor);
  } else if (l_iMajor == 4) {
    l_szName = "WinNT", l_eoscfgos = OS_CFG_OS_WINNT;
  } else if (l_iMajor == 5) {
    if (l_iMinor == 0)
      l_szName = "Win2K", l_eoscfgos = OS_CFG_OS_WIN2K;
    else
      l_szName = "WinXP", l_eoscfgos = OS_CFG_OS_WINXP;
  } else if (l_iMajor == 6) {
    static const struct {
      const char* m_szWorkstation;
      EOSCFGOS m_eoscfgosWorkstation;
      const char* m_szServer;
      EOSCFGOS m_eoscfgosServer;
    } s_aminor[] = {{"WinVista", OS_CFG_OS_WINVISTA, "Win2008", OS_CFG_OS_WIN2008},
                    {"Win7", OS_CFG_OS_WIN7, "Win2008R2", OS_CFG_OS_WIN2008R2},
                    {"Win8", OS_CFG_OS_WIN8, "Win2012", OS_CFG_OS_WIN2012},
                    {"Win8.1", OS_CFG_OS_WIN81, "Win2012R2", OS_CFG_OS_WIN2012R2}};
    if (l_iMinor >= 4) {
      l_szName = "Win10", l_eoscfgos = OS_CFG_OS_WIN10;
    } else {
      l_szName = l_bWorkstation ? s_aminor[l_iMinor].m_szWorkstation : s_aminor[l_iMinor].m_szServer;
      l_eoscfgos = l_bWorkstation ? s_aminor[l_iMinor].m_eoscfgosWorkstation : s_aminor[l_iMinor].m_eoscfgosServer;
    }
  } else {
    SStrPrintf(a_posnames->m_szName, sizeof(a_posnames->m_szName), "WinNT%02d%02d", l_iMajor, l_iMinor);
  }
  if (l_szName != nullptr) SStrCpy(a_posnames->m_szName, sizeof(a_posnames->m_szName), l_szName);
  a_posnames->m_eoscfgos = l_eoscfgos;
  SStrPrintf(a_posnames->m_szVersion, sizeof(a_posnames->m_szVersion), "%02d%02d", l_iMajor, l_iMinor);
  SStrCpy(a_posnames->m_szKernelVersion, sizeof(a_posnames->m_szKernelVersion), a_posnames->m_szVersion);
  SStrPrintf(a_posnames->m_szBuild, sizeof(a_posnames->m_szBuild), "%d", static_cast<int>(a_osversion.m_u32Build));
  if (a_osversion.m_u16ServicePackMajor != 0)
    SStrPrintf(a_posnames->m_szServicePack, sizeof(a_posnames->m_szServicePack), "Service Pack %d",
               static_cast<int>(a_osversion.m_u16ServicePackMajor));
}

void OsCfgProcessorFromCpuid(const OsCfgCpuid& a_oscfgcpuid, OsCfgProcessor* a_posprocessor) {
  std::memset(a_posprocessor, 0, sizeof(*a_posprocessor));
  OsCfgProcessor& l_p = *a_posprocessor;
  std::memcpy(l_p.m_szVendor, a_oscfgcpuid.m_au32Vendor, 12);
  l_p.m_szVendor[12] = 0;
  l_p.m_i32Family = static_cast<std::int32_t>((a_oscfgcpuid.m_u32Signature >> 8) & 0xf);
  l_p.m_i32Model = static_cast<std::int32_t>((a_oscfgcpuid.m_u32Signature >> 4) & 0xf);
  l_p.m_i32Stepping = static_cast<std::int32_t>(a_oscfgcpuid.m_u32Signature & 0xf);
  char l_szBrand[OS_CFG_BRANDTEXT_SIZE];
  std::memcpy(l_szBrand, a_oscfgcpuid.m_au32Brand, 48);
  l_szBrand[48] = 0;
  const char* l_psz = l_szBrand;
  while (*l_psz == ' ') ++l_psz;
  SStrCpy(l_p.m_szBrand, sizeof(l_p.m_szBrand), l_psz);
  l_p.m_i32CacheSize = static_cast<std::int32_t>((a_oscfgcpuid.m_u32EcxExtended6 >> 16) & 0xffff);
  const std::uint32_t l_u32Edx = a_oscfgcpuid.m_u32Edx1;
  const std::uint32_t l_u32Ecx = a_oscfgcpuid.m_u32Ecx1;
  l_p.m_u32FeaturesEdx = l_u32Edx;
  l_p.m_bFpu = (l_u32Edx >> 0) & 1;
  l_p.m_bMmx = (l_u32Edx >> 23) & 1;
  l_p.m_bSse = (l_u32Edx >> 25) & 1;
  l_p.m_bSse2 = (l_u32Edx >> 26) & 1;
  l_p.m_bHyperThreading = (l_u32Edx >> 28) & 1;
  l_p.m_bSse3 = (l_u32Ecx >> 0) & 1;
  l_p.m_bSsse3 = (l_u32Ecx >> 9) & 1;
  l_p.m_bSse41 = (l_u32Ecx >> 19) & 1;
  l_p.m_bSse42 = (l_u32Ecx >> 20) & 1;
  l_p.m_bPopcnt = (l_u32Ecx >> 23) & 1;
  l_p.m_bSse4a = (a_oscfgcpuid.m_u32EcxExtended1 >> 6) & 1;
  l_p.m_b3dNow = (a_oscfgcpuid.m_u32EdxExtended1 >> 31) & 1;
}

void OsCfgVolumeSerialText(const char* a_szVolumeName, std::uint32_t a_u32Serial, char* a_szSerial,
                           std::size_t a_sizetSerial) {
  constexpr std::size_t l_sizetPrefix = 11;  // "\\?\Volume{"
  if (a_szVolumeName != nullptr && std::strchr(a_szVolumeName, '{') != nullptr &&
      std::strlen(a_szVolumeName) >= l_sizetPrefix) {
    SStrCpy(a_szSerial, a_sizetSerial, a_szVolumeName + l_sizetPrefix);
    char* const l_psz = std::strchr(a_szSerial, '}');
    if (l_psz != nullptr) *l_psz = 0;
    return;
  }
  SStrPrintf(a_szSerial, a_sizetSerial, "%08x-0000-0000-0000-000000000000", static_cast<unsigned>(a_u32Serial));
}

void OsCfgSysDetect() {
  if (s_oscfgsys.m_bDetected) return;
  const DWORD l_dwError = GetLastError();
  OsSyncSpinLock(&s_u32SysLock);
  if (!s_oscfgsys.m_bDetected) {
    RunDetection(s_oscfgsys);
    s_oscfgsys.m_bDetected = true;
  }
  OsSyncSpinUnlock(&s_u32SysLock);
  SetLastError(l_dwError);
}

void OsCfgSysClear() {
  OsSyncSpinLock(&s_u32SysLock);
  if (s_oscfgsys.m_paosprocessor != nullptr) HeapFree(GetProcessHeap(), 0, s_oscfgsys.m_paosprocessor);
  s_oscfgsys.m_paosprocessor = nullptr;
  s_oscfgsys.m_lProcessors = 0;
  std::memset(&s_oscfgsys.m_osversion, 0, sizeof(s_oscfgsys.m_osversion));
  std::memset(&s_oscfgsys.m_osnames, 0, sizeof(s_oscfgsys.m_osnames));
  std::memset(&s_oscfgsys.m_osmemory, 0, sizeof(s_oscfgsys.m_osmemory));
  s_oscfgsys.m_bDetected = false;
  OsSyncSpinUnlock(&s_u32SysLock);
}

EOSCFGOS OsCfgSysOsCode() {
  OsCfgSysDetect();
  return s_oscfgsys.m_osnames.m_eoscfgos;
}

long OsCfgSysProcessorCountQuiet() {
  OsCfgSysDetect();
  return s_oscfgsys.m_lProcessors;
}

const OsCfgOsVersion& OsCfgSysVersion() {
  OsCfgSysDetect();
  return s_oscfgsys.m_osversion;
}

const OsCfgOsNames& OsCfgSysNames() {
  OsCfgSysDetect();
  return s_oscfgsys.m_osnames;
}

const OsCfgProcessor* OsCfgSysProcessor(long a_lIndex) {
  OsCfgSysDetect();
  if (s_oscfgsys.m_paosprocessor == nullptr || a_lIndex < 0 || a_lIndex >= s_oscfgsys.m_lProcessors) return nullptr;
  return &s_oscfgsys.m_paosprocessor[a_lIndex];
}

void OsCfgSysMemory(OsCfgMemory* a_posmemory, bool a_bMeasure) {
  OsCfgSysDetect();
  if (a_bMeasure)
    MeasureMemory(a_posmemory);
  else
    *a_posmemory = s_oscfgsys.m_osmemory;
}

const char* OsCfgSysGetText(EOSCFGINFO a_eoscfginfo, long a_lProcessor) {
  OsCfgSysDetect();
  if (!CheckProcessor(a_eoscfginfo, a_lProcessor)) return nullptr;
  const OsCfgProcessor* const l_posprocessor = OsCfgSysProcessor(a_lProcessor);
  switch (a_eoscfginfo) {
    case OS_CFGINFO_OS_BUILDSTRING: return s_oscfgsys.m_osnames.m_szBuild;
    case OS_CFGINFO_OS_NAMESTRING: return s_oscfgsys.m_osnames.m_szName;
    case OS_CFGINFO_OS_VERSIONSTRING: return s_oscfgsys.m_osnames.m_szVersion;
    case OS_CFGINFO_OS_KERNELVERSIONSTRING: return s_oscfgsys.m_osnames.m_szKernelVersion;
    case OS_CFGINFO_CPU_MODELSTRING: return l_posprocessor != nullptr ? l_posprocessor->m_szBrand : s_szNone;
    case OS_CFGINFO_CPU_VENDORSTRING: return l_posprocessor != nullptr ? l_posprocessor->m_szVendor : s_szNone;
    case OS_CFGINFO_VOLUME_DEVICEID: FindVolume(); return s_oscfgsysonce.m_szDeviceId;
    case OS_CFGINFO_VOLUME_SERIALNUMBER: FindVolume(); return s_oscfgsysonce.m_szSerial;
    case OS_CFGINFO_NETWORK_HOSTNAME: FindHostName(); return s_oscfgsysonce.m_szHostName;
    default: OS_LOGA("Unsupported...%d", static_cast<int>(a_eoscfginfo)); return nullptr;
  }
}

long OsCfgSysGetNumber(EOSCFGINFO a_eoscfginfo, long a_lProcessor) {
  OsCfgSysDetect();
  if (!CheckProcessor(a_eoscfginfo, a_lProcessor)) return 0;
  long l_lValue = 0;
  return NumberValue(a_eoscfginfo, a_lProcessor, &l_lValue) ? l_lValue : 0;
}

unsigned long long OsCfgSysGetNumber64(EOSCFGINFO a_eoscfginfo, long a_lProcessor) {
  OsCfgSysDetect();
  if (!CheckProcessor(a_eoscfginfo, a_lProcessor)) return 0;
  const OsCfgMemory& l_stored = s_oscfgsys.m_osmemory;
  OsCfgMemory l_now;
  switch (a_eoscfginfo) {
    case OS_CFGINFO_MEM_TOTALPHYSICAL: return l_stored.m_u64TotalPhysical;
    case OS_CFGINFO_MEM_TOTALVIRTUAL: return l_stored.m_u64TotalVirtual;
    case OS_CFGINFO_MEM_TOTALPAGEFILE: return l_stored.m_u64TotalPageFile;
    case OS_CFGINFO_MEM_AVAILABLEPHYSICAL: MeasureMemory(&l_now); return l_now.m_u64AvailablePhysical;
    case OS_CFGINFO_MEM_AVAILABLEVIRTUAL: MeasureMemory(&l_now); return l_now.m_u64AvailableVirtual;
    case OS_CFGINFO_MEM_AVAILABLEPAGEFILE: MeasureMemory(&l_now); return l_now.m_u64AvailablePageFile;
    case OS_CFGINFO_MEM_LOAD: MeasureMemory(&l_now); return l_now.m_u32Load;
    default: break;
  }
  long l_lValue = 0;
  if (NumberValue(a_eoscfginfo, a_lProcessor, &l_lValue)) return static_cast<unsigned long long>(l_lValue);
  bool l_bFlag = false;
  if (FlagValue(a_eoscfginfo, a_lProcessor, true, &l_bFlag)) return l_bFlag ? 1 : 0;
  return 0;
}

bool OsCfgSysGetFlag(EOSCFGINFO a_eoscfginfo, long a_lProcessor) {
  OsCfgSysDetect();
  if (!CheckProcessor(a_eoscfginfo, a_lProcessor)) return false;
  bool l_bFlag = false;
  return FlagValue(a_eoscfginfo, a_lProcessor, false, &l_bFlag) && l_bFlag;
}

long OsCfgSysGetProcessorCount() {
  OsCfgSysDetect();
  const long l_lCount = s_oscfgsys.m_lProcessors;
  if (l_lCount == 0) OS_LOGA("Unsupported...%ld >= %ld", 0L, l_lCount);
  return l_lCount;
}

int OsSysOsCode() { return OsCfgSysOsCode(); }

int OsSysMachineBits() {
  const OsCfgProcessor* const l_posprocessor = OsCfgSysProcessor(0);
  return l_posprocessor != nullptr ? l_posprocessor->m_i32MachineBits : 0;
}

int OsSysProcessBits() {
  const OsCfgProcessor* const l_posprocessor = OsCfgSysProcessor(0);
  return l_posprocessor != nullptr ? l_posprocessor->m_i32ProcessBits : 0;
}

// ---- the configuration's queries ----

const char* COsCfg::InfoGetText(EOSCFGINFO a_eoscfginfo, long a_lProcessor) {
  OS_RETURN_IF_NULL(m_poscfgimpl, OS_LOG_ASSERT, "m_poscfgimpl is null...", nullptr);
  return OsCfgSysGetText(a_eoscfginfo, a_lProcessor);
}

long COsCfg::InfoGetNumber(EOSCFGINFO a_eoscfginfo, long a_lProcessor) {
  OS_RETURN_IF_NULL(m_poscfgimpl, OS_LOG_ASSERT, "m_poscfgimpl is null...", 0);
  return OsCfgSysGetNumber(a_eoscfginfo, a_lProcessor);
}

unsigned long long COsCfg::InfoGetNumber64(EOSCFGINFO a_eoscfginfo, long a_lProcessor) {
  OS_RETURN_IF_NULL(m_poscfgimpl, OS_LOG_ASSERT, "m_poscfgimpl is null...", 0);
  return OsCfgSysGetNumber64(a_eoscfginfo, a_lProcessor);
}

bool COsCfg::InfoGetFlag(EOSCFGINFO a_eoscfginfo, long a_lProcessor) {
  OS_RETURN_IF_NULL(m_poscfgimpl, OS_LOG_ASSERT, "m_poscfgimpl is null...", false);
  return OsCfgSysGetFlag(a_eoscfginfo, a_lProcessor);
}

long COsCfg::InfoGetProcessorCount() {
  OS_RETURN_IF_NULL(m_poscfgimpl, OS_LOG_ASSERT, "m_poscfgimpl is null...", 0);
  return OsCfgSysGetProcessorCount();
}
