// Services start-up and shut-down, and the configuration object.
#pragma once

#include <cstddef>

#include "os_sts.h"
#include "os_types.h"

// Starts the services library for this process: reads the program's argument
// text, settles its identity, and creates the process-wide singletons (log,
// memory manager, configuration, text conversion). a_szExtra (may be null)
// is handed to the configuration. Failures are logged.
void OsServicesStart(const char* a_szExtra);
// Destroys the singletons in the reverse order, withdraws the inherited
// argument variables and clears all start-up state, so that start-up can run
// again in the same process. Tolerates missing singletons.
void OsServicesStop();

// The start-up of a library of the suite opened through its interface: acts
// only when a_szArguments holds "<interfaceopen>". It composes the argument
// text (log directory, level, root) that the library's own start-up then
// inherits, unless inherited arguments are already present and
// "<inherit>false</inherit>" does not refuse them.
void OsServicesStartInterfaceOpen(const char* a_szArguments);

// The program's built-in argument text read by OsServicesStart, for example
// "<arguments>\n\t<uniquename>name</uniquename>\n\t<entity>application</entity>\n</arguments>".
// Each program of the suite defines it.
extern const char* g_szOsServicesArguments;

class COsCfgImpl;
enum EOSCFGINFO : int;

// The configuration: items addressed by section (1 to 5) and tag (1 to 271).
class COsCfg {
 public:
  COsCfg() = default;
  COsCfg(const COsCfg&) = delete;
  COsCfg& operator=(const COsCfg&) = delete;

  // The item's text, never null (empty for an unknown or empty item); null
  // only without an implementation. The text belongs to the configuration.
  const char* GetItem(int a_iSection, int a_iTag);
  // The item of a section and tag name (without case); empty when either is unknown.
  const char* GetItemByName(const char* a_szSection, const char* a_szTag);
  // Points the item at a_szText, which must live as long as the
  // configuration; 3 when the address is out of range.
  EOSSTS SetItem(int a_iSection, int a_iTag, const char* a_szText);

  // ---- profiles: section-and-key text files through the process-wide cache ----
  // Each returns 0 on success and 1 on failure (also without an implementation).
  // The value of a_szKey ("@n": the n-th line of the section) into a_szOut;
  // empty on failure.
  EOSSTS ProfileRead(const char* a_szFile, const char* a_szSection, const char* a_szKey, char* a_szOut,
                     std::size_t a_sizetOut);
  // Sets or adds the key in the cached image; nothing is written to the file yet.
  EOSSTS ProfileWrite(const char* a_szFile, const char* a_szSection, const char* a_szKey, const char* a_szValue);
  // Removes the key's line; a missing section or key is not an error.
  EOSSTS ProfileDelete(const char* a_szFile, const char* a_szSection, const char* a_szKey);
  // Writes a changed cached image back to its file.
  EOSSTS ProfileFlush(const char* a_szFile);
  // The same on the configuration's own profile pair (the user profile, or
  // the shared one where the user's does not exist).
  EOSSTS ConfigRead(const char* a_szSection, const char* a_szKey, char* a_szOut, std::size_t a_sizetOut);
  EOSSTS ConfigWrite(const char* a_szSection, const char* a_szKey, const char* a_szValue);
  EOSSTS ConfigFlush();

  // ---- system information (one detection pass per start-up) ----
  // A text (null for an unknown code or a bad processor index).
  const char* InfoGetText(EOSCFGINFO a_eoscfginfo, long a_lProcessor);
  // A number, a 64-bit number, a flag; 0 for an unknown code or a bad index.
  long InfoGetNumber(EOSCFGINFO a_eoscfginfo, long a_lProcessor);
  unsigned long long InfoGetNumber64(EOSCFGINFO a_eoscfginfo, long a_lProcessor);
  bool InfoGetFlag(EOSCFGINFO a_eoscfginfo, long a_lProcessor);
  // The number of processors (0 when unknown).
  long InfoGetProcessorCount();
  // Writes the configuration report into a_szDirectory (null: the log
  // directory): 0 or 1.
  EOSSTS Report(const char* a_szDirectory);

