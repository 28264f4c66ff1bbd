// The compression container: blocks of 65536 bytes, each coded with the
// block-sorting pipeline or with run-length coding alone, or stored; and the
// move-to-front and run-length primitives.
//
// Every field is written and read byte by byte in little-endian order, and
// the reader checks every length and offset it takes from the container
// against the container and the caller's buffers before it touches them.
#include <bit>
#include <cstdint>
#include <cstring>

#include "os_cosfile_compress.h"
#include "os_cosfile_compress_impl.h"
#include "os_cosmem.h"
#include "os_log.h"

static_assert(std::endian::native == std::endian::little, "the move-to-front search reads bytes little-endian");

namespace {

constexpr char s_szMagic[] = "QRXCMP01";
constexpr std::uint32_t s_u32MagicLength = 8;
constexpr std::uint32_t s_u32MaxLiteral = 127;  // a literal group's longest count
constexpr std::uint32_t s_u32MaxCopies = 127;   // a run group's longest count (header 255)
constexpr std::uint32_t s_u32RunBase = 128;

void Put32(std::uint8_t* a_pu8, std::uint32_t a_u32) {
  for (int l_i = 0; l_i < 4; ++l_i) a_pu8[l_i] = static_cast<std::uint8_t>(a_u32 >> (8 * l_i));
}

void Put64(std::uint8_t* a_pu8, std::uint64_t a_u64) {
  for (int l_i = 0; l_i < 8; ++l_i) a_pu8[l_i] = static_cast<std::uint8_t>(a_u64 >> (8 * l_i));
}

std::uint32_t Get32(const std::uint8_t* a_pu8) {
  std::uint32_t l_u32 = 0;
  for (int l_i = 3; l_i >= 0; --l_i) l_u32 = (l_u32 << 8) | a_pu8[l_i];
  return l_u32;
}

std::uint64_t Get64(const std::uint8_t* a_pu8) {
  std::uint64_t l_u64 = 0;
  for (int l_i = 7; l_i >= 0; --l_i) l_u64 = (l_u64 << 8) | a_pu8[l_i];
  return l_u64;
}

// The 256-entry recency list as plain bytes. Moving an entry to the front
// is one memmove of the entries before it, which the C library does a
// vector at a time; finding an entry reads the list a word at a time.
class CMtfList {
  static constexpr std::uint64_t s_u64Ones = 0x0101010101010101ull;
  static constexpr std::uint64_t s_u64Highs = 0x8080808080808080ull;

  // Flags the zero bytes of a_u64; the lowest flag is the first zero byte
  // (borrows only flag bytes above a real zero).
  static std::uint64_t ZeroBytes(std::uint64_t a_u64) { return (a_u64 - s_u64Ones) & ~a_u64 & s_u64Highs; }

 public:
  CMtfList() {
    for (std::uint32_t l_u = 0; l_u < 256; ++l_u) m_au8List[l_u] = static_cast<std::uint8_t>(l_u);
  }

  std::uint8_t At(std::uint32_t a_u32Pos) const { return m_au8List[a_u32Pos]; }

  // The list is a permutation, so every byte is found. Four words are
  // tested together: one branch per 32 entries, then the word that holds it.
  std::uint32_t Find(std::uint8_t a_u8) const {
    const std::uint64_t l_u64Pattern = s_u64Ones * a_u8;
    for (std::uint32_t l_u = 0;; l_u += 32) {
      std::uint64_t l_au64[4];
      std::memcpy(l_au64, m_au8List + l_u, sizeof(l_au64));
      std::uint64_t l_au64Zero[4];
      for (int l_i = 0; l_i < 4; ++l_i) l_au64Zero[l_i] = ZeroBytes(l_au64[l_i] ^ l_u64Pattern);
      if ((l_au64Zero[0] | l_au64Zero[1] | l_au64Zero[2] | l_au64Zero[3]) == 0) continue;
      for (std::uint32_t l_w = 0;; ++l_w) {
        if (l_au64Zero[l_w] != 0)
          return l_u + l_w * 8 + static_cast<std::uint32_t>(std::countr_zero(l_au64Zero[l_w])) / 8;
      }
    }
  }

