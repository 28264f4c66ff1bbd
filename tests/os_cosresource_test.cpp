// Module resources: raw-data resources of the program and file versions of
// other files.
#include <windows.h>

#include <cstring>
#include <string>

#include "os.h"
#include "os_cosresource.h"
#include "os_test.h"
#include "os_test_log.h"

namespace {

class Resource : public OsTest {};

std::string Text(const COsResource& a_osresource) {
  return std::string(static_cast<const char*>(a_osresource.DataGet()), a_osresource.SizeGet());
}

std::string ProgramPath() {
  wchar_t l_wsz[MAX_PATH];
  GetModuleFileNameW(nullptr, l_wsz, MAX_PATH);
  return OsTestUtf8(l_wsz);
}

TEST_F(Resource, RawDataOfTheProgram) {
  COsResource l_osresource;
  ASSERT_EQ(l_osresource.Load(OS_RESOURCE_LOCAL, "VERSION", OS_RESOURCE_TYPE_RCDATA), OS_STS_SUCCESS);
  EXPECT_EQ(Text(l_osresource), std::string("01.02.03.04-pkg\0", 16));
  // One resource at a time, until Close.
  EXPECT_EQ(l_osresource.Load(nullptr, "BRAND", OS_RESOURCE_TYPE_RCDATA), OS_STS_FAIL);
  EXPECT_EQ(l_osresource.Close(), OS_STS_SUCCESS);
  EXPECT_EQ(l_osresource.DataGet(), nullptr);
  EXPECT_EQ(l_osresource.SizeGet(), 0u);
  ASSERT_EQ(l_osresource.Load(nullptr, "brand", OS_RESOURCE_TYPE_RCDATA), OS_STS_SUCCESS);  // names without case
  EXPECT_EQ(Text(l_osresource).rfind("<brand>", 0), 0u);
}

TEST_F(Resource, RefusalsLeaveTheObjectEmpty) {
  COsResource l_osresource;
  EXPECT_EQ(l_osresource.Load(nullptr, nullptr, OS_RESOURCE_TYPE_RCDATA), OS_STS_BADARG);
  EXPECT_EQ(l_osresource.Load(nullptr, "NOSUCHRESOURCE", OS_RESOURCE_TYPE_RCDATA), OS_STS_FAIL);
  EXPECT_EQ(l_osresource.DataGet(), nullptr);
  EXPECT_EQ(l_osresource.Load(nullptr, "VERSION", 2), OS_STS_FAIL);  // only raw data
  EXPECT_EQ(l_osresource.Load((Dir() + "\\missing.dll").c_str(), "BRAND", OS_RESOURCE_TYPE_RCDATA), OS_STS_FAIL);
  EXPECT_EQ(GetLastError(), 0u);
  // Still usable after the refusals.
  EXPECT_EQ(l_osresource.Load(nullptr, "VERSION", OS_RESOURCE_TYPE_RCDATA), OS_STS_SUCCESS);
}

TEST_F(Resource, TheVersionOfAFile) {
  COsResource l_osresource;
  ASSERT_EQ(l_osresource.Load(ProgramPath().c_str(), "VERSION", OS_RESOURCE_TYPE_RCDATA), OS_STS_SUCCESS);
  EXPECT_EQ(Text(l_osresource), "1.2.3.4");
  EXPECT_EQ(l_osresource.SizeGet(), 7u);
  l_osresource.Close();
  // A file without version information: an empty text, and still success.
  const std::string l_sPlain = Dir() + "\\plain.bin";
  ASSERT_TRUE(OsTestWriteFile(OsTestWide(l_sPlain), "plain"));
  ASSERT_EQ(l_osresource.Load(l_sPlain.c_str(), "VERSION", OS_RESOURCE_TYPE_RCDATA), OS_STS_SUCCESS);
  EXPECT_EQ(l_osresource.SizeGet(), 0u);
  EXPECT_STREQ(static_cast<const char*>(l_osresource.DataGet()), "");
}

TEST_F(Resource, RawDataOfAnotherModuleIsLoadedAndFreed) {
  // The test program itself, loaded by path as a second module.
  COsResource l_osresource;
  ASSERT_EQ(l_osresource.Load(ProgramPath().c_str(), "BRAND", OS_RESOURCE_TYPE_RCDATA), OS_STS_SUCCESS);
  EXPECT_NE(Text(l_osresource).find("<companynameshort>testco</companynameshort>"), std::string::npos);
  EXPECT_EQ(l_osresource.Close(), OS_STS_SUCCESS);
}

}  // namespace
