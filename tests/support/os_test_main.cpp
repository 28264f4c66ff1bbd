// The argument text of the test programs; a test may point it elsewhere
// before it starts the services.
#include "os_coscfg.h"

const char* g_szOsServicesArguments =
    "<arguments>\n\t<uniquename>ostest</uniquename>\n\t<entity>application</entity>\n</arguments>";
