// Directory-tree operations: create with parents, delete, move, copy, copy a
// tree, set access; temporary names, current directory, redirection.
#include <cstring>

#include "os_coscfg.h"
#include "os_coscfg_fullpath.h"
#include "os_cosfile_impl.h"
#include "os_cosstring.h"
#include "os_log.h"
#include "os_scoped.h"
#include "os_sysinfo.h"

namespace {

bool IsDotName(const char* a_szName) { return std::strcmp(a_szName, ".") == 0 || std::strcmp(a_szName, "..") == 0; }

// The attributes by path show a link's own reparse bit on Windows, and are
// the only place Wine shows it at all.
bool IsReparseByPath(const wchar_t* a_wszPath) {
  const DWORD l_dwAttributes = GetFileAttributesW(a_wszPath);
  return l_dwAttributes != INVALID_FILE_ATTRIBUTES && (l_dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The system refuses to remove read-only entries: their attributes are
// reset and the removal tried again (never on a link, whose attributes
// would be the target's).
bool RemoveWithAttributesReset(const wchar_t* a_wszPath, BOOL(WINAPI* a_pfnRemove)(LPCWSTR)) {
  if (a_pfnRemove(a_wszPath)) return true;
  if (GetLastError() != ERROR_ACCESS_DENIED || IsReparseByPath(a_wszPath)) return false;
  SetFileAttributesW(a_wszPath, FILE_ATTRIBUTE_NORMAL);
  return a_pfnRemove(a_wszPath) != FALSE;
}

// Removes a directory link without entering it. A link the system shows as
// a file goes as a file.
EOSSTS RemoveLink(const char* a_szPath, const wchar_t* a_wszPath) {
  if (RemoveDirectoryW(a_wszPath) || DeleteFileW(a_wszPath)) return OS_STS_SUCCESS;
  OS_LOGI("RemoveDirectory failed...%s", a_szPath);
  SetLastError(0);
  return OS_STS_FAIL;
}

// A directory held open while its entries are handled. The handle does not
// share delete access, so nobody can rename the directory away and put a
// link in its place meanwhile: its path names this very directory until
// the handle is closed. A link is opened as itself, never followed.
class CHeldDirectory {
 public:
  enum EHold { HELD, LINK, FAILED };

  EHold Hold(const char* a_szPath, const wchar_t* a_wszPath) {
    m_handle.Reset(CreateFileW(a_wszPath, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!m_handle) {
      OS_LOGI("CreateFileW failed...%d <%s>", static_cast<int>(GetLastError()), a_szPath);
      SetLastError(0);
      return FAILED;
    }
    BY_HANDLE_FILE_INFORMATION l_info;
    if (!GetFileInformationByHandle(m_handle.Get(), &l_info)) {
      SetLastError(0);
      m_handle.Reset();
      return FAILED;
    }
    // Asked after the open: from here on the path cannot change.
    if ((l_info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || IsReparseByPath(a_wszPath)) {
      m_handle.Reset();
      return LINK;
    }
    if ((l_info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      m_handle.Reset();
      return FAILED;
    }
    return HELD;
  }
  void Release() { m_handle.Reset(); }

 private:
  COsHandle m_handle;
};

// Walks the entries of a held directory: a_fnEntry for each but "." and
// "..", until it answers non-zero. 0 when the directory was seen whole.
template <class Fn>
EOSSTS ForEachEntry(const char* a_szDirectory, Fn a_fnEntry) {
  // A directory too deep for its pattern has no entry that a path of the
  // limit could name: there is nothing to walk.
  if (std::strlen(a_szDirectory) + 2 >= OS_PATH_SIZE) return OS_STS_SUCCESS;
  char l_szPattern[OS_PATH_SIZE];
  if (!OsFilePathCopy(l_szPattern, sizeof(l_szPattern), a_szDirectory) ||
      !OsFilePathAppend(l_szPattern, sizeof(l_szPattern), "*"))
    return OS_STS_FAIL;
  OsFileInfo l_info;
  EOSSTS l_eossts = OsFileFindFirst(l_szPattern, &l_info);
  for (; l_eossts == OS_STS_SUCCESS; l_eossts = OsFileFindNext(&l_info)) {
    if (IsDotName(l_info.m_szName)) continue;
    const EOSSTS l_eosstsEntry = a_fnEntry(l_info);
    if (l_eosstsEntry != OS_STS_SUCCESS) {
      OsFileFindClose(&l_info);
      return l_eosstsEntry;
    }
  }
  OsFileFindClose(&l_info);
  return l_eossts == OS_STS_NOTFOUND ? OS_STS_SUCCESS : l_eossts;
}

// Deletes an entry whose type is known (looked up, or reported by the
// enumeration of its parent).
EOSSTS DeleteEntry(const char* a_szPath, EOSFILETYPE a_eosfiletype, bool a_bRecursive) {
  wchar_t l_wszPath[OS_WPATH_SIZE];
  if (!OsFileToWide(a_szPath, l_wszPath)) return OS_STS_FAIL;
  if (a_eosfiletype == OS_FILE_TYPE_FILE) {
    if (RemoveWithAttributesReset(l_wszPath, DeleteFileW)) return OS_STS_SUCCESS;
    OS_LOGI("DeleteFile failed...%s", a_szPath);
    SetLastError(0);
    return OS_STS_FAIL;
  }
  if (a_eosfiletype != OS_FILE_TYPE_DIRECTORY) return OS_STS_FAIL;  // nothing, or a system entry
  CHeldDirectory l_held;
  switch (l_held.Hold(a_szPath, l_wszPath)) {
    case CHeldDirectory::LINK: return RemoveLink(a_szPath, l_wszPath);  // its target is never entered
    case CHeldDirectory::FAILED: return OS_STS_FAIL;
    case CHeldDirectory::HELD: break;
  }
  if (a_bRecursive) {
    const EOSSTS l_eossts = ForEachEntry(a_szPath, [](const OsFileInfo& a_info) {
      OS_LOGI("Delete: <%s> %d %d", a_info.m_szFullPath, static_cast<int>(a_info.m_eosfiletype), 1);
      return DeleteEntry(a_info.m_szFullPath, a_info.m_eosfiletype, true);
    });
    if (l_eossts != OS_STS_SUCCESS) return l_eossts;
  }
  // The held handle denies the removal its delete access: it goes first. A
  // link swapped in now is removed as a link, a full directory not at all.
  l_held.Release();
  if (RemoveWithAttributesReset(l_wszPath, RemoveDirectoryW)) return OS_STS_SUCCESS;
  OS_LOGI("RemoveDirectory failed...%s", a_szPath);
  SetLastError(0);
  return OS_STS_FAIL;
}

EOSSTS CreateDirectoryStatus(DWORD a_dwError) {
  if (a_dwError == ERROR_PATH_NOT_FOUND) return OS_STS_NOTFOUND;
  if (a_dwError == ERROR_ACCESS_DENIED) return OS_STS_ACCESSDENIED;
  return OS_STS_FAIL;
}

// Creates a_szDirectory and its missing parents. The components beyond the
// first a_sizetTrusted characters must not be links: nothing is made inside
// a link's target there.
EOSSTS CreateDirectoryWalk(const char* a_szDirectory, std::size_t a_sizetTrusted, void* a_psecurityattributes) {
  OS_RETURN_IF_NULL(a_szDirectory, OS_LOG_ERROR, "a_szDirectory is NULL...", OS_STS_FAIL);
  OS_RETURN_IF(a_szDirectory[0] == 0, OS_LOG_ERROR, "a_szDirectory is empty...", OS_STS_FAIL);
  char l_szWork[OS_PATH_SIZE];
  OS_RETURN_IF(!OsFilePathCopy(l_szWork, sizeof(l_szWork), a_szDirectory), OS_LOG_ERROR, "a_szDirectory is too long...",
               OS_STS_FAIL);
  const bool l_bExists = OsFileExists(l_szWork);
  if (l_bExists && a_sizetTrusted == 0) return OS_STS_EXISTS;
  if (!l_bExists) OS_LOGI("Creating directory...<%s>", a_szDirectory);

  char l_szPrefix[OS_PATH_SIZE] = "";
  const char* l_psz = l_szWork;
  // Leading separators stay: a root-relative path keeps its root, and the
  // server and share of a UNC path are never created.
  int l_iUncParts = 0;
  if (l_psz[0] == '\\' && l_psz[1] == '\\') {
    SStrCpy(l_szPrefix, sizeof(l_szPrefix), "\\\\");
    l_psz += 2;
    l_iUncParts = 2;
  } else if (l_psz[0] == '\\') {
    SStrCpy(l_szPrefix, sizeof(l_szPrefix), "\\");
    l_psz += 1;
  }
  while (*l_psz != 0) {
    const char* l_pszEnd = std::strchr(l_psz, '\\');
    if (l_pszEnd == nullptr) l_pszEnd = l_psz + std::strlen(l_psz);
    // The prefix is a part of the work buffer: it always fits.
    SStrNcat(l_szPrefix, sizeof(l_szPrefix), l_psz, static_cast<std::size_t>(l_pszEnd - l_psz));
    const bool l_bDrive = l_szPrefix[1] == ':' && l_szPrefix[2] == 0;
    wchar_t l_wszPrefix[OS_WPATH_SIZE];
    if (!OsFileToWide(l_szPrefix, l_wszPrefix)) return OS_STS_FAIL;
    if (l_iUncParts > 0) {
      --l_iUncParts;
    } else if (!l_bDrive && !OsFileExists(l_szPrefix)) {
      if (!CreateDirectoryW(l_wszPrefix, static_cast<SECURITY_ATTRIBUTES*>(a_psecurityattributes))) {
        const DWORD l_dwError = GetLastError();
        SetLastError(0);
        // Another process may have made it meanwhile: that is success.
        if (l_dwError != ERROR_ALREADY_EXISTS) return CreateDirectoryStatus(l_dwError);
      }
    }
    if (std::strlen(l_szPrefix) > a_sizetTrusted && a_sizetTrusted != 0 && IsReparseByPath(l_wszPrefix)) {
      OS_LOGE("a link in the tree, nothing is created in it...<%s>", l_szPrefix);
      return OS_STS_CANNOTCREATE;
    }
    if (*l_pszEnd == 0) break;
    SStrCat(l_szPrefix, sizeof(l_szPrefix), "\\");
    l_psz = l_pszEnd + 1;
  }
  return l_bExists ? OS_STS_EXISTS : OS_STS_SUCCESS;
}

}  // namespace

EOSSTS OsFileCreateDirectory(const char* a_szDirectory, void* a_psecurityattributes) {
  return CreateDirectoryWalk(a_szDirectory, 0, a_psecurityattributes);
}

EOSSTS OsFileCreateDirectoryIn(const char* a_szBase, const char* a_szDirectory, void* a_psecurityattributes) {
  OS_RETURN_IF_NULL(a_szBase, OS_LOG_ERROR, "a_szBase is NULL...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_szDirectory, OS_LOG_ERROR, "a_szDirectory is NULL...", OS_STS_FAIL);
  char l_szBase[OS_PATH_SIZE];
  char l_szDirectory[OS_PATH_SIZE];
  OS_RETURN_IF(!OsFilePathCopy(l_szBase, sizeof(l_szBase), a_szBase) ||
                   !OsFilePathCopy(l_szDirectory, sizeof(l_szDirectory), a_szDirectory),
               OS_LOG_ERROR, "a_szDirectory is too long...", OS_STS_FAIL);
  OsFilePathStripTrailing(l_szBase);
  const std::size_t l_sizetBase = std::strlen(l_szBase);
  OS_RETURN_IF(l_sizetBase == 0 || _strnicmp(l_szDirectory, l_szBase, l_sizetBase) != 0 ||
                   l_szDirectory[l_sizetBase] != '\\' || l_szDirectory[l_sizetBase + 1] == 0,
               OS_LOG_ERROR, "not below its base...<%s> <%s>", OS_STS_FAIL, a_szDirectory, a_szBase);
  return CreateDirectoryWalk(l_szDirectory, l_sizetBase, a_psecurityattributes);
}

bool OsFileIsLink(const char* a_szPath) {
  wchar_t l_wszPath[OS_WPATH_SIZE];
  if (a_szPath == nullptr || a_szPath[0] == 0 || !OsFileToWide(a_szPath, l_wszPath)) return false;
  if (IsReparseByPath(l_wszPath)) return true;
  COsHandle l_handle(CreateFileW(l_wszPath, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                 nullptr));
  BY_HANDLE_FILE_INFORMATION l_info;
  const bool l_bLink = l_handle && GetFileInformationByHandle(l_handle.Get(), &l_info) &&
                       (l_info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  SetLastError(0);
  return l_bLink;
}

EOSSTS OsFileDelete(const char* a_szFilename, EOSFILETYPE a_eosfiletype, bool a_bRecursive) {
  OS_RETURN_IF_NULL(a_szFilename, OS_LOG_ERROR, "a_szFilename is null...", OS_STS_BADARG);
  OS_RETURN_IF(a_szFilename[0] == 0, OS_LOG_ERROR, "a_szFilename is empty...", OS_STS_BADARG);
  OS_RETURN_IF(std::strchr(a_szFilename, '*') != nullptr, OS_LOG_INFO, "we don't support deleting with wildcards...",
               OS_STS_BADARG);
  OS_LOGI("Delete: <%s> %d %d", a_szFilename, static_cast<int>(a_eosfiletype), a_bRecursive ? 1 : 0);

  OsFileInfo l_info;
  OsFileFindFirst(a_szFilename, &l_info);
  const EOSFILETYPE l_eosfiletype = l_info.m_eosfiletype;
  OsFileFindClose(&l_info);
  if (a_eosfiletype != OS_FILE_TYPE_NONE && a_eosfiletype != l_eosfiletype) return OS_STS_FAIL;
  return DeleteEntry(a_szFilename, l_eosfiletype, a_bRecursive);
}

EOSSTS OsFileMove(const char* a_szFilename, const char* a_szNewFilename) {
  OS_RETURN_IF_NULL(a_szFilename, OS_LOG_ERROR, "a_szFilename is null...", OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_szNewFilename, OS_LOG_ERROR, "a_szNewFilename is NULL...", OS_STS_BADARG);
  OS_RETURN_IF(a_szFilename[0] == 0 || a_szNewFilename[0] == 0, OS_LOG_ERROR, "a_szFilename is empty...",
               OS_STS_BADARG);
  wchar_t l_wszFrom[OS_WPATH_SIZE];
  wchar_t l_wszTo[OS_WPATH_SIZE];
  if (!OsFileToWide(a_szFilename, l_wszFrom) || !OsFileToWide(a_szNewFilename, l_wszTo) || !MoveFileW(l_wszFrom, l_wszTo)) {
    OS_LOGE("MoveFileW failed...");
    SetLastError(0);
    return OS_STS_FAIL;
  }
  return OS_STS_SUCCESS;
}

EOSSTS OsFileCopy(const char* a_szFilename, const char* a_szNewFilename) {
  OS_RETURN_IF_NULL(a_szFilename, OS_LOG_ERROR, "a_szFilename is null...", OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_szNewFilename, OS_LOG_ERROR, "a_szNewFilename is NULL...", OS_STS_BADARG);
  OS_RETURN_IF(a_szFilename[0] == 0 || a_szNewFilename[0] == 0, OS_LOG_ERROR, "a_szFilename is empty...",
               OS_STS_BADARG);
  wchar_t l_wszFrom[OS_WPATH_SIZE];
  wchar_t l_wszTo[OS_WPATH_SIZE];
  if (!OsFileToWide(a_szFilename, l_wszFrom) || !OsFileToWide(a_szNewFilename, l_wszTo) ||
      !CopyFileW(l_wszFrom, l_wszTo, TRUE)) {
    OS_LOGI("CopyFile failed...");
    OS_LOGI("src: %s", a_szFilename);
    OS_LOGI("dst: %s", a_szNewFilename);
    SetLastError(0);
    return OS_STS_FAIL;
  }
  return OS_STS_SUCCESS;
}

namespace {

// Creates the destination of a copy once; a failure becomes the result when
// none is set yet.
void CreateCopyDestination(const char* a_szDestination, bool* a_pbCreated, EOSSTS* a_peossts) {
  if (*a_pbCreated) return;
  const EOSSTS l_eossts = OsFileCreateDirectory(a_szDestination, nullptr);
  if (l_eossts != OS_STS_SUCCESS && l_eossts != OS_STS_EXISTS) {
    OS_LOGE("OsFileCreateDirectory failed...<%s>", a_szDestination);
    if (*a_peossts == OS_STS_SUCCESS) *a_peossts = l_eossts;
  }
  *a_pbCreated = true;
}

bool IsLinkEntry(const OsFileInfo& a_info) {
  wchar_t l_wszPath[OS_WPATH_SIZE];
  return !OsFileToWide(a_info.m_szFullPath, l_wszPath) || IsReparseByPath(l_wszPath);
}

}  // namespace

EOSSTS OsFileCopyTree(const char* a_szSource, const char* a_szDestination, bool a_bRecursive,
                      OsFileCopyTreeCallback a_pfnCallback, void* a_pvContext) {
  OS_RETURN_IF(a_szSource == nullptr || a_szDestination == nullptr, OS_LOG_ERROR, "a_szFilename is null...",
               OS_STS_BADARG);
  OS_RETURN_IF(a_szSource[0] == 0 || a_szDestination[0] == 0, OS_LOG_ERROR, "a_szFilename is empty...",
               OS_STS_BADARG);
  // The source is walked through held handles and never through a link;
  // the copy is never written into one.
  wchar_t l_wszSource[OS_WPATH_SIZE];
  CHeldDirectory l_held;
  const CHeldDirectory::EHold l_ehold =
      OsFileToWide(a_szSource, l_wszSource) ? l_held.Hold(a_szSource, l_wszSource) : CHeldDirectory::FAILED;
  OS_RETURN_IF(l_ehold == CHeldDirectory::LINK || OsFileIsLink(a_szDestination), OS_LOG_ERROR,
               "copy refused through a link...<%s> <%s>", OS_STS_FAIL, a_szSource, a_szDestination);
  EOSSTS l_eossts = OS_STS_SUCCESS;
  bool l_bCreated = false;
  if (a_pfnCallback == nullptr) CreateCopyDestination(a_szDestination, &l_bCreated, &l_eossts);
  // A source that cannot be enumerated ends here with the result so far.
  if (l_ehold != CHeldDirectory::HELD) return l_eossts;

  const EOSSTS l_eosstsWalk = ForEachEntry(a_szSource, [&](const OsFileInfo& a_info) {
    EOSSTS l_eosstsEntry = OS_STS_SUCCESS;
    char l_szTarget[OS_PATH_SIZE];
    const bool l_bDirectory = a_info.m_eosfiletype == OS_FILE_TYPE_DIRECTORY;
    if (l_bDirectory && !a_bRecursive) return OS_STS_SUCCESS;
    if (!OsFilePathCopy(l_szTarget, sizeof(l_szTarget), a_szDestination) ||
        !OsFilePathAppend(l_szTarget, sizeof(l_szTarget), a_info.m_szName)) {
      // The target would not fit: the entry is not copied anywhere else.
      OS_LOGE("OsFileCopy failed...<%s> <%s>", a_info.m_szFullPath, a_szDestination);
      l_eosstsEntry = OS_STS_FAIL;
    } else if (IsLinkEntry(a_info)) {
      OS_LOGE("copy refused through a link...<%s> <%s>", a_info.m_szFullPath, l_szTarget);
      l_eosstsEntry = OS_STS_FAIL;
    } else if (l_bDirectory) {
      if (a_pfnCallback == nullptr) {
        l_eosstsEntry = OsFileCopyTree(a_info.m_szFullPath, l_szTarget, true, nullptr, nullptr);
      } else {
        const OsFileCopyTreeEntry l_entry = {16u, nullptr, a_info.m_szFullPath, a_pvContext};
        const EOSSTS l_eosstsAnswer = a_pfnCallback(&l_entry);
        if (l_eosstsAnswer == OS_STS_SUCCESS) {
          l_eosstsEntry = OsFileCopyTree(a_info.m_szFullPath, l_szTarget, true, a_pfnCallback, a_pvContext);
        } else if (l_eosstsAnswer == OS_FILE_COPYTREE_ALL) {
          l_eosstsEntry = OsFileCopyTree(a_info.m_szFullPath, l_szTarget, true, nullptr, nullptr);
        } else if (l_eosstsAnswer != OS_FILE_COPYTREE_SKIP) {
          OS_LOGA("Unexpected callback status: %d", static_cast<int>(l_eosstsAnswer));
          l_eosstsEntry = l_eosstsAnswer;
        }
      }
    } else if (a_pfnCallback == nullptr) {
      OsFileCopy(a_info.m_szFullPath, l_szTarget);  // an existing file is left as it is
    } else {
      const OsFileCopyTreeEntry l_entry = {16u, a_info.m_szName, a_info.m_szFullPath, a_pvContext};
      const EOSSTS l_eosstsAnswer = a_pfnCallback(&l_entry);
      if (l_eosstsAnswer == OS_STS_SUCCESS) {
        CreateCopyDestination(a_szDestination, &l_bCreated, &l_eossts);
        l_eosstsEntry = OsFileCopy(a_info.m_szFullPath, l_szTarget);
      } else if (l_eosstsAnswer != OS_FILE_COPYTREE_SKIP) {
        OS_LOGA("Unexpected callback status: %d", static_cast<int>(l_eosstsAnswer));
        l_eosstsEntry = l_eosstsAnswer;
      }
      if (l_eosstsEntry != OS_STS_SUCCESS) OS_LOGE("OsFileCopy failed...<%s> <%s>", a_info.m_szFullPath, l_szTarget);
    }
    // The first failure is the result; the walk goes on to the end.
    if (l_eossts == OS_STS_SUCCESS) l_eossts = l_eosstsEntry;
    return OS_STS_SUCCESS;
  });
  // A search that failed has not copied the whole directory.
  if (l_eossts == OS_STS_SUCCESS) l_eossts = l_eosstsWalk;
  return l_eossts;
}

EOSSTS OsFileSetAccess(const char* a_szFilename, EOSFILEACCESS a_eosfileaccess, bool a_bRecursive, int a_iDepth) {
  OS_RETURN_IF_NULL(a_szFilename, OS_LOG_ERROR, "a_szFilename is null...", OS_STS_BADARG);
  OS_RETURN_IF(a_szFilename[0] == 0, OS_LOG_ERROR, "a_szFilename is empty...", OS_STS_BADARG);
  char l_szPath[OS_PATH_SIZE];
  SStrCpy(l_szPath, sizeof(l_szPath), a_szFilename);
  for (std::size_t l_n = std::strlen(l_szPath); l_n > 0 && (l_szPath[l_n - 1] == '\\' || l_szPath[l_n - 1] == '/');)
    l_szPath[--l_n] = 0;
  OsFileInfo l_info;
  const bool l_bFound = l_szPath[0] != 0 && OsFileFindFirst(l_szPath, &l_info) == OS_STS_SUCCESS;
  const EOSFILETYPE l_eosfiletype = l_info.m_eosfiletype;
  OsFileFindClose(&l_info);
  if (!l_bFound) {
    OS_LOGE("Can't find file to set its access: %s", a_szFilename);
    return OS_STS_NOTFOUND;
  }
  // A link's attributes would be its target's: it is left alone.
  OS_RETURN_IF(OsFileIsLink(l_szPath), OS_LOG_ERROR, "set access refused on a link...<%s>", OS_STS_FAIL, l_szPath);
  if (a_bRecursive && l_eosfiletype == OS_FILE_TYPE_DIRECTORY) {
    wchar_t l_wszPath[OS_WPATH_SIZE];
    CHeldDirectory l_held;
    if (OsFileToWide(l_szPath, l_wszPath) && l_held.Hold(l_szPath, l_wszPath) == CHeldDirectory::HELD) {
      // The children's results are not the caller's concern.
      ForEachEntry(l_szPath, [&](const OsFileInfo& a_info) {
        OsFileSetAccess(a_info.m_szFullPath, a_eosfileaccess, true, a_iDepth + 1);
        return OS_STS_SUCCESS;
      });
    }
  }
  DWORD l_dwAttributes = 0;
  if (a_eosfileaccess == OS_FILE_ACCESS_READ) {
    l_dwAttributes = FILE_ATTRIBUTE_READONLY;
  } else if (a_eosfileaccess == OS_FILE_ACCESS_READWRITE) {
    l_dwAttributes = FILE_ATTRIBUTE_NORMAL;
  } else {
    OS_LOGI("Invalid file access for SetFileAccess: %d", static_cast<int>(a_eosfileaccess));
    return OS_STS_BADARG;
  }
  wchar_t l_wszPath[OS_WPATH_SIZE];
  if (!OsFileToWide(l_szPath, l_wszPath) || !SetFileAttributesW(l_wszPath, l_dwAttributes)) {
    SetLastError(0);
    return OS_STS_FAIL;
  }
  // Vista and later report the new attributes only a moment later.
  if (a_iDepth == 0 && OsSysOsCode() >= OS_CFG_OS_WINVISTA) Sleep(1);
  return OS_STS_SUCCESS;
}

EOSSTS OsFileSetSharedSecurity(const char* a_szPath, int a_iAccess) { return OsCfgSetAccess(a_szPath, a_iAccess); }

EOSSTS OsFileGetTempName(const char* a_szTempDir, char* a_szTempName, const char* a_szTempPrefix,
                         std::size_t a_sizetTempName) {
  OS_RETURN_IF_NULL(a_szTempDir, OS_LOG_ERROR, "a_szTempDir is NULL...%d", OS_STS_BADARG,
                    static_cast<int>(a_sizetTempName));
  OS_RETURN_IF_NULL(a_szTempName, OS_LOG_ERROR, "a_szTempName is NULL...", OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_szTempPrefix, OS_LOG_ERROR, "a_szTempPrefix is NULL...", OS_STS_BADARG);
  wchar_t l_wszDir[OS_WPATH_SIZE];
  wchar_t l_wszPrefix[OS_WPATH_SIZE];
  wchar_t l_wszName[MAX_PATH] = L"";
  if (OsFileToWide(a_szTempDir, l_wszDir) && OsFileToWide(a_szTempPrefix, l_wszPrefix))
    GetTempFileNameW(l_wszDir, l_wszPrefix, 0, l_wszName);
  SetLastError(0);
  OsFileFromWide(l_wszName, a_szTempName, a_sizetTempName);
  return OS_STS_SUCCESS;
}

EOSSTS OsFileGetTempDirectory(char* a_szTempDir, std::size_t a_sizetTempDir) {
  static bool s_bCreate = true;
  OS_RETURN_IF_NULL(a_szTempDir, OS_LOG_ERROR, "a_szTempDir is null...", OS_STS_BADARG);
  COsCfg* const l_poscfg = OsCfgInstance();
  const char* const l_szItem = l_poscfg != nullptr ? l_poscfg->GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_TMPDIRECTORY) : nullptr;
  if (!OsFilePathCopy(a_szTempDir, a_sizetTempDir, l_szItem != nullptr ? l_szItem : "")) return OS_STS_TOOSMALL;
  if (s_bCreate && a_szTempDir[0] != 0) {
    OsFileCreateDirectory(a_szTempDir, nullptr);
    s_bCreate = false;
  }
  return OS_STS_SUCCESS;
}

EOSSTS OsFileGetCurrentDirectory(char* a_szDirectory, std::size_t a_sizetDirectory) {
  OS_RETURN_IF_NULL(a_szDirectory, OS_LOG_ERROR, "a_szDirectory is NULL...", OS_STS_BADARG);
  wchar_t l_wsz[MAX_PATH];
  const DWORD l_dw = GetCurrentDirectoryW(MAX_PATH, l_wsz);
  if (l_dw == 0 || l_dw >= MAX_PATH) return OS_STS_FAIL;
  if (l_dw >= a_sizetDirectory || !OsFileFromWide(l_wsz, a_szDirectory, a_sizetDirectory)) return OS_STS_TOOSMALL;
  return OS_STS_SUCCESS;
}

EOSSTS OsFileSetCurrentDirectory(const char* a_szDirectory) {
  OS_RETURN_IF_NULL(a_szDirectory, OS_LOG_ERROR, "a_szDirectory is NULL...", OS_STS_BADARG);
  wchar_t l_wsz[OS_WPATH_SIZE];
  if (!OsFileToWide(a_szDirectory, l_wsz) || !SetCurrentDirectoryW(l_wsz)) {
    SetLastError(0);
    return OS_STS_FAIL;
  }
  return OS_STS_SUCCESS;
}

EOSSTS OsFileWow64Redirection(bool a_bOn) {
  typedef BOOL(WINAPI * PfnDisable)(PVOID*);
  typedef BOOL(WINAPI * PfnRevert)(PVOID);
  static PfnDisable s_pfnDisable = nullptr;
  static PfnRevert s_pfnRevert = nullptr;
  static PVOID s_pvSaved = nullptr;
  static bool s_bOff = false;

  // 32-bit system or 64-bit process: nothing redirects.
  if (OsSysMachineBits() != 64 || OsSysProcessBits() == 64) return OS_STS_SUCCESS;
  if (s_pfnDisable == nullptr || s_pfnRevert == nullptr) {
    HMODULE const l_hmodule = GetModuleHandleW(L"kernel32.dll");
    s_pfnDisable = reinterpret_cast<PfnDisable>(
        reinterpret_cast<void*>(GetProcAddress(l_hmodule, "Wow64DisableWow64FsRedirection")));
    s_pfnRevert = reinterpret_cast<PfnRevert>(
        reinterpret_cast<void*>(GetProcAddress(l_hmodule, "Wow64RevertWow64FsRedirection")));
    if (s_pfnDisable == nullptr || s_pfnRevert == nullptr) {
      OS_LOGA("Can't get our redirector functions...");
      SetLastError(0);
      return OS_STS_FAIL;
    }
  }
  EOSSTS l_eossts = OS_STS_SUCCESS;
  if (!a_bOn) {
    s_pvSaved = nullptr;
    if (!s_pfnDisable(&s_pvSaved)) {
      OS_LOGA("Wow64DisableWow64FsRedirection failed...");
      l_eossts = OS_STS_FAIL;
    } else {
      s_bOff = true;
    }
  } else if (s_bOff) {
    if (s_pfnRevert(s_pvSaved)) {
      s_bOff = false;
    } else {
      OS_LOGA("Wow64RevertWow64FsRedirection failed...");
      l_eossts = OS_STS_FAIL;
    }
    s_pvSaved = nullptr;
  } else {
    OS_LOGI("Attempt to turn redirection on without having turned it off first...");
  }
  SetLastError(0);
  return l_eossts;
}
