// Throughput and size of the compression container (block-sorting pipeline
// and run-length only) against bzip2 at block size 1, in one process, per
// input class; the same on 2 workers against one, with the containers of 2
// and 8 workers compared byte for byte with one thread's; and the slowest
// single 64 KiB block of the full pipeline.
//
// Usage: os_compress_bench <text corpus file> [runs]. Every figure is the
// median of the runs, with the minimum and maximum beside it; the coders of
// an input take their runs in turn. The speed-up of 2 workers is the median
// of each round's own ratio, the two timed back to back (in either order by
// turns), so that a stretch of the host's load falls on both of a pair. A
// virtual machine's host may hold one of its processors for seconds: a round
// (all four coders) is timed again, up to 4 times, when two threads that
// compress apart just before or just after its pair ran at less than 1.8
// times one thread's speed; a run can so take up to five times as long.
// The table says how often that was ("again") and gives the median of those
// figures ("machine": 2.00x where two threads get two whole processors).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <bzlib.h>

#include "os_cosfile_compress.h"
#include "os_workers.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t s_sizetClassSize = 16u << 20;

double Seconds(const std::function<void()>& a_fn) {
  const auto l_start = std::chrono::steady_clock::now();
  a_fn();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - l_start).count();
}

struct CFigure {
  double m_dMedian = 0, m_dMin = 0, m_dMax = 0;  // MB/s
};

CFigure Throughput(std::size_t a_sizetBytes, std::vector<double> a_vecSeconds) {
  std::sort(a_vecSeconds.begin(), a_vecSeconds.end());
  const double l_dMb = static_cast<double>(a_sizetBytes) / 1e6;
  CFigure l_figure;
  l_figure.m_dMedian = l_dMb / a_vecSeconds[a_vecSeconds.size() / 2];
  l_figure.m_dMax = l_dMb / a_vecSeconds.front();
  l_figure.m_dMin = l_dMb / a_vecSeconds.back();
  return l_figure;
}

std::uint64_t s_u64Seed = 88172645463325252ull;
std::uint8_t NextByte() {
  s_u64Seed ^= s_u64Seed << 13;
  s_u64Seed ^= s_u64Seed >> 7;
  s_u64Seed ^= s_u64Seed << 17;
  return static_cast<std::uint8_t>(s_u64Seed >> 29);
}

// Lines in the library's own log format: sequence, time, module, line,
// error, thread, state, mark, message.
Bytes SyntheticLog(std::size_t a_sizet) {
  static const char* const s_aszModules[] = {"os_coscfg.cpp", "os_cosmem.cpp", "os_cosfile_compress.cpp",
                                             "os_coslog.cpp", "os_cosxml.cpp", "os_costhread.cpp"};
  static const char* const s_aszTexts[] = {"mem>>> addr:%p  size:%7d  new COsFileImpl",
                                           "thr>>> stopping...<worker>",
                                           "mem>>> +   AD:%p   SZ:%-9d  AC:%-6d  FC:%-6d  CC:%-6d",
                                           "sync>>> waiting for group...<scan>",
                                           "xml>>> tag not found...<uniquename>",
                                           "CreateFileW failed...2 0x0 0x0 0x0 0x0 <C:\\ProgramData\\Qrx\\log>"};
  Bytes l_bytes;
  l_bytes.reserve(a_sizet + 512);
  char l_sz[512];
  unsigned l_uMs = 0;
  for (int l_iLine = 0; l_bytes.size() < a_sizet; ++l_iLine) {
    l_uMs += NextByte() % 40;
    const unsigned l_uModule = NextByte() % 6;
    const unsigned l_uText = NextByte() % 6;
    const int l_iLength = std::snprintf(
        l_sz, sizeof(l_sz), "%05d %02u%02u%02u%03u %-32.32s %5u %5u T%04u S1 V%c ", l_iLine % 100000,
        (l_uMs / 3600000) % 24, (l_uMs / 60000) % 60, (l_uMs / 1000) % 60, l_uMs % 1000, s_aszModules[l_uModule],
        100 + (NextByte() % 8) * 37, l_uText == 5 ? 2u : 0u, 4000 + NextByte() % 4, l_uText == 5 ? 'E' : '.');
    std::string l_s(l_sz, static_cast<std::size_t>(l_iLength));
    std::string l_sText = s_aszTexts[l_uText];
    const std::size_t l_sizetP = l_sText.find("%p");
    if (l_sizetP != std::string::npos) {
      std::snprintf(l_sz, sizeof(l_sz), "%08X", 0x02A40000u + (NextByte() << 4));
      l_sText.replace(l_sizetP, 2, l_sz);
    }
    l_s += l_sText + "\r\n";
    l_bytes.insert(l_bytes.end(), l_s.begin(), l_s.end());
  }
  l_bytes.resize(a_sizet);
  return l_bytes;
}

