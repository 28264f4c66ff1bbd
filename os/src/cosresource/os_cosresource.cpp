// Module resources: loading a named raw-data resource or a file's version.
#include "os_cosresource.h"

#include <cstring>

#include "os_coslocale.h"
#include "os_cosstring.h"
#include "os_log.h"
#include "os_memnew.h"
#include "os_sysinfo.h"
#include "os_win.h"

class COsResourceImpl {
 public:
  const void* m_pvData = nullptr;
  std::uint32_t m_u32Size = 0;
  char* m_szNames = nullptr;
  char* m_pszNameCursor = nullptr;
  char m_szVersion[32] = {};
  HRSRC m_hrsrc = nullptr;
  HGLOBAL m_hglobal = nullptr;
  HMODULE m_hmodule = nullptr;
  std::uint32_t m_u32ModuleOwned = 0;
};

namespace {

constexpr int OS_RESOURCE_NAME_CHARS = 64;

bool IsPath(const char* a_szModule) {
  return a_szModule != nullptr && std::strcmp(a_szModule, OS_RESOURCE_LOCAL) != 0;
}

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
      l_version.m_pfnVerQueryValueW(l_pvBlock, L"\\", reinterpret_cast<void**>(&l_pinfo), &l_uLength) && l_pinfo != nullptr &&
      l_uLength >= sizeof(VS_FIXEDFILEINFO)) {
    SStrPrintf(a_szVersion, a_sizetVersion, "%u.%u.%u.%u", static_cast<unsigned>(HIWORD(l_pinfo->dwFileVersionMS)),
               static_cast<unsigned>(LOWORD(l_pinfo->dwFileVersionMS)),
               static_cast<unsigned>(HIWORD(l_pinfo->dwFileVersionLS)),
               static_cast<unsigned>(LOWORD(l_pinfo->dwFileVersionLS)));
  }
  HeapFree(GetProcessHeap(), 0, l_pvBlock);
}

}  // namespace

COsResource::COsResource() {
  m_posresourceimpl = OsMemNew(COsResourceImpl, "COsResourceImpl");
  SetLastError(0);
}

COsResource::~COsResource() {
  if (m_posresourceimpl == nullptr) return;
  Close();
  OsMemDelete(m_posresourceimpl);
  m_posresourceimpl = nullptr;
}

EOSSTS COsResource::Load(const char* a_szModule, const char* a_szResourceName, int a_iType) {
  COsResourceImpl* const l_pimpl = m_posresourceimpl;
  OS_RETURN_IF_NULL(l_pimpl, OS_LOG_ASSERT, "m_posresourceimpl is null...", OS_STS_FAIL);
  OS_RETURN_IF(l_pimpl->m_pvData != nullptr, OS_LOG_ASSERT, "this osresource is already in use...", OS_STS_FAIL);
  OS_RETURN_IF(a_szResourceName == nullptr, OS_LOG_ASSERT, "a_szResourceName is NULL...", OS_STS_BADARG);

  wchar_t l_wszModule[OS_PATH_SIZE];
  if (IsPath(a_szModule) && CopyStringFromUtf8(l_wszModule, OS_PATH_SIZE, a_szModule) <= 0) {
    SetLastError(0);
    return OS_STS_FAIL;
  }
  if (IsPath(a_szModule) && std::strcmp(a_szResourceName, "VERSION") == 0) {
    FileVersionText(l_wszModule, l_pimpl->m_szVersion, sizeof(l_pimpl->m_szVersion));
    l_pimpl->m_pvData = l_pimpl->m_szVersion;
    l_pimpl->m_u32Size = static_cast<std::uint32_t>(std::strlen(l_pimpl->m_szVersion));
    SetLastError(0);
    return OS_STS_SUCCESS;
  }
  OS_RETURN_IF(a_iType != OS_RESOURCE_TYPE_RCDATA, OS_LOG_ASSERT, "Unrecognized resource type: %d", OS_STS_FAIL,
               a_iType);

  if (a_szModule == nullptr) {
    l_pimpl->m_hmodule = GetModuleHandleW(nullptr);
  } else if (!IsPath(a_szModule)) {
    l_pimpl->m_hmodule = OsSysLibraryModule();
  } else {
    // Only its resources are wanted: the module's own code never runs.
    l_pimpl->m_hmodule = LoadLibraryExW(l_wszModule, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (l_pimpl->m_hmodule == nullptr) {
      SetLastError(0);
      return OS_STS_FAIL;
    }
    l_pimpl->m_u32ModuleOwned = 1;
  }
  // The name, cut to its first 64 characters.
  wchar_t l_wszName[OS_PATH_SIZE];
  if (CopyStringFromUtf8(l_wszName, OS_PATH_SIZE, a_szResourceName) <= 0) l_wszName[0] = 0;
  l_wszName[OS_RESOURCE_NAME_CHARS] = 0;
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
  COsResourceImpl* const l_pimpl = m_posresourceimpl;
  OS_RETURN_IF_NULL(l_pimpl, OS_LOG_ASSERT, "m_posresourceimpl is null...", OS_STS_FAIL);
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
  OS_RETURN_IF_NULL(m_posresourceimpl, OS_LOG_ASSERT, "m_posresourceimpl is null...", nullptr);
  return m_posresourceimpl->m_pvData;
}

std::uint32_t COsResource::SizeGet() const {
  OS_RETURN_IF_NULL(m_posresourceimpl, OS_LOG_ASSERT, "m_posresourceimpl is null...", 0);
  return m_posresourceimpl->m_u32Size;
}
