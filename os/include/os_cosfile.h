// Files, paths and directory operations.
//
// Paths are 8-bit text (UTF-8) of at most 259 bytes and a terminator; every
// function converts them to UTF-16 for the system. A longer path is refused
// (logged) and nothing is written past any buffer. Output paths use
// backslashes, one between parts.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "os_cosfile_compress.h"
#include "os_costime.h"
#include "os_sts.h"
#include "os_types.h"

// Entry types.
enum EOSFILETYPE : std::uint32_t {
  OS_FILE_TYPE_NONE = 0,  // not found
  OS_FILE_TYPE_DIRECTORY = 1,
  OS_FILE_TYPE_FILE = 2,
  OS_FILE_TYPE_SYSTEM = 3,  // an entry with the system attribute: never deleted
};

// Access of an open file, and of an entry (the entry record uses 1 and 3).
enum EOSFILEACCESS : std::uint32_t {
  OS_FILE_ACCESS_READ = 1,
  OS_FILE_ACCESS_WRITE = 2,
  OS_FILE_ACCESS_READWRITE = 3,
  OS_FILE_ACCESS_NONE = 4,  // no data access (query only)
};

enum EOSFILEOPEN : std::uint32_t {
  OS_FILE_OPEN_CREATE = 1,  // create always, truncating
  OS_FILE_OPEN_EXISTING = 2,
  OS_FILE_OPEN_ALWAYS = 3,     // create when missing
  OS_FILE_OPEN_TEMPORARY = 4,  // create always, deleted when closed
  OS_FILE_OPEN_BACKUP = 5,     // open existing with backup semantics (directories too)
  // Temporary, but only as a new file: never over an existing name, nor
  // through a link someone left under it (for folders others may write).
  OS_FILE_OPEN_TEMPORARY_NEW = 6,
};

enum EOSFILESHARE : std::uint32_t {
  OS_FILE_SHARE_NONE = 1,
  OS_FILE_SHARE_READ = 2,
  OS_FILE_SHARE_WRITE = 3,
  OS_FILE_SHARE_READWRITE = 4,
};

enum EOSFILEPOINTER : std::uint32_t {
  OS_FILE_POINTER_BEGIN = 1,
  OS_FILE_POINTER_CURRENT = 2,
  OS_FILE_POINTER_END = 3,
};

// A directory entry. Invariant: m_szFullPath is the directory's absolute
// path, one backslash and the entry's name ("." and ".." included).
struct OsFileInfo {
  char m_szName[OS_PATH_SIZE];
  char m_szNameLower[OS_PATH_SIZE];
  char m_szFullPath[OS_PATH_SIZE];
  std::uint32_t m_u32Size;  // the low 32 bits of the size
  EOSFILETYPE m_eosfiletype;
  EOSFILEACCESS m_eosfileaccess;
  OsTimeRecord m_ostimerecordAccessed;  // UTC
  OsTimeRecord m_ostimerecordModified;  // UTC
  void* m_hSearch;                      // the open system search, or null
};

// What a copy-tree callback is told of each entry.
struct OsFileCopyTreeEntry {
  std::uint32_t m_u32Size;  // 16
  const char* m_szName;     // null for a directory
  const char* m_szSource;   // the entry's full source path
  void* m_pvContext;        // the caller's pointer
};
// Answers: 0 go on, 6 copy this subtree without further calls, 8 skip this entry.
typedef EOSSTS (*OsFileCopyTreeCallback)(const OsFileCopyTreeEntry* a_posfilecopytreeentry);
constexpr EOSSTS OS_FILE_COPYTREE_ALL = OS_STS_NOMORE;
constexpr EOSSTS OS_FILE_COPYTREE_SKIP = static_cast<EOSSTS>(8);

// ---- path text ----

