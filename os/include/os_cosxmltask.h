// Task messages: the small XML documents the suite's programs exchange.
//
// A task is a frame with a fixed-width header of 91 characters,
//   <task id='<20 digits>' reply='<20 digits>' bytes='<20 digits>'>\n
// a body of blocks and elements indented with one tab per level (a block at
// depth d has d tabs, an element inside it d + 1), every line ending in a
// line feed, and "</task>\n". The bytes field holds '#' characters until
// TaskEnd writes the length of the whole message into it; the id and reply
// fields may be patched at any time because their width is fixed.
//
// COsXmlTask writes such messages into its own buffer, or into a named
// per-thread buffer of the memory manager (each thread building under one
// name has a buffer of its own, kept between operations). The builder
// reports nothing per call: every misuse is logged (class OS_LOG_ASSERT) and
// sets a sticky error flag, and the caller checks ErrorGet once the message
// is complete. Nothing written is rolled back.
//
// Values are written as given: ElementAdd escapes nothing, so a value with
// '<' belongs in ElementAddCdata or ElementAddAuto, which wrap it in CDATA
// (a "]]>" inside it is split across adjacent sections, which the XML reader
// joins again).
#pragma once

#include <cstdint>

class COsXmlTaskImpl;

constexpr std::int32_t OS_XMLTASK_MIN_CAPACITY = 65536;  // the smallest buffer
constexpr std::int32_t OS_XMLTASK_HEADER_SIZE = 91;      // the header line with its line feed
constexpr std::int32_t OS_XMLTASK_LINKNAME_SIZE = 64;    // a link name, terminator included

class COsXmlTask {
 public:
  // The capacity is a_lSize, but at least 65536 bytes. With a non-empty
  // a_szLinkName (cut to 63 characters) every operation writes into this
  // thread's buffer of that name; otherwise the object allocates a buffer of
  // its own (a failure sets the error flag). Without its implementation
  // (logged "m_posxmltaskimpl is null...") every operation does nothing.
  explicit COsXmlTask(const char* a_szLinkName = nullptr, std::int32_t a_lSize = 0);
  // Frees the own buffer, or releases the calling thread's buffer of the
  // link name together with those of threads that have ended (buffers of
  // other running threads stay theirs).
  ~COsXmlTask();
  COsXmlTask(const COsXmlTask&) = delete;
  COsXmlTask& operator=(const COsXmlTask&) = delete;

  // Starts a task: the buffer is zeroed and the header written; non-zero
  // ids go into their fields. A non-empty a_pszStatus adds the block
  // "reportstatus" holding the element "status" with that text. Refused
  // while a frame or block is open. True when the error flag is clear
  // afterwards.
  bool TaskBegin(std::int64_t a_nTaskId, std::int64_t a_nReplyId, const char* a_pszStatus);
  // Patch the id or reply field of the task begun last (20 digits,
  // zero-padded); negative values are refused.
  void TaskIdSet(std::int64_t a_nTaskId);
  void TaskReplySet(std::int64_t a_nReplyId);
  // Appends "</task>\n" and writes the message length into the bytes field.
  // Needs an open task frame, no open block and depth 0.
  void TaskEnd();

  // A message without a task header: the buffer restarts with a_lDepth tabs
  // and <a_pszName>; a_lDepth counts as open blocks.
  void DocumentBegin(const char* a_pszName, std::int32_t a_lDepth);
  void DocumentEnd(const char* a_pszName);

  // A nested block; a_lDepth must be the current depth + 1.
  void BlockOpen(const char* a_pszName, std::int32_t a_lDepth);
  void BlockClose(const char* a_pszName);

  // <name>value</name> and a line feed, indented one level deeper than the
  // current block unless a_bNoIndent (which also allows an element outside
  // every block). The value is written unchanged.
  void ElementAdd(const char* a_pszName, const char* a_pszValue, bool a_bNoIndent = false);
  void ElementAddInt(const char* a_pszName, std::int32_t a_lValue, bool a_bNoIndent = false);  // "%d"
  void ElementAddReal(const char* a_pszName, double a_dValue, bool a_bNoIndent = false);       // "%f"
  // The pointer as lower-case hex digits, 8 on a 32-bit process, 16 on a 64-bit one.
  void ElementAddPointer(const char* a_pszName, const void* a_pvValue);
  // The value inside <![CDATA[ ]]>.
  void ElementAddCdata(const char* a_pszName, const char* a_pszValue);
  // ElementAddCdata when the value holds '<' or '>', else ElementAdd.
  void ElementAddAuto(const char* a_pszName, const char* a_pszValue);
  // Appends a_pszText as it is, without a leading line feed; a tab at its
  // end is taken back.
  void RawAppend(const char* a_pszText);

  // The message, NUL-terminated (null without a buffer), and its length.
  char* BufferGet();
  std::int32_t LengthGet();
  // The error flag, cleared when a_bClear. True without an implementation.
  bool ErrorGet(bool a_bClear);
  // Back to idle: no frame, no block, no error, an empty zeroed buffer.
  void Reset();

  COsXmlTaskImpl* m_posxmltaskimpl = nullptr;
};

// The standard status reports, as constant texts.
const char* OsXmlTaskStatusSuccess();
const char* OsXmlTaskStatusFail();

// The header numbers of a received task, without a parse. False (logged)
// for a null argument or a text that does not begin with "<task "; false
// without a message when the field is missing among the first 256
// characters. The number is read with an optional sign up to the first
// non-digit; a negative one is stored as its two's complement.
bool OsXmlTaskGetId(const char* a_szXml, std::uint64_t* a_pu64Id);
bool OsXmlTaskGetReply(const char* a_szXml, std::uint64_t* a_pu64Reply);
bool OsXmlTaskGetBytes(const char* a_szXml, std::uint64_t* a_pu64Bytes);
