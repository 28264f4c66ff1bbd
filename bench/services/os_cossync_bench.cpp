// A wait round trip between two processes through sync groups (one process
// signals a member, a member of the same group wakes in the other and
// signals back through a second group) against the bare pair, SetEvent and
// WaitForMultipleObjects on the same number of handles, in the same run.
// The program is its own peer: "child <tag> <round trips> <rounds>".
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "os.h"
#include "os_bench.h"

const char* g_szOsServicesArguments =
    "<arguments><uniquename>benchsync</uniquename><entity>application</entity></arguments>";

namespace {

constexpr int OS_BENCH_TRIPS = 2000;
constexpr double OS_BENCH_GOAL_RATIO = 1.5;

struct Names {
  explicit Names(const std::string& a_sTag)
      : m_sGroupOut(a_sTag + "-out"),
        m_sGroupBack(a_sTag + "-back"),
        m_sPing(a_sTag + "-ping"),
        m_sPingWaiter(a_sTag + "-pingw"),
        m_sPong(a_sTag + "-pong"),
        m_sPongWaiter(a_sTag + "-pongw"),
        m_wsBareOut(OsBenchWide("Global\\" + a_sTag + ".out")),
        m_wsBareBack(OsBenchWide("Global\\" + a_sTag + ".back")),
        m_wsReady(OsBenchWide("Global\\" + a_sTag + ".ready")) {}
  static std::wstring OsBenchWide(const std::string& a_s) { return std::wstring(a_s.begin(), a_s.end()); }
  std::string m_sGroupOut, m_sGroupBack, m_sPing, m_sPingWaiter, m_sPong, m_sPongWaiter;
  std::wstring m_wsBareOut, m_wsBareBack, m_wsReady;
};

// The other process's side: answers every bare signal, then every group one.
int Child(const std::string& a_sTag, int a_iTrips, int a_iRounds) {
  const Names l_names(a_sTag);
  OsServicesStart(nullptr);
  COsSync l_ossyncWaiter, l_ossyncPong;
  const HANDLE l_hOut = OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, l_names.m_wsBareOut.c_str());
  const HANDLE l_hBack = OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, l_names.m_wsBareBack.c_str());
  const HANDLE l_hReady = OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, l_names.m_wsReady.c_str());
  const HANDLE l_hIdle = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (l_hOut == nullptr || l_hBack == nullptr || l_hReady == nullptr ||
      l_ossyncWaiter.EventCreate(l_names.m_sPingWaiter.c_str(), l_names.m_sGroupOut.c_str(), 0) != OS_STS_SUCCESS ||
      l_ossyncPong.EventCreate(l_names.m_sPong.c_str(), l_names.m_sGroupBack.c_str(), 0) != OS_STS_SUCCESS)
    return 2;
  SetEvent(l_hReady);
  const HANDLE l_ah[2] = {l_hIdle, l_hOut};
  char l_sz[300];
  for (int l_iRound = 0; l_iRound < a_iRounds; ++l_iRound) {
    for (int l_i = 0; l_i < a_iTrips; ++l_i) {
      WaitForMultipleObjects(2, l_ah, FALSE, INFINITE);
      SetEvent(l_hBack);
    }
    for (int l_i = 0; l_i < a_iTrips; ++l_i) {
      if (l_ossyncWaiter.EventWait(OS_SYNC_INFINITE, l_sz, sizeof(l_sz)) != OS_STS_SUCCESS) return 3;
      l_ossyncPong.EventSet();
    }
  }
  l_ossyncWaiter.Close();
  l_ossyncPong.Close();
  OsServicesStop();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 5 && std::strcmp(argv[1], "child") == 0) return Child(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
  const OsBenchOptions l_options = OsBenchParse(argc, argv);
  // The services' folders go to a folder of the run's own.
  wchar_t l_wszTemp[MAX_PATH];
  GetTempPathW(MAX_PATH, l_wszTemp);
  const std::string l_sTag = "benchsync" + std::to_string(GetCurrentProcessId());
  const std::wstring l_wsRoot = std::wstring(l_wszTemp) + Names::OsBenchWide(l_sTag);
  CreateDirectoryW(l_wsRoot.c_str(), nullptr);
  SetEnvironmentVariableW(L"QRX_APPDATADIR", l_wsRoot.c_str());
  OsServicesStart(nullptr);
  const Names l_names(l_sTag);
  const HANDLE l_hOut = CreateEventW(nullptr, FALSE, FALSE, l_names.m_wsBareOut.c_str());
  const HANDLE l_hBack = CreateEventW(nullptr, FALSE, FALSE, l_names.m_wsBareBack.c_str());
  const HANDLE l_hReady = CreateEventW(nullptr, TRUE, FALSE, l_names.m_wsReady.c_str());
  const HANDLE l_hIdle = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  COsSync l_ossyncPing, l_ossyncWaiter;
  if (l_ossyncPing.EventCreate(l_names.m_sPing.c_str(), l_names.m_sGroupOut.c_str(), 0) != OS_STS_SUCCESS ||
      l_ossyncWaiter.EventCreate(l_names.m_sPongWaiter.c_str(), l_names.m_sGroupBack.c_str(), 0) != OS_STS_SUCCESS) {
    std::printf("the sync groups could not be made\n");
    return 1;
  }
  wchar_t l_wszExe[MAX_PATH];
  GetModuleFileNameW(nullptr, l_wszExe, MAX_PATH);
  std::wstring l_wsCommand = L"\"" + std::wstring(l_wszExe) + L"\" child " + Names::OsBenchWide(l_sTag) + L" " +
                             std::to_wstring(OS_BENCH_TRIPS) + L" " + std::to_wstring(l_options.m_iRounds);
  STARTUPINFOW l_si = {};
  l_si.cb = sizeof(l_si);
  PROCESS_INFORMATION l_pi = {};
  if (!CreateProcessW(nullptr, l_wsCommand.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &l_si, &l_pi)) {
    std::printf("the peer process did not start (%lu)\n", GetLastError());
    return 1;
  }
  const HANDLE l_ahReady[2] = {l_hReady, l_pi.hProcess};
  if (WaitForMultipleObjects(2, l_ahReady, FALSE, 60000) != WAIT_OBJECT_0) {
    std::printf("the peer process did not get ready\n");
    return 1;
  }
  double l_dBare = 1e9, l_dGroup = 1e9;
  const HANDLE l_ah[2] = {l_hIdle, l_hBack};
  char l_sz[300];
  bool l_bOk = true;
  for (int l_iRound = 0; l_iRound < l_options.m_iRounds; ++l_iRound) {
    double l_dFrom = OsBenchSeconds();
    for (int l_i = 0; l_i < OS_BENCH_TRIPS; ++l_i) {
      SetEvent(l_hOut);
      WaitForMultipleObjects(2, l_ah, FALSE, INFINITE);
    }
    l_dBare = std::min(l_dBare, OsBenchSeconds() - l_dFrom);
    l_dFrom = OsBenchSeconds();
    for (int l_i = 0; l_i < OS_BENCH_TRIPS; ++l_i) {
      l_ossyncPing.EventSet();
      l_bOk = l_bOk && l_ossyncWaiter.EventWait(OS_SYNC_INFINITE, l_sz, sizeof(l_sz)) == OS_STS_SUCCESS &&
              l_names.m_sPong == l_sz;
    }
    l_dGroup = std::min(l_dGroup, OsBenchSeconds() - l_dFrom);
  }
  WaitForSingleObject(l_pi.hProcess, 60000);
  DWORD l_dwExit = 1;
  GetExitCodeProcess(l_pi.hProcess, &l_dwExit);
  const double l_dScale = 1e6 / OS_BENCH_TRIPS;
  const double l_dRatio = l_dGroup / l_dBare;
  if (!l_options.m_bRowsOnly) {
    OsBenchLine("\nA wait round trip between two processes (us a round trip, best of %d rounds of %d)\n",
                l_options.m_iRounds, OS_BENCH_TRIPS);
    OsBenchLine("  %-7s %12s %12s %7s %7s %s\n", "target", "bare pair", "sync group", "ratio", "goal", "met");
  }
  OsBenchLine("  %-7s %12.1f %12.1f %7.2f %7.2f %s\n", OsBenchTarget(), l_dBare * l_dScale, l_dGroup * l_dScale,
              l_dRatio, OS_BENCH_GOAL_RATIO,
              !l_bOk || l_dwExit != 0           ? "FAILED (a wait went wrong)"
              : l_dRatio <= OS_BENCH_GOAL_RATIO ? "yes"
                                                : "no");
  CloseHandle(l_pi.hProcess);
  CloseHandle(l_pi.hThread);
  l_ossyncPing.Close();
  l_ossyncWaiter.Close();
  OsServicesStop();
  return 0;
}
