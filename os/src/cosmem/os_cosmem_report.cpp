// The memory report of a failed allocation. The report writer (free and used
// chunk lists, module lists) belongs to the memory-report module; until it is
// part of the library the failing allocation's table dump in the log is all
// that is written.
#include "os_cosmem_impl.h"

void OsMemWriteCrashReport(const char* a_szName) { (void)a_szName; }
