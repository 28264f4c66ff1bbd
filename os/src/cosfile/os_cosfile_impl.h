// Private declarations of the file module.
#pragma once

#include "os_cosfile.h"
#include "os_cosfile_package.h"
#include "os_costhread.h"
#include "os_scoped.h"
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

// Failure injection, for tests of the paths a healthy machine never takes (a
// disk that fills up while a file is rewritten): once a_i64Bytes more bytes
// have been written through file objects, the write that would pass them
// writes only up to them and fails (once) with the last error
// ERROR_DISK_FULL. -1 (the state a process starts in) turns it off.
void OsFileWriteFailAfter(std::int64_t a_i64Bytes);

// ---- desktop services ----

// Stops a sound still playing and frees the sound library that
// PlaySystemSound keeps loaded (the next call loads it again). Called by
// OsServicesStop, after the last sound of any thread: a call running at
// the same time could use the library as it goes.
void OsFileSoundRelease();
// For tests: true makes OsFileProtectedModeCopy treat the process as one in
// the browser's protected mode, so that its worker thread and window run
// where no browser is (false, the state a process starts in, asks the
// process's integrity).
void OsFileProtectedModeForce(bool a_bForce);

// How OsFileOpenPlain opens.
enum EOSFILEPLAIN {
  OS_FILE_PLAIN_NEW,        // a new file: nothing may be there under the name
  OS_FILE_PLAIN_EXISTING,   // an existing file
  OS_FILE_PLAIN_DIRECTORY,  // an existing directory (backup semantics)
};
// Opens an entry in a folder others may write, never through a link: the
// last component is opened itself, and a link there, a file with more than
// one name, or an entry of the other kind is refused with 259 (261 when a
// new file finds its name taken). Sharing: others may read (and write when
// a_eosfileaccess writes).
EOSSTS OsFileOpenPlain(COsFile* a_posfile, const char* a_szPath, EOSFILEPLAIN a_eosfileplain,
                       EOSFILEACCESS a_eosfileaccess);

// Lets the trust library of the signer check go (it is loaded again when
// next needed).
void OsFileTrustRelease();

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

// A sink that writes large parts on a thread of its own, so that the next
// part is decoded meanwhile (see COsByteSink); small writes, and all writes
// when no thread can be had, are done at once. The file is the thread's
// only while a write is under way.
class COsFileBackgroundSink : public COsByteSink {
 public:
  explicit COsFileBackgroundSink(COsFile* a_posfile) : m_posfile(a_posfile) {}
  ~COsFileBackgroundSink() override;
  COsFileBackgroundSink(const COsFileBackgroundSink&) = delete;
  COsFileBackgroundSink& operator=(const COsFileBackgroundSink&) = delete;
  EOSSTS Write(const void* a_pv, std::uint32_t a_u32Bytes) override;
  // Waits for the write under way; the first failure since the last Finish.
  EOSSTS Finish() override;

 private:
  static DWORD WINAPI Main(void* a_pvSelf);
  bool Start();
  EOSSTS WriteNow(const void* a_pv, std::uint32_t a_u32Bytes);

  COsFile* m_posfile;
  COsHandle m_hThread;
  COsHandle m_hGo;
  COsHandle m_hDone;
  const void* m_pv = nullptr;
  std::uint32_t m_u32Bytes = 0;
  bool m_bPending = false;
  bool m_bQuit = false;
  EOSSTS m_eossts = OS_STS_SUCCESS;
};

// The workers of one split or package operation, as many as
// OsFilePackageSetThreads says, started for the first file that has more
// than one block and kept for the operation's later files.
class COsSplitWorkers {
 public:
  COsSplitWorkers() = default;
  COsSplitWorkers(const COsSplitWorkers&) = delete;
  COsSplitWorkers& operator=(const COsSplitWorkers&) = delete;
  ~COsSplitWorkers();
  // Null for a file of one block (or when no pool could be made).
  COsWorkers* For(std::uint64_t a_u64FileSize);

 private:
  COsThreadWorkers* m_posthreadworkers = nullptr;
};

// SplitWrite of a source the caller has open (from its start); a_szSource
// names it in messages and chooses the method. Blocks are coded on the
// operation's workers.
EOSSTS OsSplitWriteOpen(COsFile* a_posfileOutput, std::uint64_t* a_pu64Written, COsFile* a_posfileSource,
                        const char* a_szSource, EOSCOMPRESS a_eoscompress, OsFilePackageCallback a_pfncallback,
                        OsFilePackageProgress* a_posfilepackageprogress, COsSplitWorkers* a_possplitworkers);
