#include "os_lasterror.h"
#include "os_win.h"

void OsClearLastError() { SetLastError(0); }