// Every run of '/' and '\' becomes one a_cSeparator; a leading pair of
// backslashes (a UNC prefix) stays two. In place; returns the string.
char* OsFilePathNormalize(char* a_szPath, char a_cSeparator);
// The two joins that build every path the library hands to the system.
// False (logged) when the result does not fit: the buffer is then empty, and
// a caller that went on would name a path relative to the drive's root, so
// the compiler insists that the answer is looked at.
//
// Copies and normalizes.
[[nodiscard]] bool OsFilePathCopy(char* a_szDest, std::size_t a_sizetDest, const char* a_szSource);
// Appends a backslash and a_szTail (a drive prefix of the tail is dropped)
// and normalizes.
[[nodiscard]] bool OsFilePathAppend(char* a_szPath, std::size_t a_sizetPath, const char* a_szTail);
// a_szOut = a_szA, then a_szB, as OsFilePathAppend joins them (a_szOut may
// be either part); false and an empty a_szOut when the result does not fit
// or a_szA is empty (the result would name a place at the drive's root).
[[nodiscard]] bool OsFilePathJoin(char* a_szOut, std::size_t a_sizetOut, const char* a_szA, const char* a_szB);
// Normalizes in place and finds the last backslash: its offset (0 when none)
// and the name after it (the whole path when none). Either out may be null.
void OsFilePathSplit(char* a_szPath, std::size_t* a_psizetSeparator, char** a_pszName);
// Normalizes and removes one trailing backslash; the length before that.
std::size_t OsFilePathStripTrailing(char* a_szPath);
void OsFileAddExeExtension(char* a_szPath, std::size_t a_sizetPath);
void OsFileAddDllExtension(char* a_szPath, std::size_t a_sizetPath);
// The absolute, normalized form of a_szName.
EOSSTS OsFileGetFullPath(char* a_szAbsolute, std::size_t a_sizetAbsolute, const char* a_szName);

// ---- enumeration ----

// 0 and the first entry; 257 when nothing matches, 1 when the search could
// not look (access denied, a bad name...) or the entry's name or full path
// does not fit the record: both with a zeroed record and no open search.
EOSSTS OsFileFindFirst(const char* a_szPattern, OsFileInfo* a_posfileinfo);
// 0 and the next entry, 257 at the end, 1 when the search failed or an
// entry does not fit the record; the search is closed on both. A walker
// that sees 1 has not seen the whole directory.
EOSSTS OsFileFindNext(OsFileInfo* a_posfileinfo);
// Closes an open search and clears the record.
EOSSTS OsFileFindClose(OsFileInfo* a_posfileinfo);
bool OsFileExists(const char* a_szFilename);
// Whether the library a_szName (a path or name without ".dll", which is
// appended) exists as a file.
bool SharedLibraryExists(const char* a_szName);

// ---- tree operations ----

// Creates the directory and every missing parent (261 when it exists; 1
// for an empty path).
EOSSTS OsFileCreateDirectory(const char* a_szDirectory, void* a_psecurityattributes);
// The same for a directory below a_szBase, in a tree others may write:
// when a_szBase's part of the path is trusted, but a directory between it
// and a_szDirectory (a_szDirectory included) is a link, nothing is created
// in it and the answer is 259 (261 when everything exists and no link is
// met; 1 when a_szDirectory does not lie below a_szBase).
EOSSTS OsFileCreateDirectoryIn(const char* a_szBase, const char* a_szDirectory, void* a_psecurityattributes);
// True when the path is a symbolic link or junction (the entry itself, not
// what it leads to).
bool OsFileIsLink(const char* a_szPath);
// Deletes a file or a directory (a_bRecursive: with everything below it).
// a_eosfiletype 0 takes whatever is there; otherwise the entry must be of that
// type (status 1). Read-only entries are deleted; a system entry stops the
// delete with 1. Each directory is held open (rename and removal denied to
// others) while its entries go, and a directory link, at the top or met
// inside the tree, is removed itself: its target is never entered. An
// empty path and wildcards are refused with 3.
EOSSTS OsFileDelete(const char* a_szFilename, EOSFILETYPE a_eosfiletype, bool a_bRecursive);
// The same for an entry below a_szBase, in a tree others may write: every
// folder between a_szBase and the entry is held open, and a link among them
// refuses the delete (1), so that nothing is deleted through it.
EOSSTS OsFileDeleteIn(const char* a_szBase, const char* a_szFilename, EOSFILETYPE a_eosfiletype, bool a_bRecursive);
EOSSTS OsFileMove(const char* a_szFilename, const char* a_szNewFilename);
// Copies one file; an existing destination is never overwritten.
EOSSTS OsFileCopy(const char* a_szFilename, const char* a_szNewFilename);
// Copies a tree. A source or destination that is a link is refused (1);
// links inside the source are not followed and count as failed entries, as
// do entries whose target path would not fit.
EOSSTS OsFileCopyTree(const char* a_szSource, const char* a_szDestination, bool a_bRecursive,
                      OsFileCopyTreeCallback a_pfnCallback, void* a_pvContext);
