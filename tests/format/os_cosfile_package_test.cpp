// The split and package engine in the host build: the stored layouts byte by
// byte, the extractor's name check, the method and skip rules, the split
// decoder and the package walk over hand-assembled streams (truncated at
// every byte, with their lengths and fields broken one at a time), and the
// dump text.
//
// Streams and packages are written here field by field from the layouts, and
// their containers store the bytes as they are (method 0), so no expected
// byte comes from the engine that is being read.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "os_cosfile_package.h"
#include "os_host_backend.h"
#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t s_u64Max = ~std::uint64_t{0};
constexpr std::size_t s_sizetContainer = 28 + 4;  // the first piece's container in a stream
constexpr const char* s_szReadFile = "os_cosfile_package_read.cpp E ";

void Put32(Bytes* a_pbytes, std::size_t a_sizetAt, std::uint32_t a_u32) {
  for (int l_i = 0; l_i < 4; ++l_i) (*a_pbytes)[a_sizetAt + l_i] = static_cast<std::uint8_t>(a_u32 >> (8 * l_i));
}
void Put64(Bytes* a_pbytes, std::size_t a_sizetAt, std::uint64_t a_u64) {
  for (int l_i = 0; l_i < 8; ++l_i) (*a_pbytes)[a_sizetAt + l_i] = static_cast<std::uint8_t>(a_u64 >> (8 * l_i));
}
void Add32(Bytes* a_pbytes, std::uint32_t a_u32) {
  a_pbytes->resize(a_pbytes->size() + 4);
  Put32(a_pbytes, a_pbytes->size() - 4, a_u32);
}
void Add64(Bytes* a_pbytes, std::uint64_t a_u64) {
  a_pbytes->resize(a_pbytes->size() + 8);
  Put64(a_pbytes, a_pbytes->size() - 8, a_u64);
}
void AddBytes(Bytes* a_pbytes, const Bytes& a_bytes) { a_pbytes->insert(a_pbytes->end(), a_bytes.begin(), a_bytes.end()); }
void AddText(Bytes* a_pbytes, const char* a_sz) { a_pbytes->insert(a_pbytes->end(), a_sz, a_sz + std::strlen(a_sz)); }

// Reads from memory; a skip past the end fails, as a file's would.
class CMemorySource : public COsByteSource {
 public:
  CMemorySource(const Bytes& a_bytes, std::size_t a_sizetSize) : m_pu8(a_bytes.data()), m_sizetSize(a_sizetSize) {}
  EOSSTS Read(void* a_pv, std::uint32_t a_u32Bytes, std::uint32_t* a_pu32Read) override {
    const std::size_t l_sizetLeft = m_sizetSize - m_sizetAt;
    const std::size_t l_sizet = a_u32Bytes < l_sizetLeft ? a_u32Bytes : l_sizetLeft;
    if (l_sizet > 0) std::memcpy(a_pv, m_pu8 + m_sizetAt, l_sizet);
    m_sizetAt += l_sizet;
    *a_pu32Read = static_cast<std::uint32_t>(l_sizet);
    return OS_STS_SUCCESS;
  }
  EOSSTS Skip(std::uint64_t a_u64Bytes) override {
    if (a_u64Bytes > m_sizetSize - m_sizetAt) return OS_STS_FAIL;
    m_sizetAt += static_cast<std::size_t>(a_u64Bytes);
    return OS_STS_SUCCESS;
  }

 private:
  const std::uint8_t* m_pu8;
  std::size_t m_sizetSize;
  std::size_t m_sizetAt = 0;
};

class CMemorySink : public COsByteSink {
 public:
  EOSSTS Write(const void* a_pv, std::uint32_t a_u32Bytes) override {
    const std::uint8_t* const l_pu8 = static_cast<const std::uint8_t*>(a_pv);
    m_bytes.insert(m_bytes.end(), l_pu8, l_pu8 + a_u32Bytes);
    return OS_STS_SUCCESS;
  }
  Bytes m_bytes;
};

// The lines a call logs, as "file mark text".
class CCapture {
 public:
  CCapture() { OsHostLogCapture(&m_vecLines); }
  ~CCapture() { OsHostLogCapture(nullptr); }
  CCapture(const CCapture&) = delete;
  CCapture& operator=(const CCapture&) = delete;
  // The first failure of the readers, without its file and mark.
  std::string Refusal() const {
    for (const std::string& l_s : m_vecLines)
      if (l_s.rfind(s_szReadFile, 0) == 0) return l_s.substr(std::strlen(s_szReadFile));
    return "(none)";
  }

 private:
  std::vector<std::string> m_vecLines;
};

