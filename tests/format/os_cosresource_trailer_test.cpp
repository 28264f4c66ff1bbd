// The resource trailer's reader in the host build, over hand-assembled files
// (the updates are shown on Windows, and fuzzed).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "os_cosresource_trailer.h"
#include "os_cosresource_trailer_bytes.h"
#include "os_host_backend.h"

namespace {

TEST(ResourceTrailer, EveryLengthIsJudgedAgainstTheFile) {
  const std::string l_sBody(10, 'B');
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
      // Not written here (an update leaves no empty trailer): the file's own bytes.
      {"no slot in use", l_sBody + OsTestTrailer({}), OS_STS_SUCCESS, 0, 10 + 3584, ""},
      {"the trailer alone", OsTestTrailer({{62, "a", 0, 0}}), OS_STS_SUCCESS, 1, 0, ""},
      {"name without terminator", l_sBody + "aa" + OsTestTrailer({{62, std::string(32, 'n'), 10, 2}}), OS_STS_FAIL, 0,
       0, "has no terminator"},
      {"gap in slots", l_sBody + "abc" + OsTestTrailer({{62, "a", 10, 2}, {60, "c", 12, 1}}), OS_STS_FAIL, 0, 0,
       "follows an empty one"},
      {"first block behind the trailer", l_sBody + OsTestTrailer({{62, "a", 11, 0}}), OS_STS_FAIL, 0, 0,
       "starts behind the trailer"},
      {"overlapping blocks", l_sBody + "abc" + OsTestTrailer({{62, "a", 10, 2}, {61, "b", 11, 2}}), OS_STS_FAIL, 0, 0,
       "does not start where"},
      {"size that wraps", l_sBody + "abc" + OsTestTrailer({{62, "a", 10, ~0ull - 5}, {61, "b", 4, 9}}), OS_STS_FAIL, 0,
       0, "reaches into the trailer"},
      {"bytes between the blocks and the trailer", l_sBody + "abc" + OsTestTrailer({{62, "a", 10, 2}}), OS_STS_FAIL, 0,
       0, "does not follow the last block"},
  };
  for (const auto& l_case : l_acase) {
    const std::string& l_sFile = l_case.m_sFile;
    const std::size_t l_sizetLast = l_sFile.size() < OS_TRAILER_SIZE ? l_sFile.size() : OS_TRAILER_SIZE;
    std::vector<std::string> l_vecsLog;
    OsHostLogCapture(&l_vecsLog);
    OsResourceTrailer l_osresourcetrailer;
    const EOSSTS l_eossts =
        OsResourceTrailerParse(reinterpret_cast<const std::uint8_t*>(l_sFile.data()) + l_sFile.size() - l_sizetLast,
                               static_cast<std::uint32_t>(l_sizetLast), l_sFile.size(), &l_osresourcetrailer);
    OsHostLogCapture(nullptr);
    std::string l_sLog;
    for (const std::string& l_s : l_vecsLog) l_sLog += l_s + "\n";
    ASSERT_EQ(l_eossts, l_case.m_eossts) << l_case.m_szCase << l_sLog;
    EXPECT_NE(l_sLog.find(l_case.m_szLog), std::string::npos) << l_case.m_szCase << l_sLog;
    if (l_case.m_eossts != OS_STS_SUCCESS) continue;
    EXPECT_EQ(l_osresourcetrailer.m_iCount, l_case.m_iCount) << l_case.m_szCase;
    EXPECT_EQ(l_osresourcetrailer.m_u64Base, l_case.m_u64Base) << l_case.m_szCase;
  }
}

}  // namespace
