// Split streams of files: the writer that cuts a file into compressed
// pieces at a file object's position, and the reader that recreates one.
#include <atomic>
#include <cstring>

#include "os_coscfg_sysinfo.h"
#include "os_cosfile_impl.h"
#include "os_cosfile_package_impl.h"
#include "os_cosmem.h"
#include "os_memnew.h"

namespace {

// OsFilePackageSetThreads; 0: one per processor.
std::atomic<std::uint32_t> s_u32Threads{0};

class CCompressContext {
 public:
  ~CCompressContext() { OsFileCompressContextFree(&m_oscompresscontext); }
  OsCompressContext m_oscompresscontext;
};

}  // namespace

void OsFilePackageSetThreads(std::uint32_t a_u32Threads) { s_u32Threads = a_u32Threads; }

COsSplitWorkers::~COsSplitWorkers() {
  if (m_posthreadworkers != nullptr) OsMemDelete(m_posthreadworkers);
}

COsWorkers* COsSplitWorkers::For(std::uint64_t a_u64FileSize) {
  const std::uint32_t l_u32Threads = s_u32Threads;
  if (a_u64FileSize <= OS_COMPRESS_BLOCK_SIZE || l_u32Threads == 1) return nullptr;
  if (m_posthreadworkers == nullptr) {
    // A worker takes about as long to start as a block takes to code: the
    // workers are made for a file that keeps each busy for a few blocks.
    const long l_lThreads =
        l_u32Threads != 0 ? static_cast<long>(l_u32Threads) : OsCfgSysGetNumber(OS_CFGINFO_CPU_TOTAL, 0);
    if (l_lThreads <= 1 || a_u64FileSize < 4ull * static_cast<std::uint64_t>(l_lThreads) * OS_COMPRESS_BLOCK_SIZE)
      return nullptr;
    m_posthreadworkers = OsMemNew(COsThreadWorkers, "COsThreadWorkers", static_cast<std::uint32_t>(l_lThreads));
  }
  return m_posthreadworkers;
}

// ---- file objects as byte sources and sinks ----

EOSSTS COsFileSource::Read(void* a_pv, std::uint32_t a_u32Bytes, std::uint32_t* a_pu32Read) {
  *a_pu32Read = 0;
  // The system reads a large request in one call; a short answer is the end.
  return m_posfile->Read(a_pv, a_u32Bytes, a_pu32Read);
}

EOSSTS COsFileSource::Skip(std::uint64_t a_u64Bytes) {
  if (a_u64Bytes > static_cast<std::uint64_t>(INT64_MAX)) return OS_STS_FAIL;
  return m_posfile->SetFilePointer64(OS_FILE_POINTER_CURRENT, static_cast<std::int64_t>(a_u64Bytes));
}

EOSSTS COsFileSink::Write(const void* a_pv, std::uint32_t a_u32Bytes) {
  std::uint32_t l_u32Written = 0;
  const EOSSTS l_eossts = m_posfile->Write(a_pv, a_u32Bytes, &l_u32Written);
  if (l_eossts != OS_STS_SUCCESS) return l_eossts;
  return l_u32Written == a_u32Bytes ? OS_STS_SUCCESS : OS_STS_FAIL;
}

// Below this a thread costs more than it saves.
constexpr std::uint32_t s_u32BackgroundMin = 1u << 20;

COsFileBackgroundSink::~COsFileBackgroundSink() {
  Finish();
  if (m_hThread) {
    m_bQuit = true;
    SetEvent(m_hGo.Get());
    WaitForSingleObject(m_hThread.Get(), INFINITE);
  }
}

bool COsFileBackgroundSink::Start() {
  if (m_hThread) return true;
  m_hGo.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  m_hDone.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (m_hGo && m_hDone) m_hThread.Reset(CreateThread(nullptr, 0, Main, this, 0, nullptr));
  return static_cast<bool>(m_hThread);
}

DWORD WINAPI COsFileBackgroundSink::Main(void* a_pvSelf) {
  COsFileBackgroundSink* const l_pself = static_cast<COsFileBackgroundSink*>(a_pvSelf);
  for (;;) {
    WaitForSingleObject(l_pself->m_hGo.Get(), INFINITE);
    if (l_pself->m_bQuit) return 0;
    const EOSSTS l_eossts = l_pself->WriteNow(l_pself->m_pv, l_pself->m_u32Bytes);
    if (l_pself->m_eossts == OS_STS_SUCCESS) l_pself->m_eossts = l_eossts;
    SetEvent(l_pself->m_hDone.Get());
  }
}

