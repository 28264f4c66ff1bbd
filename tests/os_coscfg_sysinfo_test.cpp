// System information: the version bisection and the name table against a
// scripted version, the processor record from raw identification answers,
// the volume serial text, the bisection against the system's own version,
// and the queries with their messages (read back from the log).
#include <windows.h>

#include <cmath>
#include <cstring>
#include <string>

#include "os.h"
#include "os_coscfg_sysinfo.h"
#include "os_test.h"
#include "os_test_log.h"
#include "os_test_services.h"

namespace {

// ---- a scripted version ----

// Answers from a version held in the test, counting the questions.
class CScriptedOracle : public COsCfgVersionOracle {
 public:
  explicit CScriptedOracle(const OsCfgOsVersion& a_osversion) : m_osversion(a_osversion) {}
  bool IsEqual(std::uint32_t a_u32TypeBit, std::uint64_t a_u64Value) override {
    ++m_iCalls;
    return Field(a_u32TypeBit) == a_u64Value;
  }
  bool IsGreater(std::uint32_t a_u32TypeBit, std::uint64_t a_u64Value) override {
    ++m_iCalls;
    return Field(a_u32TypeBit) > a_u64Value;
  }
  int m_iCalls = 0;

 private:
  std::uint64_t Field(std::uint32_t a_u32TypeBit) const {
    switch (a_u32TypeBit) {
      case OS_CFG_VER_PLATFORM: return m_osversion.m_u32PlatformId;
      case OS_CFG_VER_MAJOR: return m_osversion.m_u32Major;
      case OS_CFG_VER_MINOR: return m_osversion.m_u32Minor;
      case OS_CFG_VER_BUILD: return m_osversion.m_u32Build;
      case OS_CFG_VER_SPMAJOR: return m_osversion.m_u16ServicePackMajor;
      case OS_CFG_VER_SPMINOR: return m_osversion.m_u16ServicePackMinor;
      case OS_CFG_VER_SUITE: return m_osversion.m_u16SuiteMask;
      case OS_CFG_VER_PRODUCT: return m_osversion.m_u8ProductType;
      default: ADD_FAILURE() << "unknown type bit " << a_u32TypeBit; return 0;
    }
  }
  OsCfgOsVersion m_osversion;
};

OsCfgOsVersion Version(std::uint32_t a_u32Platform, std::uint32_t a_u32Major, std::uint32_t a_u32Minor,
                       std::uint32_t a_u32Build, std::uint16_t a_u16Sp, std::uint8_t a_u8Product) {
  OsCfgOsVersion l_v = {};
  l_v.m_u32PlatformId = a_u32Platform;
  l_v.m_u32Major = a_u32Major;
  l_v.m_u32Minor = a_u32Minor;
  l_v.m_u32Build = a_u32Build;
  l_v.m_u16ServicePackMajor = a_u16Sp;
  l_v.m_u16SuiteMask = 0x100;
  l_v.m_u8ProductType = a_u8Product;
  return l_v;
}

// Runs the bisection against the scripted version and names the result.
OsCfgOsNames Detect(const OsCfgOsVersion& a_osversion, OsCfgOsVersion* a_posfound = nullptr) {
  CScriptedOracle l_oracle(a_osversion);
  OsCfgOsVersion l_found;
  OsCfgBisectVersion(l_oracle, &l_found);
  if (a_posfound != nullptr) *a_posfound = l_found;
  OsCfgOsNames l_names;
  OsCfgNameVersion(l_found, &l_names);
  return l_names;
}

TEST(SysVersion, BisectionFindsEveryFieldOfTheScript) {
  const OsCfgOsVersion l_script = Version(2, 6, 1, 7601, 1, 1);
  OsCfgOsVersion l_found;
  Detect(l_script, &l_found);
  EXPECT_EQ(l_found.m_u32PlatformId, 2u);
  EXPECT_EQ(l_found.m_u32Major, 6u);
  EXPECT_EQ(l_found.m_u32Minor, 1u);
  EXPECT_EQ(l_found.m_u32Build, 7601u);
  EXPECT_EQ(l_found.m_u16ServicePackMajor, 1u);
  EXPECT_EQ(l_found.m_u16ServicePackMinor, 0u);
  EXPECT_EQ(l_found.m_u16SuiteMask, 0x100u);
  EXPECT_EQ(l_found.m_u8ProductType, 1u);
}

TEST(SysVersion, BisectionReachesBothEndsOfEachRange) {
  // The final tries of low and high reach the range's edges, the top of a
  // 32-bit field included.
  struct Case {
    std::uint32_t m_u32TypeBit;
    std::uint64_t m_u64High;
    std::uint64_t m_u64Value;
  };
  const Case l_acase[] = {
      {OS_CFG_VER_BUILD, 4294967295u, 0},
      {OS_CFG_VER_BUILD, 4294967295u, 1},
      {OS_CFG_VER_BUILD, 4294967295u, 4294967294u},
      {OS_CFG_VER_BUILD, 4294967295u, 4294967295u},
      {OS_CFG_VER_BUILD, 4294967295u, 2147483648u},
      {OS_CFG_VER_SPMAJOR, 65535, 65535},
      {OS_CFG_VER_SPMAJOR, 65535, 65534},
      {OS_CFG_VER_MINOR, 16, 15},
      {OS_CFG_VER_MINOR, 16, 0},
      {OS_CFG_VER_PRODUCT, 255, 255},
  };
  for (const Case& l_case : l_acase) {
    OsCfgOsVersion l_v = {};
    if (l_case.m_u32TypeBit == OS_CFG_VER_BUILD) l_v.m_u32Build = static_cast<std::uint32_t>(l_case.m_u64Value);
    if (l_case.m_u32TypeBit == OS_CFG_VER_SPMAJOR)
      l_v.m_u16ServicePackMajor = static_cast<std::uint16_t>(l_case.m_u64Value);
    if (l_case.m_u32TypeBit == OS_CFG_VER_MINOR) l_v.m_u32Minor = static_cast<std::uint32_t>(l_case.m_u64Value);
    if (l_case.m_u32TypeBit == OS_CFG_VER_PRODUCT) l_v.m_u8ProductType = static_cast<std::uint8_t>(l_case.m_u64Value);
    CScriptedOracle l_oracle(l_v);
    std::uint64_t l_u64 = 12345;
    EXPECT_TRUE(OsCfgBisectField(l_oracle, l_case.m_u32TypeBit, 0, l_case.m_u64High, &l_u64)) << l_case.m_u64Value;
    EXPECT_EQ(l_u64, l_case.m_u64Value);
    // Two questions per halving and the two final tries.
    const int l_iBound = 2 * static_cast<int>(std::ceil(std::log2(static_cast<double>(l_case.m_u64High)))) + 4;
    EXPECT_LE(l_oracle.m_iCalls, l_iBound) << l_case.m_u64Value;
  }
}

TEST(SysVersion, ValueOutsideTheRangeIsNotFoundAndReadsZero) {
  OsCfgOsVersion l_v = {};
  l_v.m_u32Minor = 20;  // beyond [0, 16)
  l_v.m_u32Major = 6;
  CScriptedOracle l_oracle(l_v);
  std::uint64_t l_u64 = 99;
  EXPECT_FALSE(OsCfgBisectField(l_oracle, OS_CFG_VER_MINOR, 0, 16, &l_u64));
  EXPECT_EQ(l_u64, 0u);
  // The pass goes on with the other fields.
  OsCfgOsVersion l_found;
  OsCfgBisectVersion(l_oracle, &l_found);
  EXPECT_EQ(l_found.m_u32Minor, 0u);
  EXPECT_EQ(l_found.m_u32Major, 6u);
}

TEST(SysVersion, WholePassStaysLogarithmic) {
  CScriptedOracle l_oracle(Version(2, 10, 0, 19045, 0, 1));
  OsCfgOsVersion l_found;
  OsCfgBisectVersion(l_oracle, &l_found);
  // Three 32-bit fields, three 16-bit ones, minor and product type.
  EXPECT_LE(l_oracle.m_iCalls, 3 * (2 * 32 + 4) + 3 * (2 * 16 + 4) + (2 * 4 + 4) + (2 * 8 + 4));
  EXPECT_EQ(l_found.m_u32Build, 19045u);
}

// ---- the name table ----

TEST(SysNames, WorkstationsAndServersOfVersionSix) {
  struct Case {
    std::uint32_t m_u32Minor;
    std::uint8_t m_u8Product;
    const char* m_szName;
    EOSCFGOS m_eoscfgos;
  };
  const Case l_acase[] = {{0, 1, "WinVista", OS_CFG_OS_WINVISTA}, {0, 3, "Win2008", OS_CFG_OS_WIN2008},
                          {1, 1, "Win7", OS_CFG_OS_WIN7},         {1, 2, "Win2008R2", OS_CFG_OS_WIN2008R2},
                          {2, 1, "Win8", OS_CFG_OS_WIN8},         {2, 3, "Win2012", OS_CFG_OS_WIN2012},
                          {3, 1, "Win8.1", OS_CFG_OS_WIN81},      {3, 3, "Win2012R2", OS_CFG_OS_WIN2012R2},
                          {4, 1, "Win10", OS_CFG_OS_WIN10},       {5, 3, "Win10", OS_CFG_OS_WIN10}};
  for (const Case& l_case : l_acase) {
    const OsCfgOsNames l_names = Detect(Version(2, 6, l_case.m_u32Minor, 9200, 0, l_case.m_u8Product));
    EXPECT_STREQ(l_names.m_szName, l_case.m_szName) << l_case.m_u32Minor << " " << int(l_case.m_u8Product);
    EXPECT_EQ(l_names.m_eoscfgos, l_case.m_eoscfgos) << l_case.m_szName;
  }
}

TEST(SysNames, Windows7Workstation) {
  const OsCfgOsNames l_names = Detect(Version(2, 6, 1, 7601, 1, 1));
  EXPECT_STREQ(l_names.m_szName, "Win7");
  EXPECT_EQ(l_names.m_eoscfgos, OS_CFG_OS_WIN7);
  EXPECT_EQ(static_cast<int>(l_names.m_eoscfgos), 12);
  EXPECT_STREQ(l_names.m_szVersion, "0601");
  EXPECT_STREQ(l_names.m_szKernelVersion, "0601");
  EXPECT_STREQ(l_names.m_szBuild, "7601");
  EXPECT_STREQ(l_names.m_szServicePack, "Service Pack 1");
}

TEST(SysNames, Server63) {
  const OsCfgOsNames l_names = Detect(Version(2, 6, 3, 9600, 0, 3));
  EXPECT_STREQ(l_names.m_szName, "Win2012R2");
  EXPECT_EQ(static_cast<int>(l_names.m_eoscfgos), 17);
}

TEST(SysNames, Major10IsAnOtherNtVersion) {
  // The version that a program sees with a manifest that declares Windows 10.
  const OsCfgOsNames l_names = Detect(Version(2, 10, 0, 19045, 0, 1));
  EXPECT_STREQ(l_names.m_szName, "WinNT1000");
  EXPECT_EQ(l_names.m_eoscfgos, OS_CFG_OS_OTHER);
  EXPECT_STREQ(l_names.m_szVersion, "1000");
  EXPECT_STREQ(l_names.m_szBuild, "19045");
}

TEST(SysNames, OlderNtVersions) {
  EXPECT_STREQ(Detect(Version(2, 4, 0, 1381, 6, 1)).m_szName, "WinNT");
  EXPECT_EQ(Detect(Version(2, 4, 0, 1381, 6, 1)).m_eoscfgos, OS_CFG_OS_WINNT);
  EXPECT_STREQ(Detect(Version(2, 5, 0, 2195, 4, 1)).m_szName, "Win2K");
  EXPECT_EQ(Detect(Version(2, 5, 0, 2195, 4, 1)).m_eoscfgos, OS_CFG_OS_WIN2K);
  EXPECT_STREQ(Detect(Version(2, 5, 1, 2600, 3, 1)).m_szName, "WinXP");
  EXPECT_EQ(Detect(Version(2, 5, 2, 3790, 2, 3)).m_eoscfgos, OS_CFG_OS_WINXP);  // 5.2 counts as XP
  EXPECT_STREQ(Detect(Version(2, 3, 51, 1057, 0, 1)).m_szName, "WinNT0300");    // minor 51 is beyond the range
}

TEST(SysNames, ServicePackText) {
  EXPECT_STREQ(Detect(Version(2, 5, 1, 2600, 0, 1)).m_szServicePack, "");
  EXPECT_STREQ(Detect(Version(2, 5, 1, 2600, 3, 1)).m_szServicePack, "Service Pack 3");
}

TEST(SysNames, PlatformOtherThanNt) {
  const OsCfgOsNames l_names = Detect(Version(1, 4, 10, 2222, 0, 0));
  EXPECT_STREQ(l_names.m_szName, "WinXX0410");
  EXPECT_EQ(l_names.m_eoscfgos, OS_CFG_OS_OTHER);
  EXPECT_STREQ(l_names.m_szVersion, "0410");
}

// ---- processor record and volume text ----

TEST(SysProcessor, RecordFromIdentificationAnswers) {
  OsCfgCpuid l_raw = {};
  std::memcpy(l_raw.m_au32Vendor, "GenuineIntel", 12);
  l_raw.m_u32Signature = 0x000306c3;  // family 6, model 0xc, stepping 3 in the low bits
  l_raw.m_u32Edx1 = (1u << 0) | (1u << 23) | (1u << 26) | (1u << 28) | (1u << 4);
  l_raw.m_u32Ecx1 = (1u << 0) | (1u << 19) | (1u << 23);
  l_raw.m_u32EcxExtended1 = 1u << 6;
  l_raw.m_u32EdxExtended1 = 1u << 31;
  l_raw.m_u32EcxExtended6 = 0x01006040;  // 256 KB
  std::memcpy(l_raw.m_au32Brand, "     Example CPU @ 3.40GHz", 27);
  OsCfgProcessor l_p;
  OsCfgProcessorFromCpuid(l_raw, &l_p);
  EXPECT_STREQ(l_p.m_szVendor, "GenuineIntel");
  EXPECT_EQ(l_p.m_i32Family, 6);
  EXPECT_EQ(l_p.m_i32Model, 0xc);
  EXPECT_EQ(l_p.m_i32Stepping, 3);
  EXPECT_STREQ(l_p.m_szBrand, "Example CPU @ 3.40GHz");  // leading blanks removed
  EXPECT_EQ(l_p.m_i32CacheSize, 0x0100);
  EXPECT_EQ(l_p.m_bFpu, 1);
  EXPECT_EQ(l_p.m_bMmx, 1);
  EXPECT_EQ(l_p.m_bSse, 0);
  EXPECT_EQ(l_p.m_bSse2, 1);
  EXPECT_EQ(l_p.m_bHyperThreading, 1);
  EXPECT_EQ(l_p.m_bSse3, 1);
  EXPECT_EQ(l_p.m_bSsse3, 0);
  EXPECT_EQ(l_p.m_bSse41, 1);
  EXPECT_EQ(l_p.m_bSse42, 0);
  EXPECT_EQ(l_p.m_bPopcnt, 1);
  EXPECT_EQ(l_p.m_bSse4a, 1);
  EXPECT_EQ(l_p.m_b3dNow, 1);
  EXPECT_EQ(l_p.m_u32FeaturesEdx, l_raw.m_u32Edx1);  // the other bits are kept too
}

TEST(SysVolume, SerialText) {
  char l_sz[OS_CFG_VOLUME_SIZE];
  OsCfgVolumeSerialText("\\\\?\\Volume{1b2c3d4e-aaaa-bbbb-cccc-0123456789ab}\\", 0, l_sz, sizeof(l_sz));
  EXPECT_STREQ(l_sz, "1b2c3d4e-aaaa-bbbb-cccc-0123456789ab");
  // Without braces: the volume serial in lower case.
  OsCfgVolumeSerialText("", 0x1A2B3C4D, l_sz, sizeof(l_sz));
  EXPECT_STREQ(l_sz, "1a2b3c4d-0000-0000-0000-000000000000");
  OsCfgVolumeSerialText(nullptr, 0x43, l_sz, sizeof(l_sz));
  EXPECT_STREQ(l_sz, "00000043-0000-0000-0000-000000000000");
}

// ---- the running system ----

TEST(SysSystem, BisectionAgreesWithTheKernelsVersion) {
  typedef LONG(WINAPI * PfnRtlGetVersion)(OSVERSIONINFOEXW*);
  const PfnRtlGetVersion l_pfn = reinterpret_cast<PfnRtlGetVersion>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  ASSERT_NE(l_pfn, nullptr);
  OSVERSIONINFOEXW l_osvi = {};
  l_osvi.dwOSVersionInfoSize = sizeof(l_osvi);
  ASSERT_EQ(l_pfn(&l_osvi), 0);
  OsCfgOsVersion l_found;
  OsCfgBisectVersion(OsCfgSystemVersionOracle(), &l_found);
  // The kernel tells the truth; the version check may be held to a lower
  // version by the program's manifest (not declaring Windows 10 gives 6.2).
  if (l_osvi.dwMajorVersion >= 10 && l_found.m_u32Major == 6 && l_found.m_u32Minor == 2)
    GTEST_SKIP() << "the version check is held at 6.2 for a program without a Windows 10 manifest";
  EXPECT_EQ(l_found.m_u32PlatformId, l_osvi.dwPlatformId);
  EXPECT_EQ(l_found.m_u32Major, l_osvi.dwMajorVersion);
  EXPECT_EQ(l_found.m_u32Minor, l_osvi.dwMinorVersion);
  EXPECT_EQ(l_found.m_u32Build, l_osvi.dwBuildNumber);
  EXPECT_EQ(l_found.m_u8ProductType, l_osvi.wProductType);
  EXPECT_EQ(l_found.m_u16ServicePackMajor, l_osvi.wServicePackMajor);
}

// Queries on a started configuration, messages read from a test log.
class SysQuery : public OsServicesTest {
 protected:
  void SetUp() override {
    OsServicesTest::SetUp();
    StartLoggingTo(L"sys.log");
    m_poscfg = OsCfgInstance();
    ASSERT_NE(m_poscfg, nullptr);
  }

