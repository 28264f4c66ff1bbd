// Module resources: loading a named raw-data resource or a file's version,
// and listing a module's raw-data resource names.
#include "os_cosresource.h"

#include <cstring>

#include "os_coslocale.h"
#include "os_cosmem.h"
#include "os_cosresource_impl.h"
#include "os_cosstring.h"
#include "os_log.h"
#include "os_memnew.h"
#include "os_scoped.h"
#include "os_sysinfo.h"

namespace {

bool IsPath(const char* a_szModule) { return a_szModule != nullptr && std::strcmp(a_szModule, OS_RESOURCE_LOCAL) != 0; }

// The fixed file version of a file as "%u.%u.%u.%u"; empty when it has none.
void FileVersionText(const wchar_t* a_wszPath, char* a_szVersion, std::size_t a_sizetVersion) {
  a_szVersion[0] = 0;
  const OsSysVersionApi& l_version = OsSysVersion();
  if (l_version.m_pfnGetFileVersionInfoSizeW == nullptr) return;
  DWORD l_dwHandle = 0;
  const DWORD l_dwSize = l_version.m_pfnGetFileVersionInfoSizeW(a_wszPath, &l_dwHandle);
  if (l_dwSize == 0) return;
  void* const l_pvBlock = HeapAlloc(GetProcessHeap(), 0, l_dwSize);
  if (l_pvBlock == nullptr) return;
  VS_FIXEDFILEINFO* l_pinfo = nullptr;
  UINT l_uLength = 0;
  if (l_version.m_pfnGetFileVersionInfoW(a_wszPath, 0, l_dwSize, l_pvBlock) &&
      l_version.m_pfnVerQueryValueW(l_pvBlock, L"\\", reinterpret_cast<void**>(&l_pinfo), &l_uLength) &&
      l_pinfo != nullptr && l_uLength >= sizeof(VS_FIXEDFILEINFO)) {
    SStrPrintf(a_szVersion, a_sizetVersion, "%u.%u.%u.%u", static_cast<unsigned>(HIWORD(l_pinfo->dwFileVersionMS)),
               static_cast<unsigned>(LOWORD(l_pinfo->dwFileVersionMS)),
               static_cast<unsigned>(HIWORD(l_pinfo->dwFileVersionLS)),
               static_cast<unsigned>(LOWORD(l_pinfo->dwFileVersionLS)));
  }
  HeapFree(GetProcessHeap(), 0, l_pvBlock);
}

// The name list being filled: names go in while they and the empty name
// that ends the list fit.
struct NameList {
  char* m_sz;
  std::size_t m_sizetUsed;
};

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR a_pwszName, LONG_PTR a_lParam) {
  NameList* const l_plist = reinterpret_cast<NameList*>(a_lParam);
  // A resource with a number for a name is listed as "#n", the form under
  // which the system finds it again.
  char l_szName[OS_RESOURCE_NAME_CHARS * 3 + 1];
  if (IS_INTRESOURCE(a_pwszName)) {
    SStrPrintf(l_szName, sizeof(l_szName), "#%u", static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(a_pwszName)));
  } else {
    int l_iUnits = 0;
    while (l_iUnits < OS_RESOURCE_NAME_CHARS && a_pwszName[l_iUnits] != 0) ++l_iUnits;
    if (l_iUnits == OS_RESOURCE_NAME_CHARS && IS_HIGH_SURROGATE(a_pwszName[l_iUnits - 1])) --l_iUnits;
    if (CopyUtf8FromUnicode(l_szName, sizeof(l_szName), a_pwszName, l_iUnits) <= 0) return TRUE;
  }
  const std::size_t l_sizetLength = std::strlen(l_szName);
  if (l_sizetLength == 0) return TRUE;
  if (l_plist->m_sizetUsed + l_sizetLength + 1 >= OS_RESOURCE_NAMES_SIZE) {
    OS_LOGI("The resource name list is full...<%s>", l_szName);
    return FALSE;
  }
  std::memcpy(l_plist->m_sz + l_plist->m_sizetUsed, l_szName, l_sizetLength + 1);
  l_plist->m_sizetUsed += l_sizetLength + 1;
  return TRUE;
}

// Hands out the name at the cursor: 6 at the end of the list, 2 (the name
// stays the next) when it does not fit the caller's buffer.
EOSSTS TakeName(COsResourceImpl* a_pimpl, char* a_szName, std::size_t a_sizetName) {
  a_szName[0] = 0;
  const char* const l_szName = a_pimpl->m_pszNameCursor;
  if (l_szName[0] == 0) return OS_STS_NOMORE;
  const std::size_t l_sizetLength = std::strlen(l_szName);
  OS_RETURN_IF(l_sizetLength + 1 > a_sizetName, OS_LOG_ERROR, "a_szName is too small...<%s>", OS_STS_TOOSMALL,
               l_szName);
  std::memcpy(a_szName, l_szName, l_sizetLength + 1);
  a_pimpl->m_pszNameCursor += l_sizetLength + 1;
  return OS_STS_SUCCESS;
}

}  // namespace

