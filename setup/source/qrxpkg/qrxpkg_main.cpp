// qrxpkg's commands: the argument parser, the help, the output of list,
// dump and verify (all through the platform-free walk), the order of
// extract and the progress line. Nothing here touches a file system; the
// platform's back end does (qrxpkg.h).
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "os_cosstring.h"
#include "qrxpkg.h"

namespace {

char s_szError[512];

constexpr const char* s_szHint = "Try 'qrxpkg --help'.";

int Usage(const char* a_szFormat, ...) OS_FORMAT_PRINTF(1, 2);
int Usage(const char* a_szFormat, ...) {
  char l_sz[512];
  va_list l_valist;
  va_start(l_valist, a_szFormat);
  if (SStrVprintf(l_sz, sizeof(l_sz), a_szFormat, l_valist) < 0) l_sz[0] = '\0';
  va_end(l_valist);
  std::fprintf(stderr, "qrxpkg: %s\n%s\n", l_sz, s_szHint);
  return QRXPKG_EXIT_USAGE;
}

void Help() {
  std::fputs(
      "Usage: qrxpkg COMMAND PKG [ARGUMENTS] [OPTIONS]\n"
      "\n"
      "  list PKG              one line per record: type, size, modified time (UTC), name\n"
      "  dump PKG              the package's headers and records as text\n"
      "  verify PKG            decodes every file; exit 0 only when all of it is sound\n"
      "  extract PKG DIR       recreates the package's tree below DIR (created when missing);\n"
      "                        the tree of the package's first directory is replaced,\n"
      "                        unless --keep\n",
      stdout);
  if (QrxPkgCanCreate())
    std::fputs(
        "  create PKG SRC        packs the directory, file or pattern SRC; --append adds to PKG,\n"
        "                        --images keeps pictures, --recursive descends into\n"
        "                        subdirectories, --method N codes every file with method N\n"
        "                        (1 chosen per file, the default; 2 block-sorting; 3 run-length)\n",
        stdout);
  std::fputs(
      "\n"
      "  --verbose             the engine's log lines on standard error (on Windows, where\n"
      "                        the library's log is)\n"
      "  --threads N           codes and decodes on N threads (default: one per processor)\n"
      "  --help                this text\n"
      "\n"
      "Exit codes: 0 sound, 1 damaged or refused input or a failed operation, 2 usage.\n",
      stdout);
}

// The reason of the last failure: the tool's own when it noted one, else the
// engine's.
int Failed(const char* a_szPackage) {
  const char* l_szReason = s_szError[0] != '\0' ? s_szError : OsFilePackageLastError();
  if (l_szReason[0] == '\0') l_szReason = "the operation failed";
  std::fprintf(stderr, "qrxpkg: %s: %s\n", a_szPackage, l_szReason);
  return QRXPKG_EXIT_FAILED;
}

// ---- the progress line ----

bool s_bProgress = false;
bool s_bProgressShown = false;
std::chrono::steady_clock::time_point s_timepointProgress;
constexpr int s_iProgressName = 60;  // characters of the name on the line

EOSSTS Progress(OsFilePackageProgress* a_posfilepackageprogress) {
  const auto l_timepoint = std::chrono::steady_clock::now();
  if (s_bProgressShown && l_timepoint - s_timepointProgress < std::chrono::milliseconds(100)) return OS_STS_SUCCESS;
  s_timepointProgress = l_timepoint;
  s_bProgressShown = true;
  const OsFilePackageProgress& l_p = *a_posfilepackageprogress;
  // The package's share while it is known (extracting), else the file's.
  std::uint64_t l_u64Done = l_p.m_u64RunningCount, l_u64All = l_p.m_u64TotalBytes;
  if (l_u64All == 0) l_u64Done = l_p.m_u64CurrentStep, l_u64All = l_p.m_u64FileSize;
  const unsigned l_uPercent =
      l_u64All == 0 ? 100u : static_cast<unsigned>((l_u64Done > l_u64All ? l_u64All : l_u64Done) * 100 / l_u64All);
  // The end of a long name says more than its start; a cut never begins
  // inside a UTF-8 sequence.
  const char* l_szName = l_p.m_szName;
  const std::size_t l_sizetName = std::strlen(l_szName);
  const char* l_szCut = "";
  if (l_sizetName > static_cast<std::size_t>(s_iProgressName)) {
    l_szName += l_sizetName - (s_iProgressName - 3);
    while ((static_cast<unsigned char>(*l_szName) & 0xC0) == 0x80) ++l_szName;
    l_szCut = "...";
  }
  std::fprintf(stderr, "\r%s%-*s %3u%%", l_szCut, s_iProgressName - static_cast<int>(std::strlen(l_szCut)), l_szName,
               l_uPercent);
  std::fflush(stderr);
  return OS_STS_SUCCESS;
}

void ProgressEnd() {
  if (!s_bProgressShown) return;
  std::fprintf(stderr, "\r%*s\r", s_iProgressName + 5, "");
  std::fflush(stderr);
  s_bProgressShown = false;
}

// ---- sinks and visitors of the commands ----

class CCountSink : public COsByteSink {
 public:
  EOSSTS Write(const void* a_pv, std::uint32_t a_u32Bytes) override {
    (void)a_pv;
    m_u64Bytes += a_u32Bytes;
    return OS_STS_SUCCESS;
  }
  std::uint64_t m_u64Bytes = 0;
};

class CStdoutSink : public COsByteSink {
 public:
  EOSSTS Write(const void* a_pv, std::uint32_t a_u32Bytes) override {
    return std::fwrite(a_pv, 1, a_u32Bytes, stdout) == a_u32Bytes ? OS_STS_SUCCESS : OS_STS_FAIL;
  }
};

// Prints every checked record: a damaged one ends the list with the reason
// instead of being shown.
class CListVisitor : public COsPackageVisitor {
 public:
  EOSSTS Directory(const OsPackageRecord& a_ospackagerecord, bool a_bFirst, bool a_bClosing) override {
    (void)a_bFirst, (void)a_bClosing;
    return Line("dir", a_ospackagerecord);
  }
  EOSSTS FileBegin(const OsPackageRecord& a_ospackagerecord, COsByteSink** a_pposbytesink) override {
    *a_pposbytesink = nullptr;
    return Line("file", a_ospackagerecord);
  }

