// The Linux qrxpkg as a process, over packages assembled here: a sound one
// listed, verified, dumped and extracted; damaged and hostile ones; a link
// planted in the destination; usage errors.
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "os_cosfile_package_bytes.h"
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

const std::string s_sA = "first line\nsecond line\nfirst line\n", s_sIni = "[main]\nkey=value\n";

// 2021-03-14 (a Sunday) at the given time, UTC.
OsTimeRecord At(std::uint16_t a_u16Hour, std::uint16_t a_u16Minute) {
  return {2021, 3, 0, 14, a_u16Hour, a_u16Minute, 0, 0};
}

// The same moment counted by the C runtime.
std::time_t Unix(int a_iHour, int a_iMinute) {
  std::tm l_tm = {};
  l_tm.tm_year = 2021 - 1900;
  l_tm.tm_mon = 2;
  l_tm.tm_mday = 14;
  l_tm.tm_hour = a_iHour;
  l_tm.tm_min = a_iMinute;
  return timegm(&l_tm);
}

std::string Read(const fs::path& a_path) {
  std::ifstream l_ifstream(a_path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(l_ifstream), {});
}

void Write(const fs::path& a_path, const std::string& a_s) { std::ofstream(a_path, std::ios::binary) << a_s; }

// logs with a.txt and the read-only ro.ini, or with the file a_sName alone.
std::string Logs(const std::string& a_sName = "") {
  std::vector<SEntry> l_vec = {{"logs", 1, 3, "", At(9, 0)},
                               {"logs\\a.txt", 2, 3, Split(s_sA), At(10, 21)},
                               {"logs\\ro.ini", 2, 1, Split(s_sIni), At(10, 25)},
                               {"logs", 1, 3, "", At(9, 0)}};
  if (!a_sName.empty()) l_vec = {l_vec[0], {a_sName, 2, 3, Split("planted")}, l_vec[3]};
  return Package(l_vec, s_sA.size() + s_sIni.size());
}

class QrxPkgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("QRXPKG"), nullptr) << "QRXPKG names the tool";
    fs::remove_all(m_path);
    fs::create_directories(m_path / "outside");
    Write(m_pathPackage, Logs());
  }
  void TearDown() override { fs::remove_all(m_path); }

  // Runs the tool with a_sArguments (words for the shell); keeps its outputs.
  int Run(const std::string& a_sArguments) {
    const fs::path l_pathOut = m_path / "stdout", l_pathErr = m_path / "stderr";
    const int l_i = std::system(
        ("\"$QRXPKG\" " + a_sArguments + " >'" + l_pathOut.string() + "' 2>'" + l_pathErr.string() + "'").c_str());
    m_sOut = Read(l_pathOut);
    m_sErr = Read(l_pathErr);
    return WIFEXITED(l_i) ? WEXITSTATUS(l_i) : -1;
  }
  const fs::path m_path = fs::path(::testing::TempDir()) /
                          ("qrxpkg_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
  const fs::path m_pathPackage = m_path / "a.pkg", m_pathDir = m_path / "out";
  const std::string m_sPackage = "'" + m_pathPackage.string() + "'";
  const std::string m_sExtract = "extract " + m_sPackage + " '" + m_pathDir.string() + "'";
  std::string m_sOut, m_sErr;
};

TEST_F(QrxPkgTest, ListsVerifiesDumpsAndExtractsASoundPackage) {
  EXPECT_EQ(Run("list " + m_sPackage), 0) << m_sErr;
  EXPECT_EQ(std::count(m_sOut.begin(), m_sOut.end(), '\n'), 4) << m_sOut;
  // Type, the stream's size, modified time (UTC) and name.
  EXPECT_NE(m_sOut.find("\nfile          106 2021-03-14 10:21:00 logs\\a.txt\n"), std::string::npos) << m_sOut;
  EXPECT_EQ(Run("verify " + m_sPackage), 0) << m_sErr;
  EXPECT_EQ(m_sOut, m_pathPackage.string() + ": sound: 4 records, 2 files, 51 bytes\n");
  EXPECT_EQ(Run("dump " + m_sPackage), 0) << m_sErr;
  EXPECT_EQ(m_sOut.rfind("Package: " + m_pathPackage.string() + "\r\n\r\nPackage Common Header\r\n au8Tag...", 0), 0u)
      << m_sOut;

  ASSERT_EQ(Run(m_sExtract), 0) << m_sErr;
  for (const auto& [l_szName, l_sContent, l_iMinute, l_bReadOnly] :
       {std::tuple{"logs/a.txt", s_sA, 21, false}, std::tuple{"logs/ro.ini", s_sIni, 25, true}}) {
    struct stat l_stat;
    ASSERT_EQ(lstat((m_pathDir / l_szName).c_str(), &l_stat), 0) << l_szName;
    EXPECT_TRUE(S_ISREG(l_stat.st_mode)) << l_szName;
    EXPECT_EQ(Read(m_pathDir / l_szName), l_sContent);
    EXPECT_EQ(l_stat.st_mtim.tv_sec, Unix(10, l_iMinute)) << l_szName;
    EXPECT_EQ((l_stat.st_mode & 0222) == 0, l_bReadOnly) << l_szName;
  }
}

