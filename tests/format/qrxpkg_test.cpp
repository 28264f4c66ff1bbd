// The Linux qrxpkg as a process: list, verify, dump and extract of a package
// assembled here from the stored layouts, of damaged and hostile copies, and
// extraction into a destination where links were planted.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "os_cosfile_package.h"
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using Bytes = std::string;

void Put32(Bytes* a_ps, std::size_t a_sizetAt, std::uint32_t a_u32) {
  for (int l_i = 0; l_i < 4; ++l_i) (*a_ps)[a_sizetAt + l_i] = static_cast<char>(a_u32 >> (8 * l_i));
}

Bytes Le32(std::uint32_t a_u32) {
  Bytes l_s(4, '\0');
  Put32(&l_s, 0, a_u32);
  return l_s;
}

// 2021-03-14 and the given time of day, UTC.
OsTimeRecord At(std::uint16_t a_u16Hour, std::uint16_t a_u16Minute, std::uint16_t a_u16Second) {
  return OsTimeRecord{2021, 3, 0, 14, a_u16Hour, a_u16Minute, a_u16Second, 0};
}

// The same moment counted by the C runtime, apart from the engine.
std::time_t Unix(const OsTimeRecord& a_ostimerecord) {
  std::tm l_tm = {};
  l_tm.tm_year = a_ostimerecord.m_u16Year - 1900;
  l_tm.tm_mon = a_ostimerecord.m_u16Month - 1;
  l_tm.tm_mday = a_ostimerecord.m_u16Day;
  l_tm.tm_hour = a_ostimerecord.m_u16Hour;
  l_tm.tm_min = a_ostimerecord.m_u16Minute;
  l_tm.tm_sec = a_ostimerecord.m_u16Second;
  return timegm(&l_tm);
}

// A package as the writer lays it out: records, each file record followed
// by its split stream.
class CPackage {
 public:
  void Dir(const std::string& a_sName, const OsTimeRecord& a_ostimerecord) {
    Record(a_sName, OS_FILE_TYPE_DIRECTORY, OS_FILE_ACCESS_READWRITE, a_ostimerecord, Bytes());
  }
  void File(const std::string& a_sName, const Bytes& a_sContent, std::uint32_t a_u32Access,
            const OsTimeRecord& a_ostimerecord, EOSCOMPRESS a_eoscompress = OS_COMPRESS_BWT) {
    m_u64Total += a_sContent.size();
    Record(a_sName, OS_FILE_TYPE_FILE, a_u32Access, a_ostimerecord, Stream(a_sContent, a_eoscompress));
  }
  Bytes Image() const {
    OsPackageHeader l_ospackageheader = {{'Q', 'R', 'X', 'P', 'K', 'G', '0', '1'},
                                         OS_PACKAGE_HEADER_SIZE,
                                         OS_PACKAGE_RECORD_SIZE,
                                         m_u64Total};
    std::uint8_t l_au8[OS_PACKAGE_HEADER_SIZE];
    OsPackageHeaderEncode(l_ospackageheader, l_au8);
    return Bytes(reinterpret_cast<const char*>(l_au8), sizeof(l_au8)) + m_sBody;
  }
  // Where the last record begins, and the last stream; every record's size.
  std::size_t m_sizetLastRecord = 0;
  std::size_t m_sizetLastStream = 0;
  std::vector<std::uint64_t> m_vecSizes;

