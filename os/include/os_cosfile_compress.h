// The compression container: an in-memory compressor for buffers of up to
// 32 MiB, cut into blocks of 65536 bytes that are each coded on their own
// with the block-sorting pipeline (transform, move-to-front, run-length) or
// with run-length coding alone, and stored raw when coding does not shrink
// them. The container is self-describing (magic "QRXCMP01") and
// little-endian, so containers move unchanged between 32-bit and 64-bit
// programs.
//
// Container header: magic (8 bytes), header size (u32, written as 24), chunk
// header size (u32, written as 16), total uncompressed size (u64). Then one
// chunk per block: method (u32), primary index (u32), uncompressed length
// (u32), stored length (u32), the stored bytes. Readers take both header sizes
// from the data and skip what they do not know.
#pragma once

#include <cstdint>

#include "os_sts.h"
#include "os_workers.h"

// Coding method of a block (and the method a caller asks for).
enum EOSCOMPRESS : std::uint32_t {
  OS_COMPRESS_STORED = 0,     // the block's bytes as they are
  OS_COMPRESS_AUTOMATIC = 1,  // chosen per file by the split writer; refused here
  OS_COMPRESS_BWT = 2,        // block-sorting transform, move-to-front, run-length
  OS_COMPRESS_RLE = 3,        // run-length only
};

constexpr std::uint32_t OS_COMPRESS_BLOCK_SIZE = 65536;
constexpr std::uint32_t OS_COMPRESS_HEADER_SIZE = 24;
constexpr std::uint32_t OS_COMPRESS_CHUNK_HEADER_SIZE = 16;

// What the block-sorting transform keeps between the blocks of one file: the
// caller owns it, starts it zeroed, passes it to every block of the file and
// frees it with OsFileCompressContextFree afterwards. The arrays come from the
// tracked allocator at the first block and are reused while later blocks are
// no longer (a longer block replaces them).
struct OsCompressContext {
  std::uint32_t* m_pu32Rotations = nullptr;  // the sorted rotations (length + 1 entries)
  std::uint32_t* m_pu32Symbols = nullptr;    // the block as sort symbols (length + 1 entries)
  std::uint32_t* m_pu32Work = nullptr;       // buckets and type marks of the sort
  std::uint32_t m_u32Length = 0;             // the block length the arrays were built for
};

// Releases the context's arrays and zeroes it; a zeroed context is left alone.
void OsFileCompressContextFree(OsCompressContext* a_poscompresscontext);

// The smallest output buffer OsFileCompress needs for a_u32InputLength bytes:
// the header and, per block, a chunk header and the block itself.
std::uint64_t OsFileCompressBound(std::uint32_t a_u32InputLength);

// Compresses a_u32InputLength (> 0) bytes into a container with a_eoscompress
// 2 or 3. *a_pu32OutputSize gives the size of a_pvOutput on entry and receives
// the container's length; a_pvScratch must be as large as the output buffer
// (one block is used). Status 0; 1 on a coding failure, an unknown method or
// an output buffer below OsFileCompressBound; 3 for a null argument.
// With a_posworkers, blocks are coded a_posworkers->Count() at a time, each
// worker with its own context and block buffers (a_poscompresscontext and
// a_pvScratch are worker 0's), and the container is byte for byte what one
// thread writes; when the workers' buffers cannot be allocated the calling
// thread codes alone.
EOSSTS OsFileCompress(void* a_pvOutput, std::uint32_t* a_pu32OutputSize, const void* a_pvInput,
                      std::uint32_t a_u32InputLength, EOSCOMPRESS a_eoscompress, void* a_pvScratch,
                      OsCompressContext* a_poscompresscontext, COsWorkers* a_posworkers = nullptr);

