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
  // The program's own module in each of the three ways to name it; the one
  // loaded by path is a data file. Named resources come first, in order of
  // their names; a numbered one is listed so that Load finds it again.
  const std::string l_sProgram = ProgramPath();
  for (const char* l_szModule : {static_cast<const char*>(nullptr), OS_RESOURCE_LOCAL, l_sProgram.c_str()}) {
    std::vector<std::string> l_vecs;
    for (EOSSTS l_eossts = l_osresource.FindFirst(l_szModule, l_szName, sizeof(l_szName)); l_eossts == OS_STS_SUCCESS;
         l_eossts = l_osresource.FindNext(l_szName, sizeof(l_szName)))
      l_vecs.push_back(l_szName);
    EXPECT_EQ(l_vecs, (std::vector<std::string>{"BRAND", "VERSION", "#7"})) << (l_szModule ? l_szModule : "null");
    EXPECT_EQ(l_osresource.FindNext(l_szName, sizeof(l_szName)), OS_STS_NOMORE);
  }
  ASSERT_EQ(l_osresource.Load(nullptr, "#7", OS_RESOURCE_TYPE_RCDATA), OS_STS_SUCCESS);
  EXPECT_EQ(Text(l_osresource), std::string("seven\0", 6));
  // A name that does not fit stays the next one.
  char l_szTiny[4];
  EXPECT_EQ(l_osresource.FindFirst(nullptr, l_szTiny, sizeof(l_szTiny)), OS_STS_TOOSMALL);
  EXPECT_EQ(l_osresource.FindNext(l_szName, sizeof(l_szName)), OS_STS_SUCCESS);
  EXPECT_STREQ(l_szName, "BRAND");
  // A file that is no module.
  const std::string l_sPlain = Path("plain.bin");
  ASSERT_TRUE(OsTestWriteFile(OsTestWide(l_sPlain), "plain"));
  EXPECT_EQ(l_osresource.FindFirst(l_sPlain.c_str(), l_szName, sizeof(l_szName)), OS_STS_FAIL);
  EXPECT_EQ(Lines("LoadLibraryEx failed...<" + l_sPlain + ">").size(), 1u);
  EXPECT_EQ(l_osresource.FindClose(), OS_STS_SUCCESS);
  EXPECT_EQ(l_osresource.FindNext(l_szName, sizeof(l_szName)), OS_STS_FAIL);
}