  // Moves the entry at a_u32Pos (whose byte is a_u8) to the front; the
  // entries before it shift back by one.
  void ToFront(std::uint32_t a_u32Pos, std::uint8_t a_u8) {
    if (a_u32Pos < 7) {
      // Most moves after the transform stay in the first seven entries:
      // shifting them in a register costs less than the call (the eighth
      // would need a mask shifted by 64, which C++ leaves undefined).
      const std::uint64_t l_u64Low = (1ull << (8 * (a_u32Pos + 1))) - 1;
      std::uint64_t l_u64;
      std::memcpy(&l_u64, m_au8List, 8);
      l_u64 = (l_u64 & ~l_u64Low) | (((l_u64 << 8) | a_u8) & l_u64Low);
      std::memcpy(m_au8List, &l_u64, 8);
      return;
    }
    std::memmove(m_au8List + 1, m_au8List, a_u32Pos);
    m_au8List[0] = a_u8;
  }

 private:
  std::uint8_t m_au8List[256];
};

// The run-length code of a_pu8In into at most a_u32Capacity bytes; false when
// it needs more. A header is written only when its group gets a byte, which
// is the same as starting every header at count 0 and dropping a last one
// that stayed empty.
bool PackBitsCode(std::uint8_t* a_pu8Out, std::uint32_t a_u32Capacity, const std::uint8_t* a_pu8In,
                  std::uint32_t a_u32Length, std::uint32_t* a_pu32CodedLength) {
  const std::uint32_t l_n = a_u32Length;
  std::uint32_t l_o = 0;
  std::uint32_t l_u32Header = 0;  // position of the open literal header
  std::uint32_t l_u32Count = 0;   // its count; 0 while no literal group is open
  std::uint32_t l_i = 0;
  while (l_i < l_n) {
    const std::uint8_t l_u8 = a_pu8In[l_i];
    if (l_i + 2 < l_n && a_pu8In[l_i + 1] == l_u8 && a_pu8In[l_i + 2] == l_u8) {
      if (a_u32Capacity - l_o < 2) return false;
      // The run's copies are counted from its first byte; the byte at which
      // the count stops is left for the next group.
      std::uint32_t l_u32Copies = 1;
      ++l_i;
      while (l_u32Copies < s_u32MaxCopies && l_i + 1 < l_n && a_pu8In[l_i + 1] == l_u8) {
        ++l_u32Copies;
        ++l_i;
      }
      a_pu8Out[l_o] = static_cast<std::uint8_t>(s_u32RunBase + l_u32Copies);
      a_pu8Out[l_o + 1] = l_u8;
      l_o += 2;
      l_u32Count = 0;
      continue;
    }
    if (l_u32Count == 0) {
      if (a_u32Capacity - l_o < 2) return false;
      l_u32Header = l_o++;
    } else if (l_o == a_u32Capacity) {
      return false;
    }
    a_pu8Out[l_o++] = l_u8;
    ++l_i;
    a_pu8Out[l_u32Header] = static_cast<std::uint8_t>(++l_u32Count);
    if (l_u32Count == s_u32MaxLiteral) l_u32Count = 0;
  }
  *a_pu32CodedLength = l_o;
  return true;
}

enum EUNPACK { UNPACK_OK, UNPACK_OVERFLOW, UNPACK_TRUNCATED };

EUNPACK UnpackBitsCode(std::uint8_t* a_pu8Out, std::uint32_t a_u32Capacity, const std::uint8_t* a_pu8In,
                       std::uint32_t a_u32Length, std::uint32_t* a_pu32DecodedLength) {
  std::uint32_t l_o = 0;
  std::uint32_t l_i = 0;
  EUNPACK l_eunpack = UNPACK_OK;
  while (l_i < a_u32Length) {
    const std::uint32_t l_u32Header = a_pu8In[l_i++];
    if (l_i == a_u32Length) break;  // a header without a byte after it
    if (l_u32Header < s_u32RunBase) {
      if (l_u32Header > a_u32Length - l_i) {
        l_eunpack = UNPACK_TRUNCATED;
        break;
      }
      if (l_u32Header > a_u32Capacity - l_o) {
        l_eunpack = UNPACK_OVERFLOW;
        break;
      }
      std::memcpy(a_pu8Out + l_o, a_pu8In + l_i, l_u32Header);
      l_i += l_u32Header;
      l_o += l_u32Header;
    } else {
      const std::uint32_t l_u32Copies = l_u32Header - s_u32RunBase;
      if (l_u32Copies > a_u32Capacity - l_o) {
        l_eunpack = UNPACK_OVERFLOW;
        break;
      }
      std::memset(a_pu8Out + l_o, a_pu8In[l_i++], l_u32Copies);
      l_o += l_u32Copies;
    }
  }
  *a_pu32DecodedLength = l_o;
  return l_eunpack;
}

}  // namespace

