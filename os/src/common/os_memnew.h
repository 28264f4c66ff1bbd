// The object-creation convention of every module: the object comes from the
// ordinary allocator, and its creation and destruction are traced ("new %s"
// with its address and size; "delete-object").
#pragma once

#include <new>
#include <utility>

#include "os_coslog.h"

// True (once) when the allocation at hand is the one a test made fail.
bool OsMemInjectFailure();

template <class T, class... Args>
T* OsMemNewAt(const char* a_szFile, int a_iLine, const char* a_szClass, Args&&... a_args) {
  T* const l_p = OsMemInjectFailure() ? nullptr : new (std::nothrow) T(std::forward<Args>(a_args)...);
  COsLog* const l_poslog = OsLogInstance();
  if (l_p == nullptr) {
    OsLogPrint(l_poslog, a_szFile, a_iLine, OS_LOG_ASSERT, "OsMemNew failed...");
  } else if (l_poslog != nullptr && OsLogGetDebug(l_poslog) != 0) {
    OsLogPrint(l_poslog, a_szFile, a_iLine, OS_LOG_INFO, "mem>>> addr:%p  size:%7d  new %s", static_cast<void*>(l_p),
               static_cast<int>(sizeof(T)), a_szClass);
  }
  return l_p;
}

template <class T>
void OsMemDeleteAt(const char* a_szFile, int a_iLine, T* a_p) {
  if (a_p == nullptr) return;
  COsLog* const l_poslog = OsLogInstance();
  if (l_poslog != nullptr && OsLogGetDebug(l_poslog) != 0)
    OsLogPrint(l_poslog, a_szFile, a_iLine, OS_LOG_INFO, "mem>>> addr:%p delete-object", static_cast<void*>(a_p));
  delete a_p;
}

// OsMemNew<COsFile>("COsFile", arguments...) and OsMemDelete(p), traced at the caller's place.
#define OsMemNew(T, a_szClass, ...) OsMemNewAt<T>(__FILE_NAME__, __LINE__, a_szClass __VA_OPT__(, ) __VA_ARGS__)
#define OsMemDelete(a_p) OsMemDeleteAt(__FILE_NAME__, __LINE__, (a_p))
