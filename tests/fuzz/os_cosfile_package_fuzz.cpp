// libFuzzer target of the split and package readers. The input is walked as
// a package whose every file is expanded into a counting sink, then read as
// one split stream (header, then body) into a counting sink, with the
// input's size as the limit. Only status 0 or 1 may come back; the readers
// never ask the source for a byte past the limit (the source aborts); a
// stream that decodes gives exactly its header's file size and consumes
// exactly its record's bytes, and the progress record counts every byte.
// When the input's last byte is odd the visitor lets failed files go, and
// the walk must go on at the next record.
//
// A split body sizes three buffers by min(piece, file size) + 1 MiB before
// it reads a piece, so a header announcing a large file would cost over
// 100 MiB of zeroed memory per stream. Streams announcing more than
// s_u64MaxFile bytes are therefore only checked up to their header (the
// walk skips them unread): every path of the body, several pieces included,
// is reached with small piece sizes.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "os_cosfile_package.h"

namespace {

constexpr std::uint64_t s_u64MaxFile = 1 << 20;

void Check(bool a_b) {
  if (!a_b) std::abort();
}

class CSource : public COsByteSource {
 public:
  CSource(const std::uint8_t* a_pu8, std::size_t a_sizet) : m_pu8(a_pu8), m_sizet(a_sizet) {}
  EOSSTS Read(void* a_pv, std::uint32_t a_u32Bytes, std::uint32_t* a_pu32Read) override {
    Check(a_u32Bytes <= m_sizet - m_sizetAt);
    if (a_u32Bytes > 0) std::memcpy(a_pv, m_pu8 + m_sizetAt, a_u32Bytes);
    m_sizetAt += a_u32Bytes;
    *a_pu32Read = a_u32Bytes;
    return OS_STS_SUCCESS;
  }
  EOSSTS Skip(std::uint64_t a_u64Bytes) override {
    Check(a_u64Bytes <= m_sizet - m_sizetAt);
    m_sizetAt += static_cast<std::size_t>(a_u64Bytes);
    return OS_STS_SUCCESS;
  }
  std::size_t At() const { return m_sizetAt; }
  // The file size a split header at the current position announces (0 when
  // there is none).
  std::uint64_t AnnouncedFileSize(std::uint64_t a_u64Limit) const {
    if (a_u64Limit < OS_SPLIT_HEADER_SIZE || m_sizet - m_sizetAt < OS_SPLIT_HEADER_SIZE) return 0;
    OsSplitHeader l_ossplitheader;
    OsSplitHeaderDecode(m_pu8 + m_sizetAt, OS_SPLIT_HEADER_SIZE, &l_ossplitheader);
    return l_ossplitheader.m_u64FileSize;
  }

 private:
  const std::uint8_t* m_pu8;
  std::size_t m_sizet;
  std::size_t m_sizetAt = 0;
};

class CCountingSink : public COsByteSink {
 public:
  EOSSTS Write(const void* a_pv, std::uint32_t a_u32Bytes) override {
    Check(a_pv != nullptr && a_u32Bytes > 0);
    m_u64Bytes += a_u32Bytes;
    return OS_STS_SUCCESS;
  }
  std::uint64_t m_u64Bytes = 0;
};

class CExpand : public COsPackageVisitor {
 public:
  CExpand(CSource* a_psource, bool a_bForgive) : m_psource(a_psource), m_bForgive(a_bForgive) {}
  // A record is shown with the source at its stream's start; the stream's
  // header is read before FileBegin.
  EOSSTS Record(const OsPackageRecord& a_ospackagerecord, std::uint32_t, std::uint64_t) override {
    m_sizetBegin = m_psource->At();
    m_u64Announced = a_ospackagerecord.m_u64Size == 0 ? 0 : m_psource->AnnouncedFileSize(a_ospackagerecord.m_u64Size);
    return OS_STS_SUCCESS;
  }
  EOSSTS FileBegin(const OsPackageRecord&, COsByteSink** a_pposbytesink) override {
    m_sink.m_u64Bytes = 0;
    m_bExpanded = m_u64Announced <= s_u64MaxFile;
    *a_pposbytesink = m_bExpanded ? &m_sink : nullptr;
    return OS_STS_SUCCESS;
  }
  EOSSTS FileEnd(const OsPackageRecord& a_ospackagerecord, EOSSTS a_eossts) override {
    Check(a_eossts == OS_STS_SUCCESS || a_eossts == OS_STS_FAIL);
    if (a_eossts == OS_STS_SUCCESS) {
      Check(m_psource->At() - m_sizetBegin == a_ospackagerecord.m_u64Size);
      if (m_bExpanded) {
        Check(m_sink.m_u64Bytes == m_u64Announced);
        m_u64Expanded += m_sink.m_u64Bytes;
      }
    } else if (m_bForgive) {
      m_bForgiven = true;
      return OS_STS_SUCCESS;
    }
    return a_eossts;
  }
  std::uint64_t m_u64Expanded = 0;
  bool m_bForgiven = false;  // then the progress also counts bytes of the failed files

