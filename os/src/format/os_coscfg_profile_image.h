// The line image of a profile: a section-and-key text file held as its lines,
// each ended by a zero byte, in file order; an empty line (a lone zero byte)
// is the end mark. Pure operations over the caller's buffer; the profile
// cache keeps one image per cached file.
//
// An image of capacity C lives in a buffer of C + 2 bytes
// (OsCfgProfileImageBufferSize). C is the most bytes a read gives to the
// image and the most bytes of lines with their terminators that a change may
// leave in it; the two bytes more hold the terminator of a last line that had
// no LF in a full read, and the end mark.
//
// Invariant of every image these functions make or change: no line is empty,
// the end mark lies at or below C + 1, and every byte after it is zero.
// Sections, keys and values are C strings; a value never holds CR or LF (the
// write-back would split or change its line). Names compare without case,
// by their ASCII letters.
#pragma once

#include <cstddef>

#include "os_sts.h"

// The capacity of the profile cache's images.
constexpr std::size_t OS_CFG_PROFILE_IMAGE_SIZE = 131072;

constexpr std::size_t OsCfgProfileImageBufferSize(std::size_t a_sizetCapacity) { return a_sizetCapacity + 2; }

// Makes the image from the bytes read: a UTF-8 byte-order mark at the start
// is skipped, CR and NUL bytes are dropped, an LF ends a line and an LF at
// the start of a line (an empty line) is dropped; the rest of the buffer is
// zero-filled. Bytes beyond a_sizetCapacity are not looked at. a_pcBytes
// may be the image buffer itself (the lines never outgrow the bytes) or a
// buffer apart from it; a_pcBytes may be null when a_sizetBytes is 0.
void OsCfgProfileImageMake(char* a_acImage, std::size_t a_sizetCapacity, const char* a_pcBytes,
                           std::size_t a_sizetBytes);

// The offset of the end mark: the bytes of all lines with their terminators.
std::size_t OsCfgProfileImageLength(const char* a_acImage);

// True when the image holds a header of the section: a line that is exactly
// '[', the name and ']'. Only the first header of a name ever counts.
bool OsCfgProfileImageHasSection(const char* a_acImage, const char* a_szSection);

// The value of the key in the section, pointing into the image (valid until
// the image changes), or null when the section or the key is missing. The
// first line of the section that begins with the key and '=' gives the value
// (the rest of the line, untrimmed); an empty key never matches. A key "@n"
// takes the n-th line after the header (from 0, up to the next header) when
// that line holds an '=', its value being everything after the first one.
const char* OsCfgProfileImageLookUp(const char* a_acImage, const char* a_szSection, const char* a_szKey);

// Sets or adds the key. A key line of the section keeps its spelling and
// gets the new value in place; a new key line goes directly after the
// section's last key line (a line with an '=' that does not begin with ';'),
// or after the header when it has none, and at the end of the image when the
// section is the last one; a new section is appended with its key line.
// 0, or 1 with the image unchanged when the change would leave more than
// a_sizetCapacity bytes of lines (a change that does not grow always fits).
// An empty key is not refused here: callers that refuse it check first.
EOSSTS OsCfgProfileImageSet(char* a_acImage, std::size_t a_sizetCapacity, const char* a_szSection, const char* a_szKey,
                            const char* a_szValue);

// Removes the section's first line of the key (the key and '='); true when a
// line was removed, false (the image unchanged) when the section or the key
// is missing or the key is empty.
bool OsCfgProfileImageDelete(char* a_acImage, const char* a_szSection, const char* a_szKey);

// The write-back's bytes, handed to the sink in order; the sink returns false
// to stop. Every line ends in CR LF. An empty line (CR LF) sets apart a
// header that follows another header, and a line that is not a key line
// after key lines, both counted since the last empty line so set.
// 0, or 1 when the sink stopped.
typedef bool (*OsCfgProfileImageSink)(void* a_pvContext, const char* a_pc, std::size_t a_sizet);
EOSSTS OsCfgProfileImageSerialise(const char* a_acImage, OsCfgProfileImageSink a_pfnSink, void* a_pvContext);

// The same bytes into a_pcText (a_sizetText bytes, no terminator added);
// *a_psizetLength (when not null) receives the length of the whole text.
// 0, or 2 when the text does not fit (the first a_sizetText bytes are
// written). A text is never longer than OsCfgProfileImageTextBound.
EOSSTS OsCfgProfileImageText(const char* a_acImage, char* a_pcText, std::size_t a_sizetText,
                             std::size_t* a_psizetLength);

// The most bytes the text of an image of a_sizetCapacity can take: an image
// holds at most (C + 1) / 2 lines (one byte and a terminator each), and each
// line grows by its CR and at most one empty line before it.
constexpr std::size_t OsCfgProfileImageTextBound(std::size_t a_sizetCapacity) {
  return a_sizetCapacity + 1 + (a_sizetCapacity + 1) / 2 * 3;
}
