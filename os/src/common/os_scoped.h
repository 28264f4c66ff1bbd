// One owner for every system handle: closes it exactly once, keeps the
// thread's last error across the close, and is the size of the raw handle.
#pragma once

#include "os_win.h"

struct OsKernelHandleTraits {
  typedef HANDLE Type;
  static Type Empty() { return nullptr; }
  static bool IsEmpty(Type a_h) { return a_h == nullptr || a_h == INVALID_HANDLE_VALUE; }
  static void Close(Type a_h) { CloseHandle(a_h); }
};

struct OsFindHandleTraits {
  typedef HANDLE Type;
  static Type Empty() { return INVALID_HANDLE_VALUE; }
  static bool IsEmpty(Type a_h) { return a_h == nullptr || a_h == INVALID_HANDLE_VALUE; }
  static void Close(Type a_h) { FindClose(a_h); }
};

struct OsModuleTraits {
  typedef HMODULE Type;
  static Type Empty() { return nullptr; }
  static bool IsEmpty(Type a_h) { return a_h == nullptr; }
  static void Close(Type a_h) { FreeLibrary(a_h); }
};

struct OsRegKeyTraits {
  typedef HKEY Type;
  static Type Empty() { return nullptr; }
  static bool IsEmpty(Type a_h) { return a_h == nullptr; }
  static void Close(Type a_h) { RegCloseKey(a_h); }
};

// A view of a file mapping, by its base address.
struct OsViewTraits {
  typedef void* Type;
  static Type Empty() { return nullptr; }
  static bool IsEmpty(Type a_pv) { return a_pv == nullptr; }
  static void Close(Type a_pv) { UnmapViewOfFile(a_pv); }
};

template <class Traits>
class COsScoped {
 public:
  typedef typename Traits::Type Type;

  COsScoped() = default;
  explicit COsScoped(Type a_h) : m_h(a_h) {}
  ~COsScoped() { Reset(); }
  COsScoped(const COsScoped&) = delete;
  COsScoped& operator=(const COsScoped&) = delete;
  COsScoped(COsScoped&& a_other) noexcept : m_h(a_other.Release()) {}
  COsScoped& operator=(COsScoped&& a_other) noexcept {
    if (this != &a_other) Reset(a_other.Release());
    return *this;
  }

  Type Get() const { return m_h; }
  bool IsValid() const { return !Traits::IsEmpty(m_h); }
  explicit operator bool() const { return IsValid(); }

  // Closes the held handle (if any) and takes a_h; the last error survives.
  void Reset(Type a_h = Traits::Empty()) {
    if (!Traits::IsEmpty(m_h)) {
      const DWORD l_dwError = GetLastError();
      Traits::Close(m_h);
      SetLastError(l_dwError);
    }
    m_h = a_h;
  }

  Type Release() {
    Type l_h = m_h;
    m_h = Traits::Empty();
    return l_h;
  }

 private:
  Type m_h = Traits::Empty();
};

typedef COsScoped<OsKernelHandleTraits> COsHandle;
typedef COsScoped<OsFindHandleTraits> COsFindHandle;
typedef COsScoped<OsModuleTraits> COsModule;
typedef COsScoped<OsRegKeyTraits> COsRegKey;
typedef COsScoped<OsViewTraits> COsView;
