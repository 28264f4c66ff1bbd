// The profile cache: section-and-key text files held as line images in eight
// process-wide slots, changed in memory and written back on request; the
// configuration's own profile pair; the shared configuration file loaded
// into items.
#include "os_coscfg_profile.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "os_coscfg_impl.h"
#include "os_coscfg_profile_image.h"
#include "os_cosfile.h"
#include "os_cosstring.h"
#include "os_cossync.h"
#include "os_log.h"
#include "os_sysinfo.h"
#include "os_win.h"

namespace {

constexpr int OS_CFG_PROFILE_SLOTS = 8;
// The image, the last line's terminator (a full read whose last line has no
// LF) and the end mark: the end mark always lies inside the buffer.
constexpr std::size_t OS_CFG_PROFILE_BUFFER_SIZE = OsCfgProfileImageBufferSize(OS_CFG_PROFILE_IMAGE_SIZE);
// The staging buffer of the write-back.
constexpr std::size_t OS_CFG_PROFILE_STAGE_SIZE = 8192;

// One cached file; its image is the file's line image
// (os_coscfg_profile_image.h) of capacity OS_CFG_PROFILE_IMAGE_SIZE.
struct OsCfgProfile {
  std::uint8_t m_u8Dirty;
  // The file was there but could not be read: its empty image must not be
  // written over it.
  std::uint8_t m_u8Unread;
  std::uint64_t m_u64LastWrite;  // the file's last-write time at the load (system file time)
  char m_szFilename[OS_PATH_SIZE];
  char m_acImage[OS_CFG_PROFILE_BUFFER_SIZE];
};

OsCfgProfile* s_aoscfgprofile[OS_CFG_PROFILE_SLOTS];
// Serialises every cache operation of every thread. Not reentrant: the read
// that a write or delete triggers runs after the lock was released.
volatile std::uint32_t s_u32ProfileLock;
// The image before a change that may have to be taken back (under the lock).
char s_acProfileScratch[OS_CFG_PROFILE_BUFFER_SIZE];

class CProfileLock {
 public:
  CProfileLock() { OsSyncSpinLock(&s_u32ProfileLock); }
  ~CProfileLock() { OsSyncSpinUnlock(&s_u32ProfileLock); }
  CProfileLock(const CProfileLock&) = delete;
  CProfileLock& operator=(const CProfileLock&) = delete;
};

// ---- files ----

std::uint64_t LastWriteTime(COsFile* a_posfile) {
  OsTimeRecord l_ostimerecord = {};
  if (a_posfile->GetFileTimes(nullptr, &l_ostimerecord) != OS_STS_SUCCESS) return 0;
  SYSTEMTIME l_systemtime = {l_ostimerecord.m_u16Year,   l_ostimerecord.m_u16Month,      l_ostimerecord.m_u16DayOfWeek,
                             l_ostimerecord.m_u16Day,    l_ostimerecord.m_u16Hour,       l_ostimerecord.m_u16Minute,
                             l_ostimerecord.m_u16Second, l_ostimerecord.m_u16Millisecond};
  FILETIME l_filetime = {};
  if (!SystemTimeToFileTime(&l_systemtime, &l_filetime)) {
    SetLastError(0);
    return 0;
  }
  return (static_cast<std::uint64_t>(l_filetime.dwHighDateTime) << 32) | l_filetime.dwLowDateTime;
}

// Reads the open file into the slot's image and keeps its last-write time.
void LoadImage(OsCfgProfile* a_posprofile, COsFile* a_posfile) {
  std::uint32_t l_u32Read = 0;
  std::memset(a_posprofile->m_acImage, 0, sizeof(a_posprofile->m_acImage));
  // A file that opens but cannot be read (a region another process locked)
  // is as unread as one that does not open.
  const bool l_bRead = a_posfile->Read(a_posprofile->m_acImage, static_cast<std::uint32_t>(OS_CFG_PROFILE_IMAGE_SIZE),
                                       &l_u32Read) == OS_STS_SUCCESS;
  if (!l_bRead) l_u32Read = 0;
  a_posprofile->m_u64LastWrite = LastWriteTime(a_posfile);
  a_posprofile->m_u8Unread = l_bRead ? 0 : 1;
  OsCfgProfileImageMake(a_posprofile->m_acImage, OS_CFG_PROFILE_IMAGE_SIZE, a_posprofile->m_acImage, l_u32Read);
}

// A first load: read-write (read and write sharing), else read-only, with the
// redirection of a 32-bit process on 64-bit Windows switched off for the open.
bool OpenForLoad(COsFile* a_posfile, const char* a_szFilename) {
  OsFileWow64Redirection(false);
  bool l_bOpen = a_posfile->Open(a_szFilename, OS_FILE_OPEN_EXISTING, OS_FILE_ACCESS_READWRITE,
                                 OS_FILE_SHARE_READWRITE) == OS_STS_SUCCESS;
  if (!l_bOpen) {
    l_bOpen = a_posfile->Open(a_szFilename, OS_FILE_OPEN_EXISTING, OS_FILE_ACCESS_READ, OS_FILE_SHARE_READWRITE) ==
              OS_STS_SUCCESS;
    if (l_bOpen) OS_LOGI("profile opened readonly...<%s>", a_szFilename);
  }
  OsFileWow64Redirection(true);
  return l_bOpen;
}

// A later look at a cached file: read-write (read sharing), else read-only;
// a system32 name of a 32-bit process on 64-bit Windows is retried with
// the redirection switched off.
bool OpenForReuse(COsFile* a_posfile, const char* a_szFilename) {
  if (a_posfile->Open(a_szFilename, OS_FILE_OPEN_EXISTING, OS_FILE_ACCESS_READWRITE, OS_FILE_SHARE_READ) ==
          OS_STS_SUCCESS ||
      a_posfile->Open(a_szFilename, OS_FILE_OPEN_EXISTING, OS_FILE_ACCESS_READ, OS_FILE_SHARE_READ) == OS_STS_SUCCESS)
    return true;
  if (OsSysProcessBits() != 32 || OsSysMachineBits() != 64) return false;  // only a redirected process
  char l_szLower[OS_PATH_SIZE];
  SStrCpy(l_szLower, sizeof(l_szLower), a_szFilename);
  for (char* l_pc = l_szLower; *l_pc != 0; ++l_pc)
    if (*l_pc >= 'A' && *l_pc <= 'Z') *l_pc = static_cast<char>(*l_pc - 'A' + 'a');
  if (std::strstr(l_szLower, "system32") == nullptr) return false;
  OsFileWow64Redirection(false);
  const bool l_bOpen =
      a_posfile->Open(a_szFilename, OS_FILE_OPEN_EXISTING, OS_FILE_ACCESS_READ, OS_FILE_SHARE_READ) == OS_STS_SUCCESS;
  OsFileWow64Redirection(true);
  return l_bOpen;
}

// The write-back's output, gathered into few writes.
class CProfileWriter {
 public:
  explicit CProfileWriter(COsFile* a_posfile) : m_posfile(a_posfile) {}
  void Append(const char* a_pc, std::size_t a_sizet) {
    if (m_sizetUsed + a_sizet > sizeof(m_acStage)) Drain();
    if (a_sizet > sizeof(m_acStage)) {
      Write(a_pc, a_sizet);
      return;
    }
    std::memcpy(m_acStage + m_sizetUsed, a_pc, a_sizet);
    m_sizetUsed += a_sizet;
  }
  // The image's sink: false once a write failed.
  static bool Sink(void* a_pvContext, const char* a_pc, std::size_t a_sizet) {
    CProfileWriter* const l_pwriter = static_cast<CProfileWriter*>(a_pvContext);
    l_pwriter->Append(a_pc, a_sizet);
    return l_pwriter->m_bOk;
  }
  // True when every byte was written.
  bool Finish() {
    Drain();
    return m_bOk;
  }

