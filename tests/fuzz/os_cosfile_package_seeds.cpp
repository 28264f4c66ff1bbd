// Writes the seed packages and split streams of the package fuzz target with
// the engine itself: os_cosfile_package_seeds <directory>. Built on demand
// only (cmake --build build/fuzz --target os_cosfile_package_seeds); the seeds
// it wrote are kept under tests/fuzz/seeds/package.
//
// Pieces of a few dozen bytes (sound for the reader, which takes the piece
// size from the header) bring the body's loop over several pieces within
// reach of small inputs.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "os_cosfile_package.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Text(std::size_t a_sizet) {
  static const char s_szLines[] = "[trace]\r\nlevel=3\r\nfile=common\\log\\scanner.log\r\n<item>on</item>\r\n";
  Bytes l_bytes;
  while (l_bytes.size() < a_sizet)
    l_bytes.push_back(static_cast<std::uint8_t>(s_szLines[l_bytes.size() % (sizeof(s_szLines) - 1)]));
  return l_bytes;
}

Bytes Runs(std::size_t a_sizet) {
  Bytes l_bytes;
  for (std::size_t l_sizet = 0; l_sizet < a_sizet; ++l_sizet) l_bytes.push_back((l_sizet / 37) % 3 == 0 ? 0xFF : 0);
  return l_bytes;
}

void Add(Bytes* a_pbytes, const std::uint8_t* a_pu8, std::size_t a_sizet, std::size_t a_sizetPadded) {
  a_pbytes->insert(a_pbytes->end(), a_pu8, a_pu8 + a_sizet);
  a_pbytes->resize(a_pbytes->size() + a_sizetPadded - a_sizet, 0);
}

void AddU32(Bytes* a_pbytes, std::uint32_t a_u32, std::size_t a_sizetPadded) {
  const std::uint8_t l_au8[4] = {static_cast<std::uint8_t>(a_u32), static_cast<std::uint8_t>(a_u32 >> 8),
                                 static_cast<std::uint8_t>(a_u32 >> 16), static_cast<std::uint8_t>(a_u32 >> 24)};
  Add(a_pbytes, l_au8, 4, a_sizetPadded);
}

struct SSplit {
  EOSCOMPRESS m_eoscompress = OS_COMPRESS_BWT;
  std::uint32_t m_u32PieceSize = OS_SPLIT_PIECE_SIZE;
  std::uint32_t m_u32HeaderSize = OS_SPLIT_HEADER_SIZE;
  std::uint32_t m_u32PieceHeaderSize = OS_SPLIT_PIECE_HEADER_SIZE;
};

bool SplitStream(const Bytes& a_bytes, const SSplit& a_split, Bytes* a_pbytes) {
  const bool l_bTiny = a_bytes.size() <= 1;
  const OsSplitHeader l_ossplitheader = {{'Q', 'R', 'X', 'S', 'P', 'L', '0', '1'}, a_split.m_u32HeaderSize,
                                         a_split.m_u32PieceHeaderSize, a_bytes.size(),
                                         l_bTiny ? 0 : a_split.m_u32PieceSize};
  std::uint8_t l_au8[OS_SPLIT_HEADER_SIZE];
  OsSplitHeaderEncode(l_ossplitheader, l_au8);
  Add(a_pbytes, l_au8, sizeof(l_au8), a_split.m_u32HeaderSize);
  if (l_bTiny) {
    AddU32(a_pbytes, static_cast<std::uint32_t>(a_bytes.size()), a_split.m_u32PieceHeaderSize);
    a_pbytes->insert(a_pbytes->end(), a_bytes.begin(), a_bytes.end());
    return true;
  }
  for (std::size_t l_sizet = 0; l_sizet < a_bytes.size(); l_sizet += a_split.m_u32PieceSize) {
    const std::uint32_t l_u32Piece = static_cast<std::uint32_t>(
        a_bytes.size() - l_sizet < a_split.m_u32PieceSize ? a_bytes.size() - l_sizet : a_split.m_u32PieceSize);
    std::uint32_t l_u32Size = static_cast<std::uint32_t>(OsFileCompressBound(l_u32Piece));
    Bytes l_container(l_u32Size);
    Bytes l_scratch(l_u32Size);
    OsCompressContext l_context;
    const EOSSTS l_eossts = OsFileCompress(l_container.data(), &l_u32Size, a_bytes.data() + l_sizet, l_u32Piece,
                                           a_split.m_eoscompress, l_scratch.data(), &l_context);
    OsFileCompressContextFree(&l_context);
    if (l_eossts != OS_STS_SUCCESS) return false;
    AddU32(a_pbytes, l_u32Size, a_split.m_u32PieceHeaderSize);
    a_pbytes->insert(a_pbytes->end(), l_container.begin(), l_container.begin() + l_u32Size);
  }
  return true;
}

struct SEntry {
  const char* m_szName;
  std::uint32_t m_u32Type;
  std::uint32_t m_u32Access;
  Bytes m_bytes;  // a file's contents
  SSplit m_split;
};