// Read-only (1) or read-write (3); outside callers pass depth 0. A link is
// refused (1) at the top and left alone inside the tree.
EOSSTS OsFileSetAccess(const char* a_szFilename, EOSFILEACCESS a_eosfileaccess, bool a_bRecursive, int a_iDepth);
// Opens a directory of the shared tree to every user (a_iAccess 3; other
// values do nothing): 0, or 1 when it fails or the path is a link.
EOSSTS OsFileSetSharedSecurity(const char* a_szPath, int a_iAccess);

// ---- other ----

EOSSTS OsFileGetTempName(const char* a_szTempDir, char* a_szTempName, const char* a_szTempPrefix,
                         std::size_t a_sizetTempName);
EOSSTS OsFileGetTempDirectory(char* a_szTempDir, std::size_t a_sizetTempDir);
EOSSTS OsFileGetCurrentDirectory(char* a_szDirectory, std::size_t a_sizetDirectory);
EOSSTS OsFileSetCurrentDirectory(const char* a_szDirectory);
// Off (false) and on (true) again the file-system redirection of a 32-bit
// process on 64-bit Windows, for the calling thread.
EOSSTS OsFileWow64Redirection(bool a_bOn);

// ---- packages ----

// What PackageWrite does with the package file.
enum EOSFILEPACKAGE : std::uint32_t {
  OS_FILE_PACKAGE_CREATE = 1,           // a new package (an existing file is replaced)
  OS_FILE_PACKAGE_APPEND = 2,           // append the tree
  OS_FILE_PACKAGE_APPEND_EXTRA = 3,     // append under F\extra (F: the package's first directory)
  OS_FILE_PACKAGE_APPEND_LOCALLOW = 4,  // append under F_locallow
  OS_FILE_PACKAGE_APPEND_NORMAL = 5,    // append under F_normal
};

// The progress record and the stored layouts: os_cosfile_package.h.
struct OsFilePackageProgress;
typedef EOSSTS (*OsFilePackageCallback)(OsFilePackageProgress* a_posfilepackageprogress);

// ---- the file object ----

// How SharedLibraryGetProc finds a procedure.
enum EOSLIBPROC : std::int32_t {
  OS_LIBPROC_PLAIN = 1,        // the exported name as given
  OS_LIBPROC_XMLCALLBACK = 2,  // "[Outer::]inner_Name": a static member taking an OsXmlCallback
  OS_LIBPROC_SIMCALLBACK = 3,  // the same with a SimCallback, or a free function of that name
};
// SharedLibraryLoad's flag: the library's own folder is searched for its
// dependencies.
constexpr std::uint32_t OS_LIBRARY_ALTERED_SEARCH_PATH = 0x1;
// SharedLibraryGetProc's module argument for the object's own library.
inline void* OsLibrarySelf() { return reinterpret_cast<void*>(static_cast<std::intptr_t>(-1)); }

// ---- signer check ----

// Whether a_szFilename (null: the running program's own file, the
// configuration's DriverPath) carries an intact signature that chains to a
// trusted root and whose own signing certificate names a_szSigner (null: the
// company) as one of its subject's values and carries the "Digital ID Class
// 3" identity; certificates that merely travel in the file never count. With
// a_bCheckTime that certificate must be valid now; a_bRevocation asks for
// revocation checks. The file is held open against writers, renames and
// deletes while it is checked. 0 when accepted; 258 when the file is
// unsigned or cannot be opened so (another has it open for writing), the
// signature is not trusted or not the signer's (also for a path or signer
// that is empty or does not fit in 260 or 64 bytes); 1 when the system's
// trust or certificate calls cannot be had or the signature cannot be read.
// The trust library stays loaded for the process.
EOSSTS OsFileVerifySigner(const char* a_szFilename, const char* a_szSigner, bool a_bCheckTime, bool a_bRevocation);

// ---- desktop services ----
// Each reaches its system library at run time, from the system directory;
// the library carries no static dependency on them. (Raw printing and
// sound are COsFile methods: see PrintRaw and PlaySystemSound below.)