 private:
  void Drain() {
    Write(m_acStage, m_sizetUsed);
    m_sizetUsed = 0;
  }
  void Write(const char* a_pc, std::size_t a_sizet) {
    if (a_sizet == 0 || !m_bOk) return;
    std::uint32_t l_u32Written = 0;
    if (m_posfile->Write(a_pc, static_cast<std::uint32_t>(a_sizet), &l_u32Written) != OS_STS_SUCCESS ||
        l_u32Written != a_sizet)
      m_bOk = false;
  }

  COsFile* m_posfile;
  char m_acStage[OS_CFG_PROFILE_STAGE_SIZE];
  std::size_t m_sizetUsed = 0;
  bool m_bOk = true;
};

// ---- the slots (callers hold the lock) ----

// Copies and normalises the name; false (logged) when it does not fit.
bool NormaliseName(char* a_szName, const char* a_szFile) {
  OS_RETURN_IF(!OsFilePathCopy(a_szName, OS_PATH_SIZE, a_szFile) || a_szName[0] == 0, OS_LOG_ERROR,
               "bad profile name...<%s>", false, a_szFile);
  return true;
}

int FindCached(const char* a_szName) {
  for (int l_i = 0; l_i < OS_CFG_PROFILE_SLOTS && s_aoscfgprofile[l_i] != nullptr; ++l_i)
    if (_stricmp(s_aoscfgprofile[l_i]->m_szFilename, a_szName) == 0) return l_i;
  return -1;
}

void FreeSlots() {
  for (OsCfgProfile*& l_posprofile : s_aoscfgprofile) {
    std::free(l_posprofile);
    l_posprofile = nullptr;
  }
}

// Writes a dirty image back (the image's text: CR LF, its empty lines). 0 or 1.
EOSSTS FlushSlot(OsCfgProfile* a_posprofile) {
  if (a_posprofile->m_u8Dirty == 0) return OS_STS_SUCCESS;
  COsFile l_osfile;
  if (l_osfile.Open(a_posprofile->m_szFilename, OS_FILE_OPEN_CREATE, OS_FILE_ACCESS_READWRITE,
                    OS_FILE_SHARE_READWRITE) != OS_STS_SUCCESS) {
    OS_LOGI("Could not truncate the file, it might be readonly...<%s>", a_posprofile->m_szFilename);
    return OS_STS_FAIL;
  }
  CProfileWriter l_writer(&l_osfile);
  OsCfgProfileImageSerialise(a_posprofile->m_acImage, CProfileWriter::Sink, &l_writer);
  const bool l_bWritten = l_writer.Finish();
  // The file now is the image: its new write time, through the handle that
  // wrote it, is the one to compare with; else the next look would take
  // this write for someone else's and reload over the following change.
  const std::uint64_t l_u64Written = l_bWritten ? LastWriteTime(&l_osfile) : 0;
  l_osfile.Close();
  if (!l_bWritten) {
    OS_LOGE("WriteFile failed...<%s>", a_posprofile->m_szFilename);
    return OS_STS_FAIL;
  }
  a_posprofile->m_u8Dirty = 0;
  if (l_u64Written != 0) a_posprofile->m_u64LastWrite = l_u64Written;
  OS_LOGI("profile successfully written...<%s>", a_posprofile->m_szFilename);
  return OS_STS_SUCCESS;
}

EOSSTS FlushNamed(const char* a_szName) {
  OS_LOGI("trying to write profile...<%s>", a_szName);
  const int l_i = FindCached(a_szName);
  OS_RETURN_IF(l_i < 0, OS_LOG_ERROR, "s_aoscfgprofile is full...sorry...<%s>", OS_STS_FAIL, a_szName);
  return FlushSlot(s_aoscfgprofile[l_i]);
}

// The slot of the file, loaded or checked against the file on disk; null
// when no slot could be allocated.
OsCfgProfile* PrepareSlot(const char* a_szName) {
  int l_i = 0;
  while (l_i < OS_CFG_PROFILE_SLOTS && s_aoscfgprofile[l_i] != nullptr &&
         _stricmp(s_aoscfgprofile[l_i]->m_szFilename, a_szName) != 0)
    ++l_i;
  if (l_i == OS_CFG_PROFILE_SLOTS) {
    // A ninth file: every change is written back and the cache starts again.
    for (OsCfgProfile* const l_posprofile : s_aoscfgprofile)
      if (l_posprofile->m_u8Dirty != 0) FlushNamed(l_posprofile->m_szFilename);
    FreeSlots();
    l_i = 0;
  }
  COsFile l_osfile;
  OsCfgProfile* l_posprofile = s_aoscfgprofile[l_i];
  if (l_posprofile == nullptr) {
    l_posprofile = static_cast<OsCfgProfile*>(std::calloc(1, sizeof(OsCfgProfile)));
    OS_RETURN_IF_NULL(l_posprofile, OS_LOG_ASSERT, "calloc failed...<%s>", nullptr, a_szName);
    SStrCpy(l_posprofile->m_szFilename, sizeof(l_posprofile->m_szFilename), a_szName);
    s_aoscfgprofile[l_i] = l_posprofile;
    // A file that cannot be opened keeps an empty image under its name.
    if (OpenForLoad(&l_osfile, a_szName))
      LoadImage(l_posprofile, &l_osfile);
    else if (OsFileExists(a_szName))
      l_posprofile->m_u8Unread = 1;
    return l_posprofile;
  }
  if (!OpenForReuse(&l_osfile, a_szName)) return l_posprofile;
  if (LastWriteTime(&l_osfile) == l_posprofile->m_u64LastWrite && l_posprofile->m_u8Unread == 0) return l_posprofile;
  if (l_posprofile->m_u8Dirty != 0) OS_LOGA("we're reloading over a dirty profile...");
  l_posprofile->m_u8Dirty = 0;
  LoadImage(l_posprofile, &l_osfile);
  return l_posprofile;
}

// The slot of a file that a change has made sure is cached (the caller
// holds the lock); null, logged, when it is not.
OsCfgProfile* SlotForChange(const char* a_szName) {
  const int l_i = FindCached(a_szName);
  OS_RETURN_IF(l_i < 0, OS_LOG_ERROR, "failed to create profile...<%s>", nullptr, a_szName);
  OS_RETURN_IF(s_aoscfgprofile[l_i]->m_u8Unread != 0, OS_LOG_ERROR, "profile could not be read, not changed...<%s>",
               nullptr, a_szName);
  return s_aoscfgprofile[l_i];
}

// A change needs the file cached: a file that is not is loaded through a
// read. Called without the lock, which the read takes itself.
void CacheForChange(const char* a_szFile, const char* a_szName) {
  {
    CProfileLock l_lock;
    const int l_i = FindCached(a_szName);
    // A file that could not be read is tried again before a change.
    if (l_i >= 0 && s_aoscfgprofile[l_i]->m_u8Unread == 0) return;
  }
  char l_szNothing[4];
  OsCfgProfileRead(a_szFile, "???", "???", l_szNothing, sizeof(l_szNothing));
}

}  // namespace