  // ---- versions and paths ----
  // The version text: "%02d%02d%02d%02d" of the version block when the
  // configuration file changed it, else the program's "VERSION" resource
  // (its first 32 bytes), else the formatted numbers. With a_bWide the text
  // is returned as a 16-bit string. The text lives as long as the configuration.
  const void* VersionText(bool a_bWide);
  // The path of the data-source manager into a_szPath; whether the file exists.
  bool DsmPath(char* a_szPath, std::size_t a_sizetPath, bool a_bNewManager);
  // The brand resource text: as read (a_iWidth 0), or one line per line of
  // it with a_iWidth tabs in front (1 to 4). Empty without a configuration.
  const char* BrandText(int a_iWidth);
  // Query mode of the directory layout, for start-ups that have no
  // configuration yet: the writeable root, the model name, the company
  // folder above it and the writeable root followed by "qrx_orvik", each
  // optional (null). 0 or 1.
  EOSSTS QueryDirectories(char* a_szRoot, std::size_t a_sizetRoot, char* a_szModel, std::size_t a_sizetModel,
                          char* a_szCompany, std::size_t a_sizetCompany, char* a_szBrandRoot,
                          std::size_t a_sizetBrandRoot);

  // The reply of the suite's interface library ("rarir", searched in the
  // driver path, the system directory, the model directory, "lib" and then
  // by name) to an "interfaceopen" task: asked once and kept for the life
  // of the configuration, which says "interfaceclose" to the library when it
  // ends. Without the library, the standard success report. Null when the
  // library has no entry point or memory is short (the next call asks
  // again). Not synchronised: ask from one thread at a time.
  const char* InterfaceInfo();

  COsCfgImpl* m_poscfgimpl = nullptr;
};

// Information codes of the system-information queries.
enum EOSCFGINFO : int {
  OS_CFGINFO_OS_BUILDSTRING = 1,
  OS_CFGINFO_OS_NAMESTRING = 2,
  OS_CFGINFO_OS_VERSIONSTRING = 3,
  OS_CFGINFO_OS_KERNELVERSIONSTRING = 4,
  OS_CFGINFO_OS_PLATFORM = 7,
  OS_CFGINFO_OS_CODE = 8,
  OS_CFGINFO_MEM_TOTALPHYSICAL = 9,
  OS_CFGINFO_MEM_AVAILABLEPHYSICAL = 10,
  OS_CFGINFO_MEM_TOTALVIRTUAL = 11,
  OS_CFGINFO_MEM_AVAILABLEVIRTUAL = 12,
  OS_CFGINFO_MEM_TOTALPAGEFILE = 13,
  OS_CFGINFO_MEM_AVAILABLEPAGEFILE = 14,
  OS_CFGINFO_MEM_LOAD = 15,
  OS_CFGINFO_CPU_CACHESIZE = 16,
  OS_CFGINFO_CPU_FAMILY = 17,
  OS_CFGINFO_CPU_IS_FPU = 18,
  OS_CFGINFO_CPU_IS_MMX = 19,
  OS_CFGINFO_CPU_IS_SSE = 20,
  OS_CFGINFO_CPU_IS_SSE2 = 21,
  OS_CFGINFO_CPU_IS_SSE3 = 22,
  OS_CFGINFO_CPU_IS_SSSE3 = 23,
  OS_CFGINFO_CPU_IS_SSE41 = 24,
  OS_CFGINFO_CPU_IS_SSE42 = 25,
  OS_CFGINFO_CPU_IS_SSE4A = 26,
  OS_CFGINFO_CPU_IS_POPCNT = 27,
  OS_CFGINFO_CPU_IS_3DNOW = 28,
  OS_CFGINFO_CPU_LEVEL = 29,
  OS_CFGINFO_CPU_MODEL = 30,
  OS_CFGINFO_CPU_MHZ = 31,
  OS_CFGINFO_CPU_MODELSTRING = 32,
  OS_CFGINFO_CPU_STEPPING = 33,
  OS_CFGINFO_CPU_TOTAL = 34,
  OS_CFGINFO_CPU_VENDORSTRING = 35,
  OS_CFGINFO_CPU_PROCESSBITS = 36,
  OS_CFGINFO_CPU_MACHINEBITS = 37,
  OS_CFGINFO_CPU_IS_HYPERTHREADING = 38,
  OS_CFGINFO_VOLUME_DEVICEID = 39,
  OS_CFGINFO_VOLUME_SERIALNUMBER = 40,
  OS_CFGINFO_NETWORK_HOSTNAME = 51,
};

// Operating-system codes of OS_CFGINFO_OS_CODE (compare versions with them).
enum EOSCFGOS : int {
  OS_CFG_OS_OTHER = 1,
  OS_CFG_OS_WINNT = 6,
  OS_CFG_OS_WIN2K = 7,
  OS_CFG_OS_WINXP = 8,
  OS_CFG_OS_WINVISTA = 10,
  OS_CFG_OS_WIN2008 = 11,
  OS_CFG_OS_WIN7 = 12,
  OS_CFG_OS_WIN2008R2 = 13,
  OS_CFG_OS_WIN8 = 14,
  OS_CFG_OS_WIN2012 = 15,
  OS_CFG_OS_WIN81 = 16,
  OS_CFG_OS_WIN2012R2 = 17,
  OS_CFG_OS_WIN10 = 18,
};

