// Split streams and packages: their stored layouts, the progress record,
// and the platform-free reader that lists, dumps, verifies and extracts.
//
// A split stream carries one file: a 28-byte header (magic "QRXSPL01",
// header size, piece header size, file size, piece size), then per piece of
// at most 32 MiB a u32 length and a compression container. Files of 0 or 1
// byte carry a u32 size and the byte itself instead.
//
// A package carries a tree: a 24-byte header (magic "QRXPKG01", header
// size, record size, total original bytes), then records of 304 bytes (size
// of what follows, a 256-byte name, type, access, two time records), each
// file record followed by its split stream. Every field is little-endian and
// written field by field, so 32-bit, 64-bit and Linux programs read each
// other's packages. Readers take the header and record sizes from the data
// and skip what they do not know.
//
// Every length and offset a reader takes from a stream is checked against
// what is really there: anything that does not fit, a name that would leave
// the destination, a directory record without its closing record, fails with
// 1 and one message, and the reason stays readable through
// OsFilePackageLastError.
#pragma once

#include <cstddef>
#include <cstdint>

#include "os_cosfile.h"
#include "os_cosfile_compress.h"
#include "os_costime.h"
#include "os_sts.h"
#include "os_types.h"

// ---- stored layouts ----

constexpr std::uint32_t OS_SPLIT_HEADER_SIZE = 28;
constexpr std::uint32_t OS_SPLIT_PIECE_HEADER_SIZE = 4;
constexpr std::uint32_t OS_SPLIT_PIECE_SIZE = 0x2000000;  // 32 MiB
constexpr std::uint32_t OS_SPLIT_SLACK = 0x100000;        // beyond a piece in every buffer of a piece
constexpr std::uint32_t OS_PACKAGE_HEADER_SIZE = 24;
constexpr std::uint32_t OS_PACKAGE_COMMON_SIZE = 16;  // the part every version shares
constexpr std::uint32_t OS_PACKAGE_RECORD_SIZE = 304;
constexpr std::uint32_t OS_PACKAGE_NAME_SIZE = 256;
constexpr int OS_PACKAGE_DEPTH_MAX = 31;  // directory levels below the source
// The largest header or record size a reader takes from a package: room
// for a newer writer's fields, never a number that sizes a loop of gigabytes.
constexpr std::uint32_t OS_PACKAGE_LAYOUT_MAX = 65536;

struct OsSplitHeader {
  std::uint8_t m_au8Tag[8];
  std::uint32_t m_u32HeaderSize;
  std::uint32_t m_u32PieceHeaderSize;
  std::uint64_t m_u64FileSize;
  std::uint32_t m_u32PieceSize;  // 0 for files of 0 or 1 byte
};

struct OsPackageHeader {
  std::uint8_t m_au8Tag[8];
  std::uint32_t m_u32OsFilePackageHeader;
  std::uint32_t m_u32OsFilePackageChunk;
  std::uint64_t m_u64TotalOriginalBytes;
};

struct OsPackageRecord {
  std::uint64_t m_u64Size;  // the bytes after the record: the split stream, 0 for directories and empty files
  char m_szFilename[OS_PACKAGE_NAME_SIZE];  // backslash-separated, relative
  std::uint32_t m_u32OsFileType;            // 1 directory, 2 file
  std::uint32_t m_u32OsFileAccess;          // 1 read-only, 3 read-write
  OsTimeRecord m_ostimerecordAccessed;      // UTC
  OsTimeRecord m_ostimerecordModified;      // UTC
};

// Field-by-field little-endian images. The encoders write exactly the
// layout's size; the decoders read a_u32Length bytes (at most the layout's
// size) into a cleared record.
void OsSplitHeaderEncode(const OsSplitHeader& a_ossplitheader, std::uint8_t (&a_au8)[OS_SPLIT_HEADER_SIZE]);
void OsSplitHeaderDecode(const std::uint8_t* a_pu8, std::uint32_t a_u32Length, OsSplitHeader* a_possplitheader);
void OsPackageHeaderEncode(const OsPackageHeader& a_ospackageheader, std::uint8_t (&a_au8)[OS_PACKAGE_HEADER_SIZE]);
void OsPackageHeaderDecode(const std::uint8_t* a_pu8, std::uint32_t a_u32Length, OsPackageHeader* a_pospackageheader);
void OsPackageRecordEncode(const OsPackageRecord& a_ospackagerecord, std::uint8_t (&a_au8)[OS_PACKAGE_RECORD_SIZE]);
void OsPackageRecordDecode(const std::uint8_t* a_pu8, std::uint32_t a_u32Length, OsPackageRecord* a_pospackagerecord);

// ---- rules ----