EOSSTS MoveToFront(void* a_pvOutput, std::uint32_t a_u32OutputSize, const void* a_pvInput,
                   std::uint32_t a_u32InputLength) {
  OS_RETURN_IF(a_u32OutputSize < a_u32InputLength, OS_LOG_ASSERT, "Output buffer is too small...", OS_STS_FAIL);
  if (a_u32InputLength == 0) return OS_STS_SUCCESS;
  OS_RETURN_IF(a_pvOutput == nullptr || a_pvInput == nullptr, OS_LOG_ASSERT, "a_pvOutput is null...", OS_STS_BADARG);
  const std::uint8_t* const l_pu8In = static_cast<const std::uint8_t*>(a_pvInput);
  std::uint8_t* const l_pu8Out = static_cast<std::uint8_t*>(a_pvOutput);
  CMtfList l_list;
  std::uint8_t l_u8Front = 0;
  for (std::uint32_t l_u = 0; l_u < a_u32InputLength; ++l_u) {
    const std::uint8_t l_u8 = l_pu8In[l_u];
    if (l_u8 == l_u8Front) {  // the common case after the transform
      l_pu8Out[l_u] = 0;
      continue;
    }
    const std::uint32_t l_u32Pos = l_list.Find(l_u8);
    l_pu8Out[l_u] = static_cast<std::uint8_t>(l_u32Pos);
    l_list.ToFront(l_u32Pos, l_u8);
    l_u8Front = l_u8;
  }
  return OS_STS_SUCCESS;
}

EOSSTS UnmoveToFront(void* a_pvOutput, std::uint32_t a_u32OutputSize, const void* a_pvInput,
                     std::uint32_t a_u32InputLength) {
  OS_RETURN_IF(a_u32OutputSize < a_u32InputLength, OS_LOG_ASSERT, "Output buffer is too small...", OS_STS_FAIL);
  if (a_u32InputLength == 0) return OS_STS_SUCCESS;
  OS_RETURN_IF(a_pvOutput == nullptr || a_pvInput == nullptr, OS_LOG_ASSERT, "a_pvOutput is null...", OS_STS_BADARG);
  const std::uint8_t* const l_pu8In = static_cast<const std::uint8_t*>(a_pvInput);
  std::uint8_t* const l_pu8Out = static_cast<std::uint8_t*>(a_pvOutput);
  CMtfList l_list;
  std::uint8_t l_u8Front = 0;
  for (std::uint32_t l_u = 0; l_u < a_u32InputLength; ++l_u) {
    const std::uint32_t l_u32Code = l_pu8In[l_u];
    if (l_u32Code == 0) {
      l_pu8Out[l_u] = l_u8Front;
      continue;
    }
    const std::uint8_t l_u8 = l_list.At(l_u32Code);
    l_pu8Out[l_u] = l_u8;
    l_list.ToFront(l_u32Code, l_u8);
    l_u8Front = l_u8;
  }
  return OS_STS_SUCCESS;
}