// Decodes a container of a_u32ContainerLength bytes. *a_pu32OutputLength gives
// the size of a_pvOutput on entry and receives the number of bytes decoded;
// a_pvScratch must be as large as the output buffer (one block, at most 65536
// bytes, is used). Every length and offset of the container is checked
// against the container and the buffers, and a chunk's block length against
// 65536: status 1 with a message for anything that does not fit (the output
// is then not valid), 3 for a null argument. With a_posworkers, blocks are
// decoded a_posworkers->Count() at a time into their places of the output
// (a_pvScratch is worker 0's block; the others' come from the allocator).
EOSSTS OsFileDecompress(void* a_pvOutput, std::uint32_t* a_pu32OutputLength, const void* a_pvContainer,
                        std::uint32_t a_u32ContainerLength, void* a_pvScratch, COsWorkers* a_posworkers = nullptr);

// Where a decoding by parts stands; starts zeroed.
struct OsDecompressState {
  std::uint32_t m_u32Offset = 0;  // of the next chunk (0: the header is still to read)
  std::uint32_t m_u32ChunkHeaderSize = 0;
  std::uint64_t m_u64Total = 0;    // the header's total
  std::uint64_t m_u64Written = 0;  // decoded so far
  bool m_bDone = false;            // every chunk is decoded and the total holds
};

// OsFileDecompress a part at a time, for outputs smaller than the whole:
// each call decodes whole blocks from where the last call stopped until the
// next block would not fit *a_pu32OutputLength (which then receives the
// bytes of this part), and sets m_bDone after the last. The same checks as
// OsFileDecompress, with workers as there; a failed part leaves the state
// unusable.
EOSSTS OsFileDecompressPart(void* a_pvOutput, std::uint32_t* a_pu32OutputLength, const void* a_pvContainer,
                            std::uint32_t a_u32ContainerLength, void* a_pvScratch,
                            OsDecompressState* a_posdecompressstate, COsWorkers* a_posworkers = nullptr);

// The pipeline's primitives. Each writes at most a_u32OutputSize bytes and
// fails with 1 when the output is smaller than the input.

// Output byte i is the block byte just before the i-th smallest cyclic
// rotation of the block; *a_pu32PrimaryIndex receives the row of rotation 0
// (for a periodic block one of the equal rows). Linear time.
EOSSTS BWTTransform(void* a_pvOutput, std::uint32_t a_u32OutputSize, const void* a_pvInput,
                    std::uint32_t a_u32InputLength, std::uint32_t* a_pu32PrimaryIndex,
                    OsCompressContext* a_poscompresscontext);
// The inverse of BWTTransform; 1 when a_u32PrimaryIndex is not a row of the
// column or the index table cannot be allocated.
EOSSTS BWTUntransform(void* a_pvOutput, std::uint32_t a_u32OutputSize, const void* a_pvInput,
                      std::uint32_t a_u32InputLength, std::uint32_t a_u32PrimaryIndex);
// Each byte becomes its position in a 256-entry recency list (0, 1, ..., 255
// at the start), and moves to the front of the list. The output may be the
// input itself or start before it in the same buffer.
EOSSTS MoveToFront(void* a_pvOutput, std::uint32_t a_u32OutputSize, const void* a_pvInput,
                   std::uint32_t a_u32InputLength);
EOSSTS UnmoveToFront(void* a_pvOutput, std::uint32_t a_u32OutputSize, const void* a_pvInput,
                     std::uint32_t a_u32InputLength);
// Groups of a header byte h: 1..127 literal bytes follow; 128..255 one byte
// follows for h - 128 copies. 1 when the code does not fit the output.
EOSSTS PackBits(void* a_pvOutput, std::uint32_t a_u32OutputSize, const void* a_pvInput, std::uint32_t a_u32InputLength,
                std::uint32_t* a_pu32CodedLength);
// 1 when a group would pass the output or a literal group is cut short; a
// header that is the last input byte is ignored.
EOSSTS UnpackBits(void* a_pvOutput, std::uint32_t a_u32OutputSize, const void* a_pvInput,
                  std::uint32_t a_u32InputLength, std::uint32_t* a_pu32DecodedLength);