 private:
  CSource* m_psource;
  CCountingSink m_sink;
  std::size_t m_sizetBegin = 0;
  std::uint64_t m_u64Announced = 0;
  bool m_bExpanded = false;
  bool m_bForgive;
};

EOSSTS Progress(OsFilePackageProgress* a_posfilepackageprogress) {
  Check(a_posfilepackageprogress->m_u64CurrentStep <= a_posfilepackageprogress->m_u64FileSize);
  return OS_STS_SUCCESS;
}

void WalkPackage(const std::uint8_t* a_pu8, std::size_t a_sizet) {
  CSource l_source(a_pu8, a_sizet);
  CExpand l_expand(&l_source, a_sizet > 0 && (a_pu8[a_sizet - 1] & 1) != 0);
  OsFilePackageProgress l_progress;
  OsFilePackageProgressInit(&l_progress);
  const EOSSTS l_eossts = OsPackageWalk(&l_source, a_sizet, "fuzz.pkg", &l_expand, &Progress, &l_progress);
  Check(l_eossts == OS_STS_SUCCESS || l_eossts == OS_STS_FAIL);
  if (l_eossts == OS_STS_SUCCESS) {
    Check(l_source.At() == a_sizet);
    Check(l_expand.m_bForgiven ? l_progress.m_u64RunningCount >= l_expand.m_u64Expanded
                               : l_progress.m_u64RunningCount == l_expand.m_u64Expanded);
  } else {
    Check(OsFilePackageLastError()[0] != '\0');
  }
}

void ReadSplit(const std::uint8_t* a_pu8, std::size_t a_sizet) {
  CSource l_source(a_pu8, a_sizet);
  OsSplitHeader l_ossplitheader;
  std::uint64_t l_u64Consumed = 0;
  EOSSTS l_eossts = OsSplitDecodeHeader(&l_source, a_sizet, "fuzz.spl", &l_ossplitheader, &l_u64Consumed);
  Check(l_eossts == OS_STS_SUCCESS || l_eossts == OS_STS_FAIL);
  Check(l_u64Consumed == l_source.At() && l_u64Consumed <= a_sizet);
  if (l_eossts != OS_STS_SUCCESS || l_ossplitheader.m_u64FileSize > s_u64MaxFile) return;
  CCountingSink l_sink;
  l_eossts = OsSplitDecodeBody(&l_source, a_sizet - l_u64Consumed, "fuzz.spl", l_ossplitheader, &l_sink, nullptr,
                               nullptr, &l_u64Consumed);
  Check(l_eossts == OS_STS_SUCCESS || l_eossts == OS_STS_FAIL);
  Check(l_u64Consumed == l_source.At() && l_u64Consumed <= a_sizet);
  if (l_eossts == OS_STS_SUCCESS) Check(l_sink.m_u64Bytes == l_ossplitheader.m_u64FileSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* a_pu8Data, std::size_t a_sizetData) {
  OsFilePackageClearError();
  WalkPackage(a_pu8Data, a_sizetData);
  ReadSplit(a_pu8Data, a_sizetData);
  return 0;
}
