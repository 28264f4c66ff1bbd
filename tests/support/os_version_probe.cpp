// Prints what the services library detects of the system, for the test that
// runs this program with and without a Windows 10 manifest entry:
// "<version text> <operating-system code> <label> <true major>", where
// label is 1 when the directory descriptor carries the low mandatory label.
#include <windows.h>

#include <cstdio>

#include "os.h"
#include "os_coscfg_impl.h"

const char* g_szOsServicesArguments =
    "<arguments>\n\t<uniquename>probe</uniquename>\n\t<entity>application</entity>\n</arguments>";

int main() {
  OsServicesStart(nullptr);
  COsCfg* const l_poscfg = OsCfgInstance();
  if (l_poscfg == nullptr) return 2;
  const char* const l_szVersion = l_poscfg->InfoGetText(OS_CFGINFO_OS_VERSIONSTRING, 0);
  const long l_lCode = l_poscfg->InfoGetNumber(OS_CFGINFO_OS_CODE, 0);
  int l_iLabel = 0;
  const SECURITY_ATTRIBUTES* const l_psa = static_cast<const SECURITY_ATTRIBUTES*>(OsCfgSecurityAttributes(0));
  if (l_psa != nullptr && l_psa->lpSecurityDescriptor != nullptr) {
    BOOL l_bPresent = FALSE;
    BOOL l_bDefaulted = FALSE;
    PACL l_pacl = nullptr;
    if (GetSecurityDescriptorSacl(l_psa->lpSecurityDescriptor, &l_bPresent, &l_pacl, &l_bDefaulted) && l_bPresent &&
        l_pacl != nullptr && l_pacl->AceCount > 0)
      l_iLabel = 1;
  }
  // The system's true version, which no manifest changes.
  typedef LONG(WINAPI * PfnRtlGetVersion)(OSVERSIONINFOW*);
  OSVERSIONINFOW l_version = {};
  l_version.dwOSVersionInfoSize = sizeof(l_version);
  const PfnRtlGetVersion l_pfn = reinterpret_cast<PfnRtlGetVersion>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  if (l_pfn != nullptr) l_pfn(&l_version);
  std::printf("%s %ld %d %lu\n", l_szVersion != nullptr ? l_szVersion : "-", l_lCode, l_iLabel,
              static_cast<unsigned long>(l_version.dwMajorVersion));
  OsServicesStop();
  return 0;
}