 private:
  void Record(const std::string& a_sName, std::uint32_t a_u32Type, std::uint32_t a_u32Access,
              const OsTimeRecord& a_ostimerecord, const Bytes& a_sStream) {
    OsPackageRecord l_ospackagerecord = {};
    l_ospackagerecord.m_u64Size = a_sStream.size();
    std::memcpy(l_ospackagerecord.m_szFilename, a_sName.c_str(), a_sName.size() + 1);
    l_ospackagerecord.m_u32OsFileType = a_u32Type;
    l_ospackagerecord.m_u32OsFileAccess = a_u32Access;
    // Accessed a day after modified, so that the two cannot be mixed up.
    l_ospackagerecord.m_ostimerecordModified = a_ostimerecord;
    l_ospackagerecord.m_ostimerecordAccessed = a_ostimerecord;
    l_ospackagerecord.m_ostimerecordAccessed.m_u16Day += 1;
    std::uint8_t l_au8[OS_PACKAGE_RECORD_SIZE];
    OsPackageRecordEncode(l_ospackagerecord, l_au8);
    m_sizetLastRecord = OS_PACKAGE_HEADER_SIZE + m_sBody.size();
    m_vecSizes.push_back(a_sStream.size());
    m_sBody += Bytes(reinterpret_cast<const char*>(l_au8), sizeof(l_au8));
    if (!a_sStream.empty()) m_sizetLastStream = OS_PACKAGE_HEADER_SIZE + m_sBody.size();
    m_sBody += a_sStream;
  }
  // Empty files have no stream; one byte is stored as it is; anything longer
  // as one piece.
  static Bytes Stream(const Bytes& a_sContent, EOSCOMPRESS a_eoscompress) {
    if (a_sContent.empty()) return Bytes();
    OsSplitHeader l_ossplitheader = {{'Q', 'R', 'X', 'S', 'P', 'L', '0', '1'},
                                     OS_SPLIT_HEADER_SIZE,
                                     OS_SPLIT_PIECE_HEADER_SIZE,
                                     a_sContent.size(),
                                     a_sContent.size() == 1 ? 0 : OS_SPLIT_PIECE_SIZE};
    std::uint8_t l_au8[OS_SPLIT_HEADER_SIZE];
    OsSplitHeaderEncode(l_ossplitheader, l_au8);
    Bytes l_s(reinterpret_cast<const char*>(l_au8), sizeof(l_au8));
    if (a_sContent.size() == 1) return l_s + Le32(1) + a_sContent;
    const std::uint32_t l_u32Length = static_cast<std::uint32_t>(a_sContent.size());
    std::vector<char> l_vecOut(OsFileCompressBound(l_u32Length)), l_vecScratch(l_vecOut.size());
    std::uint32_t l_u32Out = static_cast<std::uint32_t>(l_vecOut.size());
    OsCompressContext l_oscompresscontext;
    EXPECT_EQ(OsFileCompress(l_vecOut.data(), &l_u32Out, a_sContent.data(), l_u32Length, a_eoscompress,
                             l_vecScratch.data(), &l_oscompresscontext),
              OS_STS_SUCCESS);
    OsFileCompressContextFree(&l_oscompresscontext);
    return l_s + Le32(l_u32Out) + Bytes(l_vecOut.data(), l_u32Out);
  }

  Bytes m_sBody;
  std::uint64_t m_u64Total = 0;
};

struct FileCase {
  const char* m_szName;  // below the destination
  Bytes m_sContent;
  std::uint32_t m_u32Access;
  OsTimeRecord m_ostimerecord;
};

const std::vector<FileCase>& Files() {
  static const std::vector<FileCase> s_vec = {
      {"logs/a.txt", "first line\nsecond line\nfirst line\n", OS_FILE_ACCESS_READWRITE, At(10, 21, 0)},
      {"logs/b.log", Bytes(3000, 'x') + "tail", OS_FILE_ACCESS_READWRITE, At(10, 22, 0)},
      {"logs/one.bin", "Z", OS_FILE_ACCESS_READWRITE, At(10, 23, 0)},
      {"logs/empty.txt", "", OS_FILE_ACCESS_READWRITE, At(10, 24, 0)},
      {"logs/ro.ini", "[main]\nkey=value\n", OS_FILE_ACCESS_READ, At(10, 25, 0)},
      {"logs/sub/c.xml", "<a><b/></a>", OS_FILE_ACCESS_READWRITE, At(10, 26, 0)},
  };
  return s_vec;
}