TEST_F(Resource, AResourceWrittenIntoASignedCopyOfTheProgram) {
  StartLoggingTo(L"resource.log");
  const std::string l_sCopy = Path("copy.exe");
  const std::wstring l_wsCopy = OsTestWide(l_sCopy);
  ASSERT_TRUE(CopyFileW(OsTestWide(ProgramPath()).c_str(), l_wsCopy.c_str(), TRUE));
  // A certificate in the file's security directory, as a signed file has one.
  {
    const HANDLE l_h =
        CreateFileW(l_wsCopy.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(l_h, INVALID_HANDLE_VALUE);
    alignas(8) std::uint8_t l_au8[64] = {};
    WIN_CERTIFICATE* const l_pcert = reinterpret_cast<WIN_CERTIFICATE*>(l_au8);
    l_pcert->dwLength = sizeof(l_au8);
    l_pcert->wRevision = WIN_CERT_REVISION_2_0;
    l_pcert->wCertificateType = WIN_CERT_TYPE_PKCS_SIGNED_DATA;
    DWORD l_dwIndex = 0;
    const BOOL l_bAdded = ImageAddCertificate(l_h, l_pcert, &l_dwIndex);
    CloseHandle(l_h);
    ASSERT_TRUE(l_bAdded);
  }
  ASSERT_EQ(Certificates(l_wsCopy), 1u);
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
  ASSERT_EQ(l_osresource.Load(l_sCopy.c_str(), "BRAND", OS_RESOURCE_TYPE_RCDATA), OS_STS_SUCCESS);
  l_osresource.Close();
  // The copy still runs.
  EXPECT_EQ(OsTestRunProgram(L"\"" + l_wsCopy + L"\" --gtest_filter=-*").m_ulExitCode, 0u);
  // No bytes remove the resource.
  ASSERT_EQ(l_osresource.Update(l_sCopy.c_str(), "EXTRA", 1, 0, nullptr, false), OS_STS_SUCCESS);
  if (OsTestIsWine()) GTEST_SKIP() << "Wine: UpdateResource without data answers TRUE and removes nothing";
  EXPECT_EQ(l_osresource.Load(l_sCopy.c_str(), "EXTRA", OS_RESOURCE_TYPE_RCDATA), OS_STS_FAIL);
}

TEST_F(Resource, TrailerBlocksFollowTheBodyInSlotOrder) {
  StartLoggingTo(L"resource.log");
  const std::string l_sPath = Path("body.bin");
  ASSERT_TRUE(OsTestWriteFile(OsTestWide(l_sPath), s_sBody));
  const std::uint64_t l_u64B = s_u64Body;
  const struct {
    const char* m_szName;
    std::string m_sBytes;
    std::string m_sExpected;
  } l_astep[] = {
      {"a", "11111", s_sBody + "11111" + OsTestTrailer({{62, "a", l_u64B, 5}})},
      {"b", "2222222", s_sBody + "11111" + "2222222" + OsTestTrailer({{62, "a", l_u64B, 5}, {61, "b", l_u64B + 5, 7}})},
      // The other case names the same block: it is replaced, b's block moves.
      {"A", "333", s_sBody + "333" + "2222222" + OsTestTrailer({{62, "a", l_u64B, 3}, {61, "b", l_u64B + 3, 7}})},
      // A removed slot's follower moves up.
      {"a", "", s_sBody + "2222222" + OsTestTrailer({{62, "b", l_u64B, 7}})},
      // With the last block the trailer goes: the file's own bytes are left.
      {"B", "", s_sBody},
      {"absent", "", s_sBody},
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
    const char* m_szCase;
    std::string m_sFile;
    int m_iType;
    bool m_bHeld;
    const char* m_szLog;
  } l_acase[] = {
      {"full", s_sBody + std::string(62, 'd') + OsTestTrailer(l_vecslotFull), 1, false, "no free slots..."},
      {"bad offset", s_sBody + "xyz" + OsTestTrailer({{62, "a", s_u64Body + 1, 3}}), 1, false,
       "Damaged resource trailer"},
      {"size past end", s_sBody + "xyz" + OsTestTrailer({{62, "a", s_u64Body, 3 + 3584}}), 1, false,
       "Damaged resource trailer"},
      {"gap in slots", s_sBody + "xyz" + OsTestTrailer({{62, "a", s_u64Body, 2}, {60, "c", s_u64Body + 2, 1}}), 1,
       false, "Damaged resource trailer"},
      {"type", s_sBody, 2, false, "Unrecognized resource type: 2"},
      // Held by another handle that does not share writing.
      {"held", s_sBody, 1, true, "osfileBinary.Open..."},
  };
  const std::string l_sPath = Path("refused.bin");
  const std::wstring l_wsPath = OsTestWide(l_sPath);
  for (const auto& l_case : l_acase) {
    ASSERT_TRUE(OsTestWriteFile(l_wsPath, l_case.m_sFile));
    const HANDLE l_hHolder = l_case.m_bHeld ? CreateFileW(l_wsPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                          OPEN_EXISTING, 0, nullptr)
                                            : INVALID_HANDLE_VALUE;
    COsResource l_osresource;
    EXPECT_EQ(l_osresource.Update(l_sPath.c_str(), "new", l_case.m_iType, 3, "new", true), OS_STS_FAIL)
        << l_case.m_szCase;
    if (l_hHolder != INVALID_HANDLE_VALUE) CloseHandle(l_hHolder);
    EXPECT_EQ(OsTestBytesDiff(Read(l_sPath), l_case.m_sFile), "") << l_case.m_szCase;
    EXPECT_FALSE(Lines(l_case.m_szLog).empty()) << l_case.m_szCase;
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
  const std::string l_sLong(40, 'L');
  // The disk fills up after so many bytes of the new tail.
  const struct {
    const char* m_szName;
    std::string m_sBytes;
    std::int64_t m_i64FailAfter;
  } l_acase[] = {
      {"a", l_sLong, 20},             // inside the new block
      {"a", l_sLong, 40 + 7 + 1000},  // inside the trailer
      {"a", "", 3},                   // a shorter file: b's block moves forward
      {"c", "333", 2},                // a new slot
  };
  for (const auto& l_case : l_acase) {
    ASSERT_TRUE(OsTestWriteFile(OsTestWide(l_sPath), l_sBefore));
    OsFileWriteFailAfter(l_case.m_i64FailAfter);
    EXPECT_EQ(TrailerUpdate(l_sPath, l_case.m_szName, l_case.m_sBytes), OS_STS_FAIL) << l_case.m_i64FailAfter;
    OsFileWriteFailAfter(-1);
    EXPECT_EQ(OsTestBytesDiff(Read(l_sPath), l_sBefore), "") << l_case.m_szName << " " << l_case.m_i64FailAfter;
  }
  EXPECT_EQ(Lines("Write failed...<" + l_sPath + ">").size(), std::size(l_acase));
}

}  // namespace