// The one key SendKey can press.
enum EOSFILEKEY : std::int32_t {
  OS_FILE_KEY_F11 = 1,
};
// Presses and releases a_eosFileKey for the user, with shift, ctrl and alt
// held around it as asked (pressed in that order, released in that order
// after the key). 0; 1 for another key (nothing is sent) or when the system
// refuses an event: the sequence stops there, and modifiers already pressed
// stay pressed.
EOSSTS SendKey(EOSFILEKEY a_eosFileKey, bool a_bShift, bool a_bCtrl, bool a_bAlt);
// Copies a_szFilename to a_szNewFilename. An ordinary process copies as
// OsFileCopy does (an existing destination is refused, 1). A low-integrity
// process in the browser's protected mode cannot write there itself: a
// worker thread with a window of its own lets the user save the file
// through the browser (a_szNewFilename is the dialog's first folder), while
// this call waits. Then 0 when it was saved, else the worker's status (1
// failed or cancelled, 261 the chosen file is the source); when no worker
// could run the save, the answer of OsFileCopy. 3 for a null argument.
EOSSTS OsFileProtectedModeCopy(const char* a_szFilename, const char* a_szNewFilename);
// The worker's half: the browser's save dialog, owned by a_pvWindow (a
// window handle), offers a_szSource's file name in the folder
// a_szDestination; the file chosen gets a_szSource's bytes through the
// browser. 0 saved; 1 cancelled or failed; 261 the chosen file is the
// source. Without the browser's frame library loaded in the process, the
// result of OsFileCopy(a_szSource, a_szDestination). 3 for a null path.
EOSSTS OsFileProtectedModeSave(const char* a_szDestination, const char* a_szSource, void* a_pvWindow);

class COsFileImpl;

// One open file. Used by one thread at a time.
class COsFile {
 public:
  COsFile();
  ~COsFile();
  COsFile(const COsFile&) = delete;
  COsFile& operator=(const COsFile&) = delete;

  // Opening an open object closes the earlier file first.
  EOSSTS Open(const char* a_szFilename, EOSFILEOPEN a_eosfileopen, EOSFILEACCESS a_eosfileaccess,
              EOSFILESHARE a_eosfileshare);
  EOSSTS Close();
  bool IsOpen();
  EOSSTS Read(void* a_pBuffer, std::uint32_t a_u32Bytes, std::uint32_t* a_pu32Read);
  EOSSTS Write(const void* a_pBuffer, std::uint32_t a_u32Bytes, std::uint32_t* a_pu32Written);
  // Formatted writes through a buffer allocated once (65536 bytes by
  // default); the bytes written, or -1 (nothing is written when the text
  // does not fit).
  int Printf(const char* a_szFormat, ...) OS_FORMAT_PRINTF(2, 3);
  int Vprintf(const char* a_szFormat, va_list a_valist) OS_FORMAT_PRINTF(2, 0);
  // The previous size, or -1.
  int SetPrintfBufferSize(std::uint32_t a_u32Bytes);
  // The file's size; 1 when the system cannot tell it.
  EOSSTS Size(std::uint32_t* a_pu32Bytes);
  EOSSTS Size64(std::uint64_t* a_pu64Bytes);
  EOSSTS GetFilePointer(std::uint32_t* a_pu32Bytes);
  EOSSTS GetFilePointer64(std::uint64_t* a_pu64Bytes);
  EOSSTS SetFilePointer32(EOSFILEPOINTER a_eosfilepointer, std::int32_t a_i32Distance);
  EOSSTS SetFilePointer64(EOSFILEPOINTER a_eosfilepointer, std::int64_t a_i64Distance);
  EOSSTS SetEndOfFile();
  EOSSTS Flush();
  // Region locks (64 slots per object): 4 when another handle holds the
  // region after a_u32TimeoutMs (tried every 100 ms).
  EOSSTS Lock(std::uint32_t a_u32Offset, std::uint32_t a_u32Length, std::uint32_t a_u32TimeoutMs, const char* a_szName);
  EOSSTS Unlock(std::uint32_t a_u32Offset, std::uint32_t a_u32Length);
  // 0 when the region is free, 4 when someone else holds it.
  EOSSTS TestLock(std::uint32_t a_u32Offset, std::uint32_t a_u32Length);
  EOSSTS GetName(char* a_szName, std::size_t a_sizetName);
  // UTC; either record may be null.
  EOSSTS GetFileTimes(OsTimeRecord* a_ptimerecordAccessed, OsTimeRecord* a_ptimerecordModified);
  // The creation and write times both become the write time.
  EOSSTS SetFileTimes(const OsTimeRecord* a_ptimerecordAccessed, const OsTimeRecord* a_ptimerecordModified);
  // Packs a directory tree, a file or the matches of a pattern ('*', '?')
  // into a package (see os_cosfile_package.h). a_bImages keeps pictures
  // (.jpg, .tif), a_bRecursive descends into subdirectories, a_eoscompress
  // codes every file (1: chosen per file). A file that stays locked is
  // packed from a copy, else as a short text that says why. On failure a
  // package this call created is deleted, and one it appended to is cut back
  // to what it held before. The callback (may be null) sees every file and
  // cancels with a non-zero answer, which is returned.
  EOSSTS PackageWrite(const char* a_szPackage, const char* a_szSource, bool a_bImages, EOSFILEPACKAGE a_eosfilepackage,
                      bool a_bRecursive, EOSCOMPRESS a_eoscompress, OsFilePackageCallback a_pfncallback);
  // Recreates the package's tree below a_szDestination (created when
  // missing) with names, read-only access and times. Unless a_bKeepExisting,
  // the tree of the package's first directory is replaced. Names that would
  // leave the destination, and damage of any kind, are refused with 1
  // before anything is written for that record; what was extracted before
  // stays. a_bDump also writes ospackagedump.txt to the log directory.
  EOSSTS PackageExtract(const char* a_szDestination, const char* a_szPackage, bool a_bKeepExisting,
                        OsFilePackageCallback a_pfncallback, bool a_bDump);
  // Prints to standard error, turning the ANSI colour codes ESC[30m..[37m,
  // [41m..[46m, [1m and [0m into console attributes.
  EOSSTS ConsolePrint(const char* a_szText);
  // Prints the prompt (coloured when a_szColour is not empty) and reads one
  // line (the newline kept) of at most size - 2 characters; null at the end of input.
  char* ConsolePrompt(const char* a_szColour, const char* a_szPrompt, char* a_szLine, std::size_t a_sizetLine);

