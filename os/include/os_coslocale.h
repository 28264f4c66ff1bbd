// Text conversion between UTF-8 (the library's own text) and UTF-16 (the
// system's). These free conversions need no language state, so they work
// before the text-conversion object exists.
//
// Destination sizes are in characters of the destination, terminator
// included. The destination is cleared first and the conversion gets room for
// size - 1 characters, terminator included: a text of at most size - 2
// characters fits, the last character of the destination always stays 0, and
// a text that does not fit fails. Each returns the characters written
// (terminator included) or 0 on failure, with an empty destination; failures
// are logged (class 64).
#pragma once

#include <cstddef>

// UTF-16 of a_iSrcLength units (-1: up to and with its terminator) to UTF-8.
int CopyUtf8FromUnicode(char* a_szDst, std::size_t a_sizetDst, const wchar_t* a_wszSrc, int a_iSrcLength);
// UTF-8 to UTF-16.
int CopyStringFromUtf8(wchar_t* a_wszDst, std::size_t a_sizetDst, const char* a_szSrc);
// 8-bit text unchanged (bounded copy): the same interface for callers that
// treat every text alike. Returns the copied length with its terminator.
int CopyStringFromString(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc);
