// The header block of a log file: date and settings, processor and memory,
// operating system, program and library versions. Its lines are formatted
// with formatters that report on standard error, so that a broken header
// never recurses into the log.
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "os_coscfg.h"
#include "os_coscfg_sysinfo.h"
#include "os_sysinfo.h"
#include "os_coslocale.h"
#include "os_cosresource.h"
#include "os_costhread.h"
#include "os_coslog_impl.h"
#include "os_cosstring_impl.h"

namespace {

constexpr char s_szNoneProvided[] = "(none provided)";

// Process integrity names, indexed by the integrity class.
const char* const s_aszIntegrity[] = {"undefined", "protected-low",  "low",  "protected-medium",
                                      "medium",    "protected-high", "high", "last"};

// The system-information items of the header, from the detection pass,
// which runs here when no configuration has run it yet. The pass never logs
// and takes no lock but its own, so it is safe under the log's lock.
struct OsLogSystemItems {
  int m_iProcessBits;
  int m_iMachineBits;
  int m_iMhz;
  long long m_llTotalPhysical;
  long long m_llAvailablePhysical;
  long long m_llTotalVirtual;
  long long m_llAvailableVirtual;
  int m_iMemoryLoad;
};
void GetSystemItems(OsLogSystemItems* a_pitems) {
  std::memset(a_pitems, 0, sizeof(*a_pitems));
  const OsCfgProcessor* const l_posprocessor = OsCfgSysProcessor(0);
  if (l_posprocessor != nullptr) {
    a_pitems->m_iProcessBits = l_posprocessor->m_i32ProcessBits;
    a_pitems->m_iMachineBits = l_posprocessor->m_i32MachineBits;
    a_pitems->m_iMhz = l_posprocessor->m_i32Mhz;
  }
  // The totals as detected, the available figures and the load as they are now.
  OsCfgMemory l_osmemoryStored;
  OsCfgMemory l_osmemoryNow;
  OsCfgSysMemory(&l_osmemoryStored, false);
  OsCfgSysMemory(&l_osmemoryNow, true);
  a_pitems->m_llTotalPhysical = static_cast<long long>(l_osmemoryStored.m_u64TotalPhysical);
  a_pitems->m_llAvailablePhysical = static_cast<long long>(l_osmemoryNow.m_u64AvailablePhysical);
  a_pitems->m_llTotalVirtual = static_cast<long long>(l_osmemoryStored.m_u64TotalVirtual);
  a_pitems->m_llAvailableVirtual = static_cast<long long>(l_osmemoryNow.m_u64AvailableVirtual);
  a_pitems->m_iMemoryLoad = static_cast<int>(l_osmemoryNow.m_u32Load);
}

// The process integrity class (0 to 7).
int GetIntegrityClass() { return OsProcessIntegrityGet(); }

// The configuration's version as "%02d%02d%02d%02d"; false without a configuration.
bool GetBuildText(char* a_szBuild, std::size_t a_sizetBuild) {
  COsCfg* const l_poscfg = OsCfgInstance();
  if (l_poscfg == nullptr || l_poscfg->m_poscfgimpl == nullptr) return false;
  int l_aiPart[4];
  for (int l_i = 0; l_i < 4; ++l_i)
    l_aiPart[l_i] = std::atoi(l_poscfg->GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_VERSIONMAJORNUM + l_i));
  return LogSStrPrintf(a_szBuild, a_sizetBuild, "%02d%02d%02d%02d", l_aiPart[0], l_aiPart[1], l_aiPart[2],
                       l_aiPart[3]) > 0;
}

