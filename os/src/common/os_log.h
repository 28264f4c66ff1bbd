// The logging and checking macros every module uses.
//
// Classes 1 and 64 are logged whenever the log exists; every other class is
// logged only while OsLogGetDebug says logging is on, and its arguments are
// not even evaluated otherwise. The fixed message is always the format
// itself: class 64 echoes the format text to standard error.
#pragma once

#include "os_coslog.h"
#include "os_sts.h"

// The log names the module by the source file's own name.
#define OS_LOG_FILE __FILE_NAME__

#define OS_LOGE(...) OsLogPrint(OsLogInstance(), OS_LOG_FILE, __LINE__, OS_LOG_ERROR, __VA_ARGS__)
#define OS_LOGA(...) OsLogPrint(OsLogInstance(), OS_LOG_FILE, __LINE__, OS_LOG_ASSERT, __VA_ARGS__)

// Any class: 1 and 64 always, the others only while logging is enabled.
#define OS_LOGX(a_iClass, ...)                                                                        \
  do {                                                                                                \
    COsLog* const l_poslogX = OsLogInstance();                                                        \
    if (l_poslogX != nullptr &&                                                                       \
        ((a_iClass) == OS_LOG_ERROR || (a_iClass) == OS_LOG_ASSERT || OsLogGetDebug(l_poslogX) != 0)) \
      OsLogPrint(l_poslogX, OS_LOG_FILE, __LINE__, (a_iClass), __VA_ARGS__);                          \
  } while (0)

#define OS_LOGI(...) OS_LOGX(OS_LOG_INFO, __VA_ARGS__)
#define OS_LOGP(...) OS_LOGX(OS_LOG_PROCESS, __VA_ARGS__)

// Argument checks: log the fixed text (with its arguments) at the given
// class and return a_ret.
#define OS_RETURN_IF(a_bCondition, a_iClass, a_szText, a_ret, ...) \
  do {                                                             \
    if (a_bCondition) {                                            \
      OS_LOGX((a_iClass), a_szText __VA_OPT__(, ) __VA_ARGS__);    \
      return a_ret;                                                \
    }                                                              \
  } while (0)

#define OS_RETURN_IF_NULL(a_p, a_iClass, a_szText, a_ret, ...) \
  OS_RETURN_IF((a_p) == nullptr, a_iClass, a_szText, a_ret __VA_OPT__(, ) __VA_ARGS__)