EOSSTS COsFileBackgroundSink::WriteNow(const void* a_pv, std::uint32_t a_u32Bytes) {
  std::uint32_t l_u32Written = 0;
  const EOSSTS l_eossts = m_posfile->Write(a_pv, a_u32Bytes, &l_u32Written);
  if (l_eossts != OS_STS_SUCCESS) return l_eossts;
  return l_u32Written == a_u32Bytes ? OS_STS_SUCCESS : OS_STS_FAIL;
}

EOSSTS COsFileBackgroundSink::Write(const void* a_pv, std::uint32_t a_u32Bytes) {
  const EOSSTS l_eossts = Finish();
  if (l_eossts != OS_STS_SUCCESS) return l_eossts;
  if (a_u32Bytes < s_u32BackgroundMin || !Start()) return WriteNow(a_pv, a_u32Bytes);
  m_pv = a_pv;
  m_u32Bytes = a_u32Bytes;
  m_bPending = true;
  SetEvent(m_hGo.Get());
  return OS_STS_SUCCESS;
}

EOSSTS COsFileBackgroundSink::Finish() {
  if (m_bPending) {
    WaitForSingleObject(m_hDone.Get(), INFINITE);
    m_bPending = false;
  }
  const EOSSTS l_eossts = m_eossts;
  m_eossts = OS_STS_SUCCESS;
  return l_eossts;
}

// ---- the writer ----

