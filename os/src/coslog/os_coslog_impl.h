// The log's implementation block and the pieces its source files share.
#pragma once

#include <cstddef>
#include <cstdint>

#include "os_coslog.h"
#include "os_costime.h"
#include "os_sysinfo.h"
#include "os_win.h"

constexpr int OS_LOG_SLOTS = 64;
constexpr int OS_LOG_TOKENS = 32;  // the list ends at its first empty entry: 31 are used
constexpr int OS_LOG_COMPONENTS = 32;
constexpr std::size_t OS_LOG_MODULE_SIZE = 260;
constexpr std::size_t OS_LOG_LINE_SIZE = 4096;
constexpr std::size_t OS_LOG_FILTER_SIZE = 128;
constexpr std::size_t OS_LOG_UNIQUENAME_SIZE = 64;
constexpr std::size_t OS_LOG_VERSIONINFO_SIZE = 512;
constexpr std::size_t OS_LOG_MESSAGE_SIZE = 1048576;
constexpr std::size_t OS_LOG_ASSERT_SIZE = 16;  // QRX_ASSERT: at most 14 characters
constexpr std::uint32_t OS_LOG_STATE_INITIAL = 9;
constexpr char OS_LOG_VERSION[] = "6.0.0.0";

// One per thread that logs. Each thread filters and formats in its own slot
// without a lock.
struct OsLogSlot {
  DWORD m_dwSavedError;                 // the caller's last error at entry
  char m_szModule[OS_LOG_MODULE_SIZE];  // source file: lower-case, no directory, no extension
  int m_iLine;
  OsTimeRecord m_timerecord;
  char* m_apszComponent[OS_LOG_COMPONENTS];  // directory creation
  char m_szPath1[OS_PATH_SIZE];              // also the module path of the program and library lines
  char m_szPath2[OS_PATH_SIZE];
  char m_szLine[OS_LOG_LINE_SIZE];       // header lines
  volatile std::uint64_t m_u64ThreadId;  // 0: free
  volatile bool m_bBusy;                 // this thread is inside the log
  char m_cMark;
  HANDLE m_hfile;
  DWORD m_dwWritten;
  DWORD m_dwVersionInfoLength;
  alignas(8) unsigned char m_aucVersionInfo[OS_LOG_VERSIONINFO_SIZE];
  VS_FIXEDFILEINFO* m_pfixedfileinfo;
  SYSTEM_INFO m_systeminfo;
  OSVERSIONINFOEXA m_osversioninfo;
};

class COsLogImpl {
 public:
  volatile LONG m_lSpinLock;  // slot assignment and every write to the file
  std::uint32_t m_u32Level;   // the mask in force; non-zero: logging is on
  unsigned char* m_pucState;
  bool m_bAssertEcho;
  bool m_bDebugDirectoryPending;
  char* m_apszToken[OS_LOG_TOKENS];
  char m_szTokenText[OS_LOG_FILTER_SIZE];
  char m_szLogFile[OS_PATH_SIZE];
  std::uint32_t m_u32LevelPassed;           // printed as Debug= in the header
  char m_szFilterText[OS_LOG_FILTER_SIZE];  // printed as DebugFilter= in the header
  std::uint32_t m_u32Switch;
  char m_szUniqueName[OS_LOG_UNIQUENAME_SIZE];
  std::uint32_t m_u32SystemInfoWritten;
  std::uint32_t m_u32Append;
  std::uint32_t m_u32AppInfoWritten;
  std::uint32_t m_u32DllInfoWritten;
  std::uint32_t m_u32HeaderPending;
  std::int32_t m_i32LineCounter;
  std::uint32_t m_u32FlushAll;
  volatile std::uint32_t m_u32Suspended;
  std::uint32_t m_u32ExtraEnabled;
  bool m_bDirectoryConfirmed;
  bool m_bErrorsOnly;
  OsLogSlot m_aoslogslot[OS_LOG_SLOTS];
  std::uint32_t m_u32OwnState;
};

// The library spin lock's rule: compare-exchange 0 to 1, yield between tries.
void OsLogSpinLock(volatile LONG* a_plLock);
void OsLogSpinUnlock(volatile LONG* a_plLock);

// Appends a_sizetBytes at the end of the file. Seeking to the end and
// writing is not atomic between processes: a one-byte lock far beyond any
// real file size serialises the appends of every process that logs there.
bool OsLogAppend(HANDLE a_hfile, const char* a_pData, std::size_t a_sizetBytes, DWORD* a_pdwWritten);
// Empties the file under the same lock.
void OsLogTruncate(HANDLE a_hfile);

// The fixed prefix of every line (and header line) into a_szDst; returns its
// length or -1. Uses and advances nothing: the caller sets the counter.
int OsLogFormatPrefix(COsLogImpl* a_poslogimpl, OsLogSlot* a_poslogslot, char* a_szDst, std::size_t a_sizetDst);
// The header lines that are due, written to a_hfile. Called with the spin lock held.
void OsLogWriteHeader(COsLogImpl* a_poslogimpl, OsLogSlot* a_poslogslot, HANDLE a_hfile);
// Creates every directory of a_szPath; a_bWithLast: the last component too
// (otherwise it is the file name). Uses the slot's work areas.
void OsLogCreateDirectories(OsLogSlot* a_poslogslot, const char* a_szPath, bool a_bWithLast);
// Writes to standard error without the log and without the C runtime's buffers.
void OsLogStdErr(const char* a_szFormat, ...) OS_FORMAT_PRINTF(1, 2);
