// The readers of split streams and packages, over any byte source.
//
// Nothing here trusts a number from the stream: every length is held
// against the bytes the stream really has left (its record's size, or the
// file) and against the buffers before anything is read into them, so a
// damaged or hostile stream fails with 1 and one message.
#include <cstring>

#include "os_cosfile_package_impl.h"
#include "os_cosmem.h"

namespace {

// Reads exactly a_u32Bytes of the a_pu64Left bytes the stream has left.
EOSSTS ReadExactly(COsByteSource* a_posbytesource, void* a_pv, std::uint32_t a_u32Bytes, std::uint64_t* a_pu64Left,
                   std::uint64_t* a_pu64Consumed) {
  if (a_u32Bytes > *a_pu64Left) return OS_STS_NOMORE;
  std::uint32_t l_u32Read = 0;
  if (a_posbytesource->Read(a_pv, a_u32Bytes, &l_u32Read) != OS_STS_SUCCESS) return OS_STS_FAIL;
  *a_pu64Left -= l_u32Read;
  *a_pu64Consumed += l_u32Read;
  return l_u32Read == a_u32Bytes ? OS_STS_SUCCESS : OS_STS_NOMORE;
}

EOSSTS SkipExactly(COsByteSource* a_posbytesource, std::uint64_t a_u64Bytes, std::uint64_t* a_pu64Left,
                   std::uint64_t* a_pu64Consumed) {
  if (a_u64Bytes == 0) return OS_STS_SUCCESS;
  if (a_u64Bytes > *a_pu64Left) return OS_STS_NOMORE;
  if (a_posbytesource->Skip(a_u64Bytes) != OS_STS_SUCCESS) return OS_STS_FAIL;
  *a_pu64Left -= a_u64Bytes;
  *a_pu64Consumed += a_u64Bytes;
  return OS_STS_SUCCESS;
}

// The split reader's message for a read that failed (the source said so)
// or came back short (the stream ends early).
EOSSTS SplitReadFailed(EOSSTS a_eossts) {
  if (a_eossts == OS_STS_NOMORE)
    OS_PKG_FAIL("Error reading chunk...");
  else
    OS_PKG_FAIL("Read failed...");
  return OS_STS_FAIL;
}

bool IsSeparator(char a_c) { return a_c == '\\' || a_c == '/'; }

// True when a_szName lies below a_szDirectory (one separator after it).
bool IsBelow(const char* a_szName, const char* a_szDirectory) {
  const std::size_t l_sizet = std::strlen(a_szDirectory);
  return std::strncmp(a_szName, a_szDirectory, l_sizet) == 0 && IsSeparator(a_szName[l_sizet]) &&
         a_szName[l_sizet + 1] != '\0';
}

// Waits, on every way out of a decoding, until the sink no longer reads
// the buffers that are about to be freed.
class CFinish {
 public:
  explicit CFinish(COsByteSink* a_posbytesink) : m_posbytesink(a_posbytesink) {}
  ~CFinish() { m_posbytesink->Finish(); }
  CFinish(const CFinish&) = delete;
  CFinish& operator=(const CFinish&) = delete;

 private:
  COsByteSink* m_posbytesink;
};

constexpr int s_iOpenMax = OS_PACKAGE_DEPTH_MAX + 3;  // the writer's stack of 34 levels
// What one decoded part holds: 64 blocks.
constexpr std::uint32_t s_u32PartSize = 64 * OS_COMPRESS_BLOCK_SIZE;

}  // namespace