bool Package(const std::vector<SEntry>& a_vecEntries, std::uint32_t a_u32HeaderSize, std::uint32_t a_u32RecordSize,
             Bytes* a_pbytes) {
  std::uint64_t l_u64Total = 0;
  for (const SEntry& l_entry : a_vecEntries) l_u64Total += l_entry.m_bytes.size();
  const OsPackageHeader l_ospackageheader = {
      {'Q', 'R', 'X', 'P', 'K', 'G', '0', '1'}, a_u32HeaderSize, a_u32RecordSize, l_u64Total};
  std::uint8_t l_au8Header[OS_PACKAGE_HEADER_SIZE];
  OsPackageHeaderEncode(l_ospackageheader, l_au8Header);
  Add(a_pbytes, l_au8Header, sizeof(l_au8Header), a_u32HeaderSize);
  for (const SEntry& l_entry : a_vecEntries) {
    Bytes l_stream;
    if (!l_entry.m_bytes.empty() && !SplitStream(l_entry.m_bytes, l_entry.m_split, &l_stream)) return false;
    OsPackageRecord l_ospackagerecord = {};
    l_ospackagerecord.m_u64Size = l_stream.size();
    std::strncpy(l_ospackagerecord.m_szFilename, l_entry.m_szName, OS_PACKAGE_NAME_SIZE - 1);
    l_ospackagerecord.m_u32OsFileType = l_entry.m_u32Type;
    l_ospackagerecord.m_u32OsFileAccess = l_entry.m_u32Access;
    l_ospackagerecord.m_ostimerecordAccessed = {2024, 5, 3, 17, 8, 30, 12, 250};
    l_ospackagerecord.m_ostimerecordModified = {2024, 5, 2, 16, 22, 1, 59, 7};
    std::uint8_t l_au8Record[OS_PACKAGE_RECORD_SIZE];
    OsPackageRecordEncode(l_ospackagerecord, l_au8Record);
    Add(a_pbytes, l_au8Record, sizeof(l_au8Record), a_u32RecordSize);
    a_pbytes->insert(a_pbytes->end(), l_stream.begin(), l_stream.end());
  }
  return true;
}

bool Write(const std::string& a_sDirectory, const char* a_szName, const Bytes& a_bytes) {
  const std::string l_sPath = a_sDirectory + "/" + a_szName;
  std::FILE* const l_pfile = std::fopen(l_sPath.c_str(), "wb");
  if (l_pfile == nullptr) return false;
  const bool l_bWritten = std::fwrite(a_bytes.data(), 1, a_bytes.size(), l_pfile) == a_bytes.size();
  return std::fclose(l_pfile) == 0 && l_bWritten;
}

bool WriteSplit(const std::string& a_sDirectory, const char* a_szName, const Bytes& a_bytes, const SSplit& a_split) {
  Bytes l_stream;
  return SplitStream(a_bytes, a_split, &l_stream) && Write(a_sDirectory, a_szName, l_stream);
}

bool WritePackage(const std::string& a_sDirectory, const char* a_szName, const std::vector<SEntry>& a_vecEntries,
                  std::uint32_t a_u32HeaderSize = OS_PACKAGE_HEADER_SIZE,
                  std::uint32_t a_u32RecordSize = OS_PACKAGE_RECORD_SIZE) {
  Bytes l_package;
  return Package(a_vecEntries, a_u32HeaderSize, a_u32RecordSize, &l_package) &&
         Write(a_sDirectory, a_szName, l_package);
}

}  // namespace

int main(int a_iArgc, char** a_aszArgv) {
  if (a_iArgc != 2) {
    std::fprintf(stderr, "usage: os_cosfile_package_seeds <directory>\n");
    return 2;
  }
  const std::string l_sDirectory = a_aszArgv[1];
  SSplit l_rle;
  l_rle.m_eoscompress = OS_COMPRESS_RLE;
  SSplit l_small;
  l_small.m_u32PieceSize = 64;
  SSplit l_long;
  l_long.m_u32HeaderSize = 36;
  l_long.m_u32PieceHeaderSize = 8;
  l_long.m_u32PieceSize = 200;
  const std::vector<SEntry> l_vecTree = {
      {"logs", 1, 3, {}, {}},
      {"logs\\a.txt", 2, 3, Text(400), {}},
      {"logs\\b.log", 2, 1, {}, {}},
      {"logs\\c.bin", 2, 3, {0x5A}, {}},
      {"logs\\sub", 1, 3, {}, {}},
      {"logs\\sub\\d.ini", 2, 3, Text(150), l_small},
      {"logs\\sub\\e.dat", 2, 3, Runs(700), l_rle},
      {"logs\\sub", 1, 3, {}, {}},
      {"logs\\empty", 1, 3, {}, {}},
      {"logs\\empty", 1, 3, {}, {}},
      {"logs", 1, 3, {}, {}},
  };
  const std::vector<SEntry> l_vecWildcard = {
      {".\\a.txt", 2, 3, Text(120), {}},
      {".\\b.xml", 2, 1, Text(90), l_rle},
  };
  const std::vector<SEntry> l_vecLong = {
      {"data", 1, 3, {}, {}},
      {"data\\f.profile", 2, 3, Text(300), l_long},
      {"data", 1, 3, {}, {}},
  };
  const bool l_bWritten = WriteSplit(l_sDirectory, "split_empty.spl", {}, {}) &&
                          WriteSplit(l_sDirectory, "split_one_byte.spl", {0x41}, {}) &&
                          WriteSplit(l_sDirectory, "split_text_bwt.spl", Text(600), {}) &&
                          WriteSplit(l_sDirectory, "split_runs_rle.spl", Runs(900), l_rle) &&
                          WriteSplit(l_sDirectory, "split_small_pieces.spl", Text(300), l_small) &&
                          WriteSplit(l_sDirectory, "split_long_headers.spl", Text(450), l_long) &&
                          WritePackage(l_sDirectory, "package_tree.pkg", l_vecTree) &&
                          WritePackage(l_sDirectory, "package_wildcard.pkg", l_vecWildcard) &&
                          WritePackage(l_sDirectory, "package_long_records.pkg", l_vecLong, 32, 320) &&
                          WritePackage(l_sDirectory, "package_header_only.pkg", {});
  if (!l_bWritten) {
    std::fprintf(stderr, "os_cosfile_package_seeds: a seed was not written to %s\n", l_sDirectory.c_str());
    return 1;
  }
  return 0;
}