EOSSTS OsSplitWriteOpen(COsFile* a_posfileOutput, std::uint64_t* a_pu64Written, COsFile* a_posfileSource,
                        const char* a_szSource, EOSCOMPRESS a_eoscompress, OsFilePackageCallback a_pfncallback,
                        OsFilePackageProgress* a_posfilepackageprogress, COsSplitWorkers* a_possplitworkers) {
  *a_pu64Written = 0;
  std::uint64_t l_u64Size = 0;
  EOSSTS l_eossts = a_posfileSource->Size64(&l_u64Size);
  if (l_eossts != OS_STS_SUCCESS) {
    OS_PKG_FAIL("Size64 failed...<%s>", a_szSource);
    return l_eossts;
  }
  const EOSCOMPRESS l_eoscompress = OsSplitChooseMethod(a_szSource, l_u64Size, a_eoscompress);
  COsFileSink l_sink(a_posfileOutput);

  OsSplitHeader l_ossplitheader = {};
  std::memcpy(l_ossplitheader.m_au8Tag, OS_SPLIT_MAGIC, OS_PKG_MAGIC_SIZE);
  l_ossplitheader.m_u32HeaderSize = OS_SPLIT_HEADER_SIZE;
  l_ossplitheader.m_u32PieceHeaderSize = OS_SPLIT_PIECE_HEADER_SIZE;
  l_ossplitheader.m_u64FileSize = l_u64Size;
  l_ossplitheader.m_u32PieceSize = l_u64Size > 1 ? OS_SPLIT_PIECE_SIZE : 0;
  std::uint8_t l_au8Header[OS_SPLIT_HEADER_SIZE];
  OsSplitHeaderEncode(l_ossplitheader, l_au8Header);

  if (l_u64Size <= 1) {
    // The size itself, then the one byte: no container for so little.
    std::uint8_t l_au8Stream[OS_SPLIT_HEADER_SIZE + OS_SPLIT_PIECE_HEADER_SIZE + 1];
    std::memcpy(l_au8Stream, l_au8Header, OS_SPLIT_HEADER_SIZE);
    OsPkgPut32(l_au8Stream + OS_SPLIT_HEADER_SIZE, static_cast<std::uint32_t>(l_u64Size));
    std::uint32_t l_u32Read = 0;
    if (l_u64Size == 1 && (a_posfileSource->Read(l_au8Stream + OS_SPLIT_HEADER_SIZE + OS_SPLIT_PIECE_HEADER_SIZE, 1,
                                                 &l_u32Read) != OS_STS_SUCCESS ||
                           l_u32Read != 1)) {
      OS_PKG_FAIL("Read failed...<%s>", a_szSource);
      return OS_STS_FAIL;
    }
    const std::uint32_t l_u32Stream =
        OS_SPLIT_HEADER_SIZE + OS_SPLIT_PIECE_HEADER_SIZE + static_cast<std::uint32_t>(l_u64Size);
    if (l_sink.Write(l_au8Stream, l_u32Stream) != OS_STS_SUCCESS) {
      OS_PKG_FAIL("Write failed...<%s>", a_szSource);
      return OS_STS_FAIL;
    }
    *a_pu64Written = l_u32Stream;
    return OsFilePackageNotify(a_pfncallback, a_posfilepackageprogress, a_szSource, l_u64Size, l_u64Size, l_u64Size);
  }

  // No buffer is larger than the file's first piece needs.
  const std::uint32_t l_u32Piece =
      l_u64Size < OS_SPLIT_PIECE_SIZE ? static_cast<std::uint32_t>(l_u64Size) : OS_SPLIT_PIECE_SIZE;
  COsPkgBuffer l_bufferRead(l_u32Piece);
  COsPkgBuffer l_bufferOut(OsSplitBufferSize(l_u64Size, OS_SPLIT_PIECE_SIZE));
  COsPkgBuffer l_bufferScratch(l_bufferOut.m_u32Size);
  if (l_bufferRead.m_pu8 == nullptr || l_bufferOut.m_pu8 == nullptr || l_bufferScratch.m_pu8 == nullptr) {
    OS_PKG_FAIL("OsMemAlloc failed...");
    return OS_STS_FAIL;
  }
  l_eossts = OsFilePackageNotify(a_pfncallback, a_posfilepackageprogress, a_szSource, l_u64Size, 0, 0);
  if (l_eossts != OS_STS_SUCCESS) return l_eossts;

  CCompressContext l_context;
  COsWorkers* const l_posworkers = a_possplitworkers->For(l_u64Size);
  // The container goes behind room for the piece's length, so that length
  // and container leave in one write.
  std::uint8_t* const l_pu8Container = l_bufferOut.m_pu8 + OS_SPLIT_PIECE_HEADER_SIZE;
  for (std::uint64_t l_u64Done = 0; l_u64Done < l_u64Size;) {
    const std::uint64_t l_u64Rest = l_u64Size - l_u64Done;
    const std::uint32_t l_u32This = l_u64Rest < l_u32Piece ? static_cast<std::uint32_t>(l_u64Rest) : l_u32Piece;
    l_eossts =
        OsFilePackageNotify(a_pfncallback, a_posfilepackageprogress, a_szSource, l_u64Size, l_u32This, l_u32This);
    if (l_eossts != OS_STS_SUCCESS) return l_eossts;
    std::uint32_t l_u32Read = 0;
    if (a_posfileSource->Read(l_bufferRead.m_pu8, l_u32This, &l_u32Read) != OS_STS_SUCCESS || l_u32Read != l_u32This) {
      OS_PKG_FAIL("Read failed...<%s>", a_szSource);
      return OS_STS_FAIL;
    }
    std::uint32_t l_u32Container = l_bufferOut.m_u32Size - OS_SPLIT_PIECE_HEADER_SIZE;
    if (OsFileCompress(l_pu8Container, &l_u32Container, l_bufferRead.m_pu8, l_u32This, l_eoscompress,
                       l_bufferScratch.m_pu8, &l_context.m_oscompresscontext, l_posworkers) != OS_STS_SUCCESS) {
      OS_PKG_FAIL("Compress failed...<%s>", a_szSource);
      return OS_STS_FAIL;
    }
    if (l_u64Done == 0 && l_sink.Write(l_au8Header, OS_SPLIT_HEADER_SIZE) != OS_STS_SUCCESS) {
      OS_PKG_FAIL("Write failed...<%s>", a_szSource);
      return OS_STS_FAIL;
    }
    OsPkgPut32(l_bufferOut.m_pu8, l_u32Container);
    if (l_sink.Write(l_bufferOut.m_pu8, OS_SPLIT_PIECE_HEADER_SIZE + l_u32Container) != OS_STS_SUCCESS) {
      OS_PKG_FAIL("Write failed...<%s>", a_szSource);
      return OS_STS_FAIL;
    }
    *a_pu64Written += (l_u64Done == 0 ? OS_SPLIT_HEADER_SIZE : 0) + OS_SPLIT_PIECE_HEADER_SIZE + l_u32Container;
    l_u64Done += l_u32This;
  }
  return OS_STS_SUCCESS;
}

