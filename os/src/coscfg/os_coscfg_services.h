// Start-up state of the services library, private to the library (and its tests).
#pragma once

#include <cstddef>
#include <cstdint>

#include "os_cosmem.h"
#include "os_types.h"

constexpr std::size_t OS_UNIQUENAME_SIZE = 64;
constexpr std::size_t OS_ARGUMENTS_SIZE = 2048;
constexpr std::size_t OS_LOGFILTER_SIZE = 128;
constexpr int OS_VERSION_FIELDS = 7;  // major, minor, patch, build, day, month, year
constexpr std::size_t OS_VERSION_FIELD_SIZE = 16;

// Process-wide start-up state; shut-down clears all of it.
struct OsServicesState {
  char m_szUniqueName[OS_UNIQUENAME_SIZE];
  char m_szCallersUniqueName[OS_UNIQUENAME_SIZE];
  char m_szRootPath[OS_PATH_SIZE];
  char m_szInherited[OS_ARGUMENTS_SIZE];  // received from the parent, then handed on
  bool m_bOwner;                          // this process composed the inherited text
  EOSCFGENTITY m_eoscfgentity;
  std::uint32_t m_u32LogLevel;
  char m_szLogFile[OS_PATH_SIZE];
  char m_szLogFilter[OS_LOGFILTER_SIZE];
  EOSMEMMETHOD m_eosmemmethod;
  bool m_bForceSetAccess;
  char m_aszVersion[OS_VERSION_FIELDS][OS_VERSION_FIELD_SIZE];
  char m_szApp[OS_PATH_SIZE];  // the <app> text of inherited arguments
};

const OsServicesState& OsServicesGetState();

// Hands the argument text to children and libraries started from this
// thread: the per-thread variable, then the 8-bit and 16-bit shared ones.
void OsServicesWriteArguments(const char* a_szArguments);
