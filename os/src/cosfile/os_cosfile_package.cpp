// Packages: the writer that packs a tree, a file or a pattern's matches,
// and the extractor that recreates them below a destination.
#include <cstring>

#include "os_coscfg.h"
#include "os_cosfile_impl.h"
#include "os_cosfile_package_impl.h"
#include "os_cosmem.h"
#include "os_cosstring.h"

namespace {

constexpr char s_szUnable[] = "Unable to package file: eossts=0x%x\r\n";
constexpr int s_iOpenAttempts = 5;
constexpr DWORD s_dwRetryMs = 1000;
constexpr int s_iStackSize = OS_PACKAGE_DEPTH_MAX + 3;
constexpr std::uint32_t s_u32CopyChunk = 1u << 20;

// A file of the log directory (the temporary directory when no
// configuration runs): where copies of locked files and the dump go.
bool LogDirectoryFile(char (&a_szPath)[OS_PATH_SIZE], const char* a_szName) {
  COsCfg* const l_poscfg = OsCfgInstance();
  const char* l_szDirectory =
      l_poscfg != nullptr ? l_poscfg->GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_LOGDIRECTORY) : nullptr;
  char l_szTemp[OS_PATH_SIZE] = "";
  if (l_szDirectory == nullptr || l_szDirectory[0] == 0) {
    wchar_t l_wsz[OS_WPATH_SIZE];
    const DWORD l_dw = GetTempPathW(OS_WPATH_SIZE, l_wsz);
    if (l_dw == 0 || l_dw >= OS_WPATH_SIZE || !OsFileFromWide(l_wsz, l_szTemp, sizeof(l_szTemp))) return false;
    l_szDirectory = l_szTemp;
  }
  return OsFilePathJoin(a_szPath, sizeof(a_szPath), l_szDirectory, a_szName);
}

// Opens a file to pack it: a sharing violation is waited out (five tries a
// second apart), unless the file is one that is never let go.
EOSSTS OpenForPacking(COsFile* a_posfile, const char* a_szPath) {
  EOSSTS l_eossts = OS_STS_FAIL;
  for (int l_iAttempt = 1; l_iAttempt <= s_iOpenAttempts; ++l_iAttempt) {
    l_eossts = a_posfile->Open(a_szPath, OS_FILE_OPEN_EXISTING, OS_FILE_ACCESS_READ, OS_FILE_SHARE_READ);
    if (l_eossts != OS_STS_SHARING || OsPackageNoWait(a_szPath) || l_iAttempt == s_iOpenAttempts) break;
    OS_LOGI("Sharing violation, trying again...<%s> %d", a_szPath, l_iAttempt);
    Sleep(s_dwRetryMs);
  }
  return l_eossts;
}

