// Private declarations of the resource module.
#pragma once

#include <cstdint>

#include "os_cosresource.h"
#include "os_win.h"

// The class's one fixed text for a missing implementation.
#define OS_RESOURCE_IMPL_OR_RETURN(a_ret) \
  OS_RETURN_IF_NULL(m_posresourceimpl, OS_LOG_ASSERT, "m_posresourceimpl is null...", a_ret)

class COsResourceImpl {
 public:
  const void* m_pvData = nullptr;
  std::uint32_t m_u32Size = 0;
  char* m_szNames = nullptr;        // OS_RESOURCE_NAMES_SIZE bytes of NUL-separated names, an empty one last
  char* m_pszNameCursor = nullptr;  // the next name FindNext gives
  char m_szVersion[32] = {};
  HRSRC m_hrsrc = nullptr;
  HGLOBAL m_hglobal = nullptr;
  HMODULE m_hmodule = nullptr;
  std::uint32_t m_u32ModuleOwned = 0;
};

constexpr std::uint32_t OS_RESOURCE_NAMES_SIZE = 4096;
// Resource names are taken and written with at most this many UTF-16 units.
constexpr int OS_RESOURCE_NAME_CHARS = 64;

// The module of the module argument: null for the program, the library's own
// module, or a_szModule loaded (with a_dwFlags) and owned by *a_phmoduleOwned.
// False when a path cannot be converted or loaded (the last error is kept).
bool OsResourceModule(const char* a_szModule, DWORD a_dwFlags, HMODULE* a_phmodule, HMODULE* a_phmoduleOwned);
// A resource name for the system: its first 64 UTF-16 units. False when it
// cannot be converted.
bool OsResourceWideName(const char* a_szName, wchar_t (&a_wszName)[OS_RESOURCE_NAME_CHARS + 1]);
