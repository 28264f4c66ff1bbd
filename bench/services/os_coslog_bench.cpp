// Lines per second of the log: an enabled log writing to its file, a
// disabled call (the log off: the test every class-4 call site makes), and
// the floor measured in the same run: the bare system calls the log makes for
// every line (open with the log's access and share modes, the exclusive
// one-byte lock far beyond the end, seek to the end, one write, unlock,
// close), as many times as there are lines. With 1 and 8 threads.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "os.h"
#include "os_bench.h"

const char* g_szOsServicesArguments =
    "<arguments><uniquename>benchlog</uniquename><entity>application</entity></arguments>";

namespace {

constexpr int OS_BENCH_THREADS[] = {1, 8};
// Measured time of one case in one round; the counts are calibrated to it.
constexpr double OS_BENCH_FILE_SECONDS = 1.5;
constexpr double OS_BENCH_CALL_SECONDS = 0.3;
constexpr double OS_BENCH_GOAL_RATIO = 1.25;  // enabled against the floor, per line
constexpr double OS_BENCH_GOAL_DISABLED_NS = 20.0;

// The lock the log holds around its seek and write.
constexpr DWORD OS_BENCH_LOCK_HIGH = 0x7FFFFFFF;
constexpr DWORD OS_BENCH_LOCK_LOW = 0xFFFFFFF0;

const char OS_BENCH_FILE[] = "os_coslog_bench.cpp";

std::wstring Wide(const std::string& a_s) {
  wchar_t l_wsz[MAX_PATH];
  if (MultiByteToWideChar(CP_UTF8, 0, a_s.c_str(), -1, l_wsz, MAX_PATH) == 0) return std::wstring();
  return l_wsz;
}

// One line the way the library's call sites write it: the level is tested
// first, then the line goes out. The text has a fixed width, so every line
// of a run has nearly the same length.
void LogLine(COsLog* a_poslog, int a_iThread, int a_iLine) {
  if (OsLogGetDebug(a_poslog) != 0)
    OsLogPrint(a_poslog, OS_BENCH_FILE, __LINE__, OS_LOG_INFO, "bench thread %02d line %08d", a_iThread, a_iLine);
}

// A class-4 call site of the library while the process's log is off.
void DisabledLine(int a_iLine) {
  COsLog* const l_poslog = OsLogInstance();
  if (l_poslog != nullptr && OsLogGetDebug(l_poslog) != 0)
    OsLogPrint(l_poslog, OS_BENCH_FILE, __LINE__, OS_LOG_INFO, "never written %d", a_iLine);
}

// What the log does on the file for one line, and nothing else.
bool FloorLine(const wchar_t* a_wszPath, const char* a_pLine, DWORD a_dwBytes) {
  HANDLE const l_hfile = CreateFileW(a_wszPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (l_hfile == INVALID_HANDLE_VALUE) return false;
  OVERLAPPED l_overlapped = {};
  l_overlapped.Offset = OS_BENCH_LOCK_LOW;
  l_overlapped.OffsetHigh = OS_BENCH_LOCK_HIGH;
  const bool l_bLocked = LockFileEx(l_hfile, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &l_overlapped) != FALSE;
  LARGE_INTEGER l_liZero = {};
  DWORD l_dwWritten = 0;
  const bool l_bWritten = SetFilePointerEx(l_hfile, l_liZero, nullptr, FILE_END) &&
                          WriteFile(l_hfile, a_pLine, a_dwBytes, &l_dwWritten, nullptr) && l_dwWritten == a_dwBytes;
  if (l_bLocked) UnlockFileEx(l_hfile, 0, 1, 0, &l_overlapped);
  CloseHandle(l_hfile);
  return l_bLocked && l_bWritten;
}

// The file's size in bytes and its number of LF; -1 when it cannot be read.
long long CountLines(const std::wstring& a_wsPath, long long* a_pllBytes) {
  HANDLE const l_hfile = CreateFileW(a_wsPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
  if (l_hfile == INVALID_HANDLE_VALUE) return -1;
  std::vector<char> l_buffer(1 << 16);
  long long l_llLines = 0, l_llBytes = 0;
  DWORD l_dwRead = 0;
  while (ReadFile(l_hfile, l_buffer.data(), static_cast<DWORD>(l_buffer.size()), &l_dwRead, nullptr) && l_dwRead > 0) {
    l_llBytes += l_dwRead;
    l_llLines += std::count(l_buffer.data(), l_buffer.data() + l_dwRead, '\n');
  }
  CloseHandle(l_hfile);
  *a_pllBytes = l_llBytes;
  return l_llLines;
}

// Both file cases of one thread count, run in alternating slices so that
// a change in the machine's load meets both alike; seconds summed per case.
struct OsBenchFileTimes {
  double m_dEnabled = 0;
  double m_dFloor = 0;
};

struct OsBenchBest {
  double m_dEnabled = 0;  // lines per second, the best round
  double m_dFloor = 0;
  double m_dDisabled = 0;
};

constexpr int OS_BENCH_SLICES = 8;

// The floor's six calls timed one by one on a_iThreads threads (the time
// each thread spent in them, summed), and the wall time of the floor and of
// the enabled log, in alternating slices.
struct OsBenchParts {
  double m_adPart[6] = {};
  double m_dFloor = 0;    // wall
  double m_dEnabled = 0;  // wall
};

OsBenchParts MeasureParts(COsLog* a_poslog, const std::wstring& a_wsFloor, const std::string& a_sLine, int a_iThreads,
                          int a_iLines) {
  OsBenchParts l_parts;
  std::vector<OsBenchParts> l_perthread(static_cast<std::size_t>(a_iThreads));
  const wchar_t* const l_wszFloor = a_wsFloor.c_str();
  const DWORD l_dwLine = static_cast<DWORD>(a_sLine.size());
  const long long l_llSlice = a_iLines / OS_BENCH_SLICES;
  for (int l_iSlice = 0; l_iSlice < OS_BENCH_SLICES; ++l_iSlice) {
    l_parts.m_dEnabled += OsBenchRunThreads(a_iThreads, [&](int a_iThread) {
      const long long l_ll = OsBenchShare(l_llSlice, a_iThread, a_iThreads);
      for (long long l_i = 0; l_i < l_ll; ++l_i) LogLine(a_poslog, a_iThread, static_cast<int>(l_i));
    });
    l_parts.m_dFloor += OsBenchRunThreads(a_iThreads, [&](int a_iThread) {
      double* const l_pdPart = l_perthread[a_iThread].m_adPart;
      const long long l_ll = OsBenchShare(l_llSlice, a_iThread, a_iThreads);
      for (long long l_i = 0; l_i < l_ll; ++l_i) {
        double l_ad[7];
        l_ad[0] = OsBenchSeconds();
        HANDLE const l_hfile = CreateFileW(l_wszFloor, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        l_ad[1] = OsBenchSeconds();
        OVERLAPPED l_overlapped = {};
        l_overlapped.Offset = OS_BENCH_LOCK_LOW;
        l_overlapped.OffsetHigh = OS_BENCH_LOCK_HIGH;
        LockFileEx(l_hfile, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &l_overlapped);
        l_ad[2] = OsBenchSeconds();
        LARGE_INTEGER l_liZero = {};
        SetFilePointerEx(l_hfile, l_liZero, nullptr, FILE_END);
        l_ad[3] = OsBenchSeconds();
        DWORD l_dwWritten = 0;
        WriteFile(l_hfile, a_sLine.data(), l_dwLine, &l_dwWritten, nullptr);
        l_ad[4] = OsBenchSeconds();
        UnlockFileEx(l_hfile, 0, 1, 0, &l_overlapped);
        l_ad[5] = OsBenchSeconds();
        CloseHandle(l_hfile);
        l_ad[6] = OsBenchSeconds();
        for (int l_iPart = 0; l_iPart < 6; ++l_iPart) l_pdPart[l_iPart] += l_ad[l_iPart + 1] - l_ad[l_iPart];
      }
    });
  }
  for (const OsBenchParts& l_one : l_perthread)
    for (int l_iPart = 0; l_iPart < 6; ++l_iPart) l_parts.m_adPart[l_iPart] += l_one.m_adPart[l_iPart];
  return l_parts;
}

// Where a line's time goes: the floor's calls, and the log's own work that
// the public interface lets us repeat alone (the path's conversion for the
// open, the local time, the prefix and the message formatted). The rest is
// the log's remaining work: its slot, module name and filter, spin locks and
// last-error guard, and with several threads the wait for its spin lock.
void PrintParts(COsLog* a_poslog, const std::string& a_sLog, const std::wstring& a_wsFloor,
                const std::string& a_sLine) {
  constexpr int l_iLines = 2000;
  OsBenchParts l_aparts[std::size(OS_BENCH_THREADS)];
  for (std::size_t l_sizet = 0; l_sizet < std::size(OS_BENCH_THREADS); ++l_sizet)
    l_aparts[l_sizet] = MeasureParts(a_poslog, a_wsFloor, a_sLine, OS_BENCH_THREADS[l_sizet], l_iLines);

  wchar_t l_wszPath[MAX_PATH];
  double l_dFrom = OsBenchSeconds();
  for (int l_i = 0; l_i < l_iLines; ++l_i) CopyStringFromUtf8(l_wszPath, MAX_PATH, a_sLog.c_str());
  const double l_dConvert = OsBenchSeconds() - l_dFrom;
  OsTimeRecord l_timerecord;
  l_dFrom = OsBenchSeconds();
  for (int l_i = 0; l_i < l_iLines; ++l_i) OsTimeGetLocal(&l_timerecord, 0);
  const double l_dTime = OsBenchSeconds() - l_dFrom;
  char l_szLine[512];
  l_dFrom = OsBenchSeconds();
  for (int l_i = 0; l_i < l_iLines; ++l_i) {
    // The log's prefix (the precision pads with zeros, as its own format
    // does) and the message.
    if (LogSStrPrintf(l_szLine, sizeof(l_szLine), "%.5d %.2d%.2d%.2d%.3d %-32.32s %5d %5d T%04llu S%d V%c ", l_i,
                      l_timerecord.m_u16Hour, l_timerecord.m_u16Minute, l_timerecord.m_u16Second,
                      l_timerecord.m_u16Millisecond, "os_coslog_bench", __LINE__, 0,
                      static_cast<unsigned long long>(GetCurrentThreadId()), 1, '.') > 0)
      LogSStrCatf(l_szLine, sizeof(l_szLine), "bench thread %02d line %08d\r\n", 0, l_i);
  }
  const double l_dFormat = OsBenchSeconds() - l_dFrom;

  const double l_dScale = 1e6 / l_iLines;  // microseconds per line
  static const char* const l_aszPart[6] = {"CreateFileW", "LockFileEx",   "SetFilePointerEx",
                                           "WriteFile",   "UnlockFileEx", "CloseHandle"};
  OsBenchLine("\n%s: where a line's time goes (microseconds a line, %d lines; calls: time inside them, all threads)\n",
              OsBenchTarget(), l_iLines);
  OsBenchLine("  %-38s %9d %9d\n", "threads", OS_BENCH_THREADS[0], OS_BENCH_THREADS[1]);
  for (int l_iPart = 0; l_iPart < 6; ++l_iPart)
    OsBenchLine("  floor  %-31s %9.2f %9.2f\n", l_aszPart[l_iPart], l_aparts[0].m_adPart[l_iPart] * l_dScale,
                l_aparts[1].m_adPart[l_iPart] * l_dScale);
  OsBenchLine("  floor  %-31s %9.2f %9.2f\n", "wall time", l_aparts[0].m_dFloor * l_dScale,
              l_aparts[1].m_dFloor * l_dScale);
  OsBenchLine("  log    %-31s %9.2f\n", "path to UTF-16 for the open", l_dConvert * l_dScale);
  OsBenchLine("  log    %-31s %9.2f\n", "local time", l_dTime * l_dScale);
  OsBenchLine("  log    %-31s %9.2f\n", "prefix and message", l_dFormat * l_dScale);
  OsBenchLine("  log    %-31s %9.2f\n", "rest (wall - floor - above)",
              (l_aparts[0].m_dEnabled - l_aparts[0].m_dFloor - l_dConvert - l_dTime - l_dFormat) * l_dScale);
  OsBenchLine("  log    %-31s %9.2f %9.2f\n", "wall time", l_aparts[0].m_dEnabled * l_dScale,
              l_aparts[1].m_dEnabled * l_dScale);
}

}  // namespace

int main(int argc, char** argv) {
  const OsBenchOptions l_options = OsBenchParse(argc, argv);
  char l_szTemp[MAX_PATH];
  GetTempPathA(MAX_PATH, l_szTemp);
  const std::string l_sRoot = std::string(l_szTemp) + "qrxbench_log";
  const std::string l_sLog = l_sRoot + "\\enabled.log";
  const std::wstring l_wsLog = Wide(l_sLog), l_wsFloor = Wide(l_sRoot + "\\floor.log");
  CreateDirectoryW(Wide(l_sRoot).c_str(), nullptr);
  CreateDirectoryW(Wide(l_sRoot + "\\appdata").c_str(), nullptr);
  // The services' own log is off and stays out of the way; their tree goes
  // into the benchmark's folder.
  for (const wchar_t* l_wsz : {L"QRX_DEBUG", L"QRX_LOGDIR", L"QRX_DEBUGDIR"}) SetEnvironmentVariableW(l_wsz, nullptr);
  SetEnvironmentVariableW(L"QRX_APPDATADIR", Wide(l_sRoot + "\\appdata").c_str());
  OsServicesStart(nullptr);
  if (OsLogInstance() == nullptr || OsLogGetDebug(OsLogInstance()) != 0) {
    std::printf("the process's log is not there or not off\n");
    return 1;
  }

  DeleteFileW(l_wsLog.c_str());
  COsLog* const l_poslog = OsLogCreate("benchlog", l_sLog.c_str(), 1, nullptr);
  if (l_poslog == nullptr || OsLogGetDebug(l_poslog) == 0) {
    std::printf("OsLogCreate failed\n");
    return 1;
  }
  auto l_fnCleanUp = [&] {
    OsLogDestroy(l_poslog);
    OsServicesStop();
    DeleteFileW(l_wsLog.c_str());
    DeleteFileW(l_wsFloor.c_str());
    OsFileDelete(l_sRoot.c_str(), OS_FILE_TYPE_DIRECTORY, true);
  };
  // The first line writes the header block; the lines after it give the
  // length of a line, which the floor then writes.
  LogLine(l_poslog, 0, 0);
  long long l_llHeader = 0, l_llBytes = 0;
  CountLines(l_wsLog, &l_llHeader);
  constexpr int l_iSample = 200;
  for (int l_i = 0; l_i < l_iSample; ++l_i) LogLine(l_poslog, 0, l_i);
  if (CountLines(l_wsLog, &l_llBytes) < l_iSample) {
    std::printf("the enabled log wrote no lines into %s\n", l_sLog.c_str());
    l_fnCleanUp();
    return 1;
  }
  const DWORD l_dwLine = static_cast<DWORD>((l_llBytes - l_llHeader + l_iSample / 2) / l_iSample);
  std::string l_sLine(l_dwLine, 'x');
  l_sLine[l_dwLine - 2] = '\r';
  l_sLine[l_dwLine - 1] = '\n';
  if (l_options.m_bParts) {
    PrintParts(l_poslog, l_sLog, l_wsFloor, l_sLine);
    l_fnCleanUp();
    return 0;
  }

  // Counts for about the wanted time per case: the floor decides the
  // lines, a short run of the disabled call its count.
  DeleteFileW(l_wsFloor.c_str());
  double l_dFrom = OsBenchSeconds();
  for (int l_i = 0; l_i < 500; ++l_i) FloorLine(l_wsFloor.c_str(), l_sLine.data(), l_dwLine);
  const double l_dFloorLine = (OsBenchSeconds() - l_dFrom) / 500;
  const long long l_llLines = std::clamp(
      static_cast<long long>(OS_BENCH_FILE_SECONDS / l_dFloorLine) / (8 * OS_BENCH_SLICES) * (8 * OS_BENCH_SLICES),
      4000LL, 400000LL);
  l_dFrom = OsBenchSeconds();
  for (int l_i = 0; l_i < 1000000; ++l_i) DisabledLine(l_i);
  const double l_dDisabledCall = std::max((OsBenchSeconds() - l_dFrom) / 1000000, 1e-10);
  const long long l_llCalls =
      std::clamp(static_cast<long long>(OS_BENCH_CALL_SECONDS / l_dDisabledCall) / 8 * 8, 1000000LL, 2000000000LL);

  OsBenchBest l_abest[std::size(OS_BENCH_THREADS)];
  bool l_bComplete = true;
  const long long l_llSlice = l_llLines / OS_BENCH_SLICES;
  for (int l_iRound = 0; l_iRound < l_options.m_iRounds; ++l_iRound) {
    for (std::size_t l_sizet = 0; l_sizet < std::size(OS_BENCH_THREADS); ++l_sizet) {
      const int l_iThreads = OS_BENCH_THREADS[l_sizet];
      OsBenchBest& l_best = l_abest[l_sizet];
      OsBenchFileTimes l_times;
      DeleteFileW(l_wsLog.c_str());
      DeleteFileW(l_wsFloor.c_str());
      volatile LONG l_lFailed = 0;
      auto l_fnEnabled = [&] {
        l_times.m_dEnabled += OsBenchRunThreads(l_iThreads, [&](int a_iThread) {
          const long long l_ll = OsBenchShare(l_llSlice, a_iThread, l_iThreads);
          for (long long l_i = 0; l_i < l_ll; ++l_i) LogLine(l_poslog, a_iThread, static_cast<int>(l_i));
        });
      };
      auto l_fnFloor = [&] {
        l_times.m_dFloor += OsBenchRunThreads(l_iThreads, [&](int a_iThread) {
          const long long l_ll = OsBenchShare(l_llSlice, a_iThread, l_iThreads);
          for (long long l_i = 0; l_i < l_ll; ++l_i)
            if (!FloorLine(l_wsFloor.c_str(), l_sLine.data(), l_dwLine)) InterlockedIncrement(&l_lFailed);
        });
      };
      // Alternate the order, so that neither always meets the warmer cache.
      for (int l_iSlice = 0; l_iSlice < OS_BENCH_SLICES; ++l_iSlice) {
        if ((l_iSlice + l_iRound) % 2 == 0) {
          l_fnEnabled();
          l_fnFloor();
        } else {
          l_fnFloor();
          l_fnEnabled();
        }
      }
      long long l_llFile = 0;
      if (l_lFailed != 0 || CountLines(l_wsLog, &l_llFile) != l_llSlice * OS_BENCH_SLICES ||
          CountLines(l_wsFloor, &l_llFile) != l_llSlice * OS_BENCH_SLICES)
        l_bComplete = false;
      const double l_dLines = static_cast<double>(l_llSlice * OS_BENCH_SLICES);
      l_best.m_dEnabled = std::max(l_best.m_dEnabled, l_dLines / l_times.m_dEnabled);
      l_best.m_dFloor = std::max(l_best.m_dFloor, l_dLines / l_times.m_dFloor);
      const double l_d = OsBenchRunThreads(l_iThreads, [&](int a_iThread) {
        const long long l_ll = OsBenchShare(l_llCalls, a_iThread, l_iThreads);
        for (long long l_i = 0; l_i < l_ll; ++l_i) DisabledLine(static_cast<int>(l_i));
      });
      l_best.m_dDisabled = std::max(l_best.m_dDisabled, static_cast<double>(l_llCalls) / l_d);
    }
  }
  if (!l_bComplete) {
    l_fnCleanUp();
    std::printf("a file did not receive every line\n");
    return 1;
  }

  if (!l_options.m_bRowsOnly) {
    OsBenchLine("The log: lines per second, best of %d rounds (lines of %u bytes)\n", l_options.m_iRounds,
                static_cast<unsigned>(l_dwLine));
    OsBenchLine("%-7s %7s  %-9s %14s %10s %8s  %-22s %s\n", "target", "threads", "case", "lines/s", "ns/line",
                "x floor", "goal", "met");
  }
  const int l_iProcessors = OsBenchProcessors();
  for (std::size_t l_sizet = 0; l_sizet < std::size(OS_BENCH_THREADS); ++l_sizet) {
    const int l_iThreads = OS_BENCH_THREADS[l_sizet];
    const OsBenchBest& l_best = l_abest[l_sizet];
    char l_sz[32];
    const double l_dRatio = l_best.m_dFloor / l_best.m_dEnabled;
    OsBenchLine("%-7s %7d  %-9s %14s %10.0f %8.2f  %-22s %s\n", OsBenchTarget(), l_iThreads, "enabled",
                OsBenchGrouped(l_sz, l_best.m_dEnabled), 1e9 / l_best.m_dEnabled, l_dRatio, "<= 1.25 x floor",
                l_dRatio <= OS_BENCH_GOAL_RATIO ? "yes" : "NO");
    OsBenchLine("%-7s %7d  %-9s %14s %10.0f %8.2f  %-22s %s\n", OsBenchTarget(), l_iThreads, "floor",
                OsBenchGrouped(l_sz, l_best.m_dFloor), 1e9 / l_best.m_dFloor, 1.0, "", "");
    // Threads beyond the processors only share them: a call's cost is the
    // wall time per call times the processors kept busy.
    const double l_dDisabledNs = 1e9 / l_best.m_dDisabled * std::min(l_iThreads, l_iProcessors);
    char l_szGoal[32];
    std::snprintf(l_szGoal, sizeof(l_szGoal), "< 20 ns (%.1f/core)", l_dDisabledNs);
    OsBenchLine("%-7s %7d  %-9s %14s %10.1f %8s  %-22s %s\n", OsBenchTarget(), l_iThreads, "disabled",
                OsBenchGrouped(l_sz, l_best.m_dDisabled), 1e9 / l_best.m_dDisabled, "", l_szGoal,
                l_dDisabledNs < OS_BENCH_GOAL_DISABLED_NS ? "yes" : "NO");
  }
  l_fnCleanUp();
  return 0;
}
