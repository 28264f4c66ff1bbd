// Starts the services, writes one line to the process's log, prints the
// log's file name and stops the services.
#include <cstdio>

#include "os.h"

const char* g_szOsServicesArguments =
    "<arguments><uniquename>qrxconsumer</uniquename><entity>application</entity></arguments>";

int main() {
  OsServicesStart(nullptr);
  OsLogPrint(OsLogInstance(), "consumer.cpp", __LINE__, OS_LOG_ERROR, "consumer>>> linked against qrxos %s", "6");
  char l_szLog[OS_PATH_SIZE] = {};
  OsLogGetFilename(OsLogInstance(), l_szLog, sizeof(l_szLog));
  std::printf("%s\n", l_szLog);
  OsServicesStop();
  return l_szLog[0] != 0 ? 0 : 1;
}