  COsCfg* m_poscfg = nullptr;
};

TEST_F(SysQuery, ProcessorsAndTheirRecord) {
  const long l_lCount = m_poscfg->InfoGetProcessorCount();
  SYSTEM_INFO l_info;
  GetSystemInfo(&l_info);
  EXPECT_GT(l_lCount, 0);
  EXPECT_EQ(l_lCount, static_cast<long>(l_info.dwNumberOfProcessors));
  EXPECT_EQ(m_poscfg->InfoGetNumber(OS_CFGINFO_CPU_TOTAL, 0), l_lCount);
  const char* const l_szVendor = m_poscfg->InfoGetText(OS_CFGINFO_CPU_VENDORSTRING, 0);
  ASSERT_NE(l_szVendor, nullptr);
  EXPECT_EQ(std::strlen(l_szVendor), 12u) << l_szVendor;
  // Every processor carries the first one's identification.
  EXPECT_STREQ(m_poscfg->InfoGetText(OS_CFGINFO_CPU_VENDORSTRING, l_lCount - 1), l_szVendor);
  const char* const l_szBrand = m_poscfg->InfoGetText(OS_CFGINFO_CPU_MODELSTRING, 0);
  ASSERT_NE(l_szBrand, nullptr);
  EXPECT_NE(l_szBrand[0], ' ');
  EXPECT_EQ(m_poscfg->InfoGetNumber(OS_CFGINFO_CPU_PROCESSBITS, 0), static_cast<long>(sizeof(void*) * 8));
  BOOL l_bWow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &l_bWow64);
  EXPECT_EQ(m_poscfg->InfoGetNumber(OS_CFGINFO_CPU_MACHINEBITS, 0), sizeof(void*) == 8 || l_bWow64 ? 64 : 32);
  // Every processor that runs this code has an FPU and SSE2 on both targets.
  EXPECT_TRUE(m_poscfg->InfoGetFlag(OS_CFGINFO_CPU_IS_FPU, 0));
  EXPECT_TRUE(m_poscfg->InfoGetFlag(OS_CFGINFO_CPU_IS_SSE2, 0));
  // SSSE3 only through the 64-bit query.
  EXPECT_FALSE(m_poscfg->InfoGetFlag(OS_CFGINFO_CPU_IS_SSSE3, 0));
  EXPECT_LE(m_poscfg->InfoGetNumber64(OS_CFGINFO_CPU_IS_SSSE3, 0), 1u);
  EXPECT_EQ(m_poscfg->InfoGetNumber(OS_CFGINFO_CPU_LEVEL, 0), 0);
  EXPECT_EQ(m_poscfg->InfoGetNumber(OS_CFGINFO_OS_PLATFORM, 0), 1);
}

