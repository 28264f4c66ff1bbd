// The split and package engine in the host build, over hand-assembled bytes.
#include <string>
#include <utility>
#include <vector>

#include "os_cosfile_package.h"
#include "os_cosfile_package_bytes.h"
#include <gtest/gtest.h>

namespace {

// The first a_sizetSize bytes of a_s; a skip past them fails, as a file's would.
class CSource : public COsByteSource {
 public:
  CSource(const std::string& a_s, std::size_t a_sizetSize) : m_s(a_s.substr(0, a_sizetSize)) {}
  EOSSTS Read(void* a_pv, std::uint32_t a_u32Bytes, std::uint32_t* a_pu32Read) override {
    m_s.erase(0, *a_pu32Read = static_cast<std::uint32_t>(m_s.copy(static_cast<char*>(a_pv), a_u32Bytes)));
    return OS_STS_SUCCESS;
  }
  EOSSTS Skip(std::uint64_t a_u64Bytes) override {
    if (a_u64Bytes > m_s.size()) return OS_STS_FAIL;
    m_s.erase(0, static_cast<std::size_t>(a_u64Bytes));
    return OS_STS_SUCCESS;
  }
  std::string m_s;
};

// A sink, and a walk's visitor that notes one "|"-ended item per directory and file (with its bytes).
class CRecorder : public COsPackageVisitor, public COsByteSink {
 public:
  EOSSTS Write(const void* a_pv, std::uint32_t a_u32Bytes) override {
    m_s.append(static_cast<const char*>(a_pv), a_u32Bytes);
    return OS_STS_SUCCESS;
  }
  EOSSTS Directory(const OsPackageRecord& a_ospackagerecord, bool a_bFirst, bool a_bClosing) override {
    m_s += std::string("dir ") + a_ospackagerecord.m_szFilename +
           (a_bFirst     ? " first|"
            : a_bClosing ? " closing|"
                         : "|");
    return OS_STS_SUCCESS;
  }
  EOSSTS FileBegin(const OsPackageRecord& a_ospackagerecord, COsByteSink** a_pposbytesink) override {
    m_s += std::string("file ") + a_ospackagerecord.m_szFilename + " ";
    *a_pposbytesink = this;
    return OS_STS_SUCCESS;
  }
  EOSSTS FileEnd(const OsPackageRecord&, EOSSTS a_eossts) override {
    m_s += "|";
    return a_eossts;
  }
  std::string m_s;
};

struct SResult {
  EOSSTS m_eossts;
  std::uint64_t m_u64Consumed;
  std::string m_s, m_sRefusal;
};
// A stream whose source holds its first a_sizetAvailable bytes, a_u64Limit of them the stream's.
SResult Decode(const std::string& a_s, std::uint64_t a_u64Limit, std::size_t a_sizetAvailable) {
  OsFilePackageClearError();
  CSource l_source(a_s, a_sizetAvailable);
  CRecorder l_sink;
  OsSplitHeader l_ossplitheader;
  std::uint64_t l_u64Used = 0;
  EOSSTS l_eossts = OsSplitDecodeHeader(&l_source, a_u64Limit, "x", &l_ossplitheader, &l_u64Used);
  if (l_eossts == OS_STS_SUCCESS)
    l_eossts = OsSplitDecodeBody(&l_source, a_u64Limit - l_u64Used, "x", l_ossplitheader, &l_sink, nullptr, nullptr,
                                 &l_u64Used);
  return {l_eossts, l_u64Used, l_sink.m_s, OsFilePackageLastError()};
}
SResult Walk(const std::string& a_s, COsPackageVisitor* a_posvisitor = nullptr) {
  OsFilePackageClearError();
  CSource l_source(a_s, a_s.size());
  CRecorder l_recorder;
  const EOSSTS l_eossts = OsPackageWalk(&l_source, a_s.size(), "p.pkg",
                                        a_posvisitor != nullptr ? a_posvisitor : &l_recorder, nullptr, nullptr);
  return {l_eossts, 0, l_recorder.m_s, OsFilePackageLastError()};
}

const std::string s_sText = std::string(60, 'a') + "scanner=driver 2048\r\n" + std::string(19, 'z');

// A directory source logs: a.txt, an empty read-only b.txt, an empty sub.
std::vector<SEntry> Logs(const std::string& a_sStreamA) {
  return {{"logs", 1, 3, ""},      {"logs\\a.txt", 2, 3, a_sStreamA}, {"logs\\b.txt", 2, 1, ""},
          {"logs\\sub", 1, 3, ""}, {"logs\\sub", 1, 3, ""},           {"logs", 1, 3, ""}};
}
std::string Deep(int a_iDepth) {
  std::vector<SEntry> l_vec;
  for (std::string l_s = "d"; static_cast<int>(l_vec.size()) < a_iDepth; l_s += "\\d") l_vec.push_back({l_s, 1, 3, ""});
  for (int l_i = a_iDepth - 1; l_i >= 0; --l_i) l_vec.push_back(l_vec[l_i]);
  return Package(l_vec, 0);
}

// The decoders are what every reader below goes through.
TEST(OsPackageFormat, EncodersWriteTheLayouts) {
  std::uint8_t l_au8Split[OS_SPLIT_HEADER_SIZE], l_au8Header[OS_PACKAGE_HEADER_SIZE],
      l_au8Record[OS_PACKAGE_RECORD_SIZE];
  OsSplitHeaderEncode({{'Q', 'R', 'X', 'S', 'P', 'L', '0', '1'}, 28, 4, 0x0A0B0C0D0E0F1011, 0x2000000}, l_au8Split);
  OsPackageHeaderEncode({{'Q', 'R', 'X', 'P', 'K', 'G', '0', '1'}, 24, 304, 0x0102030405060708}, l_au8Header);
  OsPackageRecordEncode({0x1122334455667788,
                         "logs\\a.txt",
                         OS_FILE_TYPE_FILE,
                         OS_FILE_ACCESS_READ,
                         {2023, 11, 2, 14, 9, 5, 7, 42},
                         {2024, 2, 4, 29, 23, 59, 58, 999}},
                        l_au8Record);
  const auto l_image = [](const auto& a_au8) {
    return std::string(reinterpret_cast<const char*>(a_au8), sizeof(a_au8));
  };
  EXPECT_EQ(l_image(l_au8Split),
            std::string("QRXSPL01\x1C\0\0\0\x04\0\0\0\x11\x10\x0F\x0E\x0D\x0C\x0B\x0A\0\0\0\x02", 28));
  EXPECT_EQ(l_image(l_au8Header), std::string("QRXPKG01\x18\0\0\0\x30\x01\0\0\x08\x07\x06\x05\x04\x03\x02\x01", 24));
  EXPECT_EQ(l_image(l_au8Record),
            std::string("\x88\x77\x66\x55\x44\x33\x22\x11logs\\a.txt", 18) + std::string(246, '\0') +
                std::string("\x02\0\0\0\x01\0\0\0\xE7\x07\x0B\0\x02\0\x0E\0\x09\0\x05\0\x07\0\x2A\0"
                            "\xE8\x07\x02\0\x04\0\x1D\0\x17\0\x3B\0\x3A\0\xE7\x03",
                            40));
}

TEST(OsPackageFormat, NameRefusals) {
  const std::string l_asRefused[] = {"\\a",
                                     "/a",
                                     "\\\\server\\share\\a",
                                     "\\\\?\\c:\\a",
                                     "c:\\a",
                                     "c:a",
                                     "a.txt:stream",  // roots, drives, streams
                                     "..",
                                     "..\\a",
                                     "a\\..\\..\\b",
                                     "a/../b",
                                     "a\\..",
                                     ".. \\a",
                                     "a\\b.",
                                     "a\\b ",
                                     "...",
                                     " ",  // climbing, dropped
                                     "CON",
                                     "con.txt",
                                     "a\\Nul.tar.gz",
                                     "PRN",
                                     "AUX",
                                     "COM0",
                                     "lpt9.log",
                                     "CONIN$",
                                     "conout$.txt",
                                     "CON   .txt",
                                     "COM\xc2\xb9",
                                     "a\\\x01"
                                     "b",
                                     "a\tb",
                                     "a<b",
                                     "a>b",
                                     "a\"b",
                                     "a|b",
                                     "a?b",
                                     "a*b",
                                     std::string(256, 'n')};
  const std::string l_asAccepted[] = {"logs\\a.txt",
                                      ".\\x",
                                      "logs/a.txt",
                                      "a..b",
                                      "...a",
                                      "COM10",
                                      "CONSOLE",
                                      "auxiliary.txt",
                                      "\xc3\xa9t\xc3\xa9",
                                      std::string(255, 'n')};
  const auto l_refused = [](std::string a_s, bool a_bDirectory) {
    a_s.resize(OS_PACKAGE_NAME_SIZE, '\0');
    return OsPackageNameRefusal(reinterpret_cast<const std::uint8_t*>(a_s.data()), a_bDirectory) != nullptr;
  };
  for (const bool l_bDirectory : {false, true}) {
    for (const std::string& l_s : l_asRefused) EXPECT_TRUE(l_refused(l_s, l_bDirectory)) << l_s;
    for (const std::string& l_s : l_asAccepted) EXPECT_FALSE(l_refused(l_s, l_bDirectory)) << l_s;
  }
  EXPECT_TRUE(l_refused("", false));  // the destination itself: a directory, never a file
  EXPECT_FALSE(l_refused("", true));
}

TEST(OsPackageFormat, MethodSkipAndNoWaitRules) {
  const struct {  // the method chosen for method 1; skipped without and with images; not waited for
    const char* m_szPath;
    std::uint64_t m_u64Size;
    EOSCOMPRESS m_eoscompress;
    bool m_bSkip, m_bSkipWithImages, m_bNoWait;
  } s_acases[] = {
      {"C:\\DATA\\A.INI", 134217728, OS_COMPRESS_BWT, false, false, false},
      {"c:\\data\\a.txt", 134217729, OS_COMPRESS_RLE, false, false, false},
      {"c:\\data\\trace_1.log", 100, OS_COMPRESS_RLE, false, false, false},
      {"c:\\DSP\\gui.log", 100, OS_COMPRESS_RLE, false, false, true},
      {"c:\\online\\Thumbs.db", 100, OS_COMPRESS_RLE, true, true, true},
      {"c:\\a\\a.nolog.txt", 100, OS_COMPRESS_BWT, true, true, true},
      {"c:\\pondo\\tmp\\a.lock", 100, OS_COMPRESS_RLE, true, true, true},
      {"/srv/pondo/tmp/a.profile", 100, OS_COMPRESS_BWT, true, true, false},
      {"c:\\a\\A.JPG", 100, OS_COMPRESS_RLE, true, false, false},
      {"c:\\a.socket\\b.tiff", 100, OS_COMPRESS_RLE, true, false, true},
  };
  for (const auto& l_case : s_acases) {
    const std::string l_sPath = l_case.m_szPath, l_sName = l_sPath.substr(l_sPath.find_last_of("\\/") + 1);
    EXPECT_EQ(OsSplitChooseMethod(l_case.m_szPath, l_case.m_u64Size, OS_COMPRESS_AUTOMATIC), l_case.m_eoscompress)
        << l_sPath;
    EXPECT_EQ(OsPackageSkipFile(l_sName.c_str(), l_case.m_szPath, false), l_case.m_bSkip) << l_sPath;
    EXPECT_EQ(OsPackageSkipFile(l_sName.c_str(), l_case.m_szPath, true), l_case.m_bSkipWithImages) << l_sPath;
    EXPECT_EQ(OsPackageNoWait(l_case.m_szPath), l_case.m_bNoWait) << l_sPath;
  }
  EXPECT_EQ(OsSplitChooseMethod("c:\\a.txt", 100, OS_COMPRESS_RLE), OS_COMPRESS_RLE);  // an asked method stays
}

// Sound streams decode whole; cut at any byte (where the source ends, or the
// limit the record sets) or with a broken header or length, they fail.
TEST(OsPackageFormat, SplitStreamDecoder) {
  const std::pair<std::string, std::uint64_t> l_asound[] = {{s_sText, 172}, {"", 32}, {"Z", 33}};
  for (const auto& [l_s, l_u64Stream] : l_asound) {
    const std::string l_sStream = Split(l_s);
    const SResult l_result = Decode(l_sStream, l_sStream.size(), l_sStream.size());
    EXPECT_EQ(l_result.m_eossts, OS_STS_SUCCESS) << l_result.m_sRefusal;
    EXPECT_EQ(l_result.m_u64Consumed, l_u64Stream);
    EXPECT_EQ(l_result.m_s, l_s);
    for (std::size_t l_sizet = 0; l_sizet < l_sStream.size(); ++l_sizet) {
      EXPECT_EQ(Decode(l_sStream, l_sStream.size(), l_sizet).m_eossts, OS_STS_FAIL) << l_sizet;
      const SResult l_cut = Decode(l_sStream, l_sizet, l_sStream.size());
      EXPECT_TRUE(l_cut.m_eossts == OS_STS_FAIL && l_cut.m_u64Consumed <= l_sizet) << l_sizet;
    }
  }
  const std::string l_s = Split(s_sText);  // the container's length at 28
  const std::pair<std::string, const char*> l_acases[] = {
      {With(l_s, 7, "2"), "Not a split file..."},
      {With(l_s, 8, Le(27, 4)), "Split header sizes below their fields...27 4"},
      {With(l_s, 12, Le(3, 4)), "Split header sizes below their fields...28 3"},
      {With(l_s, 24, Le(0, 4)), "Split piece size out of range...0"},
      {With(l_s, 24, Le(0x2000001, 4)), "Split piece size out of range...33554433"},
      {With(l_s, 28, Le(0, 4)), "Split piece length out of range...0 144"},
      {With(l_s, 28, Le(141, 4)), "Error reading chunk..."},
  };
  for (const auto& [l_sStream, l_szRefusal] : l_acases)
    EXPECT_EQ(Decode(l_sStream, l_sStream.size(), l_sStream.size()).m_sRefusal, l_szRefusal);
  // Beyond a piece's buffer, however long the record says the stream is.
  EXPECT_EQ(Decode(With(l_s, 28, Le(0x100000 + 101, 4)), 1ull << 40, l_s.size()).m_sRefusal,
            "Split piece length out of range...1048677 1048676");
}

TEST(OsPackageFormat, WalkVisitsInPackageOrder) {
  const std::string l_sExpected = "dir logs first|file logs\\a.txt " + s_sText +
                                  "|file logs\\b.txt |dir logs\\sub|dir logs\\sub closing|dir logs closing|";
  // Sizes come from the data: a newer writer's longer headers and records are skipped.
  const SResult l_result = Walk(Package(Logs(Split(s_sText, 36, 8)), 100, 40, 320));
  EXPECT_EQ(l_result.m_eossts, OS_STS_SUCCESS) << l_result.m_sRefusal;
  EXPECT_EQ(l_result.m_s, l_sExpected);
}

TEST(OsPackageFormat, WalkRefusesBrokenPackages) {
  const std::string l_s = Package(Logs(Split(s_sText)), 100);
  constexpr std::size_t s_sizetA = 24 + 304, s_sizetB = s_sizetA + 304 + 172, s_sizetSub = s_sizetB + 304;
  const std::pair<std::string, const char*> l_acases[] = {
      {l_s.substr(0, s_sizetSub), "Package ends inside a directory...<p.pkg> 1"},
      {l_s.substr(0, s_sizetA + 314), "Record passes the end of the package...<p.pkg> 2 172"},
      {With(l_s, s_sizetA, Le(171, 8)), "Error reading chunk..."},
      {With(l_s, s_sizetA, Le(173, 8)), "Corrupt package file...p.pkg (172 != 173)"},
      {With(l_s, s_sizetSub + 264, Le(3, 4)), "Record of no known kind...<p.pkg> 4 3 3"},
      {With(l_s, s_sizetSub, Le(1, 8)), "Record of no known kind...<p.pkg> 4 1 3"},
      {With(l_s, 32, std::string(256, 'n')), "Name refused...<p.pkg> 1 the name is not terminated"},
      {With(l_s, s_sizetB + 8, "logz"), "Record outside its directory...<p.pkg> 3"},
      {With(l_s, 12, Le(65537, 4)), "Package header sizes out of range...<p.pkg> 24 65537"},
      {Deep(35), "Directory depth overflow...<p.pkg> 35"},
  };
  for (const auto& [l_sPackage, l_szRefusal] : l_acases) EXPECT_EQ(Walk(l_sPackage).m_sRefusal, l_szRefusal);
}

TEST(OsPackageFormat, DumpText) {
  CRecorder l_sink;
  COsPackageDump l_dump(&l_sink);
  ASSERT_EQ(l_dump.Begin("c:\\out\\p.pkg"), OS_STS_SUCCESS);
  ASSERT_EQ(Walk(Package({{".\\a.txt", 2, 1, Split("Z")}}, 1), &l_dump).m_eossts, OS_STS_SUCCESS);
  EXPECT_EQ(l_sink.m_s,
            "Package: c:\\out\\p.pkg\r\n\r\nPackage Common Header\r\n au8Tag...................QRXPKG01\r\n"
            " u32OsFilePackageHeader...24\r\n u32OsFilePackageChunk....304\r\n\r\n"
            "Package Header\r\n au8Tag...................QRXPKG01\r\n u32OsFilePackageHeader...24\r\n"
            " u32OsFilePackageChunk....304\r\n u64TotalOriginalBytes....1\r\n\r\n"
            "Package Chunk (count=1 offset=24)\r\n u64Size..................33\r\n"
            " szFilename................\\a.txt\r\n u32OsFileType............2 (file)\r\n"
            " u32OsFileAccess..........1 (readonly)\r\n ostimerecordAccessed.....2023/11/14 09:05:07.042 (2)\r\n"
            " ostimerecordModified.....2024/02/29 23:59:58.999 (4)\r\n");
}

}  // namespace
