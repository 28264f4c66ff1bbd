// The task builder's state and its writing primitives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "os_cosxmltask.h"

class COsXmlTaskImpl {
 public:
  COsXmlTaskImpl(const char* a_szLinkName, std::int32_t a_lSize);
  ~COsXmlTaskImpl();
  COsXmlTaskImpl(const COsXmlTaskImpl&) = delete;
  COsXmlTaskImpl& operator=(const COsXmlTaskImpl&) = delete;

  bool TaskBegin(std::int64_t a_nTaskId, std::int64_t a_nReplyId, const char* a_pszStatus);
  void TaskIdSet(std::int64_t a_nTaskId);
  void TaskReplySet(std::int64_t a_nReplyId);
  void TaskEnd();
  void DocumentBegin(const char* a_pszName, std::int32_t a_lDepth);
  void DocumentEnd(const char* a_pszName);
  void BlockOpen(const char* a_pszName, std::int32_t a_lDepth);
  void BlockClose(const char* a_pszName);
  void ElementAdd(const char* a_pszName, const char* a_pszValue, bool a_bNoIndent);
  void ElementAddCdata(const char* a_pszName, const char* a_pszValue);
  void ElementAddAuto(const char* a_pszName, const char* a_pszValue);
  void RawAppend(const char* a_pszText);
  void Reset();
  bool ErrorGet(bool a_bClear);

  // The buffer to write into: the own one, or this thread's buffer of the
  // link name (looked up on every call, made when the thread has none).
  // Null, with the error flag set, when there is none.
  char* Buffer();

  // The builder's state.
  char* m_pBuffer = nullptr;     // the own buffer; null when linked
  std::int32_t m_lPosition = 0;  // bytes written; a NUL follows them
  // The header's fields; 0 while no task header is in the buffer.
  std::int32_t m_lBytesOffset = 0;
  std::int32_t m_lIdOffset = 0;
  std::int32_t m_lReplyOffset = 0;
  bool m_bFrameOpen = false;  // a task or document is not yet closed
  bool m_bBlockOpen = false;  // at least one block is open
  char m_szLinkName[OS_XMLTASK_LINKNAME_SIZE] = {};
  std::int32_t m_lCapacity = 0;
  std::int32_t m_lDepth = 0;  // open blocks
  bool m_bError = false;      // sticky: set by every refusal

 private:
  // A part of a line: text as it is, or CDATA content, whose every "]]>" is
  // split across two adjacent sections. Measured once, when the piece is
  // made: a text taken from this buffer (the message so far) loses its
  // terminator to the first byte written behind it.
  struct Piece {
    Piece(const char* a_sz, bool a_bCdata);
    const char* m_sz;
    std::size_t m_sizet;     // the text's length
    std::size_t m_sizetOut;  // its length in the buffer
    bool m_bCdata;
  };
  // Writes a_llTabs tabs and the pieces at the position, followed by a NUL,
  // when all of it fits below the capacity; otherwise writes nothing, logs
  // the overflow and sets the error flag. The buffer, or null when nothing
  // was written.
  char* Write(std::int64_t a_llTabs, std::initializer_list<Piece> a_pieces);
  // The 20-digit form of a_u64Value into a header field at a_lOffset.
  void FieldSet(std::int32_t a_lOffset, std::uint64_t a_u64Value);
};
