// Directory-tree operations.
#include <cstring>
#include <cwchar>

#include "os_cosfile.h"
#include "os_cosstring.h"
#include "os_log.h"
#include "os_scoped.h"
#include "os_win.h"

namespace {

bool ToWide(const char* a_sz, wchar_t (&a_wsz)[OS_PATH_SIZE]) {
  return MultiByteToWideChar(CP_UTF8, 0, a_sz, -1, a_wsz, static_cast<int>(OS_PATH_SIZE)) > 0;
}
bool ToUtf8(const wchar_t* a_wsz, char (&a_sz)[OS_PATH_SIZE]) {
  return WideCharToMultiByte(CP_UTF8, 0, a_wsz, -1, a_sz, static_cast<int>(OS_PATH_SIZE), nullptr, nullptr) > 0;
}

EOSFILETYPE TypeFromAttributes(DWORD a_dwAttributes) {
  if (a_dwAttributes & FILE_ATTRIBUTE_DIRECTORY) return OS_FILE_TYPE_DIRECTORY;
  if (a_dwAttributes & FILE_ATTRIBUTE_SYSTEM) return OS_FILE_TYPE_SYSTEM;
  return OS_FILE_TYPE_FILE;
}

// A directory symbolic link or junction: deleting below it would delete its
// target's contents. Windows keeps the reparse bit on a handle opened on the
// link itself; Wine shows it only in the attributes read by path, so both
// are asked.
bool IsReparsePoint(const wchar_t* a_wszPath, DWORD a_dwAttributes) {
  if (a_dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
  COsHandle l_handle(CreateFileW(a_wszPath, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                 nullptr));
  BY_HANDLE_FILE_INFORMATION l_info;
  return l_handle && GetFileInformationByHandle(l_handle.Get(), &l_info) &&
         (l_info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

EOSSTS RemoveDirectoryEntry(const wchar_t* a_wszPath, const char* a_szPath) {
  SetFileAttributesW(a_wszPath, FILE_ATTRIBUTE_NORMAL);
  if (RemoveDirectoryW(a_wszPath)) return OS_STS_SUCCESS;
  OS_LOGI("RemoveDirectory failed...%s", a_szPath);
  return OS_STS_FAIL;
}

}  // namespace

EOSSTS OsFileDelete(const char* a_szFilename, EOSFILETYPE a_eosfiletype, bool a_bRecursive) {
  OS_RETURN_IF_NULL(a_szFilename, OS_LOG_ERROR, "a_szFilename is null...", OS_STS_BADARG);
  OS_RETURN_IF(std::strchr(a_szFilename, '*') != nullptr, OS_LOG_INFO, "we don't support deleting with wildcards...",
               OS_STS_BADARG);
  OS_LOGI("Delete: <%s> %d %d", a_szFilename, static_cast<int>(a_eosfiletype), a_bRecursive ? 1 : 0);

  wchar_t l_wszPath[OS_PATH_SIZE];
  if (a_szFilename[0] == 0 || !ToWide(a_szFilename, l_wszPath)) return OS_STS_FAIL;
  const DWORD l_dwAttributes = GetFileAttributesW(l_wszPath);
  const EOSFILETYPE l_eosfiletype =
      l_dwAttributes == INVALID_FILE_ATTRIBUTES ? OS_FILE_TYPE_NONE : TypeFromAttributes(l_dwAttributes);
  if (a_eosfiletype != OS_FILE_TYPE_NONE && a_eosfiletype != l_eosfiletype) return OS_STS_FAIL;

  if (l_eosfiletype == OS_FILE_TYPE_DIRECTORY) {
    // A link is removed as an entry of its own; its target is never entered.
    if (a_bRecursive && !IsReparsePoint(l_wszPath, l_dwAttributes)) {
      wchar_t l_wszPattern[OS_PATH_SIZE];
      SWcsCpy(l_wszPattern, OS_PATH_SIZE, l_wszPath);
      SWcsCat(l_wszPattern, OS_PATH_SIZE, L"\\*");
      WIN32_FIND_DATAW l_data;
      COsFindHandle l_find(FindFirstFileW(l_wszPattern, &l_data));
      for (bool l_bMore = l_find.IsValid(); l_bMore; l_bMore = FindNextFileW(l_find.Get(), &l_data) != 0) {
        if (std::wcscmp(l_data.cFileName, L".") == 0 || std::wcscmp(l_data.cFileName, L"..") == 0) continue;
        char l_szName[OS_PATH_SIZE];
        char l_szEntry[OS_PATH_SIZE];
        if (!ToUtf8(l_data.cFileName, l_szName)) return OS_STS_FAIL;
        SStrCpy(l_szEntry, sizeof(l_szEntry), a_szFilename);
        SStrCat(l_szEntry, sizeof(l_szEntry), "\\");
        SStrCat(l_szEntry, sizeof(l_szEntry), l_szName);
        if (l_szEntry[0] == 0) return OS_STS_FAIL;  // the entry's path does not fit
        const EOSSTS l_eossts = OsFileDelete(l_szEntry, TypeFromAttributes(l_data.dwFileAttributes), true);
        if (l_eossts != OS_STS_SUCCESS) return l_eossts;
      }
      SetLastError(0);
    }
    return RemoveDirectoryEntry(l_wszPath, a_szFilename);
  }
  if (l_eosfiletype == OS_FILE_TYPE_FILE) {
    SetFileAttributesW(l_wszPath, FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileW(l_wszPath)) return OS_STS_SUCCESS;
    OS_LOGI("DeleteFile failed...%s", a_szFilename);
    return OS_STS_FAIL;
  }
  return OS_STS_FAIL;
}
