// A member process of a sync group, driven by the group tests through named
// events: os_cossync_peer <group> <tag> <member to signal or -> <names...>.
// It registers its members, sets <tag>.ready, waits for <tag>.go, signals
// the member it was given, then waits for <tag>.quit and closes everything.
// Exit codes: 0 done, 2 a member could not be created, 3 the signal failed,
// 4 a control event is missing or did not come.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "os.h"
#include "os_win.h"

const char* g_szOsServicesArguments =
    "<arguments><uniquename>syncpeer</uniquename><entity>application</entity></arguments>";

namespace {

bool WaitFor(const std::string& a_sTag, const char* a_szSuffix) {
  const std::string l_s = "Global\\" + a_sTag + a_szSuffix;
  const HANDLE l_h = OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, l_s.c_str());
  if (l_h == nullptr) return false;
  const bool l_b = WaitForSingleObject(l_h, 60000) == WAIT_OBJECT_0;
  CloseHandle(l_h);
  return l_b;
}

bool Set(const std::string& a_sTag, const char* a_szSuffix) {
  const std::string l_s = "Global\\" + a_sTag + a_szSuffix;
  const HANDLE l_h = OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, l_s.c_str());
  const bool l_b = l_h != nullptr && SetEvent(l_h);
  if (l_h != nullptr) CloseHandle(l_h);
  return l_b;
}

}  // namespace

int main(int a_iArgc, char** a_aszArgv) {
  if (a_iArgc < 5) return 4;
  const std::string l_sTag = a_aszArgv[2];
  OsServicesStart(nullptr);
  std::vector<std::unique_ptr<COsSync>> l_members;
  int l_iExit = 0;
  for (int l_i = 4; l_i < a_iArgc && l_iExit == 0; ++l_i) {
    l_members.push_back(std::make_unique<COsSync>());
    if (l_members.back()->EventCreate(a_aszArgv[l_i], a_aszArgv[1], 0) != OS_STS_SUCCESS) l_iExit = 2;
  }
  if (l_iExit == 0 && (!Set(l_sTag, ".ready") || !WaitFor(l_sTag, ".go"))) l_iExit = 4;
  if (l_iExit == 0 && std::strcmp(a_aszArgv[3], "-") != 0) {
    l_iExit = 3;
    for (int l_i = 4; l_i < a_iArgc; ++l_i)
      if (std::strcmp(a_aszArgv[l_i], a_aszArgv[3]) == 0 && l_members[l_i - 4]->EventSet() == OS_STS_SUCCESS)
        l_iExit = 0;
  }
  if (l_iExit == 0 && !WaitFor(l_sTag, ".quit")) l_iExit = 4;
  l_members.clear();
  OsServicesStop();
  return l_iExit;
}
