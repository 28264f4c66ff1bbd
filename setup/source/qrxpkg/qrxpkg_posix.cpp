// qrxpkg's Linux back end: the package read through a file descriptor, and
// its tree recreated below the destination.
//
// Everything below the destination is reached from a descriptor of the
// destination, one part at a time, without following links: a link that
// someone planted inside the destination (to a directory or to a file) is
// never gone through, whatever it points to, and a directory swapped for a
// link between two calls is met as the link it has become.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "os_cosstring.h"
#include "qrxpkg.h"
#include "qrxpkg_posix.h"

static_assert(sizeof(off_t) == 8, "packages pass 2 GiB: the build needs 64-bit file offsets");

namespace {

std::uint32_t s_u32Threads = 0;
COsStdWorkers* s_posstdworkers = nullptr;  // the walks decode on them

// One owned descriptor.
class CFd {
 public:
  explicit CFd(int a_iFd = -1) : m_iFd(a_iFd) {}
  ~CFd() { Reset(); }
  CFd(const CFd&) = delete;
  CFd& operator=(const CFd&) = delete;
  void Reset(int a_iFd = -1) {
    if (m_iFd >= 0) close(m_iFd);
    m_iFd = a_iFd;
  }
  int Release() {
    const int l_iFd = m_iFd;
    m_iFd = -1;
    return l_iFd;
  }
  int Get() const { return m_iFd; }

 private:
  int m_iFd;
};

class CFdSource : public COsByteSource {
 public:
  explicit CFdSource(int a_iFd) : m_fd(a_iFd) {}
  EOSSTS Read(void* a_pv, std::uint32_t a_u32Bytes, std::uint32_t* a_pu32Read) override {
    *a_pu32Read = 0;
    while (*a_pu32Read < a_u32Bytes) {
      const ssize_t l_ssizet = read(m_fd.Get(), static_cast<char*>(a_pv) + *a_pu32Read, a_u32Bytes - *a_pu32Read);
      if (l_ssizet == 0) break;
      if (l_ssizet < 0) {
        if (errno == EINTR) continue;
        QrxPkgNoteError("cannot read: %s", std::strerror(errno));
        return OS_STS_FAIL;
      }
      *a_pu32Read += static_cast<std::uint32_t>(l_ssizet);
    }
    return OS_STS_SUCCESS;
  }
  EOSSTS Skip(std::uint64_t a_u64Bytes) override {
    if (a_u64Bytes > static_cast<std::uint64_t>(INT64_MAX) ||
        lseek(m_fd.Get(), static_cast<off_t>(a_u64Bytes), SEEK_CUR) < 0) {
      QrxPkgNoteError("cannot seek: %s", std::strerror(errno));
      return OS_STS_FAIL;
    }
    return OS_STS_SUCCESS;
  }