// The raw-data resource "VERSION" of the library's module (at most 32
// bytes), read with the log suspended; false without a configuration or
// without the resource.
bool GetPackageText(char* a_szPackage, std::size_t a_sizetPackage) {
  COsCfg* const l_poscfg = OsCfgInstance();
  if (l_poscfg == nullptr || l_poscfg->m_poscfgimpl == nullptr) return false;
  const int l_iSuspended = OsLogSuspend(OsLogInstance(), 1);
  bool l_bFound = false;
  {
    COsResource l_osresource;
    if (l_osresource.Load(OS_RESOURCE_LOCAL, "VERSION", OS_RESOURCE_TYPE_RCDATA) == OS_STS_SUCCESS) {
      std::size_t l_sizet = l_osresource.SizeGet();
      if (l_sizet > 32) l_sizet = 32;
      if (l_sizet >= a_sizetPackage) l_sizet = a_sizetPackage - 1;
      const char* const l_pc = static_cast<const char*>(l_osresource.DataGet());
      l_sizet = os_cosstring::BoundedLength(l_pc, l_sizet);  // up to its terminator
      std::memcpy(a_szPackage, l_pc, l_sizet);
      a_szPackage[l_sizet] = 0;
      l_bFound = l_sizet != 0;
    }
  }
  OsLogSuspend(OsLogInstance(), l_iSuspended);
  return l_bFound;
}

// The extended version record (size field 156) filled from the detection
// pass's bisection, not from the reported version.
void GetOsVersion(OSVERSIONINFOEXA* a_posversioninfo) {
  std::memset(a_posversioninfo, 0, sizeof(*a_posversioninfo));
  a_posversioninfo->dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
  const OsCfgOsVersion& l_osversion = OsCfgSysVersion();
  a_posversioninfo->dwMajorVersion = l_osversion.m_u32Major;
  a_posversioninfo->dwMinorVersion = l_osversion.m_u32Minor;
  a_posversioninfo->dwBuildNumber = l_osversion.m_u32Build;
  a_posversioninfo->dwPlatformId = l_osversion.m_u32PlatformId;
  a_posversioninfo->wServicePackMajor = l_osversion.m_u16ServicePackMajor;
  a_posversioninfo->wServicePackMinor = l_osversion.m_u16ServicePackMinor;
  a_posversioninfo->wSuiteMask = l_osversion.m_u16SuiteMask;
  a_posversioninfo->wProductType = l_osversion.m_u8ProductType;
  const char* const l_szServicePack = OsCfgSysNames().m_szServicePack;
  os_cosstring::CopyBounded(a_posversioninfo->szCSDVersion, sizeof(a_posversioninfo->szCSDVersion), l_szServicePack,
                            std::strlen(l_szServicePack));
}

void WriteHeaderLine(OsLogSlot* a_poslogslot, HANDLE a_hfile, COsLogImpl* a_poslogimpl) {
  const std::size_t l_sizetLine = os_cosstring::BoundedLength(a_poslogslot->m_szLine, OS_LOG_LINE_SIZE);
  OsLogAppend(a_hfile, a_poslogslot->m_szLine, l_sizetLine, &a_poslogslot->m_dwWritten);
  if (a_poslogimpl->m_u32FlushAll != 0) FlushFileBuffers(a_hfile);
}

