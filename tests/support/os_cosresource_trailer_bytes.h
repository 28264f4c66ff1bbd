// Resource trailers for the tests, assembled by hand from the stored layout
// without the engine: slot n at n * 56 (name, then offset and size
// little-endian at +32 and +40), the marker at 3528.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct OsTestSlot {
  int m_iSlot;
  std::string m_sName;
  std::uint64_t m_u64Offset, m_u64Size;
};

inline std::string OsTestTrailer(const std::vector<OsTestSlot>& a_vecslot) {
  std::string l_s(3584, '\0');
  for (const OsTestSlot& l_slot : a_vecslot) {
    const std::size_t l_sizetAt = static_cast<std::size_t>(l_slot.m_iSlot) * 56;
    l_s.replace(l_sizetAt, l_slot.m_sName.size(), l_slot.m_sName);
    for (int l_i = 0; l_i < 8; ++l_i) {
      l_s[l_sizetAt + 32 + l_i] = static_cast<char>(l_slot.m_u64Offset >> (8 * l_i));
      l_s[l_sizetAt + 40 + l_i] = static_cast<char>(l_slot.m_u64Size >> (8 * l_i));
    }
  }
  l_s.replace(3528, 9, "@!@qrx@!@");
  return l_s;
}

// "" when the bytes are the expected ones, else where they part.
inline std::string OsTestBytesDiff(const std::string& a_sActual, const std::string& a_sExpected) {
  if (a_sActual == a_sExpected) return "";
  std::size_t l_sizet = 0;
  while (l_sizet < a_sActual.size() && l_sizet < a_sExpected.size() && a_sActual[l_sizet] == a_sExpected[l_sizet])
    ++l_sizet;
  return std::to_string(a_sActual.size()) + " bytes instead of " + std::to_string(a_sExpected.size()) +
         ", the first difference at " + std::to_string(l_sizet);
}