EOSSTS OsCfgProfileRead(const char* a_szFile, const char* a_szSection, const char* a_szKey, char* a_szOut,
                        std::size_t a_sizetOut) {
  OS_RETURN_IF(a_szOut == nullptr || a_sizetOut == 0, OS_LOG_ASSERT, "a_szOut is null...", OS_STS_FAIL);
  a_szOut[0] = 0;
  OS_RETURN_IF_NULL(a_szFile, OS_LOG_ASSERT, "a_szFile is null...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_szSection, OS_LOG_ASSERT, "a_szSection is null...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_szKey, OS_LOG_ASSERT, "a_szKey is null...", OS_STS_FAIL);
  char l_szName[OS_PATH_SIZE];
  if (!NormaliseName(l_szName, a_szFile)) return OS_STS_FAIL;

  CProfileLock l_lock;
  const OsCfgProfile* const l_posprofile = PrepareSlot(l_szName);
  if (l_posprofile == nullptr) return OS_STS_FAIL;
  const char* const l_szValue = OsCfgProfileImageLookUp(l_posprofile->m_acImage, a_szSection, a_szKey);
  if (l_szValue == nullptr) return OS_STS_FAIL;
  // A value longer than the output is not cut: the output stays empty.
  SStrCpy(a_szOut, a_sizetOut, l_szValue);
  return a_szOut[0] != 0 || l_szValue[0] == 0 ? OS_STS_SUCCESS : OS_STS_FAIL;
}