// The program's or the library's line: module path and file version.
void WriteModuleLine(COsLogImpl* a_poslogimpl, OsLogSlot* a_poslogslot, HANDLE a_hfile, HMODULE a_hmodule,
                     bool a_bLibrary, const char* a_szBuild, const char* a_szPackage) {
  wchar_t l_wszModule[OS_PATH_SIZE];
  a_poslogslot->m_szPath1[0] = 0;
  const DWORD l_dw = GetModuleFileNameW(a_hmodule, l_wszModule, OS_PATH_SIZE);
  if (l_dw > 0 && l_dw < OS_PATH_SIZE) CopyUtf8FromUnicode(a_poslogslot->m_szPath1, OS_PATH_SIZE, l_wszModule, -1);
  unsigned l_auPart[4] = {0, 0, 0, 0};
  a_poslogslot->m_pfixedfileinfo = nullptr;
  a_poslogslot->m_dwVersionInfoLength = 0;
  const OsSysVersionApi& l_version = OsSysVersion();
  if (l_dw > 0 && l_dw < OS_PATH_SIZE && l_version.m_pfnGetFileVersionInfoW != nullptr &&
      l_version.m_pfnGetFileVersionInfoW(l_wszModule, 0, OS_LOG_VERSIONINFO_SIZE, a_poslogslot->m_aucVersionInfo)) {
    UINT l_uLength = 0;
    void* l_pv = nullptr;
    if (l_version.m_pfnVerQueryValueW(a_poslogslot->m_aucVersionInfo, L"\\", &l_pv, &l_uLength) && l_pv != nullptr &&
        l_uLength >= sizeof(VS_FIXEDFILEINFO)) {
      a_poslogslot->m_pfixedfileinfo = static_cast<VS_FIXEDFILEINFO*>(l_pv);
      a_poslogslot->m_dwVersionInfoLength = l_uLength;
      l_auPart[0] = HIWORD(a_poslogslot->m_pfixedfileinfo->dwFileVersionMS);
      l_auPart[1] = LOWORD(a_poslogslot->m_pfixedfileinfo->dwFileVersionMS);
      l_auPart[2] = HIWORD(a_poslogslot->m_pfixedfileinfo->dwFileVersionLS);
      l_auPart[3] = LOWORD(a_poslogslot->m_pfixedfileinfo->dwFileVersionLS);
    }
  }
  ++a_poslogimpl->m_i32LineCounter;
  OsLogFormatPrefix(a_poslogimpl, a_poslogslot, a_poslogslot->m_szLine, OS_LOG_LINE_SIZE);
  if (a_bLibrary)
    LogSStrCatf(a_poslogslot->m_szLine, OS_LOG_LINE_SIZE,
                "### dllInfo <%s> internal=%d.%d.%d.%d build=%s package=%s\r\n", a_poslogslot->m_szPath1, l_auPart[0],
                l_auPart[1], l_auPart[2], l_auPart[3], a_szBuild, a_szPackage);
  else
    LogSStrCatf(a_poslogslot->m_szLine, OS_LOG_LINE_SIZE,
                "### appInfo <%s> internal=%d.%d.%d.%d build=%s package=%s\r\n", a_poslogslot->m_szPath1, l_auPart[0],
                l_auPart[1], l_auPart[2], l_auPart[3], a_szBuild, a_szPackage);
  WriteHeaderLine(a_poslogslot, a_hfile, a_poslogimpl);
}

}  // namespace

int OsLogFormatPrefix(COsLogImpl* a_poslogimpl, OsLogSlot* a_poslogslot, char* a_szDst, std::size_t a_sizetDst) {
  const OsTimeRecord& l_time = a_poslogslot->m_timerecord;
  int l_iCounter = a_poslogimpl->m_i32LineCounter;
  unsigned l_auTime[4] = {l_time.m_u16Hour, l_time.m_u16Minute, l_time.m_u16Second, l_time.m_u16Millisecond};
  DWORD l_dwError = a_poslogslot->m_dwSavedError;
  if (a_poslogimpl->m_u32Level & OS_LOG_OPT_NOSTAMP) {
    a_poslogimpl->m_i32LineCounter = 0;
    l_iCounter = 0;
    std::memset(l_auTime, 0, sizeof(l_auTime));
    l_dwError = 0;
  }
  const unsigned char* const l_pucState = a_poslogimpl->m_pucState;
  // The fixed widths of the line format: the precision pads with zeros, and
  // the '0' flag beside it is the format's own spelling.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
  return LogSStrPrintf(a_szDst, a_sizetDst, "%05.5d %02.2d%02.2d%02.2d%03.3d %-32.32s %5d %5d T%04llu S%d V%c ",
                       l_iCounter, l_auTime[0], l_auTime[1], l_auTime[2], l_auTime[3], a_poslogslot->m_szModule,
                       a_poslogslot->m_iLine, static_cast<int>(l_dwError),
                       static_cast<unsigned long long>(a_poslogslot->m_u64ThreadId),
                       l_pucState != nullptr ? static_cast<int>(*l_pucState) : 1, a_poslogslot->m_cMark);
#pragma GCC diagnostic pop
}