  // Shared libraries. One library per object; loading another frees the
  // earlier one. a_eosfileopen 1 (OS_FILE_OPEN_CREATE) loads a new reference
  // (after handing the start-up arguments on, so the library finds them) and
  // owns it; 2 (OS_FILE_OPEN_EXISTING) attaches to a module already in the
  // process, which is never freed. a_szAlternate, "+text" or null: when the
  // name cannot be had, name + text is tried once (same type, no flags) and
  // its status returned. 0; 1 when nothing was loaded (last error cleared);
  // 3 for a null name or another type.
  EOSSTS SharedLibraryLoad(const char* a_szLibrary, EOSFILEOPEN a_eosfileopen, const char* a_szAlternate,
                           std::uint32_t a_u32Flags);
  // A procedure of a_hModule (OsLibrarySelf(): this object's library), or null.
  // The callback kinds build the decorated name of a static member function
  // ("Outer::inner_Name" or "inner_Name": class inner, scope Outer) and try
  // the private, protected and public forms in that order.
  void* SharedLibraryGetProc(const char* a_szProcedure, void* a_hModule, EOSLIBPROC a_eoslibproc);
  // Frees an owned library and forgets any. 0.
  EOSSTS SharedLibraryFree();
  bool SharedLibraryIsLoaded();

  // Desktop services. Sends a_u32Bytes of a_pvData unchanged to the printer
  // a_szPrinter as one document of one page: 0 when every byte was written;
  // 1 when the spooler cannot be had, a step fails (the steps before it are
  // undone) or fewer bytes were taken.
  EOSSTS PrintRaw(const char* a_szPrinter, const void* a_pvData, std::uint32_t a_u32Bytes);
  // Starts the system sound a_szSoundName (an alias such as "SystemAsterisk")
  // and returns without waiting: 0 whether or not a sound could be played;
  // 1 when the sound library cannot be had; 3 for a null name. The library
  // stays loaded until OsServicesStop, which no thread may still be playing
  // a sound through.
  EOSSTS PlaySystemSound(const char* a_szSoundName);

  COsFileImpl* m_posfileimpl;
};