struct CResult {
  CFigure m_compress, m_decompress;
  double m_dRatio = 0;
};

// One coder on one input: each Round() compresses and decompresses once and
// keeps the times. The coders of an input take their rounds in turn, so a
// stretch of the machine's other load falls on all of them alike.
class CCoder {
 public:
  virtual ~CCoder() = default;
  virtual void Round() = 0;
  CResult Result() const {
    return {Throughput(m_sizetInput, m_vecCompress), Throughput(m_sizetInput, m_vecDecompress), m_dRatio};
  }
  // Forgets the last round.
  void Drop() {
    m_vecCompress.pop_back();
    m_vecDecompress.pop_back();
  }
  const std::vector<double>& CompressSeconds() const { return m_vecCompress; }
  const std::vector<double>& DecompressSeconds() const { return m_vecDecompress; }

 protected:
  explicit CCoder(std::size_t a_sizetInput) : m_sizetInput(a_sizetInput) {}
  std::size_t m_sizetInput;
  std::vector<double> m_vecCompress, m_vecDecompress;
  double m_dRatio = 0;
};

class CContainerCoder final : public CCoder {
 public:
  CContainerCoder(const Bytes& a_input, EOSCOMPRESS a_eoscompress, COsWorkers* a_posworkers)
      : CCoder(a_input.size()),
        m_input(a_input),
        m_eoscompress(a_eoscompress),
        m_posworkers(a_posworkers),
        m_u32Bound(static_cast<std::uint32_t>(OsFileCompressBound(static_cast<std::uint32_t>(a_input.size())))),
        m_container(m_u32Bound),
        m_scratch(m_u32Bound),
        m_output(a_input.size() + (1u << 20)) {}

  void Round() override {
    const std::uint32_t l_u32Length = static_cast<std::uint32_t>(m_input.size());
    OsCompressContext l_context;
    m_vecCompress.push_back(Seconds([&] {
      m_u32Container = m_u32Bound;
      if (OsFileCompress(m_container.data(), &m_u32Container, m_input.data(), l_u32Length, m_eoscompress,
                         m_scratch.data(), &l_context, m_posworkers) != OS_STS_SUCCESS) {
        std::fprintf(stderr, "OsFileCompress failed\n");
        std::exit(1);
      }
    }));
    OsFileCompressContextFree(&l_context);
    std::uint32_t l_u32Out = 0;
    m_vecDecompress.push_back(Seconds([&] {
      l_u32Out = static_cast<std::uint32_t>(m_output.size());
      if (OsFileDecompress(m_output.data(), &l_u32Out, m_container.data(), m_u32Container, m_scratch.data(),
                           m_posworkers) != OS_STS_SUCCESS) {
        std::fprintf(stderr, "OsFileDecompress failed\n");
        std::exit(1);
      }
    }));
    if (l_u32Out != l_u32Length || std::memcmp(m_output.data(), m_input.data(), l_u32Length) != 0) {
      std::fprintf(stderr, "the container did not round-trip\n");
      std::exit(1);
    }
    m_dRatio = static_cast<double>(m_u32Container) / static_cast<double>(l_u32Length);
  }
  // The last container.
  Bytes Container() const { return Bytes(m_container.begin(), m_container.begin() + m_u32Container); }

 private:
  const Bytes& m_input;
  EOSCOMPRESS m_eoscompress;
  COsWorkers* m_posworkers;
  std::uint32_t m_u32Bound;
  Bytes m_container, m_scratch, m_output;
  std::uint32_t m_u32Container = 0;
};

class CBzip2Coder final : public CCoder {
 public:
  explicit CBzip2Coder(const Bytes& a_input)
      : CCoder(a_input.size()),
        m_input(a_input),
        m_compressed(a_input.size() + a_input.size() / 100 + 1024),
        m_output(a_input.size() + 1) {}

