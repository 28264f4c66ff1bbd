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

// The program's built-in argument text read by OsServicesStart, for example
// "<arguments>\n\t<uniquename>name</uniquename>\n\t<entity>application</entity>\n</arguments>".
// Each program of the suite defines it.
extern const char* g_szOsServicesArguments;

class COsCfgImpl;

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

  COsCfgImpl* m_poscfgimpl = nullptr;
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