bool OsResourceModule(const char* a_szModule, DWORD a_dwFlags, HMODULE* a_phmodule, HMODULE* a_phmoduleOwned) {
  *a_phmoduleOwned = nullptr;
  if (a_szModule == nullptr) {
    *a_phmodule = GetModuleHandleW(nullptr);
    return true;
  }
  if (!IsPath(a_szModule)) {
    *a_phmodule = OsSysLibraryModule();
    return true;
  }
  wchar_t l_wszModule[OS_PATH_SIZE];
  if (CopyStringFromUtf8(l_wszModule, OS_PATH_SIZE, a_szModule) <= 0) return false;
  *a_phmodule = *a_phmoduleOwned = LoadLibraryExW(l_wszModule, nullptr, a_dwFlags);
  return *a_phmodule != nullptr;
}

bool OsResourceWideName(const char* a_szName, wchar_t (&a_wszName)[OS_RESOURCE_NAME_CHARS + 1]) {
  wchar_t l_wszName[OS_PATH_SIZE];
  if (CopyStringFromUtf8(l_wszName, OS_PATH_SIZE, a_szName) <= 0) return false;
  // The first 64 units, without half a surrogate pair.
  int l_iUnits = 0;
  while (l_iUnits < OS_RESOURCE_NAME_CHARS && l_wszName[l_iUnits] != 0) ++l_iUnits;
  if (l_iUnits == OS_RESOURCE_NAME_CHARS && IS_HIGH_SURROGATE(l_wszName[l_iUnits - 1])) --l_iUnits;
  std::memcpy(a_wszName, l_wszName, static_cast<std::size_t>(l_iUnits) * sizeof(wchar_t));
  a_wszName[l_iUnits] = 0;
  return true;
}

COsResource::COsResource() {
  m_posresourceimpl = OsMemNew(COsResourceImpl, "COsResourceImpl");
  SetLastError(0);
}

COsResource::~COsResource() {
  if (m_posresourceimpl == nullptr) return;
  Close();
  FindClose();
  OsMemDelete(m_posresourceimpl);
  m_posresourceimpl = nullptr;
}

