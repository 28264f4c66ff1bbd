// Private declarations of the time module: the timer's record and routine,
// the offset parser's first half and the child-process runner of the
// network query, with the settings tests may change.
#pragma once

#include <atomic>
#include <cstdint>

#include "os_costhread.h"
#include "os_costime.h"
#include "os_win.h"

class COsTimeImpl {
 public:
  // The thread is stopped before the fields below go away: its routine
  // clears them on the way out.
  ~COsTimeImpl() { m_osthread.Stop(false, OS_THREAD_STOP_TIMEOUT_MS); }

  COsThread m_osthread;
  std::atomic<std::int32_t> m_i32PeriodMs{0};
  std::atomic<OsTimerCallback> m_oscallbackTimer{nullptr};
  std::atomic<std::uint32_t> m_u32UserValue{0};
};

// The timer's thread procedure; its argument (ArgGet) is the COsTime.
EOSSTS __stdcall OsTimerProcStart(COsThread* a_posthread);

// The signed whole seconds of the tool's last data line (the rules of
// OsTimeParseOffset): 0, 1 when the text has not the form, 3 for null or empty.
EOSSTS OsTimeParseOffsetSeconds(const char* a_szText, std::int64_t* a_pllSeconds);

// How long a child of the network query may run before it is ended.
constexpr std::uint32_t OS_TIME_COMMAND_LIMIT_MS = 60000;
// The exit code a child ended at the limit is given.
constexpr DWORD OS_TIME_ENDED_EXIT_CODE = ERROR_TIMEOUT;

// Settings of the network query that tests change (never the library
// itself): the time tool's full path (null: w32tm.exe of the system
// directory) and the children's time limit.
struct OsTimeNetworkSettings {
  const wchar_t* m_wszTool = nullptr;
  std::uint32_t m_u32LimitMs = OS_TIME_COMMAND_LIMIT_MS;
};
OsTimeNetworkSettings& OsTimeNetworkSettingsGet();

// Runs a_wszCommand (writable, as CreateProcessW wants it) without a window
// at normal priority; with a_hOutput (inheritable) standard output and error
// go to it. Waits up to a_u32LimitMs: 0 and the exit code; a child that runs
// longer is ended (logged), its exit code OS_TIME_ENDED_EXIT_CODE, and 5. A
// command that cannot be started is logged and counts as exit code 0.
EOSSTS OsTimeRunCommand(wchar_t* a_wszCommand, HANDLE a_hOutput, std::uint32_t a_u32LimitMs, DWORD* a_pdwExitCode);

// Makes the current local time (OsTimeGetLocal with a time value of 0) the
// record given, for tests of names and texts made from the clock; null (the
// state a process starts in) gives the system's clock again.
void OsTimeFixLocal(const OsTimeRecord* a_ptimerecord);