EOSSTS OsCfgProfileWrite(const char* a_szFile, const char* a_szSection, const char* a_szKey, const char* a_szValue) {
  OS_RETURN_IF_NULL(a_szFile, OS_LOG_ASSERT, "a_szFile is null...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_szSection, OS_LOG_ASSERT, "a_szSection is null...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_szKey, OS_LOG_ASSERT, "a_szKey is null...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_szValue, OS_LOG_ASSERT, "a_szValue is null...", OS_STS_FAIL);
  char l_szName[OS_PATH_SIZE];
  if (!NormaliseName(l_szName, a_szFile)) return OS_STS_FAIL;
  CacheForChange(a_szFile, l_szName);

  CProfileLock l_lock;
  OsCfgProfile* const l_posprofile = SlotForChange(l_szName);
  if (l_posprofile == nullptr) return OS_STS_FAIL;
  OS_RETURN_IF(a_szKey[0] == 0 && OsCfgProfileImageHasSection(l_posprofile->m_acImage, a_szSection), OS_LOG_ERROR,
               "bad key...<%s>", OS_STS_FAIL, l_szName);
  // A line that would not read back as this key and value once written: a
  // key with '=' or a line break, one that reads as a comment or a header,
  // a value or a section name with a line break.
  OS_RETURN_IF(a_szKey[0] == ';' || a_szKey[0] == '[' || std::strpbrk(a_szKey, "=\r\n") != nullptr, OS_LOG_ERROR,
               "bad key...<%s>", OS_STS_FAIL, l_szName);
  OS_RETURN_IF(std::strpbrk(a_szValue, "\r\n") != nullptr || std::strpbrk(a_szSection, "\r\n") != nullptr, OS_LOG_ERROR,
               "bad value...<%s>", OS_STS_FAIL, l_szName);
  // The written file must still fit a read: its CR and empty lines count too.
  char* const l_acImage = l_posprofile->m_acImage;
  std::size_t l_sizetBefore = 0;
  OsCfgProfileImageText(l_acImage, nullptr, 0, &l_sizetBefore);
  std::memcpy(s_acProfileScratch, l_acImage, sizeof(s_acProfileScratch));
  bool l_bFits =
      OsCfgProfileImageSet(l_acImage, OS_CFG_PROFILE_IMAGE_SIZE, a_szSection, a_szKey, a_szValue) == OS_STS_SUCCESS;
  if (l_bFits) {
    std::size_t l_sizetAfter = 0;
    OsCfgProfileImageText(l_acImage, nullptr, 0, &l_sizetAfter);
    l_bFits = l_sizetAfter <= OS_CFG_PROFILE_IMAGE_SIZE || l_sizetAfter <= l_sizetBefore;
    if (!l_bFits) std::memcpy(l_acImage, s_acProfileScratch, sizeof(s_acProfileScratch));
  }
  OS_RETURN_IF(!l_bFits, OS_LOG_ERROR, "profile image is full...<%s> <%s> <%s>", OS_STS_FAIL, l_szName, a_szSection,
               a_szKey);
  l_posprofile->m_u8Dirty = 1;
  return OS_STS_SUCCESS;
}

EOSSTS OsCfgProfileDelete(const char* a_szFile, const char* a_szSection, const char* a_szKey) {
  OS_RETURN_IF_NULL(a_szFile, OS_LOG_ASSERT, "a_szFile is null...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_szSection, OS_LOG_ASSERT, "a_szSection is null...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_szKey, OS_LOG_ASSERT, "a_szKey is null...", OS_STS_FAIL);
  char l_szName[OS_PATH_SIZE];
  if (!NormaliseName(l_szName, a_szFile)) return OS_STS_FAIL;
  CacheForChange(a_szFile, l_szName);

  CProfileLock l_lock;
  OsCfgProfile* const l_posprofile = SlotForChange(l_szName);
  if (l_posprofile == nullptr) return OS_STS_FAIL;
  if (!OsCfgProfileImageHasSection(l_posprofile->m_acImage, a_szSection)) return OS_STS_SUCCESS;
  OS_RETURN_IF(a_szKey[0] == 0, OS_LOG_ERROR, "bad key...<%s>", OS_STS_FAIL, l_szName);
  if (OsCfgProfileImageDelete(l_posprofile->m_acImage, a_szSection, a_szKey)) l_posprofile->m_u8Dirty = 1;
  return OS_STS_SUCCESS;
}

EOSSTS OsCfgProfileFlush(const char* a_szFile) {
  OS_RETURN_IF_NULL(a_szFile, OS_LOG_ASSERT, "a_szFile is null...", OS_STS_FAIL);
  char l_szName[OS_PATH_SIZE];
  if (!NormaliseName(l_szName, a_szFile)) return OS_STS_FAIL;
  CProfileLock l_lock;
  return FlushNamed(l_szName);
}

void OsCfgProfileFreeAll() {
  CProfileLock l_lock;
  FreeSlots();
}

// ---- the configuration's operations ----

#define OS_CFG_IMPL_OR_RETURN(a_ret) OS_RETURN_IF_NULL(m_poscfgimpl, OS_LOG_ASSERT, "m_poscfgimpl is null...", a_ret)

EOSSTS COsCfg::ProfileRead(const char* a_szFile, const char* a_szSection, const char* a_szKey, char* a_szOut,
                           std::size_t a_sizetOut) {
  if (a_szOut != nullptr && a_sizetOut != 0) a_szOut[0] = 0;
  OS_CFG_IMPL_OR_RETURN(OS_STS_FAIL);
  return OsCfgProfileRead(a_szFile, a_szSection, a_szKey, a_szOut, a_sizetOut);
}

EOSSTS COsCfg::ProfileWrite(const char* a_szFile, const char* a_szSection, const char* a_szKey, const char* a_szValue) {
  OS_CFG_IMPL_OR_RETURN(OS_STS_FAIL);
  return OsCfgProfileWrite(a_szFile, a_szSection, a_szKey, a_szValue);
}

EOSSTS COsCfg::ProfileDelete(const char* a_szFile, const char* a_szSection, const char* a_szKey) {
  OS_CFG_IMPL_OR_RETURN(OS_STS_FAIL);
  return OsCfgProfileDelete(a_szFile, a_szSection, a_szKey);
}

EOSSTS COsCfg::ProfileFlush(const char* a_szFile) {
  OS_CFG_IMPL_OR_RETURN(OS_STS_FAIL);
  return OsCfgProfileFlush(a_szFile);
}

EOSSTS COsCfg::ConfigRead(const char* a_szSection, const char* a_szKey, char* a_szOut, std::size_t a_sizetOut) {
  if (a_szOut != nullptr && a_sizetOut != 0) a_szOut[0] = 0;
  OS_CFG_IMPL_OR_RETURN(OS_STS_FAIL);
  const char* const l_szUser = GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_CONSTINI);
  const char* const l_szShared = GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_CONSTINISHARED);
  return OsCfgProfileRead(OsFileExists(l_szUser) ? l_szUser : l_szShared, a_szSection, a_szKey, a_szOut, a_sizetOut);
}