EOSSTS COsResource::Load(const char* a_szModule, const char* a_szResourceName, int a_iType) {
  OS_RESOURCE_IMPL_OR_RETURN(OS_STS_FAIL);
  COsResourceImpl* const l_pimpl = m_posresourceimpl;
  OS_RETURN_IF(l_pimpl->m_pvData != nullptr, OS_LOG_ASSERT, "this osresource is already in use...", OS_STS_FAIL);
  OS_RETURN_IF(a_szResourceName == nullptr, OS_LOG_ASSERT, "a_szResourceName is NULL...", OS_STS_BADARG);

  if (IsPath(a_szModule) && std::strcmp(a_szResourceName, "VERSION") == 0) {
    wchar_t l_wszModule[OS_PATH_SIZE];
    if (CopyStringFromUtf8(l_wszModule, OS_PATH_SIZE, a_szModule) <= 0) {
      SetLastError(0);
      return OS_STS_FAIL;
    }
    FileVersionText(l_wszModule, l_pimpl->m_szVersion, sizeof(l_pimpl->m_szVersion));
    l_pimpl->m_pvData = l_pimpl->m_szVersion;
    l_pimpl->m_u32Size = static_cast<std::uint32_t>(std::strlen(l_pimpl->m_szVersion));
    SetLastError(0);
    return OS_STS_SUCCESS;
  }
  OS_RETURN_IF(a_iType != OS_RESOURCE_TYPE_RCDATA, OS_LOG_ASSERT, "Unrecognized resource type: %d", OS_STS_FAIL,
               a_iType);

  // Only its resources are wanted from another file: its code never runs.
  HMODULE l_hmoduleOwned = nullptr;
  if (!OsResourceModule(a_szModule, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE, &l_pimpl->m_hmodule,
                        &l_hmoduleOwned)) {
    l_pimpl->m_hmodule = nullptr;
    SetLastError(0);
    return OS_STS_FAIL;
  }
  l_pimpl->m_u32ModuleOwned = l_hmoduleOwned != nullptr ? 1 : 0;
  wchar_t l_wszName[OS_RESOURCE_NAME_CHARS + 1];
  if (!OsResourceWideName(a_szResourceName, l_wszName)) l_wszName[0] = 0;
  l_pimpl->m_hrsrc = FindResourceW(l_pimpl->m_hmodule, l_wszName, MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (l_pimpl->m_hrsrc == nullptr) {
    OS_LOGI("FindResource failed...<%s>", a_szResourceName);
  } else if ((l_pimpl->m_hglobal = LoadResource(l_pimpl->m_hmodule, l_pimpl->m_hrsrc)) == nullptr) {
    OS_LOGI("LoadResource failed...<%s>", a_szResourceName);
  } else if ((l_pimpl->m_pvData = LockResource(l_pimpl->m_hglobal)) == nullptr) {
    OS_LOGI("LockResource failed...<%s>", a_szResourceName);
  }
  if (l_pimpl->m_pvData == nullptr) {
    Close();
    SetLastError(0);
    return OS_STS_FAIL;
  }
  l_pimpl->m_u32Size = SizeofResource(l_pimpl->m_hmodule, l_pimpl->m_hrsrc);
  return OS_STS_SUCCESS;
}

EOSSTS COsResource::Close() {
  OS_RESOURCE_IMPL_OR_RETURN(OS_STS_FAIL);
  COsResourceImpl* const l_pimpl = m_posresourceimpl;
  l_pimpl->m_pvData = nullptr;
  l_pimpl->m_u32Size = 0;
  l_pimpl->m_hrsrc = nullptr;
  l_pimpl->m_hglobal = nullptr;
  if (l_pimpl->m_u32ModuleOwned != 0 && l_pimpl->m_hmodule != nullptr) FreeLibrary(l_pimpl->m_hmodule);
  l_pimpl->m_hmodule = nullptr;
  l_pimpl->m_u32ModuleOwned = 0;
  return OS_STS_SUCCESS;
}

const void* COsResource::DataGet() const {
  OS_RESOURCE_IMPL_OR_RETURN(nullptr);
  return m_posresourceimpl->m_pvData;
}

std::uint32_t COsResource::SizeGet() const {
  OS_RESOURCE_IMPL_OR_RETURN(0);
  return m_posresourceimpl->m_u32Size;
}

EOSSTS COsResource::FindFirst(const char* a_szModule, char* a_szName, std::size_t a_sizetName) {
  OS_RESOURCE_IMPL_OR_RETURN(OS_STS_FAIL);
  COsResourceImpl* const l_pimpl = m_posresourceimpl;
  OS_RETURN_IF(a_szName == nullptr || a_sizetName == 0, OS_LOG_ASSERT, "a_szName is NULL...", OS_STS_BADARG);
  a_szName[0] = 0;
  if (l_pimpl->m_szNames == nullptr) {
    l_pimpl->m_szNames = static_cast<char*>(OS_MEM_ALLOC(OS_RESOURCE_NAMES_SIZE, "resource names"));
    OS_RETURN_IF_NULL(l_pimpl->m_szNames, OS_LOG_ERROR, "OsMemAlloc failed...", OS_STS_FAIL);
  }
  std::memset(l_pimpl->m_szNames, 0, OS_RESOURCE_NAMES_SIZE);
  l_pimpl->m_pszNameCursor = l_pimpl->m_szNames;

  HMODULE l_hmodule = nullptr;
  HMODULE l_hmoduleOwned = nullptr;
  const bool l_bModule = OsResourceModule(a_szModule, LOAD_LIBRARY_AS_DATAFILE, &l_hmodule, &l_hmoduleOwned);
  COsModule l_module(l_hmoduleOwned);
  OS_RETURN_IF(!l_bModule, OS_LOG_ERROR, "LoadLibraryEx failed...<%s>", OS_STS_FAIL, a_szModule);
  NameList l_list = {l_pimpl->m_szNames, 0};
  // A module without raw-data resources makes the enumeration fail: an empty list.
  EnumResourceNamesW(l_hmodule, MAKEINTRESOURCEW(10) /* RT_RCDATA */, CollectName, reinterpret_cast<LONG_PTR>(&l_list));
  l_module.Reset();
  SetLastError(0);
  return TakeName(l_pimpl, a_szName, a_sizetName);
}

EOSSTS COsResource::FindNext(char* a_szName, std::size_t a_sizetName) {
  OS_RESOURCE_IMPL_OR_RETURN(OS_STS_FAIL);
  OS_RETURN_IF(a_szName == nullptr || a_sizetName == 0, OS_LOG_ASSERT, "a_szName is NULL...", OS_STS_BADARG);
  a_szName[0] = 0;
  OS_RETURN_IF(m_posresourceimpl->m_szNames == nullptr, OS_LOG_ERROR, "must call FindFirst first...", OS_STS_FAIL);
  return TakeName(m_posresourceimpl, a_szName, a_sizetName);
}

EOSSTS COsResource::FindClose() {
  OS_RESOURCE_IMPL_OR_RETURN(OS_STS_FAIL);
  if (m_posresourceimpl->m_szNames != nullptr) OS_MEM_FREE(m_posresourceimpl->m_szNames);
  m_posresourceimpl->m_szNames = nullptr;
  m_posresourceimpl->m_pszNameCursor = nullptr;
  return OS_STS_SUCCESS;
}
