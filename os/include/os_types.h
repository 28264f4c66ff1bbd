// Types and constants shared by every module of the services library.
#pragma once

#include <cstddef>
#include <cstdint>

// printf-style checking for every formatting function of the library. On
// Windows the library formats with the system C runtime, whose conversions
// (%I64d, %S for a wide string in a narrow format) ms_printf knows.
#if defined(_WIN32)
#define OS_FORMAT_PRINTF(a_iFormat, a_iFirst) __attribute__((format(ms_printf, a_iFormat, a_iFirst)))
#else
#define OS_FORMAT_PRINTF(a_iFormat, a_iFirst) __attribute__((format(printf, a_iFormat, a_iFirst)))
#endif

// The system's path limit, terminator included: every path buffer has it.
constexpr std::size_t OS_PATH_SIZE = 260;

// What kind of program of the suite the running process is.
enum EOSCFGENTITY : int {
  OS_CFG_ENTITY_NONE = 0,
  OS_CFG_ENTITY_APPLICATION = 1,
  OS_CFG_ENTITY_DRIVER = 2,
  OS_CFG_ENTITY_UTILITY = 3,
  OS_CFG_ENTITY_APPUTILITY = 4,
  OS_CFG_ENTITY_DLL = 5,
};
