#include <cwchar>

#include "os_lasterror.h"
#include "os_sysinfo.h"
#include "os_win.h"

void OsClearLastError() { SetLastError(0); }

HMODULE OsSysLibraryModule() {
  HMODULE l_hmodule = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&OsSysLibraryModule), &l_hmodule))
    return nullptr;
  return l_hmodule;
}

bool OsSysLibraryPath(const wchar_t* a_wszName, wchar_t* a_wszPath, unsigned a_uSize) {
  const UINT l_u = GetSystemDirectoryW(a_wszPath, a_uSize);
  const size_t l_nName = wcslen(a_wszName);
  if (l_u == 0 || l_u + 1 + l_nName + 1 > a_uSize) return false;
  a_wszPath[l_u] = L'\\';
  wmemcpy(a_wszPath + l_u + 1, a_wszName, l_nName + 1);
  return true;
}

HMODULE OsSysLoadLibrary(const wchar_t* a_wszName, wchar_t (&a_wszPath)[MAX_PATH]) {
  if (OsSysLibraryPath(a_wszName, a_wszPath, MAX_PATH)) return LoadLibraryW(a_wszPath);
  // The bare name, for the message; copying it leaves the directory's error in place.
  std::size_t l_sizetName = wcslen(a_wszName);
  if (l_sizetName > MAX_PATH - 1) l_sizetName = MAX_PATH - 1;
  wmemcpy(a_wszPath, a_wszName, l_sizetName);
  a_wszPath[l_sizetName] = L'\0';
  return nullptr;
}

bool OsSysIsLink(HANDLE a_hEntry, DWORD a_dwHandleAttributes, const wchar_t* a_wszPath) {
  if ((a_dwHandleAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    const DWORD l_dwAttributes = GetFileAttributesW(a_wszPath);
    return l_dwAttributes != INVALID_FILE_ATTRIBUTES && (l_dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  }
  // Before Vista the tag cannot be asked: every reparse point counts.
  typedef BOOL(WINAPI * PfnGetInformation)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
  static const PfnGetInformation s_pfn = reinterpret_cast<PfnGetInformation>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetFileInformationByHandleEx")));
  FILE_ATTRIBUTE_TAG_INFO l_info = {};
  if (s_pfn == nullptr || !s_pfn(a_hEntry, FileAttributeTagInfo, &l_info, sizeof(l_info))) {
    SetLastError(0);
    return true;
  }
  return IsReparseTagNameSurrogate(l_info.ReparseTag);
}

namespace {

OsSysVersionApi LoadVersionApi() {
  OsSysVersionApi l_api = {};
  wchar_t l_wszPath[MAX_PATH];
  // Kept for the life of the process.
  HMODULE const l_hmodule = OsSysLoadLibrary(L"version.dll", l_wszPath);
  if (!OsSysResolve(l_hmodule, "GetFileVersionInfoSizeW", &l_api.m_pfnGetFileVersionInfoSizeW) ||
      !OsSysResolve(l_hmodule, "GetFileVersionInfoW", &l_api.m_pfnGetFileVersionInfoW) ||
      !OsSysResolve(l_hmodule, "VerQueryValueW", &l_api.m_pfnVerQueryValueW))
    l_api = OsSysVersionApi{};
  return l_api;
}

}  // namespace

const OsSysVersionApi& OsSysVersion() {
  static const OsSysVersionApi s_api = LoadVersionApi();
  return s_api;
}