// The coding method of a file for method 1 (automatic), from its full path
// and size: the block-sorting pipeline for text files (.ini, .log, .profile,
// .txt, .xml) of at most 128 MiB, except trace and dsp logs; run-length
// coding otherwise. Methods 2 and 3 stay as they are.
EOSCOMPRESS OsSplitChooseMethod(const char* a_szPath, std::uint64_t a_u64Size, EOSCOMPRESS a_eoscompress);
// Files a package never holds (Thumbs.db, *.nolog*, anything under
// pondo/tmp) and, unless a_bImages, pictures (.jpg, .tif).
bool OsPackageSkipFile(const char* a_szName, const char* a_szFullPath, bool a_bImages);
// Files whose sharing violation is not waited for (lock, socket, XML,
// ui.log, online files).
bool OsPackageNoWait(const char* a_szFullPath);
// Null when a_pu8Name (the record's 256 bytes) may be extracted; otherwise
// why not. A name must be terminated inside its 256 bytes, relative, and
// stay below the destination: no drive, no leading separator (so no UNC or
// \\?\ prefix), no ".." component, no stream suffix, no reserved device
// name, no character a file name cannot hold. '/' counts as a separator.
// An empty name passes only for a directory (the destination itself).
const char* OsPackageNameRefusal(const std::uint8_t* a_pu8Name, bool a_bDirectory);
// True when a name that passed has no component other than ".": it names
// the destination itself.
bool OsPackageNameIsRoot(const char* a_szName);

// ---- progress ----

// Filled in before every callback; a callback that answers anything but 0
// cancels the operation, which then returns that answer.
struct OsFilePackageProgress {
  std::uint32_t m_u32Size;  // sizeof (552)
  char m_szName[512];       // the file being processed
  std::uint64_t m_u64FileSize;
  std::uint64_t m_u64CurrentStep;   // bytes of the current step
  std::uint64_t m_u64TotalBytes;    // of the package (set while extracting)
  std::uint64_t m_u64RunningCount;  // bytes processed so far
};
static_assert(sizeof(OsFilePackageProgress) == 552, "the progress record is 552 bytes on every target");

// Clears the record and sets its size.
void OsFilePackageProgressInit(OsFilePackageProgress* a_posfilepackageprogress);
// Sets name and sizes, calls the callback (none: 0) and logs a cancel.
EOSSTS OsFilePackageNotify(OsFilePackageCallback a_pfncallback, OsFilePackageProgress* a_posfilepackageprogress,
                           const char* a_szName, std::uint64_t a_u64FileSize, std::uint64_t a_u64CurrentStep,
                           std::uint64_t a_u64Add);

// The last refusal or failure message of a split or package operation on
// this thread ("" when none since OsFilePackageClearError).
const char* OsFilePackageLastError();
void OsFilePackageClearError();

// ---- split streams of files (Windows) ----

// How many threads split streams and packages are coded and decoded on (0,
// the default: one per processor of the system information; 1: the calling
// thread alone). Process-wide, read when an operation makes its workers (at
// its first file of several blocks).
void OsFilePackageSetThreads(std::uint32_t a_u32Threads);

// Appends the split stream of the file a_szSource at a_posfileOutput's
// position; *a_pu64Written receives every byte this call wrote.
// a_eoscompress 1 chooses the method from the file's name and size.
EOSSTS SplitWrite(COsFile* a_posfileOutput, std::uint64_t* a_pu64Written, const char* a_szSource,
                  EOSCOMPRESS a_eoscompress, OsFilePackageCallback a_pfncallback,
                  OsFilePackageProgress* a_posfilepackageprogress);
// Reads one split stream from a_posfileInput's position (left just after
// it) and recreates the file at a_szDestination; *a_pu64FileSize receives
// its size. A stream that is not sound fails with 1 and leaves no
// destination file.
EOSSTS SplitRead(const char* a_szDestination, std::uint64_t* a_pu64FileSize, COsFile* a_posfileInput,
                 OsFilePackageCallback a_pfncallback, OsFilePackageProgress* a_posfilepackageprogress);

// ---- the platform-free reader ----

// Where a reader takes its bytes: sequential, forward only.
class COsByteSource {
 public:
  virtual ~COsByteSource() = default;
  // Up to a_u32Bytes; fewer only at the end of the data. Non-zero on failure.
  virtual EOSSTS Read(void* a_pv, std::uint32_t a_u32Bytes, std::uint32_t* a_pu32Read) = 0;
  // Moves a_u64Bytes forward; the caller never skips past the end.
  virtual EOSSTS Skip(std::uint64_t a_u64Bytes) = 0;
};

// Where a decoded file goes. A null sink (one that counts) verifies.
// A sink may write in the background: it may read a Write's bytes until
// its next Write or its Finish returns (and report a failure there), so a
// writer alternates two buffers and ends with Finish.
class COsByteSink {
 public:
  virtual ~COsByteSink() = default;
  virtual EOSSTS Write(const void* a_pv, std::uint32_t a_u32Bytes) = 0;
  virtual EOSSTS Finish() { return OS_STS_SUCCESS; }
};