EOSSTS OsSplitDecodeHeader(COsByteSource* a_posbytesource, std::uint64_t a_u64Limit, const char* a_szName,
                           OsSplitHeader* a_possplitheader, std::uint64_t* a_pu64Consumed) {
  (void)a_szName;
  std::uint64_t l_u64Left = a_u64Limit;
  std::uint8_t l_au8[OS_SPLIT_HEADER_SIZE] = {};
  EOSSTS l_eossts = ReadExactly(a_posbytesource, l_au8, 16, &l_u64Left, a_pu64Consumed);
  if (l_eossts != OS_STS_SUCCESS) return SplitReadFailed(l_eossts);
  if (std::memcmp(l_au8, OS_SPLIT_MAGIC, OS_PKG_MAGIC_SIZE) != 0) {
    OS_PKG_FAIL("Not a split file...");
    return OS_STS_FAIL;
  }
  OsSplitHeaderDecode(l_au8, 16, a_possplitheader);
  const std::uint32_t l_u32Header = a_possplitheader->m_u32HeaderSize;
  if (l_u32Header < OS_SPLIT_HEADER_SIZE || a_possplitheader->m_u32PieceHeaderSize < OS_SPLIT_PIECE_HEADER_SIZE) {
    OS_PKG_FAIL("Split header sizes below their fields...%u %u", l_u32Header, a_possplitheader->m_u32PieceHeaderSize);
    return OS_STS_FAIL;
  }
  l_eossts = ReadExactly(a_posbytesource, l_au8 + 16, OS_SPLIT_HEADER_SIZE - 16, &l_u64Left, a_pu64Consumed);
  if (l_eossts != OS_STS_SUCCESS) return SplitReadFailed(l_eossts);
  OsSplitHeaderDecode(l_au8, OS_SPLIT_HEADER_SIZE, a_possplitheader);
  l_eossts = SkipExactly(a_posbytesource, l_u32Header - OS_SPLIT_HEADER_SIZE, &l_u64Left, a_pu64Consumed);
  if (l_eossts == OS_STS_NOMORE) return SplitReadFailed(l_eossts);
  if (l_eossts != OS_STS_SUCCESS) {
    OS_PKG_FAIL("SetFilePointer64 failed...");
    return OS_STS_FAIL;
  }
  // Pieces are what one buffer holds: a larger piece size would size the
  // reader's buffers by a number from the stream.
  const std::uint32_t l_u32Piece = a_possplitheader->m_u32PieceSize;
  if (a_possplitheader->m_u64FileSize > 1 && (l_u32Piece == 0 || l_u32Piece > OS_SPLIT_PIECE_SIZE)) {
    OS_PKG_FAIL("Split piece size out of range...%u", l_u32Piece);
    return OS_STS_FAIL;
  }
  return OS_STS_SUCCESS;
}

