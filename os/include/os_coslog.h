// The process-wide log: line classes and the logging call.
#pragma once

#include <cstdint>

#include "os_types.h"

// Line classes: the level argument of a log call, one value per call.
constexpr int OS_LOG_ERROR = 0x1;      // an operation failed (mark E)
constexpr int OS_LOG_SYNC = 0x2;       // synchronisation trace
constexpr int OS_LOG_INFO = 0x4;       // information and trace
constexpr int OS_LOG_SELECT = 0x8;     // kept alone (with 1 and 64) by option 0x10
constexpr int OS_LOG_FLUSH = 0x10;     // flush the file after this line
constexpr int OS_LOG_EXTRA = 0x20;     // written only with option 0x400
constexpr int OS_LOG_ASSERT = 0x40;    // a broken assumption (mark A), echoed to stderr
constexpr int OS_LOG_PROCESS = 0x80;   // life-cycle marks (mark P)
constexpr int OS_LOG_MEM = 0x100;      // memory traces
constexpr int OS_LOG_MEM2 = 0x1100;
constexpr int OS_LOG_MEM3 = 0x8100;
constexpr int OS_LOG_MEM4 = 0x8200;

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
void OsLogPrint(COsLog* a_poslog, const char* a_szFile, int a_iLine, int a_iLevel,
                const char* a_szFormat, ...) OS_FORMAT_PRINTF(5, 6);

// The current level mask; non-zero means logging is enabled. 0 without a log.
std::uint32_t OsLogGetDebug(COsLog* a_poslog);
