// The process-wide log: line classes and the logging call.
#pragma once

#include <cstdint>

#include <cstddef>

#include "os_sts.h"
#include "os_types.h"

// Line classes: the level argument of a log call, one value per call.
constexpr int OS_LOG_ERROR = 0x1;     // an operation failed (mark E)
constexpr int OS_LOG_SYNC = 0x2;      // synchronisation trace
constexpr int OS_LOG_INFO = 0x4;      // information and trace
constexpr int OS_LOG_SELECT = 0x8;    // kept alone (with 1 and 64) by option 0x10
constexpr int OS_LOG_FLUSH = 0x10;    // flush the file after this line
constexpr int OS_LOG_EXTRA = 0x20;    // written only with option 0x400
constexpr int OS_LOG_ASSERT = 0x40;   // a broken assumption (mark A), echoed to stderr
constexpr int OS_LOG_PROCESS = 0x80;  // life-cycle marks (mark P)
constexpr int OS_LOG_MEM = 0x100;     // memory traces
constexpr int OS_LOG_MEM2 = 0x1100;
constexpr int OS_LOG_MEM3 = 0x8100;
constexpr int OS_LOG_MEM4 = 0x8200;

// Options in the level mask. A non-zero mask switches logging on.
constexpr std::uint32_t OS_LOG_OPT_APPEND = 0x2;        // re-configuration: append instead of emptying the file
constexpr std::uint32_t OS_LOG_OPT_FLUSHALL = 0x4;      // flush every line from the first written one on
constexpr std::uint32_t OS_LOG_OPT_ONLYSELECT = 0x10;   // keep only class 8 (and 1, 64)
constexpr std::uint32_t OS_LOG_OPT_NOSTAMP = 0x20;      // sequence number, time and saved error print as 0
constexpr std::uint32_t OS_LOG_OPT_ONLYMEM = 0x40;      // keep only the memory traces (and 1, 64)
constexpr std::uint32_t OS_LOG_OPT_SWITCH = 0x100;      // kept apart for OsLogGetSwitch
constexpr std::uint32_t OS_LOG_OPT_HEAPCHECK = 0x200;   // read by the tracked allocator
constexpr std::uint32_t OS_LOG_OPT_EXTRA = 0x400;       // enables class 32
constexpr std::uint32_t OS_LOG_OPT_ERRORSONLY = 0x800;  // keep only classes 1, 64 and 128

class COsLogImpl;

// The public log object: only a pointer to its implementation. Without an
// implementation every operation does nothing.
class COsLog {
 public:
  COsLog() = default;
  COsLog(const COsLog&) = delete;
  COsLog& operator=(const COsLog&) = delete;

  COsLogImpl* m_poslogimpl = nullptr;
};

// The process-wide log created by OsServicesStart, or null outside it.
COsLog* OsLogInstance();

// Writes one line: a_szFile is the caller's source file name, a_iLine its
// line, a_iLevel one line class. Never fails towards the caller and leaves
// the calling thread's last system error as it found it. Callers test
// OsLogGetDebug before every class other than 1 and 64.
void OsLogPrint(COsLog* a_poslog, const char* a_szFile, int a_iLine, int a_iLevel, const char* a_szFormat, ...)
    OS_FORMAT_PRINTF(5, 6);

// The current level mask; non-zero means logging is enabled. 0 without a log.
std::uint32_t OsLogGetDebug(COsLog* a_poslog);

// Creates a log object. a_szLogFile (at most 259 characters; null or empty:
// no file, the log stays silent until a re-configuration names one) may be
// "@NAME@rest": the value of environment variable NAME, then rest, without
// its extension, then "_", the lower-case name of the directory two levels
// above the running module and ".log"; QRX_LOGDIR then replaces it by
// "<dir>/qrx_<UTC time stamp>.log". a_szFilter (at most 127 characters) is
// taken as given: blank-separated module-name parts, "~part" excludes.
// Null when the object cannot be allocated.
COsLog* OsLogCreate(const char* a_szUniqueName, const char* a_szLogFile, std::uint32_t a_u32Level,
                    const char* a_szFilter);
// Frees the object. The caller logs the delete line before, while it can.
void OsLogDestroy(COsLog* a_poslog);
// Replaces the level mask unchanged (no option processing).
void OsLogSetDebug(COsLog* a_poslog, std::uint32_t a_u32Level);
// Points the log at another file (null: keep the current one; no file at all
// suspends the log), takes the level (options 0x2, 0x100, 0x400, 0x800
// applied), the filter (keywords TWAIN, WIRE and XML expanded, lower-case;
// null keeps the current tokens) and, when given, the state byte. A file
// that differs from the current one gets a new header. Logs
// "### OsServicesStart..." (class 128) when logging is on.
void OsLogReconfigure(COsLog* a_poslog, const char* a_szLogFile, std::uint32_t a_u32Level, const char* a_szFilter,
                      unsigned char* a_pucState);
// Copies the current log file path (empty when it does not fit).
void OsLogGetFilename(COsLog* a_poslog, char* a_szFilename, std::size_t a_sizetFilename);
// The same with a status: 0, 3 for a missing or short buffer, 1 without a log.
EOSSTS OsLogGetFilenameSts(COsLog* a_poslog, char* a_szFilename, std::size_t a_sizetFilename);
// Sets the suspended flag (no line is written while set); returns the previous one.
int OsLogSuspend(COsLog* a_poslog, int a_iOn);
// Opens the log file, flushes it and closes it.
void OsLogFlush(COsLog* a_poslog);
bool OsLogIsFlushing(COsLog* a_poslog);
bool OsLogIsExtraEnabled(COsLog* a_poslog);
int OsLogGetSwitch(COsLog* a_poslog);
// The state byte (1 when none is attached); normalized: 9 reads 0, 0 reads 1.
unsigned char OsLogGetState(COsLog* a_poslog);
unsigned char OsLogGetStateNormalized(COsLog* a_poslog);
void OsLogSetState(COsLog* a_poslog, unsigned char a_ucState);
// Class-64 lines echo "<file> <line> <format>" to standard error while set.
void OsLogSetAssertEcho(COsLog* a_poslog, bool a_bOn);
// The configuration item DebugDisplayLength as a number (C base prefixes);
// 0 without a log or a configuration.
int OsLogGetDisplayLength(COsLog* a_poslog);

// The header's formatters: they report failures on standard error, never
// through the log. LogSStrPrintf returns the length (and clears the thread's
// last error), LogSStrCatf appends and returns the total length; -1 on failure.
int LogSStrPrintf(char* a_szDst, std::size_t a_sizetDst, const char* a_szFormat, ...) OS_FORMAT_PRINTF(3, 4);
int LogSStrCatf(char* a_szDst, std::size_t a_sizetDst, const char* a_szFormat, ...) OS_FORMAT_PRINTF(3, 4);