// Each is refused with one line of reason before anything is written, inside
// the destination or outside it.
TEST_F(QrxPkgTest, RefusesDamagedAndHostilePackages) {
  const std::string l_sSound = Logs();
  const std::pair<const char*, std::string> l_acases[] = {
      {"cut inside the last stream", l_sSound.substr(0, l_sSound.size() - 304 - 5)},
      {"the last closing record missing", l_sSound.substr(0, l_sSound.size() - 304)},
      {"an unknown coding method", With(l_sSound, 24 + 2 * 304 + 28 + 4 + 24, Le(9, 4))},
      {"a name that climbs out", Logs("logs\\..\\..\\outside\\evil.txt")},
      {"a name that climbs out with slashes", Logs("logs/../../outside/evil.txt")},
      {"an absolute name", Logs((m_path / "outside" / "evil.txt").string())},
      {"not a package", "QRXPKG0"},
  };
  for (const auto& [l_szCase, l_sPackage] : l_acases) {
    Write(m_pathPackage, l_sPackage);
    EXPECT_EQ(Run("verify " + m_sPackage), 1) << l_szCase;
    EXPECT_EQ(Run(m_sExtract), 1) << l_szCase;
    EXPECT_EQ(m_sErr.rfind("qrxpkg: " + m_pathPackage.string() + ": ", 0), 0u) << m_sErr;
    EXPECT_EQ(std::count(m_sErr.begin(), m_sErr.end(), '\n'), 1) << m_sErr;
    EXPECT_FALSE(fs::exists(m_pathDir)) << l_szCase;
    EXPECT_TRUE(fs::is_empty(m_path / "outside")) << l_szCase;
  }
}

// logs, the package's first directory, is a link out of the destination:
// kept, it is refused; replaced, the link itself goes. Neither writes through it.
TEST_F(QrxPkgTest, NeverFollowsALinkPlantedInTheDestination) {
  Write(m_path / "outside" / "keep.txt", "outside");
  for (const bool l_bKeep : {true, false}) {
    fs::remove_all(m_pathDir);
    fs::create_directories(m_pathDir);
    fs::create_directory_symlink(m_path / "outside", m_pathDir / "logs");
    EXPECT_EQ(Run(m_sExtract + (l_bKeep ? " --keep" : "")), l_bKeep ? 1 : 0) << m_sErr;
    EXPECT_EQ(m_sErr.find("not followed") != std::string::npos, l_bKeep) << m_sErr;
    EXPECT_EQ(fs::is_symlink(m_pathDir / "logs"), l_bKeep);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_path / "outside"), fs::directory_iterator()), 1);
    EXPECT_EQ(Read(m_path / "outside" / "keep.txt"), "outside");
  }
  EXPECT_EQ(Read(m_pathDir / "logs" / "a.txt"), s_sA);
}

TEST_F(QrxPkgTest, UsageErrorsExitWithTwo) {
  const std::string l_as[] = {"",
                              "frobnicate " + m_sPackage,
                              "list",
                              "list " + m_sPackage + " extra",
                              "extract " + m_sPackage,
                              "list " + m_sPackage + " --keep",
                              "create " + m_sPackage + " src",
                              "verify " + m_sPackage + " --threads 0",
                              "verify " + m_sPackage + " --threads 65",
                              "verify " + m_sPackage + " --threads 2x"};
  for (const std::string& l_s : l_as) {
    EXPECT_EQ(Run(l_s), 2) << l_s;
    EXPECT_NE(m_sErr.find("--help"), std::string::npos) << m_sErr;
    EXPECT_EQ(m_sOut, "");
  }
}

}  // namespace