TEST_F(SysQuery, ClockFromTheRegistry) {
  HKEY l_hkey = nullptr;
  const bool l_bKey = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0,
                                    KEY_QUERY_VALUE, &l_hkey) == ERROR_SUCCESS;
  DWORD l_dwMhz = 0;
  if (l_bKey) {
    DWORD l_dwSize = sizeof(l_dwMhz);
    RegQueryValueExW(l_hkey, L"~MHz", nullptr, nullptr, reinterpret_cast<BYTE*>(&l_dwMhz), &l_dwSize);
    RegCloseKey(l_hkey);
  }
  EXPECT_EQ(m_poscfg->InfoGetNumber(OS_CFGINFO_CPU_MHZ, 0), l_bKey ? static_cast<long>(l_dwMhz) : -1);
}

TEST_F(SysQuery, MemoryFigures) {
  const unsigned long long l_ullTotal = m_poscfg->InfoGetNumber64(OS_CFGINFO_MEM_TOTALPHYSICAL, 0);
  const unsigned long long l_ullAvailable = m_poscfg->InfoGetNumber64(OS_CFGINFO_MEM_AVAILABLEPHYSICAL, 0);
  EXPECT_GT(l_ullTotal, 0u);
  EXPECT_GT(l_ullAvailable, 0u);
  EXPECT_LE(l_ullAvailable, l_ullTotal);
  const unsigned long long l_ullTotalVirtual = m_poscfg->InfoGetNumber64(OS_CFGINFO_MEM_TOTALVIRTUAL, 0);
  EXPECT_GT(l_ullTotalVirtual, 0u);
  EXPECT_LE(m_poscfg->InfoGetNumber64(OS_CFGINFO_MEM_AVAILABLEVIRTUAL, 0), l_ullTotalVirtual);
  const unsigned long long l_ullTotalPageFile = m_poscfg->InfoGetNumber64(OS_CFGINFO_MEM_TOTALPAGEFILE, 0);
  EXPECT_GT(l_ullTotalPageFile, 0u);
  EXPECT_LE(m_poscfg->InfoGetNumber64(OS_CFGINFO_MEM_AVAILABLEPAGEFILE, 0), l_ullTotalPageFile);
  EXPECT_LE(m_poscfg->InfoGetNumber64(OS_CFGINFO_MEM_LOAD, 0), 100u);
  EXPECT_LE(m_poscfg->InfoGetNumber(OS_CFGINFO_MEM_LOAD, 0), 100);
}

