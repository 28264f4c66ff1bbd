// System information of the running machine: the operating system found by
// bisection of the system's version check, the processors, memory, the
// system volume and the host name.
//
// The detection pass is process-wide and runs at most once until shut-down
// clears it: the configuration's construction runs it, and so does the log
// header, which may be written before any configuration exists. The pass
// itself never logs and never takes the memory manager's lock, because the
// header runs it while holding the log's lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "os_coscfg.h"

class COsCfgImpl;

constexpr std::size_t OS_CFG_OSNAME_SIZE = 260;
constexpr std::size_t OS_CFG_OSVERSION_SIZE = 64;
constexpr std::size_t OS_CFG_OSBUILD_SIZE = 128;
constexpr std::size_t OS_CFG_SERVICEPACK_SIZE = 128;  // as the system's version record holds it
constexpr std::size_t OS_CFG_PROCESSOR_RECORD_SIZE = 200;
constexpr std::size_t OS_CFG_VENDOR_SIZE = 13;     // 12 characters
constexpr std::size_t OS_CFG_BRANDTEXT_SIZE = 49;  // 48 characters
constexpr std::size_t OS_CFG_HOSTNAME_SIZE = 512;  // at most 511 characters
constexpr std::size_t OS_CFG_VOLUME_SIZE = 64;

// The type bits of the version check, one per field.
constexpr std::uint32_t OS_CFG_VER_MINOR = 0x1;
constexpr std::uint32_t OS_CFG_VER_MAJOR = 0x2;
constexpr std::uint32_t OS_CFG_VER_BUILD = 0x4;
constexpr std::uint32_t OS_CFG_VER_PLATFORM = 0x8;
constexpr std::uint32_t OS_CFG_VER_SPMINOR = 0x10;
constexpr std::uint32_t OS_CFG_VER_SPMAJOR = 0x20;
constexpr std::uint32_t OS_CFG_VER_SUITE = 0x40;
constexpr std::uint32_t OS_CFG_VER_PRODUCT = 0x80;

constexpr std::uint32_t OS_CFG_PLATFORM_NT = 2;
constexpr std::uint8_t OS_CFG_PRODUCT_WORKSTATION = 1;

// The running system's version, each field found on its own; a field that
// was not found stays 0.
struct OsCfgOsVersion {
  std::uint32_t m_u32PlatformId;
  std::uint32_t m_u32Major;
  std::uint32_t m_u32Minor;
  std::uint32_t m_u32Build;
  std::uint16_t m_u16ServicePackMajor;
  std::uint16_t m_u16ServicePackMinor;
  std::uint16_t m_u16SuiteMask;
  std::uint8_t m_u8ProductType;
};

// Answers the two questions the bisection asks about one field of the
// running system's version, the field named by its type bit: is it equal to
// a_u64Value, is it greater than a_u64Value. The value is given in the
// field's own width.
class COsCfgVersionOracle {
 public:
  virtual ~COsCfgVersionOracle() = default;
  virtual bool IsEqual(std::uint32_t a_u32TypeBit, std::uint64_t a_u64Value) = 0;
  virtual bool IsGreater(std::uint32_t a_u32TypeBit, std::uint64_t a_u64Value) = 0;
};

// The oracle that asks the system (VerifyVersionInfoA with masks made by
// VerSetConditionMask).
COsCfgVersionOracle& OsCfgSystemVersionOracle();

// Finds one field in [a_u64Low, a_u64High) by bisection, trying low and
// high last: true and the value, or false and 0 when no guess matched.
bool OsCfgBisectField(COsCfgVersionOracle& a_oracle, std::uint32_t a_u32TypeBit, std::uint64_t a_u64Low,
                      std::uint64_t a_u64High, std::uint64_t* a_pu64Value);
// Every field of the version; a field not found is 0 and the others go on.
void OsCfgBisectVersion(COsCfgVersionOracle& a_oracle, OsCfgOsVersion* a_posversion);

// The texts and the code that a version gives.
struct OsCfgOsNames {
  char m_szName[OS_CFG_OSNAME_SIZE];
  char m_szVersion[OS_CFG_OSVERSION_SIZE];        // "%02d%02d" of major and minor
  char m_szKernelVersion[OS_CFG_OSVERSION_SIZE];  // starts as a copy of the version text
  char m_szBuild[OS_CFG_OSBUILD_SIZE];            // "%d" of the build
  char m_szServicePack[OS_CFG_SERVICEPACK_SIZE];  // "Service Pack %d", or empty
  EOSCFGOS m_eoscfgos;
};
void OsCfgNameVersion(const OsCfgOsVersion& a_osversion, OsCfgOsNames* a_posnames);