EOSSTS OsSplitDecodeBody(COsByteSource* a_posbytesource, std::uint64_t a_u64Limit, const char* a_szName,
                         const OsSplitHeader& a_ossplitheader, COsByteSink* a_posbytesink,
                         OsFilePackageCallback a_pfncallback, OsFilePackageProgress* a_posfilepackageprogress,
                         std::uint64_t* a_pu64Consumed, COsWorkers* a_posworkers) {
  std::uint64_t l_u64Left = a_u64Limit;
  const std::uint64_t l_u64Size = a_ossplitheader.m_u64FileSize;
  const std::uint32_t l_u32PieceHeader = a_ossplitheader.m_u32PieceHeaderSize;
  EOSSTS l_eossts = OS_STS_SUCCESS;

  if (l_u64Size <= 1) {
    l_eossts = SkipExactly(a_posbytesource, l_u32PieceHeader, &l_u64Left, a_pu64Consumed);
    if (l_eossts == OS_STS_NOMORE) return SplitReadFailed(l_eossts);
    if (l_eossts != OS_STS_SUCCESS) {
      OS_PKG_FAIL("SetFilePointer64 failed...");
      return OS_STS_FAIL;
    }
    if (l_u64Size == 1) {
      std::uint8_t l_u8 = 0;
      l_eossts = ReadExactly(a_posbytesource, &l_u8, 1, &l_u64Left, a_pu64Consumed);
      if (l_eossts != OS_STS_SUCCESS) return SplitReadFailed(l_eossts);
      if (a_posbytesink->Write(&l_u8, 1) != OS_STS_SUCCESS) {
        OS_PKG_FAIL("Write failed...");
        return OS_STS_FAIL;
      }
    }
    return OsFilePackageNotify(a_pfncallback, a_posfilepackageprogress, a_szName, l_u64Size, l_u64Size, l_u64Size);
  }

  // A piece's container is read whole; it is decoded a part at a time into
  // two buffers in turn, so that a sink that writes in the background
  // writes one part while the next is decoded.
  // No container is longer than a piece's buffer or than the stream has
  // left, and no part longer than the file.
  std::uint32_t l_u32Buffer = OsSplitBufferSize(l_u64Size, a_ossplitheader.m_u32PieceSize);
  if (l_u64Left < l_u32Buffer) l_u32Buffer = static_cast<std::uint32_t>(l_u64Left);
  const std::uint64_t l_u64PartMost =
      l_u64Size < a_ossplitheader.m_u32PieceSize ? l_u64Size : a_ossplitheader.m_u32PieceSize;
  const std::uint32_t l_u32Part =
      l_u64PartMost < s_u32PartSize ? static_cast<std::uint32_t>(l_u64PartMost) : s_u32PartSize;
  COsPkgBuffer l_bufferIn(l_u32Buffer > 0 ? l_u32Buffer : 1), l_bufferScratch(OS_COMPRESS_BLOCK_SIZE);
  COsPkgBuffer l_abufferPart[2] = {COsPkgBuffer(l_u32Part), COsPkgBuffer(l_u32Part)};
  if (l_bufferIn.m_pu8 == nullptr || l_bufferScratch.m_pu8 == nullptr || l_abufferPart[0].m_pu8 == nullptr ||
      l_abufferPart[1].m_pu8 == nullptr) {
    OS_PKG_FAIL("OsMemAlloc failed...");
    return OS_STS_FAIL;
  }
  const CFinish l_finish(a_posbytesink);
  std::uint64_t l_u64Written = 0;
  std::uint64_t l_u64Reported = 0;
  int l_iPart = 0;
  while (l_u64Written < l_u64Size) {
    l_eossts = OsFilePackageNotify(a_pfncallback, a_posfilepackageprogress, a_szName, l_u64Size, l_u64Written,
                                   l_u64Written - l_u64Reported);
    if (l_eossts != OS_STS_SUCCESS) return l_eossts;
    l_u64Reported = l_u64Written;
    std::uint8_t l_au8Length[OS_SPLIT_PIECE_HEADER_SIZE];
    l_eossts = ReadExactly(a_posbytesource, l_au8Length, OS_SPLIT_PIECE_HEADER_SIZE, &l_u64Left, a_pu64Consumed);
    if (l_eossts == OS_STS_SUCCESS)
      l_eossts =
          SkipExactly(a_posbytesource, l_u32PieceHeader - OS_SPLIT_PIECE_HEADER_SIZE, &l_u64Left, a_pu64Consumed);
    if (l_eossts != OS_STS_SUCCESS) return SplitReadFailed(l_eossts);
    const std::uint32_t l_u32Container = OsPkgGet32(l_au8Length);
    if (l_u32Container > l_u64Left) {
      OS_PKG_FAIL("Error reading chunk...");
      return OS_STS_FAIL;
    }
    if (l_u32Container == 0 || l_u32Container > l_u32Buffer) {
      OS_PKG_FAIL("Split piece length out of range...%u %u", l_u32Container, l_u32Buffer);
      return OS_STS_FAIL;
    }
    l_eossts = ReadExactly(a_posbytesource, l_bufferIn.m_pu8, l_u32Container, &l_u64Left, a_pu64Consumed);
    if (l_eossts != OS_STS_SUCCESS) return SplitReadFailed(l_eossts);
    // A piece never decodes to more than one piece or than the file has
    // left, nor to nothing.
    const std::uint64_t l_u64PieceMost = l_u64Size - l_u64Written < a_ossplitheader.m_u32PieceSize
                                             ? l_u64Size - l_u64Written
                                             : a_ossplitheader.m_u32PieceSize;
    std::uint64_t l_u64Piece = 0;
    OsDecompressState l_osdecompressstate;
    while (!l_osdecompressstate.m_bDone) {
      const std::uint64_t l_u64Room = l_u64PieceMost - l_u64Piece;
      std::uint32_t l_u32Decoded = l_u64Room < l_u32Part ? static_cast<std::uint32_t>(l_u64Room) : l_u32Part;
      COsPkgBuffer& l_buffer = l_abufferPart[l_iPart];
      if (l_u32Decoded == 0 ||
          OsFileDecompressPart(l_buffer.m_pu8, &l_u32Decoded, l_bufferIn.m_pu8, l_u32Container, l_bufferScratch.m_pu8,
                               &l_osdecompressstate, a_posworkers) != OS_STS_SUCCESS) {
        OS_PKG_FAIL("Decompress failed...");
        return OS_STS_FAIL;
      }
      // The container says how much it holds: more than the file has left
      // is a stream that does not match its header.
      if (l_osdecompressstate.m_u64Total > l_u64PieceMost) {
        OS_PKG_FAIL("Decompressed size doesn't match original size (%llu != %llu)...",
                    static_cast<unsigned long long>(l_u64Written + l_osdecompressstate.m_u64Total),
                    static_cast<unsigned long long>(l_u64Size));
        return OS_STS_FAIL;
      }
      if (l_u32Decoded == 0) continue;  // a container of nothing is done at once
      if (a_posbytesink->Write(l_buffer.m_pu8, l_u32Decoded) != OS_STS_SUCCESS) {
        OS_PKG_FAIL("Write failed...");
        return OS_STS_FAIL;
      }
      l_iPart = 1 - l_iPart;
      l_u64Piece += l_u32Decoded;
    }
    if (l_u64Piece == 0) {
      OS_PKG_FAIL("Decompress failed...");
      return OS_STS_FAIL;
    }
    l_u64Written += l_u64Piece;
  }
  if (a_posbytesink->Finish() != OS_STS_SUCCESS) {
    OS_PKG_FAIL("Write failed...");
    return OS_STS_FAIL;
  }
  return OsFilePackageNotify(a_pfncallback, a_posfilepackageprogress, a_szName, l_u64Size, l_u64Size,
                             l_u64Size - l_u64Reported);
}