TEST_F(SysQuery, OperatingSystemTexts) {
  const OsCfgOsNames& l_names = OsCfgSysNames();
  EXPECT_STREQ(m_poscfg->InfoGetText(OS_CFGINFO_OS_NAMESTRING, 0), l_names.m_szName);
  EXPECT_EQ(m_poscfg->InfoGetNumber(OS_CFGINFO_OS_CODE, 0), static_cast<long>(l_names.m_eoscfgos));
  const char* const l_szVersion = m_poscfg->InfoGetText(OS_CFGINFO_OS_VERSIONSTRING, 0);
  ASSERT_NE(l_szVersion, nullptr);
  EXPECT_EQ(std::strlen(l_szVersion), 4u);
  EXPECT_EQ(m_poscfg->InfoGetNumber(OS_CFGINFO_OS_KERNELVERSIONSTRING, 0), std::atol(l_szVersion));
  // The item OsName shows the same name.
  EXPECT_STREQ(m_poscfg->GetItem(1, 25), l_names.m_szName);
}

TEST_F(SysQuery, VolumeAndHost) {
  const char* const l_szDevice = m_poscfg->InfoGetText(OS_CFGINFO_VOLUME_DEVICEID, 0);
  ASSERT_NE(l_szDevice, nullptr);
  wchar_t l_wszDrive[16] = L"";
  GetEnvironmentVariableW(L"SystemDrive", l_wszDrive, 16);
  EXPECT_EQ(std::string(l_szDevice), (l_wszDrive[0] != 0 ? OsTestUtf8(l_wszDrive) : std::string("C:")) + "\\");
  const char* const l_szSerial = m_poscfg->InfoGetText(OS_CFGINFO_VOLUME_SERIALNUMBER, 0);
  ASSERT_NE(l_szSerial, nullptr);
  EXPECT_EQ(std::strlen(l_szSerial), 36u) << l_szSerial;
  EXPECT_EQ(std::strchr(l_szSerial, '{'), nullptr);
  EXPECT_EQ(std::strchr(l_szSerial, '}'), nullptr);
  const char* const l_szHost = m_poscfg->InfoGetText(OS_CFGINFO_NETWORK_HOSTNAME, 0);
  ASSERT_NE(l_szHost, nullptr);
  EXPECT_NE(l_szHost[0], 0);
  EXPECT_EQ(std::strchr(l_szHost, '.'), nullptr);
}