EOSSTS COsCfg::ConfigWrite(const char* a_szSection, const char* a_szKey, const char* a_szValue) {
  OS_CFG_IMPL_OR_RETURN(OS_STS_FAIL);
  const char* const l_szUser = GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_CONSTINI);
  const char* const l_szShared = GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_CONSTINISHARED);
  if (_stricmp(l_szUser, l_szShared) != 0 && !OsFileExists(l_szUser) && OsFileExists(l_szShared)) {
    OsFileCopy(l_szShared, l_szUser);
    // A user profile cached while it was missing takes the copy now.
    char l_szNothing[4];
    OsCfgProfileRead(l_szUser, "???", "???", l_szNothing, sizeof(l_szNothing));
  }
  return OsCfgProfileWrite(l_szUser, a_szSection, a_szKey, a_szValue);
}

EOSSTS COsCfg::ConfigFlush() {
  OS_CFG_IMPL_OR_RETURN(OS_STS_FAIL);
  const char* const l_szUser = GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_CONSTINI);
  const char* const l_szShared = GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_CONSTINISHARED);
  if (_stricmp(l_szUser, l_szShared) == 0) return OsCfgProfileFlush(l_szUser);
  if (OsFileExists(l_szUser)) return OsCfgProfileFlush(l_szUser);
  // A user profile that exists only in the cache (neither file was there
  // when it was written) is written too, so that its changes are not lost.
  char l_szName[OS_PATH_SIZE];
  if (!OsFilePathCopy(l_szName, sizeof(l_szName), l_szUser)) l_szName[0] = 0;
  bool l_bDirty = false;
  {
    CProfileLock l_lock;
    const int l_i = l_szName[0] != 0 ? FindCached(l_szName) : -1;
    l_bDirty = l_i >= 0 && s_aoscfgprofile[l_i]->m_u8Dirty != 0;
  }
  return l_bDirty ? OsCfgProfileFlush(l_szUser) : OS_STS_SUCCESS;
}

