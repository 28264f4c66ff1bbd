// Split streams and packages for the host tests, assembled field by field
// from the stored layouts without the engine. Containers keep the bytes as
// they are (method 0).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "os_cosfile_package.h"

inline std::string Le(std::uint64_t a_u64, int a_iBytes) {
  std::string l_s;
  for (int l_i = 0; l_i < a_iBytes; ++l_i) l_s += static_cast<char>(a_u64 >> (8 * l_i));
  return l_s;
}

inline std::string With(std::string a_s, std::size_t a_sizetAt, const std::string& a_sPart) {
  return a_s.replace(a_sizetAt, a_sPart.size(), a_sPart);
}

// A file below 64 KiB as one piece: a container header, one chunk header
// (method 0, primary index, length, stored length) and the bytes; a file of
// 0 or 1 byte as its size and the byte. Longer headers are padded.
inline std::string Split(const std::string& a_s, std::uint32_t a_u32Header = 28, std::uint32_t a_u32PieceHeader = 4) {
  const bool l_bTiny = a_s.size() <= 1;
  const std::string l_sLength = Le(a_s.size(), 4);
  const std::string l_sPayload =
      l_bTiny ? a_s : "QRXCMP01" + Le(24, 4) + Le(16, 4) + Le(a_s.size(), 8) + Le(0, 8) + l_sLength + l_sLength + a_s;
  return "QRXSPL01" + Le(a_u32Header, 4) + Le(a_u32PieceHeader, 4) + Le(a_s.size(), 8) +
         Le(l_bTiny ? 0 : OS_SPLIT_PIECE_SIZE, 4) + std::string(a_u32Header - 28, '\xEE') +
         (l_bTiny ? l_sLength : Le(l_sPayload.size(), 4)) + std::string(a_u32PieceHeader - 4, '\xEE') + l_sPayload;
}

struct SEntry {
  std::string m_sName;
  std::uint32_t m_u32Type, m_u32Access;
  std::string m_sStream;
  OsTimeRecord m_ostimerecordModified = {2024, 2, 4, 29, 23, 59, 58, 999};
};

// Every record says it was accessed on 2023-11-14 at 09:05:07.042.
inline std::string Package(const std::vector<SEntry>& a_vecEntries, std::uint64_t a_u64Total,
                           std::uint32_t a_u32Header = 24, std::uint32_t a_u32Record = 304) {
  std::string l_s = "QRXPKG01" + Le(a_u32Header, 4) + Le(a_u32Record, 4) + Le(a_u64Total, 8);
  l_s.resize(a_u32Header, '\xEE');
  for (const SEntry& l_entry : a_vecEntries) {
    l_s += Le(l_entry.m_sStream.size(), 8) + l_entry.m_sName + std::string(256 - l_entry.m_sName.size(), '\0') +
           Le(l_entry.m_u32Type, 4) + Le(l_entry.m_u32Access, 4);
    for (const OsTimeRecord& l_r : {OsTimeRecord{2023, 11, 2, 14, 9, 5, 7, 42}, l_entry.m_ostimerecordModified})
      for (const std::uint16_t l_u16 : {l_r.m_u16Year, l_r.m_u16Month, l_r.m_u16DayOfWeek, l_r.m_u16Day, l_r.m_u16Hour,
                                        l_r.m_u16Minute, l_r.m_u16Second, l_r.m_u16Millisecond})
        l_s += Le(l_u16, 2);
    l_s += std::string(a_u32Record - 304, '\xEE') + l_entry.m_sStream;
  }
  return l_s;
}
