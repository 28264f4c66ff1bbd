// The resource trailer's reader and planner in the host build, over
// hand-assembled files (the update sequence itself is shown on Windows).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "os_cosresource_trailer.h"
#include "os_cosresource_trailer_bytes.h"
#include "os_host_backend.h"

namespace {

const std::string s_sBody(10, 'B');

const std::uint8_t* Bytes(const std::string& a_s) { return reinterpret_cast<const std::uint8_t*>(a_s.data()); }

// Judges a file; the log lines go to *a_psLog.
EOSSTS Parse(const std::string& a_sFile, OsResourceTrailer* a_posresourcetrailer, std::string* a_psLog) {
  std::vector<std::string> l_vecsLog;
  OsHostLogCapture(&l_vecsLog);
  const std::size_t l_sizetLast = a_sFile.size() < OS_TRAILER_SIZE ? a_sFile.size() : OS_TRAILER_SIZE;
  const EOSSTS l_eossts =
      OsResourceTrailerParse(Bytes(a_sFile) + a_sFile.size() - l_sizetLast, static_cast<std::uint32_t>(l_sizetLast),
                             a_sFile.size(), a_posresourcetrailer);
  OsHostLogCapture(nullptr);
  for (const std::string& l_s : l_vecsLog) *a_psLog += l_s + "\n";
  return l_eossts;
}

TEST(ResourceTrailer, EveryLengthIsJudgedAgainstTheFile) {
  const struct {
    const char* m_szCase;
    std::string m_sFile;
    EOSSTS m_eossts;
    int m_iCount;
    std::uint64_t m_u64Base;  // sound files: where the blocks start; damaged ones: none
    const char* m_szLog;
  } l_acase[] = {
      {"short, no marker", "abc", OS_STS_SUCCESS, 0, 3, ""},
      {"long, no marker", std::string(5000, 'x'), OS_STS_SUCCESS, 0, 5000, ""},
      {"an empty block last", s_sBody + "aa" + OsTestTrailer({{62, "a", 10, 2}, {61, "b", 12, 0}}), OS_STS_SUCCESS, 2,
       10, ""},
      {"no slot in use", s_sBody + OsTestTrailer({}), OS_STS_SUCCESS, 0, 10, ""},
      {"the trailer alone", OsTestTrailer({{62, "a", 0, 0}}), OS_STS_SUCCESS, 1, 0, ""},
      {"name without terminator", s_sBody + "aa" + OsTestTrailer({{62, std::string(32, 'n'), 10, 2}}), OS_STS_FAIL, 0,
       0, "has no terminator"},
      {"gap in slots", s_sBody + "abc" + OsTestTrailer({{62, "a", 10, 2}, {60, "c", 12, 1}}), OS_STS_FAIL, 0, 0,
       "follows an empty one"},
      {"first block behind the trailer", s_sBody + OsTestTrailer({{62, "a", 11, 0}}), OS_STS_FAIL, 0, 0,
       "starts behind the trailer"},
      {"overlapping blocks", s_sBody + "abc" + OsTestTrailer({{62, "a", 10, 2}, {61, "b", 11, 2}}), OS_STS_FAIL, 0, 0,
       "does not start where"},
      {"size that wraps", s_sBody + "abc" + OsTestTrailer({{62, "a", 10, ~0ull - 5}, {61, "b", 4, 9}}), OS_STS_FAIL, 0,
       0, "reaches into the trailer"},
      {"bytes between the blocks and the trailer", s_sBody + "abc" + OsTestTrailer({{62, "a", 10, 2}}), OS_STS_FAIL, 0,
       0, "does not follow the last block"},
  };
  for (const auto& l_case : l_acase) {
    OsResourceTrailer l_osresourcetrailer;
    std::string l_sLog;
    ASSERT_EQ(Parse(l_case.m_sFile, &l_osresourcetrailer, &l_sLog), l_case.m_eossts) << l_case.m_szCase << l_sLog;
    EXPECT_NE(l_sLog.find(l_case.m_szLog), std::string::npos) << l_case.m_szCase << l_sLog;
    if (l_case.m_eossts != OS_STS_SUCCESS) continue;
    EXPECT_EQ(l_osresourcetrailer.m_iCount, l_case.m_iCount) << l_case.m_szCase;
    EXPECT_EQ(l_osresourcetrailer.m_u64Base, l_case.m_u64Base) << l_case.m_szCase;
  }
}

TEST(ResourceTrailer, NamesAreCutAndReservedBytesKept) {
  const std::string l_sName31(31, 'n');
  const std::string l_sName40(40, 'n');
  std::string l_sReserved = OsTestTrailer({{62, "a", 10, 1}});
  std::string l_sReservedAfter = OsTestTrailer({{62, "a", 10, 1}, {61, "b", 11, 2}});
  for (std::size_t l_sizetAt : {0, 62 * 56 + 48, 3583}) l_sReserved[l_sizetAt] = l_sReservedAfter[l_sizetAt] = 'R';
  const struct {
    std::string m_sFile;
    const char* m_szName;
    std::string m_sBytes;
    std::string m_sExpected;
  } l_acase[] = {
      {s_sBody, l_sName40.c_str(), "x", s_sBody + "x" + OsTestTrailer({{62, l_sName31, 10, 1}})},
      {s_sBody + "x" + OsTestTrailer({{62, l_sName31, 10, 1}}), l_sName40.c_str(), "yy",
       s_sBody + "yy" + OsTestTrailer({{62, l_sName31, 10, 2}})},
      {s_sBody + "a" + "bb" + "ccc" + OsTestTrailer({{62, "a", 10, 1}, {61, "b", 11, 2}, {60, "c", 13, 3}}), "B", "",
       s_sBody + "a" + "ccc" + OsTestTrailer({{62, "a", 10, 1}, {61, "c", 11, 3}})},
      {s_sBody + "a" + l_sReserved, "b", "bb", s_sBody + "a" + "bb" + l_sReservedAfter},
  };
  for (const auto& l_case : l_acase) {
    OsResourceTrailer l_osresourcetrailer;
    std::string l_sLog;
    ASSERT_EQ(Parse(l_case.m_sFile, &l_osresourcetrailer, &l_sLog), OS_STS_SUCCESS);
    OsResourceTrailerPlan l_plan;
    ASSERT_EQ(OsResourceTrailerPlanUpdate(l_osresourcetrailer, l_case.m_szName,
                                          static_cast<std::uint32_t>(l_case.m_sBytes.size()), &l_plan),
              OS_STS_SUCCESS);
    const std::size_t l_sizetBase = static_cast<std::size_t>(l_osresourcetrailer.m_u64Base);
    std::string l_s = l_case.m_sFile.substr(0, l_sizetBase) + std::string(l_plan.m_u64TailSize, '\0');
    ASSERT_EQ(
        OsResourceTrailerBuildTail(l_osresourcetrailer, Bytes(l_case.m_sFile) + l_sizetBase,
                                   l_case.m_sFile.size() - l_sizetBase, l_plan, Bytes(l_case.m_sBytes),
                                   reinterpret_cast<std::uint8_t*>(l_s.data()) + l_sizetBase, l_plan.m_u64TailSize),
        OS_STS_SUCCESS);
    EXPECT_EQ(OsTestBytesDiff(l_s, l_case.m_sExpected), "") << l_case.m_szName;
  }
}

}  // namespace