void OsLogWriteHeader(COsLogImpl* a_poslogimpl, OsLogSlot* a_poslogslot, HANDLE a_hfile) {
  char* const l_szLine = a_poslogslot->m_szLine;
  if (a_poslogimpl->m_u32HeaderPending != 0) {
    a_poslogimpl->m_u32HeaderPending = 0;
    a_poslogimpl->m_i32LineCounter = 0;
    if (a_poslogimpl->m_u32Append == 0) OsLogTruncate(a_hfile);
    const OsTimeRecord& l_time = a_poslogslot->m_timerecord;
    OsLogFormatPrefix(a_poslogimpl, a_poslogslot, l_szLine, OS_LOG_LINE_SIZE);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
    LogSStrCatf(l_szLine, OS_LOG_LINE_SIZE,
                "### (%04.04d/%02.02d/%02.02d %02.02d:%02.02d:%02.02d.%03.03d) Debug=%d DebugFilter=<%s> "
                "Version=~%s\r\n",
                l_time.m_u16Year, l_time.m_u16Month, l_time.m_u16Day, l_time.m_u16Hour, l_time.m_u16Minute,
                l_time.m_u16Second, l_time.m_u16Millisecond, static_cast<int>(a_poslogimpl->m_u32LevelPassed),
                a_poslogimpl->m_szFilterText, OS_LOG_VERSION);
#pragma GCC diagnostic pop
    WriteHeaderLine(a_poslogslot, a_hfile, a_poslogimpl);
  }

  if (a_poslogimpl->m_u32SystemInfoWritten == 0) {
    a_poslogimpl->m_u32SystemInfoWritten = 1;
    DWORD_PTR l_dwptrProcess = 0;
    DWORD_PTR l_dwptrSystem = 0;
    GetProcessAffinityMask(GetCurrentProcess(), &l_dwptrProcess, &l_dwptrSystem);
    GetSystemInfo(&a_poslogslot->m_systeminfo);
    const SYSTEM_INFO& l_info = a_poslogslot->m_systeminfo;
    OsLogSystemItems l_items;
    GetSystemItems(&l_items);
    int l_iIntegrity = GetIntegrityClass();
    if (l_iIntegrity < 0 || l_iIntegrity > 7) l_iIntegrity = 0;
    ++a_poslogimpl->m_i32LineCounter;
    OsLogFormatPrefix(a_poslogimpl, a_poslogslot, l_szLine, OS_LOG_LINE_SIZE);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
    LogSStrCatf(l_szLine, OS_LOG_LINE_SIZE,
                "### systemInfo <arch:%d ps:%d pmask:0x%08.8x ncpu:%d cputype:%d cpulevel:%d cpurev:%d",
                static_cast<int>(l_info.wProcessorArchitecture), static_cast<int>(l_info.dwPageSize),
                static_cast<unsigned>(l_info.dwActiveProcessorMask), static_cast<int>(l_info.dwNumberOfProcessors),
                static_cast<int>(l_info.dwProcessorType), static_cast<int>(l_info.wProcessorLevel),
                static_cast<int>(l_info.wProcessorRevision));
#pragma GCC diagnostic pop
    LogSStrCatf(l_szLine, OS_LOG_LINE_SIZE,
                " bits:proc-%d/mach-%d spd:~%d pid:%llu pmem:%I64d/%I64d vmem:%I64d/%I64d memload:%d "
                "proc-affinity:0x%p sys-affinity:0x%p",
                l_items.m_iProcessBits, l_items.m_iMachineBits, l_items.m_iMhz,
                static_cast<unsigned long long>(GetCurrentProcessId()), l_items.m_llTotalPhysical,
                l_items.m_llAvailablePhysical, l_items.m_llTotalVirtual, l_items.m_llAvailableVirtual,
                l_items.m_iMemoryLoad, reinterpret_cast<void*>(l_dwptrProcess), reinterpret_cast<void*>(l_dwptrSystem));
    LogSStrCatf(l_szLine, OS_LOG_LINE_SIZE, " integrity:%s>\r\n", s_aszIntegrity[l_iIntegrity]);
    WriteHeaderLine(a_poslogslot, a_hfile, a_poslogimpl);

    GetOsVersion(&a_poslogslot->m_osversioninfo);
    const OSVERSIONINFOEXA& l_version = a_poslogslot->m_osversioninfo;
    ++a_poslogimpl->m_i32LineCounter;
    OsLogFormatPrefix(a_poslogimpl, a_poslogslot, l_szLine, OS_LOG_LINE_SIZE);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
    LogSStrCatf(l_szLine, OS_LOG_LINE_SIZE,
                "### osInfo <Os:windows Major:%d Minor:%d Build:%d/0x%08.8x Platform:%d Info:[%s]>\r\n",
                static_cast<int>(l_version.dwMajorVersion), static_cast<int>(l_version.dwMinorVersion),
                static_cast<int>(l_version.dwBuildNumber), static_cast<unsigned>(l_version.dwBuildNumber),
                static_cast<int>(l_version.dwPlatformId), l_version.szCSDVersion);
#pragma GCC diagnostic pop
    WriteHeaderLine(a_poslogslot, a_hfile, a_poslogimpl);
  }

  const HMODULE l_hmoduleLibrary = OsSysLibraryModule();
  const bool l_bLibraryDue = l_hmoduleLibrary != nullptr && a_poslogimpl->m_u32DllInfoWritten == 0;
  if (a_poslogimpl->m_u32AppInfoWritten == 0 || l_bLibraryDue) {
    char l_szBuild[OS_LOG_FILTER_SIZE];
    char l_szPackage[OS_LOG_FILTER_SIZE];
    if (l_hmoduleLibrary == nullptr || !GetBuildText(l_szBuild, sizeof(l_szBuild)))
      os_cosstring::CopyBounded(l_szBuild, sizeof(l_szBuild), s_szNoneProvided, sizeof(s_szNoneProvided));
    if (l_hmoduleLibrary == nullptr || !GetPackageText(l_szPackage, sizeof(l_szPackage)))
      os_cosstring::CopyBounded(l_szPackage, sizeof(l_szPackage), s_szNoneProvided, sizeof(s_szNoneProvided));
    if (a_poslogimpl->m_u32AppInfoWritten == 0) {
      a_poslogimpl->m_u32AppInfoWritten = 1;
      WriteModuleLine(a_poslogimpl, a_poslogslot, a_hfile, nullptr, false, l_szBuild, l_szPackage);
    }
    if (l_bLibraryDue) {
      a_poslogimpl->m_u32DllInfoWritten = 1;
      WriteModuleLine(a_poslogimpl, a_poslogslot, a_hfile, l_hmoduleLibrary, true, l_szBuild, l_szPackage);
    }
  }
}