// The process-wide configuration created by OsServicesStart, or null.
COsCfg* OsCfgInstance();

// Configuration sections and the directory items that programs read.
constexpr int OS_CFGSECTION_MAIN = 1;  // dsIdentity
constexpr int OS_CFGTAG_ROOTPATH = 10;
constexpr int OS_CFGTAG_LOGDIRECTORY = 12;
constexpr int OS_CFGTAG_USERROOTDIRECTORY = 13;
constexpr int OS_CFGTAG_TMPDIRECTORY = 23;
constexpr int OS_CFGTAG_DEBUG = 35;
constexpr int OS_CFGTAG_DEBUGFILTER = 36;
constexpr int OS_CFGTAG_DEBUGDISPLAYLENGTH = 38;
constexpr int OS_CFGTAG_VERSIONMAJORNUM = 48;  // then minor, patch, build, day, month, year
constexpr int OS_CFGTAG_FORCEMEMORYMAP = 109;  // the shared memory's share mode (a number, C base prefixes)

// ---- environment and registry ----
// Every value arrives as 8-bit text (UTF-8 when it came from a 16-bit
// source). Statuses: 0 success, 2 buffer or system failure, 3 bad argument.

// The value of a_szEnvName in a_szValue (a_sizetBytes bytes). A variable that
// is missing or empty gives a_szDefault (or an empty text without one); a
// default that does not fit gives 2. With a_bUnicode the name and value go
// through the 16-bit call and the value arrives as UTF-8. A value that does
// not fit gives 2. Clears the thread's last system error.
EOSSTS OsCfgGetEnv(const char* a_szEnvName, const char* a_szDefault, std::size_t a_sizetBytes, char* a_szValue,
                   bool a_bUnicode);
// "true"/"1" and "false"/"0" (any case); a_bDefault when unset, empty or
// unreadable, and (logged) for any other text. False for a null name.
bool OsCfgGetEnvBool(const char* a_szEnvName, bool a_bDefault);
// The leading decimal digits of the value (0 for none); a_iDefault when
// unset, empty or unreadable. 0 for a null name.
int OsCfgGetEnvNumber(const char* a_szEnvName, int a_iDefault);
// 1 when the variable does not exist (an empty one exists), else 0; 1 for a
// null name.
int OsCfgIsEnvUnset(const char* a_szEnvName);
// The whole value of the variable, however long, as UTF-8 (a_bUnicode) or
// 8-bit text in a block that the caller frees with std::free; null when the
// variable does not exist (or memory is short).
char* OsCfgGetEnvWhole(const char* a_szEnvName, bool a_bUnicode);
// Whether the variable exists and its value begins with a_c.
bool OsCfgEnvBeginsWith(const char* a_szEnvName, char a_c);
// Sets the variable with the 8-bit call; a null a_szValue removes it (and
// always succeeds).
EOSSTS OsCfgSetEnv(const char* a_szEnvName, const char* a_szValue);
// The same with the 16-bit call: name (at most 64 characters) and value (at
// most 65536) are converted from UTF-8.
EOSSTS OsCfgSetEnvW(const char* a_szEnvName, const char* a_szValue);

// One variable of the environment snapshot; the array ends with a null name.
struct OsCfgEnvPair {
  const char* m_szName;
  const char* m_szValue;
};
// A read-only snapshot of the process environment (UTF-8), entries whose
// name would be empty left out; null on failure. A new snapshot frees the
// previous one; one thread at a time. The snapshot lives until the next one
// or until OsCfgFreeEnvSnapshot (called by the services shut-down).
const OsCfgEnvPair* OsCfgGetEnvSnapshot();
void OsCfgFreeEnvSnapshot();

// Where a registry read looks.
enum EOSCFGREGISTRY : int {
  OS_CFG_REGISTRY_LOCALMACHINE = 1,
  OS_CFG_REGISTRY_CURRENTUSER = 2,
};
// Reads a registry value into a_pBuffer (a_sizetBytes bytes). a_szKey is the
// key path and the value name after its last '\' (no '\': the key's default
// value); '/' counts as '\' unless a_bKeepPath. Text values arrive as UTF-8
// with their terminator; other values as their bytes. 3 for bad arguments
// and for a key or value that cannot be read (logged at class 4).
EOSSTS OsCfgReadRegistry(EOSCFGREGISTRY a_eoscfgregistry, const char* a_szKey, void* a_pBuffer,
                         std::size_t a_sizetBytes, bool a_bKeepPath);
