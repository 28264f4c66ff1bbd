// A spawned program's command line: what the child's parser gives back.
#include <string>
#include <vector>

#include "os_costhread_cmdline.h"
#include "os_test.h"
#include "os_win.h"

#include <shellapi.h>

namespace {

// The arguments a child's parser finds after the program.
std::vector<std::wstring> Parse(const wchar_t* a_wszLine) {
  int l_iCount = 0;
  LPWSTR* const l_awsz = CommandLineToArgvW(a_wszLine, &l_iCount);
  std::vector<std::wstring> l_args;
  for (int l_i = 1; l_awsz != nullptr && l_i < l_iCount; ++l_i) l_args.push_back(l_awsz[l_i]);
  LocalFree(l_awsz);
  return l_args;
}

}  // namespace

TEST(SpawnCommandLine, EveryArgumentArrivesUnchanged) {
  const std::vector<std::wstring> l_args = {L"C:\\dir\\", L"a\"b", L"a b\\", L"", L"\\\\\"x\\", L"x y", L"\\\\server\\share\\",
                                            L"\"", L"tab\there", L"a\\\\b"};
  wchar_t l_wsz[1024] = L"\"C:\\p.exe\" ";
  for (const std::wstring& l_ws : l_args) ASSERT_TRUE(OsSpawnAppendArgument(l_wsz, 1024, l_ws.c_str(), 512, false));
  EXPECT_EQ(Parse(l_wsz), l_args) << OsTestUtf8(l_wsz);
}

TEST(SpawnCommandLine, PlainArgumentsAreQuotedAndRawOnesLeftAsTheyAre) {
  wchar_t l_wsz[64] = L"\"C:\\a b\\p.exe\" ";
  ASSERT_TRUE(OsSpawnAppendArgument(l_wsz, 64, L"x y", 512, false));
  ASSERT_TRUE(OsSpawnAppendArgument(l_wsz, 64, L"z", 512, false));
  EXPECT_STREQ(l_wsz, L"\"C:\\a b\\p.exe\" \"x y\" \"z\" ");
  wchar_t l_wszRaw[64] = L"\"C:\\a b\\p.exe\" ";
  ASSERT_TRUE(OsSpawnAppendArgument(l_wszRaw, 64, L"x y", 512, true));
  ASSERT_TRUE(OsSpawnAppendArgument(l_wszRaw, 64, L"z", 512, true));
  EXPECT_STREQ(l_wszRaw, L"\"C:\\a b\\p.exe\" x y z ");
}

TEST(SpawnCommandLine, ALongArgumentIsCutAndOneThatDoesNotFitLeavesTheLine) {
  wchar_t l_wsz[16] = L"p ";
  ASSERT_TRUE(OsSpawnAppendArgument(l_wsz, 16, L"abc\\\\def", 5, false));  // "abc\\" cut after the backslashes
  EXPECT_EQ(Parse(l_wsz), std::vector<std::wstring>{L"abc\\\\"});
  const std::wstring l_wsBefore = l_wsz;
  EXPECT_FALSE(OsSpawnAppendArgument(l_wsz, 16, L"123456", 512, false));
  EXPECT_EQ(l_wsBefore, l_wsz);
}
