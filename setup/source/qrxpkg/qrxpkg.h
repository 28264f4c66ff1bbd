// qrxpkg: the support staff's package tool. The commands (arguments, help,
// output) are shared by both platforms; each platform's back end supplies
// what touches its file system.
#pragma once

#include <cstdint>
#include <memory>

#include "os_cosfile_package.h"
#include "os_types.h"

// Exit codes.
constexpr int QRXPKG_EXIT_SOUND = 0;   // the package is sound, the operation done
constexpr int QRXPKG_EXIT_FAILED = 1;  // damaged or refused input, or a failed operation
constexpr int QRXPKG_EXIT_USAGE = 2;   // the command line is not understood

// ---- from the shared command part ----

// Runs the command line; a_pszArgv in UTF-8 (the library's own text on
// Windows). Returns the exit code.
int QrxPkgMain(int a_iArgc, char** a_pszArgv);
// Keeps the reason of a failure that the engine did not describe (an open,
// a create, a link met while extracting); it is printed in place of the
// engine's last error.
void QrxPkgNoteError(const char* a_szFormat, ...) OS_FORMAT_PRINTF(1, 2);

// ---- from each platform's back end ----

// Around every command: the library's start-up on Windows; on Linux the
// engine's log lines go to standard error only with a_bVerbose.
void QrxPkgStart(bool a_bVerbose);
void QrxPkgStop();
// The threads files are coded and decoded on (0: one per processor), said
// before QrxPkgStart; QrxPkgWorkers gives them as the engines' workers
// (made at the first call, released by QrxPkgStop).
void QrxPkgSetThreads(std::uint32_t a_u32Threads);
COsWorkers* QrxPkgWorkers();
// True when standard error is a terminal (the progress line goes there).
bool QrxPkgStderrIsTerminal();
// Opens the package for sequential reading from its first byte;
// *a_pu64Size receives its size. Null (reason noted) when it cannot.
std::unique_ptr<COsByteSource> QrxPkgOpen(const char* a_szPackage, std::uint64_t* a_pu64Size);
// Recreates the package's tree below a_szDestination (created when
// missing); unless a_bKeep, the tree of the package's first directory is
// replaced first. The caller has walked the whole package and found it
// sound.
EOSSTS QrxPkgExtract(const char* a_szPackage, const char* a_szDestination, bool a_bKeep,
                     OsFilePackageCallback a_pfncallback);
// Packs a_szSource into a_szPackage (Windows; elsewhere refused with 1).
EOSSTS QrxPkgCreate(const char* a_szPackage, const char* a_szSource, bool a_bAppend, bool a_bImages, bool a_bRecursive,
                    EOSCOMPRESS a_eoscompress, OsFilePackageCallback a_pfncallback);
// False where the platform has no writer (create is then a usage error).
bool QrxPkgCanCreate();