// A link (or an entry that cannot be asked) is not packed: what it leads to
// lies outside the tree, or is the tree itself over and over. Asked by path,
// where Wine shows directory links too.
bool IsLinkOrUnknown(const char* a_szPath) {
  wchar_t l_wsz[OS_WPATH_SIZE];
  if (!OsFileToWide(a_szPath, l_wsz)) return true;
  const DWORD l_dw = GetFileAttributesW(l_wsz);
  SetLastError(0);
  return l_dw == INVALID_FILE_ATTRIBUTES || (l_dw & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool IsDots(const OsFileInfo& a_osfileinfo) {
  return std::strcmp(a_osfileinfo.m_szName, ".") == 0 || std::strcmp(a_osfileinfo.m_szName, "..") == 0;
}

// A record's name as a path below the destination: its "." components
// and empty ones dropped, '/' turned into '\'. Empty for the destination.
void RelativePath(const char* a_szName, char (&a_szRelative)[OS_PACKAGE_NAME_SIZE]) {
  std::size_t l_sizetOut = 0;
  for (const char* l_sz = a_szName; *l_sz != 0;) {
    while (*l_sz == '\\' || *l_sz == '/') ++l_sz;
    const char* l_szEnd = l_sz;
    while (*l_szEnd != 0 && *l_szEnd != '\\' && *l_szEnd != '/') ++l_szEnd;
    const std::size_t l_n = static_cast<std::size_t>(l_szEnd - l_sz);
    if (l_n > 0 && !(l_n == 1 && *l_sz == '.')) {
      if (l_sizetOut > 0) a_szRelative[l_sizetOut++] = '\\';
      std::memcpy(a_szRelative + l_sizetOut, l_sz, l_n);
      l_sizetOut += l_n;
    }
    l_sz = l_szEnd;
  }
  a_szRelative[l_sizetOut] = 0;
}

// Copies a file that others hold (it opens when writers are let in, as a
// copy does) into a new file made and read through one handle: nobody can
// put another file under the copy's name between the copy and its reading.
// a_posfileCopy is left open at the copy's start.
EOSSTS CopyToNew(const char* a_szSource, const char* a_szCopy, COsFile* a_posfileCopy) {
  COsFile l_osfileSource;
  EOSSTS l_eossts =
      l_osfileSource.Open(a_szSource, OS_FILE_OPEN_EXISTING, OS_FILE_ACCESS_READ, OS_FILE_SHARE_READWRITE);
  if (l_eossts == OS_STS_SUCCESS)
    l_eossts = OsFileOpenPlain(a_posfileCopy, a_szCopy, OS_FILE_PLAIN_NEW, OS_FILE_ACCESS_READWRITE);
  if (l_eossts != OS_STS_SUCCESS) return l_eossts;
  const COsPkgBuffer l_buffer(s_u32CopyChunk);
  if (l_buffer.m_pu8 == nullptr) {
    OS_PKG_FAIL("OsMemAlloc failed...");
    return OS_STS_FAIL;
  }
  std::uint32_t l_u32Read = 0, l_u32Written = 0;
  while ((l_eossts = l_osfileSource.Read(l_buffer.m_pu8, s_u32CopyChunk, &l_u32Read)) == OS_STS_SUCCESS &&
         l_u32Read > 0) {
    l_eossts = a_posfileCopy->Write(l_buffer.m_pu8, l_u32Read, &l_u32Written);
    if (l_eossts == OS_STS_SUCCESS && l_u32Written != l_u32Read) l_eossts = OS_STS_FAIL;
    if (l_eossts != OS_STS_SUCCESS) break;
  }
  if (l_eossts == OS_STS_SUCCESS) l_eossts = a_posfileCopy->SetFilePointer64(OS_FILE_POINTER_BEGIN, 0);
  return l_eossts;
}

// ---- the writer ----

class CPackageWriter {
 public:
  CPackageWriter(const char* a_szPackage, const char* a_szSource, bool a_bImages, EOSFILEPACKAGE a_eosfilepackage,
                 bool a_bRecursive, EOSCOMPRESS a_eoscompress, OsFilePackageCallback a_pfncallback)
      : m_szPackage(a_szPackage),
        m_szSource(a_szSource),
        m_bImages(a_bImages),
        m_eosfilepackage(a_eosfilepackage),
        m_bRecursive(a_bRecursive),
        m_eoscompress(a_eoscompress),
        m_pfncallback(a_pfncallback) {
    OsFilePackageProgressInit(&m_progress);
  }
  ~CPackageWriter() {
    for (OsFileInfo* l_p : m_aposfileinfo) {
      if (l_p == nullptr) continue;
      for (int l_i = 0; l_i < s_iStackSize; ++l_i) OsFileFindClose(&l_p[l_i]);
      OS_MEM_FREE(l_p);
    }
  }
  CPackageWriter(const CPackageWriter&) = delete;
  CPackageWriter& operator=(const CPackageWriter&) = delete;

  EOSSTS Run();

 private:
  EOSSTS OpenPackage();
  EOSSTS ReadExisting();
  EOSSTS ResolveSource();
  EOSSTS Walk(int a_iStack, bool a_bWriting);
  EOSSTS SizeFile(const OsFileInfo& a_osfileinfo);
  EOSSTS PackFile(const OsFileInfo& a_osfileinfo);
  EOSSTS PackOpen(COsFile* a_posfile, const OsFileInfo& a_osfileinfo, char (&a_szUsed)[OS_PATH_SIZE]);
  EOSSTS WriteRecord(const char* a_szName, EOSFILETYPE a_eosfiletype, EOSFILEACCESS a_eosfileaccess,
                     const OsTimeRecord& a_ostimerecordAccessed, const OsTimeRecord& a_ostimerecordModified,
                     std::uint64_t a_u64Size);
  EOSSTS WriteDirectoryRecord(const OsFileInfo& a_osfileinfo) {
    return WriteRecord(m_szPrefix, OS_FILE_TYPE_DIRECTORY, a_osfileinfo.m_eosfileaccess,
                       a_osfileinfo.m_ostimerecordModified, a_osfileinfo.m_ostimerecordModified, 0);
  }
  bool PushPrefix(const char* a_szName);
  void PopPrefix();
  void Undo(EOSSTS a_eossts);

  const char* m_szPackage;
  const char* m_szSource;
  bool m_bImages;
  EOSFILEPACKAGE m_eosfilepackage;
  bool m_bRecursive;
  EOSCOMPRESS m_eoscompress;
  OsFilePackageCallback m_pfncallback;
  OsFilePackageProgress m_progress;
  COsSplitWorkers m_workers;

  COsFile m_osfilePackage;
  bool m_bExisted = false;                                // the package file was there before this call
  bool m_bWritten = false;                                // and this call has written to it
  std::uint64_t m_u64Before = 0;                          // its length then
  std::uint8_t m_au8Before[OS_PACKAGE_HEADER_SIZE] = {};  // and its header
  std::uint32_t m_u32HeaderSize = OS_PACKAGE_HEADER_SIZE;
  std::uint32_t m_u32RecordSize = OS_PACKAGE_RECORD_SIZE;
  std::uint64_t m_u64Total = 0;
  char m_szRoot[OS_PACKAGE_NAME_SIZE] = "";    // the append root, or empty
  char m_szPattern[OS_PATH_SIZE] = "";         // what the source's level enumerates
  char m_szPrefix[OS_PACKAGE_NAME_SIZE] = "";  // the name of the level being walked
  bool m_bDirectorySource = false;
  OsFileInfo m_osfileinfoSource = {};
  OsFileInfo* m_aposfileinfo[2] = {nullptr, nullptr};
};

EOSSTS CPackageWriter::Run() {
  EOSSTS l_eossts = OpenPackage();
  if (l_eossts != OS_STS_SUCCESS) return l_eossts;
  l_eossts = ReadExisting();
  if (l_eossts == OS_STS_SUCCESS) {
    for (OsFileInfo*& l_p : m_aposfileinfo) {
      l_p = static_cast<OsFileInfo*>(OS_MEM_ALLOC(sizeof(OsFileInfo) * s_iStackSize, "package stack"));
      if (l_p == nullptr) {
        OS_PKG_FAIL("OsMemAlloc failed...");
        l_eossts = OS_STS_FAIL;
        break;
      }
    }
  }
  if (l_eossts == OS_STS_SUCCESS) l_eossts = ResolveSource();
  // The sizing pass: the header carries the total before any record.
  if (l_eossts == OS_STS_SUCCESS) l_eossts = Walk(0, false);
  if (l_eossts == OS_STS_SUCCESS) {
    OsPackageHeader l_ospackageheader = {};
    std::memcpy(l_ospackageheader.m_au8Tag, OS_PACKAGE_MAGIC, OS_PKG_MAGIC_SIZE);
    l_ospackageheader.m_u32OsFilePackageHeader = m_u32HeaderSize;
    l_ospackageheader.m_u32OsFilePackageChunk = m_u32RecordSize;
    l_ospackageheader.m_u64TotalOriginalBytes = m_u64Total;
    m_progress.m_u64TotalBytes = m_u64Total;
    std::uint8_t l_au8[OS_PACKAGE_HEADER_SIZE];
    OsPackageHeaderEncode(l_ospackageheader, l_au8);
    std::uint32_t l_u32Written = 0;
    m_bWritten = true;
    if (m_osfilePackage.SetFilePointer64(OS_FILE_POINTER_BEGIN, 0) != OS_STS_SUCCESS ||
        m_osfilePackage.Write(l_au8, sizeof(l_au8), &l_u32Written) != OS_STS_SUCCESS || l_u32Written != sizeof(l_au8)) {
      OS_PKG_FAIL("Write failed...<%s>", m_szPackage);
      l_eossts = OS_STS_FAIL;
    } else if (m_osfilePackage.SetFilePointer64(OS_FILE_POINTER_END, 0) != OS_STS_SUCCESS) {
      OS_PKG_FAIL("SetFilePointer64 failed...<%s>", m_szPackage);
      l_eossts = OS_STS_FAIL;
    }
  }
  if (l_eossts == OS_STS_SUCCESS && m_bDirectorySource)
    l_eossts = WriteRecord(m_szPrefix, OS_FILE_TYPE_DIRECTORY, m_osfileinfoSource.m_eosfileaccess,
                           m_osfileinfoSource.m_ostimerecordAccessed, m_osfileinfoSource.m_ostimerecordModified, 0);
  if (l_eossts == OS_STS_SUCCESS) l_eossts = Walk(1, true);
  if (l_eossts == OS_STS_SUCCESS && m_bDirectorySource) l_eossts = WriteDirectoryRecord(m_osfileinfoSource);
  if (l_eossts != OS_STS_SUCCESS) Undo(l_eossts);
  m_osfilePackage.Close();
  if (l_eossts != OS_STS_SUCCESS && !m_bExisted) OsFileDelete(m_szPackage, OS_FILE_TYPE_FILE, false);
  return l_eossts;
}

EOSSTS CPackageWriter::OpenPackage() {
  const bool l_bCreate = m_eosfilepackage == OS_FILE_PACKAGE_CREATE;
  // A new package replaces what was there, which is then not kept on failure.
  m_bExisted = !l_bCreate && OsFileExists(m_szPackage);
  EOSSTS l_eossts =
      l_bCreate
          ? m_osfilePackage.Open(m_szPackage, OS_FILE_OPEN_CREATE, OS_FILE_ACCESS_WRITE, OS_FILE_SHARE_WRITE)
          : m_osfilePackage.Open(m_szPackage, OS_FILE_OPEN_ALWAYS, OS_FILE_ACCESS_READWRITE, OS_FILE_SHARE_READWRITE);
  if (l_eossts != OS_STS_SUCCESS) {
    OS_PKG_FAIL("Open failed...<%s>", m_szPackage);
    return l_eossts;
  }
  if ((l_eossts = m_osfilePackage.Size64(&m_u64Before)) != OS_STS_SUCCESS) {
    OS_PKG_FAIL("Size64 failed...<%s>", m_szPackage);
    m_osfilePackage.Close();
    if (!m_bExisted) OsFileDelete(m_szPackage, OS_FILE_TYPE_FILE, false);
  }
  return l_eossts;
}

// An existing package is appended to only when its records end exactly at
// its end; the first directory record names the root of modes 3 to 5.
EOSSTS CPackageWriter::ReadExisting() {
  if (m_u64Before == 0) return OS_STS_SUCCESS;
  std::uint32_t l_u32Read = 0;
  if (m_osfilePackage.Read(m_au8Before, sizeof(m_au8Before), &l_u32Read) != OS_STS_SUCCESS) {
    OS_PKG_FAIL("Read failed...<%s>", m_szPackage);
    return OS_STS_FAIL;
  }
  OsPackageHeader l_ospackageheader;
  OsPackageHeaderDecode(m_au8Before, l_u32Read, &l_ospackageheader);
  if (l_u32Read < OS_PKG_MAGIC_SIZE || std::memcmp(m_au8Before, OS_PACKAGE_MAGIC, OS_PKG_MAGIC_SIZE) != 0) {
    OS_PKG_FAIL("Not a package file...<%s>", m_szPackage);
    return OS_STS_FAIL;
  }
  m_u32HeaderSize = l_ospackageheader.m_u32OsFilePackageHeader;
  m_u32RecordSize = l_ospackageheader.m_u32OsFilePackageChunk;
  m_u64Total = l_ospackageheader.m_u64TotalOriginalBytes;
  if (l_u32Read < OS_PACKAGE_HEADER_SIZE || m_u32HeaderSize < OS_PACKAGE_HEADER_SIZE ||
      m_u32RecordSize < OS_PACKAGE_RECORD_SIZE || m_u32HeaderSize > OS_PACKAGE_LAYOUT_MAX ||
      m_u32RecordSize > OS_PACKAGE_LAYOUT_MAX) {
    OS_PKG_FAIL("Package header sizes out of range...<%s> %u %u", m_szPackage, m_u32HeaderSize, m_u32RecordSize);
    return OS_STS_FAIL;
  }
  const std::uint64_t l_u64Size = m_u64Before;
  std::uint64_t l_u64Offset = m_u32HeaderSize;
  bool l_bRootFound = false;
  // Records that end before or after the end of the file stop the walk.
  while (l_u64Offset < l_u64Size && l_u64Size - l_u64Offset >= m_u32RecordSize) {
    if (m_osfilePackage.SetFilePointer64(OS_FILE_POINTER_BEGIN, static_cast<std::int64_t>(l_u64Offset)) !=
        OS_STS_SUCCESS) {
      OS_PKG_FAIL("SetFilePointer64 failed...<%s>", m_szPackage);
      return OS_STS_FAIL;
    }
    std::uint8_t l_au8[OS_PACKAGE_RECORD_SIZE];
    if (m_osfilePackage.Read(l_au8, sizeof(l_au8), &l_u32Read) != OS_STS_SUCCESS || l_u32Read != sizeof(l_au8)) {
      OS_PKG_FAIL("Error reading chunk...<%s>", m_szPackage);
      return OS_STS_FAIL;
    }
    OsPackageRecord l_ospackagerecord;
    OsPackageRecordDecode(l_au8, sizeof(l_au8), &l_ospackagerecord);
    if (!l_bRootFound && l_ospackagerecord.m_u32OsFileType == OS_FILE_TYPE_DIRECTORY) {
      l_bRootFound = true;
      SStrNcpy(m_szRoot, sizeof(m_szRoot), l_ospackagerecord.m_szFilename, OS_PACKAGE_NAME_SIZE - 1);
    }
    // A size beyond what 64 bits count ends at the largest offset.
    const std::uint64_t l_u64Step = l_ospackagerecord.m_u64Size + m_u32RecordSize;
    l_u64Offset =
        l_u64Step < m_u32RecordSize || l_u64Step > UINT64_MAX - l_u64Offset ? UINT64_MAX : l_u64Offset + l_u64Step;
  }
  if (l_u64Offset != l_u64Size) {
    OS_PKG_FAIL("Corrupt package file...%s (%llu != %llu)", m_szPackage, static_cast<unsigned long long>(l_u64Offset),
                static_cast<unsigned long long>(l_u64Size));
    return OS_STS_FAIL;
  }
  // Trees appended to a package that cannot be extracted (a directory left
  // open by a write that stopped, a name refused) could never come out.
  COsFileSource l_source(&m_osfilePackage);
  COsPackageVisitor l_visitor;
  if (m_osfilePackage.SetFilePointer64(OS_FILE_POINTER_BEGIN, 0) != OS_STS_SUCCESS ||
      OsPackageWalk(&l_source, l_u64Size, m_szPackage, &l_visitor, nullptr, nullptr) != OS_STS_SUCCESS) {
    // The walk said why; this says what it means here.
    OS_LOGE("Package cannot be appended to...<%s>", m_szPackage);
    return OS_STS_FAIL;
  }
  // Modes 3 to 5 put the new tree beside the package's first one.
  static const char* const s_aszSuffix[] = {nullptr, nullptr, nullptr, "\\extra", "_locallow", "_normal"};
  const char* const l_szSuffix = s_aszSuffix[m_eosfilepackage];
  if (l_szSuffix == nullptr || m_szRoot[0] == 0) {
    m_szRoot[0] = 0;
  } else if (SStrCatf(m_szRoot, sizeof(m_szRoot), "%s", l_szSuffix) < 0) {
    OS_PKG_FAIL("Name too long for a package...<%s>", m_szRoot);
    return OS_STS_FAIL;
  }
  return OS_STS_SUCCESS;
}

EOSSTS CPackageWriter::ResolveSource() {
  if (std::strpbrk(m_szSource, "*?") != nullptr) {
    if (!OsFilePathCopy(m_szPattern, sizeof(m_szPattern), m_szSource)) return OS_STS_FAIL;
    SStrCpy(m_szPrefix, sizeof(m_szPrefix), ".");
    return OS_STS_SUCCESS;
  }
  // The full path names the directory itself, also for a source that ends
  // in "..": its records then carry its real name.
  char l_szSource[OS_PATH_SIZE];
  if (OsFileGetFullPath(l_szSource, sizeof(l_szSource), m_szSource) != OS_STS_SUCCESS) {
    OS_PKG_FAIL("FindFirst failed...<%s>", m_szSource);
    return OS_STS_FAIL;
  }
  OsFilePathStripTrailing(l_szSource);
  OsFileInfo l_osfileinfo;
  const EOSSTS l_eossts = OsFileFindFirst(l_szSource, &l_osfileinfo);
  m_osfileinfoSource = l_osfileinfo;  // closing the search clears the record
  m_osfileinfoSource.m_hSearch = nullptr;
  OsFileFindClose(&l_osfileinfo);
  if (l_eossts != OS_STS_SUCCESS) {
    OS_PKG_FAIL("FindFirst failed...<%s>", m_szSource);
    return l_eossts;
  }
  if (m_osfileinfoSource.m_eosfiletype != OS_FILE_TYPE_DIRECTORY) {
    if (!OsFilePathCopy(m_szPattern, sizeof(m_szPattern), l_szSource)) return OS_STS_FAIL;
    SStrCpy(m_szPrefix, sizeof(m_szPrefix), ".");
    return OS_STS_SUCCESS;
  }
  m_bDirectorySource = true;
  if (!OsFilePathJoin(m_szPattern, sizeof(m_szPattern), l_szSource, "*")) return OS_STS_FAIL;
  const int l_i = m_szRoot[0] != 0
                      ? SStrPrintf(m_szPrefix, sizeof(m_szPrefix), "%s\\%s", m_szRoot, m_osfileinfoSource.m_szName)
                      : SStrPrintf(m_szPrefix, sizeof(m_szPrefix), "%s", m_osfileinfoSource.m_szName);
  if (l_i < 0) {
    OS_PKG_FAIL("Name too long for a package...<%s>", m_szSource);
    return OS_STS_FAIL;
  }
  return OS_STS_SUCCESS;
}

bool CPackageWriter::PushPrefix(const char* a_szName) {
  return SStrCatf(m_szPrefix, sizeof(m_szPrefix), "\\%s", a_szName) >= 0;
}

void CPackageWriter::PopPrefix() {
  char* const l_psz = std::strrchr(m_szPrefix, '\\');
  if (l_psz != nullptr) *l_psz = 0;
}

// Depth first with one record per level instead of recursion: the level's
// open search and the entry it stands at (the subdirectory being walked).
EOSSTS CPackageWriter::Walk(int a_iStack, bool a_bWriting) {
  OsFileInfo* const l_aosfileinfo = m_aposfileinfo[a_iStack];
  char l_szPrefix[OS_PACKAGE_NAME_SIZE];
  SStrCpy(l_szPrefix, sizeof(l_szPrefix), m_szPrefix);
  int l_iLevel = 0;
  EOSSTS l_eossts = OsFileFindFirst(m_szPattern, &l_aosfileinfo[0]);
  if (l_eossts == OS_STS_NOTFOUND) return OS_STS_SUCCESS;  // a pattern that matches nothing
  if (l_eossts != OS_STS_SUCCESS) {
    OS_PKG_FAIL("FindFirst failed...<%s>", m_szPattern);
    return l_eossts;
  }
  bool l_bEnd = false;
  while (!l_bEnd) {
    OsFileInfo& l_osfileinfo = l_aosfileinfo[l_iLevel];
    bool l_bEntered = false;
    const bool l_bDirectory = l_osfileinfo.m_eosfiletype == OS_FILE_TYPE_DIRECTORY && !IsDots(l_osfileinfo);
    const bool l_bFile = l_osfileinfo.m_eosfiletype == OS_FILE_TYPE_FILE;
    if ((l_bFile || (l_bDirectory && m_bRecursive)) && IsLinkOrUnknown(l_osfileinfo.m_szFullPath)) {
      OS_LOGI("Link not followed...<%s>", l_osfileinfo.m_szFullPath);
    } else if (l_bDirectory && m_bRecursive) {
      // Levels count from 1 for the source's own entries.
      if (l_iLevel + 2 > OS_PACKAGE_DEPTH_MAX) {
        OS_PKG_FAIL("Directory depth overflow...<%s> %d", m_szSource, l_iLevel + 2);
        l_eossts = OS_STS_FAIL;
        break;
      }
      char l_szPattern[OS_PATH_SIZE];
      if (!PushPrefix(l_osfileinfo.m_szName)) {
        OS_PKG_FAIL("Name too long for a package...<%s>", l_osfileinfo.m_szFullPath);
        l_eossts = OS_STS_FAIL;
        break;
      }
      if (a_bWriting && (l_eossts = WriteDirectoryRecord(l_osfileinfo)) != OS_STS_SUCCESS) break;
      if (!OsFilePathJoin(l_szPattern, sizeof(l_szPattern), l_osfileinfo.m_szFullPath, "*")) {
        OS_PKG_FAIL("FindFirst failed...<%s>", l_osfileinfo.m_szFullPath);
        l_eossts = OS_STS_FAIL;
        break;
      }
      l_eossts = OsFileFindFirst(l_szPattern, &l_aosfileinfo[l_iLevel + 1]);
      if (l_eossts != OS_STS_SUCCESS && l_eossts != OS_STS_NOTFOUND) {
        OS_PKG_FAIL("FindFirst failed...<%s>", l_szPattern);
        break;
      }
      if (l_eossts == OS_STS_SUCCESS) {
        ++l_iLevel;
        l_bEntered = true;
      } else {
        l_eossts = OS_STS_SUCCESS;
        if (a_bWriting && (l_eossts = WriteDirectoryRecord(l_osfileinfo)) != OS_STS_SUCCESS) break;
        PopPrefix();
      }
    } else if (l_bFile) {
      l_eossts = a_bWriting ? PackFile(l_osfileinfo) : SizeFile(l_osfileinfo);
      if (l_eossts != OS_STS_SUCCESS) break;
    }
    if (l_bEntered) continue;
    // The next entry; a level at its end closes the directory it walked.
    for (;;) {
      l_eossts = OsFileFindNext(&l_aosfileinfo[l_iLevel]);
      if (l_eossts == OS_STS_SUCCESS) break;
      if (l_eossts != OS_STS_NOTFOUND) {
        OS_PKG_FAIL("FindNext failed...<%s>", m_szSource);
        break;
      }
      l_eossts = OS_STS_SUCCESS;
      if (l_iLevel == 0) {
        l_bEnd = true;
        break;
      }
      --l_iLevel;
      if (a_bWriting && (l_eossts = WriteDirectoryRecord(l_aosfileinfo[l_iLevel])) != OS_STS_SUCCESS) break;
      PopPrefix();
    }
    if (l_eossts != OS_STS_SUCCESS) break;
  }
  for (int l_i = 0; l_i <= l_iLevel && l_i < s_iStackSize; ++l_i) OsFileFindClose(&l_aosfileinfo[l_i]);
  SStrCpy(m_szPrefix, sizeof(m_szPrefix), l_szPrefix);
  return l_eossts;
}

EOSSTS CPackageWriter::SizeFile(const OsFileInfo& a_osfileinfo) {
  // Pictures count even when they are left out.
  if (OsPackageSkipFile(a_osfileinfo.m_szName, a_osfileinfo.m_szFullPath, true)) return OS_STS_SUCCESS;
  COsFile l_osfile;
  const EOSSTS l_eossts = OpenForPacking(&l_osfile, a_osfileinfo.m_szFullPath);
  std::uint64_t l_u64Size = 0;
  if (l_eossts == OS_STS_SUCCESS && l_osfile.Size64(&l_u64Size) == OS_STS_SUCCESS) {
    m_u64Total += l_u64Size;
  } else {
    char l_sz[64];
    m_u64Total +=
        static_cast<std::uint64_t>(SStrPrintf(l_sz, sizeof(l_sz), s_szUnable, static_cast<unsigned>(l_eossts)));
  }
  return OS_STS_SUCCESS;
}

// The file itself; else a copy of it; else a short text that says why.
EOSSTS CPackageWriter::PackOpen(COsFile* a_posfile, const OsFileInfo& a_osfileinfo, char (&a_szUsed)[OS_PATH_SIZE]) {
  a_szUsed[0] = 0;
  const EOSSTS l_eosstsFirst = OpenForPacking(a_posfile, a_osfileinfo.m_szFullPath);
  if (l_eosstsFirst == OS_STS_SUCCESS) return OS_STS_SUCCESS;
  // The log directory may be one that others write: a name left there (a
  // copy from an earlier run, or a link) is removed itself, and the copy is
  // read only when it is still the plain file just made.
  char l_szCopy[OS_PATH_SIZE];
  if (LogDirectoryFile(l_szCopy, "copy.tmp")) {
    OsFileDelete(l_szCopy, OS_FILE_TYPE_NONE, false);
    SStrCpy(a_szUsed, sizeof(a_szUsed), l_szCopy);
    if (CopyToNew(a_osfileinfo.m_szFullPath, l_szCopy, a_posfile) == OS_STS_SUCCESS) return OS_STS_SUCCESS;
    a_posfile->Close();
    OsFileDelete(l_szCopy, OS_FILE_TYPE_FILE, false);
  }
  char l_szProxy[OS_PATH_SIZE];
  if (!LogDirectoryFile(l_szProxy, "package.proxy")) {
    OS_PKG_FAIL("Open failed...<%s>", "package.proxy");
    return OS_STS_FAIL;
  }
  SStrCpy(a_szUsed, sizeof(a_szUsed), l_szProxy);
  OsFileDelete(l_szProxy, OS_FILE_TYPE_NONE, false);
  EOSSTS l_eossts = OsFileOpenPlain(a_posfile, l_szProxy, OS_FILE_PLAIN_NEW, OS_FILE_ACCESS_READWRITE);
  if (l_eossts != OS_STS_SUCCESS) {
    OS_PKG_FAIL("Open failed...<%s>", l_szProxy);
  } else if (a_posfile->Printf(s_szUnable, static_cast<unsigned>(l_eosstsFirst)) <= 0) {
    OS_PKG_FAIL("Write failed...<%s>", l_szProxy);
    l_eossts = OS_STS_FAIL;
  } else if ((l_eossts = a_posfile->SetFilePointer64(OS_FILE_POINTER_BEGIN, 0)) != OS_STS_SUCCESS) {
    OS_PKG_FAIL("SetFilePointer64 failed...<%s>", l_szProxy);
  }
  if (l_eossts != OS_STS_SUCCESS) {
    a_posfile->Close();
    OsFileDelete(l_szProxy, OS_FILE_TYPE_FILE, false);
    a_szUsed[0] = 0;
  }
  return l_eossts;
}

EOSSTS CPackageWriter::PackFile(const OsFileInfo& a_osfileinfo) {
  if (OsPackageSkipFile(a_osfileinfo.m_szName, a_osfileinfo.m_szFullPath, m_bImages)) return OS_STS_SUCCESS;
  char l_szName[OS_PACKAGE_NAME_SIZE];
  if (SStrPrintf(l_szName, sizeof(l_szName), "%s\\%s", m_szPrefix, a_osfileinfo.m_szName) < 0) {
    OS_PKG_FAIL("Name too long for a package...<%s>", a_osfileinfo.m_szFullPath);
    return OS_STS_FAIL;
  }
  COsFile l_osfile;
  char l_szUsed[OS_PATH_SIZE];
  EOSSTS l_eossts = PackOpen(&l_osfile, a_osfileinfo, l_szUsed);
  if (l_eossts != OS_STS_SUCCESS) return l_eossts;
  std::uint64_t l_u64Size = 0, l_u64Position = 0;
  if ((l_eossts = l_osfile.Size64(&l_u64Size)) != OS_STS_SUCCESS) {
    OS_PKG_FAIL("Size64 failed...<%s>", a_osfileinfo.m_szFullPath);
  } else if ((l_eossts = m_osfilePackage.GetFilePointer64(&l_u64Position)) != OS_STS_SUCCESS) {
    OS_PKG_FAIL("SetFilePointer64 failed...<%s>", m_szPackage);
  } else {
    l_eossts = WriteRecord(l_szName, OS_FILE_TYPE_FILE, a_osfileinfo.m_eosfileaccess,
                           a_osfileinfo.m_ostimerecordModified, a_osfileinfo.m_ostimerecordModified, l_u64Size);
  }
  if (l_eossts == OS_STS_SUCCESS && l_u64Size > 0) {
    // The record's size becomes the stream's length once it is known. The
    // source stays open from the first look to the last byte: its method
    // follows its own name, also when a copy is read.
    std::uint64_t l_u64Stream = 0;
    l_eossts = OsSplitWriteOpen(&m_osfilePackage, &l_u64Stream, &l_osfile, a_osfileinfo.m_szFullPath, m_eoscompress,
                                m_pfncallback, &m_progress, &m_workers);
    if (l_eossts == OS_STS_FAIL) OS_LOGE("Compress failed...<%s>", a_osfileinfo.m_szFullPath);
    std::uint8_t l_au8Size[8];
    OsPkgPut64(l_au8Size, l_u64Stream);
    std::uint32_t l_u32Written = 0;
    if (l_eossts == OS_STS_SUCCESS &&
        (m_osfilePackage.SetFilePointer64(OS_FILE_POINTER_BEGIN, static_cast<std::int64_t>(l_u64Position)) !=
             OS_STS_SUCCESS ||
         m_osfilePackage.Write(l_au8Size, sizeof(l_au8Size), &l_u32Written) != OS_STS_SUCCESS ||
         l_u32Written != sizeof(l_au8Size) ||
         m_osfilePackage.SetFilePointer64(OS_FILE_POINTER_END, 0) != OS_STS_SUCCESS)) {
      OS_PKG_FAIL("SetFilePointer64 failed...<%s>", m_szPackage);
      l_eossts = OS_STS_FAIL;
    }
  } else if (l_eossts == OS_STS_SUCCESS) {
    l_eossts = OsFilePackageNotify(m_pfncallback, &m_progress, l_szName, 0, 0, 0);
  }
  l_osfile.Close();
  if (l_szUsed[0] != 0) OsFileDelete(l_szUsed, OS_FILE_TYPE_FILE, false);
  return l_eossts;
}

EOSSTS CPackageWriter::WriteRecord(const char* a_szName, EOSFILETYPE a_eosfiletype, EOSFILEACCESS a_eosfileaccess,
                                   const OsTimeRecord& a_ostimerecordAccessed,
                                   const OsTimeRecord& a_ostimerecordModified, std::uint64_t a_u64Size) {
  OsPackageRecord l_ospackagerecord = {};
  l_ospackagerecord.m_u64Size = a_u64Size;
  SStrCpy(l_ospackagerecord.m_szFilename, sizeof(l_ospackagerecord.m_szFilename), a_szName);
  l_ospackagerecord.m_u32OsFileType = a_eosfiletype;
  l_ospackagerecord.m_u32OsFileAccess =
      a_eosfileaccess == OS_FILE_ACCESS_READ ? OS_FILE_ACCESS_READ : OS_FILE_ACCESS_READWRITE;
  l_ospackagerecord.m_ostimerecordAccessed = a_ostimerecordAccessed;
  l_ospackagerecord.m_ostimerecordModified = a_ostimerecordModified;
  std::uint8_t l_au8[OS_PACKAGE_RECORD_SIZE];
  OsPackageRecordEncode(l_ospackagerecord, l_au8);
  // A package whose reader knows longer records gets them, zero-filled.
  std::uint32_t l_u32Written = 0;
  EOSSTS l_eossts = m_osfilePackage.Write(l_au8, sizeof(l_au8), &l_u32Written);
  bool l_bWritten = l_eossts == OS_STS_SUCCESS && l_u32Written == sizeof(l_au8);
  static const std::uint8_t s_au8Zero[4096] = {};
  for (std::uint32_t l_u32Left = m_u32RecordSize - OS_PACKAGE_RECORD_SIZE; l_bWritten && l_u32Left > 0;) {
    const std::uint32_t l_u32 = l_u32Left < sizeof(s_au8Zero) ? l_u32Left : sizeof(s_au8Zero);
    l_bWritten = m_osfilePackage.Write(s_au8Zero, l_u32, &l_u32Written) == OS_STS_SUCCESS && l_u32Written == l_u32;
    l_u32Left -= l_u32;
  }
  if (!l_bWritten) {
    OS_PKG_FAIL("Write failed...<%s>", m_szPackage);
    return OS_STS_FAIL;
  }
  return OS_STS_SUCCESS;
}

// A failed write takes back what it wrote: a package it appended to gets
// its earlier length and header again; one it created goes.
void CPackageWriter::Undo(EOSSTS a_eossts) {
  if (!m_bExisted || !m_bWritten) return;
  std::uint32_t l_u32Written = 0;
  const bool l_bRestored = m_osfilePackage.SetFilePointer64(OS_FILE_POINTER_BEGIN,
                                                            static_cast<std::int64_t>(m_u64Before)) == OS_STS_SUCCESS &&
                           m_osfilePackage.SetEndOfFile() == OS_STS_SUCCESS &&
                           (m_u64Before < OS_PACKAGE_HEADER_SIZE ||
                            (m_osfilePackage.SetFilePointer64(OS_FILE_POINTER_BEGIN, 0) == OS_STS_SUCCESS &&
                             m_osfilePackage.Write(m_au8Before, sizeof(m_au8Before), &l_u32Written) == OS_STS_SUCCESS &&
                             l_u32Written == sizeof(m_au8Before)));
  if (!l_bRestored)
    OS_LOGE("Package not restored after a failed append...<%s> %d", m_szPackage, static_cast<int>(a_eossts));
}

// ---- the extractor ----

class CPackageExtractor : public COsPackageVisitor {
 public:
  CPackageExtractor(const char* a_szDestination, bool a_bKeepExisting, COsPackageDump* a_posdump)
      : m_szDestination(a_szDestination),
        m_bKeepExisting(a_bKeepExisting),
        m_posdump(a_posdump),
        m_sink(&m_osfileTarget) {}

  EOSSTS Common(const OsPackageHeader& a_ospackageheader) override {
    if (m_posdump != nullptr) m_posdump->Common(a_ospackageheader);
    return OS_STS_SUCCESS;
  }
  EOSSTS Header(const OsPackageHeader& a_ospackageheader) override {
    if (m_posdump != nullptr) m_posdump->Header(a_ospackageheader);
    return OS_STS_SUCCESS;
  }
  EOSSTS Record(const OsPackageRecord& a_ospackagerecord, std::uint32_t a_u32Count,
                std::uint64_t a_u64Offset) override {
    if (m_posdump != nullptr) m_posdump->Record(a_ospackagerecord, a_u32Count, a_u64Offset);
    return OS_STS_SUCCESS;
  }
  EOSSTS Directory(const OsPackageRecord& a_ospackagerecord, bool a_bFirst, bool a_bClosing) override;
  EOSSTS FileBegin(const OsPackageRecord& a_ospackagerecord, COsByteSink** a_pposbytesink) override;
  EOSSTS FileEnd(const OsPackageRecord& a_ospackagerecord, EOSSTS a_eossts) override;
  // The progress record names the file being made.
  const char* ProgressName(const OsPackageRecord& a_ospackagerecord) override {
    return m_szTarget[0] != 0 ? m_szTarget : a_ospackagerecord.m_szFilename;
  }
  COsWorkers* Workers(std::uint64_t a_u64FileSize) override { return m_workers.For(a_u64FileSize); }

 private:
  EOSSTS Target(const char* a_szName, bool* a_pbRoot);
  EOSSTS MakeDirectory(const char* a_szPath, bool a_bRoot);

  const char* m_szDestination;
  bool m_bKeepExisting;
  COsPackageDump* m_posdump;
  char m_szTarget[OS_PATH_SIZE] = "";
  COsFile m_osfileTarget;
  COsFileBackgroundSink m_sink;
  COsSplitWorkers m_workers;
};

// The record's path below the destination; the names passed the walk's
// check, so nothing here climbs out.
EOSSTS CPackageExtractor::Target(const char* a_szName, bool* a_pbRoot) {
  char l_szRelative[OS_PACKAGE_NAME_SIZE];
  RelativePath(a_szName, l_szRelative);
  *a_pbRoot = l_szRelative[0] == 0;
  const bool l_bFits = *a_pbRoot ? OsFilePathCopy(m_szTarget, sizeof(m_szTarget), m_szDestination)
                                 : OsFilePathJoin(m_szTarget, sizeof(m_szTarget), m_szDestination, l_szRelative);
  if (!l_bFits) {
    OS_PKG_FAIL("Name too long for the destination...<%s> <%s>", m_szDestination, a_szName);
    return OS_STS_FAIL;
  }
  OsFilePathStripTrailing(m_szTarget);
  return OS_STS_SUCCESS;
}

// Directories are made below the destination only, never through a link
// that is already there.
EOSSTS CPackageExtractor::MakeDirectory(const char* a_szPath, bool a_bRoot) {
  const EOSSTS l_eossts =
      a_bRoot ? OsFileCreateDirectory(a_szPath, nullptr) : OsFileCreateDirectoryIn(m_szDestination, a_szPath, nullptr);
  if (l_eossts == OS_STS_SUCCESS || l_eossts == OS_STS_EXISTS) return OS_STS_SUCCESS;
  OS_PKG_FAIL("OsFileCreateDirectory failed...<%s>", a_szPath);
  return l_eossts;
}

EOSSTS CPackageExtractor::Directory(const OsPackageRecord& a_ospackagerecord, bool a_bFirst, bool a_bClosing) {
  (void)a_bClosing;
  bool l_bRoot = false;
  EOSSTS l_eossts = Target(a_ospackagerecord.m_szFilename, &l_bRoot);
  if (l_eossts != OS_STS_SUCCESS) return l_eossts;
  // The package's first tree replaces what is there; the destination
  // itself is never removed, and the delete holds every folder between the
  // two, so it cannot be bent out of the destination.
  if (a_bFirst && !m_bKeepExisting && !l_bRoot && OsFileExists(m_szTarget)) {
    l_eossts = OsFileDeleteIn(m_szDestination, m_szTarget, OS_FILE_TYPE_DIRECTORY, true);
    if (l_eossts != OS_STS_SUCCESS) OS_LOGE("OsFileDelete failed...<%s> %d", m_szTarget, static_cast<int>(l_eossts));
  }
  if ((l_eossts = MakeDirectory(m_szTarget, l_bRoot)) != OS_STS_SUCCESS) return l_eossts;
  // The destination itself is the caller's to choose (a link there is
  // theirs); below it nothing is opened through a link.
  COsFile l_osfile;
  l_eossts = l_bRoot ? l_osfile.Open(m_szTarget, OS_FILE_OPEN_BACKUP, OS_FILE_ACCESS_READWRITE, OS_FILE_SHARE_READWRITE)
                     : OsFileOpenPlain(&l_osfile, m_szTarget, OS_FILE_PLAIN_DIRECTORY, OS_FILE_ACCESS_READWRITE);
  if (l_eossts != OS_STS_SUCCESS) {
    OS_PKG_FAIL("Open failed...<%s>", m_szTarget);
    return l_eossts;
  }
  if (l_osfile.SetFileTimes(&a_ospackagerecord.m_ostimerecordAccessed, &a_ospackagerecord.m_ostimerecordModified) !=
      OS_STS_SUCCESS)
    OS_LOGE("SetFileTimes failed...<%s>", m_szTarget);
  return OS_STS_SUCCESS;
}

EOSSTS CPackageExtractor::FileBegin(const OsPackageRecord& a_ospackagerecord, COsByteSink** a_pposbytesink) {
  *a_pposbytesink = nullptr;
  bool l_bRoot = false;
  EOSSTS l_eossts = Target(a_ospackagerecord.m_szFilename, &l_bRoot);
  if (l_eossts != OS_STS_SUCCESS) return l_eossts;
  // The folder it goes into, made (or checked) the same way.
  char l_szParent[OS_PATH_SIZE];
  SStrCpy(l_szParent, sizeof(l_szParent), m_szTarget);
  std::size_t l_sizetSeparator = 0;
  OsFilePathSplit(l_szParent, &l_sizetSeparator, nullptr);
  l_szParent[l_sizetSeparator] = 0;
  if ((l_eossts = MakeDirectory(l_szParent, _stricmp(l_szParent, m_szDestination) == 0)) != OS_STS_SUCCESS)
    return l_eossts;
  // What is there goes first (a link itself, never what it leads to, and a
  // read-only file too), so the file is made new and nothing but it is written.
  if (OsFileExists(m_szTarget) &&
      (l_eossts = OsFileDeleteIn(m_szDestination, m_szTarget, OS_FILE_TYPE_FILE, false)) != OS_STS_SUCCESS) {
    OS_PKG_FAIL("Cannot replace what is there...<%s>", m_szTarget);
    return l_eossts;
  }
  if ((l_eossts = OsFileOpenPlain(&m_osfileTarget, m_szTarget, OS_FILE_PLAIN_NEW, OS_FILE_ACCESS_WRITE)) !=
      OS_STS_SUCCESS) {
    OS_PKG_FAIL("Open failed...<%s>", m_szTarget);
    return l_eossts;
  }
  if (a_ospackagerecord.m_u64Size != 0) *a_pposbytesink = &m_sink;
  return OS_STS_SUCCESS;
}

EOSSTS CPackageExtractor::FileEnd(const OsPackageRecord& a_ospackagerecord, EOSSTS a_eossts) {
  if (a_eossts != OS_STS_SUCCESS) {
    // No partial file stays behind.
    if (m_osfileTarget.IsOpen()) {
      m_osfileTarget.Close();
      OsFileDelete(m_szTarget, OS_FILE_TYPE_FILE, false);
    }
    return a_eossts;
  }
  if (m_osfileTarget.SetFileTimes(&a_ospackagerecord.m_ostimerecordAccessed,
                                  &a_ospackagerecord.m_ostimerecordModified) != OS_STS_SUCCESS)
    OS_LOGE("SetFileTimes failed...<%s>", m_szTarget);
  m_osfileTarget.Close();
  const EOSFILEACCESS l_eosfileaccess =
      a_ospackagerecord.m_u32OsFileAccess == OS_FILE_ACCESS_READ ? OS_FILE_ACCESS_READ : OS_FILE_ACCESS_READWRITE;
  if (OsFileSetAccess(m_szTarget, l_eosfileaccess, false, 1) != OS_STS_SUCCESS)
    OS_LOGE("SetAccess failed...<%s>", m_szTarget);
  return OS_STS_SUCCESS;
}

}  // namespace

EOSSTS COsFile::PackageWrite(const char* a_szPackage, const char* a_szSource, bool a_bImages,
                             EOSFILEPACKAGE a_eosfilepackage, bool a_bRecursive, EOSCOMPRESS a_eoscompress,
                             OsFilePackageCallback a_pfncallback) {
  OS_RETURN_IF_NULL(m_posfileimpl, OS_LOG_ASSERT, "m_posfileimpl is null...", OS_STS_FAIL);
  OS_RETURN_IF(a_szPackage == nullptr || a_szPackage[0] == 0, OS_LOG_ASSERT, "a_szPackage is empty...", OS_STS_BADARG);
  OS_RETURN_IF(a_szSource == nullptr || a_szSource[0] == 0, OS_LOG_ASSERT, "a_szSource is empty...", OS_STS_BADARG);
  OS_RETURN_IF(a_eosfilepackage < OS_FILE_PACKAGE_CREATE || a_eosfilepackage > OS_FILE_PACKAGE_APPEND_NORMAL,
               OS_LOG_ASSERT, "a_eosfilepackage is bad...%u", OS_STS_BADARG, static_cast<unsigned>(a_eosfilepackage));
  OS_RETURN_IF(a_eoscompress < OS_COMPRESS_AUTOMATIC || a_eoscompress > OS_COMPRESS_RLE, OS_LOG_ASSERT,
               "a_eoscompress is bad...%u", OS_STS_BADARG, static_cast<unsigned>(a_eoscompress));
  OsFilePackageClearError();
  CPackageWriter l_writer(a_szPackage, a_szSource, a_bImages, a_eosfilepackage, a_bRecursive, a_eoscompress,
                          a_pfncallback);
  return l_writer.Run();
}

EOSSTS COsFile::PackageExtract(const char* a_szDestination, const char* a_szPackage, bool a_bKeepExisting,
                               OsFilePackageCallback a_pfncallback, bool a_bDump) {
  OS_RETURN_IF_NULL(m_posfileimpl, OS_LOG_ASSERT, "m_posfileimpl is null...", OS_STS_FAIL);
  OS_RETURN_IF(a_szDestination == nullptr || a_szDestination[0] == 0, OS_LOG_ASSERT, "a_szDestination is empty...",
               OS_STS_BADARG);
  OS_RETURN_IF(a_szPackage == nullptr || a_szPackage[0] == 0, OS_LOG_ASSERT, "a_szPackage is empty...", OS_STS_BADARG);
  OsFilePackageClearError();
  COsFile l_osfileDump;
  COsFileSink l_sinkDump(&l_osfileDump);
  COsPackageDump l_dump(&l_sinkDump);
  EOSSTS l_eossts = OS_STS_SUCCESS;
  if (a_bDump) {
    char l_szDump[OS_PATH_SIZE];
    if (!LogDirectoryFile(l_szDump, "ospackagedump.txt")) return OS_STS_FAIL;
    OsFileDelete(l_szDump, OS_FILE_TYPE_NONE, false);
    if ((l_eossts = OsFileOpenPlain(&l_osfileDump, l_szDump, OS_FILE_PLAIN_NEW, OS_FILE_ACCESS_WRITE)) !=
        OS_STS_SUCCESS) {
      OS_PKG_FAIL("Open failed...<%s>", l_szDump);
      return l_eossts;
    }
    l_dump.Begin(a_szPackage);
  }

  char l_szDestination[OS_PATH_SIZE];
  if (!OsFilePathCopy(l_szDestination, sizeof(l_szDestination), a_szDestination)) return OS_STS_FAIL;
  OsFilePathStripTrailing(l_szDestination);
  OsFileInfo l_osfileinfo;
  l_eossts = OsFileFindFirst(l_szDestination, &l_osfileinfo);
  const EOSFILETYPE l_eosfiletype = l_osfileinfo.m_eosfiletype;
  OsFileFindClose(&l_osfileinfo);
  if (l_eossts == OS_STS_SUCCESS && l_eosfiletype != OS_FILE_TYPE_DIRECTORY) {
    OS_PKG_FAIL("Destination not a directory...<%s>", a_szDestination);
    return OS_STS_FAIL;
  }
  if (l_eossts != OS_STS_SUCCESS && l_eossts != OS_STS_NOTFOUND) {
    OS_PKG_FAIL("OsFileFindFirst failed...<%s>", a_szDestination);
    return l_eossts;
  }

  COsFile l_osfilePackage;
  if ((l_eossts = l_osfilePackage.Open(a_szPackage, OS_FILE_OPEN_EXISTING, OS_FILE_ACCESS_READ, OS_FILE_SHARE_READ)) !=
      OS_STS_SUCCESS) {
    OS_PKG_FAIL("Open failed...<%s>", a_szPackage);
    return l_eossts;
  }
  std::uint64_t l_u64Size = 0;
  if ((l_eossts = l_osfilePackage.Size64(&l_u64Size)) != OS_STS_SUCCESS) {
    OS_PKG_FAIL("Size64 failed...<%s>", a_szPackage);
    return l_eossts;
  }
  OsFilePackageProgress l_progress;
  OsFilePackageProgressInit(&l_progress);
  COsFileSource l_source(&l_osfilePackage);
  CPackageExtractor l_extractor(l_szDestination, a_bKeepExisting, a_bDump ? &l_dump : nullptr);
  return OsPackageWalk(&l_source, l_u64Size, a_szPackage, &l_extractor, a_pfncallback, &l_progress);
}