  void Round() override {
    const unsigned l_uLength = static_cast<unsigned>(m_input.size());
    unsigned l_uCompressed = 0;
    m_vecCompress.push_back(Seconds([&] {
      l_uCompressed = static_cast<unsigned>(m_compressed.size());
      if (BZ2_bzBuffToBuffCompress(m_compressed.data(), &l_uCompressed, reinterpret_cast<char*>(m_input.data()),
                                   l_uLength, 1, 0, 0) != BZ_OK) {
        std::fprintf(stderr, "BZ2_bzBuffToBuffCompress failed\n");
        std::exit(1);
      }
    }));
    unsigned l_uOut = 0;
    m_vecDecompress.push_back(Seconds([&] {
      l_uOut = static_cast<unsigned>(m_output.size());
      if (BZ2_bzBuffToBuffDecompress(m_output.data(), &l_uOut, m_compressed.data(), l_uCompressed, 0, 0) != BZ_OK) {
        std::fprintf(stderr, "BZ2_bzBuffToBuffDecompress failed\n");
        std::exit(1);
      }
    }));
    if (l_uOut != l_uLength || std::memcmp(m_output.data(), m_input.data(), l_uLength) != 0) {
      std::fprintf(stderr, "bzip2 did not round-trip\n");
      std::exit(1);
    }
    m_dRatio = static_cast<double>(l_uCompressed) / static_cast<double>(l_uLength);
  }

 private:
  Bytes m_input;  // the library takes non-const buffers
  std::vector<char> m_compressed, m_output;
};

// The slowest 64 KiB block of the full pipeline, each block compressed as a
// container of its own (best of three tries per block, to keep other
// processes' time slices out of the figure).
double SlowestBlockMs(const Bytes& a_input) {
  Bytes l_container(OsFileCompressBound(OS_COMPRESS_BLOCK_SIZE)), l_scratch(l_container.size());
  OsCompressContext l_context;
  double l_dWorst = 0;
  for (std::size_t l_u = 0; l_u + OS_COMPRESS_BLOCK_SIZE <= a_input.size(); l_u += OS_COMPRESS_BLOCK_SIZE) {
    double l_dBest = 1e9;
    for (int l_iTry = 0; l_iTry < 3; ++l_iTry) {
      l_dBest = std::min(l_dBest, Seconds([&] {
                           std::uint32_t l_u32Size = static_cast<std::uint32_t>(l_container.size());
                           OsFileCompress(l_container.data(), &l_u32Size, a_input.data() + l_u, OS_COMPRESS_BLOCK_SIZE,
                                          OS_COMPRESS_BWT, l_scratch.data(), &l_context);
                         }));
    }
    l_dWorst = std::max(l_dWorst, l_dBest);
  }
  OsFileCompressContextFree(&l_context);
  return l_dWorst * 1000;
}

// How much of two processors the machine gives the coder's kind of work
// now: the same two blocks of text compressed by one thread, then by two
// threads at once, each with its own buffers and context and timed from the
// moment both run (an idle processor takes a while to wake); the sum of the
// two speeds against the one's. A host that holds a processor, or runs
// another guest on the other half of its core, shows here.
class CParallelism {
 public:
  explicit CParallelism(const Bytes& a_text) : m_text(a_text.begin(), a_text.begin() + 2 * OS_COMPRESS_BLOCK_SIZE) {
    for (CSide& l_side : m_aside) {
      l_side.m_container.resize(OsFileCompressBound(static_cast<std::uint32_t>(m_text.size())));
      l_side.m_scratch.resize(l_side.m_container.size());
      Compress(&l_side);  // the context's arrays, made and touched
    }
  }
  ~CParallelism() {
    for (CSide& l_side : m_aside) OsFileCompressContextFree(&l_side.m_context);
  }
  double Now() {
    const double l_dOne = Seconds([&] { Compress(&m_aside[0]); });
    std::atomic<int> l_iReady{0};
    double l_adSeconds[2] = {0, 0};
    const auto l_timed = [&](int a_i) {
      l_iReady.fetch_add(1);
      while (l_iReady.load() < 2) {
      }
      l_adSeconds[a_i] = Seconds([&] { Compress(&m_aside[a_i]); });
    };
    std::thread l_thread(l_timed, 1);
    l_timed(0);
    l_thread.join();
    return l_dOne / l_adSeconds[0] + l_dOne / l_adSeconds[1];
  }