TEST_F(SysQuery, BadProcessorIndexAndUnknownCodes) {
  const long l_lCount = m_poscfg->InfoGetProcessorCount();
  SetLastError(0xdeadbeef);
  EXPECT_EQ(m_poscfg->InfoGetText(OS_CFGINFO_CPU_VENDORSTRING, l_lCount), nullptr);
  EXPECT_EQ(GetLastError(), 0xdeadbeefu);
  EXPECT_EQ(m_poscfg->InfoGetNumber(OS_CFGINFO_CPU_FAMILY, l_lCount + 3), 0);
  EXPECT_EQ(m_poscfg->InfoGetNumber64(OS_CFGINFO_MEM_TOTALPHYSICAL, l_lCount), 0u);
  EXPECT_FALSE(m_poscfg->InfoGetFlag(OS_CFGINFO_CPU_IS_FPU, l_lCount));
  const std::string l_sCount = std::to_string(l_lCount);
  EXPECT_EQ(Lines("Unsupported...35 " + l_sCount + " >= " + l_sCount).size(), 1u);
  EXPECT_EQ(Lines("Unsupported...17 " + std::to_string(l_lCount + 3) + " >= " + l_sCount).size(), 1u);
  EXPECT_EQ(Lines("Unsupported...9 " + l_sCount + " >= " + l_sCount).size(), 1u);
  EXPECT_EQ(Lines("Unsupported...18 " + l_sCount + " >= " + l_sCount).size(), 1u);
  for (const auto& l_line : Lines("Unsupported...")) EXPECT_EQ(l_line.m_cMark, 'A');

  // A code the query does not know: null or 0; only the text query says so.
  EXPECT_EQ(m_poscfg->InfoGetText(OS_CFGINFO_CPU_FAMILY, 0), nullptr);
  EXPECT_EQ(m_poscfg->InfoGetNumber(OS_CFGINFO_CPU_VENDORSTRING, 0), 0);
  EXPECT_EQ(m_poscfg->InfoGetNumber(OS_CFGINFO_MEM_TOTALPHYSICAL, 0), 0);
  EXPECT_FALSE(m_poscfg->InfoGetFlag(OS_CFGINFO_CPU_FAMILY, 0));
  EXPECT_EQ(m_poscfg->InfoGetNumber64(static_cast<EOSCFGINFO>(77), 0), 0u);
  const auto l_unknown = Lines("Unsupported...");
  ASSERT_EQ(l_unknown.size(), 5u);
  EXPECT_EQ(l_unknown.back().m_sText, "Unsupported...17");
}