EOSSTS PackBits(void* a_pvOutput, std::uint32_t a_u32OutputSize, const void* a_pvInput, std::uint32_t a_u32InputLength,
                std::uint32_t* a_pu32CodedLength) {
  OS_RETURN_IF(a_u32OutputSize < a_u32InputLength, OS_LOG_ASSERT, "Output buffer is too small...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_pu32CodedLength, OS_LOG_ASSERT, "a_pu32CodedLength is null...", OS_STS_BADARG);
  *a_pu32CodedLength = 0;
  if (a_u32InputLength == 0) return OS_STS_SUCCESS;
  OS_RETURN_IF(a_pvOutput == nullptr || a_pvInput == nullptr, OS_LOG_ASSERT, "a_pvOutput is null...", OS_STS_BADARG);
  // Short runs cost more than they save, so the code can outgrow the input.
  OS_RETURN_IF(!PackBitsCode(static_cast<std::uint8_t*>(a_pvOutput), a_u32OutputSize,
                             static_cast<const std::uint8_t*>(a_pvInput), a_u32InputLength, a_pu32CodedLength),
               OS_LOG_ASSERT, "Output buffer is too small...", OS_STS_FAIL);
  return OS_STS_SUCCESS;
}

EOSSTS UnpackBits(void* a_pvOutput, std::uint32_t a_u32OutputSize, const void* a_pvInput,
                  std::uint32_t a_u32InputLength, std::uint32_t* a_pu32DecodedLength) {
  OS_RETURN_IF(a_u32OutputSize < a_u32InputLength, OS_LOG_ASSERT, "Output buffer is too small...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_pu32DecodedLength, OS_LOG_ASSERT, "a_pu32DecodedLength is null...", OS_STS_BADARG);
  *a_pu32DecodedLength = 0;
  if (a_u32InputLength == 0) return OS_STS_SUCCESS;
  OS_RETURN_IF(a_pvOutput == nullptr || a_pvInput == nullptr, OS_LOG_ASSERT, "a_pvOutput is null...", OS_STS_BADARG);
  const EUNPACK l_eunpack =
      UnpackBitsCode(static_cast<std::uint8_t*>(a_pvOutput), a_u32OutputSize,
                     static_cast<const std::uint8_t*>(a_pvInput), a_u32InputLength, a_pu32DecodedLength);
  OS_RETURN_IF(l_eunpack == UNPACK_OVERFLOW, OS_LOG_ERROR, "Output buffer is too small...", OS_STS_FAIL);
  OS_RETURN_IF(l_eunpack == UNPACK_TRUNCATED, OS_LOG_ERROR, "Run-length data is cut short...", OS_STS_FAIL);
  return OS_STS_SUCCESS;
}

std::uint64_t OsFileCompressBound(std::uint32_t a_u32InputLength) {
  const std::uint64_t l_u64Blocks =
      (static_cast<std::uint64_t>(a_u32InputLength) + OS_COMPRESS_BLOCK_SIZE - 1) / OS_COMPRESS_BLOCK_SIZE;
  return OS_COMPRESS_HEADER_SIZE + l_u64Blocks * OS_COMPRESS_CHUNK_HEADER_SIZE + a_u32InputLength;
}

EOSSTS OsFileCompress(void* a_pvOutput, std::uint32_t* a_pu32OutputSize, const void* a_pvInput,
                      std::uint32_t a_u32InputLength, EOSCOMPRESS a_eoscompress, void* a_pvScratch,
                      OsCompressContext* a_poscompresscontext) {
  OS_RETURN_IF_NULL(a_pu32OutputSize, OS_LOG_ASSERT, "a_pu32OutputSize is null...", OS_STS_BADARG);
  const std::uint32_t l_u32Capacity = *a_pu32OutputSize;
  *a_pu32OutputSize = 0;
  OS_RETURN_IF(a_u32InputLength == 0, OS_LOG_ASSERT, "Programmer goofed...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_pvOutput, OS_LOG_ASSERT, "a_pvOutput is null...", OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_pvInput, OS_LOG_ASSERT, "a_pvInput is null...", OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_pvScratch, OS_LOG_ASSERT, "a_pvScratch is null...", OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_poscompresscontext, OS_LOG_ASSERT, "a_poscompresscontext is null...", OS_STS_BADARG);
  OS_RETURN_IF(a_eoscompress != OS_COMPRESS_BWT && a_eoscompress != OS_COMPRESS_RLE, OS_LOG_ASSERT,
               "Looks like we need to add a new compression handler...", OS_STS_FAIL);
  // Coding never lets a block grow (a block that does not shrink is stored),
  // so the bound is exact and no overshoot room is needed.
  OS_RETURN_IF(OsFileCompressBound(a_u32InputLength) > l_u32Capacity, OS_LOG_ASSERT, "Output buffer is too small...",
               OS_STS_FAIL);

  std::uint8_t* const l_pu8Out = static_cast<std::uint8_t*>(a_pvOutput);
  const std::uint8_t* const l_pu8In = static_cast<const std::uint8_t*>(a_pvInput);
  std::uint8_t* const l_pu8Scratch = static_cast<std::uint8_t*>(a_pvScratch);

  std::memcpy(l_pu8Out, s_szMagic, s_u32MagicLength);
  Put32(l_pu8Out + 8, OS_COMPRESS_HEADER_SIZE);
  Put32(l_pu8Out + 12, OS_COMPRESS_CHUNK_HEADER_SIZE);
  Put64(l_pu8Out + 16, a_u32InputLength);

  std::uint32_t l_u32Pos = OS_COMPRESS_HEADER_SIZE;
  for (std::uint32_t l_u32Done = 0; l_u32Done < a_u32InputLength;) {
    const std::uint32_t l_u32Remaining = a_u32InputLength - l_u32Done;
    const std::uint32_t l_n = l_u32Remaining < OS_COMPRESS_BLOCK_SIZE ? l_u32Remaining : OS_COMPRESS_BLOCK_SIZE;
    const std::uint8_t* const l_pu8Block = l_pu8In + l_u32Done;
    std::uint8_t* const l_pu8Chunk = l_pu8Out + l_u32Pos;
    std::uint8_t* const l_pu8Data = l_pu8Chunk + OS_COMPRESS_CHUNK_HEADER_SIZE;

    std::uint32_t l_u32Method = a_eoscompress;
    std::uint32_t l_u32Primary = 0;
    std::uint32_t l_u32Coded = 0;
    bool l_bShrunk = false;
    // Coding is given one byte less than the block: what does not fit there
    // would not be smaller, and is stored.
    if (l_n > 1 && a_eoscompress == OS_COMPRESS_BWT) {
      if (BWTTransform(l_pu8Data, l_n, l_pu8Block, l_n, &l_u32Primary, a_poscompresscontext) != OS_STS_SUCCESS) {
        OS_LOGE("BWTTransform failed...");
        return OS_STS_FAIL;
      }
      if (MoveToFront(l_pu8Scratch, l_n, l_pu8Data, l_n) != OS_STS_SUCCESS) {
        OS_LOGE("MoveToFront failed...");
        return OS_STS_FAIL;
      }
      l_bShrunk = PackBitsCode(l_pu8Data, l_n - 1, l_pu8Scratch, l_n, &l_u32Coded);
    } else if (l_n > 1) {
      l_bShrunk = PackBitsCode(l_pu8Data, l_n - 1, l_pu8Block, l_n, &l_u32Coded);
    }
    if (!l_bShrunk) {
      std::memcpy(l_pu8Data, l_pu8Block, l_n);
      l_u32Method = OS_COMPRESS_STORED;
      l_u32Primary = 0;
      l_u32Coded = l_n;
    }
    Put32(l_pu8Chunk, l_u32Method);
    Put32(l_pu8Chunk + 4, l_u32Primary);
    Put32(l_pu8Chunk + 8, l_n);
    Put32(l_pu8Chunk + 12, l_u32Coded);
    l_u32Pos += OS_COMPRESS_CHUNK_HEADER_SIZE + l_u32Coded;
    l_u32Done += l_n;
  }
  *a_pu32OutputSize = l_u32Pos;
  return OS_STS_SUCCESS;
}

namespace {

// The inverse transform's table for every block of one decoding call,
// allocated at the first block that needs it (one allocation per call, not
// one per block: the allocator zeroes what it hands out).
class CUntransformTable {
 public:
  CUntransformTable() = default;
  CUntransformTable(const CUntransformTable&) = delete;
  CUntransformTable& operator=(const CUntransformTable&) = delete;
  ~CUntransformTable() {
    if (m_pu16Table != nullptr) OS_MEM_FREE(m_pu16Table);
  }
  std::uint16_t* Get() {
    if (m_pu16Table == nullptr) {
      m_pu16Table = static_cast<std::uint16_t*>(
          OS_MEM_ALLOC(OsBwtUntransformEntries(OS_COMPRESS_BLOCK_SIZE) * sizeof(std::uint16_t), "bwt-untransform"));
    }
    return m_pu16Table;
  }

 private:
  std::uint16_t* m_pu16Table = nullptr;
};

EOSSTS DecompressPart(void* a_pvOutput, std::uint32_t* a_pu32OutputLength, const void* a_pvContainer,
                      std::uint32_t a_u32ContainerLength, void* a_pvScratch, OsDecompressState* a_posdecompressstate) {
  OS_RETURN_IF_NULL(a_pu32OutputLength, OS_LOG_ASSERT, "a_pu32OutputLength is null...", OS_STS_BADARG);
  const std::uint32_t l_u32Capacity = *a_pu32OutputLength;
  *a_pu32OutputLength = 0;
  OS_RETURN_IF_NULL(a_posdecompressstate, OS_LOG_ASSERT, "a_posdecompressstate is null...", OS_STS_BADARG);
  OS_RETURN_IF(a_u32ContainerLength == 0, OS_LOG_ASSERT, "Programmer goofed...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_pvOutput, OS_LOG_ASSERT, "a_pvOutput is null...", OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_pvContainer, OS_LOG_ASSERT, "a_pvContainer is null...", OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_pvScratch, OS_LOG_ASSERT, "a_pvScratch is null...", OS_STS_BADARG);
  const std::uint8_t* const l_pu8In = static_cast<const std::uint8_t*>(a_pvContainer);
  std::uint8_t* const l_pu8Out = static_cast<std::uint8_t*>(a_pvOutput);
  std::uint8_t* const l_pu8Scratch = static_cast<std::uint8_t*>(a_pvScratch);
  const std::uint32_t l_u32Length = a_u32ContainerLength;
  OsDecompressState& l_state = *a_posdecompressstate;
  OS_RETURN_IF(l_state.m_bDone, OS_LOG_ASSERT, "the container is decoded already...", OS_STS_FAIL);

  if (l_state.m_u32Offset == 0) {
    OS_RETURN_IF(l_u32Length < s_u32MagicLength || std::memcmp(l_pu8In, s_szMagic, s_u32MagicLength) != 0, OS_LOG_ERROR,
                 "Not a compression file...", OS_STS_FAIL);
    OS_RETURN_IF(l_u32Length < OS_COMPRESS_HEADER_SIZE, OS_LOG_ERROR, "Header is cut short...<%u>", OS_STS_FAIL,
                 l_u32Length);
    // A newer writer may write longer headers; their extra bytes are skipped.
    const std::uint32_t l_u32HeaderSize = Get32(l_pu8In + 8);
    l_state.m_u32ChunkHeaderSize = Get32(l_pu8In + 12);
    l_state.m_u64Total = Get64(l_pu8In + 16);
    OS_RETURN_IF(l_u32HeaderSize < OS_COMPRESS_HEADER_SIZE || l_u32HeaderSize > l_u32Length, OS_LOG_ERROR,
                 "Header size is out of range...<%u> <%u>", OS_STS_FAIL, l_u32HeaderSize, l_u32Length);
    OS_RETURN_IF(l_state.m_u32ChunkHeaderSize < OS_COMPRESS_CHUNK_HEADER_SIZE, OS_LOG_ERROR,
                 "Chunk header size is out of range...<%u>", OS_STS_FAIL, l_state.m_u32ChunkHeaderSize);
    l_state.m_u32Offset = l_u32HeaderSize;
    if (l_state.m_u64Total == 0) {
      l_state.m_bDone = true;
      return OS_STS_SUCCESS;
    }
  }
  const std::uint32_t l_u32ChunkHeaderSize = l_state.m_u32ChunkHeaderSize;

  std::uint32_t l_u32Written = 0;
  CUntransformTable l_table;
  while (l_state.m_u32Offset < l_u32Length) {
    const std::uint32_t l_u32Offset = l_state.m_u32Offset;
    // Both subtractions stay in range: the offset never passes the length.
    OS_RETURN_IF(l_u32ChunkHeaderSize > l_u32Length - l_u32Offset, OS_LOG_ERROR, "PackBits failed...", OS_STS_FAIL);
    const std::uint8_t* const l_pu8Chunk = l_pu8In + l_u32Offset;
    const std::uint32_t l_u32Method = Get32(l_pu8Chunk);
    const std::uint32_t l_u32Primary = Get32(l_pu8Chunk + 4);
    const std::uint32_t l_n = Get32(l_pu8Chunk + 8);
    const std::uint32_t l_u32Stored = Get32(l_pu8Chunk + 12);
    const std::uint32_t l_u32DataOffset = l_u32Offset + l_u32ChunkHeaderSize;
    OS_RETURN_IF(l_u32Stored > l_u32Length - l_u32DataOffset, OS_LOG_ERROR, "PackBits failed...", OS_STS_FAIL);
    // Writers cut blocks of at most 65536 bytes; a longer one would size the
    // inverse transform's table and the scratch use by a number from the file.
    OS_RETURN_IF(l_n > OS_COMPRESS_BLOCK_SIZE, OS_LOG_ERROR, "Block length is out of range...<%u>", OS_STS_FAIL, l_n);
    OS_RETURN_IF(l_u32Stored > l_n, OS_LOG_ERROR, "Stored length exceeds the block length...<%u> <%u>", OS_STS_FAIL,
                 l_u32Stored, l_n);
    // A part ends before a block it cannot hold; a part that holds none fails.
    if (l_n > l_u32Capacity - l_u32Written && l_u32Written > 0) break;
    OS_RETURN_IF(l_n > l_u32Capacity - l_u32Written, OS_LOG_ERROR, "Output buffer is too small...<%u> <%u>",
                 OS_STS_FAIL, l_n, l_u32Capacity - l_u32Written);
    OS_RETURN_IF(l_n > l_state.m_u64Total - l_state.m_u64Written, OS_LOG_ERROR,
                 "Decoded length disagrees with the header...<%u> <%llu>", OS_STS_FAIL, l_n,
                 static_cast<unsigned long long>(l_state.m_u64Total));
    const std::uint8_t* const l_pu8Data = l_pu8In + l_u32DataOffset;
    std::uint8_t* const l_pu8Block = l_pu8Out + l_u32Written;
    std::uint32_t l_u32Decoded = 0;
    switch (l_u32Method) {
      case OS_COMPRESS_BWT:
        OS_RETURN_IF(l_n != 0 && l_u32Primary >= l_n, OS_LOG_ERROR, "Primary index is out of range...<%u> <%u>",
                     OS_STS_FAIL, l_u32Primary, l_n);
        [[fallthrough]];
      case OS_COMPRESS_RLE:
        // The block's own length bounds the decoding: a chunk that decodes
        // to more or to less is broken either way.
        if (UnpackBitsCode(l_pu8Block, l_n, l_pu8Data, l_u32Stored, &l_u32Decoded) != UNPACK_OK ||
            l_u32Decoded != l_n) {
          OS_LOGE("PackBits failed: error unpacking...");
          return OS_STS_FAIL;
        }
        if (l_u32Method == OS_COMPRESS_RLE) break;
        // One block of the scratch is used, never more than the output holds.
        if (UnmoveToFront(l_pu8Scratch, l_n, l_pu8Block, l_n) != OS_STS_SUCCESS) {
          OS_LOGE("UnmoveToFront failed...");
          return OS_STS_FAIL;
        }
        if (l_n == 0) break;
        OS_RETURN_IF_NULL(l_table.Get(), OS_LOG_ASSERT, "BWTUntransform failed...", OS_STS_FAIL);
        // The block length and the primary index are checked above.
        BWTUntransformBlock(l_pu8Block, l_pu8Scratch, l_n, l_u32Primary, l_table.Get());
        break;
      case OS_COMPRESS_STORED:
        OS_RETURN_IF(l_u32Stored != l_n, OS_LOG_ERROR, "Stored length disagrees with the block length...<%u> <%u>",
                     OS_STS_FAIL, l_u32Stored, l_n);
        std::memcpy(l_pu8Block, l_pu8Data, l_n);
        break;
      default:
        OS_LOGA("Looks like we need to add a new decompression handler...%d", static_cast<int>(l_u32Method));
        return OS_STS_FAIL;
    }
    l_u32Written += l_n;
    l_state.m_u64Written += l_n;
    l_state.m_u32Offset = l_u32DataOffset + l_u32Stored;
  }
  if (l_state.m_u32Offset >= l_u32Length) {
    // The chunks must account for the whole input, or the container lost a
    // chunk (a cut at a chunk boundary reads as well-formed otherwise).
    OS_RETURN_IF(l_state.m_u64Written != l_state.m_u64Total, OS_LOG_ERROR,
                 "Decoded length disagrees with the header...<%llu> <%llu>", OS_STS_FAIL,
                 static_cast<unsigned long long>(l_state.m_u64Written),
                 static_cast<unsigned long long>(l_state.m_u64Total));
    l_state.m_bDone = true;
  }
  *a_pu32OutputLength = l_u32Written;
  return OS_STS_SUCCESS;
}

}  // namespace

EOSSTS OsFileDecompressPart(void* a_pvOutput, std::uint32_t* a_pu32OutputLength, const void* a_pvContainer,
                            std::uint32_t a_u32ContainerLength, void* a_pvScratch,
                            OsDecompressState* a_posdecompressstate) {
  const EOSSTS l_eossts = DecompressPart(a_pvOutput, a_pu32OutputLength, a_pvContainer, a_u32ContainerLength,
                                         a_pvScratch, a_posdecompressstate);
  // A failed part ends the decoding: the next call is refused.
  if (l_eossts != OS_STS_SUCCESS && a_posdecompressstate != nullptr) a_posdecompressstate->m_bDone = true;
  return l_eossts;
}

EOSSTS OsFileDecompress(void* a_pvOutput, std::uint32_t* a_pu32OutputLength, const void* a_pvContainer,
                        std::uint32_t a_u32ContainerLength, void* a_pvScratch) {
  OS_RETURN_IF_NULL(a_pu32OutputLength, OS_LOG_ASSERT, "a_pu32OutputLength is null...", OS_STS_BADARG);
  const std::uint32_t l_u32Capacity = *a_pu32OutputLength;
  OsDecompressState l_state;
  const EOSSTS l_eossts =
      DecompressPart(a_pvOutput, a_pu32OutputLength, a_pvContainer, a_u32ContainerLength, a_pvScratch, &l_state);
  if (l_eossts != OS_STS_SUCCESS) return l_eossts;
  // Everything must fit at once: a container that needs more is refused.
  if (!l_state.m_bDone) {
    OS_LOGE("Output buffer is too small...<%llu> <%u>", static_cast<unsigned long long>(l_state.m_u64Total),
            l_u32Capacity);
    *a_pu32OutputLength = 0;
    return OS_STS_FAIL;
  }
  return OS_STS_SUCCESS;
}

#ifdef _WINDOWS_
#error "format engines are platform-free"
#endif