 private:
  struct CSide {
    Bytes m_container, m_scratch;
    OsCompressContext m_context;
  };
  void Compress(CSide* a_pside) {
    std::uint32_t l_u32Size = static_cast<std::uint32_t>(a_pside->m_container.size());
    if (OsFileCompress(a_pside->m_container.data(), &l_u32Size, m_text.data(),
                       static_cast<std::uint32_t>(m_text.size()), OS_COMPRESS_BWT, a_pside->m_scratch.data(),
                       &a_pside->m_context) != OS_STS_SUCCESS) {
      std::fprintf(stderr, "OsFileCompress failed\n");
      std::exit(1);
    }
  }
  Bytes m_text;
  CSide m_aside[2];
};

double Median(std::vector<double> a_vec) {
  std::sort(a_vec.begin(), a_vec.end());
  return a_vec[a_vec.size() / 2];
}

// The median over the rounds of a_vecSlow[i] / a_vecFast[i].
double MedianRatio(const std::vector<double>& a_vecSlow, const std::vector<double>& a_vecFast) {
  std::vector<double> l_vecRatios;
  for (std::size_t l_u = 0; l_u < a_vecSlow.size(); ++l_u) l_vecRatios.push_back(a_vecSlow[l_u] / a_vecFast[l_u]);
  return Median(l_vecRatios);
}

void PrintFigure(const CFigure& a_figure) {
  std::printf(" %7.1f [%6.1f-%6.1f]", a_figure.m_dMedian, a_figure.m_dMin, a_figure.m_dMax);
}

}  // namespace

