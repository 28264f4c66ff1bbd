// Private helpers of the split and package code, shared by the format
// engine and the file module.
#pragma once

#include <cstdint>

#include "os_cosfile_package.h"
#include "os_cosmem.h"
#include "os_log.h"

// Keeps a failure's text as the thread's last package error.
void OsFilePackageNoteError(const char* a_szFormat, ...) OS_FORMAT_PRINTF(1, 2);

// A failure of a split or package step: logged at class 1 and kept for
// OsFilePackageLastError.
#define OS_PKG_FAIL(...)                 \
  do {                                   \
    OS_LOGE(__VA_ARGS__);                \
    OsFilePackageNoteError(__VA_ARGS__); \
  } while (0)

inline void OsPkgPut32(std::uint8_t* a_pu8, std::uint32_t a_u32) {
  for (int l_i = 0; l_i < 4; ++l_i) a_pu8[l_i] = static_cast<std::uint8_t>(a_u32 >> (8 * l_i));
}
inline void OsPkgPut64(std::uint8_t* a_pu8, std::uint64_t a_u64) {
  for (int l_i = 0; l_i < 8; ++l_i) a_pu8[l_i] = static_cast<std::uint8_t>(a_u64 >> (8 * l_i));
}
inline std::uint32_t OsPkgGet32(const std::uint8_t* a_pu8) {
  std::uint32_t l_u32 = 0;
  for (int l_i = 3; l_i >= 0; --l_i) l_u32 = (l_u32 << 8) | a_pu8[l_i];
  return l_u32;
}
inline std::uint64_t OsPkgGet64(const std::uint8_t* a_pu8) {
  std::uint64_t l_u64 = 0;
  for (int l_i = 7; l_i >= 0; --l_i) l_u64 = (l_u64 << 8) | a_pu8[l_i];
  return l_u64;
}

constexpr char OS_SPLIT_MAGIC[] = "QRXSPL01";
constexpr char OS_PACKAGE_MAGIC[] = "QRXPKG01";
constexpr std::uint32_t OS_PKG_MAGIC_SIZE = 8;

// A tracked buffer of one call, released on every way out; m_pu8 is null
// when it could not be had.
class COsPkgBuffer {
 public:
  explicit COsPkgBuffer(std::uint32_t a_u32Size)
      : m_pu8(static_cast<std::uint8_t*>(OS_MEM_ALLOC(a_u32Size, "package"))), m_u32Size(a_u32Size) {}
  ~COsPkgBuffer() {
    if (m_pu8 != nullptr) OS_MEM_FREE(m_pu8);
  }
  COsPkgBuffer(const COsPkgBuffer&) = delete;
  COsPkgBuffer& operator=(const COsPkgBuffer&) = delete;
  std::uint8_t* const m_pu8;
  const std::uint32_t m_u32Size;
};

// The buffers of one piece of a file of a_u64FileSize bytes with pieces of
// a_u32PieceSize: never more than a piece, with the slack behind it.
inline std::uint32_t OsSplitBufferSize(std::uint64_t a_u64FileSize, std::uint32_t a_u32PieceSize) {
  const std::uint64_t l_u64Piece = a_u64FileSize < a_u32PieceSize ? a_u64FileSize : a_u32PieceSize;
  return static_cast<std::uint32_t>(l_u64Piece + OS_SPLIT_SLACK);
}
