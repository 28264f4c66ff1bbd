// libFuzzer target of the compression container. The input is decoded as a
// container into an output and a scratch buffer exactly as large as its
// header announces (within a few blocks), so the sanitizers see every byte
// written past them; then with one byte less, which must be refused. Only
// status 0 or 1 may come back, and 0 only with the announced length. Then
// the input itself, and what it decoded to, go through both methods: each
// container must stay within its bound and decode to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "os_cosfile_compress.h"

namespace {

// Four blocks and one byte: enough for several chunks, and a decoded output
// that still compresses quickly enough.
constexpr std::uint64_t s_u64MaxOutput = 4 * static_cast<std::uint64_t>(OS_COMPRESS_BLOCK_SIZE) + 1;

void Check(bool a_b) {
  if (!a_b) std::abort();
}

std::uint64_t AnnouncedTotal(const std::uint8_t* a_pu8, std::size_t a_sizet) {
  if (a_sizet < OS_COMPRESS_HEADER_SIZE) return 0;
  std::uint64_t l_u64 = 0;
  for (int l_i = 23; l_i >= 16; --l_i) l_u64 = (l_u64 << 8) | a_pu8[l_i];
  return l_u64;
}

// Decodes into buffers of exactly a_u32Capacity bytes; the decoded length
// comes back in *a_pu32Length.
EOSSTS Decode(const std::uint8_t* a_pu8, std::size_t a_sizet, std::uint32_t a_u32Capacity,
              std::unique_ptr<std::uint8_t[]>* a_pOutput, std::uint32_t* a_pu32Length) {
  a_pOutput->reset(new std::uint8_t[a_u32Capacity]);
  const std::unique_ptr<std::uint8_t[]> l_scratch(new std::uint8_t[a_u32Capacity]);
  *a_pu32Length = a_u32Capacity;
  const EOSSTS l_eossts =
      OsFileDecompress(a_pOutput->get(), a_pu32Length, a_pu8, static_cast<std::uint32_t>(a_sizet), l_scratch.get());
  Check(l_eossts == OS_STS_SUCCESS || l_eossts == OS_STS_FAIL);
  Check(*a_pu32Length <= a_u32Capacity && (l_eossts == OS_STS_SUCCESS || *a_pu32Length == 0));
  return l_eossts;
}

void RoundTrip(const std::uint8_t* a_pu8, std::uint32_t a_u32Length, EOSCOMPRESS a_eoscompress) {
  if (a_u32Length == 0) return;
  const std::uint64_t l_u64Bound = OsFileCompressBound(a_u32Length);
  Check(l_u64Bound < UINT32_MAX);
  const std::uint32_t l_u32Bound = static_cast<std::uint32_t>(l_u64Bound);
  const std::unique_ptr<std::uint8_t[]> l_container(new std::uint8_t[l_u32Bound]);
  const std::unique_ptr<std::uint8_t[]> l_scratch(new std::uint8_t[l_u32Bound]);
  OsCompressContext l_context;
  std::uint32_t l_u32Size = l_u32Bound;
  const EOSSTS l_eossts =
      OsFileCompress(l_container.get(), &l_u32Size, a_pu8, a_u32Length, a_eoscompress, l_scratch.get(), &l_context);
  OsFileCompressContextFree(&l_context);
  Check(l_eossts == OS_STS_SUCCESS && l_u32Size <= l_u32Bound);
  std::unique_ptr<std::uint8_t[]> l_output;
  std::uint32_t l_u32Decoded = 0;
  Check(Decode(l_container.get(), l_u32Size, a_u32Length, &l_output, &l_u32Decoded) == OS_STS_SUCCESS);
  Check(l_u32Decoded == a_u32Length && std::memcmp(l_output.get(), a_pu8, a_u32Length) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* a_pu8Data, std::size_t a_sizetData) {
  if (a_sizetData == 0 || a_sizetData > s_u64MaxOutput) return 0;
  const std::uint64_t l_u64Total = AnnouncedTotal(a_pu8Data, a_sizetData);
  const std::uint32_t l_u32Capacity =
      static_cast<std::uint32_t>(l_u64Total < s_u64MaxOutput ? l_u64Total : s_u64MaxOutput);
  std::unique_ptr<std::uint8_t[]> l_output;
  std::uint32_t l_u32Decoded = 0;
  const EOSSTS l_eossts = Decode(a_pu8Data, a_sizetData, l_u32Capacity, &l_output, &l_u32Decoded);
  Check(l_eossts == OS_STS_FAIL || l_u32Decoded == l_u64Total);
  if (l_u32Capacity > 0) {
    std::unique_ptr<std::uint8_t[]> l_short;
    std::uint32_t l_u32Short = 0;
    Check(Decode(a_pu8Data, a_sizetData, l_u32Capacity - 1, &l_short, &l_u32Short) == OS_STS_FAIL);
  }

  const std::uint32_t l_u32Length = static_cast<std::uint32_t>(a_sizetData);
  RoundTrip(a_pu8Data, l_u32Length, OS_COMPRESS_BWT);
  RoundTrip(a_pu8Data, l_u32Length, OS_COMPRESS_RLE);
  if (l_eossts == OS_STS_SUCCESS) {
    RoundTrip(l_output.get(), l_u32Decoded, OS_COMPRESS_BWT);
    RoundTrip(l_output.get(), l_u32Decoded, OS_COMPRESS_RLE);
  }
  return 0;
}
