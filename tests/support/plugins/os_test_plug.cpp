// A plug-in for the shared-library tests. Its procedures are exported under
// plain names and, through the .def file, under the decorated names of the
// callback kinds; each answers its own number, so a test sees which one a
// lookup found. It keeps the argument text it found in the environment when
// it was loaded.
#include <windows.h>

namespace {
char s_szArguments[2048];
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD a_dwReason, LPVOID) {
  if (a_dwReason == DLL_PROCESS_ATTACH &&
      GetEnvironmentVariableA("QRX_OSSERVICESARGUMENTS", s_szArguments, sizeof(s_szArguments)) >= sizeof(s_szArguments))
    s_szArguments[0] = 0;
  return TRUE;
}

extern "C" const char* PlugArguments() { return s_szArguments; }
extern "C" int PlugPrivate(void*) { return 21; }
extern "C" int PlugProtected(void*) { return 22; }
extern "C" int PlugPublic(void*) { return 23; }
extern "C" int PlugScoped(void*) { return 24; }
extern "C" int PlugSimPublic(void*) { return 31; }
extern "C" int PlugSimFree(void*) { return 32; }
