// A plug-in for the dispatch tests: the callbacks of a class C, exported
// through the .def file under the decorated names a lookup of C_f, C_g,
// C_u, C_o and C_n builds. Each hands its record to the recorder that the
// test program exports (OsTestDispatchRecord), which answers for it.
#include <windows.h>

#include "os_cosxml.h"

namespace {
EOSSTS Report(char a_cFunction, OsXmlCallback* a_posxmlcallback) {
  const auto l_pfnRecorder = reinterpret_cast<EOSSTS (*)(char, OsXmlCallback*)>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), "OsTestDispatchRecord")));
  return l_pfnRecorder != nullptr ? l_pfnRecorder(a_cFunction, a_posxmlcallback) : OS_STS_SUCCESS;
}
}  // namespace

extern "C" EOSSTS PlugF(OsXmlCallback* a_p) { return Report('f', a_p); }
extern "C" EOSSTS PlugG(OsXmlCallback* a_p) { return Report('g', a_p); }
extern "C" EOSSTS PlugU(OsXmlCallback* a_p) { return Report('u', a_p); }
extern "C" EOSSTS PlugO(OsXmlCallback* a_p) { return Report('o', a_p); }
extern "C" EOSSTS PlugN(OsXmlCallback* a_p) { return Report('n', a_p); }
