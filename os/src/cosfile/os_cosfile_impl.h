// Private declarations of the file module.
#pragma once

#include "os_cosfile.h"
#include "os_cosfile_package.h"
#include "os_win.h"

// UTF-16 path buffers: one unit more than the 8-bit limit, so that a path of
// 259 characters and its terminator pass the conversions' room rule.
constexpr std::size_t OS_WPATH_SIZE = OS_PATH_SIZE + 1;

// A path for the system. False (logged) when the path has 260 bytes or
// more or cannot be converted; a_wsz is then empty.
bool OsFileToWide(const char* a_szPath, wchar_t (&a_wsz)[OS_WPATH_SIZE]);
// A name from the system as UTF-8 into a_sz (a_sizet bytes); false (and an
// empty text) when it does not fit.
bool OsFileFromWide(const wchar_t* a_wsz, char* a_sz, std::size_t a_sizet);
// A system file time as the library's time record (UTC).
void OsFileTimeToRecord(const FILETIME& a_filetime, OsTimeRecord* a_ptimerecord);
bool OsFileTimeFromRecord(const OsTimeRecord& a_timerecord, FILETIME* a_pfiletime);

struct OsFileLockSlot {
  std::uint32_t m_u32Offset;
  std::uint32_t m_u32Length;  // 0: free
};

constexpr int OS_FILE_LOCK_SLOTS = 64;
constexpr std::uint32_t OS_FILE_PRINTF_SIZE = 65536;

class COsFileImpl {
 public:
  char m_szName[OS_PATH_SIZE] = {};
  OsFileLockSlot m_alockslot[OS_FILE_LOCK_SLOTS] = {};
  std::uint32_t m_u32PrintfSize = OS_FILE_PRINTF_SIZE;
  char* m_szPrintf = nullptr;
  std::uint8_t m_u8Plain = 0;  // set by no operation of the library: colours are translated
  HANDLE m_hFile = INVALID_HANDLE_VALUE;
  HMODULE m_hmodule = nullptr;
  std::uint32_t m_u32ModuleOwned = 0;
};

// ---- split streams and packages ----

// An open file object as the readers' byte source (from its position on)
// and as a sink.
class COsFileSource : public COsByteSource {
 public:
  explicit COsFileSource(COsFile* a_posfile) : m_posfile(a_posfile) {}
  EOSSTS Read(void* a_pv, std::uint32_t a_u32Bytes, std::uint32_t* a_pu32Read) override;
  EOSSTS Skip(std::uint64_t a_u64Bytes) override;

 private:
  COsFile* m_posfile;
};

class COsFileSink : public COsByteSink {
 public:
  explicit COsFileSink(COsFile* a_posfile) : m_posfile(a_posfile) {}
  EOSSTS Write(const void* a_pv, std::uint32_t a_u32Bytes) override;

 private:
  COsFile* m_posfile;
};

// SplitWrite of a source the caller has open (from its start); a_szSource
// names it in messages and chooses the method.
EOSSTS OsSplitWriteOpen(COsFile* a_posfileOutput, std::uint64_t* a_pu64Written, COsFile* a_posfileSource,
                        const char* a_szSource, EOSCOMPRESS a_eoscompress, OsFilePackageCallback a_pfncallback,
                        OsFilePackageProgress* a_posfilepackageprogress);
