// Directory-tree operations: create with parents, delete, move, copy, copy a
// tree, set access; temporary names, current directory, redirection.
#include <cstring>
#include <utility>

#include "os_coscfg.h"
#include "os_coscfg_fullpath.h"
#include "os_cosfile_impl.h"
#include "os_cosstring.h"
#include "os_log.h"
#include "os_scoped.h"
#include "os_sysinfo.h"

namespace {

bool IsDotName(const char* a_szName) { return std::strcmp(a_szName, ".") == 0 || std::strcmp(a_szName, "..") == 0; }

// An entry held open while it is handled; what is done to it is done
// through the handle. A directory is held with list access and without
// delete sharing, so nobody can rename it away and put a link in its place
// meanwhile: its path names this very directory until the handle is
// closed. A link is opened as itself, never followed (Wine follows it, and
// shows the link only in the attributes by path, asked after the open).
class CHeldEntry {
 public:
  enum EHold { HELD, LINK, FAILED };

  // a_dwAccess: what the caller will do through the handle besides reading
  // the attributes; a_bDirectory: only a directory is held.
  EHold Hold(const char* a_szPath, const wchar_t* a_wszPath, DWORD a_dwAccess, bool a_bDirectory) {
    m_handle.Reset(CreateFileW(a_wszPath, a_dwAccess | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!m_handle) {
      OS_LOGI("CreateFileW failed...%d <%s>", static_cast<int>(GetLastError()), a_szPath);
      SetLastError(0);
      return FAILED;
    }
    if (!GetFileInformationByHandle(m_handle.Get(), &m_info)) {
      SetLastError(0);
      m_handle.Reset();
      return FAILED;
    }
    if (OsSysIsLink(m_handle.Get(), m_info.dwFileAttributes, a_wszPath)) {
      m_handle.Reset();
      return LINK;
    }
    if (a_bDirectory && (m_info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      m_handle.Reset();
      return FAILED;
    }
    return HELD;
  }
  HANDLE Get() const { return m_handle.Get(); }
  // A file with more than one name: changing it changes it under every name.
  bool HasOtherNames() const { return m_info.nNumberOfLinks > 1; }
  void Release() { m_handle.Reset(); }

 private:
  COsHandle m_handle;
  BY_HANDLE_FILE_INFORMATION m_info = {};
};

EOSSTS HoldDirectory(CHeldEntry& a_held, const char* a_szPath) {
  wchar_t l_wszPath[OS_WPATH_SIZE];
  if (!OsFileToWide(a_szPath, l_wszPath)) return OS_STS_FAIL;
  switch (a_held.Hold(a_szPath, l_wszPath, FILE_LIST_DIRECTORY, true)) {
    case CHeldEntry::HELD: return OS_STS_SUCCESS;
    case CHeldEntry::LINK: return OS_STS_CANNOTCREATE;
    case CHeldEntry::FAILED: break;
  }
  return OS_STS_FAIL;
}

// The attributes of a held entry, set through its handle (by path where the
// system has no such call, before Vista: no symbolic links there either).
bool SetHeldAttributes(const CHeldEntry& a_held, const wchar_t* a_wszPath, DWORD a_dwAttributes) {
  typedef BOOL(WINAPI * PfnSetInformation)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
  static const PfnSetInformation s_pfn = reinterpret_cast<PfnSetInformation>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetFileInformationByHandle")));
  if (s_pfn == nullptr) return SetFileAttributesW(a_wszPath, a_dwAttributes) != FALSE;
  FILE_BASIC_INFO l_info = {};  // zero times: left as they are
  l_info.FileAttributes = a_dwAttributes;
  return s_pfn(a_held.Get(), FileBasicInfo, &l_info, sizeof(l_info)) != FALSE;
}

// The system refuses to remove read-only entries: their attributes are
// reset and the removal tried again; never on a link (its attributes would
// be the target's) or a file with other names (they would change with it).
bool RemoveWithAttributesReset(const char* a_szPath, const wchar_t* a_wszPath, BOOL(WINAPI* a_pfnRemove)(LPCWSTR)) {
  if (a_pfnRemove(a_wszPath)) return true;
  if (GetLastError() != ERROR_ACCESS_DENIED) return false;
  {
    CHeldEntry l_held;
    if (l_held.Hold(a_szPath, a_wszPath, FILE_WRITE_ATTRIBUTES, false) != CHeldEntry::HELD || l_held.HasOtherNames() ||
        !SetHeldAttributes(l_held, a_wszPath, FILE_ATTRIBUTE_NORMAL))
      return false;
  }
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

// Statuses of a walk besides the callback's own: the directory has entries
// that no path of the limit can name.
constexpr EOSSTS OS_FILE_WALK_TOO_DEEP = OS_STS_TOOSMALL;

// Walks the entries of a held directory: a_fnEntry for each but "." and
// "..", until it answers non-zero. 0 when the directory was seen whole.
template <class Fn>
EOSSTS ForEachEntry(const char* a_szDirectory, Fn a_fnEntry) {
  if (std::strlen(a_szDirectory) + 2 >= OS_PATH_SIZE) return OS_FILE_WALK_TOO_DEEP;
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
  // The end of the entries, or a held directory without any (a drive's root).
  return l_eossts == OS_STS_NOTFOUND ? OS_STS_SUCCESS : l_eossts;
}

// Deletes an entry whose type is known (looked up, or reported by the
// enumeration of its parent).
EOSSTS DeleteEntry(const char* a_szPath, EOSFILETYPE a_eosfiletype, bool a_bRecursive) {
  wchar_t l_wszPath[OS_WPATH_SIZE];
  if (!OsFileToWide(a_szPath, l_wszPath)) return OS_STS_FAIL;
  if (a_eosfiletype == OS_FILE_TYPE_FILE) {
    if (RemoveWithAttributesReset(a_szPath, l_wszPath, DeleteFileW)) return OS_STS_SUCCESS;
    OS_LOGI("DeleteFile failed...%s", a_szPath);
    SetLastError(0);
    return OS_STS_FAIL;
  }
  if (a_eosfiletype != OS_FILE_TYPE_DIRECTORY) return OS_STS_FAIL;  // nothing, or a system entry
  CHeldEntry l_held;
  switch (l_held.Hold(a_szPath, l_wszPath, FILE_LIST_DIRECTORY, true)) {
    case CHeldEntry::LINK: return RemoveLink(a_szPath, l_wszPath);  // its target is never entered
    case CHeldEntry::FAILED: return OS_STS_FAIL;
    case CHeldEntry::HELD: break;
  }
  if (a_bRecursive) {
    const EOSSTS l_eossts = ForEachEntry(a_szPath, [](const OsFileInfo& a_info) {
      OS_LOGI("Delete: <%s> %d %d", a_info.m_szFullPath, static_cast<int>(a_info.m_eosfiletype), 1);
      return DeleteEntry(a_info.m_szFullPath, a_info.m_eosfiletype, true);
    });
    // Entries too deep to name keep the directory from going: the removal says so.
    if (l_eossts != OS_STS_SUCCESS && l_eossts != OS_FILE_WALK_TOO_DEEP) return l_eossts;
  }
  // The held handle denies the removal its delete access: it goes first. A
  // link swapped in now is removed as a link, a full directory not at all.
  l_held.Release();
  if (RemoveWithAttributesReset(a_szPath, l_wszPath, RemoveDirectoryW)) return OS_STS_SUCCESS;
  OS_LOGI("RemoveDirectory failed...%s", a_szPath);
  SetLastError(0);
  return OS_STS_FAIL;
}

EOSSTS CreateDirectoryStatus(DWORD a_dwError) {
  if (a_dwError == ERROR_PATH_NOT_FOUND) return OS_STS_NOTFOUND;
  if (a_dwError == ERROR_ACCESS_DENIED) return OS_STS_ACCESSDENIED;
  return OS_STS_FAIL;
}

// The length of a_szBase's part of a_szPath (which must lie below it), or
// 0 (logged) when it does not.
std::size_t BaseLength(const char* a_szBase, const char* a_szPath, char (&a_szWork)[OS_PATH_SIZE]) {
  char l_szBase[OS_PATH_SIZE];
  if (!OsFilePathCopy(l_szBase, sizeof(l_szBase), a_szBase) || !OsFilePathCopy(a_szWork, sizeof(a_szWork), a_szPath))
    return 0;
  OsFilePathStripTrailing(l_szBase);
  OsFilePathStripTrailing(a_szWork);  // normalized first: one separator at most
  const std::size_t l_sizetBase = std::strlen(l_szBase);
  bool l_bBelow = l_sizetBase != 0 && _strnicmp(a_szWork, l_szBase, l_sizetBase) == 0 &&
                  a_szWork[l_sizetBase] == '\\' && a_szWork[l_sizetBase + 1] != 0;
  // Below by its components too: none may step back up, or be a name the
  // system would shorten into another ("x.", "x ").
  for (const char* l_psz = a_szWork + l_sizetBase; l_bBelow && *l_psz == '\\';) {
    const char* const l_pszName = l_psz + 1;
    l_psz = std::strchr(l_pszName, '\\');
    const std::size_t l_n = l_psz != nullptr ? static_cast<std::size_t>(l_psz - l_pszName) : std::strlen(l_pszName);
    if (l_psz == nullptr) l_psz = l_pszName + l_n;
    l_bBelow = l_n > 0 && l_pszName[l_n - 1] != '.' && l_pszName[l_n - 1] != ' ';
  }
  if (!l_bBelow) {
    OS_LOGE("not below its base...<%s> <%s>", a_szPath, a_szBase);
    return 0;
  }
  return l_sizetBase;
}

// Creates a_szDirectory and its missing parents. Beyond the first
// a_sizetTrusted characters each component is held while its child is
// made, and must not be a link: nothing is made inside a link's target
// there, nor in a folder swapped in while the walk went on (259).
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
  CHeldEntry l_heldParent;
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
    if (a_sizetTrusted != 0 && std::strlen(l_szPrefix) > a_sizetTrusted) {
      CHeldEntry l_held;
      const CHeldEntry::EHold l_ehold = l_held.Hold(l_szPrefix, l_wszPrefix, FILE_LIST_DIRECTORY, true);
      if (l_ehold == CHeldEntry::LINK) {
        OS_LOGE("a link in the tree, nothing is created in it...<%s>", l_szPrefix);
        return OS_STS_CANNOTCREATE;
      }
      if (l_ehold == CHeldEntry::FAILED) return OS_STS_FAIL;
      l_heldParent = std::move(l_held);
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
  char l_szDirectory[OS_PATH_SIZE];
  const std::size_t l_sizetBase = BaseLength(a_szBase, a_szDirectory, l_szDirectory);
  if (l_sizetBase == 0) return OS_STS_FAIL;
  return CreateDirectoryWalk(l_szDirectory, l_sizetBase, a_psecurityattributes);
}

bool OsFileIsLink(const char* a_szPath) {
  wchar_t l_wszPath[OS_WPATH_SIZE];
  if (a_szPath == nullptr || a_szPath[0] == 0 || !OsFileToWide(a_szPath, l_wszPath)) return false;
  CHeldEntry l_held;
  return l_held.Hold(a_szPath, l_wszPath, 0, false) == CHeldEntry::LINK;
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

EOSSTS OsFileDeleteIn(const char* a_szBase, const char* a_szFilename, EOSFILETYPE a_eosfiletype, bool a_bRecursive) {
  OS_RETURN_IF(a_szBase == nullptr || a_szFilename == nullptr, OS_LOG_ERROR, "a_szFilename is null...", OS_STS_BADARG);
  OS_RETURN_IF(a_szFilename[0] == 0, OS_LOG_ERROR, "a_szFilename is empty...", OS_STS_BADARG);
  char l_szPath[OS_PATH_SIZE];
  const std::size_t l_sizetBase = BaseLength(a_szBase, a_szFilename, l_szPath);
  if (l_sizetBase == 0) return OS_STS_FAIL;
  // Every folder between the base and the entry is held, and none may be a
  // link: the path cannot be bent elsewhere while the delete runs.
  constexpr std::size_t l_sizetMost = OS_PATH_SIZE / 2;
  CHeldEntry l_aheld[l_sizetMost];
  std::size_t l_sizetHeld = 0;
  for (char* l_psz = std::strchr(l_szPath + l_sizetBase + 1, '\\'); l_psz != nullptr;
       l_psz = std::strchr(l_psz + 1, '\\')) {
    *l_psz = 0;
    const EOSSTS l_eossts = l_sizetHeld < l_sizetMost ? HoldDirectory(l_aheld[l_sizetHeld++], l_szPath) : OS_STS_FAIL;
    *l_psz = '\\';
    if (l_eossts == OS_STS_CANNOTCREATE) OS_LOGE("a link in the tree, nothing is deleted through it...<%s>", l_szPath);
    if (l_eossts != OS_STS_SUCCESS) return OS_STS_FAIL;
  }
  return OsFileDelete(l_szPath, a_eosfiletype, a_bRecursive);
}

EOSSTS OsFileMove(const char* a_szFilename, const char* a_szNewFilename) {
  OS_RETURN_IF_NULL(a_szFilename, OS_LOG_ERROR, "a_szFilename is null...", OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_szNewFilename, OS_LOG_ERROR, "a_szNewFilename is NULL...", OS_STS_BADARG);
  OS_RETURN_IF(a_szFilename[0] == 0 || a_szNewFilename[0] == 0, OS_LOG_ERROR, "a_szFilename is empty...",
               OS_STS_BADARG);
  wchar_t l_wszFrom[OS_WPATH_SIZE];
  wchar_t l_wszTo[OS_WPATH_SIZE];
  if (!OsFileToWide(a_szFilename, l_wszFrom) || !OsFileToWide(a_szNewFilename, l_wszTo) ||
      !MoveFileW(l_wszFrom, l_wszTo)) {
    OS_LOGE("MoveFileW failed...");
    SetLastError(0);
    return OS_STS_FAIL;
  }
  return OS_STS_SUCCESS;
}

namespace {

// One file, never over an existing one. In a tree walk a link that took
// the entry's place is copied as the link itself, never what it leads to
// (Vista and later; before, there are no file links).
EOSSTS CopyOneFile(const char* a_szFilename, const char* a_szNewFilename, bool a_bInWalk) {
  OS_RETURN_IF_NULL(a_szFilename, OS_LOG_ERROR, "a_szFilename is null...", OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_szNewFilename, OS_LOG_ERROR, "a_szNewFilename is NULL...", OS_STS_BADARG);
  OS_RETURN_IF(a_szFilename[0] == 0 || a_szNewFilename[0] == 0, OS_LOG_ERROR, "a_szFilename is empty...",
               OS_STS_BADARG);
  wchar_t l_wszFrom[OS_WPATH_SIZE];
  wchar_t l_wszTo[OS_WPATH_SIZE];
  const DWORD l_dwFlags =
      COPY_FILE_FAIL_IF_EXISTS | (a_bInWalk && OsSysOsCode() >= OS_CFG_OS_WINVISTA ? COPY_FILE_COPY_SYMLINK : 0);
  if (!OsFileToWide(a_szFilename, l_wszFrom) || !OsFileToWide(a_szNewFilename, l_wszTo) ||
      !CopyFileExW(l_wszFrom, l_wszTo, nullptr, nullptr, nullptr, l_dwFlags)) {
    OS_LOGI("CopyFile failed...");
    OS_LOGI("src: %s", a_szFilename);
    OS_LOGI("dst: %s", a_szNewFilename);
    SetLastError(0);
    return OS_STS_FAIL;
  }
  return OS_STS_SUCCESS;
}

// The destination of a copy, created once and then held for the walk; a
// failure, or a link in its place, becomes the result when none is set yet.
struct CopyDestination {
  const char* m_szPath;
  bool m_bCreated = false;
  bool m_bHeld = false;
  CHeldEntry m_held;

  void Create(EOSSTS* a_peossts) {
    if (m_bCreated) return;
    m_bCreated = true;
    const EOSSTS l_eossts = OsFileCreateDirectory(m_szPath, nullptr);
    const bool l_bMade = l_eossts == OS_STS_SUCCESS || l_eossts == OS_STS_EXISTS;
    m_bHeld = l_bMade && HoldDirectory(m_held, m_szPath) == OS_STS_SUCCESS;
    if (!m_bHeld) {
      OS_LOGE("OsFileCreateDirectory failed...<%s>", m_szPath);
      if (*a_peossts == OS_STS_SUCCESS) *a_peossts = l_bMade ? OS_STS_FAIL : l_eossts;
    }
  }
};

}  // namespace

EOSSTS OsFileCopy(const char* a_szFilename, const char* a_szNewFilename) {
  return CopyOneFile(a_szFilename, a_szNewFilename, false);
}

EOSSTS OsFileCopyTree(const char* a_szSource, const char* a_szDestination, bool a_bRecursive,
                      OsFileCopyTreeCallback a_pfnCallback, void* a_pvContext) {
  OS_RETURN_IF(a_szSource == nullptr || a_szDestination == nullptr, OS_LOG_ERROR, "a_szFilename is null...",
               OS_STS_BADARG);
  OS_RETURN_IF(a_szSource[0] == 0 || a_szDestination[0] == 0, OS_LOG_ERROR, "a_szFilename is empty...", OS_STS_BADARG);
  // The source is walked through held handles and never through a link;
  // the copy is never written into one.
  CHeldEntry l_heldSource;
  const EOSSTS l_eosstsSource = HoldDirectory(l_heldSource, a_szSource);
  OS_RETURN_IF(l_eosstsSource == OS_STS_CANNOTCREATE || OsFileIsLink(a_szDestination), OS_LOG_ERROR,
               "copy refused through a link...<%s> <%s>", OS_STS_FAIL, a_szSource, a_szDestination);
  EOSSTS l_eossts = OS_STS_SUCCESS;
  CopyDestination l_destination;
  l_destination.m_szPath = a_szDestination;
  if (a_pfnCallback == nullptr) l_destination.Create(&l_eossts);
  // A source that cannot be enumerated ends here with the result so far.
  if (l_eosstsSource != OS_STS_SUCCESS) return l_eossts;

  const EOSSTS l_eosstsWalk = ForEachEntry(a_szSource, [&](const OsFileInfo& a_info) {
    EOSSTS l_eosstsEntry = OS_STS_SUCCESS;
    char l_szTarget[OS_PATH_SIZE];
    const bool l_bDirectory = a_info.m_eosfiletype == OS_FILE_TYPE_DIRECTORY;
    wchar_t l_wszEntry[OS_WPATH_SIZE];
    if (l_bDirectory && !a_bRecursive) return OS_STS_SUCCESS;
    if (!OsFilePathJoin(l_szTarget, sizeof(l_szTarget), a_szDestination, a_info.m_szName)) {
      // The target would not fit: the entry is not copied anywhere else.
      OS_LOGE("OsFileCopy failed...<%s> <%s>", a_info.m_szFullPath, a_szDestination);
      l_eosstsEntry = OS_STS_FAIL;
    } else if (!OsFileToWide(a_info.m_szFullPath, l_wszEntry) ||
               CHeldEntry().Hold(a_info.m_szFullPath, l_wszEntry, 0, false) == CHeldEntry::LINK) {
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
      // An existing file is left as it is.
      if (l_destination.m_bHeld) CopyOneFile(a_info.m_szFullPath, l_szTarget, true);
    } else {
      const OsFileCopyTreeEntry l_entry = {16u, a_info.m_szName, a_info.m_szFullPath, a_pvContext};
      const EOSSTS l_eosstsAnswer = a_pfnCallback(&l_entry);
      if (l_eosstsAnswer == OS_STS_SUCCESS) {
        l_destination.Create(&l_eossts);
        l_eosstsEntry = l_destination.m_bHeld ? CopyOneFile(a_info.m_szFullPath, l_szTarget, true) : OS_STS_FAIL;
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
  // A search that failed, or entries too deep to name, leave the copy short.
  if (l_eossts == OS_STS_SUCCESS && l_eosstsWalk != OS_STS_SUCCESS) l_eossts = OS_STS_FAIL;
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
  // The entry is held and checked on its handle, and its attributes are set
  // through that handle: a link's would be its target's, so a link is
  // refused, and a file with other names (outside the tree, perhaps) is
  // left alone inside a walk.
  wchar_t l_wszPath[OS_WPATH_SIZE];
  CHeldEntry l_held;
  const bool l_bDirectory = l_eosfiletype == OS_FILE_TYPE_DIRECTORY;
  const CHeldEntry::EHold l_ehold =
      OsFileToWide(l_szPath, l_wszPath)
          ? l_held.Hold(l_szPath, l_wszPath, FILE_WRITE_ATTRIBUTES | (l_bDirectory ? FILE_LIST_DIRECTORY : 0), false)
          : CHeldEntry::FAILED;
  OS_RETURN_IF(l_ehold == CHeldEntry::LINK, OS_LOG_ERROR, "set access refused on a link...<%s>", OS_STS_FAIL, l_szPath);
  if (l_ehold == CHeldEntry::FAILED) {
    SetLastError(0);
    return OS_STS_FAIL;
  }
  OS_RETURN_IF(a_iDepth > 0 && l_held.HasOtherNames(), OS_LOG_INFO, "set access leaves a file with other names...<%s>",
               OS_STS_FAIL, l_szPath);
  if (a_bRecursive && l_bDirectory) {
    // The children's results are not the caller's concern.
    ForEachEntry(l_szPath, [&](const OsFileInfo& a_info) {
      OsFileSetAccess(a_info.m_szFullPath, a_eosfileaccess, true, a_iDepth + 1);
      return OS_STS_SUCCESS;
    });
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
  if (!SetHeldAttributes(l_held, l_wszPath, l_dwAttributes)) {
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
  const char* const l_szItem =
      l_poscfg != nullptr ? l_poscfg->GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_TMPDIRECTORY) : nullptr;
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