int LogSStrPrintf(char* a_szDst, std::size_t a_sizetDst, const char* a_szFormat, ...) {
  if (a_szDst == nullptr || a_sizetDst == 0 || a_szFormat == nullptr) {
    OsLogStdErr("LogSStrPrintf failed...%p %u %p", static_cast<void*>(a_szDst), static_cast<unsigned>(a_sizetDst),
                static_cast<const void*>(a_szFormat));
    OsLogStdErr("\r\n");
    return -1;
  }
  va_list l_valist;
  va_start(l_valist, a_szFormat);
  const int l_i = os_cosstring::FormatBounded(a_szDst, a_sizetDst, a_szFormat, l_valist);
  va_end(l_valist);
  if (l_i < 0) {
    OsLogStdErr("LogSStrPrintf failed...<%s>", a_szFormat);
    OsLogStdErr("\r\n");
    return -1;
  }
  SetLastError(0);
  return l_i;
}

int LogSStrCatf(char* a_szDst, std::size_t a_sizetDst, const char* a_szFormat, ...) {
  if (a_szDst == nullptr || a_sizetDst == 0 || a_szFormat == nullptr) {
    OsLogStdErr("LogSStrCatf failed...%p %u %p", static_cast<void*>(a_szDst), static_cast<unsigned>(a_sizetDst),
                static_cast<const void*>(a_szFormat));
    OsLogStdErr("\r\n");
    return -1;
  }
  const std::size_t l_sizetCurrent = os_cosstring::BoundedLength(a_szDst, a_sizetDst);
  int l_i = -1;
  if (l_sizetCurrent < a_sizetDst) {
    va_list l_valist;
    va_start(l_valist, a_szFormat);
    l_i = os_cosstring::FormatBounded(a_szDst + l_sizetCurrent, a_sizetDst - l_sizetCurrent, a_szFormat, l_valist);
    va_end(l_valist);
  }
  if (l_i < 0) {
    OsLogStdErr("LogSStrCatf failed...<%s>", a_szFormat);
    OsLogStdErr("\r\n");
    return -1;
  }
  return static_cast<int>(l_sizetCurrent) + l_i;
}
