// Writes the seed containers of the compression fuzz target with the engine
// itself: os_cosfile_compress_seeds <directory>. Built on demand only
// (cmake --build build/fuzz --target os_cosfile_compress_seeds); the seeds it
// wrote are kept under tests/fuzz/seeds/compress.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "os_cosfile_compress.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

bool Write(const std::string& a_sDirectory, const char* a_szName, const Bytes& a_input, EOSCOMPRESS a_eoscompress) {
  const std::uint32_t l_u32Length = static_cast<std::uint32_t>(a_input.size());
  std::uint32_t l_u32Size = static_cast<std::uint32_t>(OsFileCompressBound(l_u32Length));
  Bytes l_container(l_u32Size);
  Bytes l_scratch(l_u32Size);
  OsCompressContext l_context;
  const EOSSTS l_eossts = OsFileCompress(l_container.data(), &l_u32Size, a_input.data(), l_u32Length, a_eoscompress,
                                         l_scratch.data(), &l_context);
  OsFileCompressContextFree(&l_context);
  if (l_eossts != OS_STS_SUCCESS) return false;
  const std::string l_sPath = a_sDirectory + "/" + a_szName;
  std::FILE* const l_pfile = std::fopen(l_sPath.c_str(), "wb");
  if (l_pfile == nullptr) return false;
  const bool l_bWritten = std::fwrite(l_container.data(), 1, l_u32Size, l_pfile) == l_u32Size;
  return std::fclose(l_pfile) == 0 && l_bWritten;
}

Bytes Text(std::size_t a_sizet) {
  static const char s_szLines[] =
      "[images]\ndirectory=common\\log\nscanner=driver 2048\n<item>the value of a key</item>\n";
  Bytes l_bytes;
  while (l_bytes.size() < a_sizet) {
    l_bytes.push_back(static_cast<std::uint8_t>(s_szLines[l_bytes.size() % (sizeof(s_szLines) - 1)]));
  }
  return l_bytes;
}

}  // namespace

int main(int a_iArgc, char** a_aszArgv) {
  if (a_iArgc != 2) {
    std::fprintf(stderr, "usage: os_cosfile_compress_seeds <directory>\n");
    return 2;
  }
  const std::string l_sDirectory = a_aszArgv[1];
  Bytes l_runs;
  for (std::uint32_t l_u = 0; l_u < 900; ++l_u) l_runs.push_back((l_u / 37) % 3 == 0 ? 0xFF : 0);
  Bytes l_mixed;  // no run, so both methods store it
  for (std::uint32_t l_u = 0; l_u < 200; ++l_u) l_mixed.push_back(static_cast<std::uint8_t>(l_u * 151 + 7));
  const Bytes l_zeros(OS_COMPRESS_BLOCK_SIZE + 1, 0);  // two chunks, the second stored
  const bool l_bWritten = Write(l_sDirectory, "text_bwt.cmp", Text(600), OS_COMPRESS_BWT) &&
                          Write(l_sDirectory, "runs_rle.cmp", l_runs, OS_COMPRESS_RLE) &&
                          Write(l_sDirectory, "runs_bwt.cmp", l_runs, OS_COMPRESS_BWT) &&
                          Write(l_sDirectory, "stored_rle.cmp", l_mixed, OS_COMPRESS_RLE) &&
                          Write(l_sDirectory, "zeros_two_blocks_bwt.cmp", l_zeros, OS_COMPRESS_BWT) &&
                          Write(l_sDirectory, "zeros_two_blocks_rle.cmp", l_zeros, OS_COMPRESS_RLE);
  if (!l_bWritten) {
    std::fprintf(stderr, "os_cosfile_compress_seeds: a seed was not written to %s\n", l_sDirectory.c_str());
    return 1;
  }
  return 0;
}