TEST_F(SysQuery, WithoutImplementationEveryQueryRefuses) {
  COsCfg l_oscfg;
  EXPECT_EQ(l_oscfg.InfoGetText(OS_CFGINFO_OS_NAMESTRING, 0), nullptr);
  EXPECT_EQ(l_oscfg.InfoGetNumber(OS_CFGINFO_OS_CODE, 0), 0);
  EXPECT_EQ(l_oscfg.InfoGetNumber64(OS_CFGINFO_MEM_TOTALPHYSICAL, 0), 0u);
  EXPECT_FALSE(l_oscfg.InfoGetFlag(OS_CFGINFO_CPU_IS_FPU, 0));
  EXPECT_EQ(l_oscfg.InfoGetProcessorCount(), 0);
  EXPECT_EQ(l_oscfg.Report(Dir().c_str()), OS_STS_FAIL);
  EXPECT_EQ(Lines("m_poscfgimpl is null...").size(), 6u);
}

TEST_F(SysQuery, ShutDownClearsTheDetection) {
  EXPECT_GT(OsCfgSysProcessorCountQuiet(), 0);
  OsServicesStop();
  // The table is gone; the next question runs the pass again.
  EXPECT_GT(OsCfgSysProcessorCountQuiet(), 0);
  EXPECT_NE(OsCfgSysProcessor(0), nullptr);
  OsCfgSysClear();
  OsServicesStart(nullptr);
}