EOSSTS OsPackageWalk(COsByteSource* a_posbytesource, std::uint64_t a_u64PackageSize, const char* a_szPackage,
                     COsPackageVisitor* a_posvisitor, OsFilePackageCallback a_pfncallback,
                     OsFilePackageProgress* a_posfilepackageprogress) {
  std::uint64_t l_u64Left = a_u64PackageSize;
  std::uint64_t l_u64Offset = 0;
  std::uint8_t l_au8[OS_PACKAGE_RECORD_SIZE] = {};

  // The common header, shown before it is judged.
  std::uint64_t l_u64Consumed = 0;
  const std::uint32_t l_u32Common =
      a_u64PackageSize < OS_PACKAGE_COMMON_SIZE ? static_cast<std::uint32_t>(a_u64PackageSize) : OS_PACKAGE_COMMON_SIZE;
  EOSSTS l_eossts = ReadExactly(a_posbytesource, l_au8, l_u32Common, &l_u64Left, &l_u64Consumed);
  if (l_eossts == OS_STS_FAIL) {
    OS_PKG_FAIL("Read failed...<%s>", a_szPackage);
    return OS_STS_FAIL;
  }
  OsPackageHeader l_ospackageheader;
  OsPackageHeaderDecode(l_au8, static_cast<std::uint32_t>(l_u64Consumed), &l_ospackageheader);
  if ((l_eossts = a_posvisitor->Common(l_ospackageheader)) != OS_STS_SUCCESS) return l_eossts;
  if (l_u64Consumed < OS_PKG_MAGIC_SIZE || std::memcmp(l_au8, OS_PACKAGE_MAGIC, OS_PKG_MAGIC_SIZE) != 0) {
    OS_PKG_FAIL("Not a package file...<%s>", a_szPackage);
    return OS_STS_FAIL;
  }
  const std::uint32_t l_u32Header = l_ospackageheader.m_u32OsFilePackageHeader;
  const std::uint32_t l_u32Record = l_ospackageheader.m_u32OsFilePackageChunk;
  if (l_u64Consumed < OS_PACKAGE_COMMON_SIZE || l_u32Header < OS_PACKAGE_HEADER_SIZE ||
      l_u32Record < OS_PACKAGE_RECORD_SIZE || l_u32Header > OS_PACKAGE_LAYOUT_MAX ||
      l_u32Record > OS_PACKAGE_LAYOUT_MAX) {
    OS_PKG_FAIL("Package header sizes out of range...<%s> %u %u", a_szPackage, l_u32Header, l_u32Record);
    return OS_STS_FAIL;
  }
  l_eossts = ReadExactly(a_posbytesource, l_au8 + OS_PACKAGE_COMMON_SIZE,
                         OS_PACKAGE_HEADER_SIZE - OS_PACKAGE_COMMON_SIZE, &l_u64Left, &l_u64Consumed);
  if (l_eossts == OS_STS_SUCCESS)
    l_eossts = SkipExactly(a_posbytesource, l_u32Header - OS_PACKAGE_HEADER_SIZE, &l_u64Left, &l_u64Consumed);
  if (l_eossts != OS_STS_SUCCESS) {
    OS_PKG_FAIL("Error reading chunk...<%s>", a_szPackage);
    return OS_STS_FAIL;
  }
  OsPackageHeaderDecode(l_au8, OS_PACKAGE_HEADER_SIZE, &l_ospackageheader);
  if ((l_eossts = a_posvisitor->Header(l_ospackageheader)) != OS_STS_SUCCESS) return l_eossts;
  if (a_posfilepackageprogress != nullptr)
    a_posfilepackageprogress->m_u64TotalBytes = l_ospackageheader.m_u64TotalOriginalBytes;
  l_u64Offset = l_u32Header;

  // The directories whose closing record is still to come, innermost last.
  char l_aszOpen[s_iOpenMax][OS_PACKAGE_NAME_SIZE];
  int l_iOpen = 0;
  bool l_bFirstDirectory = true;
  for (std::uint32_t l_u32Count = 1; l_u64Left > 0; ++l_u32Count) {
    std::uint64_t l_u64Unused = 0;
    l_eossts = ReadExactly(a_posbytesource, l_au8, OS_PACKAGE_RECORD_SIZE, &l_u64Left, &l_u64Unused);
    if (l_eossts == OS_STS_SUCCESS)
      l_eossts = SkipExactly(a_posbytesource, l_u32Record - OS_PACKAGE_RECORD_SIZE, &l_u64Left, &l_u64Unused);
    if (l_eossts != OS_STS_SUCCESS) {
      OS_PKG_FAIL("Error reading chunk...<%s>", a_szPackage);
      return OS_STS_FAIL;
    }
    OsPackageRecord l_ospackagerecord;
    OsPackageRecordDecode(l_au8, OS_PACKAGE_RECORD_SIZE, &l_ospackagerecord);
    if ((l_eossts = a_posvisitor->Record(l_ospackagerecord, l_u32Count, l_u64Offset)) != OS_STS_SUCCESS)
      return l_eossts;

    const std::uint32_t l_u32Type = l_ospackagerecord.m_u32OsFileType;
    const bool l_bDirectory = l_u32Type == OS_FILE_TYPE_DIRECTORY;
    if (l_ospackagerecord.m_u64Size > l_u64Left) {
      OS_PKG_FAIL("Record passes the end of the package...<%s> %u %llu", a_szPackage, l_u32Count,
                  static_cast<unsigned long long>(l_ospackagerecord.m_u64Size));
      return OS_STS_FAIL;
    }
    if ((l_u32Type != OS_FILE_TYPE_DIRECTORY && l_u32Type != OS_FILE_TYPE_FILE) ||
        (l_ospackagerecord.m_u32OsFileAccess != OS_FILE_ACCESS_READ &&
         l_ospackagerecord.m_u32OsFileAccess != OS_FILE_ACCESS_READWRITE) ||
        (l_bDirectory && l_ospackagerecord.m_u64Size != 0)) {
      OS_PKG_FAIL("Record of no known kind...<%s> %u %u %u", a_szPackage, l_u32Count, l_u32Type,
                  l_ospackagerecord.m_u32OsFileAccess);
      return OS_STS_FAIL;
    }
    const char* const l_szRefusal =
        OsPackageNameRefusal(reinterpret_cast<const std::uint8_t*>(l_ospackagerecord.m_szFilename), l_bDirectory);
    if (l_szRefusal != nullptr) {
      OS_PKG_FAIL("Name refused...<%s> %u %s", a_szPackage, l_u32Count, l_szRefusal);
      return OS_STS_FAIL;
    }
    const char* const l_szName = l_ospackagerecord.m_szFilename;
    const bool l_bClosing = l_bDirectory && l_iOpen > 0 && std::strcmp(l_szName, l_aszOpen[l_iOpen - 1]) == 0;
    // Everything between a directory's two records lies below it.
    if (!l_bClosing && l_iOpen > 0 && !IsBelow(l_szName, l_aszOpen[l_iOpen - 1])) {
      OS_PKG_FAIL("Record outside its directory...<%s> %u", a_szPackage, l_u32Count);
      return OS_STS_FAIL;
    }

    if (l_bDirectory) {
      if (l_bClosing) {
        --l_iOpen;
      } else {
        if (l_iOpen == s_iOpenMax) {
          OS_PKG_FAIL("Directory depth overflow...<%s> %d", a_szPackage, l_iOpen + 1);
          return OS_STS_FAIL;
        }
        std::memcpy(l_aszOpen[l_iOpen++], l_szName, OS_PACKAGE_NAME_SIZE);
      }
      l_eossts = a_posvisitor->Directory(l_ospackagerecord, l_bFirstDirectory && !l_bClosing, l_bClosing);
      if (!l_bClosing) l_bFirstDirectory = false;
      if (l_eossts != OS_STS_SUCCESS) return l_eossts;
    } else {
      const std::uint64_t l_u64Stream = l_ospackagerecord.m_u64Size;
      if (l_u64Stream == 0) {
        l_eossts = OsFilePackageNotify(a_pfncallback, a_posfilepackageprogress, l_szName, 0, 0, 0);
        if (l_eossts != OS_STS_SUCCESS) return l_eossts;
      }
      // A stream's header is judged before the visitor makes anything of it.
      std::uint64_t l_u64Used = 0;
      OsSplitHeader l_ossplitheader;
      std::uint64_t l_u64Unread = 0;  // of the stream, when it failed
      COsByteSink* l_posbytesink = nullptr;
      if (l_u64Stream != 0) {
        l_eossts = OsSplitDecodeHeader(a_posbytesource, l_u64Stream, l_szName, &l_ossplitheader, &l_u64Used);
        l_u64Left -= l_u64Used;
      }
      if (l_eossts != OS_STS_SUCCESS) {
        OS_LOGE("Decompress failed...<%s>", l_szName);
        l_u64Unread = l_u64Stream - l_u64Used;
      } else if ((l_eossts = a_posvisitor->FileBegin(l_ospackagerecord, &l_posbytesink)) != OS_STS_SUCCESS) {
        return l_eossts;
      } else if (l_posbytesink == nullptr) {
        l_eossts = SkipExactly(a_posbytesource, l_u64Stream - l_u64Used, &l_u64Left, &l_u64Unused);
        if (l_eossts != OS_STS_SUCCESS) {
          OS_PKG_FAIL("SetFilePointer64 failed...<%s>", a_szPackage);
          l_u64Unread = l_u64Stream - l_u64Used;
        }
      } else if (l_u64Stream != 0) {
        const std::uint64_t l_u64Header = l_u64Used;
        l_eossts =
            OsSplitDecodeBody(a_posbytesource, l_u64Stream - l_u64Used, a_posvisitor->ProgressName(l_ospackagerecord),
                              l_ossplitheader, l_posbytesink, a_pfncallback, a_posfilepackageprogress, &l_u64Used,
                              l_ossplitheader.m_u64FileSize > OS_COMPRESS_BLOCK_SIZE
                                  ? a_posvisitor->Workers(l_ossplitheader.m_u64FileSize)
                                  : nullptr);
        l_u64Left -= l_u64Used - l_u64Header;
        if (l_eossts == OS_STS_SUCCESS && l_u64Used != l_u64Stream) {
          OS_PKG_FAIL("Corrupt package file...%s (%llu != %llu)", a_szPackage,
                      static_cast<unsigned long long>(l_u64Used), static_cast<unsigned long long>(l_u64Stream));
          l_eossts = OS_STS_FAIL;
        }
        if (l_eossts == OS_STS_FAIL) OS_LOGE("Decompress failed...<%s>", l_szName);
        l_u64Unread = l_u64Stream - l_u64Used;
      }
      if ((l_eossts = a_posvisitor->FileEnd(l_ospackagerecord, l_eossts)) != OS_STS_SUCCESS) return l_eossts;
      // A visitor that lets a failed file go reads on at the next record,
      // never inside the rest of this stream.
      if (SkipExactly(a_posbytesource, l_u64Unread, &l_u64Left, &l_u64Unused) != OS_STS_SUCCESS) {
        OS_PKG_FAIL("SetFilePointer64 failed...<%s>", a_szPackage);
        return OS_STS_FAIL;
      }
    }
    l_u64Offset += l_u32Record + l_ospackagerecord.m_u64Size;
  }
  if (l_iOpen > 0) {
    OS_PKG_FAIL("Package ends inside a directory...<%s> %d", a_szPackage, l_iOpen);
    return OS_STS_FAIL;
  }
  return OS_STS_SUCCESS;
}

#ifdef _WINDOWS_
#error "format engines are platform-free"
#endif
