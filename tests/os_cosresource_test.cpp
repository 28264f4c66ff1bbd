// Module resources: raw data and versions of modules, their name lists, and
// blocks written into files as resources and as trailer slots.
#include <windows.h>
#include <imagehlp.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "os.h"
#include "os_cosfile_impl.h"
#include "os_cosresource.h"
#include "os_cosresource_trailer_bytes.h"
#include "os_test.h"
#include "os_test_log.h"
#include "os_test_services.h"

namespace {

class Resource : public OsServicesTest {
 protected:
  std::string Path(const char* a_szName) const { return Dir() + "\\" + a_szName; }
  std::string Read(const std::string& a_sPath) const { return OsTestReadFile(OsTestWide(a_sPath)); }
};

std::string Text(const COsResource& a_osresource) {
  return std::string(static_cast<const char*>(a_osresource.DataGet()), a_osresource.SizeGet());
}

std::string ProgramPath() {
  wchar_t l_wsz[MAX_PATH];
  GetModuleFileNameW(nullptr, l_wsz, MAX_PATH);
  return OsTestUtf8(l_wsz);
}

const std::string s_sBody = "MZ the file's own bytes\r\n" + std::string(300, 'x');
const std::uint64_t s_u64Body = s_sBody.size();

EOSSTS TrailerUpdate(const std::string& a_sPath, const char* a_szName, const std::string& a_sBytes) {
  COsResource l_osresource;
  return l_osresource.Update(a_sPath.c_str(), a_szName, OS_RESOURCE_TYPE_RCDATA,
                             static_cast<std::uint32_t>(a_sBytes.size()), a_sBytes.empty() ? nullptr : a_sBytes.data(),
                             true);
}

DWORD Certificates(const std::wstring& a_wsPath) {
  const HANDLE l_h = CreateFileW(a_wsPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD l_dwCount = 0xFFFFFFFF;
  if (!ImageEnumerateCertificates(l_h, CERT_SECTION_TYPE_ANY, &l_dwCount, nullptr, 0)) l_dwCount = 0xFFFFFFFF;
  CloseHandle(l_h);
  return l_dwCount;
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

TEST_F(Resource, TheNamesOfAModule) {
  StartLoggingTo(L"resource.log");
  COsResource l_osresource;
  char l_szName[200];
  EXPECT_EQ(l_osresource.FindNext(l_szName, sizeof(l_szName)), OS_STS_FAIL);
  EXPECT_EQ(Lines("must call FindFirst first...").size(), 1u);
  // The program, and the program loaded by path as a data file; a numbered
  // resource is listed as "#n", the name Load takes.
  const std::string l_sProgram = ProgramPath();
  for (const char* l_szModule : {static_cast<const char*>(nullptr), l_sProgram.c_str()}) {
    std::vector<std::string> l_vecs;
    EOSSTS l_eossts = l_osresource.FindFirst(l_szModule, l_szName, sizeof(l_szName));
    for (; l_eossts == OS_STS_SUCCESS; l_eossts = l_osresource.FindNext(l_szName, sizeof(l_szName)))
      l_vecs.push_back(l_szName);
    EXPECT_EQ(l_eossts, OS_STS_NOMORE);
    EXPECT_EQ(l_vecs, (std::vector<std::string>{"BRAND", "VERSION", "#7"})) << (l_szModule ? l_szModule : "null");
  }
  // A name that does not fit stays the next one.
  char l_szTiny[4];
  EXPECT_EQ(l_osresource.FindFirst(nullptr, l_szTiny, sizeof(l_szTiny)), OS_STS_TOOSMALL);
  EXPECT_EQ(l_osresource.FindNext(l_szName, sizeof(l_szName)), OS_STS_SUCCESS);
  EXPECT_STREQ(l_szName, "BRAND");
  // A file that is no module lists nothing (not the program's names).
  const std::string l_sPlain = Path("plain.bin");
  ASSERT_TRUE(OsTestWriteFile(OsTestWide(l_sPlain), "plain"));
  EXPECT_EQ(l_osresource.FindFirst(l_sPlain.c_str(), l_szName, sizeof(l_szName)), OS_STS_FAIL);
  EXPECT_EQ(Lines("LoadLibraryEx failed...<" + l_sPlain + ">").size(), 1u);
  EXPECT_EQ(l_osresource.FindClose(), OS_STS_SUCCESS);
  EXPECT_EQ(l_osresource.FindNext(l_szName, sizeof(l_szName)), OS_STS_FAIL);
}

TEST_F(Resource, AResourceWrittenIntoASignedCopyOfTheProgram) {
  const std::string l_sCopy = Path("copy.exe");
  const std::wstring l_wsCopy = OsTestWide(l_sCopy);
  ASSERT_TRUE(CopyFileW(OsTestWide(ProgramPath()).c_str(), l_wsCopy.c_str(), TRUE));
  // A certificate in the file's security directory, as a signed file has one.
  const HANDLE l_h = CreateFileW(l_wsCopy.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  alignas(8) std::uint8_t l_au8[64] = {};
  *reinterpret_cast<WIN_CERTIFICATE*>(l_au8) = {
      sizeof(l_au8), WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA, {}};
  DWORD l_dwIndex = 0;
  const BOOL l_bAdded = ImageAddCertificate(l_h, reinterpret_cast<WIN_CERTIFICATE*>(l_au8), &l_dwIndex);
  CloseHandle(l_h);
  ASSERT_TRUE(l_bAdded && Certificates(l_wsCopy) == 1u);
  COsResource l_osresource;
  const char l_szBytes[] = "extra bytes";
  // A refused type has not touched the file (nor its certificate).
  EXPECT_EQ(l_osresource.Update(l_sCopy.c_str(), "EXTRA", 2, sizeof(l_szBytes), l_szBytes, false), OS_STS_FAIL);
  EXPECT_EQ(Certificates(l_wsCopy), 1u);

  ASSERT_EQ(l_osresource.Update(l_sCopy.c_str(), "EXTRA", 1, sizeof(l_szBytes), l_szBytes, false), OS_STS_SUCCESS);
  EXPECT_EQ(Certificates(l_wsCopy), 0u);
  ASSERT_EQ(l_osresource.Load(l_sCopy.c_str(), "EXTRA", OS_RESOURCE_TYPE_RCDATA), OS_STS_SUCCESS);
  EXPECT_EQ(Text(l_osresource), std::string(l_szBytes, sizeof(l_szBytes)));
  l_osresource.Close();
  // The file's other resources stay, and the copy still runs.
  ASSERT_EQ(l_osresource.Load(l_sCopy.c_str(), "BRAND", OS_RESOURCE_TYPE_RCDATA), OS_STS_SUCCESS);
  l_osresource.Close();
  EXPECT_EQ(OsTestRunProgram(L"\"" + l_wsCopy + L"\" --gtest_filter=-*").m_ulExitCode, 0u);
}

TEST_F(Resource, TrailerBlocksFollowTheBodyInSlotOrder) {
  StartLoggingTo(L"resource.log");
  const std::string l_sPath = Path("body.bin");
  ASSERT_TRUE(OsTestWriteFile(OsTestWide(l_sPath), s_sBody));
  const std::uint64_t l_u64B = s_u64Body;
  const std::string l_sLong(40, 'n'), l_sKept(31, 'n');  // a slot keeps a name's first 31 bytes
  const struct {
    const char* m_szName;
    std::string m_sBytes;
    std::string m_sExpected;
  } l_astep[] = {
      {"a", "11111", s_sBody + "11111" + OsTestTrailer({{62, "a", l_u64B, 5}})},
      {"b", "2222222", s_sBody + "11111" + "2222222" + OsTestTrailer({{62, "a", l_u64B, 5}, {61, "b", l_u64B + 5, 7}})},
      // The other case names the same block: it is replaced, b's block moves.
      {"A", "333", s_sBody + "333" + "2222222" + OsTestTrailer({{62, "a", l_u64B, 3}, {61, "b", l_u64B + 3, 7}})},
      {l_sLong.c_str(), "44",
       s_sBody + "333" + "2222222" + "44" +
           OsTestTrailer({{62, "a", l_u64B, 3}, {61, "b", l_u64B + 3, 7}, {60, l_sKept, l_u64B + 10, 2}})},
      // A removed slot's follower moves up.
      {"B", "", s_sBody + "333" + "44" + OsTestTrailer({{62, "a", l_u64B, 3}, {61, l_sKept, l_u64B + 3, 2}})},
      {l_sLong.c_str(), "", s_sBody + "333" + OsTestTrailer({{62, "a", l_u64B, 3}})},
      // With the last block the trailer goes: the file's own bytes are left.
      {"a", "", s_sBody},
  };
  for (const auto& l_step : l_astep) {
    EXPECT_EQ(TrailerUpdate(l_sPath, l_step.m_szName, l_step.m_sBytes), OS_STS_SUCCESS) << l_step.m_szName;
    EXPECT_EQ(OsTestBytesDiff(Read(l_sPath), l_step.m_sExpected), "") << l_step.m_szName << " " << l_step.m_sBytes;
  }
}

TEST_F(Resource, RefusedTrailerUpdatesLeaveTheFileAlone) {
  StartLoggingTo(L"resource.log");
  std::vector<OsTestSlot> l_vecslotFull;
  for (int l_i = 0; l_i < 62; ++l_i)
    l_vecslotFull.push_back({62 - l_i, "n" + std::to_string(l_i), s_u64Body + static_cast<std::uint64_t>(l_i), 1});
  const struct {
    std::string m_sFile;
    int m_iType;
    const char* m_szLog;
  } l_acase[] = {
      {s_sBody + std::string(62, 'd') + OsTestTrailer(l_vecslotFull), 1, "no free slots..."},
      {s_sBody + "xyz" + OsTestTrailer({{62, "a", s_u64Body + 1, 3}}), 1, "Damaged resource trailer"},
      {s_sBody, 2, "Unrecognized resource type: 2"},
  };
  const std::string l_sPath = Path("refused.bin");
  for (const auto& l_case : l_acase) {
    ASSERT_TRUE(OsTestWriteFile(OsTestWide(l_sPath), l_case.m_sFile));
    COsResource l_osresource;
    EXPECT_EQ(l_osresource.Update(l_sPath.c_str(), "new", l_case.m_iType, 3, "new", true), OS_STS_FAIL);
    EXPECT_EQ(OsTestBytesDiff(Read(l_sPath), l_case.m_sFile), "") << l_case.m_szLog;
    EXPECT_FALSE(Lines(l_case.m_szLog).empty()) << l_case.m_szLog;
  }
  COsResource l_osresource;
  EXPECT_EQ(l_osresource.Update(l_sPath.c_str(), nullptr, 1, 3, "new", true), OS_STS_BADARG);
  EXPECT_EQ(l_osresource.Update(l_sPath.c_str(), "", 1, 3, "new", true), OS_STS_BADARG);
}

TEST_F(Resource, AFailedTrailerWriteLeavesTheFileAsItWas) {
  StartLoggingTo(L"resource.log");
  const std::string l_sPath = Path("fail.bin");
  const std::string l_sBefore =
      s_sBody + "11111" + "2222222" + OsTestTrailer({{62, "a", s_u64Body, 5}, {61, "b", s_u64Body + 5, 7}});
  // The disk fills up after so many bytes of the new tail (written from the
  // first byte that changes): of a longer one, past the file's old end, and
  // of a shorter one, where b's block moves forward.
  const struct {
    const char* m_szName;
    std::string m_sBytes;
    std::int64_t m_i64FailAfter;
  } l_acase[] = {{"b", std::string(40, 'L'), 7 + 3584 + 2}, {"a", "", 3}};
  for (const auto& [l_szName, l_sBytes, l_i64FailAfter] : l_acase) {
    ASSERT_TRUE(OsTestWriteFile(OsTestWide(l_sPath), l_sBefore));
    OsFileWriteFailAfter(l_i64FailAfter);
    EXPECT_EQ(TrailerUpdate(l_sPath, l_szName, l_sBytes), OS_STS_FAIL) << l_i64FailAfter;
    OsFileWriteFailAfter(-1);
    EXPECT_EQ(OsTestBytesDiff(Read(l_sPath), l_sBefore), "") << l_i64FailAfter;
  }
  EXPECT_EQ(Lines("Write failed...<" + l_sPath + ">").size(), 2u);
}

}  // namespace