 private:
  static EOSSTS Line(const char* a_szType, const OsPackageRecord& a_ospackagerecord) {
    const OsTimeRecord& l_m = a_ospackagerecord.m_ostimerecordModified;
    const int l_i =
        std::printf("%-4s %12llu %04u-%02u-%02u %02u:%02u:%02u %s\n", a_szType,
                    static_cast<unsigned long long>(a_ospackagerecord.m_u64Size), static_cast<unsigned>(l_m.m_u16Year),
                    static_cast<unsigned>(l_m.m_u16Month), static_cast<unsigned>(l_m.m_u16Day),
                    static_cast<unsigned>(l_m.m_u16Hour), static_cast<unsigned>(l_m.m_u16Minute),
                    static_cast<unsigned>(l_m.m_u16Second), a_ospackagerecord.m_szFilename);
    if (l_i >= 0) return OS_STS_SUCCESS;
    QrxPkgNoteError("cannot write the list");
    return OS_STS_FAIL;
  }
};

// Expands every file into a counting sink.
class CVerifyVisitor : public COsPackageVisitor {
 public:
  EOSSTS Record(const OsPackageRecord& a_ospackagerecord, std::uint32_t a_u32Count,
                std::uint64_t a_u64Offset) override {
    (void)a_ospackagerecord, (void)a_u64Offset;
    m_u32Records = a_u32Count;
    return OS_STS_SUCCESS;
  }
  EOSSTS FileBegin(const OsPackageRecord& a_ospackagerecord, COsByteSink** a_pposbytesink) override {
    (void)a_ospackagerecord;
    ++m_u32Files;
    *a_pposbytesink = &m_countsink;
    return OS_STS_SUCCESS;
  }
  COsWorkers* Workers(std::uint64_t a_u64FileSize) override {
    (void)a_u64FileSize;
    return QrxPkgWorkers();
  }
  std::uint32_t m_u32Records = 0;
  std::uint32_t m_u32Files = 0;
  CCountSink m_countsink;
};

EOSSTS Walk(const char* a_szPackage, COsPackageVisitor* a_posvisitor, bool a_bProgress) {
  std::uint64_t l_u64Size = 0;
  const std::unique_ptr<COsByteSource> l_posbytesource = QrxPkgOpen(a_szPackage, &l_u64Size);
  if (l_posbytesource == nullptr) return OS_STS_FAIL;
  OsFilePackageProgress l_osfilepackageprogress;
  OsFilePackageProgressInit(&l_osfilepackageprogress);
  const EOSSTS l_eossts = OsPackageWalk(l_posbytesource.get(), l_u64Size, a_szPackage, a_posvisitor,
                                        a_bProgress ? Progress : nullptr, &l_osfilepackageprogress);
  ProgressEnd();
  return l_eossts;
}

// ---- the command line ----

struct Options {
  const char* m_aszArgument[3] = {};  // the command, then its operands
  int m_iArguments = 0;
  bool m_bKeep = false;
  bool m_bAppend = false;
  bool m_bImages = false;
  bool m_bRecursive = false;
  bool m_bVerbose = false;
  bool m_bHelp = false;
  const char* m_szMethod = nullptr;
  const char* m_szThreads = nullptr;
  // The command options as given, judged against the command once it is known.
  const char* m_aszOption[8] = {};
  int m_iOptions = 0;
};

// 0 when the line parses, else the usage exit (already said).
int Parse(int a_iArgc, char** a_pszArgv, Options* a_poptions) {
  bool l_bOperandsOnly = false;
  for (int l_i = 1; l_i < a_iArgc; ++l_i) {
    const char* const l_sz = a_pszArgv[l_i];
    if (!l_bOperandsOnly && l_sz[0] == '-' && l_sz[1] != '\0') {
      bool* l_pb = nullptr;
      if (std::strcmp(l_sz, "--") == 0) {
        l_bOperandsOnly = true;
        continue;
      }
      if (std::strcmp(l_sz, "--help") == 0 || std::strcmp(l_sz, "-h") == 0) {
        a_poptions->m_bHelp = true;
        continue;
      }
      if (std::strcmp(l_sz, "--verbose") == 0) {
        a_poptions->m_bVerbose = true;
        continue;
      }
      if (std::strcmp(l_sz, "--threads") == 0) {
        if (l_i + 1 == a_iArgc) return Usage("%s needs a number", l_sz);
        a_poptions->m_szThreads = a_pszArgv[++l_i];
        continue;
      }
      if (std::strcmp(l_sz, "--keep") == 0) l_pb = &a_poptions->m_bKeep;
      if (std::strcmp(l_sz, "--append") == 0) l_pb = &a_poptions->m_bAppend;
      if (std::strcmp(l_sz, "--images") == 0) l_pb = &a_poptions->m_bImages;
      if (std::strcmp(l_sz, "--recursive") == 0) l_pb = &a_poptions->m_bRecursive;
      if (std::strcmp(l_sz, "--method") == 0) {
        if (l_i + 1 == a_iArgc) return Usage("%s needs a number", l_sz);
        a_poptions->m_szMethod = a_pszArgv[++l_i];
      } else if (l_pb != nullptr) {
        *l_pb = true;
      } else {
        return Usage("unknown option %s", l_sz);
      }
      if (a_poptions->m_iOptions == 8) return Usage("too many options (%s)", l_sz);
      a_poptions->m_aszOption[a_poptions->m_iOptions++] = l_sz;
      continue;
    }
    if (a_poptions->m_iArguments == 3) return Usage("too many arguments (%s)", l_sz);
    a_poptions->m_aszArgument[a_poptions->m_iArguments++] = l_sz;
  }
  return 0;
}

int List(const char* a_szPackage) {
  CListVisitor l_listvisitor;
  return Walk(a_szPackage, &l_listvisitor, false) == OS_STS_SUCCESS ? QRXPKG_EXIT_SOUND : Failed(a_szPackage);
}

int Dump(const char* a_szPackage) {
  CStdoutSink l_stdoutsink;
  COsPackageDump l_ospackagedump(&l_stdoutsink);
  if (l_ospackagedump.Begin(a_szPackage) != OS_STS_SUCCESS) {
    QrxPkgNoteError("cannot write the dump");
    return Failed(a_szPackage);
  }
  return Walk(a_szPackage, &l_ospackagedump, false) == OS_STS_SUCCESS ? QRXPKG_EXIT_SOUND : Failed(a_szPackage);
}

int Verify(const char* a_szPackage) {
  CVerifyVisitor l_verifyvisitor;
  if (Walk(a_szPackage, &l_verifyvisitor, s_bProgress) != OS_STS_SUCCESS) return Failed(a_szPackage);
  std::printf("%s: sound: %u records, %u files, %llu bytes\n", a_szPackage, l_verifyvisitor.m_u32Records,
              l_verifyvisitor.m_u32Files, static_cast<unsigned long long>(l_verifyvisitor.m_countsink.m_u64Bytes));
  return QRXPKG_EXIT_SOUND;
}

// The whole package is walked first: damage anywhere is refused before the
// first byte is written, and its reason can be told.
int Extract(const char* a_szPackage, const char* a_szDestination, bool a_bKeep) {
  CVerifyVisitor l_verifyvisitor;
  if (Walk(a_szPackage, &l_verifyvisitor, s_bProgress) != OS_STS_SUCCESS) return Failed(a_szPackage);
  OsFilePackageClearError();
  const EOSSTS l_eossts = QrxPkgExtract(a_szPackage, a_szDestination, a_bKeep, s_bProgress ? Progress : nullptr);
  ProgressEnd();
  return l_eossts == OS_STS_SUCCESS ? QRXPKG_EXIT_SOUND : Failed(a_szPackage);
}

int Create(const char* a_szPackage, const char* a_szSource, const Options& a_options, EOSCOMPRESS a_eoscompress) {
  const EOSSTS l_eossts = QrxPkgCreate(a_szPackage, a_szSource, a_options.m_bAppend, a_options.m_bImages,
                                       a_options.m_bRecursive, a_eoscompress, s_bProgress ? Progress : nullptr);
  ProgressEnd();
  return l_eossts == OS_STS_SUCCESS ? QRXPKG_EXIT_SOUND : Failed(a_szPackage);
}

struct Command {
  const char* m_szName;
  int m_iOperands;
  const char* m_szOperands;
  const char* m_szOptions;  // the command options it takes, each between blanks
};

constexpr Command s_acommand[] = {
    {"list", 1, "PKG", " "},
    {"dump", 1, "PKG", " "},
    {"verify", 1, "PKG", " "},
    {"extract", 2, "PKG DIR", " --keep "},
    {"create", 2, "PKG SRC", " --append --images --recursive --method "},
};

bool TakesOption(const Command& a_command, const char* a_szOption) {
  char l_sz[32];
  return SStrPrintf(l_sz, sizeof(l_sz), " %s ", a_szOption) > 0 && std::strstr(a_command.m_szOptions, l_sz) != nullptr;
}

int Dispatch(const Options& a_options, EOSCOMPRESS a_eoscompress) {
  const char* const l_szCommand = a_options.m_aszArgument[0];
  const char* const l_szPackage = a_options.m_aszArgument[1];
  const char* const l_szOther = a_options.m_aszArgument[2];
  if (std::strcmp(l_szCommand, "list") == 0) return List(l_szPackage);
  if (std::strcmp(l_szCommand, "dump") == 0) return Dump(l_szPackage);
  if (std::strcmp(l_szCommand, "verify") == 0) return Verify(l_szPackage);
  if (std::strcmp(l_szCommand, "extract") == 0) return Extract(l_szPackage, l_szOther, a_options.m_bKeep);
  return Create(l_szPackage, l_szOther, a_options, a_eoscompress);
}

// The whole line is judged before the platform starts: a usage error
// leaves nothing behind.
int Run(const Options& a_options) {
  if (a_options.m_iArguments == 0) return Usage("%s", "no command given");
  const char* const l_szCommand = a_options.m_aszArgument[0];
  const Command* l_pcommand = nullptr;
  for (const Command& l_command : s_acommand)
    if (std::strcmp(l_command.m_szName, l_szCommand) == 0) l_pcommand = &l_command;
  if (l_pcommand == nullptr) return Usage("unknown command %s", l_szCommand);
  if (std::strcmp(l_szCommand, "create") == 0 && !QrxPkgCanCreate())
    return Usage("%s: packages are made on Windows only", l_szCommand);
  if (a_options.m_iArguments - 1 != l_pcommand->m_iOperands)
    return Usage("%s takes %s", l_szCommand, l_pcommand->m_szOperands);
  for (int l_i = 0; l_i < a_options.m_iOptions; ++l_i)
    if (!TakesOption(*l_pcommand, a_options.m_aszOption[l_i]))
      return Usage("%s does not take %s", l_szCommand, a_options.m_aszOption[l_i]);
  EOSCOMPRESS l_eoscompress = OS_COMPRESS_AUTOMATIC;
  if (a_options.m_szMethod != nullptr) {
    const char* const l_sz = a_options.m_szMethod;
    if (l_sz[0] < '1' || l_sz[0] > '3' || l_sz[1] != '\0') return Usage("--method takes 1, 2 or 3, not %s", l_sz);
    l_eoscompress = static_cast<EOSCOMPRESS>(l_sz[0] - '0');
  }
  std::uint32_t l_u32Threads = 0;
  if (a_options.m_szThreads != nullptr) {
    const char* const l_sz = a_options.m_szThreads;
    for (const char* l_p = l_sz; *l_p >= '0' && *l_p <= '9' && l_u32Threads <= OS_WORKERS_MAX; ++l_p)
      l_u32Threads = l_u32Threads * 10 + static_cast<std::uint32_t>(*l_p - '0');
    if (std::strspn(l_sz, "0123456789") != std::strlen(l_sz) || l_u32Threads == 0 || l_u32Threads > OS_WORKERS_MAX)
      return Usage("--threads takes 1 to %u, not %s", static_cast<unsigned>(OS_WORKERS_MAX), l_sz);
  }
  QrxPkgSetThreads(l_u32Threads);
  s_bProgress = QrxPkgStderrIsTerminal();
  QrxPkgStart(a_options.m_bVerbose);
  OsFilePackageClearError();
  const int l_iExit = Dispatch(a_options, l_eoscompress);
  QrxPkgStop();
  return l_iExit;
}

}  // namespace

void QrxPkgNoteError(const char* a_szFormat, ...) {
  va_list l_valist;
  va_start(l_valist, a_szFormat);
  if (SStrVprintf(s_szError, sizeof(s_szError), a_szFormat, l_valist) < 0) s_szError[0] = '\0';
  va_end(l_valist);
}

int QrxPkgMain(int a_iArgc, char** a_pszArgv) {
  Options l_options;
  const int l_iParse = Parse(a_iArgc, a_pszArgv, &l_options);
  if (l_iParse != 0) return l_iParse;
  if (l_options.m_bHelp) {
    Help();
    return QRXPKG_EXIT_SOUND;
  }
  return Run(l_options);
}
