// libFuzzer target of the resource trailer. The input is a file whose
// trailer is judged: a sound one must describe blocks lying end to end
// between the base body and the trailer. An update drawn from the first two
// bytes (one of a few names, 0 to 16 new bytes; 0 removes the name) may fail
// only with all 62 slots in use; the file it builds must be sound again and
// hold the old blocks in order with the named one replaced, removed or added
// last (and be the base body when no block is left).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "os_cosresource_trailer.h"

namespace {

void Check(bool a_b) {
  if (!a_b) std::abort();
}

typedef std::vector<std::pair<std::string, std::string>> Blocks;  // names and bytes

const std::uint8_t* Bytes(const std::string& a_s) { return reinterpret_cast<const std::uint8_t*>(a_s.data()); }

bool Judge(const std::string& a_sFile, OsResourceTrailer* a_pt, Blocks* a_pblocks) {
  const std::size_t l_sizetLast = a_sFile.size() < OS_TRAILER_SIZE ? a_sFile.size() : OS_TRAILER_SIZE;
  const EOSSTS l_eossts = OsResourceTrailerParse(Bytes(a_sFile) + a_sFile.size() - l_sizetLast,
                                                 static_cast<std::uint32_t>(l_sizetLast), a_sFile.size(), a_pt);
  Check(l_eossts == OS_STS_SUCCESS || l_eossts == OS_STS_FAIL);
  if (l_eossts != OS_STS_SUCCESS) return false;
  std::uint64_t l_u64At = a_pt->m_u64Base;
  Check(a_pt->m_bPresent || (a_pt->m_iCount == 0 && l_u64At == a_sFile.size()));
  for (int l_iSlot = OS_TRAILER_SLOTS; l_iSlot > OS_TRAILER_SLOTS - a_pt->m_iCount; --l_iSlot) {
    const std::uint64_t l_u64Size = OsResourceTrailerBlockSize(*a_pt, l_iSlot);
    Check(OsResourceTrailerOffset(*a_pt, l_iSlot) == l_u64At && l_u64Size <= a_sFile.size() - l_u64At);
    a_pblocks->emplace_back(OsResourceTrailerName(*a_pt, l_iSlot), a_sFile.substr(l_u64At, l_u64Size));
    l_u64At += l_u64Size;
  }
  Check(!a_pt->m_bPresent || l_u64At + OS_TRAILER_SIZE == a_sFile.size());
  return true;
}

std::string Lower(std::string a_s) {
  for (char& l_c : a_s) l_c = l_c >= 'A' && l_c <= 'Z' ? static_cast<char>(l_c - 'A' + 'a') : l_c;
  return a_s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* a_pu8Data, std::size_t a_sizetSize) {
  const std::string l_sFile(reinterpret_cast<const char*>(a_pu8Data), a_sizetSize);
  OsResourceTrailer l_old;
  Blocks l_blocks;
  if (!Judge(l_sFile, &l_old, &l_blocks)) return 0;
  static const char* const s_aszName[] = {"a", "B", "n0", "N61", "a name that is longer than thirty-one bytes"};
  const std::string l_sName = s_aszName[a_sizetSize > 0 ? a_pu8Data[0] % 5 : 0];
  const std::string l_sKey = l_sName.substr(0, OS_TRAILER_NAME_SIZE - 1);
  const std::string l_sBytes(a_sizetSize > 1 ? a_pu8Data[1] % 17 : 1, 'w');
  std::size_t l_sizetFound = 0;
  while (l_sizetFound < l_blocks.size() && Lower(l_blocks[l_sizetFound].first) != Lower(l_sKey)) ++l_sizetFound;

  OsResourceTrailerPlan l_plan;
  if (OsResourceTrailerPlanUpdate(l_old, l_sName.c_str(), static_cast<std::uint32_t>(l_sBytes.size()), &l_plan) !=
      OS_STS_SUCCESS) {
    Check(l_old.m_iCount == OS_TRAILER_SLOTS && l_sizetFound == l_blocks.size() && !l_sBytes.empty());
    return 0;
  }
  const std::size_t l_sizetBase = l_old.m_u64Base;
  std::string l_sNew = l_sFile.substr(0, l_sizetBase) + std::string(l_plan.m_u64TailSize, '\0');
  Check(OsResourceTrailerBuildTail(l_old, Bytes(l_sFile) + l_sizetBase, l_sFile.size() - l_sizetBase, l_plan,
                                   Bytes(l_sBytes), reinterpret_cast<std::uint8_t*>(l_sNew.data()) + l_sizetBase,
                                   l_plan.m_u64TailSize) == OS_STS_SUCCESS);
  if (l_sizetFound < l_blocks.size() && !l_sBytes.empty())
    l_blocks[l_sizetFound].second = l_sBytes;
  else if (l_sizetFound < l_blocks.size())
    l_blocks.erase(l_blocks.begin() + static_cast<std::ptrdiff_t>(l_sizetFound));
  else if (!l_sBytes.empty())
    l_blocks.emplace_back(l_sKey, l_sBytes);
  // Without blocks the base body stays, which may itself end in what reads as a trailer.
  if (l_blocks.empty()) {
    Check(l_sNew == l_sFile.substr(0, l_sizetBase));
    return 0;
  }
  OsResourceTrailer l_new;
  Blocks l_blocksNew;
  Check(Judge(l_sNew, &l_new, &l_blocksNew) && l_new.m_u64Base == l_old.m_u64Base && l_blocksNew == l_blocks);
  return 0;
}