TEST_F(SysQuery, LogHeaderCarriesTheDetectedValues) {
  // A log object of its own writes its system lines with its first line.
  const std::wstring l_wsLog = WDir() + L"\\header.log";
  COsLog* const l_poslog = OsLogCreate("header", OsTestUtf8(l_wsLog).c_str(), 1, nullptr);
  ASSERT_NE(l_poslog, nullptr);
  OsLogPrint(l_poslog, "t", 1, OS_LOG_ERROR, "line");
  OsLogDestroy(l_poslog);
  const auto l_lines = OsTestReadLog(l_wsLog);
  const auto l_system = OsTestFindLines(l_lines, "### systemInfo <");
  ASSERT_EQ(l_system.size(), 1u);
  const std::string l_sBits = "bits:proc-" + std::to_string(sizeof(void*) * 8) + "/mach-" +
                              std::to_string(m_poscfg->InfoGetNumber(OS_CFGINFO_CPU_MACHINEBITS, 0)) + " ";
  EXPECT_NE(l_system[0].m_sText.find(l_sBits), std::string::npos) << l_system[0].m_sText;
  EXPECT_EQ(l_system[0].m_sText.find("pmem:0/"), std::string::npos) << l_system[0].m_sText;
  const auto l_os = OsTestFindLines(l_lines, "### osInfo <");
  ASSERT_EQ(l_os.size(), 1u);
  const OsCfgOsVersion& l_v = OsCfgSysVersion();
  const std::string l_sVersion = "Major:" + std::to_string(l_v.m_u32Major) +
                                 " Minor:" + std::to_string(l_v.m_u32Minor) +
                                 " Build:" + std::to_string(l_v.m_u32Build) + "/";
  EXPECT_NE(l_os[0].m_sText.find(l_sVersion), std::string::npos) << l_os[0].m_sText;
  const std::string l_sInfo = std::string("Info:[") + OsCfgSysNames().m_szServicePack + "]>";
  EXPECT_NE(l_os[0].m_sText.find(l_sInfo), std::string::npos) << l_os[0].m_sText;
}

}  // namespace