 private:
  CFd m_fd;
};

class CFdSink : public COsByteSink {
 public:
  EOSSTS Write(const void* a_pv, std::uint32_t a_u32Bytes) override {
    for (std::uint32_t l_u32Done = 0; l_u32Done < a_u32Bytes;) {
      const ssize_t l_ssizet = write(m_iFd, static_cast<const char*>(a_pv) + l_u32Done, a_u32Bytes - l_u32Done);
      if (l_ssizet < 0) {
        if (errno == EINTR) continue;
        QrxPkgNoteError("cannot write %s: %s", m_szName, std::strerror(errno));
        return OS_STS_FAIL;
      }
      l_u32Done += static_cast<std::uint32_t>(l_ssizet);
    }
    return OS_STS_SUCCESS;
  }
  int m_iFd = -1;  // the extractor's file, not owned
  const char* m_szName = "";
};

// The parts of a record's name that name something: "." and empty parts
// (doubled separators) stand for the directory they are in. The engine has
// refused "..", roots and drives before a name comes here.
struct Parts {
  char m_sz[OS_PACKAGE_NAME_SIZE];
  const char* m_aszPart[OS_PACKAGE_NAME_SIZE / 2];
  int m_iParts = 0;
};

void Split(const char* a_szName, Parts* a_pparts) {
  SStrCpy(a_pparts->m_sz, sizeof(a_pparts->m_sz), a_szName);
  a_pparts->m_iParts = 0;
  char* l_psz = a_pparts->m_sz;
  while (*l_psz != '\0') {
    char* const l_pszPart = l_psz;
    while (*l_psz != '\0' && *l_psz != '\\' && *l_psz != '/') ++l_psz;
    if (*l_psz != '\0') *l_psz++ = '\0';
    if (l_pszPart[0] != '\0' && std::strcmp(l_pszPart, ".") != 0) a_pparts->m_aszPart[a_pparts->m_iParts++] = l_pszPart;
  }
}

EOSSTS Refused(const char* a_szName, const char* a_szWhat, int a_iErrno) {
  QrxPkgNoteError("%s: %s: %s", a_szName, a_szWhat, std::strerror(a_iErrno));
  return OS_STS_FAIL;
}

// Opens directory a_szPart of a_iParent, made first when a_bCreate and it is
// missing. A link or a file standing there is refused: where a link leads
// may well lie outside the destination.
EOSSTS OpenDirectory(int a_iParent, const char* a_szPart, const char* a_szName, bool a_bCreate, CFd* a_pfd) {
  int l_iFd = openat(a_iParent, a_szPart, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (l_iFd < 0 && errno == ENOENT && a_bCreate) {
    if (mkdirat(a_iParent, a_szPart, 0777) != 0 && errno != EEXIST)
      return Refused(a_szName, "cannot create the directory", errno);
    l_iFd = openat(a_iParent, a_szPart, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  }
  if (l_iFd < 0) {
    if (errno == ELOOP || errno == ENOTDIR)
      QrxPkgNoteError("%s: a link or a file stands where a directory goes; it is not followed", a_szName);
    else
      Refused(a_szName, "cannot open the directory", errno);
    return OS_STS_FAIL;
  }
  a_pfd->Reset(l_iFd);
  return OS_STS_SUCCESS;
}

// Removes a_szPart of a_iParent with everything below it. A link is removed
// as itself; a directory is entered only through a descriptor opened without
// following links.
constexpr int s_iRemoveDepthMax = 256;

EOSSTS RemoveTree(int a_iParent, const char* a_szPart, const char* a_szName, int a_iDepth) {
  struct stat l_stat;
  if (fstatat(a_iParent, a_szPart, &l_stat, AT_SYMLINK_NOFOLLOW) != 0)
    return errno == ENOENT ? OS_STS_SUCCESS : Refused(a_szName, "cannot replace the tree", errno);
  if (!S_ISDIR(l_stat.st_mode))
    return unlinkat(a_iParent, a_szPart, 0) == 0 || errno == ENOENT
               ? OS_STS_SUCCESS
               : Refused(a_szName, "cannot replace the tree", errno);
  if (a_iDepth == s_iRemoveDepthMax) return Refused(a_szName, "cannot replace the tree", ELOOP);
  const int l_iFd = openat(a_iParent, a_szPart, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (l_iFd < 0) {
    // Swapped for a link since the look: removed as a link.
    if ((errno == ELOOP || errno == ENOTDIR) && unlinkat(a_iParent, a_szPart, 0) == 0) return OS_STS_SUCCESS;
    return Refused(a_szName, "cannot replace the tree", errno);
  }
  DIR* const l_pdir = fdopendir(l_iFd);
  if (l_pdir == nullptr) {
    const int l_iErrno = errno;
    close(l_iFd);
    return Refused(a_szName, "cannot replace the tree", l_iErrno);
  }
  // What readdir returns after an entry was removed is unspecified: a pass
  // that left something behind is repeated.
  EOSSTS l_eossts = OS_STS_SUCCESS;
  int l_iErrno = ENOTEMPTY;
  for (int l_iPass = 0; l_iPass < 3 && l_iErrno == ENOTEMPTY; ++l_iPass) {
    rewinddir(l_pdir);
    while (const dirent* const l_pdirent = readdir(l_pdir)) {
      if (std::strcmp(l_pdirent->d_name, ".") == 0 || std::strcmp(l_pdirent->d_name, "..") == 0) continue;
      l_eossts = RemoveTree(dirfd(l_pdir), l_pdirent->d_name, a_szName, a_iDepth + 1);
      if (l_eossts != OS_STS_SUCCESS) break;
    }
    if (l_eossts != OS_STS_SUCCESS) break;
    l_iErrno = unlinkat(a_iParent, a_szPart, AT_REMOVEDIR) == 0 ? 0 : errno;
  }
  closedir(l_pdir);
  // A failure further down has said why already.
  if (l_eossts != OS_STS_SUCCESS) return l_eossts;
  return l_iErrno == 0 ? OS_STS_SUCCESS : Refused(a_szName, "cannot replace the tree", l_iErrno);
}

// A record's times; a time that names no real moment is left alone.
void ToTimespec(const OsTimeRecord& a_ostimerecord, timespec* a_ptimespec) {
  std::int64_t l_i64Seconds = 0;
  std::uint32_t l_u32Nanoseconds = 0;
  if (!OsPackageRecordToUnix(a_ostimerecord, &l_i64Seconds, &l_u32Nanoseconds)) {
    a_ptimespec->tv_sec = 0;
    a_ptimespec->tv_nsec = UTIME_OMIT;
    return;
  }
  a_ptimespec->tv_sec = static_cast<time_t>(l_i64Seconds);
  a_ptimespec->tv_nsec = static_cast<long>(l_u32Nanoseconds);
}

EOSSTS SetTimes(int a_iFd, const OsPackageRecord& a_ospackagerecord) {
  timespec l_atimespec[2];
  ToTimespec(a_ospackagerecord.m_ostimerecordAccessed, &l_atimespec[0]);
  ToTimespec(a_ospackagerecord.m_ostimerecordModified, &l_atimespec[1]);
  if (futimens(a_iFd, l_atimespec) == 0) return OS_STS_SUCCESS;
  return Refused(a_ospackagerecord.m_szFilename, "cannot set the times", errno);
}

class CExtractVisitor : public COsPackageVisitor {
 public:
  CExtractVisitor(int a_iRoot, bool a_bKeep) : m_iRoot(a_iRoot), m_bKeep(a_bKeep) {}

  COsWorkers* Workers(std::uint64_t a_u64FileSize) override {
    (void)a_u64FileSize;
    return QrxPkgWorkers();
  }

  EOSSTS Directory(const OsPackageRecord& a_ospackagerecord, bool a_bFirst, bool a_bClosing) override {
    const char* const l_szName = a_ospackagerecord.m_szFilename;
    CFd l_fdParent;
    const char* l_szLeaf = nullptr;
    if (OpenParent(l_szName, &l_fdParent, &l_szLeaf) != OS_STS_SUCCESS) return OS_STS_FAIL;
    // The destination itself: never replaced.
    if (l_szLeaf[0] == '\0') return a_bClosing ? SetTimes(m_iRoot, a_ospackagerecord) : OS_STS_SUCCESS;
    if (a_bFirst && !m_bKeep && !OsPackageNameIsRoot(l_szName) &&
        RemoveTree(l_fdParent.Get(), l_szLeaf, l_szName, 0) != OS_STS_SUCCESS)
      return OS_STS_FAIL;
    CFd l_fd;
    if (OpenDirectory(l_fdParent.Get(), l_szLeaf, l_szName, true, &l_fd) != OS_STS_SUCCESS) return OS_STS_FAIL;
    // The times wait for the closing record: creating the contents would
    // change them again. A directory's read-only mark is not applied: on
    // Windows it says nothing about the directory's contents, here it would
    // lock them in.
    return a_bClosing ? SetTimes(l_fd.Get(), a_ospackagerecord) : OS_STS_SUCCESS;
  }

  EOSSTS FileBegin(const OsPackageRecord& a_ospackagerecord, COsByteSink** a_pposbytesink) override {
    *a_pposbytesink = nullptr;
    const char* const l_szName = a_ospackagerecord.m_szFilename;
    const char* l_szLeaf = nullptr;
    if (OpenParent(l_szName, &m_fdParent, &l_szLeaf) != OS_STS_SUCCESS) return OS_STS_FAIL;
    if (l_szLeaf[0] == '\0') {
      QrxPkgNoteError("%s: a file record names the destination itself", l_szName);
      return OS_STS_FAIL;
    }
    SStrCpy(m_szLeaf, sizeof(m_szLeaf), l_szLeaf);
    // Whatever stands under the name goes first and the file is made anew:
    // opening it would write through a link or a second hard link to a file
    // elsewhere, or be refused for an earlier read-only copy.
    struct stat l_stat;
    if (fstatat(m_fdParent.Get(), m_szLeaf, &l_stat, AT_SYMLINK_NOFOLLOW) == 0) {
      if (S_ISDIR(l_stat.st_mode)) {
        QrxPkgNoteError("%s: a directory stands where the file goes", l_szName);
        return OS_STS_FAIL;
      }
      if (unlinkat(m_fdParent.Get(), m_szLeaf, 0) != 0) return Refused(l_szName, "cannot replace the file", errno);
    }
    const int l_iFd = openat(m_fdParent.Get(), m_szLeaf, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (l_iFd < 0) return Refused(l_szName, "cannot create the file", errno);
    m_fdFile.Reset(l_iFd);
    m_fdsink.m_iFd = l_iFd;
    m_fdsink.m_szName = l_szName;
    *a_pposbytesink = &m_fdsink;
    return OS_STS_SUCCESS;
  }

  EOSSTS FileEnd(const OsPackageRecord& a_ospackagerecord, EOSSTS a_eossts) override {
    EOSSTS l_eossts = a_eossts;
    if (l_eossts == OS_STS_SUCCESS) l_eossts = Finish(a_ospackagerecord);
    m_fdFile.Reset();
    // A file that did not come out whole is not left behind.
    if (l_eossts != OS_STS_SUCCESS) unlinkat(m_fdParent.Get(), m_szLeaf, 0);
    m_fdParent.Reset();
    return l_eossts;
  }

 private:
  // Opens the directory that holds the name's last part, making missing
  // directories on the way, and gives that part (empty when the name is the
  // destination itself).
  EOSSTS OpenParent(const char* a_szName, CFd* a_pfdParent, const char** a_pszLeaf) {
    Split(a_szName, &m_parts);
    a_pfdParent->Reset(fcntl(m_iRoot, F_DUPFD_CLOEXEC, 0));
    if (a_pfdParent->Get() < 0) return Refused(a_szName, "cannot open the destination", errno);
    for (int l_i = 0; l_i + 1 < m_parts.m_iParts; ++l_i) {
      CFd l_fd;
      if (OpenDirectory(a_pfdParent->Get(), m_parts.m_aszPart[l_i], a_szName, true, &l_fd) != OS_STS_SUCCESS)
        return OS_STS_FAIL;
      a_pfdParent->Reset(l_fd.Release());
    }
    *a_pszLeaf = m_parts.m_iParts == 0 ? "" : m_parts.m_aszPart[m_parts.m_iParts - 1];
    return OS_STS_SUCCESS;
  }

  EOSSTS Finish(const OsPackageRecord& a_ospackagerecord) {
    const char* const l_szName = a_ospackagerecord.m_szFilename;
    struct stat l_stat;
    if (a_ospackagerecord.m_u32OsFileAccess == OS_FILE_ACCESS_READ &&
        (fstat(m_fdFile.Get(), &l_stat) != 0 || fchmod(m_fdFile.Get(), l_stat.st_mode & 07555) != 0))
      return Refused(l_szName, "cannot make the file read-only", errno);
    if (SetTimes(m_fdFile.Get(), a_ospackagerecord) != OS_STS_SUCCESS) return OS_STS_FAIL;
    // A full disk may show only when the file is closed.
    if (close(m_fdFile.Release()) != 0) return Refused(l_szName, "cannot write the file", errno);
    return OS_STS_SUCCESS;
  }

  int m_iRoot;
  bool m_bKeep;
  Parts m_parts;
  CFd m_fdParent;  // of the file being written
  CFd m_fdFile;
  char m_szLeaf[OS_PACKAGE_NAME_SIZE] = "";
  CFdSink m_fdsink;
};

// Creates the destination and the directories above it that are missing.
EOSSTS MakeDestination(const char* a_szDestination) {
  char l_sz[PATH_MAX];
  if (a_szDestination[0] == '\0') return Refused(a_szDestination, "cannot create", ENOENT);
  if (SStrLen(a_szDestination, sizeof(l_sz)) < 0) return Refused(a_szDestination, "cannot create", ENAMETOOLONG);
  SStrCpy(l_sz, sizeof(l_sz), a_szDestination);
  for (char* l_psz = l_sz + 1;; ++l_psz) {
    if (*l_psz != '/' && *l_psz != '\0') continue;
    const char l_c = *l_psz;
    *l_psz = '\0';
    if (mkdir(l_sz, 0777) != 0 && errno != EEXIST) return Refused(l_sz, "cannot create", errno);
    *l_psz = l_c;
    if (l_c == '\0') return OS_STS_SUCCESS;
  }
}

}  // namespace

void QrxPkgStart(bool a_bVerbose) { QrxPkgPosixSetVerbose(a_bVerbose); }

void QrxPkgSetThreads(std::uint32_t a_u32Threads) { s_u32Threads = a_u32Threads; }

COsWorkers* QrxPkgWorkers() {
  if (s_posstdworkers == nullptr) s_posstdworkers = new (std::nothrow) COsStdWorkers(s_u32Threads);
  return s_posstdworkers;
}

void QrxPkgStop() {
  delete s_posstdworkers;
  s_posstdworkers = nullptr;
}

bool QrxPkgStderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

std::unique_ptr<COsByteSource> QrxPkgOpen(const char* a_szPackage, std::uint64_t* a_pu64Size) {
  CFd l_fd(open(a_szPackage, O_RDONLY | O_CLOEXEC));
  struct stat l_stat;
  if (l_fd.Get() < 0 || fstat(l_fd.Get(), &l_stat) != 0) {
    QrxPkgNoteError("cannot open: %s", std::strerror(errno));
    return nullptr;
  }
  if (!S_ISREG(l_stat.st_mode)) {
    QrxPkgNoteError("not a file");
    return nullptr;
  }
  std::unique_ptr<COsByteSource> l_posbytesource(new (std::nothrow) CFdSource(l_fd.Get()));
  if (l_posbytesource == nullptr) {
    QrxPkgNoteError("out of memory");
    return nullptr;
  }
  l_fd.Release();
  *a_pu64Size = static_cast<std::uint64_t>(l_stat.st_size);
  return l_posbytesource;
}

EOSSTS QrxPkgExtract(const char* a_szPackage, const char* a_szDestination, bool a_bKeep,
                     OsFilePackageCallback a_pfncallback) {
  if (MakeDestination(a_szDestination) != OS_STS_SUCCESS) return OS_STS_FAIL;
  const CFd l_fdRoot(open(a_szDestination, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (l_fdRoot.Get() < 0) return Refused(a_szDestination, "cannot open", errno);
  std::uint64_t l_u64Size = 0;
  const std::unique_ptr<COsByteSource> l_posbytesource = QrxPkgOpen(a_szPackage, &l_u64Size);
  if (l_posbytesource == nullptr) return OS_STS_FAIL;
  CExtractVisitor l_extractvisitor(l_fdRoot.Get(), a_bKeep);
  OsFilePackageProgress l_osfilepackageprogress;
  OsFilePackageProgressInit(&l_osfilepackageprogress);
  return OsPackageWalk(l_posbytesource.get(), l_u64Size, a_szPackage, &l_extractvisitor, a_pfncallback,
                       &l_osfilepackageprogress);
}

bool QrxPkgCanCreate() { return false; }

EOSSTS QrxPkgCreate(const char* a_szPackage, const char* a_szSource, bool a_bAppend, bool a_bImages, bool a_bRecursive,
                    EOSCOMPRESS a_eoscompress, OsFilePackageCallback a_pfncallback) {
  (void)a_szPackage, (void)a_szSource, (void)a_bAppend, (void)a_bImages, (void)a_bRecursive, (void)a_eoscompress,
      (void)a_pfncallback;
  QrxPkgNoteError("packages are made on Windows only");
  return OS_STS_FAIL;
}

int main(int argc, char** argv) { return QrxPkgMain(argc, argv); }