const OsTimeRecord s_ostimerecordLogs = At(9, 0, 1);
const OsTimeRecord s_ostimerecordSub = At(9, 0, 2);
const OsTimeRecord s_ostimerecordEmptyDir = At(9, 0, 3);

// The package's spelling of a path below the destination.
std::string PackageName(const char* a_szPath) {
  std::string l_s(a_szPath);
  std::replace(l_s.begin(), l_s.end(), '/', '\\');
  return l_s;
}

// logs with its files, the subdirectory sub and the empty directory none.
CPackage Sound() {
  const std::vector<FileCase>& l_vec = Files();
  const auto l_add = [&l_vec](CPackage* a_ppackage, std::size_t a_sizet, EOSCOMPRESS a_eoscompress) {
    const FileCase& l_filecase = l_vec[a_sizet];
    a_ppackage->File(PackageName(l_filecase.m_szName), l_filecase.m_sContent, l_filecase.m_u32Access,
                     l_filecase.m_ostimerecord, a_eoscompress);
  };
  CPackage l_package;
  l_package.Dir("logs", s_ostimerecordLogs);
  for (std::size_t l_i = 0; l_i < 5; ++l_i) l_add(&l_package, l_i, l_i == 1 ? OS_COMPRESS_RLE : OS_COMPRESS_BWT);
  l_package.Dir("logs\\sub", s_ostimerecordSub);
  l_add(&l_package, 5, OS_COMPRESS_BWT);
  l_package.Dir("logs\\sub", s_ostimerecordSub);
  l_package.Dir("logs\\none", s_ostimerecordEmptyDir);
  l_package.Dir("logs\\none", s_ostimerecordEmptyDir);
  l_package.Dir("logs", s_ostimerecordLogs);
  return l_package;
}

// The package holding a file under a_sName, inside logs.
Bytes Hostile(const std::string& a_sName) {
  CPackage l_package;
  l_package.Dir("logs", s_ostimerecordLogs);
  l_package.File(a_sName, "planted", OS_FILE_ACCESS_READWRITE, At(11, 0, 0));
  l_package.Dir("logs", s_ostimerecordLogs);
  return l_package.Image();
}

struct Result {
  int m_iExit;
  std::string m_sOut;
  std::string m_sErr;
};

std::string Read(const fs::path& a_path) {
  std::ifstream l_ifstream(a_path, std::ios::binary);
  std::stringstream l_stringstream;
  l_stringstream << l_ifstream.rdbuf();
  return l_stringstream.str();
}

void Write(const fs::path& a_path, const Bytes& a_s) {
  std::ofstream l_ofstream(a_path, std::ios::binary);
  l_ofstream << a_s;
}

class QrxPkgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_path = fs::path(::testing::TempDir()) /
             (std::string("qrxpkg_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(m_path);
    fs::create_directories(m_path);
    m_pathPackage = m_path / "a.pkg";
    m_pathDir = m_path / "out";
    m_pathOutside = m_path / "outside";
    fs::create_directories(m_pathOutside);
  }
  void TearDown() override { fs::remove_all(m_path); }

  Result Run(const std::vector<std::string>& a_vecArguments) {
    const char* const l_szTool = std::getenv("QRXPKG");
    EXPECT_NE(l_szTool, nullptr) << "QRXPKG names the tool";
    if (l_szTool == nullptr) return {-1, "", ""};
    const fs::path l_pathOut = m_path / "stdout", l_pathErr = m_path / "stderr";
    const pid_t l_pid = fork();
    if (l_pid == 0) {
      std::vector<char*> l_vec{const_cast<char*>(l_szTool)};
      for (const std::string& l_s : a_vecArguments) l_vec.push_back(const_cast<char*>(l_s.c_str()));
      l_vec.push_back(nullptr);
      const int l_iOut = open(l_pathOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int l_iErr = open(l_pathErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(l_iOut, 1);
      dup2(l_iErr, 2);
      execv(l_szTool, l_vec.data());
      _exit(127);
    }
    int l_iStatus = 0;
    waitpid(l_pid, &l_iStatus, 0);
    return {WIFEXITED(l_iStatus) ? WEXITSTATUS(l_iStatus) : -1, Read(l_pathOut), Read(l_pathErr)};
  }

  // Every entry below a_path, links as links.
  static std::set<std::string> Tree(const fs::path& a_path) {
    std::set<std::string> l_set;
    if (!fs::exists(fs::symlink_status(a_path))) return l_set;
    for (const fs::directory_entry& l_entry : fs::recursive_directory_iterator(a_path))
      l_set.insert(fs::relative(l_entry.path(), a_path).string() + (l_entry.is_symlink() ? "@" : ""));
    return l_set;
  }

  fs::path m_path, m_pathPackage, m_pathDir, m_pathOutside;
};

TEST_F(QrxPkgTest, ListsEveryRecord) {
  const CPackage l_package = Sound();
  Write(m_pathPackage, l_package.Image());
  const Result l_result = Run({"list", m_pathPackage.string()});
  EXPECT_EQ(l_result.m_iExit, 0) << l_result.m_sErr;
  // Type, modified time and name of every record, closing ones included.
  const std::vector<std::vector<std::string>> l_vecExpected = {
      {"dir", "2021-03-14", "09:00:01", "logs"},
      {"file", "2021-03-14", "10:21:00", "logs\\a.txt"},
      {"file", "2021-03-14", "10:22:00", "logs\\b.log"},
      {"file", "2021-03-14", "10:23:00", "logs\\one.bin"},
      {"file", "2021-03-14", "10:24:00", "logs\\empty.txt"},
      {"file", "2021-03-14", "10:25:00", "logs\\ro.ini"},
      {"dir", "2021-03-14", "09:00:02", "logs\\sub"},
      {"file", "2021-03-14", "10:26:00", "logs\\sub\\c.xml"},
      {"dir", "2021-03-14", "09:00:02", "logs\\sub"},
      {"dir", "2021-03-14", "09:00:03", "logs\\none"},
      {"dir", "2021-03-14", "09:00:03", "logs\\none"},
      {"dir", "2021-03-14", "09:00:01", "logs"},
  };
  std::istringstream l_istringstream(l_result.m_sOut);
  std::size_t l_sizet = 0;
  for (std::string l_sLine; std::getline(l_istringstream, l_sLine); ++l_sizet) {
    ASSERT_LT(l_sizet, l_vecExpected.size()) << l_result.m_sOut;
    std::istringstream l_istringstreamLine(l_sLine);
    std::string l_sType, l_sSize, l_sDate, l_sTime, l_sName;
    l_istringstreamLine >> l_sType >> l_sSize >> l_sDate >> l_sTime >> l_sName;
    const std::vector<std::string>& l_vec = l_vecExpected[l_sizet];
    EXPECT_EQ((std::vector<std::string>{l_sType, l_sDate, l_sTime, l_sName}), l_vec) << l_sLine;
    // The record's size: its stream (33 bytes for the byte stored as it is).
    EXPECT_EQ(l_sSize, std::to_string(l_package.m_vecSizes[l_sizet])) << l_sLine;
  }
  EXPECT_EQ(l_sizet, l_vecExpected.size());
  EXPECT_EQ(l_package.m_vecSizes[3], 33u);
}

TEST_F(QrxPkgTest, VerifiesAndDumps) {
  Write(m_pathPackage, Sound().Image());
  std::uint64_t l_u64Bytes = 0;
  for (const FileCase& l_filecase : Files()) l_u64Bytes += l_filecase.m_sContent.size();
  Result l_result = Run({"verify", m_pathPackage.string()});
  EXPECT_EQ(l_result.m_iExit, 0) << l_result.m_sErr;
  EXPECT_EQ(l_result.m_sOut,
            m_pathPackage.string() + ": sound: 12 records, 6 files, " + std::to_string(l_u64Bytes) + " bytes\n");

  l_result = Run({"dump", m_pathPackage.string()});
  EXPECT_EQ(l_result.m_iExit, 0) << l_result.m_sErr;
  EXPECT_EQ(l_result.m_sOut.rfind("Package: " + m_pathPackage.string() + "\r\n\r\nPackage Common Header\r\n", 0), 0u)
      << l_result.m_sOut.substr(0, 200);
  std::size_t l_sizetRecords = 0;
  for (std::size_t l_sizet = 0; (l_sizet = l_result.m_sOut.find("\r\nPackage Chunk (count=", l_sizet)) != std::string::npos;
       ++l_sizet)
    ++l_sizetRecords;
  EXPECT_EQ(l_sizetRecords, 12u);
  EXPECT_NE(l_result.m_sOut.find(" szFilename...............logs\\ro.ini\r\n u32OsFileType............2 (file)\r\n"
                                 " u32OsFileAccess..........1 (readonly)\r\n"),
            std::string::npos);
}

TEST_F(QrxPkgTest, ExtractsBytesTimesAndAccess) {
  Write(m_pathPackage, Sound().Image());
  const Result l_result = Run({"extract", m_pathPackage.string(), m_pathDir.string()});
  ASSERT_EQ(l_result.m_iExit, 0) << l_result.m_sErr;
  EXPECT_EQ(l_result.m_sErr, "");
  for (const FileCase& l_filecase : Files()) {
    SCOPED_TRACE(l_filecase.m_szName);
    const fs::path l_path = m_pathDir / l_filecase.m_szName;
    struct stat l_stat;
    ASSERT_EQ(lstat(l_path.c_str(), &l_stat), 0);
    EXPECT_TRUE(S_ISREG(l_stat.st_mode));
    EXPECT_EQ(Read(l_path), l_filecase.m_sContent);
    EXPECT_EQ(l_stat.st_mtim.tv_sec, Unix(l_filecase.m_ostimerecord));
    OsTimeRecord l_ostimerecordAccessed = l_filecase.m_ostimerecord;
    l_ostimerecordAccessed.m_u16Day += 1;
    EXPECT_EQ(l_stat.st_atim.tv_sec, Unix(l_ostimerecordAccessed));
    if (l_filecase.m_u32Access == OS_FILE_ACCESS_READ)
      EXPECT_EQ(l_stat.st_mode & 0222, 0u);
    else
      EXPECT_NE(l_stat.st_mode & S_IWUSR, 0u);
  }
  // Directory times come from the closing records, after their contents.
  for (const auto& [l_szName, l_ostimerecord] : {std::pair{"logs", s_ostimerecordLogs},
                                                  std::pair{"logs/sub", s_ostimerecordSub},
                                                  std::pair{"logs/none", s_ostimerecordEmptyDir}}) {
    SCOPED_TRACE(l_szName);
    struct stat l_stat;
    ASSERT_EQ(lstat((m_pathDir / l_szName).c_str(), &l_stat), 0);
    EXPECT_TRUE(S_ISDIR(l_stat.st_mode));
    EXPECT_EQ(l_stat.st_mtim.tv_sec, Unix(l_ostimerecord));
  }
  EXPECT_EQ(Tree(m_pathDir).size(), Files().size() + 3);  // logs, sub, none and the files

  // Again over the first result: the read-only file is replaced too.
  EXPECT_EQ(Run({"extract", m_pathPackage.string(), m_pathDir.string()}).m_iExit, 0);
  EXPECT_EQ(Read(m_pathDir / "logs/ro.ini"), Files()[4].m_sContent);
}

TEST_F(QrxPkgTest, RefusesDamagedAndHostilePackages) {
  const CPackage l_package = Sound();
  const Bytes l_sSound = l_package.Image();
  Bytes l_sMethod = l_sSound;
  // The first chunk's coding method in logs\sub\c.xml's container: past the
  // split header, the piece length and the container header.
  Put32(&l_sMethod, l_package.m_sizetLastStream + OS_SPLIT_HEADER_SIZE + 4 + 24, 9);
  struct Case {
    const char* m_szWhat;
    Bytes m_sPackage;
    int m_iListExit;  // list and dump look at records and lengths only
  };
  const std::string l_sOutside = (m_pathOutside / "evil.txt").string();
  const Case l_acase[] = {
      {"cut inside the last stream", l_sSound.substr(0, l_package.m_sizetLastStream + 10), 1},
      {"the last closing record missing", l_sSound.substr(0, l_package.m_sizetLastRecord), 1},
      {"an unknown coding method", l_sMethod, 0},
      {"a name that climbs out", Hostile("logs\\..\\..\\outside\\evil.txt"), 1},
      {"a name that climbs out with slashes", Hostile("logs/../../outside/evil.txt"), 1},
      {"an absolute name", Hostile(l_sOutside), 1},
      {"not a package", "QRXPKG0", 1},
  };
  for (const Case& l_case : l_acase) {
    SCOPED_TRACE(l_case.m_szWhat);
    Write(m_pathPackage, l_case.m_sPackage);
    const std::string l_sPrefix = "qrxpkg: " + m_pathPackage.string() + ": ";
    for (const char* l_szCommand : {"list", "dump", "verify", "extract"}) {
      SCOPED_TRACE(l_szCommand);
      std::vector<std::string> l_vec = {l_szCommand, m_pathPackage.string()};
      if (std::strcmp(l_szCommand, "extract") == 0) l_vec.push_back(m_pathDir.string());
      const bool l_bExpands = std::strcmp(l_szCommand, "verify") == 0 || std::strcmp(l_szCommand, "extract") == 0;
      const Result l_result = Run(l_vec);
      EXPECT_EQ(l_result.m_iExit, l_bExpands ? 1 : l_case.m_iListExit);
      if (l_result.m_iExit == 1) {
        // One line with the reason.
        EXPECT_EQ(l_result.m_sErr.rfind(l_sPrefix, 0), 0u) << l_result.m_sErr;
        EXPECT_GT(l_result.m_sErr.size(), l_sPrefix.size() + 1);
        EXPECT_EQ(l_result.m_sErr.find('\n'), l_result.m_sErr.size() - 1) << l_result.m_sErr;
      }
    }
    // Refused before anything was written, inside or outside.
    EXPECT_FALSE(fs::exists(m_pathDir));
    EXPECT_TRUE(Tree(m_pathOutside).empty());
    EXPECT_FALSE(fs::exists(m_path / "evil.txt"));
  }
}

TEST_F(QrxPkgTest, NeverFollowsALinkInTheDestination) {
  Write(m_pathPackage, Sound().Image());
  struct Case {
    const char* m_szWhat;
    std::function<void(const fs::path&, const fs::path&)> m_pfnPlant;  // destination, outside
    bool m_bKeep;
    int m_iExit;
  };
  const Case l_acase[] = {
      {"the first directory is a link, kept",
       [](const fs::path& a_pathDir, const fs::path& a_pathOutside) {
         fs::create_directories(a_pathDir);
         fs::create_directory_symlink(a_pathOutside, a_pathDir / "logs");
       },
       true, 1},
      {"the first directory is a link, replaced",
       [](const fs::path& a_pathDir, const fs::path& a_pathOutside) {
         fs::create_directories(a_pathDir);
         fs::create_directory_symlink(a_pathOutside, a_pathDir / "logs");
       },
       false, 0},
      {"a link deep in the tree that is replaced",
       [](const fs::path& a_pathDir, const fs::path& a_pathOutside) {
         fs::create_directories(a_pathDir / "logs/old");
         fs::create_directory_symlink(a_pathOutside, a_pathDir / "logs/old/link");
       },
       false, 0},
      {"a subdirectory is a link",
       [](const fs::path& a_pathDir, const fs::path& a_pathOutside) {
         fs::create_directories(a_pathDir / "logs");
         fs::create_directory_symlink(a_pathOutside, a_pathDir / "logs/sub");
       },
       true, 1},
      {"a file is a link",
       [](const fs::path& a_pathDir, const fs::path& a_pathOutside) {
         fs::create_directories(a_pathDir / "logs");
         fs::create_symlink(a_pathOutside / "keep.txt", a_pathDir / "logs/a.txt");
       },
       true, 0},
  };
  for (const Case& l_case : l_acase) {
    SCOPED_TRACE(l_case.m_szWhat);
    fs::remove_all(m_pathDir);
    fs::remove_all(m_pathOutside);
    fs::create_directories(m_pathOutside / "inner");
    Write(m_pathOutside / "keep.txt", "outside");
    l_case.m_pfnPlant(m_pathDir, m_pathOutside);
    std::vector<std::string> l_vec = {"extract", m_pathPackage.string(), m_pathDir.string()};
    if (l_case.m_bKeep) l_vec.push_back("--keep");
    const Result l_result = Run(l_vec);
    EXPECT_EQ(l_result.m_iExit, l_case.m_iExit) << l_result.m_sErr;
    EXPECT_EQ(Tree(m_pathOutside), (std::set<std::string>{"inner", "keep.txt"}));
    EXPECT_EQ(Read(m_pathOutside / "keep.txt"), "outside");
    if (l_result.m_iExit == 0) {
      EXPECT_FALSE(fs::is_symlink(m_pathDir / "logs"));
      EXPECT_FALSE(fs::is_symlink(m_pathDir / "logs/a.txt"));
      EXPECT_EQ(Read(m_pathDir / "logs/a.txt"), Files()[0].m_sContent);
    } else {
      EXPECT_NE(l_result.m_sErr.find("not followed"), std::string::npos) << l_result.m_sErr;
    }
  }
}

TEST_F(QrxPkgTest, ReplacesTheFirstDirectoryUnlessKept) {
  Write(m_pathPackage, Sound().Image());
  for (const bool l_bKeep : {false, true}) {
    SCOPED_TRACE(l_bKeep ? "--keep" : "replace");
    fs::remove_all(m_pathDir);
    fs::create_directories(m_pathDir / "logs/old");
    Write(m_pathDir / "logs/old/x.txt", "old");
    Write(m_pathDir / "beside.txt", "beside");
    std::vector<std::string> l_vec = {"extract", m_pathPackage.string(), m_pathDir.string()};
    if (l_bKeep) l_vec.push_back("--keep");
    EXPECT_EQ(Run(l_vec).m_iExit, 0);
    EXPECT_EQ(fs::exists(m_pathDir / "logs/old/x.txt"), l_bKeep);
    EXPECT_EQ(Read(m_pathDir / "beside.txt"), "beside");
    EXPECT_EQ(Read(m_pathDir / "logs/sub/c.xml"), Files()[5].m_sContent);
  }
}

TEST_F(QrxPkgTest, UsageErrorsExitWithTwo) {
  Write(m_pathPackage, Sound().Image());
  const std::string l_sPackage = m_pathPackage.string();
  const std::vector<std::vector<std::string>> l_vecCases = {
      {},
      {"frobnicate", l_sPackage},
      {"list"},
      {"list", l_sPackage, "extra"},
      {"extract", l_sPackage},
      {"list", l_sPackage, "--keep"},
      {"verify", l_sPackage, "--bogus"},
      {"create", l_sPackage, m_path.string()},
  };
  for (const std::vector<std::string>& l_vec : l_vecCases) {
    const Result l_result = Run(l_vec);
    EXPECT_EQ(l_result.m_iExit, 2) << testing::PrintToString(l_vec);
    EXPECT_NE(l_result.m_sErr.find("--help"), std::string::npos) << l_result.m_sErr;
    EXPECT_EQ(l_result.m_sOut, "");
  }
  const Result l_result = Run({"--help"});
  EXPECT_EQ(l_result.m_iExit, 0);
  EXPECT_EQ(l_result.m_sOut.rfind("Usage: qrxpkg ", 0), 0u);
}

}  // namespace