int main(int a_iArgc, char** a_aszArgv) {
  if (a_iArgc < 2) {
    std::fprintf(stderr, "usage: %s <text corpus> [runs]\n", a_aszArgv[0]);
    return 2;
  }
  const int l_iRuns = a_iArgc > 2 ? std::max(5, std::atoi(a_aszArgv[2])) : 5;
  std::ifstream l_file(a_aszArgv[1], std::ios::binary);
  Bytes l_corpus((std::istreambuf_iterator<char>(l_file)), std::istreambuf_iterator<char>());
  if (l_corpus.size() < (32u << 20)) {
    std::fprintf(stderr, "the text corpus has %zu bytes, fewer than 32 MiB\n", l_corpus.size());
    return 2;
  }

  std::vector<std::pair<std::string, Bytes>> l_vecInputs;
  l_vecInputs.emplace_back("text corpus", std::move(l_corpus));
  l_vecInputs.emplace_back("synthetic log", SyntheticLog(s_sizetClassSize));
  Bytes l_random(s_sizetClassSize);
  for (std::uint8_t& l_u8 : l_random) l_u8 = NextByte();
  l_vecInputs.emplace_back("random", std::move(l_random));
  l_vecInputs.emplace_back("all zero", Bytes(s_sizetClassSize, 0));
  Bytes l_period2(s_sizetClassSize), l_period1000(s_sizetClassSize), l_unit(1000);
  for (std::uint8_t& l_u8 : l_unit) l_u8 = NextByte();
  for (std::size_t l_u = 0; l_u < s_sizetClassSize; ++l_u) {
    l_period2[l_u] = (l_u & 1) != 0 ? 'b' : 'a';
    l_period1000[l_u] = l_unit[l_u % 1000];
  }
  l_vecInputs.emplace_back("period 2", std::move(l_period2));
  l_vecInputs.emplace_back("period 1000", std::move(l_period1000));

  std::printf("MB/s: median [min-max] of %d runs; ratio = compressed size / input size\n\n", l_iRuns);
  std::printf("%-14s %-9s %9s %26s %26s %8s\n", "input", "coder", "MiB", "compress MB/s", "decompress MB/s", "ratio");
  double l_dTextCompress = 0;
  std::vector<std::pair<std::string, double>> l_vecMethod2Compress;
  std::vector<std::pair<std::string, double>> l_vecSlowest;
  COsStdWorkers l_two(2), l_eight(8);
  CParallelism l_parallelism(l_vecInputs[0].second);
  std::vector<std::string> l_vecWorkers;
  for (const auto& l_input : l_vecInputs) {
    CContainerCoder l_one(l_input.second, OS_COMPRESS_BWT, nullptr), l_onTwo(l_input.second, OS_COMPRESS_BWT, &l_two),
        l_onEight(l_input.second, OS_COMPRESS_BWT, &l_eight), l_runs(l_input.second, OS_COMPRESS_RLE, nullptr);
    CBzip2Coder l_bzip2(l_input.second);
    l_onEight.Round();
    int l_iAgain = 0;
    std::vector<double> l_vecParallel;  // every probe's figure
    for (int l_iRun = 0; l_iRun < l_iRuns; ++l_iRun) {
      CCoder* const l_pcoderFirst = l_iRun % 2 == 0 ? static_cast<CCoder*>(&l_one) : &l_onTwo;
      CCoder* const l_pcoderSecond = l_iRun % 2 == 0 ? static_cast<CCoder*>(&l_onTwo) : &l_one;
      for (int l_iTry = 0;; ++l_iTry) {
        l_vecParallel.push_back(l_parallelism.Now());
        l_pcoderFirst->Round();
        l_pcoderSecond->Round();
        l_vecParallel.push_back(l_parallelism.Now());
        l_bzip2.Round();
        l_runs.Round();
        if (std::min(l_vecParallel.end()[-2], l_vecParallel.back()) >= 1.8 || l_iTry == 4) break;
        for (CCoder* l_pcoder : std::initializer_list<CCoder*>{&l_one, &l_onTwo, &l_bzip2, &l_runs}) l_pcoder->Drop();
        ++l_iAgain;
      }
    }
    const CResult l_bwt = l_one.Result(), l_bwt2 = l_onTwo.Result(), l_rle = l_runs.Result(), l_bz = l_bzip2.Result();
    if (l_onTwo.Container() != l_one.Container() || l_onEight.Container() != l_one.Container()) {
      std::fprintf(stderr, "%s: the containers of 2 or 8 workers differ from one thread's\n", l_input.first.c_str());
      return 1;
    }
    char l_sz[160];
    std::snprintf(l_sz, sizeof(l_sz), "%-14s %9.2fx %11.2fx %9d %9.2fx   identical on 1, 2 and 8 workers",
                  l_input.first.c_str(), MedianRatio(l_one.CompressSeconds(), l_onTwo.CompressSeconds()),
                  MedianRatio(l_one.DecompressSeconds(), l_onTwo.DecompressSeconds()), l_iAgain, Median(l_vecParallel));
    l_vecWorkers.emplace_back(l_sz);
    const double l_dMib = static_cast<double>(l_input.second.size()) / (1 << 20);
    const std::pair<const char*, const CResult*> l_arows[] = {
        {"method 2", &l_bwt}, {"m2 on 2", &l_bwt2}, {"method 3", &l_rle}, {"bzip2 -1", &l_bz}};
    for (const auto& l_row : l_arows) {
      std::printf("%-14s %-9s %9.1f", l_input.first.c_str(), l_row.first, l_dMib);
      PrintFigure(l_row.second->m_compress);
      PrintFigure(l_row.second->m_decompress);
      std::printf(" %8.4f\n", l_row.second->m_dRatio);
    }
    if (l_input.first == "text corpus") {
      l_dTextCompress = l_bwt.m_compress.m_dMedian;
      std::printf(
          "  text corpus, method 2 / bzip2: compress %.2fx, decompress %.2fx; method 3 / bzip2 compress %.1fx\n",
          l_bwt.m_compress.m_dMedian / l_bz.m_compress.m_dMedian,
          l_bwt.m_decompress.m_dMedian / l_bz.m_decompress.m_dMedian,
          l_rle.m_compress.m_dMedian / l_bz.m_compress.m_dMedian);
    }
    l_vecMethod2Compress.emplace_back(l_input.first, l_bwt.m_compress.m_dMedian);
    l_vecSlowest.emplace_back(l_input.first, SlowestBlockMs(l_input.second));
    std::fflush(stdout);
  }
  std::printf("\n%-14s %28s %22s\n", "input", "method 2 compress / text", "slowest 64 KiB block");
  for (std::size_t l_u = 0; l_u < l_vecMethod2Compress.size(); ++l_u) {
    std::printf("%-14s %28.2f %19.2f ms\n", l_vecMethod2Compress[l_u].first.c_str(),
                l_vecMethod2Compress[l_u].second / l_dTextCompress, l_vecSlowest[l_u].second);
  }
  std::printf(
      "\nmethod 2 on 2 workers against one, median of the rounds' own ratios (goal: at least 1.6x on 2 "
      "processors)\n%-14s %10s %12s %9s %10s\n",
      "input", "compress", "decompress", "again", "machine");
  for (const std::string& l_s : l_vecWorkers) std::printf("%s\n", l_s.c_str());
  return 0;
}
