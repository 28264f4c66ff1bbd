// Services start-up and shut-down, and the configuration object.
#pragma once

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

  COsCfgImpl* m_poscfgimpl = nullptr;
};

// The process-wide configuration created by OsServicesStart, or null.
COsCfg* OsCfgInstance();

// Configuration sections and the directory items that programs read.
constexpr int OS_CFGSECTION_MAIN = 1;  // dsIdentity
constexpr int OS_CFGTAG_ROOTPATH = 10;
constexpr int OS_CFGTAG_LOGDIRECTORY = 12;
constexpr int OS_CFGTAG_USERROOTDIRECTORY = 13;
