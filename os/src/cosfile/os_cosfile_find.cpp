// Directory enumeration into the entry record, and the existence test.
#include <cstring>
#include <cwctype>

#include "os_coscfg_fullpath.h"
#include "os_cosfile_impl.h"
#include "os_cosstring.h"
#include "os_log.h"

namespace {

EOSFILETYPE TypeFromAttributes(DWORD a_dwAttributes) {
  if (a_dwAttributes & FILE_ATTRIBUTE_DIRECTORY) return OS_FILE_TYPE_DIRECTORY;
  if (a_dwAttributes & FILE_ATTRIBUTE_SYSTEM) return OS_FILE_TYPE_SYSTEM;
  return OS_FILE_TYPE_FILE;
}

// Name, lower-case name, size, type, access and times of a found entry.
void FillEntry(OsFileInfo* a_posfileinfo, const WIN32_FIND_DATAW& a_data) {
  OsFileFromWide(a_data.cFileName, a_posfileinfo->m_szName, sizeof(a_posfileinfo->m_szName));
  wchar_t l_wszLower[MAX_PATH];
  std::size_t l_i = 0;
  for (; l_i + 1 < MAX_PATH && a_data.cFileName[l_i] != 0; ++l_i)
    l_wszLower[l_i] = static_cast<wchar_t>(std::towlower(a_data.cFileName[l_i]));
  l_wszLower[l_i] = 0;
  OsFileFromWide(l_wszLower, a_posfileinfo->m_szNameLower, sizeof(a_posfileinfo->m_szNameLower));
  a_posfileinfo->m_u32Size = a_data.nFileSizeLow;
  a_posfileinfo->m_eosfiletype = TypeFromAttributes(a_data.dwFileAttributes);
  a_posfileinfo->m_eosfileaccess =
      (a_data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? OS_FILE_ACCESS_READ : OS_FILE_ACCESS_READWRITE;
  OsFileTimeToRecord(a_data.ftLastAccessTime, &a_posfileinfo->m_ostimerecordAccessed);
  OsFileTimeToRecord(a_data.ftLastWriteTime, &a_posfileinfo->m_ostimerecordModified);
}

bool IsDotName(const char* a_szName) { return std::strcmp(a_szName, ".") == 0 || std::strcmp(a_szName, "..") == 0; }

void CloseSearch(OsFileInfo* a_posfileinfo) {
  if (a_posfileinfo->m_hSearch != nullptr) FindClose(static_cast<HANDLE>(a_posfileinfo->m_hSearch));
  a_posfileinfo->m_hSearch = nullptr;
}

}  // namespace

EOSSTS OsFileFindFirst(const char* a_szPattern, OsFileInfo* a_posfileinfo) {
  OS_RETURN_IF_NULL(a_szPattern, OS_LOG_ERROR, "a_szFilename is null...", OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_posfileinfo, OS_LOG_ERROR, "a_posfileinfo is NULL...", OS_STS_BADARG);
  std::memset(a_posfileinfo, 0, sizeof(*a_posfileinfo));
  // A pattern the limit cannot hold names no entry the record could show.
  OS_RETURN_IF(SStrLen(a_szPattern, OS_PATH_SIZE) < 0, OS_LOG_ASSERT, "a_szFilename is too long...", OS_STS_FAIL);
  char l_szPattern[OS_PATH_SIZE];
  SStrCpy(l_szPattern, sizeof(l_szPattern), a_szPattern);
  OsFilePathStripTrailing(l_szPattern);

  wchar_t l_wszPattern[OS_WPATH_SIZE];
  WIN32_FIND_DATAW l_data;
  HANDLE const l_hsearch = l_szPattern[0] != 0 && OsFileToWide(l_szPattern, l_wszPattern)
                               ? FindFirstFileW(l_wszPattern, &l_data)
                               : INVALID_HANDLE_VALUE;
  if (l_hsearch == INVALID_HANDLE_VALUE) {
    // Nothing there is not the same as a search that could not look.
    const DWORD l_dwError = l_szPattern[0] != 0 ? GetLastError() : ERROR_FILE_NOT_FOUND;
    SetLastError(0);
    return l_dwError == ERROR_FILE_NOT_FOUND || l_dwError == ERROR_PATH_NOT_FOUND || l_dwError == ERROR_NO_MORE_FILES
               ? OS_STS_NOTFOUND
               : OS_STS_FAIL;
  }
  a_posfileinfo->m_hSearch = l_hsearch;

  // The directory part of the pattern (or ".\") and the found name, made absolute.
  char l_szEntry[OS_PATH_SIZE];
  const char* const l_pszSeparator = std::strrchr(l_szPattern, '\\');
  if (l_pszSeparator != nullptr) {
    SStrNcpy(l_szEntry, sizeof(l_szEntry), l_szPattern, static_cast<std::size_t>(l_pszSeparator - l_szPattern) + 1);
  } else {
    SStrCpy(l_szEntry, sizeof(l_szEntry), ".\\");
  }
  FillEntry(a_posfileinfo, l_data);
  if (a_posfileinfo->m_szName[0] == 0) {
    // A name the record cannot hold: without it the entry would be named
    // after the directory itself.
    OS_LOGA("name does not fit...<%s>", l_szPattern);
    OsFileFindClose(a_posfileinfo);
    return OS_STS_FAIL;
  }
  // "." and ".." are named after the directory itself: resolving them would
  // step out of it.
  const bool l_bDotName = IsDotName(a_posfileinfo->m_szName);
  if (!l_bDotName) SStrCat(l_szEntry, sizeof(l_szEntry), a_posfileinfo->m_szName);
  wchar_t l_wszEntry[OS_WPATH_SIZE];
  wchar_t l_wszFull[OS_WPATH_SIZE];
  const unsigned long l_ul = l_szEntry[0] != 0 && OsFileToWide(l_szEntry, l_wszEntry)
                                 ? LockGetFullPathName(l_wszEntry, l_wszFull, OS_WPATH_SIZE)
                                 : 0;
  bool l_bFits = l_ul != 0 && l_ul < OS_WPATH_SIZE &&
                 OsFileFromWide(l_wszFull, a_posfileinfo->m_szFullPath, sizeof(a_posfileinfo->m_szFullPath));
  if (l_bFits && l_bDotName) {
    OsFilePathStripTrailing(a_posfileinfo->m_szFullPath);
    SStrCat(a_posfileinfo->m_szFullPath, sizeof(a_posfileinfo->m_szFullPath), "\\");
    SStrCat(a_posfileinfo->m_szFullPath, sizeof(a_posfileinfo->m_szFullPath), a_posfileinfo->m_szName);
    l_bFits = a_posfileinfo->m_szFullPath[0] != 0;
  }
  if (!l_bFits) {
    // The entry's absolute path does not fit: the search cannot go on.
    OS_LOGA("LockGetFullPathName failed...<%s>", l_szEntry);
    OsFileFindClose(a_posfileinfo);
    return OS_STS_FAIL;
  }
  return OS_STS_SUCCESS;
}

EOSSTS OsFileFindNext(OsFileInfo* a_posfileinfo) {
  OS_RETURN_IF_NULL(a_posfileinfo, OS_LOG_ERROR, "a_posfileinfo is NULL...", OS_STS_BADARG);
  if (a_posfileinfo->m_hSearch == nullptr) return OS_STS_NOTFOUND;
  WIN32_FIND_DATAW l_data;
  if (!FindNextFileW(static_cast<HANDLE>(a_posfileinfo->m_hSearch), &l_data)) {
    // Only the end is the end: a walker must not take a failed search for a
    // directory it has seen whole.
    const DWORD l_dwError = GetLastError();
    SetLastError(0);
    CloseSearch(a_posfileinfo);
    if (l_dwError == ERROR_NO_MORE_FILES) return OS_STS_NOTFOUND;
    OS_LOGA("FindNextFileW failed...%d", static_cast<int>(l_dwError));
    return OS_STS_FAIL;
  }
  char* const l_pszSeparator = std::strrchr(a_posfileinfo->m_szFullPath, '\\');
  if (l_pszSeparator == nullptr) {
    OS_LOGA("szToken is null...");
    CloseSearch(a_posfileinfo);
    return OS_STS_FAIL;
  }
  l_pszSeparator[1] = 0;
  FillEntry(a_posfileinfo, l_data);
  SStrCat(a_posfileinfo->m_szFullPath, sizeof(a_posfileinfo->m_szFullPath), a_posfileinfo->m_szName);
  if (a_posfileinfo->m_szFullPath[0] == 0 || a_posfileinfo->m_szName[0] == 0) {
    // A name the 260-byte record cannot hold: stop rather than hand out a wrong path.
    OS_LOGA("name does not fit...<%s>", a_posfileinfo->m_szFullPath);
    CloseSearch(a_posfileinfo);
    return OS_STS_FAIL;
  }
  return OS_STS_SUCCESS;
}

EOSSTS OsFileFindClose(OsFileInfo* a_posfileinfo) {
  OS_RETURN_IF_NULL(a_posfileinfo, OS_LOG_ERROR, "a_posfileinfo is NULL...", OS_STS_BADARG);
  CloseSearch(a_posfileinfo);
  std::memset(a_posfileinfo, 0, sizeof(*a_posfileinfo));
  return OS_STS_SUCCESS;
}

bool OsFileExists(const char* a_szFilename) {
  OS_RETURN_IF_NULL(a_szFilename, OS_LOG_ERROR, "a_szFilename is NULL", false);
  OsFileInfo l_info;
  const bool l_bFound = OsFileFindFirst(a_szFilename, &l_info) == OS_STS_SUCCESS;
  OsFileFindClose(&l_info);
  return l_bFound;
}

EOSSTS OsFileGetFullPath(char* a_szAbsolute, std::size_t a_sizetAbsolute, const char* a_szName) {
  OS_RETURN_IF_NULL(a_szAbsolute, OS_LOG_ASSERT, "a_szAbsolute is null...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_szName, OS_LOG_ASSERT, "a_szName is null...", OS_STS_FAIL);
  a_szAbsolute[0] = 0;
  wchar_t l_wszName[OS_WPATH_SIZE];
  wchar_t l_wszFull[OS_WPATH_SIZE];
  const unsigned long l_ul = a_szName[0] != 0 && OsFileToWide(a_szName, l_wszName)
                                 ? LockGetFullPathName(l_wszName, l_wszFull, OS_WPATH_SIZE)
                                 : 0;
  if (l_ul == 0 || l_ul >= OS_WPATH_SIZE || l_ul > a_sizetAbsolute ||
      !OsFileFromWide(l_wszFull, a_szAbsolute, a_sizetAbsolute)) {
    OS_LOGA("LockGetFullPathName failed...<%s>", a_szName);
    a_szAbsolute[0] = 0;
    return OS_STS_FAIL;
  }
  OsFilePathNormalize(a_szAbsolute, '\\');
  return OS_STS_SUCCESS;
}