// One split stream in two steps, so that a destination is created only for
// a stream whose header holds. The header step reads and checks the header
// (at most a_u64Limit bytes are the stream's) and leaves the source at the
// first piece; the body step decodes every piece into a_posbytesink. Both
// add what they consume to *a_pu64Consumed. a_szName names the stream in
// messages and in the progress record; the body's blocks are decoded on
// a_posworkers when given.
EOSSTS OsSplitDecodeHeader(COsByteSource* a_posbytesource, std::uint64_t a_u64Limit, const char* a_szName,
                           OsSplitHeader* a_possplitheader, std::uint64_t* a_pu64Consumed);
EOSSTS OsSplitDecodeBody(COsByteSource* a_posbytesource, std::uint64_t a_u64Limit, const char* a_szName,
                         const OsSplitHeader& a_ossplitheader, COsByteSink* a_posbytesink,
                         OsFilePackageCallback a_pfncallback, OsFilePackageProgress* a_posfilepackageprogress,
                         std::uint64_t* a_pu64Consumed, COsWorkers* a_posworkers = nullptr);

// What a package walk tells its visitor, in package order. An answer other
// than 0 ends the walk with that status.
class COsPackageVisitor {
 public:
  virtual ~COsPackageVisitor() = default;
  // The first 16 bytes, before they are checked.
  virtual EOSSTS Common(const OsPackageHeader& a_ospackageheader) {
    (void)a_ospackageheader;
    return OS_STS_SUCCESS;
  }
  virtual EOSSTS Header(const OsPackageHeader& a_ospackageheader) {
    (void)a_ospackageheader;
    return OS_STS_SUCCESS;
  }
  // Every record as read (count from 1, offset in the package), before its
  // checks: a dump shows what is there.
  virtual EOSSTS Record(const OsPackageRecord& a_ospackagerecord, std::uint32_t a_u32Count, std::uint64_t a_u64Offset) {
    (void)a_ospackagerecord, (void)a_u32Count, (void)a_u64Offset;
    return OS_STS_SUCCESS;
  }
  // A checked directory record: a_bFirst for the package's first one,
  // a_bClosing for the record that follows a directory's contents.
  virtual EOSSTS Directory(const OsPackageRecord& a_ospackagerecord, bool a_bFirst, bool a_bClosing) {
    (void)a_ospackagerecord, (void)a_bFirst, (void)a_bClosing;
    return OS_STS_SUCCESS;
  }
  // A checked file record. A visitor that expands sets *a_pposbytesink to
  // its sink (kept until FileEnd); null skips the stream unread.
  virtual EOSSTS FileBegin(const OsPackageRecord& a_ospackagerecord, COsByteSink** a_pposbytesink) {
    (void)a_ospackagerecord;
    *a_pposbytesink = nullptr;
    return OS_STS_SUCCESS;
  }
  // After the stream (a_eossts: how it went); a failed file is the
  // visitor's to remove.
  virtual EOSSTS FileEnd(const OsPackageRecord& a_ospackagerecord, EOSSTS a_eossts) {
    (void)a_ospackagerecord;
    return a_eossts;
  }
  // What the progress record calls the file while its stream is expanded.
  virtual const char* ProgressName(const OsPackageRecord& a_ospackagerecord) { return a_ospackagerecord.m_szFilename; }
  // The workers that expand a file of a_u64FileSize bytes (asked only for
  // files of more than one block); null: the walking thread alone.
  virtual COsWorkers* Workers(std::uint64_t a_u64FileSize) {
    (void)a_u64FileSize;
    return nullptr;
  }
};

// Walks the package a_posbytesource holds (a_u64PackageSize bytes from its
// current position): checks the header, every record against the package's
// size, every name, type and access, every stream against its record, and
// that every directory record is closed. The callback sees each file.
// 0 when the whole package is sound; 1 with one message when not.
// a_szPackage names the package in messages.
EOSSTS OsPackageWalk(COsByteSource* a_posbytesource, std::uint64_t a_u64PackageSize, const char* a_szPackage,
                     COsPackageVisitor* a_posvisitor, OsFilePackageCallback a_pfncallback,
                     OsFilePackageProgress* a_posfilepackageprogress);

// The dump text of a package, to a sink: the lines of the package header,
// its common header and every record. OsPackageDumpBegin writes the first
// line with the package's path.
class COsPackageDump : public COsPackageVisitor {
 public:
  explicit COsPackageDump(COsByteSink* a_posbytesink) : m_posbytesink(a_posbytesink) {}
  EOSSTS Begin(const char* a_szPackage);
  EOSSTS Common(const OsPackageHeader& a_ospackageheader) override;
  EOSSTS Header(const OsPackageHeader& a_ospackageheader) override;
  EOSSTS Record(const OsPackageRecord& a_ospackagerecord, std::uint32_t a_u32Count, std::uint64_t a_u64Offset) override;

 private:
  EOSSTS Print(const char* a_szFormat, ...) OS_FORMAT_PRINTF(2, 3);
  COsByteSink* m_posbytesink;
};

// A time record (UTC) as seconds and nanoseconds since 1970-01-01, for
// systems that count time so. False for a record that names no real time.
bool OsPackageRecordToUnix(const OsTimeRecord& a_ostimerecord, std::int64_t* a_pi64Seconds,
                           std::uint32_t* a_pu32Nanoseconds);