// ---- the shared configuration file ----

namespace {

int FindNumber(const OsCfgName* a_posname, const char* a_szName) {
  if (a_posname == nullptr) return 0;
  for (; a_posname->m_szName != nullptr; ++a_posname)
    if (_stricmp(a_posname->m_szName, a_szName) == 0) return a_posname->m_iNumber;
  return 0;
}

// A local table's number; 1000 itself means none.
int FindLocalNumber(const OsCfgName* a_posname, const char* a_szName) {
  const int l_i = FindNumber(a_posname, a_szName);
  return l_i > OS_CFG_LOCAL_BASE ? l_i : 0;
}

}  // namespace

EOSSTS OsCfgLoadSharedFile(COsCfgImpl* a_poscfgimpl) {
  OS_RETURN_IF_NULL(a_poscfgimpl, OS_LOG_ASSERT, "a_poscfgimpl is null...", OS_STS_FAIL);
  const char* const l_szFilename = a_poscfgimpl->m_szSharedConfigFilename;
  COsFile l_osfile;
  if (l_osfile.Open(l_szFilename, OS_FILE_OPEN_EXISTING, OS_FILE_ACCESS_READ, OS_FILE_SHARE_READWRITE) !=
      OS_STS_SUCCESS)
    return OS_STS_NOTFOUND;
  // The last byte stays the terminator: a file that fills the buffer loses
  // its last byte rather than leaving its last value unterminated.
  char* const l_acData = a_poscfgimpl->m_szFileData;
  std::memset(l_acData, 0, OS_CFG_FILEDATA_SIZE);
  std::uint32_t l_u32Read = 0;
  if (l_osfile.Read(l_acData, static_cast<std::uint32_t>(OS_CFG_FILEDATA_SIZE - 1), &l_u32Read) != OS_STS_SUCCESS) {
    OS_LOGE("ReadFile failed...<%s>", l_szFilename);
    std::memset(l_acData, 0, OS_CFG_FILEDATA_SIZE);
    return OS_STS_FAIL;
  }
  l_osfile.Close();
  if (l_u32Read > OS_CFG_FILEDATA_SIZE - 1) l_u32Read = static_cast<std::uint32_t>(OS_CFG_FILEDATA_SIZE - 1);
  l_acData[l_u32Read] = 0;
  // Tokens end at CR and LF (and at a NUL inside the file).
  for (std::uint32_t l_u32 = 0; l_u32 < l_u32Read; ++l_u32)
    if (l_acData[l_u32] == '\r' || l_acData[l_u32] == '\n') l_acData[l_u32] = 0;

  COsCfg l_oscfg;  // the item store's own range rules, over this block
  l_oscfg.m_poscfgimpl = a_poscfgimpl;
  // A header is looked up in both section tables and may name a section in
  // each; every key line is looked up in both tag tables, whatever the
  // section, and sets the item of each kind whose section the header named.
  int l_iSection = 0;       // the global section, 0: none
  int l_iLocalSection = 0;  // the local section, 0: none
  for (std::uint32_t l_u32 = 0; l_u32 < l_u32Read;
       l_u32 += static_cast<std::uint32_t>(std::strlen(l_acData + l_u32)) + 1) {
    char* const l_szToken = l_acData + l_u32;
    if (l_szToken[0] == 0 || l_szToken[0] == ';') continue;
    if (l_szToken[0] == '[') {
      char* const l_pcClose = std::strchr(l_szToken, ']');
      if (l_pcClose != nullptr) *l_pcClose = 0;
      const char* const l_szSection = l_szToken + 1;
      l_iSection = FindNumber(s_aoscfgsection, l_szSection);
      l_iLocalSection = FindLocalNumber(a_poscfgimpl->m_posLocalSections, l_szSection);
      if (l_pcClose != nullptr) *l_pcClose = ']';
      continue;
    }
    char* const l_pcEquals = std::strchr(l_szToken, '=');
    if (l_pcEquals == nullptr || (l_iSection == 0 && l_iLocalSection == 0)) continue;
    const char* l_szValue = l_pcEquals + 1;
    while (*l_szValue == ' ' || *l_szValue == '\t') ++l_szValue;
    *l_pcEquals = 0;  // the key ends here; the value keeps its place in the buffer
    const int l_iTag = FindNumber(s_aoscfgtag, l_szToken);
    const int l_iLocalTag = FindLocalNumber(a_poscfgimpl->m_posLocalTags, l_szToken);
    if (l_iSection != 0 && l_iTag != 0) l_oscfg.SetItem(l_iSection, l_iTag, l_szValue);
    if (l_iLocalSection != 0 && l_iLocalTag != 0) l_oscfg.SetItem(l_iLocalSection, l_iLocalTag, l_szValue);
  }
  l_oscfg.m_poscfgimpl = nullptr;
  return OS_STS_SUCCESS;
}