// One processor: the identification of the calling thread's processor,
// copied to every record, with the record's own index and clock.
struct OsCfgProcessor {
  std::int32_t m_i32Index;
  char m_szVendor[OS_CFG_VENDOR_SIZE];
  char m_szBrand[OS_CFG_BRANDTEXT_SIZE];
  std::int32_t m_i32Family;
  std::int32_t m_i32Model;
  std::int32_t m_i32Stepping;
  std::int32_t m_i32Mhz;  // -1 when the processor's registry key cannot be opened
  std::int32_t m_i32CacheSize;
  std::int32_t m_i32ProcessBits;
  std::int32_t m_i32MachineBits;
  std::uint32_t m_u32FeaturesEdx;  // EDX of function 1, every bit
  std::uint8_t m_bFpu;
  std::uint8_t m_bMmx;
  std::uint8_t m_bSse;
  std::uint8_t m_bSse2;
  std::uint8_t m_bHyperThreading;
  std::uint8_t m_bSse3;
  std::uint8_t m_bSsse3;
  std::uint8_t m_bSse41;
  std::uint8_t m_bSse42;
  std::uint8_t m_bPopcnt;
  std::uint8_t m_bSse4a;
  std::uint8_t m_b3dNow;
  std::uint8_t m_aucReserved[OS_CFG_PROCESSOR_RECORD_SIZE - 112];
};
static_assert(sizeof(OsCfgProcessor) == OS_CFG_PROCESSOR_RECORD_SIZE, "a processor record is 200 bytes");

// The raw answers of the identification instructions that a record is made of.
struct OsCfgCpuid {
  std::uint32_t m_au32Vendor[3];    // EBX, EDX, ECX of function 0
  std::uint32_t m_u32Signature;     // EAX of function 1
  std::uint32_t m_u32Ecx1;          // ECX of function 1
  std::uint32_t m_u32Edx1;          // EDX of function 1
  std::uint32_t m_u32MaxExtended;   // EAX of extended function 0
  std::uint32_t m_u32EcxExtended1;  // ECX of extended function 1
  std::uint32_t m_u32EdxExtended1;  // EDX of extended function 1
  std::uint32_t m_au32Brand[12];    // EAX..EDX of extended functions 2 to 4
  std::uint32_t m_u32EcxExtended6;  // ECX of extended function 6
};
// Fills a processor record (all but index and clock) from the raw answers.
void OsCfgProcessorFromCpuid(const OsCfgCpuid& a_oscfgcpuid, OsCfgProcessor* a_posprocessor);

// The memory figures of the system's memory status.
struct OsCfgMemory {
  std::uint64_t m_u64TotalPhysical;
  std::uint64_t m_u64AvailablePhysical;
  std::uint64_t m_u64TotalVirtual;
  std::uint64_t m_u64AvailableVirtual;
  std::uint64_t m_u64TotalPageFile;
  std::uint64_t m_u64AvailablePageFile;
  std::uint32_t m_u32Load;
};

// The volume's serial text: the GUID of a volume name that holds '{' (the
// name without its first 11 characters, cut at '}'), else a_u32Serial as
// "%08x-0000-0000-0000-000000000000".
void OsCfgVolumeSerialText(const char* a_szVolumeName, std::uint32_t a_u32Serial, char* a_szSerial,
                           std::size_t a_sizetSerial);

// ---- the process-wide detection state ----

// Runs the detection pass unless it has run since the last clear.
void OsCfgSysDetect();
// Frees the processor table and forgets the detection (shut-down).
void OsCfgSysClear();
// The operating-system code (detecting first); 0 when nothing was found.
EOSCFGOS OsCfgSysOsCode();
// The processor count (detecting first) without any report.
long OsCfgSysProcessorCountQuiet();
// The version fields and texts (detecting first).
const OsCfgOsVersion& OsCfgSysVersion();
const OsCfgOsNames& OsCfgSysNames();
// A processor's record, or null for an index outside the table. Never logs.
const OsCfgProcessor* OsCfgSysProcessor(long a_lIndex);
// The memory figures: stored by the pass, or measured now.
void OsCfgSysMemory(OsCfgMemory* a_posmemory, bool a_bMeasure);

// The queries behind COsCfg's system information.
const char* OsCfgSysGetText(EOSCFGINFO a_eoscfginfo, long a_lProcessor);
long OsCfgSysGetNumber(EOSCFGINFO a_eoscfginfo, long a_lProcessor);
unsigned long long OsCfgSysGetNumber64(EOSCFGINFO a_eoscfginfo, long a_lProcessor);
bool OsCfgSysGetFlag(EOSCFGINFO a_eoscfginfo, long a_lProcessor);
// The count, or 0 with "Unsupported...%ld >= %ld".
long OsCfgSysGetProcessorCount();

// Writes the configuration report into a_szDirectory (null: the item
// LogDirectory). 0, or 1 when the directory or the file cannot be made.
EOSSTS OsCfgReport(COsCfgImpl* a_poscfgimpl, const char* a_szDirectory);
