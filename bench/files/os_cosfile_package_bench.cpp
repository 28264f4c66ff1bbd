// Packing and extracting a 200 MiB tree of text and log files (one 100 MiB
// log, ten 10 MiB texts) against the container's own speed on the same
// bytes in memory, measured in the same run; and the peak memory of each
// operation above its process's start, against the buffers one file may use
// (a read, an output and a scratch buffer of 33 MiB, and one block's arrays).
//
// Usage: os_cosfile_package_bench [runs]. The write and the extract run in
// child processes of this program ("write DIR" / "extract DIR"), so that
// each one's peak is its own.
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "os.h"
#include "os_cosfile_package.h"

const char* g_szOsServicesArguments =
    "<arguments><uniquename>bench</uniquename><entity>application</entity></arguments>";

namespace {

constexpr std::uint32_t MIB = 1u << 20;

double Now() {
  LARGE_INTEGER l_li, l_liFrequency;
  QueryPerformanceCounter(&l_li);
  QueryPerformanceFrequency(&l_liFrequency);
  return static_cast<double>(l_li.QuadPart) / static_cast<double>(l_liFrequency.QuadPart);
}

std::uint64_t s_u64Seed = 0x9E3779B97F4A7C15ull;
unsigned Next() {
  s_u64Seed ^= s_u64Seed << 13;
  s_u64Seed ^= s_u64Seed >> 7;
  s_u64Seed ^= s_u64Seed << 17;
  return static_cast<unsigned>(s_u64Seed >> 29);
}

// Lines shaped like the library's own log.
std::string Text(std::uint32_t a_u32Size) {
  static const char* const s_aszModules[] = {"os_coscfg.cpp", "os_cosmem.cpp", "os_cosfile_package.cpp",
                                             "os_coslog.cpp", "os_cosxml.cpp", "os_costhread.cpp"};
  static const char* const s_aszTexts[] = {"thr>>> stopping...<worker>", "sync>>> waiting for group...<scan>",
                                           "xml>>> tag not found...<uniquename>",
                                           "CreateFileW failed...2 0x0 0x0 0x0 0x0 <C:\\ProgramData\\Qrx\\log>"};
  std::string l_s;
  l_s.reserve(a_u32Size + 512);
  char l_sz[512];
  unsigned l_uMs = 0;
  for (int l_iLine = 0; l_s.size() < a_u32Size; ++l_iLine) {
    l_uMs += Next() % 40;
    const unsigned l_uText = Next() % 5;  // 4: a memory line with its address and size
    int l_i = std::snprintf(l_sz, sizeof(l_sz), "%05d %02u%02u%02u%03u %-32.32s %5u T%04u ", l_iLine % 100000,
                            (l_uMs / 3600000) % 24, (l_uMs / 60000) % 60, (l_uMs / 1000) % 60, l_uMs % 1000,
                            s_aszModules[Next() % 6], 100 + (Next() % 8) * 37, 4000 + Next() % 4);
    l_s.append(l_sz, static_cast<std::size_t>(l_i));
    if (l_uText < 4) {
      l_s += s_aszTexts[l_uText];
    } else {
      l_i = std::snprintf(l_sz, sizeof(l_sz), "mem>>> addr:%08X  size:%7d  new COsFileImpl",
                          0x02A40000u + (Next() << 4), static_cast<int>(Next()));
      l_s.append(l_sz, static_cast<std::size_t>(l_i));
    }
    l_s += "\r\n";
  }
  l_s.resize(a_u32Size);
  return l_s;
}

struct File {
  std::string m_sName;
  std::uint32_t m_u32Size;
};
const File s_afile[] = {{"scan.log", 100 * MIB}, {"t0.txt", 10 * MIB}, {"t1.txt", 10 * MIB}, {"t2.txt", 10 * MIB},
                        {"t3.txt", 10 * MIB},    {"t4.txt", 10 * MIB}, {"t5.txt", 10 * MIB}, {"t6.txt", 10 * MIB},
                        {"t7.txt", 10 * MIB},    {"t8.txt", 10 * MIB}, {"t9.txt", 10 * MIB}};

// The memory the process has touched: its working set, now or at its peak.
std::uint64_t WorkingSet(bool a_bPeak) {
  PROCESS_MEMORY_COUNTERS l_pmc = {};
  l_pmc.cb = sizeof(l_pmc);
  GetProcessMemoryInfo(GetCurrentProcess(), &l_pmc, sizeof(l_pmc));
  return a_bPeak ? l_pmc.PeakWorkingSetSize : l_pmc.WorkingSetSize;
}

class CSource : public COsByteSource {
 public:
  explicit CSource(COsFile* a_posfile) : m_posfile(a_posfile) {}
  EOSSTS Read(void* a_pv, std::uint32_t a_u32Bytes, std::uint32_t* a_pu32Read) override {
    return m_posfile->Read(a_pv, a_u32Bytes, a_pu32Read);
  }
  EOSSTS Skip(std::uint64_t a_u64Bytes) override {
    return m_posfile->SetFilePointer64(OS_FILE_POINTER_CURRENT, static_cast<std::int64_t>(a_u64Bytes));
  }
  COsFile* m_posfile;
};
class CCount : public COsByteSink {
 public:
  EOSSTS Write(const void*, std::uint32_t a_u32Bytes) override {
    m_u64 += a_u32Bytes;
    return OS_STS_SUCCESS;
  }
  std::uint64_t m_u64 = 0;
};
class CVerify : public COsPackageVisitor {
 public:
  EOSSTS FileBegin(const OsPackageRecord&, COsByteSink** a_pp) override {
    *a_pp = &m_count;
    return OS_STS_SUCCESS;
  }
  CCount m_count;
};

EOSSTS Verify(const std::string& a_sPackage) {
  COsFile l_osfile;
  std::uint64_t l_u64 = 0;
  if (l_osfile.Open(a_sPackage.c_str(), OS_FILE_OPEN_EXISTING, OS_FILE_ACCESS_READ, OS_FILE_SHARE_READ) !=
          OS_STS_SUCCESS ||
      l_osfile.Size64(&l_u64) != OS_STS_SUCCESS)
    return OS_STS_FAIL;
  CSource l_source(&l_osfile);
  CVerify l_verify;
  return OsPackageWalk(&l_source, l_u64, a_sPackage.c_str(), &l_verify, nullptr, nullptr);
}

// One operation in this process: its seconds and its peak above the start.
int Child(const std::string& a_sMode, const std::string& a_sDir) {
  OsServicesStart(nullptr);
  const std::uint64_t l_u64Start = WorkingSet(false);
  COsFile l_osfile;
  const std::string l_sPackage = a_sDir + "\\tree.pkg";
  const double l_dStart = Now();
  const EOSSTS l_eossts =
      a_sMode == "write" ? l_osfile.PackageWrite(l_sPackage.c_str(), (a_sDir + "\\tree").c_str(), false,
                                                 OS_FILE_PACKAGE_CREATE, true, OS_COMPRESS_AUTOMATIC, nullptr)
      : a_sMode == "verify"
          ? Verify(l_sPackage)
          : l_osfile.PackageExtract((a_sDir + "\\out").c_str(), l_sPackage.c_str(), false, nullptr, false);
  const double l_dSeconds = Now() - l_dStart;
  const std::uint64_t l_u64Peak = WorkingSet(true);
  OsServicesStop();
  std::printf("%d %.6f %llu\n", static_cast<int>(l_eossts), l_dSeconds,
              static_cast<unsigned long long>(l_u64Peak > l_u64Start ? l_u64Peak - l_u64Start : 0));
  return l_eossts == OS_STS_SUCCESS ? 0 : 1;
}

struct Run {
  bool m_bOk = false;
  double m_dSeconds = 0;
  double m_dPeakMib = 0;
};

Run RunChild(const char* a_szMode, const std::string& a_sDir) {
  wchar_t l_wszExe[MAX_PATH];
  GetModuleFileNameW(nullptr, l_wszExe, MAX_PATH);
  const std::string l_sCommand = std::string(" ") + a_szMode + " \"" + a_sDir + "\"";
  std::wstring l_wsCommand =
      L"\"" + std::wstring(l_wszExe) + L"\"" + std::wstring(l_sCommand.begin(), l_sCommand.end());
  SECURITY_ATTRIBUTES l_sa = {sizeof(l_sa), nullptr, TRUE};
  HANDLE l_hRead = nullptr, l_hWrite = nullptr;
  Run l_run;
  if (!CreatePipe(&l_hRead, &l_hWrite, &l_sa, 0)) return l_run;
  SetHandleInformation(l_hRead, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW l_si = {};
  l_si.cb = sizeof(l_si);
  l_si.dwFlags = STARTF_USESTDHANDLES;
  l_si.hStdOutput = l_hWrite;
  l_si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION l_pi = {};
  const BOOL l_b =
      CreateProcessW(nullptr, l_wsCommand.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &l_si, &l_pi);
  CloseHandle(l_hWrite);
  std::string l_sOut;
  if (l_b) {
    char l_ac[256];
    DWORD l_dw = 0;
    while (ReadFile(l_hRead, l_ac, sizeof(l_ac), &l_dw, nullptr) && l_dw > 0) l_sOut.append(l_ac, l_dw);
    WaitForSingleObject(l_pi.hProcess, INFINITE);
    CloseHandle(l_pi.hProcess);
    CloseHandle(l_pi.hThread);
  }
  CloseHandle(l_hRead);
  int l_iSts = -1;
  unsigned long long l_ullPeak = 0;
  if (std::sscanf(l_sOut.c_str(), "%d %lf %llu", &l_iSts, &l_run.m_dSeconds, &l_ullPeak) == 3 && l_iSts == 0) {
    l_run.m_bOk = true;
    l_run.m_dPeakMib = static_cast<double>(l_ullPeak) / MIB;
  }
  return l_run;
}

double Median(std::vector<double> a_v) {
  std::sort(a_v.begin(), a_v.end());
  return a_v[a_v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3) return Child(argv[1], argv[2]);
  const int l_iRuns = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  OsServicesStart(nullptr);
  char l_szTemp[MAX_PATH];
  GetTempPathA(MAX_PATH, l_szTemp);
  const std::string l_sDir = std::string(l_szTemp) + "qrxpkgbench" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(l_sDir.c_str(), nullptr);
  CreateDirectoryA((l_sDir + "\\tree").c_str(), nullptr);

  // The tree, and the container's own speed on the same bytes with the
  // method each file gets, piece by piece as the writer cuts them.
  std::uint64_t l_u64Total = 0;
  std::vector<double> l_compress, l_decompress;
  std::vector<std::string> l_contents;
  for (const File& l_file : s_afile) {
    l_contents.push_back(Text(l_file.m_u32Size));
    const std::string l_sPath = l_sDir + "\\tree\\" + l_file.m_sName;
    FILE* const l_pfile = std::fopen(l_sPath.c_str(), "wb");
    if (l_pfile == nullptr || std::fwrite(l_contents.back().data(), 1, l_file.m_u32Size, l_pfile) != l_file.m_u32Size) {
      std::fprintf(stderr, "cannot write %s\n", l_sPath.c_str());
      return 1;
    }
    std::fclose(l_pfile);
    l_u64Total += l_file.m_u32Size;
  }
  std::vector<std::uint8_t> l_container(OS_SPLIT_PIECE_SIZE + OS_SPLIT_SLACK), l_scratch(l_container.size()),
      l_output(l_container.size());
  for (int l_iRun = 0; l_iRun < l_iRuns; ++l_iRun) {
    double l_dCompress = 0, l_dDecompress = 0;
    for (std::size_t l_i = 0; l_i < l_contents.size(); ++l_i) {
      const std::string& l_s = l_contents[l_i];
      const EOSCOMPRESS l_eoscompress =
          OsSplitChooseMethod(s_afile[l_i].m_sName.c_str(), l_s.size(), OS_COMPRESS_AUTOMATIC);
      OsCompressContext l_context;
      for (std::size_t l_sizet = 0; l_sizet < l_s.size(); l_sizet += OS_SPLIT_PIECE_SIZE) {
        const std::uint32_t l_u32 =
            static_cast<std::uint32_t>(std::min<std::size_t>(OS_SPLIT_PIECE_SIZE, l_s.size() - l_sizet));
        std::uint32_t l_u32Container = static_cast<std::uint32_t>(l_container.size());
        double l_d = Now();
        const EOSSTS l_eosstsC = OsFileCompress(l_container.data(), &l_u32Container, l_s.data() + l_sizet, l_u32,
                                                l_eoscompress, l_scratch.data(), &l_context);
        l_dCompress += Now() - l_d;
        std::uint32_t l_u32Output = static_cast<std::uint32_t>(l_output.size());
        l_d = Now();
        const EOSSTS l_eosstsD =
            OsFileDecompress(l_output.data(), &l_u32Output, l_container.data(), l_u32Container, l_scratch.data());
        l_dDecompress += Now() - l_d;
        if (l_eosstsC != OS_STS_SUCCESS || l_eosstsD != OS_STS_SUCCESS || l_u32Output != l_u32) {
          std::fprintf(stderr, "the container failed\n");
          return 1;
        }
      }
      OsFileCompressContextFree(&l_context);
    }
    l_compress.push_back(static_cast<double>(l_u64Total) / MIB / l_dCompress);
    l_decompress.push_back(static_cast<double>(l_u64Total) / MIB / l_dDecompress);
  }
  l_contents.clear();
  l_contents.shrink_to_fit();

  std::vector<double> l_write, l_extract, l_verify, l_peakWrite, l_peakExtract;
  for (int l_iRun = 0; l_iRun < l_iRuns; ++l_iRun) {
    const Run l_runWrite = RunChild("write", l_sDir);
    const Run l_runExtract = RunChild("extract", l_sDir);
    const Run l_runVerify = RunChild("verify", l_sDir);
    if (!l_runWrite.m_bOk || !l_runExtract.m_bOk || !l_runVerify.m_bOk) {
      std::fprintf(stderr, "the package write or extract failed\n");
      return 1;
    }
    l_write.push_back(static_cast<double>(l_u64Total) / MIB / l_runWrite.m_dSeconds);
    l_extract.push_back(static_cast<double>(l_u64Total) / MIB / l_runExtract.m_dSeconds);
    l_verify.push_back(static_cast<double>(l_u64Total) / MIB / l_runVerify.m_dSeconds);
    l_peakWrite.push_back(l_runWrite.m_dPeakMib);
    l_peakExtract.push_back(l_runExtract.m_dPeakMib);
  }
  COsFile l_osfile;
  l_osfile.Open((l_sDir + "\\tree.pkg").c_str(), OS_FILE_OPEN_EXISTING, OS_FILE_ACCESS_READ, OS_FILE_SHARE_READ);
  std::uint64_t l_u64Package = 0;
  l_osfile.Size64(&l_u64Package);
  l_osfile.Close();
  OsFileDelete(l_sDir.c_str(), OS_FILE_TYPE_DIRECTORY, true);
  OsServicesStop();

  // Three buffers of a piece and its slack, and one block's arrays of the
  // transform (three of 65537 entries) and of its inverse (one).
  const double l_dBound = (3.0 * (OS_SPLIT_PIECE_SIZE + OS_SPLIT_SLACK) + 4.0 * 4 * (OS_COMPRESS_BLOCK_SIZE + 1)) / MIB;
  std::printf("tree: %.0f MiB in %zu files (one 100 MiB log, ten 10 MiB texts), package %.1f MiB; median of %d runs\n",
              static_cast<double>(l_u64Total) / MIB, sizeof(s_afile) / sizeof(s_afile[0]),
              static_cast<double>(l_u64Package) / MIB, l_iRuns);
  std::printf("%-33s %10s %10s\n", "", "write", "extract");
  std::printf("%-33s %10.1f %10.1f\n", "container in memory MB/s", Median(l_compress), Median(l_decompress));
  std::printf("%-33s %10.1f %10.1f\n", "package on files MB/s", Median(l_write), Median(l_extract));
  std::printf("%-33s %10s %10.1f\n", "verify (no files) MB/s", "", Median(l_verify));
  std::printf("%-33s %10.2f %10.2f   (goal >= 0.80)\n", "package / container", Median(l_write) / Median(l_compress),
              Median(l_extract) / Median(l_decompress));
  std::printf("%-33s %10.1f %10.1f   (bound %.1f MiB)\n", "peak working set above start MiB",
              *std::max_element(l_peakWrite.begin(), l_peakWrite.end()),
              *std::max_element(l_peakExtract.begin(), l_peakExtract.end()), l_dBound);
  return 0;
}