::testing::AssertionResult StartsWith(const std::string& a_s, const std::string& a_sPrefix) {
  if (a_s.rfind(a_sPrefix, 0) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "<" << a_s << "> does not start with <" << a_sPrefix << ">";
}

// ---- split streams ----

Bytes Text(std::size_t a_sizet) {
  static const char s_szLine[] = "scanner=driver 2048\r\n";
  Bytes l_bytes;
  while (l_bytes.size() < a_sizet) l_bytes.push_back(static_cast<std::uint8_t>(s_szLine[l_bytes.size() % 21]));
  return l_bytes;
}

// A compression container that keeps the bytes as they are: its 24-byte
// header, then per block of 65536 bytes a 16-byte chunk header (method 0,
// primary index, length, stored length) and the bytes.
Bytes StoredContainer(const Bytes& a_bytes) {
  Bytes l_bytes;
  AddText(&l_bytes, "QRXCMP01");
  Add32(&l_bytes, 24);
  Add32(&l_bytes, 16);
  Add64(&l_bytes, a_bytes.size());
  for (std::size_t l_sizet = 0; l_sizet < a_bytes.size(); l_sizet += 65536) {
    const std::size_t l_sizetBlock = a_bytes.size() - l_sizet < 65536 ? a_bytes.size() - l_sizet : 65536;
    Add32(&l_bytes, 0);
    Add32(&l_bytes, 0);
    Add32(&l_bytes, static_cast<std::uint32_t>(l_sizetBlock));
    Add32(&l_bytes, static_cast<std::uint32_t>(l_sizetBlock));
    l_bytes.insert(l_bytes.end(), a_bytes.begin() + l_sizet, a_bytes.begin() + l_sizet + l_sizetBlock);
  }
  return l_bytes;
}

// A split header; longer header sizes are padded with bytes a reader must skip.
Bytes SplitHeader(std::uint64_t a_u64FileSize, std::uint32_t a_u32PieceSize, std::uint32_t a_u32HeaderSize = 28,
                  std::uint32_t a_u32PieceHeaderSize = 4) {
  Bytes l_bytes;
  AddText(&l_bytes, "QRXSPL01");
  Add32(&l_bytes, a_u32HeaderSize);
  Add32(&l_bytes, a_u32PieceHeaderSize);
  Add64(&l_bytes, a_u64FileSize);
  Add32(&l_bytes, a_u32PieceSize);
  l_bytes.resize(a_u32HeaderSize, 0xEE);
  return l_bytes;
}

// The stream of a file of two or more bytes: pieces of 32 MiB.
Bytes SplitStream(const Bytes& a_bytes, std::uint32_t a_u32HeaderSize = 28, std::uint32_t a_u32PieceHeaderSize = 4) {
  Bytes l_bytes = SplitHeader(a_bytes.size(), 0x2000000, a_u32HeaderSize, a_u32PieceHeaderSize);
  for (std::size_t l_sizet = 0; l_sizet < a_bytes.size(); l_sizet += 0x2000000) {
    const std::size_t l_sizetPiece = a_bytes.size() - l_sizet < 0x2000000 ? a_bytes.size() - l_sizet : 0x2000000;
    const Bytes l_container =
        StoredContainer(Bytes(a_bytes.begin() + l_sizet, a_bytes.begin() + l_sizet + l_sizetPiece));
    Add32(&l_bytes, static_cast<std::uint32_t>(l_container.size()));
    l_bytes.resize(l_bytes.size() + a_u32PieceHeaderSize - 4, 0xEE);
    AddBytes(&l_bytes, l_container);
  }
  return l_bytes;
}

// Files of 0 or 1 byte: the size as a u32, then the byte.
Bytes TinyStream(const Bytes& a_bytes) {
  Bytes l_bytes = SplitHeader(a_bytes.size(), 0);
  Add32(&l_bytes, static_cast<std::uint32_t>(a_bytes.size()));
  AddBytes(&l_bytes, a_bytes);
  return l_bytes;
}

struct SSplitResult {
  EOSSTS m_eossts;
  std::uint64_t m_u64Consumed;
  Bytes m_bytes;
  std::string m_sRefusal;
};

// Header and body of a stream whose source holds its first a_sizetAvailable
// bytes, of which a_u64Limit are said to be the stream's.
SSplitResult DecodeSplit(const Bytes& a_bytes, std::uint64_t a_u64Limit, std::size_t a_sizetAvailable) {
  CCapture l_capture;
  OsFilePackageClearError();
  CMemorySource l_source(a_bytes, a_sizetAvailable);
  CMemorySink l_sink;
  OsSplitHeader l_header;
  SSplitResult l_result{OS_STS_SUCCESS, 0, {}, {}};
  l_result.m_eossts = OsSplitDecodeHeader(&l_source, a_u64Limit, "x", &l_header, &l_result.m_u64Consumed);
  if (l_result.m_eossts == OS_STS_SUCCESS)
    l_result.m_eossts = OsSplitDecodeBody(&l_source, a_u64Limit - l_result.m_u64Consumed, "x", l_header, &l_sink,
                                          nullptr, nullptr, &l_result.m_u64Consumed);
  l_result.m_bytes = l_sink.m_bytes;
  l_result.m_sRefusal = l_capture.Refusal();
  // The reason stays readable after the call.
  if (l_result.m_eossts != OS_STS_SUCCESS) {
    EXPECT_EQ(l_result.m_sRefusal, OsFilePackageLastError());
  }
  return l_result;
}
SSplitResult DecodeSplit(const Bytes& a_bytes) { return DecodeSplit(a_bytes, a_bytes.size(), a_bytes.size()); }

// ---- packages ----

const OsTimeRecord s_ostimerecordAccessed = {2023, 11, 2, 14, 9, 5, 7, 42};
const OsTimeRecord s_ostimerecordModified = {2024, 2, 4, 29, 23, 59, 58, 999};

struct SEntry {
  const char* m_szName;
  std::uint32_t m_u32Type;
  std::uint32_t m_u32Access;
  Bytes m_stream;
};

// One record; a longer record size is padded with bytes a reader must skip.
Bytes Record(const SEntry& a_entry, std::uint32_t a_u32RecordSize) {
  Bytes l_bytes;
  Add64(&l_bytes, a_entry.m_stream.size());
  const std::size_t l_sizetName = l_bytes.size();
  l_bytes.resize(l_sizetName + 256, 0);
  std::memcpy(l_bytes.data() + l_sizetName, a_entry.m_szName, std::strlen(a_entry.m_szName));
  Add32(&l_bytes, a_entry.m_u32Type);
  Add32(&l_bytes, a_entry.m_u32Access);
  for (const OsTimeRecord* l_p : {&s_ostimerecordAccessed, &s_ostimerecordModified})
    for (const std::uint16_t l_u16 : {l_p->m_u16Year, l_p->m_u16Month, l_p->m_u16DayOfWeek, l_p->m_u16Day,
                                      l_p->m_u16Hour, l_p->m_u16Minute, l_p->m_u16Second, l_p->m_u16Millisecond}) {
      l_bytes.push_back(static_cast<std::uint8_t>(l_u16));
      l_bytes.push_back(static_cast<std::uint8_t>(l_u16 >> 8));
    }
  l_bytes.resize(a_u32RecordSize, 0xEE);
  return l_bytes;
}

Bytes Package(const std::vector<SEntry>& a_vecEntries, std::uint64_t a_u64Total, std::uint32_t a_u32HeaderSize = 24,
              std::uint32_t a_u32RecordSize = 304) {
  Bytes l_bytes;
  AddText(&l_bytes, "QRXPKG01");
  Add32(&l_bytes, a_u32HeaderSize);
  Add32(&l_bytes, a_u32RecordSize);
  Add64(&l_bytes, a_u64Total);
  l_bytes.resize(a_u32HeaderSize, 0xEE);
  for (const SEntry& l_entry : a_vecEntries) {
    AddBytes(&l_bytes, Record(l_entry, a_u32RecordSize));
    AddBytes(&l_bytes, l_entry.m_stream);
  }
  return l_bytes;
}

// The tree of a directory source "logs": a.txt of 100 bytes, b.txt empty,
// an empty subdirectory with its closing record, and the closing record of
// logs.
std::vector<SEntry> LogsEntries() {
  return {{"logs", 1, 3, {}},
          {"logs\\a.txt", 2, 3, SplitStream(Text(100))},
          {"logs\\b.txt", 2, 1, {}},
          {"logs\\sub", 1, 3, {}},
          {"logs\\sub", 1, 3, {}},
          {"logs", 1, 3, {}}};
}
Bytes LogsPackage() { return Package(LogsEntries(), 100); }

// Where the fields of the logs package lie.
constexpr std::size_t s_sizetRecordA = 24 + 304;       // the record of logs\a.txt
constexpr std::size_t s_sizetStreamA = s_sizetRecordA + 304;
constexpr std::size_t s_sizetRecordB = s_sizetStreamA + 28 + 4 + 24 + 16 + 100;
constexpr std::size_t s_sizetRecordSub = s_sizetRecordB + 304;

// What a walk shows its visitor, one line per call; files are expanded into
// a sink when m_bExpand.
class CRecorder : public COsPackageVisitor {
 public:
  explicit CRecorder(bool a_bExpand) : m_bExpand(a_bExpand) {}
  EOSSTS Directory(const OsPackageRecord& a_ospackagerecord, bool a_bFirst, bool a_bClosing) override {
    m_vecEvents.push_back(std::string("dir ") + a_ospackagerecord.m_szFilename + (a_bFirst ? " first" : "") +
                          (a_bClosing ? " closing" : ""));
    return OS_STS_SUCCESS;
  }
  EOSSTS FileBegin(const OsPackageRecord& a_ospackagerecord, COsByteSink** a_pposbytesink) override {
    (void)a_ospackagerecord;
    m_sink.m_bytes.clear();
    *a_pposbytesink = m_bExpand ? &m_sink : nullptr;
    return OS_STS_SUCCESS;
  }
  EOSSTS FileEnd(const OsPackageRecord& a_ospackagerecord, EOSSTS a_eossts) override {
    m_vecEvents.push_back(std::string("file ") + a_ospackagerecord.m_szFilename + " " + std::to_string(a_eossts) +
                          " " + std::string(m_sink.m_bytes.begin(), m_sink.m_bytes.end()));
    return a_eossts;
  }
  bool m_bExpand;
  CMemorySink m_sink;
  std::vector<std::string> m_vecEvents;
};

struct SWalkResult {
  EOSSTS m_eossts;
  std::vector<std::string> m_vecEvents;
  std::string m_sRefusal;
};

SWalkResult Walk(const Bytes& a_bytes, std::size_t a_sizetSize, bool a_bExpand) {
  CCapture l_capture;
  OsFilePackageClearError();
  CMemorySource l_source(a_bytes, a_sizetSize);
  CRecorder l_recorder(a_bExpand);
  const EOSSTS l_eossts = OsPackageWalk(&l_source, a_sizetSize, "p.pkg", &l_recorder, nullptr, nullptr);
  if (l_eossts != OS_STS_SUCCESS) {
    EXPECT_STRNE(OsFilePackageLastError(), "");
  }
  return {l_eossts, l_recorder.m_vecEvents, l_capture.Refusal()};
}
SWalkResult Walk(const Bytes& a_bytes, bool a_bExpand = true) { return Walk(a_bytes, a_bytes.size(), a_bExpand); }

// ---- layouts ----

TEST(OsPackageFormat, LayoutsAreLittleEndianFieldByField) {
  const Bytes l_packageHeader = {'Q',  'R',  'X',  'P',  'K',  'G',  '0',  '1',  0x18, 0x00, 0x00, 0x00,
                                 0x30, 0x01, 0x00, 0x00, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01};
  const OsPackageHeader l_ospackageheader = {{'Q', 'R', 'X', 'P', 'K', 'G', '0', '1'}, 24, 304, 0x0102030405060708};
  std::uint8_t l_au8Header[OS_PACKAGE_HEADER_SIZE];
  OsPackageHeaderEncode(l_ospackageheader, l_au8Header);
  EXPECT_EQ(Bytes(l_au8Header, l_au8Header + sizeof(l_au8Header)), l_packageHeader);
  OsPackageHeader l_decoded;
  OsPackageHeaderDecode(l_packageHeader.data(), 24, &l_decoded);
  EXPECT_EQ(std::memcmp(l_decoded.m_au8Tag, "QRXPKG01", 8), 0);
  EXPECT_EQ(l_decoded.m_u32OsFilePackageHeader, 24u);
  EXPECT_EQ(l_decoded.m_u32OsFilePackageChunk, 304u);
  EXPECT_EQ(l_decoded.m_u64TotalOriginalBytes, 0x0102030405060708u);
  OsPackageHeaderDecode(l_packageHeader.data(), 16, &l_decoded);  // the common part: the rest reads as 0
  EXPECT_EQ(l_decoded.m_u32OsFilePackageChunk, 304u);
  EXPECT_EQ(l_decoded.m_u64TotalOriginalBytes, 0u);

  const Bytes l_splitHeader = {'Q',  'R',  'X',  'S',  'P',  'L',  '0',  '1',  0x1C, 0x00, 0x00, 0x00, 0x04, 0x00,
                               0x00, 0x00, 0x11, 0x10, 0x0F, 0x0E, 0x0D, 0x0C, 0x0B, 0x0A, 0x00, 0x00, 0x00, 0x02};
  const OsSplitHeader l_ossplitheader = {{'Q', 'R', 'X', 'S', 'P', 'L', '0', '1'}, 28, 4, 0x0A0B0C0D0E0F1011, 0x2000000};
  std::uint8_t l_au8Split[OS_SPLIT_HEADER_SIZE];
  OsSplitHeaderEncode(l_ossplitheader, l_au8Split);
  EXPECT_EQ(Bytes(l_au8Split, l_au8Split + sizeof(l_au8Split)), l_splitHeader);
  OsSplitHeader l_splitDecoded;
  OsSplitHeaderDecode(l_splitHeader.data(), 28, &l_splitDecoded);
  EXPECT_EQ(l_splitDecoded.m_u32HeaderSize, 28u);
  EXPECT_EQ(l_splitDecoded.m_u32PieceHeaderSize, 4u);
  EXPECT_EQ(l_splitDecoded.m_u64FileSize, 0x0A0B0C0D0E0F1011u);
  EXPECT_EQ(l_splitDecoded.m_u32PieceSize, 0x2000000u);

  Bytes l_record(304, 0);
  const std::uint8_t l_au8Fields[] = {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11};
  std::memcpy(&l_record[0], l_au8Fields, 8);
  std::memcpy(&l_record[8], "logs\\a.txt", 10);
  l_record[264] = 0x02;
  l_record[268] = 0x01;
  const std::uint8_t l_au8Accessed[16] = {0xE7, 0x07, 0x0B, 0x00, 0x02, 0x00, 0x0E, 0x00,
                                          0x09, 0x00, 0x05, 0x00, 0x07, 0x00, 0x2A, 0x00};
  const std::uint8_t l_au8Modified[16] = {0xE8, 0x07, 0x02, 0x00, 0x04, 0x00, 0x1D, 0x00,
                                          0x17, 0x00, 0x3B, 0x00, 0x3A, 0x00, 0xE7, 0x03};
  std::memcpy(&l_record[272], l_au8Accessed, 16);
  std::memcpy(&l_record[288], l_au8Modified, 16);
  OsPackageRecord l_ospackagerecord = {};
  l_ospackagerecord.m_u64Size = 0x1122334455667788;
  std::strcpy(l_ospackagerecord.m_szFilename, "logs\\a.txt");
  l_ospackagerecord.m_u32OsFileType = OS_FILE_TYPE_FILE;
  l_ospackagerecord.m_u32OsFileAccess = OS_FILE_ACCESS_READ;
  l_ospackagerecord.m_ostimerecordAccessed = s_ostimerecordAccessed;
  l_ospackagerecord.m_ostimerecordModified = s_ostimerecordModified;
  std::uint8_t l_au8Record[OS_PACKAGE_RECORD_SIZE];
  OsPackageRecordEncode(l_ospackagerecord, l_au8Record);
  EXPECT_EQ(Bytes(l_au8Record, l_au8Record + sizeof(l_au8Record)), l_record);
  OsPackageRecord l_recordDecoded;
  OsPackageRecordDecode(l_record.data(), 304, &l_recordDecoded);
  EXPECT_EQ(std::memcmp(&l_recordDecoded, &l_ospackagerecord, sizeof(l_recordDecoded)), 0);
}

// ---- rules ----

TEST(OsPackageFormat, NameRefusals) {
  const char* const s_aszRefused[] = {
      "\\a", "/a", "\\\\server\\share\\a", "\\\\?\\c:\\a", "//server/a",       // leading separators
      "c:\\a", "c:a", "a.txt:stream", "a\\b:$DATA",                            // drives and streams
      "..", "..\\a", "a\\..\\..\\b", "a/../b", "a\\..", "logs\\..",            // climbing
      ".. \\a", "a\\b.", "a\\b ", "a. \\b", "...", " ", "a\\ ", "a\\ \\b",  // trailing dot or space
      "CON", "con", "con.txt", "Nul.tar.gz", "a\\PRN", "aux", "AUX.log",       // devices
      "COM0", "com1", "COM9.log", "LPT0", "lpt9", "CONIN$", "conout$.txt",
      "a\\\x01" "b", "a\tb", "\x1f", "a<b", "a>b", "a\"b", "a|b", "a?b", "a*b",  // characters
  };
  for (const char* const l_sz : s_aszRefused) {
    std::uint8_t l_au8[OS_PACKAGE_NAME_SIZE] = {};
    std::memcpy(l_au8, l_sz, std::strlen(l_sz));
    EXPECT_NE(OsPackageNameRefusal(l_au8, false), nullptr) << l_sz;
    EXPECT_NE(OsPackageNameRefusal(l_au8, true), nullptr) << l_sz;
  }
  const std::string l_sLongest(255, 'n');
  const char* const s_aszAccepted[] = {"logs\\a.txt", ".\\x", "a.b\\c", "logs/a.txt", "a\\.\\b", "a..b",
                                       "...a", "COM10", "CONSOLE", "LPT", "nul_x", "auxiliary.txt", "\xc3\xa9t\xc3\xa9",
                                       l_sLongest.c_str()};
  for (const char* const l_sz : s_aszAccepted) {
    std::uint8_t l_au8[OS_PACKAGE_NAME_SIZE] = {};
    std::memcpy(l_au8, l_sz, std::strlen(l_sz));
    EXPECT_EQ(OsPackageNameRefusal(l_au8, false), nullptr) << l_sz;
    EXPECT_EQ(OsPackageNameRefusal(l_au8, true), nullptr) << l_sz;
  }
  std::uint8_t l_au8Unterminated[OS_PACKAGE_NAME_SIZE];
  std::memset(l_au8Unterminated, 'n', sizeof(l_au8Unterminated));
  EXPECT_NE(OsPackageNameRefusal(l_au8Unterminated, true), nullptr);
  const std::uint8_t l_au8Empty[OS_PACKAGE_NAME_SIZE] = {};
  EXPECT_NE(OsPackageNameRefusal(l_au8Empty, false), nullptr);
  EXPECT_EQ(OsPackageNameRefusal(l_au8Empty, true), nullptr);
}

TEST(OsPackageFormat, MethodChoice) {
  struct SCase {
    const char* m_szPath;
    std::uint64_t m_u64Size;
    EOSCOMPRESS m_eoscompressAsked;
    EOSCOMPRESS m_eoscompress;
  } const s_acases[] = {
      {"c:\\data\\a.txt", 100, OS_COMPRESS_AUTOMATIC, OS_COMPRESS_BWT},
      {"c:\\data\\a.ini", 100, OS_COMPRESS_AUTOMATIC, OS_COMPRESS_BWT},
      {"c:\\data\\a.log", 100, OS_COMPRESS_AUTOMATIC, OS_COMPRESS_BWT},
      {"c:\\data\\a.profile", 100, OS_COMPRESS_AUTOMATIC, OS_COMPRESS_BWT},
      {"c:\\data\\a.xml", 100, OS_COMPRESS_AUTOMATIC, OS_COMPRESS_BWT},
      {"C:\\DATA\\SETUP.INI", 100, OS_COMPRESS_AUTOMATIC, OS_COMPRESS_BWT},
      {"c:\\data\\a.txt", 134217728, OS_COMPRESS_AUTOMATIC, OS_COMPRESS_BWT},
      {"c:\\data\\a.txt", 134217729, OS_COMPRESS_AUTOMATIC, OS_COMPRESS_RLE},
      {"c:\\data\\trace_1.log", 100, OS_COMPRESS_AUTOMATIC, OS_COMPRESS_RLE},
      {"c:\\TRACE_\\a.log", 100, OS_COMPRESS_AUTOMATIC, OS_COMPRESS_RLE},
      {"c:\\data\\dsp.log", 100, OS_COMPRESS_AUTOMATIC, OS_COMPRESS_RLE},
      {"c:\\DSP\\a.LOG", 100, OS_COMPRESS_AUTOMATIC, OS_COMPRESS_RLE},
      {"c:\\data\\trace_1.txt", 100, OS_COMPRESS_AUTOMATIC, OS_COMPRESS_BWT},
      {"c:\\dsp\\a.xml", 100, OS_COMPRESS_AUTOMATIC, OS_COMPRESS_BWT},
      {"c:\\data\\a.txt.bak", 100, OS_COMPRESS_AUTOMATIC, OS_COMPRESS_RLE},
      {"c:\\data.txt\\a", 100, OS_COMPRESS_AUTOMATIC, OS_COMPRESS_RLE},
      {"c:\\data\\a.bin", 100, OS_COMPRESS_AUTOMATIC, OS_COMPRESS_RLE},
      {"c:\\data\\a", 100, OS_COMPRESS_AUTOMATIC, OS_COMPRESS_RLE},
      {"c:\\data\\a.bin", 100, OS_COMPRESS_BWT, OS_COMPRESS_BWT},
      {"c:\\data\\a.txt", 100, OS_COMPRESS_RLE, OS_COMPRESS_RLE},
  };
  for (const SCase& l_case : s_acases)
    EXPECT_EQ(OsSplitChooseMethod(l_case.m_szPath, l_case.m_u64Size, l_case.m_eoscompressAsked), l_case.m_eoscompress)
        << l_case.m_szPath << " " << l_case.m_u64Size;
}

TEST(OsPackageFormat, SkipAndNoWaitRules) {
  struct SSkip {
    const char* m_szName;
    const char* m_szFullPath;
    bool m_bImages;
    bool m_bSkip;
  } const s_askips[] = {
      {"Thumbs.db", "c:\\a\\Thumbs.db", true, true},
      {"THUMBS.DB", "c:\\a\\THUMBS.DB", false, true},
      {"thumbs.db.old", "c:\\a\\thumbs.db.old", false, false},
      {"a.nolog", "c:\\a\\a.nolog", true, true},
      {"a.nolog.txt", "c:\\a\\a.nolog.txt", true, true},
      {"a.NOLOG", "c:\\a\\a.NOLOG", true, false},
      {"a.txt", "c:\\pondo\\tmp\\a.txt", true, true},
      {"a.txt", "/srv/pondo/tmp/a.txt", true, true},
      {"a.txt", "c:\\pondo\\tmpx\\a.txt", true, true},
      {"a.txt", "c:\\pondo\\a.txt", true, false},
      {"a.jpg", "c:\\a\\a.jpg", false, true},
      {"A.JPG", "c:\\a\\A.JPG", false, true},
      {"a.tiff", "c:\\a\\a.tiff", false, true},
      {"a.jpg.txt", "c:\\a\\a.jpg.txt", false, true},
      {"a.jpg", "c:\\a\\a.jpg", true, false},
      {"a.png", "c:\\a\\a.png", false, false},
      {"a.txt", "c:\\x.jpg\\a.txt", false, false},
  };
  for (const SSkip& l_skip : s_askips)
    EXPECT_EQ(OsPackageSkipFile(l_skip.m_szName, l_skip.m_szFullPath, l_skip.m_bImages), l_skip.m_bSkip)
        << l_skip.m_szFullPath << " " << l_skip.m_bImages;

  struct SNoWait {
    const char* m_szFullPath;
    bool m_bNoWait;
  } const s_anowaits[] = {
      {"c:\\a\\b.nolog", true}, {"c:\\a\\b.lock", true},  {"c:\\a\\b.socket", true}, {"c:\\a\\b.xml", true},
      {"c:\\a\\ui.log", true},  {"c:\\a\\gui.log", true}, {"c:\\online\\b.txt", true}, {"c:\\a\\b.log", false},
      {"c:\\a\\b.XML", false},  {"c:\\a\\lock", false},
  };
  for (const SNoWait& l_nowait : s_anowaits)
    EXPECT_EQ(OsPackageNoWait(l_nowait.m_szFullPath), l_nowait.m_bNoWait) << l_nowait.m_szFullPath;
}

// Known answers of the Unix clock; records that name no real time are refused.
TEST(OsPackageFormat, TimeRecordToUnix) {
  struct SCase {
    OsTimeRecord m_ostimerecord;
    bool m_bReal;
    std::int64_t m_i64Seconds;
    std::uint32_t m_u32Nanoseconds;
  } const s_acases[] = {
      {{1970, 1, 4, 1, 0, 0, 0, 0}, true, 0, 0},
      {{1601, 1, 1, 1, 0, 0, 0, 0}, true, -11644473600, 0},
      {{2000, 3, 3, 1, 0, 0, 0, 0}, true, 951868800, 0},
      {{2024, 2, 4, 29, 23, 59, 58, 999}, true, 1709251198, 999000000},
      {{2000, 2, 2, 29, 0, 0, 0, 0}, true, 951782400, 0},
      {{2023, 2, 3, 29, 0, 0, 0, 0}, false, 0, 0},
      {{1900, 2, 4, 29, 0, 0, 0, 0}, false, 0, 0},
      {{2023, 4, 0, 31, 0, 0, 0, 0}, false, 0, 0},
      {{2023, 13, 0, 1, 0, 0, 0, 0}, false, 0, 0},
      {{2023, 1, 0, 0, 0, 0, 0, 0}, false, 0, 0},
      {{2023, 1, 0, 1, 24, 0, 0, 0}, false, 0, 0},
      {{2023, 1, 0, 1, 0, 60, 0, 0}, false, 0, 0},
      {{2023, 1, 0, 1, 0, 0, 60, 0}, false, 0, 0},
      {{2023, 1, 0, 1, 0, 0, 0, 1000}, false, 0, 0},
      {{1600, 12, 0, 31, 0, 0, 0, 0}, false, 0, 0},
  };
  for (const SCase& l_case : s_acases) {
    const OsTimeRecord& l_r = l_case.m_ostimerecord;
    std::int64_t l_i64Seconds = 0;
    std::uint32_t l_u32Nanoseconds = 0;
    EXPECT_EQ(OsPackageRecordToUnix(l_r, &l_i64Seconds, &l_u32Nanoseconds), l_case.m_bReal)
        << l_r.m_u16Year << "-" << l_r.m_u16Month << "-" << l_r.m_u16Day;
    if (!l_case.m_bReal) continue;
    EXPECT_EQ(l_i64Seconds, l_case.m_i64Seconds) << l_r.m_u16Year << "-" << l_r.m_u16Month << "-" << l_r.m_u16Day;
    EXPECT_EQ(l_u32Nanoseconds, l_case.m_u32Nanoseconds);
  }
}

// ---- the split decoder ----

TEST(OsPackageFormat, SplitStreamsDecode) {
  const Bytes l_text = Text(100);
  struct SCase {
    Bytes m_stream;
    Bytes m_bytes;
    std::size_t m_sizetStream;
  } const s_acases[] = {
      {SplitStream(l_text), l_text, 28 + 4 + 40 + 100},
      {SplitStream(l_text, 36, 8), l_text, 36 + 8 + 40 + 100},  // a newer writer's longer headers
      {TinyStream({}), {}, 32},
      {TinyStream({'Z'}), {'Z'}, 33},
  };
  for (const SCase& l_case : s_acases) {
    ASSERT_EQ(l_case.m_stream.size(), l_case.m_sizetStream);
    const SSplitResult l_result = DecodeSplit(l_case.m_stream);
    EXPECT_EQ(l_result.m_eossts, OS_STS_SUCCESS) << l_result.m_sRefusal;
    EXPECT_EQ(l_result.m_u64Consumed, l_case.m_sizetStream);
    EXPECT_EQ(l_result.m_bytes, l_case.m_bytes);
  }
}

// A file one byte longer than a piece: a full piece, then a piece of one byte.
TEST(OsPackageFormat, SplitStreamOfTwoPieces) {
  Bytes l_bytes(0x2000001);
  for (std::size_t l_sizet = 0; l_sizet < l_bytes.size(); ++l_sizet)
    l_bytes[l_sizet] = static_cast<std::uint8_t>(l_sizet * 7 + l_sizet / 65536);
  const Bytes l_stream = SplitStream(l_bytes);
  ASSERT_EQ(l_stream.size(), 28u + (4 + 24 + 512 * 16 + 0x2000000) + (4 + 24 + 16 + 1));
  const SSplitResult l_result = DecodeSplit(l_stream);
  EXPECT_EQ(l_result.m_eossts, OS_STS_SUCCESS) << l_result.m_sRefusal;
  EXPECT_EQ(l_result.m_u64Consumed, l_stream.size());
  EXPECT_TRUE(l_result.m_bytes == l_bytes);
}

// Cut at every byte, either where the source ends (a short read) or where
// the limit ends (what the record says the stream has).
TEST(OsPackageFormat, SplitStreamTruncatedAnywhereFails) {
  for (const Bytes& l_stream : {SplitStream(Text(100)), TinyStream({}), TinyStream({'Z'})}) {
    for (std::size_t l_sizet = 0; l_sizet < l_stream.size(); ++l_sizet) {
      EXPECT_EQ(DecodeSplit(l_stream, l_stream.size(), l_sizet).m_eossts, OS_STS_FAIL) << l_sizet;
      const SSplitResult l_result = DecodeSplit(l_stream, l_sizet, l_stream.size());
      EXPECT_EQ(l_result.m_eossts, OS_STS_FAIL) << l_sizet;
      EXPECT_LE(l_result.m_u64Consumed, l_sizet);
    }
  }
}

TEST(OsPackageFormat, SplitStreamRefusals) {
  struct SCase {
    const char* m_szCase;
    std::function<void(Bytes*)> m_fnBreak;
    std::uint64_t m_u64Limit;  // 0: the stream's size
    const char* m_szRefusal;
  } const s_acases[] = {
      {"magic", [](Bytes* a_p) { (*a_p)[7] = '2'; }, 0, "Not a split file..."},
      {"header size", [](Bytes* a_p) { Put32(a_p, 8, 27); }, 0, "Split header sizes below their fields...27 4"},
      {"piece header size", [](Bytes* a_p) { Put32(a_p, 12, 3); }, 0, "Split header sizes below their fields...28 3"},
      {"piece size 0", [](Bytes* a_p) { Put32(a_p, 24, 0); }, 0, "Split piece size out of range...0"},
      {"piece size above 32 MiB", [](Bytes* a_p) { Put32(a_p, 24, 0x2000001); }, 0,
       "Split piece size out of range...33554433"},
      {"container length 0", [](Bytes* a_p) { Put32(a_p, 28, 0); }, 0, "Split piece length out of range...0 "},
      {"container length above the buffer", [](Bytes* a_p) { Put32(a_p, 28, 0x100000 + 100 + 1); }, 1ull << 40,
       "Split piece length out of range...1048677 1048676"},
      {"container length above the stream", [](Bytes* a_p) { Put32(a_p, 28, 141); }, 0, "Error reading chunk..."},
      {"short read", [](Bytes* a_p) { a_p->pop_back(); }, 172, "Error reading chunk..."},
      {"container does not decode", [](Bytes* a_p) { (*a_p)[s_sizetContainer] = 'X'; }, 0, "Decompress failed..."},
      {"container decodes to nothing",
       [](Bytes* a_p) {
         a_p->resize(s_sizetContainer + 24);
         Put64(a_p, s_sizetContainer + 16, 0);
         Put32(a_p, 28, 24);
       },
       0, "Decompress failed..."},
      {"container decodes past the file", [](Bytes* a_p) { Put64(a_p, 16, 99); }, 0, "Decompress failed..."},
  };
  for (const SCase& l_case : s_acases) {
    Bytes l_stream = SplitStream(Text(100));
    l_case.m_fnBreak(&l_stream);
    const std::uint64_t l_u64Limit = l_case.m_u64Limit != 0 ? l_case.m_u64Limit : l_stream.size();
    const SSplitResult l_result = DecodeSplit(l_stream, l_u64Limit, l_stream.size());
    EXPECT_EQ(l_result.m_eossts, OS_STS_FAIL) << l_case.m_szCase;
    EXPECT_TRUE(StartsWith(l_result.m_sRefusal, l_case.m_szRefusal)) << l_case.m_szCase;
  }
}

// ---- the package walk ----

TEST(OsPackageFormat, WalkVisitsInPackageOrder) {
  const Bytes l_text = Text(100);
  const std::vector<std::string> l_vecExpected = {
      "dir logs first",
      "file logs\\a.txt 0 " + std::string(l_text.begin(), l_text.end()),
      "file logs\\b.txt 0 ",
      "dir logs\\sub",
      "dir logs\\sub closing",
      "dir logs closing",
  };
  // Header and record sizes come from the data: longer ones are skipped.
  for (const Bytes& l_package : {LogsPackage(), Package(LogsEntries(), 100, 40, 320)}) {
    const SWalkResult l_result = Walk(l_package);
    EXPECT_EQ(l_result.m_eossts, OS_STS_SUCCESS) << l_result.m_sRefusal;
    EXPECT_EQ(l_result.m_vecEvents, l_vecExpected);
  }
  std::vector<std::string> l_vecSkipped = l_vecExpected;
  l_vecSkipped[1] = "file logs\\a.txt 0 ";
  const SWalkResult l_result = Walk(LogsPackage(), false);
  EXPECT_EQ(l_result.m_eossts, OS_STS_SUCCESS) << l_result.m_sRefusal;
  EXPECT_EQ(l_result.m_vecEvents, l_vecSkipped);
}

// A cut at a record boundary leaves a directory open; a cut anywhere else
// leaves a record or a stream short. Only the bare header is a sound (empty)
// package.
TEST(OsPackageFormat, WalkOfATruncatedPackageFails) {
  const Bytes l_package = LogsPackage();
  for (std::size_t l_sizet = 0; l_sizet < l_package.size(); ++l_sizet) {
    const EOSSTS l_eossts = l_sizet == 24 ? OS_STS_SUCCESS : OS_STS_FAIL;
    EXPECT_EQ(Walk(l_package, l_sizet, true).m_eossts, l_eossts) << l_sizet;
    EXPECT_EQ(Walk(l_package, l_sizet, false).m_eossts, l_eossts) << l_sizet;
  }
  EXPECT_EQ(Walk(l_package, s_sizetRecordSub, true).m_sRefusal, "Package ends inside a directory...<p.pkg> 1");
}

TEST(OsPackageFormat, WalkRefusesBrokenLengths) {
  const Bytes l_package = LogsPackage();
  struct SField {
    const char* m_szField;
    std::size_t m_sizetAt;
    bool m_b64;
  } const s_afields[] = {
      {"package header size", 8, false},
      {"package record size", 12, false},
      {"record size of a.txt", s_sizetRecordA, true},
      {"split header size", s_sizetStreamA + 8, false},
      {"split piece header size", s_sizetStreamA + 12, false},
      {"split file size", s_sizetStreamA + 16, true},
      {"container length", s_sizetStreamA + 28, false},
  };
  const std::uint64_t l_u64Size = l_package.size();
  for (const SField& l_field : s_afields) {
    for (const std::uint64_t l_u64 : {std::uint64_t{0}, l_u64Size, l_u64Size + 1, s_u64Max}) {
      Bytes l_broken = l_package;
      if (l_field.m_b64)
        Put64(&l_broken, l_field.m_sizetAt, l_u64);
      else
        Put32(&l_broken, l_field.m_sizetAt, static_cast<std::uint32_t>(l_u64));
      // A header as long as the package leaves a package without records:
      // sound, and empty.
      const bool l_bEmpty = l_field.m_sizetAt == 8 && l_u64 == l_u64Size;
      const SWalkResult l_result = Walk(l_broken);
      EXPECT_EQ(l_result.m_eossts, l_bEmpty ? OS_STS_SUCCESS : OS_STS_FAIL) << l_field.m_szField << " " << l_u64;
      EXPECT_EQ(l_result.m_sRefusal == "(none)", l_bEmpty) << l_field.m_szField << " " << l_u64;
    }
  }
}

TEST(OsPackageFormat, WalkRefusals) {
  using Entries = std::vector<SEntry>;
  struct SCase {
    const char* m_szCase;
    std::function<void(Entries*)> m_fnEntries;  // breaks the tree before it is written
    std::function<void(Bytes*)> m_fnBytes;      // or the package's bytes
    const char* m_szRefusal;
  } const s_acases[] = {
      {"magic", nullptr, [](Bytes* a_p) { (*a_p)[3] = 'Q'; }, "Not a package file...<p.pkg>"},
      {"header size", nullptr, [](Bytes* a_p) { Put32(a_p, 8, 23); },
       "Package header sizes out of range...<p.pkg> 23 304"},
      {"record size", nullptr, [](Bytes* a_p) { Put32(a_p, 12, 303); },
       "Package header sizes out of range...<p.pkg> 24 303"},
      {"shorter than a header", nullptr, [](Bytes* a_p) { a_p->resize(20); }, "Error reading chunk...<p.pkg>"},
      {"unterminated name", nullptr, [](Bytes* a_p) { std::memset(a_p->data() + 24 + 8, 'n', 256); },
       "Name refused...<p.pkg> 1 "},
      {"climbing name", [](Entries* a_p) { (*a_p)[1].m_szName = "logs\\..\\a.txt"; }, nullptr,
       "Name refused...<p.pkg> 2 "},
      {"directory of an unknown type", [](Entries* a_p) { (*a_p)[3].m_u32Type = 3; }, nullptr,
       "Record of no known kind...<p.pkg> 4 3 3"},
      {"file of an unknown type", [](Entries* a_p) { (*a_p)[2].m_u32Type = 0; }, nullptr,
       "Record of no known kind...<p.pkg> 3 0 1"},
      {"unknown access", [](Entries* a_p) { (*a_p)[1].m_u32Access = 2; }, nullptr,
       "Record of no known kind...<p.pkg> 2 2 2"},
      {"directory with a size", [](Entries* a_p) { (*a_p)[3].m_stream = {0}; }, nullptr,
       "Record of no known kind...<p.pkg> 4 1 3"},
      {"stream shorter than its record", [](Entries* a_p) { (*a_p)[1].m_stream.push_back(0); }, nullptr,
       "Corrupt package file...p.pkg (172 != 173)"},
      {"file outside its directory", [](Entries* a_p) { (*a_p)[2].m_szName = "other\\b.txt"; }, nullptr,
       "Record outside its directory...<p.pkg> 3"},
      {"file named as its directory", [](Entries* a_p) { (*a_p)[2].m_szName = "logs"; }, nullptr,
       "Record outside its directory...<p.pkg> 3"},
      {"closing record of the wrong directory", [](Entries* a_p) { (*a_p)[4].m_szName = "logs"; }, nullptr,
       "Record outside its directory...<p.pkg> 5"},
      {"closing record missing", [](Entries* a_p) { a_p->pop_back(); }, nullptr,
       "Package ends inside a directory...<p.pkg> 1"},
  };
  for (const SCase& l_case : s_acases) {
    Entries l_vecEntries = LogsEntries();
    if (l_case.m_fnEntries) l_case.m_fnEntries(&l_vecEntries);
    Bytes l_package = Package(l_vecEntries, 100);
    if (l_case.m_fnBytes) l_case.m_fnBytes(&l_package);
    const SWalkResult l_result = Walk(l_package);
    EXPECT_EQ(l_result.m_eossts, OS_STS_FAIL) << l_case.m_szCase;
    EXPECT_TRUE(StartsWith(l_result.m_sRefusal, l_case.m_szRefusal)) << l_case.m_szCase;
  }
}

// A visitor may let a damaged file go (its FileEnd answers 0): the walk then
// goes on at the record after the file's stream, not inside it.
TEST(OsPackageFormat, WalkGoesOnAfterAForgivenFile) {
  class CForgiving : public CRecorder {
   public:
    CForgiving() : CRecorder(true) {}
    EOSSTS FileEnd(const OsPackageRecord& a_ospackagerecord, EOSSTS a_eossts) override {
      CRecorder::FileEnd(a_ospackagerecord, a_eossts);
      return OS_STS_SUCCESS;
    }
  };
  for (const std::size_t l_sizetAt : {s_sizetStreamA + 24, s_sizetContainer + s_sizetStreamA + 8}) {
    Bytes l_package = LogsPackage();
    Put32(&l_package, l_sizetAt, 0);  // the piece size, or the container's header size
    CCapture l_capture;
    CMemorySource l_source(l_package, l_package.size());
    CForgiving l_forgiving;
    EXPECT_EQ(OsPackageWalk(&l_source, l_package.size(), "p.pkg", &l_forgiving, nullptr, nullptr), OS_STS_SUCCESS)
        << l_capture.Refusal();
    const std::vector<std::string> l_vecExpected = {
        "dir logs first",     "file logs\\a.txt 1 ", "file logs\\b.txt 0 ", "dir logs\\sub",
        "dir logs\\sub closing", "dir logs closing",
    };
    EXPECT_EQ(l_forgiving.m_vecEvents, l_vecExpected) << l_sizetAt;
  }
}

// The writer keeps a stack of 34 directories: a package may hold as many
// open at once, not one more.
TEST(OsPackageFormat, WalkDepthLimit) {
  for (const int l_iDepth : {34, 35}) {
    std::vector<std::string> l_vecNames = {"d"};
    while (static_cast<int>(l_vecNames.size()) < l_iDepth) l_vecNames.push_back(l_vecNames.back() + "\\d");
    std::vector<SEntry> l_vecEntries;
    for (const std::string& l_s : l_vecNames) l_vecEntries.push_back({l_s.c_str(), 1, 3, {}});
    for (auto l_it = l_vecNames.rbegin(); l_it != l_vecNames.rend(); ++l_it) l_vecEntries.push_back({l_it->c_str(), 1, 3, {}});
    const SWalkResult l_result = Walk(Package(l_vecEntries, 0));
    if (l_iDepth == 34) {
      EXPECT_EQ(l_result.m_eossts, OS_STS_SUCCESS) << l_result.m_sRefusal;
      EXPECT_EQ(l_result.m_vecEvents.size(), 68u);
    } else {
      EXPECT_EQ(l_result.m_eossts, OS_STS_FAIL);
      EXPECT_EQ(l_result.m_sRefusal, "Directory depth overflow...<p.pkg> 35");
    }
  }
}

// The callback sees every file's bytes once, and its cancel is the walk's answer.
TEST(OsPackageFormat, WalkReportsProgressAndStopsOnCancel) {
  struct SCallback {
    static EOSSTS Count(OsFilePackageProgress* a_p) {
      (void)a_p;
      return OS_STS_SUCCESS;
    }
    static EOSSTS Cancel(OsFilePackageProgress* a_p) {
      return std::strcmp(a_p->m_szName, "logs\\b.txt") == 0 ? OS_STS_TIMEOUT : OS_STS_SUCCESS;
    }
  };
  const Bytes l_package = LogsPackage();
  for (const bool l_bCancel : {false, true}) {
    CCapture l_capture;
    CMemorySource l_source(l_package, l_package.size());
    CRecorder l_recorder(true);
    OsFilePackageProgress l_progress;
    OsFilePackageProgressInit(&l_progress);
    EXPECT_EQ(l_progress.m_u32Size, 552u);
    const EOSSTS l_eossts = OsPackageWalk(&l_source, l_package.size(), "p.pkg", &l_recorder,
                                          l_bCancel ? &SCallback::Cancel : &SCallback::Count, &l_progress);
    EXPECT_EQ(l_progress.m_u64TotalBytes, 100u);
    EXPECT_EQ(l_progress.m_u64RunningCount, 100u);
    if (l_bCancel) {
      EXPECT_EQ(l_eossts, OS_STS_TIMEOUT);
      EXPECT_EQ(l_recorder.m_vecEvents.size(), 2u);
      EXPECT_STREQ(OsFilePackageLastError(), "Cancel requested...<logs\\b.txt>");
    } else {
      EXPECT_EQ(l_eossts, OS_STS_SUCCESS);
      EXPECT_EQ(l_recorder.m_vecEvents.size(), 6u);
    }
  }
}

// ---- the dump ----

TEST(OsPackageFormat, DumpText) {
  const Bytes l_package = Package({{".\\a.txt", 2, 1, TinyStream({'Z'})}, {".\\b.log", 2, 3, {}}}, 1);
  CMemorySink l_sink;
  COsPackageDump l_dump(&l_sink);
  ASSERT_EQ(l_dump.Begin("c:\\out\\p.pkg"), OS_STS_SUCCESS);
  CMemorySource l_source(l_package, l_package.size());
  ASSERT_EQ(OsPackageWalk(&l_source, l_package.size(), "p.pkg", &l_dump, nullptr, nullptr), OS_STS_SUCCESS);
  const char* const l_szExpected =
      "Package: c:\\out\\p.pkg\r\n"
      "\r\n"
      "Package Common Header\r\n"
      " au8Tag...................QRXPKG01\r\n"
      " u32OsFilePackageHeader...24\r\n"
      " u32OsFilePackageChunk....304\r\n"
      "\r\n"
      "Package Header\r\n"
      " au8Tag...................QRXPKG01\r\n"
      " u32OsFilePackageHeader...24\r\n"
      " u32OsFilePackageChunk....304\r\n"
      " u64TotalOriginalBytes....1\r\n"
      "\r\n"
      "Package Chunk (count=1 offset=24)\r\n"
      " u64Size..................33\r\n"
      " szFilename................\\a.txt\r\n"
      " u32OsFileType............2 (file)\r\n"
      " u32OsFileAccess..........1 (readonly)\r\n"
      " ostimerecordAccessed.....2023/11/14 09:05:07.042 (2)\r\n"
      " ostimerecordModified.....2024/02/29 23:59:58.999 (4)\r\n"
      "\r\n"
      "Package Chunk (count=2 offset=361)\r\n"
      " u64Size..................0\r\n"
      " szFilename................\\b.log\r\n"
      " u32OsFileType............2 (file)\r\n"
      " u32OsFileAccess..........3 (readwrite)\r\n"
      " ostimerecordAccessed.....2023/11/14 09:05:07.042 (2)\r\n"
      " ostimerecordModified.....2024/02/29 23:59:58.999 (4)\r\n";
  EXPECT_EQ(std::string(l_sink.m_bytes.begin(), l_sink.m_bytes.end()), l_szExpected);
}

}  // namespace