EOSSTS SplitWrite(COsFile* a_posfileOutput, std::uint64_t* a_pu64Written, const char* a_szSource,
                  EOSCOMPRESS a_eoscompress, OsFilePackageCallback a_pfncallback,
                  OsFilePackageProgress* a_posfilepackageprogress) {
  OS_RETURN_IF_NULL(a_posfileOutput, OS_LOG_ASSERT, "a_posfileOutput is null...", OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_pu64Written, OS_LOG_ASSERT, "a_pu64Written is null...", OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_szSource, OS_LOG_ASSERT, "a_szSource is null...", OS_STS_BADARG);
  *a_pu64Written = 0;
  OsFilePackageProgress l_progress;
  if (a_pfncallback != nullptr && a_posfilepackageprogress == nullptr) {
    OsFilePackageProgressInit(&l_progress);
    a_posfilepackageprogress = &l_progress;
  }
  COsFile l_osfileSource;
  const EOSSTS l_eossts =
      l_osfileSource.Open(a_szSource, OS_FILE_OPEN_EXISTING, OS_FILE_ACCESS_READ, OS_FILE_SHARE_READ);
  if (l_eossts != OS_STS_SUCCESS) {
    OS_PKG_FAIL("Open failed...<%s>", a_szSource);
    return l_eossts;
  }
  COsSplitWorkers l_workers;
  return OsSplitWriteOpen(a_posfileOutput, a_pu64Written, &l_osfileSource, a_szSource, a_eoscompress, a_pfncallback,
                          a_posfilepackageprogress, &l_workers);
}

// ---- the reader ----

namespace {

// SplitRead of a stream of at most a_u64Limit bytes; *a_pu64Consumed grows
// by what it read. The destination is created only after the stream's
// header holds, and removed when the stream fails.
EOSSTS SplitReadInto(const char* a_szDestination, std::uint64_t* a_pu64FileSize, COsByteSource* a_posbytesource,
                     std::uint64_t a_u64Limit, std::uint64_t* a_pu64Consumed, OsFilePackageCallback a_pfncallback,
                     OsFilePackageProgress* a_posfilepackageprogress) {
  *a_pu64FileSize = 0;
  OsSplitHeader l_ossplitheader;
  // The header is judged before the destination is created.
  EOSSTS l_eossts = OsSplitDecodeHeader(a_posbytesource, a_u64Limit, a_szDestination, &l_ossplitheader, a_pu64Consumed);
  if (l_eossts != OS_STS_SUCCESS) return l_eossts;
  COsFile l_osfileDestination;
  l_eossts = l_osfileDestination.Open(a_szDestination, OS_FILE_OPEN_CREATE, OS_FILE_ACCESS_WRITE, OS_FILE_SHARE_WRITE);
  if (l_eossts != OS_STS_SUCCESS) {
    OS_PKG_FAIL("Open failed...<%s>", a_szDestination);
    return l_eossts;
  }
  COsFileBackgroundSink l_sink(&l_osfileDestination);
  COsSplitWorkers l_workers;
  l_eossts = OsSplitDecodeBody(a_posbytesource, a_u64Limit - *a_pu64Consumed, a_szDestination, l_ossplitheader, &l_sink,
                               a_pfncallback, a_posfilepackageprogress, a_pu64Consumed,
                               l_workers.For(l_ossplitheader.m_u64FileSize));
  l_osfileDestination.Close();
  if (l_eossts != OS_STS_SUCCESS) {
    OsFileDelete(a_szDestination, OS_FILE_TYPE_FILE, false);
    return l_eossts;
  }
  *a_pu64FileSize = l_ossplitheader.m_u64FileSize;
  return OS_STS_SUCCESS;
}

}  // namespace

EOSSTS SplitRead(const char* a_szDestination, std::uint64_t* a_pu64FileSize, COsFile* a_posfileInput,
                 OsFilePackageCallback a_pfncallback, OsFilePackageProgress* a_posfilepackageprogress) {
  OS_RETURN_IF_NULL(a_szDestination, OS_LOG_ASSERT, "a_szDestination is null...", OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_pu64FileSize, OS_LOG_ASSERT, "a_pu64FileSize is null...", OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_posfileInput, OS_LOG_ASSERT, "a_posfileInput is null...", OS_STS_BADARG);
  *a_pu64FileSize = 0;
  OsFilePackageProgress l_progress;
  if (a_pfncallback != nullptr && a_posfilepackageprogress == nullptr) {
    OsFilePackageProgressInit(&l_progress);
    a_posfilepackageprogress = &l_progress;
  }
  // The stream may use no more than what the file holds after the position.
  std::uint64_t l_u64Size = 0, l_u64Position = 0;
  if (a_posfileInput->Size64(&l_u64Size) != OS_STS_SUCCESS ||
      a_posfileInput->GetFilePointer64(&l_u64Position) != OS_STS_SUCCESS) {
    OS_PKG_FAIL("SetFilePointer64 failed...");
    return OS_STS_FAIL;
  }
  COsFileSource l_source(a_posfileInput);
  std::uint64_t l_u64Consumed = 0;
  return SplitReadInto(a_szDestination, a_pu64FileSize, &l_source,
                       l_u64Position < l_u64Size ? l_u64Size - l_u64Position : 0, &l_u64Consumed, a_pfncallback,
                       a_posfilepackageprogress);
}
