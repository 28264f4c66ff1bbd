// qrxpkg's Windows back end: the library started as a utility of the suite
// (packaging copies a locked file through the program's log directory), the
// package read through COsFile for the walks of the commands, and extraction
// and creation by the library's own PackageExtract and PackageWrite.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>
#include <new>
#include <vector>

#include "os.h"
#include "qrxpkg.h"

const char* g_szOsServicesArguments =
    "<arguments>\n\t<uniquename>qrxpkg</uniquename>\n\t<entity>utility</entity>\n</arguments>";

namespace {

bool s_bVerbose = false;
std::uint32_t s_u32Threads = 0;
COsThreadWorkers* s_posthreadworkers = nullptr;  // the commands' walks decode on them

class CFileSource : public COsByteSource {
 public:
  EOSSTS Read(void* a_pv, std::uint32_t a_u32Bytes, std::uint32_t* a_pu32Read) override {
    return m_osfile.Read(a_pv, a_u32Bytes, a_pu32Read);
  }
  EOSSTS Skip(std::uint64_t a_u64Bytes) override {
    if (a_u64Bytes > static_cast<std::uint64_t>(INT64_MAX)) return OS_STS_FAIL;
    return m_osfile.SetFilePointer64(OS_FILE_POINTER_CURRENT, static_cast<std::int64_t>(a_u64Bytes));
  }
  COsFile m_osfile;
};

// Libraries loaded from here on come from the system directory only, never
// from the program's folder: support staff run the tool from wherever a
// customer's files were put. Systems without the call (before Windows 8 and
// its update) keep their usual search, without the current directory.
void LoadLibrariesFromTheSystemOnly() {
  typedef BOOL(WINAPI * PfnSetDirectories)(DWORD);
  const PfnSetDirectories l_pfn = reinterpret_cast<PfnSetDirectories>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (l_pfn == nullptr || !l_pfn(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryW(L"");
  SetLastError(0);
}

}  // namespace

void QrxPkgStart(bool a_bVerbose) {
  s_bVerbose = a_bVerbose;
  OsServicesStart(nullptr);
  // The dump's lines end in CR LF already; text mode would double the CR.
  _setmode(_fileno(stdout), _O_BINARY);
}

void QrxPkgSetThreads(std::uint32_t a_u32Threads) {
  s_u32Threads = a_u32Threads;
  OsFilePackageSetThreads(a_u32Threads);  // the library's writer and extractor
}

COsWorkers* QrxPkgWorkers() {
  if (s_posthreadworkers == nullptr) s_posthreadworkers = new (std::nothrow) COsThreadWorkers(s_u32Threads);
  return s_posthreadworkers;
}

void QrxPkgStop() {
  delete s_posthreadworkers;
  s_posthreadworkers = nullptr;
  // The library keeps its lines in its own log; verbose says where.
  char l_szLog[OS_PATH_SIZE] = "";
  if (s_bVerbose && OsLogGetFilenameSts(OsLogInstance(), l_szLog, sizeof(l_szLog)) == OS_STS_SUCCESS &&
      l_szLog[0] != '\0')
    std::fprintf(stderr, "qrxpkg: the library's log: %s\n", l_szLog);
  OsServicesStop();
}

bool QrxPkgStderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

std::unique_ptr<COsByteSource> QrxPkgOpen(const char* a_szPackage, std::uint64_t* a_pu64Size) {
  std::unique_ptr<CFileSource> l_pfilesource(new (std::nothrow) CFileSource);
  if (l_pfilesource == nullptr) {
    QrxPkgNoteError("out of memory");
    return nullptr;
  }
  EOSSTS l_eossts =
      l_pfilesource->m_osfile.Open(a_szPackage, OS_FILE_OPEN_EXISTING, OS_FILE_ACCESS_READ, OS_FILE_SHARE_READ);
  if (l_eossts == OS_STS_SUCCESS) l_eossts = l_pfilesource->m_osfile.Size64(a_pu64Size);
  if (l_eossts != OS_STS_SUCCESS) {
    const char* const l_szWhy = l_eossts == OS_STS_NOTFOUND       ? "not found"
                                : l_eossts == OS_STS_ACCESSDENIED ? "access denied"
                                : l_eossts == OS_STS_SHARING      ? "in use by another program"
                                                                  : "failed";
    QrxPkgNoteError("cannot open: %s (status %d)", l_szWhy, static_cast<int>(l_eossts));
    return nullptr;
  }
  return l_pfilesource;
}

EOSSTS QrxPkgExtract(const char* a_szPackage, const char* a_szDestination, bool a_bKeep,
                     OsFilePackageCallback a_pfncallback) {
  COsFile l_osfile;
  return l_osfile.PackageExtract(a_szDestination, a_szPackage, a_bKeep, a_pfncallback, false);
}

bool QrxPkgCanCreate() { return true; }

EOSSTS QrxPkgCreate(const char* a_szPackage, const char* a_szSource, bool a_bAppend, bool a_bImages, bool a_bRecursive,
                    EOSCOMPRESS a_eoscompress, OsFilePackageCallback a_pfncallback) {
  COsFile l_osfile;
  return l_osfile.PackageWrite(a_szPackage, a_szSource, a_bImages,
                               a_bAppend ? OS_FILE_PACKAGE_APPEND : OS_FILE_PACKAGE_CREATE, a_bRecursive, a_eoscompress,
                               a_pfncallback);
}

// The wide entry point: names outside the ANSI code page arrive intact and
// are handed on as the library's UTF-8.
int wmain(int argc, wchar_t** argv) {
  LoadLibrariesFromTheSystemOnly();
  constexpr std::size_t l_sizetArgument = 4 * OS_PATH_SIZE;
  std::vector<std::vector<char>> l_vecText(static_cast<std::size_t>(argc), std::vector<char>(l_sizetArgument));
  std::vector<char*> l_vecArgv;
  for (int l_i = 0; l_i < argc; ++l_i) {
    if (CopyUtf8FromUnicode(l_vecText[l_i].data(), l_sizetArgument, argv[l_i], -1) <= 0) {
      std::fprintf(stderr, "qrxpkg: argument %d is too long\nTry 'qrxpkg --help'.\n", l_i);
      return QRXPKG_EXIT_USAGE;
    }
    l_vecArgv.push_back(l_vecText[l_i].data());
  }
  l_vecArgv.push_back(nullptr);
  return QrxPkgMain(argc, l_vecArgv.data());
}
